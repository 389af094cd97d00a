#include "sdo_texts.h"

#include "hex_text.h"

namespace tervix {

namespace {

constexpr std::string_view kReserved = "reserved";
constexpr std::string_view kDataTypeKey = "DataType=";
constexpr std::string_view kObjectTypeKey = "ObjectType=";

// Hex digits only, at most eight of them significant.
std::optional<std::uint32_t> ParseHexDigits(std::string_view digits)
{
    if (digits.empty() || digits.find_first_not_of("0123456789ABCDEFabcdef") != std::string_view::npos)
        return std::nullopt;
    const std::size_t significant = digits.find_first_not_of('0');
    if (significant != std::string_view::npos && digits.size() - significant > 8)
        return std::nullopt;
    return HexValue(digits);
}

std::optional<std::uint32_t> ParseSignedDecimal(std::string_view text)
{
    bool negative = false;
    if (!text.empty() && (text.front() == '+' || text.front() == '-')) {
        negative = text.front() == '-';
        text.remove_prefix(1);
    }
    if (text.empty())
        return std::nullopt;
    // The magnitude may reach 2^31 for a negative number only.
    const std::uint64_t limit = negative ? 0x80000000u : 0x7FFFFFFFu;
    std::uint64_t value = 0;
    for (char c : text) {
        if (c < '0' || c > '9')
            return std::nullopt;
        value = value * 10 + static_cast<std::uint64_t>(c - '0');
        if (value > limit)
            return std::nullopt;
    }
    const auto magnitude = static_cast<std::uint32_t>(value);
    return negative ? 0u - magnitude : magnitude;
}

// Reads the number after `key` in `text`; on success stores its low byte.
// Returns what follows the key, or the whole text when the key is absent.
std::string_view ReadKey(std::string_view text, std::string_view key, std::uint8_t& field)
{
    const std::size_t at = text.find(key);
    if (at == std::string_view::npos)
        return text;
    const std::string_view rest = text.substr(at + key.size());
    if (const auto value = ParseKeyInteger(rest))
        field = static_cast<std::uint8_t>(*value);
    return rest;
}

} // namespace

std::string_view ObjectTypeName(std::uint8_t code)
{
    switch (code) {
    case 0: return "NULL";
    case 2: return "DOMAIN";
    case 5: return "DEFTYPE";
    case 6: return "DEFSTRUCT";
    case 7: return "VAR";
    case 8: return "ARRAY";
    case 9: return "RECORD";
    default: return kReserved;
    }
}

std::string_view DataTypeName(std::uint8_t code)
{
    switch (code) {
    case 0x01: return "BOOLEAN";
    case 0x02: return "INTEGER8";
    case 0x03: return "INTEGER16";
    case 0x04: return "INTEGER32";
    case 0x05: return "UNSIGNED8";
    case 0x06: return "UNSIGNED16";
    case 0x07: return "UNSIGNED32";
    case 0x08: return "REAL32";
    case 0x09: return "VISIBLE_STRING";
    case 0x0A: return "OCTET_STRING";
    case 0x0B: return "UNICODE_STRING";
    case 0x0C: return "TIME_OF_DAY";
    case 0x0D: return "TIME_DIFFERENCE";
    case 0x0F: return "DOMAIN";
    case 0x10: return "INTEGER24";
    case 0x11: return "REAL64";
    case 0x12: return "INTEGER40";
    case 0x13: return "INTEGER48";
    case 0x14: return "INTEGER56";
    case 0x15: return "INTEGER64";
    case 0x16: return "UNSIGNED24";
    case 0x18: return "UNSIGNED40";
    case 0x19: return "UNSIGNED48";
    case 0x1A: return "UNSIGNED56";
    case 0x1B: return "UNSIGNED64";
    case 0x20: return "PDO_COMMUNICATION_PARAMETER";
    case 0x21: return "PDO_MAPPING";
    case 0x22: return "SDO_PARAMETER";
    case 0x23: return "IDENTITY";
    default: return kReserved;
    }
}

std::array<std::uint8_t, 3> Multiplexer(std::uint16_t index, std::uint16_t subIndex)
{
    return {static_cast<std::uint8_t>(index), static_cast<std::uint8_t>(index >> 8),
            static_cast<std::uint8_t>(subIndex)};
}

std::optional<std::uint32_t> ParseKeyInteger(std::string_view text)
{
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t'))
        text.remove_prefix(1);
    for (std::string_view prefix : {"0x", "0X", "$", "x", "X"})
        if (text.starts_with(prefix))
            return ParseHexDigits(text.substr(prefix.size()));
    return ParseSignedDecimal(text);
}

std::string SdoCaption(const EDSNode& node)
{
    return "Service Data Object - " + node.Text();
}

SdoNodeView ShowNodeView(const EDSNode& node, std::uint8_t previousObjectType)
{
    SdoNodeView view;
    view.caption = SdoCaption(node);
    view.Index = node.Index();
    view.SubIndex = node.SubIndex();
    view.readWriteEnabled = SdoReadWriteEnabled(view.Index);
    view.ObjectType = previousObjectType;
    view.DataType = 0;
    view.memoLines.reserve(node.Lines.size());
    for (std::string_view line : node.Lines) {
        std::string& memo = view.memoLines.emplace_back(" ");
        memo.append(line);
        const std::string_view rest = ReadKey(line, kDataTypeKey, view.DataType);
        ReadKey(rest, kObjectTypeKey, view.ObjectType);
    }
    return view;
}

SdoAnswerView ShowAnswerView(ByteView message)
{
    constexpr std::size_t kSubIndexByte = 7;
    SdoAnswerView view;
    if (message.size() > kSubIndexByte && message[kSubIndexByte] == kSdoStructureSubIndex) {
        view.structure = true;
        // The index high byte first; the object code is the answer's most
        // significant byte, the data type the next one.
        std::string index;
        AppendHex2(index, message[6]);
        AppendHex2(index, message[5]);
        view.memoLines[0] = "OBJECT(" + index + ")=      ";
        view.memoLines[0].append(ObjectTypeName(DataByte(message, 7)));
        view.memoLines[1] = "DATATYPE(" + index + ")= ";
        view.memoLines[1].append(DataTypeName(DataByte(message, 6)));
        return view;
    }
    view.value.reserve(3 * message.size());
    for (std::size_t i = 1; i < message.size(); ++i) {
        view.value.push_back(' ');
        AppendHex2(view.value, message[i]);
    }
    return view;
}

} // namespace tervix
