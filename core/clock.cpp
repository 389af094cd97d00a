#include "clock.h"

#include <thread>

namespace tervix {

std::chrono::system_clock::time_point SystemClock::Now() const
{
    return std::chrono::system_clock::now();
}

void SystemClock::Sleep(std::chrono::milliseconds duration)
{
    std::this_thread::sleep_for(duration);
}

Clock& DefaultClock()
{
    static SystemClock clock;
    return clock;
}

} // namespace tervix
