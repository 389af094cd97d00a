// The four receive slots that every received frame or text line passes
// through on its way to the frame handler. A slot holds the message's bytes
// in the packet layout, which the decoder reads at fixed positions, and for a
// frame also the frame itself (all 29 identifier bits, the flags) and the
// time it was received.
#pragma once

#include "clock.h"
#include "frame_packet.h"

#include <array>
#include <cstdint>
#include <functional>

namespace tervix {

constexpr int kReceiveSlotCount = 4;
constexpr std::size_t kSlotSize = 512;
constexpr std::size_t kSlotWriteLimit = 256;  // never more of a slot is written

struct ReceiveSlot {
    std::array<std::uint8_t, kSlotSize> bytes{};
    std::uint32_t count = 0;
    // A frame, or a line of the serial adapter's text.
    bool isFrame = false;
    BusFrame frame; // valid when isFrame
    TimePoint at{}; // when the frame or line was received
    // A replayed frame the recording marks as sent: shown, never answered.
    bool transmitted = false;

    ByteView View() const { return ByteView(bytes.data(), count < kSlotSize ? count : kSlotSize); }
};

class ReceiveRing {
public:
    using Handler = std::function<void(int slot)>;

    // All counts 0, slot 0 current.
    void Reset();
    void SetHandler(Handler handler) { handler_ = std::move(handler); }

    ReceiveSlot& Current() { return slots_[static_cast<std::size_t>(current_)]; }
    int CurrentIndex() const { return current_; }
    const ReceiveSlot& Slot(int i) const { return slots_[static_cast<std::size_t>(i) & 3]; }

    // Appends a byte to the current slot while it has room under the limit.
    void Store(std::uint8_t b)
    {
        ReceiveSlot& s = Current();
        if (s.count < kSlotWriteLimit)
            s.bytes[s.count++] = b;
    }

    // The Deliver calls hand the current slot to the handler (if any), then
    // move on to the next slot and empty it. A slot is refilled four
    // deliveries later.
    //
    // What Store put into the slot, as a line of adapter text read at `at`.
    void Deliver(TimePoint at);
    // What Store put into the slot, as a packet of the serial adapter read at
    // `at`: decoded into the slot's frame (the 11 identifier bits a packet
    // carries).
    void DeliverPacket(TimePoint at);
    // A frame received at `at`: its packet is encoded into the slot, followed
    // by the data bytes beyond its length (the slot keeps all eight).
    void DeliverFrame(const BusFrame& frame, TimePoint at, bool transmitted = false);

private:
    void Hand();

    std::array<ReceiveSlot, kReceiveSlotCount> slots_{};
    int current_ = 0;
    Handler handler_;
};

} // namespace tervix
