// tervix-cli conf: shows what the window makes of a configuration file, and
// which lines it passes over and why, since the window itself says nothing.
#include "commands.h"

#include "config_file.h"
#include "hex_text.h"

#include <algorithm>
#include <istream>
#include <iterator>
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
input. Bytes above 7F hex are Latin-1 characters and are written as UTF-8.

Text output:
  a line per page, "CAPTION: header on line N, R rows" (N counted from 1)
  or "CAPTION: no section", then per row the label as the page shows it and
  the object address (IndexSub) in 8 hex digits;
  "Buttons:", then every button that is configured or has a caption, the
  fixed buttons 82..84 included: number, caption, kind word ("-" when none
  matched), IndexSub, enabled or disabled, then its description and hint
  (a line break in the hint shown as \n);
  "Ignored lines:", then per ignored line its number (from 1), its text and
  the reason.

Options:
  --json      one JSON object instead: {"pages": [{"caption", "header_line",
              "rows": [{"sub", "label", "indexsub"}]}], "buttons": [110 of
              {"number", "caption", "description", "hint", "indexsub",
              "kind", "configured", "enabled"}], "ignored": [{"line",
              "reason"}]}; line numbers from 0, header_line null without a
              section, indexsub and kind as numbers.
  -h, --help  show this help.

Ignored lines are the function-button definitions that stop part-way (no
button number, a number above 109, no index or sub-index digits, a number
above FFFFFFFF) and the item lines after a page's 32nd.

Exit status: 0 nothing ignored, 1 lines were ignored or a usage error,
2 the file cannot be read, 3 write error.
)";

constexpr int kExitIgnoredLines = 1;


// Text output: the hint's line breaks are the only control bytes a text can
// carry that would break the layout.
void AppendShown(std::string& out, std::string_view latin1)
{
    out.push_back('"');
    std::string utf8;
    AppendLatin1AsUtf8(utf8, latin1);
    for (const char c : utf8) {
        if (c == '\r')
            out += "\\n";
        else
            out.push_back(c);
    }
    out.push_back('"');
}

void AppendJsonString(std::string& out, std::string_view latin1)
{
    out.push_back('"');
    for (const char c : latin1) {
        const auto b = static_cast<unsigned char>(c);
        switch (c) {
        case '"': out += "\\\""; break;
        case '\\': out += "\\\\"; break;
        case '\r': out += "\\r"; break;
        case '\n': out += "\\n"; break;
        case '\t': out += "\\t"; break;
        default:
            if (b < 0x20) {
                out += "\\u00";
                AppendHex2(out, b);
            } else {
                AppendLatin1AsUtf8(out, std::string_view(&c, 1));
            }
        }
    }
    out.push_back('"');
}

std::string FormatText(const Configuration& config, const ConfigLines& lines)
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
        // Columns by characters: a Latin-1 byte is one, however long in UTF-8.
        std::size_t width = 0;
        for (const ParamRow& row : page.rows)
            width = std::max(width, row.label.size());
        for (const ParamRow& row : page.rows) {
            out += "  ";
            AppendLatin1AsUtf8(out, row.label);
            out.append(width + 2 - row.label.size(), ' ');
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
    return out;
}

std::string FormatJson(const Configuration& config)
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
    out += "\n  ],\n  \"ignored\": [";
    for (std::size_t i = 0; i < config.ignored.size(); ++i) {
        out += i == 0 ? "\n    " : ",\n    ";
        out += "{\"line\": " + std::to_string(config.ignored[i].line) + ", \"reason\": ";
        AppendJsonString(out, config.ignored[i].reason);
        out.push_back('}');
    }
    out += config.ignored.empty() ? "]\n}\n" : "\n  ]\n}\n";
    return out;
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
        std::string text(std::istreambuf_iterator<char>(io.in), {});
        if (io.in.bad()) {
            io.err << kProgramName << ' ' << kCommand << ": error reading the input\n";
            return kExitCannotOpen;
        }
        lines = ConfigLines::FromText(text);
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
    const int status = config.ignored.empty() ? kExitOk : kExitIgnoredLines;
    return Write(io, json ? FormatJson(config) : FormatText(config, lines), status);
}

} // namespace tervix::cli
