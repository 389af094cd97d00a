// The weight trend's logic: a TPDO1 read as the value box reads it, the
// kept hour, the per-column envelope, the stability judgement, and the test
// sheet with its CSV.
#include "test_sheet.h"
#include "trend.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

using namespace tervix;
using namespace std::chrono_literals;

namespace {

TimePoint At(std::chrono::milliseconds ms)
{
    return TimePoint(ms);
}

// Welford's running sums against a two-pass computation in long double, on
// readings where the textbook sum of squares loses every digit.
TEST(TrendStatistics, AgreeWithTwoPassWhereCancellationBites)
{
    std::vector<double> values;
    for (int i = 0; i < 10000; ++i)
        values.push_back(100000.0 + 0.001 * ((i * 7919) % 13 - 6) / 6.0);
    WeightStats running;
    for (const double v : values)
        running.Add(v);
    long double sum = 0;
    for (const double v : values)
        sum += v;
    const long double mean = sum / values.size();
    long double squares = 0;
    for (const double v : values)
        squares += (v - mean) * (v - mean);
    const double reference = double(std::sqrt(squares / (values.size() - 1)));
    EXPECT_NEAR(running.Mean(), double(mean), 1e-6 * 1e-3);
    EXPECT_NEAR(running.StandardDeviation() / reference, 1.0, 1e-6);
}

struct Tpdo1Case {
    const char* name;
    BusFrame frame;
    std::optional<Tpdo1Sample> expected;
};

BusFrame Frame(std::uint32_t id, std::vector<std::uint8_t> data, bool extended = false)
{
    BusFrame f = MakeFrame(id, data);
    f.extended = extended;
    return f;
}

class Tpdo1Samples : public ::testing::TestWithParam<Tpdo1Case> {};

TEST_P(Tpdo1Samples, ReadAsTheValueBoxReadsThem)
{
    const auto got = ReadTpdo1(GetParam().frame, 1);
    ASSERT_EQ(got.has_value(), GetParam().expected.has_value());
    if (got) {
        EXPECT_EQ(got->unit, GetParam().expected->unit);
        EXPECT_EQ(got->value, GetParam().expected->value);
        EXPECT_EQ(got->status, GetParam().expected->status);
    }
}

// 120.5f is 0x42F10000, least significant byte first.
INSTANTIATE_TEST_SUITE_P(
    Frames, Tpdo1Samples,
    ::testing::Values(
        Tpdo1Case{"Unit2", Frame(0x181, {0x00, 0x00, 0xF1, 0x42, 0x01, 0x80, 0x02, 0x00}), Tpdo1Sample{2, 120.5f, 0x8001}},
        Tpdo1Case{"SevenBytes", Frame(0x181, {0x00, 0x00, 0xF1, 0x42, 0x00, 0x00, 0x3F}), Tpdo1Sample{63, 120.5f, 0}},
        Tpdo1Case{"OtherNode", Frame(0x182, {0x00, 0x00, 0xF1, 0x42, 0x00, 0x00, 0x02, 0x00}), std::nullopt},
        Tpdo1Case{"Extended", Frame(0x181, {0x00, 0x00, 0xF1, 0x42, 0x00, 0x00, 0x02, 0x00}, true), std::nullopt},
        Tpdo1Case{"NoUnitByte", Frame(0x181, {0x00, 0x00, 0xF1, 0x42, 0x00, 0x00}), std::nullopt},
        Tpdo1Case{"UnitBeyondTheBoxes", Frame(0x181, {0x00, 0x00, 0xF1, 0x42, 0x00, 0x00, 0x40, 0x00}), std::nullopt},
        Tpdo1Case{"NotANumber", Frame(0x181, {0x00, 0x00, 0xC0, 0x7F, 0x00, 0x00, 0x02, 0x00}), std::nullopt}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(TrendStore, KeepsAnHourOfTheChosenUnits)
{
    TrendStore store;
    store.Choose(1, true);
    store.Add({0, 5.0f, 0}, At(0ms)); // unit 0 is not chosen
    for (int s = 0; s <= 4000; ++s)
        store.Add({1, float(s), 0}, At(std::chrono::seconds(s)));
    EXPECT_TRUE(store.Series(0).Empty());
    // Trimmed every 256 points: nothing older than an hour and 256 points.
    EXPECT_GE(store.Oldest(), At(std::chrono::seconds(4000 - 3600 - 256)));
    EXPECT_LE(store.Oldest(), At(std::chrono::seconds(4000 - 3600)));
    EXPECT_EQ(store.Newest(), At(std::chrono::seconds(4000)));
    // A point from before the newest (a clock step) keeps the order.
    store.Add({1, 1.0f, 0}, At(std::chrono::seconds(10)));
    const TrendSeries& s = store.Series(1);
    EXPECT_EQ(s[s.Size() - 1].At(), At(std::chrono::seconds(4000)));
}

TEST(TrendEnvelope, ExtremesPerColumnOfTheSpanOnly)
{
    TrendSeries s;
    const std::vector<std::pair<int, float>> points = {{0, 9}, {100, 1}, {150, 4}, {199, 3}, {250, 7}, {400, 8}};
    for (const auto& [ms, v] : points)
        s.Add(At(std::chrono::milliseconds(ms)), v, 0);
    std::vector<EnvelopeColumn> columns(3);
    // [100, 400) in columns of 100 ms: {1, 4, 3}, {7}, nothing; 0 and 400 lie outside.
    Envelope(s, At(100ms), At(400ms), columns);
    EXPECT_TRUE(columns[0].any);
    EXPECT_EQ(columns[0].min, 1.0f);
    EXPECT_EQ(columns[0].max, 4.0f);
    EXPECT_TRUE(columns[1].any);
    EXPECT_EQ(columns[1].min, 7.0f);
    EXPECT_EQ(columns[1].max, 7.0f);
    EXPECT_FALSE(columns[2].any);
}

TEST(TrendCsv, OneRowPerPointWithDotDecimals)
{
    TrendStore store;
    store.Choose(2, true);
    store.Add({2, 120.5f, 0x8001}, At(1500ms));
    store.Add({2, -0.25f, 0}, At(2000ms));
    EXPECT_EQ(TrendCsv(store, {2}, At(1000ms)), "time_s,unit,value,status\r\n"
                                                "0.5,2,120.5,8001\r\n"
                                                "1,2,-0.25,0000\r\n");
}

struct JudgeCase {
    const char* name;
    std::vector<std::tuple<int, float, std::uint16_t>> points; // ms, value, status
    bool full, inMotion, stable;
};

class Judgements : public ::testing::TestWithParam<JudgeCase> {};

TEST_P(Judgements, StableOnlyWhenTheWholeWindowIsQuiet)
{
    TrendSeries s;
    for (const auto& [ms, v, status] : GetParam().points)
        s.Add(At(std::chrono::milliseconds(ms)), v, status);
    StabilitySettings settings; // 2 s, 0.001 division, bit 0, 0.5 division
    const Stability j = Judge(s, settings);
    EXPECT_EQ(j.full, GetParam().full);
    EXPECT_EQ(j.inMotion, GetParam().inMotion);
    EXPECT_EQ(j.stable, GetParam().stable);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, Judgements,
    ::testing::Values(
        // Deviation 0.0002 (0.2 division) over 2 s and more.
        JudgeCase{"Quiet", {{0, 10.0f, 0}, {1000, 10.0002f, 0}, {2000, 10.0f, 0}, {3000, 10.0002f, 0}}, true, false, true},
        JudgeCase{"NotYetTwoSeconds", {{0, 10.0f, 0}, {1000, 10.0f, 0}, {1500, 10.0f, 0}}, false, false, false},
        // The window [1000, 3000] holds a motion bit, the newest point does not.
        JudgeCase{"MotionInTheWindow", {{0, 10.0f, 0}, {1500, 10.0f, 1}, {2000, 10.0f, 0}, {3000, 10.0f, 0}}, true, false,
                  false},
        JudgeCase{"InMotionNow", {{0, 10.0f, 0}, {2000, 10.0f, 0}, {3000, 10.0f, 1}}, true, true, false},
        // A point before the window does not count: deviation 0.005 inside it.
        JudgeCase{"TooMuchSpread", {{0, 50.0f, 0}, {1000, 10.0f, 0}, {2000, 10.01f, 0}, {3000, 10.0f, 0}}, true, false,
                  false}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(TestSheet, RepeatabilityAndErrorPerUnitAndReference)
{
    TestSheet sheet;
    sheet.Add({"10:00:00", 1, 20, 999.0, 0.0004, 1000.0, "first load", true});
    sheet.Add({"10:00:30", 2, 20, 4.0, 0.0, std::nullopt, "", true});
    sheet.Add({"10:01:00", 1, 20, 1002.0, 0.0003, 1000.0, "second, \"again\"", false});
    sheet.Add({"10:01:30", 1, 20, 1001.0, 0.0003, 1000.0, "", true});
    const auto s = sheet.Summaries();
    ASSERT_EQ(s.size(), 2u);
    EXPECT_EQ(s[0].unit, 1u);
    EXPECT_EQ(s[0].count, 3u);
    EXPECT_DOUBLE_EQ(s[0].spread, 3.0);
    EXPECT_DOUBLE_EQ(s[0].mean, 1000.6666666666666);
    // Squares about the mean: 2.778 + 1.778 + 0.111 = 4.667; / 2 = 2.333.
    EXPECT_NEAR(s[0].standardDeviation, std::sqrt(7.0 / 3.0), 1e-12);
    EXPECT_NEAR(*s[0].error, 0.6666666666666, 1e-9);
    EXPECT_EQ(s[1].count, 1u);
    EXPECT_FALSE(s[1].error);
    EXPECT_EQ(sheet.Csv(), "time,unit,frames,mean,standard_deviation,reference,note,stable\r\n"
                           "10:00:00,1,20,999,0.0004,1000,first load,yes\r\n"
                           "10:00:30,2,20,4,0,,,yes\r\n"
                           "10:01:00,1,20,1002,0.0003,1000,\"second, \"\"again\"\"\",no\r\n"
                           "10:01:30,1,20,1001,0.0003,1000,,yes\r\n");
}

TEST(TestSheet, CaptureWaitsForStabilityOrItsTimeOut)
{
    const CaptureWait wait(3, At(0ms));
    TrendSeries s;
    s.Add(At(0ms), 20.0f, 0);
    s.Add(At(1000ms), 20.5f, 0);
    EXPECT_FALSE(wait.Poll(At(1000ms), Judge(s, {})));
    s.Add(At(2000ms), 20.0f, 0);
    s.Add(At(3000ms), 20.0f, 0);
    s.Add(At(4000ms), 20.0f, 0);
    const auto stable = wait.Poll(At(4000ms), Judge(s, {}));
    ASSERT_TRUE(stable);
    EXPECT_TRUE(stable->stable);
    EXPECT_EQ(stable->unit, 3u);
    EXPECT_EQ(stable->frames, 3u);
    EXPECT_EQ(stable->mean, 20.0);

    s.Add(At(5000ms), 21.0f, 0);
    const auto late = wait.Poll(At(10000ms), Judge(s, {}));
    ASSERT_TRUE(late);
    EXPECT_FALSE(late->stable);
    EXPECT_NEAR(late->mean, 61.0 / 3, 1e-9);
}

} // namespace
