#include "frame_naming.h"

#include "hex_text.h"

#include <array>

namespace tervix {

namespace {

constexpr std::array<std::string_view, kFunctionCodeCount> kNames = {
    "NMT   ",  "SYNC  ",  "TIME  ",  "TPDO1 ", "RPDO1 ",         "TPDO2 ",
    "RPDO2 ",  "TPDO3 ",  "RPDO3 ",  "TPDO4 ", "RPDO4 ",         "TSDO  ",
    "RSDO  ",  "?13?  ",  "NMT Handling ",     "?15?  ",
};
constexpr std::string_view kEmergency = "EMERGENCY ";

} // namespace

MessageInfo ClassifyMessage(ByteView message)
{
    MessageInfo info;
    if (message.size() < kMinMessageSize || message[0] != kPacketMarker)
        return info;
    info.isFrame = true;
    info.extended = (message[1] & kFlagExtended) != 0;
    info.remote = (message[1] & kFlagRemote) != 0;
    const std::uint8_t b2 = message.size() > 2 ? message[2] : 0;
    const std::uint8_t b3 = message.size() > 3 ? message[3] : 0;
    info.functionCode = b2 >> 4;
    info.node = ((b2 & 0x0F) << 3) + (b3 >> 5);
    info.kind = info.functionCode;
    return info;
}

std::string_view FunctionCodeName(int functionCode, int node)
{
    if (functionCode == kSyncEmergency && node != 0)
        return kEmergency;
    return kNames[static_cast<std::size_t>(functionCode) & 0x0F];
}

void AppendHexDump(std::string& out, ByteView bytes)
{
    for (std::uint8_t b : bytes) {
        out.push_back(' ');
        AppendHex2(out, b);
    }
}

void AppendLogLine(std::string& out, ByteView message, const MessageInfo& info)
{
    if (!info.isFrame) {
        for (std::uint8_t b : message)
            if (b >= 0x20)
                out.push_back(static_cast<char>(b));
        return;
    }
    out += info.extended ? "EFF: " : "SFF: ";
    if (info.remote)
        out += "RTR ";
    out += FunctionCodeName(info.functionCode, info.node);
    out += "addr=";
    AppendHex2(out, static_cast<std::uint8_t>(info.node));
    out += " Data= ";
    for (std::size_t i = kPacketHeaderSize; i < message.size(); ++i) {
        AppendHex2(out, message[i]);
        out.push_back(' ');
    }
}

std::string LogLine(ByteView message)
{
    std::string line;
    if (message.size() >= kMinMessageSize)
        AppendLogLine(line, message, ClassifyMessage(message));
    return line;
}

std::uint32_t ObjectKey(ByteView message)
{
    return (std::uint32_t(DataByte(message, 2)) << 24) | (std::uint32_t(DataByte(message, 1)) << 16) |
           DataByte(message, 3);
}

} // namespace tervix
