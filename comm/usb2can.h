// The PCAN-USB channel: opens the one driver channel at a bit-rate code,
// writes frames, polls the driver's receive queue on the transport's timer
// and runs the device search (bit rates from 1 Mbit/s down until a frame
// arrives).
#pragma once

#include "clock.h"
#include "frame_packet.h"
#include "pcan_usb.h"
#include "poll_timer.h"

#include <QObject>
#include <QPointer>

#include <functional>
#include <memory>

class QCoreApplication;

class TUSB2CAN : public QObject {
    Q_OBJECT
public:
    using FrameCallback = std::function<void(TUSB2CAN* sender, CanFrame& frame)>;
    // Driver results other than 0; the channel goes on regardless.
    using ErrorHook = std::function<void(const char* call, uint32_t result)>;

    static constexpr std::chrono::milliseconds kSettleWait{200};

    // Touches neither driver nor timer.
    explicit TUSB2CAN(std::unique_ptr<CanDriver> driver, tervix::Clock& clock = tervix::DefaultClock(),
                      QObject* owner = nullptr);
    ~TUSB2CAN() override;

    // The timer stays the lender's; the channel only sets its handler.
    void AttachTimer(PollTimer* timer);
    void SetBitrate(uint32_t code);
    void WriteFrame(tervix::ByteView packet);
    void StartSearch(FrameCallback onFound);
    void Poll();
    void SearchPoll();

    void SetOnReceive(FrameCallback callback) { onReceive_ = std::move(callback); }
    bool HasOnReceive() const { return static_cast<bool>(onReceive_); }
    void SetErrorHook(ErrorHook hook) { errorHook_ = std::move(hook); }

    uint32_t BitrateCode() const { return code_; }
    bool IsOpen() const { return open_; }
    CanDriver& Driver() { return *driver_; }

    // The driver's own description for the "Comm Info" label.
    QString DriverStatus() const;

signals:
    void driverStatusChanged(const QString& text);

private:
    void Error(const char* call, uint32_t result);
    void Init(uint32_t code);
    enum class Mode { Poll, Search };
    void SetTimerHandler(Mode mode);

    std::unique_ptr<CanDriver> driver_;
    tervix::Clock& clock_;
    bool open_ = false;
    uint32_t code_ = 0x001C;
    QPointer<PollTimer> timer_;
    FrameCallback onReceive_;
    FrameCallback onFound_;
    ErrorHook errorHook_;
};

// The program's one USB channel, owned by the application object and
// created before any window. Replaces (and deletes) an earlier one.
TUSB2CAN* InstallUsbChannel(QCoreApplication* app, std::unique_ptr<CanDriver> driver,
                            tervix::Clock& clock = tervix::DefaultClock());
// Null before InstallUsbChannel and after the application object is gone.
TUSB2CAN* UsbChannel();
