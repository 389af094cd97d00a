#include "requests.h"

#include <gtest/gtest.h>

#include <ostream>

#include <vector>

using namespace tervix;

namespace {

using Bytes = std::vector<std::uint8_t>;

struct FrameCase {
    const char* name;
    Request request;
    Bytes bytes;
    const char* log;
};

// Test names and failure messages show the case name, not its bytes.
void PrintTo(const FrameCase& c, std::ostream* os)
{
    *os << c.name;
}


class RequestFrames : public ::testing::TestWithParam<FrameCase> {};

TEST_P(RequestFrames, ExactBytesAndLogLine)
{
    EXPECT_EQ(GetParam().request.packet, GetParam().bytes);
    EXPECT_EQ(GetParam().request.logLine, GetParam().log);
}

INSTANTIATE_TEST_SUITE_P(
    All, RequestFrames,
    ::testing::Values(
        FrameCase{"NmtStart", NmtRequest(kNmtStart, 5), {0x7E, 0x02, 0x00, 0x00, 0x01, 0x05}, "NMT Start"},
        FrameCase{"NmtStopNoNode", NmtRequest(kNmtStop, std::nullopt), {0x7E, 0x01, 0x00, 0x00, 0x02}, "NMT Stop"},
        FrameCase{"NmtStartNoNode", NmtRequest(kNmtStart, std::nullopt), {0x7E, 0x01, 0x00, 0x00, 0x01},
                  "NMT Start"},
        FrameCase{"Rpdo1", RpdoRequest(1, 1, 5, 0x120000), {0x7E, 0x04, 0x40, 0x20, 0x05, 0x12, 0x00, 0x00},
                  "Tx: RPDO1( 05 12 00 00 )"},
        FrameCase{"Rpdo2", RpdoRequest(2, 127, 31, 0xFFAB1234),
                  {0x7E, 0x04, 0x6F, 0xE0, 0x1F, 0xAB, 0x00, 0x00}, "Tx: RPDO2( 1F AB 00 00 )"},
        FrameCase{"Rpdo3", RpdoRequest(3, 0, 0, 0x070000), {0x7E, 0x04, 0x80, 0x00, 0x00, 0x07, 0x00, 0x00},
                  "Tx: RPDO3( 00 07 00 00 )"},
        FrameCase{"Rpdo4One", RpdoRequest(4, 1, 9, 0x010000), {0x7E, 0x04, 0xA0, 0x20, 0x80, 0x00, 0x00, 0x00},
                  "Tx: RPDO4( 80 00 00 00 )"},
        FrameCase{"Rpdo4Two", RpdoRequest(4, 1, 9, 0x020000), {0x7E, 0x04, 0xA0, 0x20, 0x81, 0x33, 0x01, 0x30},
                  "Tx: RPDO4( 81 33 01 30 )"},
        FrameCase{"Rpdo4Other", RpdoRequest(4, 1, 9, 0x030000),
                  {0x7E, 0x04, 0xA0, 0x20, 0x00, 0x00, 0x00, 0x00}, "Tx: RPDO4( 00 00 00 00 )"},
        FrameCase{"SdoReadStatus", SdoReadRequest(1, ObjectWord(0x1002, 0)),
                  {0x7E, 0x08, 0xC0, 0x20, 0x40, 0x02, 0x10, 0x00, 0x00, 0x00, 0x00, 0x00}, "Tx: SDO(1002sub00)"},
        FrameCase{"SdoWrite", SdoWriteRequest(1, ObjectWord(0x2107, 3), 1000),
                  {0x7E, 0x08, 0xC0, 0x20, 0x22, 0x07, 0x21, 0x03, 0xE8, 0x03, 0x00, 0x00},
                  "Tx: SDO(2107sub03,1000)"},
        FrameCase{"SdoWriteNegative", SdoWriteRequest(2, ObjectWord(0x2B01, 0x1A), -2),
                  {0x7E, 0x08, 0xC0, 0x40, 0x22, 0x01, 0x2B, 0x1A, 0xFE, 0xFF, 0xFF, 0xFF},
                  "Tx: SDO(2B01sub1A,-2)"},
        FrameCase{"GuardFrame", RawFrameRequest(GuardFrameText(1), 7), {0x7E, 0x01, 0xE0, 0x20, 0x07},
                  "Tx:( 01 E0 20 07 )"},
        FrameCase{"RawFrameWithData", RawFrameRequest(Bytes{0x08, 0xE0, 0x40, 0xAA, 0xBB, 0xCC}, 3),
                  {0x7E, 0x03, 0xE0, 0x40, 0x03, 0xBB, 0xCC}, "Tx:( 03 E0 40 03 BB CC )"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(SdoWriteUnitAddress, SecondLineListsTheFrame)
{
    const Request r = SdoWriteUnitAddressRequest(1, ObjectWord(0x2005, 1), 12);
    EXPECT_EQ(r.logLine, "Tx: SDO(2005sub01,12)");
    EXPECT_EQ(r.secondLine, " 7E 08 C0 20 22 05 20 01 0C 00 00 00");
}

TEST(CobIdBytes, IdentifierShiftedLeftByFive)
{
    EXPECT_EQ(CobIdBytes(kPrefixSdoRequest, 5), (std::array<std::uint8_t, 2>{0xC0, 0xA0}));
    EXPECT_EQ(CobIdBytes(kPrefixNodeGuard, 127), (std::array<std::uint8_t, 2>{0xEF, 0xE0}));
    EXPECT_EQ(CobIdBytes(kPrefixRpdo1, 0), (std::array<std::uint8_t, 2>{0x40, 0x00}));
}

struct SubstitutionCase {
    std::uint32_t object;
    std::optional<long long> unit;
    std::uint32_t expected;
};

class UnitSubstitution : public ::testing::TestWithParam<SubstitutionCase> {};

TEST_P(UnitSubstitution, OnlyTheUnitsOwnGroupsCarryTheAddress)
{
    EXPECT_EQ(SubstituteUnit(GetParam().object, GetParam().unit), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, UnitSubstitution,
    ::testing::Values(SubstitutionCase{0x21000003, 7, 0x21070003}, SubstitutionCase{0xFF120001, 3, 0xFF030001},
                      SubstitutionCase{0x3F000001, 7, 0x3F000001}, SubstitutionCase{0x20FF0001, 7, 0x20FF0001},
                      SubstitutionCase{0x10020000, 7, 0x10020000},
                      SubstitutionCase{0x21000003, std::nullopt, 0x21000003},
                      SubstitutionCase{0x25000001, 300, 0x252C0001}));

TEST(ParseDecimal, NumbersOnly)
{
    EXPECT_EQ(ParseDecimal("7"), 7);
    EXPECT_EQ(ParseDecimal(" 12 "), 12);
    EXPECT_EQ(ParseDecimal("-3"), -3);
    EXPECT_EQ(ParseDecimal(""), std::nullopt);
    EXPECT_EQ(ParseDecimal("abc"), std::nullopt);
    EXPECT_EQ(ParseDecimal("7x"), std::nullopt);
    EXPECT_EQ(ParseDecimal("99999999999999999999999"), std::nullopt);
}

TEST(ReadAll, ObjectsAndPages)
{
    EXPECT_EQ(ReadAllObject(0, 5, 1), 0x21050001u);
    EXPECT_EQ(ReadAllObject(1, 5, 2), 0x25050002u);
    EXPECT_EQ(ReadAllObject(2, 0, 12), 0x2200000Cu);
    EXPECT_EQ(ReadAllObject(3, 31, 3), 0x2B1F0003u);
    EXPECT_EQ(PageOfIndexHigh(0x21), 0);
    EXPECT_EQ(PageOfIndexHigh(0x25), 1);
    EXPECT_EQ(PageOfIndexHigh(0x22), 2);
    EXPECT_EQ(PageOfIndexHigh(0x2B), 3);
    EXPECT_EQ(PageOfIndexHigh(0x20), -1);
}

} // namespace
