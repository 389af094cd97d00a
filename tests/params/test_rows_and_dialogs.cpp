// Whose answers the parameter rows show, requests refused for a unit address
// that does not fit a byte, and what the value dialogs take and send: the
// real window against the simulated node, the node's state the reference.
// Frames the tests put on the bus themselves stand for another master (or
// the SDO dialog) talking to the same unit.
#include "params_fixture.h"

#include <functional>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<std::uint8_t>;

// An expedited SDO request to node 1 (0x601), as any master sends it.
tervix::FramePacket SdoRequest(std::uint8_t command, std::uint16_t index, std::uint8_t sub,
                               std::uint32_t v = 0)
{
    return {0x7E, 0x08, 0xC0, 0x20, command, std::uint8_t(index), std::uint8_t(index >> 8), sub,
            std::uint8_t(v), std::uint8_t(v >> 8), std::uint8_t(v >> 16), std::uint8_t(v >> 24)};
}

class Rows : public Params {
public:
    void Type(TFillCell* cell, const char* text)
    {
        cell->ValueEdit->setFocus();
        cell->ValueEdit->selectAll();
        QTest::keyClicks(cell->ValueEdit, QString::fromLatin1(text));
        QTest::mouseClick(cell->SetButton, Qt::LeftButton);
    }
    void FromElsewhere(const tervix::FramePacket& request)
    {
        (void)form->Comm()->SendFrame(*tervix::DecodePacket(request));
        Run(100ms);
    }
};

// A row shows the unit it was read or set for: its own write once the unit
// confirms it, never another unit's answers or a write it did not make.
TEST_F(Rows, ShowOnlyTheirUnitAndTheirOwnWrites)
{
    Start();
    SetUnit(2);
    ReadPage(0);
    const QString motionBand = QString::number(UnitValue(2, Group::Standard, 5));
    ASSERT_EQ(Cell(0, 5)->ValueEdit->text(), motionBand);

    // Set 1234: the confirmation carries no value, the row shows 1234.
    Type(Cell(0, 1), "1234");
    Run(100ms);
    EXPECT_EQ(UnitValue(2, Group::Standard, 1), 1234);
    EXPECT_EQ(Cell(0, 1)->ValueEdit->text(), "1234");
    EXPECT_FALSE(Cell(0, 1)->SetButton->isEnabled());

    // Unit 0's motion band written and read from elsewhere: unit 2's row stays.
    FromElsewhere(SdoRequest(0x23, 0x2100, 5, 77));
    FromElsewhere(SdoRequest(0x40, 0x2100, 5));
    EXPECT_EQ(UnitValue(0, Group::Standard, 5), 77);
    EXPECT_EQ(Cell(0, 5)->ValueEdit->text(), motionBand);

    // Unit 2's own object written from elsewhere: the confirmation is not the
    // row's, so the row keeps what it showed; reading it from elsewhere is
    // the unit's answer, and the row takes it.
    FromElsewhere(SdoRequest(0x23, 0x2102, 5, 55));
    EXPECT_EQ(Cell(0, 5)->ValueEdit->text(), motionBand);
    FromElsewhere(SdoRequest(0x40, 0x2102, 5));
    EXPECT_EQ(Cell(0, 5)->ValueEdit->text(), "55");

    // Another master's read request, heard on the bus, carries no value of the unit's.
    form->FrameReceived(SdoRequest(0x40, 0x2102, 1));
    Run(100ms);
    EXPECT_EQ(Cell(0, 1)->ValueEdit->text(), "1234");

    // The tare button writes 0 to 2102 sub 9: not a write of the row's.
    Cell(0, 9)->ValueEdit->setText(QStringLiteral("kept"));
    Press(4);
    Run(100ms);
    EXPECT_EQ(UnitValue(2, Group::Standard, 9), 0);
    EXPECT_EQ(Cell(0, 9)->ValueEdit->text(), "kept");
    form->ShowPendingMessages();
    EXPECT_TRUE(sink.messages.empty());
}

// A unit slower than the time-out: each row fails when its second is up, and
// comes back with its value when the answer arrives after all.
TEST_F(Rows, ALateAnswerBringsAFailedRowBack)
{
    Start("delay=1300");
    QTest::mouseClick(form->Parameters()->Sheet(3)->ReadButton(), Qt::LeftButton);
    Run(1100ms);
    EXPECT_FALSE(Cell(3, 1)->ValueEdit->isEnabled()); // failed at 1 s
    Run(400ms);
    EXPECT_TRUE(Cell(3, 1)->ValueEdit->isEnabled()); // its answer came at 1.3 s
    EXPECT_EQ(Cell(3, 1)->ValueEdit->text(), QString::number(UnitValue(0, Group::MassFlow, 1)));
    Run(7000ms);
    EXPECT_EQ(form->Decoder().ReadAllCount(), 0u);
    for (int sub = 1; sub <= kRows[3]; ++sub)
        EXPECT_TRUE(Cell(3, sub)->ValueEdit->isEnabled()) << sub;
}

// A unit that is not there fails every row; read from a unit that answers,
// the rows are live again.
TEST_F(Rows, AFailedRowComesBackWithTheNextRead)
{
    Start();
    SetUnit(9); // the node hosts units 0..3
    ReadPage(2);
    ASSERT_EQ(form->Decoder().ReadAllCount(), 0u);
    for (int sub = 1; sub <= kRows[2]; ++sub)
        ASSERT_FALSE(Cell(2, sub)->ValueEdit->isEnabled()) << sub;
    SetUnit(1);
    ReadPage(2);
    for (int sub = 1; sub <= kRows[2]; ++sub) {
        EXPECT_TRUE(Cell(2, sub)->ValueEdit->isEnabled()) << sub;
        if (sub == 9)
            continue; // the fill state moves by itself
        EXPECT_EQ(Cell(2, sub)->ValueEdit->text(), QString::number(UnitValue(1, Group::Filling, sub))) << sub;
    }
}

// --sdo-timeout longer than the unit's answer: the row waits for it
// instead of failing at the default second.
TEST_F(Rows, ALongerTimeoutWaitsForASlowUnit)
{
    Start("delay=1200");
    form->SetSdoTimeout(1500ms);
    QTest::mouseClick(form->Parameters()->Sheet(1)->ReadButton(), Qt::LeftButton);
    Run(1100ms);
    EXPECT_TRUE(Cell(1, 1)->ValueEdit->isEnabled());
    EXPECT_EQ(form->Decoder().ReadAllCount(), 1u);
    Run(200ms);
    EXPECT_EQ(form->Decoder().ReadAllCount(), 2u);
    EXPECT_EQ(Cell(1, 1)->ValueEdit->text(), QString::number(UnitValue(0, Group::Trigger, 1)));
}

// Everything a person starts that carries the unit address refuses one that
// does not fit in a byte, the same way, and sends nothing.
struct RefusalCase {
    const char* name;
    std::function<void(Rows&)> act;
    bool sends; // RPDO4 carries no unit address
};

class OutOfRangeUnit : public Rows, public ::testing::WithParamInterface<RefusalCase> {};

TEST_P(OutOfRangeUnit, IsIllegalData)
{
    const RefusalCase& c = GetParam();
    Start({}, QStringLiteral("fbutton 44='Unit#' 'Unit address as filter' 'x' 2100sub08,DINDEX,\n"));
    // 2^32 + 5 must not wrap round to unit 5.
    for (const char* unit : {"256", "-1", "4294967301"}) {
        SCOPED_TRACE(unit);
        form->DataPage()->UnitAddressBox()->setEditText(QString::fromLatin1(unit));
        sent.clear();
        sink.messages.clear();
        c.act(*this);
        Run(50ms);
        form->ShowPendingMessages();
        if (c.sends) {
            EXPECT_EQ(sent.size(), 1u);
            EXPECT_TRUE(sink.messages.empty());
            continue;
        }
        EXPECT_TRUE(sent.empty());
        ASSERT_EQ(sink.messages.size(), 1u);
        EXPECT_EQ(sink.messages[0].caption, "SendCommand");
        EXPECT_EQ(sink.messages[0].text, "Illegal data");
        for (QWidget* d : std::initializer_list<QWidget*>{form->ValueDialog1(), form->ValueDialog2(),
                                                           form->ValueDialog3()})
            EXPECT_FALSE(d->isVisible()) << d->objectName().toStdString();
    }
}

INSTANTIATE_TEST_SUITE_P(Requests, OutOfRangeUnit,
                         ::testing::Values(RefusalCase{"RowSet", [](Rows& t) { t.Type(t.Cell(0, 1), "5"); }, false},
                                           RefusalCase{"PageRead", [](Rows& t) { t.ReadPage(0); }, false},
                                           RefusalCase{"Direct", [](Rows& t) { t.Press(4); }, false},
                                           RefusalCase{"DIndex", [](Rows& t) { t.Press(44); }, false},
                                           RefusalCase{"Dialog1", [](Rows& t) { t.Press(6); }, false},
                                           RefusalCase{"Dialog2", [](Rows& t) { t.Press(26); }, false},
                                           RefusalCase{"Dialog3", [](Rows& t) { t.Press(29); }, false},
                                           RefusalCase{"Rpdo2", [](Rows& t) { t.Press(0); }, false},
                                           RefusalCase{"Rpdo3", [](Rows& t) { t.Press(30); }, false},
                                           RefusalCase{"Rpdo4", [](Rows& t) { t.Press(40); }, true}),
                         [](const auto& info) { return std::string(info.param.name); });

// The guard timer's frame carries the unit address too: refused, it is
// counted like a failed timer send, with no box every 300 ms.
TEST_F(Rows, GuardingWithAnOutOfRangeUnitCountsWithoutABox)
{
    Start();
    SetUnit(300);
    form->Decoder().SetGuarding(true);
    sent.clear();
    for (int i = 0; i < 3; ++i)
        form->GuardTimerTick();
    form->ShowPendingMessages();
    EXPECT_TRUE(sent.empty());
    EXPECT_TRUE(sink.messages.empty());
    EXPECT_EQ(form->Comm()->TimerSendFailures(), 3);
    SetUnit(3);
    form->GuardTimerTick();
    ASSERT_EQ(sent.size(), 1u);
    // Guarding node 1: remote frame 0x701 (E0 20) with the unit in data byte 0.
    EXPECT_EQ(sent[0], (tervix::FramePacket{0x7E, 0x01, 0xE0, 0x20, 0x03}));
}

// The unit address reaches the index of what the buttons and dialogs ask for
// and write (unit 3: index low byte 03).
TEST_F(Rows, ButtonsAndDialogsAddressTheSelectedUnit)
{
    Start();
    SetUnit(3);
    Press(4); // Tare 0: 2100sub09, DIRECT
    Run(100ms);
    EXPECT_EQ(sent.back(), SdoRequest(0x22, 0x2103, 9, 0));
    Press(6); // Capacity: 2100sub01, DIALOG_1
    EXPECT_EQ(sent.back(), SdoRequest(0x40, 0x2103, 1));
    Run(100ms);
    TDialogForm1* d1 = form->ValueDialog1();
    EXPECT_EQ(d1->Edit1->text(), QString::number(UnitValue(3, Group::Standard, 1)));
    d1->Edit1->setText(QStringLiteral("3100"));
    QTest::mouseClick(d1->SetButton(), Qt::LeftButton);
    EXPECT_EQ(sent.back(), SdoRequest(0x22, 0x2103, 1, 3100));
    Run(100ms);
    EXPECT_EQ(UnitValue(3, Group::Standard, 1), 3100);

    Press(26); // Calibration mass: 2600, DIALOG_2, point 1 first
    EXPECT_EQ(sent.back(), SdoRequest(0x40, 0x2603, 1));
    Run(100ms); // the unit serves one request at a time: the next waits for this answer
    TDialogForm2* d2 = form->ValueDialog2();
    d2->ComboBox1->setCurrentIndex(2);
    d2->ComboBox1Change();
    EXPECT_EQ(sent.back(), SdoRequest(0x40, 0x2603, 3));
    Run(100ms);
    EXPECT_EQ(d2->Edit1->text(), QString::number(UnitValue(3, Group::CalMass, 3)));
}

// Dialog 3 sends a finite single-precision value, its IEEE bits low byte
// first; what has none is "Illegal data" and sends nothing.
struct FloatCase {
    const char* typed;
    std::optional<std::uint32_t> bits;
};

class Dialog3Value : public Rows, public ::testing::WithParamInterface<FloatCase> {};

TEST_P(Dialog3Value, IsAFiniteFloatOrIllegal)
{
    const FloatCase& c = GetParam();
    Start();
    Press(29); // Local gravity: 2A00sub01, DIALOG_3
    Run(100ms);
    TDialogForm3* d = form->ValueDialog3();
    ASSERT_TRUE(d->isVisible());
    d->Edit1->setText(QString::fromLatin1(c.typed));
    sent.clear();
    QTest::mouseClick(d->SetButton(), Qt::LeftButton);
    form->ShowPendingMessages();
    EXPECT_FALSE(d->isVisible());
    if (c.bits) {
        ASSERT_EQ(sent.size(), 1u);
        EXPECT_EQ(sent[0], SdoRequest(0x22, 0x2A00, 1, *c.bits));
        EXPECT_TRUE(sink.messages.empty());
    } else {
        EXPECT_TRUE(sent.empty());
        ASSERT_EQ(sink.messages.size(), 1u);
        EXPECT_EQ(sink.messages[0].text, "Illegal data");
    }
}

INSTANTIATE_TEST_SUITE_P(Texts, Dialog3Value,
                         ::testing::Values(FloatCase{"-2.5", 0xC0200000}, FloatCase{"1e-50", 0x00000000},
                                           FloatCase{"3.4028235e38", 0x7F7FFFFF},
                                           FloatCase{"-3.4028235e38", 0xFF7FFFFF}, FloatCase{"3.5e38", {}},
                                           FloatCase{"1e39", {}}, FloatCase{"nan", {}}, FloatCase{"inf", {}},
                                           FloatCase{"-inf", {}}));

// TPDO3 answers in dialogs 1 and 2: which codes and positions they take.
// Node 1's TPDO3 is 0x381; data byte 0 is the unit, byte 1 the code.
struct TpdoCase {
    const char* name;
    int dialog; // 1 or 2
    Bytes data;
    const char* shown; // "kept" when the dialog leaves its box alone
    bool visible = true;
};

class TpdoAnswer : public Rows, public ::testing::WithParamInterface<TpdoCase> {};

TEST_P(TpdoAnswer, TakesItsCodesAtTheirPositions)
{
    const TpdoCase& c = GetParam();
    Start();
    TValueDialog* d = c.dialog == 1 ? static_cast<TValueDialog*>(form->ValueDialog1())
                                    : static_cast<TValueDialog*>(form->ValueDialog2());
    if (c.dialog == 1)
        form->ValueDialog1()->ShowFor(QStringLiteral("1"), {}, 0x21000001);
    else
        form->ValueDialog2()->ShowFor(0, form->Functions()->Button(26));
    d->Edit1->setText(QStringLiteral("kept"));
    if (!c.visible)
        d->hide();
    tervix::FramePacket frame{0x7E, static_cast<std::uint8_t>(c.data.size()), 0x70, 0x20};
    frame.insert(frame.end(), c.data.begin(), c.data.end());
    form->FrameReceived(frame);
    EXPECT_EQ(d->Edit1->text().toStdString(), c.shown);
}

INSTANTIATE_TEST_SUITE_P(
    Codes, TpdoAnswer,
    ::testing::Values(
        // Dialog 1: codes 3 and 18 carry the value in data bytes 3..6, code 38 in 4..7.
        TpdoCase{"Code3", 1, {0x00, 3, 0x01, 0x40, 0xE2, 0x01, 0x00, 0x99}, "123456"},
        TpdoCase{"Code18", 1, {0x00, 18, 0x05, 0xFF, 0xFF, 0xFF, 0xFF, 0x99}, "-1"},
        TpdoCase{"Code38", 1, {0x00, 38, 0x00, 0x02, 0x10, 0x27, 0x00, 0x00}, "10000"},
        TpdoCase{"OtherCode", 1, {0x00, 6, 0x00, 0x02, 0x10, 0x27, 0x00, 0x00}, "kept"},
        TpdoCase{"Hidden", 1, {0x00, 3, 0x01, 0x40, 0xE2, 0x01, 0x00, 0x00}, "kept", false},
        // Dialog 2: data byte 5 names the group 26..28; the value starts at
        // data byte 7 and the bytes past the frame read as zero.
        TpdoCase{"Group27", 2, {0x00, 0x13, 0x00, 0x00, 0x00, 0x27, 0x00, 0xC8}, "200"},
        TpdoCase{"ShortFrame", 2, {0x00, 0x13, 0x00, 0x00, 0x00, 0x28}, "0"},
        TpdoCase{"Group25", 2, {0x00, 0x13, 0x00, 0x00, 0x00, 0x25, 0x00, 0xC8}, "kept"}),
    [](const auto& info) { return std::string(info.param.name); });

// Set and Cancel of dialog 1 when nothing may go out.
struct SetCase {
    const char* name;
    std::uint32_t indexSub;
    bool cancel;
    bool senderFails;
    bool illegal;
};

class Dialog1Set : public Rows, public ::testing::WithParamInterface<SetCase> {};

TEST_P(Dialog1Set, SendsNothing)
{
    const SetCase& c = GetParam();
    Start();
    Press(6); // Capacity: 2100sub01, DIALOG_1
    Run(100ms);
    TDialogForm1* d = form->ValueDialog1();
    ASSERT_TRUE(d->isVisible());
    if (c.senderFails)
        form->SetFrameSender([](const tervix::BusFrame&) { return tervix::Status::Failed("adapter gone"); });
    if (c.indexSub != 0x21000001)
        d->ShowFor(QStringLiteral("1"), {}, c.indexSub);
    d->Edit1->setText(QStringLiteral("42"));
    sent.clear();
    QTest::mouseClick(c.cancel ? d->CancelButton() : d->SetButton(), Qt::LeftButton);
    form->ShowPendingMessages();
    EXPECT_FALSE(d->isVisible());
    EXPECT_FALSE(d->SetButton()->isDefault());
    EXPECT_TRUE(sent.empty());
    if (c.illegal) {
        ASSERT_EQ(sink.messages.size(), 1u);
        EXPECT_EQ(sink.messages[0].caption, "SendCommand");
        EXPECT_EQ(sink.messages[0].text, "Illegal data");
    } else {
        EXPECT_TRUE(sink.messages.empty());
    }
}

INSTANTIATE_TEST_SUITE_P(Cases, Dialog1Set,
                         ::testing::Values(SetCase{"Cancel", 0x21000001, true, false, false},
                                           SetCase{"NoObject", 0, false, false, false},
                                           SetCase{"SendFails", 0x21000001, false, true, true}),
                         [](const auto& info) { return std::string(info.param.name); });

} // namespace
