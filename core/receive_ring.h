// The four receive slots that every received frame or text line passes
// through on its way to the frame handler.
#pragma once

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

    // Hands the current slot to the handler (if any), then moves on to the
    // next slot and empties it. The slot is refilled four deliveries later.
    void Deliver();

private:
    std::array<ReceiveSlot, kReceiveSlotCount> slots_{};
    int current_ = 0;
    Handler handler_;
};

} // namespace tervix
