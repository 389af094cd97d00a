#include "number_text.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <limits>

using namespace tervix;

namespace {

struct FixedCase {
    double value;
    int precision;
    int decimals;
    const char* text;
};

class FixedTexts : public ::testing::TestWithParam<FixedCase> {};

TEST_P(FixedTexts, RoundsOnceAtTheTighterLimit)
{
    const FixedCase& c = GetParam();
    EXPECT_EQ(FixedText(c.value, c.precision, c.decimals).value_or("<none>"), c.text);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, FixedTexts,
    ::testing::Values(FixedCase{0.0, 6, 3, "0.000"}, FixedCase{1.5, 6, 3, "1.500"},
                      FixedCase{-2.25, 6, 3, "-2.250"}, FixedCase{1234.5678, 6, 3, "1234.570"},
                      FixedCase{123456.7, 6, 3, "123457.000"}, FixedCase{999999.6, 6, 3, "1.00000E+06"},
                      FixedCase{1234567.0, 6, 3, "1.23457E+06"}, FixedCase{-1234567.0, 6, 0, "-1.23457E+06"},
                      FixedCase{0.00012, 6, 3, "0.000"}, FixedCase{-0.0001, 6, 3, "0.000"},
                      FixedCase{0.1235, 6, 3, "0.123"}, FixedCase{12.34549, 6, 3, "12.345"}, FixedCase{42.0, 6, 0, "42"},
                      FixedCase{-7.0, 8, 0, "-7"}, FixedCase{12.345, 8, 2, "12.35"}, FixedCase{12.3449, 8, 2, "12.34"},
                      FixedCase{3.0e20, 6, 3, "3.00000E+20"}, FixedCase{123456.0, 6, 0, "123456"}));

// Weights as the data page shows them (6 digits, 3 decimals), on both sides
// of every rounding edge, held to the C library's own correctly rounded
// conversion at the tighter of the two limits.
TEST(FixedText, AgreesWithPrintfOnBothSidesOfRoundingEdges)
{
    int mismatches = 0;
    for (int k = 100000; k < 1000000; k += 7) {
        for (double nudge : {-1e-9, 0.0, 1e-9}) {
            const double v = k / 10000.0 + 0.00005 + nudge;  // 10.00005 .. 100.00005
            char ref[64];
            std::snprintf(ref, sizeof ref, "%.3f", v);
            if (FixedText(v, 6, 3).value_or("") != ref)
                ++mismatches;
            const double big = v * 100.0;  // 1000..10000: only two decimals are significant
            std::snprintf(ref, sizeof ref, "%.2f0", big);
            if (FixedText(big, 6, 3).value_or("") != ref)
                ++mismatches;
        }
    }
    EXPECT_EQ(mismatches, 0);
}

TEST(FixedText, NanAndInfinitiesHaveNoText)
{
    EXPECT_FALSE(FixedText(std::numeric_limits<double>::quiet_NaN(), 6, 3));
    EXPECT_FALSE(FixedText(std::numeric_limits<double>::infinity(), 6, 3));
    EXPECT_FALSE(FixedText(-std::numeric_limits<double>::infinity(), 6, 3));
}

TEST(FixedText, UsesTheGivenDecimalSeparator)
{
    EXPECT_EQ(FixedText(1.5, 6, 3, ','), "1,500");
    EXPECT_EQ(FixedText(1234567.0, 6, 3, ','), "1,23457E+06");
}

TEST(DecimalText, FullInt32Range)
{
    EXPECT_EQ(DecimalText(0), "0");
    EXPECT_EQ(DecimalText(-2147483648LL), "-2147483648");
    EXPECT_EQ(DecimalText(4294967295LL), "4294967295");
}

} // namespace
