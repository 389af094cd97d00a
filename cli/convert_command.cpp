// tervix-cli convert: writes a trace in another tool's format, the input's
// format told by its content.
#include "commands.h"

#include "trace_formats.h"

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <istream>
#include <memory>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

namespace tervix::cli {

namespace {

constexpr std::string_view kCommand = "convert";

constexpr std::string_view kHelp = R"(Usage: tervix-cli convert [--to FORMAT] IN OUT

Writes the frames of the trace IN to OUT in another format. IN's format is
told by its content: a candump log, a PEAK TRC file (versions 1.0 to 2.1, with
or without their optional columns) or a Vector ASC file (hex or decimal,
absolute or relative time stamps). OUT's format is FORMAT, else told by OUT's
extension: .log candump, .trc PEAK TRC 2.1, .asc Vector ASC. IN "-" reads
standard input; OUT "-" writes standard output and needs --to.

Formats:
  candump   candump log, times in µs; sent frames under the interface "tx",
            received ones under "rx"
  trc11     PEAK TRC 1.1, times in 0.1 ms
  trc21     PEAK TRC 2.1, times in µs
  asc       Vector ASC, base hex, absolute time stamps, times in µs

Times stay Unix time where IN has a date (candump, the TRC start time, the
ASC date line); otherwise they count from IN's first frame and OUT gets no
date. Error frames are kept, without their details; bus and channel numbers
are not (everything is written on bus 1). Lines that hold no classic frame
are skipped and counted on standard error, one line per kind, e.g.
"skipped 3 CAN FD frames": CAN FD frames, status lines (bus state,
statistics), comments and events, and lines that cannot be read (the first
one named).

Options:
  --to FORMAT  candump, trc11, trc21 or asc
  -h, --help   show this help.

Exit status: 0 success (skipped lines included), 1 usage error (also no
format for OUT), 2 IN cannot be opened, or lines were skipped and none was a
frame, 3 read or write error, 128 + N when ended by signal N.
)";

constexpr std::size_t kReadChunk = std::size_t{1} << 16;
constexpr std::size_t kFlushAt = std::size_t{1} << 16;

// Writes each record as it is read, in large blocks.
class ConvertSink final : public TraceSink {
public:
    ConvertSink(const TraceReader& reader, TraceFormat format, std::ostream& out)
        : reader_(reader), writer_(format), out_(out)
    {
        buffer_.reserve(kFlushAt + 1024);
    }

    void Record(std::uint64_t, const TraceRecord& record) override
    {
        if (!writer_.Begun())
            writer_.Begin(buffer_, reader_.AbsoluteTimes() ? std::optional(record.micros) : std::nullopt);
        writer_.Append(buffer_, record);
        if (buffer_.size() >= kFlushAt)
            Flush();
    }

    void Skipped(std::uint64_t lineNumber, TraceSkip kind, std::string_view reason) override
    {
        if (kind == TraceSkip::Unreadable && firstUnreadable_ == 0) {
            firstUnreadable_ = lineNumber;
            firstReason_ = reason;
        }
    }

    void End() { writer_.End(buffer_); }

    // Writes what is buffered; false once the output failed.
    bool Flush()
    {
        if (!failed_ && !buffer_.empty()) {
            errno = 0;
            out_.write(buffer_.data(), static_cast<std::streamsize>(buffer_.size()));
            out_.flush();
            if (!out_) {
                failed_ = true;
                failReason_ = WriteErrorReason();
            }
        }
        buffer_.clear();
        return !failed_;
    }

    bool Failed() const { return failed_; }
    const std::string& FailReason() const { return failReason_; }
    std::uint64_t FirstUnreadable() const { return firstUnreadable_; }
    std::string_view FirstReason() const { return firstReason_; }

private:
    const TraceReader& reader_;
    TraceWriter writer_;
    std::ostream& out_;
    std::string buffer_;
    bool failed_ = false;
    std::string failReason_;
    std::uint64_t firstUnreadable_ = 0;
    std::string_view firstReason_;
};

struct ConvertOptions {
    std::vector<std::string_view> files;
    std::optional<TraceFormat> to;
    bool help = false;
};

int ParseOptions(CommandArgs args, const CliStreams& io, ConvertOptions& options)
{
    bool optionsEnded = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string_view arg = args[i];
        if (optionsEnded || arg == "-" || !arg.starts_with('-')) {
            options.files.push_back(arg);
        } else if (arg == "--") {
            optionsEnded = true;
        } else if (arg == "--help" || arg == "-h") {
            options.help = true;
        } else if (arg == "--to") {
            if (i + 1 == args.size())
                return UsageError(io, kCommand, "--to needs a format: candump, trc11, trc21 or asc");
            options.to = TraceFormatFromName(args[++i]);
            if (!options.to)
                return UsageError(io, kCommand,
                                  "unknown format '" + std::string(args[i]) +
                                      "' (candump, trc11, trc21, asc)");
        } else {
            return UsageError(io, kCommand, "unknown option '" + std::string(arg) + "'");
        }
    }
    return -1;
}

void Say(const CliStreams& io, std::string_view text)
{
    io.err << kProgramName << ' ' << kCommand << ": " << text << '\n';
}

int Convert(std::istream& in, std::ostream& out, TraceFormat format, std::string_view inName,
            const CliStreams& io)
{
    TraceReader reader;
    ConvertSink sink(reader, format, out);
    const auto chunk = std::make_unique<char[]>(kReadChunk);
    while (!sink.Failed() && StopSignal() == 0) {
        in.read(chunk.get(), static_cast<std::streamsize>(kReadChunk));
        const auto got = static_cast<std::size_t>(in.gcount());
        if (got == 0)
            break;
        reader.Feed(std::string_view(chunk.get(), got), sink);
    }
    const bool readError = in.bad();
    if (StopSignal() == 0 && !readError)
        reader.Finish(sink);
    sink.End();
    if (!sink.Flush()) {
        Say(io, "error writing the output: " + sink.FailReason());
        return kExitIoError;
    }
    if (readError) {
        Say(io, "error reading '" + std::string(inName) + "'");
        return kExitIoError;
    }
    const TraceSkipCounts& skips = reader.Skips();
    for (std::string warning : TraceSkipWarnings(skips)) {
        if (warning.ends_with("unreadable line") || warning.ends_with("unreadable lines"))
            warning += " (first: line " + std::to_string(sink.FirstUnreadable()) + ", " +
                       std::string(sink.FirstReason()) + ")";
        Say(io, warning);
    }
    if (StopSignal() != 0)
        return 128 + StopSignal();
    std::uint64_t skipped = 0;
    for (const std::uint64_t n : skips)
        skipped += n;
    if (reader.Records() == 0 && skipped > 0) {
        Say(io, "no line of '" + std::string(inName) + "' is a CAN frame");
        return kExitCannotOpen;
    }
    return kExitOk;
}

} // namespace

int RunConvert(CommandArgs args, const CliStreams& io)
{
    ConvertOptions options;
    if (const int status = ParseOptions(args, io, options); status >= 0)
        return status;
    if (options.help)
        return WriteHelp(io, kCommand, kHelp);
    if (options.files.size() != 2)
        return UsageError(io, kCommand, "give the input and the output file (IN OUT)");
    const std::string inPath(options.files[0]);
    const std::string outPath(options.files[1]);
    const std::optional<TraceFormat> format = options.to ? options.to : TraceFormatForPath(outPath);
    if (!format)
        return UsageError(io, kCommand,
                          "cannot tell the format from '" + outPath +
                              "' (.log, .trc, .asc); give --to candump, trc11, trc21 or asc");
    std::error_code ec;
    if (inPath != "-" && outPath != "-" && std::filesystem::equivalent(inPath, outPath, ec))
        return UsageError(io, kCommand, "'" + outPath + "' is the input itself");

    std::ifstream inFile;
    if (inPath != "-") {
        if (std::filesystem::is_directory(inPath, ec)) {
            Say(io, "cannot open '" + inPath + "': Is a directory");
            return kExitCannotOpen;
        }
        errno = 0;
        inFile.open(inPath, std::ios::binary);
        if (!inFile) {
            const int error = errno;
            Say(io, "cannot open '" + inPath + "': " + (error != 0 ? std::strerror(error) : "open failed"));
            return kExitCannotOpen;
        }
    }
    std::ofstream outFile;
    if (outPath != "-") {
        errno = 0;
        outFile.open(outPath, std::ios::binary | std::ios::trunc);
        if (!outFile) {
            const int error = errno;
            Say(io, "cannot write '" + outPath + "': " + (error != 0 ? std::strerror(error) : "open failed"));
            return kExitIoError;
        }
    }
    std::istream& in = inPath == "-" ? io.in : inFile;
    std::ostream& out = outPath == "-" ? io.out : outFile;
    return Convert(in, out, *format, inPath == "-" ? "standard input" : inPath, io);
}

} // namespace tervix::cli
