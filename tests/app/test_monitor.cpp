#include "log_view.h"
#include "monitor.h"
#include "recording_message_sink.h"
#include "unit_box.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QTest>
#include <gtest/gtest.h>

#include <ostream>

#include <bit>
#include <vector>

using namespace tervix;

namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes Frame(unsigned id, Bytes data, std::uint8_t flags = 0)
{
    Bytes m = MakePacket(id, data);
    m[1] |= flags;
    return m;
}

Bytes FloatBytes(float v)
{
    const auto b = std::bit_cast<std::uint32_t>(v);
    return {std::uint8_t(b), std::uint8_t(b >> 8), std::uint8_t(b >> 16), std::uint8_t(b >> 24)};
}

Bytes Tpdo1(std::uint8_t box, float value, std::uint8_t s4 = 0, std::uint8_t s5 = 0, std::uint8_t s7 = 0)
{
    Bytes d = FloatBytes(value);
    d.insert(d.end(), {s4, s5, box, s7});
    return Frame(0x181, d);
}

Bytes Sdo(Bytes data)
{
    return Frame(0x581, std::move(data));
}

class MonitorTest : public ::testing::Test {
protected:
    void Receive(const Bytes& m)
    {
        form.FrameReceived(m);
        form.RefreshNow();
    }
    std::vector<std::string> LogLines() const
    {
        std::vector<std::string> v;
        for (std::size_t i = 0; i < form.Memo1->LineCount(); ++i)
            v.push_back(form.Memo1->Line(i));
        return v;
    }
    QString BoxValue(int n) const { return form.UnitBoxes[static_cast<std::size_t>(n)]->ValueEdit()->text(); }
    QString BoxStatus(int n) const { return form.UnitBoxes[static_cast<std::size_t>(n)]->StatusEdit()->text(); }

    RecordingMessageSink sink;
    TForm1 form{sink};
};

TEST_F(MonitorTest, LayoutHasThePagesAndControlsAtStart)
{
    EXPECT_EQ(form.windowTitle(), "Tervix - V2.3");
    EXPECT_EQ(form.size(), QSize(992, 619));
    ASSERT_EQ(form.PageControl2->count(), 3);
    EXPECT_EQ(form.PageControl2->tabText(0), "Communication");
    EXPECT_EQ(form.PageControl2->tabText(1), "CAN Data");
    EXPECT_EQ(form.PageControl2->tabText(2), "KRV Data");
    EXPECT_EQ(form.PageControl2->currentWidget(), form.tsKRVData);
    EXPECT_EQ(form.bgParameters->title(), "Parameters");
    QStringList params;
    for (int i = 0; i < form.PageControl1->count(); ++i)
        params << form.PageControl1->tabText(i);
    EXPECT_EQ(params, QStringList({"Standard", "Trigger", "Filling", "Mass Flow", "Data Objects"}));
    EXPECT_EQ(form.btFind->text(), "Find ZT9K");
    EXPECT_EQ(form.gbFunctions->title(), "KRV Functions");
    EXPECT_EQ(form.cbTest->text(), "Run Nodeguard");
    EXPECT_EQ(form.cbxTPDOint->text(), "TPDO Integer");
    EXPECT_EQ(form.lbBusy2->text(), "Busy");

    ASSERT_EQ(form.cbxCANaddr->count(), 128);
    EXPECT_EQ(form.cbxCANaddr->currentText(), "1");
    EXPECT_EQ(form.cbxCANaddr->itemText(127), "127");
    ASSERT_EQ(form.cbxKRVaddr->count(), 32);
    EXPECT_EQ(form.cbxKRVaddr->currentIndex(), -1);
    EXPECT_EQ(form.cbxKRVaddr->currentText(), "0");
    for (const char* name : {"edbxTPDO1", "edbxTPDO2", "edbxTPDO3", "edbxTPDO4"})
        EXPECT_EQ(form.findChild<QLineEdit*>(name)->text(), name);
}

TEST_F(MonitorTest, UnitBoxesFollowTheGridFormulas)
{
    form.show();
    form.PageControl2->setCurrentWidget(form.DataSheet);
    form.DataSheet->resize(609, 541);
    const TUnitBox* box9 = form.UnitBoxes[9];
    EXPECT_EQ(box9->geometry(), QRect(1 * 597 / 8 + 8, 1 * 525 / 8 + 8, 601 / 8 - 2, 533 / 8 - 2));
    EXPECT_EQ(form.UnitBoxes[63]->geometry().topLeft(), QPoint(7 * 597 / 8 + 8, 7 * 525 / 8 + 8));
    EXPECT_EQ(box9->TitleLabel()->text(), "KRV 9");
    EXPECT_EQ(box9->NumberPanel()->text(), "9");
    EXPECT_EQ(box9->ValueEdit()->geometry().topLeft(), QPoint(4, 16));
    EXPECT_EQ(box9->StatusEdit()->geometry().topLeft(), QPoint(4, 37));
    EXPECT_EQ(box9->ValueEdit()->width(), box9->width() - 8);
    EXPECT_EQ(box9->property("tag").toInt(), 9);

    form.DataSheet->resize(801, 600);  // the grid follows a resized window
    EXPECT_EQ(form.UnitBoxes[9]->geometry(), TUnitBox::GridRect(9, QSize(801, 600)));
}

TEST_F(MonitorTest, ClickingBoxesMovesTheMarkAndTheUnitAddress)
{
    QTest::mouseClick(form.UnitBoxes[5], Qt::LeftButton);
    QTest::mouseClick(form.UnitBoxes[7]->ValueEdit(), Qt::LeftButton);
    EXPECT_FALSE(form.UnitBoxes[5]->Marked());
    EXPECT_TRUE(form.UnitBoxes[7]->Marked());
    EXPECT_EQ(form.cbxKRVaddr->currentText(), "7");
    EXPECT_EQ(form.UnitBoxes[7]->NumberPanel()->palette().color(QPalette::Button), TUnitBox::kSelectedColour);

    // A box beyond the address list selects nothing; its mark still goes away later.
    QTest::mouseClick(form.UnitBoxes[40], Qt::LeftButton);
    EXPECT_EQ(form.cbxKRVaddr->currentIndex(), -1);
    EXPECT_EQ(form.cbxKRVaddr->currentText(), "");
    EXPECT_FALSE(form.UnitBoxes[7]->Marked());
    QTest::mouseClick(form.UnitBoxes[2], Qt::LeftButton);
    EXPECT_FALSE(form.UnitBoxes[40]->Marked());
    EXPECT_EQ(form.cbxKRVaddr->currentText(), "2");
}

TEST_F(MonitorTest, OneByteMessageIsIgnored)
{
    Receive({0x7E});
    Receive({'A'});
    EXPECT_EQ(form.Memo1->LineCount(), 0u);
    for (std::uint32_t c : form.FrameCounters)
        EXPECT_EQ(c, 0u);
}

TEST_F(MonitorTest, LoggedKindsAndCounters)
{
    Receive(Frame(0x080, {}));
    Receive(Frame(0x081, {0x10, 0x20}));
    Receive(Frame(0x705, {}, kFlagRemote));
    Receive(Frame(0x000, {0x01, 0x05}));
    Receive(Frame(0x100, {0xAA}, kFlagExtended));
    Receive({'O', 'K', 0x0D});
    Receive(Frame(0x201, {1, 2, 3, 4}));
    EXPECT_EQ(LogLines(), (std::vector<std::string>{
                              "SFF: SYNC  addr=00 Data= ",
                              "SFF: EMERGENCY addr=01 Data= 10 20 ",
                              "SFF: RTR NMT Handling addr=05 Data= ",
                              "SFF: NMT   addr=00 Data= 01 05 ",
                              "EFF: TIME  addr=00 Data= AA ",
                              "OK",
                              "SFF: RPDO1 addr=01 Data= 01 02 03 04 ",
                          }));
    EXPECT_EQ(form.FrameCounters[kSyncEmergency], 2u);
    EXPECT_EQ(form.FrameCounters[kNmtHandling], 1u);
    EXPECT_EQ(form.FrameCounters[kNmt], 1u);  // adapter text is not counted
    EXPECT_EQ(form.FrameCounters[kTime], 1u);
    EXPECT_EQ(form.FrameCounters[kRpdo1], 1u);
}

TEST_F(MonitorTest, ProcessDataAndSdoFramesStayOutOfTheLog)
{
    Receive(Tpdo1(1, 1.0f));
    Receive(Frame(0x281, {1, 2, 3, 4}));
    Receive(Frame(0x381, {0, 0, 0, 0}));
    Receive(Frame(0x481, {0, 0, 0, 0}));
    Receive(Sdo({0x60, 0x05, 0x21, 0x03, 0, 0, 0, 0}));
    Receive(Frame(0x601, {0x40, 0x05, 0x21, 0x03, 0, 0, 0, 0}));
    EXPECT_EQ(form.Memo1->LineCount(), 0u);
    for (int code : {kTpdo1, kTpdo2, kTpdo3, kTpdo4, kTsdo, kRsdo})
        EXPECT_EQ(form.FrameCounters[static_cast<std::size_t>(code)], 1u) << code;
}

TEST_F(MonitorTest, Tpdo1FillsItsBoxAndAgesTheLowBoxes)
{
    Receive(Tpdo1(3, 12.25f, 0x34, 0x12, 0x0F));
    EXPECT_EQ(BoxValue(3), "12.250");
    EXPECT_EQ(BoxStatus(3), "1234 0F");
    Receive(Tpdo1(40, -1.5f));
    for (int i = 0; i < 22; ++i)
        form.FrameReceived(Tpdo1(41, 1.0f));
    form.RefreshNow();
    EXPECT_EQ(BoxValue(3), "12.250");  // 23 further frames
    Receive(Tpdo1(42, 1.0f));
    EXPECT_EQ(BoxValue(3), "");        // the 24th clears it
    EXPECT_EQ(BoxStatus(3), "1234 0F");
    EXPECT_EQ(BoxValue(40), "-1.500"); // boxes 32..63 keep their value
}

TEST_F(MonitorTest, Tpdo1ForBox64IsLoggedAndStillAges)
{
    Receive(Tpdo1(0, 2.0f));
    for (int i = 0; i < 23; ++i)
        form.FrameReceived(Tpdo1(64 + (i % 3), 1.0f));
    form.RefreshNow();
    EXPECT_EQ(BoxValue(0), "2.000");
    Receive(Tpdo1(200, 1.0f));
    EXPECT_EQ(BoxValue(0), "");
    EXPECT_EQ(form.Memo1->Line(0), "TPD01(64)");
    EXPECT_EQ(form.Memo1->Line(form.Memo1->LineCount() - 1), "TPD01(200)");
    EXPECT_EQ(form.FrameCounters[kTpdo1], 25u);
}

TEST_F(MonitorTest, ShortTpdo1ReadsMissingBytesAsZero)
{
    Receive(Frame(0x181, FloatBytes(7.0f)));  // 4 data bytes: box 0
    EXPECT_EQ(BoxValue(0), "7.000");
    EXPECT_EQ(BoxStatus(0), "0000 00");
    Receive(Frame(0x181, {}));  // no data at all: 0.0 in box 0
    EXPECT_EQ(BoxValue(0), "0.000");
}

TEST_F(MonitorTest, Tpdo3ValueAndResponseCodes)
{
    auto tpdo3 = [](Bytes d) { return Frame(0x381, std::move(d)); };
    Bytes nan = {0x00, 0x00, 0xC0, 0x7F};

    Receive(tpdo3({0x00, 0x00, 0x20, 0x41, 0, 0, 0, 0}));  // 10.0, response code 0
    EXPECT_EQ(form.edbxValue3->text(), "10.000");
    EXPECT_EQ(form.edbxTPDO3->text(), "SFF: TPDO3 addr=01 Data= 00 00 20 41 00 00 00 00 ");
    EXPECT_EQ(form.edbxTPDO3count->text(), "1");

    Bytes d = {0x00, 12, 0x00, 0x00};
    for (auto b : FloatBytes(2.5f))
        d.push_back(b);
    Receive(tpdo3(d));
    EXPECT_EQ(form.edbxValue3->text(), "2.500");
    d = {0x00, 15, 0x00, 0x00};
    d.insert(d.end(), nan.begin(), nan.end());
    Receive(tpdo3(d));
    EXPECT_EQ(form.edbxValue3->text(), "(format error)");

    d = {0x00, 17};
    for (auto b : FloatBytes(-3.0f))
        d.push_back(b);
    d.insert(d.end(), {0, 0});
    Receive(tpdo3(d));
    EXPECT_EQ(form.edbxValue3->text(), "-3.000");

    Receive(tpdo3({0, 0xE5, 0, 0}));
    EXPECT_EQ(form.edbxValue3->text(), "** OK **");
    Receive(tpdo3({0, 0xFF, 0, 7}));
    EXPECT_EQ(form.edbxValue3->text(), "** TIMEOUT **");
    Receive(tpdo3({0, 0xFF, 0, 99}));
    EXPECT_EQ(form.edbxValue3->text(), "** ?ERROR? **");

    Receive(tpdo3(nan));  // value conversion fails: the box is emptied
    EXPECT_EQ(form.edbxValue3->text(), "");
    EXPECT_EQ(form.edbxTPDO3count->text(), "8");
    EXPECT_TRUE(sink.messages.empty());
}

struct SdoCase {
    const char* name;
    Bytes data;
    std::vector<const char*> messages;
};

// Test names and failure messages show the case name, not its bytes.
void PrintTo(const SdoCase& c, std::ostream* os)
{
    *os << c.name;
}


class SdoMessages : public MonitorTest, public ::testing::WithParamInterface<SdoCase> {};

TEST_P(SdoMessages, ShowsExactlyTheseSdoErrors)
{
    Receive(Sdo(GetParam().data));
    ASSERT_EQ(sink.messages.size(), GetParam().messages.size());
    for (std::size_t i = 0; i < sink.messages.size(); ++i) {
        EXPECT_EQ(sink.messages[i].caption, "SDO Error");
        EXPECT_EQ(sink.messages[i].text, QString::fromLatin1(GetParam().messages[i]));
    }
    EXPECT_EQ(form.Memo1->LineCount(), 0u);
}

INSTANTIATE_TEST_SUITE_P(
    Branches, SdoMessages,
    ::testing::Values(
        SdoCase{"RejectedStatusRequest", {0x80, 0x02, 0x10, 0x00, 0x02, 0, 0, 0},
                {"SDO was rejected", "NOT READY"}},
        SdoCase{"UnitOrderAbort", {0x80, 0x05, 0x21, 0x03, 0x06, 0x02, 0x00, 0x00},
                {"Object does not exist in the object dictionary\r06020000"}},
        SdoCase{"StandardOrderAbort", {0x80, 0x05, 0x21, 0x03, 0x00, 0x00, 0x02, 0x06},
                {"Object does not exist in the object dictionary\r06020000"}},
        SdoCase{"UnknownAbortShowsDump", {0x80, 0x05, 0x21, 0x03, 0x05, 0x04, 0x00, 0x01},
                {" 08 B0 20 80 05 21 03 05 04 00 01\r05040001"}},
        SdoCase{"StatusAnswerZero", {0x4F, 0x02, 0x10, 0x00, 0x00, 0, 0, 0}, {"** ?ERROR? **"}},
        SdoCase{"StatusAnswerWait", {0x4F, 0x02, 0x10, 0x00, 0xE1, 0, 0, 0}, {"Wait"}},
        SdoCase{"OrdinaryAnswer", {0x43, 0x05, 0x21, 0x03, 0xDC, 0x05, 0, 0}, {}},
        SdoCase{"OtherSubIndexOf1002", {0x4F, 0x02, 0x10, 0x01, 0x02, 0, 0, 0}, {}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(MonitorTest, MessageBoxNeverLetsTheDecoderRunUnderneath)
{
    // A frame arriving while the box is open is handled only after it closes,
    // and is not lost.
    sink.whileOpen = [&] {
        form.FrameReceived(Frame(0x705, {0x7F}));
        EXPECT_EQ(form.Memo1->LineCount(), 0u);
        EXPECT_EQ(form.FrameCounters[kNmtHandling], 0u);
    };
    Receive(Sdo({0x80, 0x05, 0x21, 0x03, 0x06, 0x02, 0x00, 0x00}));
    EXPECT_EQ(sink.messages.size(), 1u);
    EXPECT_EQ(form.FrameCounters[kNmtHandling], 1u);
    ASSERT_EQ(form.Memo1->LineCount(), 1u);
    EXPECT_EQ(form.Memo1->Line(0), "SFF: NMT Handling addr=05 Data= 7F ");
}

TEST_F(MonitorTest, WidgetsAreRefreshedOncePerBatchWithTheLastState)
{
    form.FrameReceived(Tpdo1(5, 1.0f));
    form.FrameReceived(Tpdo1(5, 2.0f));
    EXPECT_EQ(BoxValue(5), "");  // not yet shown
    QCoreApplication::processEvents();
    EXPECT_EQ(BoxValue(5), "2.000");
}

} // namespace
