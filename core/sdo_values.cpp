#include "sdo_values.h"

#include "hex_text.h"
#include "sdo_request.h"
#include "sdo_texts.h"
#include "text_encoding.h"

#include <algorithm>
#include <bit>
#include <charconv>
#include <limits>

namespace tervix {

namespace {

constexpr std::uint8_t kReal32 = 0x08, kReal64 = 0x11;

struct IntegerType {
    std::size_t size;
    bool isSigned;
};

std::optional<IntegerType> IntegerTypeOf(std::uint8_t dataType)
{
    switch (dataType) {
    case 0x01: // BOOLEAN
    case 0x05: return IntegerType{1, false};
    case 0x06: return IntegerType{2, false};
    case 0x16: return IntegerType{3, false};
    case 0x07: return IntegerType{4, false};
    case 0x18: return IntegerType{5, false};
    case 0x19: return IntegerType{6, false};
    case 0x1A: return IntegerType{7, false};
    case 0x1B: return IntegerType{8, false};
    case 0x02: return IntegerType{1, true};
    case 0x03: return IntegerType{2, true};
    case 0x10: return IntegerType{3, true};
    case 0x04: return IntegerType{4, true};
    case 0x12: return IntegerType{5, true};
    case 0x13: return IntegerType{6, true};
    case 0x14: return IntegerType{7, true};
    case 0x15: return IntegerType{8, true};
    default: return std::nullopt;
    }
}

std::uint64_t LittleEndian(ByteView bytes)
{
    std::uint64_t v = 0;
    for (std::size_t i = bytes.size(); i-- > 0;)
        v = v << 8 | bytes[i];
    return v;
}

// The value of the low `size` bytes with the sign of the highest one.
std::int64_t SignExtend(std::uint64_t raw, std::size_t size)
{
    const unsigned unused = 64 - 8 * static_cast<unsigned>(size);
    return static_cast<std::int64_t>(raw << unused) >> unused;
}

std::string Decimal(std::uint64_t raw, IntegerType type)
{
    return type.isSigned ? std::to_string(SignExtend(raw, type.size)) : std::to_string(raw);
}

template <typename Real> std::string RealText(Real value)
{
    char buffer[64];
    const auto end = std::to_chars(buffer, buffer + sizeof buffer, value).ptr;
    return std::string(buffer, end);
}

std::string HexBytes(ByteView bytes)
{
    if (bytes.empty())
        return "no data";
    std::string s;
    for (const std::uint8_t b : bytes) {
        if (!s.empty())
            s += ' ';
        AppendHex2(s, b);
    }
    return s;
}

std::string QuotedText(ByteView bytes)
{
    while (!bytes.empty() && bytes.back() == 0)
        bytes = bytes.first(bytes.size() - 1);
    const DecodedText text = DecodeText(std::string(bytes.begin(), bytes.end()));
    std::string s = "\"";
    for (const char c : text.utf8) {
        const auto b = static_cast<unsigned char>(c);
        if (b < 0x20 || b == 0x7F) {
            s += "\\x";
            AppendHex2(s, b);
        } else {
            s += c;
        }
    }
    s += '"';
    return s;
}

// An integer limit: decimal with an optional sign, or hexadecimal after
// 0x, taken at the type's width when the type is signed.
std::optional<std::int64_t> IntegerLimit(std::string_view text, IntegerType type)
{
    if (text.starts_with("0x") || text.starts_with("0X")) {
        std::uint64_t raw = 0;
        const auto digits = text.substr(2);
        const auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), raw, 16);
        if (ec != std::errc() || end != digits.data() + digits.size() || digits.empty())
            return std::nullopt;
        if (type.isSigned)
            return SignExtend(raw, type.size);
        if (raw > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max()))
            return std::nullopt;
        return static_cast<std::int64_t>(raw);
    }
    if (text.starts_with('+'))
        text.remove_prefix(1);
    std::int64_t value = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc() || end != text.data() + text.size() || text.empty())
        return std::nullopt;
    return value;
}

std::optional<double> RealLimit(std::string_view text)
{
    if (text.starts_with('+'))
        text.remove_prefix(1);
    double value = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc() || end != text.data() + text.size() || text.empty())
        return std::nullopt;
    return value;
}

template <typename Number, typename ReadLimit>
std::string LimitWarning(Number value, std::string_view low, std::string_view high, ReadLimit read)
{
    if (const auto limit = read(low); limit && value < *limit)
        return "below LowLimit " + std::string(low);
    if (const auto limit = read(high); limit && value > *limit)
        return "above HighLimit " + std::string(high);
    return {};
}

std::string AbortText(const SdoAbort& abort)
{
    std::string s;
    AppendHex8(s, abort.code);
    if (!abort.text.empty()) {
        s += ": ";
        s += abort.text;
    }
    return s;
}

} // namespace

std::string SdoValueText(ByteView bytes, std::uint8_t dataType)
{
    if (SdoTypedAsText(dataType))
        return QuotedText(bytes);
    // An expedited answer without its size brings four bytes for a shorter
    // number; only zeros may stand beyond the type's bytes.
    auto number = [&](std::size_t size) -> std::optional<ByteView> {
        if (bytes.size() < size || std::any_of(bytes.begin() + static_cast<std::ptrdiff_t>(size), bytes.end(),
                                               [](std::uint8_t b) { return b != 0; }))
            return std::nullopt;
        return bytes.first(size);
    };
    if (const auto type = IntegerTypeOf(dataType)) {
        if (const auto own = number(type->size)) {
            const std::uint64_t raw = LittleEndian(*own);
            std::string s = Decimal(raw, *type) + " (0x";
            for (std::size_t i = type->size; i-- > 0;)
                AppendHex2(s, (*own)[i]);
            return s + ')';
        }
    } else if (dataType == kReal32) {
        if (const auto own = number(4))
            return RealText(std::bit_cast<float>(static_cast<std::uint32_t>(LittleEndian(*own))));
    } else if (dataType == kReal64) {
        if (const auto own = number(8))
            return RealText(std::bit_cast<double>(LittleEndian(*own)));
    }
    return HexBytes(bytes);
}

std::optional<std::vector<std::uint8_t>> SdoWriteBytes(std::string_view text, std::uint8_t dataType)
{
    if (SdoTypedAsText(dataType))
        return std::vector<std::uint8_t>(text.begin(), text.end());
    const std::optional<std::uint32_t> value = ParseSdoValue(text);
    if (!value)
        return std::nullopt;
    return std::vector<std::uint8_t>{
        static_cast<std::uint8_t>(*value), static_cast<std::uint8_t>(*value >> 8),
        static_cast<std::uint8_t>(*value >> 16), static_cast<std::uint8_t>(*value >> 24)};
}

SdoValueHint SdoTypedValueHint(std::string_view text, std::uint8_t dataType, std::string_view lowLimit,
                               std::string_view highLimit)
{
    if (text.empty() || SdoTypedAsText(dataType))
        return {};
    const std::optional<std::uint32_t> value = ParseSdoValue(text);
    if (!value)
        return {{}, "not a hexadecimal number"};
    if (dataType == kReal32) {
        const float real = std::bit_cast<float>(*value);
        return {"= " + RealText(real),
                LimitWarning(static_cast<double>(real), lowLimit, highLimit, RealLimit)};
    }
    const std::optional<IntegerType> type = IntegerTypeOf(dataType);
    if (!type)
        return {"= " + std::to_string(*value), {}};
    if (type->size < 4 && (*value >> (8 * type->size)) != 0)
        return {"= " + std::to_string(*value), "wider than " + std::string(DataTypeName(dataType))};
    const std::int64_t number =
        type->isSigned ? SignExtend(*value, type->size) : static_cast<std::int64_t>(*value);
    return {"= " + std::to_string(number),
            LimitWarning(number, lowLimit, highLimit,
                         [&](std::string_view limit) { return IntegerLimit(limit, *type); })};
}

std::string SdoResultText(bool read, std::uint16_t index, std::uint8_t subIndex, std::uint8_t dataType,
                          const SdoResult& result)
{
    std::string s = read ? "READ(" : "SET(";
    AppendHex4(s, index);
    s += "sub";
    AppendHex2(s, subIndex);
    s += ")= ";
    switch (result.outcome) {
    case SdoOutcome::Done: s += read ? SdoValueText(result.data, dataType) : "done"; break;
    case SdoOutcome::Aborted:
        if (result.abort)
            s += (result.abort->byClient ? "aborted here with " : "the unit aborted with ") +
                 AbortText(*result.abort);
        else
            s += "aborted";
        break;
    case SdoOutcome::TimedOut:
        s += "no answer in time";
        // A segmented transfer was ended on the bus as well.
        if (result.abort)
            s += ", aborted with " + AbortText(*result.abort);
        break;
    case SdoOutcome::SendFailed: s += "not sent: " + result.sendError; break;
    }
    return s;
}

} // namespace tervix
