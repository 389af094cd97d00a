// What the SDO dialog shows and decides, without the dialog: the names of
// object and data type codes, the keys it reads from a node's EDS lines, the
// caption and memo of a shown node, and the texts of the answers it shows.
#pragma once

#include "eds_reader.h"
#include "frame_packet.h"

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tervix {

// Reading and writing need a real object: indices below this are data type
// definitions or the file's non-object sections.
constexpr std::uint16_t kSdoFirstObjectIndex = 0x1000;
// The sub-index at which the unit answers with an object's structure.
constexpr std::uint8_t kSdoStructureSubIndex = 0xFF;

// The CANopen object code's name; "reserved" for codes without one.
std::string_view ObjectTypeName(std::uint8_t code);
// The CANopen data type index's name; "reserved" for codes without one.
std::string_view DataTypeName(std::uint8_t code);

// The three address bytes of an SDO request: index low, index high, sub-index.
std::array<std::uint8_t, 3> Multiplexer(std::uint16_t index, std::uint16_t subIndex);

// A key's value as the dialog reads it: blanks first, then a decimal number
// with an optional sign (32-bit signed range) or hexadecimal digits after
// "$", "x", "X", "0x" or "0X" (at most 32 bits); nothing may follow.
std::optional<std::uint32_t> ParseKeyInteger(std::string_view text);

// Whether the Read and Set buttons are enabled for an object index.
constexpr bool SdoReadWriteEnabled(std::uint16_t index)
{
    return index >= kSdoFirstObjectIndex;
}

// "Service Data Object - " + the node's text.
std::string SdoCaption(const EDSNode& node);

// The dialog's state after showing a node, and what it displays.
struct SdoNodeView {
    std::string caption;
    std::uint16_t Index = 0;
    std::uint16_t SubIndex = 0;
    bool readWriteEnabled = false;
    std::uint8_t ObjectType = 0;
    std::uint8_t DataType = 0;
    std::vector<std::string> memoLines; // each key line after one blank
};

// The dialog showing a node. DataType starts at 0 for every node; ObjectType
// keeps previousObjectType unless a line of this node sets it. Per line,
// "DataType=" (case-sensitive, anywhere) is read first; "ObjectType=" is then
// looked for in what follows it, or in the whole line if it was absent. A
// value that does not read as a number leaves the field as it was.
SdoNodeView ShowNodeView(const EDSNode& node, std::uint8_t previousObjectType);

// A received SDO frame as the dialog shows it. `message` is the packet as
// received, marker first; packet byte 7 (data byte 3, the sub-index) set to
// 0xFF makes a structure answer.
struct SdoAnswerView {
    bool structure = false;
    // Structure answer: the two memo lines to add.
    std::array<std::string, 2> memoLines;
    // Other frames: the new text of the value box.
    std::string value;
};

// A frame too short to hold a sub-index byte is shown as a value; bytes that
// a short structure answer lacks count as 0.
SdoAnswerView ShowAnswerView(ByteView message);

} // namespace tervix
