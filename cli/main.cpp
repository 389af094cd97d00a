#include "cli.h"
#ifdef TERVIX_CLI_BUS
#include "bus_commands.h"
#endif

#include <iostream>

#include <sys/stat.h>
#include <unistd.h>
#include <string_view>
#include <vector>

int main(int argc, char** argv)
{
    // The commands buffer their own output; C stdio is never used alongside.
    std::ios::sync_with_stdio(false);
    std::cin.tie(nullptr);
    const std::vector<std::string_view> args(argv + 1, argv + argc);
    tervix::cli::InstallStopHandlers();
    struct stat st {};
    const bool live = fstat(STDIN_FILENO, &st) == 0 && (S_ISFIFO(st.st_mode) || S_ISCHR(st.st_mode) ||
                                                        S_ISSOCK(st.st_mode));
#ifdef TERVIX_CLI_BUS
    const tervix::cli::BusCommands bus{tervix::cli::RunBus, tervix::cli::kBusHelp};
#else
    const tervix::cli::BusCommands bus{};
#endif
    return tervix::cli::RunCli(args, {std::cin, std::cout, std::cerr, live ? STDIN_FILENO : -1}, bus);
}
