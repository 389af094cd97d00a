// Naming of received messages: CAN frames by their CANopen function code,
// anything else as a line of adapter text.
#pragma once

#include "frame_packet.h"

#include <cstdint>
#include <string>
#include <string_view>

namespace tervix {

// Function codes as the weighing unit's bus uses them (identifier bits 10..7).
enum FunctionCode : int {
    kNmt = 0,
    kSyncEmergency = 1,
    kTime = 2,
    kTpdo1 = 3,
    kRpdo1 = 4,
    kTpdo2 = 5,
    kRpdo2 = 6,
    kTpdo3 = 7,
    kRpdo3 = 8,
    kTpdo4 = 9,
    kRpdo4 = 10,
    kTsdo = 11,
    kRsdo = 12,
    kNmtHandling = 14,
};
constexpr int kFunctionCodeCount = 16;

// Object 0x1002 sub-index 0, the device status register, as an object key.
constexpr std::uint32_t kDeviceStatusKey = 0x10020000;

struct MessageInfo {
    bool isFrame = false;  // byte 0 is the packet marker
    bool extended = false;
    bool remote = false;
    int functionCode = 0;  // 0..15
    int node = 0;          // 0..127
    int kind = 0;          // function code for frames, 0 for adapter text
};

// Messages shorter than this are ignored altogether.
constexpr std::size_t kMinMessageSize = 2;

MessageInfo ClassifyMessage(ByteView message);

// The name text of a function code; code 1 is SYNC for node 0, else EMERGENCY.
std::string_view FunctionCodeName(int functionCode, int node);

// Appends the log line of a message (frame or adapter text) to out.
void AppendLogLine(std::string& out, ByteView message, const MessageInfo& info);
std::string LogLine(ByteView message);

// Object index (data bytes 1..2) in the upper 16 bits, sub-index in the lowest 8.
std::uint32_t ObjectKey(ByteView message);

// Appends each byte as one blank and two upper-case hex digits.
void AppendHexDump(std::string& out, ByteView bytes);

} // namespace tervix
