#include "receive_ring.h"

namespace tervix {

void ReceiveRing::Reset()
{
    for (auto& s : slots_)
        s.count = 0;
    current_ = 0;
}

void ReceiveRing::Deliver()
{
    // Move on even when the handler throws: otherwise the next message would
    // be appended to the one just handed out.
    struct Advance {
        ReceiveRing& ring;
        ~Advance()
        {
            ring.current_ = (ring.current_ + 1) % kReceiveSlotCount;
            ring.Current().count = 0;
        }
    } advance{*this};
    if (handler_)
        handler_(current_);
}

} // namespace tervix
