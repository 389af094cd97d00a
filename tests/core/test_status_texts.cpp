#include "frame_naming.h"
#include "status_texts.h"

#include <gtest/gtest.h>

#include <vector>

using namespace tervix;

namespace {

TEST(StatusTables, KnownAndUnknownCodes)
{
    EXPECT_EQ(SdoStatusText(1), "NOT IMPLEMENTED");
    EXPECT_EQ(SdoStatusText(13), "BAD Trig Param ID");
    EXPECT_EQ(SdoStatusText(21), "Value Not In Range");
    EXPECT_EQ(SdoStatusText(0xE0), "Duplicate");
    EXPECT_EQ(SdoStatusText(0xE1), "Wait");
    EXPECT_EQ(SdoStatusText(0xE2), "System Error");
    for (std::uint8_t unknown : {0, 22, 0xDF, 0xE3, 0xFF})
        EXPECT_EQ(SdoStatusText(unknown), "** ?ERROR? **") << int(unknown);

    EXPECT_EQ(PdoStatusText(3), "** ERR_BAUD **");
    EXPECT_EQ(PdoStatusText(12), "** BAD_GEN_PARAM_VALUE **");
    for (std::uint8_t unknown : {0, 13, 0xE5, 0xFF})
        EXPECT_EQ(PdoStatusText(unknown), "** ?ERROR? **") << int(unknown);
}

std::vector<std::uint8_t> Abort(std::uint8_t b4, std::uint8_t b5, std::uint8_t b6, std::uint8_t b7)
{
    return {0x7E, 0x08, 0xB0, 0x20, 0x80, 0x00, 0x20, 0x01, b4, b5, b6, b7};
}

struct AbortCase {
    std::vector<std::uint8_t> bytes;
    const char* text;
};

class AbortMessages : public ::testing::TestWithParam<AbortCase> {};

TEST_P(AbortMessages, UnitOrderFirstThenStandardOrderThenHexDump)
{
    EXPECT_EQ(AbortMessageText(SdoAbortMessage(GetParam().bytes)), GetParam().text);
}

INSTANTIATE_TEST_SUITE_P(
    Orders, AbortMessages,
    ::testing::Values(
        // The unit's own order: data byte 4 most significant.
        AbortCase{Abort(0x06, 0x02, 0x00, 0x00), "Object does not exist in the object dictionary\r06020000"},
        AbortCase{Abort(0x06, 0x01, 0x00, 0x01), "Attempt to read a write only object\r06010001"},
        // The standard CANopen order: data byte 4 least significant.
        AbortCase{Abort(0x00, 0x00, 0x02, 0x06), "Object does not exist in the object dictionary\r06020000"},
        AbortCase{Abort(0x11, 0x00, 0x09, 0x06), "Sub-index does not exist\r06090011"},
        AbortCase{Abort(0x02, 0x00, 0x01, 0x06), "Attempt to write a read only object\r06010002"},
        // Neither: the response bytes after the marker, with the unit's reading.
        AbortCase{Abort(0x05, 0x04, 0x00, 0x01),
                  " 08 B0 20 80 00 20 01 05 04 00 01\r05040001"}));

TEST(AbortMessage, ShortAbortReadsMissingBytesAsZero)
{
    const std::vector<std::uint8_t> m = {0x7E, 0x01, 0xB0, 0x20, 0x80};
    const AbortMessage a = SdoAbortMessage(m);
    EXPECT_EQ(a.code, 0u);
    EXPECT_EQ(a.text, " 01 B0 20 80");
}

} // namespace
