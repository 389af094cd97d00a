// The USB channel against a scripted driver: exact call sequences, and when
// on the clock each call happens.
#include "fakes.h"
#include "usb2can.h"

#include <QCoreApplication>
#include <QSignalSpy>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <memory>

using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;
using namespace std::chrono_literals;

namespace {

class Usb2CanTest : public ::testing::Test {
protected:
    Usb2CanTest()
    {
        auto d = std::make_unique<FakeDriver>(log);
        driver = d.get();
        channel = std::make_unique<TUSB2CAN>(std::move(d), clock);
        channel->SetOnReceive(
            [this](TUSB2CAN*, const tervix::BusFrame& f) { received.push_back(FrameText(f)); });
    }

    // Moves the clock on and runs one poll tick; the log shows when.
    void Elapse(std::chrono::milliseconds d)
    {
        log.push_back("+" + std::to_string(d.count()) + "ms");
        clock.Advance(d);
        channel->Tick();
    }
    // Ticks every 10 ms for `total`; driver calls are logged with the time
    // since `start`, e.g. "400 init 001C".
    void Run(std::chrono::milliseconds total, CallLog& timeline, tervix::TimePoint start)
    {
        for (auto t = 0ms; t < total; t += 10ms) {
            const std::size_t before = log.size();
            channel->Tick();
            const auto at = std::chrono::duration_cast<std::chrono::milliseconds>(clock.Now() - start);
            for (std::size_t i = before; i < log.size(); ++i)
                timeline.push_back(std::to_string(at.count()) + " " + log[i]);
            clock.Advance(10ms);
        }
    }
    void OpenAt(uint32_t code)
    {
        channel->SetBitrate(code);
        clock.Advance(TUSB2CAN::kSettleWait);
        channel->Tick();
        log.clear();
    }

    CallLog log;
    tervix::ManualClock clock;
    FakeDriver* driver = nullptr;
    std::unique_ptr<TUSB2CAN> channel;
    std::vector<std::string> received;
};

TEST_F(Usb2CanTest, FirstSendInitialisesAndHoldsFramesUntilTheDriverHasSettled)
{
    EXPECT_EQ(channel->BitrateCode(), 0x001Cu);
    EXPECT_FALSE(channel->IsOpen());
    EXPECT_THAT(log, IsEmpty()); // construction touches nothing

    EXPECT_TRUE(channel->WriteFrame(Frame(0x005, {0x01, 0x05})).ok());
    EXPECT_TRUE(channel->WriteFrame(Frame(0x701, {})).ok());
    Elapse(199ms);
    Elapse(1ms);
    EXPECT_TRUE(channel->WriteFrame(Frame(0x001, {0x09})).ok()); // settled: straight out
    EXPECT_THAT(log, ElementsAre("init 001C", "+199ms", "+1ms", "write 005 l2 01 05", "write 701 l0",
                                 "write 001 l1 09"));
    EXPECT_TRUE(channel->IsOpen());
}

// A send the driver cannot carry is the sender's error, so it is never
// logged as sent: a driver that cannot open, and a refused write.
TEST_F(Usb2CanTest, SendsTheDriverRefusesFailForTheSender)
{
    driver->initResult = DriverResult::Missing;
    EXPECT_THAT(channel->WriteFrame(Frame(0x001, {})).error(),
                ::testing::StartsWith("USB adapter: CAN_Init failed (missing)"));
    Elapse(200ms);
    EXPECT_FALSE(channel->IsOpen());
    EXPECT_THAT(log, ElementsAre("init 001C", "+200ms")); // nothing held, nothing written later

    driver->initResult = DriverResult::Ok;
    OpenAt(0x011C);
    driver->writeResult = DriverResult::WriteFailed;
    EXPECT_THAT(channel->WriteFrame(Frame(0x001, {})).error(),
                ::testing::StartsWith("USB adapter: CAN_Write failed (write failed)"));
}

tervix::BusFrame Flagged(tervix::BusFrame f, bool extended, bool remote, uint8_t length)
{
    f.extended = extended;
    f.remote = remote;
    f.length = length;
    return f;
}

struct WriteCase {
    tervix::BusFrame frame;
    std::string written;
};

class WriteFrameAsIs : public Usb2CanTest, public ::testing::WithParamInterface<WriteCase> {};

TEST_P(WriteFrameAsIs, ReachesTheDriverWithAllIdentifierBitsAndFlags)
{
    OpenAt(0x011C);
    EXPECT_TRUE(channel->WriteFrame(GetParam().frame).ok());
    EXPECT_THAT(log, ElementsAre("write " + GetParam().written));
}

INSTANTIATE_TEST_SUITE_P(
    Frames, WriteFrameAsIs,
    ::testing::Values(WriteCase{Frame(0x605, {0x11, 0x22, 0x33}), "605 l3 11 22 33"},
                      WriteCase{Flagged(Frame(0x12345678, {0xAA}), true, false, 1), "12345678 ext l1 AA"},
                      WriteCase{Flagged(Frame(0x7FF, {}), false, true, 2), "7FF rtr l2 00 00"}));

TEST_F(Usb2CanTest, SetBitrateReinitialisesOnlyOnChangeAndHoldsWritesThroughBothWaits)
{
    channel->SetBitrate(0x001C);
    EXPECT_THAT(log, IsEmpty());

    channel->SetBitrate(0x031C); // closed: no close, no first wait
    Elapse(200ms);
    channel->SetBitrate(0x7F7F); // open: close and wait first
    EXPECT_TRUE(channel->WriteFrame(Frame(0x001, {0x01})).ok());
    Elapse(200ms);
    Elapse(199ms);
    Elapse(1ms);
    EXPECT_THAT(log, ElementsAre("init 031C", "+200ms", "close", "+200ms", "init 7F7F", "+199ms", "+1ms",
                                 "write 001 l1 01"));
    EXPECT_EQ(channel->BitrateCode(), 0x7F7Fu);
    EXPECT_FALSE(channel->Settling());
}

TEST_F(Usb2CanTest, FramesHeldWhileSettlingAreBounded)
{
    int dropped = 0;
    channel->SetErrorHook([&](const char*, DriverResult r) { dropped += r == DriverResult::WriteFailed; });
    int refused = 0;
    for (int i = 0; i < 100; ++i)
        refused += !channel->WriteFrame(Frame(0x001, {uint8_t(i)})).ok();
    EXPECT_EQ(refused, 100 - int(TUSB2CAN::kMaxHeldFrames));
    Elapse(200ms);
    const auto writes =
        std::count_if(log.begin(), log.end(), [](const auto& e) { return e.rfind("write", 0) == 0; });
    EXPECT_EQ(std::size_t(writes), TUSB2CAN::kMaxHeldFrames);
    EXPECT_EQ(dropped, 100 - int(TUSB2CAN::kMaxHeldFrames));
    EXPECT_EQ(log.back(), "write 001 l1 3F"); // the first 64, in order
}

TEST_F(Usb2CanTest, FailedInitLeavesChannelClosedAndPollReadsNothing)
{
    driver->initResult = DriverResult::Failed;
    channel->SetBitrate(0x0014);
    driver->QueueFrame(Frame(0x181, {1}));
    Elapse(200ms);
    EXPECT_FALSE(channel->IsOpen());
    EXPECT_EQ(driver->readCalls, 0);
}

TEST_F(Usb2CanTest, ErrorFramesAreCountedAndFramesBehindThemArrive)
{
    OpenAt(0x0014);
    QSignalSpy status(channel.get(), &TUSB2CAN::statusChanged);
    driver->QueueFrame(Frame(0x181, {1}));
    driver->QueueErrorFrame();
    driver->QueueFrame(Frame(0x182, {2}));
    driver->QueueErrorFrame();
    driver->QueueFrame(Frame(0x183, {3}));
    channel->Poll();
    EXPECT_THAT(received, ElementsAre("181 l1 01", "182 l1 02", "183 l1 03"));
    EXPECT_TRUE(channel->IsOpen());
    EXPECT_THAT(log, IsEmpty());
    EXPECT_EQ(channel->ErrorFrames(), 2u);
    EXPECT_THAT(channel->StatusText().toStdString(), HasSubstr("error frames: 2"));
    EXPECT_EQ(status.count(), 1); // once per tick, not per error frame
}

TEST_F(Usb2CanTest, WrongRateReadClosesTheChannelUntilTheNextWrite)
{
    OpenAt(0x0014);
    driver->QueueFrame(Frame(0x181, {1, 2}));
    driver->QueueWrongRate();
    driver->QueueFrame(Frame(0x183, {4}));
    channel->Poll();
    EXPECT_THAT(received, ElementsAre("181 l2 01 02"));
    EXPECT_THAT(log, ElementsAre("close"));
    EXPECT_FALSE(channel->IsOpen());

    channel->Poll(); // closed: the queued frame stays
    EXPECT_EQ(driver->reads.size(), 1u);

    EXPECT_TRUE(channel->WriteFrame(Frame(0x001, {})).ok()); // reopens
    Elapse(200ms);
    EXPECT_THAT(received, ElementsAre("181 l2 01 02", "183 l1 04"));
}

TEST_F(Usb2CanTest, LostDriverIsOpenedAgainByTheNextWrite)
{
    OpenAt(0x0014);
    driver->reads.push_back({DriverResult::NotOpen, {}});
    channel->Poll();
    EXPECT_FALSE(channel->IsOpen());
    EXPECT_TRUE(channel->WriteFrame(Frame(0x001, {})).ok());
    EXPECT_THAT(log, ElementsAre("init 0014"));
}

// A bus running at one rate with a device that answers the wake frame with a
// few frames; at any other rate each wake frame brings a wrong-rate read.
class BusAtRate {
public:
    BusAtRate(FakeDriver& driver, CallLog& log, uint16_t busCode, int answers, int maxErrors = 1000)
        : log_(log), busCode_(busCode), answers_(answers), errorsLeft_(maxErrors)
    {
        driver.onRead = [this](tervix::BusFrame& f) { return Read(f); };
    }
    DriverResult Read(tervix::BusFrame& f)
    {
        // Follow the driver calls to know the rate and whether woken.
        for (; seen_ < log_.size(); ++seen_) {
            const std::string& e = log_[seen_];
            if (e.rfind("init ", 0) == 0) {
                code_ = static_cast<uint16_t>(std::stoul(e.substr(5, 4), nullptr, 16));
                woken_ = false;
            } else if (e.rfind("write 000", 0) == 0) {
                woken_ = true;
            }
        }
        if (!woken_)
            return DriverResult::Empty;
        if (code_ != busCode_) {
            if (errorsLeft_ == 0)
                return DriverResult::Empty;
            --errorsLeft_;
            woken_ = false;
            return DriverResult::WrongBitRate;
        }
        if (sent_ == answers_)
            return DriverResult::Empty;
        ++sent_;
        f = Frame(0x705, {uint8_t(sent_)});
        return DriverResult::Ok;
    }

private:
    CallLog& log_;
    std::size_t seen_ = 0;
    uint16_t busCode_;
    uint16_t code_ = 0;
    bool woken_ = false;
    int answers_;
    int sent_ = 0;
    int errorsLeft_;
};

TEST_F(Usb2CanTest, SearchStepsThroughRatesWithTheWaitsAndReportsEveryQueuedAnswer)
{
    BusAtRate bus(*driver, log, 0x011C, 5);
    std::vector<std::string> found;
    std::vector<uint32_t> foundAt;
    const tervix::TimePoint start = clock.Now();
    CallLog timeline;
    channel->StartSearch([&](TUSB2CAN* sender, const tervix::BusFrame& f) {
        found.push_back(FrameText(f));
        foundAt.push_back(sender->BitrateCode());
    });
    timeline.push_back("0 " + log.at(0));
    Run(1500ms, timeline, start);
    EXPECT_THAT(timeline, ElementsAre("0 init 0014", "200 write 000 l1 01", "200 close",   //
                                      "400 init 001C", "600 write 000 l1 01", "600 close", //
                                      "800 init 011C", "1000 write 000 l1 01"));
    EXPECT_THAT(found, ElementsAre("705 l1 01", "705 l1 02", "705 l1 03", "705 l1 04", "705 l1 05"));
    EXPECT_THAT(foundAt, ::testing::Each(0x011Cu));
    EXPECT_FALSE(channel->Searching());

    // Back on the normal poll: later frames are received, not found.
    driver->onRead = nullptr;
    driver->QueueFrame(Frame(0x185, {9}));
    channel->Tick();
    EXPECT_EQ(found.size(), 5u);
    EXPECT_THAT(received, ElementsAre("185 l1 09"));
}

TEST_F(Usb2CanTest, SearchWrapsFromSlowestRateBackToFastest)
{
    BusAtRate bus(*driver, log, 0x1234 /* nothing answers */, 0, 9);
    channel->StartSearch([](TUSB2CAN*, const tervix::BusFrame&) {});
    CallLog timeline;
    Run(5000ms, timeline, clock.Now());
    std::vector<std::string> inits;
    for (const auto& e : log)
        if (e.rfind("init", 0) == 0)
            inits.push_back(e.substr(5, 4));
    EXPECT_THAT(inits,
                ElementsAre("0014", "001C", "011C", "031C", "432F", "472F", "532F", "672F", "7F7F", "0014"));
    EXPECT_TRUE(channel->Searching());
}

TEST_F(Usb2CanTest, SearchFromClosedChannelAtFirstRateWritesWakeFrameOnly)
{
    driver->initResult = DriverResult::Failed;
    channel->SetBitrate(0x0014); // fails: closed at 1 Mbit/s
    Elapse(200ms);
    driver->initResult = DriverResult::Ok;
    log.clear();
    driver->QueueFrame(Frame(0x181, {1}));
    bool found = false;
    channel->StartSearch([&](TUSB2CAN*, const tervix::BusFrame&) { found = true; });
    Elapse(200ms);
    EXPECT_THAT(log, ElementsAre("write 000 l1 01", "+200ms"));
    EXPECT_FALSE(found);
    EXPECT_EQ(driver->readCalls, 0);
}

TEST_F(Usb2CanTest, SearchStopsReadingWhenWakeFrameCannotBeWritten)
{
    channel->StartSearch([](TUSB2CAN*, const tervix::BusFrame&) {});
    Elapse(200ms);
    driver->QueueWrongRate();
    driver->QueueFrame(Frame(0x181, {1}));
    channel->Tick();
    driver->writeResult = DriverResult::WriteFailed;
    Elapse(200ms);
    Elapse(200ms);
    EXPECT_THAT(log, ElementsAre("init 0014", "+200ms", "write 000 l1 01", "close", "+200ms", "init 001C",
                                 "+200ms", "write 000 l1 01"));
    EXPECT_EQ(driver->reads.size(), 1u); // not read in the tick the wake frame failed
}

struct SystemRateCase {
    uint32_t interfaceRate;
    std::vector<std::string> calls;
    uint32_t foundAt;
    const char* searchText;
};

class SystemSetRate : public Usb2CanTest, public ::testing::WithParamInterface<SystemRateCase> {};

TEST_P(SystemSetRate, SearchLooksAtTheInterfaceRateAndSaysWhichItIs)
{
    driver->systemRate = true;
    driver->interfaceRate = GetParam().interfaceRate;
    std::vector<uint32_t> foundAt;
    channel->StartSearch([&](TUSB2CAN* s, const tervix::BusFrame&) { foundAt.push_back(s->BitrateCode()); });
    EXPECT_THAT(channel->StatusText().toStdString(), HasSubstr(GetParam().searchText));
    clock.Advance(200ms);
    // Error frames cannot mean "another rate" here: the search stays.
    driver->QueueErrorFrame();
    driver->QueueFrame(Frame(0x18A, {1}));
    channel->Tick();
    EXPECT_EQ(log, GetParam().calls);
    EXPECT_THAT(foundAt, ElementsAre(GetParam().foundAt));
    EXPECT_THAT(channel->StatusText().toStdString(), ::testing::Not(HasSubstr("searching")));
}

INSTANTIATE_TEST_SUITE_P(
    Rates, SystemSetRate,
    ::testing::Values(SystemRateCase{250000,
                                     {"init 011C", "write 000 l1 01"},
                                     0x011C,
                                     "searching for the node at the interface's rate of 250 kbit/s"},
                      SystemRateCase{0,
                                     {"init 001C", "write 000 l1 01"},
                                     0x001C,
                                     "searching for the node at the system's rate"}));

TEST_F(Usb2CanTest, DestructionClosesTheDriverWhateverItsState)
{
    channel.reset();
    EXPECT_THAT(log, ElementsAre("close"));
}

TEST(UsbChannelInstall, ApplicationObjectOwnsTheOneChannel)
{
    CallLog log;
    tervix::ManualClock clock;
    TUSB2CAN* first =
        InstallUsbChannel(QCoreApplication::instance(), std::make_unique<FakeDriver>(log), clock);
    EXPECT_EQ(UsbChannel(), first);
    EXPECT_EQ(first->parent(), QCoreApplication::instance());
    TUSB2CAN* second =
        InstallUsbChannel(QCoreApplication::instance(), std::make_unique<FakeDriver>(log), clock);
    EXPECT_EQ(UsbChannel(), second);
    EXPECT_THAT(log, ElementsAre("close")); // the first one was destroyed
    delete second;
    EXPECT_EQ(UsbChannel(), nullptr);
}

} // namespace
