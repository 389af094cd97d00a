#include "cli.h"
#include "run_tool.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

using namespace tervix::cli;

namespace {

std::string Bytes(std::initializer_list<int> bytes)
{
    std::string s;
    for (int b : bytes)
        s.push_back(static_cast<char>(b));
    return s;
}

// One frame of every function code, in order, and the line the monitor logs for it.
struct NamedFrame {
    const char* line;
    const char* expected;
};

void PrintTo(const NamedFrame& f, std::ostream* os)
{
    *os << '"' << f.line << '"';
}

class CliDecodeNamingTest : public testing::TestWithParam<NamedFrame> {};

TEST_P(CliDecodeNamingTest, PrintsTheMonitorsLogLine)
{
    const NamedFrame& f = GetParam();
    const Result r = RunTool({"decode"}, std::string("(1436509052.249713) can0 ") + f.line + "\n");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, std::string(f.expected) + "\n");
    EXPECT_EQ(r.err, "");
}

INSTANTIATE_TEST_SUITE_P(
    EveryKind, CliDecodeNamingTest,
    testing::Values(NamedFrame{"000#0105", "SFF: NMT   addr=00 Data= 01 05 "},
                    NamedFrame{"080#", "SFF: SYNC  addr=00 Data= "},
                    NamedFrame{"081#1081000000000000",
                               "SFF: EMERGENCY addr=01 Data= 10 81 00 00 00 00 00 00 "},
                    NamedFrame{"100#00112233", "SFF: TIME  addr=00 Data= 00 11 22 33 "},
                    NamedFrame{"185#0A", "SFF: TPDO1 addr=05 Data= 0A "},
                    NamedFrame{"205#0B", "SFF: RPDO1 addr=05 Data= 0B "},
                    NamedFrame{"285#0C", "SFF: TPDO2 addr=05 Data= 0C "},
                    NamedFrame{"306#0D", "SFF: RPDO2 addr=06 Data= 0D "},
                    NamedFrame{"3FF#0E", "SFF: TPDO3 addr=7F Data= 0E "},
                    NamedFrame{"405#0F", "SFF: RPDO3 addr=05 Data= 0F "},
                    NamedFrame{"485#10", "SFF: TPDO4 addr=05 Data= 10 "},
                    NamedFrame{"505#11", "SFF: RPDO4 addr=05 Data= 11 "},
                    NamedFrame{"585#4B00102A00000000", "SFF: TSDO  addr=05 Data= 4B 00 10 2A 00 00 00 00 "},
                    NamedFrame{"605#4000100000000000", "SFF: RSDO  addr=05 Data= 40 00 10 00 00 00 00 00 "},
                    NamedFrame{"685#12", "SFF: ?13?  addr=05 Data= 12 "},
                    NamedFrame{"705#05", "SFF: NMT Handling addr=05 Data= 05 "},
                    NamedFrame{"785#13", "SFF: ?15?  addr=05 Data= 13 "},
                    NamedFrame{"705#R", "SFF: RTR NMT Handling addr=05 Data= "},
                    NamedFrame{"705#R2", "SFF: RTR NMT Handling addr=05 Data= "},
                    NamedFrame{"00000705#05", "EFF: NMT Handling addr=05 Data= 05 "},
                    NamedFrame{"1ABCD181#R", "EFF: RTR TPDO1 addr=01 Data= "},
                    NamedFrame{"12345080#", "EFF: SYNC  addr=00 Data= "}));

const std::string kTrace = "(1.000000) can0 705#05\n"
                           "# captured on the test rig\n"
                           "(1.000100) can0 080#\n"
                           "(1.000200) can0 123##1DEADBEEF\n"
                           "(1.000300) can0 081#00\n"
                           "\n"
                           "(1.000400) can0 705#R\n"
                           "(1.000500) can0 7G5#00\n"
                           "(1.000600) can0 18A#112233445566778899\n"
                           "(1.000700) can0 0000018A#01";

TEST(CliDecodeTest, SkipsWhatIsNotAFrameWithOneWarningEach)
{
    const Result r = RunTool({"decode"}, kTrace);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "SFF: NMT Handling addr=05 Data= 05 \n"
                     "SFF: SYNC  addr=00 Data= \n"
                     "SFF: EMERGENCY addr=01 Data= 00 \n"
                     "SFF: RTR NMT Handling addr=05 Data= \n"
                     "EFF: TPDO1 addr=0A Data= 01 \n");
    EXPECT_EQ(r.err, "tervix-cli decode: line 2: skipped, not a CAN frame\n"
                     "tervix-cli decode: line 4: skipped, CAN FD frame\n"
                     "tervix-cli decode: line 8: skipped, bad identifier\n"
                     "tervix-cli decode: line 9: skipped, more than 8 data bytes\n");
}

TEST(CliDecodeTest, CountsFramesPerFunctionCodeAfterTheLines)
{
    const Result r = RunTool({"decode", "--counts", "-"}, kTrace);
    EXPECT_EQ(r.status, 0);
    EXPECT_TRUE(r.out.ends_with("EFF: TPDO1 addr=0A Data= 01 \n"
                                "1\t2\n"
                                "3\t1\n"
                                "14\t2\n"))
        << r.out;
}

// Input of another kind (a saved log, a configuration file) is no trace: each
// line is named, and the exit status says that nothing was a frame.
struct KindCase {
    const char* name;
    std::vector<std::string_view> args;
    std::string input;
    int status;
    std::string err;
};

void PrintTo(const KindCase& c, std::ostream* os)
{
    *os << c.name;
}

class CliDecodeInputKindTest : public testing::TestWithParam<KindCase> {};

TEST_P(CliDecodeInputKindTest, ExitStatusSaysWhetherAnyLineWasAFrame)
{
    const Result r = RunTool(GetParam().args, GetParam().input);
    EXPECT_EQ(r.status, GetParam().status);
    EXPECT_EQ(r.err, GetParam().err);
}

INSTANTIATE_TEST_SUITE_P(
    Inputs, CliDecodeInputKindTest,
    testing::Values(
        KindCase{"SavedWindowLog",
                 {"decode"},
                 "12:00:01.250 SFF: TPDO1 addr=05 Data= 0A\n12:00:01.260 SFF: SYNC  addr=00 Data=\n",
                 kExitCannotOpen,
                 "tervix-cli decode: line 1: skipped, not a CAN frame\n"
                 "tervix-cli decode: line 2: skipped, not a CAN frame\n"
                 "tervix-cli decode: no line of the input is a CAN frame\n"},
        KindCase{"OneFrameAmongOtherLines",
                 {"decode"},
                 "# rig\n705#05\nnoise\n",
                 kExitOk,
                 "tervix-cli decode: line 1: skipped, not a CAN frame\n"
                 "tervix-cli decode: line 3: skipped, not a CAN frame\n"},
        KindCase{"Empty", {"decode"}, "", kExitOk, ""},
        KindCase{"BlankLinesOnly", {"decode"}, "\n\n", kExitOk, ""},
        // Adapter text is what the serial adapter sends besides frames.
        KindCase{"AdapterTextOnly", {"decode", "--packets"}, "OK\rready\r", kExitOk, ""}),
    [](const testing::TestParamInfo<KindCase>& info) { return std::string(info.param.name); });

TEST(CliDecodeTest, CountsAloneForAnEmptyInputPrintNothing)
{
    const Result r = RunTool({"decode", "--counts"}, "");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "");
}

struct PacketCase {
    const char* name;
    std::string bytes;
    std::string out;
    std::string err;
};

void PrintTo(const PacketCase& c, std::ostream* os)
{
    *os << c.name;
}

class CliDecodePacketsTest : public testing::TestWithParam<PacketCase> {};

TEST_P(CliDecodePacketsTest, FramesTheAdaptersByteStream)
{
    const PacketCase& c = GetParam();
    const Result r = RunTool({"decode", "--packets", "--counts"}, c.bytes);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, c.out);
    EXPECT_EQ(r.err, c.err);
}

const std::string kOneFrame = Bytes({0x7E, 0x02, 0xE0, 0x20, 0x05, 0x00});
const std::string kOneFrameLine = "SFF: NMT Handling addr=01 Data= 05 00 \n";

INSTANTIATE_TEST_SUITE_P(
    Streams, CliDecodePacketsTest,
    testing::Values(
        PacketCase{"Frame", kOneFrame, kOneFrameLine + "14\t1\n", ""},
        PacketCase{"ExtendedRemoteWithoutData", Bytes({0x7E, 0xC0, 0x30, 0x20}),
                   "EFF: RTR TPDO1 addr=01 Data= \n3\t1\n", ""},
        PacketCase{"SyncAndEmergency", Bytes({0x7E, 0x00, 0x10, 0x00, 0x7E, 0x01, 0x10, 0x20, 0x42}),
                   "SFF: SYNC  addr=00 Data= \nSFF: EMERGENCY addr=01 Data= 42 \n1\t2\n", ""},
        // Control bytes are dropped from text, which is not counted.
        PacketCase{"TextWithControlBytes", "O\x01K\n\r", "OK\n", ""},
        // Text is Latin-1 from the adapter and UTF-8 on the terminal; DEL goes.
        PacketCase{"TextAsUtf8WithoutDel", "O\xE9K\x7F!\r", "O\xC3\xA9K!\n", ""},
        PacketCase{"LoneCarriageReturn", "\r", "", ""}, PacketCase{"ControlBytesOnly", "\n\t\r", "", ""},
        PacketCase{"TextCutByAFrame", "ready" + kOneFrame, "ready\n" + kOneFrameLine + "14\t1\n", ""},
        // A 0x7E inside a packet is data; the length nibble alone ends it.
        PacketCase{"MarkerAsData", Bytes({0x7E, 0x01, 0xE0, 0xA0, 0x7E}),
                   "SFF: NMT Handling addr=05 Data= 7E \n14\t1\n", ""},
        PacketCase{"LongTextKeepsItsFirst256Bytes", std::string(300, 'a') + "\r",
                   std::string(256, 'a') + "\n", ""},
        PacketCase{"UnfinishedFrameAtTheEnd", kOneFrame + Bytes({0x7E, 0x08, 0x30}),
                   kOneFrameLine + "14\t1\n",
                   "tervix-cli decode: the input ends inside a message; its 3 bytes are not shown\n"},
        PacketCase{"UnfinishedTextAtTheEnd", "OK\rpartial", "OK\n",
                   "tervix-cli decode: the input ends inside a message; its 7 bytes are not shown\n"}),
    [](const testing::TestParamInfo<PacketCase>& info) { return std::string(info.param.name); });

// Lines cross the 64 KiB read blocks and the output is written in blocks:
// nothing may be lost, doubled or cut at those seams.
TEST(CliDecodeTest, LargeInputsStreamWithoutLosingLines)
{
    std::string input;
    std::string expected;
    constexpr int kLines = 20000;
    for (int i = 0; i < kLines; ++i) {
        const int node = i % 128;
        char line[64];
        std::snprintf(line, sizeof line, "(%d.000000) can0 %03X#%02X%02X\n", i, 0x180 + node, i & 0xFF,
                      (i >> 8) & 0xFF);
        input += line;
        std::snprintf(line, sizeof line, "SFF: TPDO1 addr=%02X Data= %02X %02X \n", node, i & 0xFF,
                      (i >> 8) & 0xFF);
        expected += line;
    }
    const Result r = RunTool({"decode", "--counts"}, input);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, expected + "3\t20000\n");
}

class TempFile {
public:
    explicit TempFile(const std::string& content)
        : path_(std::filesystem::temp_directory_path() /
                ("tervix-cli-test-" + std::to_string(::getpid()) + "-" +
                 ::testing::UnitTest::GetInstance()->current_test_info()->name()))
    {
        std::ofstream(path_, std::ios::binary) << content;
    }
    ~TempFile() { std::filesystem::remove(path_); }
    std::string Path() const { return path_.string(); }

private:
    std::filesystem::path path_;
};

TEST(CliDecodeTest, ReadsANamedFileLikeStandardInput)
{
    const TempFile file(kTrace);
    const Result fromFile = RunTool({"decode", "--counts", file.Path()});
    const Result fromStdin = RunTool({"decode", "--counts"}, kTrace);
    EXPECT_EQ(fromFile.status, 0);
    EXPECT_EQ(fromFile.out, fromStdin.out);
    EXPECT_EQ(fromFile.err, fromStdin.err);
}

TEST(CliDecodeTest, WriteFailureIsReportedNotHidden)
{
    std::istringstream in(kTrace);
    std::ostringstream out;
    std::ostringstream err;
    out.setstate(std::ios::badbit);
    EXPECT_EQ(RunCli(std::vector<std::string_view>{"decode"}, {in, out, err}), kExitIoError);
    EXPECT_NE(err.str().find("tervix-cli decode: error writing the output: "), std::string::npos)
        << err.str();
}

struct UsageCase {
    std::vector<std::string_view> args;
    int status;
    const char* err;
};

void PrintTo(const UsageCase& c, std::ostream* os)
{
    for (std::string_view a : c.args)
        *os << a << ' ';
}

class CliUsageTest : public testing::TestWithParam<UsageCase> {};

TEST_P(CliUsageTest, ExitsWithAClearMessage)
{
    const UsageCase& c = GetParam();
    const Result r = RunTool(c.args, "705#05\n");
    EXPECT_EQ(r.status, c.status);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, c.err);
}

INSTANTIATE_TEST_SUITE_P(
    Errors, CliUsageTest,
    testing::Values(
        UsageCase{{}, kExitUsage, "tervix-cli: missing command\nTry 'tervix-cli --help'.\n"},
        UsageCase{{"encode"}, kExitUsage, "tervix-cli: unknown command 'encode'\nTry 'tervix-cli --help'.\n"},
        UsageCase{
            {"--verbose"}, kExitUsage, "tervix-cli: unknown option '--verbose'\nTry 'tervix-cli --help'.\n"},
        UsageCase{{"decode", "--packet"},
                  kExitUsage,
                  "tervix-cli decode: unknown option '--packet'\nTry 'tervix-cli decode --help'.\n"},
        UsageCase{{"decode", "a.log", "b.log"},
                  kExitUsage,
                  "tervix-cli decode: more than one input file ('a.log', 'b.log')\n"
                  "Try 'tervix-cli decode --help'.\n"},
        UsageCase{{"decode", "/nonexistent/trace.log"},
                  kExitCannotOpen,
                  "tervix-cli decode: cannot open '/nonexistent/trace.log': No such file or directory\n"},
        UsageCase{{"decode", "/"}, kExitCannotOpen, "tervix-cli decode: cannot open '/': Is a directory\n"}));

TEST(CliHelpTest, DescribesTheCommandsAndTheirOptions)
{
    const Result top = RunTool({"--help"});
    EXPECT_EQ(top.status, 0);
    EXPECT_NE(top.out.find("decode"), std::string::npos);

    const Result decode = RunTool({"decode", "--help"});
    EXPECT_EQ(decode.status, 0);
    EXPECT_TRUE(decode.out.starts_with("Usage: tervix-cli decode [--packets] [--counts] [FILE|-]\n"));
    for (const char* word : {"--packets", "--counts", "candump", "Exit status"})
        EXPECT_NE(decode.out.find(word), std::string::npos) << word;
}

// A file named like an option is still reachable.
TEST(CliDecodeTest, DoubleDashEndsTheOptions)
{
    const TempFile file("705#05\n");
    const Result r = RunTool({"decode", "--", file.Path()});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "SFF: NMT Handling addr=05 Data= 05 \n");
}

} // namespace
