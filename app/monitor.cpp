#include "monitor.h"

#include "combo_choice_box.h"
#include "log_view.h"
#include "message_sink.h"
#include "parameter_pages.h"
#include "tervix_application.h"
#include "unit_box.h"

#include "MyComm.h"
#include "usb2can.h"

#include "bit_rates.h"

#include "number_text.h"
#include "status_texts.h"

#include <QCheckBox>
#include <QComboBox>
#include <QEvent>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QPushButton>
#include <QScreen>
#include <QShowEvent>
#include <QTabWidget>
#include <QTimer>
#include <QVBoxLayout>

using namespace tervix;

namespace {

constexpr int kAddressItems = 128;
constexpr int kUnitAddressItems = 32;

QLineEdit* MakeEdit(QWidget* parent, const char* name, const QString& text = {})
{
    auto* e = new QLineEdit(text, parent);
    e->setObjectName(QString::fromLatin1(name));
    e->setReadOnly(true);
    return e;
}

QPushButton* MakeButton(QWidget* parent, const char* name, const QString& caption)
{
    auto* b = new QPushButton(caption, parent);
    b->setObjectName(QString::fromLatin1(name));
    return b;
}

QWidget* MakePage(QTabWidget* tabs, const char* name, const QString& caption)
{
    auto* page = new QWidget(tabs);
    page->setObjectName(QString::fromLatin1(name));
    tabs->addTab(page, caption);
    return page;
}

} // namespace

TForm1::TForm1(MessageSink& messages, Clock& clock, QWidget* parent) : TForm1(messages, clock, Adapters(), parent)
{
}

TForm1::TForm1(MessageSink& messages, Clock& clock, Adapters adapters, QWidget* parent)
    : QWidget(parent), messages_(messages), clock_(clock)
{
    setObjectName(QStringLiteral("Form1"));
    setWindowTitle(QStringLiteral("Tervix - V2.3"));
    const QString point = QLocale().decimalPoint();
    if (point.size() == 1 && point.at(0).unicode() < 0x80)
        decimalSeparator_ = point.at(0).toLatin1();

    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(4, 4, 4, 4);
    PageControl2 = new QTabWidget(this);
    PageControl2->setObjectName(QStringLiteral("PageControl2"));
    bgParameters = new QGroupBox(QStringLiteral("Parameters"), this);
    bgParameters->setObjectName(QStringLiteral("bgParameters"));
    layout->addWidget(PageControl2, 5);
    layout->addWidget(bgParameters, 3);

    BuildCommunicationPage();
    BuildDataSheet();
    BuildKrvDataPage();
    BuildParameterGroup();
    PageControl2->setCurrentWidget(tsKRVData);

    resize(992, 619);
    if (const QScreen* screen = this->screen())
        move(screen->availableGeometry().center() - rect().center());

    FormCreate(adapters);
}

TForm1::~TForm1() = default;

void TForm1::BuildCommunicationPage()
{
    tsComm = MakePage(PageControl2, "tsComm", QStringLiteral("Communication"));
    auto* grid = new QGridLayout(tsComm);

    cbxAdaptorPort = new QComboBox(tsComm);
    cbxAdaptorPort->setObjectName(QStringLiteral("cbxAdaptorPort"));
    cbxCANaddr = new QComboBox(tsComm);
    cbxCANaddr->setObjectName(QStringLiteral("cbxCANaddr"));
    cbxCANspeed = new QComboBox(tsComm);
    cbxCANspeed->setObjectName(QStringLiteral("cbxCANspeed"));
    cbxCANspeed->setEditable(true);
    btFind = MakeButton(tsComm, "btFind", QStringLiteral("Find ZT9K"));
    lbInfo = new QLabel(tsComm);
    lbInfo->setObjectName(QStringLiteral("lbInfo"));
    lbInfo->setTextInteractionFlags(Qt::TextSelectableByMouse);
    Memo1 = new LogView(tsComm);
    Memo1->setObjectName(QStringLiteral("Memo1"));

    grid->addWidget(new QLabel(QStringLiteral("PORT"), tsComm), 0, 0);
    grid->addWidget(new QLabel(QStringLiteral("CAN Addr"), tsComm), 0, 1);
    grid->addWidget(new QLabel(QStringLiteral("CAN speed"), tsComm), 0, 2);
    grid->addWidget(cbxAdaptorPort, 1, 0);
    grid->addWidget(cbxCANaddr, 1, 1);
    grid->addWidget(cbxCANspeed, 1, 2);
    grid->addWidget(btFind, 1, 3);
    auto* info = new QHBoxLayout;
    info->addWidget(new QLabel(QStringLiteral("Comm Info"), tsComm));
    info->addWidget(lbInfo, 1);
    grid->addLayout(info, 2, 0, 1, 5);
    grid->addWidget(Memo1, 3, 0, 1, 5);
    grid->setColumnStretch(4, 1);
    grid->setRowStretch(3, 1);
}

void TForm1::BuildDataSheet()
{
    DataSheet = MakePage(PageControl2, "DataSheet", QStringLiteral("CAN Data"));
    DataSheet->installEventFilter(this);
}

void TForm1::BuildKrvDataPage()
{
    tsKRVData = MakePage(PageControl2, "tsKRVData", QStringLiteral("KRV Data"));
    QWidget* p = tsKRVData;
    auto* outer = new QVBoxLayout(p);

    auto* top = new QHBoxLayout;
    cbxKRVaddr = new QComboBox(p);
    cbxKRVaddr->setObjectName(QStringLiteral("cbxKRVaddr"));
    cbxKRVaddr->setEditable(true);
    cbxKRVaddr->setInsertPolicy(QComboBox::NoInsert);
    btNMT_Start = MakeButton(p, "btNMT_Start", QStringLiteral("NMT Start"));
    btNMT_Stop = MakeButton(p, "btNMT_Stop", QStringLiteral("NMT Stop"));
    cbTest = new QCheckBox(QStringLiteral("Run Nodeguard"), p);
    cbTest->setObjectName(QStringLiteral("cbTest"));
    cbxTPDOint = new QCheckBox(QStringLiteral("TPDO Integer"), p);
    cbxTPDOint->setObjectName(QStringLiteral("cbxTPDOint"));
    top->addWidget(new QLabel(QStringLiteral("KRV unit Addr"), p));
    top->addWidget(cbxKRVaddr);
    top->addSpacing(12);
    top->addWidget(btNMT_Start);
    top->addWidget(btNMT_Stop);
    top->addSpacing(12);
    top->addWidget(cbTest);
    top->addWidget(cbxTPDOint);
    top->addStretch(1);
    outer->addLayout(top);

    auto* rows = new QGridLayout;
    edbxTPDO1 = MakeEdit(p, "edbxTPDO1", QStringLiteral("edbxTPDO1"));
    edbxTPDO2 = MakeEdit(p, "edbxTPDO2", QStringLiteral("edbxTPDO2"));
    edbxTPDO3 = MakeEdit(p, "edbxTPDO3", QStringLiteral("edbxTPDO3"));
    edbxTPDO4 = MakeEdit(p, "edbxTPDO4", QStringLiteral("edbxTPDO4"));
    edbxGross1 = MakeEdit(p, "edbxGross1");
    edbxGross2 = MakeEdit(p, "edbxGross2");
    edbxValue3 = MakeEdit(p, "edbxValue3");
    edbxVref = MakeEdit(p, "edbxVref");
    edbxVtemp = MakeEdit(p, "edbxVtemp");
    edbxTPDO1count = MakeEdit(p, "edbxTPDO1count", QStringLiteral("0"));
    edbxTPDO2count = MakeEdit(p, "edbxTPDO2count", QStringLiteral("0"));
    edbxTPDO3count = MakeEdit(p, "edbxTPDO3count", QStringLiteral("0"));
    edbxTPDO4count = MakeEdit(p, "edbxTPDO4count", QStringLiteral("0"));
    btClear1 = MakeButton(p, "btClear1", QStringLiteral("Clear"));
    btClear2 = MakeButton(p, "btClear2", QStringLiteral("Clear"));
    btClear3 = MakeButton(p, "btClear3", QStringLiteral("Clear"));
    btClear4 = MakeButton(p, "btClear4", QStringLiteral("Clear"));

    rows->addWidget(new QLabel(QStringLiteral("Last frame"), p), 0, 1);
    rows->addWidget(new QLabel(QStringLiteral("Weight"), p), 0, 2);
    rows->addWidget(new QLabel(QStringLiteral("PDO counters"), p), 0, 3);
    QLineEdit* lines[] = {edbxTPDO1, edbxTPDO2, edbxTPDO3, edbxTPDO4};
    QLineEdit* values[] = {edbxGross1, edbxGross2, edbxValue3, nullptr};
    QLineEdit* counts[] = {edbxTPDO1count, edbxTPDO2count, edbxTPDO3count, edbxTPDO4count};
    QPushButton* clears[] = {btClear1, btClear2, btClear3, btClear4};
    for (int i = 0; i < 4; ++i) {
        const int row = i + 1;
        rows->addWidget(new QLabel(QStringLiteral("TPDO%1").arg(i + 1), p), row, 0);
        rows->addWidget(lines[i], row, 1);
        if (values[i])
            rows->addWidget(values[i], row, 2);
        rows->addWidget(counts[i], row, 3);
        rows->addWidget(clears[i], row, 4);
    }
    rows->addWidget(new QLabel(QStringLiteral("Temperature"), p), 5, 1, Qt::AlignRight);
    rows->addWidget(edbxVref, 5, 2);
    rows->addWidget(new QLabel(QStringLiteral("Vtemp/Vref"), p), 6, 1, Qt::AlignRight);
    rows->addWidget(edbxVtemp, 6, 2);

    edbxGrossMax = MakeEdit(p, "edbxGrossMax", QStringLiteral("0"));
    edbxGrossMin = MakeEdit(p, "edbxGrossMin", QStringLiteral("0"));
    edbxGrossMax->setProperty("tag", 0);
    edbxGrossMin->setProperty("tag", 0);
    btClearMaxMin = MakeButton(p, "btClearMaxMin", QStringLiteral("Clear"));
    rows->addWidget(new QLabel(QStringLiteral("Max"), p), 7, 1, Qt::AlignRight);
    rows->addWidget(edbxGrossMax, 7, 2);
    rows->addWidget(new QLabel(QStringLiteral("Min"), p), 8, 1, Qt::AlignRight);
    rows->addWidget(edbxGrossMin, 8, 2);
    rows->addWidget(btClearMaxMin, 8, 4);

    lbBusy2 = new QLabel(QStringLiteral("Busy"), p);
    lbBusy2->setObjectName(QStringLiteral("lbBusy2"));
    rows->addWidget(new QLabel(QStringLiteral("Response time [ms]"), p), 9, 1, Qt::AlignRight);
    rows->addWidget(lbBusy2, 9, 2);
    rows->setColumnStretch(1, 6);
    rows->setColumnStretch(2, 2);
    rows->setColumnStretch(3, 1);
    outer->addLayout(rows);

    gbFunctions = new QGroupBox(QStringLiteral("KRV Functions"), p);
    gbFunctions->setObjectName(QStringLiteral("gbFunctions"));
    outer->addWidget(gbFunctions, 1);

    WireDataPage();
}

void TForm1::WireDataPage()
{
    QLineEdit* lines[] = {edbxTPDO1, edbxTPDO2, edbxTPDO3, edbxTPDO4};
    QLineEdit* counts[] = {edbxTPDO1count, edbxTPDO2count, edbxTPDO3count, edbxTPDO4count};
    for (int i = 0; i < 4; ++i) {
        tpdoLine_[i].Attach(lines[i]);
        tpdoLine_[i].Set(lines[i]->text().toStdString());
        tpdoCount_[i].Attach(counts[i]);
        tpdoCount_[i].Set("0");
    }
    gross1_.Attach(edbxGross1);
    gross2_.Attach(edbxGross2);
    value3_.Attach(edbxValue3);
    vref_.Attach(edbxVref);
    vtemp_.Attach(edbxVtemp);
    grossMax_.Attach(edbxGrossMax);
    grossMax_.Set("0");
    grossMin_.Attach(edbxGrossMin);
    grossMin_.Set("0");
    busy_.Attach(lbBusy2);
    busy_.Set("Busy");

    connect(btClear1, &QPushButton::clicked, this, &TForm1::btClear1Click);
    connect(btClear2, &QPushButton::clicked, this, &TForm1::btClear2Click);
    connect(btClear3, &QPushButton::clicked, this, &TForm1::btClear3Click);
    connect(btClear4, &QPushButton::clicked, this, &TForm1::btClear4Click);
    connect(btClearMaxMin, &QPushButton::clicked, this, &TForm1::btClearMaxMinClick);
    connect(btNMT_Start, &QPushButton::clicked, this, &TForm1::btNMT_StartClick);
    connect(btNMT_Stop, &QPushButton::clicked, this, &TForm1::btNMT_StopClick);
    connect(cbTest, &QCheckBox::toggled, this, &TForm1::cbTestClick);
    connect(cbxKRVaddr, &QComboBox::editTextChanged, this,
            [this](const QString& text) { unitAddress_ = ParseDecimal(text.toStdString()); });
}

void TForm1::BuildParameterGroup()
{
    auto* box = new QVBoxLayout(bgParameters);
    box->setContentsMargins(4, 4, 4, 4);
    PageControl1 = new QTabWidget(bgParameters);
    PageControl1->setObjectName(QStringLiteral("PageControl1"));
    // Five pages share a narrow group: keep every caption in sight.
    PageControl1->setStyleSheet(QStringLiteral("QTabBar::tab { padding: 4px 5px; }"));
    box->addWidget(PageControl1);
    ttStdParam = MakePage(PageControl1, "ttStdParam", QStringLiteral("Standard"));
    ttTrigParam = MakePage(PageControl1, "ttTrigParam", QStringLiteral("Trigger"));
    ttFillParams = MakePage(PageControl1, "ttFillParams", QStringLiteral("Filling"));
    ttMassFlow = MakePage(PageControl1, "ttMassFlow", QStringLiteral("Mass Flow"));
    tsSDO = MakePage(PageControl1, "tsSDO", QStringLiteral("Data Objects"));
}

void TForm1::FormCreate(Adapters& adapters)
{
    RequestTime = clock_.Now();

    for (int n = 0; n < kUnitBoxCount; ++n) {
        auto* box = new TUnitBox(n, DataSheet);
        connect(box, &TUnitBox::clicked, this, &TForm1::UnitBoxClick);
        UnitBoxes[static_cast<std::size_t>(n)] = box;
    }
    PlaceUnitBoxes();

    ReadAllCount = 0;
    CreateTransport(adapters);
    FrameCounters.fill(0);

    for (int i = 0; i < kAddressItems; ++i)
        cbxCANaddr->addItem(QString::number(i));
    cbxCANaddr->setCurrentIndex(1);
    for (int i = 0; i < kUnitAddressItems; ++i)
        cbxKRVaddr->addItem(QString::number(i));
    cbxKRVaddr->setCurrentIndex(-1);
    cbxKRVaddr->setEditText(QStringLiteral("0"));
    unitAddress_ = 0;

    WatchdogTimer = new QTimer(this);
    WatchdogTimer->setInterval(2000);
    connect(WatchdogTimer, &QTimer::timeout, this, &TForm1::WatchdogTimerTick);
    WatchdogTimer->start();
    GuardTimer = new QTimer(this);
    GuardTimer->setInterval(300);
    connect(GuardTimer, &QTimer::timeout, this, &TForm1::GuardTimerTick);

    ShowResponseTime();
}

void TForm1::CreateTransport(Adapters& adapters)
{
    connect(btFind, &QPushButton::clicked, this, &TForm1::btFindClick);
    if (!adapters.usb)
        return;
    usb_ = adapters.usb;
    comm_ = new TComm(*adapters.usb, std::move(adapters.ports), this);
    // An error of a box's change handler (a port that cannot be opened) is
    // shown like any other escaped error.
    portBox_ = std::make_unique<ComboChoiceBox>(cbxAdaptorPort, ShowDefaultError);
    speedBox_ = std::make_unique<ComboChoiceBox>(cbxCANspeed, ShowDefaultError);
    comm_->InitLists(*portBox_, *speedBox_);
    comm_->SetOnFrame([this](TComm* sender, int slot) { FrameReceived(sender->Slot(slot).View()); });
    sender_ = [this](const FramePacket& packet) { comm_->SendFrame(packet); };
    lbInfo->setText(comm_->InfoText());
    connect(comm_, &TComm::infoChanged, lbInfo, &QLabel::setText);
    connect(comm_, &TComm::pollFinished, this, &TForm1::RefreshNow);
}

void TForm1::btFindClick()
{
    // The search runs through the USB adapter only.
    if (!comm_ || comm_->ComNumber() != 0)
        return;
    usb_->StartSearch([this](TUSB2CAN* sender, CanFrame& frame) { CanDeviceFound(sender, frame); });
}

void TForm1::CanDeviceFound(TUSB2CAN* sender, CanFrame& frame)
{
    cbxCANaddr->setCurrentIndex(static_cast<int>(frame.id & 0x7F));
    cbxCANspeed->setCurrentIndex(BitRateIndexOfCode(sender->BitrateCode()));
}

void TForm1::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    PlaceUnitBoxes();
}

bool TForm1::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == DataSheet && event->type() == QEvent::Resize)
        PlaceUnitBoxes();
    return QWidget::eventFilter(watched, event);
}

void TForm1::PlaceUnitBoxes()
{
    const QSize page = DataSheet->size();
    for (TUnitBox* box : UnitBoxes)
        if (box)
            box->setGeometry(TUnitBox::GridRect(box->Number(), page));
}

void TForm1::UnitBoxClick(TUnitBox* box)
{
    // The previously marked box is remembered by itself, not read back from
    // the address box: a box of 32 or more selects no item, and its marking
    // must still be taken back on the next click.
    if (markedBox_)
        markedBox_->SetMarked(false);
    const int n = box->Number();
    cbxKRVaddr->setCurrentIndex(n < cbxKRVaddr->count() ? n : -1);
    if (n >= cbxKRVaddr->count())
        cbxKRVaddr->setEditText(QString());
    box->SetMarked(true);
    markedBox_ = box;
}

void TForm1::AppendLog(std::string_view line)
{
    Memo1->AppendLine(line);
}

void TForm1::ScheduleRefresh()
{
    if (refreshPending_)
        return;
    refreshPending_ = true;
    // A poll tick refreshes at its end; this catches everything else, and
    // finds nothing left to do after a tick.
    QTimer::singleShot(0, this, [this] {
        if (refreshPending_)
            RefreshNow();
    });
}

void TForm1::RefreshNow()
{
    refreshPending_ = false;
    for (int n = 0; n < kUnitBoxCount; ++n) {
        const UnitBoxValue& v = boxes_.Box(n);
        if (!v.dirty)
            continue;
        TUnitBox* box = UnitBoxes[static_cast<std::size_t>(n)];
        const QString value = QString::fromLatin1(v.value.data(), static_cast<qsizetype>(v.value.size()));
        const QString status = QString::fromLatin1(v.status.data(), static_cast<qsizetype>(v.status.size()));
        if (box->ValueEdit()->text() != value)
            box->ValueEdit()->setText(value);
        if (box->StatusEdit()->text() != status)
            box->StatusEdit()->setText(status);
        boxes_.ClearDirty(n);
    }
    for (int i = 0; i < 4; ++i) {
        tpdoLine_[i].Flush();
        tpdoCount_[i].Flush();
    }
    for (TextMirror* m : {&gross1_, &gross2_, &value3_, &vref_, &vtemp_, &grossMax_, &grossMin_, &busy_})
        m->Flush();
}

// --- Received messages -------------------------------------------------------

void TForm1::FrameReceived(ByteView message)
{
    if (message.size() < kMinMessageSize)
        return;
    if (decoding_) {
        deferred_.emplace_back(message.begin(), message.end());
        return;
    }
    decoding_ = true;
    Decode(message);
    while (!deferred_.empty()) {
        const std::vector<std::uint8_t> next = std::move(deferred_.front());
        deferred_.pop_front();
        Decode(next);
    }
    decoding_ = false;
}

void TForm1::Decode(ByteView message)
{
    const MessageInfo info = ClassifyMessage(message);
    if (info.isFrame)
        ++FrameCounters[static_cast<std::size_t>(info.functionCode)];
    logLine_.clear();
    AppendLogLine(logLine_, message, info);

    try {
        switch (info.kind) {
        case kTpdo1: Tpdo1Steps(message); break;
        case kTpdo2:
            ShowResponseTime();
            Tpdo2Row(message);
            break;
        case kTpdo3: Tpdo3Steps(message); break;
        case kTpdo4: Tpdo4Row(message); break;
        case kTsdo:
        case kRsdo: SdoSteps(message); break;
        default:
            if (!logLine_.empty())
                AppendLog(logLine_);
        }
    } catch (...) {
        // A failure ends this message's handling; the next one is handled normally.
    }
    ScheduleRefresh();
}

void TForm1::Tpdo1Steps(ByteView message)
{
    // Data bytes past the received length read as 0 (DataByte does so).
    const int box = DataByte(message, 6);
    if (box >= kUnitBoxCount) {
        scratch_.assign("TPD01(");
        AppendDecimal(scratch_, box);
        scratch_.push_back(')');
        AppendLog(scratch_);
    } else {
        boxes_.Update(box, message, decimalSeparator_);
    }
    boxes_.Age();
    if (box == (UnitAddress() & 0xFF))
        Tpdo1Row(message);
}

void TForm1::Tpdo3Steps(ByteView message)
{
    ShowResponseTime();
    std::string& value = value3_.Build();
    AppendFixedText(value, DataFloat(message, 0), 6, 3, decimalSeparator_);

    try {
        Tpdo3Response(message);
    } catch (...) {
        // Ends this response row only; the line and counter below still show.
    }

    tpdoLine_[2].Set(logLine_);
    CountText(tpdoCount_[2], kTpdo3);
}

void TForm1::Tpdo3Response(ByteView message)
{
    auto floatOrError = [&](std::size_t first) {
        std::string& value = value3_.Build();
        if (!AppendFixedText(value, DataFloat(message, first), 6, 3, decimalSeparator_))
            value = "(format error)";
    };
    const std::uint8_t code = DataByte(message, 1);
    // Parameter answers: page, sub-index and where the value sits.
    struct ParameterAnswer {
        std::uint8_t code;
        int page;
        std::size_t subAt;
        std::size_t valueAt;
    };
    static constexpr ParameterAnswer answers[] = {{6, 2, 3, 4}, {18, 0, 2, 3}, {38, 1, 3, 4}, {42, 3, 3, 4}};
    for (const ParameterAnswer& a : answers) {
        if (code != a.code)
            continue;
        // A sub-index with no cell ends this answer; the read-all waits.
        if (StoreCell(a.page, DataByte(message, a.subAt), DataI32(message, a.valueAt)) && ReadAllCount != 0)
            ReadAllStep(a.page);
        return;
    }
    if (code >= 10 && code <= 15) {
        floatOrError(4);
    } else if (code == 17) {
        floatOrError(2);
    } else if (code == 0xE5) {
        value3_.Set("** OK **");
    } else if (code == 0xFF) {
        if (ReadAllCount != 0)
            ReadAllFailed();
        else
            value3_.Set(PdoStatusText(DataByte(message, 3)));
    }
}

void TForm1::SdoSteps(ByteView message)
{
    ShowResponseTime();
    const std::uint32_t key = ObjectKey(message);
    if (DataByte(message, 0) == 0x80) {
        SdoAbort(message);
    } else {
        if (ReadAllCount != 0 && pages_)
            pages_->EnableEdit(ReadAllSheet, static_cast<int>(ReadAllCount));
        const int page = PageOfIndexHigh(DataByte(message, 2));
        if (page >= 0 && StoreCell(page, DataByte(message, 3), DataI32(message, 4)) && ReadAllCount != 0)
            ReadAllStep(page);
    }
    if (key == kDeviceStatusKey)
        ShowSdoError(std::string(SdoStatusText(DataByte(message, 4))));
}

void TForm1::SdoAbort(ByteView message)
{
    if (ReadAllCount != 0) {
        ReadAllFailed();
        return;
    }
    if (ObjectKey(message) == kDeviceStatusKey) {
        ShowSdoError("SDO was rejected");
        return;
    }
    if (DataByte(message, 4) == 0x08) {
        // The device status answer brings the message.
        SdoRead(kDeviceStatusKey);
        return;
    }
    ShowSdoError(AbortMessageText(SdoAbortMessage(message)));
}

void TForm1::ShowSdoError(const std::string& text)
{
    // The screen shows what has arrived so far while the box waits for OK.
    RefreshNow();
    messages_.ShowMessage(QStringLiteral("SDO Error"), QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size())),
                          QMessageBox::Warning, this);
}

// --- Data page rows ------------------------------------------------------------

void TForm1::CountText(TextMirror& mirror, int functionCode)
{
    AppendDecimal(mirror.Build(), FrameCounters[static_cast<std::size_t>(functionCode)]);
}

void TForm1::Tpdo1Row(ByteView message)
{
    tpdoLine_[0].Set(logLine_);
    const bool integer = cbxTPDOint->isChecked();
    const double v = integer ? double(DataI32(message, 0)) : double(DataFloat(message, 0));
    const int decimals = integer ? 0 : 3;
    // Convert before touching the running extremes: a value with no text
    // (NaN, infinity) ends the row and must not poison the maximum or minimum.
    if (!FixedText(v, 6, decimals, decimalSeparator_))
        return;
    if (v > GrossMax || !maxSet_) {
        GrossMax = v;
        maxSet_ = true;
        edbxGrossMax->setProperty("tag", 1);
        AppendFixedText(grossMax_.Build(), v, 6, decimals, decimalSeparator_);
    }
    if (v < GrossMin || !minSet_) {
        GrossMin = v;
        minSet_ = true;
        edbxGrossMin->setProperty("tag", 1);
        AppendFixedText(grossMin_.Build(), v, 6, decimals, decimalSeparator_);
    }
    if (integer)
        AppendDecimal(gross1_.Build(), DataI32(message, 0));
    else
        AppendFixedText(gross1_.Build(), v, 6, 3, decimalSeparator_);
    CountText(tpdoCount_[0], kTpdo1);
}

void TForm1::Tpdo2Row(ByteView message)
{
    tpdoLine_[1].Set(logLine_);
    if (cbxTPDOint->isChecked()) {
        AppendDecimal(gross2_.Build(), DataI32(message, 0));
    } else {
        std::string text;
        if (!AppendFixedText(text, DataFloat(message, 0), 6, 3, decimalSeparator_))
            return;
        gross2_.Set(text);
    }
    CountText(tpdoCount_[1], kTpdo2);
}

void TForm1::Tpdo4Row(ByteView message)
{
    tpdoLine_[3].Set(logLine_);
    std::string text;
    if (!AppendFixedText(text, DataFloat(message, 0), 8, 2, decimalSeparator_))
        return;
    vref_.Set(text);
    text.clear();
    AppendFixedText(text, DataI32(message, 4), 8, 0, decimalSeparator_);
    vtemp_.Set(text);
    CountText(tpdoCount_[3], kTpdo4);
}

void TForm1::ShowResponseTime()
{
    const auto elapsed = std::chrono::duration<double, std::milli>(clock_.Now() - RequestTime).count();
    AppendDecimal(busy_.Build(), std::llround(elapsed));
    ScheduleRefresh();
}

void TForm1::ClearRow(int row, std::initializer_list<TextMirror*> values)
{
    static constexpr const char* names[] = {"edbxTPDO1", "edbxTPDO2", "edbxTPDO3", "edbxTPDO4"};
    static constexpr int codes[] = {kTpdo1, kTpdo2, kTpdo3, kTpdo4};
    // The line box shows its own name when it has nothing to show.
    tpdoLine_[row].Set(names[row]);
    for (TextMirror* value : values)
        value->Set("");
    tpdoCount_[row].Set("0");
    FrameCounters[static_cast<std::size_t>(codes[row])] = 0;
    RefreshNow();
}

void TForm1::btClear1Click()
{
    ClearRow(0, {&gross1_});
}

void TForm1::btClear2Click()
{
    ClearRow(1, {&gross2_});
}

void TForm1::btClear3Click()
{
    ClearRow(2, {&value3_});
}

void TForm1::btClear4Click()
{
    ClearRow(3, {&vref_, &vtemp_});
}

void TForm1::btClearMaxMinClick()
{
    GrossMax = GrossMin = 0.0;
    grossMax_.Set("0");
    grossMin_.Set("0");
    maxSet_ = minSet_ = false;
    edbxGrossMax->setProperty("tag", 0);
    edbxGrossMin->setProperty("tag", 0);
    RefreshNow();
}

void TForm1::WatchdogTimerTick()
{
    // A unit whose process data stopped is started again.
    if (FrameCounters[kTpdo1] == WatchdogSnapshot)
        btNMT_StartClick();
    WatchdogSnapshot = FrameCounters[kTpdo1];
}

void TForm1::cbTestClick()
{
    if (cbTest->isChecked()) {
        if (!GuardTimer->isActive())
            GuardTimer->start();
    } else {
        GuardTimer->stop();
    }
}

void TForm1::GuardTimerTick()
{
    if (!cbTest->isChecked())
        GuardTimer->stop();  // this tick still sends
    const FramePacket text = GuardFrameText(static_cast<unsigned>(NodeNumber().value_or(0)));
    SendRawFrame(text);
}

// --- Requests ------------------------------------------------------------------

std::optional<long long> TForm1::NodeNumber() const
{
    return ParseDecimal(cbxCANaddr->currentText().toStdString());
}

std::array<std::uint8_t, 2> TForm1::CobIdBytes(std::uint8_t prefix) const
{
    return tervix::CobIdBytes(prefix, static_cast<unsigned>(NodeNumber().value_or(0)));
}

int TForm1::UnitAddress()
{
    if (!unitAddress_) {
        cbxKRVaddr->setEditText(QStringLiteral("0"));
        unitAddress_ = 0;
    }
    return static_cast<int>(*unitAddress_);
}

void TForm1::Send(const FramePacket& packet)
{
    if (!sender_)
        throw std::runtime_error("No CAN adapter is connected");
    sender_(packet);
}

void TForm1::SendAndLog(const Request& request)
{
    Send(request.packet);
    AppendLog(request.logLine);
    if (!request.secondLine.empty())
        AppendLog(request.secondLine);
}

void TForm1::btNMT_StartClick()
{
    SendAndLog(NmtRequest(kNmtStart, NodeNumber()));
    cbTest->setChecked(true);
    if (!GuardTimer->isActive())
        GuardTimer->start();
    if (!WatchdogTimer->isActive())
        WatchdogTimer->start();
}

void TForm1::btNMT_StopClick()
{
    SendAndLog(NmtRequest(kNmtStop, NodeNumber()));
    WatchdogTimer->stop();
}

void TForm1::SendRpdo(int n, std::uint32_t value)
{
    const auto unit = static_cast<std::uint8_t>(UnitAddress());
    SendAndLog(RpdoRequest(n, static_cast<unsigned>(NodeNumber().value_or(0)), unit, value));
}

void TForm1::SdoWrite(std::uint32_t object, std::int32_t value)
{
    busy_.Set("Busy");
    ScheduleRefresh();
    RequestTime = clock_.Now();
    SendAndLog(SdoWriteRequest(static_cast<unsigned>(NodeNumber().value_or(0)), SubstituteUnit(object, unitAddress_),
                               value));
}

void TForm1::SdoWriteUnitAddress(std::uint32_t object)
{
    const int unit = UnitAddress();
    SendAndLog(SdoWriteUnitAddressRequest(static_cast<unsigned>(NodeNumber().value_or(0)), object, unit));
}

void TForm1::SdoRead(std::uint32_t object)
{
    SendAndLog(SdoReadRequest(static_cast<unsigned>(NodeNumber().value_or(0)), SubstituteUnit(object, unitAddress_)));
}

void TForm1::ReadAllStep(int page)
{
    ++ReadAllCount;
    ReadAllSheet = page;
    RequestTime = clock_.Now();
    const int cells = pages_ ? pages_->CellCount(page) : 0;
    if (static_cast<long long>(cells) < static_cast<long long>(ReadAllCount)) {
        ReadAllCount = 0;  // the page's last cell has been read
        return;
    }
    SdoRead(ReadAllObject(page, static_cast<std::uint8_t>(UnitAddress()), ReadAllCount));
}

void TForm1::SendRawFrame(ByteView text)
{
    SendAndLog(RawFrameRequest(text, static_cast<std::uint8_t>(UnitAddress())));
}

bool TForm1::StoreCell(int page, int subIndex, std::int32_t value)
{
    return pages_ && pages_->StoreValue(page, subIndex, value);
}

void TForm1::ReadAllFailed()
{
    if (pages_)
        pages_->MarkFailed(ReadAllSheet, static_cast<int>(ReadAllCount));
    ReadAllStep(ReadAllSheet);
}
