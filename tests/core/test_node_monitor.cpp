// The node monitor held to CiA 301's byte layouts: frames written as candump
// lines ("705#05": identifier, then the data bytes as they are on the wire).
#include "candump_reader.h"
#include "node_monitor.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

namespace {

using namespace tervix;
using namespace std::chrono_literals;

BusFrame Frame(std::string_view candump)
{
    CandumpPacket packet;
    EXPECT_EQ(ParseCandumpLine(candump, packet).kind, CandumpLineKind::Frame) << candump;
    return packet.frame;
}

// An emergency: bytes 0..1 error code (low byte first), byte 2 the error
// register (object 0x1001), bytes 3..7 manufacturer specific.
struct EmcyCase {
    const char* name;
    const char* frame;
    std::optional<std::string> text; // none: no emergency
};

class EmergencyFrames : public ::testing::TestWithParam<EmcyCase> {};

TEST_P(EmergencyFrames, DecodeAsCiA301LaysThemOut)
{
    const EmcyCase& c = GetParam();
    const auto e = DecodeEmergency(Frame(c.frame), TimePoint{});
    ASSERT_EQ(e.has_value(), c.text.has_value());
    if (e) {
        EXPECT_EQ(EmergencyText(*e), *c.text);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Table, EmergencyFrames,
    ::testing::Values(
        EmcyCase{"HeartbeatError", "085#3081110102030405",
                 "8130 Life guard error or heartbeat error; register 11 (generic, communication); "
                 "manufacturer 01 02 03 04 05"},
        EmcyCase{"ErrorReset", "081#0000000000000000",
                 "0000 Error reset or no error; register 00 (none); manufacturer 00 00 00 00 00"},
        EmcyCase{"UnlistedTakesItsClass", "081#1181100000000000",
                 "8111 Communication - generic; register 10 (communication); manufacturer 00 00 00 00 00"},
        EmcyCase{"UnlistedClassTakesItsGroup", "081#2143080000000000",
                 "4321 Temperature - generic error; register 08 (temperature); manufacturer 00 00 00 00 00"},
        EmcyCase{"DeviceSpecific", "0FF#42FF80AABBCCDDEE",
                 "FF42 Device specific - generic error; register 80 (manufacturer specific); "
                 "manufacturer AA BB CC DD EE"},
        EmcyCase{"NoStandardText", "081#00A0010000000000",
                 "A000 (no standard text); register 01 (generic); manufacturer 00 00 00 00 00"},
        EmcyCase{"EveryRegisterBit", "081#0010FF0000000000",
                 "1000 Generic error; register FF (generic, current, voltage, temperature, communication, "
                 "device profile specific, reserved, manufacturer specific); manufacturer 00 00 00 00 00"},
        EmcyCase{
            "ShortFrameMissingBytesZero", "081#005024",
            "5000 CANopen device hardware - generic error; register 24 (voltage, device profile specific); "
            "manufacturer 00 00 00 00 00"},
        EmcyCase{"SyncIsNoEmergency", "080#", std::nullopt},
        EmcyCase{"EmptyIsNoEmergency", "085#", std::nullopt},
        EmcyCase{"RemoteIsNoEmergency", "085#R", std::nullopt}),
    [](const auto& info) { return std::string(info.param.name); });

// Frames in order, then node 5's state; none: node 5 not seen.
struct StateCase {
    const char* name;
    std::vector<const char*> frames;
    std::optional<NmtState> state;
};

class NodeStates : public ::testing::TestWithParam<StateCase> {};

TEST_P(NodeStates, FollowErrorControlAndNmtCommands)
{
    const StateCase& c = GetParam();
    NodeMonitor m;
    TimePoint at{};
    for (const char* f : c.frames)
        m.Receive(Frame(f), at += 10ms);
    const NodeRecord* r = m.Find(5);
    ASSERT_EQ(r != nullptr, c.state.has_value());
    if (r) {
        EXPECT_EQ(NmtStateText(r->state), NmtStateText(*c.state));
    }
}

INSTANTIATE_TEST_SUITE_P(
    Table, NodeStates,
    ::testing::Values(
        StateCase{"BootUp", {"705#00"}, NmtState::PreOperational},
        StateCase{"HeartbeatStopped", {"705#05", "705#04"}, NmtState::Stopped},
        StateCase{"GuardReplyToggledPreOperational", {"705#FF"}, NmtState::PreOperational},
        StateCase{"UndefinedStateByte", {"705#05", "705#42"}, NmtState::Unknown},
        StateCase{"GuardRequestIsNotTheNode", {"705#R"}, std::nullopt},
        StateCase{"StartCommand", {"705#00", "000#0105"}, NmtState::Operational},
        StateCase{"StopAll", {"705#00", "000#0200"}, NmtState::Stopped},
        StateCase{"EnterPreOperational", {"705#05", "000#8005"}, NmtState::PreOperational},
        StateCase{"ResetUntilBootUp", {"705#05", "000#8105"}, NmtState::Resetting},
        StateCase{"ResetCommunicationThenBootUp", {"705#05", "000#8200", "705#00"}, NmtState::PreOperational},
        StateCase{"CommandForAnotherNode", {"705#05", "000#0206"}, NmtState::Operational},
        StateCase{"CommandWithoutNodeByte", {"705#05", "000#02"}, NmtState::Operational},
        StateCase{"CommandDoesNotMakeANodeSeen", {"000#0105"}, std::nullopt},
        StateCase{"SdoAnswerSeenStateUnknown", {"585#4300100000000400"}, NmtState::Unknown},
        StateCase{
            "SdoRequestAndRpdoAreToTheNode", {"605#4000100000000000", "205#01", "505#01"}, std::nullopt},
        StateCase{"ExtendedFrameIsNoNode", {"00000705#05"}, std::nullopt},
        // 0x7E5 is node 101's heartbeat identifier, and LSS's too; its eight bytes are LSS.
        StateCase{"LayerSettingIsNoHeartbeat", {"7E5#0400000000000000"}, std::nullopt}),
    [](const auto& info) { return std::string(info.param.name); });

// A node boots, beats every 100 ms (give or take 4 ms), sends an emergency
// and stops; the monitor is ticked every 10 ms, as a display timer would.
TEST(NodeMonitorRun, BootHeartbeatsEmergencySilenceAndBack)
{
    ManualClock clock;
    NodeMonitor m;
    std::vector<NodeEvent> events;
    m.SetEventHandler([&](const NodeEvent& e) { events.push_back(e); });
    const TimePoint t0 = clock.Now();
    const auto at = [&](std::chrono::milliseconds ms) { return t0 + ms; };
    m.Receive(Frame("705#00"), t0);
    m.Receive(Frame("706#00"), t0); // node 6 boots and never beats: never silent
    std::optional<TimePoint> silentAt;
    TimePoint lastBeat = t0;
    const std::chrono::milliseconds jitter[] = {0ms, 4ms, -3ms, 2ms, -4ms};
    for (int ms = 10; ms <= 1500; ms += 10) {
        clock.Set(at(std::chrono::milliseconds(ms)));
        if (ms % 100 == 0 && ms <= 1000) {
            lastBeat = clock.Now() + jitter[(ms / 100) % 5];
            m.Receive(Frame("705#05"), lastBeat);
        }
        if (ms == 1020)
            m.Receive(Frame("085#3081110102030405"), clock.Now());
        m.Tick(clock.Now());
        if (!silentAt && m.Find(5)->silent)
            silentAt = clock.Now();
    }
    const NodeRecord* r = m.Find(5);
    ASSERT_TRUE(silentAt);
    EXPECT_GT(*silentAt - lastBeat, 150ms);
    EXPECT_LE(*silentAt - lastBeat, 300ms);
    EXPECT_EQ(r->state, NmtState::Operational);
    ASSERT_TRUE(r->heartbeatPeriod);
    EXPECT_LE(*silentAt - lastBeat, *r->heartbeatPeriod * 3 / 2 + 10ms); // the first tick past 1.5 periods
    EXPECT_GE(*r->heartbeatPeriod, 96ms);
    EXPECT_LE(*r->heartbeatPeriod, 104ms);
    EXPECT_EQ(r->frames, 12u);
    EXPECT_FALSE(m.Find(6)->silent);

    // Back: the mark clears, the silence does not count as a period.
    m.Receive(Frame("705#05"), at(1600ms));
    m.Tick(at(1700ms));
    EXPECT_FALSE(r->silent);
    EXPECT_LE(*r->heartbeatPeriod, 104ms);

    std::vector<std::string> lines;
    for (const NodeEvent& e : events)
        lines.push_back(NodeEventText(e));
    EXPECT_EQ(lines, (std::vector<std::string>{
                         "node 5: boot-up",
                         "node 6: boot-up",
                         "node 5: pre-operational -> operational",
                         "node 5: emergency 8130 Life guard error or heartbeat error; register 11 (generic, "
                         "communication); manufacturer 01 02 03 04 05",
                         "node 5: went silent (heartbeat " + DurationText(r->heartbeatPeriod) + ")",
                         "node 5: back",
                     }));
}

// A reset node sends no heartbeat while it boots: it is not marked silent.
TEST(NodeMonitorRun, ResetNodeIsWatchedAgainFromItsHeartbeats)
{
    NodeMonitor m;
    const TimePoint t0{};
    for (int i = 0; i < 5; ++i)
        m.Receive(Frame("705#05"), t0 + i * 100ms);
    m.Receive(Frame("000#8100"), t0 + 450ms);
    m.Tick(t0 + 2s);
    EXPECT_FALSE(m.Find(5)->silent);
    m.Receive(Frame("705#00"), t0 + 2100ms);
    m.Receive(Frame("705#7F"), t0 + 2200ms);
    m.Receive(Frame("705#7F"), t0 + 2400ms);
    m.Tick(t0 + 2700ms);
    EXPECT_FALSE(m.Find(5)->silent); // 200 ms measured anew, not the 100 ms from before
    m.Tick(t0 + 2900ms);
    EXPECT_TRUE(m.Find(5)->silent);
}

} // namespace
