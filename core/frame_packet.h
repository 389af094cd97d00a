// The byte string in which one CAN frame travels through the program, and the
// frame value every adapter speaks.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
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

// One CAN frame as the bus carries it, whatever adapter brought it.
struct BusFrame {
    std::uint32_t id = 0;  // 11 bits, or 29 when extended
    bool extended = false;
    bool remote = false;
    std::uint8_t length = 0;  // 0..8
    std::array<std::uint8_t, 8> data{};

    std::span<const std::uint8_t> bytes() const { return {data.data(), length}; }
    friend bool operator==(const BusFrame&, const BusFrame&) = default;
};

// A standard data frame (data beyond eight bytes is dropped).
BusFrame MakeFrame(std::uint32_t id, std::span<const std::uint8_t> data);
// The standard frame on the identifier that CobIdBytes(prefix, node) spells.
BusFrame CobIdFrame(std::uint8_t prefix, unsigned node, std::span<const std::uint8_t> data);

constexpr std::size_t kMaxPacketSize = kPacketHeaderSize + 8;

// The packet of a frame: marker, flags/length, identifier << 5, data (none
// for a remote frame, whose length only asks for data). Writes at most
// kMaxPacketSize bytes to `out` and returns how many.
std::size_t EncodePacket(const BusFrame& frame, std::uint8_t* out);
void EncodePacket(const BusFrame& frame, FramePacket& out);
FramePacket EncodePacket(const BusFrame& frame);
// The frame a packet carries; nothing for adapter text or a cut header.
// Data bytes the packet lacks read as 0; the length is the header's (at most 8).
std::optional<BusFrame> DecodePacket(ByteView packet);

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
