// Statistics of one unit's readings: count, mean, sample standard deviation
// (n - 1), minimum, maximum and peak-to-peak. Welford's running sums, so a
// long series neither loses precision nor keeps its values.
#pragma once

#include <cstdint>
#include <limits>

namespace tervix {

class WeightStats {
public:
    void Add(double value);

    std::uint64_t Count() const { return count_; }
    double Mean() const { return mean_; }
    // 0 for fewer than two values.
    double StandardDeviation() const;
    double Minimum() const { return min_; }
    double Maximum() const { return max_; }
    double PeakToPeak() const { return count_ ? max_ - min_ : 0.0; }

private:
    std::uint64_t count_ = 0;
    double mean_ = 0.0;
    double m2_ = 0.0; // sum of squared distances from the mean
    double min_ = std::numeric_limits<double>::infinity();
    double max_ = -std::numeric_limits<double>::infinity();
};

} // namespace tervix
