#include "parameter_groups.h"

#include <array>

namespace tervix::sim {

namespace {

constexpr std::int32_t kBig = 1'000'000'000;
constexpr Access RW = Access::ReadWrite;
constexpr Access RO = Access::ReadOnly;
constexpr Access WO = Access::WriteOnly;

// Masses and levels are in thousandths of the display unit.
constexpr std::array<ParameterDef, 16> kStandard{{
    {3000, 1, 1'000'000, RW}, // capacity
    {0, 0, 1, RW},            // 1: TPDO values as integers
    {3, 0, 4, RW},            // decimals of the integer form
    {0, 0, 2, RW},            // TPDO1 value: 0 gross, 1 net, 2 flow
    {100, 0, kBig, RW},       // motion band
    {100, 0, 100, RW},        // tare range, % of capacity
    {20, 0, 100, RW},         // zero range, % of capacity
    {3, 0, 9, RW},            // filter
    {0, 0, kBig, RW},         // tare
    {0, -kBig, kBig, RO},     // zero offset
    {0, -kBig, kBig, RO},     // gross
    {0, -kBig, kBig, RO},     // net
    {0, 0, kBig, RO},         // serial number
    {0x0102, 0, kBig, RO},    // firmware version, as 2900 sub 8
    {0, 1, 4, WO},            // command: 1 tare, 2 zero, 3 clear tare, 4 clear max/min
    {0, 0, 0xFFFF, RO},       // status word
}};

constexpr std::array<ParameterDef, 8> kTrigger{{
    {1, 0, 2, RW},              // output 1: 0 off, 1 above level, 2 below level
    {200'000, -kBig, kBig, RW}, // output 1 level
    {1000, 0, kBig, RW},        // output 1 hysteresis
    {0, 0, 2, RW},              // output 2 mode
    {0, -kBig, kBig, RW},       // output 2 level
    {1000, 0, kBig, RW},        // output 2 hysteresis
    {0, 0, 1, RW},              // compare 0 gross, 1 net
    {0, 0, 3, RO},              // outputs, bit 0 and bit 1
}};

constexpr std::array<ParameterDef, 12> kFilling{{
    {50'000, 1, kBig, RW},       // target (net)
    {10'000, 1, 10'000'000, RW}, // coarse rate per second
    {1000, 1, 10'000'000, RW},   // fine rate per second
    {5000, 0, kBig, RW},         // coarse cutoff before the target
    {200, 0, 1'000'000, RW},     // in flight after the cut
    {500, 0, 1'000'000, RW},     // tolerance
    {60, 1, 3600, RW},           // longest fill, seconds
    {1, 0, 1, RW},               // tare before filling
    {0, 0, 5, RO},               // state
    {0, -kBig, kBig, RO},        // last result
    {0, 0, kBig, RO},            // fills
    {0, 0, kBig, RO},            // fills out of tolerance
}};

constexpr std::array<ParameterDef, 6> kMassFlow{{
    {1000, 100, 1000, RW}, // window, ms
    {1, 1, 3600, RW},      // per second (1), minute (60), hour (3600)
    {0, 0, kBig, RW},      // low-flow cutoff
    {0, 0, 1, RW},         // 1: discharge counts positive
    {0, -kBig, kBig, RO},  // flow
    {0, -kBig, kBig, RO},  // total
}};

constexpr std::array<ParameterDef, 4> kCalMass{{
    {0, 0, kBig, RW},
    {1'000'000, 0, kBig, RW},
    {2'000'000, 0, kBig, RW},
    {3'000'000, 0, kBig, RW},
}};

constexpr std::array<ParameterDef, 4> kCalRaw{{
    {0, -kBig, kBig, RO},
    {0, -kBig, kBig, RO},
    {0, -kBig, kBig, RO},
    {0, -kBig, kBig, RO},
}};

constexpr std::array<ParameterDef, 4> kCalState{{
    {0, 0, 1, RO},           // calibration open
    {0, 0, 15, RO},          // points captured, bit n-1 for point n
    {1000, -kBig, kBig, RO}, // gain, millionths of a unit per count
    {0, 0, kBig, RO},        // calibrations closed
}};

// Status codes as object 0x1002 names them.
constexpr std::array<GroupDef, kGroupCount> kGroups{{
    {Group::Standard, 0x21, kStandard, 12}, // BAD GEN PARAM VALUE
    {Group::Filling, 0x22, kFilling, 10},   // BAD FILL PARAM VALUE
    {Group::Trigger, 0x25, kTrigger, 14},   // BAD Trig Param Value
    {Group::MassFlow, 0x2B, kMassFlow, 18}, // BAD Mass Param Value
    {Group::CalMass, 0x26, kCalMass, 6},    // BAD CAL VALUE
    {Group::CalRaw, 0x27, kCalRaw, 6},
    {Group::CalState, 0x28, kCalState, 6},
}};

} // namespace

const GroupDef* GroupOfIndexHigh(std::uint8_t indexHigh)
{
    for (const GroupDef& g : kGroups)
        if (g.indexHigh == indexHigh)
            return &g;
    return nullptr;
}

const GroupDef& GroupDefOf(Group group)
{
    return kGroups[static_cast<std::size_t>(group)];
}

} // namespace tervix::sim
