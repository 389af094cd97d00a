#include "sim_bench.h"
#include "status_texts.h"

#include <gtest/gtest.h>

#include <map>
#include <set>

using namespace tervix;
using namespace tervix::sim;
using namespace std::chrono_literals;

namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes DataOf(const FramePacket& p)
{
    return Bytes(p.begin() + kPacketHeaderSize, p.end());
}

BusFrame Nmt(std::uint8_t command, std::uint8_t node)
{
    const std::uint8_t data[] = {command, node};
    return MakeFrame(0x000, data);
}

// --- NMT and node guarding ----------------------------------------------------

struct NmtCase {
    const char* name;
    std::vector<BusFrame> commands;
    std::uint8_t state; // guard answer without the toggle bit
    int bootUps;        // boot-up frames the commands caused
};

void PrintTo(const NmtCase& c, std::ostream* os)
{
    *os << c.name;
}

class NmtStates : public ::testing::TestWithParam<NmtCase> {};

TEST_P(NmtStates, GuardAnswersStateWithAlternatingToggle)
{
    SimBench b;
    int bootUps = 0;
    for (const BusFrame& f : GetParam().commands)
        for (const FramePacket& p : b.Send(f))
            bootUps += PacketIdentifier(p) == 0x701 && DataOf(p) == Bytes{0x00};
    EXPECT_EQ(bootUps, GetParam().bootUps);

    // The tool's guard frame: one data byte, the unit address; then a remote frame.
    const FramePacket text = GuardFrameText(1);
    BusFrame remote;
    remote.id = 0x701;
    remote.remote = true;
    const BusFrame guards[] = {*DecodePacket(RawFrameRequest(text, 0).packet),
                               *DecodePacket(RawFrameRequest(text, 3).packet), remote};
    const std::uint8_t toggles[] = {0x00, 0x80, 0x00};
    for (int i = 0; i < 3; ++i) {
        const auto answers = SimBench::OfCode(b.Send(guards[i]), kNmtHandling);
        ASSERT_EQ(answers.size(), 1u) << i;
        EXPECT_EQ(PacketIdentifier(answers[0]), 0x701u);
        EXPECT_EQ(DataOf(answers[0]), Bytes{std::uint8_t(GetParam().state | toggles[i])}) << i;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Commands, NmtStates,
    ::testing::Values(NmtCase{"AfterBoot", {}, 0x7F, 0}, NmtCase{"Start", {Nmt(0x01, 1)}, 0x05, 0},
                      NmtCase{"StartAll", {Nmt(0x01, 0)}, 0x05, 0},
                      NmtCase{"StartOtherNode", {Nmt(0x01, 2)}, 0x7F, 0},
                      NmtCase{"StartWithoutNodeByte", {MakeFrame(0, Bytes{0x01})}, 0x7F, 0},
                      NmtCase{"Stop", {Nmt(0x01, 1), Nmt(0x02, 1)}, 0x04, 0},
                      NmtCase{"PreOperational", {Nmt(0x01, 1), Nmt(0x80, 1)}, 0x7F, 0},
                      NmtCase{"ResetNode", {Nmt(0x01, 1), Nmt(0x81, 1)}, 0x7F, 1},
                      NmtCase{"ResetCommunication", {Nmt(0x02, 0), Nmt(0x82, 0)}, 0x7F, 1}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(NmtStates, FirstStepSendsBootUp)
{
    SimulatedUnit sim(SimOptions{});
    sim.Step({});
    const auto frames = sim.TakeFrames();
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_EQ(frames[0], MakeFrame(0x701, Bytes{0x00}));
}

// --- Cyclic process data --------------------------------------------------------

TEST(ProcessData, OperationalSendsTpdo1Every100msAndStopSilencesIt)
{
    SimBench b;
    // Pre-operational: no process data.
    EXPECT_TRUE(SimBench::OfCode(b.Advance(1000ms), kTpdo1).empty());

    b.Advance(50ms);
    b.Start();
    const auto second = b.Advance(1000ms);
    const auto tpdo1 = SimBench::OfCode(second, kTpdo1);
    ASSERT_EQ(tpdo1.size(), 40u); // four units, ten periods
    std::map<int, std::vector<std::uint8_t>> counters;
    std::map<int, std::set<float>> values;
    for (const FramePacket& p : tpdo1) {
        EXPECT_EQ(PacketIdentifier(p), 0x181u);
        ASSERT_EQ(p.size(), 12u);
        const int unit = DataByte(p, 6);
        counters[unit].push_back(DataByte(p, 7));
        values[unit].insert(DataFloat(p, 0));
        // A unit at rest: not in motion, nothing else set.
        EXPECT_EQ(DataU32(p, 4) & 0xFFFF, 0u);
    }
    ASSERT_EQ(counters.size(), 4u);
    for (auto& [unit, c] : counters) {
        EXPECT_EQ(c, (std::vector<std::uint8_t>{0, 1, 2, 3, 4, 5, 6, 7, 8, 9})) << unit;
        // Drifting with noise near 100 + 10 * unit, never twice the same.
        EXPECT_GT(values[unit].size(), 5u);
        for (float v : values[unit])
            EXPECT_NEAR(v, 100.0 + 10.0 * unit, 0.5);
    }
    EXPECT_EQ(SimBench::OfCode(second, kTpdo2).size(), 4u);
    const auto tpdo4 = SimBench::OfCode(second, kTpdo4);
    ASSERT_EQ(tpdo4.size(), 1u);
    EXPECT_NEAR(DataFloat(tpdo4[0], 0), 4096.0, 1.0); // reference, mV
    EXPECT_NEAR(DataI32(tpdo4[0], 4), 230, 10);       // temperature, 0.1 degC

    b.Send(NmtRequest(kNmtStop, 1));
    const auto stopped = b.Advance(2000ms);
    for (int code : {int(kTpdo1), int(kTpdo2), int(kTpdo4)})
        EXPECT_TRUE(SimBench::OfCode(stopped, code).empty()) << code;
}

TEST(ProcessData, HeartbeatCarriesTheStateWithoutToggle)
{
    SimBench b;
    ASSERT_EQ(b.Send(SdoWriteRequest(1, ObjectWord(0x1017, 0), 250)).size(), 1u);
    const auto beats = SimBench::OfCode(b.Advance(1000ms), kNmtHandling);
    ASSERT_EQ(beats.size(), 4u);
    for (const FramePacket& p : beats)
        EXPECT_EQ(DataOf(p), Bytes{0x7F});
}

TEST(ProcessData, IntegerFormatScalesByTheDecimals)
{
    SimBench b;
    b.Start();
    ASSERT_EQ(b.Send(SdoWriteRequest(1, ObjectWord(0x2101, 2), 1)).size(), 1u);
    ASSERT_EQ(b.Send(SdoWriteRequest(1, ObjectWord(0x2101, 3), 2)).size(), 1u);
    for (const FramePacket& p : SimBench::OfCode(b.Advance(300ms), kTpdo1)) {
        if (DataByte(p, 6) != 1)
            continue;
        EXPECT_NEAR(DataI32(p, 0), 11000, 50);  // 110.00 with two decimals
        EXPECT_EQ(DataU32(p, 4) & 0x10, 0x10u); // integer bit of the status word
    }
}

// --- SDO server -------------------------------------------------------------------

struct SdoCase {
    const char* name;
    Bytes request; // data bytes of the request on 0x601
    Bytes answer;  // data bytes on 0x581
};

void PrintTo(const SdoCase& c, std::ostream* os)
{
    *os << c.name;
}

class SdoServer : public ::testing::TestWithParam<SdoCase> {};

TEST_P(SdoServer, AnswersAsCanopenSays)
{
    SimBench b;
    const auto answers = b.Send(MakeFrame(0x601, GetParam().request));
    ASSERT_EQ(answers.size(), 1u);
    EXPECT_EQ(PacketIdentifier(answers[0]), 0x581u);
    EXPECT_EQ(DataOf(answers[0]), GetParam().answer);
}

Bytes Read(std::uint16_t index, std::uint8_t sub)
{
    return DataOf(SdoReadRequest(1, ObjectWord(index, sub)).packet);
}

Bytes Write(std::uint16_t index, std::uint8_t sub, std::int32_t value)
{
    return DataOf(SdoWriteRequest(1, ObjectWord(index, sub), value).packet);
}

INSTANTIATE_TEST_SUITE_P(
    Objects, SdoServer,
    ::testing::Values(
        SdoCase{"DeviceType", Read(0x1000, 0), {0x43, 0x00, 0x10, 0x00, 0x00, 0x00, 0x04, 0x00}},
        SdoCase{"ErrorRegister", Read(0x1001, 0), {0x4F, 0x01, 0x10, 0x00, 0x00, 0x00, 0x00, 0x00}},
        SdoCase{"DeviceStatus", Read(0x1002, 0), {0x43, 0x02, 0x10, 0x00, 0x02, 0x00, 0x00, 0x00}},
        // Texts beyond four bytes: segmented, the size indicated.
        SdoCase{"DeviceName", Read(0x1008, 0), {0x41, 0x08, 0x10, 0x00, 0x11, 0x00, 0x00, 0x00}},
        SdoCase{"HardwareVersion", Read(0x1009, 0), {0x41, 0x09, 0x10, 0x00, 0x10, 0x00, 0x00, 0x00}},
        SdoCase{"SoftwareVersion", Read(0x100A, 0), {0x41, 0x0A, 0x10, 0x00, 0x11, 0x00, 0x00, 0x00}},
        SdoCase{"UserTextEmpty", Read(0x2000, 0), {0x41, 0x00, 0x20, 0x00, 0x00, 0x00, 0x00, 0x00}},
        SdoCase{"StructureOfUserText", Read(0x2000, 0xFF), {0x43, 0x00, 0x20, 0xFF, 0x00, 0x00, 0x09, 0x07}},
        SdoCase{"Heartbeat", Read(0x1017, 0), {0x4B, 0x17, 0x10, 0x00, 0x00, 0x00, 0x00, 0x00}},
        SdoCase{"IdentityCount", Read(0x1018, 0), {0x4F, 0x18, 0x10, 0x00, 0x04, 0x00, 0x00, 0x00}},
        SdoCase{"IdentitySerial", Read(0x1018, 4), {0x43, 0x18, 0x10, 0x04, 0x01, 0x00, 0x00, 0x00}},
        SdoCase{"Capacity", Read(0x2101, 1), {0x43, 0x01, 0x21, 0x01, 0xB8, 0x0B, 0x00, 0x00}},
        SdoCase{"StandardCount", Read(0x2100, 0), {0x4F, 0x00, 0x21, 0x00, 0x10, 0x00, 0x00, 0x00}},
        SdoCase{"TriggerCount", Read(0x2503, 0), {0x4F, 0x03, 0x25, 0x00, 0x08, 0x00, 0x00, 0x00}},
        SdoCase{"FillingCount", Read(0x2202, 0), {0x4F, 0x02, 0x22, 0x00, 0x0C, 0x00, 0x00, 0x00}},
        SdoCase{"MassFlowCount", Read(0x2B00, 0), {0x4F, 0x00, 0x2B, 0x00, 0x06, 0x00, 0x00, 0x00}},
        SdoCase{"CalibrationMass", Read(0x2600, 2), {0x43, 0x00, 0x26, 0x02, 0x40, 0x42, 0x0F, 0x00}},
        SdoCase{"CalibrationGain", Read(0x2803, 3), {0x43, 0x03, 0x28, 0x03, 0xE8, 0x03, 0x00, 0x00}},
        SdoCase{"Firmware", Read(0x2900, 8), {0x4B, 0x00, 0x29, 0x08, 0x02, 0x01, 0x00, 0x00}},
        SdoCase{"Hardware", Read(0x2900, 9), {0x4B, 0x00, 0x29, 0x09, 0x03, 0x00, 0x00, 0x00}},
        SdoCase{"StructureOfArray", Read(0x2100, 0xFF), {0x43, 0x00, 0x21, 0xFF, 0x00, 0x00, 0x04, 0x08}},
        SdoCase{"StructureOfVariable", Read(0x1008, 0xFF), {0x43, 0x08, 0x10, 0xFF, 0x00, 0x00, 0x09, 0x07}},
        SdoCase{"StructureOfRecord", Read(0x1018, 0xFF), {0x43, 0x18, 0x10, 0xFF, 0x00, 0x00, 0x23, 0x09}},
        SdoCase{"WriteTaken", Write(0x2101, 1, 2000), {0x60, 0x01, 0x21, 0x01, 0x00, 0x00, 0x00, 0x00}},
        SdoCase{"WriteTwoByteSized",
                {0x2B, 0x17, 0x10, 0x00, 0xE8, 0x03, 0x00, 0x00},
                {0x60, 0x17, 0x10, 0x00, 0x00, 0x00, 0x00, 0x00}},
        SdoCase{"WriteOneByteSized",
                {0x2F, 0x00, 0x21, 0x02, 0x01, 0xFF, 0xFF, 0xFF},
                {0x60, 0x00, 0x21, 0x02, 0x00, 0x00, 0x00, 0x00}},
        // Aborts, code with data byte 4 most significant.
        SdoCase{"NoObject", Read(0x3000, 0), {0x80, 0x00, 0x30, 0x00, 0x06, 0x02, 0x00, 0x00}},
        SdoCase{"UnitNotHosted", Read(0x2104, 1), {0x80, 0x04, 0x21, 0x01, 0x06, 0x02, 0x00, 0x00}},
        SdoCase{"NoSubIndex", Read(0x2100, 17), {0x80, 0x00, 0x21, 0x11, 0x06, 0x09, 0x00, 0x11}},
        SdoCase{"NoSubOfVariable", Read(0x1000, 1), {0x80, 0x00, 0x10, 0x01, 0x06, 0x09, 0x00, 0x11}},
        SdoCase{"NoSubOfVersions", Read(0x2900, 1), {0x80, 0x00, 0x29, 0x01, 0x06, 0x09, 0x00, 0x11}},
        SdoCase{"ReadWriteOnly", Read(0x2100, 15), {0x80, 0x00, 0x21, 0x0F, 0x06, 0x01, 0x00, 0x01}},
        SdoCase{"WriteReadOnly", Write(0x2100, 11, 5), {0x80, 0x00, 0x21, 0x0B, 0x06, 0x01, 0x00, 0x02}},
        SdoCase{"WriteDeviceType", Write(0x1000, 0, 5), {0x80, 0x00, 0x10, 0x00, 0x06, 0x01, 0x00, 0x02}},
        SdoCase{"WriteVersion", Write(0x2900, 8, 5), {0x80, 0x00, 0x29, 0x08, 0x06, 0x01, 0x00, 0x02}},
        SdoCase{"WriteSubCount", Write(0x2500, 0, 5), {0x80, 0x00, 0x25, 0x00, 0x06, 0x01, 0x00, 0x02}},
        SdoCase{"WriteMissing", Write(0x2200, 13, 5), {0x80, 0x00, 0x22, 0x0D, 0x06, 0x09, 0x00, 0x11}},
        SdoCase{"WriteOutOfRange", Write(0x2100, 6, 101), {0x80, 0x00, 0x21, 0x06, 0x08, 0x00, 0x00, 0x22}},
        SdoCase{
            "WriteCalibrationClosed", Write(0x2600, 1, 5), {0x80, 0x00, 0x26, 0x01, 0x08, 0x00, 0x00, 0x22}},
        SdoCase{"SegmentedToReadOnlyText",
                {0x21, 0x08, 0x10, 0x00, 0x10, 0x00, 0x00, 0x00},
                {0x80, 0x08, 0x10, 0x00, 0x06, 0x01, 0x00, 0x02}},
        SdoCase{"SegmentedToNumericEntry",
                {0x21, 0x01, 0x21, 0x01, 0x04, 0x00, 0x00, 0x00},
                {0x80, 0x01, 0x21, 0x01, 0x06, 0x07, 0x00, 0x10}},
        SdoCase{"BlockUploadNotOffered",
                {0xA0, 0x08, 0x10, 0x00, 0x7F, 0x00, 0x00, 0x00},
                {0x80, 0x08, 0x10, 0x00, 0x05, 0x04, 0x00, 0x01}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(SdoServer, SilentWhileStopped)
{
    SimBench b;
    b.Send(NmtRequest(kNmtStop, 1));
    EXPECT_TRUE(b.Send(SdoReadRequest(1, ObjectWord(0x1000, 0))).empty());
}

// A refused write names its reason in object 0x1002, as the tool reads it.
struct RefusalCase {
    std::uint32_t object;
    std::int32_t value;
    const char* status;
};

void PrintTo(const RefusalCase& c, std::ostream* os)
{
    *os << std::hex << c.object << "=" << std::dec << c.value;
}

class Refusals : public ::testing::TestWithParam<RefusalCase> {};

TEST_P(Refusals, DeviceStatusTellsWhy)
{
    SimBench b;
    const auto abort = b.Send(SdoWriteRequest(1, GetParam().object, GetParam().value));
    ASSERT_EQ(abort.size(), 1u);
    EXPECT_EQ(DataByte(abort[0], 0), 0x80);
    EXPECT_EQ(DataByte(abort[0], 4), 0x08); // the tool then asks 0x1002
    const auto status = b.Send(SdoReadRequest(1, kDeviceStatusKey));
    ASSERT_EQ(status.size(), 1u);
    EXPECT_EQ(ObjectKey(status[0]), kDeviceStatusKey);
    EXPECT_EQ(SdoStatusText(DataByte(status[0], 4)), GetParam().status);
}

INSTANTIATE_TEST_SUITE_P(Objects, Refusals,
                         ::testing::Values(RefusalCase{ObjectWord(0x2100, 3), 5, "BAD GEN PARAM VALUE"},
                                           RefusalCase{ObjectWord(0x2201, 7), 0, "BAD FILL PARAM VALUE"},
                                           RefusalCase{ObjectWord(0x2502, 1), 3, "BAD Trig Param Value"},
                                           RefusalCase{ObjectWord(0x2B03, 1), 50, "BAD Mass Param Value"},
                                           RefusalCase{ObjectWord(0x2600, 1), 10, "CAL NOT OPEN"},
                                           RefusalCase{ObjectWord(0x1017, 0), 70000, "Value Not In Range"}));

TEST(Refusals, CommandObjectRefusesTareBeyondTheTareRange)
{
    SimBench b;
    b.Advance(500ms);
    EXPECT_EQ(DataByte(b.Send(SdoWriteRequest(1, ObjectWord(0x2100, 15), 1)).at(0), 0), 0x60);
    ASSERT_EQ(DataByte(b.Send(SdoWriteRequest(1, ObjectWord(0x2100, 6), 0)).at(0), 0), 0x60);
    EXPECT_EQ(DataByte(b.Send(SdoWriteRequest(1, ObjectWord(0x2100, 15), 1)).at(0), 4), 0x08);
    EXPECT_EQ(SdoStatusText(DataByte(b.Send(SdoReadRequest(1, kDeviceStatusKey)).at(0), 4)),
              "BAD GEN PARAM VALUE");
}

// --- Abort byte order -------------------------------------------------------------

struct OrderCase {
    bool standard;
    std::uint32_t object;
    bool write;
    Bytes code;       // data bytes 4..7
    const char* text; // as the tool shows it
};

void PrintTo(const OrderCase& c, std::ostream* os)
{
    *os << (c.standard ? "standard " : "unit ") << std::hex << c.object;
}

class AbortOrder : public ::testing::TestWithParam<OrderCase> {};

TEST_P(AbortOrder, CodeBytesAndTheToolsReading)
{
    SimOptions o;
    o.abortOrderStandard = GetParam().standard;
    SimBench b(o);
    const Request r =
        GetParam().write ? SdoWriteRequest(1, GetParam().object, 1) : SdoReadRequest(1, GetParam().object);
    const auto answer = b.Send(r);
    ASSERT_EQ(answer.size(), 1u);
    EXPECT_EQ(Bytes(answer[0].begin() + 8, answer[0].end()), GetParam().code);
    EXPECT_EQ(AbortMessageText(SdoAbortMessage(answer[0])), GetParam().text);
}

INSTANTIATE_TEST_SUITE_P(
    Orders, AbortOrder,
    ::testing::Values(
        OrderCase{false,
                  ObjectWord(0x3000, 0),
                  false,
                  {0x06, 0x02, 0x00, 0x00},
                  "Object does not exist in the object dictionary\r06020000"},
        OrderCase{true,
                  ObjectWord(0x3000, 0),
                  false,
                  {0x00, 0x00, 0x02, 0x06},
                  "Object does not exist in the object dictionary\r06020000"},
        OrderCase{true,
                  ObjectWord(0x2100, 15),
                  false,
                  {0x01, 0x00, 0x01, 0x06},
                  "Attempt to read a write only object\r06010001"},
        // A refusal: the tool reads 0x1002 on data byte 4 = 0x08, so only the unit's order works.
        OrderCase{false,
                  ObjectWord(0x2600, 1),
                  true,
                  {0x08, 0x00, 0x00, 0x22},
                  " 08 B0 20 80 00 26 01 08 00 00 22\r08000022"},
        OrderCase{true,
                  ObjectWord(0x2600, 1),
                  true,
                  {0x22, 0x00, 0x00, 0x08},
                  " 08 B0 20 80 00 26 01 22 00 00 08\r22000008"}));

// --- Persistence -------------------------------------------------------------------

TEST(Persistence, WritesOutliveResets)
{
    SimBench b;
    b.Send(SdoWriteRequest(1, ObjectWord(0x2102, 1), 2500));
    // A sized two-byte write of -1000 to a signed parameter.
    b.Send(MakeFrame(0x601, Bytes{0x2B, 0x00, 0x25, 0x02, 0x18, 0xFC, 0x00, 0x00}));
    const auto boot = b.Send(Nmt(0x81, 1));
    ASSERT_EQ(boot.size(), 1u);
    EXPECT_EQ(DataOf(boot[0]), Bytes{0x00});
    b.Send(Nmt(0x82, 0));

    const auto read = [&](std::uint16_t index, std::uint8_t sub) {
        const auto a = b.Send(SdoReadRequest(1, ObjectWord(index, sub)));
        return a.size() == 1 ? DataI32(a[0], 4) : -1;
    };
    EXPECT_EQ(read(0x2102, 1), 2500);
    EXPECT_EQ(read(0x2103, 1), 3000); // one object per unit
    EXPECT_EQ(read(0x2500, 2), -1000);
}

// --- Faults on request ---------------------------------------------------------------

TEST(Faults, SilentUnitSendsNoTpdo1)
{
    SimOptions o;
    o.silentUnit = 2;
    SimBench b(o);
    b.Start();
    std::set<int> heard;
    for (const FramePacket& p : SimBench::OfCode(b.Advance(1000ms), kTpdo1))
        heard.insert(DataByte(p, 6));
    EXPECT_EQ(heard, (std::set<int>{0, 1, 3}));
}

TEST(Faults, AbortObjectAnswersOnlyThatObject)
{
    auto o = ParseSimOptions("abort=2101.03:06040047");
    ASSERT_TRUE(o);
    SimBench b(*o);
    for (const Request& r :
         {SdoReadRequest(1, ObjectWord(0x2101, 3)), SdoWriteRequest(1, ObjectWord(0x2101, 3), 1)})
        EXPECT_EQ(DataOf(b.Send(r).at(0)), (Bytes{0x80, 0x01, 0x21, 0x03, 0x06, 0x04, 0x00, 0x47}));
    EXPECT_EQ(DataByte(b.Send(SdoReadRequest(1, ObjectWord(0x2101, 2))).at(0), 0), 0x43);
}

TEST(Faults, DelayHoldsAnswersBack)
{
    SimOptions o;
    o.answerDelay = 50ms;
    SimBench b(o);
    EXPECT_TRUE(b.Send(SdoReadRequest(1, ObjectWord(0x1000, 0))).empty());
    EXPECT_TRUE(b.Advance(49ms).empty());
    EXPECT_EQ(b.Advance(1ms).size(), 1u);
}

struct DropRun {
    std::vector<FramePacket> frames;
    std::uint64_t dropped;
    std::size_t bootUps; // 0 when the boot-up frame was dropped
};

DropRun TwentySeconds(std::uint64_t seed, double drop)
{
    SimOptions o;
    o.seed = seed;
    o.dropShare = drop;
    SimBench b(o);
    b.Start();
    auto frames = b.Advance(20s);
    return {frames, b.sim.DroppedFrames(), b.bootUp.size()};
}

TEST(Faults, DropShareIsReproducibleForASeed)
{
    const auto all = TwentySeconds(7, 0.0).frames;
    const DropRun run = TwentySeconds(7, 0.3);
    EXPECT_EQ(TwentySeconds(7, 0.3).frames, run.frames);
    EXPECT_NE(TwentySeconds(8, 0.3).frames, run.frames);
    // The losses do not disturb what the node does, only what leaves it.
    EXPECT_EQ(run.frames.size() + run.dropped + run.bootUps, all.size() + 1);
    EXPECT_NEAR(double(run.frames.size()) / double(all.size()), 0.7, 0.05);
}

} // namespace
