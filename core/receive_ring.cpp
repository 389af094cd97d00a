#include "receive_ring.h"

#include <algorithm>

namespace tervix {

void ReceiveRing::Reset()
{
    for (auto& s : slots_) {
        s.count = 0;
        s.isFrame = false;
        s.transmitted = false;
    }
    current_ = 0;
}

void ReceiveRing::Deliver(TimePoint at)
{
    ReceiveSlot& s = Current();
    s.isFrame = false;
    s.at = at;
    Hand();
}

void ReceiveRing::DeliverPacket(TimePoint at)
{
    ReceiveSlot& s = Current();
    const std::optional<BusFrame> frame = DecodePacket(s.View());
    s.isFrame = frame.has_value();
    if (frame)
        s.frame = *frame;
    s.at = at;
    Hand();
}

void ReceiveRing::DeliverFrame(const BusFrame& frame, TimePoint at, bool transmitted)
{
    ReceiveSlot& s = Current();
    const std::size_t n = EncodePacket(frame, s.bytes.data());
    const std::size_t carried = n - kPacketHeaderSize;
    std::copy(frame.data.begin() + static_cast<std::ptrdiff_t>(carried), frame.data.end(),
              s.bytes.begin() + static_cast<std::ptrdiff_t>(n));
    s.count = static_cast<std::uint32_t>(n);
    s.isFrame = true;
    s.frame = frame;
    s.at = at;
    s.transmitted = transmitted;
    Hand();
}

void ReceiveRing::Hand()
{
    // Move on however the handler returns: the next message must never be
    // appended to the one just handed out.
    struct Advance {
        ReceiveRing& ring;
        ~Advance()
        {
            ring.current_ = (ring.current_ + 1) % kReceiveSlotCount;
            ReceiveSlot& next = ring.Current();
            next.count = 0;
            next.isFrame = false;
            next.transmitted = false;
        }
    } advance{*this};
    if (handler_)
        handler_(current_);
}

} // namespace tervix
