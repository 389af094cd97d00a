// tervix-cli convert end to end: a trace through every format and back, the
// ASC it writes held to can-utils' log2asc, and what it says on the way.
#include "cli.h"
#include "run_tool.h"

#include <gtest/gtest.h>

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <unistd.h>

namespace {

namespace fs = std::filesystem;

class ConvertTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        dir_ = fs::temp_directory_path() / ("tervix-convert-" + std::to_string(::getpid()) + "-" +
                                            ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::create_directories(dir_);
    }
    void TearDown() override { fs::remove_all(dir_); }

    std::string Path(const std::string& name) const { return (dir_ / name).string(); }
    std::string Write(const std::string& name, const std::string& text) const
    {
        std::ofstream(Path(name), std::ios::binary) << text;
        return Path(name);
    }
    static std::string ReadFile(const std::string& path)
    {
        std::ifstream in(path, std::ios::binary);
        std::ostringstream text;
        text << in.rdbuf();
        return text.str();
    }

    fs::path dir_;
};

// "(time) iface frame [T]" lines of a candump log as frame text and time.
struct Line {
    double seconds;
    std::string frame; // "705#05", "tx" marked by the direction
    bool tx;
};

std::vector<Line> CandumpLines(const std::string& text)
{
    std::vector<Line> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        std::istringstream fields(line);
        char paren = 0;
        Line l{};
        std::string iface;
        std::string mark;
        fields >> paren >> l.seconds >> paren >> iface >> l.frame >> mark;
        l.tx = iface == "tx" || mark == "T";
        lines.push_back(l);
    }
    return lines;
}

const std::string kLog = "(1436509052.249713) can0 705#05\n"
                         "(1436509052.250000) can0 12345678#0102 T\n"
                         "(1436509053.000100) can0 123#R\n"
                         "(1436509053.000250) can0 123#R3\n"
                         "(1436509053.100000) can0 7FF#\n"
                         "(1436509053.200000) can0 20000000#0000000000000000\n"
                         "(1436509054.000049) can0 181#1122334455667788 T\n";

// Through TRC 1.1 (0.1 ms), ASC and TRC 2.1 (µs) back to a candump log: the
// same frames, directions and error frame, times within half a tenth of a
// millisecond.
TEST_F(ConvertTest, RoundTripThroughEveryFormatKeepsTheFrames)
{
    std::string from = Write("in.log", kLog);
    for (const char* to : {"a.trc", "b.asc", "c.trc", "out.log"}) {
        const std::string target = Path(to);
        std::vector<std::string_view> args{"convert"};
        if (std::string_view(to) == "a.trc") // TRC 2.1 by the extension otherwise
            args.insert(args.end(), {"--to", "trc11"});
        args.insert(args.end(), {from, target});
        const Result r = RunTool(args);
        ASSERT_EQ(r.status, 0) << to << ": " << r.err;
        EXPECT_EQ(r.err, "");
        from = target;
    }
    const std::vector<Line> in = CandumpLines(kLog);
    const std::vector<Line> out = CandumpLines(ReadFile(from));
    ASSERT_EQ(out.size(), in.size());
    for (std::size_t k = 0; k < in.size(); ++k) {
        EXPECT_EQ(out[k].frame, in[k].frame) << k;
        EXPECT_EQ(out[k].tx, in[k].tx) << k;
        EXPECT_NEAR(out[k].seconds, in[k].seconds, 50e-6) << k;
    }
    EXPECT_NE(ReadFile(Path("a.trc")).find(";$FILEVERSION=1.1"), std::string::npos);
    EXPECT_NE(ReadFile(Path("c.trc")).find(";$FILEVERSION=2.1"), std::string::npos);
}

// log2asc writes the date to the second and counts from the first frame: a
// log that starts on a whole second makes every message line comparable.
TEST_F(ConvertTest, AscLinesAreThoseOfLog2asc)
{
    if (std::system("command -v log2asc >/dev/null 2>&1") != 0)
        GTEST_SKIP() << "log2asc (can-utils) is not installed";
    const std::string log = Write("in.log", "(1436509052.000000) can0 705#05\n"
                                            "(1436509052.000287) can0 12345678#0102 T\n"
                                            "(1436509052.750387) can0 123#R\n"
                                            "(1436509052.750487) can0 123#R3\n"
                                            "(1436509052.850287) can0 7FF# T\n"
                                            "(1436509052.950287) can0 20000080#0000000000000000\n"
                                            "(1436509063.000000) can0 181#1122334455667788\n");
    ASSERT_EQ(std::system(("log2asc -I " + log + " -O " + Path("ref.asc") + " can0").c_str()), 0);
    const Result r = RunTool({"convert", log, Path("ours.asc")});
    ASSERT_EQ(r.status, 0) << r.err;

    auto messages = [](const std::string& text) {
        std::vector<std::string> lines;
        std::istringstream in(text);
        for (std::string line; std::getline(in, line);)
            if (!line.empty() && (line[0] == ' ' || std::isdigit(static_cast<unsigned char>(line[0]))))
                lines.push_back(line);
        return lines;
    };
    const std::string ref = ReadFile(Path("ref.asc"));
    const std::string ours = ReadFile(Path("ours.asc"));
    EXPECT_EQ(messages(ours), messages(ref));
    EXPECT_EQ(messages(ours).size(), 7u);
    // The same second, ours with milliseconds: "date Fri Jul 10 06:17:32.000 2015".
    const std::string refDate = ref.substr(0, ref.find('\n'));
    std::string ourDate = ours.substr(0, ours.find('\n'));
    ASSERT_NE(ourDate.find(".000 "), std::string::npos) << ourDate;
    ourDate.erase(ourDate.find(".000 "), 4);
    EXPECT_EQ(ourDate, refDate);
    EXPECT_NE(ours.find("\nbase hex  timestamps absolute\n"), std::string::npos);
    EXPECT_TRUE(ours.ends_with("End TriggerBlock\n"));
}

// Each kind of line no classic frame holds is counted once on standard
// error, the first unreadable line named.
TEST_F(ConvertTest, CountsWhatItSkippedPerKind)
{
    const std::string in =
        Write("in.trc", ";$FILEVERSION=2.1\n;$COLUMNS=N,O,T,B,I,d,R,L,D\n"
                        "      1      1059.900 DT 1      0300 Rx -  1    00\n"
                        "      5      1334.416 FD 1      0500 Tx -  9    01 02 03 04 05 06 07 08 09\n"
                        "      7      1334.224 EV 1  User-defined event for bus 1\n"
                        "      9      1334.231 ST 1         - Rx -  4    00 00 00 08\n"
                        "     10      1334.268 ST 1         - Rx -  4    00 00 00 08\n"
                        "     11      1335.000 DT 1      0G00 Rx -  1    00\n"
                        "     12      1335.000 DT 1      0100 Rx -  2    00\n");
    const Result r = RunTool({"convert", in, Path("out.log")});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "tervix-cli convert: skipped 1 CAN FD frame\n"
                     "tervix-cli convert: skipped 1 comment or event\n"
                     "tervix-cli convert: skipped 2 status lines\n"
                     "tervix-cli convert: skipped 2 unreadable lines (first: line 8, bad identifier)\n");
    EXPECT_EQ(CandumpLines(ReadFile(Path("out.log"))).size(), 1u);
}

} // namespace
