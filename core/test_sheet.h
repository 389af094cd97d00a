// The test sheet of checks with test weights: each capture waits until the
// unit is stable (or gives up after a time-out, and says so), then keeps its
// mean and spread with an optional reference mass and a note; per unit and
// reference mass the sheet gives the repeatability of the captured means and
// their error against the reference. Qt-free.
#pragma once

#include "trend.h"

#include <chrono>
#include <optional>
#include <string>
#include <vector>

namespace tervix {

struct CaptureRow {
    std::string time;          // wall-clock time of the capture, as the caller writes it
    unsigned unit = 0;
    std::uint64_t frames = 0;  // in the window captured
    double mean = 0;
    double standardDeviation = 0;
    std::optional<double> reference; // the test weight's mass
    std::string note;
    bool stable = true;        // false: captured at the time-out, not stable
};

// Per unit and reference mass (rows without one form their own group).
struct CaptureSummary {
    unsigned unit = 0;
    std::optional<double> reference;
    std::size_t count = 0;
    double spread = 0;            // max - min of the captured means
    double standardDeviation = 0; // of the captured means (n - 1)
    double mean = 0;              // of the captured means
    std::optional<double> error;  // mean - reference
};

class TestSheet {
public:
    void Add(CaptureRow row) { rows_.push_back(std::move(row)); }
    void Clear() { rows_.clear(); }
    const std::vector<CaptureRow>& Rows() const { return rows_; }
    // Groups in order of their first row.
    std::vector<CaptureSummary> Summaries() const;
    // "time,unit,frames,mean,standard_deviation,reference,note,stable", one
    // row per capture, dot decimals, CR LF; a note with commas or quotes is
    // quoted as spreadsheets read it.
    std::string Csv() const;

private:
    std::vector<CaptureRow> rows_;
};

// A capture waiting for its unit to settle.
class CaptureWait {
public:
    static constexpr std::chrono::seconds kDefaultTimeout{10};

    CaptureWait(unsigned unit, TimePoint now, std::chrono::milliseconds timeout = kDefaultTimeout);
    // The row once the unit is stable, or at the time-out with stable false
    // (then from the last window, when it holds any point); nothing while it
    // waits. `stability` is the unit's, judged now.
    std::optional<CaptureRow> Poll(TimePoint now, const Stability& stability) const;
    unsigned Unit() const { return unit_; }
    TimePoint Deadline() const { return deadline_; }

private:
    unsigned unit_;
    TimePoint deadline_;
};

// Numbers in CSV and on the sheet: the shortest fixed-point text that reads
// back the same, dot decimal.
std::string CsvNumber(double value);

} // namespace tervix
