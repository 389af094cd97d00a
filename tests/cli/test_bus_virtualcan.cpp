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
#include <cstdio>
#include <string>
#include <thread>

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

} // namespace
