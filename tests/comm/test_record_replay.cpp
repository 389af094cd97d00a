// Recording to a candump log and playing one back, held to the candump
// reader and to lines worked out by hand.
#include "MyComm.h"
#include "can_backends.h"
#include "candump_reader.h"
#include "candump_writer.h"
#include "fakes.h"
#include "recorder.h"
#include "replay_driver.h"
#include "trace_formats.h"
#include "usb2can.h"

#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <memory>
#include <optional>
#include <sstream>

using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
using ::testing::HasSubstr;
using namespace std::chrono_literals;

namespace {

tervix::BusFrame Special(std::uint32_t id, bool extended, bool remote, std::vector<std::uint8_t> data,
                         std::uint8_t length)
{
    tervix::BusFrame f = Frame(id, data);
    f.extended = extended;
    f.remote = remote;
    f.length = length;
    return f;
}

struct LineCase {
    tervix::BusFrame frame;
    std::int64_t micros;
    const char* interfaceName;
    std::string line;
    std::string readBack; // FrameText of what the candump reader makes of the line
};

class CandumpLine : public ::testing::TestWithParam<LineCase> {};

TEST_P(CandumpLine, IsWrittenAsCandumpAndReadBack)
{
    const LineCase& c = GetParam();
    std::string out;
    tervix::AppendCandumpLine(out, c.micros, c.interfaceName, c.frame);
    EXPECT_EQ(out, c.line);

    tervix::CandumpPacket packet;
    ASSERT_EQ(tervix::ParseCandumpLine(std::string_view(out).substr(0, out.size() - 1), packet).kind,
              tervix::CandumpLineKind::Frame);
    EXPECT_EQ(FrameText(packet.frame), c.readBack);
}

INSTANTIATE_TEST_SUITE_P(
    Frames, CandumpLine,
    ::testing::Values(
        LineCase{Frame(0x705, {0x05}), 1436509052249713, "rx", "(1436509052.249713) rx 705#05\n",
                 "705 l1 05"},
        LineCase{Frame(0x000, {}), 1000001, "tx", "(0000000001.000001) tx 000#\n", "000 l0"},
        LineCase{Frame(0x1AB, {0xDE, 0xAD, 0xBE, 0xEF, 0x00, 0x01, 0x7F, 0xFF}), 7, "rx",
                 "(0000000000.000007) rx 1AB#DEADBEEF00017FFF\n", "1AB l8 DE AD BE EF 00 01 7F FF"},
        LineCase{Special(0x701, false, true, {}, 0), 0, "rx", "(0000000000.000000) rx 701#R\n", "701 rtr l0"},
        LineCase{Special(0x601, false, true, {}, 3), 0, "tx", "(0000000000.000000) tx 601#R3\n",
                 "601 rtr l3 00 00 00"},
        // Extended identifiers keep all 29 bits, written as 8 digits.
        LineCase{Special(0x18FF1234, true, false, {0x11, 0x22}, 2), 2000000, "rx",
                 "(0000000002.000000) rx 18FF1234#1122\n", "18FF1234 ext l2 11 22"},
        LineCase{Special(0x00000123, true, true, {}, 8), 0, "rx", "(0000000000.000000) rx 00000123#R8\n",
                 "123 ext rtr l8 00 00 00 00 00 00 00 00"}));

struct Log {
    std::vector<std::string> frames; // "rx 705 l1 05"
    std::vector<double> seconds;
};

// Each line's frame as the candump reader reads it (all identifier bits), with
// its interface and time.
Log ReadLog(const QString& path)
{
    QFile file(path);
    EXPECT_TRUE(file.open(QIODevice::ReadOnly));
    std::istringstream text(file.readAll().toStdString());
    Log log;
    for (std::string line; std::getline(text, line);) {
        tervix::CandumpPacket packet;
        EXPECT_EQ(tervix::ParseCandumpLine(line, packet).kind, tervix::CandumpLineKind::Frame) << line;
        std::istringstream fields(line);
        char paren = 0;
        double seconds = 0;
        std::string interfaceName;
        fields >> paren >> seconds >> paren >> interfaceName;
        log.frames.push_back(interfaceName + " " + FrameText(packet.frame));
        log.seconds.push_back(seconds);
    }
    return log;
}

double UnixSecondsNow()
{
    return std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch()).count();
}

class RecordReplayTest : public ::testing::Test {
protected:
    // A channel on `driver` behind the transport, opened at 250 kbit/s now.
    void Build(std::unique_ptr<CanDriver> driver)
    {
        usb = std::make_unique<TUSB2CAN>(std::move(driver), clock);
        comm = std::make_unique<TComm>(*usb, NoSerialPorts());
        comm->SetOnFrame([this](TComm* sender, int slot) {
            const tervix::ReceiveSlot& s = sender->Slot(slot);
            if (s.isFrame) {
                seen.push_back((s.transmitted ? "tx " : "") + FrameText(s.frame));
                times.push_back(s.at);
            }
        });
        usb->SetBitrate(0x011C);
    }
    QString WriteFile(const char* name, const std::string& text)
    {
        const QString path = dir.filePath(QString::fromLatin1(name));
        QFile file(path);
        EXPECT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(text.data(), static_cast<qint64>(text.size()));
        return path;
    }

    QTemporaryDir dir;
    tervix::ManualClock clock;
    CallLog log;
    std::unique_ptr<TUSB2CAN> usb;
    std::unique_ptr<TComm> comm;
    std::vector<std::string> seen;
    std::vector<tervix::TimePoint> times;
};

// Received frames pass the receive slots, sent ones SendFrame; an error
// frame is no frame, nor is a send the driver refused. What is in the file is
// read back by the candump reader, and played back through the replay
// back-end, the sent frames marked as such.
TEST_F(RecordReplayTest, RecordsEveryFrameReceivedAndSentAndReplaysThem)
{
    auto fake = std::make_unique<FakeDriver>(log);
    FakeDriver* driver = fake.get();
    Build(std::move(fake));
    Recorder recorder(nullptr, Recorder::kFlushInterval, clock);
    comm->SetRecorder(&recorder);
    const QString path = dir.filePath(QStringLiteral("session.log"));
    ASSERT_TRUE(recorder.Start(path));
    const double before = UnixSecondsNow();

    clock.Advance(TUSB2CAN::kSettleWait);
    // Received 250 ms before the read, by the driver's clock.
    driver->QueueFrame(Frame(0x705, {0x05}), clock.Now() - 250ms);
    driver->QueueFrame(Special(0x701, false, true, {}, 0));
    driver->QueueErrorFrame();
    driver->QueueFrame(Special(0x18FF1234, true, false, {0x11, 0x22}, 2));
    comm->Timer().tick();
    EXPECT_TRUE(comm->SendFrame(Frame(0x005, {0x01, 0x05})).ok());
    EXPECT_TRUE(comm->SendFrame(Special(0x601, false, true, {}, 3)).ok());
    driver->writeResult = DriverResult::WriteFailed;
    EXPECT_FALSE(comm->SendFrame(Frame(0x602, {0x2B})).ok());
    driver->writeResult = DriverResult::Ok;
    EXPECT_TRUE(comm->SendFrame(Special(0x12345678, true, false, {0x01, 0x02}, 2)).ok());
    driver->QueueFrame(Frame(0x181, {0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08}));
    comm->Timer().tick();
    recorder.Stop();
    EXPECT_EQ(recorder.Frames(), 7u);
    EXPECT_EQ(comm->Statistics().Sent(clock.Now()), 3u);

    const Log logged = ReadLog(path);
    EXPECT_THAT(logged.frames, ElementsAre("rx 705 l1 05", "rx 701 rtr l0", "rx 18FF1234 ext l2 11 22",
                                           "tx 005 l2 01 05", "tx 601 rtr l3 00 00 00",
                                           "tx 12345678 ext l2 01 02", "rx 181 l8 01 02 03 04 05 06 07 08"));
    ASSERT_EQ(logged.seconds.size(), 7u);
    EXPECT_NEAR(logged.seconds[1] - logged.seconds[0], 0.25, 0.01);
    EXPECT_GE(logged.seconds.front(), before - 0.251);
    EXPECT_LE(logged.seconds.back(), UnixSecondsNow() + 0.001);
    EXPECT_TRUE(std::is_sorted(logged.seconds.begin(), logged.seconds.end()));

    seen.clear();
    comm.reset();
    Build(std::make_unique<ReplayDriver>(path, 0.0, clock));
    clock.Advance(TUSB2CAN::kSettleWait);
    comm->Timer().tick();
    // The sent frames play too, marked as sent.
    EXPECT_THAT(seen, ElementsAre("705 l1 05", "701 rtr l0", "18FF1234 ext l2 11 22", "tx 005 l2 01 05",
                                  "tx 601 rtr l3 00 00 00", "tx 12345678 ext l2 01 02",
                                  "181 l8 01 02 03 04 05 06 07 08"));
}

// A replayed frame arrives at the time it was due, whenever the poll read it:
// frames recorded 0.5 s apart are 500 ms apart in the slots.
TEST_F(RecordReplayTest, ReplayedFramesCarryTheTimeTheyWereDue)
{
    Build(std::make_unique<ReplayDriver>(
        WriteFile("two.log", "(0.000000) can0 181#01\n(0.500000) can0 12345678#0102\n"), 1.0, clock));
    const tervix::TimePoint start = clock.Now();
    clock.Advance(TUSB2CAN::kSettleWait);
    comm->Timer().tick();
    clock.Advance(700ms);
    comm->Timer().tick();
    EXPECT_THAT(seen, ElementsAre("181 l1 01", "12345678 ext l2 01 02"));
    EXPECT_THAT(times, ElementsAre(start, start + 500ms));
}

struct PaceCase {
    std::string name;
    std::string log;
    double speed;
    // Milliseconds the clock moves after the channel has settled, and how
    // many frames have arrived by then.
    std::vector<std::pair<int, std::size_t>> steps;
    std::vector<std::string> frames;
    std::string status;
};

class ReplayPace : public RecordReplayTest, public ::testing::WithParamInterface<PaceCase> {};

const std::string kRecorded = "(1700000000.000000) rx 181#01\n"
                              "(1700000000.100000) tx 601#R3\n"
                              "not a frame\n"
                              "(1700000000.500000) rx 18FF1234#R2\n"
                              "\n"
                              "(1700000001.500000) rx 181#0203\n";
const std::vector<std::string> kRecordedRx{"181 l1 01", "tx 601 rtr l3 00 00 00", "18FF1234 ext rtr l2 00 00",
                                           "181 l2 02 03"};

// The settle wait after init is 200 ms, so the first tick comes 200 ms in.
TEST_P(ReplayPace, PlaysTheReceivedFramesAtTheirTime)
{
    const PaceCase& c = GetParam();
    Build(std::make_unique<ReplayDriver>(WriteFile("replay.log", c.log), c.speed, clock));
    clock.Advance(TUSB2CAN::kSettleWait);
    comm->Timer().tick();
    for (const auto& [ms, count] : c.steps) {
        clock.Advance(std::chrono::milliseconds(ms));
        comm->Timer().tick();
        EXPECT_EQ(seen.size(), count) << "after +" << ms << " ms";
    }
    EXPECT_THAT(seen, ElementsAreArray(c.frames));
    EXPECT_EQ(comm->InfoText().toStdString(),
              "replay of " + dir.filePath("replay.log").toStdString() + c.status);

    EXPECT_TRUE(comm->SendFrame(Frame(0x001, {0x01})).ok());
    comm->Timer().tick();
    EXPECT_EQ(seen.size(), c.frames.size()); // a send is not heard back
}

INSTANTIATE_TEST_SUITE_P(Speeds, ReplayPace,
                         ::testing::Values(PaceCase{"AsRecorded",
                                                    kRecorded,
                                                    1.0,
                                                    {{0, 2}, {299, 2}, {1, 3}, {999, 3}, {1, 4}},
                                                    kRecordedRx,
                                                    ": 4 of 4 frames, 1 lines skipped, sends go nowhere"},
                                           PaceCase{"TwiceAsFast",
                                                    kRecorded,
                                                    2.0,
                                                    {{0, 2}, {49, 2}, {1, 3}, {499, 3}, {1, 4}},
                                                    kRecordedRx,
                                                    ": 4 of 4 frames, 1 lines skipped, sends go nowhere"},
                                           PaceCase{"AllAtOnce",
                                                    kRecorded,
                                                    0.0,
                                                    {{0, 4}},
                                                    kRecordedRx,
                                                    ": 4 of 4 frames, 1 lines skipped, sends go nowhere"},
                                           // Another tool's log has no rx/tx: every frame plays; a line
                                           // without a time stamp plays with the one before.
                                           PaceCase{
                                               "ForeignLog",
                                               "(10.000000) can0 100#AA\n(10.250000) can1 200#BB\n300#CC\n",
                                               1.0,
                                               {{0, 1}, {49, 1}, {1, 3}},
                                               {"100 l1 AA", "200 l1 BB", "300 l1 CC"},
                                               ": 3 of 3 frames, sends go nowhere"},
                                           PaceCase{"Partway",
                                                    kRecorded,
                                                    1.0,
                                                    {},
                                                    {"181 l1 01", "tx 601 rtr l3 00 00 00"},
                                                    ": 2 of 4 frames, 1 lines skipped, sends go nowhere"}),
                         [](const auto& info) { return info.param.name; });

TEST(ReplayOption, NamesTheFileAndTheSpeed)
{
    tervix::ManualClock clock;
    QString error;
    EXPECT_EQ(MakeCanDriver("replay:", &error, clock), nullptr);
    EXPECT_THAT(error.toStdString(), HasSubstr("replay:FILE"));
    EXPECT_EQ(MakeCanDriver("replay:x.log,speed=fast", &error, clock), nullptr);
    EXPECT_EQ(MakeCanDriver("replay:x.log,speed=inf", &error, clock), nullptr);
    EXPECT_EQ(MakeCanDriver("replay:x.log,speed=-1", &error, clock), nullptr);
    EXPECT_THAT(error.toStdString(), HasSubstr("speed"));

    const auto driver = MakeCanDriver("replay:/nonexistent/a,b.log,speed=0", &error, clock);
    ASSERT_NE(driver, nullptr);
    EXPECT_EQ(driver->statusText(),
              "replay of /nonexistent/a,b.log: cannot read (No such file or directory)");
    EXPECT_EQ(driver->init(0x001C), DriverResult::Missing);
}

// /dev/full opens, and every write to it fails as on a full disk.
TEST(RecorderWriteError, StopsTheRecordingWithOneMessage)
{
    for (const bool byWriter : {true, false}) {
        SCOPED_TRACE(byWriter ? "found by the writer" : "found on stop");
        Recorder recorder(nullptr, byWriter ? 1ms : 1h);
        QSignalSpy failed(&recorder, &Recorder::failed);
        ASSERT_TRUE(recorder.Start(QStringLiteral("/dev/full")));
        recorder.Received(Frame(0x181, {0x01}), tervix::DefaultClock().Now());
        if (byWriter)
            EXPECT_TRUE(failed.wait(5000));
        else
            recorder.Stop();
        EXPECT_FALSE(recorder.IsRecording());
        recorder.Sent(Frame(0x181, {0x02}), tervix::DefaultClock().Now());
        recorder.Stop();
        QCoreApplication::processEvents();
        ASSERT_EQ(failed.size(), 1);
        EXPECT_EQ(failed.front().front().toString(),
                  "Recording to /dev/full stopped: No space left on device");
    }
    Recorder recorder;
    QString error;
    EXPECT_FALSE(recorder.Start(QStringLiteral("/nonexistent/dir/x.log"), &error));
    EXPECT_EQ(error, "Cannot record to /nonexistent/dir/x.log: No such file or directory");
}

// Every frame the replay gives, in order: "tx 181 l1 01" for one the
// recording marks as sent, "error" for an error frame.
std::vector<std::string> PlayAll(ReplayDriver& driver)
{
    std::vector<std::string> played;
    ReceivedFrame r;
    for (DriverResult result; (result = driver.read(r)) != DriverResult::Empty;) {
        if (result == DriverResult::ErrorFrame)
            played.push_back("error");
        else if (result == DriverResult::Ok)
            played.push_back((r.transmitted ? "tx " : "") + FrameText(r.frame));
        else
            break;
        r = {};
    }
    return played;
}

// The recorder writes each format, by extension or as asked; the replay reads
// it by its content and plays both directions.
struct FormatCase {
    const char* file;
    std::optional<tervix::TraceFormat> asked;
    tervix::TraceFormat written;
    const char* begins; // the file's first bytes
};

class RecordedFormat : public ::testing::TestWithParam<FormatCase> {};

TEST_P(RecordedFormat, IsWrittenAndReplayedWithItsDirections)
{
    const FormatCase& c = GetParam();
    QTemporaryDir dir;
    tervix::ManualClock clock;
    Recorder recorder(nullptr, Recorder::kFlushInterval, clock);
    const QString path = dir.filePath(QString::fromLatin1(c.file));
    ASSERT_TRUE(recorder.Start(path, nullptr, c.asked));
    recorder.Received(Frame(0x181, {0x01, 0x02}), clock.Now());
    clock.Advance(1500us);
    recorder.Sent(Special(0x601, false, true, {}, 3), clock.Now());
    clock.Advance(20ms);
    recorder.Received(Special(0x18FF1234, true, false, {0xAA}, 1), clock.Now());
    recorder.Stop();
    EXPECT_EQ(recorder.Format(), c.written);

    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_TRUE(file.readAll().startsWith(c.begins)) << c.file;

    ReplayDriver replay(path, 0.0, clock);
    ASSERT_EQ(replay.init(0x001C), DriverResult::Ok);
    EXPECT_THAT(PlayAll(replay), ElementsAre("181 l2 01 02", "tx 601 rtr l3 00 00 00", "18FF1234 ext l1 AA"));
    // 21.5 ms, to the format's precision (TRC 1.1: tenths of a millisecond).
    EXPECT_EQ(replay.TotalMicros(), 21500);
}

INSTANTIATE_TEST_SUITE_P(Formats, RecordedFormat,
                         ::testing::Values(FormatCase{"r.log", std::nullopt, tervix::TraceFormat::Candump, "("},
                                           FormatCase{"r.trc", std::nullopt, tervix::TraceFormat::Trc21,
                                                      ";$FILEVERSION=2.1\r\n;$STARTTIME="},
                                           FormatCase{"r.trc", tervix::TraceFormat::Trc11, tervix::TraceFormat::Trc11,
                                                      ";$FILEVERSION=1.1\r\n;$STARTTIME="},
                                           FormatCase{"r.asc", std::nullopt, tervix::TraceFormat::Asc, "date "},
                                           FormatCase{"r.txt", std::nullopt, tervix::TraceFormat::Candump, "("}));

// A TRC 2.1 file as PEAK's tools write it: Tx frames marked, the error frame
// reported as the Qt SerialBus back-end reports one, FD, event and status
// lines counted as skipped.
TEST_F(RecordReplayTest, ReplaysATrcFileWithItsDirectionsAndErrorFrames)
{
    const QString path =
        WriteFile("peak.trc", ";$FILEVERSION=2.1\r\n;$STARTTIME=41766.4648963872\r\n;$COLUMNS=N,O,T,B,I,d,R,L,D\r\n"
                              "      1      1059.900 DT 1      0300 Rx -  7    00 00 00 00 04 00 00\r\n"
                              "      2      1159.900 DT 1      0400 Tx -  2    00 01\r\n"
                              "      3      1334.416 FD 1      0500 Tx -  9    01 02 03 04 05 06 07 08 09 0A 0B 0C\r\n"
                              "      4      1334.222 ER 1         - Rx -  5    04 00 02 00 00\r\n"
                              "      5      1334.224 EV 1  User-defined event for bus 1\r\n"
                              "      6      1334.231 ST 1         - Rx -  4    00 00 00 08\r\n"
                              "      7      1459.900 DT 1  18EFC034 Tx -  1    01\r\n"
                              "      8      2059.900 RR 1      0100 Rx -  3\r\n");
    ReplayDriver replay(path, 0.0, clock);
    ASSERT_EQ(replay.init(0x001C), DriverResult::Ok);
    EXPECT_THAT(PlayAll(replay), ElementsAre("300 l7 00 00 00 00 04 00 00", "tx 400 l2 00 01", "error",
                                             "tx 18EFC034 ext l1 01", "100 rtr l3 00 00 00"));
    EXPECT_EQ(replay.SkippedLines(), 3u);
}

} // namespace
