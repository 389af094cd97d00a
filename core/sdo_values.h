// The values the SDO dialog reads and writes, by the object's EDS data type
// (the CiA 301 data type index): the bytes of a finished read as a person
// reads them, the value box's text as the bytes a write sends, what a typed
// number means and whether the object's EDS limits allow it before it is
// sent, and the line that tells how a transfer ended. CANopen numbers lie
// least significant byte first.
#pragma once

#include "frame_packet.h"
#include "sdo_client.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tervix {

constexpr std::uint8_t kDataTypeVisibleString = 0x09;

// The value box takes a VISIBLE_STRING as text, any other type as
// hexadecimal digits.
constexpr bool SdoTypedAsText(std::uint8_t dataType)
{
    return dataType == kDataTypeVisibleString;
}

// A read's bytes: integers (BOOLEAN, INTEGER8..64, UNSIGNED8..64) in decimal
// and in hexadecimal at the type's width, "-2 (0xFE)"; REAL32 and REAL64 as
// the shortest decimal that reads back the same; a VISIBLE_STRING in quotes,
// trailing NULs dropped, UTF-8 when it is, Windows-1252 otherwise, control
// bytes as \xNN. Anything else, and a number whose bytes are too few for its
// type or carry more than zeros beyond it, as hex bytes.
std::string SdoValueText(ByteView bytes, std::uint8_t dataType);

// What a write sends for the value box's text (UTF-8): a VISIBLE_STRING's
// bytes as typed; for any other type the hexadecimal number (ParseSdoValue)
// as four bytes. Nothing when the text does not read.
std::optional<std::vector<std::uint8_t>> SdoWriteBytes(std::string_view text, std::uint8_t dataType);

// What the dialog says under the value box while a number is typed.
struct SdoValueHint {
    std::string meaning; // "= 16"; empty for an empty box and for text
    std::string warning; // empty when there is nothing to warn of

    friend bool operator==(const SdoValueHint&, const SdoValueHint&) = default;
};

// The typed hexadecimal number as the object's type reads the bytes a write
// sends: signed integers with their sign, REAL32 as a number, other types
// unsigned. Warns when the text is no hexadecimal number, when the number is
// wider than the type, and when it lies outside the limits (the EDS
// LowLimit and HighLimit values as written, either may be empty; integers in
// decimal or after 0x, a hexadecimal limit of a signed type read at the
// type's width; REAL32 limits in decimal). A limit that does not read is
// not held to.
SdoValueHint SdoTypedValueHint(std::string_view text, std::uint8_t dataType, std::string_view lowLimit,
                               std::string_view highLimit);

// The dialog's line for a finished read or write (`read` false) of an
// object, e.g. READ(1008sub00)= "KRV weighing unit".
std::string SdoResultText(bool read, std::uint16_t index, std::uint8_t subIndex, std::uint8_t dataType,
                          const SdoResult& result);

} // namespace tervix
