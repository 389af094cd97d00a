// tervix-cli eds: the object tree that the window builds from an EDS file,
// so a file can be checked without a display.
#include "commands.h"

#include "eds_reader.h"
#include "hex_text.h"
#include "json_text.h"
#include "sdo_texts.h"

#include <charconv>
#include <filesystem>
#include <istream>
#include <iterator>
#include <ostream>
#include <string>

namespace tervix::cli {

namespace {

constexpr std::string_view kCommand = "eds";

constexpr std::string_view kHelp = R"(Usage: tervix-cli eds [--json] FILE|-

Reads an EDS file (standard input for "-") the way the object page does and
prints the tree it builds: the root "Electronic data sheet", one node per
object section under it in file order, each sub-object section (a name with
"SUB" in any letter case) under the object section before it.

A file that is well-formed UTF-8 is read as UTF-8, any other as
Windows-1252 (a UTF-8 byte-order mark is skipped); texts are written as
UTF-8, as the window shows them.

Text output, one line per node, indented by two blanks per level: the node's
text, its index and sub-index as 8 hex digits (index * 65536 + sub-index),
the number of its key lines, "read/write" or "structure only" as the SDO
dialog allows it (objects from index 1000 on can be read and written), and
the section's ParameterName in quotes when it has one (the node's tooltip in
the window).

  $ tervix-cli eds examples/Quorbit.eds
  Electronic data sheet
    [FileInfo] 000F0000 11 structure only
    ...
    [1018] 10180000 3 read/write "Identity object"
      [1018sub0] 10180000 6 read/write "Highest sub-index supported"

Options:
  --json      print the tree as JSON instead:
              {"root": {"text": "Electronic data sheet", "children": [NODE...]}}
              NODE = {"text", "indexsub", "index", "subindex",
              "parameter_name" ("" when none), "lines" (the key lines,
              verbatim), "children"}.
  -h, --help  show this help.

Oddities (key lines before the first section, sub-object sections before any
object section, names cut at 255 characters) are reported on standard error
with the first line they occur on; they do not change the exit status.

Exit status: 0 success, 1 usage error, 2 input cannot be opened, 3 read or
write error.
)";

constexpr std::size_t kFlushAt = std::size_t{1} << 16;

struct EdsOptions {
    bool json = false;
    std::string_view file;
    bool haveFile = false;
};

// Returns the exit status of a usage error, or -1 when the options are sound.
int ParseOptions(CommandArgs args, const CliStreams& io, EdsOptions& options, bool& help)
{
    bool optionsEnded = false;
    for (const std::string_view arg : args) {
        if (!optionsEnded && arg.size() > 1 && arg.starts_with('-')) {
            if (arg == "--json")
                options.json = true;
            else if (arg == "--help" || arg == "-h")
                help = true;
            else if (arg == "--")
                optionsEnded = true;
            else
                return UsageError(io, kCommand, "unknown option '" + std::string(arg) + "'");
            continue;
        }
        if (options.haveFile)
            return UsageError(io, kCommand,
                              "more than one input file ('" + std::string(options.file) + "', '" +
                                  std::string(arg) + "')");
        options.file = arg;
        options.haveFile = true;
    }
    if (!options.haveFile && !help)
        return UsageError(io, kCommand, "missing FILE");
    return -1;
}

void AppendNumber(std::string& out, std::uint32_t value)
{
    char digits[16];
    const auto end = std::to_chars(digits, digits + sizeof digits, value).ptr;
    out.append(digits, end);
}

// Writes the output in large blocks; once writing has failed nothing more is tried.
class Output {
public:
    explicit Output(std::ostream& out) : out_(out) { buf_.reserve(kFlushAt + 1024); }

    std::string& Buffer() { return buf_; }

    void MaybeFlush()
    {
        if (buf_.size() >= kFlushAt)
            Flush();
    }

    void Flush()
    {
        if (!buf_.empty() && !failed_) {
            out_.write(buf_.data(), static_cast<std::streamsize>(buf_.size()));
            failed_ = !out_;
        }
        buf_.clear();
    }

    bool Finish()
    {
        Flush();
        out_.flush();
        return !failed_ && out_.good();
    }

private:
    std::ostream& out_;
    std::string buf_;
    bool failed_ = false;
};

void WriteText(const EdsTree& tree, Output& output)
{
    std::string& out = output.Buffer();
    out += kEdsRootText;
    out.push_back('\n');
    for (const EDSNode& node : tree.Nodes()) {
        out.append(node.parent == kEdsRoot ? 2 : 4, ' ');
        out.push_back('[');
        out += node.name;
        out += "] ";
        AppendHex8(out, node.IndexSub);
        out.push_back(' ');
        AppendNumber(out, static_cast<std::uint32_t>(node.Lines.size()));
        out += SdoReadWriteEnabled(node.Index()) ? " read/write" : " structure only";
        if (const std::string_view name = ParameterName(node); !name.empty()) {
            out += " \"";
            out += name;
            out.push_back('"');
        }
        out.push_back('\n');
        output.MaybeFlush();
    }
}

void AppendJsonNode(std::string& out, const EDSNode& node)
{
    out += "{\"text\": ";
    AppendJsonString(out, node.Text());
    out += ", \"indexsub\": ";
    AppendNumber(out, node.IndexSub);
    out += ", \"index\": ";
    AppendNumber(out, node.Index());
    out += ", \"subindex\": ";
    AppendNumber(out, node.SubIndex());
    out += ", \"parameter_name\": ";
    AppendJsonString(out, ParameterName(node));
    out += ", \"lines\": [";
    bool first = true;
    for (const std::string_view line : node.Lines) {
        if (!first)
            out += ", ";
        first = false;
        AppendJsonString(out, line);
    }
    out += "], \"children\": [";
}

// Nodes come in pre-order: an object node's children are the nodes right
// after it that name it as their parent.
void WriteJson(const EdsTree& tree, Output& output)
{
    std::string& out = output.Buffer();
    out += "{\"root\": {\"text\": ";
    AppendJsonString(out, kEdsRootText);
    out += ", \"children\": [";
    const auto& nodes = tree.Nodes();
    for (std::size_t i = 0; i < nodes.size();) {
        if (i > 0)
            out += ", ";
        AppendJsonNode(out, nodes[i]);
        std::size_t child = i + 1;
        for (; child < nodes.size() && nodes[child].parent == i; ++child) {
            if (child > i + 1)
                out += ", ";
            AppendJsonNode(out, nodes[child]);
            out += "]}";
            output.MaybeFlush();
        }
        out += "]}";
        output.MaybeFlush();
        i = child;
    }
    out += "]}}\n";
}

void ReportWarnings(const EdsTree& tree, std::ostream& err)
{
    for (const EdsWarning& w : tree.Warnings()) {
        err << kProgramName << ' ' << kCommand << ": line " << w.firstLine << ": " << EdsWarningText(w.kind);
        if (w.count > 1)
            err << " (and " << (w.count - 1) << " more)";
        err << '\n';
    }
}

} // namespace

int RunEds(CommandArgs args, const CliStreams& io)
{
    EdsOptions options;
    bool help = false;
    if (const int status = ParseOptions(args, io, options, help); status >= 0)
        return status;
    if (help) {
        return WriteHelp(io, kCommand, kHelp);
    }

    std::optional<EdsTree> tree;
    if (options.file == "-") {
        std::string text(std::istreambuf_iterator<char>(io.in), {});
        if (io.in.bad()) {
            io.err << kProgramName << ' ' << kCommand << ": error reading the input\n";
            return kExitIoError;
        }
        tree.emplace(EdsTree::Parse(std::move(text)));
    } else {
        const std::string path(options.file);
        std::error_code error;
        tree = ReadEdsFile(path, error);
        if (!tree) {
            io.err << kProgramName << ' ' << kCommand << ": cannot open '" << path << "': " << error.message()
                   << '\n';
            return kExitCannotOpen;
        }
    }

    ReportWarnings(*tree, io.err);
    Output output(io.out);
    if (options.json)
        WriteJson(*tree, output);
    else
        WriteText(*tree, output);
    if (!output.Finish()) {
        io.err << kProgramName << ' ' << kCommand << ": error writing the output\n";
        return kExitIoError;
    }
    return kExitOk;
}

} // namespace tervix::cli
