// Which units a short text names, as the trend window's chooser takes it:
// "0-3,7" or "0 1 2 9". Qt-free.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tervix {

// The units named, ascending, each once: numbers and ranges "A-B" below
// `limit`, separated by commas or blanks. An empty text names none; nothing
// when a part is no number, a range runs backwards or a unit is >= limit.
std::optional<std::vector<unsigned>> ParseUnitList(std::string_view text, unsigned limit);

// The shortest text ParseUnitList reads back as `units` (ascending, each
// once): runs of three or more as ranges, "0-3,7,9,10".
std::string FormatUnitList(const std::vector<unsigned>& units);

} // namespace tervix
