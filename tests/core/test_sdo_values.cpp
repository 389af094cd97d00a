// The SDO dialog's values held to CiA 301 layouts written out by hand:
// numbers least significant byte first, REAL32/REAL64 as IEEE 754 bits. The
// written bytes, and what the window shows of a read, a write and an abort
// from the unit, are held to the simulated unit in tests/od.
#include "sdo_values.h"

#include "sdo_texts.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace tervix;
using Bytes = std::vector<std::uint8_t>;

namespace {

enum : std::uint8_t {
    kBoolean = 0x01,
    kInteger8 = 0x02,
    kInteger16 = 0x03,
    kInteger32 = 0x04,
    kUnsigned8 = 0x05,
    kUnsigned16 = 0x06,
    kUnsigned32 = 0x07,
    kReal32 = 0x08,
    kVisible = 0x09,
    kOctets = 0x0A,
    kDomain = 0x0F,
    kInteger24 = 0x10,
    kReal64 = 0x11,
    kInteger64 = 0x15,
    kUnsigned64 = 0x1B,
};

TEST(SdoValueText, ReadBytesByDataType)
{
    const struct {
        std::uint8_t type;
        Bytes bytes;
        const char* text;
    } cases[] = {
        {kBoolean, {0x01}, "1 (0x01)"},
        {kUnsigned8, {0x2A}, "42 (0x2A)"},
        {kInteger8, {0xFE}, "-2 (0xFE)"},
        {kInteger16, {0x18, 0xFC}, "-1000 (0xFC18)"},
        {kUnsigned16, {0xE8, 0x03, 0x00, 0x00}, "1000 (0x03E8)"}, // four bytes, no size given
        {kUnsigned16, {0xE8, 0x03, 0x01, 0x00}, "E8 03 01 00"},   // more than the type holds
        {kInteger24, {0x00, 0x00, 0x80}, "-8388608 (0x800000)"},
        {kInteger32, {0xF4, 0x01, 0x00, 0x00}, "500 (0x000001F4)"},
        {kInteger32, {0xF4, 0x01}, "F4 01"}, // too few
        {kUnsigned32, {0xFF, 0xFF, 0xFF, 0xFF}, "4294967295 (0xFFFFFFFF)"},
        {kInteger64, Bytes(8, 0xFF), "-1 (0xFFFFFFFFFFFFFFFF)"},
        {kUnsigned64, {0, 0, 0, 0, 0, 0, 0, 0x80}, "9223372036854775808 (0x8000000000000000)"},
        {kReal32, {0x00, 0x00, 0xC0, 0x3F}, "1.5"},
        {kReal32, {0xC3, 0xF5, 0x1C, 0x41}, "9.81"},
        {kReal64, {0, 0, 0, 0, 0, 0, 0xF8, 0xBF}, "-1.5"},
        {kVisible, {'K', 'R', 'V', ' ', '1', '.', '0', '2'}, "\"KRV 1.02\""},
        {kVisible, {'K', 0x00, 0x00}, "\"K\""},
        {kVisible, {'A', 0x0A, 'B'}, "\"A\\x0AB\""},
        {kVisible, {0xB5}, "\"\xC2\xB5\""}, // no UTF-8: Windows-1252
        {kVisible, {}, "\"\""},
        {kOctets, {0x01, 0xAB}, "01 AB"},
        {kDomain, {}, "no data"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(SdoValueText(c.bytes, c.type), c.text) << DataTypeName(c.type);
}

TEST(SdoTypedValueHint, MeaningAndWarnings)
{
    const struct {
        const char* text;
        std::uint8_t type;
        const char* low;
        const char* high;
        SdoValueHint hint;
    } cases[] = {
        {"FFFFFFFF", kInteger32, "", "", {"= -1", ""}},
        {"80", kInteger8, "", "", {"= -128", ""}},
        {"1FF", kUnsigned8, "", "", {"= 511", "wider than UNSIGNED8"}},
        {"3FC00000", kReal32, "", "", {"= 1.5", ""}},
        {"12G4", kUnsigned32, "", "", {"", "not a hexadecimal number"}},
        {"", kUnsigned32, "0", "1", {}},
        {"abc", kVisible, "", "", {}},
        {"0", kInteger32, "1", "1000000", {"= 0", "below LowLimit 1"}},
        {"F4240", kInteger32, "1", "1000000", {"= 1000000", ""}},
        {"FFFFFFFF", kInteger32, "-1", "+0x10", {"= -1", ""}}, // "+0x10" does not read
        {"81", kInteger8, "0x90", "", {"= -127", "below LowLimit 0x90"}},
        {"FFFFFFFF", kUnsigned32, "", "0xFFFFFFFE", {"= 4294967295", "above HighLimit 0xFFFFFFFE"}},
        {"40A00000", kReal32, "0.5", "4.5", {"= 5", "above HighLimit 4.5"}},
        {"5", kInteger32, "$NODEID+1", "x", {"= 5", ""}},
    };
    for (const auto& c : cases) {
        const SdoValueHint hint = SdoTypedValueHint(c.text, c.type, c.low, c.high);
        EXPECT_EQ(hint.meaning, c.hint.meaning) << c.text << " " << DataTypeName(c.type);
        EXPECT_EQ(hint.warning, c.hint.warning) << c.text << " " << DataTypeName(c.type);
    }
}

TEST(SdoResultText, HowATransferEnded)
{
    const SdoAbort timedOut{0x05040000, true, "SDO protocol timed out"};
    const struct {
        bool read;
        SdoResult result;
        const char* line;
    } cases[] = {
        {false,
         {1, SdoOutcome::Aborted, {}, SdoAbort{0x12345678, true, ""}, {}},
         "SET(1008sub00)= aborted here with 12345678"},
        {true, {1, SdoOutcome::TimedOut, {}, {}, {}}, "READ(1008sub00)= no answer in time"},
        {true,
         {1, SdoOutcome::TimedOut, {}, timedOut, {}},
         "READ(1008sub00)= no answer in time, aborted with 05040000: SDO protocol timed out"},
        {false, {1, SdoOutcome::SendFailed, {}, {}, "port closed"}, "SET(1008sub00)= not sent: port closed"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(SdoResultText(c.read, 0x1008, 0, kVisible, c.result), c.line);
}

} // namespace
