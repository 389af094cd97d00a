#include "serialbus_driver.h"

#include "bit_rates.h"
#include "comm_log.h"

#include <QCanBus>
#include <QVariant>

#include <algorithm>
#include <optional>

namespace {

const QString kSocketCan = QStringLiteral("socketcan");

// Zero or out of range: the plugin did not stamp the frame.
std::optional<std::chrono::microseconds> StampOf(const QCanBusFrame& frame)
{
    const QCanBusFrame::TimeStamp t = frame.timeStamp();
    if (t.seconds() < 0 || t.microSeconds() < 0 || t.microSeconds() >= 1000000 ||
        (t.seconds() == 0 && t.microSeconds() == 0))
        return std::nullopt;
    return std::chrono::seconds(t.seconds()) + std::chrono::microseconds(t.microSeconds());
}

} // namespace

SerialBusDriver::SerialBusDriver(const QString& plugin, const QString& interfaceName, tervix::Clock& clock,
                                 QObject* parent)
    : SerialBusDriver(
          plugin, interfaceName,
          [plugin, interfaceName](QString* error) {
              return QCanBus::instance()->createDevice(plugin, interfaceName, error);
          },
          plugin == kSocketCan ? RateReader([interfaceName] { return SocketCanBitRate(interfaceName); })
                               : RateReader(),
          clock, parent)
{
}

SerialBusDriver::SerialBusDriver(const QString& plugin, const QString& interfaceName, DeviceFactory factory,
                                 RateReader systemRate, tervix::Clock& clock, QObject* parent)
    : CanDriver(parent), plugin_(plugin), interface_(interfaceName), factory_(std::move(factory)),
      systemRate_(std::move(systemRate)), clock_(clock)
{
    report(QStringLiteral("not opened yet"));
}

SerialBusDriver::~SerialBusDriver()
{
    dropDevice();
}

std::uint32_t SerialBusDriver::interfaceBitRate() const
{
    return systemRate_ ? systemRate_() : 0;
}

QString SerialBusDriver::listenOnlyNote() const
{
    if (plugin_ == kSocketCan) {
        if (const std::optional<bool> silent = SocketCanListenOnly(interface_))
            return *silent ? QStringLiteral("%1 is in listen-only mode").arg(interface_)
                           : QStringLiteral("%1 still acknowledges frames; `ip link set %1 type can listen-only "
                                            "on` makes it silent")
                                 .arg(interface_);
    }
    return CanDriver::listenOnlyNote();
}

void SerialBusDriver::report(const QString& state)
{
    setStatus(QStringLiteral("%1:%2").arg(plugin_, interface_), state);
}

void SerialBusDriver::dropDevice()
{
    pending_.clear();
    readErrors_ = 0;
    lost_ = false;
    times_.Reset();
    if (!device_)
        return;
    // Our handlers must not see the deliberate shutdown as a lost bus.
    device_->disconnect(this);
    if (device_->state() != QCanBusDevice::UnconnectedState)
        device_->disconnectDevice();
    device_.reset();
}

DriverResult SerialBusDriver::init(std::uint16_t btr0btr1)
{
    dropDevice();
    const std::uint32_t bitsPerSecond = tervix::BitsPerSecondOfCode(btr0btr1);
    if (systemRate_) {
        // The speed box cannot change this rate; say which one applies.
        const std::uint32_t rate = systemRate_();
        rateText_ = rate ? QStringLiteral("; the system sets the bit rate (%1 kbit/s here), the speed box "
                                          "cannot change it")
                               .arg(rate / 1000.0)
                         : QStringLiteral("; the system sets the bit rate, the speed box cannot change it");
    } else if (bitsPerSecond == 0) {
        report(QStringLiteral("unknown bit-rate code 0x%1").arg(btr0btr1, 4, 16, QLatin1Char('0')));
        return DriverResult::BadBitRate;
    } else {
        rateText_ = QStringLiteral(" at %1 kbit/s").arg(bitsPerSecond / 1000);
    }

    QString error;
    QCanBusDevice* device = factory_(&error);
    if (!device) {
        report(QStringLiteral("cannot use this adapter: %1").arg(error));
        return DriverResult::Missing;
    }
    device_.reset(device);
    if (!systemRate_)
        device_->setConfigurationParameter(QCanBusDevice::BitRateKey, QVariant::fromValue(bitsPerSecond));
    if (plugin_ == kSocketCan) {
        // Error frames arrive only when asked for; the channel counts them.
        device_->setConfigurationParameter(
            QCanBusDevice::ErrorFilterKey,
            QVariant::fromValue(QCanBusFrame::FrameErrors(QCanBusFrame::AnyError)));
    }
    connect(device_.get(), &QCanBusDevice::stateChanged, this, &SerialBusDriver::onStateChanged);
    connect(device_.get(), &QCanBusDevice::errorOccurred, this, &SerialBusDriver::onError);
    if (!device_->connectDevice()) {
        const QString why = device_->errorString();
        device_->disconnect(this);
        device_.reset();
        report(QStringLiteral("cannot connect: %1").arg(why));
        return DriverResult::Missing;
    }
    onStateChanged(device_->state());
    return DriverResult::Ok;
}

DriverResult SerialBusDriver::close()
{
    const bool wasOpen = device_ != nullptr;
    dropDevice();
    report(QStringLiteral("closed"));
    return wasOpen ? DriverResult::Ok : DriverResult::NotOpen;
}

void SerialBusDriver::onStateChanged(QCanBusDevice::CanBusDeviceState state)
{
    switch (state) {
    case QCanBusDevice::ConnectingState: report(QStringLiteral("connecting") + rateText_); break;
    case QCanBusDevice::ConnectedState:
        report(QStringLiteral("connected") + rateText_);
        for (const QCanBusFrame& frame : std::as_const(pending_))
            device_->writeFrame(frame);
        pending_.clear();
        break;
    case QCanBusDevice::UnconnectedState:
        // Lost without being asked to close: reads say so.
        lost_ = true;
        pending_.clear();
        report(QStringLiteral("connection lost"));
        break;
    case QCanBusDevice::ClosingState: break;
    }
}

void SerialBusDriver::onError(QCanBusDevice::CanBusError error)
{
    if (!device_)
        return;
    qCDebug(lcComm) << plugin_ << interface_ << error << device_->errorString();
    if (error == QCanBusDevice::ReadError) {
        ++readErrors_;
        report(QStringLiteral("error: %1").arg(device_->errorString()));
    } else if (error == QCanBusDevice::ConnectionError) {
        report(QStringLiteral("error: %1").arg(device_->errorString()));
    }
}

DriverResult SerialBusDriver::read(ReceivedFrame& received)
{
    if (!device_)
        return DriverResult::NotOpen;
    // A device that is not connected hands out no frames, queued or not.
    while (device_->state() == QCanBusDevice::ConnectedState && device_->framesAvailable() > 0) {
        const QCanBusFrame incoming = device_->readFrame();
        if (!incoming.isValid())
            break;
        if (incoming.frameType() == QCanBusFrame::ErrorFrame)
            return DriverResult::ErrorFrame;
        if (incoming.frameType() != QCanBusFrame::DataFrame &&
            incoming.frameType() != QCanBusFrame::RemoteRequestFrame)
            continue;
        tervix::BusFrame& frame = received.frame;
        frame.id = incoming.frameId();
        frame.extended = incoming.hasExtendedFrameFormat();
        frame.remote = incoming.frameType() == QCanBusFrame::RemoteRequestFrame;
        // A flexible-data-rate payload does not fit a frame: keep its first 8 bytes.
        const QByteArray payload = incoming.payload();
        const auto n = static_cast<std::size_t>(std::min<qsizetype>(payload.size(), 8));
        frame.length = static_cast<std::uint8_t>(n);
        frame.data.fill(0);
        std::copy_n(reinterpret_cast<const std::uint8_t*>(payload.constData()), n, frame.data.begin());
        received.at.reset();
        if (const auto stamp = StampOf(incoming))
            received.at = times_.Map(*stamp, clock_.Now());
        return DriverResult::Ok;
    }
    if (readErrors_ > 0) {
        --readErrors_;
        return DriverResult::ErrorFrame;
    }
    return lost_ ? DriverResult::NotOpen : DriverResult::Empty;
}

DriverResult SerialBusDriver::write(const tervix::BusFrame& frame)
{
    if (!device_)
        return DriverResult::NotOpen;
    const std::size_t n = std::min<std::size_t>(frame.length, 8);
    QCanBusFrame out(frame.extended ? (frame.id & 0x1FFFFFFFu) : (frame.id & 0x7FFu),
                     QByteArray(reinterpret_cast<const char*>(frame.data.data()), static_cast<qsizetype>(n)));
    out.setExtendedFrameFormat(frame.extended);
    if (frame.remote)
        out.setFrameType(QCanBusFrame::RemoteRequestFrame);
    switch (device_->state()) {
    case QCanBusDevice::ConnectedState:
        return device_->writeFrame(out) ? DriverResult::Ok : DriverResult::WriteFailed;
    case QCanBusDevice::ConnectingState:
        if (pending_.size() >= kMaxPending)
            return DriverResult::WriteFailed;
        pending_.append(out);
        return DriverResult::Ok;
    default: return DriverResult::NotOpen;
    }
}
