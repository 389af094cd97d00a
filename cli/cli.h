// The headless tool's entry point, kept apart from main() so that tests run
// its commands on in-memory streams.
#pragma once

#include <iosfwd>
#include <span>
#include <string_view>

namespace tervix::cli {

// Exit statuses shared by every command.
enum ExitStatus : int {
    kExitOk = 0,
    kExitUsage = 1,      // unknown command or option, missing argument
    kExitCannotOpen = 2, // the input cannot be opened, or none of it is of the kind read
    kExitIoError = 3,    // reading the input or writing the output failed
    kExitDiffers = 7,    // diff: the two sides hold different settings
};

struct CliStreams {
    std::istream& in; // standard input, read for "-" or a missing FILE
    std::ostream& out;
    std::ostream& err;
    // The descriptor behind `in` when it is a pipe or a terminal: such input
    // is read as it comes and each line's output written at once. -1: `in`
    // is read in large blocks.
    int liveInput = -1;
};

// SIGINT and SIGTERM (on Windows Ctrl+C and Ctrl+Break, as SIGINT and
// SIGBREAK) end a command's reading; it writes what it has and exits with
// 128 + the signal's number.
void InstallStopHandlers();
int StopSignal();  // 0 while none came

// The commands that talk to a bus, where the program has them (they need
// Qt): `run` gives kNotABusCommand (-1) for words that name none of them.
struct BusCommands {
    int (*run)(std::span<const std::string_view> args, const CliStreams& io) = nullptr;
    std::string_view help; // their lines of the main help
};

// args are the words after the program name.
int RunCli(std::span<const std::string_view> args, const CliStreams& io, const BusCommands& bus = {});

} // namespace tervix::cli
