// A stand-in for the vendor's driver library, with the four functions the
// channel binds and a way for the test to script and inspect them.
#include "frame_packet.h"

#include <cstdint>
#include <cstring>
#include <deque>
#include <string>

namespace {
std::string g_log;
std::deque<tervix::CanFrame> g_queue;
} // namespace

extern "C" {

__attribute__((visibility("default"))) uint32_t CAN_Init(uint16_t code, int msgType)
{
    g_log += "init " + std::to_string(code) + " " + std::to_string(msgType) + ";";
    return 0;
}

__attribute__((visibility("default"))) uint32_t CAN_Close()
{
    g_log += "close;";
    return 0;
}

__attribute__((visibility("default"))) uint32_t CAN_Read(tervix::CanFrame* frame)
{
    if (g_queue.empty())
        return 0x20; // receive queue empty
    *frame = g_queue.front();
    g_queue.pop_front();
    return 0;
}

__attribute__((visibility("default"))) uint32_t CAN_Write(tervix::CanFrame* frame)
{
    g_log += "write " + std::to_string(frame->id) + " " + std::to_string(frame->len) + ";";
    return 0;
}

__attribute__((visibility("default"))) const char* FakePcan_Log()
{
    return g_log.c_str();
}

__attribute__((visibility("default"))) void FakePcan_Queue(uint32_t id, uint8_t len, const uint8_t* data)
{
    tervix::CanFrame f;
    f.id = id;
    f.len = len;
    std::memcpy(f.data.data(), data, 8);
    g_queue.push_back(f);
}
}
