#include "serial_framing.h"

namespace tervix {

void SerialFraming::Feed(std::uint8_t b, ReceiveRing& ring, TimePoint at)
{
    switch (state_) {
    case RxState::Idle:
        if (b == kPacketMarker) {
            // The marker is stored once the text line before it is handed
            // on, however that returns: no byte of the packet is lost.
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
                ring.Deliver(at);
        } else if (b == 0x0D) {
            ring.Store(b);
            ring.Deliver(at);
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
            state_ = RxState::Idle; // before the handler runs: the stream stays in step
            ring.DeliverPacket(at);
        }
        break;
    }
}

} // namespace tervix
