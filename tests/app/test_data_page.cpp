#include "log_view.h"
#include "monitor.h"
#include "parameter_pages.h"
#include "recording_message_sink.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>

#include <bit>
#include <cstdio>
#include <map>
#include <stdexcept>
#include <vector>

using namespace tervix;
using namespace std::chrono_literals;

namespace {

using Bytes = std::vector<std::uint8_t>;

class ManualClock : public Clock {
public:
    std::chrono::system_clock::time_point Now() const override { return now; }
    void Sleep(std::chrono::milliseconds d) override { now += d; }
    std::chrono::system_clock::time_point now{std::chrono::seconds(1000)};
};

// Cells of the four parameter pages, by page and sub-index.
class FakePages : public ParameterPages {
public:
    int CellCount(int page) const override { return counts.at(static_cast<std::size_t>(page)); }
    bool StoreValue(int page, int sub, std::int32_t value) override
    {
        if (!Has(page, sub))
            return false;
        values[{page, sub}] = value;
        return true;
    }
    bool MarkFailed(int page, int sub) override
    {
        if (!Has(page, sub))
            return false;
        failed.push_back({page, sub});
        return true;
    }
    bool EnableEdit(int page, int sub) override
    {
        if (!Has(page, sub))
            return false;
        enabled.push_back({page, sub});
        return true;
    }
    bool Has(int page, int sub) const { return sub >= 1 && sub <= CellCount(page); }

    std::array<int, 4> counts{12, 3, 4, 2};
    std::map<std::pair<int, int>, std::int32_t> values;
    std::vector<std::pair<int, int>> failed;
    std::vector<std::pair<int, int>> enabled;
};

Bytes Frame(unsigned id, Bytes data)
{
    return MakePacket(id, data);
}

Bytes I32(std::int32_t v)
{
    const auto u = static_cast<std::uint32_t>(v);
    return {std::uint8_t(u), std::uint8_t(u >> 8), std::uint8_t(u >> 16), std::uint8_t(u >> 24)};
}

Bytes F32(float v)
{
    return I32(std::bit_cast<std::int32_t>(v));
}

Bytes Tpdo1(std::uint8_t unit, Bytes value)
{
    value.insert(value.end(), {0, 0, unit, 0});
    return Frame(0x181, value);
}

class DataPageTest : public ::testing::Test {
protected:
    DataPageTest()
    {
        form.SetFrameSender([this](const FramePacket& p) {
            if (failSend)
                throw std::runtime_error("ie_NOpen - device not open");
            sent.push_back(p);
        });
        form.SetParameterPages(&pages);
        form.show();  // clicks land where the buttons are laid out
        form.WatchdogTimer->stop();  // ticks are driven by hand
    }
    void Receive(const Bytes& m)
    {
        form.FrameReceived(m);
        form.RefreshNow();
    }
    std::string LastLog() const
    {
        return form.Memo1->LineCount() ? form.Memo1->Line(form.Memo1->LineCount() - 1) : std::string();
    }
    Bytes SdoAnswer(std::uint8_t command, std::uint16_t index, std::uint8_t sub, std::int32_t value)
    {
        Bytes d = {command, std::uint8_t(index), std::uint8_t(index >> 8), sub};
        for (auto b : I32(value))
            d.push_back(b);
        return Frame(0x581, d);
    }

    RecordingMessageSink sink;
    ManualClock clock;
    FakePages pages;
    TForm1 form{sink, clock};
    std::vector<FramePacket> sent;
    bool failSend = false;
};

TEST_F(DataPageTest, NmtStartSendsAndSwitchesGuardingOn)
{
    form.cbxCANaddr->setCurrentIndex(5);
    QTest::mouseClick(form.btNMT_Start, Qt::LeftButton);
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0], (Bytes{0x7E, 0x02, 0x00, 0x00, 0x01, 0x05}));
    EXPECT_EQ(LastLog(), "NMT Start");
    EXPECT_TRUE(form.cbTest->isChecked());
    EXPECT_TRUE(form.GuardTimer->isActive());
    EXPECT_TRUE(form.WatchdogTimer->isActive());

    QTest::mouseClick(form.btNMT_Stop, Qt::LeftButton);
    EXPECT_EQ(sent.back(), (Bytes{0x7E, 0x02, 0x00, 0x00, 0x02, 0x05}));
    EXPECT_EQ(LastLog(), "NMT Stop");
    EXPECT_FALSE(form.WatchdogTimer->isActive());  // only the watchdog stops
    EXPECT_TRUE(form.GuardTimer->isActive());
}

TEST_F(DataPageTest, NmtWithoutANodeSendsTheCommandAlone)
{
    form.cbxCANaddr->setCurrentIndex(-1);
    form.btNMT_StartClick();
    EXPECT_EQ(sent.back(), (Bytes{0x7E, 0x01, 0x00, 0x00, 0x01}));
}

TEST_F(DataPageTest, FailedSendIsNotLoggedAndReachesTheCaller)
{
    failSend = true;
    EXPECT_THROW(form.SdoWrite(ObjectWord(0x2100, 3), 1000), std::runtime_error);
    EXPECT_THROW(form.btNMT_StartClick(), std::runtime_error);
    EXPECT_EQ(form.Memo1->LineCount(), 0u);
    EXPECT_FALSE(form.cbTest->isChecked());
}

TEST_F(DataPageTest, SdoRequestsUseTheNodeAndTheUnitAddress)
{
    form.cbxKRVaddr->setEditText("7");
    form.SdoWrite(ObjectWord(0x2100, 3), 1000);
    EXPECT_EQ(sent.back(), (Bytes{0x7E, 0x08, 0xC0, 0x20, 0x22, 0x07, 0x21, 0x03, 0xE8, 0x03, 0x00, 0x00}));
    EXPECT_EQ(LastLog(), "Tx: SDO(2107sub03,1000)");
    form.RefreshNow();
    EXPECT_EQ(form.lbBusy2->text(), "Busy");

    form.SdoRead(ObjectWord(0x1002, 0));
    EXPECT_EQ(sent.back(), (Bytes{0x7E, 0x08, 0xC0, 0x20, 0x40, 0x02, 0x10, 0x00, 0x00, 0x00, 0x00, 0x00}));
    EXPECT_EQ(LastLog(), "Tx: SDO(1002sub00)");

    form.SdoWriteUnitAddress(ObjectWord(0x2005, 1));
    EXPECT_EQ(sent.back(), (Bytes{0x7E, 0x08, 0xC0, 0x20, 0x22, 0x05, 0x20, 0x01, 0x07, 0x00, 0x00, 0x00}));
    EXPECT_EQ(form.Memo1->Line(form.Memo1->LineCount() - 2), "Tx: SDO(2005sub01,7)");
    EXPECT_EQ(LastLog(), " 7E 08 C0 20 22 05 20 01 07 00 00 00");

    // A unit box that is no number: no substitution, the box is left alone.
    form.cbxKRVaddr->setEditText("x");
    form.SdoRead(ObjectWord(0x2100, 3));
    EXPECT_EQ(LastLog(), "Tx: SDO(2100sub03)");
    EXPECT_EQ(form.cbxKRVaddr->currentText(), "x");
    // RPDOs read the unit address, which resets such a box to 0.
    form.SendRPDO1(0x120000);
    EXPECT_EQ(sent.back(), (Bytes{0x7E, 0x04, 0x40, 0x20, 0x00, 0x12, 0x00, 0x00}));
    EXPECT_EQ(form.cbxKRVaddr->currentText(), "0");
}

TEST_F(DataPageTest, ReadAllWalksThePageAndEndsAfterTheLastCell)
{
    form.cbxKRVaddr->setEditText("5");
    form.ReadAllStep(0);
    for (int sub = 1; sub <= 12; ++sub) {
        ASSERT_EQ(form.ReadAllCount, static_cast<std::uint32_t>(sub));
        char expected[32];
        std::snprintf(expected, sizeof expected, "Tx: SDO(2105sub%02X)", sub);
        EXPECT_EQ(LastLog(), expected);
        Receive(SdoAnswer(0x43, 0x2105, static_cast<std::uint8_t>(sub), sub * 100));
    }
    EXPECT_EQ(form.ReadAllCount, 0u);
    EXPECT_EQ(sent.size(), 12u);
    EXPECT_EQ(pages.values.size(), 12u);
    EXPECT_EQ((pages.values[{0, 12}]), 1200);
    EXPECT_EQ(pages.enabled.size(), 12u);
}

TEST_F(DataPageTest, AbortsAndErrorAnswersMarkTheCellAndMoveOn)
{
    form.ReadAllStep(1);  // "Trigger": 3 cells
    Receive(SdoAnswer(0x80, 0x2500, 1, 0x06020000));
    EXPECT_EQ(form.ReadAllCount, 2u);
    Receive(Frame(0x381, {0x00, 0xFF, 0x00, 0x07}));  // TPDO3 error answer
    EXPECT_EQ(form.ReadAllCount, 3u);
    EXPECT_EQ(pages.failed, (std::vector<std::pair<int, int>>{{1, 1}, {1, 2}}));
    EXPECT_TRUE(sink.messages.empty());  // no message during a read-all
    EXPECT_EQ(form.edbxValue3->text(), "0.000");  // bytes 0..3 only, no status text
    Receive(Frame(0x381, {0x00, 38, 0x00, 0x03, 0x2A, 0x00, 0x00, 0x00}));  // Trigger answer, sub 3 = 42
    EXPECT_EQ((pages.values[{1, 3}]), 42);
    EXPECT_EQ(form.ReadAllCount, 0u);
}

TEST_F(DataPageTest, AnswersFillCellsWithoutAReadAll)
{
    Receive(SdoAnswer(0x43, 0x2105, 3, 1500));
    EXPECT_EQ((pages.values[{0, 3}]), 1500);
    Receive(SdoAnswer(0x60, 0x2105, 3, 0));  // download confirmation
    EXPECT_EQ((pages.values[{0, 3}]), 0);
    Receive(Frame(0x381, {0x00, 18, 0x02, 0x39, 0x30, 0x00, 0x00}));  // Standard, sub 2 = 12345
    EXPECT_EQ((pages.values[{0, 2}]), 12345);
    Receive(SdoAnswer(0x43, 0x2105, 99, 1));  // no such cell: nothing, no failure
    EXPECT_EQ(pages.values.size(), 2u);
    EXPECT_EQ(form.ReadAllCount, 0u);
    EXPECT_TRUE(pages.enabled.empty());
}

TEST_F(DataPageTest, AbortWithDeviceErrorFetchesTheStatus)
{
    Receive(SdoAnswer(0x80, 0x2105, 3, 0x08));
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(LastLog(), "Tx: SDO(1002sub00)");
    EXPECT_TRUE(sink.messages.empty());
    Receive(SdoAnswer(0x4F, 0x1002, 0, 0x07));
    ASSERT_EQ(sink.messages.size(), 1u);
    EXPECT_EQ(sink.messages[0].text, "TIMEOUT");
}

TEST_F(DataPageTest, ResponseTimeCountsFromTheLastRequest)
{
    form.SdoWrite(ObjectWord(0x2100, 1), 1);
    clock.now += 1234ms;
    clock.now += std::chrono::microseconds(600);
    Receive(SdoAnswer(0x60, 0x2000, 1, 0));
    EXPECT_EQ(form.lbBusy2->text(), "1235");
    clock.now += 10ms;
    Receive(Tpdo1(0, F32(1.0f)));  // TPDO1 does not touch it
    EXPECT_EQ(form.lbBusy2->text(), "1235");
    Receive(Frame(0x281, I32(0)));
    EXPECT_EQ(form.lbBusy2->text(), "1245");
}

TEST_F(DataPageTest, Tpdo1RowFollowsTheSelectedUnitOnly)
{
    form.cbxKRVaddr->setEditText("3");
    Receive(Tpdo1(4, F32(9.0f)));
    EXPECT_EQ(form.edbxGross1->text(), "");
    EXPECT_EQ(form.edbxTPDO1->text(), "edbxTPDO1");
    Receive(Tpdo1(3, F32(-2.5f)));
    EXPECT_EQ(form.edbxGross1->text(), "-2.500");
    EXPECT_EQ(form.edbxTPDO1->text(), "SFF: TPDO1 addr=01 Data= 00 00 20 C0 00 00 03 00 ");
    EXPECT_EQ(form.edbxTPDO1count->text(), "2");
    EXPECT_EQ(form.edbxGrossMax->text(), "-2.500");
    EXPECT_EQ(form.edbxGrossMin->text(), "-2.500");
    Receive(Tpdo1(3, F32(4.0f)));
    EXPECT_EQ(form.edbxGrossMax->text(), "4.000");
    EXPECT_EQ(form.edbxGrossMin->text(), "-2.500");
}

TEST_F(DataPageTest, MaxMinAfterClearTakeTheFirstValueEvenIfNegativeOrZero)
{
    for (float first : {-5.0f, 0.0f}) {
        Receive(Tpdo1(0, F32(100.0f)));
        QTest::mouseClick(form.btClearMaxMin, Qt::LeftButton);
        EXPECT_EQ(form.edbxGrossMax->text(), "0");
        EXPECT_EQ(form.edbxGrossMax->property("tag").toInt(), 0);
        Receive(Tpdo1(0, F32(first)));
        const QString expected = first < 0 ? "-5.000" : "0.000";
        EXPECT_EQ(form.edbxGrossMax->text(), expected);
        EXPECT_EQ(form.edbxGrossMin->text(), expected);
        EXPECT_EQ(form.GrossMax, first);
        EXPECT_EQ(form.edbxGrossMin->property("tag").toInt(), 1);
    }
}

TEST_F(DataPageTest, NanLeavesTheRunningExtremesAlone)
{
    Receive(Tpdo1(0, F32(2.0f)));
    Receive(Tpdo1(0, {0x00, 0x00, 0xC0, 0x7F}));  // NaN
    Receive(Tpdo1(0, F32(3.0f)));
    EXPECT_EQ(form.edbxGrossMax->text(), "3.000");
    EXPECT_EQ(form.edbxGrossMin->text(), "2.000");
}

TEST_F(DataPageTest, IntegerModeAndOtherRows)
{
    form.cbxTPDOint->setChecked(true);
    Receive(Tpdo1(0, I32(-1234567)));
    EXPECT_EQ(form.edbxGross1->text(), "-1234567");
    EXPECT_EQ(form.edbxGrossMax->text(), "-1.23457E+06");
    Receive(Tpdo1(0, I32(250)));
    EXPECT_EQ(form.edbxGrossMax->text(), "250");

    Receive(Frame(0x281, I32(-42)));
    EXPECT_EQ(form.edbxGross2->text(), "-42");
    EXPECT_EQ(form.edbxTPDO2count->text(), "1");
    form.cbxTPDOint->setChecked(false);
    Receive(Frame(0x281, F32(0.5f)));
    EXPECT_EQ(form.edbxGross2->text(), "0.500");
    EXPECT_EQ(form.edbxTPDO2->text(), "SFF: TPDO2 addr=01 Data= 00 00 00 3F ");

    Bytes d = F32(3.14159f);
    for (auto b : I32(-25))
        d.push_back(b);
    Receive(Frame(0x481, d));
    EXPECT_EQ(form.edbxVref->text(), "3.14");
    EXPECT_EQ(form.edbxVtemp->text(), "-25");
    EXPECT_EQ(form.edbxTPDO4count->text(), "1");
}

TEST_F(DataPageTest, ClearButtonsResetRowsAndCounters)
{
    Receive(Tpdo1(0, F32(1.0f)));
    Receive(Frame(0x281, F32(1.0f)));
    Receive(Frame(0x381, {0, 0xE5, 0, 0}));
    Receive(Frame(0x481, Bytes(8, 0)));
    QTest::mouseClick(form.btClear1, Qt::LeftButton);
    QTest::mouseClick(form.btClear2, Qt::LeftButton);
    QTest::mouseClick(form.btClear3, Qt::LeftButton);
    QTest::mouseClick(form.btClear4, Qt::LeftButton);
    for (const char* name : {"edbxTPDO1", "edbxTPDO2", "edbxTPDO3", "edbxTPDO4"})
        EXPECT_EQ(form.findChild<QLineEdit*>(name)->text(), name);
    for (QLineEdit* e : {form.edbxGross1, form.edbxGross2, form.edbxValue3, form.edbxVref, form.edbxVtemp})
        EXPECT_EQ(e->text(), "") << e->objectName().toStdString();
    for (QLineEdit* e : {form.edbxTPDO1count, form.edbxTPDO2count, form.edbxTPDO3count, form.edbxTPDO4count})
        EXPECT_EQ(e->text(), "0");
    for (int code : {kTpdo1, kTpdo2, kTpdo3, kTpdo4})
        EXPECT_EQ(form.FrameCounters[static_cast<std::size_t>(code)], 0u);
}

TEST_F(DataPageTest, WatchdogStartsASilentUnit)
{
    form.WatchdogTimerTick();  // no TPDO1 since start
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0][4], kNmtStart);
    Receive(Tpdo1(9, F32(1.0f)));
    form.WatchdogTimerTick();
    EXPECT_EQ(sent.size(), 1u);
    form.WatchdogTimerTick();  // silent again
    EXPECT_EQ(sent.size(), 2u);
}

TEST_F(DataPageTest, WatchdogAfterClearWaitsOneMoreTick)
{
    Receive(Tpdo1(9, F32(1.0f)));
    Receive(Tpdo1(9, F32(1.0f)));
    form.WatchdogTimerTick();  // snapshot 2
    form.btClear1Click();      // counter 0
    form.WatchdogTimerTick();  // 0 != 2: nothing sent, snapshot 0
    EXPECT_TRUE(sent.empty());
    form.WatchdogTimerTick();
    EXPECT_EQ(sent.size(), 1u);
}

TEST_F(DataPageTest, GuardFramesAndTheLastOneAfterUntick)
{
    form.cbxCANaddr->setCurrentIndex(2);
    form.cbxKRVaddr->setEditText("6");
    form.cbTest->setChecked(true);
    EXPECT_TRUE(form.GuardTimer->isActive());
    form.GuardTimerTick();
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0], (Bytes{0x7E, 0x01, 0xE0, 0x40, 0x06}));
    EXPECT_EQ(LastLog(), "Tx:( 08 E0 40 )");
    form.cbTest->setChecked(false);
    EXPECT_FALSE(form.GuardTimer->isActive());
    // A tick already on its way when the box was cleared still sends.
    form.GuardTimer->start();
    form.GuardTimerTick();
    EXPECT_EQ(sent.size(), 2u);
    EXPECT_FALSE(form.GuardTimer->isActive());
}

} // namespace
