#include "text_encoding.h"

#include <array>
#include <cstring>

namespace tervix {

namespace {

bool IsContinuation(char c)
{
    return (static_cast<unsigned char>(c) & 0xC0) == 0x80;
}

struct Utf8Check {
    std::size_t valid;   // bytes of well-formed UTF-8 from the start
    bool endsInsideChar; // what follows is a sequence the end of the text broke off
};

Utf8Check CheckUtf8(std::string_view s)
{
    const std::size_t n = s.size();
    std::size_t i = 0;
    while (i < n) {
        // Vendor files are mostly ASCII: eight bytes at a time while they are.
        if (i + 8 <= n) {
            std::uint64_t word;
            std::memcpy(&word, s.data() + i, 8);
            if ((word & 0x8080808080808080u) == 0) {
                i += 8;
                continue;
            }
        }
        const auto c = static_cast<unsigned char>(s[i]);
        if (c < 0x80) {
            ++i;
            continue;
        }
        std::size_t length;
        unsigned lo = 0x80;
        unsigned hi = 0xBF;
        if (c >= 0xC2 && c <= 0xDF) {
            length = 2;
        } else if (c >= 0xE0 && c <= 0xEF) {
            length = 3;
            lo = c == 0xE0 ? 0xA0 : lo; // overlong
            hi = c == 0xED ? 0x9F : hi; // surrogates
        } else if (c >= 0xF0 && c <= 0xF4) {
            length = 4;
            lo = c == 0xF0 ? 0x90 : lo; // overlong
            hi = c == 0xF4 ? 0x8F : hi; // above U+10FFFF
        } else {
            return {i, false};
        }
        for (std::size_t k = 1; k < length; ++k) {
            if (i + k >= n)
                return {i, true};
            const auto d = static_cast<unsigned char>(s[i + k]);
            if (d < (k == 1 ? lo : 0x80u) || d > (k == 1 ? hi : 0xBFu))
                return {i, false};
        }
        i += length;
    }
    return {n, false};
}

// 0x80..0x9F; the rest of the upper half is Latin-1.
constexpr std::array<std::uint16_t, 32> kWindows1252High = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,
};

void AppendCodePoint(std::string& out, std::uint16_t cp)
{
    if (cp < 0x80) {
        out.push_back(static_cast<char>(cp));
    } else if (cp < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
}

} // namespace

void AppendWindows1252AsUtf8(std::string& out, std::string_view bytes)
{
    for (const char c : bytes) {
        const auto b = static_cast<unsigned char>(c);
        if (b < 0x80)
            out.push_back(c);
        else
            AppendCodePoint(out, b < 0xA0 ? kWindows1252High[b - 0x80] : b);
    }
}

DecodedText DecodeText(std::string bytes, bool endMayBeCut)
{
    if (bytes.starts_with(kUtf8Bom))
        bytes.erase(0, kUtf8Bom.size());
    const Utf8Check check = CheckUtf8(bytes);
    if (check.valid == bytes.size())
        return {std::move(bytes), TextEncoding::Utf8};
    if (endMayBeCut && check.endsInsideChar) {
        bytes.resize(check.valid);
        return {std::move(bytes), TextEncoding::Utf8};
    }
    DecodedText decoded{{}, TextEncoding::Windows1252};
    decoded.utf8.reserve(bytes.size() + bytes.size() / 8);
    AppendWindows1252AsUtf8(decoded.utf8, bytes);
    return decoded;
}

std::size_t NextChar(std::string_view text, std::size_t pos)
{
    ++pos;
    while (pos < text.size() && IsContinuation(text[pos]))
        ++pos;
    return pos;
}

std::size_t AdvanceChars(std::string_view text, std::size_t pos, std::size_t count)
{
    for (; count > 0; --count)
        pos = NextChar(text, pos);
    return pos;
}

std::size_t CharCount(std::string_view text)
{
    std::size_t count = 0;
    for (std::size_t pos = 0; pos < text.size(); pos = NextChar(text, pos))
        ++count;
    return count;
}

std::size_t LastCharStart(std::string_view text)
{
    if (text.empty())
        return 0;
    std::size_t pos = text.size() - 1;
    while (pos > 0 && IsContinuation(text[pos]))
        --pos;
    return pos;
}

std::string_view CutAtCharBoundary(std::string_view text, std::size_t maxBytes)
{
    if (text.size() <= maxBytes)
        return text;
    std::size_t end = maxBytes;
    while (end > 0 && IsContinuation(text[end]))
        --end;
    return text.substr(0, end);
}

} // namespace tervix
