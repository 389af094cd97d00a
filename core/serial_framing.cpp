#include "serial_framing.h"

namespace tervix {

void SerialFraming::Feed(std::uint8_t b, ReceiveRing& ring)
{
    switch (state_) {
    case RxState::Idle:
        if (b == kPacketMarker) {
            // An unfinished text line goes out before the packet starts.
            if (ring.Current().count > 0)
                ring.Deliver();
            ring.Store(b);
            state_ = RxState::Header;
        } else if (b == 0x0D) {
            ring.Store(b);
            ring.Deliver();
        } else {
            ring.Store(b);
        }
        break;
    case RxState::Header:
        ring.Store(b);
        bytesExpected_ = (b & 0x0Fu) + 2;
        state_ = RxState::Body;
        break;
    case RxState::Body:
        ring.Store(b);
        if (--bytesExpected_ == 0) {
            ring.Deliver();
            state_ = RxState::Idle;
        }
        break;
    }
}

} // namespace tervix
