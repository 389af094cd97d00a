// Time as the program sees it. Injected so that tests neither sleep nor
// depend on the wall clock; steady, so a clock change on the PC never makes a
// response time negative or a wait endless. Nothing in the program blocks on
// it: waits are state machines that compare Now() with a deadline.
#pragma once

#include <chrono>

namespace tervix {

using TimePoint = std::chrono::steady_clock::time_point;

class Clock {
public:
    virtual ~Clock() = default;
    virtual TimePoint Now() const = 0;
};

class SystemClock final : public Clock {
public:
    TimePoint Now() const override;
};

// A clock tests and simulations move by hand.
class ManualClock final : public Clock {
public:
    TimePoint Now() const override { return now_; }
    void Advance(std::chrono::steady_clock::duration d) { now_ += d; }
    void Set(TimePoint t) { now_ = t; }

private:
    TimePoint now_{std::chrono::seconds(1000)};
};

// A stateless clock shared by everything that was not handed another one.
Clock& DefaultClock();

} // namespace tervix
