// Time as the program sees it: "now" for time stamps and the blocking waits
// of the USB channel. Injected so that tests neither sleep nor depend on the
// wall clock.
#pragma once

#include <chrono>

namespace tervix {

class Clock {
public:
    virtual ~Clock() = default;
    virtual std::chrono::system_clock::time_point Now() const = 0;
    // Blocks the calling thread; the event loop does not run meanwhile.
    virtual void Sleep(std::chrono::milliseconds duration) = 0;
};

class SystemClock final : public Clock {
public:
    std::chrono::system_clock::time_point Now() const override;
    void Sleep(std::chrono::milliseconds duration) override;
};

// A stateless clock shared by everything that was not handed another one.
Clock& DefaultClock();

} // namespace tervix
