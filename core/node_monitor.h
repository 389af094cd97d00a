// Which CANopen nodes are on the bus and how they are: NMT state from boot-up,
// heartbeat, guard replies and NMT commands seen on the bus, the measured
// heartbeat period, silence, and the emergencies each node sent. Fed every
// received frame with its time and ticked with the time; it has no clock of
// its own and sends nothing.
#pragma once

#include "clock.h"
#include "frame_packet.h"

#include <array>
#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace tervix {

using Duration = std::chrono::steady_clock::duration;

enum class NmtState : std::uint8_t {
    Unknown,        // seen, but no boot-up, heartbeat or command told its state
    PreOperational, // boot-up, heartbeat 7F, NMT 80
    Operational,    // heartbeat 05, NMT 01
    Stopped,        // heartbeat 04, NMT 02
    Resetting,      // NMT 81/82 seen, no boot-up since
};

std::string_view NmtStateText(NmtState state);

// The state a heartbeat or guard reply names (bits 0..6; bit 7 is the guard
// toggle); Unknown for a value CiA 301 does not define. 0 is the boot-up.
NmtState HeartbeatState(std::uint8_t stateByte);

// The node (1..127) a frame comes from: EMCY 0x080+n, TPDO1..4, SDO answers
// 0x580+n and NMT error control 0x700+n (one data byte). 0 for frames sent to
// a node (NMT, SYNC, RPDOs, SDO requests, guard requests), extended and remote
// frames, and anything else.
int SendingNode(const BusFrame& frame);

// One emergency message (CiA 301: error code, error register, five
// manufacturer-specific bytes).
struct Emergency {
    TimePoint at{};
    std::uint16_t code = 0;
    std::uint8_t errorRegister = 0;
    std::array<std::uint8_t, 5> manufacturer{};
};

// The emergency in a frame on 0x081..0x0FF with data; missing bytes read as 0.
std::optional<Emergency> DecodeEmergency(const BusFrame& frame, TimePoint at);

// The CiA 301 text of an emergency error code; a code the table lacks takes
// the text of its class (xx00, then x000). Nothing for a code of no class.
std::optional<std::string_view> EmergencyCodeText(std::uint16_t code);
// The set bits of an error register (object 0x1001) by name, lowest first,
// comma separated: "generic, communication"; "none" for 0.
std::string ErrorRegisterText(std::uint8_t errorRegister);
// The manufacturer bytes as "01 02 03 04 05".
std::string ManufacturerBytesText(const Emergency& e);
// One line: "8130 Life guard error or heartbeat error; register 11 (generic,
// communication); manufacturer 00 00 00 00 00".
std::string EmergencyText(const Emergency& e);

// A period or age: "100 ms" below ten seconds, "12.3 s" from there; "-" for none.
std::string DurationText(std::optional<Duration> d);

// Newest emergencies kept per node.
constexpr std::size_t kEmergencyHistory = 100;
// Heartbeat intervals the period is measured over (their median).
constexpr std::size_t kPeriodSamples = 8;

// What a table row of one node needs.
struct NodeRecord {
    int node = 0;
    NmtState state = NmtState::Unknown;
    // Median of the last intervals between heartbeats (or guard replies);
    // none until two came in a row without a boot-up or silence between.
    std::optional<Duration> heartbeatPeriod;
    TimePoint firstSeen{};
    TimePoint lastSeen{};
    std::optional<TimePoint> lastHeartbeat; // heartbeat or guard reply
    bool silent = false;
    std::uint64_t frames = 0;
    std::uint64_t emergencyCount = 0;  // all, also those the history dropped
    std::deque<Emergency> emergencies; // newest last, at most kEmergencyHistory

    const Emergency* LastEmergency() const { return emergencies.empty() ? nullptr : &emergencies.back(); }
    Duration SinceSeen(TimePoint now) const { return now - lastSeen; }
};

enum class NodeEventKind : std::uint8_t { BootUp, StateChanged, Emergency, Silent, Back };

struct NodeEvent {
    NodeEventKind kind = NodeEventKind::StateChanged;
    int node = 0;
    TimePoint at{};
    NmtState from = NmtState::Unknown; // BootUp, StateChanged
    NmtState to = NmtState::Unknown;
    Emergency emergency{};          // Emergency
    std::optional<Duration> period; // Silent: the period it was held to
};

// The log line of an event, e.g. "node 5: went silent (heartbeat 100 ms)".
std::string NodeEventText(const NodeEvent& event);

class NodeMonitor {
public:
    using EventHandler = std::function<void(const NodeEvent&)>;

    // Called once for each event as it happens, from Receive and Tick.
    void SetEventHandler(EventHandler handler) { handler_ = std::move(handler); }

    // Every received frame, with its receive time.
    void Receive(const BusFrame& frame, TimePoint at);
    // Marks nodes silent whose heartbeat is overdue by half a period.
    void Tick(TimePoint now);

    // The nodes seen, by node number. A node heard for the first time moves
    // the records: references and Find's pointer hold until the next Receive.
    const std::vector<NodeRecord>& Nodes() const { return nodes_; }
    const NodeRecord* Find(int node) const;
    // Goes up with every change to any record: a view need not look again
    // while it stays the same.
    std::uint64_t Changes() const { return changes_; }

    void Clear();

private:
    struct Timing {
        std::array<Duration, kPeriodSamples> intervals{};
        std::size_t count = 0; // intervals stored, at most kPeriodSamples
        std::size_t next = 0;
        bool watching = false; // a heartbeat came since the last boot-up, reset or silence
    };

    NodeRecord& Record(int node, TimePoint at);
    void ErrorControl(NodeRecord& r, std::uint8_t stateByte, TimePoint at);
    void NmtCommand(const BusFrame& frame, TimePoint at);
    void SetState(NodeRecord& r, NmtState to, TimePoint at);
    void Emit(const NodeEvent& e);

    std::vector<NodeRecord> nodes_;
    std::array<int, 128> index_{}; // node -> position in nodes_ + 1; 0: not seen
    std::array<Timing, 128> timing_{};
    std::uint64_t changes_ = 0;
    EventHandler handler_;
};

} // namespace tervix
