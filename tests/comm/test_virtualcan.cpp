// The SerialBus back-end over Qt's virtualcan bus: two devices in one process.
// The bus is one TCP server shared by the whole machine, hence the ctest lock.
#include "MyComm.h"
#include "fakes.h"
#include "serialbus_driver.h"

#include <QCanBus>
#include <QTest>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <memory>

namespace {

constexpr int kWaitMs = 30000;

bool Connected(SerialBusDriver& d)
{
    return d.device() && d.device()->state() == QCanBusDevice::ConnectedState;
}

TEST(VirtualCan, TwoDriversExchangeFrames)
{
    SerialBusDriver a(QStringLiteral("virtualcan"), QStringLiteral("can0"));
    SerialBusDriver b(QStringLiteral("virtualcan"), QStringLiteral("can0"));
    ASSERT_EQ(b.init(0x001C), DriverResult::Ok);
    ASSERT_TRUE(QTest::qWaitFor([&] { return Connected(b); }, kWaitMs));
    // Written while still connecting: held, then sent.
    ASSERT_EQ(a.init(0x001C), DriverResult::Ok);
    ASSERT_EQ(a.write(Frame(0x605, {0x40, 0x00, 0x10, 0x00})), DriverResult::Ok);

    tervix::BusFrame f;
    ASSERT_TRUE(QTest::qWaitFor([&] { return b.read(f) == DriverResult::Ok; }, kWaitMs));
    EXPECT_EQ(FrameText(f), "605 l4 40 00 10 00");
    EXPECT_EQ(b.statusText(), "virtualcan:can0: connected at 500 kbit/s");

    ASSERT_TRUE(Connected(a));
    ASSERT_EQ(b.write(Frame(0x585, {0x4B, 0x00, 0x10})), DriverResult::Ok);
    ASSERT_TRUE(QTest::qWaitFor([&] { return a.read(f) == DriverResult::Ok; }, kWaitMs));
    EXPECT_EQ(FrameText(f), "585 l3 4B 00 10");
}

TEST(VirtualCan, FramesFromAnotherClientReachTheFrameHandlerAndBack)
{
    const ComPortMap noPorts = NoSerialPorts();
    tervix::ManualClock clock;
    TUSB2CAN usb(std::make_unique<SerialBusDriver>(QStringLiteral("virtualcan"), QStringLiteral("can0")),
                 clock);
    TComm comm(usb, noPorts);
    FakeChoiceBox portBox;
    FakeChoiceBox speedBox;
    comm.InitLists(portBox, speedBox);
    std::vector<std::vector<uint8_t>> seen;
    comm.SetOnFrame([&](TComm* sender, int slot) {
        auto v = sender->Slot(slot).View();
        seen.emplace_back(v.begin(), v.end());
    });

    QString error;
    std::unique_ptr<QCanBusDevice> peer(
        QCanBus::instance()->createDevice(QStringLiteral("virtualcan"), QStringLiteral("can0"), &error));
    ASSERT_NE(peer, nullptr) << error.toStdString();
    ASSERT_TRUE(peer->connectDevice());

    // The first send opens the channel; the frame goes out once the driver
    // has settled, by the clock the real timer's ticks read.
    comm.SendFrame(std::vector<uint8_t>{0x7E, 0x02, 0x00, 0x00, 0x01, 0x05});
    clock.Advance(TUSB2CAN::kSettleWait);
    EXPECT_THAT(comm.InfoText().toStdString(), ::testing::HasSubstr("virtualcan:can0"));
    ASSERT_TRUE(QTest::qWaitFor([&] { return peer->framesAvailable() > 0; }, kWaitMs));
    const QCanBusFrame out = peer->readFrame();
    EXPECT_EQ(out.frameId(), 0u);
    EXPECT_EQ(out.payload(), QByteArray::fromHex("0105"));

    ASSERT_TRUE(peer->writeFrame(QCanBusFrame(0x701, QByteArray::fromHex("05"))));
    ASSERT_TRUE(peer->writeFrame(QCanBusFrame(0x185, QByteArray::fromHex("0102030405060708"))));
    QCanBusFrame extended(0x18FF0102, QByteArray::fromHex("0A"));
    extended.setExtendedFrameFormat(true);
    ASSERT_TRUE(peer->writeFrame(extended));
    ASSERT_TRUE(QTest::qWaitFor([&] { return seen.size() >= 3; }, kWaitMs)); // the real 3 ms timer polls
    EXPECT_THAT(seen,
                ::testing::ElementsAre(::testing::ElementsAre(0x7E, 0x01, 0xE0, 0x20, 0x05),
                                       ::testing::ElementsAre(0x7E, 0x08, 0x30, 0xA0, 1, 2, 3, 4, 5, 6, 7, 8),
                                       ::testing::ElementsAre(0x7E, 0x81, 0x20, 0x40, 0x0A)));
}

} // namespace
