// The one object through which the program reaches the CAN bus: the USB
// channel or the serial adapter on COM1..COM99, picked in the port box.
// Received frames and adapter text lines go through four receive slots to the
// frame handler; each frame is counted and recorded from its slot, with its
// receive time.
#pragma once

#include "choice_box.h"
#include "com_ports.h"
#include "frame_packet.h"
#include "poll_timer.h"
#include "receive_ring.h"
#include "recorder.h"
#include "serial_link.h"
#include "status.h"
#include "usb2can.h"

#include "bus_load.h"

#include <QObject>
#include <QPointer>

#include <functional>
#include <optional>
#include <memory>

class TComm : public QObject {
    Q_OBJECT
public:
    // The handler reads what it needs from Slot(slot) during the call: the
    // slot is refilled four deliveries later.
    using FrameHandler = std::function<void(TComm* sender, int slot)>;

    // Prepares the port settings and the (stopped) poll timer. Opens nothing.
    explicit TComm(TUSB2CAN& usb, ComPortMap ports = ComPortMap(), QObject* parent = nullptr);
    ~TComm() override;

    // Fills both boxes, probes COM1..COM99 and starts polling the USB channel.
    void InitLists(ChoiceBox& port, ChoiceBox& speed);
    void SetOnFrame(FrameHandler handler) { frameHandler_ = std::move(handler); }
    // Gets every frame received and every frame sent (null: none).
    void SetRecorder(Recorder* recorder) { recorder_ = recorder; }

    // Through the adapter in use; fails with the adapter's text. A frame
    // that went out is counted and recorded with the time of the send.
    tervix::Status SendFrame(const tervix::BusFrame& frame);

    // Change handlers of the boxes (user actions only). A port that cannot
    // be opened fails with the adapter's text and leaves the poll stopped.
    void SpeedChange();
    tervix::Status PortChange();

    // 0: USB adapter; n: serial adapter on COMn.
    int ComNumber() const { return comNumber_; }
    const tervix::ReceiveSlot& Slot(int slot) const { return ring_.Slot(slot); }
    PollTimer& Timer() { return *timer_; }
    SerialLink& Serial() { return serial_; }
    const ComPortMap& Ports() const { return ports_; }

    // Frames received and sent over the last second, by the USB channel's
    // clock.
    tervix::BusStatistics& Statistics() { return stats_; }
    // The bus rate of the adapter in use in bit/s; 0 when not known (the
    // serial adapter's rate is set on the adapter itself).
    std::uint32_t BitsPerSecond() const;
    // The adapter in use and the error frames it counted (the USB channel only).
    QString AdapterName() const { return PortName(); }
    std::optional<std::uint64_t> ErrorFrames() const;
    // Listening only, what the adapter in use does with the frames of others.
    QString ListenOnlyNote() const;
    // Listening only, the USB channel is opened at once (and after every port
    // change back to it): no frame sent will open it.
    void SetListenOnly(bool on);

    // For the "Comm Info" label: the adapter in use and its state.
    QString InfoText() const { return info_; }

    // A send that a timer made (watchdog, guarding) failed: counted in "Comm
    // Info" instead of shown, since it repeats by itself. A send that works
    // or another port clears the count.
    void CountTimerSendFailure();
    int TimerSendFailures() const { return timerSendFailures_; }

    // How often a lost adapter is looked for at its device.
    static constexpr int kReopenIntervalMs = 500;

signals:
    // After a poll tick that delivered at least one frame or text line.
    void pollFinished();
    void infoChanged(const QString& text);
    // Connection events for the log: a port opened, refused, lost, back;
    // the speed changed; the device search's steps and result.
    void connectionEvent(const QString& line);
    // The adapter in use went away by itself: one message for the user.
    void adapterLost(const QString& message);
    // What adapterLost said holds no more: the adapter is back, or the user
    // picked a port.
    void lossOver();

private:
    // The adapter the port number selects; null when the USB channel is gone.
    Adapter* InUse();
    void OpenToListen();
    void FillSpeedBox();
    void UpdateInfo();
    void OnLost(Adapter* adapter, const QString& why);
    void TryReopen();
    void EndLoss();
    QString PortName() const;
    tervix::TimePoint Now() const;

    QPointer<TUSB2CAN> usb_;
    bool listenOnly_ = false;
    ComPortMap ports_;
    SerialLink serial_;
    std::unique_ptr<PollTimer> timer_;
    ChoiceBox* speedBox_ = nullptr;
    ChoiceBox* portBox_ = nullptr;
    FrameHandler frameHandler_;
    QPointer<Recorder> recorder_;
    int comNumber_ = 0;
    tervix::ReceiveRing ring_;
    int delivered_ = 0;
    QString info_;
    int timerSendFailures_ = 0;
    std::optional<tervix::TimePoint> nextReopenTry_;
    bool lossReported_ = false;
    tervix::BusStatistics stats_;
};
