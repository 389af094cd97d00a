// One weighing unit of the simulated node: its load, tare, zero, calibration,
// filling and flow, its parameters, and the commands it takes. Time advances
// by sample periods and arrives with commands as milliseconds since the node
// started; nothing here reads a clock.
#pragma once

#include "parameter_groups.h"
#include "sim_random.h"

#include <array>
#include <cstdint>
#include <vector>

namespace tervix::sim {

// TPDO3 response codes.
constexpr std::uint8_t kReplyDone = 0xE5;
constexpr std::uint8_t kReplyRefused = 0xFF;
constexpr std::uint8_t kReplyFilling = 6;
constexpr std::uint8_t kReplyStandard = 18;
constexpr std::uint8_t kReplyTrigger = 38;
constexpr std::uint8_t kReplyMassFlow = 42;
constexpr std::uint8_t kReplyCalGain = 17;
constexpr std::uint8_t kReplyInteger = 3;

// Reasons for a refusal, as TPDO3 (1..12) and object 0x1002 name them.
namespace status {
constexpr std::uint8_t kNotImplemented = 1, kNotReady = 2, kBadComm = 3, kCalNotOpen = 4, kBadCalId = 5;
constexpr std::uint8_t kBadCalValue = 6, kTimeout = 7, kNotStable = 8, kBadFillId = 9, kBadFillValue = 10;
constexpr std::uint8_t kBadGenId = 11, kBadGenValue = 12;
} // namespace status

// What a command answers on TPDO3; which fields count depends on the code.
struct Reply {
    std::uint8_t code = kReplyDone;
    std::uint8_t command = 0; // echoed with a refusal
    std::uint8_t status = 0;  // reason of a refusal
    std::uint8_t sub = 0;     // parameter answers
    std::int32_t param = 0;
    float value = 0; // floating answers (10..15, 17)
};

enum class FillState : std::int32_t { Idle, Coarse, Fine, Done, TimedOut, Stopped };

class WeighingChannel {
public:
    static constexpr std::int64_t kSampleMs = 100;

    WeighingChannel(std::uint8_t address, std::uint64_t seed);

    std::uint8_t Address() const { return address_; }

    // One sample period has passed.
    void Sample();
    // Back to power-on process state; parameters written in this run stay.
    void ResetProcess();

    Reply Select(std::uint8_t command);                      // RPDO1
    Reply Command(std::uint8_t command, std::int64_t nowMs); // RPDO2
    Reply ReadByPdo(std::uint8_t command) const;             // RPDO3
    Reply Fill(bool start);                                  // RPDO4

    // Parameter access; the caller has checked that the sub-index exists.
    std::int32_t Read(Group group, std::uint8_t sub) const;
    // 0 when taken, otherwise the device status that explains the refusal.
    std::uint8_t Write(Group group, std::uint8_t sub, std::int32_t value, std::int64_t nowMs);

    double Gross() const { return gross_; }
    double Net() const { return gross_ - tare_; }
    double Flow() const { return flow_; }
    double Tare() const { return tare_; }
    double Maximum() const { return max_; }
    double Minimum() const { return min_; }
    bool InMotion() const;
    bool Integer() const { return Param(Group::Standard, standard::kIntegerOutput) != 0; }
    std::uint16_t StatusWord() const;
    // The value selected for TPDO1, as its four data bytes read low byte first.
    std::uint32_t Tpdo1Word() const;
    std::uint32_t Tpdo2Word() const;

private:
    std::int32_t Param(Group g, std::uint8_t sub) const { return values_[std::size_t(g)][sub - 1u]; }
    std::int32_t& Param(Group g, std::uint8_t sub) { return values_[std::size_t(g)][sub - 1u]; }
    std::uint32_t Word(double v) const;
    double Calibrated() const { return calOffset_ + double(raw_) * calGain_; }
    void UpdateGross();
    void UpdateLiveParameters();
    Reply Refuse(std::uint8_t command, std::uint8_t why) const;
    Reply CalibrationStep(std::uint8_t command, std::int64_t nowMs);
    std::uint8_t CloseCalibration();

    std::uint8_t address_;
    SimRandom random_;
    std::array<std::vector<std::int32_t>, kGroupCount> values_;

    double baseLoad_;
    double drift_ = 0;
    double fillMass_ = 0;
    std::int64_t raw_ = 0; // counts, 1000 per unit of load before calibration
    double calGain_ = 0.001;
    double calOffset_ = 0;
    double zero_ = 0;
    double tare_ = 0;
    double gross_ = 0;
    double flow_ = 0;
    double total_ = 0;
    double max_ = 0;
    double min_ = 0;
    bool extremesSet_ = false;
    // Gross values of the last second, newest last, for motion and flow.
    std::vector<double> history_;

    FillState fill_ = FillState::Idle;
    std::int64_t fillElapsedMs_ = 0;
    bool calOpen_ = false;
    std::int64_t calOpenedMs_ = 0;
};

} // namespace tervix::sim
