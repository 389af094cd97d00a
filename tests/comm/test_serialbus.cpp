// The Qt SerialBus back-end: how device events become driver results, with a
// device that misbehaves on purpose.
#include "fakes.h"
#include "serialbus_driver.h"
#include "usb2can.h"

#include <QCanBusDevice>
#include <QPointer>
#include <QSignalSpy>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <optional>

namespace {

class FakeCanDevice final : public QCanBusDevice {
public:
    bool open() override
    {
        if (!canOpen) {
            setError(QStringLiteral("no such interface"), ConnectionError);
            return false;
        }
        setState(connectAtOnce ? ConnectedState : ConnectingState);
        return true;
    }
    void close() override { setState(UnconnectedState); }
    bool writeFrame(const QCanBusFrame& frame) override
    {
        if (state() != ConnectedState)
            return false;
        written.append(frame);
        return true;
    }
    QString interpretErrorFrame(const QCanBusFrame&) override { return {}; }

    void Arrive(const QList<QCanBusFrame>& frames) { enqueueReceivedFrames(frames); }
    void FinishConnecting() { setState(ConnectedState); }
    void Lose() { setState(UnconnectedState); }
    void ReadFails() { setError(QStringLiteral("bus error"), ReadError); }

    bool canOpen = true;
    bool connectAtOnce = true;
    QList<QCanBusFrame> written;
};

class SerialBusTest : public ::testing::Test {
protected:
    SerialBusDriver::DeviceFactory Factory()
    {
        return [this](QString* error) -> QCanBusDevice* {
            if (refuse) {
                *error = QStringLiteral("plugin refused");
                return nullptr;
            }
            auto* d = new FakeCanDevice;
            d->canOpen = canOpen;
            d->connectAtOnce = connectAtOnce;
            device = d;
            return d;
        };
    }

    std::string Read()
    {
        ReceivedFrame f;
        switch (driver.read(f)) {
        case DriverResult::Ok: return FrameText(f.frame);
        case DriverResult::ErrorFrame: return "error";
        case DriverResult::Empty: return "empty";
        case DriverResult::NotOpen: return "not open";
        default: return "other";
        }
    }

    bool refuse = false;
    bool canOpen = true;
    bool connectAtOnce = true;
    QPointer<FakeCanDevice> device;
    SerialBusDriver driver{QStringLiteral("fake"), QStringLiteral("can0"), Factory()};
};

TEST_F(SerialBusTest, InitMapsCodeToBitRateAndRefusesUnknownCodes)
{
    ASSERT_EQ(driver.init(0x031C), DriverResult::Ok);
    EXPECT_EQ(device->configurationParameter(QCanBusDevice::BitRateKey).toUInt(), 125000u);
    EXPECT_EQ(driver.statusText(), "fake:can0: connected at 125 kbit/s");

    EXPECT_EQ(driver.init(0x1234), DriverResult::BadBitRate);
    EXPECT_EQ(driver.device(), nullptr);
    EXPECT_THAT(driver.statusText().toStdString(), ::testing::HasSubstr("unknown bit-rate code"));
}

TEST_F(SerialBusTest, MissingPluginOrInterfaceFailsInitAndEveryCall)
{
    refuse = true;
    EXPECT_EQ(driver.init(0x001C), DriverResult::Missing);
    EXPECT_THAT(driver.statusText().toStdString(), ::testing::HasSubstr("plugin refused"));
    refuse = false;
    canOpen = false;
    EXPECT_EQ(driver.init(0x001C), DriverResult::Missing);
    EXPECT_THAT(driver.statusText().toStdString(), ::testing::HasSubstr("no such interface"));
    EXPECT_EQ(Read(), "not open");
    EXPECT_EQ(driver.write(Frame(1, {1})), DriverResult::NotOpen);
}

TEST_F(SerialBusTest, ReadsDataFramesWithTheirFlagsAndErrorFramesAsSuch)
{
    ASSERT_EQ(driver.init(0x001C), DriverResult::Ok);
    QCanBusFrame remote(0x123, {});
    remote.setFrameType(QCanBusFrame::RemoteRequestFrame);
    QCanBusFrame extended(0x1ABCDE, QByteArray::fromHex("0102"));
    extended.setExtendedFrameFormat(true);
    QCanBusFrame fd(0x100, QByteArray(12, '\x07'));
    fd.setFlexibleDataRateFormat(true);
    QCanBusFrame error(QCanBusFrame::ErrorFrame);
    device->Arrive({QCanBusFrame(0x605, QByteArray::fromHex("4000100000000000")), remote, extended, fd, error,
                    QCanBusFrame(0x181, QByteArray::fromHex("AA"))});

    std::vector<std::string> got;
    for (int i = 0; i < 8; ++i)
        got.push_back(Read());
    EXPECT_THAT(got, ::testing::ElementsAre("605 l8 40 00 10 00 00 00 00 00", "123 rtr l0",
                                            "1ABCDE ext l2 01 02", "100 l8 07 07 07 07 07 07 07 07", "error",
                                            "181 l1 AA", "empty", "empty"));
}

// Stamps in ms on the device's clock, the program's clock in ms when each is
// read, and the time the frame gets on the program's clock.
struct MapStep {
    int stamp;
    int now;
    int mapped;
};

class StampMapping : public ::testing::TestWithParam<std::vector<MapStep>> {};

TEST_P(StampMapping, FollowsTheQuickestReadAndStartsAfreshWhenTheDeviceClockJumps)
{
    DeviceTimeMap map;
    const tervix::TimePoint zero{std::chrono::hours(1)};
    for (const MapStep& step : GetParam()) {
        const tervix::TimePoint at = map.Map(std::chrono::milliseconds(step.stamp + 100000),
                                             zero + std::chrono::milliseconds(step.now));
        EXPECT_EQ(at, zero + std::chrono::milliseconds(step.mapped)) << "stamp " << step.stamp;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Sequences, StampMapping,
    ::testing::Values(
        // A stamp that would lie in the future: read sooner than the first
        // (or the device's clock set forward).
        std::vector<MapStep>{{0, 5, 5}, {10, 12, 12}, {20, 23, 22}, {5000, 40, 40}, {5010, 50, 50}},
        // The device's clock set back by two seconds, and one read over a
        // second late: both start afresh.
        std::vector<MapStep>{{3000, 0, 0}, {1000, 10, 10}, {1005, 15, 15}, {1010, 1200, 1200}}));

// Before, one error frame closed the channel and the frames behind it were
// lost until the next send.
TEST_F(SerialBusTest, FramesQueuedBehindErrorFramesAndReadErrorsAllArrive)
{
    tervix::ManualClock clock;
    SerialBusDriver* owned = new SerialBusDriver(QStringLiteral("fake"), QStringLiteral("can0"), Factory());
    TUSB2CAN channel(std::unique_ptr<CanDriver>(owned), clock);
    std::vector<std::string> got;
    channel.SetOnReceive([&](TUSB2CAN*, const tervix::BusFrame& f) { got.push_back(FrameText(f)); });
    channel.SetBitrate(0x0014);
    clock.Advance(TUSB2CAN::kSettleWait);
    channel.Tick();
    ASSERT_TRUE(channel.IsOpen());
    device->Arrive({QCanBusFrame(0x181, QByteArray::fromHex("01")), QCanBusFrame(QCanBusFrame::ErrorFrame),
                    QCanBusFrame(0x182, QByteArray::fromHex("02")),
                    QCanBusFrame(0x183, QByteArray::fromHex("03"))});
    device->ReadFails();
    channel.Tick();
    EXPECT_THAT(got, ::testing::ElementsAre("181 l1 01", "182 l1 02", "183 l1 03"));
    EXPECT_TRUE(channel.IsOpen());
    EXPECT_EQ(channel.ErrorFrames(), 2u);
    device->Arrive({QCanBusFrame(0x184, QByteArray::fromHex("04"))});
    channel.Tick();
    EXPECT_EQ(got.size(), 4u);
}

TEST_F(SerialBusTest, ReadErrorsShowOnceAndALostConnectionAsNotOpen)
{
    ASSERT_EQ(driver.init(0x001C), DriverResult::Ok);
    device->ReadFails();
    EXPECT_EQ(Read(), "error");
    EXPECT_EQ(Read(), "empty"); // reported once
    device->Arrive({QCanBusFrame(0x181, QByteArray::fromHex("AA"))});
    device->Lose();
    EXPECT_EQ(Read(), "not open");
    EXPECT_THAT(driver.statusText().toStdString(), ::testing::HasSubstr("connection lost"));
}

TEST_F(SerialBusTest, ClosingOnPurposeIsNotALostBus)
{
    ASSERT_EQ(driver.init(0x001C), DriverResult::Ok);
    EXPECT_EQ(driver.close(), DriverResult::Ok);
    EXPECT_EQ(driver.statusText(), "fake:can0: closed");
    EXPECT_EQ(Read(), "not open");
}

TEST_F(SerialBusTest, FramesWrittenWhileConnectingAreSentOnceConnected)
{
    connectAtOnce = false;
    ASSERT_EQ(driver.init(0x0014), DriverResult::Ok);
    EXPECT_THAT(driver.statusText().toStdString(), ::testing::HasSubstr("connecting at 1000 kbit/s"));
    EXPECT_EQ(driver.write(Frame(0x000, {0x01})), DriverResult::Ok);
    EXPECT_EQ(driver.write(Frame(0x605, {0x40, 0x00})), DriverResult::Ok);
    EXPECT_TRUE(device->written.isEmpty());
    device->FinishConnecting();
    ASSERT_EQ(device->written.size(), 2);
    EXPECT_EQ(device->written[0].frameId(), 0u);
    EXPECT_EQ(device->written[1].frameId(), 0x605u);
    EXPECT_EQ(device->written[1].payload(), QByteArray::fromHex("4000"));
    EXPECT_FALSE(device->written[1].hasExtendedFrameFormat());
}

TEST_F(SerialBusTest, PendingWritesAreBounded)
{
    connectAtOnce = false;
    ASSERT_EQ(driver.init(0x0014), DriverResult::Ok);
    int accepted = 0;
    for (int i = 0; i < 1000; ++i)
        accepted += driver.write(Frame(1, {1})) == DriverResult::Ok;
    EXPECT_LT(accepted, 1000);
    EXPECT_GT(accepted, 0);
}

struct StatusRateCase {
    uint32_t rate;
    const char* status;
};

class SerialBusSystemRate : public SerialBusTest, public ::testing::WithParamInterface<StatusRateCase> {};

// Before, "connected at 1000 kbit/s" was shown although the interface ran at
// whatever the system had set.
TEST_P(SerialBusSystemRate, StatusSaysTheSystemSetsTheRateAndLeavesItAlone)
{
    const uint32_t rate = GetParam().rate;
    SerialBusDriver socketcan(QStringLiteral("socketcan"), QStringLiteral("can0"), Factory(),
                              [rate] { return rate; });
    EXPECT_TRUE(socketcan.systemSetsBitRate());
    ASSERT_EQ(socketcan.init(0x0014), DriverResult::Ok);
    EXPECT_FALSE(device->configurationParameter(QCanBusDevice::BitRateKey).isValid());
    EXPECT_EQ(socketcan.statusText(), GetParam().status);
}

INSTANTIATE_TEST_SUITE_P(
    Rates, SerialBusSystemRate,
    ::testing::Values(StatusRateCase{250000,
                                     "socketcan:can0: connected; the system sets the bit rate (250 kbit/s "
                                     "here), the speed box cannot change it"},
                      StatusRateCase{0,
                                     "socketcan:can0: connected; the system sets the bit rate, the speed box "
                                     "cannot change it"}));

TEST(SocketCanRate, NoRateForInterfacesThatAreNotCan)
{
    EXPECT_EQ(SocketCanBitRate(QStringLiteral("lo")), 0u);
    EXPECT_EQ(SocketCanBitRate(QStringLiteral("tervix-no-such-if")), 0u);
}

} // namespace
