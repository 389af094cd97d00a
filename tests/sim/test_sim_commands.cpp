// Every RPDO command and the TPDO3 answer it brings, read back at the byte
// positions the tool's decoder uses and compared with an SDO reading of the
// same quantity where there is one.
#include "sim_bench.h"
#include "status_texts.h"

#include <gtest/gtest.h>

#include <cmath>
#include <optional>

using namespace tervix;
using namespace tervix::sim;
using namespace std::chrono_literals;

namespace {

struct Action {
    enum Kind { Rpdo, Sdo, Wait, Raw } kind;
    int n = 0;
    std::uint8_t command = 0;
    std::uint32_t object = 0;
    std::int32_t value = 0;
    std::chrono::milliseconds wait{0};
    BusFrame frame{};
};

Action Pdo(int n, std::uint8_t command)
{
    return {Action::Rpdo, n, command};
}
Action Set(std::uint32_t object, std::int32_t value)
{
    return {Action::Sdo, 0, 0, object, value};
}
Action Wait(std::chrono::milliseconds d)
{
    return {Action::Wait, 0, 0, 0, 0, d};
}
Action Raw(std::uint32_t id, std::vector<std::uint8_t> data)
{
    Action a{Action::Raw};
    a.frame = MakeFrame(id, data);
    return a;
}

// The tool's RPDO4 carries a fixed pattern chosen by its command: 1 starts
// filling (80 00 00 00), 2 stops it (81 33 01 30), others send zeros.
constexpr std::uint8_t kFillStart = 1, kFillStop = 2, kFillOther = 3;

struct CommandCase {
    const char* name;
    std::vector<Action> setup;
    Action request;
    std::uint8_t code;
    const char* refusal = nullptr;            // PdoStatusText of a 0xFF answer
    std::optional<std::uint32_t> sdoObject{}; // what an SDO read must agree with
    double scale = 1000.0;                    // SDO value per unit of the floating answer
    std::optional<std::int32_t> sdoAfter{};   // or the value that object holds afterwards
};

void PrintTo(const CommandCase& c, std::ostream* os)
{
    *os << c.name;
}

std::vector<FramePacket> Do(SimBench& b, const Action& a)
{
    switch (a.kind) {
    case Action::Rpdo: return b.Send(RpdoRequest(a.n, 1, 0, std::uint32_t(a.command) << 16));
    case Action::Sdo: return b.Send(SdoWriteRequest(1, a.object, a.value));
    case Action::Wait: return b.Advance(a.wait);
    case Action::Raw: return b.Send(a.frame);
    }
    return {};
}

std::int32_t SdoValue(SimBench& b, std::uint32_t object)
{
    const auto a = b.Send(SdoReadRequest(1, object));
    EXPECT_EQ(a.size(), 1u);
    EXPECT_NE(DataByte(a.at(0), 0), 0x80) << std::hex << object;
    return DataI32(a.at(0), 4);
}

class Commands : public ::testing::TestWithParam<CommandCase> {};

TEST_P(Commands, AnswerOnTpdo3)
{
    const CommandCase& c = GetParam();
    SimBench b;
    b.Start();
    b.Advance(500ms); // a second of history would be more, half is enough to be at rest
    for (const Action& a : c.setup)
        Do(b, a);
    const auto answers = SimBench::OfCode(Do(b, c.request), kTpdo3);
    ASSERT_FALSE(answers.empty());
    // RPDO4 reaches every unit of the node, the others the addressed one.
    EXPECT_EQ(answers.size(), c.request.n == 4 ? 4u : 1u);
    const FramePacket& p = answers[0];
    EXPECT_EQ(PacketIdentifier(p), 0x381u);
    EXPECT_EQ(FunctionCodeName(ClassifyMessage(p).functionCode, 1), "TPDO3 ");
    EXPECT_EQ(DataByte(p, 0), 0); // unit address
    EXPECT_EQ(DataByte(p, 1), c.code);

    if (c.code == 0xFF) {
        EXPECT_EQ(PdoStatusText(DataByte(p, 3)), c.refusal);
    } else if ((c.code >= 10 && c.code <= 15) || c.code == 17) {
        const float v = DataFloat(p, c.code == 17 ? 2 : 4);
        if (c.sdoObject) {
            EXPECT_NEAR(v, SdoValue(b, *c.sdoObject) / c.scale, 0.0015);
        } else {
            EXPECT_NEAR(v, 100.0, 0.5); // unit 0 rests near 100
        }
    } else if (c.code == 3) {
        EXPECT_EQ(DataI32(p, 3), SdoValue(b, *c.sdoObject)); // where value dialog 1 reads it
    } else if (c.code != 0xE5) {
        // Parameter answers: where the decoder finds sub-index and value.
        const bool standard = c.code == 18;
        const std::uint8_t sub = DataByte(p, standard ? 2 : 3);
        const std::int32_t value = DataI32(p, standard ? 3 : 4);
        const int page = c.code == 18 ? 0 : c.code == 38 ? 1 : c.code == 6 ? 2 : 3;
        EXPECT_EQ(value, SdoValue(b, ReadAllObject(page, 0, sub))) << "sub " << int(sub);
        EXPECT_EQ(sub, (c.request.command & 0x0F) + 1);
    }
    if (c.sdoAfter) {
        EXPECT_EQ(SdoValue(b, *c.sdoObject), *c.sdoAfter);
    }
}

const std::uint32_t kSelected = ObjectWord(0x2100, 4), kTare = ObjectWord(0x2100, 9),
                    kGross = ObjectWord(0x2100, 11), kNet = ObjectWord(0x2100, 12),
                    kFillState = ObjectWord(0x2200, 9), kCalOpen = ObjectWord(0x2800, 1),
                    kCaptured = ObjectWord(0x2800, 2);

INSTANTIATE_TEST_SUITE_P(
    Table, Commands,
    ::testing::Values(
        // Done (0xE5), with the change it made.
        CommandCase{"SelectNet", {}, Pdo(1, 0x80), 0xE5, nullptr, kSelected, 1, 1},
        CommandCase{"SelectFlow", {}, Pdo(1, 0x20), 0xE5, nullptr, kSelected, 1, 2},
        CommandCase{"SelectGross", {Pdo(1, 0x80)}, Pdo(1, 0x40), 0xE5, nullptr, kSelected, 1, 0},
        CommandCase{"Tare", {}, Pdo(2, 0x01), 0xE5, nullptr, kNet, 1, 0},
        CommandCase{"Zero", {}, Pdo(2, 0x02), 0xE5, nullptr, kGross, 1, 0},
        CommandCase{"ClearTare", {Pdo(2, 0x01)}, Pdo(2, 0x03), 0xE5, nullptr, kTare, 1, 0},
        CommandCase{"CalibrationOpen", {}, Pdo(2, 0x20), 0xE5, nullptr, kCalOpen, 1, 1},
        CommandCase{"CalibrationPoint", {Pdo(2, 0x20)}, Pdo(2, 0x22), 0xE5, nullptr, kCaptured, 1, 2},
        CommandCase{"FillStart", {}, Pdo(4, kFillStart), 0xE5, nullptr, kFillState, 1, 1},
        CommandCase{"FillStop",
                    {Pdo(4, kFillStart), Wait(300ms)},
                    Pdo(4, kFillStop),
                    0xE5,
                    nullptr,
                    kFillState,
                    1,
                    5},
        // Refused (0xFF) for each reason the tool names.
        CommandCase{"Unknown", {}, Pdo(2, 0x77), 0xFF, "** NOT_IMPLEMENTED **"},
        CommandCase{"UnknownFilling", {}, Pdo(4, kFillOther), 0xFF, "** NOT_IMPLEMENTED **"},
        CommandCase{"TareWhileFilling", {Pdo(4, kFillStart)}, Pdo(2, 0x01), 0xFF, "** NOT_READY **"},
        CommandCase{"CommandByteMissing", {}, Raw(0x301, {0x00}), 0xFF, "** ERR_BAUD **"},
        CommandCase{"PointNotOpen", {}, Pdo(2, 0x21), 0xFF, "** CAL_NOT_OPEN **"},
        CommandCase{"PointFive", {Pdo(2, 0x20)}, Pdo(2, 0x25), 0xFF, "** BAD_CAL_ID **"},
        CommandCase{"CloseWithoutPoints", {Pdo(2, 0x20)}, Pdo(2, 0x2F), 0xFF, "** BAD_CAL_VALUE **"},
        CommandCase{"CloseOnePointTwice",
                    {Pdo(2, 0x20), Pdo(2, 0x21), Pdo(2, 0x22)},
                    Pdo(2, 0x2F),
                    0xFF,
                    "** BAD_CAL_VALUE **"},
        CommandCase{"CalibrationTimedOut", {Pdo(2, 0x20), Wait(61s)}, Pdo(2, 0x21), 0xFF, "** TIMEOUT **"},
        CommandCase{"TareInMotion",
                    {Set(ObjectWord(0x2100, 5), 0), Wait(1s)},
                    Pdo(2, 0x01),
                    0xFF,
                    "** NOT_STABLE **"},
        CommandCase{"FillingSubThirteen", {}, Pdo(3, 0x3C), 0xFF, "** BAD_FILL_PARAM_ID **"},
        CommandCase{"CutoffBeyondTarget",
                    {Set(ObjectWord(0x2200, 4), 60000)},
                    Pdo(4, kFillStart),
                    0xFF,
                    "** BAD_FILL_PARAM_VALUE **"},
        CommandCase{"TriggerSubNine", {}, Pdo(3, 0x28), 0xFF, "** BAD_GEN_VALUE_ID **"},
        CommandCase{"ReadCommandObject", {}, Pdo(3, 0x1E), 0xFF, "** BAD_GEN_VALUE_ID **"},
        CommandCase{"TareBeyondRange",
                    {Set(ObjectWord(0x2100, 6), 1)},
                    Pdo(2, 0x01),
                    0xFF,
                    "** BAD_GEN_PARAM_VALUE **"},
        // Floating values.
        CommandCase{"Gross", {}, Pdo(2, 0x0A), 10, nullptr, kGross},
        CommandCase{"Net", {Pdo(2, 0x01), Wait(200ms)}, Pdo(2, 0x0B), 11, nullptr, kNet},
        CommandCase{"TareValue", {Pdo(2, 0x01)}, Pdo(2, 0x0C), 12, nullptr, kTare},
        CommandCase{
            "Flow", {Pdo(4, kFillStart), Wait(1500ms)}, Pdo(2, 0x0D), 13, nullptr, ObjectWord(0x2B00, 5)},
        // No SDO counterpart: both rest near the load.
        CommandCase{"Maximum", {}, Pdo(2, 0x0E), 14}, //
        CommandCase{"Minimum", {}, Pdo(2, 0x0F), 15},
        CommandCase{"CalibrationGain", {}, Pdo(2, 0x11), 17, nullptr, ObjectWord(0x2800, 3), 1e6},
        CommandCase{"GrossInteger", {}, Pdo(2, 0x12), 3, nullptr, kGross},
        // Parameters by process data.
        CommandCase{"StandardFirst", {}, Pdo(3, 0x10), 18},
        CommandCase{"StandardLast", {Pdo(1, 0x80)}, Pdo(3, 0x1F), 18},
        CommandCase{"TriggerLevel", {Set(ObjectWord(0x2500, 2), -12345)}, Pdo(3, 0x21), 38},
        CommandCase{"FillingTarget", {Set(ObjectWord(0x2200, 1), 70000)}, Pdo(3, 0x30), 6},
        CommandCase{"MassFlowTotal", {Pdo(4, kFillStart), Wait(500ms)}, Pdo(3, 0x45), 42}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(Filling, ReachesTheTargetWithTheFlowShowingOnTheWay)
{
    SimBench b;
    b.Start();
    b.Advance(500ms);
    b.Send(RpdoRequest(4, 1, 0, std::uint32_t(kFillStart) << 16));
    b.Advance(2s);
    EXPECT_NEAR(SdoValue(b, ObjectWord(0x2B00, 5)) / 1000.0, 10.0, 0.1); // the coarse rate, per second
    b.Advance(10s);
    EXPECT_EQ(SdoValue(b, kFillState), 3); // done
    const std::int32_t result = SdoValue(b, ObjectWord(0x2200, 10));
    EXPECT_NEAR(result, 50000, 500); // target within the tolerance
    EXPECT_EQ(SdoValue(b, ObjectWord(0x2200, 11)), 1);
    EXPECT_NEAR(SdoValue(b, kNet), result, 30);
}

TEST(Calibration, TwoPointsSetTheScale)
{
    SimBench b;
    b.Start();
    b.Advance(1s);
    const auto pdo = [&](int n, std::uint8_t command) {
        const auto a = SimBench::OfCode(b.Send(RpdoRequest(n, 1, 0, std::uint32_t(command) << 16)), kTpdo3);
        return a.empty() ? -1 : int(DataByte(a[0], 1));
    };
    ASSERT_EQ(pdo(2, 0x20), 0xE5);
    b.Send(SdoWriteRequest(1, ObjectWord(0x2600, 1), 0));
    b.Send(SdoWriteRequest(1, ObjectWord(0x2600, 2), 100000));
    ASSERT_EQ(pdo(2, 0x21), 0xE5); // the resting load is the 0 point
    ASSERT_EQ(pdo(4, kFillStart), 0xE5);
    b.Advance(15s);
    ASSERT_EQ(SdoValue(b, kFillState), 3);
    ASSERT_EQ(pdo(2, 0x22), 0xE5); // the filled load is the 100 point
    ASSERT_EQ(pdo(2, 0x2F), 0xE5);
    EXPECT_NEAR(SdoValue(b, kGross), 100000, 50);
    EXPECT_EQ(SdoValue(b, ObjectWord(0x2800, 4)), 1);
    EXPECT_EQ(SdoValue(b, kCalOpen), 0);
}

} // namespace
