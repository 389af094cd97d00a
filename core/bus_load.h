// Frames per second and bus load over the last second, counted from the
// frames the program receives and sends, with the time passed in.
//
// Bits a classic CAN frame takes on the wire, worst-case stuffing:
//   standard identifier: 47 + 8n + floor((34 + 8n - 1) / 4)
//   extended identifier: 67 + 8n + floor((54 + 8n - 1) / 4)
// n is the number of data bytes (0 for a remote frame, whatever its length
// says). 47 and 67 are the fixed fields from start of frame to the
// interframe space; 34 + 8n and 54 + 8n are the stuffed part (start of frame
// up to the CRC), where at most one stuff bit follows every four bits after
// the first. So an 8-byte frame is 135 bits standard, 160 extended: the load
// shown is an upper bound. Error frames are not counted (their length is not
// known from here).
//
// Load in percent = bits of the frames in the last second * 100 / bit rate.
#pragma once

#include "clock.h"
#include "frame_packet.h"

#include <cstdint>
#include <deque>

namespace tervix {

unsigned FrameBitsOnWire(const BusFrame& frame);

class BusStatistics {
public:
    static constexpr std::chrono::seconds kWindow{1};

    // `at`: when the frame was received (the driver's time where it has
    // one) or sent. Times come in nearly in order; one slightly older than
    // the frame before it leaves the window with that frame.
    void Add(const BusFrame& frame, bool sent, TimePoint at);

    // Over (now - 1 s, now]: so these are per second.
    std::uint32_t Received(TimePoint now);
    std::uint32_t Sent(TimePoint now);
    std::uint64_t Bits(TimePoint now);
    // Bits(now) as a share of the bit rate, in percent; 0 for an unknown rate.
    double LoadPercent(TimePoint now, std::uint32_t bitsPerSecond);

private:
    struct Entry {
        TimePoint at;
        std::uint16_t bits;
        bool sent;
    };
    void Drop(TimePoint now);

    std::deque<Entry> entries_;
    std::uint32_t received_ = 0;
    std::uint32_t sent_ = 0;
    std::uint64_t bits_ = 0;
};

} // namespace tervix
