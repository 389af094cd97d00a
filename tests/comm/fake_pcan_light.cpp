// A stand-in for the vendor's driver library, with the four functions the
// channel binds and a way for the test to script and inspect them.
#include <array>
#include <cstdint>
#include <cstring>
#include <deque>
#include <string>

namespace {

// The library's 16-byte message record.
struct Record {
    std::uint32_t id = 0;
    std::uint8_t msgType = 0;
    std::uint8_t len = 0;
    std::array<std::uint8_t, 8> data{};
    std::uint8_t pad[2] = {0, 0};
};
static_assert(sizeof(Record) == 16);

struct Queued {
    std::uint32_t result;
    Record record;
};

std::string g_log;
std::deque<Queued> g_queue;

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

__attribute__((visibility("default"))) uint32_t CAN_Read(Record* record)
{
    if (g_queue.empty())
        return 0x20; // receive queue empty
    const Queued q = g_queue.front();
    g_queue.pop_front();
    *record = q.record;
    return q.result;
}

__attribute__((visibility("default"))) uint32_t CAN_Write(Record* record)
{
    g_log += "write " + std::to_string(record->id) + " t" + std::to_string(record->msgType) + " " +
             std::to_string(record->len) + ";";
    return 0;
}

__attribute__((visibility("default"))) const char* FakePcan_Log()
{
    return g_log.c_str();
}

// A record CAN_Read hands out with `result`: 0 for a frame; a non-zero result
// with a length above 8 is how the library says it cannot receive at its rate.
__attribute__((visibility("default"))) void FakePcan_Queue(uint32_t result, uint32_t id, uint8_t msgType,
                                                           uint8_t len, const uint8_t* data)
{
    Queued q{result, {}};
    q.record.id = id;
    q.record.msgType = msgType;
    q.record.len = len;
    std::memcpy(q.record.data.data(), data, 8);
    g_queue.push_back(q);
}
}
