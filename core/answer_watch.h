// Whether the node the window talks to answers at all. A wrong node number,
// a wrong bit rate or a serial port with nothing behind it look like an idle
// bus; what tells them apart is that the node was asked (guarding, NMT
// Start, an SDO request) and said nothing. Time is passed in.
#pragma once

#include "clock.h"
#include "frame_packet.h"

#include <chrono>
#include <optional>

namespace tervix {

class AnswerWatch {
public:
    // How long a node may stay silent after it was asked.
    static constexpr std::chrono::seconds kSilence{2};

    // The node in "CAN Addr"; a change starts afresh. Node 0 (all nodes) is
    // not watched.
    void SetNode(unsigned node);
    unsigned Node() const { return node_; }
    // Another bit rate or port: what was asked before no longer counts.
    void Reset();

    // A frame the tool sent: it asks the node when it is an NMT Start for the
    // node (or all), a guard frame (0x700+n) or an SDO request (0x600+n).
    void Sent(const BusFrame& frame, TimePoint at);
    // A received frame; true when it ends a "no answer" (it came from the node).
    bool Received(const BusFrame& frame, TimePoint at);
    // True once, at the moment the node has been asked and silent for kSilence.
    bool Check(TimePoint now);

    bool NoAnswer() const { return noAnswer_; }

private:
    unsigned node_ = 0;
    std::optional<TimePoint> askedSince_; // the first ask not followed by any frame of the node
    bool noAnswer_ = false;
};

} // namespace tervix
