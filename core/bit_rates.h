// The nine bus bit rates the tool offers, their BTR0/BTR1 codes (BTR0 in the
// high byte, as the PCAN-USB driver takes them) and the order in which the
// device search tries them.
#pragma once

#include <array>
#include <cstdint>
#include <string_view>

namespace tervix {

struct BitRateEntry {
    std::string_view text;
    std::uint16_t code;
    std::uint32_t bitsPerSecond;
};

inline constexpr std::array<BitRateEntry, 9> kBitRates{{
    {"1Mbit", 0x0014, 1000000},
    {"500Kbit", 0x001C, 500000},
    {"250Kbit", 0x011C, 250000},
    {"125Kbit", 0x031C, 125000},
    {"100Kbit", 0x432F, 100000},
    {"50Kbit", 0x472F, 50000},
    {"20Kbit", 0x532F, 20000},
    {"10Kbit", 0x672F, 10000},
    {"5Kbit", 0x7F7F, 5000},
}};

inline constexpr int kDefaultBitRateIndex = 1;
inline constexpr std::uint16_t kDefaultBitRateCode = 0x001C;
inline constexpr std::uint16_t kSearchFirstBitRateCode = 0x0014;

// The code of a speed-box index; no entry selected (or a typed text) gives
// the 500 kbit/s default.
std::uint16_t BitRateCodeOfIndex(int index);

// The code the device search tries after `code`; after the slowest rate, or
// from an unknown code, it starts again at 1 Mbit/s.
std::uint16_t NextSearchBitRateCode(std::uint32_t code);

// Table index of a code (only its low 16 bits count), -1 when not in the table.
int BitRateIndexOfCode(std::uint32_t code);

// Bits per second of a code, 0 when not in the table.
std::uint32_t BitsPerSecondOfCode(std::uint32_t code);

} // namespace tervix
