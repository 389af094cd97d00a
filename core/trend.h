// Each chosen unit's TPDO1 value over time, as the trend window plots it:
// kept for an hour, drawn as a min/max envelope per pixel column, and judged
// over a sliding window (mean, spread, motion, stable). Qt-free; time is
// the frames' receive time, passed in.
#pragma once

#include "clock.h"
#include "frame_packet.h"
#include "weight_stats.h"

#include <array>
#include <chrono>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace tervix {

constexpr unsigned kTrendUnits = 64; // as the value boxes: unit address 0..63
constexpr std::chrono::hours kTrendKeep{1};

// What a TPDO1 brings: the unit (data byte 6), the value (data bytes 0..3 as
// a float, as the value box reads it) and the status word (bytes 5, 4).
struct Tpdo1Sample {
    unsigned unit = 0;
    float value = 0;
    std::uint16_t status = 0;
};
// The sample of a node's TPDO1 (identifier 0x180 + node, 11 bits, data, 7
// bytes at least); nothing for any other frame, a unit beyond 63, or a
// value that is no finite number.
std::optional<Tpdo1Sample> ReadTpdo1(const BusFrame& frame, unsigned node);

struct TrendPoint {
    std::int64_t ns = 0; // receive time, TimePoint's count of nanoseconds
    float value = 0;
    std::uint16_t status = 0;

    TimePoint At() const { return TimePoint(std::chrono::nanoseconds(ns)); }
};

// One unit's points in time order, in one contiguous block: the envelope
// of an hour of 64 units walks millions of them per redraw. A point older
// than the newest (a clock step) is kept at the newest time, so the order
// holds. Trimmed points are skipped at once and moved out of the block in
// batches, so trimming costs a few bytes a point.
class TrendSeries {
public:
    void Add(TimePoint at, float value, std::uint16_t status);
    // Drops the points before `t`.
    void TrimBefore(TimePoint t);
    void Clear();

    std::size_t Size() const { return points_.size() - head_; }
    bool Empty() const { return Size() == 0; }
    const TrendPoint& operator[](std::size_t i) const { return points_[head_ + i]; }
    // The first point at or after `t` (Size() when none).
    std::size_t LowerBound(TimePoint t) const;

    using const_iterator = std::vector<TrendPoint>::const_iterator;
    const_iterator begin() const { return points_.begin() + static_cast<std::ptrdiff_t>(head_); }
    const_iterator end() const { return points_.end(); }

private:
    std::vector<TrendPoint> points_;
    std::size_t head_ = 0; // points before it are trimmed
};

// The units chosen and their series; an hour of each is kept.
class TrendStore {
public:
    void Choose(unsigned unit, bool chosen);
    bool Chosen(unsigned unit) const { return unit < kTrendUnits && chosen_[unit]; }
    std::vector<unsigned> ChosenUnits() const;
    // Keeps the sample when its unit is chosen; drops what is older than an
    // hour before it, a few hundred points at a time.
    void Add(const Tpdo1Sample& sample, TimePoint at);
    const TrendSeries& Series(unsigned unit) const { return series_[unit]; }
    // The newest receive time of any chosen unit; none before the first point.
    std::optional<TimePoint> Newest() const { return newest_; }
    std::optional<TimePoint> Oldest() const;
    std::size_t PointCount() const;
    void Clear();

private:
    std::array<bool, kTrendUnits> chosen_{};
    std::array<TrendSeries, kTrendUnits> series_{};
    std::optional<TimePoint> newest_;
    std::uint32_t sinceTrim_ = 0;
};

// One pixel column's extremes; `any` false where no point falls in it.
struct EnvelopeColumn {
    float min = 0;
    float max = 0;
    bool any = false;
};
// The series' points in [from, to) spread over out.size() columns of equal
// time. Costs the points in the span, not more.
void Envelope(const TrendSeries& series, TimePoint from, TimePoint to, std::span<EnvelopeColumn> out);

// How a unit's stability is judged.
struct StabilitySettings {
    std::chrono::milliseconds window{2000};
    double division = 0.001;  // the scale division; default: the value box's last digit
    unsigned motionBit = 0;   // of the status word: set while the unit is in motion
    double stableLimit = 0.5; // in divisions: standard deviation below it is stable
};

struct Stability {
    WeightStats stats;    // of the points in the window
    bool full = false;    // the points reach back the whole window
    bool inMotion = false; // the newest point's status word has the motion bit
    bool stable = false;  // full, no motion bit in the window, deviation under the limit
    double Divisions(double value, const StabilitySettings& s) const { return value / s.division; }
};
// The window ends at the newest point.
Stability Judge(const TrendSeries& series, const StabilitySettings& settings);

// CSV of the kept points of `units`, one row per point in time order per
// unit: "time_s,unit,value,status" (seconds since `origin`, the value with
// its float digits, the status word in hex), dot decimals, CR LF.
std::string TrendCsv(const TrendStore& store, const std::vector<unsigned>& units, TimePoint origin);

} // namespace tervix
