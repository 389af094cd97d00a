// The SerialBus back-end over Qt's virtualcan bus: two devices in one process.
// The bus is one TCP server shared by the whole machine, hence the ctest lock.
#include "MyComm.h"
#include "fakes.h"
#include "recorder.h"
#include "replay_driver.h"
#include "serialbus_driver.h"

#include <QCanBus>
#include <QFile>
#include <QTemporaryDir>
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

// A recording's lines without their time stamps: "rx 705#05".
std::vector<std::string> Recorded(const QString& path)
{
    QFile file(path);
    EXPECT_TRUE(file.open(QIODevice::ReadOnly));
    std::vector<std::string> lines;
    for (const QByteArray& line : file.readAll().split('\n'))
        if (const qsizetype at = line.indexOf(") "); at >= 0)
            lines.push_back(line.mid(at + 2).toStdString());
    return lines;
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

    ReceivedFrame f;
    ASSERT_TRUE(QTest::qWaitFor([&] { return b.read(f) == DriverResult::Ok; }, kWaitMs));
    EXPECT_EQ(FrameText(f.frame), "605 l4 40 00 10 00");
    EXPECT_EQ(b.statusText(), "virtualcan:can0: connected at 500 kbit/s");

    ASSERT_TRUE(Connected(a));
    ASSERT_EQ(b.write(Frame(0x585, {0x4B, 0x00, 0x10})), DriverResult::Ok);
    ASSERT_TRUE(QTest::qWaitFor([&] { return a.read(f) == DriverResult::Ok; }, kWaitMs));
    EXPECT_EQ(FrameText(f.frame), "585 l3 4B 00 10");
}

// Recorded as candump writes them, all 29 identifier bits included; played
// back from that recording, the same lines are recorded again.
TEST(VirtualCan, FramesFromAnotherClientReachTheFrameHandlerTheRecordingAndBack)
{
    const ComPortMap noPorts = NoSerialPorts();
    QTemporaryDir dir;
    const QString live = dir.filePath(QStringLiteral("live.log"));
    const QString again = dir.filePath(QStringLiteral("again.log"));
    tervix::ManualClock clock;
    TUSB2CAN usb(
        std::make_unique<SerialBusDriver>(QStringLiteral("virtualcan"), QStringLiteral("can0"), clock),
        clock);
    TComm comm(usb, noPorts);
    Recorder recorder(nullptr, Recorder::kFlushInterval, clock);
    ASSERT_TRUE(recorder.Start(live));
    comm.SetRecorder(&recorder);
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
    ASSERT_TRUE(comm.SendFrame(Frame(0x000, {0x01, 0x05})).ok());
    clock.Advance(TUSB2CAN::kSettleWait);
    EXPECT_THAT(comm.InfoText().toStdString(), ::testing::HasSubstr("virtualcan:can0"));
    ASSERT_TRUE(QTest::qWaitFor([&] { return peer->framesAvailable() > 0; }, kWaitMs));
    const QCanBusFrame out = peer->readFrame();
    EXPECT_EQ(out.frameId(), 0u);
    EXPECT_EQ(out.payload(), QByteArray::fromHex("0105"));

    ASSERT_TRUE(peer->writeFrame(QCanBusFrame(0x701, QByteArray::fromHex("05"))));
    ASSERT_TRUE(peer->writeFrame(QCanBusFrame(0x185, QByteArray::fromHex("0102030405060708"))));
    QCanBusFrame extended(0x12345678, QByteArray::fromHex("0102"));
    extended.setExtendedFrameFormat(true);
    ASSERT_TRUE(peer->writeFrame(extended));
    ASSERT_TRUE(QTest::qWaitFor([&] { return seen.size() >= 3; }, kWaitMs)); // the real 3 ms timer polls
    EXPECT_THAT(seen,
                ::testing::ElementsAre(::testing::ElementsAre(0x7E, 0x01, 0xE0, 0x20, 0x05),
                                       ::testing::ElementsAre(0x7E, 0x08, 0x30, 0xA0, 1, 2, 3, 4, 5, 6, 7, 8),
                                       ::testing::ElementsAre(0x7E, 0x82, 0xCF, 0x00, 0x01, 0x02)));
    recorder.Stop();
    const std::vector<std::string> received{"rx 701#05", "rx 185#0102030405060708", "rx 12345678#0102"};
    std::vector<std::string> expected{"tx 000#0105"};
    expected.insert(expected.end(), received.begin(), received.end());
    EXPECT_EQ(Recorded(live), expected);

    // --can replay:live.log --record again.log
    TUSB2CAN replayed(std::make_unique<ReplayDriver>(live, 0.0, clock), clock);
    TComm replay(replayed, noPorts);
    Recorder rerecorder(nullptr, Recorder::kFlushInterval, clock);
    ASSERT_TRUE(rerecorder.Start(again));
    replay.SetRecorder(&rerecorder);
    replayed.SetBitrate(0x011C);
    clock.Advance(TUSB2CAN::kSettleWait);
    replay.Timer().tick();
    rerecorder.Stop();
    // The sent frame replays as sent, and is recorded again as such.
    EXPECT_EQ(Recorded(again), expected);
}

} // namespace
