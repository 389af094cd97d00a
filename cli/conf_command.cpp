// tervix-cli conf: shows what the window makes of a configuration file, and
// which lines it passes over and why, since the window itself says nothing.
#include "commands.h"

#include "config_file.h"
#include "hex_text.h"
#include "json_text.h"
#include "text_encoding.h"

#include <algorithm>
#include <cstring>
#include <istream>
#include <ostream>
#include <string>

namespace tervix::cli {

namespace {

constexpr std::string_view kCommand = "conf";

constexpr std::string_view kHelp = R"(Usage: tervix-cli conf [--json] [FILE|-]

Reads a configuration file the way the window does at start-up and shows
what it found: the rows of the parameter pages "Standard", "Trigger",
"Filling" and "Mass Flow", the function buttons, and every line that was
ignored with the reason. FILE defaults to "Tervix.conf"; "-" reads standard
input. A file that is well-formed UTF-8 is read as UTF-8, any other as
Windows-1252 (a UTF-8 byte-order mark is skipped); texts are written as
UTF-8, and positions in a line (the label from the 7th character to the
63rd at most) count characters. A NUL byte ends the text, and so do 4 MiB
(4194304 bytes); a file that has not ended after 1 s (a pipe or a device) is
read no further. A button's caption, description and hint keep at most 1024
bytes each, cut between characters.

Text output:
  a line per page, "CAPTION: header on line N, R rows" (N counted from 1)
  or "CAPTION: no section", then per row the label as the page shows it and
  the object address (IndexSub) in 8 hex digits;
  "Buttons:", then every button that is configured or has a caption, the
  fixed buttons 82..84 included: number, caption, kind word ("-" when none
  matched), IndexSub, enabled or disabled, then its description and hint
  (a line break in the hint shown as \n);
  "Ignored lines:", then per ignored line its number (from 1), its text and
  the reason;
  "Cut short:", only when something was, then one line per cut: where the
  text ends before the file, and each button whose texts reached the limit.

Options:
  --json      one JSON object instead: {"pages": [{"caption", "header_line",
              "rows": [{"sub", "label", "indexsub"}]}], "buttons": [110 of
              {"number", "caption", "description", "hint", "indexsub",
              "kind", "configured", "enabled"}], "cuts": [TEXT...],
              "ignored": [{"line", "reason"}]}; line numbers from 0,
              header_line null without a section, indexsub and kind as
              numbers.
  -h, --help  show this help.

Ignored lines are:
  - function-button definitions that stop part-way (no button number, a
    number above 109, no index or sub-index digits, a number above FFFFFFFF);
  - item lines after a page's 32nd;
  - item lines (lines containing "item") after a page's list has ended at a
    line without "item";
  - definition lines (beginning with "fbutton") after the button section has
    ended at a line that is neither a definition, nor empty, nor a comment (a
    line of spaces ends it).
The last two are looked for up to the next header line, one that begins
with "[" or "sheet " (letter case ignored): lines after it belong to another
section. Comment lines (the first character that is not a space is ";") are
never reported, whatever they contain.

Exit status: 0 nothing ignored or cut, 1 lines were ignored, the text was
cut short, or a usage error, 2 the file cannot be read, 3 write error.
)";

constexpr int kExitIgnoredLines = 1;

// Text output: the hint's line breaks are the only control bytes a text can
// carry that would break the layout.
void AppendShown(std::string& out, std::string_view text)
{
    out.push_back('"');
    for (const char c : text) {
        if (c == '\r')
            out += "\\n";
        else
            out.push_back(c);
    }
    out.push_back('"');
}

std::string FormatText(const Configuration& config, const ConfigLines& lines,
                       const std::vector<std::string>& cuts)
{
    std::string out;
    for (const PageSection& page : config.pages) {
        out += page.caption;
        if (!page.headerLine) {
            out += ": no section\n";
            continue;
        }
        out += ": header on line " + std::to_string(*page.headerLine + 1) + ", " +
               std::to_string(page.rows.size()) + (page.rows.size() == 1 ? " row\n" : " rows\n");
        // Columns by characters, however many bytes each takes in UTF-8.
        std::size_t width = 0;
        for (const ParamRow& row : page.rows)
            width = std::max(width, CharCount(row.label));
        for (const ParamRow& row : page.rows) {
            out += "  ";
            out += row.label;
            out.append(width + 2 - CharCount(row.label), ' ');
            AppendHex8(out, row.indexSub);
            out.push_back('\n');
        }
    }

    out += "Buttons:\n";
    for (const ButtonDefinition& b : config.buttons) {
        if (!b.configured && b.caption.empty())
            continue;
        out += "  " + std::to_string(b.number) + ' ';
        AppendShown(out, b.caption);
        out.push_back(' ');
        out += b.kind == ButtonKind::None ? std::string_view("-") : KindWord(b.kind);
        out.push_back(' ');
        AppendHex8(out, b.indexSub);
        out += b.enabled ? " enabled" : " disabled";
        if (!b.configured)
            out += ", not configured";
        out += "\n    description ";
        AppendShown(out, b.description);
        out += "\n    hint ";
        AppendShown(out, b.hint);
        out.push_back('\n');
    }

    out += "Ignored lines:\n";
    for (const IgnoredLine& i : config.ignored) {
        out += "  line " + std::to_string(i.line + 1) + ' ';
        AppendShown(out, lines.Line(i.line));
        out += ": ";
        out += i.reason;
        out.push_back('\n');
    }
    if (!cuts.empty())
        out += "Cut short:\n";
    for (const std::string& cut : cuts)
        out += "  " + cut + '\n';
    return out;
}

std::string FormatJson(const Configuration& config, const std::vector<std::string>& cuts)
{
    std::string out = "{\n  \"pages\": [";
    for (std::size_t p = 0; p < config.pages.size(); ++p) {
        const PageSection& page = config.pages[p];
        out += p == 0 ? "\n    {\"caption\": " : ",\n    {\"caption\": ";
        AppendJsonString(out, page.caption);
        out += ", \"header_line\": ";
        out += page.headerLine ? std::to_string(*page.headerLine) : "null";
        out += ", \"rows\": [";
        for (std::size_t r = 0; r < page.rows.size(); ++r) {
            const ParamRow& row = page.rows[r];
            out += r == 0 ? "\n      " : ",\n      ";
            out += "{\"sub\": " + std::to_string(row.sub) + ", \"label\": ";
            AppendJsonString(out, row.label);
            out += ", \"indexsub\": " + std::to_string(row.indexSub) + '}';
        }
        out += page.rows.empty() ? "]}" : "\n    ]}";
    }
    out += "\n  ],\n  \"buttons\": [";
    for (const ButtonDefinition& b : config.buttons) {
        out += b.number == 0 ? "\n    " : ",\n    ";
        out += "{\"number\": " + std::to_string(b.number) + ", \"caption\": ";
        AppendJsonString(out, b.caption);
        out += ", \"description\": ";
        AppendJsonString(out, b.description);
        out += ", \"hint\": ";
        AppendJsonString(out, b.hint);
        out += ", \"indexsub\": " + std::to_string(b.indexSub);
        out += ", \"kind\": " + std::to_string(static_cast<unsigned>(b.kind));
        out += b.configured ? ", \"configured\": true" : ", \"configured\": false";
        out += b.enabled ? ", \"enabled\": true}" : ", \"enabled\": false}";
    }
    out += "\n  ],\n  \"cuts\": [";
    for (std::size_t i = 0; i < cuts.size(); ++i) {
        out += i == 0 ? "\n    " : ",\n    ";
        AppendJsonString(out, cuts[i]);
    }
    out += cuts.empty() ? "],\n  \"ignored\": [" : "\n  ],\n  \"ignored\": [";
    for (std::size_t i = 0; i < config.ignored.size(); ++i) {
        out += i == 0 ? "\n    " : ",\n    ";
        out += "{\"line\": " + std::to_string(config.ignored[i].line) + ", \"reason\": ";
        AppendJsonString(out, config.ignored[i].reason);
        out.push_back('}');
    }
    out += config.ignored.empty() ? "]\n}\n" : "\n  ]\n}\n";
    return out;
}

// Standard input as the window reads its file: up to a NUL byte, or one byte
// past the limit so that a longer text is reported.
std::string ReadInput(std::istream& in)
{
    constexpr std::size_t kBlock = std::size_t{1} << 16;
    std::string bytes;
    while (in && bytes.size() <= kMaxConfigBytes) {
        const std::size_t have = bytes.size();
        bytes.resize(have + std::min(kBlock, kMaxConfigBytes + 1 - have));
        in.read(bytes.data() + have, static_cast<std::streamsize>(bytes.size() - have));
        const auto got = static_cast<std::size_t>(in.gcount());
        bytes.resize(have + got);
        if (std::memchr(bytes.data() + have, '\0', got) != nullptr)
            break;
    }
    return bytes;
}

int Write(const CliStreams& io, const std::string& text, int status)
{
    io.out.write(text.data(), static_cast<std::streamsize>(text.size()));
    io.out.flush();
    if (!io.out) {
        io.err << kProgramName << ' ' << kCommand << ": error writing the output\n";
        return kExitIoError;
    }
    return status;
}

} // namespace

int RunConf(CommandArgs args, const CliStreams& io)
{
    bool json = false;
    bool haveFile = false;
    bool optionsEnded = false;
    std::string_view file = kConfigFileName;
    for (const std::string_view arg : args) {
        if (!optionsEnded && arg.size() > 1 && arg.starts_with('-')) {
            if (arg == "--json") {
                json = true;
            } else if (arg == "--help" || arg == "-h") {
                return WriteHelp(io, kCommand, kHelp);
            } else if (arg == "--") {
                optionsEnded = true;
            } else {
                return UsageError(io, kCommand, "unknown option '" + std::string(arg) + "'");
            }
            continue;
        }
        if (haveFile)
            return UsageError(io, kCommand,
                              "more than one input file ('" + std::string(file) + "', '" + std::string(arg) +
                                  "')");
        file = arg;
        haveFile = true;
    }

    ConfigLines lines;
    if (file == "-") {
        const std::string bytes = ReadInput(io.in);
        if (io.in.bad()) {
            io.err << kProgramName << ' ' << kCommand << ": error reading the input\n";
            return kExitCannotOpen;
        }
        lines = ConfigLines::FromText(bytes);
    } else {
        ConfigFileLoad load = LoadConfigFile(std::string(file));
        if (!load.ok) {
            io.err << kProgramName << ' ' << kCommand << ": " << load.error;
            if (!load.systemError.empty())
                io.err << ": " << load.systemError;
            io.err << '\n';
            return kExitCannotOpen;
        }
        lines = std::move(load.lines);
    }

    const Configuration config = ReadConfiguration(lines);
    const std::vector<std::string> cuts = CutReports(lines, config.buttons);
    const int status = config.ignored.empty() && cuts.empty() ? kExitOk : kExitIgnoredLines;
    return Write(io, json ? FormatJson(config, cuts) : FormatText(config, lines, cuts), status);
}

} // namespace tervix::cli
