// The bus commands against the simulated node inside the program (--can
// sim), tervix-sim on a pseudo-terminal (--serial) and as a whole process:
// what they print, and their exit statuses.
#include "bus_commands.h"
#include "dcf.h"

#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <map>
#include <sstream>
#include <string>
#include <vector>

namespace {

using namespace tervix::cli;

struct BusCase {
    const char* name;
    std::vector<std::string_view> args;
    int status;
    std::string out;       // all of standard output
    std::string errHas;    // a part of standard error
};

class BusCommand : public ::testing::TestWithParam<BusCase> {};

TEST_P(BusCommand, PrintsAndEndsAsATechnicianExpects)
{
    const BusCase& c = GetParam();
    std::istringstream in;
    std::ostringstream out, err;
    EXPECT_EQ(RunCli(c.args, {in, out, err}, {RunBus, kBusHelp}), c.status) << err.str();
    EXPECT_EQ(out.str(), c.out);
    EXPECT_NE(err.str().find(c.errHas), std::string::npos) << err.str();
}

// The simulated node 1 answers 0x1000 with 0x00040000, 0x1008/0x1009 with its
// name and board (segmented), and aborts objects it lacks with 06020000.
INSTANTIATE_TEST_SUITE_P(
    OnSimulatedNode, BusCommand,
    ::testing::Values(
        BusCase{"TypeFromTheEds",
                {"--can", "sim", "sdo", "read", "1", "0x1008", "0", "--eds", TERVIX_EXAMPLES_DIR "/Quorbit.eds"}, 0,
                "KRV weighing unit\n", ""},
        // Not started, the node sends no process data.
        BusCase{"ListeningSendsNoStart", {"--can", "sim", "units", "1", "--listen", "--seconds", "0.3"}, 0, "", ""},
        BusCase{"FourBytesAsU32ByDefault", {"--can", "sim", "sdo", "read", "1", "0x1000", "0"}, 0, "262144\n", ""},
        BusCase{"LongerValuesAsHexByDefault", {"sdo", "read", "1", "4105", "0", "--can", "sim"}, 0,
                "4B 52 56 20 62 6F 61 72 64 20 72 65 76 2E 20 33\n", ""},
        BusCase{"Json",
                {"--can", "sim", "--json", "sdo", "read", "1", "0x100A", "0", "--type", "string"},
                0,
                "{\"node\":1,\"index\":4106,\"sub\":0,\"type\":\"string\",\"value\":\"KRV firmware 1.02\","
                "\"bytes\":\"4B 52 56 20 66 69 72 6D 77 61 72 65 20 31 2E 30 32\"}\n",
                ""},
        // A node that lays abort codes out as CiA 301 does, read that way.
        BusCase{"AbortInTheStandardsOrder",
                {"--can", "sim:order=standard", "--sdo-abort-order", "standard", "sdo", "read", "1", "0x3000", "0"},
                kExitAbort, "", "06020000 Object does not exist in the object dictionary"},
        BusCase{"ValueBeyondItsTypeSendsNothing",
                {"--can", "sim", "sdo", "write", "1", "0x2100", "1", "300", "--type", "u8"}, kExitUsage, "",
                "'300' is no u8 (0 to 255"},
        BusCase{"NegativeValueOfASignedType", {"--can", "sim", "sdo", "write", "1", "0x2100", "1", "-129", "--type", "i8"},
                kExitUsage, "", "'-129' is no i8 (-128 to 127"},
        BusCase{"UnknownType", {"--can", "sim", "sdo", "read", "1", "0x1000", "0", "--type", "u64"}, kExitUsage, "",
                "unknown type 'u64'"},
        BusCase{"NodeOutOfRange", {"--can", "sim", "sdo", "read", "128", "0x1000", "0"}, kExitUsage, "",
                "'128' is no node (1..127)"},
        BusCase{"UnknownBackEnd", {"--can", "nosuch", "nmt", "start", "1"}, kExitAdapter, "", "nmt: "},
        BusCase{"NmtStartAll", {"--can", "sim", "--json", "nmt", "start", "all"}, 0,
                "{\"nmt\":\"start\",\"node\":0}\n", ""},
        BusCase{"Info", {"--can", "sim", "info", "1"}, 0,
                "node              1\n"
                "device type       0x00040000\n"
                "device name       KRV weighing unit\n"
                "hardware version  KRV board rev. 3\n"
                "software version  KRV firmware 1.02\n"
                "vendor            0x000003A7\n"
                "product code      0x00000001\n"
                "revision          0x00010000\n"
                "serial number     0x00000001\n"
                "heartbeat time    0 ms\n",
                ""},
        BusCase{"InfoOfASilentNode", {"--can", "sim", "--sdo-timeout", "20", "info", "9"}, kExitTimeout, "",
                "no answer from node 9 within 20 ms"}),
    [](const auto& info) { return std::string(info.param.name); });

} // namespace

namespace {

using namespace tervix::cli;

int RunBusLine(std::vector<std::string_view> args, std::string* out = nullptr)
{
    std::istringstream in;
    std::ostringstream o, err;
    const int status = RunCli(args, {in, o, err}, {RunBus, kBusHelp});
    if (out)
        *out = o.str();
    EXPECT_TRUE(status == 0) << err.str();
    return status;
}

// tervix-sim in a process of its own on a pseudo-terminal, reached at a link.
class SimOnPty : public ::testing::Test {
protected:
    void Start(const char* options = "node=1")
    {
        link_ = std::filesystem::temp_directory_path() / ("tervix-cli-bus-" + std::to_string(::getpid()));
        int pipeFds[2];
        ASSERT_EQ(::pipe(pipeFds), 0);
        pid_ = ::fork();
        ASSERT_GE(pid_, 0);
        if (pid_ == 0) {
            ::dup2(pipeFds[1], STDOUT_FILENO);
            ::execl(TERVIX_SIM_PATH, "tervix-sim", "--pty", "--link", link_.c_str(), "--options", options, nullptr);
            ::_exit(127);
        }
        ::close(pipeFds[1]);
        // The simulator names its pseudo-terminal once it is ready.
        char c = 0;
        while (::read(pipeFds[0], &c, 1) == 1 && c != '\n') {
        }
        ::close(pipeFds[0]);
        ASSERT_TRUE(std::filesystem::exists(link_));
    }
    void TearDown() override
    {
        if (pid_ > 0) {
            ::kill(pid_, SIGTERM);
            ::waitpid(pid_, nullptr, 0);
            pid_ = -1;
        }
    }
    std::filesystem::path link_;
    pid_t pid_ = -1;
};

// Through the serial adapter's framing at both ends: the node keeps what was
// written, expedited or segmented; it aborts what it lacks; a scan finds it
// alone.
TEST_F(SimOnPty, CommandsReadWriteScanAndWatchTheNode)
{
    Start();
    const std::string link = link_.string();
    std::string out;
    EXPECT_EQ(RunBusLine({"--serial", link, "nmt", "start", "1"}), 0);
    EXPECT_EQ(RunBusLine({"--serial", link, "sdo", "write", "1", "0x2100", "1", "3100"}), 0);
    EXPECT_EQ(RunBusLine({"--serial", link, "sdo", "read", "1", "0x2100", "1"}, &out), 0);
    EXPECT_EQ(out, "3100\n");
    EXPECT_EQ(RunBusLine({"--serial", link, "sdo", "write", "1", "0x2000", "0", "twenty characters ok", "--type", "string"}), 0);
    EXPECT_EQ(RunBusLine({"--serial", link, "sdo", "read", "1", "0x2000", "0", "--type", "string"}, &out), 0);
    EXPECT_EQ(out, "twenty characters ok\n");
    std::istringstream in;
    std::ostringstream o, err;
    EXPECT_EQ(RunCli(std::vector<std::string_view>{"--serial", link, "sdo", "read", "1", "0x3000", "0"}, {in, o, err},
                     {RunBus, kBusHelp}),
              kExitAbort);
    EXPECT_EQ(RunBusLine({"--serial", link, "scan", "--nodes", "1-5", "--timeout", "50"}, &out), 0);
    EXPECT_EQ(out.substr(0, 7), "node 1 ");
    EXPECT_NE(out.find("\n1 node answered of 5 asked\n"), std::string::npos) << out;
}

TEST_F(SimOnPty, AnAnswerLaterThanTheTimeOutIsNoAnswer)
{
    Start("node=1,delay=300");
    std::istringstream in;
    std::ostringstream out, err;
    EXPECT_EQ(RunCli(std::vector<std::string_view>{"--serial", link_.string(), "--sdo-timeout", "100", "sdo", "read", "1",
                                                   "0x1000", "0"},
                     {in, out, err}, {RunBus, kBusHelp}),
              kExitTimeout);
}

// Every ParameterValue of a file as Python's configparser reads it, one
// "SECTION=VALUE" line each, and the commissioning section's NodeID.
std::map<std::string, std::string> ReadByConfigParser(const std::string& path)
{
    const std::string command = "python3 -c '"
                                "import configparser, sys\n"
                                "c = configparser.ConfigParser(interpolation=None)\n"
                                "c.optionxform = str.lower\n"
                                "c.read(sys.argv[1])\n"
                                "print(\"NodeID=\" + c[\"DeviceComissioning\"][\"nodeid\"])\n"
                                "[print(s + \"=\" + c[s][\"parametervalue\"]) for s in c.sections() "
                                "if \"parametervalue\" in c[s]]' '" +
                                path + "'";
    std::map<std::string, std::string> values;
    FILE* p = ::popen(command.c_str(), "r");
    char line[512];
    while (p && std::fgets(line, sizeof line, p)) {
        std::string text(line);
        text.pop_back();
        const std::size_t eq = text.find('=');
        values[text.substr(0, eq)] = text.substr(eq + 1);
    }
    EXPECT_EQ(p ? ::pclose(p) : -1, 0);
    return values;
}

int RunQuiet(std::vector<std::string_view> args, std::string* out = nullptr)
{
    std::istringstream in;
    std::ostringstream o, err;
    const int status = RunCli(args, {in, o, err}, {RunBus, kBusHelp});
    if (out)
        *out = o.str();
    return status;
}

// Backup, a change, compare, restore and compare again through the whole
// command line; the file holds what an independent INI reader finds.
TEST_F(SimOnPty, BackupDiffRestoreThroughTheCommandLine)
{
    Start();
    const std::string link = link_.string();
    const std::string file = link + ".dcf";
    const std::string eds = std::string(TERVIX_EXAMPLES_DIR) + "/Quorbit.eds";
    const std::string conf = std::string(TERVIX_EXAMPLES_DIR) + "/Tervix.conf";
    EXPECT_EQ(RunBusLine({"--serial", link, "backup", "1", "-o", file, "--eds", eds, "--conf", conf}), 0);

    const auto python = ReadByConfigParser(file);
    const auto ours = LoadDcf(file, "test", {std::cin, std::cout, std::cerr});
    ASSERT_TRUE(ours);
    EXPECT_EQ(python.at("NodeID"), "1");
    std::size_t values = 0;
    for (const tervix::DcfEntry& e : ours->entries)
        if (e.value) {
            ++values;
            EXPECT_EQ(python.at(tervix::SectionName(e.index, e.subIndex, e.isSub)), *e.value);
        }
    EXPECT_EQ(python.size(), values + 1);
    EXPECT_EQ(python.at("2101sub5"), "100");

    EXPECT_EQ(RunBusLine({"--serial", link, "sdo", "write", "1", "0x2101", "5", "7"}), 0);
    std::string out;
    EXPECT_EQ(RunQuiet({"--serial", link, "diff", "1", file, "--eds", eds}, &out), kExitDiffers);
    const std::size_t row = out.find("\n2101sub5  Motion band ");
    ASSERT_NE(row, std::string::npos) << out;
    std::istringstream words(out.substr(row, out.find('\n', row + 1) - row));
    std::vector<std::string> columns{std::istream_iterator<std::string>(words), {}};
    EXPECT_EQ(columns, (std::vector<std::string>{"2101sub5", "Motion", "band", "100", "7", "differs"}));
    EXPECT_NE(out.find("\n1 difference in "), std::string::npos) << out;
    EXPECT_EQ(RunBusLine({"--serial", link, "restore", "1", file, "--eds", eds}, &out), 0);
    EXPECT_EQ(out.substr(0, out.find('\n')), "2101sub5  Motion band = 100: written and verified (unit held 7)");
    EXPECT_EQ(RunBusLine({"--serial", link, "diff", "1", file, "--eds", eds}), 0);

    // A backup that cannot write its file leaves the one there as it was.
    std::filesystem::create_directory(file + ".tmp");
    const std::uintmax_t size = std::filesystem::file_size(file);
    EXPECT_EQ(RunQuiet({"--serial", link, "backup", "1", "-o", file, "--units", "0", "--eds", eds, "--conf", conf}),
              kExitIoError);
    EXPECT_EQ(std::filesystem::file_size(file), size);
    std::filesystem::remove(file + ".tmp");

    // A node of two units has another device type: nothing is written.
    TearDown();
    Start("node=1,units=2");
    EXPECT_EQ(RunQuiet({"--serial", link_.string(), "restore", "1", file, "--eds", eds}), 8);
    std::filesystem::remove(file);
}

// The program itself, as a technician runs it.
TEST(BusCommandProcess, ReadsTheSimulatedDeviceName)
{
    const std::string command = std::string("'") + TERVIX_CLI_PATH + "' --can sim sdo read 1 0x1008 0 --type string";
    FILE* p = ::popen(command.c_str(), "r");
    ASSERT_NE(p, nullptr);
    char line[128] = {};
    const bool got = std::fgets(line, sizeof line, p) != nullptr;
    EXPECT_EQ(::pclose(p), 0);
    EXPECT_TRUE(got);
    EXPECT_STREQ(line, "KRV weighing unit\n");
}

} // namespace

namespace {

std::string ReadFile(const std::filesystem::path& path)
{
    std::ifstream f(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(f), {});
}

// A recording from another tool, replayed: each frame named as the log names
// it, and recorded again with its identifier as it was (29 bits included).
TEST(MonitorCommand, NamesAndRecordsWhatARecordingPlays)
{
    const auto dir = std::filesystem::temp_directory_path() / ("tervix-monitor-" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir);
    std::ofstream(dir / "in.log") << "(1700000000.000000) can0 701#05\n"
                                     "(1700000000.010000) can0 12345678#0102\n"
                                     "(1700000000.020000) can0 000#0101\n";
    const std::string replay = "replay:" + (dir / "in.log").string() + ",speed=0";
    const std::string out = (dir / "out.log").string();
    std::string printed;
    ASSERT_EQ(RunBusLine({"--can", replay, "monitor", "--seconds", "0.3", "--record", out}, &printed), 0);
    std::vector<std::string> names;
    std::istringstream lines(printed);
    for (std::string line; std::getline(lines, line);)
        names.push_back(line.substr(line.find(" Rx ") + 4));
    // An extended frame is named by its identifier's low eleven bits, as the
    // log names it: 0x678 is function 12 (RSDO), node 0x78.
    EXPECT_EQ(names, (std::vector<std::string>{"SFF: NMT Handling addr=01 Data= 05 ", "EFF: RSDO  addr=78 Data= 01 02 ",
                                               "SFF: NMT   addr=00 Data= 01 01 "}));
    const std::string recorded = ReadFile(out);
    EXPECT_NE(recorded.find(" rx 701#05\n"), std::string::npos) << recorded;
    EXPECT_NE(recorded.find(" rx 12345678#0102\n"), std::string::npos) << recorded;
    EXPECT_NE(recorded.find(" rx 000#0101\n"), std::string::npos) << recorded;
    std::filesystem::remove_all(dir);
}

// The statistics a run prints agree with those worked out here, the usual
// two-pass way, from the values it printed frame by frame.
TEST(UnitsCommand, StatisticsAgreeWithTheValuesPrinted)
{
    std::string printed;
    ASSERT_EQ(RunBusLine({"--can", "sim", "units", "1", "--seconds", "0.6", "--stats"}, &printed), 0);
    std::map<unsigned, std::vector<double>> values;
    std::map<unsigned, std::vector<double>> table; // frames, mean, stddev, min, max, peak-peak
    std::istringstream lines(printed);
    for (std::string line; std::getline(lines, line);) {
        std::istringstream words(line);
        double t = 0, v = 0;
        std::string word;
        unsigned unit = 0;
        if (line.find(" unit ") != std::string::npos && (words >> t >> word >> unit >> v)) {
            values[unit].push_back(v);
        } else if (std::isdigit(static_cast<unsigned char>(line.at(line.find_first_not_of(' '))))) {
            std::vector<double> row(6);
            words >> unit >> row[0] >> row[1] >> row[2] >> row[3] >> row[4] >> row[5];
            table[unit] = row;
        }
    }
    ASSERT_EQ(values.size(), 4u) << printed; // the simulated node's four units
    ASSERT_EQ(table.size(), 4u) << printed;
    for (const auto& [unit, v] : values) {
        double sum = 0;
        for (double x : v)
            sum += x;
        const double mean = sum / double(v.size());
        double squares = 0;
        for (double x : v)
            squares += (x - mean) * (x - mean);
        const double sd = v.size() > 1 ? std::sqrt(squares / double(v.size() - 1)) : 0.0;
        const auto [lo, hi] = std::minmax_element(v.begin(), v.end());
        const std::vector<double>& row = table[unit];
        EXPECT_EQ(row[0], double(v.size())) << unit;
        // The lines show three decimals; the statistics use the frames' floats.
        EXPECT_NEAR(row[1], mean, 1e-3) << unit;
        EXPECT_NEAR(row[2], sd, 1e-3) << unit;
        EXPECT_NEAR(row[3], *lo, 1e-3) << unit;
        EXPECT_NEAR(row[4], *hi, 1e-3) << unit;
        EXPECT_NEAR(row[5], *hi - *lo, 2e-3) << unit;
    }
}

} // namespace
