// Cuts the serial adapter's byte stream into packets and text lines.
#pragma once

#include "clock.h"
#include "frame_packet.h"
#include "receive_ring.h"

#include <cstdint>

namespace tervix {

enum class RxState : std::uint8_t { Idle, Header, Body };

// Packets are marker, length byte, two identifier bytes and (length & 0x0F)
// data bytes; anything else up to a carriage return is a line of adapter
// text, of which the first 256 bytes are kept (the carriage return
// included, when there is room). No escaping, no checksum, no timeout: a
// packet waits for its missing bytes however long they take.
//
// `at` is when the bytes were read; a packet or line goes out with the time
// of the read that completed it.
class SerialFraming {
public:
    void Feed(std::uint8_t b, ReceiveRing& ring, TimePoint at = {});
    void Feed(ByteView bytes, ReceiveRing& ring, TimePoint at = {})
    {
        for (std::uint8_t b : bytes)
            Feed(b, ring, at);
    }

    RxState State() const { return state_; }
    std::uint32_t BytesExpected() const { return bytesExpected_; }
    void ResetExpected() { bytesExpected_ = 0; }

private:
    RxState state_ = RxState::Idle;
    std::uint32_t bytesExpected_ = 0;
};

} // namespace tervix
