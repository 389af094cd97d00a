#include "cli.h"
#ifdef TERVIX_CLI_BUS
#include "bus_commands.h"
#endif

#include <iostream>

#include <sys/stat.h>
#include <unistd.h>
#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#endif
#include <string_view>
#include <vector>

int main(int argc, char** argv)
{
#ifdef _WIN32
    // Bytes in and out as they are, as elsewhere: the readers take CRLF lines
    // themselves, a serial byte stream may hold 0x1A and 0x0D, and a trace
    // written to standard output matches one written to a file.
    _setmode(_fileno(stdin), _O_BINARY);
    _setmode(_fileno(stdout), _O_BINARY);
#endif
    // The commands buffer their own output; C stdio is never used alongside.
    std::ios::sync_with_stdio(false);
    std::cin.tie(nullptr);
    const std::vector<std::string_view> args(argv + 1, argv + argc);
    tervix::cli::InstallStopHandlers();
    struct stat st {};
#ifdef S_ISSOCK
    const bool live = fstat(STDIN_FILENO, &st) == 0 && (S_ISFIFO(st.st_mode) || S_ISCHR(st.st_mode) ||
                                                        S_ISSOCK(st.st_mode));
#else
    // Windows: a pipe or the console; sockets are not file descriptors there.
    const bool live = fstat(STDIN_FILENO, &st) == 0 && (S_ISFIFO(st.st_mode) || S_ISCHR(st.st_mode));
#endif
#ifdef TERVIX_CLI_BUS
    const tervix::cli::BusCommands bus{tervix::cli::RunBus, tervix::cli::kBusHelp};
#else
    const tervix::cli::BusCommands bus{};
#endif
    return tervix::cli::RunCli(args, {std::cin, std::cout, std::cerr, live ? STDIN_FILENO : -1}, bus);
}
