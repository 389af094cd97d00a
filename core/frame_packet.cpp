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

BusFrame MakeFrame(std::uint32_t id, std::span<const std::uint8_t> data)
{
    BusFrame f;
    f.id = id;
    f.length = static_cast<std::uint8_t>(data.size() < 8 ? data.size() : 8);
    for (std::size_t i = 0; i < f.length; ++i)
        f.data[i] = data[i];
    return f;
}

std::size_t EncodePacket(const BusFrame& frame, std::uint8_t* out)
{
    const unsigned length = frame.length <= 8 ? frame.length : 8;
    const unsigned n = frame.remote ? 0 : length;
    const unsigned v = (frame.id & 0x7FF) << 5;
    out[0] = kPacketMarker;
    out[1] = static_cast<std::uint8_t>(length | (frame.extended ? kFlagExtended : 0) |
                                       (frame.remote ? kFlagRemote : 0));
    out[2] = static_cast<std::uint8_t>(v >> 8);
    out[3] = static_cast<std::uint8_t>(v & 0xFF);
    for (unsigned i = 0; i < n; ++i)
        out[kPacketHeaderSize + i] = frame.data[i];
    return kPacketHeaderSize + n;
}

void EncodePacket(const BusFrame& frame, FramePacket& out)
{
    out.resize(kMaxPacketSize);
    out.resize(EncodePacket(frame, out.data()));
}

BusFrame CobIdFrame(std::uint8_t prefix, unsigned node, std::span<const std::uint8_t> data)
{
    const auto b = CobIdBytes(prefix, node);
    return MakeFrame((unsigned(b[0]) << 3) | (unsigned(b[1]) >> 5), data);
}

FramePacket EncodePacket(const BusFrame& frame)
{
    FramePacket p;
    EncodePacket(frame, p);
    return p;
}

std::optional<BusFrame> DecodePacket(ByteView packet)
{
    if (packet.size() < kPacketHeaderSize || packet[0] != kPacketMarker)
        return std::nullopt;
    BusFrame f;
    f.id = PacketIdentifier(packet);
    f.extended = (packet[1] & kFlagExtended) != 0;
    f.remote = (packet[1] & kFlagRemote) != 0;
    const unsigned n = packet[1] & 0x0F;
    f.length = static_cast<std::uint8_t>(n <= 8 ? n : 8);
    for (unsigned i = 0; i < f.length; ++i)
        f.data[i] = DataByte(packet, i);
    return f;
}

FramePacket MakePacket(unsigned identifier, std::span<const std::uint8_t> data)
{
    return EncodePacket(MakeFrame(identifier, data));
}

} // namespace tervix
