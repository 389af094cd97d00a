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

namespace {

class AdapterTest : public WindowOnFakeDriver {
protected:
    AdapterTest() { form->show(); }
    std::vector<std::string> Writes() const
    {
        std::vector<std::string> w;
        for (const std::string& entry : log)
            if (entry.rfind("write", 0) == 0)
                w.push_back(entry);
        return w;
    }
};

TEST_F(AdapterTest, StartsOnUsbWithTheDefaultRateAndShowsTheAdapter)
{
    EXPECT_EQ(form->cbxAdaptorPort->currentText(), "USB");
    EXPECT_EQ(form->cbxCANspeed->currentText(), "500Kbit");
    EXPECT_EQ(form->cbxCANspeed->count(), 9);
    EXPECT_FALSE(form->lbInfo->text().isEmpty());
    EXPECT_EQ(usb->BitrateCode(), 0x001Cu);
    EXPECT_TRUE(log.empty());  // the channel opens on the first send
}

TEST_F(AdapterTest, RequestsGoOutAndAnswersComeBackThroughTheChannel)
{
    form->cbxCANaddr->setCurrentIndex(5);
    QTest::mouseClick(form->btNMT_Start, Qt::LeftButton);
    EXPECT_THAT(log, ElementsAre("init 001C 0", "sleep 200", "write 000 t0 l2 01 05"));

    driver->QueueFrame(Frame(0x705, {0x05}));
    driver->QueueFrame(Frame(0x183, {0x00, 0x00, 0x80, 0x3F, 0x00, 0x00, 0x07, 0x00}));
    Tick();
    EXPECT_EQ(form->Memo1->Line(form->Memo1->LineCount() - 1), "SFF: NMT Handling addr=05 Data= 05 ");
    EXPECT_EQ(form->UnitBoxes[7]->ValueEdit()->text(), "1.000");  // refreshed at the end of the tick
    EXPECT_EQ(form->FrameCounters[tervix::kTpdo1], 1u);
}

TEST_F(AdapterTest, DeviceSearchFillsNodeAndBitRate)
{
    driver->QueueBusError();                 // nothing at 1 Mbit/s
    driver->QueueFrame(Frame(0x18A, {1}));   // node 10 answers at 500 kbit/s
    form->btFindClick();
    Tick();
    EXPECT_EQ(form->cbxCANaddr->currentText(), "10");
    EXPECT_EQ(form->cbxCANspeed->currentText(), "500Kbit");
    EXPECT_THAT(Writes(), ElementsAre("write 000 t0 l1 01", "write 000 t0 l1 01"));
    EXPECT_EQ(log.front(), "init 0014 0");
}

TEST_F(AdapterTest, MessageBoxPausesPollingAndLosesNothing)
{
    // An SDO abort opens a message box; while it is open the poll timer
    // fires again (a nested event loop) and must read nothing.
    int readsWhileOpen = -1;
    sink.whileOpen = [&] {
        const int before = driver->readCalls;
        Tick();
        readsWhileOpen = driver->readCalls - before;
    };
    usb->SetBitrate(0x011C);  // opens the channel
    driver->QueueFrame(Frame(0x581, {0x80, 0x00, 0x20, 0x01, 0x06, 0x02, 0x00, 0x00}));
    driver->QueueFrame(Frame(0x705, {0x7F}));
    driver->QueueFrame(Frame(0x080, {}));
    Tick();
    EXPECT_EQ(readsWhileOpen, 0);
    ASSERT_EQ(sink.messages.size(), 1u);
    EXPECT_EQ(form->Memo1->LineCount(), 2u);
    EXPECT_EQ(form->Memo1->Line(1), "SFF: SYNC  addr=00 Data= ");
}

} // namespace
