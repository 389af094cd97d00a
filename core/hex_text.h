// Upper-case hexadecimal at fixed widths, appended without allocating where
// the string has room.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace tervix {

inline char HexDigit(unsigned v)
{
    return "0123456789ABCDEF"[v & 0x0F];
}

inline void AppendHex2(std::string& out, std::uint8_t b)
{
    out.push_back(HexDigit(b >> 4));
    out.push_back(HexDigit(b));
}

inline void AppendHex4(std::string& out, std::uint16_t v)
{
    AppendHex2(out, static_cast<std::uint8_t>(v >> 8));
    AppendHex2(out, static_cast<std::uint8_t>(v));
}

inline void AppendHex8(std::string& out, std::uint32_t v)
{
    AppendHex4(out, static_cast<std::uint16_t>(v >> 16));
    AppendHex4(out, static_cast<std::uint16_t>(v));
}

inline std::string Hex2(std::uint8_t b)
{
    std::string s;
    AppendHex2(s, b);
    return s;
}

// Value of a hexadecimal digit of either case, or -1.
constexpr int HexDigitValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

// Bytes read as Latin-1 characters (each byte its own code point), appended
// as UTF-8.
inline void AppendLatin1AsUtf8(std::string& out, std::string_view latin1)
{
    for (const char c : latin1) {
        const auto b = static_cast<unsigned char>(c);
        if (b < 0x80) {
            out.push_back(c);
        } else {
            out.push_back(static_cast<char>(0xC0 | (b >> 6)));
            out.push_back(static_cast<char>(0x80 | (b & 0x3F)));
        }
    }
}

inline std::string Hex8(std::uint32_t v)
{
    std::string s;
    AppendHex8(s, v);
    return s;
}

} // namespace tervix
