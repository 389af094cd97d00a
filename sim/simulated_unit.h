// A simulated CANopen node hosting several weighing units. Frames in, frames
// out, stepped by a time the caller passes in; for a given seed every run
// sends the same frames at the same times.
#pragma once

#include "frame_packet.h"
#include "sdo_segments.h"
#include "sim_options.h"
#include "sim_random.h"
#include "weighing_channel.h"

#include <chrono>
#include <cstdint>
#include <deque>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tervix::sim {

enum class NmtState : std::uint8_t { Stopped = 0x04, Operational = 0x05, PreOperational = 0x7F };

// A write refused in the present state (the other abort codes: status_texts.h).
constexpr std::uint32_t kAbortRefused = 0x08000022;

// A text the technician may write, kept for the run; longer ones are refused.
constexpr std::uint16_t kUserTextIndex = 0x2000;
constexpr std::size_t kMaxUserText = 1024;

class SimulatedUnit {
public:
    using Time = std::chrono::steady_clock::time_point;

    explicit SimulatedUnit(const SimOptions& options);

    // A frame seen on the bus. Answers become due answerDelay later.
    void Receive(const BusFrame& frame, Time now);
    // Lets time pass: samples, cyclic process data, heartbeat, delayed answers.
    void Step(Time now);
    // Frames that have become due, oldest first.
    std::vector<BusFrame> TakeFrames();

    NmtState State() const { return state_; }
    unsigned Node() const { return node_; }
    // The bit rate the node listens at; an adapter passes frames only when
    // the bus runs at this rate.
    unsigned BitrateKbit() const { return options_.bitrateKbit; }
    std::uint8_t DeviceStatus() const { return deviceStatus_; }
    const SimOptions& Options() const { return options_; }
    // The unit with this address, or nullptr when the node does not host it.
    WeighingChannel* Unit(unsigned address);
    // Frames lost on purpose so far (the drop share).
    std::uint64_t DroppedFrames() const { return dropped_; }

private:
    struct Pending {
        std::int64_t dueMs;
        BusFrame frame;
    };
    struct SdoResult {
        std::uint32_t abort = 0;
        std::uint32_t value = 0;
        std::uint8_t size = 4;
        bool segmented = false; // an upload whose value is the size of the segments to come
    };

    const WeighingChannel* FindUnit(unsigned address) const;
    // Index into the per-unit tables of a unit the node hosts.
    std::size_t UnitSlot(unsigned address) const;
    std::int64_t Millis(Time now);
    void Send(const BusFrame& frame);
    void Answer(const BusFrame& frame);
    void SendState(bool toggled);
    void Nmt(std::uint8_t command);
    void Reset(bool application);
    void Cyclic();
    void Sdo(const BusFrame& request);
    void SdoSegment(const BusFrame& request);
    std::optional<std::string_view> Text(std::uint16_t index) const;
    SdoResult Upload(std::uint16_t index, std::uint8_t sub) const;
    SdoResult WriteCheck(std::uint16_t index, std::uint8_t sub) const;
    SdoResult BeginDownload(std::uint16_t index, std::uint8_t sub, std::optional<std::uint32_t> size);
    SdoResult Download(std::uint16_t index, std::uint8_t sub, std::uint32_t value, unsigned bytes);
    SdoResult Refused(std::uint8_t why);
    void Rpdo(int n, const BusFrame& frame);
    void AnswerReply(const WeighingChannel& unit, const Reply& reply);
    BusFrame AbortFrame(std::uint16_t index, std::uint8_t sub, std::uint32_t code) const;

    SimOptions options_;
    unsigned node_;
    std::vector<WeighingChannel> units_;
    std::vector<std::uint8_t> counters1_;
    std::vector<std::uint8_t> counters2_;
    std::vector<std::uint32_t> gravity_;  // bits of a REAL32 per unit
    std::string userText_;
    SdoSegments segments_{kMaxUserText};
    SimRandom nodeRandom_;
    SimRandom dropRandom_;

    NmtState state_ = NmtState::PreOperational;
    bool toggle_ = false;
    std::uint8_t deviceStatus_ = status::kNotReady;
    std::uint16_t heartbeatMs_ = 0;
    std::int64_t nextHeartbeatMs_ = 0;

    std::optional<Time> origin_;
    std::int64_t nowMs_ = 0;
    std::int64_t nextSampleMs_ = WeighingChannel::kSampleMs;
    std::int64_t samples_ = 0;
    double temperature_ = 23.0;

    std::deque<Pending> delayed_;
    std::vector<BusFrame> ready_;
    std::uint64_t dropped_ = 0;
};

} // namespace tervix::sim
