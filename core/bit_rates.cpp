#include "bit_rates.h"

namespace tervix {

std::uint16_t BitRateCodeOfIndex(int index)
{
    if (index < 0 || index >= static_cast<int>(kBitRates.size()))
        return kDefaultBitRateCode;
    return kBitRates[static_cast<std::size_t>(index)].code;
}

int BitRateIndexOfCode(std::uint32_t code)
{
    const auto low = static_cast<std::uint16_t>(code);
    for (std::size_t i = 0; i < kBitRates.size(); ++i)
        if (kBitRates[i].code == low)
            return static_cast<int>(i);
    return -1;
}

std::uint16_t NextSearchBitRateCode(std::uint32_t code)
{
    // The table runs from fastest to slowest, which is the search order. The
    // whole 32-bit value must match: a code with stray high bits is unknown.
    if (code > 0xFFFF)
        return kSearchFirstBitRateCode;
    const int i = BitRateIndexOfCode(code);
    if (i < 0 || i + 1 >= static_cast<int>(kBitRates.size()))
        return kSearchFirstBitRateCode;
    return kBitRates[static_cast<std::size_t>(i) + 1].code;
}

std::uint32_t BitsPerSecondOfCode(std::uint32_t code)
{
    const int i = BitRateIndexOfCode(code);
    return i < 0 ? 0 : kBitRates[static_cast<std::size_t>(i)].bitsPerSecond;
}

} // namespace tervix
