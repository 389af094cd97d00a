// tervix-cli diff A.dcf B.dcf: which settings two device configuration
// files hold differently. The comparison against a live node (diff NODE
// FILE) is a bus command; both print with PrintComparison.
#include "commands.h"

#include "dcf.h"
#include "json_text.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <ostream>
#include <string>

namespace tervix::cli {

namespace {

constexpr std::string_view kCommand = "diff";

constexpr std::string_view kHelp = R"(Usage: tervix-cli diff [--eds FILE] [--json] A.dcf B.dcf
       tervix-cli [ADAPTER] diff [--eds FILE] [--json] NODE FILE.dcf

Compares the values (ParameterValue) of two device configuration files, or
of one file and the live node NODE (1..127), whose objects are read by SDO.
Numbers compare by value (0x0A equals 10); each row shows both values as a
backup writes them.

Objects that are read-only or constant (live values such as gross, net and
status, identity and versions) are listed apart and never count as a
difference. Access types come from the EDS given with --eds, else from the
files, else from CANopen for the standard objects and read/write for the
parameter pages' rows.

  $ tervix-cli diff node1.dcf node2.dcf
  ...
  2101sub5  Motion band  100  7  differs
  ...
  1 difference in 68 writable objects; 12 read-only objects listed apart

Options:
  --eds FILE  take names, data types and access types from this EDS file
  --json      {"differences": N, "rows": [{"object", "name", "a", "b",
              "read_only", "differs"}]} (a missing value is null)
  -h, --help  show this help

Exit status: 0 no difference, 7 the files differ, 1 usage error, 2 a file
cannot be opened; with NODE also those of the bus commands (4 adapter).
)";

std::string Padded(std::string text, std::size_t width)
{
    if (text.size() > width)
        text = text.substr(0, width - 3) + "...";
    text.append(width - text.size() + 2, ' ');
    return text;
}

// Column widths from what the rows hold: object, name, a, b.
struct Widths {
    std::size_t name = 4, a = 1, b = 1;
};

Widths ColumnWidths(const std::vector<CompareRow>& rows)
{
    constexpr std::size_t kMax = 40;
    Widths w;
    for (const CompareRow& r : rows) {
        w.name = std::max(w.name, std::min(kMax, r.name.size()));
        w.a = std::max(w.a, std::min(kMax, r.a ? r.a->size() : 1));
        w.b = std::max(w.b, std::min(kMax, r.b ? r.b->size() : 1));
    }
    return w;
}

void WriteRow(std::ostream& out, const CompareRow& r, const Widths& w)
{
    std::string line = Padded(SectionName(r.index, r.subIndex, r.isSub), 8) + Padded(r.name, w.name) +
                       Padded(r.a ? *r.a : "-", w.a);
    line += r.differs ? Padded(r.b ? *r.b : "-", w.b) + "differs" : (r.b ? *r.b : "-");
    out << line << '\n';
}

void AppendOptional(std::string& out, const std::optional<std::string>& v)
{
    if (v)
        AppendJsonString(out, *v);
    else
        out += "null";
}

} // namespace

std::string_view DiffHelp()
{
    return kHelp;
}

namespace {

std::optional<EdsTree> ReadTree(std::string_view path, std::string_view command, const CliStreams& io)
{
    std::error_code error;
    std::optional<EdsTree> tree = ReadEdsFile(std::filesystem::path(std::string(path)), error);
    if (!tree)
        io.err << kProgramName << ' ' << command << ": cannot open '" << path << "': " << error.message() << '\n';
    return tree;
}

} // namespace

std::optional<DcfDocument> LoadDcf(std::string_view path, std::string_view command, const CliStreams& io)
{
    const auto tree = ReadTree(path, command, io);
    return tree ? std::optional<DcfDocument>(ReadDcf(*tree)) : std::nullopt;
}

std::optional<EdsObjects> LoadEdsObjects(std::string_view path, std::string_view command, const CliStreams& io)
{
    const auto tree = ReadTree(path, command, io);
    return tree ? std::optional<EdsObjects>(EdsObjects(*tree)) : std::nullopt;
}

int PrintComparison(const std::vector<CompareRow>& rows, bool json, const CliStreams& io)
{
    const std::size_t differences = CountDifferences(rows);
    if (json) {
        std::string out = "{\"differences\": " + std::to_string(differences) + ", \"rows\": [";
        bool first = true;
        for (const CompareRow& r : rows) {
            out += first ? "\n  {\"object\": " : ",\n  {\"object\": ";
            first = false;
            AppendJsonString(out, SectionName(r.index, r.subIndex, r.isSub));
            out += ", \"name\": ";
            AppendJsonString(out, r.name);
            out += ", \"a\": ";
            AppendOptional(out, r.a);
            out += ", \"b\": ";
            AppendOptional(out, r.b);
            out += r.readOnly ? ", \"read_only\": true" : ", \"read_only\": false";
            out += r.differs ? ", \"differs\": true}" : ", \"differs\": false}";
        }
        out += "\n]}\n";
        io.out << out;
    } else {
        const Widths widths = ColumnWidths(rows);
        std::size_t writable = 0;
        for (const CompareRow& r : rows)
            if (!r.readOnly) {
                WriteRow(io.out, r, widths);
                ++writable;
            }
        if (writable != rows.size()) {
            io.out << "\nRead-only, not compared:\n";
            for (const CompareRow& r : rows)
                if (r.readOnly)
                    WriteRow(io.out, r, widths);
        }
        io.out << '\n' << differences << (differences == 1 ? " difference in " : " differences in ") << writable
               << " writable objects; " << rows.size() - writable << " read-only objects listed apart\n";
    }
    io.out.flush();
    if (!io.out) {
        io.err << kProgramName << ' ' << kCommand << ": cannot write the output: " << WriteErrorReason() << '\n';
        return kExitIoError;
    }
    return differences == 0 ? kExitOk : kExitDiffers;
}

int RunDiff(CommandArgs args, const CliStreams& io)
{
    std::vector<std::string_view> files;
    std::optional<std::string_view> eds;
    bool json = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string_view a = args[i];
        if (a == "--help" || a == "-h")
            return WriteHelp(io, kCommand, kHelp);
        if (a == "--json") {
            json = true;
        } else if (a == "--eds") {
            if (i + 1 == args.size())
                return UsageError(io, kCommand, "option '--eds' needs a value");
            eds = args[++i];
        } else if (a.starts_with('-') && a != "-") {
            return UsageError(io, kCommand, "unknown option '" + std::string(a) + "'");
        } else {
            files.push_back(a);
        }
    }
    if (files.size() != 2)
        return UsageError(io, kCommand, "two files to compare are needed");
    std::optional<EdsObjects> objects;
    if (eds && !(objects = LoadEdsObjects(*eds, kCommand, io)))
        return kExitCannotOpen;
    const auto a = LoadDcf(files[0], kCommand, io);
    const auto b = a ? LoadDcf(files[1], kCommand, io) : std::nullopt;
    if (!b)
        return kExitCannotOpen;
    return PrintComparison(CompareDcf(*a, *b, objects ? &*objects : nullptr), json, io);
}

} // namespace tervix::cli
