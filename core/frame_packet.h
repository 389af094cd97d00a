// The byte string in which one CAN frame travels through the program, and the
// driver's message record.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace tervix {

constexpr std::uint8_t kPacketMarker = 0x7E;
constexpr std::uint8_t kFlagExtended = 0x80;
constexpr std::uint8_t kFlagRemote = 0x40;
constexpr std::size_t kPacketHeaderSize = 4;

// Marker, flags/length, identifier << 5 (big-endian), then the data bytes.
// Built for sending; counted, never terminated.
using FramePacket = std::vector<std::uint8_t>;
using ByteView = std::span<const std::uint8_t>;

// The PCAN-USB driver's message record: 16 bytes, two of padding at the end.
struct CanFrame {
    std::uint32_t id = 0;
    std::uint8_t msgType = 0;
    std::uint8_t len = 0;
    std::array<std::uint8_t, 8> data{};
    std::uint8_t pad[2] = {0, 0};
};
static_assert(sizeof(CanFrame) == 16, "CanFrame must match the driver's record");

// Identifier bytes of a packet: (node * 32) split into two bytes, the prefix
// (function code * 16) added to the first.
std::array<std::uint8_t, 2> CobIdBytes(std::uint8_t prefix, unsigned node);

// The 11-bit identifier carried in packet bytes 2 and 3 (0 for short input).
unsigned PacketIdentifier(ByteView packet);

// Data byte k (packet byte 4 + k), or 0 where the packet is shorter.
inline std::uint8_t DataByte(ByteView packet, std::size_t k)
{
    const std::size_t at = kPacketHeaderSize + k;
    return at < packet.size() ? packet[at] : 0;
}

// Multi-byte values inside the data, low byte first; missing bytes read as 0.
std::uint32_t DataU32(ByteView packet, std::size_t firstDataByte);
inline std::int32_t DataI32(ByteView packet, std::size_t firstDataByte)
{
    return static_cast<std::int32_t>(DataU32(packet, firstDataByte));
}
float DataFloat(ByteView packet, std::size_t firstDataByte);

// A packet for an outgoing standard frame.
FramePacket MakePacket(unsigned identifier, std::span<const std::uint8_t> data);

} // namespace tervix
