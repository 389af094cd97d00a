// The weighing unit's parameter objects: one object per group and unit
// (index high byte the group, low byte the unit address), each sub-index a
// signed 32-bit value with a range and an access right.
#pragma once

#include <cstdint>
#include <span>

namespace tervix::sim {

enum class Access : std::uint8_t { ReadWrite, ReadOnly, WriteOnly };

struct ParameterDef {
    std::int32_t defaultValue;
    std::int32_t min;
    std::int32_t max;
    Access access;
};

enum class Group : std::uint8_t { Standard, Filling, Trigger, MassFlow, CalMass, CalRaw, CalState };
constexpr int kGroupCount = 7;

struct GroupDef {
    Group group;
    std::uint8_t indexHigh;
    std::span<const ParameterDef> params; // sub-index 1 is params[0]
    // Device status a refused write leaves in object 0x1002.
    std::uint8_t badValueStatus;
};

// The group an index high byte names, or nullptr.
const GroupDef* GroupOfIndexHigh(std::uint8_t indexHigh);
const GroupDef& GroupDefOf(Group group);

// Sub-indices of the groups that the code refers to by name.
namespace standard {
constexpr std::uint8_t kCapacity = 1;
constexpr std::uint8_t kIntegerOutput = 2;
constexpr std::uint8_t kIntegerDecimals = 3;
constexpr std::uint8_t kSelectedValue = 4;
constexpr std::uint8_t kMotionBand = 5;
constexpr std::uint8_t kTareRange = 6;
constexpr std::uint8_t kZeroRange = 7;
constexpr std::uint8_t kFilter = 8;
constexpr std::uint8_t kTare = 9;
constexpr std::uint8_t kZeroOffset = 10;
constexpr std::uint8_t kGross = 11;
constexpr std::uint8_t kNet = 12;
constexpr std::uint8_t kSerialNumber = 13;
constexpr std::uint8_t kFirmware = 14;
constexpr std::uint8_t kCommand = 15;
constexpr std::uint8_t kStatusWord = 16;
} // namespace standard

namespace trigger {
constexpr std::uint8_t kMode1 = 1, kLevel1 = 2, kHysteresis1 = 3;
constexpr std::uint8_t kMode2 = 4, kLevel2 = 5, kHysteresis2 = 6;
constexpr std::uint8_t kSource = 7, kOutputs = 8;
} // namespace trigger

namespace filling {
constexpr std::uint8_t kTarget = 1, kCoarseRate = 2, kFineRate = 3, kCoarseCutoff = 4, kInFlight = 5;
constexpr std::uint8_t kTolerance = 6, kMaxTime = 7, kTareFirst = 8, kState = 9, kLastResult = 10;
constexpr std::uint8_t kFills = 11, kOutOfTolerance = 12;
} // namespace filling

namespace massflow {
constexpr std::uint8_t kWindow = 1, kTimeFactor = 2, kCutoff = 3, kReverse = 4, kFlow = 5, kTotal = 6;
} // namespace massflow

namespace calstate {
constexpr std::uint8_t kOpen = 1, kCaptured = 2, kGain = 3, kCount = 4;
} // namespace calstate

} // namespace tervix::sim
