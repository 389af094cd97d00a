// Trace files as other tools write them, read to the frames they hold, and
// the lines our writers make held to the lines of PEAK's own examples. The
// expected Unix times were worked out apart from the code (Python's zoneinfo,
// Europe/Berlin, from days since 30 Dec 1899 and the ASC date).
#include "trace_formats.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <optional>
#include <string>
#include <vector>

using namespace tervix;

namespace {

#ifdef _WIN32
// The C runtime takes the names and the offset from TZ, the summer-time dates
// elsewhere: Microsoft's from the US rule, Wine's from the system's zone
// (scripts/test-windows runs it in Europe/Berlin). On every date these files
// hold both give the hours of the rule below.
void SetZone(const char* tz)
{
    _putenv_s("TZ", tz ? tz : "");
    _tzset();
}
#else
void SetZone(const char* tz)
{
    if (tz)
        setenv("TZ", tz, 1);
    else
        unsetenv("TZ");
    tzset();
}
#endif

// The dates in TRC and ASC files are local time: a zone away from UTC, with
// summer time, catches a date read as UTC.
class LocalZone : public ::testing::Test {
protected:
    void SetUp() override
    {
        const char* tz = std::getenv("TZ");
        saved_ = tz ? std::optional<std::string>(tz) : std::nullopt;
        SetZone("CET-1CEST,M3.5.0,M10.5.0/3");
    }
    void TearDown() override { SetZone(saved_ ? saved_->c_str() : nullptr); }

private:
    std::optional<std::string> saved_;
};

// "tx 18EFC034 ext l2 01 02 @2014-05-07 09:09:28.383010" (UTC), or "@+1.000000"
// since the first record.
std::string Text(const TraceRecord& r, bool absolute)
{
    std::string s = r.direction == TraceDirection::Transmitted ? "tx " : "rx ";
    char buf[64];
    if (r.kind == TraceRecord::Kind::ErrorFrame) {
        s += "error";
    } else {
        std::snprintf(buf, sizeof buf, r.frame.extended ? "%08X ext" : "%03X", r.frame.id);
        s += buf;
        if (r.frame.remote)
            s += " rtr";
        s += " l" + std::to_string(r.frame.length);
        for (unsigned k = 0; k < r.frame.length && !r.frame.remote; ++k) {
            std::snprintf(buf, sizeof buf, " %02X", r.frame.data[k]);
            s += buf;
        }
    }
    const long long micros = r.micros;
    if (absolute) {
        const std::time_t seconds = micros / 1000000;
        std::tm tm{};
#ifdef _WIN32
        gmtime_s(&tm, &seconds);
#else
        gmtime_r(&seconds, &tm);
#endif
        std::strftime(buf, sizeof buf, " @%Y-%m-%d %H:%M:%S", &tm);
        s += buf;
        std::snprintf(buf, sizeof buf, ".%06lld", micros % 1000000);
    } else {
        std::snprintf(buf, sizeof buf, " @+%lld.%06lld", micros / 1000000, micros % 1000000);
    }
    return s + buf;
}

struct Collected : TraceSink {
    std::vector<TraceRecord> records;
    std::vector<std::string> skipped; // "3 unreadable: bad data"
    void Record(std::uint64_t, const TraceRecord& r) override { records.push_back(r); }
    void Skipped(std::uint64_t line, TraceSkip kind, std::string_view reason) override
    {
        static const char* kKinds[] = {"fd", "event", "status", "unreadable"};
        skipped.push_back(std::to_string(line) + " " + kKinds[static_cast<int>(kind)] + ": " +
                          std::string(reason));
    }
};

struct Read {
    Collected sink;
    TraceReader reader;
    std::vector<std::string> lines;
};

// Fed whole, or a byte at a time: the result must not depend on the cuts.
void ReadInto(Read& r, const std::string& text, bool byteByByte)
{
    if (byteByByte)
        for (char c : text)
            r.reader.Feed(std::string_view(&c, 1), r.sink);
    else
        r.reader.Feed(text, r.sink);
    r.reader.Finish(r.sink);
    for (const TraceRecord& rec : r.sink.records)
        r.lines.push_back(Text(rec, r.reader.AbsoluteTimes()));
}

struct FileCase {
    const char* name;
    std::string text;
    TraceFormat format;
    std::vector<std::string> records;
    std::vector<std::string> skipped;
};

void PrintTo(const FileCase& c, std::ostream* os)
{
    *os << c.name;
}

class TraceFile : public LocalZone, public ::testing::WithParamInterface<FileCase> {};

TEST_P(TraceFile, IsReadToItsFrames)
{
    const FileCase& c = GetParam();
    for (const bool byteByByte : {false, true}) {
        SCOPED_TRACE(byteByByte ? "a byte at a time" : "whole");
        Read r;
        ReadInto(r, c.text, byteByByte);
        EXPECT_EQ(r.reader.Format(), c.format);
        EXPECT_EQ(r.lines, c.records);
        EXPECT_EQ(r.sink.skipped, c.skipped);
    }
}

INSTANTIATE_TEST_SUITE_P(
    AsOtherToolsWriteThem, TraceFile,
    ::testing::Values(
        // PCAN-View's TRC 1.1, CR/LF; a bus warning and a line we broke.
        FileCase{"Trc11",
                 ";$FILEVERSION=1.1\r\n;$STARTTIME=44548.6028595139\r\n;\r\n"
                 ";   Start time: 18.12.2021 14:28:07.062.0\r\n"
                 ";---+--   ----+----  --+--  ----+---  +  -+ -- -- -- -- -- -- --\r\n"
                 "     1)     17535.4  Tx     00000100  8  00 00 00 00 00 00 00 01 \r\n"
                 "     2)     17540.3  Warng  FFFFFFFF  4  00 00 00 08  BUSHEAVY \r\n"
                 "     3)     17700.3  Rx         0705  1  05 \r\n"
                 "     4)     17701.0  Rx         0G05  1  05 \r\n"
                 "     5)     17702.7  Rx         0100  3  RTR \r\n"
                 "     6)     17703.0  Error      0008  4  00 19 08 08 \r\n",
                 TraceFormat::Trc11,
                 {"tx 00000100 ext l8 00 00 00 00 00 00 00 01 @2021-12-18 13:28:24.597401",
                  "rx 705 l1 05 @2021-12-18 13:28:24.762301", "rx 100 rtr l3 @2021-12-18 13:28:24.764701",
                  "rx error @2021-12-18 13:28:24.765001"},
                 {"7 status: status line", "9 unreadable: bad identifier"}},
        // 1.0 has no header that says so, no type column and no date.
        FileCase{"Trc10",
                 ";##########\n;   C:\\TraceFile.trc\n"
                 "     1)      1841      0001  8  00 00 00 00 00 00 00 00\n"
                 "     2)      1842      0008  4  ERROR 00 19 08 08\n"
                 "     3)      1843  FFFFFFFF  4  00 00 00 04 -- -- -- --  BUSLIGHT\n"
                 "     4)      1844      0100  3  RTR\n",
                 TraceFormat::Trc11,
                 {"rx 001 l8 00 00 00 00 00 00 00 00 @+0.000000", "rx error @+0.001000",
                  "rx 100 rtr l3 @+0.003000"},
                 {"5 status: status line"}},
        // 1.3: bus and reserved columns around type and identifier.
        FileCase{"Trc13",
                 ";$FILEVERSION=1.3\n"
                 "     1)      1059.900 1  Rx        0300 -  7    00 00 00 00 04 00 00\n"
                 "     7)      1352.743 1  Tx        0100 -  3    RTR\n",
                 TraceFormat::Trc11,
                 {"rx 300 l7 00 00 00 00 04 00 00 @+0.000000", "tx 100 rtr l3 @+0.292843"},
                 {}},
        // 2.0: data length, not code; status and error lines leave the
        // identifier and length columns blank.
        FileCase{"Trc20",
                 ";$FILEVERSION=2.0\n;$STARTTIME=42209.4075997106\n;$COLUMNS=N,O,T,I,d,l,D\n"
                 "      1      1059.900 DT     0300 Rx 7  00 00 00 00 04 00 00\n"
                 "      5      1334.416 FD     0500 Tx 12 01 02 03 04 05 06 07 08 09 0A 0B 0C\n"
                 "      6      1334.522 ER          Rx    04 00 02 00 00\n"
                 "      7      1334.531 ST          Rx    00 00 00 08\n"
                 "      9      1335.156 DT 18EFC034 Tx 8  01 02 03 04 05 06 07 08\n",
                 TraceFormat::Trc21,
                 {"rx 300 l7 00 00 00 00 04 00 00 @2015-07-24 07:46:57.674896",
                  "rx error @2015-07-24 07:46:57.949518",
                  "tx 18EFC034 ext l8 01 02 03 04 05 06 07 08 @2015-07-24 07:46:57.950152"},
                 {"5 fd: CAN FD frame", "7 status: status line"}},
        FileCase{"Trc21",
                 ";$FILEVERSION=2.1\n;$STARTTIME=41766.4648963872\n;$COLUMNS=N,O,T,B,I,d,R,L,D\n;\n"
                 ";---+-- ------+------ +- +- --+----- +- +- +--- +- -- -- -- -- -- -- -- \n"
                 "      1      1059.900 DT 1      0300 Rx -  7    00 00 00 00 04 00 00  \n"
                 "      6      1334.222 ER 1         - Rx -  5    04 00 02 00 00 \n"
                 "      7      1334.224 EV 1  User-defined event for bus 1 \n"
                 "     11      1334.643 EC 1         - Rx -  2    02 02 \n"
                 "     12      1335.156 DT 1  18EFC034 Tx -  8    01 02 03 04 05 06 07 08 \n"
                 "     13      1336.543 RR 1      0100 Rx -  3 \n",
                 TraceFormat::Trc21,
                 {"rx 300 l7 00 00 00 00 04 00 00 @2014-05-07 09:09:28.107754",
                  "rx error @2014-05-07 09:09:28.382076",
                  "tx 18EFC034 ext l8 01 02 03 04 05 06 07 08 @2014-05-07 09:09:28.383010",
                  "rx 100 rtr l3 @2014-05-07 09:09:28.384397"},
                 {"8 event: comment or event", "9 status: status line"}},
        // 2.1 without its optional bus and reserved columns, nor a date.
        FileCase{"Trc21WithoutOptionalColumns",
                 ";$FILEVERSION=2.1\n;$COLUMNS=N,O,T,I,d,L,D\n"
                 "      1      1000.000 DT     0181 Tx 2    AA BB\n"
                 "      2      1000.250 DT 00000181 Rx 9    01 02 03 04 05 06 07 08\n",
                 TraceFormat::Trc21,
                 {"tx 181 l2 AA BB @+0.000000", "rx 00000181 ext l8 01 02 03 04 05 06 07 08 @+0.000250"},
                 {}},
        // Vector's own ASC: events, status and statistics, an FD frame.
        FileCase{"AscHexAbsolute",
                 "date Sam Sep 30 15:06:13.191 2017\nbase hex  timestamps absolute\ninternal events logged\n"
                 "// version 9.0.0\nBegin Triggerblock Sam Sep 30 15:06:13.191 2017\n"
                 "   0.000000 Start of measurement\n"
                 "   0.015991 CAN 1 Status:chip status error passive - TxErr: 132 RxErr: 0\n"
                 "   1.015991 1  Statistic: D 0 R 0 XD 0 XR 0 E 0 O 0 B 0.00%\n"
                 "   2.501000 1 ErrorFrame ECC: 10100010\n"
                 "   2.584921 4 300 Tx r 8 Length = 1704000 BitCount = 145 ID = 88888888x\n"
                 "   3.098426 1  18EBFF00x       Rx d 8 01 A0 0F A6 60 3B D1 40    Length = 273910 BitCount "
                 "= 141\n"
                 "   3.297743 1  J1939TP FEE3p        6    0  0   -   Rx   d 23 A0 0F A6\n"
                 "   4.000000 CANFD   1 Rx        123                                   1 0 9 12 01 02 03 04 "
                 "05 06 07 "
                 "08 09 0A 0B 0C\n"
                 "  17.876708 1  6F9             Rx   d 8 05 0C 00 00 00 00 00 00  Length = 240015 BitCount "
                 "= 124\n"
                 "End TriggerBlock\n",
                 TraceFormat::Asc,
                 {"rx error @2017-09-30 13:06:15.692000", "tx 300 rtr l8 @2017-09-30 13:06:15.775921",
                  "rx 18EBFF00 ext l8 01 A0 0F A6 60 3B D1 40 @2017-09-30 13:06:16.289426",
                  "rx 6F9 l8 05 0C 00 00 00 00 00 00 @2017-09-30 13:06:31.067708"},
                 {"6 event: comment or event", "7 status: status line", "8 status: status line",
                  "12 event: comment or event", "13 fd: CAN FD frame"}},
        // Decimal numbers; each time counts from the line before.
        FileCase{"AscDecRelative",
                 "date Fri Jul 10 06:17:32 pm 2015\nbase dec  timestamps relative\n"
                 "   0.500000 1  1797            Rx   d 1 5\n"
                 "   0.250000 1  418119424x      Tx   d 2 1 160\n"
                 "   0.100000 1  1797            Rx   d 1 5 \n",
                 TraceFormat::Asc,
                 {"rx 705 l1 05 @2015-07-10 16:17:32.500000",
                  "tx 18EBFF00 ext l2 01 A0 @2015-07-10 16:17:32.750000",
                  "rx 705 l1 05 @2015-07-10 16:17:32.850000"},
                 {}},
        // Message lines alone, as pasted from a longer file: no date.
        FileCase{"AscWithoutHeader",
                 "   7.250000 1  705             Rx   d 1 05\n   7.500000 1  7FF             Tx   d 0\n"
                 "   7.600000 1  7FF             Tx   d 2 01\n",
                 TraceFormat::Asc,
                 {"rx 705 l1 05 @+0.000000", "tx 7FF l0 @+0.250000"},
                 {"3 unreadable: fewer data bytes than the length"}},
        // candump -x marks, our recorder's "tx", an error frame, an FD frame.
        FileCase{"Candump",
                 "(1436509052.249713) can0 705#05 R\n(1436509052.250000) can0 12345678#0102 T\n"
                 "(1436509052.300000) tx 601#R3\n(1436509053.000000) can0 20000080#0000000000000000\n"
                 "(1436509053.100000) can0 123##1DEADBEEF\n",
                 TraceFormat::Candump,
                 {"rx 705 l1 05 @2015-07-10 06:17:32.249713",
                  "tx 12345678 ext l2 01 02 @2015-07-10 06:17:32.250000",
                  "tx 601 rtr l3 @2015-07-10 06:17:32.300000", "rx error @2015-07-10 06:17:33.000000"},
                 {"5 fd: CAN FD frame"}}),
    [](const ::testing::TestParamInfo<FileCase>& info) { return std::string(info.param.name); });

// Records at the times of PEAK's examples give PEAK's lines (after the
// message number, which there counts lines we do not write), and read back
// to themselves. A start at local midnight is a whole number of days.
struct WriterCase {
    TraceFormat format;
    std::vector<std::string> lines; // PEAK's, message number cut off
};

class TraceWriterLines : public LocalZone, public ::testing::WithParamInterface<WriterCase> {};

TEST_P(TraceWriterLines, MatchPeaksExamplesAndReadBack)
{
    const WriterCase& c = GetParam();
    std::tm midnight{};
    midnight.tm_year = 2015 - 1900;
    midnight.tm_mon = 4;
    midnight.tm_mday = 7;
    midnight.tm_isdst = -1;
    const std::int64_t start = static_cast<std::int64_t>(std::mktime(&midnight)) * 1000000;
    auto at = [start](std::int64_t micros, TraceDirection d, BusFrame f) {
        TraceRecord r;
        r.micros = start + micros;
        r.direction = d;
        r.frame = f;
        return r;
    };
    BusFrame f300 = MakeFrame(0x300, std::vector<std::uint8_t>{0, 0, 0, 0, 4, 0, 0});
    BusFrame f400 = MakeFrame(0x400, std::vector<std::uint8_t>{0, 0});
    BusFrame fExt = MakeFrame(0, std::vector<std::uint8_t>{1, 2, 3, 4, 5, 6, 7, 8});
    fExt.id = 0x18EFC034;
    fExt.extended = true;
    BusFrame fRtr = MakeFrame(0x100, {});
    fRtr.remote = true;
    fRtr.length = 3;
    const std::vector<TraceRecord> records = {
        at(1059900, TraceDirection::Received, f300), at(1298945, TraceDirection::Transmitted, f400),
        at(1335156, TraceDirection::Transmitted, fExt), at(1352743, TraceDirection::Received, fRtr)};

    TraceWriter writer(c.format);
    std::string text;
    writer.Begin(text, start);
    for (const TraceRecord& r : records)
        writer.Append(text, r);
    writer.End(text);

    std::vector<std::string> lines;
    for (std::size_t at = 0, end; (end = text.find("\r\n", at)) != std::string::npos; at = end + 2) {
        const std::string line = text.substr(at, end - at);
        if (!line.starts_with(';'))
            lines.push_back(line.substr(c.format == TraceFormat::Trc11 ? 7 : 8));
    }
    EXPECT_EQ(lines, c.lines);

    Read r;
    ReadInto(r, text, false);
    ASSERT_EQ(r.sink.records.size(), records.size());
    for (std::size_t k = 0; k < records.size(); ++k) {
        TraceRecord expected = records[k];
        if (c.format == TraceFormat::Trc11) // tenths of a millisecond
            expected.micros = start + (expected.micros - start + 50) / 100 * 100;
        EXPECT_EQ(Text(r.sink.records[k], true), Text(expected, true));
    }
    EXPECT_TRUE(r.sink.skipped.empty());
}

INSTANTIATE_TEST_SUITE_P(
    Peak, TraceWriterLines,
    ::testing::Values(WriterCase{TraceFormat::Trc11,
                                 {"      1059.9  Rx         0300  7  00 00 00 00 04 00 00",
                                  "      1298.9  Tx         0400  2  00 00",
                                  "      1335.2  Tx     18EFC034  8  01 02 03 04 05 06 07 08",
                                  "      1352.7  Rx         0100  3  RTR"}},
                      WriterCase{TraceFormat::Trc21,
                                 {"     1059.900 DT 1      0300 Rx -  7    00 00 00 00 04 00 00",
                                  "     1298.945 DT 1      0400 Tx -  2    00 00",
                                  "     1335.156 DT 1  18EFC034 Tx -  8    01 02 03 04 05 06 07 08",
                                  "     1352.743 RR 1      0100 Rx -  3"}}));

} // namespace
