// The weighing unit's status-code tables and the SDO abort texts.
#pragma once

#include "frame_packet.h"

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace tervix {

// Standard abort codes that the unit answers with a text of their own.
constexpr std::uint32_t kAbortWriteOnly = 0x06010001;
constexpr std::uint32_t kAbortReadOnly = 0x06010002;
constexpr std::uint32_t kAbortNoObject = 0x06020000;
constexpr std::uint32_t kAbortNoSubIndex = 0x06090011;

// Abort codes of segmented transfers, as both ends of one send them.
constexpr std::uint32_t kAbortToggle = 0x05030000;
constexpr std::uint32_t kAbortTimedOut = 0x05040000;
constexpr std::uint32_t kAbortUnknownCommand = 0x05040001;
constexpr std::uint32_t kAbortOutOfMemory = 0x05040005;
constexpr std::uint32_t kAbortLengthMismatch = 0x06070010;
constexpr std::uint32_t kAbortLengthTooHigh = 0x06070012;

// How an abort code lies in data bytes 4..7: the unit's order puts the most
// significant byte first, CiA 301's (Standard) the least significant.
enum class AbortOrder : std::uint8_t { Unit, Standard };

std::uint32_t ReadAbortCode(std::span<const std::uint8_t, 4> bytes, AbortOrder order);
std::array<std::uint8_t, 4> AbortCodeBytes(std::uint32_t code, AbortOrder order);

// Device status codes (object 0x1002 answers); unknown codes give "** ?ERROR? **".
std::string_view SdoStatusText(std::uint8_t code);
// Error codes of a TPDO3 response (code 0xFF); unknown codes give "** ?ERROR? **".
std::string_view PdoStatusText(std::uint8_t code);
// The abort table's text, if the code has one.
std::optional<std::string_view> AbortText(std::uint32_t abortCode);
// The text of any CiA 301 abort code: the unit's own where it has one, the
// standard's otherwise; nothing for a code neither names.
std::optional<std::string_view> CanopenAbortText(std::uint32_t abortCode);

struct AbortMessage {
    std::string text;    // table text, or the hex dump of the response
    std::uint32_t code;  // the reading of data bytes 4..7 shown with it
};

// The message shown for an SDO abort. The unit's own reading (data byte 4 most
// significant) wins; the standard CANopen order (data byte 4 least significant)
// is tried next; a code that matches neither shows the response's hex dump
// (message bytes 1 to the end) with the unit's reading of the code.
AbortMessage SdoAbortMessage(ByteView message);

// The text of an abort message box: text, carriage return, 8 hex digits.
std::string AbortMessageText(const AbortMessage& m);

} // namespace tervix
