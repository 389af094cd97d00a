// The Qt SerialBus back-end: how device events become driver results, with a
// device that misbehaves on purpose.
#include "fakes.h"
#include "serialbus_driver.h"

#include <QCanBusDevice>
#include <QPointer>
#include <QSignalSpy>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

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
    SerialBusTest()
        : driver(QStringLiteral("fake"), QStringLiteral("can0"), [this](QString* error) -> QCanBusDevice* {
              ++created;
              if (refuse) {
                  *error = QStringLiteral("plugin refused");
                  return nullptr;
              }
              auto* d = new FakeCanDevice;
              d->canOpen = canOpen;
              d->connectAtOnce = connectAtOnce;
              device = d;
              return d;
          })
    {
    }

    bool refuse = false;
    bool canOpen = true;
    bool connectAtOnce = true;
    int created = 0;
    QPointer<FakeCanDevice> device;
    SerialBusDriver driver;
};

TEST_F(SerialBusTest, InitMapsCodeToBitRateAndRefusesUnknownCodes)
{
    ASSERT_EQ(driver.init(0x031C, 0), 0u);
    EXPECT_EQ(device->configurationParameter(QCanBusDevice::BitRateKey).toUInt(), 125000u);
    EXPECT_EQ(driver.statusText(), "fake:can0: connected at 125 kbit/s");

    EXPECT_EQ(driver.init(0x1234, 0), kDriverBadBitRate);
    EXPECT_EQ(driver.device(), nullptr);
    EXPECT_THAT(driver.statusText().toStdString(), ::testing::HasSubstr("unknown bit-rate code"));
}

TEST_F(SerialBusTest, MissingPluginOrInterfaceFailsInitAndEveryCall)
{
    refuse = true;
    EXPECT_NE(driver.init(0x001C, 0), 0u);
    EXPECT_THAT(driver.statusText().toStdString(), ::testing::HasSubstr("plugin refused"));
    refuse = false;
    canOpen = false;
    EXPECT_NE(driver.init(0x001C, 0), 0u);
    EXPECT_THAT(driver.statusText().toStdString(), ::testing::HasSubstr("no such interface"));
    CanFrame f;
    EXPECT_NE(driver.read(f), 0u);
    EXPECT_LE(f.len, 8);
    EXPECT_NE(driver.write(Frame(1, {1})), 0u);
}

TEST_F(SerialBusTest, ReadsDataFramesAndReportsErrorsAsOverlongRecords)
{
    ASSERT_EQ(driver.init(0x001C, 0), 0u);
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
    CanFrame f;
    for (int i = 0; i < 8; ++i) {
        const uint32_t r = driver.read(f);
        got.push_back(r == 0 ? FrameText(f) : (f.len > 8 ? "error" : "empty"));
    }
    EXPECT_THAT(got, ::testing::ElementsAre("605 t0 l8 40 00 10 00 00 00 00 00", "123 t1 l0",
                                            "1ABCDE t2 l2 01 02", "100 t0 l8 07 07 07 07 07 07 07 07",
                                            "error", "181 t0 l1 AA", "empty", "empty"));
}

TEST_F(SerialBusTest, LostConnectionAndReadErrorsShowOnceAsOverlongRecord)
{
    ASSERT_EQ(driver.init(0x001C, 0), 0u);
    CanFrame f;
    device->ReadFails();
    EXPECT_NE(driver.read(f), 0u);
    EXPECT_GT(f.len, 8);
    f.len = 0;
    EXPECT_NE(driver.read(f), 0u);
    EXPECT_EQ(f.len, 0); // reported once
    device->Lose();
    EXPECT_NE(driver.read(f), 0u);
    EXPECT_GT(f.len, 8);
    EXPECT_THAT(driver.statusText().toStdString(), ::testing::HasSubstr("connection lost"));
}

TEST_F(SerialBusTest, ClosingOnPurposeIsNotALostBus)
{
    ASSERT_EQ(driver.init(0x001C, 0), 0u);
    EXPECT_EQ(driver.close(), 0u);
    EXPECT_EQ(driver.statusText(), "fake:can0: closed");
    CanFrame f;
    EXPECT_EQ(driver.read(f), kDriverNotOpen);
    EXPECT_EQ(f.len, 0);
}

TEST_F(SerialBusTest, FramesWrittenWhileConnectingAreSentOnceConnected)
{
    connectAtOnce = false;
    ASSERT_EQ(driver.init(0x0014, 0), 0u);
    EXPECT_THAT(driver.statusText().toStdString(), ::testing::HasSubstr("connecting at 1000 kbit/s"));
    CanFrame a = Frame(0x000, {0x01});
    CanFrame b = Frame(0x605, {0x40, 0x00});
    EXPECT_EQ(driver.write(a), 0u);
    EXPECT_EQ(driver.write(b), 0u);
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
    ASSERT_EQ(driver.init(0x0014, 0), 0u);
    int accepted = 0;
    for (int i = 0; i < 1000; ++i)
        accepted += driver.write(Frame(1, {1})) == 0;
    EXPECT_LT(accepted, 1000);
    EXPECT_GT(accepted, 0);
}

} // namespace
