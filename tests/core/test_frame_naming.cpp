#include "frame_naming.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace tervix;

namespace {

std::vector<std::uint8_t> Frame(unsigned id, std::vector<std::uint8_t> data, std::uint8_t flags = 0)
{
    std::vector<std::uint8_t> m = MakePacket(id, data);
    m[1] |= flags;
    return m;
}

struct NameCase {
    unsigned id;
    const char* name;
    int node;
};

class FunctionCodeNames : public ::testing::TestWithParam<NameCase> {};

TEST_P(FunctionCodeNames, LogLineCarriesNameNodeAndData)
{
    const NameCase& c = GetParam();
    const auto m = Frame(c.id, {0x01, 0xAB});
    char node[3];
    std::snprintf(node, sizeof node, "%02X", c.node);
    EXPECT_EQ(LogLine(m), std::string("SFF: ") + c.name + "addr=" + node + " Data= 01 AB ");
    const MessageInfo info = ClassifyMessage(m);
    EXPECT_EQ(info.functionCode, static_cast<int>(c.id >> 7));
    EXPECT_EQ(info.node, c.node);
    EXPECT_EQ(info.kind, info.functionCode);
}

INSTANTIATE_TEST_SUITE_P(
    AllCodes, FunctionCodeNames,
    ::testing::Values(NameCase{0x000, "NMT   ", 0}, NameCase{0x07F, "NMT   ", 0x7F},
                      NameCase{0x080, "SYNC  ", 0}, NameCase{0x081, "EMERGENCY ", 1},
                      NameCase{0x0FF, "EMERGENCY ", 0x7F}, NameCase{0x100, "TIME  ", 0},
                      NameCase{0x185, "TPDO1 ", 5}, NameCase{0x201, "RPDO1 ", 1},
                      NameCase{0x2A0, "TPDO2 ", 0x20}, NameCase{0x301, "RPDO2 ", 1},
                      NameCase{0x381, "TPDO3 ", 1}, NameCase{0x401, "RPDO3 ", 1},
                      NameCase{0x481, "TPDO4 ", 1}, NameCase{0x501, "RPDO4 ", 1},
                      NameCase{0x581, "TSDO  ", 1}, NameCase{0x601, "RSDO  ", 1},
                      NameCase{0x681, "?13?  ", 1}, NameCase{0x705, "NMT Handling ", 5},
                      NameCase{0x7FF, "?15?  ", 0x7F}));

TEST(LogLine, MatchesTheDocumentedExample)
{
    EXPECT_EQ(LogLine(Frame(0x705, {0x05})), "SFF: NMT Handling addr=05 Data= 05 ");
}

TEST(LogLine, FlagsPrefixTheName)
{
    EXPECT_EQ(LogLine(Frame(0x705, {}, kFlagRemote)), "SFF: RTR NMT Handling addr=05 Data= ");
    EXPECT_EQ(LogLine(Frame(0x181, {0x10}, kFlagExtended)), "EFF: TPDO1 addr=01 Data= 10 ");
    EXPECT_EQ(LogLine(Frame(0x080, {}, kFlagExtended | kFlagRemote)), "EFF: RTR SYNC  addr=00 Data= ");
    const MessageInfo info = ClassifyMessage(Frame(0x705, {}, kFlagRemote));
    EXPECT_TRUE(info.remote);
    EXPECT_FALSE(info.extended);
}

TEST(LogLine, ListsEveryByteAfterTheHeaderWhateverTheLengthNibble)
{
    std::vector<std::uint8_t> m = {0x7E, 0x01, 0xE0, 0xA0, 0x7F, 0x00, 0xFF};
    EXPECT_EQ(LogLine(m), "SFF: NMT Handling addr=05 Data= 7F 00 FF ");
}

TEST(LogLine, ShortFramesStillNameTheirHeader)
{
    EXPECT_EQ(LogLine(std::vector<std::uint8_t>{0x7E, 0x00}), "SFF: NMT   addr=00 Data= ");
    EXPECT_EQ(LogLine(std::vector<std::uint8_t>{0x7E, 0x00, 0xE0}), "SFF: NMT Handling addr=00 Data= ");
    EXPECT_EQ(LogLine(std::vector<std::uint8_t>{0x7E}), "");
}

TEST(AdapterText, KeepsPrintableBytesAndDropsControlBytes)
{
    const std::vector<std::uint8_t> ok = {'O', 'K', 0x0D};
    EXPECT_EQ(LogLine(ok), "OK");
    const std::vector<std::uint8_t> mixed = {0x01, 'C', 0x1F, 'A', ' ', 'N', 0x0A, 0x0D, 0xE9};
    EXPECT_EQ(LogLine(mixed), std::string("CA N\xE9"));
    EXPECT_FALSE(ClassifyMessage(ok).isFrame);
    EXPECT_EQ(ClassifyMessage(ok).kind, 0);
}

TEST(ObjectKey, IndexLowByteFirstThenSubIndex)
{
    const auto m = Frame(0x581, {0x43, 0x02, 0x10, 0x00, 1, 2, 3, 4});
    EXPECT_EQ(ObjectKey(m), kDeviceStatusKey);
    EXPECT_EQ(ObjectKey(Frame(0x581, {0x60, 0x05, 0x21, 0x03})), 0x21050003u);
    // Missing data bytes read as zero.
    EXPECT_EQ(ObjectKey(Frame(0x581, {0x60, 0x05})), 0x00050000u);
}

} // namespace
