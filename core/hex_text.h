// Upper-case hexadecimal at fixed widths, appended without allocating where
// the string has room.
#pragma once

#include <cstdint>
#include <string>

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

inline std::string Hex8(std::uint32_t v)
{
    std::string s;
    AppendHex8(s, v);
    return s;
}

} // namespace tervix
