// tervix-cli decode: names captured traffic with the monitor's own decoder,
// so a trace reads exactly like the window's log.
#include "commands.h"

#include "frame_naming.h"
#include "hex_text.h"
#include "receive_ring.h"
#include "serial_framing.h"
#include "trace_formats.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <charconv>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <istream>
#include <memory>
#include <ostream>
#include <string>

#include <unistd.h>
#ifdef _WIN32
#define WIN32_LEAN_AND_MEAN
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <io.h>
#include <windows.h>
#endif

namespace tervix::cli {

namespace {

constexpr std::string_view kCommand = "decode";

constexpr std::string_view kHelp = R"(Usage: tervix-cli decode [--packets] [--counts] [FILE|-]

Names every message of a captured trace the way the monitor's log names it,
one line per message, in order, on standard output.

Input: FILE, or standard input when FILE is "-" or missing. From a pipe or a
terminal (candump -L can0 | tervix-cli decode) each line is written as soon
as it is complete; Ctrl+C (SIGINT) or SIGTERM ends the reading and writes
what was decoded, counts included. Adapter text is written as UTF-8.
  (default)   a trace, its format told by its content: a candump log, lines
              like "(1436509052.249713) can0 705#05" ("ID#R" or "ID#Rn" is a
              remote frame, "ID#" a frame without data, an 8-digit ID an
              extended frame); a PEAK TRC file (versions 1.0 to 2.1); a
              Vector ASC file (hex or decimal, absolute or relative times).
              Extended frames are named by their low 11 bits. Lines that
              cannot be read and CAN FD frames are skipped with a warning on
              standard error naming the line number; error frames, status
              lines and events are counted in one warning each at the end.
              When lines were skipped and none was a frame (a file of some
              other kind), standard error says so and the exit status is 2;
              an empty input, or one of blank lines only, is no error.
  --packets   the raw byte stream of the serial CAN adapter: packets and lines
              of adapter text ended by a carriage return. Text is shown
              without its control bytes; a message of fewer than 2 bytes or
              an empty text line prints nothing. A message left unfinished at
              the end of the input is not shown; standard error says so.

Options:
  --counts    after the lines, one line per function code that was seen: the
              code in decimal, a tab, the number of frames.
  -h, --help  show this help.

A frame's line: "SFF: " or "EFF: ", "RTR " for a remote frame, the name of
its function code (NMT, SYNC, EMERGENCY, TIME, TPDO1..4, RPDO1..4, TSDO,
RSDO, NMT Handling), "addr=" and the node in hex, " Data= " and each data
byte in hex followed by a blank. Example:

  $ echo '(1436509052.249713) can0 705#05' | tervix-cli decode
  SFF: NMT Handling addr=05 Data= 05

To change a trace's format, see tervix-cli convert --help.

Exit status: 0 success (skipped lines included), 1 usage error, 2 input
cannot be opened or no line of the trace is a frame, 3 read or write
error (also a file that shrank while being read), 128 + N when ended by
signal N.
)";

// Large blocks keep system calls rare; both buffers are reused throughout.
constexpr std::size_t kReadChunk = std::size_t{1} << 16;
#ifdef _WIN32
constexpr DWORD kPipeWaitStepMs = 20; // how soon Ctrl+C ends a wait on a quiet pipe
#endif
constexpr std::size_t kFlushAt = std::size_t{1} << 16;

struct DecodeOptions {
    bool packets = false;
    bool counts = false;
    std::string_view file = "-";
};

// Builds the lines of the decoded messages and the warnings, counts frames
// per function code, and writes both in large blocks.
class DecodeOutput final : public TraceSink {
public:
    DecodeOutput(std::ostream& out, std::ostream& err) : out_(out), err_(err)
    {
        outBuf_.reserve(kFlushAt + 1024);
        errBuf_.reserve(1024);
    }

    // What the window's frame handler does with a message, minus the routing.
    void Message(ByteView message)
    {
        if (message.size() < kMinMessageSize)
            return;
        const MessageInfo info = ClassifyMessage(message);
        if (info.isFrame)
            ++counts_[static_cast<std::size_t>(info.functionCode) & 0x0F];
        const std::size_t before = outBuf_.size();
        AppendLogLine(outBuf_, message, info);
        if (!info.isFrame)
            TextToUtf8(before);
        if (outBuf_.size() == before)
            return; // text made of control bytes only
        outBuf_.push_back('\n');
        if (outBuf_.size() >= kFlushAt)
            Flush();
    }

    void Record(std::uint64_t, const TraceRecord& record) override
    {
        ++frames_;
        if (record.kind == TraceRecord::Kind::ErrorFrame) {
            ++errorFrames_;
            return;
        }
        std::array<std::uint8_t, kMaxPacketSize> packet{};
        Message(ByteView(packet.data(), EncodePacket(record.frame, packet.data())));
    }

    // Adapter text goes to a terminal as UTF-8: its bytes are Latin-1
    // characters, and DEL is a control byte like those below 0x20.
    void TextToUtf8(std::size_t from)
    {
        scratch_.assign(outBuf_, from);
        std::erase(scratch_, '\x7F');
        outBuf_.resize(from);
        AppendLatin1AsUtf8(outBuf_, scratch_);
    }

    // A line that held a frame which cannot be named is said at once; status
    // lines and events only in the count at the end.
    void Skipped(std::uint64_t lineNumber, TraceSkip kind, std::string_view reason) override
    {
        ++skipped_;
        if (kind == TraceSkip::Status || kind == TraceSkip::Event)
            return;
        char digits[24];
        const auto end = std::to_chars(digits, digits + sizeof digits, lineNumber).ptr;
        errBuf_ += kProgramName;
        errBuf_ += " decode: line ";
        errBuf_.append(digits, end);
        errBuf_ += ": skipped, ";
        errBuf_ += reason;
        errBuf_.push_back('\n');
        if (errBuf_.size() >= kFlushAt)
            Flush();
    }

    void Warn(std::string_view text)
    {
        errBuf_ += kProgramName;
        errBuf_ += " decode: ";
        errBuf_ += text;
        errBuf_.push_back('\n');
    }

    // The error frames and the kinds of lines counted rather than said.
    void WarnCounts(TraceSkipCounts skips)
    {
        if (errorFrames_ != 0)
            Warn(std::to_string(errorFrames_) + (errorFrames_ == 1 ? " error frame" : " error frames") +
                 ", not named");
        skips[static_cast<std::size_t>(TraceSkip::FdFrame)] = 0;
        skips[static_cast<std::size_t>(TraceSkip::Unreadable)] = 0;
        for (const std::string& warning : TraceSkipWarnings(skips))
            Warn(warning);
    }

    void AppendCounts()
    {
        for (std::size_t code = 0; code < counts_.size(); ++code) {
            if (counts_[code] == 0)
                continue;
            outBuf_ += std::to_string(code);
            outBuf_.push_back('\t');
            outBuf_ += std::to_string(counts_[code]);
            outBuf_.push_back('\n');
        }
    }

    // Writes what is buffered. Once the output has failed, nothing more is
    // tried, and Failed() tells the caller to stop.
    void Flush()
    {
        // After the output failed, the input is no longer read to its end:
        // what would be said about it now is not true.
        if (!errBuf_.empty() && !failed_) {
            err_.write(errBuf_.data(), static_cast<std::streamsize>(errBuf_.size()));
            err_.flush();
        }
        errBuf_.clear();
        if (!outBuf_.empty() && !failed_) {
            errno = 0;
            out_.write(outBuf_.data(), static_cast<std::streamsize>(outBuf_.size()));
            NoteFailure();
        }
        outBuf_.clear();
    }

    // Flush, and the stream's own buffer too (a reader at the other end of a
    // pipe sees each line at once).
    void FlushThrough()
    {
        Flush();
        if (!failed_) {
            errno = 0;
            out_.flush();
            NoteFailure();
        }
    }

    bool Finish()
    {
        FlushThrough();
        err_.flush();
        return !failed_;
    }

    bool Failed() const { return failed_; }
    const std::string& FailReason() const { return failReason_; }
    // Lines were skipped and none of the log's lines was a frame.
    bool NothingWasAFrame() const { return skipped_ > 0 && frames_ == 0; }

private:
    std::ostream& out_;
    std::ostream& err_;
    std::string outBuf_;
    std::string errBuf_;
    void NoteFailure()
    {
        if (failed_ || out_)
            return;
        failed_ = true;
        failReason_ = WriteErrorReason();
    }

    std::string scratch_;
    std::array<std::uint64_t, kFunctionCodeCount> counts_{};
    std::uint64_t frames_ = 0;
    std::uint64_t errorFrames_ = 0;
    std::uint64_t skipped_ = 0;
    bool failed_ = false;
    std::string failReason_;
};

// The framing and slots the serial link uses, fed from a file instead of a port.
class PacketStream {
public:
    explicit PacketStream(DecodeOutput& output)
    {
        ring_.SetHandler([this, &output](int slot) { output.Message(ring_.Slot(slot).View()); });
    }

    void Feed(std::string_view chunk)
    {
        for (char c : chunk)
            framing_.Feed(static_cast<std::uint8_t>(c), ring_);
    }

    // Bytes of a packet or a text line that the input never completed.
    std::uint32_t PendingBytes() { return ring_.Current().count; }

private:
    SerialFraming framing_;
    ReceiveRing ring_;
};

// Returns the exit status of a usage error, or -1 when the options are sound.
int ParseOptions(CommandArgs args, const CliStreams& io, DecodeOptions& options, bool& help)
{
    bool haveFile = false;
    bool optionsEnded = false;
    for (const std::string_view arg : args) {
        if (!optionsEnded && arg.size() > 1 && arg.starts_with('-')) {
            if (arg == "--packets")
                options.packets = true;
            else if (arg == "--counts")
                options.counts = true;
            else if (arg == "--help" || arg == "-h")
                help = true;
            else if (arg == "--")
                optionsEnded = true;
            else
                return UsageError(io, kCommand, "unknown option '" + std::string(arg) + "'");
            continue;
        }
        if (haveFile)
            return UsageError(io, kCommand,
                              "more than one input file ('" + std::string(options.file) + "', '" +
                                  std::string(arg) + "')");
        options.file = arg;
        haveFile = true;
    }
    return -1;
}

// Where the bytes come from: the stream in large blocks, or a pipe or
// terminal as the bytes arrive.
class Input {
public:
    Input(std::istream& in, int liveFd) : in_(in), fd_(liveFd) {}

    bool Live() const { return fd_ >= 0; }

    // 0 at the end of the input, on an error or when a stop signal came.
    std::size_t Read(char* into, std::size_t max)
    {
        if (!Live()) {
            in_.read(into, static_cast<std::streamsize>(max));
            error_ = in_.bad();
            return static_cast<std::size_t>(in_.gcount());
        }
#ifdef _WIN32
        // Nothing interrupts a read from a pipe on Windows: wait for bytes in
        // short steps and look for a stop in between. A pipe that cannot be
        // looked into (Wine's, from a POSIX shell) is read as it is.
        const auto pipe = reinterpret_cast<HANDLE>(_get_osfhandle(fd_));
        while (GetFileType(pipe) == FILE_TYPE_PIPE) {
            DWORD available = 0;
            if (!PeekNamedPipe(pipe, nullptr, 0, nullptr, &available, nullptr)) {
                if (GetLastError() == ERROR_BROKEN_PIPE)
                    return 0; // the writer is gone: the end
                break;
            }
            if (available > 0) {
                max = std::min<std::size_t>(max, available);
                break;
            }
            if (StopSignal() != 0)
                return 0;
            Sleep(kPipeWaitStepMs);
        }
#endif
        for (;;) {
            const ssize_t n = ::read(fd_, into, max);
            if (n >= 0)
                return static_cast<std::size_t>(n);
            // A stop ends the read: EINTR, or on Windows a console read it broke off.
            const int readErrno = errno;
            if (readErrno != EINTR || StopSignal() != 0) {
                error_ = readErrno != EINTR && StopSignal() == 0;
                return 0;
            }
        }
    }
    bool Error() const { return error_; }

private:
    std::istream& in_;
    int fd_;
    bool error_ = false;
};

int Decode(Input& input, const DecodeOptions& options, const CliStreams& io,
           std::uint64_t* bytesRead = nullptr)
{
    DecodeOutput output(io.out, io.err);
    TraceReader reader;
    PacketStream packets(output);
    const auto chunk = std::make_unique<char[]>(kReadChunk);

    std::uint64_t total = 0;
    while (!output.Failed() && StopSignal() == 0) {
        const std::size_t got = input.Read(chunk.get(), kReadChunk);
        if (got == 0)
            break;
        total += got;
        const std::string_view text(chunk.get(), got);
        if (options.packets)
            packets.Feed(text);
        else
            reader.Feed(text, output);
        if (input.Live())
            output.FlushThrough();
    }
    if (bytesRead)
        *bytesRead = total;
    if (output.Failed()) {
        io.err << kProgramName << ' ' << kCommand << ": error writing the output: " << output.FailReason()
               << '\n';
        return kExitIoError;
    }
    if (input.Error()) {
        output.Finish();
        io.err << kProgramName << ' ' << kCommand << ": error reading the input\n";
        return kExitIoError;
    }
    if (options.packets) {
        if (const std::uint32_t pending = packets.PendingBytes(); pending > 0 && StopSignal() == 0)
            output.Warn("the input ends inside a message; its " + std::to_string(pending) +
                        " bytes are not shown");
    } else {
        if (StopSignal() == 0)
            reader.Finish(output);
        output.WarnCounts(reader.Skips());
    }
    const bool noFrame = !options.packets && StopSignal() == 0 && output.NothingWasAFrame();
    if (noFrame)
        output.Warn("no line of the input is a CAN frame");
    if (options.counts)
        output.AppendCounts();
    if (!output.Finish()) {
        io.err << kProgramName << ' ' << kCommand << ": error writing the output: " << output.FailReason()
               << '\n';
        return kExitIoError;
    }
    if (StopSignal() != 0)
        return 128 + StopSignal();
    return noFrame ? kExitCannotOpen : kExitOk;
}

} // namespace

int RunDecode(CommandArgs args, const CliStreams& io)
{
    DecodeOptions options;
    bool help = false;
    if (const int status = ParseOptions(args, io, options, help); status >= 0)
        return status;
    if (help) {
        return WriteHelp(io, kCommand, kHelp);
    }
    if (options.file == "-") {
        Input input(io.in, io.liveInput);
        return Decode(input, options, io);
    }

    const std::string path(options.file);
    std::error_code ec;
    if (std::filesystem::is_directory(path, ec)) {
        io.err << kProgramName << ' ' << kCommand << ": cannot open '" << path << "': Is a directory\n";
        return kExitCannotOpen;
    }
    errno = 0;
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        const int error = errno;
        io.err << kProgramName << ' ' << kCommand << ": cannot open '" << path
               << "': " << (error != 0 ? std::strerror(error) : "open failed") << '\n';
        return kExitCannotOpen;
    }
    const std::uintmax_t sizeAtOpen = std::filesystem::file_size(path, ec);
    const bool sized = !ec && std::filesystem::is_regular_file(path, ec);
    Input input(file, -1);
    std::uint64_t read = 0;
    const int status = Decode(input, options, io, &read);
    // A log cut short under us (rotated, truncated) must not pass for whole.
    if (status == kExitOk && sized && read < sizeAtOpen) {
        io.err << kProgramName << ' ' << kCommand << ": '" << path << "' shrank while being read: " << read
               << " of " << sizeAtOpen << " bytes decoded\n";
        return kExitIoError;
    }
    return status;
}

} // namespace tervix::cli
