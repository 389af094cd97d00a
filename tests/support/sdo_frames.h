// Data bytes of SDO frames as tests write them out by hand.
#pragma once

#include <algorithm>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

using SdoBytes = std::vector<std::uint8_t>;

// Eight data bytes from two-digit hexadecimal numbers separated by blanks
// ("41 00 20 00 1E"); those not written are 0.
inline SdoBytes Hex(std::string_view text)
{
    SdoBytes b(8, 0);
    for (std::size_t i = 0; i < 8 && 3 * i + 1 < text.size(); ++i)
        b[i] = static_cast<std::uint8_t>(std::stoul(std::string(text.substr(3 * i, 2)), nullptr, 16));
    return b;
}

// A segment: its command byte, then up to seven bytes of text.
inline SdoBytes Seg(std::uint8_t command, std::string_view text = {})
{
    SdoBytes b(8, 0);
    b[0] = command;
    std::copy_n(text.begin(), std::min<std::size_t>(text.size(), 7), b.begin() + 1);
    return b;
}

inline SdoBytes TextBytes(std::string_view text)
{
    return SdoBytes(text.begin(), text.end());
}
