// The bus commands against tervix-sim on Qt's virtual CAN bus, each command
// a process of its own, as on a test bench.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstdio>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

namespace {

struct CliRun {
    int status = -1;
    std::string out;
};

CliRun Cli(const std::string& arguments)
{
    const std::string command = std::string("'") + TERVIX_CLI_PATH + "' --can virtualcan:can0 " + arguments;
    CliRun r;
    FILE* p = ::popen(command.c_str(), "r");
    if (!p)
        return r;
    char buffer[512];
    while (std::fgets(buffer, sizeof buffer, p))
        r.out += buffer;
    const int raw = ::pclose(p);
    r.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    return r;
}

// Whether something listens on the virtual bus's port (35468 on loopback).
bool BusServerUp()
{
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in at{};
    at.sin_family = AF_INET;
    at.sin_port = htons(35468);
    at.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const bool up = fd >= 0 && ::connect(fd, reinterpret_cast<const sockaddr*>(&at), sizeof at) == 0;
    if (fd >= 0)
        ::close(fd);
    return up;
}

// tervix-sim on the virtual bus with node options; gone with the fixture.
class SimOnVirtualBus : public ::testing::Test {
protected:
    void Start(const char* options)
    {
        pid_ = ::fork();
        ASSERT_GE(pid_, 0);
        if (pid_ == 0) {
            ::execl(TERVIX_SIM_PATH, "tervix-sim", "--can", "virtualcan:can0", "--options", options, nullptr);
            ::_exit(127);
        }
        // The simulator must hold the bus's server: a command started first
        // would, and take the bus away from the simulator when it ends.
        for (int i = 0; i < 50 && !BusServerUp(); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        // Up once it answers its device type.
        for (int i = 0; i < 50; ++i) {
            if (Cli("--sdo-timeout 1000 sdo read 1 0x1000 0").status == 0)
                return;
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
        FAIL() << "tervix-sim did not answer on the virtual bus";
    }
    void TearDown() override
    {
        if (pid_ > 0) {
            ::kill(pid_, SIGTERM);
            ::waitpid(pid_, nullptr, 0);
        }
    }
    pid_t pid_ = -1;
};

TEST_F(SimOnVirtualBus, CommandsReadWriteScanAndWatchTheNode)
{
    Start("node=1");
    EXPECT_EQ(Cli("nmt start 1").status, 0);
    // Expedited and segmented writes, each read back.
    EXPECT_EQ(Cli("sdo write 1 0x2100 1 3100").status, 0);
    EXPECT_EQ(Cli("sdo read 1 0x2100 1").out, "3100\n");
    EXPECT_EQ(Cli("sdo write 1 0x2000 0 'written over the virtual bus' --type string").status, 0);
    EXPECT_EQ(Cli("sdo read 1 0x2000 0 --type string").out, "written over the virtual bus\n");
    EXPECT_EQ(Cli("sdo read 1 0x3000 0").status, 5); // no such object: the node aborts
    const CliRun scan = Cli("scan --timeout 100");
    EXPECT_EQ(scan.status, 0);
    EXPECT_EQ(scan.out.substr(0, 7), "node 1 ");
    EXPECT_NE(scan.out.find("\n1 node answered of 127 asked\n"), std::string::npos) << scan.out;
    const CliRun units = Cli("units 1 --seconds 0.5 --stats");
    EXPECT_EQ(units.status, 0);
    EXPECT_NE(units.out.find("unit    frames"), std::string::npos) << units.out;
    for (const char* row : {"\n   0 ", "\n   1 ", "\n   2 ", "\n   3 "})
        EXPECT_NE(units.out.find(row), std::string::npos) << row << units.out;
}

TEST_F(SimOnVirtualBus, AnAnswerLaterThanTheTimeOutIsNoAnswer)
{
    Start("node=1,delay=300");
    EXPECT_EQ(Cli("--sdo-timeout 100 sdo read 1 0x1000 0").status, 6);
}

pid_t Spawn(std::vector<std::string> argv)
{
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
        std::vector<char*> args;
        for (std::string& a : argv)
            args.push_back(a.data());
        args.push_back(nullptr);
        ::execv(args[0], args.data());
        ::_exit(127);
    }
    return pid;
}

// The frames of a candump recording that only a master sends: NMT commands,
// SDO requests and guard requests (the simulated node sends none of them).
std::vector<std::string> MasterFrames(const std::string& path)
{
    std::vector<std::string> found;
    std::ifstream in(path);
    for (std::string line; std::getline(in, line);) {
        const std::size_t space = line.rfind(' ');
        const std::size_t hash = line.find('#');
        if (space == std::string::npos || hash == std::string::npos || hash < space)
            continue;
        const std::string id = line.substr(space + 1, hash - space - 1);
        const bool remote = line.compare(hash + 1, 1, "R") == 0;
        const unsigned value = unsigned(std::stoul(id, nullptr, 16));
        if (value == 0x000 || (value >= 0x601 && value <= 0x67F) || (remote && value >= 0x701 && value <= 0x77F))
            found.push_back(line);
    }
    return found;
}

// The window next to a node sending heartbeats, with a third program
// recording the bus: listening only it sends nothing in 10 s; without the
// flag its watchdog starts the pre-operational node within 3 s.
TEST_F(SimOnVirtualBus, TheWindowListeningOnlyPutsNoFrameOnTheBus)
{
    Start("node=1");
    ASSERT_EQ(Cli("sdo write 1 0x1017 0 100").status, 0);
    const std::string dir = ::testing::TempDir();
    for (const bool listening : {true, false}) {
        const std::string record = dir + (listening ? "listening.log" : "default.log");
        const std::string seconds = listening ? "10" : "4";
        const pid_t monitor = Spawn({TERVIX_CLI_PATH, "--can", "virtualcan:can0", "monitor", "--seconds", seconds,
                                     "--record", record});
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        std::vector<std::string> window = {TERVIX_APP_PATH, "--can", "virtualcan:can0", "--no-settings"};
        if (listening)
            window.push_back("--listen-only");
        const pid_t tervix = Spawn(window);
        int status = -1;
        ::waitpid(monitor, &status, 0);
        ::kill(tervix, SIGTERM);
        ::waitpid(tervix, nullptr, 0);
        ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
        const std::vector<std::string> sent = MasterFrames(record);
        if (listening)
            EXPECT_TRUE(sent.empty()) << sent.front();
        else
            EXPECT_FALSE(sent.empty()) << "the watchdog sent no NMT Start";
    }
}

} // namespace
