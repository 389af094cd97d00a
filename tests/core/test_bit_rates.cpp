#include "bit_rates.h"

#include <gtest/gtest.h>

#include <set>

namespace {

using namespace tervix;

TEST(BitRates, CodeOfIndexFallsBackToFiveHundredKbit)
{
    const std::uint16_t expected[] = {0x0014, 0x001C, 0x011C, 0x031C, 0x432F, 0x472F, 0x532F, 0x672F, 0x7F7F};
    for (int i = 0; i < 9; ++i) {
        EXPECT_EQ(BitRateCodeOfIndex(i), expected[i]) << i;
        EXPECT_EQ(BitRateIndexOfCode(expected[i]), i);
    }
    for (int i : {-1, 9, 1000})
        EXPECT_EQ(BitRateCodeOfIndex(i), 0x001C) << i;
    EXPECT_EQ(kBitRates[kDefaultBitRateIndex].text, "500Kbit");
    EXPECT_EQ(BitRateIndexOfCode(0x1234), -1);
}

TEST(BitRates, SearchCycleVisitsEveryRateOnceFromFastest)
{
    std::set<std::uint16_t> visited;
    std::uint16_t code = kSearchFirstBitRateCode;
    std::uint32_t lastRate = 2000000;
    for (int step = 0; step < 9; ++step) {
        EXPECT_TRUE(visited.insert(code).second);
        EXPECT_LT(BitsPerSecondOfCode(code), lastRate); // always slower
        lastRate = BitsPerSecondOfCode(code);
        code = NextSearchBitRateCode(code);
    }
    EXPECT_EQ(code, 0x0014); // after 5 kbit/s it starts again
    EXPECT_EQ(visited.size(), 9u);
}

TEST(BitRates, UnknownCodesRestartTheSearch)
{
    for (std::uint32_t code : {0u, 0x1234u, 0x0001001Cu, 0xFFFFFFFFu})
        EXPECT_EQ(NextSearchBitRateCode(code), 0x0014) << code;
    EXPECT_EQ(BitsPerSecondOfCode(0x1234), 0u);
    EXPECT_EQ(BitsPerSecondOfCode(0x031C), 125000u);
}

} // namespace
