#include "weight_stats.h"

#include <algorithm>
#include <cmath>

namespace tervix {

void WeightStats::Add(double value)
{
    ++count_;
    const double delta = value - mean_;
    mean_ += delta / static_cast<double>(count_);
    m2_ += delta * (value - mean_);
    min_ = std::min(min_, value);
    max_ = std::max(max_, value);
}

double WeightStats::StandardDeviation() const
{
    return count_ < 2 ? 0.0 : std::sqrt(m2_ / static_cast<double>(count_ - 1));
}

} // namespace tervix
