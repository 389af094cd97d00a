// The main window: the communication page with the log, the value boxes,
// the selected unit's data page and the parameter group. Widgets and wiring
// only; the monitor's state and decisions live in the decoder.
#pragma once

#include "answer_watch.h"
#include "canopen_client.h"
#include "clock.h"
#include "com_ports.h"
#include "frame_packet.h"
#include "monitor_decoder.h"
#include "node_monitor.h"
#include "trace_formats.h"
#include "unit_boxes.h"

#include <QWidget>

#include <array>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>

class AppSettings;
class ComboChoiceBox;
class DeferredMessages;
class LogView;
class MessageSink;
class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QPushButton;
class QTabWidget;
class QTimer;
class Recorder;
class ReplayDriver;
class TComm;
class TDataPage;
class TDialogForm1;
class TDialogForm2;
class TDialogForm3;
class TDialogFormSDO;
struct TFillCell;
class TFunctions;
class TNodeView;
class TParameters;
class TStatusBar;
class TTrendWindow;
class TServiceObjects;
class TUSB2CAN;
class TUnitBackup;
class TUnitBox;

namespace tervix {
class ParameterPages;
struct ReceiveSlot;
class TrendStore;
}

class TForm1 : public QWidget {
    Q_OBJECT
public:
    // Hands a frame to the adapter; fails when the adapter cannot take it.
    using FrameSender = std::function<tervix::Status(const tervix::BusFrame&)>;

    // Where the window reaches the bus. Without a USB channel the window
    // makes no transport (tests hand it a FrameSender instead).
    struct Adapters {
        TUSB2CAN* usb = nullptr;
        ComPortMap ports;
        // The configuration of the parameter pages and function buttons.
        std::string configFile = "Tervix.conf";
        // The USB channel's driver when it plays a recording: the window
        // then sends nothing and shows what it plays.
        ReplayDriver* replay = nullptr;
    };

    // What every refused send says while the window listens only.
    static constexpr const char* kListenOnlyText =
        "Listen only: Tervix sends nothing on the bus. Untick \"Listen only\" on \"Communication\" to send.";

    // The window's texts reach the screen at about this rate, however many
    // frames arrive in between.
    static constexpr int kDisplayIntervalMs = 16;

    explicit TForm1(MessageSink& messages, tervix::Clock& clock = tervix::DefaultClock(),
                    QWidget* parent = nullptr);
    TForm1(MessageSink& messages, tervix::Clock& clock, Adapters adapters, QWidget* parent = nullptr);
    ~TForm1() override;

    void SetFrameSender(FrameSender sender) { sender_ = std::move(sender); }
    // Listen only ("Listen only" on "Communication", --listen-only): nothing
    // goes out, neither the watchdog's NMT Start nor guarding nor a search;
    // the first request refused says why in a box, later ones in the log.
    // A replay listens only, always.
    void SetListenOnly(bool on);
    bool ListenOnly() const { return listenOnly_; }
    QCheckBox* ListenOnlyBox() const { return cbListenOnly; }
    // Every node seen on the bus, for the "Nodes" page.
    const tervix::NodeMonitor& Nodes() const { return nodes_; }
    // The node in "CAN Addr" was asked and has not answered for 2 s.
    bool NoAnswer() const { return answerWatch_.NoAnswer(); }
    QLabel* CommInfoLabel() const { return lbInfo; }
    // The replay's buttons on "Communication" (hidden unless replaying).
    QPushButton* ReplayPauseButton() const { return btReplayPause; }
    QPushButton* ReplayRestartButton() const { return btReplayRestart; }
    // Where "Record..." records to; empty: cancelled. A file dialog unless set.
    using RecordFileAsker = std::function<QString()>;
    void SetRecordFileAsker(RecordFileAsker asker) { askRecordFile_ = std::move(asker); }
    // Records every frame received and sent to a trace file, in `format` or
    // the one the extension names (candump otherwise); false with *error
    // when the file cannot be opened or there is no transport.
    bool StartRecording(const QString& path, QString* error = nullptr,
                        std::optional<tervix::TraceFormat> format = std::nullopt);
    // How long every SDO request waits for each answer.
    void SetSdoTimeout(std::chrono::milliseconds timeout);
    // Restores what the settings kept (after the transport's lists exist)
    // and writes it back when the window closes; null keeps nothing.
    void UseSettings(AppSettings* settings);
    // Queues an SDO transfer for the node in "CAN Addr"; false when its first
    // frame could not go out (said as for any button). Frames of a transfer
    // whose `log` is set are logged as Tx lines of the node.
    bool QueueSdo(tervix::SdoTransfer transfer);
    tervix::CanopenClient& Canopen() { return *canopen_; }
    Recorder* FrameRecorder() const { return recorder_; }
    // The parameter pages whose cells answers are stored into (none: answers
    // for pages are dropped and a read-all ends at once).
    void SetParameterPages(tervix::ParameterPages* pages);

    tervix::MonitorDecoder& Decoder() { return *decoder_; }
    TComm* Comm() const { return comm_; }
    LogView* Log() const { return Memo1; }
    TDataPage* DataPage() const { return tsKRVData; }
    TStatusBar* StatusBar() const { return statusBar_; }
    QPushButton* FindButton() const { return btFind; }
    // A click on the find button this soon after its text changed was aimed
    // at the old text (a late "Cancel search" must not start a new search).
    static constexpr std::chrono::milliseconds kFindButtonSettle{500};
    // How often the status bar's figures are shown anew.
    static constexpr std::chrono::milliseconds kStatisticsInterval{1000};
    TUnitBox* UnitBox(int n) const { return UnitBoxes[static_cast<std::size_t>(n) % tervix::kUnitBoxCount]; }
    // The subsystems built by FormCreate (null where their files are missing).
    TParameters* Parameters() const { return parameters_; }
    TFunctions* Functions() const { return functions_; }
    TServiceObjects* ObjectTree() const { return objects_; }
    TDialogFormSDO* SdoDialog() const { return sdoDialog_; }
    TDialogForm1* ValueDialog1() const { return dialog1_; }
    TDialogForm2* ValueDialog2() const { return dialog2_; }
    TDialogForm3* ValueDialog3() const { return dialog3_; }
    // "Backup…", "Compare…" and "Restore…" under the parameter pages.
    TUnitBackup* UnitBackup() const { return unitBackup_; }
    // Opens the trend window ("Trend…" on the "CAN Data" page), made on first
    // use; with a unit ("Trend of unit N" of a value box), also chooses it.
    // Without one, a window with no unit chosen yet gets the data page's unit.
    void OpenTrend(std::optional<unsigned> unit = std::nullopt);
    // Null until the trend was first opened.
    TTrendWindow* TrendWindow() const { return trendWindow_; }

    // Names, counts, logs and routes one received message (a packet or a
    // line of adapter text). Messages it raises are shown afterwards.
    void FrameReceived(tervix::ByteView message);
    // The same for a receive slot: its frame and receive time.
    void FrameReceived(const tervix::ReceiveSlot& slot);

    // Requests of the buttons; a send error is shown (a box with the
    // adapter's text) and the request is then not logged. False when nothing
    // went out.
    void btNMT_StartClick();
    void btNMT_StopClick();
    bool SdoWrite(std::uint32_t object, std::int32_t value);
    bool SdoRead(std::uint32_t object);
    bool StartReadAll(int page);
    // The SDO dialog's request for the button that asks (its tag names it):
    // builds, sends and logs the frame; a write with a bad value box sends
    // nothing and says so.
    void SDORequest(QPushButton* button);
    // The parameter pages' "Set" and "Read", and the function buttons.
    void ParamSet(const TFillCell& cell);
    void ParamReadClick(int page);
    void FunctionKeyPressed(QObject* sender);

    // Timer handlers (tests call them instead of waiting).
    void WatchdogTimerTick();
    void GuardTimerTick();
    void btFindClick();
    // Asks for a file and records to it; while recording, stops.
    void btRecordClick();
    void CanDeviceFound(TUSB2CAN* sender, const tervix::BusFrame& frame);
    void UnitBoxClick(TUnitBox* box);

    // Shows the decoder's state in the widgets now (normally done at
    // display rate).
    void RefreshNow();
    // The display timer's refresh; `everything` also shows what is shown
    // less often (the parameter pages).
    void Refresh(bool everything);
    // Shows the messages waiting to be shown now (normally done from the
    // event loop right after the step that raised them).
    void ShowPendingMessages();
    bool GuardTimerActive() const;
    bool WatchdogTimerActive() const;

protected:
    void showEvent(QShowEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    friend class AppSettings;

    void BuildCommunicationPage();
    void BuildDataSheet();
    void BuildParameterGroup();
    void FormCreate(Adapters& adapters);
    void CreateTransport(Adapters& adapters);
    void WireDataPage();
    void PlaceUnitBoxes();
    void BuildTrendButton();
    // FormCreate's steps for the parameter pages with the object-tree page,
    // the function buttons and value dialogs (monitor_params.cpp), and the
    // EDS load and the SDO dialog (monitor_od.cpp).
    void BuildParameterPages();
    void BuildFunctionButtons();
    void CreateValueDialogs();
    void LoadObjectTree();
    // One log line naming the folder the configuration and the EDS file are
    // looked for in, and which of them is missing.
    void LogFileFolder();
    // FormShow's step: the SDO dialog sends through this window.
    void RegisterSdoRequestHandler();
    // Timers and the "Run Nodeguard" box follow the decoder after each action.
    void SyncTimers();
    // Both FrameReceived: the packet to the decoder, the frame to the client.
    void Received(tervix::ByteView packet, const tervix::BusFrame* frame, tervix::TimePoint at);
    void ShowRecording();
    // The one way out for every frame the window sends: refused while
    // listening only; a frame that went out may ask the node for an answer
    // and is an NMT command the node view sees.
    tervix::Status Send(const tervix::BusFrame& frame);
    // "Comm Info": the transport's text, then whether the node answers and
    // whether the window listens only.
    void ShowCommInfo();
    QString NoAnswerText() const;
    // Once a second: the replay's file and how far it is, in the caption.
    void ShowReplay();
    void LogNodeEvent(const tervix::NodeEvent& event);
    void SetFindButtonText(const QString& text);
    // RefreshNow's steps: stale units greyed, the status bar once a second.
    void ShowStaleUnits(tervix::TimePoint now);
    void ShowStatistics(tervix::TimePoint now);
    template <typename Action>
    void Act(Action&& action);
    template <typename Action>
    void ActOnTimer(Action&& action);
    // A request that did not go out: shown, counted (timers) or left to the
    // caller (value dialogs, steps taken on a received frame).
    void SendFailed(std::string_view why);
    enum class SendFailures { Shown, Counted, Quiet };
    struct FailuresAre {
        FailuresAre(TForm1* form, SendFailures how) : form_(form), was_(std::exchange(form->sendFailures_, how)) {}
        ~FailuresAre() { form_->sendFailures_ = was_; }
        FailuresAre(const FailuresAre&) = delete;
        FailuresAre& operator=(const FailuresAre&) = delete;
        TForm1* form_;
        SendFailures was_;
    };

    MessageSink& messages_;
    tervix::Clock& clock_;
    FrameSender sender_;
    std::unique_ptr<tervix::CanopenClient> canopen_;
    std::unique_ptr<tervix::MonitorDecoder> decoder_;
    SendFailures sendFailures_ = SendFailures::Shown;
    DeferredMessages* deferred_ = nullptr;
    TComm* comm_ = nullptr;
    TUSB2CAN* usb_ = nullptr;  // the program's USB channel, owned by the application
    std::unique_ptr<ComboChoiceBox> portBox_;
    std::unique_ptr<ComboChoiceBox> speedBox_;
    TUnitBox* markedBox_ = nullptr;
    TParameters* parameters_ = nullptr;
    TFunctions* functions_ = nullptr;
    TServiceObjects* objects_ = nullptr;
    TDialogFormSDO* sdoDialog_ = nullptr;
    TDialogForm1* dialog1_ = nullptr;
    TDialogForm2* dialog2_ = nullptr;
    TDialogForm3* dialog3_ = nullptr;
    Recorder* recorder_ = nullptr;
    TUnitBackup* unitBackup_ = nullptr;
    TTrendWindow* trendWindow_ = nullptr;
    // Fed with each TPDO1 of the node while the trend window is open.
    tervix::TrendStore* trendStore_ = nullptr;
    RecordFileAsker askRecordFile_;
    AppSettings* settings_ = nullptr;
    std::optional<tervix::TimePoint> findButtonChangedAt_;
    int lostNotice_ = 0; // the box saying the adapter is lost, while it is up
    bool listenOnly_ = false;
    bool listenOnlySaid_ = false; // the box was shown since listening only began
    tervix::AnswerWatch answerWatch_;
    tervix::NodeMonitor nodes_;
    ReplayDriver* replay_ = nullptr;
    std::string configFile_;

    QTabWidget* PageControl2 = nullptr;
    QWidget* tsComm = nullptr;
    QWidget* DataSheet = nullptr;
    TDataPage* tsKRVData = nullptr;
    QGroupBox* bgParameters = nullptr;
    QTabWidget* PageControl1 = nullptr;
    QComboBox* cbxAdaptorPort = nullptr;
    QComboBox* cbxCANaddr = nullptr;
    QComboBox* cbxCANspeed = nullptr;
    QLabel* lbInfo = nullptr;
    QPushButton* btFind = nullptr;
    QPushButton* btRecord = nullptr;
    QPushButton* btTrend = nullptr;
    QCheckBox* cbListenOnly = nullptr;
    QPushButton* btReplayPause = nullptr;
    QPushButton* btReplayRestart = nullptr;
    TNodeView* nodeView_ = nullptr;
    LogView* Memo1 = nullptr;
    QTimer* GuardTimer = nullptr;
    QTimer* WatchdogTimer = nullptr;
    QTimer* displayTimer_ = nullptr;
    static constexpr std::chrono::milliseconds kParametersInterval{100};
    tervix::TimePoint parametersShownAt_{};
    TStatusBar* statusBar_ = nullptr;
    std::optional<tervix::TimePoint> statisticsShownAt_;
    std::array<TUnitBox*, tervix::kUnitBoxCount> UnitBoxes{};
};
