#include "sim_options.h"

#include <gtest/gtest.h>

using namespace tervix::sim;
using namespace std::chrono_literals;

namespace {

struct ValidCase {
    const char* text;
    SimOptions expected;
};

void PrintTo(const ValidCase& c, std::ostream* os)
{
    *os << '"' << c.text << '"';
}

SimOptions With(void (*change)(SimOptions&))
{
    SimOptions o;
    change(o);
    return o;
}

class ValidOptions : public ::testing::TestWithParam<ValidCase> {};

TEST_P(ValidOptions, ParseAndReadBack)
{
    std::string error;
    const auto o = ParseSimOptions(GetParam().text, &error);
    ASSERT_TRUE(o) << error;
    EXPECT_EQ(*o, GetParam().expected);
    // The printed form reads back as the same options.
    EXPECT_EQ(ParseSimOptions(FormatSimOptions(*o)), o) << FormatSimOptions(*o);
}

INSTANTIATE_TEST_SUITE_P(
    Texts, ValidOptions,
    ::testing::Values(ValidCase{"", SimOptions{}},
                      ValidCase{"node=3,rate=125,units=2",
                                With([](SimOptions& o) { o.node = 3, o.bitrateKbit = 125, o.units = 2; })},
                      ValidCase{"first=10,units=54,seed=99",
                                With([](SimOptions& o) { o.firstUnit = 10, o.units = 54, o.seed = 99; })},
                      ValidCase{"order=standard,drop=0.25,delay=40", With([](SimOptions& o) {
                                    o.abortOrderStandard = true, o.dropShare = 0.25, o.answerDelay = 40ms;
                                })},
                      ValidCase{"silent=2,abort=2101.03", With([](SimOptions& o) {
                                    o.silentUnit = 2;
                                    o.abortObject = ForcedAbort{0x2101, 0x03, 0x08000000};
                                })},
                      ValidCase{"abort=1008.0:06010001,rate=1000", With([](SimOptions& o) {
                                    o.abortObject = ForcedAbort{0x1008, 0, 0x06010001}, o.bitrateKbit = 1000;
                                })}));

class InvalidOptions : public ::testing::TestWithParam<const char*> {};

TEST_P(InvalidOptions, RefusedWithAReason)
{
    std::string error;
    EXPECT_FALSE(ParseSimOptions(GetParam(), &error));
    EXPECT_FALSE(error.empty());
}

INSTANTIATE_TEST_SUITE_P(Texts, InvalidOptions,
                         ::testing::Values("node=0", "node=128", "node=x", "rate=300", "units=0", "first=64",
                                           "first=60,units=5", "order=big", "drop=1.5", "drop=-0.1",
                                           "delay=-1", "abort=2101", "abort=2101.3:zz", "colour=red", "node",
                                           "node=3;rate=125"));

} // namespace
