// A unit's statistics against values worked out by hand.
#include "weight_stats.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

struct StatsCase {
    const char* name;
    std::vector<double> values;
    double mean, stddev, min, max;
};

class Stats : public ::testing::TestWithParam<StatsCase> {};

TEST_P(Stats, CountMeanSampleDeviationAndRange)
{
    const StatsCase& c = GetParam();
    tervix::WeightStats s;
    for (double v : c.values)
        s.Add(v);
    EXPECT_EQ(s.Count(), c.values.size());
    EXPECT_NEAR(s.Mean(), c.mean, 1e-9);
    EXPECT_NEAR(s.StandardDeviation(), c.stddev, 1e-6);
    EXPECT_EQ(s.Minimum(), c.min);
    EXPECT_EQ(s.Maximum(), c.max);
    EXPECT_EQ(s.PeakToPeak(), c.max - c.min);
}

INSTANTIATE_TEST_SUITE_P(
    ByHand, Stats,
    ::testing::Values(
        // Squares about the mean 5: 9+1+1+1+0+0+4+16 = 32; 32 / (8 - 1).
        StatsCase{"EightValues", {2, 4, 4, 4, 5, 5, 7, 9}, 5.0, 2.138089935, 2, 9},
        StatsCase{"OneValueHasNoSpread", {100.25}, 100.25, 0.0, 100.25, 100.25},
        // Large readings with small differences keep their spread: 36+9+9+36 = 90; 90 / 3.
        StatsCase{"LargeOffset", {1e9 + 4, 1e9 + 7, 1e9 + 13, 1e9 + 16}, 1e9 + 10, 5.477225575, 1e9 + 4, 1e9 + 16}),
    [](const auto& info) { return std::string(info.param.name); });

} // namespace
