#include "clock.h"

namespace tervix {

TimePoint SystemClock::Now() const
{
    return std::chrono::steady_clock::now();
}

Clock& DefaultClock()
{
    static SystemClock clock;
    return clock;
}

} // namespace tervix
