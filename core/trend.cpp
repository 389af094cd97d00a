#include "trend.h"

#include "test_sheet.h"

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <cmath>
#include <cstring>

namespace tervix {

std::optional<Tpdo1Sample> ReadTpdo1(const BusFrame& frame, unsigned node)
{
    if (frame.extended || frame.remote || frame.id != 0x180 + node || frame.length < 7)
        return std::nullopt;
    const unsigned unit = frame.data[6];
    if (unit >= kTrendUnits)
        return std::nullopt;
    std::uint32_t raw = 0;
    for (int i = 0; i < 4; ++i)
        raw |= std::uint32_t{frame.data[static_cast<std::size_t>(i)]} << (8 * i);
    float value = 0;
    std::memcpy(&value, &raw, sizeof value);
    if (!std::isfinite(value))
        return std::nullopt;
    const auto status = static_cast<std::uint16_t>(frame.data[4] | (frame.data[5] << 8));
    return Tpdo1Sample{unit, value, status};
}

// ---- Series -----------------------------------------------------------------

void TrendSeries::Add(TimePoint at, float value, std::uint16_t status)
{
    std::int64_t ns = at.time_since_epoch().count();
    if (!Empty() && ns < points_.back().ns)
        ns = points_.back().ns;
    points_.push_back({ns, value, status});
}

std::size_t TrendSeries::LowerBound(TimePoint t) const
{
    const std::int64_t ns = t.time_since_epoch().count();
    const auto it =
        std::lower_bound(begin(), end(), ns, [](const TrendPoint& p, std::int64_t v) { return p.ns < v; });
    return static_cast<std::size_t>(it - begin());
}

void TrendSeries::TrimBefore(TimePoint t)
{
    head_ += LowerBound(t);
    // Moved out once they are a quarter of the block: each kept point is
    // copied a few times over its hour, and the block stays within 1.25
    // times what is kept.
    if (head_ > 4096 && head_ * 4 > points_.size()) {
        points_.erase(points_.begin(), points_.begin() + static_cast<std::ptrdiff_t>(head_));
        head_ = 0;
    }
}

void TrendSeries::Clear()
{
    points_.clear();
    head_ = 0;
}

// ---- Store ------------------------------------------------------------------

void TrendStore::Choose(unsigned unit, bool chosen)
{
    if (unit >= kTrendUnits)
        return;
    chosen_[unit] = chosen;
    if (!chosen)
        series_[unit].Clear();
}

std::vector<unsigned> TrendStore::ChosenUnits() const
{
    std::vector<unsigned> units;
    for (unsigned u = 0; u < kTrendUnits; ++u)
        if (chosen_[u])
            units.push_back(u);
    return units;
}

void TrendStore::Add(const Tpdo1Sample& sample, TimePoint at)
{
    if (!Chosen(sample.unit))
        return;
    series_[sample.unit].Add(at, sample.value, sample.status);
    if (!newest_ || at > *newest_)
        newest_ = at;
    // Trimming every few hundred points keeps the cost per frame flat.
    if (++sinceTrim_ >= 256) {
        sinceTrim_ = 0;
        const TimePoint keepFrom = *newest_ - kTrendKeep;
        for (TrendSeries& s : series_)
            if (!s.Empty() && s[0].At() < keepFrom)
                s.TrimBefore(keepFrom);
    }
}

std::optional<TimePoint> TrendStore::Oldest() const
{
    std::optional<TimePoint> oldest;
    for (const TrendSeries& s : series_)
        if (!s.Empty() && (!oldest || s[0].At() < *oldest))
            oldest = s[0].At();
    return oldest;
}

std::size_t TrendStore::PointCount() const
{
    std::size_t n = 0;
    for (const TrendSeries& s : series_)
        n += s.Size();
    return n;
}

void TrendStore::Clear()
{
    for (TrendSeries& s : series_)
        s.Clear();
    newest_.reset();
}

// ---- Drawing ----------------------------------------------------------------

void Envelope(const TrendSeries& series, TimePoint from, TimePoint to, std::span<EnvelopeColumn> out)
{
    for (EnvelopeColumn& c : out)
        c = {};
    if (out.empty() || to <= from)
        return;
    // Column by column, each to its end time: one comparison per point and
    // no division (an hour of 64 units is millions of points at the widest
    // span).
    const std::int64_t begin = from.time_since_epoch().count();
    const double span = double((to - from).count());
    auto it = series.begin() + static_cast<std::ptrdiff_t>(series.LowerBound(from));
    const auto last = series.end();
    for (std::size_t column = 0; column < out.size() && it != last; ++column) {
        const std::int64_t columnEnd =
            column + 1 == out.size()
                ? to.time_since_epoch().count()
                : begin + static_cast<std::int64_t>(span * double(column + 1) / double(out.size()));
        if (it->ns >= columnEnd)
            continue;
        float low = it->value;
        float high = it->value;
        for (++it; it != last && it->ns < columnEnd; ++it) {
            low = std::min(low, it->value);
            high = std::max(high, it->value);
        }
        out[column] = {low, high, true};
    }
}

// ---- Stability --------------------------------------------------------------

Stability Judge(const TrendSeries& series, const StabilitySettings& settings)
{
    Stability s;
    if (series.Empty())
        return s;
    const TimePoint newest = series[series.Size() - 1].At();
    const TimePoint start = newest - settings.window;
    const std::size_t first = series.LowerBound(start);
    // The window is covered when a point lies at its start or before it.
    s.full = first > 0 || series[0].At() == start;
    const std::uint32_t motionMask = settings.motionBit < 16 ? (1u << settings.motionBit) : 0;
    bool motion = false;
    for (std::size_t i = first; i < series.Size(); ++i) {
        s.stats.Add(series[i].value);
        motion = motion || (series[i].status & motionMask) != 0;
    }
    s.inMotion = (series[series.Size() - 1].status & motionMask) != 0;
    s.stable = s.full && !motion && s.stats.Count() >= 2 &&
               s.stats.StandardDeviation() < settings.stableLimit * settings.division;
    return s;
}

std::string TrendCsv(const TrendStore& store, const std::vector<unsigned>& units, TimePoint origin)
{
    std::string out = "time_s,unit,value,status\r\n";
    const std::int64_t zero = origin.time_since_epoch().count();
    for (const unsigned unit : units) {
        if (unit >= kTrendUnits)
            continue;
        const TrendSeries& s = store.Series(unit);
        for (std::size_t i = 0; i < s.Size(); ++i) {
            char status[8];
            std::snprintf(status, sizeof status, "%04X", s[i].status);
            out += CsvNumber(double(s[i].ns - zero) / 1e9);
            out += ',';
            out += std::to_string(unit);
            out += ',';
            char value[64];
            out.append(value, std::to_chars(value, value + sizeof value, s[i].value, std::chars_format::fixed).ptr);
            out += ',';
            out += status;
            out += "\r\n";
        }
    }
    return out;
}

} // namespace tervix
