#include "usb2can.h"

#include "bit_rates.h"
#include "comm_log.h"

#include <QCoreApplication>

#include <algorithm>

namespace {

constexpr int kStandardFrames = 0;

CanFrame WakeFrame()
{
    CanFrame f;
    f.id = 0;
    f.msgType = kMsgStandard;
    f.len = 1;
    f.data[0] = 0x01;
    return f;
}

QPointer<TUSB2CAN>& ProgramChannel()
{
    static QPointer<TUSB2CAN> channel;
    return channel;
}

} // namespace

TUSB2CAN::TUSB2CAN(std::unique_ptr<CanDriver> driver, tervix::Clock& clock, QObject* owner)
    : QObject(owner), driver_(std::move(driver)), clock_(clock), code_(tervix::kDefaultBitRateCode)
{
    if (auto* backend = dynamic_cast<CanBackend*>(driver_.get()))
        connect(backend, &CanBackend::statusChanged, this, &TUSB2CAN::driverStatusChanged);
}

TUSB2CAN::~TUSB2CAN()
{
    // The transport that lent the timer is usually gone by now; the QPointer
    // tells.
    if (timer_)
        timer_->stop();
    if (const uint32_t r = driver_->close())
        Error("CAN_Close", r);
}

QString TUSB2CAN::DriverStatus() const
{
    if (auto* backend = dynamic_cast<const CanBackend*>(driver_.get()))
        return backend->statusText();
    return {};
}

void TUSB2CAN::Error(const char* call, uint32_t result)
{
    qCDebug(lcComm) << call << "returned" << Qt::hex << result;
    if (errorHook_)
        errorHook_(call, result);
}

void TUSB2CAN::SetTimerHandler(Mode mode)
{
    // Lambdas holding only `this` are stored inside the std::function, so
    // the timer's per-tick copy does not allocate.
    if (!timer_)
        return;
    if (mode == Mode::Search)
        timer_->setHandler([this] { SearchPoll(); });
    else
        timer_->setHandler([this] { Poll(); });
}

void TUSB2CAN::AttachTimer(PollTimer* timer)
{
    timer_ = timer;
    SetTimerHandler(Mode::Poll);
    if (timer_)
        timer_->start();
}

void TUSB2CAN::Init(uint32_t code)
{
    if (const uint32_t r = driver_->init(static_cast<uint16_t>(code), kStandardFrames)) {
        Error("CAN_Init", r);
        return;
    }
    open_ = true;
}

void TUSB2CAN::SetBitrate(uint32_t code)
{
    if (code == code_)
        return;
    code_ = code;
    if (open_) {
        if (const uint32_t r = driver_->close())
            Error("CAN_Close", r);
        open_ = false;
        clock_.Sleep(kSettleWait);
    }
    Init(code_);
    clock_.Sleep(kSettleWait);
}

void TUSB2CAN::WriteFrame(tervix::ByteView packet)
{
    if (packet.size() < tervix::kPacketHeaderSize)
        return;
    if (!open_) {
        if (const uint32_t r = driver_->init(static_cast<uint16_t>(code_), kStandardFrames))
            Error("CAN_Init", r);
        // Believed open even when the init failed; the next poll finds out.
        open_ = true;
        clock_.Sleep(kSettleWait);
    }
    CanFrame frame;
    frame.id = (uint32_t(packet[2]) << 3) + (uint32_t(packet[3]) >> 5);
    frame.msgType = kMsgStandard;
    const std::size_t len = std::min<std::size_t>({packet.size() - tervix::kPacketHeaderSize, packet[1], 8});
    frame.len = static_cast<uint8_t>(len);
    std::copy_n(packet.begin() + tervix::kPacketHeaderSize, len, frame.data.begin());
    if (const uint32_t r = driver_->write(frame))
        Error("CAN_Write", r);
}

void TUSB2CAN::Poll()
{
    CanFrame record;
    while (open_) {
        if (driver_->read(record) == 0) {
            if (onReceive_)
                onReceive_(this, record);
            continue;
        }
        if (record.len > 8) {
            // Bus error or wrong rate: closed until a write, a new rate or a
            // search opens it again.
            if (const uint32_t r = driver_->close())
                Error("CAN_Close", r);
            open_ = false;
        }
        return;
    }
}

void TUSB2CAN::StartSearch(FrameCallback onFound)
{
    onFound_ = std::move(onFound);
    SetTimerHandler(Mode::Search);
    SetBitrate(tervix::kSearchFirstBitRateCode);
    if (const uint32_t r = driver_->write(WakeFrame()))
        Error("CAN_Write", r);
}

void TUSB2CAN::SearchPoll()
{
    CanFrame record;
    while (open_) {
        if (driver_->read(record) == 0) {
            // A device answered; frames already queued in this tick are
            // answers too.
            SetTimerHandler(Mode::Poll);
            if (onFound_)
                onFound_(this, record);
            continue;
        }
        if (record.len <= 8)
            return; // nothing yet, try again next tick
        if (const uint32_t r = driver_->close())
            Error("CAN_Close", r);
        open_ = false;
        clock_.Sleep(kSettleWait);
        SetBitrate(tervix::NextSearchBitRateCode(code_));
        record = WakeFrame();
        if (const uint32_t r = driver_->write(record)) {
            Error("CAN_Write", r);
            return;
        }
    }
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
