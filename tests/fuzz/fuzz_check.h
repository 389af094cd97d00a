// Shared by the fuzz targets: decoding a message the way the frame handler
// does, from a heap copy of exactly its size so that ASan sees any read past
// its end, and checking what must hold for every line.
#pragma once

#include "frame_naming.h"
#include "frame_packet.h"

#include <cstdlib>
#include <memory>
#include <string>

namespace tervix::fuzz {

inline void Check(bool ok)
{
    if (!ok)
        std::abort();
}

inline void DecodeLikeTheWindow(ByteView slotBytes, std::string& line)
{
    const std::size_t size = slotBytes.size();
    const auto copy = std::make_unique<std::uint8_t[]>(size);
    std::copy(slotBytes.begin(), slotBytes.end(), copy.get());
    const ByteView message(copy.get(), size);
    if (message.size() < kMinMessageSize)
        return;

    const MessageInfo info = ClassifyMessage(message);
    line.clear();
    AppendLogLine(line, message, info);
    // The handler reads these too, for process data and SDO answers.
    (void)ObjectKey(message);
    (void)DataU32(message, 4);
    (void)PacketIdentifier(message);

    if (!info.isFrame) {
        Check(info.kind == 0 && line.size() <= size);
        for (char c : line)
            Check(static_cast<unsigned char>(c) >= 0x20);
        return;
    }
    Check(info.functionCode >= 0 && info.functionCode < kFunctionCodeCount);
    Check(info.node >= 0 && info.node < 128 && info.kind == info.functionCode);
    const std::size_t dataBytes = size > kPacketHeaderSize ? size - kPacketHeaderSize : 0;
    const std::size_t expected = 5 + (info.remote ? 4 : 0) +
                                 FunctionCodeName(info.functionCode, info.node).size() + 5 + 2 + 7 +
                                 3 * dataBytes;
    Check(line.size() == expected);
}

} // namespace tervix::fuzz
