#include "unit_list.h"

#include <algorithm>
#include <charconv>

namespace tervix {

namespace {

bool IsSeparator(char c)
{
    return c == ',' || c == ' ' || c == '\t' || c == ';';
}

std::optional<unsigned> Number(std::string_view text)
{
    unsigned value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || error != std::errc() || end != text.data() + text.size())
        return std::nullopt;
    return value;
}

} // namespace

std::optional<std::vector<unsigned>> ParseUnitList(std::string_view text, unsigned limit)
{
    std::vector<bool> named(limit, false);
    std::size_t i = 0;
    while (i < text.size()) {
        if (IsSeparator(text[i])) {
            ++i;
            continue;
        }
        std::size_t end = i;
        while (end < text.size() && !IsSeparator(text[end]))
            ++end;
        const std::string_view part = text.substr(i, end - i);
        i = end;
        const std::size_t dash = part.find('-');
        const std::optional<unsigned> first = Number(part.substr(0, dash));
        const std::optional<unsigned> last =
            dash == std::string_view::npos ? first : Number(part.substr(dash + 1));
        if (!first || !last || *first > *last || *last >= limit)
            return std::nullopt;
        for (unsigned u = *first; u <= *last; ++u)
            named[u] = true;
    }
    std::vector<unsigned> units;
    for (unsigned u = 0; u < limit; ++u)
        if (named[u])
            units.push_back(u);
    return units;
}

std::string FormatUnitList(const std::vector<unsigned>& units)
{
    std::string out;
    for (std::size_t i = 0; i < units.size();) {
        std::size_t run = i;
        while (run + 1 < units.size() && units[run + 1] == units[run] + 1)
            ++run;
        if (!out.empty())
            out += ',';
        out += std::to_string(units[i]);
        if (run - i >= 2) {
            out += '-';
            out += std::to_string(units[run]);
            i = run + 1;
        } else {
            ++i;
        }
    }
    return out;
}

} // namespace tervix
