// The USB channel: opens the one driver channel at a bit-rate code, writes
// frames, polls the driver's receive queue on the transport's tick and runs
// the device search (bit rates from 1 Mbit/s down until a frame arrives).
//
// A received frame goes into the receive slot with the driver's receive time,
// or the time of the read where the driver has none.
//
// The driver needs 200 ms after a close or an init before it is used again.
// Those waits never block: they are steps that each poll tick moves on by the
// clock, and frames written meanwhile are held and go out in order after the
// wait.
#pragma once

#include "adapter.h"
#include "can_driver.h"
#include "clock.h"
#include "status.h"

#include <QObject>

#include <chrono>
#include <deque>
#include <functional>
#include <memory>
#include <optional>

class QCoreApplication;

class TUSB2CAN : public QObject, public Adapter {
    Q_OBJECT
public:
    using FrameCallback = std::function<void(TUSB2CAN* sender, const tervix::BusFrame& frame)>;
    // Driver results other than Ok from init, close and write; the channel
    // goes on regardless.
    using ErrorHook = std::function<void(const char* call, DriverResult result)>;

    static constexpr std::chrono::milliseconds kSettleWait{200};
    // The longest a poll tick reads before it lets the event loop run.
    static constexpr std::chrono::milliseconds kTickBudget{10};
    // Frames held while the driver settles; more are dropped (error hook).
    static constexpr std::size_t kMaxHeldFrames = 64;

    // Touches nothing in the driver.
    explicit TUSB2CAN(std::unique_ptr<CanDriver> driver, tervix::Clock& clock = tervix::DefaultClock(),
                      QObject* owner = nullptr);
    ~TUSB2CAN() override;

    void SetBitrate(std::uint32_t code);
    // Sends at once, or holds the frame while the driver settles. Fails when
    // the driver refuses the frame or cannot open, or too many are held.
    tervix::Status WriteFrame(const tervix::BusFrame& frame);
    // Listening only, no first frame sent opens the channel: this opens it
    // at the rate chosen, unless it is open or being opened.
    tervix::Status OpenToListen();
    void StartSearch(FrameCallback onFound);
    // Stops a running search; the channel goes back to the rate it had
    // before the search (the speed box still shows it).
    void CancelSearch();

    // One poll tick: moves a wait on, then reads (normal or search).
    void Tick();
    void Poll();
    void SearchPoll();

    void SetOnReceive(FrameCallback callback) { onReceive_ = std::move(callback); }
    void SetErrorHook(ErrorHook hook) { errorHook_ = std::move(hook); }

    std::uint32_t BitrateCode() const { return code_; }
    bool IsOpen() const { return open_; }
    bool Searching() const { return mode_ == Mode::Search; }
    // A close or init is settling; writes are held.
    bool Settling() const { return !steps_.empty(); }
    std::uint64_t ErrorFrames() const { return errorFrames_; }
    // The bus rate in bit/s: the interface's where the system sets it, else
    // the chosen code's; 0 when not known.
    std::uint32_t BitsPerSecond() const;
    CanDriver& Driver() { return *driver_; }
    tervix::Clock& Clock() const { return clock_; }

    // The driver's status, the search on a system-set rate and the error
    // frames counted: what "Comm Info" shows for the USB adapter.
    QString StatusText() const;

    // The adapter: opening and closing do nothing (the first send, a rate
    // change or a search opens the channel; choosing a serial port leaves it
    // open).
    tervix::Status Open() override { return {}; }
    void Close() override {}
    tervix::Status Send(const tervix::BusFrame& frame) override { return WriteFrame(frame); }
    void PollInto(tervix::ReceiveRing& ring) override;
    QString StateText() const override { return StatusText(); }
    bool ChoosesBitRate() const override { return true; }
    bool TryReopen() override;
    void SetBitRateCode(std::uint32_t code) override { SetBitrate(code); }

signals:
    void statusChanged(const QString& text);
    // The device search, step by step (rates in bit/s).
    void searchStarted();
    void searchRateTried(std::uint32_t bitsPerSecond);
    void searchFound(int node, std::uint32_t bitsPerSecond);
    void searchCancelled(std::uint32_t bitsPerSecond);

private:
    enum class Mode { Poll, Search };
    struct Step {
        enum Kind : std::uint8_t { Reinit, OpenForWrite, Wait, Write, Wake } kind;
        std::uint16_t code = 0;
        tervix::BusFrame frame{};
    };

    void Error(const char* call, DriverResult result);
    QString FailureText(const char* call, DriverResult result) const;
    // Initialises the driver at the rate chosen and waits for it to settle.
    tervix::Status InitNow();
    void Init(std::uint16_t code, bool openAnyway);
    void CloseDriver();
    // Runs queued steps until one must wait; true when none is left.
    bool RunSteps();
    void NextSearchRate();
    void Deliver(const ReceivedFrame& received, tervix::TimePoint readAt);
    void UpdateStatus();

    std::unique_ptr<CanDriver> driver_;
    tervix::Clock& clock_;
    bool open_ = false;
    std::uint32_t code_;
    Mode mode_ = Mode::Poll;
    std::deque<Step> steps_;
    std::optional<tervix::TimePoint> waitUntil_;
    std::size_t heldFrames_ = 0;
    bool wakeFailed_ = false;
    std::uint32_t searchRate_ = 0;
    std::uint32_t codeBeforeSearch_ = 0;
    std::uint64_t errorFrames_ = 0;
    FrameCallback onReceive_;
    FrameCallback onFound_;
    ErrorHook errorHook_;
    tervix::ReceiveRing* ring_ = nullptr;
    QString status_;
};

// The program's one USB channel, owned by the application object and
// created before any window. Replaces (and deletes) an earlier one.
TUSB2CAN* InstallUsbChannel(QCoreApplication* app, std::unique_ptr<CanDriver> driver,
                            tervix::Clock& clock = tervix::DefaultClock());
// Null before InstallUsbChannel and after the application object is gone.
TUSB2CAN* UsbChannel();
