// The USB channel against a scripted driver: exact call sequences.
#include "fakes.h"
#include "poll_timer.h"
#include "usb2can.h"

#include <QCoreApplication>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <memory>

using ::testing::ElementsAre;
using ::testing::IsEmpty;

namespace {

class Usb2CanTest : public ::testing::Test {
protected:
    Usb2CanTest()
    {
        auto d = std::make_unique<FakeDriver>(log);
        driver = d.get();
        channel = std::make_unique<TUSB2CAN>(std::move(d), clock);
        channel->SetOnReceive([this](TUSB2CAN*, CanFrame& f) { received.push_back(FrameText(f)); });
    }

    CallLog log;
    FakeClock clock{log};
    FakeDriver* driver = nullptr;
    std::unique_ptr<TUSB2CAN> channel;
    std::vector<std::string> received;
};

TEST_F(Usb2CanTest, FirstSendInitialisesWaitsThenWritesLaterSendsOnlyWrite)
{
    EXPECT_EQ(channel->BitrateCode(), 0x001Cu);
    EXPECT_FALSE(channel->IsOpen());
    EXPECT_THAT(log, IsEmpty()); // construction touches nothing

    channel->WriteFrame(std::vector<uint8_t>{0x7E, 0x02, 0x00, 0xA0, 0x01, 0x05});
    channel->WriteFrame(std::vector<uint8_t>{0x7E, 0x00, 0xE0, 0x20});
    EXPECT_THAT(log, ElementsAre("init 001C 0", "sleep 200", "write 005 t0 l2 01 05", "write 701 t0 l0"));
    EXPECT_TRUE(channel->IsOpen());
}

TEST_F(Usb2CanTest, SendAfterFailedInitStillCountsAsOpen)
{
    std::vector<std::string> errors;
    channel->SetErrorHook([&](const char* call, uint32_t r) { errors.push_back(call + std::to_string(r)); });
    driver->initResult = 5;
    driver->writeResult = 9;
    channel->WriteFrame(std::vector<uint8_t>{0x7E, 0x00, 0x00, 0x20});
    EXPECT_TRUE(channel->IsOpen());
    EXPECT_THAT(errors, ElementsAre("CAN_Init5", "CAN_Write9"));
}

struct WriteCase {
    std::vector<uint8_t> packet;
    std::string written; // empty: nothing written
};

class WriteFrameLength : public Usb2CanTest, public ::testing::WithParamInterface<WriteCase> {};

TEST_P(WriteFrameLength, UsesSmallestOfCarriedBytesLengthByteAndEight)
{
    channel->SetBitrate(0x011C); // open first, so only the write is left to see
    log.clear();
    channel->WriteFrame(GetParam().packet);
    if (GetParam().written.empty())
        EXPECT_THAT(log, IsEmpty());
    else
        EXPECT_THAT(log, ElementsAre("write " + GetParam().written));
}

INSTANTIATE_TEST_SUITE_P(
    Packets, WriteFrameLength,
    ::testing::Values(WriteCase{{0x7E, 0x02, 0x00, 0xA0, 0x01, 0x05}, "005 t0 l2 01 05"},
                      // Length byte says 8, three bytes carried.
                      WriteCase{{0x7E, 0x08, 0xC0, 0xA0, 0x11, 0x22, 0x33}, "605 t0 l3 11 22 33"},
                      // Length byte smaller than what is carried.
                      WriteCase{{0x7E, 0x01, 0xC0, 0xA0, 0x11, 0x22, 0x33}, "605 t0 l1 11"},
                      // The whole byte counts: flag bits make it large, the carried bytes decide.
                      WriteCase{{0x7E, 0x42, 0xFF, 0xE0, 0xAA, 0xBB}, "7FF t0 l2 AA BB"},
                      // Never more than eight.
                      WriteCase{{0x7E, 0x0F, 0x00, 0x20, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10},
                                "001 t0 l8 01 02 03 04 05 06 07 08"},
                      // Byte 0 is not looked at.
                      WriteCase{{0x00, 0x01, 0x00, 0x40, 0x7F}, "002 t0 l1 7F"},
                      // Shorter than a header: nothing reaches the driver.
                      WriteCase{{0x7E, 0x01, 0x00}, ""}));

TEST_F(Usb2CanTest, SetBitrateReinitialisesOnlyOnChange)
{
    channel->SetBitrate(0x001C);
    EXPECT_THAT(log, IsEmpty());

    channel->SetBitrate(0x031C); // closed: no close, no first wait
    channel->SetBitrate(0x7F7F); // open: close and wait first
    EXPECT_THAT(log,
                ElementsAre("init 031C 0", "sleep 200", "close", "sleep 200", "init 7F7F 0", "sleep 200"));
    EXPECT_EQ(channel->BitrateCode(), 0x7F7Fu);
}

TEST_F(Usb2CanTest, FailedInitLeavesChannelClosedAndPollReadsNothing)
{
    std::vector<std::string> errors;
    channel->SetErrorHook([&](const char* call, uint32_t) { errors.push_back(call); });
    driver->initResult = 3;
    channel->SetBitrate(0x0014);
    driver->QueueFrame(Frame(0x181, {1}));
    channel->Poll();
    EXPECT_FALSE(channel->IsOpen());
    EXPECT_EQ(driver->readCalls, 0);
    EXPECT_THAT(errors, ElementsAre("CAN_Init"));
}

TEST_F(Usb2CanTest, PollDrainsQueueAndClosesOnOverlongRecord)
{
    channel->SetBitrate(0x0014);
    driver->QueueFrame(Frame(0x181, {1, 2}));
    driver->QueueFrame(Frame(0x182, {3}));
    driver->QueueBusError();
    driver->QueueFrame(Frame(0x183, {4}));
    log.clear();

    channel->Poll();
    EXPECT_THAT(received, ElementsAre("181 t0 l2 01 02", "182 t0 l1 03"));
    EXPECT_THAT(log, ElementsAre("close")); // no wait after this close
    EXPECT_FALSE(channel->IsOpen());

    channel->Poll(); // closed: the queued frame stays
    EXPECT_EQ(received.size(), 2u);
    EXPECT_EQ(driver->reads.size(), 1u);

    channel->WriteFrame(std::vector<uint8_t>{0x7E, 0x00, 0x00, 0x20}); // reopens
    channel->Poll();
    EXPECT_THAT(received, ::testing::Contains("183 t0 l1 04"));
}

TEST_F(Usb2CanTest, PollStopsWithoutClosingOnEmptyQueue)
{
    channel->SetBitrate(0x0014);
    driver->QueueFrame(Frame(0x181, {1}));
    channel->Poll();
    channel->Poll();
    EXPECT_TRUE(channel->IsOpen());
    EXPECT_EQ(received.size(), 1u);
    EXPECT_EQ(driver->readCalls, 3); // frame, empty, empty
}

// A bus running at one rate with a device that answers the wake frame with a
// few frames; at any other rate each wake frame produces an error record.
class BusAtRate {
public:
    BusAtRate(FakeDriver& driver, CallLog& log, uint16_t busCode, int answers, int maxErrors = 1000)
        : log_(log), busCode_(busCode), answers_(answers), errorsLeft_(maxErrors)
    {
        driver.onRead = [this](CanFrame& f) { return Read(f); };
    }
    void Track()
    {
        // The fake logs init/write; follow them to know the rate and whether woken.
        for (; seen_ < log_.size(); ++seen_) {
            const std::string& e = log_[seen_];
            if (e.rfind("init ", 0) == 0) {
                code_ = static_cast<uint16_t>(std::stoul(e.substr(5, 4), nullptr, 16));
                woken_ = false;
            } else if (e.rfind("write 000", 0) == 0) {
                woken_ = true;
            }
        }
    }
    uint32_t Read(CanFrame& f)
    {
        Track();
        if (!woken_)
            return 1;
        if (code_ != busCode_) {
            if (errorsLeft_ == 0)
                return 1;
            --errorsLeft_;
            woken_ = false;
            f.len = 0xFF;
            return 2;
        }
        if (sent_ == answers_)
            return 1;
        ++sent_;
        f = Frame(0x700 + 0x05, {uint8_t(sent_)});
        return 0;
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

TEST_F(Usb2CanTest, SearchStepsThroughRatesAndReportsEveryQueuedAnswer)
{
    PollTimer timer;
    channel->AttachTimer(&timer);
    BusAtRate bus(*driver, log, 0x011C, 5);
    std::vector<std::string> found;
    std::vector<uint32_t> foundAt;
    channel->StartSearch([&](TUSB2CAN* sender, CanFrame& f) {
        found.push_back(FrameText(f));
        foundAt.push_back(sender->BitrateCode());
    });
    const CallLog start{"init 0014 0", "sleep 200", "write 000 t0 l1 01"};
    EXPECT_EQ(log, start);

    timer.tick(); // errors at 1M and 500k, answers at 250k, all in one tick
    EXPECT_THAT(log, ElementsAre("init 0014 0", "sleep 200", "write 000 t0 l1 01",                       //
                                 "close", "sleep 200", "init 001C 0", "sleep 200", "write 000 t0 l1 01", //
                                 "close", "sleep 200", "init 011C 0", "sleep 200", "write 000 t0 l1 01"));
    EXPECT_THAT(found,
                ElementsAre("705 t0 l1 01", "705 t0 l1 02", "705 t0 l1 03", "705 t0 l1 04", "705 t0 l1 05"));
    EXPECT_THAT(foundAt, ::testing::Each(0x011Cu));

    // The timer is back on the normal poll: later frames are received, not found.
    driver->onRead = nullptr;
    driver->QueueFrame(Frame(0x185, {9}));
    timer.tick();
    EXPECT_EQ(found.size(), 5u);
    EXPECT_THAT(received, ElementsAre("185 t0 l1 09"));
}

TEST_F(Usb2CanTest, SearchWrapsFromSlowestRateBackToFastest)
{
    PollTimer timer;
    channel->AttachTimer(&timer);
    BusAtRate bus(*driver, log, 0x1234 /* nothing answers */, 0, 9);
    channel->StartSearch([](TUSB2CAN*, CanFrame&) {});
    timer.tick();
    std::vector<std::string> inits;
    for (const auto& e : log)
        if (e.rfind("init", 0) == 0)
            inits.push_back(e.substr(5, 4));
    EXPECT_THAT(inits,
                ElementsAre("0014", "001C", "011C", "031C", "432F", "472F", "532F", "672F", "7F7F", "0014"));
}

TEST_F(Usb2CanTest, SearchFromClosedChannelAtFirstRateWritesWakeFrameOnly)
{
    driver->initResult = 1;
    channel->SetBitrate(0x0014); // fails: closed at 1 Mbit/s
    driver->initResult = 0;
    log.clear();
    driver->QueueFrame(Frame(0x181, {1}));
    bool found = false;
    channel->StartSearch([&](TUSB2CAN*, CanFrame&) { found = true; });
    channel->SearchPoll();
    EXPECT_THAT(log, ElementsAre("write 000 t0 l1 01"));
    EXPECT_FALSE(found);
    EXPECT_EQ(driver->readCalls, 0);
}

TEST_F(Usb2CanTest, SearchStopsWhenWakeFrameCannotBeWritten)
{
    channel->StartSearch([](TUSB2CAN*, CanFrame&) {});
    driver->QueueBusError();
    driver->QueueFrame(Frame(0x181, {1}));
    driver->writeResult = 4;
    log.clear();
    channel->SearchPoll();
    EXPECT_THAT(log, ElementsAre("close", "sleep 200", "init 001C 0", "sleep 200", "write 000 t0 l1 01"));
    EXPECT_EQ(driver->reads.size(), 1u); // not read again in this tick
}

TEST_F(Usb2CanTest, DestructionClosesDriverAndStopsLiveTimerOnly)
{
    {
        PollTimer timer;
        channel->AttachTimer(&timer);
        EXPECT_TRUE(timer.isActive());
        channel.reset();
        EXPECT_FALSE(timer.isActive());
    }
    EXPECT_EQ(log.back(), "close");

    // Timer gone before the channel: the channel leaves it alone.
    CallLog log2;
    FakeClock clock2(log2);
    auto channel2 = std::make_unique<TUSB2CAN>(std::make_unique<FakeDriver>(log2), clock2);
    auto timer = std::make_unique<PollTimer>();
    channel2->AttachTimer(timer.get());
    timer.reset();
    channel2.reset();
    EXPECT_THAT(log2, ElementsAre("close"));
}

TEST(UsbChannelInstall, ApplicationObjectOwnsTheOneChannel)
{
    CallLog log;
    FakeClock clock(log);
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
