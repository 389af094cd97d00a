// tervix-cli nodes on a recording another tool could have written (candump
// format), played at its own pace: what it prints of each node.
#include "bus_commands.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

namespace {

using namespace tervix::cli;

TEST(NodesCommand, ListsWhatARecordedBusSaid)
{
    const auto dir = std::filesystem::temp_directory_path() / ("tervix-nodes-" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir);
    {
        // Node 5 boots, beats "operational" every 100 ms until 0.5 s, sends a
        // heartbeat-error emergency and falls silent; node 6 beats "pre-
        // operational" every 100 ms throughout; node 7 is only asked (SDO request).
        std::ofstream log(dir / "in.log");
        char line[64];
        for (int ms = 0; ms <= 2000; ms += 50) {
            const auto stamp = [&](const char* frame) {
                std::snprintf(line, sizeof line, "(%d.%06d) can0 %s\n", 1700000000 + ms / 1000,
                              ms % 1000 * 1000, frame);
                log << line;
            };
            if (ms == 0)
                stamp("705#00");
            else if (ms % 100 == 0 && ms <= 500)
                stamp("705#05");
            if (ms == 550)
                stamp("085#3081110102030405");
            if (ms % 100 == 50)
                stamp("706#7F");
            if (ms == 300)
                stamp("607#4000100000000000");
        }
    }
    std::istringstream in;
    std::ostringstream out, err;
    const std::string replay = "replay:" + (dir / "in.log").string();
    ASSERT_EQ(RunCli(std::vector<std::string_view>{"--can", replay, "--json", "nodes", "--seconds", "1.2"},
                     {in, out, err}, {RunBus, kBusHelp}),
              0)
        << err.str();
    // One line per node, in node order.
    const std::string printed = out.str();
    const std::size_t six = printed.find("{\"node\":6,");
    ASSERT_EQ(printed.rfind("{\"node\":5,", 0), 0u) << printed;
    ASSERT_NE(six, std::string::npos) << printed;
    ASSERT_EQ(printed.find('\n', six), printed.size() - 1) << printed;
    const std::string five = printed.substr(0, six);
    for (const char* piece :
         {"\"state\":\"operational\"", "\"heartbeatMs\":100,", "\"silent\":true", "\"frames\":7,",
          "\"emergencyCount\":1,", "\"code\":\"8130\"", "\"text\":\"Life guard error or heartbeat error\"",
          "\"register\":\"11\"", "\"registerBits\":\"generic, communication\"",
          "\"manufacturer\":\"01 02 03 04 05\""})
        EXPECT_NE(five.find(piece), std::string::npos) << piece << '\n' << five;
    for (const char* piece :
         {"\"state\":\"pre-operational\"", "\"heartbeatMs\":100,", "\"silent\":false", "\"emergencies\":[]"})
        EXPECT_NE(printed.find(piece, six), std::string::npos) << piece << '\n' << printed;
    std::filesystem::remove_all(dir);
}

} // namespace
