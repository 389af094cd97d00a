// The SDO dialog inside the window: the frames its requests put on the bus
// and their log lines, what it shows of the frames that come back, and the
// whole round against the simulated unit.
#include "DialogSDO.h"
#include "sim_channel.h"
#include "EDS_unit.h"
#include "log_view.h"
#include "data_page.h"
#include "monitor.h"
#include "parameter_sheets.h"
#include "recording_message_sink.h"
#include "tree_clicks.h"

#include "MyComm.h"
#include "no_serial_ports.h"
#include "sim_driver.h"
#include "usb2can.h"

#include <QComboBox>
#include <QLabel>
#include <QDir>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <cstdio>
#include <optional>

using namespace std::chrono_literals;
using Bytes = std::vector<std::uint8_t>;

namespace {

constexpr char kWindowEds[] = "[FileInfo]\n"
                              "FileName=Quorbit.eds\n"
                              "[1017]\n"
                              "ParameterName=Producer heartbeat time\n"
                              "[1018]\n"
                              "ObjectType=0x9\n"
                              "[1018sub1]\n"
                              "ParameterName=Vendor-ID\n"
                              "ObjectType=0x7\n"
                              "DataType=0x0007\n"
                              "[2100]\n"
                              "[2100subA]\n"
                              "DataType=0x0004\n";

// The window reads "Quorbit.eds" from the working directory while it is made.
class InFolder {
public:
    explicit InFolder(const QString& path) : saved_(QDir::currentPath()) { QDir::setCurrent(path); }
    ~InFolder() { QDir::setCurrent(saved_); }

private:
    QString saved_;
};

// Helpers shared by the window fixtures.
class WindowTest : public ::testing::Test {
protected:
    void Show(int node)
    {
        form->findChild<QComboBox*>(QStringLiteral("cbxCANaddr"))->setCurrentIndex(node);
        form->show(); // registers the window's request handler with the dialog
        form->findChild<QTabWidget*>(QStringLiteral("PageControl1"))
            ->setCurrentWidget(form->ObjectTree()->Sheet());
        ASSERT_TRUE(QTest::qWaitForWindowExposed(form.get()));
    }
    void RightClick(const char* section) { ClickSection(*form->ObjectTree(), section, Qt::RightButton); }
    void Press(const char* button)
    {
        QTest::mouseClick(form->SdoDialog()->findChild<QPushButton*>(QString::fromLatin1(button)),
                          Qt::LeftButton);
    }
    void Type(const QString& text)
    {
        QLineEdit* box = form->SdoDialog()->ValueBox();
        box->clear();
        QTest::keyClicks(box, text);
    }
    QString Value() const { return form->SdoDialog()->ValueBox()->text(); }
    QStringList DialogMemo() const { return form->SdoDialog()->Memo()->toPlainText().split(u'\n'); }
    std::vector<std::string> LogLines() const
    {
        std::vector<std::string> lines;
        for (std::size_t i = 0; i < form->Log()->LineCount(); ++i)
            lines.push_back(form->Log()->Line(i));
        return lines;
    }

    tervix::ManualClock clock;
    RecordingMessageSink sink;
    std::unique_ptr<TForm1> form;
};

// A window on no bus: what it sends is recorded.
class WindowWithTree : public WindowTest {
protected:
    void SetUp() override
    {
        WriteFile(dir.filePath(QStringLiteral("Quorbit.eds")), kWindowEds);
        // The parameter pages, which give the tree its page, come from the
        // example configuration.
        QFile::copy(QStringLiteral(TERVIX_EXAMPLES_DIR "/Tervix.conf"), dir.filePath(QStringLiteral("Tervix.conf")));
        {
            const InFolder in(dir.path());
            form = std::make_unique<TForm1>(sink, clock);
        }
        form->SetFrameSender([this](const tervix::BusFrame& f) {
            sent.push_back(tervix::EncodePacket(f));
            return tervix::Status{};
        });
        Show(5); // SDO requests to node 5 go on 0x605: C0 A0
        form->ShowPendingMessages();
        ASSERT_TRUE(sink.messages.empty());
    }

    // Node 5 never answers here: the transfers queued for it time out one
    // after another, so that the next request goes out at once.
    void TimeOutPending()
    {
        while (form->Canopen().Busy(5)) {
            clock.Advance(2s);
            form->Canopen().Process(clock.Now());
        }
    }

    QTemporaryDir dir;
    std::vector<Bytes> sent;
};

struct NodeCase {
    const char* section;
    const char* caption;
    bool readWrite;
    const char* memo;
    Bytes structureRequest;
};

class ShowNode : public WindowWithTree, public ::testing::WithParamInterface<NodeCase> {};

TEST_P(ShowNode, CaptionButtonsLinesAndASilentStructureRequest)
{
    const NodeCase& c = GetParam();
    form->SdoDialog()->ValueBox()->setText(QStringLiteral("kept"));
    const auto logged = LogLines();
    RightClick(c.section);

    TDialogFormSDO* dialog = form->SdoDialog();
    EXPECT_TRUE(dialog->isVisible());
    EXPECT_EQ(dialog->windowTitle().toStdString(), c.caption);
    EXPECT_EQ(dialog->findChild<QPushButton*>(QStringLiteral("btRead"))->isEnabled(), c.readWrite);
    EXPECT_EQ(dialog->findChild<QPushButton*>(QStringLiteral("btSet"))->isEnabled(), c.readWrite);
    EXPECT_EQ(dialog->Memo()->toPlainText().toStdString(), c.memo);
    EXPECT_EQ(Value(), "kept");
    EXPECT_EQ(sent, std::vector<Bytes>{c.structureRequest});
    EXPECT_EQ(LogLines(), logged);
}

INSTANTIATE_TEST_SUITE_P(
    Sections, ShowNode,
    ::testing::Values(NodeCase{"1018sub1",
                               "Service Data Object - [1018sub1]",
                               true,
                               " ParameterName=Vendor-ID\n ObjectType=0x7\n DataType=0x0007",
                               {0x7E, 0x08, 0xC0, 0xA0, 0x40, 0x18, 0x10, 0xFF, 0x00, 0x00, 0x00, 0x00}},
                      NodeCase{"2100subA",
                               "Service Data Object - [2100subA]",
                               true,
                               " DataType=0x0004",
                               {0x7E, 0x08, 0xC0, 0xA0, 0x40, 0x00, 0x21, 0xFF, 0x00, 0x00, 0x00, 0x00}},
                      // Reading and writing are refused below 0x1000, the structure is still asked for.
                      NodeCase{"FileInfo",
                               "Service Data Object - [FileInfo]",
                               false,
                               " FileName=Quorbit.eds",
                               {0x7E, 0x08, 0xC0, 0xA0, 0x40, 0x0F, 0x00, 0xFF, 0x00, 0x00, 0x00, 0x00}}),
    [](const auto& info) { return std::string(info.param.section); });

struct RequestCase {
    const char* name;
    const char* before; // section shown first: its object code may carry over
    const char* section;
    const char* button;
    const char* value;
    std::optional<Bytes> packet;
    const char* logLine; // nullptr: none
    const char* message; // "SDO DOWNLOAD (set)" text, nullptr: none
};

class SdoRequest : public WindowWithTree, public ::testing::WithParamInterface<RequestCase> {};

TEST_P(SdoRequest, SendsAndLogsOrSaysWhatIsWrong)
{
    const RequestCase& c = GetParam();
    RightClick(c.before);
    RightClick(c.section);
    Type(QString::fromLatin1(c.value));
    TimeOutPending();
    sent.clear();
    const auto logged = LogLines();
    Press(c.button);

    EXPECT_EQ(sent, c.packet ? std::vector<Bytes>{*c.packet} : std::vector<Bytes>{});
    auto expectedLog = logged;
    if (c.logLine)
        expectedLog.emplace_back(c.logLine);
    EXPECT_EQ(LogLines(), expectedLog);
    if (c.message) {
        ASSERT_EQ(sink.messages.size(), 1u);
        EXPECT_EQ(sink.messages[0].caption, "SDO DOWNLOAD (set)");
        EXPECT_EQ(sink.messages[0].text.toStdString(), c.message);
    } else {
        EXPECT_TRUE(sink.messages.empty())
            << sink.messages[0].caption.toStdString() << ": " << sink.messages[0].text.toStdString();
    }
}

INSTANTIATE_TEST_SUITE_P(
    Buttons, SdoRequest,
    ::testing::Values(
        RequestCase{"Read", "1000", "1018sub1", "btRead", "",
                    Bytes{0x7E, 0x08, 0xC0, 0xA0, 0x40, 0x18, 0x10, 0x01, 0, 0, 0, 0},
                    "Tx: SDO( 40 18 10 01 00 00 00 00 )", nullptr},
        RequestCase{"Write", "1000", "1018sub1", "btSet", "1f4",
                    Bytes{0x7E, 0x08, 0xC0, 0xA0, 0x22, 0x18, 0x10, 0x01, 0xF4, 0x01, 0x00, 0x00},
                    "Tx: SDO( 22 18 10 01 F4 01 00 00 )", nullptr},
        RequestCase{"WriteLeadingZerosAllDigits", "1000", "2100subA", "btSet", "000000000FEDCBA9",
                    Bytes{0x7E, 0x08, 0xC0, 0xA0, 0x22, 0x00, 0x21, 0x0A, 0xA9, 0xCB, 0xED, 0x0F},
                    "Tx: SDO( 22 00 21 0A A9 CB ED 0F )", nullptr},
        RequestCase{"WriteEmpty", "1000", "1018sub1", "btSet", "", std::nullopt, nullptr,
                    "Set 1018sub01\rObject= VAR\rType=   UNSIGNED32\r"},
        RequestCase{"WriteNotHex", "1000", "1018sub1", "btSet", "12G4", std::nullopt, nullptr,
                    "Set 1018sub01\rObject= VAR\rType=   UNSIGNED32\r12G4"},
        RequestCase{"WriteOver32Bits", "1000", "1018sub1", "btSet", "100000000", std::nullopt, nullptr,
                    "Set 1018sub01\rObject= VAR\rType=   UNSIGNED32\r100000000"},
        // No keys of its own: the object code of the section before, data type 0.
        RequestCase{"ObjectCodeCarriesOver", "1018", "1017", "btSet", "q", std::nullopt, nullptr,
                    "Set 1017sub00\rObject= RECORD\rType=   reserved\rq"}),
    [](const auto& info) { return std::string(info.param.name); });

struct AnswerCase {
    const char* name;
    bool closed;  // "Close" pressed first
    Bytes packet; // as received, marker first
    const char* value;
    QStringList added; // memo lines added
};

class ShowAnswer : public WindowWithTree, public ::testing::WithParamInterface<AnswerCase> {};

TEST_P(ShowAnswer, StructureInTheMemoAnythingElseInTheValueBox)
{
    const AnswerCase& c = GetParam();
    RightClick("1018sub1");
    form->SdoDialog()->ValueBox()->setText(QStringLiteral("before"));
    const QStringList memo = DialogMemo();
    if (c.closed) {
        Press("btClose");
        ASSERT_FALSE(form->SdoDialog()->isVisible());
    }
    form->FrameReceived(c.packet);
    EXPECT_EQ(Value().toStdString(), c.value);
    EXPECT_EQ(DialogMemo(), memo + c.added);
}

INSTANTIATE_TEST_SUITE_P(
    Frames, ShowAnswer,
    ::testing::Values(
        // Node 5 answers on 0x585: B0 A0.
        AnswerCase{"Structure",
                   false,
                   {0x7E, 0x08, 0xB0, 0xA0, 0x43, 0x18, 0x10, 0xFF, 0x00, 0x00, 0x23, 0x09},
                   "before",
                   {"OBJECT(1018)=      RECORD", "DATATYPE(1018)= IDENTITY"}},
        AnswerCase{"Value",
                   false,
                   {0x7E, 0x08, 0xB0, 0xA0, 0x43, 0x18, 0x10, 0x01, 0x78, 0x56, 0x34, 0x12},
                   " 08 B0 A0 43 18 10 01 78 56 34 12",
                   {}},
        // Any SDO frame on the bus, a request of another master too.
        AnswerCase{"Request",
                   false,
                   {0x7E, 0x08, 0xC0, 0x40, 0x40, 0x00, 0x10, 0x00, 0x00, 0x00, 0x00, 0x00},
                   " 08 C0 40 40 00 10 00 00 00 00 00",
                   {}},
        AnswerCase{
            "NoSubIndexByte", false, {0x7E, 0x03, 0xB0, 0xA0, 0x43, 0x18, 0x10}, " 03 B0 A0 43 18 10", {}},
        AnswerCase{"ShortStructure",
                   false,
                   {0x7E, 0x05, 0xB0, 0xA0, 0x43, 0x18, 0x10, 0xFF, 0x07},
                   "before",
                   {"OBJECT(1018)=      NULL", "DATATYPE(1018)= reserved"}},
        // Frames that come while it is hidden are not kept.
        AnswerCase{"AfterClose",
                   true,
                   {0x7E, 0x08, 0xB0, 0xA0, 0x43, 0x18, 0x10, 0xFF, 0x00, 0x00, 0x07, 0x07},
                   "before",
                   {}}),
    [](const auto& info) { return std::string(info.param.name); });

// A long line is cut in the memo, with a mark that says how much is left
// out; shorter lines and the lines around it stay whole.
struct LongLineCase {
    const char* name;
    std::string line;     // the section's key line; the memo adds a blank before it
    std::string memoLine; // what the memo shows of it
};

std::string Mark(std::size_t more)
{
    char mark[64];
    std::snprintf(mark, sizeof mark, " \xE2\x80\xA6 [%zu more characters]", more);
    return mark;
}

constexpr std::size_t kLimit = TDialogFormSDO::kMemoLineLimit;
// U+1F600: two UTF-16 units, which the cut must not part.
const std::string kWide = "\xF0\x9F\x98\x80";

class LongLine : public ::testing::TestWithParam<LongLineCase> {};

TEST_P(LongLine, IsCutWithAMark)
{
    const LongLineCase& c = GetParam();
    const tervix::EdsTree tree =
        tervix::EdsTree::Parse("[2100sub1]\nDataType=0x0004\n" + c.line + "\nPDOMapping=0\n");
    TDialogFormSDO dialog;
    dialog.ShowNode(tree.Nodes().at(0));
    EXPECT_EQ(dialog.Memo()->toPlainText().toStdString(),
              " DataType=0x0004\n" + c.memoLine + "\n PDOMapping=0");
}

INSTANTIATE_TEST_SUITE_P(
    Lines, LongLine,
    ::testing::Values(
        LongLineCase{"AtTheLimit", std::string(kLimit - 1, 'a'), " " + std::string(kLimit - 1, 'a')},
        LongLineCase{"OneOver", std::string(kLimit, 'b'), " " + std::string(kLimit - 1, 'b') + Mark(1)},
        LongLineCase{"Megabyte", "ParameterName=" + std::string(1 << 20, 'c'),
                     " ParameterName=" + std::string(kLimit - 15, 'c') + Mark((1 << 20) - (kLimit - 15))},
        LongLineCase{"WideCharacterAtTheCut", std::string(kLimit - 2, 'd') + kWide + "ee",
                     " " + std::string(kLimit - 2, 'd') + Mark(3)}),
    [](const auto& info) { return std::string(info.param.name); });

// The real window, transport and USB channel over the simulated unit, in
// the folder where the program is started: the unit is the reference.
class DialogOnSimulatedUnit : public WindowTest {
protected:
    void Start(const std::string& options = {})
    {
        SimChannel channel = MakeSimChannel(options, clock);
        ASSERT_TRUE(channel.usb);
        node = channel.node;
        usb = std::move(channel.usb);
        {
            const InFolder in(QStringLiteral(TERVIX_EXAMPLES_DIR));
            form = std::make_unique<TForm1>(sink, clock, TForm1::Adapters{usb.get(), NoSerialPorts()});
        }
        form->Comm()->Timer().stop();
        Show(1);
    }
    // The channel opens with the first frame sent and takes 200 ms to settle.
    void Run(std::chrono::milliseconds d)
    {
        for (auto t = 0ms; t < d; t += 3ms) {
            clock.Advance(3ms);
            form->Comm()->Timer().tick();
        }
    }
    // A read answer of node 1 (0x581: B0 20) as the value box shows it.
    static std::string ReadAnswer(std::uint8_t sub, std::uint32_t value)
    {
        return QStringLiteral(" 08 B0 20 43 00 21 %1 %2 %3 %4 %5")
            .arg(sub, 2, 16, QLatin1Char('0'))
            .arg(value & 0xFF, 2, 16, QLatin1Char('0'))
            .arg((value >> 8) & 0xFF, 2, 16, QLatin1Char('0'))
            .arg((value >> 16) & 0xFF, 2, 16, QLatin1Char('0'))
            .arg(value >> 24, 2, 16, QLatin1Char('0'))
            .toUpper()
            .toStdString();
    }

    tervix::sim::SimulatedUnit* node = nullptr;
    std::unique_ptr<TUSB2CAN> usb;
};

TEST_F(DialogOnSimulatedUnit, ReadsWritesAndAsksTheStructureOfTheUnitsObjects)
{
    Start();
    ASSERT_GT(form->ObjectTree()->Model()->NodeCount(), 50u); // examples/Quorbit.eds

    RightClick("2100sub1");
    Run(300ms);
    EXPECT_EQ(DialogMemo().mid(DialogMemo().size() - 2),
              (QStringList{"OBJECT(2100)=      ARRAY", "DATATYPE(2100)= INTEGER32"}));

    Press("btRead");
    Run(300ms);
    const auto standard = tervix::sim::Group::Standard;
    EXPECT_EQ(Value().toStdString(),
              ReadAnswer(1, static_cast<std::uint32_t>(node->Unit(0)->Read(standard, 1))));

    RightClick("2100sub8");
    const std::int32_t filter = (node->Unit(0)->Read(standard, 8) + 1) % 10;
    Type(QString::number(filter, 16));
    Press("btSet");
    Run(300ms);
    EXPECT_EQ(node->Unit(0)->Read(standard, 8), filter);
    EXPECT_EQ(LogLines().back(), "Tx: SDO( 22 00 21 08 0" + std::to_string(filter) + " 00 00 00 )");
    EXPECT_EQ(Value().toStdString(), " 08 B0 20 60 00 21 08 00 00 00 00");

    Press("btRead");
    Run(300ms);
    EXPECT_EQ(Value().toStdString(), ReadAnswer(8, static_cast<std::uint32_t>(filter)));
    form->ShowPendingMessages();
    EXPECT_TRUE(sink.messages.empty());
}

// With unit 2 selected and its "Standard" page read, the dialog writes the
// same row's object of unit 0 (2100, no unit put into it): the page keeps
// showing unit 2.
TEST_F(DialogOnSimulatedUnit, AWriteToAnotherUnitLeavesTheSelectedUnitsRows)
{
    Start();
    form->DataPage()->UnitAddressBox()->setEditText(QStringLiteral("2"));
    QTest::mouseClick(form->Parameters()->Sheet(0)->ReadButton(), Qt::LeftButton);
    Run(600ms);
    form->RefreshNow();
    const auto standard = tervix::sim::Group::Standard;
    QLineEdit* filter = form->Parameters()->Sheet(0)->Cell(8)->ValueEdit;
    const QString shown = QString::number(node->Unit(2)->Read(standard, 8));
    ASSERT_EQ(filter->text(), shown);

    RightClick("2100sub8");
    const std::int32_t other = (node->Unit(2)->Read(standard, 8) + 1) % 10;
    Type(QString::number(other, 16));
    Press("btSet");
    Run(300ms);
    Press("btRead");
    Run(300ms);
    form->RefreshNow();
    EXPECT_EQ(node->Unit(0)->Read(standard, 8), other);
    EXPECT_EQ(filter->text(), shown);
    form->ShowPendingMessages();
    EXPECT_TRUE(sink.messages.empty());
}

TEST_F(DialogOnSimulatedUnit, AnObjectTheUnitLacksShowsTheAbort)
{
    Start("first=1"); // unit 0, whose parameters are 2100, is not hosted
    RightClick("2100sub1");
    Press("btRead");
    Run(300ms);
    // Abort 06020000, most significant byte first as this unit sends it.
    EXPECT_EQ(Value().toStdString(), " 08 B0 20 80 00 21 01 06 02 00 00");
    EXPECT_EQ(DialogMemo().back(),
              "READ(2100sub01)= the unit aborted with 06020000: Object does not exist in the object dictionary");
    form->ShowPendingMessages();
    ASSERT_FALSE(sink.messages.empty());
    EXPECT_EQ(sink.messages.back().caption, "SDO Error");
    EXPECT_TRUE(sink.messages.back().text.endsWith(QStringLiteral("\r06020000")))
        << sink.messages.back().text.toStdString();
}

// Values longer than four bytes go in segments both ways; what was read is
// shown as its data type reads.
TEST_F(DialogOnSimulatedUnit, ReadsAndWritesTextsOfAnyLength)
{
    Start();
    RightClick("1008");
    Run(300ms);
    const auto logged = LogLines().size();
    Press("btRead");
    Run(300ms);
    EXPECT_EQ(DialogMemo().back(), "READ(1008sub00)= \"KRV weighing unit\"");
    // The initiate as before, then a request for each of the three segments.
    const auto lines = LogLines();
    ASSERT_EQ(lines.size(), logged + 4);
    EXPECT_EQ(lines[logged], "Tx: SDO( 40 08 10 00 00 00 00 00 )");

    RightClick("2000");
    Run(300ms);
    Press("btSet"); // the box shows the last frame read, nothing typed
    form->ShowPendingMessages();
    ASSERT_EQ(sink.messages.size(), 1u);
    EXPECT_EQ(sink.messages[0].caption, "SDO DOWNLOAD (set)");
    sink.messages.clear();
    Type(QStringLiteral("Scale 7 at the dock."));
    EXPECT_EQ(form->SdoDialog()->ValueHint()->text(), "");
    Press("btSet");
    Run(300ms);
    Press("btRead");
    Run(300ms);
    EXPECT_EQ(DialogMemo().mid(DialogMemo().size() - 2),
              (QStringList{"SET(2000sub00)= done", "READ(2000sub00)= \"Scale 7 at the dock.\""}));
    form->ShowPendingMessages();
    EXPECT_TRUE(sink.messages.empty());
}

// Capacity: INTEGER32, LowLimit=1, HighLimit=1000000 in the unit's EDS file.
TEST_F(DialogOnSimulatedUnit, SaysWhatATypedNumberMeansAndWhenItIsOutOfLimits)
{
    Start();
    RightClick("2100sub1");
    QLabel* hint = form->SdoDialog()->ValueHint();
    Type(QStringLiteral("10"));
    EXPECT_EQ(hint->text(), "= 16");
    Type(QStringLiteral("F4241"));
    EXPECT_EQ(hint->text(), "= 1000001   above HighLimit 1000000");
    // An answer in the box is no value to be written.
    Run(300ms);
    Press("btRead");
    Run(300ms);
    EXPECT_EQ(hint->text(), "");
}

} // namespace
