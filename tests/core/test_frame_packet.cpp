#include "frame_packet.h"

#include <gtest/gtest.h>

#include <vector>

using namespace tervix;

namespace {

struct PacketCase {
    const char* name;
    BusFrame frame;
    std::vector<std::uint8_t> packet;  // worked out by hand from the layout
};

class Packets : public ::testing::TestWithParam<PacketCase> {};

TEST_P(Packets, EncodeAndDecodeAgree)
{
    const PacketCase& c = GetParam();
    EXPECT_EQ(EncodePacket(c.frame), c.packet);
    const auto back = DecodePacket(c.packet);
    ASSERT_TRUE(back);
    BusFrame expected = c.frame;
    expected.id &= 0x7FF;  // the packet carries 11 bits
    if (expected.remote)
        expected.data = {};  // and no data for a remote frame
    EXPECT_EQ(*back, expected);
}

BusFrame F(std::uint32_t id, bool ext, bool rtr, std::uint8_t len, std::array<std::uint8_t, 8> data = {})
{
    return BusFrame{id, ext, rtr, len, data};
}

INSTANTIATE_TEST_SUITE_P(
    Layout, Packets,
    ::testing::Values(
        PacketCase{"Nmt", F(0x000, false, false, 2, {1, 5}), {0x7E, 0x02, 0x00, 0x00, 0x01, 0x05}},
        PacketCase{"SdoRequest", F(0x605, false, false, 4, {0x40, 0x00, 0x10, 0x00}),
                   {0x7E, 0x04, 0xC0, 0xA0, 0x40, 0x00, 0x10, 0x00}},
        PacketCase{"HighestStandardId", F(0x7FF, false, false, 1, {9}), {0x7E, 0x01, 0xFF, 0xE0, 0x09}},
        PacketCase{"EmptyData", F(0x080, false, false, 0), {0x7E, 0x00, 0x10, 0x00}},
        PacketCase{"ExtendedKeepsLow11Bits", F(0x12345181, true, false, 1, {7}), {0x7E, 0x81, 0x30, 0x20, 0x07}},
        PacketCase{"RemoteCarriesLengthButNoData", F(0x181, false, true, 8, {1, 2, 3}), {0x7E, 0x48, 0x30, 0x20}},
        PacketCase{"ExtendedRemote", F(0x701, true, true, 0), {0x7E, 0xC0, 0xE0, 0x20}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(DecodePacket, TextAndCutHeadersAreNoFrames)
{
    const std::vector<std::uint8_t> text = {'O', 'K'};
    const std::vector<std::uint8_t> cut = {0x7E, 0x02, 0x00};
    EXPECT_FALSE(DecodePacket(text));
    EXPECT_FALSE(DecodePacket(cut));
}

TEST(DecodePacket, MissingDataBytesReadAsZero)
{
    const std::vector<std::uint8_t> shortPacket = {0x7E, 0x03, 0x30, 0x20, 0xAA};
    const auto f = DecodePacket(shortPacket);
    ASSERT_TRUE(f);
    EXPECT_EQ(f->length, 3);
    EXPECT_EQ(f->data[0], 0xAA);
    EXPECT_EQ(f->data[1], 0x00);
}

TEST(CobIdFrame, SpellsTheSameBytesAsCobIdBytes)
{
    for (unsigned node = 0; node < 128; ++node) {
        const auto b = CobIdBytes(0xC0, node);
        const FramePacket p = EncodePacket(CobIdFrame(0xC0, node, {}));
        EXPECT_EQ(p[2], b[0]) << node;
        EXPECT_EQ(p[3], b[1]) << node;
    }
}

} // namespace
