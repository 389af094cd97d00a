#include "serial_framing.h"

namespace tervix {

void SerialFraming::Feed(std::uint8_t b, ReceiveRing& ring)
{
    switch (state_) {
    case RxState::Idle:
        if (b == kPacketMarker) {
            // The packet starts even when the handler of the text line
            // before it throws: no byte of the packet is lost.
            struct StartPacket {
                SerialFraming& framing;
                ReceiveRing& ring;
                std::uint8_t marker;
                ~StartPacket()
                {
                    ring.Store(marker);
                    framing.state_ = RxState::Header;
                }
            } start{*this, ring, b};
            // An unfinished text line goes out before the packet starts.
            if (ring.Current().count > 0)
                ring.Deliver();
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
            state_ = RxState::Idle; // first, in case the handler throws
            ring.Deliver();
        }
        break;
    }
}

} // namespace tervix
