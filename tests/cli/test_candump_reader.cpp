#include "candump_reader.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace tervix;

namespace {

std::string HexBytes(ByteView bytes)
{
    static constexpr char kDigits[] = "0123456789ABCDEF";
    std::string s;
    for (std::uint8_t b : bytes) {
        if (!s.empty())
            s.push_back(' ');
        s.push_back(kDigits[b >> 4]);
        s.push_back(kDigits[b & 0x0F]);
    }
    return s;
}

struct LineCase {
    const char* line;
    CandumpLineKind kind;
    const char* expected; // packet bytes for a frame, the reason for a skip
};

void PrintTo(const LineCase& c, std::ostream* os)
{
    *os << '"' << c.line << '"';
}

class CliCandumpLineTest : public testing::TestWithParam<LineCase> {};

TEST_P(CliCandumpLineTest, ParsesOrSkips)
{
    const LineCase& c = GetParam();
    CandumpPacket packet;
    const CandumpLineResult r = ParseCandumpLine(c.line, packet);
    ASSERT_EQ(r.kind, c.kind) << c.line << " (" << r.reason << ")";
    if (c.kind == CandumpLineKind::Frame)
        EXPECT_EQ(HexBytes(packet.View()), c.expected) << c.line;
    else if (c.kind == CandumpLineKind::Skipped)
        EXPECT_EQ(r.reason, c.expected) << c.line;
    else
        EXPECT_EQ(packet.size, 0u);
}

constexpr auto F = CandumpLineKind::Frame;
constexpr auto S = CandumpLineKind::Skipped;
constexpr auto B = CandumpLineKind::Blank;

INSTANTIATE_TEST_SUITE_P(
    Lines, CliCandumpLineTest,
    testing::Values(
        // Identifier 0x705 << 5 = E0 A0; flags byte = length | ext | remote.
        LineCase{"(1436509052.249713) can0 705#05", F, "7E 01 E0 A0 05"},
        LineCase{"can0 705#05", F, "7E 01 E0 A0 05"}, LineCase{"705#05", F, "7E 01 E0 A0 05"},
        LineCase{"  (1.5)\tvcan0   705#05  \r", F, "7E 01 E0 A0 05"},
        LineCase{"(1.5) can0 705#05 R", F, "7E 01 E0 A0 05"},
        LineCase{"(1.5) can0 705#05 T", F, "7E 01 E0 A0 05"}, LineCase{"080#", F, "7E 00 10 00"},
        LineCase{"000#", F, "7E 00 00 00"}, LineCase{"181#R", F, "7E 40 30 20"},
        LineCase{"181#R4", F, "7E 44 30 20"}, LineCase{"181#R8_F", F, "7E 48 30 20"},
        LineCase{"7ff#aabbccddeeff0011", F, "7E 08 FF E0 AA BB CC DD EE FF 00 11"},
        LineCase{"123#11.22.33", F, "7E 03 24 60 11 22 33"},
        LineCase{"123#1122334455667788_C", F, "7E 08 24 60 11 22 33 44 55 66 77 88"},
        // Extended: the packet keeps the low 11 bits (0x678 << 5 = CF 00).
        LineCase{"12345678#1122", F, "7E 82 CF 00 11 22"}, LineCase{"00000080#R2", F, "7E C2 10 00"},
        LineCase{"1FFFFFFF#", F, "7E 80 FF E0"}, LineCase{"", B, ""}, LineCase{" \t\r", B, ""},
        LineCase{"# a comment", S, "not a CAN frame"}, LineCase{"hello world", S, "not a CAN frame"},
        LineCase{"(1.5 can0 123#11", S, "not a CAN frame"}, LineCase{"(1.5) can0", S, "not a CAN frame"},
        LineCase{"(1.5) can0 123##1112233", S, "CAN FD frame"},
        LineCase{"800#00", S, "identifier out of range"},
        LineCase{"20000080#0000000000000000", S, "identifier out of range"},
        LineCase{"1234#00", S, "bad identifier"}, LineCase{"12G#00", S, "bad identifier"},
        LineCase{"123#112233445566778899", S, "more than 8 data bytes"},
        LineCase{"123#123", S, "odd number of hex digits"}, LineCase{"123#1", S, "odd number of hex digits"},
        LineCase{"123#11.2", S, "odd number of hex digits"}, LineCase{"123#ZZ", S, "bad data"},
        LineCase{"123#11_9", S, "bad data"}, LineCase{"123#1122334455667788_8", S, "bad data"},
        LineCase{"123#R9", S, "bad remote frame length"}, LineCase{"123#R12", S, "bad remote frame length"},
        LineCase{"123#11 garbage", S, "unexpected text after the frame"},
        LineCase{"can0 123#11 R T", S, "unexpected text after the frame"}));

// Records what a sink hears, one string per event.
class RecordingSink : public CandumpSink {
public:
    void Frame(std::uint64_t line, ByteView message) override
    {
        events.push_back(std::to_string(line) + " frame " + HexBytes(message));
    }
    void Skipped(std::uint64_t line, std::string_view reason) override
    {
        events.push_back(std::to_string(line) + " skipped " + std::string(reason));
    }
    std::vector<std::string> events;
};

std::string LongFrameLine(std::size_t length)
{
    // Leading blanks pad a valid frame to the wanted length.
    const std::string frame = "705#05";
    return std::string(length - frame.size(), ' ') + frame;
}

const std::string kText = "(1.0) can0 705#05\n"
                          "\n"
                          "# comment\r\n" +
                          LongFrameLine(CandumpReader::kMaxLine) + "\n" +
                          LongFrameLine(CandumpReader::kMaxLine + 1) + "\n" + std::string(3000, 'x') +
                          "\n"
                          "12345678#R\n"
                          "181#0102"; // no newline at the end

const std::vector<std::string> kEvents = {
    "1 frame 7E 01 E0 A0 05",    "3 skipped not a CAN frame", "4 frame 7E 01 E0 A0 05",
    "5 skipped line too long",   "6 skipped line too long",   "7 frame 7E C0 CF 00",
    "8 frame 7E 02 30 20 01 02",
};

TEST(CliCandumpReaderTest, ReadsTextWithLineNumbersAndLimits)
{
    RecordingSink sink;
    ReadCandumpText(kText, sink);
    EXPECT_EQ(sink.events, kEvents);
}

// Wherever the chunks are cut, the same lines come out.
TEST(CliCandumpReaderTest, ChunkBoundariesDoNotMatter)
{
    for (std::size_t step : {1u, 2u, 7u, 1000u, 1025u}) {
        CandumpReader reader;
        RecordingSink sink;
        for (std::size_t at = 0; at < kText.size(); at += step)
            reader.Feed(std::string_view(kText).substr(at, step), sink);
        reader.Finish(sink);
        EXPECT_EQ(sink.events, kEvents) << "step " << step;
        EXPECT_EQ(reader.LineCount(), 8u);
    }
}

TEST(CliCandumpReaderTest, FinishEndsOnlyAnUnfinishedLine)
{
    CandumpReader reader;
    RecordingSink sink;
    reader.Feed("705#05\n", sink);
    reader.Finish(sink);
    reader.Finish(sink);
    EXPECT_EQ(sink.events, std::vector<std::string>{"1 frame 7E 01 E0 A0 05"});
    EXPECT_EQ(reader.LineCount(), 1u);
}

} // namespace
