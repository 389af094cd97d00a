// The frames the tool puts on the bus, with the log line of each. The main
// window reads its boxes, calls these, sends and logs.
#pragma once

#include "frame_packet.h"

#include <cstdint>
#include <optional>
#include <string>

namespace tervix {

// Identifier prefixes (function code * 16) for CobIdBytes.
constexpr std::uint8_t kPrefixRpdo1 = 0x40;
constexpr std::uint8_t kPrefixRpdo2 = 0x60;
constexpr std::uint8_t kPrefixRpdo3 = 0x80;
constexpr std::uint8_t kPrefixRpdo4 = 0xA0;
constexpr std::uint8_t kPrefixSdoRequest = 0xC0;
constexpr std::uint8_t kPrefixNodeGuard = 0xE0;

constexpr std::uint8_t kNmtStart = 0x01;
constexpr std::uint8_t kNmtStop = 0x02;

struct Request {
    FramePacket packet;
    std::string logLine;
    std::string secondLine;  // empty unless the request logs two lines
};

// An object word: index in bits 31..16, sub-index in bits 7..0.
constexpr std::uint32_t ObjectWord(std::uint16_t index, std::uint8_t subIndex)
{
    return (std::uint32_t(index) << 16) | subIndex;
}
constexpr std::uint16_t ObjectIndex(std::uint32_t object)
{
    return static_cast<std::uint16_t>(object >> 16);
}
constexpr std::uint8_t ObjectSubIndex(std::uint32_t object)
{
    return static_cast<std::uint8_t>(object);
}

// Parses a box text as a decimal integer; nothing for anything else.
std::optional<long long> ParseDecimal(std::string_view text);

// Objects of the unit's own groups (index high byte 0x21 or more, but not
// 0x3F) carry the unit address in the index's low byte. Without a unit
// address the object is left unchanged.
std::uint32_t SubstituteUnit(std::uint32_t object, std::optional<long long> unitAddress);
bool CarriesUnit(std::uint32_t object);

// NMT start/stop for a node; without a node, the command alone on identifier 0.
Request NmtRequest(std::uint8_t command, std::optional<long long> node);

// RPDO n (1..4). RPDO1-3 carry the unit address and the command (bits 23..16
// of value); RPDO4 carries a fixed pattern chosen by the command.
Request RpdoRequest(int n, unsigned node, std::uint8_t unitAddress, std::uint32_t value);

// Expedited SDO download (command 0x22) of a signed 32-bit value.
Request SdoWriteRequest(unsigned node, std::uint32_t object, std::int32_t value);
// The same, logged with a second line listing the frame's bytes.
Request SdoWriteUnitAddressRequest(unsigned node, std::uint32_t object, std::int32_t unitAddress);
// SDO upload request (command 0x40).
Request SdoReadRequest(unsigned node, std::uint32_t object);

// A raw frame from its text without the marker: t[0] the length byte (set
// here), t[1..2] the identifier bytes, then data. The first data byte is the
// unit address; the length byte counts the data bytes actually sent. The log
// line lists the length, identifier and data bytes of the packet sent.
// The Tx line of a frame sent without a text of its own: "Tx: " and the
// name a received frame would have.
std::string SentFrameLine(const BusFrame& frame);

Request RawFrameRequest(ByteView text, std::uint8_t unitAddress);

// The text node guarding hands to RawFrameRequest: 0x08 and the identifier
// bytes of 0x700 + node.
FramePacket GuardFrameText(unsigned node);

// Object of read-all step `sub` on parameter page `page` (0..3).
std::uint32_t ReadAllObject(int page, std::uint8_t unitAddress, std::uint32_t sub);
// Page of an answer by its index high byte, or -1.
int PageOfIndexHigh(std::uint8_t indexHigh);

} // namespace tervix
