// Arbitrary bytes from the serial adapter, through the framing and the
// receive slots into the decoder, as the transport hands them on.
#include "fuzz_check.h"
#include "receive_ring.h"
#include "serial_framing.h"

using namespace tervix;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    ReceiveRing ring;
    SerialFraming framing;
    std::string line;
    ring.SetHandler([&](int slot) {
        const ReceiveSlot& s = ring.Slot(slot);
        fuzz::Check(s.count <= kSlotWriteLimit);
        // Text goes out before a packet starts, so a slot that begins with
        // the marker is one whole packet and nothing else.
        if (s.count > 0 && s.bytes[0] == kPacketMarker)
            fuzz::Check(s.count == kPacketHeaderSize + (s.bytes[1] & 0x0Fu));
        fuzz::DecodeLikeTheWindow(s.View(), line);
    });
    framing.Feed(ByteView(data, size), ring);
    fuzz::Check(ring.Current().count <= kSlotWriteLimit);
    return 0;
}
