// The trace files CAN tools write: candump logs, PEAK's TRC (versions 1.0 to
// 2.1) and Vector's ASC. One reader tells them apart by their content, not by
// the file name; one writer per format writes them a record at a time, so a
// recording can be written live.
//
// What each format holds of a record:
//   candump  frames and error frames (identifier flag 0x20000000), times in
//            µs of Unix time; direction by the interface ("tx" as our recorder
//            writes) or the "T" mark of candump -x
//   TRC 1.x  time offsets in ms (1.1: 0.1 ms, 1.2/1.3: µs) from $STARTTIME,
//            the local date as days since 30 Dec 1899; Rx/Tx from 1.1 on
//   TRC 2.x  the columns $COLUMNS names (bus and reserved are optional), µs
//   ASC      seconds with 6 decimals from the "date" line (local time), ids
//            and data in hex or decimal, absolute or relative (to the line
//            before) time stamps
// None keeps error details here: an error frame is read and written as "an
// error frame at this time". Bus or channel numbers are not kept: every
// record is written on bus/channel 1.
#pragma once

#include "frame_packet.h"

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tervix {

enum class TraceFormat : std::uint8_t { Candump, Trc11, Trc21, Asc };

// "candump", "trc11", "trc21", "asc".
std::string_view TraceFormatName(TraceFormat format);
std::optional<TraceFormat> TraceFormatFromName(std::string_view name);
// By the file name's extension, of any case: .log candump, .trc TRC 2.1,
// .asc ASC; nothing for any other.
std::optional<TraceFormat> TraceFormatForPath(std::string_view path);

enum class TraceDirection : std::uint8_t { Received, Transmitted };

struct TraceRecord {
    enum class Kind : std::uint8_t { Frame, ErrorFrame };
    Kind kind = Kind::Frame;
    BusFrame frame; // a Frame's
    // Microseconds of Unix time where the file has a date, else since the
    // first record of the file.
    std::int64_t micros = 0;
    TraceDirection direction = TraceDirection::Received;

    friend bool operator==(const TraceRecord&, const TraceRecord&) = default;
};

// Lines that hold what a record cannot, and lines that cannot be read.
enum class TraceSkip : std::uint8_t { FdFrame, Event, Status, Unreadable };
constexpr std::size_t kTraceSkipKinds = 4;
using TraceSkipCounts = std::array<std::uint64_t, kTraceSkipKinds>;

// One warning per kind that was counted, in the order above, e.g.
// "skipped 3 CAN FD frames".
std::vector<std::string> TraceSkipWarnings(const TraceSkipCounts& counts);

class TraceSink {
public:
    virtual ~TraceSink() = default;
    virtual void Record(std::uint64_t lineNumber, const TraceRecord& record) = 0;
    // `reason` is static text: why the line was left out.
    virtual void Skipped(std::uint64_t lineNumber, TraceSkip kind, std::string_view reason) = 0;
};

// Cuts text, fed in chunks of any size, into lines and reads each. The format
// is known from the first line that tells it (a TRC or ASC header line, a
// candump line, a TRC or ASC message line); lines before that which are none
// are skipped as unreadable. Header and comment lines of the format pass
// silently. Memory is fixed: a line longer than kMaxLine is skipped whole.
class TraceReader {
public:
    static constexpr std::size_t kMaxLine = 16384;

    TraceReader();
    void Feed(std::string_view chunk, TraceSink& sink);
    // Ends the last line when the text does not end with a newline.
    void Finish(TraceSink& sink);

    // Trc11 stands for every 1.x version, Trc21 for 2.x; empty while no line
    // has told.
    std::optional<TraceFormat> Format() const;
    // Whether record times are Unix time (the file has a date).
    bool AbsoluteTimes() const;
    const TraceSkipCounts& Skips() const { return skips_; }
    std::uint64_t Records() const { return records_; }
    std::uint64_t LineCount() const { return lineNumber_; }

private:
    enum class Mode : std::uint8_t { Unknown, Candump, Trc, Asc };

    void EndLine(std::string_view line, bool overLong, TraceSink& sink);
    void EndCarriedLine(TraceSink& sink);
    void Split(std::string_view line);
    bool Detect(std::string_view line, TraceSink& sink);
    // Each gives false when the line is none of its format's lines.
    bool CandumpLine(std::string_view line, TraceSink& sink);
    bool TrcLine(std::string_view line, TraceSink& sink);
    void Trc1Line(TraceSink& sink);
    void Trc2Line(TraceSink& sink);
    bool AscLine(std::string_view line, TraceSink& sink);
    bool AscHeaderLine(std::string_view line);
    void AscMessage(std::size_t at, std::int64_t offset, TraceSink& sink);
    // Emits a record whose time is `offset` µs after the file's start, or
    // since the first record when the file has no date.
    void Emit(TraceRecord& record, std::int64_t offset, std::optional<std::int64_t> start, TraceSink& sink);
    void Skip(TraceSkip kind, std::string_view reason, TraceSink& sink);

    Mode mode_ = Mode::Unknown;
    std::string carry_;
    bool carryOverLong_ = false;
    std::uint64_t lineNumber_ = 0;
    std::uint64_t records_ = 0;
    TraceSkipCounts skips_{};
    std::vector<std::string_view> tokens_;
    std::optional<std::int64_t> firstOffset_;

    std::int64_t candumpMicros_ = 0;
    int trcVersion_ = 0; // 11 for 1.1; 0 when the file does not say
    std::string trcColumns_;
    std::optional<std::int64_t> trcStart_;
    bool ascHex_ = true;
    bool ascRelative_ = false;
    std::int64_t ascLast_ = 0;
    std::optional<std::int64_t> ascStart_;
};

// Writes one format: Begin (the header), Append per record, End (the footer).
class TraceWriter {
public:
    explicit TraceWriter(TraceFormat format) : format_(format) {}

    // The header of a trace whose record times are Unix time from
    // `startUnixMicros` on, or, without it, times since the trace began (no
    // date is written). Times are written as offsets from the start as the
    // header states it (to its precision), so they read back as given.
    void Begin(std::string& out, std::optional<std::int64_t> startUnixMicros);
    // Begins at the record's time first when Begin was not called. A record
    // before the start is written at the start, except in candump logs.
    void Append(std::string& out, const TraceRecord& record);
    // Begins without a date first when nothing was written.
    void End(std::string& out);

    bool Begun() const { return begun_; }
    TraceFormat Format() const { return format_; }

private:
    TraceFormat format_;
    bool begun_ = false;
    std::int64_t start_ = 0;
    std::uint64_t number_ = 0;
};

} // namespace tervix
