#include "trace_formats.h"

#include "candump_reader.h"
#include "candump_writer.h"
#include "hex_text.h"
#include "version.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <ctime>

namespace tervix {

namespace {

constexpr std::string_view kNotAFrame = "not a CAN frame";
constexpr std::string_view kTooLong = "line too long";
constexpr std::string_view kFdFrame = "CAN FD frame";
constexpr std::string_view kBadTime = "bad time stamp";
constexpr std::string_view kBadId = "bad identifier";
constexpr std::string_view kBadLength = "bad data length";
constexpr std::string_view kMissingData = "fewer data bytes than the length";
constexpr std::string_view kBadData = "bad data";
constexpr std::string_view kBadDirection = "bad direction";
constexpr std::string_view kUnknownType = "unknown message type";
constexpr std::string_view kNotTrc = "not a TRC message line";
constexpr std::string_view kNotAsc = "not an ASC line";
constexpr std::string_view kEvent = "comment or event";
constexpr std::string_view kStatus = "status line";

constexpr std::uint32_t kCanErrorFlag = 0x20000000;
constexpr std::uint32_t kMaxStandardId = 0x7FF;
constexpr std::uint32_t kMaxExtendedId = 0x1FFFFFFF;
// Days from 30 Dec 1899 (the TRC start time's day 0) to 1 Jan 1970.
constexpr std::int64_t kTrcEpochDays = 25569;
constexpr std::int64_t kMicrosPerDay = 86400LL * 1000000;

constexpr bool IsBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f';
}

constexpr bool IsDigit(char c)
{
    return c >= '0' && c <= '9';
}

bool StartsWith(std::string_view text, std::string_view prefix)
{
    return text.substr(0, prefix.size()) == prefix;
}

bool EqualsNoCase(std::string_view a, std::string_view b)
{
    return a.size() == b.size() &&
           std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) { return (x | 0x20) == (y | 0x20); });
}

// An unsigned number in `base` (10 or 16), all of the text.
std::optional<std::uint64_t> Number(std::string_view text, int base)
{
    if (text.empty() || text.size() > 16)
        return std::nullopt;
    std::uint64_t v = 0;
    for (char c : text) {
        const int d = HexDigitValue(c);
        if (d < 0 || d >= base)
            return std::nullopt;
        v = v * static_cast<unsigned>(base) + static_cast<unsigned>(d);
    }
    return v;
}

// "12.345" as an integer in units of 10^-decimals, rounded at the next digit.
std::optional<std::int64_t> Fixed(std::string_view text, int decimals)
{
    std::int64_t whole = 0;
    std::int64_t fraction = 0;
    int digits = 0;
    bool point = false;
    bool any = false;
    bool roundUp = false;
    for (char c : text) {
        if (c == '.' && !point) {
            point = true;
            continue;
        }
        if (!IsDigit(c))
            return std::nullopt;
        any = true;
        if (!point) {
            if (whole > 100000000000LL)
                return std::nullopt;
            whole = whole * 10 + (c - '0');
        } else if (digits < decimals) {
            fraction = fraction * 10 + (c - '0');
            ++digits;
        } else if (digits == decimals) {
            roundUp = c >= '5';
            ++digits;
        }
    }
    if (!any)
        return std::nullopt;
    for (int d = std::min(digits, decimals); d < decimals; ++d)
        fraction *= 10;
    std::int64_t scale = 1;
    for (int d = 0; d < decimals; ++d)
        scale *= 10;
    return whole * scale + fraction + (roundUp ? 1 : 0);
}

// Local civil time and Unix time, as the TRC and ASC dates are local.
struct Civil {
    int year = 1970;
    int month = 1;
    int day = 1;
    int hour = 0;
    int minute = 0;
    int second = 0;
};

// Days since 1 Jan 1970 of a proleptic Gregorian date, and back.
std::int64_t DaysFromCivil(int year, int month, int day)
{
    const std::int64_t y = year - (month <= 2 ? 1 : 0);
    const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
    const std::int64_t yoe = y - era * 400;
    const std::int64_t doy = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
    const std::int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + doe - 719468;
}

Civil CivilFromDays(std::int64_t days)
{
    days += 719468;
    const std::int64_t era = (days >= 0 ? days : days - 146096) / 146097;
    const std::int64_t doe = days - era * 146097;
    const std::int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const std::int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const std::int64_t mp = (5 * doy + 2) / 153;
    Civil c;
    c.day = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
    c.month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
    c.year = static_cast<int>(yoe + era * 400 + (c.month <= 2 ? 1 : 0));
    return c;
}

Civil LocalCivil(std::int64_t unixSeconds)
{
    const auto t = static_cast<std::time_t>(unixSeconds);
    std::tm tm{};
#ifdef _WIN32
    localtime_s(&tm, &t);
#else
    localtime_r(&t, &tm);
#endif
    return {tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec};
}

std::optional<std::int64_t> UnixFromLocal(const Civil& c)
{
    std::tm tm{};
    tm.tm_year = c.year - 1900;
    tm.tm_mon = c.month - 1;
    tm.tm_mday = c.day;
    tm.tm_hour = c.hour;
    tm.tm_min = c.minute;
    tm.tm_sec = c.second;
    tm.tm_isdst = -1;
    const std::time_t t = std::mktime(&tm);
    if (t == static_cast<std::time_t>(-1) && !(c.year == 1969 || c.year == 1970))
        return std::nullopt;
    return static_cast<std::int64_t>(t);
}

// The TRC start time: days since 30 Dec 1899 with the time of day as the
// fraction, local time. Read to the microsecond.
std::optional<std::int64_t> TrcStartMicros(std::string_view text)
{
    std::size_t i = 0;
    std::int64_t days = 0;
    while (i < text.size() && IsDigit(text[i]) && days < 10000000)
        days = days * 10 + (text[i++] - '0');
    if (i == 0)
        return std::nullopt;
    // Twelve fraction digits in units of 10^-12 days: 0.0864 µs each.
    std::int64_t fraction = 0;
    int digits = 0;
    if (i < text.size() && text[i] == '.') {
        for (++i; i < text.size() && IsDigit(text[i]); ++i)
            if (digits < 12) {
                fraction = fraction * 10 + (text[i] - '0');
                ++digits;
            }
    }
    for (; digits < 12; ++digits)
        fraction *= 10;
    const std::int64_t dayMicros = (fraction * 864 + 5000) / 10000;
    Civil c = CivilFromDays(days - kTrcEpochDays);
    const std::int64_t seconds = dayMicros / 1000000;
    c.hour = static_cast<int>(seconds / 3600);
    c.minute = static_cast<int>(seconds / 60 % 60);
    c.second = static_cast<int>(seconds % 60);
    const auto epoch = UnixFromLocal(c);
    if (!epoch)
        return std::nullopt;
    return *epoch * 1000000 + dayMicros % 1000000;
}

constexpr std::array<std::string_view, 12> kMonths = {"jan", "feb", "mar", "apr", "may", "jun",
                                                      "jul", "aug", "sep", "oct", "nov", "dec"};
constexpr std::array<std::string_view, 7> kWeekdays = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};

// English and German month abbreviations (Vector writes the system's).
int MonthNumber(std::string_view word)
{
    if (word.size() < 3)
        return 0;
    char m[3];
    for (int k = 0; k < 3; ++k)
        m[k] = static_cast<char>(word[static_cast<std::size_t>(k)] | 0x20);
    const std::string_view three(m, 3);
    for (std::size_t k = 0; k < kMonths.size(); ++k)
        if (three == kMonths[k])
            return static_cast<int>(k) + 1;
    // "Mär" in UTF-8 or Windows-1252, or "Mrz".
    if (three == "mrz" || (m[0] == 'm' && word.back() == 'r' && word.size() <= 4 &&
                           static_cast<unsigned char>(word[1]) >= 0x80))
        return 3;
    if (three == "mai")
        return 5;
    if (three == "okt")
        return 10;
    if (three == "dez")
        return 12;
    return 0;
}

// "Fri Jul 10 06:17:32 2015", "Sat Sep 30 15:06:13.191 2017",
// "Mon Sep 24 05:17:41.123 pm 2012": the weekday is not checked.
std::optional<std::int64_t> AscDateMicros(const std::vector<std::string_view>& words, std::size_t from)
{
    Civil c;
    c.year = 0;
    c.month = 0;
    c.day = 0;
    std::int64_t millis = 0;
    bool time = false;
    bool pm = false;
    bool am = false;
    for (std::size_t k = from; k < words.size(); ++k) {
        const std::string_view w = words[k];
        if (EqualsNoCase(w, "pm"))
            pm = true;
        else if (EqualsNoCase(w, "am"))
            am = true;
        else if (w.find(':') != std::string_view::npos && !time) {
            unsigned h = 0, m = 0, s = 0, ms = 0;
            int used = 0;
            const std::string text(w);
            if (std::sscanf(text.c_str(), "%2u:%2u:%2u%n", &h, &m, &s, &used) != 3)
                return std::nullopt;
            if (static_cast<std::size_t>(used) < text.size()) {
                if (text[static_cast<std::size_t>(used)] != '.')
                    return std::nullopt;
                const auto f = Fixed(std::string_view(text).substr(static_cast<std::size_t>(used)), 3);
                if (!f)
                    return std::nullopt;
                ms = static_cast<unsigned>(*f);
            }
            c.hour = static_cast<int>(h);
            c.minute = static_cast<int>(m);
            c.second = static_cast<int>(s);
            millis = ms;
            time = true;
        } else if (const auto n = Number(w, 10)) {
            if (w.size() == 4)
                c.year = static_cast<int>(*n);
            else if (*n >= 1 && *n <= 31)
                c.day = static_cast<int>(*n);
            else
                return std::nullopt;
        } else if (int month = MonthNumber(w); month != 0 && c.month == 0 && k > from) {
            c.month = month;
        } else if (k != from) {
            return std::nullopt; // anything but the weekday
        }
    }
    if (!time || c.year == 0 || c.month == 0 || c.day == 0 || c.hour > 23 || c.minute > 59 || c.second > 60)
        return std::nullopt;
    if (pm && c.hour < 12)
        c.hour += 12;
    else if (am && c.hour == 12)
        c.hour = 0;
    const auto epoch = UnixFromLocal(c);
    if (!epoch)
        return std::nullopt;
    return *epoch * 1000000 + millis * 1000;
}

bool IsTrc1Type(std::string_view t)
{
    return t == "Rx" || t == "Tx" || t == "Warng" || t == "Error";
}

// "12)": a TRC 1.x message number.
bool IsTrc1Number(std::string_view t)
{
    return t.size() >= 2 && t.back() == ')' && Number(t.substr(0, t.size() - 1), 10).has_value();
}

// An identifier of `digits` hex digits: 11 bits for up to 4, else 29.
std::optional<BusFrame> TrcId(std::string_view t)
{
    const auto v = Number(t, 16);
    if (!v || t.size() > 8)
        return std::nullopt;
    BusFrame f;
    f.extended = t.size() > 4;
    if (*v > (f.extended ? kMaxExtendedId : kMaxStandardId))
        return std::nullopt;
    f.id = static_cast<std::uint32_t>(*v);
    return f;
}

// Data bytes from tokens [from, from + count), in `base`.
bool ReadData(const std::vector<std::string_view>& t, std::size_t from, std::size_t count, int base,
              BusFrame& f, std::string_view& why)
{
    if (from + count > t.size()) {
        why = kMissingData;
        return false;
    }
    for (std::size_t k = 0; k < count; ++k) {
        const auto b = Number(t[from + k], base);
        if (!b || *b > 0xFF || (base == 16 && t[from + k].size() > 2)) {
            why = kBadData;
            return false;
        }
        f.data[k] = static_cast<std::uint8_t>(*b);
    }
    return true;
}

void AppendPadded(std::string& out, std::string_view text, std::size_t width, bool right)
{
    if (right)
        out.append(width > text.size() ? width - text.size() : 0, ' ');
    out += text;
    if (!right)
        out.append(width > text.size() ? width - text.size() : 0, ' ');
}

void AppendNumber(std::string& out, std::uint64_t v, std::size_t width, bool right = true)
{
    char buf[24];
    const int n = std::snprintf(buf, sizeof buf, "%llu", static_cast<unsigned long long>(v));
    AppendPadded(out, std::string_view(buf, static_cast<std::size_t>(n)), width, right);
}

std::string HexId(const BusFrame& f, std::size_t standardDigits)
{
    std::string id;
    if (f.extended)
        AppendHex8(id, f.id & kMaxExtendedId);
    else if (standardDigits == 4)
        AppendHex4(id, static_cast<std::uint16_t>(f.id & kMaxStandardId));
    else {
        char buf[12];
        std::snprintf(buf, sizeof buf, "%X", static_cast<unsigned>(f.id & kMaxStandardId));
        id = buf;
    }
    return id;
}

unsigned Length(const BusFrame& f)
{
    return f.length < 8 ? f.length : 8u;
}

void TrimTrailing(std::string& out)
{
    while (!out.empty() && out.back() == ' ')
        out.pop_back();
}

} // namespace

std::string_view TraceFormatName(TraceFormat format)
{
    switch (format) {
    case TraceFormat::Candump: return "candump";
    case TraceFormat::Trc11: return "trc11";
    case TraceFormat::Trc21: return "trc21";
    case TraceFormat::Asc: return "asc";
    }
    return "candump";
}

std::optional<TraceFormat> TraceFormatFromName(std::string_view name)
{
    for (TraceFormat f : {TraceFormat::Candump, TraceFormat::Trc11, TraceFormat::Trc21, TraceFormat::Asc})
        if (name == TraceFormatName(f))
            return f;
    return std::nullopt;
}

std::optional<TraceFormat> TraceFormatForPath(std::string_view path)
{
    const std::size_t dot = path.find_last_of('.');
    if (dot == std::string_view::npos || path.find_first_of("/\\", dot) != std::string_view::npos)
        return std::nullopt;
    const std::string_view ext = path.substr(dot + 1);
    if (EqualsNoCase(ext, "log"))
        return TraceFormat::Candump;
    if (EqualsNoCase(ext, "trc"))
        return TraceFormat::Trc21;
    if (EqualsNoCase(ext, "asc"))
        return TraceFormat::Asc;
    return std::nullopt;
}

std::vector<std::string> TraceSkipWarnings(const TraceSkipCounts& counts)
{
    static constexpr std::array<std::string_view, kTraceSkipKinds> kOne = {"CAN FD frame", "comment or event",
                                                                           "status line", "unreadable line"};
    static constexpr std::array<std::string_view, kTraceSkipKinds> kMany = {
        "CAN FD frames", "comments and events", "status lines", "unreadable lines"};
    std::vector<std::string> warnings;
    for (std::size_t k = 0; k < kTraceSkipKinds; ++k)
        if (counts[k] != 0)
            warnings.push_back("skipped " + std::to_string(counts[k]) + " " +
                               std::string(counts[k] == 1 ? kOne[k] : kMany[k]));
    return warnings;
}

// ---------------------------------------------------------------- reading

TraceReader::TraceReader()
{
    carry_.reserve(kMaxLine);
    tokens_.reserve(96);
}

std::optional<TraceFormat> TraceReader::Format() const
{
    switch (mode_) {
    case Mode::Candump: return TraceFormat::Candump;
    case Mode::Trc:
        return trcVersion_ >= 20 || !trcColumns_.empty() ? TraceFormat::Trc21 : TraceFormat::Trc11;
    case Mode::Asc: return TraceFormat::Asc;
    case Mode::Unknown: break;
    }
    return std::nullopt;
}

bool TraceReader::AbsoluteTimes() const
{
    switch (mode_) {
    case Mode::Candump: return true;
    case Mode::Trc: return trcStart_.has_value();
    case Mode::Asc: return ascStart_.has_value();
    case Mode::Unknown: break;
    }
    return false;
}

void TraceReader::Feed(std::string_view chunk, TraceSink& sink)
{
    while (!chunk.empty()) {
        const void* found = std::memchr(chunk.data(), '\n', chunk.size());
        const std::size_t length =
            found ? static_cast<std::size_t>(static_cast<const char*>(found) - chunk.data()) : chunk.size();
        const std::string_view piece = chunk.substr(0, length);
        if (!carryOverLong_) {
            if (piece.size() > kMaxLine - carry_.size()) {
                carryOverLong_ = true;
                carry_.clear();
            } else if (!found || !carry_.empty()) {
                carry_ += piece;
            }
        }
        if (!found)
            return;
        chunk.remove_prefix(length + 1);
        if (carry_.empty() && !carryOverLong_)
            EndLine(piece, false, sink); // the whole line lies in the chunk: no copy
        else
            EndCarriedLine(sink);
    }
}

void TraceReader::EndCarriedLine(TraceSink& sink)
{
    const bool overLong = carryOverLong_;
    carryOverLong_ = false;
    EndLine(carry_, overLong, sink);
    carry_.clear();
}

void TraceReader::Finish(TraceSink& sink)
{
    if (!carry_.empty() || carryOverLong_)
        EndCarriedLine(sink);
}

void TraceReader::Split(std::string_view line)
{
    tokens_.clear();
    std::size_t i = 0;
    while (i < line.size()) {
        while (i < line.size() && IsBlank(line[i]))
            ++i;
        const std::size_t begin = i;
        while (i < line.size() && !IsBlank(line[i]))
            ++i;
        if (i > begin)
            tokens_.push_back(line.substr(begin, i - begin));
    }
}

void TraceReader::Skip(TraceSkip kind, std::string_view reason, TraceSink& sink)
{
    ++skips_[static_cast<std::size_t>(kind)];
    sink.Skipped(lineNumber_, kind, reason);
}

void TraceReader::Emit(TraceRecord& record, std::int64_t offset, std::optional<std::int64_t> start,
                       TraceSink& sink)
{
    if (start) {
        record.micros = *start + offset;
    } else {
        if (!firstOffset_)
            firstOffset_ = offset;
        record.micros = offset - *firstOffset_;
    }
    ++records_;
    sink.Record(lineNumber_, record);
}

void TraceReader::EndLine(std::string_view line, bool overLong, TraceSink& sink)
{
    ++lineNumber_;
    if (overLong || line.size() > kMaxLine) {
        Skip(TraceSkip::Unreadable, kTooLong, sink);
        return;
    }
    while (!line.empty() && IsBlank(line.back()))
        line.remove_suffix(1);
    while (!line.empty() && IsBlank(line.front()))
        line.remove_prefix(1);
    if (line.empty())
        return;
    switch (mode_) {
    case Mode::Unknown:
        if (!Detect(line, sink)) {
            CandumpPacket packet;
            const CandumpLineResult r = ParseCandumpLine(line, packet);
            Skip(TraceSkip::Unreadable, r.kind == CandumpLineKind::Skipped ? r.reason : kNotAFrame, sink);
        }
        return;
    case Mode::Candump: CandumpLine(line, sink); return;
    case Mode::Trc:
        if (!TrcLine(line, sink))
            Skip(TraceSkip::Unreadable, kNotTrc, sink);
        return;
    case Mode::Asc:
        if (!AscLine(line, sink))
            Skip(TraceSkip::Unreadable, kNotAsc, sink);
        return;
    }
}

bool TraceReader::Detect(std::string_view line, TraceSink& sink)
{
    Split(line);
    const std::string_view first = tokens_.front();
    if (line.front() == ';') {
        mode_ = Mode::Trc;
        return TrcLine(line, sink);
    }
    if (IsTrc1Number(first)) {
        mode_ = Mode::Trc;
        return TrcLine(line, sink);
    }
    if (AscHeaderLine(line)) {
        mode_ = Mode::Asc;
        return true;
    }
    // A candump line: its time stamp, or a frame without one.
    CandumpPacket packet;
    const bool stamped = first.size() > 2 && first.front() == '(' && first.back() == ')' &&
                         Fixed(first.substr(1, first.size() - 2), 6).has_value();
    if (stamped || ParseCandumpLine(line, packet).kind == CandumpLineKind::Frame) {
        mode_ = Mode::Candump;
        return CandumpLine(line, sink);
    }
    // An ASC message line without the header before it: time, channel,
    // identifier, direction, d or r.
    const std::vector<std::string_view>& t = tokens_;
    if (t.size() >= 5 && Fixed(t[0], 6) && Number(t[1], 10) && (t[3] == "Rx" || t[3] == "Tx") &&
        (t[4] == "d" || t[4] == "r")) {
        mode_ = Mode::Asc;
        return AscLine(line, sink);
    }
    return false;
}

// ---- candump

bool TraceReader::CandumpLine(std::string_view line, TraceSink& sink)
{
    Split(line);
    std::size_t k = 0;
    if (tokens_[0].front() == '(') {
        const std::string_view stamp = tokens_[0];
        const auto micros = stamp.size() > 2 && stamp.back() == ')'
                                ? Fixed(stamp.substr(1, stamp.size() - 2), 6)
                                : std::nullopt;
        if (!micros) {
            Skip(TraceSkip::Unreadable, kNotAFrame, sink);
            return true;
        }
        candumpMicros_ = *micros;
        ++k;
    }
    TraceRecord record;
    if (k < tokens_.size() && tokens_[k].find('#') == std::string_view::npos) {
        if (tokens_[k] == "tx")
            record.direction = TraceDirection::Transmitted;
        ++k;
    }
    if (k + 1 < tokens_.size() && tokens_[k + 1] == "T")
        record.direction = TraceDirection::Transmitted;
    // An error frame: an 8-digit identifier with the error flag, which the
    // frame reader takes for out of range.
    if (k < tokens_.size()) {
        const std::string_view token = tokens_[k];
        const std::size_t hash = token.find('#');
        const auto id = hash == 8 ? Number(token.substr(0, 8), 16) : std::nullopt;
        if (id && (*id & kCanErrorFlag) != 0 && token.substr(hash + 1, 1) != "#") {
            record.kind = TraceRecord::Kind::ErrorFrame;
            ++records_;
            record.micros = candumpMicros_;
            sink.Record(lineNumber_, record);
            return true;
        }
    }
    CandumpPacket packet;
    const CandumpLineResult r = ParseCandumpLine(line, packet);
    if (r.kind == CandumpLineKind::Frame) {
        record.frame = packet.frame;
        record.micros = candumpMicros_;
        ++records_;
        sink.Record(lineNumber_, record);
    } else if (r.kind == CandumpLineKind::Skipped) {
        Skip(r.reason == kFdFrame ? TraceSkip::FdFrame : TraceSkip::Unreadable, r.reason, sink);
    }
    return true;
}

// ---- TRC

bool TraceReader::TrcLine(std::string_view line, TraceSink& sink)
{
    if (line.front() == ';') {
        auto value = [&line](std::string_view key) -> std::optional<std::string_view> {
            if (!StartsWith(line, key))
                return std::nullopt;
            std::string_view v = line.substr(key.size());
            while (!v.empty() && IsBlank(v.front()))
                v.remove_prefix(1);
            return v;
        };
        if (const auto v = value(";$FILEVERSION=")) {
            const std::size_t dot = v->find('.');
            const auto major = Number(v->substr(0, dot), 10);
            const auto minor = dot == std::string_view::npos ? std::optional<std::uint64_t>(0)
                                                             : Number(v->substr(dot + 1, 1), 10);
            if (major && minor && *major < 10)
                trcVersion_ = static_cast<int>(*major * 10 + *minor);
        } else if (const auto start = value(";$STARTTIME=")) {
            trcStart_ = TrcStartMicros(*start);
        } else if (const auto columns = value(";$COLUMNS=")) {
            trcColumns_.clear();
            for (char c : *columns)
                if (c != ',' && !IsBlank(c))
                    trcColumns_ += c;
        }
        return true;
    }
    Split(line);
    if (trcVersion_ >= 20 || !trcColumns_.empty())
        Trc2Line(sink);
    else if (IsTrc1Number(tokens_[0]))
        Trc1Line(sink);
    else
        return false;
    return true;
}

void TraceReader::Trc1Line(TraceSink& sink)
{
    const std::vector<std::string_view>& t = tokens_;
    const auto offset = t.size() > 1 ? Fixed(t[1], 3) : std::nullopt;
    if (!offset) {
        Skip(TraceSkip::Unreadable, kBadTime, sink);
        return;
    }
    // 1.0 has no type, 1.2 and 1.3 a bus number before it, 1.3 a reserved
    // column after the identifier: the layout is told by the words.
    std::size_t i = 2;
    std::string_view type;
    if (i < t.size() && IsTrc1Type(t[i]))
        type = t[i++];
    else if (i + 1 < t.size() && IsTrc1Type(t[i + 1]) && Number(t[i], 10)) {
        type = t[i + 1];
        i += 2;
    }
    if (type == "Warng" || (i < t.size() && t[i] == "FFFFFFFF")) {
        Skip(TraceSkip::Status, kStatus, sink);
        return;
    }
    const auto id = i < t.size() ? TrcId(t[i]) : std::nullopt;
    ++i;
    if (i < t.size() && t[i] == "-")
        ++i;
    const auto dlc = i < t.size() ? Number(t[i], 10) : std::nullopt;
    ++i;
    TraceRecord record;
    record.direction = type == "Tx" ? TraceDirection::Transmitted : TraceDirection::Received;
    if (type == "Error" || (i < t.size() && t[i] == "ERROR")) {
        record.kind = TraceRecord::Kind::ErrorFrame;
        Emit(record, *offset, trcStart_, sink);
        return;
    }
    if (!id) {
        Skip(TraceSkip::Unreadable, kBadId, sink);
        return;
    }
    if (!dlc || *dlc > 15) {
        Skip(TraceSkip::Unreadable, kBadLength, sink);
        return;
    }
    record.frame = *id;
    record.frame.length = static_cast<std::uint8_t>(std::min<std::uint64_t>(*dlc, 8));
    if (i < t.size() && t[i] == "RTR") {
        record.frame.remote = true;
    } else {
        std::string_view why;
        if (!ReadData(t, i, record.frame.length, 16, record.frame, why)) {
            Skip(TraceSkip::Unreadable, why, sink);
            return;
        }
    }
    Emit(record, *offset, trcStart_, sink);
}

void TraceReader::Trc2Line(TraceSink& sink)
{
    const std::vector<std::string_view>& t = tokens_;
    const std::string columns =
        !trcColumns_.empty() ? trcColumns_ : (trcVersion_ == 20 ? "NOTIdlD" : "NOTBIdRLD");
    const std::size_t typeAt = columns.find('T');
    const std::size_t timeAt = columns.find('O');
    if (typeAt == std::string::npos || timeAt == std::string::npos || typeAt >= t.size() ||
        timeAt >= t.size()) {
        Skip(TraceSkip::Unreadable, kNotTrc, sink);
        return;
    }
    const auto offset = Fixed(t[timeAt], 3);
    if (!offset) {
        Skip(TraceSkip::Unreadable, kBadTime, sink);
        return;
    }
    const std::string_view type = t[typeAt];
    TraceRecord record;
    if (type == "FD" || type == "FB" || type == "FE" || type == "BI") {
        Skip(TraceSkip::FdFrame, kFdFrame, sink);
        return;
    }
    if (type == "ST" || type == "EC") {
        Skip(TraceSkip::Status, kStatus, sink);
        return;
    }
    if (type == "EV") {
        Skip(TraceSkip::Event, kEvent, sink);
        return;
    }
    if (type == "ER") {
        // Columns left empty shift the words: the direction is the word that is one.
        record.kind = TraceRecord::Kind::ErrorFrame;
        if (std::find(t.begin() + static_cast<std::ptrdiff_t>(typeAt), t.end(), "Tx") != t.end())
            record.direction = TraceDirection::Transmitted;
        Emit(record, *offset, trcStart_, sink);
        return;
    }
    if (type != "DT" && type != "RR") {
        Skip(TraceSkip::Unreadable, kUnknownType, sink);
        return;
    }
    record.frame.remote = type == "RR";
    bool haveId = false;
    std::optional<std::uint64_t> length;
    std::size_t dataAt = t.size();
    for (std::size_t k = 0; k < columns.size() && k < t.size(); ++k) {
        const std::string_view w = t[k];
        switch (columns[k]) {
        case 'I':
            if (const auto id = TrcId(w)) {
                const bool remote = record.frame.remote;
                record.frame = *id;
                record.frame.remote = remote;
                haveId = true;
            }
            break;
        case 'd':
            if (w == "Tx")
                record.direction = TraceDirection::Transmitted;
            else if (w != "Rx") {
                Skip(TraceSkip::Unreadable, kBadDirection, sink);
                return;
            }
            break;
        case 'l':
            length = Number(w, 10);
            if (length && *length > 8 && !record.frame.remote)
                length.reset();
            break;
        case 'L':
            length = Number(w, 10);
            if (length && *length > 15)
                length.reset();
            break;
        case 'D': dataAt = k; break;
        default: break;
        }
    }
    if (!haveId) {
        Skip(TraceSkip::Unreadable, kBadId, sink);
        return;
    }
    if (!length) {
        Skip(TraceSkip::Unreadable, kBadLength, sink);
        return;
    }
    record.frame.length = static_cast<std::uint8_t>(std::min<std::uint64_t>(*length, 8));
    if (!record.frame.remote) {
        std::string_view why;
        if (!ReadData(t, dataAt, record.frame.length, 16, record.frame, why)) {
            Skip(TraceSkip::Unreadable, why, sink);
            return;
        }
    }
    Emit(record, *offset, trcStart_, sink);
}

// ---- ASC

bool TraceReader::AscHeaderLine(std::string_view line)
{
    Split(line);
    const std::vector<std::string_view>& t = tokens_;
    const std::string_view first = t[0];
    if (first == "date") {
        if (const auto date = AscDateMicros(t, 1))
            ascStart_ = date;
        return true;
    }
    if (first == "base") {
        if (t.size() > 1)
            ascHex_ = t[1] != "dec";
        for (std::size_t k = 2; k + 1 < t.size(); ++k)
            if (t[k] == "timestamps")
                ascRelative_ = t[k + 1] == "relative";
        return true;
    }
    if (StartsWith(first, "//") || (first == "internal" && t.size() == 3) ||
        (first == "no" && t.size() == 4 && t[1] == "internal"))
        return true;
    if ((first == "Begin" || first == "End") && t.size() > 1 && EqualsNoCase(t[1], "triggerblock")) {
        if (first == "Begin" && !ascStart_ && t.size() > 2)
            ascStart_ = AscDateMicros(t, 2);
        return true;
    }
    return false;
}

bool TraceReader::AscLine(std::string_view line, TraceSink& sink)
{
    if (AscHeaderLine(line))
        return true;
    const std::vector<std::string_view>& t = tokens_;
    const auto time = Fixed(t[0], 6);
    if (!time)
        return false;
    std::int64_t offset = *time;
    if (ascRelative_) {
        offset += ascLast_;
        ascLast_ = offset;
    }
    if (t.size() < 2) {
        Skip(TraceSkip::Unreadable, kNotAsc, sink);
        return true;
    }
    if (t[1] == "CANFD") {
        // An error frame on an FD channel is still an error on the bus.
        if (std::find(t.begin(), t.end(), "ErrorFrame") != t.end()) {
            TraceRecord record;
            record.kind = TraceRecord::Kind::ErrorFrame;
            if (t.size() > 3 && t[3] == "Tx")
                record.direction = TraceDirection::Transmitted;
            Emit(record, offset, ascStart_, sink);
        } else {
            Skip(TraceSkip::FdFrame, kFdFrame, sink);
        }
        return true;
    }
    if (t[1] == "CAN") {
        Skip(TraceSkip::Status, kStatus, sink);
        return true;
    }
    if (!Number(t[1], 10) || t.size() < 3) {
        Skip(TraceSkip::Event, kEvent, sink);
        return true;
    }
    AscMessage(2, offset, sink);
    return true;
}

void TraceReader::AscMessage(std::size_t at, std::int64_t offset, TraceSink& sink)
{
    const std::vector<std::string_view>& t = tokens_;
    TraceRecord record;
    std::string_view id = t[at];
    if (id == "ErrorFrame") {
        record.kind = TraceRecord::Kind::ErrorFrame;
        Emit(record, offset, ascStart_, sink);
        return;
    }
    if (id == "Statistic:") {
        Skip(TraceSkip::Status, kStatus, sink);
        return;
    }
    const bool extended = id.size() > 1 && (id.back() == 'x' || id.back() == 'X');
    if (extended)
        id.remove_suffix(1);
    const int base = ascHex_ ? 16 : 10;
    const auto value = Number(id, base);
    if (!value) {
        // J1939TP, trigger and other events on a channel.
        Skip(TraceSkip::Event, kEvent, sink);
        return;
    }
    if (*value > (extended ? kMaxExtendedId : kMaxStandardId)) {
        Skip(TraceSkip::Unreadable, kBadId, sink);
        return;
    }
    const std::string_view direction = at + 1 < t.size() ? t[at + 1] : std::string_view();
    if (direction == "TxRq") {
        Skip(TraceSkip::Event, kEvent, sink); // a request to send, not yet on the bus
        return;
    }
    if (direction != "Rx" && direction != "Tx") {
        Skip(TraceSkip::Unreadable, kBadDirection, sink);
        return;
    }
    record.direction = direction == "Tx" ? TraceDirection::Transmitted : TraceDirection::Received;
    record.frame.id = static_cast<std::uint32_t>(*value);
    record.frame.extended = extended;
    const std::string_view kind = at + 2 < t.size() ? t[at + 2] : std::string_view();
    const auto dlc = at + 3 < t.size() ? Number(t[at + 3], base) : std::nullopt;
    if (kind == "r") {
        record.frame.remote = true;
        record.frame.length =
            static_cast<std::uint8_t>(dlc && *dlc <= 15 ? std::min<std::uint64_t>(*dlc, 8) : 0);
    } else if (kind == "d") {
        if (!dlc || *dlc > 15) {
            Skip(TraceSkip::Unreadable, kBadLength, sink);
            return;
        }
        record.frame.length = static_cast<std::uint8_t>(std::min<std::uint64_t>(*dlc, 8));
        std::string_view why;
        if (!ReadData(t, at + 4, record.frame.length, base, record.frame, why)) {
            Skip(TraceSkip::Unreadable, why, sink);
            return;
        }
    } else {
        Skip(TraceSkip::Unreadable, kNotAsc, sink);
        return;
    }
    Emit(record, offset, ascStart_, sink);
}

// ---------------------------------------------------------------- writing

namespace {

constexpr std::string_view kTrc1Columns =
    ";   Message Number\r\n"
    ";   |         Time Offset (ms)\r\n"
    ";   |         |        Type\r\n"
    ";   |         |        |        ID (hex)\r\n"
    ";   |         |        |        |     Data Length\r\n"
    ";   |         |        |        |     |   Data Bytes (hex) ...\r\n"
    ";   |         |        |        |     |   |\r\n"
    ";---+--   ----+----  --+--  ----+---  +  -+ -- -- -- -- -- -- --\r\n";

constexpr std::string_view kTrc2Columns =
    ";-------------------------------------------------------------------------------\r\n"
    ";   Bus  Name         Connection             Protocol\r\n"
    ";   1    Tervix       N/A                    CAN\r\n"
    ";-------------------------------------------------------------------------------\r\n"
    ";   Message   Time    Type    ID     Rx/Tx\r\n"
    ";   Number    Offset  |  Bus  [hex]  |  Reserved\r\n"
    ";   |         [ms]    |  |    |      |  |  Data Length Code\r\n"
    ";   |         |       |  |    |      |  |  |    Data [hex] ...\r\n"
    ";   |         |       |  |    |      |  |  |    |\r\n"
    ";---+-- ------+------ +- +- --+----- +- +- +--- +- -- -- -- -- -- -- --\r\n";

// "18.12.2021 14:28:07.062.0", as PEAK's tools comment the start time.
std::string TrcStartComment(std::int64_t micros)
{
    const std::int64_t seconds = micros / 1000000 - (micros % 1000000 < 0 ? 1 : 0);
    const std::int64_t sub = micros - seconds * 1000000;
    const Civil c = LocalCivil(seconds);
    char buf[64];
    std::snprintf(buf, sizeof buf, "%02d.%02d.%04d %02d:%02d:%02d.%03d.%d", c.day, c.month, c.year, c.hour,
                  c.minute, c.second, static_cast<int>(sub / 1000), static_cast<int>(sub / 100 % 10));
    return buf;
}

// "Sat Sep 30 15:06:13.191 2017", and the time it stands for.
std::string AscDate(std::int64_t micros, std::int64_t& back)
{
    const std::int64_t seconds = micros / 1000000 - (micros % 1000000 < 0 ? 1 : 0);
    const int millis = static_cast<int>((micros - seconds * 1000000) / 1000);
    const Civil c = LocalCivil(seconds);
    const std::int64_t days = DaysFromCivil(c.year, c.month, c.day);
    const std::size_t weekday = static_cast<std::size_t>(((days % 7) + 11) % 7); // 1 Jan 1970 was a Thursday
    std::string month(kMonths[static_cast<std::size_t>(c.month - 1)]);
    month[0] = static_cast<char>(month[0] - 'a' + 'A');
    char buf[64];
    std::snprintf(buf, sizeof buf, "%s %s %02d %02d:%02d:%02d.%03d %04d",
                  std::string(kWeekdays[weekday]).c_str(), month.c_str(), c.day, c.hour, c.minute, c.second,
                  millis, c.year);
    back = UnixFromLocal(c).value_or(seconds) * 1000000 + millis * 1000;
    return buf;
}

} // namespace

void TraceWriter::Begin(std::string& out, std::optional<std::int64_t> startUnixMicros)
{
    begun_ = true;
    number_ = 0;
    start_ = 0;
    const std::string generator = "Generated by Tervix " + std::string(kTervixVersion);
    switch (format_) {
    case TraceFormat::Candump: break;
    case TraceFormat::Trc11:
    case TraceFormat::Trc21: {
        const bool two = format_ == TraceFormat::Trc21;
        out += two ? ";$FILEVERSION=2.1\r\n" : ";$FILEVERSION=1.1\r\n";
        std::string comment;
        if (startUnixMicros) {
            // Days since 30 Dec 1899 and ten digits of the day: the offsets
            // count from the time those digits stand for.
            const std::int64_t s = *startUnixMicros;
            const std::int64_t seconds = s / 1000000 - (s % 1000000 < 0 ? 1 : 0);
            const Civil c = LocalCivil(seconds);
            const std::int64_t dayMicros =
                ((c.hour * 60LL + c.minute) * 60 + c.second) * 1000000 + (s - seconds * 1000000);
            char buf[48];
            std::snprintf(buf, sizeof buf, "%lld.%010lld",
                          static_cast<long long>(DaysFromCivil(c.year, c.month, c.day) + kTrcEpochDays),
                          static_cast<long long>(dayMicros * 100 / 864));
            start_ = TrcStartMicros(buf).value_or(s);
            out += ";$STARTTIME=";
            out += buf;
            out += "\r\n";
            comment = ";   Start time: " + TrcStartComment(start_) + "\r\n";
        }
        if (two)
            out += ";$COLUMNS=N,O,T,B,I,d,R,L,D\r\n";
        out += ";\r\n";
        out += comment;
        out += ";   " + generator + "\r\n";
        out += two ? kTrc2Columns : ";\r\n";
        if (!two)
            out += kTrc1Columns;
        break;
    }
    case TraceFormat::Asc: {
        std::string date;
        if (startUnixMicros) {
            date = AscDate(*startUnixMicros, start_);
            out += "date " + date + "\n";
        }
        out += "base hex  timestamps absolute\n";
        out += "no internal events logged\n";
        out += "// " + generator + "\n";
        out += date.empty() ? "Begin Triggerblock\n" : "Begin Triggerblock " + date + "\n";
        break;
    }
    }
}

void TraceWriter::Append(std::string& out, const TraceRecord& record)
{
    if (!begun_)
        Begin(out, record.micros);
    const bool error = record.kind == TraceRecord::Kind::ErrorFrame;
    const bool tx = record.direction == TraceDirection::Transmitted;
    const BusFrame& f = record.frame;
    if (format_ == TraceFormat::Candump) {
        if (!error) {
            AppendCandumpLine(out, record.micros, tx ? "tx" : "rx", f);
            return;
        }
        BusFrame flag;
        flag.id = kCanErrorFlag;
        flag.extended = true;
        flag.length = 8;
        std::string line;
        AppendCandumpLine(line, record.micros, tx ? "tx" : "rx", flag);
        // The writer masks identifiers to 29 bits; the flag is bit 29.
        const std::size_t hash = line.find('#');
        line[hash - 8] = '2';
        out += line;
        return;
    }
    const std::int64_t offset = std::max<std::int64_t>(record.micros - start_, 0);
    ++number_;
    char buf[48];
    switch (format_) {
    case TraceFormat::Trc11: {
        const std::int64_t tenths = (offset + 50) / 100;
        AppendNumber(out, number_, 6);
        out += ')';
        std::snprintf(buf, sizeof buf, "%lld.%lld", static_cast<long long>(tenths / 10),
                      static_cast<long long>(tenths % 10));
        AppendPadded(out, buf, 12, true);
        out += "  ";
        AppendPadded(out, error ? "Error" : (tx ? "Tx" : "Rx"), 5, false);
        out += "  ";
        if (error) {
            out += "    0000  0  ";
        } else {
            AppendPadded(out, HexId(f, 4), 8, true);
            out += "  ";
            AppendNumber(out, Length(f), 1);
            out += "  ";
            if (f.remote)
                out += "RTR ";
            for (unsigned k = 0; k < Length(f) && !f.remote; ++k) {
                AppendHex2(out, f.data[k]);
                out += ' ';
            }
        }
        TrimTrailing(out);
        out += "\r\n";
        break;
    }
    case TraceFormat::Trc21: {
        AppendNumber(out, number_, 7);
        out += ' ';
        std::snprintf(buf, sizeof buf, "%lld.%03lld", static_cast<long long>(offset / 1000),
                      static_cast<long long>(offset % 1000));
        AppendPadded(out, buf, 13, true);
        out += error ? " ER 1  " : (f.remote ? " RR 1  " : " DT 1  ");
        AppendPadded(out, error ? "-" : HexId(f, 4), 8, true);
        out += tx ? " Tx -  " : " Rx -  ";
        AppendNumber(out, error ? 0 : Length(f), 4, false);
        for (unsigned k = 0; k < Length(f) && !f.remote && !error; ++k) {
            out += ' ';
            AppendHex2(out, f.data[k]);
        }
        TrimTrailing(out);
        out += "\r\n";
        break;
    }
    case TraceFormat::Asc: {
        // The columns of can-utils' log2asc: time, channel, id, direction.
        std::snprintf(buf, sizeof buf, "%4lld.%06lld 1  ", static_cast<long long>(offset / 1000000),
                      static_cast<long long>(offset % 1000000));
        out += buf;
        if (error) {
            out += "ErrorFrame\n";
            break;
        }
        AppendPadded(out, HexId(f, 0) + (f.extended ? "x" : " "), 15, false);
        out += tx ? " Tx   " : " Rx   ";
        std::snprintf(buf, sizeof buf, "%c %X", f.remote ? 'r' : 'd', Length(f));
        out += buf;
        for (unsigned k = 0; k < Length(f) && !f.remote; ++k) {
            out += ' ';
            AppendHex2(out, f.data[k]);
        }
        out += '\n';
        break;
    }
    case TraceFormat::Candump: break;
    }
}

void TraceWriter::End(std::string& out)
{
    if (!begun_)
        Begin(out, std::nullopt);
    if (format_ == TraceFormat::Asc)
        out += "End TriggerBlock\n";
}

} // namespace tervix
