// The weighing unit's status-code tables and the SDO abort texts.
#pragma once

#include "frame_packet.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace tervix {

// Standard abort codes that the unit answers with a text of their own.
constexpr std::uint32_t kAbortWriteOnly = 0x06010001;
constexpr std::uint32_t kAbortReadOnly = 0x06010002;
constexpr std::uint32_t kAbortNoObject = 0x06020000;
constexpr std::uint32_t kAbortNoSubIndex = 0x06090011;

// Device status codes (object 0x1002 answers); unknown codes give "** ?ERROR? **".
std::string_view SdoStatusText(std::uint8_t code);
// Error codes of a TPDO3 response (code 0xFF); unknown codes give "** ?ERROR? **".
std::string_view PdoStatusText(std::uint8_t code);
// The abort table's text, if the code has one.
std::optional<std::string_view> AbortText(std::uint32_t abortCode);

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
