#include "bus_load.h"

#include <algorithm>

namespace tervix {

unsigned FrameBitsOnWire(const BusFrame& frame)
{
    const unsigned dataBits = frame.remote ? 0u : 8u * std::min<unsigned>(frame.length, 8u);
    const unsigned fixed = frame.extended ? 67u : 47u;
    const unsigned stuffed = (frame.extended ? 54u : 34u) + dataBits;
    return fixed + dataBits + (stuffed - 1) / 4;
}

void BusStatistics::Add(const BusFrame& frame, bool sent, TimePoint at)
{
    const auto bits = static_cast<std::uint16_t>(FrameBitsOnWire(frame));
    entries_.push_back({at, bits, sent});
    ++(sent ? sent_ : received_);
    bits_ += bits;
    // Memory stays at one second of frames even when nobody reads the figures.
    Drop(at);
}

void BusStatistics::Drop(TimePoint now)
{
    while (!entries_.empty() && entries_.front().at <= now - kWindow) {
        const Entry& e = entries_.front();
        --(e.sent ? sent_ : received_);
        bits_ -= e.bits;
        entries_.pop_front();
    }
}

std::uint32_t BusStatistics::Received(TimePoint now)
{
    Drop(now);
    return received_;
}

std::uint32_t BusStatistics::Sent(TimePoint now)
{
    Drop(now);
    return sent_;
}

std::uint64_t BusStatistics::Bits(TimePoint now)
{
    Drop(now);
    return bits_;
}

double BusStatistics::LoadPercent(TimePoint now, std::uint32_t bitsPerSecond)
{
    if (bitsPerSecond == 0)
        return 0.0;
    return 100.0 * static_cast<double>(Bits(now)) / static_cast<double>(bitsPerSecond);
}

} // namespace tervix
