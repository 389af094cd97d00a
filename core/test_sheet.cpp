#include "test_sheet.h"

#include <algorithm>
#include <charconv>

namespace tervix {

std::string CsvNumber(double value)
{
    // Fixed notation, the shortest that reads back the same: 0.0004, not 4e-04.
    char text[400];
    return std::string(text, std::to_chars(text, text + sizeof text, value, std::chars_format::fixed).ptr);
}

namespace {

// A CSV field: quoted when it holds a comma, quote or line break.
std::string CsvField(const std::string& text)
{
    if (text.find_first_of(",\"\r\n") == std::string::npos)
        return text;
    std::string out = "\"";
    for (const char c : text) {
        if (c == '"')
            out += '"';
        out += c;
    }
    return out + '"';
}

} // namespace

std::vector<CaptureSummary> TestSheet::Summaries() const
{
    std::vector<CaptureSummary> out;
    std::vector<WeightStats> stats;
    for (const CaptureRow& row : rows_) {
        auto it = std::find_if(out.begin(), out.end(), [&](const CaptureSummary& s) {
            return s.unit == row.unit && s.reference == row.reference;
        });
        if (it == out.end()) {
            CaptureSummary group;
            group.unit = row.unit;
            group.reference = row.reference;
            out.push_back(group);
            stats.emplace_back();
            it = out.end() - 1;
        }
        stats[static_cast<std::size_t>(it - out.begin())].Add(row.mean);
    }
    for (std::size_t i = 0; i < out.size(); ++i) {
        CaptureSummary& s = out[i];
        s.count = stats[i].Count();
        s.spread = stats[i].PeakToPeak();
        s.standardDeviation = stats[i].StandardDeviation();
        s.mean = stats[i].Mean();
        if (s.reference)
            s.error = s.mean - *s.reference;
    }
    return out;
}

std::string TestSheet::Csv() const
{
    std::string out = "time,unit,frames,mean,standard_deviation,reference,note,stable\r\n";
    for (const CaptureRow& r : rows_) {
        out += CsvField(r.time) + ',' + std::to_string(r.unit) + ',' + std::to_string(r.frames) + ',' +
               CsvNumber(r.mean) + ',' + CsvNumber(r.standardDeviation) + ',' +
               (r.reference ? CsvNumber(*r.reference) : std::string()) + ',' + CsvField(r.note) + ',' +
               (r.stable ? "yes" : "no") + "\r\n";
    }
    return out;
}

CaptureWait::CaptureWait(unsigned unit, TimePoint now, std::chrono::milliseconds timeout)
    : unit_(unit), deadline_(now + timeout)
{
}

std::optional<CaptureRow> CaptureWait::Poll(TimePoint now, const Stability& stability) const
{
    const bool timedOut = now >= deadline_;
    if (!stability.stable && !timedOut)
        return std::nullopt;
    CaptureRow row;
    row.unit = unit_;
    row.frames = stability.stats.Count();
    row.mean = stability.stats.Mean();
    row.standardDeviation = stability.stats.StandardDeviation();
    row.stable = stability.stable;
    return row;
}

} // namespace tervix
