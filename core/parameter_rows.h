// Whose answers the parameter rows show. A page shows the unit it was last
// read or written for (the selected unit before either), so that an answer
// for another unit, from a dialog or another master, cannot land in its
// rows. A download confirmation carries no value: the row shows the value
// its own "Set" wrote when the unit confirms that write.
#pragma once

#include "config_file.h"

#include <array>
#include <cstdint>
#include <optional>
#include <vector>

namespace tervix {

class ParameterRows {
public:
    void ReadFor(int page, std::uint8_t unit);
    void WroteFor(int page, int subIndex, std::uint8_t unit, std::int32_t value);
    // Whether `page`'s rows take an answer for `unit`; `selected` is the
    // unit-address box, for a page neither read nor written yet.
    bool Takes(int page, std::uint8_t unit, std::optional<long long> selected) const;
    // The value a row wrote to `unit` and has not seen confirmed; taken once.
    std::optional<std::int32_t> TakeWrite(int page, int subIndex, std::uint8_t unit);

private:
    struct Write {
        int page;
        int subIndex;
        std::uint8_t unit;
        std::int32_t value;
    };
    std::array<std::optional<std::uint8_t>, kPageCount> unit_{};
    std::vector<Write> writes_; // a few at most: one per row set and not yet confirmed
};

} // namespace tervix
