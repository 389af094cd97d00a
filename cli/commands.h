// The commands of tervix-cli. Each takes the words after its own name and
// returns an exit status; a new command is one function and one table row
// in cli.cpp.
#pragma once

#include "cli.h"
#include "dcf.h"

#include <span>
#include <string>
#include <string_view>
#include <optional>
#include <vector>

namespace tervix::cli {

constexpr std::string_view kProgramName = "tervix-cli";

using CommandArgs = std::span<const std::string_view>;

struct Command {
    std::string_view name;
    std::string_view summary;
    int (*run)(CommandArgs args, const CliStreams& io);
};

int RunDecode(CommandArgs args, const CliStreams& io);
int RunConvert(CommandArgs args, const CliStreams& io);
int RunConf(CommandArgs args, const CliStreams& io);
int RunEds(CommandArgs args, const CliStreams& io);
int RunDiff(CommandArgs args, const CliStreams& io);

// What diff and the bus commands backup, diff NODE and restore share: a
// device configuration file or an EDS read, or nothing after saying why on
// standard error; a comparison printed, with diff's exit status.
std::optional<DcfDocument> LoadDcf(std::string_view path, std::string_view command, const CliStreams& io);
std::optional<EdsObjects> LoadEdsObjects(std::string_view path, std::string_view command, const CliStreams& io);
int PrintComparison(const std::vector<CompareRow>& rows, bool json, const CliStreams& io);
std::string_view DiffHelp();

// Writes a help text; when that fails, says so on standard error (with the
// system's reason) and returns kExitIoError.
int WriteHelp(const CliStreams& io, std::string_view command, std::string_view text);

// The system's reason for the last failed write (errno), e.g. "No space left
// on device".
std::string WriteErrorReason();

// Writes "tervix-cli[ command]: message" and a hint to the command's help.
int UsageError(const CliStreams& io, std::string_view command, std::string_view message);

} // namespace tervix::cli
