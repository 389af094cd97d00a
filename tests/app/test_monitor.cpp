// What only the main window does: its layout and controls, the value box
// grid, showing the decoder's texts in the widgets at display rate, message
// boxes shown after the frame that raised them, never inside it, and the
// "KRV Data" page's buttons and boxes reaching the decoder, with the timers
// and the "Run Nodeguard" box following it.
#include "data_page.h"
#include "log_view.h"
#include "monitor.h"
#include "parameter_pages.h"
#include "recording_message_sink.h"
#include "unit_box.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>

#include <bit>
#include <stdexcept>
#include <vector>

using namespace tervix;
using namespace std::chrono_literals;

namespace {

using Bytes = std::vector<std::uint8_t>;

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

Bytes Tpdo1(std::uint8_t box, Bytes value, std::uint8_t s4 = 0, std::uint8_t s5 = 0, std::uint8_t s7 = 0)
{
    value.insert(value.end(), {s4, s5, box, s7});
    return Frame(0x181, value);
}

Bytes Tpdo1(std::uint8_t box, float value, std::uint8_t s4 = 0, std::uint8_t s5 = 0, std::uint8_t s7 = 0)
{
    return Tpdo1(box, F32(value), s4, s5, s7);
}

// Answers that raise one and two "SDO Error" messages, and one that raises "Wait".
const Bytes kNoObjectAbort = Frame(0x581, {0x80, 0x05, 0x21, 0x03, 0x06, 0x02, 0x00, 0x00});
const Bytes kRejectedStatus = Frame(0x581, {0x80, 0x02, 0x10, 0x00, 0x02, 0, 0, 0});
const Bytes kStatusWait = Frame(0x581, {0x4F, 0x02, 0x10, 0x00, 0xE1, 0, 0, 0});
const QString kNoObjectText = QStringLiteral("Object does not exist in the object dictionary\r06020000");

// Pages with cells only: the window hands them to the decoder.
class CountingPages : public ParameterPages {
public:
    int CellCount(int page) const override { return page == 1 ? 3 : 0; }
    bool StoreValue(int, int, std::int32_t) override
    {
        ++stored;
        return true;
    }
    bool MarkFailed(int, int) override { return true; }
    bool EnableEdit(int, int) override { return true; }
    int stored = 0;
};

class MonitorTest : public ::testing::Test {
protected:
    MonitorTest()
    {
        form.SetFrameSender([this](const BusFrame& f) {
            if (failSend)
                return Status::Failed("ie_NOpen - device not open");
            sent.push_back(EncodePacket(f));
            return Status();
        });
        form.show(); // clicks land where the buttons are laid out
        form.Log()->Clear(); // the start line is StartFolder's
    }
    void Receive(const Bytes& m)
    {
        form.FrameReceived(m);
        form.RefreshNow();
    }
    template <typename T = QLineEdit> T* Find(const char* name) const
    {
        T* w = form.findChild<T*>(QString::fromLatin1(name));
        EXPECT_NE(w, nullptr) << name;
        return w;
    }
    QString Shown(const char* name) const { return Find(name)->text(); }
    void Click(const char* button) { QTest::mouseClick(Find<QPushButton>(button), Qt::LeftButton); }
    std::string LastLog() const
    {
        const LogView& log = *form.Log();
        return log.LineCount() ? log.Line(log.LineCount() - 1) : std::string();
    }
    QCheckBox* GuardBox() const { return form.DataPage()->GuardBox(); }
    QComboBox* UnitBox() const { return form.DataPage()->UnitAddressBox(); }
    std::vector<std::string> LogLines() const
    {
        std::vector<std::string> v;
        for (std::size_t i = 0; i < form.Log()->LineCount(); ++i)
            v.push_back(form.Log()->Line(i));
        return v;
    }
    QString BoxValue(int n) const { return form.UnitBox(n)->ValueEdit()->text(); }
    QString BoxStatus(int n) const { return form.UnitBox(n)->StatusEdit()->text(); }
    std::vector<QString> MessageTexts() const
    {
        std::vector<QString> v;
        for (const RecordedMessage& m : sink.messages) {
            EXPECT_EQ(m.caption, "SDO Error");
            v.push_back(m.text);
        }
        return v;
    }

    RecordingMessageSink sink;
    ManualClock clock;
    TForm1 form{sink, clock};
    std::vector<FramePacket> sent;
    bool failSend = false;
};

TEST_F(MonitorTest, LayoutHasThePagesAndControlsAtStart)
{
    EXPECT_EQ(form.windowTitle(), "Tervix - V2.3");
    EXPECT_EQ(form.size(), QSize(992, 619));
    auto* pages = Find<QTabWidget>("PageControl2");
    ASSERT_EQ(pages->count(), 4);
    EXPECT_EQ(pages->tabText(0), "Communication");
    EXPECT_EQ(pages->tabText(1), "CAN Data");
    EXPECT_EQ(pages->tabText(2), "KRV Data");
    EXPECT_EQ(pages->tabText(3), "Nodes");
    EXPECT_EQ(pages->currentWidget(), form.DataPage());
    EXPECT_EQ(form.DataPage()->objectName(), "tsKRVData");
    EXPECT_EQ(Find<QGroupBox>("bgParameters")->title(), "Parameters");
    auto* params = Find<QTabWidget>("PageControl1");
    QStringList captions;
    for (int i = 0; i < params->count(); ++i)
        captions << params->tabText(i);
    EXPECT_EQ(captions, QStringList({"Standard", "Trigger", "Filling", "Mass Flow", "Data Objects"}));
    EXPECT_EQ(Find<QPushButton>("btFind")->text(), "Find ZT9K");
    EXPECT_EQ(Find<QGroupBox>("gbFunctions")->title(), "KRV Functions");
    EXPECT_EQ(Find<QCheckBox>("cbTest")->text(), "Run Nodeguard");
    EXPECT_EQ(Find<QCheckBox>("cbxTPDOint")->text(), "TPDO Integer");
    EXPECT_FALSE(Find<QCheckBox>("cbTest")->isChecked());
    // Creating the window shows the response time since its start.
    EXPECT_EQ(Find<QLabel>("lbBusy2")->text(), "0");

    auto* node = Find<QComboBox>("cbxCANaddr");
    ASSERT_EQ(node->count(), 128);
    EXPECT_EQ(node->currentText(), "1");
    EXPECT_EQ(node->itemText(127), "127");
    auto* unit = Find<QComboBox>("cbxKRVaddr");
    ASSERT_EQ(unit->count(), 32);
    EXPECT_EQ(unit->currentIndex(), -1);
    EXPECT_EQ(unit->currentText(), "0");
    for (const char* name : {"edbxTPDO1", "edbxTPDO2", "edbxTPDO3", "edbxTPDO4"})
        EXPECT_EQ(Shown(name), name);
    for (const char* name : {"edbxTPDO1count", "edbxTPDO2count", "edbxTPDO3count", "edbxTPDO4count",
                             "edbxGrossMax", "edbxGrossMin"})
        EXPECT_EQ(Shown(name), "0") << name;
    EXPECT_TRUE(form.WatchdogTimerActive());
    EXPECT_FALSE(form.GuardTimerActive());
}

TEST_F(MonitorTest, UnitBoxesFollowTheGridFormulas)
{
    auto* sheet = Find<QWidget>("DataSheet");
    Find<QTabWidget>("PageControl2")->setCurrentWidget(sheet);
    sheet->resize(609, 541);
    const TUnitBox* box9 = form.UnitBox(9);
    EXPECT_EQ(box9->geometry(), QRect(1 * 597 / 8 + 8, 1 * 525 / 8 + 8, 601 / 8 - 2, 533 / 8 - 2));
    EXPECT_EQ(form.UnitBox(63)->geometry().topLeft(), QPoint(7 * 597 / 8 + 8, 7 * 525 / 8 + 8));
    EXPECT_EQ(box9->TitleLabel()->text(), "KRV 9");
    EXPECT_EQ(box9->NumberPanel()->text(), "9");
    EXPECT_EQ(box9->ValueEdit()->geometry().topLeft(), QPoint(4, 16));
    EXPECT_EQ(box9->StatusEdit()->geometry().topLeft(), QPoint(4, 37));
    EXPECT_EQ(box9->ValueEdit()->width(), box9->width() - 8);
    EXPECT_EQ(box9->property("tag").toInt(), 9);
    EXPECT_EQ(box9->parentWidget(), sheet);

    sheet->resize(801, 600); // the grid follows a resized window
    EXPECT_EQ(form.UnitBox(9)->geometry(), TUnitBox::GridRect(9, QSize(801, 600)));
}

TEST_F(MonitorTest, ClickingBoxesMovesTheMarkAndTheUnitAddress)
{
    auto* unit = Find<QComboBox>("cbxKRVaddr");
    QTest::mouseClick(form.UnitBox(5), Qt::LeftButton);
    QTest::mouseClick(form.UnitBox(7)->ValueEdit(), Qt::LeftButton);
    EXPECT_FALSE(form.UnitBox(5)->Marked());
    EXPECT_TRUE(form.UnitBox(7)->Marked());
    EXPECT_EQ(unit->currentText(), "7");
    EXPECT_EQ(form.UnitBox(7)->NumberPanel()->palette().color(QPalette::Button), TUnitBox::kSelectedColour);
    Receive(Tpdo1(7, 1.5f)); // the page now follows unit 7
    EXPECT_EQ(Shown("edbxGross1"), "1.500");

    // A box beyond the address list selects nothing; its mark still goes away later.
    QTest::mouseClick(form.UnitBox(40), Qt::LeftButton);
    EXPECT_EQ(unit->currentIndex(), -1);
    EXPECT_EQ(unit->currentText(), "");
    EXPECT_FALSE(form.UnitBox(7)->Marked());
    QTest::mouseClick(form.UnitBox(2), Qt::LeftButton);
    EXPECT_FALSE(form.UnitBox(40)->Marked());
    EXPECT_EQ(unit->currentText(), "2");
}

TEST_F(MonitorTest, BoxesShowTheDecoderAtDisplayRateWithTheLastState)
{
    form.FrameReceived(Tpdo1(3, 12.25f, 0x34, 0x12, 0x0F));
    form.FrameReceived(Tpdo1(5, 1.0f));
    form.FrameReceived(Tpdo1(5, 2.0f));
    EXPECT_EQ(BoxValue(5), ""); // not yet shown
    EXPECT_TRUE(QTest::qWaitFor([&] { return BoxValue(5) == "2.000"; }, 1000));
    EXPECT_EQ(BoxValue(3), "12.250");
    EXPECT_EQ(BoxStatus(3), "1234 0F");
    EXPECT_EQ(Shown("edbxGross1"), ""); // units 3 and 5 are not the selected unit 0

    Receive(Tpdo1(40, -1.5f));
    for (int i = 0; i < 21; ++i)
        form.FrameReceived(Tpdo1(41, 1.0f));
    form.RefreshNow();
    EXPECT_EQ(BoxValue(3), ""); // aged out: the emptied value shows too
    EXPECT_EQ(BoxStatus(3), "1234 0F");
    EXPECT_EQ(BoxValue(40), "-1.500");
}

TEST_F(MonitorTest, EveryPageTextReachesItsOwnWidget)
{
    // Distinct counts and values, so that a text shown in another row's box shows.
    Receive(Tpdo1(0, 1.5f));
    for (int i = 0; i < 2; ++i)
        form.FrameReceived(Frame(0x281, F32(2.5f)));
    for (int i = 0; i < 4; ++i)
        form.FrameReceived(Frame(0x381, {0, 0xE5, 0, 0}));
    Bytes tpdo4 = F32(3.14159f);
    tpdo4.insert(tpdo4.end(), {0xE7, 0xFF, 0xFF, 0xFF});
    for (int i = 0; i < 5; ++i)
        form.FrameReceived(Frame(0x481, tpdo4));
    clock.Advance(std::chrono::milliseconds(42));
    form.FrameReceived(Tpdo1(0, -0.5f));
    form.FrameReceived(Frame(0x281, F32(2.5f))); // shows the response time
    form.RefreshNow();

    const std::pair<const char*, const char*> expected[] = {
        {"edbxTPDO1", "SFF: TPDO1 addr=01 Data= 00 00 00 BF 00 00 00 00 "},
        {"edbxTPDO2", "SFF: TPDO2 addr=01 Data= 00 00 20 40 "},
        {"edbxTPDO3", "SFF: TPDO3 addr=01 Data= 00 E5 00 00 "},
        {"edbxTPDO4", "SFF: TPDO4 addr=01 Data= D0 0F 49 40 E7 FF FF FF "},
        {"edbxTPDO1count", "2"},
        {"edbxTPDO2count", "3"},
        {"edbxTPDO3count", "4"},
        {"edbxTPDO4count", "5"},
        {"edbxGross1", "-0.500"},
        {"edbxGross2", "2.500"},
        {"edbxValue3", "** OK **"},
        {"edbxVref", "3.14"},
        {"edbxVtemp", "-25"},
        {"edbxGrossMax", "1.500"},
        {"edbxGrossMin", "-0.500"},
    };
    for (const auto& [name, text] : expected)
        EXPECT_EQ(Shown(name), text) << name;
    EXPECT_EQ(Find<QLabel>("lbBusy2")->text(), "42");
    EXPECT_EQ(Find("edbxTPDO1")->cursorPosition(), 0); // a long line shows its beginning
}

// --- Messages -------------------------------------------------------------------

TEST_F(MonitorTest, SdoErrorIsShownAfterItsFrameAndDecodingGoesOn)
{
    form.FrameReceived(kNoObjectAbort);
    EXPECT_TRUE(sink.messages.empty()) << "shown inside the frame's handling";
    form.FrameReceived(Frame(0x705, {0x7F}));
    form.FrameReceived(kRejectedStatus);
    EXPECT_TRUE(sink.messages.empty());
    EXPECT_EQ(form.Decoder().Count(kNmtHandling), 1u);
    EXPECT_EQ(form.Decoder().Count(kTsdo), 2u);
    EXPECT_EQ(LogLines(), std::vector<std::string>{"SFF: NMT Handling addr=05 Data= 7F "});

    form.ShowPendingMessages();
    EXPECT_EQ(MessageTexts(), (std::vector<QString>{kNoObjectText, "SDO was rejected", "NOT READY"}));
    form.ShowPendingMessages();
    QCoreApplication::processEvents(); // the scheduled showing finds nothing left
    EXPECT_EQ(sink.messages.size(), 3u);
}

TEST_F(MonitorTest, TheEventLoopShowsWaitingMessages)
{
    form.FrameReceived(kStatusWait);
    EXPECT_TRUE(sink.messages.empty());
    QCoreApplication::processEvents();
    EXPECT_EQ(MessageTexts(), std::vector<QString>{"Wait"});
}

TEST_F(MonitorTest, MessagesBeyondTheBoundAreCountedAndReportedOnce)
{
    for (int i = 0; i < 100; ++i)
        form.FrameReceived(kNoObjectAbort);
    for (int i = 0; i < 3; ++i)
        form.FrameReceived(kStatusWait);
    EXPECT_EQ(form.Decoder().Count(kTsdo), 103u); // every frame decoded
    EXPECT_EQ(form.Log()->LineCount(), 0u);

    form.ShowPendingMessages();
    ASSERT_EQ(sink.messages.size(), 100u);
    for (const RecordedMessage& m : sink.messages)
        EXPECT_EQ(m.text, kNoObjectText); // the first hundred, not the last three
    EXPECT_EQ(LogLines(), std::vector<std::string>{"3 further messages were not shown"});

    form.FrameReceived(kStatusWait); // room again, and no second report
    form.ShowPendingMessages();
    ASSERT_EQ(sink.messages.size(), 101u);
    EXPECT_EQ(sink.messages.back().text, "Wait");
    EXPECT_EQ(form.Log()->LineCount(), 1u);
}

TEST_F(MonitorTest, FramesArrivingUnderAnOpenBoxAreDecodedAndNothingReenters)
{
    // The event loop runs under a modal box: the poll brings frames and the
    // scheduled showing fires. They are decoded at once; their messages wait
    // for the open box to close.
    sink.whileOpen = [&] {
        form.FrameReceived(Frame(0x705, {0x7F}));
        form.FrameReceived(kStatusWait);
        QCoreApplication::processEvents();
        EXPECT_EQ(form.Decoder().Count(kNmtHandling), 1u);
        EXPECT_EQ(form.Log()->LineCount(), 1u);
        EXPECT_EQ(sink.messages.size(), 1u);
        sink.whileOpen = [&] { // and under the second box
            form.FrameReceived(Frame(0x706, {0x05}));
            form.FrameReceived(kRejectedStatus);
            QCoreApplication::processEvents();
            EXPECT_EQ(sink.messages.size(), 2u);
        };
    };
    form.FrameReceived(kNoObjectAbort);
    form.ShowPendingMessages();

    EXPECT_EQ(MessageTexts(), (std::vector<QString>{kNoObjectText, "Wait", "SDO was rejected", "NOT READY"}));
    EXPECT_EQ(sink.maxOpen, 1);
    EXPECT_EQ(form.Decoder().Count(kNmtHandling), 2u);
    EXPECT_EQ(form.Decoder().Count(kTsdo), 3u);
    EXPECT_EQ(LogLines(), (std::vector<std::string>{"SFF: NMT Handling addr=05 Data= 7F ",
                                                    "SFF: NMT Handling addr=06 Data= 05 "}));
}

// --- The data page ----------------------------------------------------------------

TEST_F(MonitorTest, NmtButtonsDriveGuardingAndTheWatchdog)
{
    Find<QComboBox>("cbxCANaddr")->setCurrentIndex(5);
    Click("btNMT_Start");
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0], (Bytes{0x7E, 0x02, 0x00, 0x00, 0x01, 0x05}));
    EXPECT_EQ(LastLog(), "NMT Start");
    EXPECT_TRUE(GuardBox()->isChecked());
    EXPECT_TRUE(form.GuardTimerActive());
    EXPECT_TRUE(form.WatchdogTimerActive());

    Click("btNMT_Stop");
    EXPECT_EQ(sent.back(), (Bytes{0x7E, 0x02, 0x00, 0x00, 0x02, 0x05}));
    EXPECT_EQ(LastLog(), "NMT Stop");
    EXPECT_FALSE(form.WatchdogTimerActive()); // only the watchdog stops
    EXPECT_TRUE(form.GuardTimerActive());
    EXPECT_TRUE(GuardBox()->isChecked());

    form.WatchdogTimerTick(); // stopped: a silent unit is left alone
    EXPECT_EQ(sent.size(), 2u);

    Find<QComboBox>("cbxCANaddr")->setCurrentIndex(-1); // no node number
    form.btNMT_StartClick();
    EXPECT_EQ(sent.back(), (Bytes{0x7E, 0x01, 0x00, 0x00, 0x01}));
    EXPECT_TRUE(form.WatchdogTimerActive());
}

TEST_F(MonitorTest, WatchdogStartOfASilentUnitTicksRunNodeguard)
{
    form.WatchdogTimerTick(); // no TPDO1 since start
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0], (Bytes{0x7E, 0x02, 0x00, 0x00, 0x01, 0x01}));
    EXPECT_TRUE(GuardBox()->isChecked());
    EXPECT_TRUE(form.GuardTimerActive());
    EXPECT_TRUE(form.WatchdogTimerActive());
}

TEST_F(MonitorTest, FailedNmtSendsAreShownAndTheTimersFollow)
{
    failSend = true;
    form.btNMT_StartClick();
    EXPECT_FALSE(GuardBox()->isChecked());
    EXPECT_FALSE(form.GuardTimerActive());
    EXPECT_TRUE(form.WatchdogTimerActive());
    // Stopping needs no adapter: the watchdog must not start the unit again.
    form.btNMT_StopClick();
    EXPECT_FALSE(form.WatchdogTimerActive());
    EXPECT_FALSE(form.Decoder().WatchdogRunning());
    EXPECT_EQ(form.Log()->LineCount(), 0u);
    // Each click says the adapter's reason in the application's box.
    form.ShowPendingMessages();
    ASSERT_EQ(sink.messages.size(), 2u);
    for (const RecordedMessage& m : sink.messages) {
        EXPECT_EQ(m.caption, QApplication::applicationName());
        EXPECT_EQ(m.text, "ie_NOpen - device not open");
    }
}

TEST_F(MonitorTest, GuardBoxStartsAndStopsTheGuardFrames)
{
    Find<QComboBox>("cbxCANaddr")->setCurrentIndex(2);
    UnitBox()->setEditText("6");
    GuardBox()->setChecked(true);
    EXPECT_TRUE(form.GuardTimerActive());
    form.GuardTimerTick();
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0], (Bytes{0x7E, 0x01, 0xE0, 0x40, 0x06}));
    EXPECT_EQ(LastLog(), "Tx:( 01 E0 40 06 )");
    GuardBox()->setChecked(false);
    EXPECT_FALSE(form.GuardTimerActive());
}

TEST_F(MonitorTest, BoxesFeedTheRequestsAndAResetShowsInTheUnitBox)
{
    UnitBox()->setEditText("7");
    form.SdoWrite(ObjectWord(0x2100, 3), 1000);
    EXPECT_EQ(sent.back(), (Bytes{0x7E, 0x08, 0xC0, 0x20, 0x22, 0x07, 0x21, 0x03, 0xE8, 0x03, 0x00, 0x00}));
    EXPECT_EQ(LastLog(), "Tx: SDO(2107sub03,1000)");
    form.RefreshNow();
    EXPECT_EQ(Find<QLabel>("lbBusy2")->text(), "Busy");
    clock.Advance(250ms); // the window's clock times the answer
    Receive(MakePacket(0x581, Bytes{0x60, 0x07, 0x21, 0x03, 0, 0, 0, 0}));
    EXPECT_EQ(Find<QLabel>("lbBusy2")->text(), "250");

    // A unit box that is no number: no substitution, the box is left alone.
    UnitBox()->setEditText("x");
    form.SdoRead(ObjectWord(0x2100, 3));
    EXPECT_EQ(LastLog(), "Tx: SDO(2100sub03)");
    EXPECT_EQ(UnitBox()->currentText(), "x");
    // RPDO4 carries no unit address and leaves the box alone too.
    form.Decoder().SendRpdo(4, 0x00010000);
    EXPECT_EQ(sent.back(), (Bytes{0x7E, 0x04, 0xA0, 0x20, 0x80, 0x00, 0x00, 0x00}));
    EXPECT_EQ(UnitBox()->currentText(), "x");
    // The other RPDOs read the unit address, which resets such a box to 0.
    form.Decoder().SendRpdo(1, 0x00120000);
    EXPECT_EQ(sent.back(), (Bytes{0x7E, 0x04, 0x40, 0x20, 0x00, 0x12, 0x00, 0x00}));
    EXPECT_EQ(UnitBox()->currentText(), "0");
}

TEST_F(MonitorTest, ReadAllGoesThroughTheWindowsPages)
{
    CountingPages pages;
    form.SetParameterPages(&pages);
    form.StartReadAll(1);
    EXPECT_EQ(LastLog(), "Tx: SDO(2500sub01)");
    Receive(MakePacket(0x581, Bytes{0x43, 0x00, 0x25, 0x01, 0x2A, 0, 0, 0}));
    EXPECT_EQ(pages.stored, 1);
    EXPECT_EQ(LastLog(), "Tx: SDO(2500sub02)");
    form.SetParameterPages(nullptr); // detached: the next answer is dropped
    Receive(MakePacket(0x581, Bytes{0x43, 0x00, 0x25, 0x02, 0x2A, 0, 0, 0}));
    EXPECT_EQ(pages.stored, 1);
}

TEST_F(MonitorTest, EachClearButtonResetsItsOwnRow)
{
    Receive(Tpdo1(0, F32(1.0f)));
    Receive(MakePacket(0x281, F32(1.0f)));
    Receive(MakePacket(0x381, Bytes{0, 0xE5, 0, 0}));
    Receive(MakePacket(0x481, Bytes(8, 0)));
    const char* lines[] = {"edbxTPDO1", "edbxTPDO2", "edbxTPDO3", "edbxTPDO4"};
    const char* counts[] = {"edbxTPDO1count", "edbxTPDO2count", "edbxTPDO3count", "edbxTPDO4count"};
    const std::vector<const char*> values[] = {
        {"edbxGross1"}, {"edbxGross2"}, {"edbxValue3"}, {"edbxVref", "edbxVtemp"}};
    const int codes[] = {kTpdo1, kTpdo2, kTpdo3, kTpdo4};
    for (int row = 0; row < 4; ++row) {
        Click(QStringLiteral("btClear%1").arg(row + 1).toLatin1().constData());
        EXPECT_EQ(Shown(lines[row]), lines[row]);
        EXPECT_EQ(Shown(counts[row]), "0");
        for (const char* name : values[row])
            EXPECT_EQ(Shown(name), "") << name;
        EXPECT_EQ(form.Decoder().Count(codes[row]), 0u);
        if (row < 3) { // the next row is still as it was
            EXPECT_NE(Shown(lines[row + 1]), lines[row + 1]) << "after clearing row " << row;
            EXPECT_EQ(Shown(counts[row + 1]), "1") << "after clearing row " << row;
        }
    }
}

TEST_F(MonitorTest, ClearMaxMinEmptiesTheTags)
{
    auto* max = Find("edbxGrossMax");
    auto* min = Find("edbxGrossMin");
    EXPECT_EQ(max->property("tag").toInt(), 0);
    Receive(Tpdo1(0, F32(100.0f)));
    EXPECT_EQ(max->property("tag").toInt(), 1);
    EXPECT_EQ(min->property("tag").toInt(), 1);
    Click("btClearMaxMin");
    EXPECT_EQ(max->text(), "0");
    EXPECT_EQ(min->text(), "0");
    EXPECT_EQ(max->property("tag").toInt(), 0);
    EXPECT_EQ(min->property("tag").toInt(), 0);
    Receive(Tpdo1(0, F32(-5.0f)));
    EXPECT_EQ(max->text(), "-5.000");
    EXPECT_EQ(min->text(), "-5.000");
    EXPECT_EQ(max->property("tag").toInt(), 1);
    EXPECT_EQ(min->property("tag").toInt(), 1);
}

TEST_F(MonitorTest, IntegerBoxSwitchesTheValueReading)
{
    form.DataPage()->IntegerBox()->setChecked(true);
    Receive(Tpdo1(0, I32(-1234567)));
    EXPECT_EQ(Shown("edbxGross1"), "-1234567");
    form.DataPage()->IntegerBox()->setChecked(false);
    Receive(Tpdo1(0, F32(0.5f)));
    EXPECT_EQ(Shown("edbxGross1"), "0.500");
}

// The window's first log line names the folder where the configuration and
// the EDS file were looked for, whether they are there or not.
struct FolderCase {
    const char* name;
    std::vector<const char*> files; // made in the working directory
    const char* configFile;         // as the window is given it
    const char* line;               // %1 is the working directory
};

class StartFolder : public ::testing::TestWithParam<FolderCase> {};

TEST_P(StartFolder, OneEventLineNamesTheFolder)
{
    const FolderCase& c = GetParam();
    QTemporaryDir dir;
    ASSERT_TRUE(QDir(dir.path()).mkdir(QStringLiteral("conf")));
    for (const char* name : c.files) {
        QFile file(dir.filePath(QString::fromLatin1(name)));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write("; nothing\n");
    }
    const QString saved = QDir::currentPath();
    ASSERT_TRUE(QDir::setCurrent(dir.path()));
    RecordingMessageSink sink;
    ManualClock clock;
    TForm1::Adapters adapters;
    adapters.configFile = c.configFile;
    TForm1 form(sink, clock, adapters);
    QDir::setCurrent(saved);

    const QString folder = QFileInfo(dir.path()).canonicalFilePath();
    const std::string expected = QString::fromLatin1(c.line).arg(folder).toStdString();
    LogView& log = *form.Log();
    log.SetFilter({LogView::Filter::kEventBit, -1});
    std::vector<std::string> lines;
    for (std::size_t row = 0; row < log.ShownCount(); ++row)
        lines.push_back(log.ShownLine(row));
    EXPECT_EQ(lines, std::vector<std::string>{expected});
}

INSTANTIATE_TEST_SUITE_P(
    Files, StartFolder,
    ::testing::Values(
        FolderCase{"BothThere",
                   {"Tervix.conf", "Quorbit.eds"},
                   "Tervix.conf",
                   "Looking for Tervix.conf and Quorbit.eds in %1"},
        FolderCase{"NeitherThere",
                   {},
                   "Tervix.conf",
                   "Looking for Tervix.conf and Quorbit.eds in %1: Tervix.conf and Quorbit.eds not found"},
        FolderCase{"NoEds",
                   {"Tervix.conf"},
                   "Tervix.conf",
                   "Looking for Tervix.conf and Quorbit.eds in %1: Quorbit.eds not found"},
        FolderCase{"ConfigurationElsewhere",
                   {"conf/site.conf", "Quorbit.eds"},
                   "conf/site.conf",
                   "Looking for site.conf in %1/conf and Quorbit.eds in %1"}),
    [](const auto& info) { return std::string(info.param.name); });

} // namespace
