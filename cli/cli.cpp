#include "cli.h"

#include "commands.h"

#include <array>
#include <ostream>
#include <string>

namespace tervix::cli {

namespace {

constexpr std::array kCommands = {
    Command{"decode", "name the frames of a candump log or a serial adapter's byte stream", RunDecode},
    Command{"conf", "show what a configuration file gives the parameter pages and function buttons", RunConf},
    Command{"eds", "print the object tree an EDS file gives the object page", RunEds},
};

void WriteHelp(std::ostream& out)
{
    out << "Usage: " << kProgramName << " COMMAND [OPTIONS] [ARGS]\n"
        << "       " << kProgramName << " COMMAND --help\n\n"
        << "Headless tools for CANopen weighing units; no display needed.\n\nCommands:\n";
    for (const Command& c : kCommands)
        out << "  " << c.name << std::string(c.name.size() < 10 ? 10 - c.name.size() : 1, ' ') << c.summary
            << '\n';
    out << "\nExit status: 0 success, 1 usage error, 2 input cannot be opened,\n"
        << "3 read or write error.\n";
}

} // namespace

int UsageError(const CliStreams& io, std::string_view command, std::string_view message)
{
    io.err << kProgramName;
    if (!command.empty())
        io.err << ' ' << command;
    io.err << ": " << message << "\nTry '" << kProgramName;
    if (!command.empty())
        io.err << ' ' << command;
    io.err << " --help'.\n";
    return kExitUsage;
}

int RunCli(std::span<const std::string_view> args, const CliStreams& io)
{
    if (args.empty())
        return UsageError(io, {}, "missing command");
    const std::string_view first = args.front();
    if (first == "--help" || first == "-h" || first == "help") {
        WriteHelp(io.out);
        io.out.flush();
        return io.out ? kExitOk : kExitIoError;
    }
    for (const Command& c : kCommands)
        if (c.name == first)
            return c.run(args.subspan(1), io);
    if (first.starts_with('-'))
        return UsageError(io, {}, "unknown option '" + std::string(first) + "'");
    return UsageError(io, {}, "unknown command '" + std::string(first) + "'");
}

} // namespace tervix::cli
