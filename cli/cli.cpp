#include "cli.h"

#include "commands.h"
#include "version.h"

#include <signal.h>
#ifdef _WIN32
#define WIN32_LEAN_AND_MEAN
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#endif

#include <array>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <ostream>
#include <sstream>
#include <string>

namespace tervix::cli {

namespace {

volatile std::sig_atomic_t stopSignal = 0;

#ifdef _WIN32
// Windows has neither SIGTERM nor reads that a signal interrupts: Ctrl+C and
// Ctrl+Break arrive as console events on a thread of their own. The handler
// notes the stop, which the reading loops look for (decode's live input waits
// on a pipe in short steps for it).
BOOL WINAPI OnConsoleEvent(DWORD event)
{
    if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT)
        return FALSE;
    stopSignal = event == CTRL_C_EVENT ? SIGINT : SIGBREAK;
    return TRUE;
}
#else
extern "C" void OnStopSignal(int signal)
{
    stopSignal = signal;
}
#endif

constexpr std::array kCommands = {
    Command{"decode", "name the frames of a trace (candump, PEAK TRC, Vector ASC) or a serial adapter's byte stream",
            RunDecode},
    Command{"convert", "write a trace in another format: candump, PEAK TRC 1.1 or 2.1, Vector ASC", RunConvert},
    Command{"conf", "show what a configuration file gives the parameter pages and function buttons", RunConf},
    Command{"eds", "print the object tree an EDS file gives the object page", RunEds},
    Command{"diff", "compare the settings two device configuration files (DCF) hold", RunDiff},
};

void WriteMainHelp(std::ostream& out, const BusCommands& bus)
{
    out << "Usage: " << kProgramName << " COMMAND [OPTIONS] [ARGS]\n"
        << "       " << kProgramName << " COMMAND --help\n"
        << "       " << kProgramName << " --version\n\n"
        << "Headless tools for CANopen weighing units; no display needed.\n\nCommands:\n";
    for (const Command& c : kCommands)
        out << "  " << c.name << std::string(c.name.size() < 10 ? 10 - c.name.size() : 1, ' ') << c.summary
            << '\n';
    out << bus.help;
    if (bus.run)
        out << "\nThe bus commands take the adapter options --can, --serial, --rate and\n"
            << "--sdo-timeout (see their --help), e.g. tervix-cli --can sim sdo read 1 0x1008 0 --type string\n"
            << "They also exit with 4 when the adapter cannot be opened or a frame did not go\n"
            << "out, 5 when the node aborted the transfer and 6 when no answer came in time.\n";
    out << "\nExit status: 0 success, 1 usage error, 2 input cannot be opened (or is\n"
        << "of another kind), 3 read or write error; see each command's help.\n";
}

} // namespace

void InstallStopHandlers()
{
#ifdef _WIN32
    SetConsoleCtrlHandler(OnConsoleEvent, TRUE);
#else
    struct sigaction action {};
    action.sa_handler = OnStopSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = 0; // no restart: a blocked read returns and the command ends
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
#endif
}

int StopSignal()
{
    return stopSignal;
}

std::string WriteErrorReason()
{
    const int error = errno;
    return error != 0 ? std::strerror(error) : "write failed";
}

int WriteHelp(const CliStreams& io, std::string_view command, std::string_view text)
{
    errno = 0;
    io.out.write(text.data(), static_cast<std::streamsize>(text.size()));
    io.out.flush();
    if (io.out)
        return kExitOk;
    io.err << kProgramName;
    if (!command.empty())
        io.err << ' ' << command;
    io.err << ": cannot write the help: " << WriteErrorReason() << '\n';
    return kExitIoError;
}

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

int RunCli(std::span<const std::string_view> args, const CliStreams& io, const BusCommands& bus)
{
    if (args.empty())
        return UsageError(io, {}, "missing command");
    const std::string_view first = args.front();
    if (first == "--help" || first == "-h" || first == "help") {
        std::ostringstream text;
        WriteMainHelp(text, bus);
        return WriteHelp(io, {}, text.str());
    }
    if (first == "--version")
        return WriteHelp(io, {}, std::string(kProgramName) + " " + std::string(kTervixVersion) + "\n");
    // The bus commands first: diff with a node number is one of them.
    if (bus.run)
        if (const int status = bus.run(args, io); status != -1)
            return status;
    for (const Command& c : kCommands)
        if (c.name == first)
            return c.run(args.subspan(1), io);
    if (first.starts_with('-'))
        return UsageError(io, {}, "unknown option '" + std::string(first) + "'");
    return UsageError(io, {}, "unknown command '" + std::string(first) + "'");
}

} // namespace tervix::cli
