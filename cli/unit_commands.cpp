// tervix-cli backup, diff NODE and restore: a node's settings to a device
// configuration file, compared with one, and written back from one. The
// reads and writes are the window's (UnitJob); this is their command line.
#include "bus_internal.h"

#include "bus_commands.h"
#include "config_file.h"
#include "json_text.h"
#include "unit_job.h"
#include "version.h"

#include <ctime>
#include <filesystem>
#include <functional>
#include <fstream>
#include <ostream>
#include <sstream>

namespace tervix::cli {

namespace {

constexpr std::string_view kBackupHelp =
    "Usage: tervix-cli [ADAPTER] backup NODE -o FILE.dcf [--units LIST] [--conf FILE] [--eds FILE]\n\n"
    "Reads node NODE's settings into a device configuration file (DCF): device\n"
    "type (1000), name (1008), versions (1009, 100A) and identity (1018), every\n"
    "row of the four parameter pages for each unit (the page's index with the\n"
    "unit in its low byte), and with --eds every object the EDS marks readable\n"
    "that these do not cover (write-only objects are not read). The file is\n"
    "written under a temporary name and renamed, so a backup that fails leaves\n"
    "any earlier file as it was. An object that cannot be read is kept as a\n"
    "comment with the reason and listed on standard error.\n\n"
    "  -o, --output FILE  the file to write\n"
    "  --units LIST       units to read: 0-3 (default), 1, 0,2\n"
    "  --conf FILE        the pages' rows (default Tervix.conf; with --eds it may be\n"
    "                     missing)\n"
    "  --eds FILE         names, data types and access types, and the further objects\n\n";

constexpr std::string_view kRestoreHelp =
    "Usage: tervix-cli [ADAPTER] restore NODE FILE.dcf [--all] [--force] [--dry-run] [--eds FILE]\n\n"
    "Writes the file's values to node NODE: first it reads the node's device type,\n"
    "vendor and product and refuses (exit 8), before writing anything, a file for\n"
    "another device; then it reads each writable object and writes, in page\n"
    "order, those that differ, reading each back. Objects the EDS (or, without\n"
    "one, the file) marks read-only, constant or write-only are never written;\n"
    "without an access type, every parameter page row counts as writable. Each\n"
    "object is reported: written and verified, unchanged, refused (the abort),\n"
    "not verified (read back otherwise).\n\n"
    "  --all       write every writable value, also those the node holds already\n"
    "  --force     write to a node of another device type, vendor or product\n"
    "  --dry-run   read and list what would be written; write nothing\n"
    "  --eds FILE  access and data types from this EDS file\n\n";

constexpr std::string_view kUnitExitHelp =
    "Exit status: 0 done, 1 usage error, 2 a file cannot be opened, 3 the file\n"
    "cannot be written, 4 the adapter cannot be opened or a frame did not go out,\n"
    "5 the node aborted a transfer (backup: an object was not read; the file is\n"
    "written), 6 no answer in time (a node that answers nothing ends the command\n"
    "at its first request), 7 restore: read back differs, 8 restore\n"
    "refused: the file is for another device, 128+N ended by signal N.\n";

constexpr int kExitRefused = 8;

std::optional<std::vector<std::uint8_t>> UnitList(std::string_view text)
{
    std::vector<std::uint8_t> units;
    std::size_t start = 0;
    while (start <= text.size()) {
        const std::size_t comma = std::min(text.find(',', start), text.size());
        const std::string_view part = text.substr(start, comma - start);
        const std::size_t dash = part.find('-');
        const auto first = ParseInteger(part.substr(0, dash));
        const auto last = dash == std::string_view::npos ? first : ParseInteger(part.substr(dash + 1));
        if (!first || !last || *first < 0 || *last > 255 || *first > *last)
            return std::nullopt;
        for (long long u = *first; u <= *last; ++u)
            if (std::find(units.begin(), units.end(), u) == units.end())
                units.push_back(static_cast<std::uint8_t>(u));
        start = comma + 1;
    }
    return units;
}

// Writes `text` beside `path` under a temporary name, then renames it.
bool WriteAtomically(const std::string& path, const std::string& text, std::string* error)
{
    const std::string temporary = path + ".tmp";
    {
        std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
        out << text;
        out.flush();
        if (!out) {
            *error = WriteErrorReason();
            out.close();
            std::error_code ignored;
            std::filesystem::remove(temporary, ignored);
            return false;
        }
    }
    std::error_code ec;
    std::filesystem::rename(temporary, path, ec);
    if (ec) {
        *error = ec.message();
        std::filesystem::remove(temporary, ec);
        return false;
    }
    return true;
}

using MakeJob = std::function<std::unique_ptr<UnitJob>(CanopenClient&)>;
using UseJob = std::function<int(const UnitJob&)>;

// Opens the bus, runs the job `make` builds to its end and hands it to
// `use`, whose status is the command's; the adapter's or the signal's
// status when the job could not run or end.
int RunJobOnBus(const BusOptions& options, std::string_view command, const CliStreams& io, const MakeJob& make,
                const UseJob& use)
{
    auto bus = OpenBus(options, command, io);
    if (!bus)
        return kExitAdapter;
    CanopenClient client([&bus](unsigned, const BusFrame& f, const SdoOutgoing&) { return bus->Send(f); },
                         options.Client());
    const std::unique_ptr<UnitJob> job = make(client);
    job->Start(DefaultClock().Now());
    if (!RunUntil(*bus, &client, [&] { return !job->Running(); }, std::chrono::hours(24 * 365))) {
        job->Cancel(DefaultClock().Now());
        return 128 + StopSignal();
    }
    if (!job->SendError().empty()) {
        io.err << kProgramName << ' ' << command << ": " << job->SendError() << '\n';
        return kExitAdapter;
    }
    if (job->NoAnswer()) {
        io.err << kProgramName << ' ' << command << ": node " << job->Node() << " does not answer at "
               << options.kbit << " kbit/s; nothing done\n";
        return kExitTimeout;
    }
    return use(*job);
}

// The EDS (when given) and the device configuration file a command reads.
struct Inputs {
    std::optional<EdsObjects> eds;
    DcfDocument file;
    const EdsObjects* Eds() const { return eds ? &*eds : nullptr; }
};

std::optional<Inputs> LoadInputs(const Words& w, std::string_view file, std::string_view command,
                                 const CliStreams& io)
{
    Inputs in;
    if (w.eds && !(in.eds = LoadEdsObjects(*w.eds, command, io)))
        return std::nullopt;
    auto doc = LoadDcf(file, command, io);
    if (!doc)
        return std::nullopt;
    in.file = std::move(*doc);
    return in;
}

std::string FileName(const std::string& path)
{
    return std::filesystem::path(path).filename().string();
}

void DateAndTime(DcfDocument& doc)
{
    const std::time_t t = std::time(nullptr);
    std::tm local{};
    localtime_r(&t, &local);
    char date[16];
    char time[16];
    std::strftime(date, sizeof date, "%m-%d-%Y", &local);
    std::strftime(time, sizeof time, "%I:%M%p", &local);
    doc.creationDate = date;
    doc.creationTime = time;
}

int WriteBackup(const UnitJob& job, unsigned node, const UnitOptions& u, bool json, const CliStreams& io);

int RunBackup(const Words& w, const BusOptions& options, const UnitOptions& u, const CliStreams& io)
{
    constexpr std::string_view command = "backup";
    if (w.positional.size() != 1)
        return UsageError(io, command, "backup takes one NODE");
    const auto node = NodeNumber(w.positional[0], false);
    if (!node)
        return UsageError(io, command, "'" + std::string(w.positional[0]) + "' is no node (1..127)");
    if (!u.output)
        return UsageError(io, command, "-o FILE is needed");
    const auto units = UnitList(u.units.value_or("0-3"));
    if (!units)
        return UsageError(io, command, "'" + std::string(*u.units) + "' is no list of units (0..255)");
    std::optional<EdsObjects> eds;
    if (w.eds && !(eds = LoadEdsObjects(*w.eds, command, io)))
        return kExitCannotOpen;
    std::array<PageSection, kPageCount> pages;
    ConfigFileLoad load = LoadConfigFile(std::string(u.conf.value_or(kConfigFileName)));
    if (load.ok) {
        pages = ReadConfiguration(load.lines).pages;
    } else if (u.conf || !eds) {
        io.err << kProgramName << ' ' << command << ": " << load.error << '\n';
        return kExitCannotOpen;
    }

    const auto plan = BackupPlan(pages, *units, eds ? &*eds : nullptr);
    return RunJobOnBus(
        options, command, io,
        [&](CanopenClient& client) {
            return UnitJob::Backup(client, *node, plan, DcfCommissioning{*node, options.kbit, {}, {}}, nullptr);
        },
        [&](const UnitJob& job) { return WriteBackup(job, *node, u, options.json, io); });
}

int WriteBackup(const UnitJob& job, unsigned node, const UnitOptions& u, bool json, const CliStreams& io)
{
    constexpr std::string_view command = "backup";
    DcfDocument doc = job.Result();
    doc.createdBy = "Tervix " + std::string(kTervixVersion);
    doc.description = "Settings of node " + std::to_string(node) + ", units " + std::string(u.units.value_or("0-3"));
    DateAndTime(doc);
    const std::string path(*u.output);
    std::string error;
    if (!WriteAtomically(path, DcfText(doc, FileName(path)), &error)) {
        io.err << kProgramName << ' ' << command << ": cannot write '" << path << "': " << error << '\n';
        return kExitIoError;
    }
    std::size_t read = 0;
    std::string failed;
    for (const DcfEntry& e : doc.entries) {
        if (e.value) {
            ++read;
            continue;
        }
        if (e.failure == "write-only")
            continue;
        if (json) {
            failed += failed.empty() ? "{\"object\": " : ", {\"object\": ";
            AppendJsonString(failed, SectionName(e.index, e.subIndex, e.isSub));
            failed += ", \"name\": ";
            AppendJsonString(failed, e.name);
            failed += ", \"reason\": ";
            AppendJsonString(failed, e.failure);
            failed += '}';
        } else {
            io.err << kProgramName << ' ' << command << ": " << SectionName(e.index, e.subIndex, e.isSub) << ' '
                   << e.name << ": not read, " << e.failure << '\n';
        }
    }
    if (json) {
        std::string out = "{\"file\": ";
        AppendJsonString(out, path);
        out += ", \"node\": " + std::to_string(node) + ", \"read\": " + std::to_string(read) + ", \"failed\": [" +
               failed + "]}\n";
        io.out << out;
    } else {
        io.out << "node " << node << ": " << read << " objects read, " << job.Failures() << " not read; written to "
               << path << '\n';
    }
    return job.Failures() == 0 ? int{kExitOk} : int{kExitAbort};
}

int RunDiffNode(const Words& w, const BusOptions& options, const CliStreams& io)
{
    constexpr std::string_view command = "diff";
    const auto node = NodeNumber(w.positional[0], false);
    if (w.positional.size() != 2)
        return UsageError(io, command, "diff NODE takes one FILE");
    auto in = LoadInputs(w, w.positional[1], command, io);
    if (!in)
        return kExitCannotOpen;
    return RunJobOnBus(
        options, command, io,
        [&](CanopenClient& client) { return UnitJob::Compare(client, *node, std::move(in->file), in->Eds(), nullptr); },
        [&](const UnitJob& job) { return PrintComparison(job.Comparison(), options.json, io); });
}

int PrintRestore(const UnitJob& job, bool json, const CliStreams& io);

int RunRestore(const Words& w, const BusOptions& options, const UnitOptions& u, const CliStreams& io)
{
    constexpr std::string_view command = "restore";
    if (w.positional.size() != 2)
        return UsageError(io, command, "restore takes NODE and FILE");
    const auto node = NodeNumber(w.positional[0], false);
    if (!node)
        return UsageError(io, command, "'" + std::string(w.positional[0]) + "' is no node (1..127)");
    auto in = LoadInputs(w, w.positional[1], command, io);
    if (!in)
        return kExitCannotOpen;
    return RunJobOnBus(
        options, command, io,
        [&](CanopenClient& client) {
            return UnitJob::Restore(client, *node, std::move(in->file), in->Eds(),
                                    RestoreOptions{u.all, u.force, u.dryRun}, nullptr);
        },
        [&](const UnitJob& job) { return PrintRestore(job, options.json, io); });
}

int PrintRestore(const UnitJob& job, bool json, const CliStreams& io)
{
    constexpr std::string_view command = "restore";
    if (!job.Refusal().empty()) {
        io.err << kProgramName << ' ' << command << ": refused, nothing written: " << job.Refusal()
               << " (--force writes anyway)\n";
        return kExitRefused;
    }
    std::array<std::size_t, 6> counts{};
    std::string out = json ? "{\"rows\": [" : "";
    for (const RestoreRow& r : job.Report()) {
        ++counts[static_cast<std::size_t>(r.outcome)];
        const std::string object = SectionName(r.index, r.subIndex, r.isSub);
        if (json) {
            out += out.back() == '[' ? "\n  {\"object\": " : ",\n  {\"object\": ";
            AppendJsonString(out, object);
            out += ", \"name\": ";
            AppendJsonString(out, r.name);
            out += ", \"value\": ";
            AppendJsonString(out, r.value);
            out += ", \"outcome\": ";
            AppendJsonString(out, RestoreOutcomeText(r.outcome));
            out += ", \"detail\": ";
            AppendJsonString(out, r.detail);
            out += '}';
        } else if (r.outcome != RestoreOutcome::Unchanged) {
            std::ostringstream line;
            line << object << "  " << r.name << " = " << r.value << ": " << RestoreOutcomeText(r.outcome);
            if (!r.detail.empty())
                line << " (" << r.detail << ')';
            out += line.str() + '\n';
        }
    }
    if (json) {
        out += "\n]}\n";
    } else {
        std::string summary;
        for (std::size_t i = 0; i < counts.size(); ++i)
            if (counts[i] != 0)
                summary += (summary.empty() ? "" : "; ") + std::to_string(counts[i]) + ' ' +
                           std::string(RestoreOutcomeText(RestoreOutcome(i)));
        out += (summary.empty() ? "nothing to write" : summary) + '\n';
    }
    io.out << out;
    if (counts[static_cast<std::size_t>(RestoreOutcome::Refused)] != 0)
        return kExitAbort;
    if (counts[static_cast<std::size_t>(RestoreOutcome::Failed)] != 0)
        return kExitTimeout;
    if (counts[static_cast<std::size_t>(RestoreOutcome::NotVerified)] != 0)
        return kExitDiffers;
    return kExitOk;
}

} // namespace

bool IsUnitCommand(std::string_view command, const std::vector<std::string_view>& positional)
{
    if (command == "diff")
        return !positional.empty() && NodeNumber(positional.front(), false).has_value();
    return command == "backup" || command == "restore";
}

int RunUnitCommand(std::string_view command, const Words& w, const BusOptions& options, const UnitOptions& u,
                   const CliStreams& io)
{
    if (w.help) {
        std::string text = command == "backup"    ? std::string(kBackupHelp)
                           : command == "restore" ? std::string(kRestoreHelp)
                                                  : std::string(DiffHelp());
        if (command != "diff")
            text += std::string(kAdapterHelp) + "\n" + std::string(kUnitExitHelp);
        return WriteHelp(io, command, text);
    }
    if (command == "backup")
        return RunBackup(w, options, u, io);
    if (command == "restore")
        return RunRestore(w, options, u, io);
    return RunDiffNode(w, options, io);
}

} // namespace tervix::cli
