// The main window on a real transport and USB channel over a scripted driver.
#include "log_view.h"
#include "monitor.h"
#include "unit_box.h"
#include "window_on_fake_driver.h"

#include "MyComm.h"
#include "usb2can.h"

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <gmock/gmock.h>
#include <gtest/gtest.h>

using ::testing::ElementsAre;
using namespace std::chrono_literals;

namespace {

class AdapterTest : public WindowOnFakeDriver {
protected:
    AdapterTest() { form->show(); }
};

TEST_F(AdapterTest, StartsOnUsbWithTheDefaultRateAndShowsTheAdapter)
{
    EXPECT_EQ(Find<QComboBox>("cbxAdaptorPort")->currentText(), "USB");
    EXPECT_EQ(Find<QComboBox>("cbxCANspeed")->currentText(), "500Kbit");
    EXPECT_EQ(Find<QComboBox>("cbxCANspeed")->count(), 9);
    EXPECT_FALSE(Find<QLabel>("lbInfo")->text().isEmpty());
    EXPECT_EQ(usb->BitrateCode(), 0x001Cu);
    EXPECT_TRUE(log.empty()); // the channel opens on the first send
}

TEST_F(AdapterTest, EnterInTheSpeedBoxAddsNoEntry)
{
    auto* speed = Find<QComboBox>("cbxCANspeed");
    speed->setFocus();
    speed->lineEdit()->selectAll();
    QTest::keyClicks(speed->lineEdit(), QStringLiteral("333Kbit"));
    QTest::keyClick(speed->lineEdit(), Qt::Key_Return);
    EXPECT_EQ(speed->count(), 9);
    EXPECT_EQ(speed->findText(QStringLiteral("333Kbit")), -1);
}

TEST_F(AdapterTest, RequestsGoOutAndAnswersComeBackThroughTheChannel)
{
    Find<QComboBox>("cbxCANaddr")->setCurrentIndex(5);
    QTest::mouseClick(Find<QPushButton>("btNMT_Start"), Qt::LeftButton);
    EXPECT_THAT(log, ElementsAre("init 001C")); // the frame waits for the driver to settle
    Elapse(199ms);
    EXPECT_THAT(log, ElementsAre("init 001C"));
    Elapse(1ms);
    EXPECT_THAT(log, ElementsAre("init 001C", "write 000 l2 01 05"));

    driver->QueueFrame(Frame(0x705, {0x05}));
    driver->QueueFrame(Frame(0x183, {0x00, 0x00, 0x80, 0x3F, 0x00, 0x00, 0x07, 0x00}));
    Tick();
    EXPECT_EQ(form->Log()->Line(form->Log()->LineCount() - 1), "SFF: NMT Handling addr=05 Data= 05 ");
    form->RefreshNow(); // as the display timer does
    EXPECT_EQ(form->UnitBox(7)->ValueEdit()->text(), "1.000");
    EXPECT_EQ(form->Decoder().Count(tervix::kTpdo1), 1u);
}

TEST_F(AdapterTest, DeviceSearchFillsNodeAndBitRate)
{
    driver->QueueWrongRate();              // nothing at 1 Mbit/s
    driver->QueueFrame(Frame(0x18A, {1})); // node 10 answers at 500 kbit/s
    form->btFindClick();
    for (int i = 0; i < 3; ++i) // wake at 1M, init at 500k, wake at 500k
        Elapse(TUSB2CAN::kSettleWait);
    EXPECT_EQ(Find<QComboBox>("cbxCANaddr")->currentText(), "10");
    EXPECT_EQ(Find<QComboBox>("cbxCANspeed")->currentText(), "500Kbit");
    EXPECT_THAT(log, ElementsAre("init 0014", "write 000 l1 01", "close", "init 001C", "write 000 l1 01"));
}

TEST_F(AdapterTest, MessageBoxLeavesTheBusBeingReadAndLosesNothing)
{
    // An SDO abort raises a message box. It opens after the tick that
    // decoded the abort; while it is open the poll timer goes on firing (the
    // box's own event loop) and every frame that arrives is decoded.
    std::uint32_t countedWhileOpen = 0;
    sink.whileOpen = [&] {
        driver->QueueFrame(Frame(0x183, {0x00, 0x00, 0x80, 0x3F, 0x00, 0x00, 0x07, 0x00}));
        Tick();
        countedWhileOpen = form->Decoder().Count(tervix::kTpdo1);
    };
    usb->SetBitrate(0x011C); // opens the channel
    Elapse(TUSB2CAN::kSettleWait);
    const std::size_t atStart = form->Log()->LineCount(); // the window's own lines
    driver->QueueFrame(Frame(0x581, {0x80, 0x00, 0x20, 0x01, 0x06, 0x02, 0x00, 0x00}));
    driver->QueueFrame(Frame(0x705, {0x7F}));
    driver->QueueFrame(Frame(0x080, {}));
    Tick();
    EXPECT_TRUE(sink.messages.empty()); // not inside the tick
    EXPECT_EQ(form->Log()->LineCount(), atStart + 2);
    form->ShowPendingMessages();
    ASSERT_EQ(sink.messages.size(), 1u);
    EXPECT_EQ(countedWhileOpen, 1u);
    EXPECT_EQ(form->Log()->Line(atStart + 1), "SFF: SYNC  addr=00 Data= ");
}

// The box saying the USB adapter is lost leaves the window usable and goes
// away by itself when what it says no longer holds.
enum class LossEnds { BackBeforeShown, BackWhileShown, UserPicksAPort };

class LostAdapterBox : public AdapterTest, public ::testing::WithParamInterface<LossEnds> {};

TEST_P(LostAdapterBox, ClosesWhenTheLossIsOver)
{
    usb->SetBitrate(0x0014); // opens the channel
    Elapse(TUSB2CAN::kSettleWait);
    driver->onRead = [](tervix::BusFrame&) { return DriverResult::NotOpen; };
    driver->initResult = DriverResult::Missing;
    Elapse(3ms);
    const bool shownFirst = GetParam() != LossEnds::BackBeforeShown;
    if (shownFirst) {
        form->ShowPendingMessages();
        ASSERT_EQ(sink.messages.size(), 1u);
        EXPECT_TRUE(sink.messages[0].text.startsWith("USB lost: ")) << sink.messages[0].text.toStdString();
        EXPECT_EQ(sink.openNotices.size(), 1u);
        EXPECT_EQ(sink.maxOpen, 0); // nothing waited for the box
    }
    driver->onRead = nullptr;
    driver->initResult = DriverResult::Ok;
    if (GetParam() == LossEnds::UserPicksAPort) {
        auto* port = Find<QComboBox>("cbxAdaptorPort");
        emit port->activated(port->currentIndex()); // as the user picks "USB" again
    } else {
        Elapse(std::chrono::milliseconds(TComm::kReopenIntervalMs));
        EXPECT_EQ(form->Log()->Line(form->Log()->LineCount() - 1), "USB back, reopened");
    }
    form->ShowPendingMessages();
    EXPECT_TRUE(sink.openNotices.empty());
    EXPECT_EQ(sink.messages.size(), shownFirst ? 1u : 0u);
}

INSTANTIATE_TEST_SUITE_P(Ends, LostAdapterBox,
                         ::testing::Values(LossEnds::BackBeforeShown, LossEnds::BackWhileShown,
                                           LossEnds::UserPicksAPort));

} // namespace
