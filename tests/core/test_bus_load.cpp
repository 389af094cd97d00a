#include "bus_load.h"

#include <gtest/gtest.h>

using namespace std::chrono_literals;
using namespace tervix;

namespace {

BusFrame Frame(std::uint8_t length, bool extended = false, bool remote = false)
{
    BusFrame f;
    f.id = extended ? 0x18FF0001 : 0x181;
    f.extended = extended;
    f.remote = remote;
    f.length = length;
    return f;
}

// Bits worked out field by field from the frame format, with one stuff bit
// per four bits after the first of SOF..CRC.
struct BitsCase {
    BusFrame frame;
    unsigned bits;
};

class FrameBits : public ::testing::TestWithParam<BitsCase> {};

TEST_P(FrameBits, OnTheWireWithWorstStuffing)
{
    EXPECT_EQ(FrameBitsOnWire(GetParam().frame), GetParam().bits);
}

INSTANTIATE_TEST_SUITE_P(Formats, FrameBits,
                         ::testing::Values(BitsCase{Frame(0), 47 + 8},           // 33 stuffable bits
                                           BitsCase{Frame(1), 55 + 10},          // 41
                                           BitsCase{Frame(8), 111 + 24},         // 97
                                           BitsCase{Frame(8, false, true), 55},  // remote: no data field
                                           BitsCase{Frame(0, true), 67 + 13},    // 53
                                           BitsCase{Frame(8, true), 131 + 29})); // 117

// Frames added at a steady pace, then figures read at a given time.
struct LoadCase {
    const char* name;
    std::vector<std::pair<BusFrame, int>> mix; // frame and how many in the second
    std::uint32_t bitsPerSecond;
    double percent;
};

class BusLoad : public ::testing::TestWithParam<LoadCase> {};

TEST_P(BusLoad, OfKnownMixes)
{
    const LoadCase& c = GetParam();
    BusStatistics stats;
    ManualClock clock;
    for (const auto& [frame, n] : c.mix)
        for (int i = 0; i < n; ++i) {
            stats.Add(frame, false, clock.Now());
            clock.Advance(100us);
        }
    EXPECT_NEAR(stats.LoadPercent(clock.Now(), c.bitsPerSecond), c.percent, 1e-9) << c.name;
}

INSTANTIATE_TEST_SUITE_P(
    Mixes, BusLoad,
    ::testing::Values(
        // 1000 * 135 = 135000 bits of 500000
        LoadCase{"standard 8 bytes", {{Frame(8), 1000}}, 500000, 27.0},
        // 100 * 135 + 100 * 80 = 21500 of 125000
        LoadCase{"standard and extended", {{Frame(8), 100}, {Frame(0, true), 100}}, 125000, 17.2},
        // 50 * 55 + 50 * 160 = 10750 of 1000000
        LoadCase{
            "remote and extended 8", {{Frame(3, false, true), 50}, {Frame(8, true), 50}}, 1000000, 1.075},
        LoadCase{"unknown rate", {{Frame(8), 10}}, 0, 0.0}),
    [](const auto& info) {
        std::string s = info.param.name;
        for (char& ch : s)
            if (ch == ' ')
                ch = '_';
        return s;
    });

TEST(BusStatistics, CountsEachDirectionOverTheLastSecond)
{
    ManualClock clock;
    BusStatistics stats;
    // 250 ms steps: 3 received and 1 sent per step.
    for (int step = 0; step < 8; ++step) {
        for (int i = 0; i < 3; ++i)
            stats.Add(Frame(8), false, clock.Now());
        stats.Add(Frame(2), true, clock.Now());
        clock.Advance(250ms);
    }
    // Now 2 s after the first step: the window (1.0 s, 2.0 s] holds the
    // steps at 1.25, 1.5 and 1.75 s; the one at exactly 1.0 s has left it.
    EXPECT_EQ(stats.Received(clock.Now()), 9u);
    EXPECT_EQ(stats.Sent(clock.Now()), 3u);
    EXPECT_EQ(stats.Bits(clock.Now()), 9u * 135 + 3u * (47 + 16 + 12));
    clock.Advance(500ms);
    EXPECT_EQ(stats.Received(clock.Now()), 3u);
    EXPECT_EQ(stats.Sent(clock.Now()), 1u);
    clock.Advance(1s);
    EXPECT_EQ(stats.Received(clock.Now()), 0u);
    EXPECT_EQ(stats.Bits(clock.Now()), 0u);
}

} // namespace
