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
    kExitCannotOpen = 2, // the input file cannot be opened
    kExitIoError = 3,    // reading the input or writing the output failed
};

struct CliStreams {
    std::istream& in; // standard input, read for "-" or a missing FILE
    std::ostream& out;
    std::ostream& err;
};

// args are the words after the program name.
int RunCli(std::span<const std::string_view> args, const CliStreams& io);

} // namespace tervix::cli
