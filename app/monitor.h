// The main window: log, value boxes, the selected unit's data page and the
// parameter group; decodes every message the adapter receives.
#pragma once

#include "clock.h"
#include "com_ports.h"
#include "frame_naming.h"
#include "frame_packet.h"
#include "requests.h"
#include "text_mirror.h"
#include "unit_boxes.h"

#include <QWidget>

#include <array>
#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <initializer_list>
#include <optional>
#include <string>
#include <vector>

class ComboChoiceBox;
class LogView;
class TComm;
class TUSB2CAN;
class MessageSink;
class ParameterPages;
class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QTabWidget;
class QTimer;
class TUnitBox;

class TForm1 : public QWidget {
    Q_OBJECT
public:
    // Hands a packet to the adapter; throws when the adapter cannot take it.
    using FrameSender = std::function<void(const tervix::FramePacket&)>;

    // Where the window reaches the bus. Without a USB channel the window
    // makes no transport (tests hand it a FrameSender instead).
    struct Adapters {
        TUSB2CAN* usb = nullptr;
        ComPortMap ports;
    };

    explicit TForm1(MessageSink& messages, tervix::Clock& clock = tervix::DefaultClock(),
                    QWidget* parent = nullptr);
    TForm1(MessageSink& messages, tervix::Clock& clock, Adapters adapters, QWidget* parent = nullptr);
    ~TForm1() override;

    void SetFrameSender(FrameSender sender) { sender_ = std::move(sender); }
    // The parameter pages whose cells answers are stored into (none: answers
    // for pages are dropped and a read-all ends at once).
    void SetParameterPages(ParameterPages* pages) { pages_ = pages; }

    // Requests. Each sends one frame and logs it; a send error passes to the
    // caller and the request is then not logged.
    std::array<std::uint8_t, 2> CobIdBytes(std::uint8_t prefix) const;
    int UnitAddress();
    void btNMT_StartClick();
    void btNMT_StopClick();
    void SendRPDO1(std::uint32_t value) { SendRpdo(1, value); }
    void SendRPDO2(std::uint32_t value) { SendRpdo(2, value); }
    void SendRPDO3(std::uint32_t value) { SendRpdo(3, value); }
    void SendRPDO4(std::uint32_t value) { SendRpdo(4, value); }
    void SdoWrite(std::uint32_t object, std::int32_t value);
    void SdoWriteUnitAddress(std::uint32_t object);
    void SdoRead(std::uint32_t object);
    void ReadAllStep(int page);
    void SendRawFrame(tervix::ByteView text);

    // The data page.
    void ShowResponseTime();
    void btClear1Click();
    void btClear2Click();
    void btClear3Click();
    void btClear4Click();
    void btClearMaxMinClick();
    void cbTestClick();
    void WatchdogTimerTick();
    void GuardTimerTick();
    void btFindClick();
    void CanDeviceFound(TUSB2CAN* sender, tervix::CanFrame& frame);

    TComm* Comm() const { return comm_; }

    // Names, counts, logs and routes one received message (a packet or a
    // line of adapter text). Never re-entered: a message that arrives while
    // another is being handled (say, under an open message box) is handled
    // right after it.
    void FrameReceived(tervix::ByteView message);

    // Shows the decoder's state in the widgets now (normally done once per
    // batch, when control returns to the event loop).
    void RefreshNow();

    void UnitBoxClick(TUnitBox* box);

    // Controls, named as on the form.
    QTabWidget* PageControl2 = nullptr;
    QWidget* tsComm = nullptr;
    QWidget* DataSheet = nullptr;
    QWidget* tsKRVData = nullptr;
    QGroupBox* bgParameters = nullptr;
    QTabWidget* PageControl1 = nullptr;
    QWidget* ttStdParam = nullptr;
    QWidget* ttTrigParam = nullptr;
    QWidget* ttFillParams = nullptr;
    QWidget* ttMassFlow = nullptr;
    QWidget* tsSDO = nullptr;

    QComboBox* cbxAdaptorPort = nullptr;
    QComboBox* cbxCANaddr = nullptr;
    QComboBox* cbxCANspeed = nullptr;
    QLabel* lbInfo = nullptr;
    QPushButton* btFind = nullptr;
    LogView* Memo1 = nullptr;

    QComboBox* cbxKRVaddr = nullptr;
    QPushButton* btNMT_Start = nullptr;
    QPushButton* btNMT_Stop = nullptr;
    QCheckBox* cbTest = nullptr;
    QCheckBox* cbxTPDOint = nullptr;
    QGroupBox* gbFunctions = nullptr;
    QLineEdit* edbxTPDO1 = nullptr;
    QLineEdit* edbxTPDO2 = nullptr;
    QLineEdit* edbxTPDO3 = nullptr;
    QLineEdit* edbxTPDO4 = nullptr;
    QLineEdit* edbxGross1 = nullptr;
    QLineEdit* edbxGross2 = nullptr;
    QLineEdit* edbxValue3 = nullptr;
    QLineEdit* edbxVref = nullptr;
    QLineEdit* edbxVtemp = nullptr;
    QLineEdit* edbxTPDO1count = nullptr;
    QLineEdit* edbxTPDO2count = nullptr;
    QLineEdit* edbxTPDO3count = nullptr;
    QLineEdit* edbxTPDO4count = nullptr;
    QLineEdit* edbxGrossMax = nullptr;
    QLineEdit* edbxGrossMin = nullptr;
    QLabel* lbBusy2 = nullptr;
    QPushButton* btClear1 = nullptr;
    QPushButton* btClear2 = nullptr;
    QPushButton* btClear3 = nullptr;
    QPushButton* btClear4 = nullptr;
    QPushButton* btClearMaxMin = nullptr;

    QTimer* GuardTimer = nullptr;
    QTimer* WatchdogTimer = nullptr;

    std::array<TUnitBox*, tervix::kUnitBoxCount> UnitBoxes{};
    std::array<std::uint32_t, tervix::kFunctionCodeCount> FrameCounters{};
    std::chrono::system_clock::time_point RequestTime{};
    double GrossMax = 0.0;
    double GrossMin = 0.0;
    std::uint32_t ReadAllCount = 0;
    int ReadAllSheet = 0;
    std::uint32_t WatchdogSnapshot = 0;

    const tervix::UnitBoxBank& BoxState() const { return boxes_; }

protected:
    void showEvent(QShowEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void FormCreate(Adapters& adapters);
    void CreateTransport(Adapters& adapters);
    void BuildCommunicationPage();
    void BuildDataSheet();
    void BuildKrvDataPage();
    void BuildParameterGroup();
    void PlaceUnitBoxes();

    std::optional<long long> NodeNumber() const;
    void Send(const tervix::FramePacket& packet);
    void SendAndLog(const tervix::Request& request);
    void SendRpdo(int n, std::uint32_t value);
    void WireDataPage();

    void Decode(tervix::ByteView message);
    void Tpdo1Row(tervix::ByteView message);
    void Tpdo2Row(tervix::ByteView message);
    void Tpdo4Row(tervix::ByteView message);
    void CountText(TextMirror& mirror, int functionCode);
    void ClearRow(int row, std::initializer_list<TextMirror*> values);
    bool StoreCell(int page, int subIndex, std::int32_t value);
    void ReadAllFailed();
    void Tpdo1Steps(tervix::ByteView message);
    void Tpdo3Steps(tervix::ByteView message);
    void Tpdo3Response(tervix::ByteView message);
    void SdoSteps(tervix::ByteView message);
    void SdoAbort(tervix::ByteView message);
    void ShowSdoError(const std::string& text);
    void AppendLog(std::string_view line);
    void ScheduleRefresh();

    MessageSink& messages_;
    tervix::Clock& clock_;
    FrameSender sender_;
    TComm* comm_ = nullptr;
    TUSB2CAN* usb_ = nullptr;  // the program's USB channel, owned by the application
    std::unique_ptr<ComboChoiceBox> portBox_;
    std::unique_ptr<ComboChoiceBox> speedBox_;
    ParameterPages* pages_ = nullptr;
    std::optional<long long> unitAddress_;  // parsed text of cbxKRVaddr
    bool maxSet_ = false;  // mirrors of the tags of edbxGrossMax / edbxGrossMin
    bool minSet_ = false;
    char decimalSeparator_ = '.';
    tervix::UnitBoxBank boxes_;
    TUnitBox* markedBox_ = nullptr;

    TextMirror tpdoLine_[4];
    TextMirror tpdoCount_[4];
    TextMirror gross1_, gross2_, value3_, vref_, vtemp_, grossMax_, grossMin_, busy_;

    std::string logLine_;   // reused for every message
    std::string scratch_;
    bool decoding_ = false;
    std::deque<std::vector<std::uint8_t>> deferred_;
    bool refreshPending_ = false;
};
