// The parameter pages, the function buttons and the value dialogs, driven
// through the real window against the simulated node with its clock stepped
// by hand. The node's own state is the reference for what the window shows
// and what its requests did.
#include "params_fixture.h"

#include "log_view.h"
#include "sim_driver.h"
#include "unit_box.h"

#include <QDir>
#include <QGroupBox>
#include <QTabWidget>

#include <functional>
#include <set>

namespace {

// Every page is read from the unit selected by the address box; a row the
// unit lacks (an 17th Standard row) and the write-only command row fail.
TEST_F(Params, ReadFillsEveryRowWithTheUnitsValues)
{
    QString conf = ExampleText();
    conf.replace(QStringLiteral("item16Status word'"),
                 QStringLiteral("item16Status word'\nitem17Not in the unit'"));
    Start({}, {}, conf);
    SetUnit(2);
    // Gross, net, status and flow move while the page is read.
    const std::set<std::pair<int, int>> live = {{0, 11}, {0, 12}, {0, 16}, {3, 5}, {3, 6}};
    const std::set<std::pair<int, int>> failing = {{0, 15}, {0, 17}};
    for (int page = 0; page < 4; ++page) {
        ReadPage(page);
        EXPECT_EQ(form->Decoder().ReadAllCount(), 0u) << "page " << page << " still reading";
        const int rows = kRows[page] + (page == 0 ? 1 : 0);
        ASSERT_EQ(form->Parameters()->Sheet(page)->RowCount(), rows);
        for (int sub = 1; sub <= rows; ++sub) {
            TFillCell* c = Cell(page, sub);
            const bool failed = failing.contains({page, sub});
            EXPECT_EQ(c->ValueEdit->isEnabled(), !failed) << page << "/" << sub;
            EXPECT_FALSE(c->SetButton->isEnabled());
            if (failed || live.contains({page, sub}))
                continue;
            EXPECT_EQ(c->ValueEdit->text(), QString::number(UnitValue(2, kGroups[page], sub)))
                << page << "/" << sub;
        }
    }
    EXPECT_TRUE(sink.messages.empty());
}

// A value typed into a row goes to the unit on "Set"; a text that is not a
// number sends nothing.
struct SetCase {
    const char* name;
    int page;
    int sub;
    const char* typed;
    std::int32_t expected; // the unit's value afterwards
};

class SetRow : public Params, public ::testing::WithParamInterface<SetCase> {};

TEST_P(SetRow, ReachesTheUnitAndReadShowsIt)
{
    const SetCase& c = GetParam();
    Start();
    SetUnit(1);
    const std::size_t before = sent.size();
    TFillCell* cell = Cell(c.page, c.sub);
    cell->ValueEdit->setFocus();
    QTest::keyClicks(cell->ValueEdit, QString::fromLatin1(c.typed));
    ASSERT_TRUE(cell->SetButton->isEnabled());
    QTest::mouseClick(cell->SetButton, Qt::LeftButton);
    EXPECT_FALSE(cell->SetButton->isEnabled());
    Run(100ms);
    EXPECT_EQ(UnitValue(1, kGroups[c.page], c.sub), c.expected);
    EXPECT_EQ(UnitValue(0, kGroups[c.page], c.sub), node->Unit(3)->Read(kGroups[c.page], std::uint8_t(c.sub)))
        << "another unit was written";
    if (std::string_view(c.name) == "NotANumber") {
        EXPECT_EQ(sent.size(), before);
    }
    ReadPage(c.page);
    EXPECT_EQ(cell->ValueEdit->text(), QString::number(c.expected));
}

INSTANTIATE_TEST_SUITE_P(Texts, SetRow,
                         ::testing::Values(SetCase{"Decimal", 0, 1, "4500", 4500},
                                           SetCase{"Dollar", 1, 2, "$10", 16},
                                           SetCase{"ZeroX", 2, 6, "0x2A", 42},
                                           SetCase{"Negative", 1, 5, "-250", -250},
                                           SetCase{"NotANumber", 3, 1, "12a", 1000}),
                         [](const auto& info) { return std::string(info.param.name); });

// With every frame of the unit lost, each row fails a second after it was
// asked for and the sequence goes on to the end of the page.
TEST_F(Params, LostAnswerTimesOutAndTheReadGoesOn)
{
    Start("drop=1");
    QTest::mouseClick(form->Parameters()->Sheet(3)->ReadButton(), Qt::LeftButton);
    Run(2500ms);
    for (int sub = 1; sub <= 3; ++sub)
        EXPECT_EQ(Cell(3, sub)->ValueEdit->isEnabled(), sub > 2) << sub;
    EXPECT_EQ(form->Decoder().ReadAllCount(), 3u);
    Run(4000ms);
    EXPECT_EQ(form->Decoder().ReadAllCount(), 0u);
    for (int sub = 1; sub <= 6; ++sub)
        EXPECT_FALSE(Cell(3, sub)->ValueEdit->isEnabled()) << sub;
    // One read per row, in order: 7E 08 C0 20 40 00 2B sub.
    std::vector<int> asked;
    for (const auto& p : sent)
        if (p.size() == 12 && p[4] == 0x40 && p[6] == 0x2B)
            asked.push_back(p[7]);
    EXPECT_EQ(asked, (std::vector<int>{1, 2, 3, 4, 5, 6}));
    EXPECT_TRUE(sink.messages.empty());
}

// "Read" while another page is being read starts the new page at row 1.
TEST_F(Params, ReadDuringAReadStartsTheNewPageAtItsFirstRow)
{
    Start("delay=50");
    QTest::mouseClick(form->Parameters()->Sheet(0)->ReadButton(), Qt::LeftButton);
    Run(160ms); // a few Standard rows
    ASSERT_GT(form->Decoder().ReadAllCount(), 1u);
    ReadPage(1);
    Run(400ms);
    for (int sub = 1; sub <= kRows[1]; ++sub)
        EXPECT_EQ(Cell(1, sub)->ValueEdit->text(), QString::number(UnitValue(0, Group::Trigger, sub))) << sub;
}

// Each kind of button: what reached the unit and what its answer shows.
struct ButtonCase {
    const char* name;
    int button;
    std::function<void(Params&)> check;
};

class Buttons : public Params, public ::testing::WithParamInterface<ButtonCase> {};

TEST_P(Buttons, ReachTheUnitAndShowItsAnswer)
{
    Start({}, QStringLiteral("fbutton 44='Unit#' 'Unit address as filter' 'x' 2100sub08,DINDEX,\n"
                             "fbutton 45='Nothing' 'No kind' 'x' 2100sub01,TARE,\n"
                             "fbutton 46='FW' 'Firmware' 'x' 2900sub08,DIALOG_1,\n"));
    Press(GetParam().button);
    Run(100ms);
    GetParam().check(*this);
}

INSTANTIATE_TEST_SUITE_P(
    Kinds, Buttons,
    ::testing::Values(
        ButtonCase{"Direct", 43,
                   [](Params& self) {
                       EXPECT_EQ(self.UnitValue(0, Group::Trigger, 1), 0);
                       EXPECT_EQ(self.Cell(1, 1)->ValueEdit->text(), ""); // not the row's own write
                   }},
        ButtonCase{"DIndex", 44,
                   [](Params& self) {
                       self.SetUnit(2);
                       self.Press(44);
                       self.Run(100ms);
                       EXPECT_EQ(self.UnitValue(0, Group::Standard, 8), 2);
                   }},
        ButtonCase{"Dialog1", 6,
                   [](Params& self) {
                       TDialogForm1* d = self.form->ValueDialog1();
                       ASSERT_TRUE(d->isVisible());
                       EXPECT_EQ(d->windowTitle(), "Capacity - Scale capacity");
                       EXPECT_EQ(d->Edit1->text(), QString::number(self.UnitValue(0, Group::Standard, 1)));
                       d->Edit1->setText("4200");
                       QTest::mouseClick(d->SetButton(), Qt::LeftButton);
                       EXPECT_FALSE(d->isVisible());
                       self.Run(100ms);
                       EXPECT_EQ(self.UnitValue(0, Group::Standard, 1), 4200);
                   }},
        ButtonCase{"Dialog1Hex", 46,
                   [](Params& self) { EXPECT_EQ(self.form->ValueDialog1()->Edit1->text(), "0102"); }},
        ButtonCase{"Dialog2", 26,
                   [](Params& self) {
                       TDialogForm2* d = self.form->ValueDialog2();
                       ASSERT_TRUE(d->isVisible());
                       EXPECT_EQ(d->Edit1->text(), QString::number(self.UnitValue(0, Group::CalMass, 1)));
                       d->ComboBox1->setCurrentIndex(2);
                       d->ComboBox1Change();
                       self.Run(100ms);
                       EXPECT_EQ(d->Edit1->text(), QString::number(self.UnitValue(0, Group::CalMass, 3)));
                       // Masses are taken only while a calibration is open.
                       self.Press(20);
                       self.Run(100ms);
                       d->Edit1->setText("2500000");
                       QTest::mouseClick(d->SetButton(), Qt::LeftButton);
                       self.Run(100ms);
                       EXPECT_EQ(self.UnitValue(0, Group::CalMass, 3), 2500000);
                   }},
        ButtonCase{"Rpdo1", 83,
                   [](Params& self) {
                       EXPECT_EQ(self.Value3(), "** OK **");
                       EXPECT_EQ((self.node->Unit(0)->StatusWord() >> 8) & 3, 0); // gross selected
                   }},
        ButtonCase{
            "Rpdo2", 10,
            [](Params& self) { EXPECT_NEAR(self.Value3().toDouble(), self.node->Unit(0)->Gross(), 1.0); }},
        ButtonCase{"Rpdo3", 30,
                   [](Params& self) {
                       EXPECT_EQ(self.Cell(0, 1)->ValueEdit->text(),
                                 QString::number(self.UnitValue(0, Group::Standard, 1)));
                   }},
        ButtonCase{"Rpdo4", 40,
                   [](Params& self) {
                       EXPECT_EQ(self.Value3(), "** OK **");
                       EXPECT_NE(self.UnitValue(0, Group::Filling, 9), 0); // filling
                   }},
        ButtonCase{"Unassigned", 45,
                   [](Params& self) {
                       ASSERT_EQ(self.sink.messages.size(), 1u);
                       EXPECT_EQ(self.sink.messages[0].caption, "Function Key [45]");
                       EXPECT_EQ(self.sink.messages[0].text, "Unassigned Key");
                   }}),
    [](const auto& info) { return std::string(info.param.name); });

// The value dialogs' reading of answers fed as frames, and their Set.
TEST_F(Params, DialogsReadAnswersAndSendTheirValue)
{
    Start({}, QStringLiteral("fbutton 47='g' 'Local gravity' 'x' 2A00sub01,DIALOG_3,\n"));
    TDialogForm1* d1 = form->ValueDialog1();
    TDialogForm3* d3 = form->ValueDialog3();
    d1->ShowFor("1", "", 0x21000001);
    // Upload answer of node 1 (0x581): object 2900 sub 8 holding 255.
    const std::vector<std::uint8_t> answer{0x7E, 0x08, 0xB0, 0x20, 0x4B, 0x00,
                                           0x29, 0x08, 0xFF, 0x00, 0x00, 0x00};
    form->FrameReceived(answer);
    EXPECT_EQ(d1->Edit1->text(), "00FF");
    // The same value in another object reads as a decimal number.
    auto other = answer;
    other[6] = 0x21;
    form->FrameReceived(other);
    EXPECT_EQ(d1->Edit1->text(), "255");

    // An abort closes every dialog.
    d3->ShowFor("3", "", 0x2A000001);
    form->FrameReceived(
        std::vector<std::uint8_t>{0x7E, 0x08, 0xB0, 0x20, 0x80, 0x00, 0x2B, 0x03, 0x06, 0x09, 0x00, 0x11});
    EXPECT_FALSE(d1->isVisible());
    EXPECT_FALSE(d3->isVisible());
    form->ShowPendingMessages();  // the abort's own "SDO Error"
    sink.messages.clear();

    // The button reads the unit's present gravity; 1.5 goes out as its
    // single-precision bits 3FC00000, low byte first, to unit 0's object,
    // and the unit holds it: the next press reads it back.
    Press(47);
    Run(100ms);
    ASSERT_TRUE(d3->isVisible());
    EXPECT_EQ(d3->Edit1->text(), "9.80665");
    d3->Edit1->setText("1.5");
    sent.clear();
    QTest::mouseClick(d3->SetButton(), Qt::LeftButton);
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0],
              (tervix::FramePacket{0x7E, 0x08, 0xC0, 0x20, 0x22, 0x00, 0x2A, 0x01, 0x00, 0x00, 0xC0, 0x3F}));
    EXPECT_FALSE(d3->isVisible());
    Run(100ms);
    form->ShowPendingMessages();
    EXPECT_TRUE(sink.messages.empty());
    Press(47);
    Run(100ms);
    EXPECT_EQ(d3->Edit1->text(), "1.5");
    d3->hide();

    // Two digits and a letter: nothing is sent, the dialog closes with a message.
    d1->ShowFor("1", "", 0x21000001);
    d1->Edit1->setText("12a");
    sent.clear();
    QTest::mouseClick(d1->SetButton(), Qt::LeftButton);
    EXPECT_TRUE(sent.empty());
    EXPECT_FALSE(d1->isVisible());
    form->ShowPendingMessages();
    ASSERT_EQ(sink.messages.size(), 1u);
    EXPECT_EQ(sink.messages[0].caption, "SendCommand");
    EXPECT_EQ(sink.messages[0].text, "Illegal data");
}

// Row heights keep to 15..21 pixels; the buttons are 60 × 22 from (2, 16).
TEST(ParamsLayout, RowsAndButtonsSitWhereTheirSizesPutThem)
{
    for (const auto& [rows, height] : {std::pair{30, 15}, std::pair{5, 21}}) {
        QWidget page;
        page.resize(400, 500);
        tervix::PageSection section;
        for (int k = 1; k <= rows; ++k)
            section.rows.push_back(
                {std::uint8_t(k), std::size_t(k), "label", 0x21000000u + std::uint32_t(k)});
        TParamSheet sheet(&page, section, 0);
        EXPECT_EQ(sheet.RowHeight(), height) << rows;
        // Row 2: value box at (HalfWidth + 8, 2 × height + 34), HalfWidth = (400 - 16) / 2.
        EXPECT_EQ(sheet.Cell(2)->ValueEdit->geometry(), QRect(200, 2 * height + 34, 144, height - 4));
        EXPECT_EQ(sheet.Cell(2)->SetButton->geometry(), QRect(344, 2 * height + 35, 48, height));
    }
    QGroupBox box;
    TFunctions panel(&box, tervix::ConfigLines());
    const std::pair<int, QRect> places[] = {{0, QRect(2, 16, 60, 22)},
                                            {9, QRect(542, 16, 60, 22)},
                                            {10, QRect(2, 38, 60, 22)},
                                            {109, QRect(542, 236, 60, 22)}};
    for (const auto& [n, rect] : places)
        EXPECT_EQ(panel.Button(n)->geometry(), rect) << n;
    // An empty configuration leaves only the three value selectors usable.
    int enabled = 0;
    for (int n = 0; n < 110; ++n)
        enabled += panel.Button(n)->isEnabled() ? 1 : 0;
    EXPECT_EQ(enabled, 3);
    EXPECT_EQ(panel.Button(83)->text(), "S-Gross");
}

// Without its file the window says so once and builds no rows or buttons,
// and goes on working.
TEST(ParamsWithoutFile, SaysSoOnceAndTheRestWorks)
{
    QTemporaryDir dir;
    const QString previous = QDir::currentPath();
    ASSERT_TRUE(QDir::setCurrent(dir.path()));
    tervix::ManualClock clock;
    RecordingMessageSink sink;
    auto parsed = tervix::sim::ParseSimOptions("");
    auto driver = std::make_unique<SimDriver>(*parsed, clock);
    tervix::sim::SimulatedUnit* node = &driver->Unit();
    auto usb = std::make_unique<TUSB2CAN>(std::move(driver), clock);
    {
        TForm1 form(sink, clock, TForm1::Adapters{usb.get(), NoSerialPorts()});
        QDir::setCurrent(previous);
        form.Comm()->Timer().stop();
        QCoreApplication::processEvents();
        form.ShowPendingMessages();
        ASSERT_EQ(sink.messages.size(), 1u);
        EXPECT_EQ(sink.messages[0].text, "Cannot open file Tervix.conf");
        EXPECT_EQ(form.Parameters(), nullptr);
        EXPECT_EQ(form.Functions(), nullptr);
        auto* pages = form.findChild<QTabWidget*>("PageControl1");
        for (int p = 0; p < pages->count(); ++p)
            EXPECT_TRUE(pages->widget(p)->findChildren<QLineEdit*>().isEmpty()) << p;
        EXPECT_TRUE(form.DataPage()->FunctionsBox()->findChildren<QPushButton*>().isEmpty());

        form.btNMT_StartClick();
        for (int i = 0; i < 200; ++i) {
            clock.Advance(3ms);
            form.Comm()->Timer().tick();
        }
        form.RefreshNow();
        EXPECT_EQ(node->State(), tervix::sim::NmtState::Operational);
        EXPECT_NEAR(form.UnitBox(0)->ValueEdit()->text().toDouble(), node->Unit(0)->Gross(), 1.0);
        form.ShowPendingMessages();
        EXPECT_EQ(sink.messages.size(), 1u);
    }
    QDir::setCurrent(previous);
}

} // namespace
