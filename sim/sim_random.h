// A small seeded generator whose sequence is the same on every platform
// (the standard distributions are not), so a seed replays a run exactly.
#pragma once

#include <cstdint>

namespace tervix::sim {

class SimRandom {
public:
    explicit SimRandom(std::uint64_t seed) : state_(seed) {}

    // splitmix64
    std::uint64_t Next()
    {
        std::uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return z ^ (z >> 31);
    }

    // Uniform in [0, 1).
    double Unit() { return double(Next() >> 11) * (1.0 / 9007199254740992.0); }
    // Uniform in [-1, 1).
    double Signed() { return 2.0 * Unit() - 1.0; }

private:
    std::uint64_t state_;
};

} // namespace tervix::sim
