#include "frame_packet.h"

#include <bit>

namespace tervix {

std::array<std::uint8_t, 2> CobIdBytes(std::uint8_t prefix, unsigned node)
{
    const auto w = static_cast<std::uint16_t>(node * 32u);
    return {static_cast<std::uint8_t>((w >> 8) + prefix), static_cast<std::uint8_t>(w & 0xFF)};
}

unsigned PacketIdentifier(ByteView packet)
{
    if (packet.size() < kPacketHeaderSize)
        return 0;
    return (unsigned(packet[2]) << 3) | (unsigned(packet[3]) >> 5);
}

std::uint32_t DataU32(ByteView packet, std::size_t firstDataByte)
{
    std::uint32_t v = 0;
    for (std::size_t i = 0; i < 4; ++i)
        v |= std::uint32_t(DataByte(packet, firstDataByte + i)) << (8 * i);
    return v;
}

float DataFloat(ByteView packet, std::size_t firstDataByte)
{
    return std::bit_cast<float>(DataU32(packet, firstDataByte));
}

FramePacket MakePacket(unsigned identifier, std::span<const std::uint8_t> data)
{
    FramePacket p;
    p.reserve(kPacketHeaderSize + data.size());
    const unsigned v = (identifier & 0x7FF) << 5;
    p.push_back(kPacketMarker);
    p.push_back(static_cast<std::uint8_t>(data.size() & 0x0F));
    p.push_back(static_cast<std::uint8_t>(v >> 8));
    p.push_back(static_cast<std::uint8_t>(v & 0xFF));
    p.insert(p.end(), data.begin(), data.end());
    return p;
}

} // namespace tervix
