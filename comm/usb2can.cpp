#include "usb2can.h"

#include "bit_rates.h"
#include "comm_log.h"

#include <QCoreApplication>
#include <QPointer>

#include <algorithm>

namespace {

// Written when a search starts and after each step to another rate.
tervix::BusFrame WakeFrame()
{
    tervix::BusFrame f;
    f.length = 1;
    f.data[0] = 0x01;
    return f;
}

QPointer<TUSB2CAN>& ProgramChannel()
{
    static QPointer<TUSB2CAN> channel;
    return channel;
}

QString Kbit(std::uint32_t bitsPerSecond)
{
    return QStringLiteral("%1 kbit/s").arg(bitsPerSecond / 1000.0);
}

} // namespace

TUSB2CAN::TUSB2CAN(std::unique_ptr<CanDriver> driver, tervix::Clock& clock, QObject* owner)
    : QObject(owner), driver_(std::move(driver)), clock_(clock), code_(tervix::kDefaultBitRateCode)
{
    connect(driver_.get(), &CanDriver::statusChanged, this, &TUSB2CAN::UpdateStatus);
    status_ = StatusText();
}

TUSB2CAN::~TUSB2CAN()
{
    driver_->disconnect(this);
    if (const DriverResult r = driver_->close(); r != DriverResult::Ok)
        Error("CAN_Close", r);
}

void TUSB2CAN::Error(const char* call, DriverResult result)
{
    qCDebug(lcComm) << call << "returned" << DriverResultName(result);
    if (errorHook_)
        errorHook_(call, result);
}

void TUSB2CAN::Init(std::uint16_t code, bool openAnyway)
{
    const DriverResult r = driver_->init(code);
    if (r != DriverResult::Ok)
        Error("CAN_Init", r);
    // A send believes the channel open even when the init failed; the next
    // poll finds out.
    if (r == DriverResult::Ok || openAnyway)
        open_ = true;
}

void TUSB2CAN::CloseDriver()
{
    if (const DriverResult r = driver_->close(); r != DriverResult::Ok)
        Error("CAN_Close", r);
    open_ = false;
}

bool TUSB2CAN::RunSteps()
{
    while (!steps_.empty()) {
        const Step step = steps_.front();
        switch (step.kind) {
        case Step::Wait:
            if (!waitUntil_)
                waitUntil_ = clock_.Now() + kSettleWait;
            if (clock_.Now() < *waitUntil_)
                return false;
            waitUntil_.reset();
            steps_.pop_front();
            break;
        case Step::Reinit:
            // Whether to close first is decided now, not when the change was
            // asked for: a step before this one may have opened or closed.
            steps_.pop_front();
            if (open_) {
                CloseDriver();
                steps_.push_front({Step::Wait});
                steps_.insert(steps_.begin() + 1, {Step::Reinit, step.code});
            } else {
                Init(step.code, false);
                steps_.push_front({Step::Wait});
            }
            break;
        case Step::OpenForWrite:
            steps_.pop_front();
            if (!open_) {
                Init(static_cast<std::uint16_t>(code_), true);
                steps_.push_front({Step::Wait});
            }
            break;
        case Step::Write:
            steps_.pop_front();
            --heldFrames_;
            if (const DriverResult r = driver_->write(step.frame); r != DriverResult::Ok)
                Error("CAN_Write", r);
            break;
        case Step::Wake:
            steps_.pop_front();
            if (const DriverResult r = driver_->write(step.frame); r != DriverResult::Ok) {
                Error("CAN_Write", r);
                wakeFailed_ = true;
            }
            break;
        }
    }
    return true;
}

void TUSB2CAN::SetBitrate(std::uint32_t code)
{
    if (code == code_)
        return;
    code_ = code;
    steps_.push_back({Step::Reinit, static_cast<std::uint16_t>(code)});
    RunSteps();
}

tervix::Status TUSB2CAN::WriteFrame(const tervix::BusFrame& frame)
{
    // A frame the driver refuses is reported to the sender, so that it is
    // never logged as sent.
    if (open_ && steps_.empty()) {
        if (const DriverResult r = driver_->write(frame); r != DriverResult::Ok) {
            Error("CAN_Write", r);
            return tervix::Status::Failed(FailureText("CAN_Write", r).toStdString());
        }
        return {};
    }
    if (!open_ && steps_.empty()) {
        // The first send opens the channel; a driver that cannot open (no
        // library, no adapter) says so now instead of swallowing the frame.
        if (tervix::Status opened = InitNow(); !opened)
            return opened;
    }
    if (heldFrames_ >= kMaxHeldFrames) {
        Error("CAN_Write", DriverResult::WriteFailed);
        return tervix::Status::Failed(FailureText("CAN_Write", DriverResult::WriteFailed).toStdString());
    }
    ++heldFrames_;
    steps_.push_back({Step::OpenForWrite});
    steps_.push_back({Step::Write, 0, frame});
    RunSteps();
    return {};
}

tervix::Status TUSB2CAN::InitNow()
{
    const DriverResult r = driver_->init(static_cast<std::uint16_t>(code_));
    if (r != DriverResult::Ok) {
        Error("CAN_Init", r);
        return tervix::Status::Failed(FailureText("CAN_Init", r).toStdString());
    }
    open_ = true;
    steps_.push_back({Step::Wait});
    return {};
}

tervix::Status TUSB2CAN::OpenToListen()
{
    if (open_ || !steps_.empty())
        return {};
    tervix::Status opened = InitNow();
    RunSteps();
    return opened;
}

QString TUSB2CAN::FailureText(const char* call, DriverResult result) const
{
    const QString status = driver_->statusText();
    return QStringLiteral("USB adapter: %1 failed (%2)%3")
        .arg(QString::fromLatin1(call), QString::fromLatin1(DriverResultName(result)),
             status.isEmpty() ? QString() : QStringLiteral(": ") + status);
}

void TUSB2CAN::Deliver(const ReceivedFrame& received, tervix::TimePoint readAt)
{
    // A replayed frame the recording sent is no answer to a search.
    if (onReceive_ && !received.transmitted)
        onReceive_(this, received.frame);
    if (ring_)
        ring_->DeliverFrame(received.frame, received.at.value_or(readAt), received.transmitted);
}

void TUSB2CAN::PollInto(tervix::ReceiveRing& ring)
{
    struct Lend {
        tervix::ReceiveRing*& at;
        ~Lend() { at = nullptr; }
    } lend{ring_};
    ring_ = &ring;
    Tick();
}

void TUSB2CAN::Tick()
{
    if (mode_ == Mode::Search)
        SearchPoll();
    else
        Poll();
}

void TUSB2CAN::Poll()
{
    if (!RunSteps())
        return;
    const std::uint64_t errorsBefore = errorFrames_;
    struct Report {
        TUSB2CAN& channel;
        std::uint64_t before;
        ~Report()
        {
            if (channel.errorFrames_ != before)
                channel.UpdateStatus();
        }
    } report{*this, errorsBefore};
    ReceivedFrame received;
    // A flood beyond what the program can name must not freeze the window:
    // after the budget, the rest waits in the driver's queue for the next tick.
    // A frame the driver gives no time is timed by the read; the clock is
    // read once per 256 frames (a clock read costs as much as naming a frame
    // on some machines), so that time is at most that many reads old.
    tervix::TimePoint readAt = clock_.Now();
    const tervix::TimePoint deadline = readAt + kTickBudget;
    for (unsigned n = 1; open_; ++n) {
        if (n % 256 == 0 && (readAt = clock_.Now()) >= deadline)
            return;
        received.at.reset();
        switch (driver_->read(received)) {
        case DriverResult::Ok: Deliver(received, readAt); continue;
        case DriverResult::ErrorFrame: ++errorFrames_; continue;
        case DriverResult::WrongBitRate:
            // Closed until a write, a new rate or a search opens it again.
            CloseDriver();
            return;
        case DriverResult::NotOpen:
            // The driver lost its device: said once; the transport looks for
            // it again, and the next write opens it too.
            open_ = false;
            Lost(driver_->statusText());
            return;
        default: return;
        }
    }
}

bool TUSB2CAN::TryReopen()
{
    if (!IsLost())
        return false;
    if (open_ || !steps_.empty()) {
        Back();  // a write or a rate change has opened it meanwhile
        return true;
    }
    if (driver_->init(static_cast<std::uint16_t>(code_)) != DriverResult::Ok)
        return false;
    open_ = true;
    steps_.push_back({Step::Wait});
    Back();
    UpdateStatus();
    return true;
}

void TUSB2CAN::StartSearch(FrameCallback onFound)
{
    onFound_ = std::move(onFound);
    if (mode_ != Mode::Search)
        codeBeforeSearch_ = code_;
    mode_ = Mode::Search;
    emit searchStarted();
    if (driver_->systemSetsBitRate()) {
        // The search cannot step through rates here: it looks for the node
        // at the rate the interface runs at, so that the speed box shows it.
        searchRate_ = driver_->interfaceBitRate();
        for (const tervix::BitRateEntry& e : tervix::kBitRates)
            if (e.bitsPerSecond == searchRate_)
                SetBitrate(e.code);
        steps_.push_back({Step::OpenForWrite});
        if (searchRate_ != 0)
            emit searchRateTried(searchRate_);
    } else {
        SetBitrate(tervix::kSearchFirstBitRateCode);
        emit searchRateTried(tervix::BitsPerSecondOfCode(code_));
    }
    steps_.push_back({Step::Wake, 0, WakeFrame()});
    wakeFailed_ = false;
    RunSteps();
    UpdateStatus();
}

void TUSB2CAN::CancelSearch()
{
    if (mode_ != Mode::Search)
        return;
    mode_ = Mode::Poll;
    // A wake frame still queued belongs to a rate no longer tried.
    std::erase_if(steps_, [](const Step& s) { return s.kind == Step::Wake; });
    if (!driver_->systemSetsBitRate())
        SetBitrate(codeBeforeSearch_);
    emit searchCancelled(BitsPerSecond());
    UpdateStatus();
}

std::uint32_t TUSB2CAN::BitsPerSecond() const
{
    if (driver_->systemSetsBitRate())
        return driver_->interfaceBitRate();
    return tervix::BitsPerSecondOfCode(code_);
}

void TUSB2CAN::NextSearchRate()
{
    CloseDriver();
    steps_.push_back({Step::Wait});
    SetBitrate(tervix::NextSearchBitRateCode(code_));
    steps_.push_back({Step::Wake, 0, WakeFrame()});
    emit searchRateTried(tervix::BitsPerSecondOfCode(code_));
    // Shown from the moment the rate is chosen, as the log has it.
    UpdateStatus();
}

void TUSB2CAN::SearchPoll()
{
    wakeFailed_ = false;
    if (!RunSteps() || wakeFailed_)
        return;
    const std::uint64_t errorsBefore = errorFrames_;
    const bool wasSearching = mode_ == Mode::Search;
    ReceivedFrame received;
    const tervix::BusFrame& frame = received.frame;
    while (open_ && !wakeFailed_) {
        const DriverResult r = driver_->read(received);
        if (r == DriverResult::Ok) {
            // A device answered; frames already queued in this tick are
            // answers too.
            if (mode_ == Mode::Search) {
                mode_ = Mode::Poll;
                emit searchFound(static_cast<int>(frame.id & 0x7F), BitsPerSecond());
            }
            if (onFound_)
                onFound_(this, frame);
            continue;
        }
        if (r == DriverResult::ErrorFrame)
            ++errorFrames_;
        const bool noNodeHere = r == DriverResult::WrongBitRate ||
                                (r == DriverResult::ErrorFrame && !driver_->systemSetsBitRate());
        if (mode_ == Mode::Search && noNodeHere) {
            NextSearchRate();
            if (!RunSteps())
                break;
            continue;
        }
        if (r == DriverResult::ErrorFrame)
            continue;
        if (r == DriverResult::WrongBitRate)
            CloseDriver();
        else if (r == DriverResult::NotOpen)
            open_ = false;
        break;
    }
    if (errorFrames_ != errorsBefore || wasSearching != (mode_ == Mode::Search))
        UpdateStatus();
}

QString TUSB2CAN::StatusText() const
{
    QString text = driver_->statusText();
    if (mode_ == Mode::Search) {
        // The driver opens and closes at every rate tried; what the user
        // follows is the search, so its state replaces the driver's.
        text = driver_->name().isEmpty() ? QStringLiteral("USB adapter") : driver_->name();
        if (!driver_->systemSetsBitRate())
            text += QStringLiteral(": searching for the node, trying %1")
                        .arg(Kbit(tervix::BitsPerSecondOfCode(code_)));
        else if (searchRate_ != 0)
            text += QStringLiteral(": searching for the node at the interface's rate of %1")
                        .arg(Kbit(searchRate_));
        else
            text += QStringLiteral(": searching for the node at the system's rate");
    } else if (text.isEmpty()) {
        text = QStringLiteral("USB adapter");
    }
    if (errorFrames_ > 0)
        text += QStringLiteral("; error frames: %1").arg(errorFrames_);
    return text;
}

void TUSB2CAN::UpdateStatus()
{
    QString text = StatusText();
    if (text == status_)
        return;
    status_ = std::move(text);
    emit statusChanged(status_);
    StateChanged();
}

TUSB2CAN* InstallUsbChannel(QCoreApplication* app, std::unique_ptr<CanDriver> driver, tervix::Clock& clock)
{
    QPointer<TUSB2CAN>& channel = ProgramChannel();
    delete channel.data();
    channel = new TUSB2CAN(std::move(driver), clock, app);
    return channel.data();
}

TUSB2CAN* UsbChannel()
{
    return ProgramChannel().data();
}
