#include "parameter_rows.h"

#include <algorithm>

namespace tervix {

namespace {

bool IsPage(int page)
{
    return page >= 0 && page < static_cast<int>(kPageCount);
}

} // namespace

void ParameterRows::ReadFor(int page, std::uint8_t unit)
{
    if (IsPage(page))
        unit_[static_cast<std::size_t>(page)] = unit;
}

void ParameterRows::WroteFor(int page, int subIndex, std::uint8_t unit, std::int32_t value)
{
    if (!IsPage(page))
        return;
    unit_[static_cast<std::size_t>(page)] = unit;
    std::erase_if(writes_, [&](const Write& w) { return w.page == page && w.subIndex == subIndex; });
    writes_.push_back({page, subIndex, unit, value});
}

bool ParameterRows::Takes(int page, std::uint8_t unit, std::optional<long long> selected) const
{
    if (!IsPage(page))
        return false;
    if (const auto& shown = unit_[static_cast<std::size_t>(page)])
        return *shown == unit;
    return selected.value_or(0) == unit;
}

std::optional<std::int32_t> ParameterRows::TakeWrite(int page, int subIndex, std::uint8_t unit)
{
    const auto it = std::find_if(writes_.begin(), writes_.end(), [&](const Write& w) {
        return w.page == page && w.subIndex == subIndex && w.unit == unit;
    });
    if (it == writes_.end())
        return std::nullopt;
    const std::int32_t value = it->value;
    writes_.erase(it);
    return value;
}

} // namespace tervix
