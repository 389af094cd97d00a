#include "monitor.h"

#include "app_settings.h"
#include "combo_choice_box.h"
#include "data_page.h"
#include "parameter_sheets.h"
#include "log_toolbar.h"
#include "log_view.h"
#include "message_sink.h"
#include "node_view.h"
#include "status_bar.h"
#include "tervix_application.h"
#include "trend_window.h"
#include "unit_backup_dialog.h"
#include "unit_box.h"

#include "MyComm.h"
#include "recorder.h"
#include "replay_driver.h"
#include "usb2can.h"

#include "bit_rates.h"
#include "requests.h"
#include "trend.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QEvent>
#include <QFileDialog>
#include <QFileInfo>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QPushButton>
#include <QScreen>
#include <QShowEvent>
#include <QSignalBlocker>
#include <QTabWidget>
#include <QTimer>
#include <QVBoxLayout>

#include <stdexcept>
#include <utility>

using namespace tervix;

namespace {

constexpr int kAddressItems = 128;
constexpr const char* kNoAdapter = "No CAN adapter is connected";
constexpr const char* kWindowTitle = "Tervix - V2.3";
constexpr int kUnitAddressItems = 32;

QWidget* MakePage(QTabWidget* tabs, const char* name, const QString& caption)
{
    auto* page = new QWidget(tabs);
    page->setObjectName(QString::fromLatin1(name));
    tabs->addTab(page, caption);
    return page;
}

bool IsNmtCommand(const BusFrame& frame)
{
    return frame.id == 0 && !frame.extended && !frame.remote;
}

QString Latin1(std::string_view s)
{
    return QString::fromLatin1(s.data(), static_cast<qsizetype>(s.size()));
}

char LocaleDecimalSeparator()
{
    const QString point = QLocale().decimalPoint();
    return point.size() == 1 && point.at(0).unicode() < 0x80 ? point.at(0).toLatin1() : '.';
}

} // namespace

TForm1::TForm1(MessageSink& messages, Clock& clock, QWidget* parent) : TForm1(messages, clock, Adapters(), parent)
{
}

TForm1::TForm1(MessageSink& messages, Clock& clock, Adapters adapters, QWidget* parent)
    : QWidget(parent), messages_(messages), clock_(clock)
{
    setObjectName(QStringLiteral("Form1"));
    setWindowTitle(QString::fromLatin1(kWindowTitle));

    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(4, 4, 4, 4);
    PageControl2 = new QTabWidget(this);
    PageControl2->setObjectName(QStringLiteral("PageControl2"));
    bgParameters = new QGroupBox(QStringLiteral("Parameters"), this);
    bgParameters->setObjectName(QStringLiteral("bgParameters"));
    // The status line sits under the pages only: the parameter group is the
    // taller column, and the window keeps its size.
    auto* pagesColumn = new QVBoxLayout;
    pagesColumn->setSpacing(0);
    pagesColumn->addWidget(PageControl2, 1);
    statusBar_ = new TStatusBar(this);
    pagesColumn->addWidget(statusBar_);
    layout->addLayout(pagesColumn, 5);
    layout->addWidget(bgParameters, 3);

    BuildCommunicationPage();
    BuildDataSheet();
    tsKRVData = new TDataPage(PageControl2);
    PageControl2->addTab(tsKRVData, QStringLiteral("KRV Data"));
    nodeView_ = new TNodeView(PageControl2);
    nodeView_->setObjectName(QStringLiteral("tsNodes"));
    PageControl2->addTab(nodeView_, QStringLiteral("Nodes"));
    BuildTrendButton();
    BuildParameterGroup();
    PageControl2->setCurrentWidget(tsKRVData);

    deferred_ = new DeferredMessages(messages_, this);
    connect(deferred_, &DeferredMessages::aboutToShow, this, &TForm1::RefreshNow);
    connect(deferred_, &DeferredMessages::dropped, this, [this](std::size_t n) {
        Memo1->AppendLine(QStringLiteral("%1 further messages were not shown").arg(n).toStdString());
    });

    canopen_ = std::make_unique<CanopenClient>(
        [this](unsigned, const BusFrame& frame, const SdoOutgoing& about) {
            Status sent = Send(frame);
            if (sent)
                decoder_->LogSdoFrame(frame, about);
            return sent;
        },
        SdoClientOptions{MonitorDecoder::kDefaultSdoTimeout});
    MonitorDecoder::Outputs outputs;
    outputs.send = [this](const BusFrame& frame) { return Send(frame); };
    outputs.sendFailed = [this](std::string_view why) { SendFailed(why); };
    outputs.logEntry = [this](const LogEntry& entry) { Memo1->AppendEntry(entry); };
    outputs.message = [this](std::string_view caption, std::string_view text) {
        deferred_->Post(Latin1(caption), Latin1(text));
    };
    outputs.unitAddressReset = [this] { tsKRVData->UnitAddressBox()->setEditText(QStringLiteral("0")); };
    decoder_ = std::make_unique<MonitorDecoder>(std::move(outputs), clock_.Now(), LocaleDecimalSeparator());
    decoder_->SetClient(canopen_.get());

    resize(992, 619);
    if (const QScreen* screen = this->screen())
        move(screen->availableGeometry().center() - rect().center());

    FormCreate(adapters);
}

TForm1::~TForm1()
{
    // A backup's job goes before the client it queues on; the transport
    // before that: its poll must not reach a decoder being destroyed.
    delete unitBackup_;
    unitBackup_ = nullptr;
    delete comm_;
    comm_ = nullptr;
}

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
    // Enter in the box picks a rate; it never adds one to the list.
    cbxCANspeed->setInsertPolicy(QComboBox::NoInsert);
    btFind = new QPushButton(QStringLiteral("Find ZT9K"), tsComm);
    btFind->setObjectName(QStringLiteral("btFind"));
    btRecord = new QPushButton(tsComm);
    btRecord->setObjectName(QStringLiteral("btRecord"));
    cbListenOnly = new QCheckBox(QStringLiteral("Listen only"), tsComm);
    cbListenOnly->setObjectName(QStringLiteral("cbListenOnly"));
    cbListenOnly->setToolTip(QStringLiteral("Send nothing on the bus: no NMT Start, no guarding, no search, no requests"));
    btReplayPause = new QPushButton(QStringLiteral("Pause replay"), tsComm);
    btReplayPause->setObjectName(QStringLiteral("btReplayPause"));
    btReplayRestart = new QPushButton(QStringLiteral("Restart replay"), tsComm);
    btReplayRestart->setObjectName(QStringLiteral("btReplayRestart"));
    btReplayPause->hide();
    btReplayRestart->hide();
    lbInfo = new QLabel(tsComm);
    lbInfo->setObjectName(QStringLiteral("lbInfo"));
    lbInfo->setTextInteractionFlags(Qt::TextSelectableByMouse);
    Memo1 = new LogView(tsComm, LogView::kDefaultCapacity, clock_);
    Memo1->setObjectName(QStringLiteral("Memo1"));
    auto* logBar = new LogToolBar(*Memo1, messages_, tsComm);
    logBar->setObjectName(QStringLiteral("LogToolBar"));

    grid->addWidget(new QLabel(QStringLiteral("PORT"), tsComm), 0, 0);
    grid->addWidget(new QLabel(QStringLiteral("CAN Addr"), tsComm), 0, 1);
    grid->addWidget(new QLabel(QStringLiteral("CAN speed"), tsComm), 0, 2);
    grid->addWidget(cbxAdaptorPort, 1, 0);
    grid->addWidget(cbxCANaddr, 1, 1);
    grid->addWidget(cbxCANspeed, 1, 2);
    grid->addWidget(btFind, 1, 3);
    auto* actions = new QHBoxLayout;
    actions->addWidget(btRecord);
    actions->addWidget(cbListenOnly);
    actions->addWidget(btReplayPause);
    actions->addWidget(btReplayRestart);
    actions->addStretch(1);
    grid->addLayout(actions, 1, 4);
    auto* info = new QHBoxLayout;
    info->addWidget(new QLabel(QStringLiteral("Comm Info"), tsComm));
    info->addWidget(lbInfo, 1);
    grid->addLayout(info, 2, 0, 1, 5);
    grid->addWidget(logBar, 3, 0, 1, 5);
    grid->addWidget(Memo1, 4, 0, 1, 5);
    grid->setColumnStretch(4, 1);
    grid->setRowStretch(4, 1);
}

void TForm1::BuildDataSheet()
{
    DataSheet = MakePage(PageControl2, "DataSheet", QStringLiteral("CAN Data"));
    DataSheet->installEventFilter(this);
}

void TForm1::BuildTrendButton()
{
    // The value boxes fill the "CAN Data" page; its button sits in the
    // corner of the page tabs while the page is in sight.
    btTrend = new QPushButton(QStringLiteral("Trend\u2026"), PageControl2);
    btTrend->setObjectName(QStringLiteral("btTrend"));
    btTrend->setToolTip(QStringLiteral("Weight trend, stability and test sheet of chosen units"));
    PageControl2->setCornerWidget(btTrend, Qt::TopRightCorner);
    connect(btTrend, &QPushButton::clicked, this, [this] { OpenTrend(); });
    const auto follow = [this] { btTrend->setVisible(PageControl2->currentWidget() == DataSheet); };
    connect(PageControl2, &QTabWidget::currentChanged, this, follow);
    follow();
}

void TForm1::OpenTrend(std::optional<unsigned> unit)
{
    if (!trendWindow_) {
        trendWindow_ = new TTrendWindow(messages_, clock_, this);
        connect(trendWindow_, &TTrendWindow::closed, this, [this] { trendStore_ = nullptr; });
        if (const QScreen* screen = this->screen())
            trendWindow_->move(screen->availableGeometry().topLeft() + QPoint(40, 30));
        if (settings_)
            settings_->RestoreTrend(*trendWindow_);
    }
    if (unit) {
        trendWindow_->AddUnit(*unit);
    } else if (trendWindow_->Units().empty()) {
        const std::optional<long long> selected =
            ParseDecimal(tsKRVData->UnitAddressBox()->currentText().toStdString());
        const bool valid = selected && *selected >= 0 && *selected < kUnitBoxCount;
        trendWindow_->AddUnit(valid ? unsigned(*selected) : 0u);
    }
    trendStore_ = &trendWindow_->Store();
    trendWindow_->show();
    trendWindow_->raise();
    trendWindow_->activateWindow();
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
    MakePage(PageControl1, "ttStdParam", QStringLiteral("Standard"));
    MakePage(PageControl1, "ttTrigParam", QStringLiteral("Trigger"));
    MakePage(PageControl1, "ttFillParams", QStringLiteral("Filling"));
    MakePage(PageControl1, "ttMassFlow", QStringLiteral("Mass Flow"));
    MakePage(PageControl1, "tsSDO", QStringLiteral("Data Objects"));
}

void TForm1::FormCreate(Adapters& adapters)
{
    decoder_->SetRequestTime(clock_.Now());

    for (int n = 0; n < kUnitBoxCount; ++n) {
        auto* box = new TUnitBox(n, DataSheet);
        connect(box, &TUnitBox::clicked, this, &TForm1::UnitBoxClick);
        connect(box, &TUnitBox::trendRequested, this, [this](int number) { OpenTrend(unsigned(number)); });
        UnitBoxes[static_cast<std::size_t>(n)] = box;
    }
    PlaceUnitBoxes();

    CreateTransport(adapters);
    configFile_ = adapters.configFile;
    LogFileFolder();
    BuildParameterPages();
    LoadObjectTree();
    unitBackup_ = new TUnitBackup(*this, messages_, clock_, bgParameters);
    bgParameters->layout()->addWidget(unitBackup_);

    connect(cbxCANaddr, &QComboBox::currentTextChanged, this, [this](const QString& text) {
        const std::optional<long long> node = ParseDecimal(text.toStdString());
        decoder_->SetNode(node);
        answerWatch_.SetNode(node && *node > 0 && *node < kAddressItems ? unsigned(*node) : 0u);
        ShowCommInfo();
    });
    nodes_.SetEventHandler([this](const NodeEvent& event) { LogNodeEvent(event); });
    connect(cbListenOnly, &QCheckBox::toggled, this, [this](bool on) { SetListenOnly(on); });
    replay_ = adapters.replay;
    if (replay_) {
        SetListenOnly(true);
        cbListenOnly->setEnabled(false);
        cbListenOnly->setToolTip(QStringLiteral("A replay sends nothing"));
        btReplayPause->show();
        btReplayRestart->show();
        connect(btReplayPause, &QPushButton::clicked, this, [this] {
            replay_->SetPaused(!replay_->Paused());
            btReplayPause->setText(replay_->Paused() ? QStringLiteral("Resume replay") : QStringLiteral("Pause replay"));
            ShowReplay();
        });
        connect(btReplayRestart, &QPushButton::clicked, this, [this] {
            replay_->Restart();
            Memo1->AppendLine("Replay restarted from the first frame");
            ShowReplay();
        });
    }
    for (int i = 0; i < kAddressItems; ++i)
        cbxCANaddr->addItem(QString::number(i));
    cbxCANaddr->setCurrentIndex(1);

    WireDataPage();
    QComboBox* unitBox = tsKRVData->UnitAddressBox();
    for (int i = 0; i < kUnitAddressItems; ++i)
        unitBox->addItem(QString::number(i));
    unitBox->setCurrentIndex(-1);
    unitBox->setEditText(QStringLiteral("0"));

    BuildFunctionButtons();

    WatchdogTimer = new QTimer(this);
    WatchdogTimer->setInterval(2000);
    connect(WatchdogTimer, &QTimer::timeout, this, &TForm1::WatchdogTimerTick);
    GuardTimer = new QTimer(this);
    GuardTimer->setInterval(300);
    connect(GuardTimer, &QTimer::timeout, this, &TForm1::GuardTimerTick);
    SyncTimers();

    displayTimer_ = new QTimer(this);
    displayTimer_->setInterval(kDisplayIntervalMs);
    connect(displayTimer_, &QTimer::timeout, this, [this] { Refresh(false); });
    displayTimer_->start();

    decoder_->ShowResponseTime(clock_.Now());
    RefreshNow();
}

void TForm1::WireDataPage()
{
    TDataPage* page = tsKRVData;
    connect(page, &TDataPage::nmtStartClicked, this, &TForm1::btNMT_StartClick);
    connect(page, &TDataPage::nmtStopClicked, this, &TForm1::btNMT_StopClick);
    connect(page, &TDataPage::clearRowClicked, this, [this](int row) {
        decoder_->ClearRow(row);
        RefreshNow();
    });
    connect(page, &TDataPage::clearMaxMinClicked, this, [this] {
        decoder_->ClearMaxMin();
        RefreshNow();
    });
    connect(page->GuardBox(), &QCheckBox::toggled, this, [this](bool on) {
        if (on && listenOnly_) {
            const FailuresAre shown(this, SendFailures::Shown);
            SendFailed(kListenOnlyText);
        }
        decoder_->SetGuarding(on);
        SyncTimers();
    });
    connect(page->IntegerBox(), &QCheckBox::toggled, this, [this](bool on) { decoder_->SetIntegerValues(on); });
    connect(page->UnitAddressBox(), &QComboBox::editTextChanged, this,
            [this](const QString& text) { decoder_->SetUnitAddress(ParseDecimal(text.toStdString())); });
}

void TForm1::CreateTransport(Adapters& adapters)
{
    connect(btFind, &QPushButton::clicked, this, &TForm1::btFindClick);
    connect(btRecord, &QPushButton::clicked, this, &TForm1::btRecordClick);
    ShowRecording();
    if (!adapters.usb)
        return;
    usb_ = adapters.usb;
    comm_ = new TComm(*adapters.usb, std::move(adapters.ports), this);
    // A failure of a box's change handler (a port that cannot be opened) is
    // shown like any other error.
    portBox_ = std::make_unique<ComboChoiceBox>(cbxAdaptorPort, ShowDefaultError);
    speedBox_ = std::make_unique<ComboChoiceBox>(cbxCANspeed, ShowDefaultError);
    comm_->InitLists(*portBox_, *speedBox_);
    comm_->SetOnFrame([this](TComm* sender, int slot) { FrameReceived(sender->Slot(slot)); });
    sender_ = [this](const tervix::BusFrame& frame) { return comm_->SendFrame(frame); };
    // Another port or bit rate: what was asked before no longer counts.
    connect(comm_, &TComm::infoChanged, this, [this] {
        answerWatch_.Reset();
        ShowCommInfo();
    });
    connect(comm_, &TComm::connectionEvent, this,
            [this](const QString& line) { Memo1->AppendLine(line.toStdString()); });
    // Not modal: the user may want to pick another port meanwhile.
    connect(comm_, &TComm::adapterLost, this, [this](const QString& message) {
        lostNotice_ = deferred_->PostNotice(QApplication::applicationName(), message, QMessageBox::Critical);
    });
    connect(comm_, &TComm::lossOver, this, [this] {
        if (lostNotice_ != 0)
            deferred_->Withdraw(std::exchange(lostNotice_, 0));
    });
    // Frames are timed by the USB channel's clock.
    recorder_ = new Recorder(this, Recorder::kFlushInterval, adapters.usb->Clock());
    comm_->SetRecorder(recorder_);
    connect(recorder_, &Recorder::failed, this, [this](const QString& message) {
        Memo1->AppendLine(message.toStdString());
        deferred_->Post(QApplication::applicationName(), message, QMessageBox::Critical);
        ShowRecording();
    });
    ShowRecording();
}

void TForm1::ShowRecording()
{
    const bool on = recorder_ && recorder_->IsRecording();
    btRecord->setText(on ? QStringLiteral("Stop recording") : QStringLiteral("Record\u2026"));
    btRecord->setEnabled(recorder_ != nullptr);
}

bool TForm1::StartRecording(const QString& path, QString* error, std::optional<tervix::TraceFormat> format)
{
    if (!recorder_) {
        if (error)
            *error = QStringLiteral("No CAN adapter to record from");
        return false;
    }
    const bool ok = recorder_->Start(path, error, format);
    if (ok)
        Memo1->AppendLine(QStringLiteral("Recording to %1").arg(path).toStdString());
    ShowRecording();
    return ok;
}

void TForm1::btRecordClick()
{
    if (!recorder_)
        return;
    if (recorder_->IsRecording()) {
        recorder_->Stop();
        Memo1->AppendLine(QStringLiteral("Recorded %1 frames to %2")
                              .arg(recorder_->Frames())
                              .arg(recorder_->Path())
                              .toStdString());
        ShowRecording();
        return;
    }
    // Each filter names a format, so TRC 1.1 can be chosen though its
    // extension is 2.1's; "All files" leaves it to the extension.
    static const std::array<std::pair<QString, tervix::TraceFormat>, 4> kFilters = {{
        {QStringLiteral("candump logs (*.log)"), tervix::TraceFormat::Candump},
        {QStringLiteral("PEAK TRC 2.1 traces (*.trc)"), tervix::TraceFormat::Trc21},
        {QStringLiteral("PEAK TRC 1.1 traces (*.trc)"), tervix::TraceFormat::Trc11},
        {QStringLiteral("Vector ASC logs (*.asc)"), tervix::TraceFormat::Asc},
    }};
    QString filter;
    QString path;
    if (askRecordFile_) {
        path = askRecordFile_();
    } else {
        QStringList filters;
        for (const auto& [text, format] : kFilters)
            filters << text;
        filters << QStringLiteral("All files (*)");
        path = QFileDialog::getSaveFileName(this, QStringLiteral("Record frames to"),
                                            LastFolder(QString::fromLatin1(kRecordFolder)),
                                            filters.join(QStringLiteral(";;")), &filter);
    }
    if (path.isEmpty())
        return;
    RememberFolder(QString::fromLatin1(kRecordFolder), path);
    std::optional<tervix::TraceFormat> format;
    for (const auto& [text, chosen] : kFilters)
        if (text == filter)
            format = chosen;
    QString error;
    if (!StartRecording(path, &error, format))
        deferred_->Post(QApplication::applicationName(), error, QMessageBox::Critical);
}

void TForm1::SetParameterPages(ParameterPages* pages)
{
    decoder_->SetParameterPages(pages);
}

template <typename Action>
void TForm1::Act(Action&& action)
{
    // Whatever the action managed before a send failed (NMT Stop has already
    // stopped the watchdog) shows in the timers.
    struct Sync {
        TForm1* form;
        ~Sync() { form->SyncTimers(); }
    } sync{this};
    const FailuresAre shown(this, SendFailures::Shown);
    action();
}

void TForm1::SetListenOnly(bool on)
{
    if (replay_ && !on)
        return; // a replay has nothing to send to
    {
        const QSignalBlocker block(cbListenOnly);
        cbListenOnly->setChecked(on);
    }
    if (on == listenOnly_)
        return;
    listenOnly_ = on;
    listenOnlySaid_ = false;
    decoder_->SetListenOnly(on);
    if (comm_)
        comm_->SetListenOnly(on);
    if (on && usb_ && usb_->Searching()) {
        usb_->CancelSearch();
        SetFindButtonText(QStringLiteral("Find ZT9K"));
    }
    answerWatch_.Reset();
    if (WatchdogTimer)
        SyncTimers();
    Memo1->AppendLine(on ? "Listen only: nothing is sent on the bus" : "Listen only ended: requests are sent again");
    ShowCommInfo();
    statisticsShownAt_.reset();
}

Status TForm1::Send(const BusFrame& frame)
{
    if (listenOnly_)
        return Status::Failed(kListenOnlyText);
    Status sent = sender_ ? sender_(frame) : Status::Failed(kNoAdapter);
    if (sent) {
        const TimePoint now = clock_.Now();
        answerWatch_.Sent(frame, now);
        // An NMT command changes the nodes' states; the unit's guard frame
        // (0x700+n with the unit address) is no node's heartbeat.
        if (IsNmtCommand(frame))
            nodes_.Receive(frame, now);
    }
    return sent;
}

QString TForm1::NoAnswerText() const
{
    const std::uint32_t bits = comm_ ? comm_->BitsPerSecond() : 0;
    const QString node = QStringLiteral("no answer from node %1").arg(answerWatch_.Node());
    return bits == 0 ? node : node + QStringLiteral(" at %1 kbit/s").arg(bits / 1000.0);
}

void TForm1::ShowCommInfo()
{
    QStringList parts;
    if (comm_)
        parts << comm_->InfoText();
    if (answerWatch_.NoAnswer())
        parts << NoAnswerText();
    if (listenOnly_)
        parts << QStringLiteral("listen only: nothing is sent (%1)")
                     .arg(comm_ ? comm_->ListenOnlyNote() : QStringLiteral("no adapter"));
    parts.removeAll(QString());
    const QString text = parts.join(QStringLiteral("; "));
    if (lbInfo->text() != text)
        lbInfo->setText(text);
}

void TForm1::LogNodeEvent(const NodeEvent& event)
{
    // Boot-ups, states and emergencies are in the log as frames already (the
    // "Nodes" page decodes the emergencies); what no frame says is logged:
    // a node's silence and its end.
    if (event.kind == NodeEventKind::Silent || event.kind == NodeEventKind::Back)
        Memo1->AppendLine(NodeEventText(event));
}

void TForm1::SendFailed(std::string_view why)
{
    // Listening only, the first refusal says why in a box, later ones in the log.
    if (listenOnly_ && why == std::string_view(kListenOnlyText) && sendFailures_ != SendFailures::Counted) {
        if (std::exchange(listenOnlySaid_, true)) {
            Memo1->AppendLine(why);
            return;
        }
    }
    switch (sendFailures_) {
    case SendFailures::Shown:
        deferred_->Post(QApplication::applicationName(), QString::fromLocal8Bit(why.data(), qsizetype(why.size())),
                        QMessageBox::Critical);
        break;
    case SendFailures::Counted:
        if (comm_)
            comm_->CountTimerSendFailure();
        break;
    case SendFailures::Quiet: break;
    }
}

bool TForm1::QueueSdo(SdoTransfer transfer)
{
    // Whether the first frame failed inside Queue; a transfer that waited
    // behind another reports its failed send when it starts.
    auto state = std::make_shared<std::pair<bool, bool>>(true, false); // queuing, failed then
    transfer.done = [this, state, then = std::move(transfer.done)](const SdoResult& r) {
        if (r.outcome == SdoOutcome::SendFailed) {
            state->second = state->first;
            SendFailed(r.sendError);
        }
        if (then)
            then(r);
    };
    canopen_->Queue(decoder_->NodeNumber(), std::move(transfer), clock_.Now());
    state->first = false;
    return !state->second;
}

void TForm1::SyncTimers()
{
    {
        const QSignalBlocker block(tsKRVData->GuardBox());
        tsKRVData->GuardBox()->setChecked(decoder_->Guarding());
    }
    if (decoder_->GuardTimerRunning() != GuardTimer->isActive())
        decoder_->GuardTimerRunning() ? GuardTimer->start() : GuardTimer->stop();
    if (decoder_->WatchdogRunning() != WatchdogTimer->isActive())
        decoder_->WatchdogRunning() ? WatchdogTimer->start() : WatchdogTimer->stop();
}

bool TForm1::GuardTimerActive() const
{
    return GuardTimer->isActive();
}

bool TForm1::WatchdogTimerActive() const
{
    return WatchdogTimer->isActive();
}

void TForm1::btNMT_StartClick()
{
    Act([this] { decoder_->NmtStart(); });
}

void TForm1::btNMT_StopClick()
{
    Act([this] { decoder_->NmtStop(); });
}

void TForm1::SetSdoTimeout(std::chrono::milliseconds timeout)
{
    canopen_->SetTimeout(timeout);
}

bool TForm1::SdoWrite(std::uint32_t object, std::int32_t value)
{
    return decoder_->SdoWrite(object, value, clock_.Now());
}

bool TForm1::SdoRead(std::uint32_t object)
{
    return decoder_->SdoRead(object, clock_.Now());
}

bool TForm1::StartReadAll(int page)
{
    return decoder_->StartReadAll(page, clock_.Now());
}

template <typename Action>
void TForm1::ActOnTimer(Action&& action)
{
    // A timer's send fails again on every tick while the adapter is gone:
    // counted in "Comm Info", not shown, so the user can still reach the
    // PORT box. What the user does still reports its own failure. Without a
    // transport there is nothing to count in: shown, once at a time.
    Act([this, &action] {
        const FailuresAre counted(this, comm_ ? SendFailures::Counted : SendFailures::Shown);
        action();
    });
}

void TForm1::WatchdogTimerTick()
{
    ActOnTimer([this] { decoder_->WatchdogTick(); });
}

void TForm1::GuardTimerTick()
{
    ActOnTimer([this] {
        // A refused guard frame (unit address out of range) counts like a failed send.
        if (!decoder_->GuardTick() && comm_)
            comm_->CountTimerSendFailure();
    });
}

void TForm1::btFindClick()
{
    // The search runs through the USB adapter only; pressed again, it stops.
    if (!comm_ || comm_->ComNumber() != 0)
        return;
    if (listenOnly_) {
        const FailuresAre shown(this, SendFailures::Shown);
        SendFailed(kListenOnlyText);
        return;
    }
    if (findButtonChangedAt_ && clock_.Now() - *findButtonChangedAt_ < kFindButtonSettle)
        return;
    if (usb_->Searching()) {
        usb_->CancelSearch();
        SetFindButtonText(QStringLiteral("Find ZT9K"));
        return;
    }
    usb_->StartSearch([this](TUSB2CAN* sender, const BusFrame& frame) { CanDeviceFound(sender, frame); });
    SetFindButtonText(QStringLiteral("Cancel search"));
}

void TForm1::SetFindButtonText(const QString& text)
{
    if (btFind->text() == text)
        return;
    btFind->setText(text);
    findButtonChangedAt_ = clock_.Now();
}

void TForm1::CanDeviceFound(TUSB2CAN* sender, const BusFrame& frame)
{
    SetFindButtonText(QStringLiteral("Find ZT9K"));
    cbxCANaddr->setCurrentIndex(static_cast<int>(frame.id & 0x7F));
    cbxCANspeed->setCurrentIndex(BitRateIndexOfCode(sender->BitrateCode()));
}

void TForm1::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    PlaceUnitBoxes();
    RegisterSdoRequestHandler();
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
    QComboBox* unitBox = tsKRVData->UnitAddressBox();
    const int n = box->Number();
    unitBox->setCurrentIndex(n < unitBox->count() ? n : -1);
    if (n >= unitBox->count())
        unitBox->setEditText(QString());
    box->SetMarked(true);
    markedBox_ = box;
}

void TForm1::FrameReceived(ByteView message)
{
    const std::optional<BusFrame> frame = DecodePacket(message);
    Received(message, frame ? &*frame : nullptr, clock_.Now());
}

void TForm1::FrameReceived(const ReceiveSlot& slot)
{
    if (slot.transmitted) {
        // Sent by the tool that recorded the replay: a Tx line, and an NMT
        // command the node view sees; nothing answers it.
        decoder_->RecordedSentFrame(slot.View(), slot.at);
        if (slot.isFrame && IsNmtCommand(slot.frame))
            nodes_.Receive(slot.frame, slot.at);
        return;
    }
    Received(slot.View(), slot.isFrame ? &slot.frame : nullptr, slot.at);
}

void TForm1::Received(ByteView packet, const BusFrame* frame, TimePoint at)
{
    // The steps a received frame takes (a page read's next row) report no
    // failed send: the row shows it.
    const FailuresAre quiet(this, SendFailures::Quiet);
    // The decoder first: an answer is logged and stored before the client
    // sends what it moves on to.
    decoder_->FrameReceived(packet, at);
    if (frame) {
        nodes_.Receive(*frame, at);
        if (answerWatch_.Received(*frame, at)) {
            ShowCommInfo();
            statisticsShownAt_.reset();
        }
        canopen_->Receive(*frame, at);
        // The trend keeps the TPDO1 of the node in "CAN Addr" while it is open.
        if (trendStore_)
            if (const std::optional<Tpdo1Sample> sample = ReadTpdo1(*frame, decoder_->NodeNumber()))
                trendStore_->Add(*sample, at);
    }
}

void TForm1::ShowPendingMessages()
{
    deferred_->ShowPending();
}

void TForm1::RefreshNow()
{
    Refresh(true);
}

void TForm1::Refresh(bool everything)
{
    const TimePoint now = clock_.Now();
    {
        const FailuresAre quiet(this, SendFailures::Quiet);
        canopen_->Process(now);
    }
    UnitBoxBank& boxes = decoder_->Boxes();
    for (int n = 0; n < kUnitBoxCount; ++n) {
        const UnitBoxValue& v = boxes.Box(n);
        if (!v.dirty)
            continue;
        TUnitBox* box = UnitBoxes[static_cast<std::size_t>(n)];
        const QString value = Latin1(v.value);
        const QString status = Latin1(v.status);
        if (box->ValueEdit()->text() != value)
            box->ValueEdit()->setText(value);
        if (box->StatusEdit()->text() != status)
            box->StatusEdit()->setText(status);
        boxes.ClearDirty(n);
    }
    tsKRVData->Show(*decoder_);
    // Parameter answers can come at bus speed while their page is in sight:
    // ten repaints a second are plenty to read them.
    if (parameters_ && (everything || now - parametersShownAt_ >= kParametersInterval)) {
        parametersShownAt_ = now;
        parameters_->Flush();
    }
    ShowStaleUnits(now);
    nodes_.Tick(now);
    if (answerWatch_.Check(now)) {
        Memo1->AppendLine(NoAnswerText().toStdString());
        ShowCommInfo();
        statisticsShownAt_.reset();
    }
    if (nodeView_->isVisible())
        nodeView_->Show(nodes_, now);
    if (unitBackup_)
        unitBackup_->ShowProgress();
    if (!statisticsShownAt_ || now - *statisticsShownAt_ >= kStatisticsInterval) {
        statisticsShownAt_ = now;
        ShowStatistics(now);
    }
}

namespace {

QString StaleText(const UnitBoxBank& boxes, int n, TimePoint now)
{
    const auto since = boxes.SinceTpdo1(n, now);
    if (!since || !boxes.Stale(n, now))
        return {};
    const QString seconds = QString::number(std::chrono::duration<double>(*since).count(), 'f', 1);
    return boxes.HadTpdo1(n)
               ? QStringLiteral("No TPDO1 for %1 s").arg(seconds)
               : QStringLiteral("No TPDO1 since the unit was first heard %1 s ago").arg(seconds);
}

} // namespace

void TForm1::ShowStaleUnits(TimePoint now)
{
    const UnitBoxBank& boxes = decoder_->Boxes();
    for (int n = 0; n < kUnitBoxCount; ++n)
        UnitBoxes[static_cast<std::size_t>(n)]->SetStale(boxes.Stale(n, now), StaleText(boxes, n, now));
    const std::optional<long long> unit =
        ParseDecimal(tsKRVData->UnitAddressBox()->currentText().toStdString());
    const int selected = unit ? static_cast<int>(*unit & 0xFF) : -1;
    tsKRVData->SetTpdo1Stale(boxes.Stale(selected, now), StaleText(boxes, selected, now));
}

namespace {

// "Replay of run.trc: 12.3 of 60.0 s, frame 1234 of 5000", and whether it
// is paused or has ended.
QString ReplayText(const ReplayDriver& replay)
{
    const auto seconds = [](std::int64_t micros) { return QString::number(double(micros) / 1e6, 'f', 1); };
    QString text = QStringLiteral("Replay of %1: %2 of %3 s, frame %4 of %5")
                       .arg(QFileInfo(replay.Path()).fileName(), seconds(replay.PlayedMicros()),
                            seconds(replay.TotalMicros()))
                       .arg(replay.FramesPlayed())
                       .arg(replay.FrameCount());
    if (replay.Paused())
        text += QStringLiteral(" (paused)");
    else if (replay.FramesPlayed() == replay.FrameCount())
        text += QStringLiteral(" (ended)");
    return text;
}

} // namespace

void TForm1::ShowReplay()
{
    if (!replay_)
        return;
    const std::int64_t total = replay_->TotalMicros();
    const int percent = total > 0 ? int(replay_->PlayedMicros() * 100 / total)
                                  : (replay_->FramesPlayed() == replay_->FrameCount() ? 100 : 0);
    QString title = QStringLiteral("%1 - replay of %2 (%3 %)")
                        .arg(QString::fromLatin1(kWindowTitle), QFileInfo(replay_->Path()).fileName())
                        .arg(percent);
    if (replay_->Paused())
        title += QStringLiteral(", paused");
    if (windowTitle() != title)
        setWindowTitle(title);
}

void TForm1::ShowStatistics(TimePoint now)
{
    StatusFigures f;
    if (comm_) {
        f.adapter = comm_->AdapterName();
        f.bitsPerSecond = comm_->BitsPerSecond();
        BusStatistics& stats = comm_->Statistics();
        f.receivedPerSecond = stats.Received(now);
        f.sentPerSecond = stats.Sent(now);
        f.loadPercent = stats.LoadPercent(now, f.bitsPerSecond);
        f.errorFrames = comm_->ErrorFrames();
    }
    f.recording = recorder_ && recorder_->IsRecording();
    f.recordedFrames = recorder_ ? recorder_->Frames() : 0;
    f.listenOnly = listenOnly_;
    if (answerWatch_.NoAnswer())
        f.notice = NoAnswerText();
    if (replay_ && comm_ && comm_->ComNumber() == 0) {
        f.adapter = ReplayText(*replay_);
        f.bitsPerSecond = 0;
        ShowReplay();
    }
    statusBar_->Show(f);
}
