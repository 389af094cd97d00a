// The transport against a scripted driver and plain boxes.
#include "MyComm.h"
#include "fakes.h"
#include "frame_naming.h"
#include "sim_driver.h"

#include <QEventLoop>
#include <QSignalSpy>
#include <QTimer>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <memory>

using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
using ::testing::IsEmpty;
using namespace std::chrono_literals;

namespace {

std::vector<uint8_t> SlotBytes(const tervix::ReceiveSlot& s)
{
    auto v = s.View();
    return {v.begin(), v.end()};
}

class CommTest : public ::testing::Test {
protected:
    CommTest()
    {
        auto d = std::make_unique<FakeDriver>(log);
        driver = d.get();
        usb = std::make_unique<TUSB2CAN>(std::move(d), clock);
        comm = std::make_unique<TComm>(*usb, NoSerialPorts());
    }

    void Init() { comm->InitLists(portBox, speedBox); }
    // Opens the channel at `code` and lets the driver settle.
    void OpenAt(uint32_t code)
    {
        usb->SetBitrate(code);
        clock.Advance(TUSB2CAN::kSettleWait);
        comm->Timer().tick();
        log.clear();
    }

    // The slot bytes as the handler saw them, one entry per delivery.
    void Record()
    {
        comm->SetOnFrame([this](TComm* sender, int slot) {
            EXPECT_EQ(sender, comm.get());
            delivered.push_back(slot);
            seen.push_back(SlotBytes(sender->Slot(slot)));
        });
    }

    CallLog log;
    tervix::ManualClock clock;
    FakeDriver* driver = nullptr;
    std::unique_ptr<TUSB2CAN> usb;
    std::unique_ptr<TComm> comm;
    FakeChoiceBox portBox;
    FakeChoiceBox speedBox;
    std::vector<int> delivered;
    std::vector<std::vector<uint8_t>> seen;
};

// A USB adapter whose driver loses its device: said once, looked for again
// every half second by the transport's clock, back when the driver opens.
TEST_F(CommTest, LostUsbDeviceIsReportedOnceAndReopened)
{
    Init();
    OpenAt(0x0014);
    QSignalSpy lost(comm.get(), &TComm::adapterLost);
    QSignalSpy events(comm.get(), &TComm::connectionEvent);
    driver->onRead = [](tervix::BusFrame&) { return DriverResult::NotOpen; };
    driver->initResult = DriverResult::Missing;
    for (int i = 0; i < 11; ++i) {
        clock.Advance(100ms);
        comm->Timer().tick();
    }
    EXPECT_EQ(lost.count(), 1);  // lost at 100 ms
    const auto inits = [&] { return std::count(log.begin(), log.end(), "init 0014"); };
    EXPECT_EQ(inits(), 2);  // looked for at 600 and 1100 ms
    driver->onRead = nullptr;
    driver->initResult = DriverResult::Ok;
    clock.Advance(500ms);
    comm->Timer().tick();
    ASSERT_GE(events.count(), 2);
    EXPECT_TRUE(events.last().at(0).toString().endsWith("back, reopened"));
    EXPECT_FALSE(usb->IsLost());
    EXPECT_EQ(lost.count(), 1);
}

TEST_F(CommTest, StartStateAfterInitLists)
{
    EXPECT_FALSE(comm->Timer().isActive()); // the constructor opens and starts nothing
    Init();
    EXPECT_THAT(speedBox.items, ElementsAre("1Mbit", "500Kbit", "250Kbit", "125Kbit", "100Kbit", "50Kbit",
                                            "20Kbit", "10Kbit", "5Kbit"));
    EXPECT_EQ(speedBox.currentText(), "500Kbit");
    EXPECT_THAT(portBox.items, ElementsAre("USB")); // no serial port exists
    EXPECT_THAT(portBox.data, ElementsAre(0));
    EXPECT_EQ(portBox.currentIndex(), 0);
    EXPECT_EQ(comm->ComNumber(), 0);
    EXPECT_TRUE(comm->Timer().isActive());
    EXPECT_EQ(usb->BitrateCode(), 0x001Cu);
    EXPECT_THAT(log, IsEmpty()); // the channel is not initialised yet
}

struct SpeedCase {
    QString text;
    bool typed;
    uint32_t code;
};

class SpeedChoice : public CommTest, public ::testing::WithParamInterface<SpeedCase> {};

TEST_P(SpeedChoice, PassesCodeOfSelectionToChannel)
{
    Init();
    OpenAt(0x0014); // start elsewhere so that every case is a change
    if (GetParam().typed)
        EXPECT_TRUE(speedBox.UserTypes(GetParam().text).ok());
    else
        EXPECT_TRUE(speedBox.UserSelects(GetParam().text).ok());
    EXPECT_EQ(usb->BitrateCode(), GetParam().code);
    char expected[16];
    std::snprintf(expected, sizeof expected, "init %04X", unsigned(GetParam().code));
    clock.Advance(TUSB2CAN::kSettleWait);
    comm->Timer().tick();
    EXPECT_THAT(log, ElementsAre("close", std::string(expected)));
}

INSTANTIATE_TEST_SUITE_P(Speeds, SpeedChoice,
                         ::testing::Values(SpeedCase{"5Kbit", false, 0x7F7F},
                                           SpeedCase{"125Kbit", false, 0x031C},
                                           SpeedCase{"500Kbit", false, 0x001C},
                                           SpeedCase{"abc", true, 0x001C}));

TEST_F(CommTest, SameSpeedAgainDoesNothing)
{
    Init();
    EXPECT_TRUE(speedBox.UserSelects("500Kbit").ok());
    EXPECT_THAT(log, IsEmpty());
}

struct SlotCase {
    tervix::BusFrame frame;
    std::vector<uint8_t> slot; // the slot's counted bytes
    const char* logStart;      // how the log line of the slot begins
};

class UsbFrameInSlot : public CommTest, public ::testing::WithParamInterface<SlotCase> {};

TEST_P(UsbFrameInSlot, CarriesIdentifierFlagsLengthAndAllEightDataBytes)
{
    Init();
    Record();
    OpenAt(0x0014);
    driver->QueueFrame(GetParam().frame);
    comm->Timer().tick();
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0], GetParam().slot);
    // The frame itself, every identifier bit included, travels beside the packet.
    EXPECT_TRUE(comm->Slot(0).isFrame);
    EXPECT_EQ(comm->Slot(0).frame, GetParam().frame);
    // Bytes beyond the length are copied all the same.
    for (std::size_t i = 0; i < 8; ++i)
        EXPECT_EQ(comm->Slot(0).bytes[4 + i], GetParam().frame.data[i]) << i;
    EXPECT_EQ(tervix::LogLine(comm->Slot(0).View()).rfind(GetParam().logStart, 0), 0u)
        << tervix::LogLine(comm->Slot(0).View());
}

tervix::BusFrame With(tervix::BusFrame f, bool extended, bool remote, uint8_t beyond = 0)
{
    f.extended = extended;
    f.remote = remote;
    if (f.length < 8)
        f.data[f.length] = beyond;
    return f;
}

INSTANTIATE_TEST_SUITE_P(
    Frames, UsbFrameInSlot,
    ::testing::Values(SlotCase{With(Frame(0x605, {0x11, 0x22, 0x33}), false, false, 0xAA),
                               {0x7E, 0x03, 0xC0, 0xA0, 0x11, 0x22, 0x33},
                               "SFF: "},
                      // Identifier bits above bit 10 do not fit the packet, only the frame.
                      SlotCase{With(Frame(0x1ABCDE, {0x01, 0x02}), true, false),
                               {0x7E, 0x82, 0x9B, 0xC0, 0x01, 0x02},
                               "EFF: "},
                      SlotCase{With(Frame(0x123, {}), false, true), {0x7E, 0x40, 0x24, 0x60}, "SFF: "}));

TEST_F(CommTest, SlotRingAdvancesWithAndWithoutHandler)
{
    Init();
    OpenAt(0x0014);
    driver->QueueFrame(Frame(0x181, {1}));
    driver->QueueFrame(Frame(0x182, {2}));
    comm->Timer().tick();
    Record();
    for (uint8_t i = 3; i <= 7; ++i)
        driver->QueueFrame(Frame(0x180 + i, {i}));
    comm->Timer().tick();
    EXPECT_THAT(delivered, ElementsAre(2, 3, 0, 1, 2));
    EXPECT_EQ(seen[2][4], 5); // slot 0 refilled four deliveries later
    // The slot after the last delivery is emptied for the next message.
    EXPECT_EQ(comm->Slot(3).count, 0u);
}

// The driver's receive time where it has one, else the time of the read; the
// statistics count the frame at that time.
TEST_F(CommTest, SlotTakesTheDriversReceiveTimeOrTheTimeOfTheRead)
{
    Init();
    OpenAt(0x0014);
    std::vector<tervix::TimePoint> times;
    comm->SetOnFrame([&](TComm* sender, int slot) { times.push_back(sender->Slot(slot).at); });
    const tervix::TimePoint early = clock.Now() - 1500ms;
    driver->QueueFrame(Frame(0x181, {1}), early);
    driver->QueueFrame(Frame(0x182, {2}));
    comm->Timer().tick();
    EXPECT_THAT(times, ElementsAre(early, clock.Now()));
    // Received 1.5 s ago: already out of the last second's figures.
    EXPECT_EQ(comm->Statistics().Received(clock.Now()), 1u);
}

// The simulated node's frames carry its own clock's time, not the time the
// channel read them.
TEST(SimulatedNode, FramesCarryTheNodesTime)
{
    tervix::ManualClock channelClock;
    tervix::ManualClock nodeClock;
    nodeClock.Advance(42ms);
    TUSB2CAN usb(std::make_unique<SimDriver>(tervix::sim::SimOptions{}, nodeClock), channelClock);
    TComm comm(usb, NoSerialPorts());
    std::vector<tervix::TimePoint> times;
    comm.SetOnFrame([&](TComm* sender, int slot) { times.push_back(sender->Slot(slot).at); });
    ASSERT_TRUE(comm.SendFrame(Frame(0x000, {0x01, 0x01})).ok()); // opens the channel, starts node 1
    for (int i = 0; i < 3; ++i) {
        times.clear();
        channelClock.Advance(200ms);
        nodeClock.Advance(200ms);
        comm.Timer().tick();
    }
    EXPECT_FALSE(times.empty());
    EXPECT_THAT(times, ::testing::Each(nodeClock.Now()));
}

TEST_F(CommTest, PollDeliversThroughTimerAndSignalsOncePerBusyTick)
{
    Init();
    Record();
    OpenAt(0x0014);
    QSignalSpy finished(comm.get(), &TComm::pollFinished);
    driver->QueueFrame(Frame(0x181, {1}));
    driver->QueueFrame(Frame(0x281, {2, 3}));
    comm->Timer().tick();
    EXPECT_EQ(finished.count(), 1);
    EXPECT_THAT(seen,
                ElementsAre(ElementsAre(0x7E, 1, 0x30, 0x20, 1), ElementsAre(0x7E, 2, 0x50, 0x20, 2, 3)));
    comm->Timer().tick(); // nothing arrived
    EXPECT_EQ(finished.count(), 1);
}

TEST_F(CommTest, SendFrameGoesToUsbChannelWhenUsbIsSelected)
{
    Init();
    EXPECT_TRUE(comm->SendFrame(Frame(0x000, {0x01})).ok());
    EXPECT_THAT(log, ElementsAre("init 001C"));
    clock.Advance(TUSB2CAN::kSettleWait);
    comm->Timer().tick();
    EXPECT_THAT(log, ElementsAre("init 001C", "write 000 l1 01"));
}

TEST_F(CommTest, ErrorFramesKeepReceptionGoingAndShowInCommInfo)
{
    Init();
    Record();
    OpenAt(0x0014);
    QSignalSpy info(comm.get(), &TComm::infoChanged);
    driver->QueueFrame(Frame(0x181, {1}));
    driver->QueueErrorFrame();
    driver->QueueFrame(Frame(0x182, {2}));
    driver->QueueFrame(Frame(0x183, {3}));
    comm->Timer().tick();
    EXPECT_EQ(seen.size(), 3u);
    EXPECT_THAT(comm->InfoText().toStdString(), ::testing::HasSubstr("error frames: 1"));
    EXPECT_EQ(info.count(), 1);
    driver->QueueFrame(Frame(0x184, {4})); // still reading
    comm->Timer().tick();
    EXPECT_EQ(seen.size(), 4u);
}

TEST_F(CommTest, PickingMissingComPortRaisesAndLeavesTransportQuiet)
{
    Init();
    portBox.addItem("COM12", 12); // listed earlier, unplugged since
    const tervix::Status picked = portBox.UserSelects("COM12");
    ASSERT_FALSE(picked.ok());
    // The adapter's own text, then the port it is about.
    const QString text = QString::fromStdString(picked.error());
    EXPECT_EQ(text.section(u'\n', 0, 0), "ie_BadId - Specified comport doesn't exist");
    EXPECT_TRUE(text.section(u'\n', 1).startsWith("COM12 (")) << picked.error();
    EXPECT_EQ(comm->ComNumber(), 12);
    EXPECT_FALSE(comm->Timer().isActive());
    EXPECT_EQ(portBox.currentText(), "COM12");
    EXPECT_FALSE(speedBox.enabled);
    EXPECT_EQ(speedBox.count(), 0);
    EXPECT_EQ(speedBox.currentText(), "500Kbit");
    EXPECT_THAT(comm->InfoText().toStdString(), ::testing::HasSubstr("not open"));

    // Sending now reports the closed port, and nothing counts as sent; the
    // speed box cannot change the channel.
    EXPECT_EQ(comm->SendFrame(Frame(0x001, {})).error(), "ie_NOpen - device not open");
    EXPECT_EQ(comm->Statistics().Sent(clock.Now()), 0u);
    comm->SpeedChange();
    EXPECT_THAT(log, IsEmpty());
}

TEST_F(CommTest, BackToUsbShowsDefaultSpeedButKeepsChannelRate)
{
    Init();
    EXPECT_TRUE(speedBox.UserSelects("125Kbit").ok());
    clock.Advance(TUSB2CAN::kSettleWait);
    comm->Timer().tick();
    portBox.addItem("COM3", 3);
    EXPECT_FALSE(portBox.UserSelects("COM3").ok());
    log.clear();
    EXPECT_TRUE(portBox.UserSelects("USB").ok());
    EXPECT_EQ(comm->ComNumber(), 0);
    EXPECT_TRUE(speedBox.enabled);
    EXPECT_EQ(speedBox.count(), 9);
    EXPECT_EQ(speedBox.currentText(), "500Kbit");
    EXPECT_EQ(usb->BitrateCode(), 0x031Cu);
    EXPECT_THAT(log, IsEmpty()); // not reinitialised
    EXPECT_TRUE(comm->Timer().isActive());

    // The timer polls the channel again.
    Record();
    driver->QueueFrame(Frame(0x181, {1}));
    comm->Timer().tick();
    EXPECT_EQ(seen.size(), 1u);
}

TEST_F(CommTest, HandlerThatThrowsLosesNothingAndDoesNotJamTheTimer)
{
    Init();
    OpenAt(0x0014);
    int calls = 0;
    comm->SetOnFrame([&](TComm* sender, int slot) {
        seen.push_back(SlotBytes(sender->Slot(slot)));
        if (++calls == 1)
            throw std::runtime_error("decoder failed");
    });
    driver->QueueFrame(Frame(0x181, {1}));
    driver->QueueFrame(Frame(0x182, {2}));
    EXPECT_THROW(comm->Timer().tick(), std::runtime_error);
    comm->Timer().tick();
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_THAT(seen[1], ElementsAre(0x7E, 1, 0x30, 0x40, 2));
}

// A modal message box opened by the frame handler runs a nested event loop in
// which the poll timer fires again; those ticks must read nothing.
TEST_F(CommTest, NestedEventLoopInHandlerNeitherReentersNorLosesFrames)
{
    Init();
    OpenAt(0x0014);
    for (uint8_t i = 0; i < 6; ++i)
        driver->QueueFrame(Frame(0x181, {i}));
    int depth = 0;
    int maxDepth = 0;
    std::vector<uint8_t> order;
    comm->SetOnFrame([&](TComm* sender, int slot) {
        ++depth;
        maxDepth = std::max(maxDepth, depth);
        order.push_back(sender->Slot(slot).bytes[4]);
        if (order.size() == 2) {
            const int readsBefore = driver->readCalls;
            sender->Timer().tick(); // as the timer would, directly
            QEventLoop loop;        // and for real: the 3 ms timer is running
            QTimer::singleShot(60, &loop, &QEventLoop::quit);
            loop.exec();
            EXPECT_EQ(driver->readCalls, readsBefore);
        }
        --depth;
    });
    comm->Timer().tick();
    EXPECT_EQ(maxDepth, 1);
    EXPECT_THAT(order, ElementsAre(0, 1, 2, 3, 4, 5));
}

TEST_F(CommTest, LongMixedBurstInLargeBatchesReachesHandlerOnceInOrder)
{
    Init();
    OpenAt(0x0014);
    constexpr int kFrames = 200000;
    constexpr int kBatch = 5000;
    int next = 0;
    int batchEnd = 0;
    driver->onRead = [&](tervix::BusFrame& f) {
        if (next == batchEnd)
            return DriverResult::Empty;
        // Mixed identifiers and lengths; the sequence number rides in the data.
        const int n = next++;
        const uint8_t len = static_cast<uint8_t>(3 + n % 6);
        f = Frame(static_cast<uint32_t>((0x080 + (n % 7) * 0x100 + n % 32) & 0x7FF), {});
        f.length = len;
        f.data = {uint8_t(n), uint8_t(n >> 8), uint8_t(n >> 16), 0xEE, 0xEE, 0xEE, 0xEE, 0xEE};
        return DriverResult::Ok;
    };
    int expected = 0;
    int wrong = 0;
    comm->SetOnFrame([&](TComm* sender, int slot) {
        const tervix::ReceiveSlot& s = sender->Slot(slot);
        const int n = s.bytes[4] | (s.bytes[5] << 8) | (s.bytes[6] << 16);
        const unsigned id = (unsigned(s.bytes[2]) << 3) | (s.bytes[3] >> 5);
        if (n != expected || s.count != 4u + 3 + unsigned(n % 6) ||
            id != ((0x080 + (n % 7) * 0x100 + n % 32) & 0x7FF))
            ++wrong;
        ++expected;
    });
    QSignalSpy finished(comm.get(), &TComm::pollFinished);
    while (batchEnd < kFrames) {
        batchEnd += kBatch;
        comm->Timer().tick();
    }
    EXPECT_EQ(expected, kFrames);
    EXPECT_EQ(wrong, 0);
    EXPECT_EQ(finished.count(), kFrames / kBatch);
}

TEST_F(CommTest, TransportDestroyedBeforeChannelLeavesChannelSafe)
{
    Init();
    PollTimer* timer = &comm->Timer();
    QSignalSpy destroyed(timer, &QObject::destroyed);
    comm.reset();
    EXPECT_EQ(destroyed.count(), 1);
    driver->SetStatus(QStringLiteral("changed")); // would call into the destroyed transport
    usb.reset();
    EXPECT_EQ(log.back(), "close");
}

struct MappingCase {
    const char* text;
    bool ok;
    int port;
    const char* path;
};

class ComMapping : public ::testing::TestWithParam<MappingCase> {};

TEST_P(ComMapping, AcceptsOnlyNumberInRangeAndPath)
{
    ComPortMap map;
    QString error;
    const QString before = map.path(GetParam().port);
    EXPECT_EQ(map.addMapping(QString::fromUtf8(GetParam().text), &error), GetParam().ok)
        << error.toStdString();
    EXPECT_EQ(map.path(GetParam().port), GetParam().ok ? QString::fromUtf8(GetParam().path) : before);
    EXPECT_EQ(error.isEmpty(), GetParam().ok);
}

INSTANTIATE_TEST_SUITE_P(Mappings, ComMapping,
                         ::testing::Values(MappingCase{"5=/dev/pts/3", true, 5, "/dev/pts/3"},
                                           MappingCase{" 99 = /tmp/x ", true, 99, "/tmp/x"},
                                           MappingCase{"1=COM7", true, 1, "COM7"},
                                           MappingCase{"0=/dev/x", false, 0, ""},
                                           MappingCase{"100=/dev/x", false, 100, ""},
                                           MappingCase{"+5=/dev/x", false, 5, ""},
                                           MappingCase{"x=/dev/x", false, 5, ""},
                                           MappingCase{"5=", false, 5, ""}, MappingCase{"5", false, 5, ""}));

#ifndef Q_OS_WIN
// A mapping to a path that is not there stays out of the port list; the
// start-up log says why instead of the port just missing.
class ComMappingNote : public ::testing::TestWithParam<std::pair<const char*, const char*>> {};

TEST_P(ComMappingNote, SaysWhenThePathDoesNotExist)
{
    QString note = QStringLiteral("left from before");
    ASSERT_TRUE(ComPortMap().addMapping(QString::fromUtf8(GetParam().first), nullptr, &note));
    EXPECT_EQ(note, QString::fromUtf8(GetParam().second));
}

INSTANTIATE_TEST_SUITE_P(Paths, ComMappingNote,
                         ::testing::Values(std::pair{"7=/nonexistent/tty", "--com 7=/nonexistent/tty: "
                                                                           "/nonexistent/tty does not exist; "
                                                                           "COM7 is not listed"},
                                           std::pair{" 12 = /dev/null ", ""}));

struct DefaultCase {
    int port;
    const char* path;
};

class ComDefaults : public ::testing::TestWithParam<DefaultCase> {};

TEST_P(ComDefaults, FixedTableReachesSerialUsbAndAcmDevices)
{
    EXPECT_EQ(ComPortMap().path(GetParam().port), QString::fromUtf8(GetParam().path));
}

INSTANTIATE_TEST_SUITE_P(Table, ComDefaults,
                         ::testing::Values(DefaultCase{1, "/dev/ttyS0"}, DefaultCase{32, "/dev/ttyS31"},
                                           DefaultCase{33, "/dev/ttyUSB0"}, DefaultCase{64, "/dev/ttyUSB31"},
                                           DefaultCase{65, "/dev/ttyACM0"}, DefaultCase{96, "/dev/ttyACM31"},
                                           DefaultCase{97, ""}, DefaultCase{0, ""}, DefaultCase{100, ""}));
#endif

} // namespace
