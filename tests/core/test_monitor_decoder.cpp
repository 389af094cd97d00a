// The monitor's decisions without a window: what each received message does
// to the counters, the log, the value boxes and the data page texts, which
// messages it raises, and the exact bytes and log lines of every request.
// Expected bytes and texts are worked out by hand from the frame layout.
#include "monitor_decoder.h"
#include "parameter_pages.h"

#include <gtest/gtest.h>

#include <bit>
#include <cstdio>
#include <functional>
#include <map>
#include <ostream>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

using namespace tervix;
using namespace std::chrono_literals;

namespace {

using Bytes = std::vector<std::uint8_t>;
using Lines = std::vector<std::string>;

Bytes Frame(unsigned id, Bytes data, std::uint8_t flags = 0)
{
    Bytes m = MakePacket(id, data);
    m[1] |= flags;
    return m;
}

Bytes I32(std::int32_t v)
{
    const auto u = static_cast<std::uint32_t>(v);
    return {std::uint8_t(u), std::uint8_t(u >> 8), std::uint8_t(u >> 16), std::uint8_t(u >> 24)};
}

Bytes F32(float v)
{
    return I32(std::bit_cast<std::int32_t>(v));
}

Bytes Cat(Bytes a, const Bytes& b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

const Bytes kNan = {0x00, 0x00, 0xC0, 0x7F};

Bytes Tpdo1(std::uint8_t unit, Bytes value, std::uint8_t s4 = 0, std::uint8_t s5 = 0, std::uint8_t s7 = 0)
{
    return Frame(0x181, Cat(std::move(value), {s4, s5, unit, s7}));
}

Bytes Tpdo1(std::uint8_t unit, float value, std::uint8_t s4 = 0, std::uint8_t s5 = 0, std::uint8_t s7 = 0)
{
    return Tpdo1(unit, F32(value), s4, s5, s7);
}

Bytes SdoAnswer(std::uint8_t command, std::uint16_t index, std::uint8_t sub, std::int32_t value)
{
    return Frame(0x581, Cat({command, std::uint8_t(index), std::uint8_t(index >> 8), sub}, I32(value)));
}

// Cells of the four parameter pages, by page and sub-index.
class FakePages : public ParameterPages {
public:
    using Cells = std::vector<std::pair<int, int>>;
    int CellCount(int page) const override { return counts.at(static_cast<std::size_t>(page)); }
    bool StoreValue(int page, int sub, std::int32_t value) override
    {
        return Has(page, sub) && (values[{page, sub}] = value, true);
    }
    bool MarkFailed(int page, int sub) override { return Note(failed, page, sub); }
    bool EnableEdit(int page, int sub) override { return Note(enabled, page, sub); }

    std::array<int, 4> counts{12, 3, 4, 2};
    std::map<std::pair<int, int>, std::int32_t> values;
    Cells failed;
    Cells enabled;

private:
    bool Has(int page, int sub) const { return sub >= 1 && sub <= CellCount(page); }
    bool Note(Cells& cells, int page, int sub) const
    {
        return Has(page, sub) && (cells.emplace_back(page, sub), true);
    }
};

struct Said {
    std::string caption;
    std::string text;
    friend bool operator==(const Said&, const Said&) = default;
    friend void PrintTo(const Said& s, std::ostream* os) { *os << s.caption << ": " << s.text; }
};

// The decoder as the window sets it up: node 1 ("CAN Addr" shows 1 at
// start), unit address 0, the parameter pages attached.
class DecoderTest : public ::testing::Test {
protected:
    DecoderTest()
    {
        decoder.SetNode(1);
        decoder.SetParameterPages(&pages);
        decoder.SetClient(&client);
    }

    Status Send(const BusFrame& f)
    {
        ++sendAttempts;
        if (failSend)
            return Status::Failed("ie_NOpen - device not open");
        sent.push_back(EncodePacket(f));
        return {};
    }
    MonitorDecoder::Outputs Record()
    {
        MonitorDecoder::Outputs o;
        o.send = [this](const BusFrame& f) { return Send(f); };
        o.sendFailed = [this](std::string_view why) { failures.emplace_back(why); };
        o.log = [this](std::string_view line) { log.emplace_back(line); };
        o.message = [this](std::string_view caption, std::string_view text) {
            said.push_back({std::string(caption), std::string(text)});
        };
        o.unitAddressReset = [this] { ++unitResets; };
        return o;
    }
    // As the window hands a message on: to the decoder, then to the client.
    void Receive(const Bytes& m)
    {
        decoder.FrameReceived(m, clock.Now());
        if (const auto frame = DecodePacket(m))
            client.Receive(*frame, clock.Now());
    }
    std::string Shown(DataField f) const { return decoder.Text(f).Text(); }
    std::string LastLog() const { return log.empty() ? std::string() : log.back(); }

    ManualClock clock;
    FakePages pages;
    std::vector<FramePacket> sent;
    int sendAttempts = 0;
    bool failSend = false;
    Lines log;
    std::vector<Said> said;
    int unitResets = 0;
    Lines failures;
    MonitorDecoder decoder{Record(), clock.Now()};
    CanopenClient client{[this](unsigned, const BusFrame& f, const SdoOutgoing& o) {
        Status sent = Send(f);
        if (sent)
            decoder.LogSdoFrame(f, o);
        return sent;
    }};
};

// --- Received messages: counting and the log -------------------------------------

TEST_F(DecoderTest, OneByteMessageIsIgnored)
{
    Receive({0x7E});
    Receive({'A'});
    EXPECT_TRUE(log.empty());
    for (int code = 0; code < kFunctionCodeCount; ++code)
        EXPECT_EQ(decoder.Count(code), 0u) << code;
}

TEST_F(DecoderTest, LoggedKindsAndCounters)
{
    Receive(Frame(0x080, {}));
    Receive(Frame(0x081, {0x10, 0x20}));
    Receive(Frame(0x705, {}, kFlagRemote));
    Receive(Frame(0x000, {0x01, 0x05}));
    Receive(Frame(0x100, {0xAA}, kFlagExtended));
    Receive({'O', 'K', 0x0D});
    Receive(Frame(0x201, {1, 2, 3, 4}));
    EXPECT_EQ(log, (Lines{
                       "SFF: SYNC  addr=00 Data= ",
                       "SFF: EMERGENCY addr=01 Data= 10 20 ",
                       "SFF: RTR NMT Handling addr=05 Data= ",
                       "SFF: NMT   addr=00 Data= 01 05 ",
                       "EFF: TIME  addr=00 Data= AA ",
                       "OK",
                       "SFF: RPDO1 addr=01 Data= 01 02 03 04 ",
                   }));
    EXPECT_EQ(decoder.Count(kSyncEmergency), 2u);
    EXPECT_EQ(decoder.Count(kNmtHandling), 1u);
    EXPECT_EQ(decoder.Count(kNmt), 1u); // adapter text is not counted
    EXPECT_EQ(decoder.Count(kTime), 1u);
    EXPECT_EQ(decoder.Count(kRpdo1), 1u);
    EXPECT_TRUE(sent.empty());
}

// With `logEntry` set, every line carries what the log shows and filters by;
// the plain `log` is left alone.
struct Entry {
    std::string line;
    LogDirection direction;
    int functionCode;
    int node;
    bool receiveTime = false; // carries the time the message was received
    friend bool operator==(const Entry&, const Entry&) = default;
    friend void PrintTo(const Entry& e, std::ostream* os)
    {
        *os << e.line << " dir=" << int(e.direction) << " fc=" << e.functionCode << " node=" << e.node
            << " received=" << e.receiveTime;
    }
};

TEST(DecoderLogEntries, DirectionFunctionNodeAndReceiveTime)
{
    std::vector<Entry> entries;
    int plainLines = 0;
    MonitorDecoder::Outputs o;
    o.send = [](const BusFrame&) { return Status(); };
    o.log = [&](std::string_view) { ++plainLines; };
    ManualClock clock;
    const TimePoint received = clock.Now() - 5ms; // a driver's time, before the handling
    o.logEntry = [&](const LogEntry& e) {
        EXPECT_TRUE(!e.at || *e.at == received) << e.line;
        entries.push_back({std::string(e.line), e.direction, e.functionCode, e.node, e.at.has_value()});
    };
    MonitorDecoder decoder(std::move(o), clock.Now());
    CanopenClient client([&](unsigned, const BusFrame& f, const SdoOutgoing& about) {
        decoder.LogSdoFrame(f, about);
        return Status();
    });
    decoder.SetClient(&client);
    decoder.SetNode(3);
    decoder.SetUnitAddress(2);

    decoder.FrameReceived(Frame(0x081, {0x10, 0x20}), received);
    decoder.FrameReceived(Frame(0x000, {0x01, 0x05}), received);
    decoder.FrameReceived(Frame(0x705, {}, kFlagRemote), received);
    decoder.FrameReceived(Bytes{'O', 'K', 0x0D}, received);
    decoder.FrameReceived(Tpdo1(64, 1.0f), received);
    decoder.NmtStart();
    decoder.SdoRead(ObjectWord(0x1002, 0), clock.Now());
    decoder.SetGuarding(true);
    decoder.GuardTick();

    using enum LogDirection;
    EXPECT_EQ(entries, (std::vector<Entry>{
                           {"SFF: EMERGENCY addr=01 Data= 10 20 ", Rx, 1, 1, true},
                           {"SFF: NMT   addr=00 Data= 01 05 ", Rx, 0, 5, true}, // the node it addresses
                           {"SFF: RTR NMT Handling addr=05 Data= ", Rx, 14, 5, true},
                           {"OK", Text, 0, -1, true},
                           {"TPD01(64)", Rx, 3, 1, true},
                           {"NMT Start", Tx, 0, 3},
                           {"Tx: SDO(1002sub00)", Tx, 12, 3},
                           // Guarding node 3 (0x703 << 5 = E0 60) with unit address 2.
                           {"Tx:( 01 E0 60 02 )", Tx, 14, 3},
                       }));
    EXPECT_EQ(plainLines, 0);
}

TEST_F(DecoderTest, ProcessDataAndSdoFramesStayOutOfTheLog)
{
    Receive(Tpdo1(1, 1.0f));
    Receive(Frame(0x281, {1, 2, 3, 4}));
    Receive(Frame(0x381, {0, 0, 0, 0}));
    Receive(Frame(0x481, {0, 0, 0, 0}));
    Receive(Frame(0x581, {0x60, 0x05, 0x21, 0x03, 0, 0, 0, 0}));
    Receive(Frame(0x601, {0x40, 0x05, 0x21, 0x03, 0, 0, 0, 0}));
    EXPECT_TRUE(log.empty());
    for (int code : {kTpdo1, kTpdo2, kTpdo3, kTpdo4, kTsdo, kRsdo})
        EXPECT_EQ(decoder.Count(code), 1u) << code;
}

// --- Value boxes --------------------------------------------------------------------

TEST_F(DecoderTest, Tpdo1FillsItsBoxAndAgesTheLowBoxes)
{
    Receive(Tpdo1(3, 12.25f, 0x34, 0x12, 0x0F));
    EXPECT_EQ(decoder.Boxes().Box(3).value, "12.250");
    EXPECT_EQ(decoder.Boxes().Box(3).status, "1234 0F");
    EXPECT_TRUE(decoder.Boxes().Box(3).dirty);
    Receive(Tpdo1(40, -1.5f));
    for (int i = 0; i < 22; ++i)
        Receive(Tpdo1(41, 1.0f));
    EXPECT_EQ(decoder.Boxes().Box(3).value, "12.250"); // 23 further frames
    Receive(Tpdo1(42, 1.0f));
    EXPECT_EQ(decoder.Boxes().Box(3).value, ""); // the 24th clears it
    EXPECT_EQ(decoder.Boxes().Box(3).status, "1234 0F");
    EXPECT_EQ(decoder.Boxes().Box(40).value, "-1.500"); // boxes 32..63 keep their value
}

TEST_F(DecoderTest, Tpdo1ForBox64IsLoggedAndStillAges)
{
    Receive(Tpdo1(0, 2.0f));
    for (int i = 0; i < 23; ++i)
        Receive(Tpdo1(static_cast<std::uint8_t>(64 + i % 3), 1.0f));
    EXPECT_EQ(decoder.Boxes().Box(0).value, "2.000");
    Receive(Tpdo1(200, 1.0f));
    EXPECT_EQ(decoder.Boxes().Box(0).value, "");
    ASSERT_EQ(log.size(), 24u);
    EXPECT_EQ(log.front(), "TPD01(64)");
    EXPECT_EQ(log[2], "TPD01(66)");
    EXPECT_EQ(log.back(), "TPD01(200)");
    EXPECT_EQ(decoder.Count(kTpdo1), 25u);
}

TEST_F(DecoderTest, ShortTpdo1ReadsMissingBytesAsZero)
{
    Receive(Frame(0x181, F32(7.0f))); // 4 data bytes: box 0
    EXPECT_EQ(decoder.Boxes().Box(0).value, "7.000");
    EXPECT_EQ(decoder.Boxes().Box(0).status, "0000 00");
    Receive(Frame(0x181, {})); // no data at all: 0.0 in box 0
    EXPECT_EQ(decoder.Boxes().Box(0).value, "0.000");
}

TEST_F(DecoderTest, DecimalSeparatorReachesBoxesAndPage)
{
    MonitorDecoder comma({}, clock.Now(), ',');
    comma.FrameReceived(Tpdo1(0, 1.5f), clock.Now());
    EXPECT_EQ(comma.Boxes().Box(0).value, "1,500");
    EXPECT_EQ(comma.Text(DataField::Gross1).Text(), "1,500");
    EXPECT_EQ(comma.Text(DataField::GrossMax).Text(), "1,500");
}

// --- The data page ------------------------------------------------------------------

TEST_F(DecoderTest, Tpdo1RowFollowsTheSelectedUnitOnly)
{
    decoder.SetUnitAddress(3);
    Receive(Tpdo1(4, 9.0f));
    EXPECT_EQ(Shown(DataField::Gross1), "");
    EXPECT_EQ(Shown(DataField::Tpdo1Line), "edbxTPDO1");
    EXPECT_EQ(decoder.Boxes().Box(4).value, "9.000"); // its box still shows it
    Receive(Tpdo1(3, -2.5f));
    EXPECT_EQ(Shown(DataField::Gross1), "-2.500");
    EXPECT_EQ(Shown(DataField::Tpdo1Line), "SFF: TPDO1 addr=01 Data= 00 00 20 C0 00 00 03 00 ");
    EXPECT_EQ(Shown(DataField::Tpdo1Count), "2");
    EXPECT_EQ(Shown(DataField::GrossMax), "-2.500");
    EXPECT_EQ(Shown(DataField::GrossMin), "-2.500");
    Receive(Tpdo1(3, 4.0f));
    EXPECT_EQ(Shown(DataField::GrossMax), "4.000");
    EXPECT_EQ(Shown(DataField::GrossMin), "-2.500");
    EXPECT_EQ(decoder.GrossMax(), 4.0);
    EXPECT_EQ(decoder.GrossMin(), -2.5);

    // The row compares the address's low byte, also for units without a box.
    decoder.SetUnitAddress(0x183);
    Receive(Tpdo1(0x83, 5.0f));
    EXPECT_EQ(Shown(DataField::Gross1), "5.000");
    EXPECT_EQ(log, Lines{"TPD01(131)"});
}

TEST_F(DecoderTest, MaxMinAfterClearTakeTheFirstValueEvenIfNegativeOrZero)
{
    for (float first : {-5.0f, 0.0f}) {
        Receive(Tpdo1(0, 100.0f));
        decoder.ClearMaxMin();
        EXPECT_EQ(Shown(DataField::GrossMax), "0");
        EXPECT_EQ(Shown(DataField::GrossMin), "0");
        EXPECT_FALSE(decoder.MaxSet());
        EXPECT_FALSE(decoder.MinSet());
        Receive(Tpdo1(0, first));
        const std::string expected = first < 0 ? "-5.000" : "0.000";
        EXPECT_EQ(Shown(DataField::GrossMax), expected);
        EXPECT_EQ(Shown(DataField::GrossMin), expected);
        EXPECT_EQ(decoder.GrossMax(), first);
        EXPECT_EQ(decoder.GrossMin(), first);
        EXPECT_TRUE(decoder.MaxSet());
        EXPECT_TRUE(decoder.MinSet());
    }
}

TEST_F(DecoderTest, NanLeavesTheRunningExtremesAlone)
{
    Receive(Tpdo1(0, 2.0f));
    Receive(Tpdo1(0, kNan));
    Receive(Tpdo1(0, 3.0f));
    EXPECT_EQ(Shown(DataField::GrossMax), "3.000");
    EXPECT_EQ(Shown(DataField::GrossMin), "2.000");
}

TEST_F(DecoderTest, IntegerModeAndOtherRows)
{
    decoder.SetIntegerValues(true);
    Receive(Tpdo1(0, I32(-1234567)));
    EXPECT_EQ(Shown(DataField::Gross1), "-1234567");
    EXPECT_EQ(Shown(DataField::GrossMax), "-1.23457E+06");
    Receive(Tpdo1(0, I32(250)));
    EXPECT_EQ(Shown(DataField::GrossMax), "250");
    EXPECT_EQ(Shown(DataField::GrossMin), "-1.23457E+06");

    Receive(Frame(0x281, I32(-42)));
    EXPECT_EQ(Shown(DataField::Gross2), "-42");
    EXPECT_EQ(Shown(DataField::Tpdo2Count), "1");
    decoder.SetIntegerValues(false);
    Receive(Frame(0x281, F32(0.5f)));
    EXPECT_EQ(Shown(DataField::Gross2), "0.500");
    EXPECT_EQ(Shown(DataField::Tpdo2Line), "SFF: TPDO2 addr=01 Data= 00 00 00 3F ");

    decoder.SetIntegerValues(true); // the TPDO4 row ignores the mode
    Receive(Frame(0x481, Cat(F32(3.14159f), I32(-25))));
    EXPECT_EQ(Shown(DataField::Vref), "3.14");
    EXPECT_EQ(Shown(DataField::Vtemp), "-25");
    EXPECT_EQ(Shown(DataField::Tpdo4Count), "1");
    EXPECT_EQ(Shown(DataField::Tpdo4Line), "SFF: TPDO4 addr=01 Data= D0 0F 49 40 E7 FF FF FF ");
}

TEST_F(DecoderTest, ClearRowsResetTheirTextsAndCounters)
{
    Receive(Tpdo1(0, 1.0f));
    Receive(Frame(0x281, F32(1.0f)));
    Receive(Frame(0x381, {0, 0xE5, 0, 0}));
    Receive(Frame(0x481, Bytes(8, 0)));
    for (int row = 0; row < 4; ++row)
        decoder.ClearRow(row);
    EXPECT_EQ(Shown(DataField::Tpdo1Line), "edbxTPDO1");
    EXPECT_EQ(Shown(DataField::Tpdo2Line), "edbxTPDO2");
    EXPECT_EQ(Shown(DataField::Tpdo3Line), "edbxTPDO3");
    EXPECT_EQ(Shown(DataField::Tpdo4Line), "edbxTPDO4");
    for (DataField f :
         {DataField::Gross1, DataField::Gross2, DataField::Value3, DataField::Vref, DataField::Vtemp})
        EXPECT_EQ(Shown(f), "") << static_cast<int>(f);
    for (DataField f :
         {DataField::Tpdo1Count, DataField::Tpdo2Count, DataField::Tpdo3Count, DataField::Tpdo4Count})
        EXPECT_EQ(Shown(f), "0") << static_cast<int>(f);
    for (int code : {kTpdo1, kTpdo2, kTpdo3, kTpdo4})
        EXPECT_EQ(decoder.Count(code), 0u) << code;
    EXPECT_EQ(Shown(DataField::GrossMax), "1.000"); // not a row's
}

// --- TPDO3 answers --------------------------------------------------------------------

struct Tpdo3Case {
    const char* name;
    Bytes data;
    const char* value3;
};

void PrintTo(const Tpdo3Case& c, std::ostream* os)
{
    *os << c.name;
}

class Tpdo3Responses : public DecoderTest, public ::testing::WithParamInterface<Tpdo3Case> {};

TEST_P(Tpdo3Responses, ShowTheValueOrTheAnswerText)
{
    Receive(Frame(0x381, GetParam().data));
    EXPECT_EQ(Shown(DataField::Value3), GetParam().value3);
    EXPECT_EQ(Shown(DataField::Tpdo3Count), "1");
    EXPECT_TRUE(said.empty());
    EXPECT_TRUE(sent.empty());
    EXPECT_TRUE(log.empty());
}

INSTANTIATE_TEST_SUITE_P(
    Codes, Tpdo3Responses,
    ::testing::Values(
        Tpdo3Case{"PlainValue", {0x00, 0x00, 0x20, 0x41, 0, 0, 0, 0}, "10.000"},
        Tpdo3Case{"Code9IsNoValueAnswer", Cat({0x00, 9, 0x80, 0x3F}, F32(2.5f)), "1.000"},
        Tpdo3Case{"Code10ValueAt4", Cat({0x00, 10, 0x00, 0x00}, F32(-1.25f)), "-1.250"},
        Tpdo3Case{"Code12ValueAt4", Cat({0x00, 12, 0x00, 0x00}, F32(2.5f)), "2.500"},
        Tpdo3Case{"Code15NanIsAFormatError", Cat({0x00, 15, 0x00, 0x00}, kNan), "(format error)"},
        Tpdo3Case{"Code16IsNoValueAnswer", Cat({0x00, 16, 0x80, 0x3F}, F32(2.5f)), "1.000"},
        Tpdo3Case{"Code17ValueAt2", Cat(Cat({0x00, 17}, F32(-3.0f)), {0, 0}), "-3.000"},
        Tpdo3Case{"Code17NanIsAFormatError", {0x00, 17, 0x00, 0x00, 0xC0, 0x7F, 0, 0}, "(format error)"},
        Tpdo3Case{"Ok", {0, 0xE5, 0, 0}, "** OK **"},
        Tpdo3Case{"ErrorTimeout", {0, 0xFF, 0, 7}, "** TIMEOUT **"},
        Tpdo3Case{"ErrorUnknown", {0, 0xFF, 0, 99}, "** ?ERROR? **"},
        Tpdo3Case{"NanValueEmptiesTheBox", kNan, ""}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(DecoderTest, Tpdo3RowShowsTheLineAndHandsTheFrameOn)
{
    std::vector<Bytes> heard;
    const int id = decoder.SubscribeTpdo3Answers([&](ByteView m) { heard.emplace_back(m.begin(), m.end()); });
    const Bytes frame = Frame(0x381, {0x00, 0x00, 0x20, 0x41, 0, 0, 0, 0});
    Receive(frame);
    EXPECT_EQ(Shown(DataField::Tpdo3Line), "SFF: TPDO3 addr=01 Data= 00 00 20 41 00 00 00 00 ");
    Receive(Frame(0x581, {0x60, 0x05, 0x21, 0x03, 0, 0, 0, 0})); // not a TPDO3
    ASSERT_EQ(heard.size(), 1u);
    EXPECT_EQ(heard[0], frame);
    decoder.Unsubscribe(id);
    Receive(frame);
    EXPECT_EQ(heard.size(), 1u);
    EXPECT_EQ(Shown(DataField::Tpdo3Count), "2");
}

// --- SDO answers and their messages -----------------------------------------------------

struct SdoCase {
    const char* name;
    Bytes data;
    std::vector<const char*> messages;
};

// Test names and failure messages show the case name, not its bytes.
void PrintTo(const SdoCase& c, std::ostream* os)
{
    *os << c.name;
}

class SdoMessages : public DecoderTest, public ::testing::WithParamInterface<SdoCase> {};

TEST_P(SdoMessages, RaisesExactlyTheseSdoErrors)
{
    Receive(Frame(0x581, GetParam().data));
    std::vector<Said> expected;
    for (const char* text : GetParam().messages)
        expected.push_back({"SDO Error", text});
    EXPECT_EQ(said, expected);
    EXPECT_TRUE(log.empty());
    EXPECT_TRUE(sent.empty());
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(
    Branches, SdoMessages,
    ::testing::Values(
        SdoCase{"RejectedStatusRequest", {0x80, 0x02, 0x10, 0x00, 0x02, 0, 0, 0},
                {"SDO was rejected", "NOT READY"}},
        SdoCase{"UnitOrderAbort", {0x80, 0x05, 0x21, 0x03, 0x06, 0x02, 0x00, 0x00},
                {"Object does not exist in the object dictionary\r06020000"}},
        SdoCase{"StandardOrderAbort", {0x80, 0x05, 0x21, 0x03, 0x00, 0x00, 0x02, 0x06},
                {"Object does not exist in the object dictionary\r06020000"}},
        SdoCase{"UnknownAbortShowsDump", {0x80, 0x05, 0x21, 0x03, 0x05, 0x04, 0x00, 0x01},
                {" 08 B0 20 80 05 21 03 05 04 00 01\r05040001"}},
        SdoCase{"StatusAnswerZero", {0x4F, 0x02, 0x10, 0x00, 0x00, 0, 0, 0}, {"** ?ERROR? **"}},
        SdoCase{"StatusAnswerWait", {0x4F, 0x02, 0x10, 0x00, 0xE1, 0, 0, 0}, {"Wait"}},
        SdoCase{"OrdinaryAnswer", {0x43, 0x05, 0x21, 0x03, 0xDC, 0x05, 0, 0}, {}},
        SdoCase{"OtherSubIndexOf1002", {0x4F, 0x02, 0x10, 0x01, 0x02, 0, 0, 0}, {}}),
    [](const auto& info) { return std::string(info.param.name); });
// clang-format on

TEST_F(DecoderTest, AbortWithDeviceErrorFetchesTheStatus)
{
    Receive(SdoAnswer(0x80, 0x2105, 3, 0x08));
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0], (Bytes{0x7E, 0x08, 0xC0, 0x20, 0x40, 0x02, 0x10, 0x00, 0x00, 0x00, 0x00, 0x00}));
    EXPECT_EQ(log, Lines{"Tx: SDO(1002sub00)"});
    EXPECT_TRUE(said.empty());
    Receive(SdoAnswer(0x4F, 0x1002, 0, 0x07));
    EXPECT_EQ(said, (std::vector<Said>{{"SDO Error", "TIMEOUT"}}));
}

TEST_F(DecoderTest, SdoFramesOfBothDirectionsReachTheSubscribers)
{
    std::vector<Bytes> heard;
    int id = 0;
    id = decoder.SubscribeSdoAnswers([&](ByteView m) {
        heard.emplace_back(m.begin(), m.end());
        decoder.Unsubscribe(id); // a handler may leave while it is called
    });
    std::vector<Bytes> second;
    decoder.SubscribeSdoAnswers([&](ByteView m) { second.emplace_back(m.begin(), m.end()); });
    const Bytes answer = SdoAnswer(0x43, 0x2105, 3, 1500);
    const Bytes request = Frame(0x601, {0x40, 0x05, 0x21, 0x03, 0, 0, 0, 0});
    Receive(answer);
    Receive(request);
    Receive(Frame(0x381, {0, 0xE5, 0, 0}));
    EXPECT_EQ(heard, std::vector<Bytes>{answer});
    EXPECT_EQ(second, (std::vector<Bytes>{answer, request}));
}

// --- Parameter pages and the read-all sequence -----------------------------------------------

TEST_F(DecoderTest, ReadAllWalksThePageAndEndsAfterTheLastCell)
{
    decoder.SetUnitAddress(5);
    decoder.StartReadAll(0, clock.Now());
    for (int sub = 1; sub <= 12; ++sub) {
        ASSERT_EQ(decoder.ReadAllCount(), static_cast<std::uint32_t>(sub));
        EXPECT_EQ(decoder.ReadAllSheet(), 0);
        char expected[32];
        std::snprintf(expected, sizeof expected, "Tx: SDO(2105sub%02X)", sub);
        EXPECT_EQ(LastLog(), expected);
        EXPECT_EQ(sent.back(),
                  (Bytes{0x7E, 0x08, 0xC0, 0x20, 0x40, 0x05, 0x21, std::uint8_t(sub), 0, 0, 0, 0}));
        Receive(SdoAnswer(0x43, 0x2105, static_cast<std::uint8_t>(sub), sub * 100));
    }
    EXPECT_EQ(decoder.ReadAllCount(), 0u);
    EXPECT_EQ(sent.size(), 12u);
    EXPECT_EQ(pages.values.size(), 12u);
    EXPECT_EQ((pages.values[{0, 12}]), 1200);
    EXPECT_EQ(pages.enabled.size(), 12u);
    EXPECT_TRUE(said.empty());
}

TEST_F(DecoderTest, ReadAllWithoutPagesEndsAtOnce)
{
    decoder.SetParameterPages(nullptr);
    decoder.StartReadAll(0, clock.Now());
    EXPECT_EQ(decoder.ReadAllCount(), 0u);
    EXPECT_TRUE(sent.empty());
    Receive(SdoAnswer(0x43, 0x2100, 1, 7)); // an answer with nowhere to go
    EXPECT_TRUE(sent.empty());
    EXPECT_TRUE(said.empty());
}

TEST_F(DecoderTest, AbortsAndErrorAnswersMarkTheCellAndMoveOn)
{
    decoder.StartReadAll(1, clock.Now()); // "Trigger": 3 cells
    Receive(SdoAnswer(0x80, 0x2500, 1, 0x06020000));
    EXPECT_EQ(decoder.ReadAllCount(), 2u);
    EXPECT_EQ(LastLog(), "Tx: SDO(2500sub02)");
    Receive(Frame(0x381, {0x00, 0xFF, 0x00, 0x07})); // TPDO3 error answer
    EXPECT_EQ(decoder.ReadAllCount(), 3u);
    EXPECT_EQ(LastLog(), "Tx: SDO(2500sub03)");
    EXPECT_EQ(pages.failed, (FakePages::Cells{{1, 1}, {1, 2}}));
    EXPECT_TRUE(said.empty());                                             // no message during a read-all
    EXPECT_EQ(Shown(DataField::Value3), "0.000");                          // bytes 0..3 only, no status text
    Receive(Frame(0x381, {0x00, 38, 0x00, 0x03, 0x2A, 0x00, 0x00, 0x00})); // Trigger answer, sub 3 = 42
    EXPECT_EQ((pages.values[{1, 3}]), 42);
    EXPECT_EQ(decoder.ReadAllCount(), 0u);
    EXPECT_EQ(sent.size(), 3u);
}

TEST_F(DecoderTest, AnswersFillCellsWithoutAReadAll)
{
    decoder.SetUnitAddress(5); // the unit whose answers the rows take
    Receive(SdoAnswer(0x43, 0x2105, 3, 1500));
    EXPECT_EQ((pages.values[{0, 3}]), 1500);
    Receive(SdoAnswer(0x60, 0x2105, 3, 0)); // a confirmation of no row's write
    EXPECT_EQ((pages.values[{0, 3}]), 1500);
    Receive(Frame(0x381, {0x05, 18, 0x02, 0x39, 0x30, 0x00, 0x00})); // Standard, sub 2 = 12345
    EXPECT_EQ((pages.values[{0, 2}]), 12345);
    Receive(Frame(0x381, Cat({0x05, 6, 0x00, 0x04}, I32(-7)))); // Filling, sub 4 = -7
    EXPECT_EQ((pages.values[{2, 4}]), -7);
    Receive(Frame(0x381, Cat({0x05, 42, 0x00, 0x02}, I32(99)))); // Mass Flow, sub 2 = 99
    EXPECT_EQ((pages.values[{3, 2}]), 99);
    Receive(SdoAnswer(0x43, 0x2B05, 1, 31)); // Mass Flow by SDO
    EXPECT_EQ((pages.values[{3, 1}]), 31);
    Receive(SdoAnswer(0x43, 0x2105, 99, 1)); // no such cell: nothing, no failure
    Receive(SdoAnswer(0x43, 0x2305, 1, 1));  // no such page
    EXPECT_EQ(pages.values.size(), 5u);
    EXPECT_EQ(decoder.ReadAllCount(), 0u);
    EXPECT_EQ(pages.enabled.size(), 5u); // a stored row is live
    EXPECT_TRUE(sent.empty());
    EXPECT_TRUE(said.empty());
}

// --- Response time -------------------------------------------------------------------------

TEST_F(DecoderTest, ResponseTimeCountsFromTheLastRequest)
{
    decoder.SdoWrite(ObjectWord(0x2100, 1), 1, clock.Now());
    EXPECT_EQ(Shown(DataField::Busy), "Busy");
    clock.Advance(1234ms + 600us);
    Receive(SdoAnswer(0x60, 0x2000, 1, 0));
    EXPECT_EQ(Shown(DataField::Busy), "1235");
    clock.Advance(10ms);
    Receive(Tpdo1(0, 1.0f)); // TPDO1 and TPDO4 do not touch it
    Receive(Frame(0x481, Bytes(8, 0)));
    EXPECT_EQ(Shown(DataField::Busy), "1235");
    Receive(Frame(0x281, I32(0)));
    EXPECT_EQ(Shown(DataField::Busy), "1245");
    clock.Advance(10ms);
    Receive(Frame(0x381, {0, 0xE5, 0, 0}));
    EXPECT_EQ(Shown(DataField::Busy), "1255");

    decoder.StartReadAll(0, clock.Now()); // a read-all step is a request too
    clock.Advance(7ms);
    Receive(SdoAnswer(0x43, 0x2100, 1, 0));
    EXPECT_EQ(Shown(DataField::Busy), "7");
}

TEST_F(DecoderTest, ResponseTimeIsRoundedMilliseconds)
{
    const TimePoint t = clock.Now();
    decoder.SetRequestTime(t);
    const std::pair<std::chrono::microseconds, const char*> cases[] = {
        {0us, "0"},        {499us, "0"},      {123400us, "123"},
        {122500us, "123"}, {123600us, "124"}, {60000000us, "60000"}};
    for (const auto& [elapsed, text] : cases) {
        decoder.ShowResponseTime(t + elapsed);
        EXPECT_EQ(Shown(DataField::Busy), text) << elapsed.count() << " us";
    }
}

TEST_F(DecoderTest, ResponseTimeOfAnAnswerFollowsTheManualClock)
{
    decoder.SdoWrite(ObjectWord(0x2005, 1), 3, clock.Now());
    clock.Advance(123400us);
    Receive(SdoAnswer(0x60, 0x2005, 1, 0));
    EXPECT_EQ(Shown(DataField::Busy), "123");
}

// --- Requests --------------------------------------------------------------------------------

struct RequestCase {
    const char* name;
    std::optional<long long> node;
    std::optional<long long> unit;
    std::function<void(MonitorDecoder&)> act;
    std::vector<Bytes> sent;
    Lines log;
    std::vector<Said> said;
    int unitResets;
};

void PrintTo(const RequestCase& c, std::ostream* os)
{
    *os << c.name;
}

class Requests : public DecoderTest, public ::testing::WithParamInterface<RequestCase> {};

TEST_P(Requests, SendExactlyTheseBytesAndLines)
{
    const RequestCase& c = GetParam();
    decoder.SetNode(c.node);
    decoder.SetUnitAddress(c.unit);
    c.act(decoder);
    EXPECT_EQ(sent, c.sent);
    EXPECT_EQ(log, c.log);
    EXPECT_EQ(said, c.said);
    EXPECT_EQ(unitResets, c.unitResets);
}

const TimePoint kAnyTime{};
const std::vector<Said> kIllegal = {{"SendCommand", "Illegal data"}};

// clang-format off
INSTANTIATE_TEST_SUITE_P(
    Frames, Requests,
    ::testing::Values(
        RequestCase{"NmtStartNode5", 5, 0, [](MonitorDecoder& d) { d.NmtStart(); },
                    {{0x7E, 0x02, 0x00, 0x00, 0x01, 0x05}}, {"NMT Start"}, {}, 0},
        RequestCase{"NmtStopWithoutNode", std::nullopt, 0, [](MonitorDecoder& d) { d.NmtStop(); },
                    {{0x7E, 0x01, 0x00, 0x00, 0x02}}, {"NMT Stop"}, {}, 0},
        RequestCase{"Rpdo1", 1, 5, [](MonitorDecoder& d) { d.SendRpdo(1, 0x00120000); },
                    {{0x7E, 0x04, 0x40, 0x20, 0x05, 0x12, 0x00, 0x00}}, {"Tx: RPDO1( 05 12 00 00 )"}, {}, 0},
        RequestCase{"SdoWriteTakesTheUnit", 1, 7,
                    [](MonitorDecoder& d) { d.SdoWrite(ObjectWord(0x2100, 3), 1000, kAnyTime); },
                    {{0x7E, 0x08, 0xC0, 0x20, 0x22, 0x07, 0x21, 0x03, 0xE8, 0x03, 0x00, 0x00}},
                    {"Tx: SDO(2107sub03,1000)"}, {}, 0},
        RequestCase{"SdoWriteWithoutUnitLeavesIndexAndBox", 1, std::nullopt,
                    [](MonitorDecoder& d) { d.SdoWrite(ObjectWord(0x2100, 3), 1, kAnyTime); },
                    {{0x7E, 0x08, 0xC0, 0x20, 0x22, 0x00, 0x21, 0x03, 0x01, 0x00, 0x00, 0x00}},
                    {"Tx: SDO(2100sub03,1)"}, {}, 0},
        RequestCase{"SdoReadNode127TakesTheUnit", 127, 7,
                    [](MonitorDecoder& d) { d.SdoRead(ObjectWord(0x2100, 3), kAnyTime); },
                    {{0x7E, 0x08, 0xCF, 0xE0, 0x40, 0x07, 0x21, 0x03, 0x00, 0x00, 0x00, 0x00}},
                    {"Tx: SDO(2107sub03)"}, {}, 0},
        RequestCase{"SdoReadWithoutUnitLeavesIndexAndBox", 1, std::nullopt,
                    [](MonitorDecoder& d) { d.SdoRead(ObjectWord(0x2100, 3), kAnyTime); },
                    {{0x7E, 0x08, 0xC0, 0x20, 0x40, 0x00, 0x21, 0x03, 0x00, 0x00, 0x00, 0x00}},
                    {"Tx: SDO(2100sub03)"}, {}, 0},
        RequestCase{"UnitAddressWrite", 1, 7, [](MonitorDecoder& d) { d.SdoWriteUnitAddress(ObjectWord(0x2005, 1), kAnyTime); },
                    {{0x7E, 0x08, 0xC0, 0x20, 0x22, 0x05, 0x20, 0x01, 0x07, 0x00, 0x00, 0x00}},
                    {"Tx: SDO(2005sub01,7)", " 7E 08 C0 20 22 05 20 01 07 00 00 00"}, {}, 0},
        RequestCase{"UnitAddressWriteNoSubstitution", 1, 5,
                    [](MonitorDecoder& d) { d.SdoWriteUnitAddress(ObjectWord(0x2100, 1), kAnyTime); },
                    {{0x7E, 0x08, 0xC0, 0x20, 0x22, 0x00, 0x21, 0x01, 0x05, 0x00, 0x00, 0x00}},
                    {"Tx: SDO(2100sub01,5)", " 7E 08 C0 20 22 00 21 01 05 00 00 00"}, {}, 0},
        RequestCase{"UnitAddressWrite0", 1, 0, [](MonitorDecoder& d) { d.SdoWriteUnitAddress(ObjectWord(0x2005, 1), kAnyTime); },
                    {{0x7E, 0x08, 0xC0, 0x20, 0x22, 0x05, 0x20, 0x01, 0x00, 0x00, 0x00, 0x00}},
                    {"Tx: SDO(2005sub01,0)", " 7E 08 C0 20 22 05 20 01 00 00 00 00"}, {}, 0},
        RequestCase{"UnitAddressWrite255", 1, 255,
                    [](MonitorDecoder& d) { d.SdoWriteUnitAddress(ObjectWord(0x2005, 1), kAnyTime); },
                    {{0x7E, 0x08, 0xC0, 0x20, 0x22, 0x05, 0x20, 0x01, 0xFF, 0x00, 0x00, 0x00}},
                    {"Tx: SDO(2005sub01,255)", " 7E 08 C0 20 22 05 20 01 FF 00 00 00"}, {}, 0},
        RequestCase{"UnitAddress256IsIllegal", 1, 256,
                    [](MonitorDecoder& d) { d.SdoWriteUnitAddress(ObjectWord(0x2005, 1), kAnyTime); }, {}, {}, kIllegal, 0},
        RequestCase{"UnitAddress300IsIllegal", 1, 300,
                    [](MonitorDecoder& d) { d.SdoWriteUnitAddress(ObjectWord(0x2005, 1), kAnyTime); }, {}, {}, kIllegal, 0},
        RequestCase{"UnitAddressMinus1IsIllegal", 1, -1,
                    [](MonitorDecoder& d) { d.SdoWriteUnitAddress(ObjectWord(0x2005, 1), kAnyTime); }, {}, {}, kIllegal, 0},
        RequestCase{"UnitAddressWriteWithoutUnitSendsZero", 1, std::nullopt,
                    [](MonitorDecoder& d) { d.SdoWriteUnitAddress(ObjectWord(0x2005, 1), kAnyTime); },
                    {{0x7E, 0x08, 0xC0, 0x20, 0x22, 0x05, 0x20, 0x01, 0x00, 0x00, 0x00, 0x00}},
                    {"Tx: SDO(2005sub01,0)", " 7E 08 C0 20 22 05 20 01 00 00 00 00"}, {}, 1},
        RequestCase{"Rpdo1WithoutUnitResetsTheBox", 1, std::nullopt,
                    [](MonitorDecoder& d) { d.SendRpdo(1, 0x00120000); },
                    {{0x7E, 0x04, 0x40, 0x20, 0x00, 0x12, 0x00, 0x00}}, {"Tx: RPDO1( 00 12 00 00 )"}, {}, 1},
        RequestCase{"Rpdo2WithoutUnitResetsTheBox", 1, std::nullopt,
                    [](MonitorDecoder& d) { d.SendRpdo(2, 0x00120000); },
                    {{0x7E, 0x04, 0x60, 0x20, 0x00, 0x12, 0x00, 0x00}}, {"Tx: RPDO2( 00 12 00 00 )"}, {}, 1},
        RequestCase{"Rpdo3WithoutUnitResetsTheBox", 1, std::nullopt,
                    [](MonitorDecoder& d) { d.SendRpdo(3, 0x00120000); },
                    {{0x7E, 0x04, 0x80, 0x20, 0x00, 0x12, 0x00, 0x00}}, {"Tx: RPDO3( 00 12 00 00 )"}, {}, 1},
        RequestCase{"Rpdo4WithoutUnitLeavesTheBox", 1, std::nullopt,
                    [](MonitorDecoder& d) { d.SendRpdo(4, 0x00010000); },
                    {{0x7E, 0x04, 0xA0, 0x20, 0x80, 0x00, 0x00, 0x00}}, {"Tx: RPDO4( 80 00 00 00 )"}, {}, 0},
        RequestCase{"ReadAllStepOfAPageWithoutUnit", 1, std::nullopt,
                    [](MonitorDecoder& d) { d.StartReadAll(3, kAnyTime); },
                    {{0x7E, 0x08, 0xC0, 0x20, 0x40, 0x00, 0x2B, 0x01, 0x00, 0x00, 0x00, 0x00}},
                    {"Tx: SDO(2B00sub01)"}, {}, 1}),
    [](const auto& info) { return std::string(info.param.name); });
// clang-format on

TEST_F(DecoderTest, FailedSendIsNotLoggedAndSaysWhy)
{
    failSend = true;
    EXPECT_FALSE(decoder.SdoWrite(ObjectWord(0x2100, 3), 1000, clock.Now()));
    EXPECT_FALSE(decoder.NmtStart());
    EXPECT_FALSE(decoder.SdoWriteUnitAddress(ObjectWord(0x2005, 1), clock.Now()));
    EXPECT_FALSE(decoder.StartReadAll(0, clock.Now()));
    EXPECT_EQ(sendAttempts, 4);
    EXPECT_EQ(failures, Lines(4, "ie_NOpen - device not open"));
    EXPECT_TRUE(log.empty());
    EXPECT_FALSE(decoder.Guarding());
    EXPECT_FALSE(decoder.GuardTimerRunning());
    EXPECT_EQ(decoder.ReadAllCount(), 0u); // nothing went out: nothing to wait for
}

TEST_F(DecoderTest, WithoutAClientSdoRequestsFail)
{
    MonitorDecoder bare(Record(), clock.Now());
    EXPECT_FALSE(bare.SdoRead(ObjectWord(0x1002, 0), clock.Now()));
    EXPECT_EQ(failures, Lines{"No CAN adapter is connected"});
}

// --- NMT, watchdog and node guarding -------------------------------------------------------------

TEST_F(DecoderTest, NmtStartSwitchesGuardingOnAndStopOnlyTheWatchdogOff)
{
    decoder.NmtStop();
    EXPECT_FALSE(decoder.WatchdogRunning());
    decoder.NmtStart();
    EXPECT_TRUE(decoder.Guarding());
    EXPECT_TRUE(decoder.GuardTimerRunning());
    EXPECT_TRUE(decoder.WatchdogRunning());
    decoder.NmtStop();
    EXPECT_FALSE(decoder.WatchdogRunning());
    EXPECT_TRUE(decoder.Guarding()); // guarding goes on until unticked
    EXPECT_TRUE(decoder.GuardTimerRunning());
    EXPECT_EQ(log, (Lines{"NMT Stop", "NMT Start", "NMT Stop"}));
}

TEST_F(DecoderTest, NmtStopStopsTheWatchdogEvenWhenTheSendFails)
{
    failSend = true;
    EXPECT_FALSE(decoder.NmtStop());
    EXPECT_FALSE(decoder.WatchdogRunning());
    failSend = false;
    decoder.WatchdogTick(); // no TPDO1 since start, but the watchdog is off
    decoder.WatchdogTick();
    EXPECT_EQ(sendAttempts, 1);
    EXPECT_TRUE(log.empty());
}

TEST_F(DecoderTest, WatchdogStartsASilentUnit)
{
    decoder.WatchdogTick(); // no TPDO1 since start
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0], (Bytes{0x7E, 0x02, 0x00, 0x00, 0x01, 0x01}));
    EXPECT_TRUE(decoder.Guarding());
    Receive(Tpdo1(9, 1.0f));
    decoder.WatchdogTick();
    EXPECT_EQ(sent.size(), 1u);
    EXPECT_EQ(decoder.WatchdogSnapshot(), 1u);
    decoder.WatchdogTick(); // silent again
    EXPECT_EQ(sent.size(), 2u);
}

TEST_F(DecoderTest, WatchdogAfterClearWaitsOneMoreTick)
{
    Receive(Tpdo1(9, 1.0f));
    Receive(Tpdo1(9, 1.0f));
    decoder.WatchdogTick(); // snapshot 2
    decoder.ClearRow(0);    // counter 0
    decoder.WatchdogTick(); // 0 != 2: nothing sent, snapshot 0
    EXPECT_TRUE(sent.empty());
    decoder.WatchdogTick();
    EXPECT_EQ(sent.size(), 1u);
}

TEST_F(DecoderTest, GuardFramesCarryTheNodeAndTheUnit)
{
    decoder.SetNode(2);
    decoder.SetUnitAddress(6);
    decoder.GuardTick(); // not guarding: nothing
    EXPECT_TRUE(sent.empty());
    decoder.SetGuarding(true);
    EXPECT_TRUE(decoder.GuardTimerRunning());
    decoder.GuardTick();
    decoder.GuardTick();
    ASSERT_EQ(sent.size(), 2u);
    EXPECT_EQ(sent[0], (Bytes{0x7E, 0x01, 0xE0, 0x40, 0x06}));
    EXPECT_EQ(sent[1], sent[0]);
    EXPECT_EQ(log, (Lines{"Tx:( 01 E0 40 06 )", "Tx:( 01 E0 40 06 )"}));
    decoder.SetGuarding(false);
    EXPECT_FALSE(decoder.GuardTimerRunning());
    // A tick already under way may still send once; the ones after it not.
    decoder.GuardTick();
    decoder.GuardTick();
    EXPECT_LE(sent.size(), 3u);
    EXPECT_FALSE(decoder.GuardTimerRunning());
}

} // namespace
