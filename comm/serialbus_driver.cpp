#include "serialbus_driver.h"

#include "bit_rates.h"
#include "comm_log.h"

#include <QCanBus>
#include <QVariant>

#include <algorithm>

SerialBusDriver::SerialBusDriver(const QString& plugin, const QString& interfaceName, QObject* parent)
    : SerialBusDriver(
          plugin, interfaceName,
          [plugin, interfaceName](QString* error) {
              return QCanBus::instance()->createDevice(plugin, interfaceName, error);
          },
          parent)
{
}

SerialBusDriver::SerialBusDriver(const QString& plugin, const QString& interfaceName, DeviceFactory factory,
                                 QObject* parent)
    : CanBackend(parent), plugin_(plugin), interface_(interfaceName), factory_(std::move(factory))
{
    report(QStringLiteral("not opened yet"));
}

SerialBusDriver::~SerialBusDriver()
{
    dropDevice();
}

void SerialBusDriver::report(const QString& state)
{
    setStatusText(QStringLiteral("%1:%2: %3").arg(plugin_, interface_, state));
}

void SerialBusDriver::dropDevice()
{
    pending_.clear();
    errorPending_ = false;
    if (!device_)
        return;
    // Our handlers must not see the deliberate shutdown as a lost bus.
    device_->disconnect(this);
    if (device_->state() != QCanBusDevice::UnconnectedState)
        device_->disconnectDevice();
    device_.reset();
}

uint32_t SerialBusDriver::init(uint16_t btr0btr1, int msgType)
{
    Q_UNUSED(msgType); // standard and extended frames are both taken as they come
    dropDevice();
    const uint32_t bitsPerSecond = tervix::BitsPerSecondOfCode(btr0btr1);
    if (bitsPerSecond == 0) {
        report(QStringLiteral("unknown bit-rate code 0x%1").arg(btr0btr1, 4, 16, QLatin1Char('0')));
        return kDriverBadBitRate;
    }
    rateText_ = QStringLiteral("%1 kbit/s").arg(bitsPerSecond / 1000);

    QString error;
    QCanBusDevice* device = factory_(&error);
    if (!device) {
        report(QStringLiteral("cannot use this adapter: %1").arg(error));
        return kDriverMissing;
    }
    device_.reset(device);
    device_->setConfigurationParameter(QCanBusDevice::BitRateKey, QVariant::fromValue(bitsPerSecond));
    if (plugin_ == QLatin1String("socketcan")) {
        // Wrong-rate errors arrive as error frames only when asked for.
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
        return kDriverMissing;
    }
    onStateChanged(device_->state());
    return 0;
}

uint32_t SerialBusDriver::close()
{
    const bool wasOpen = device_ != nullptr;
    dropDevice();
    report(QStringLiteral("closed"));
    return wasOpen ? 0 : kDriverNotOpen;
}

void SerialBusDriver::onStateChanged(QCanBusDevice::CanBusDeviceState state)
{
    switch (state) {
    case QCanBusDevice::ConnectingState: report(QStringLiteral("connecting at %1").arg(rateText_)); break;
    case QCanBusDevice::ConnectedState:
        report(QStringLiteral("connected at %1").arg(rateText_));
        for (const QCanBusFrame& frame : std::as_const(pending_))
            device_->writeFrame(frame);
        pending_.clear();
        break;
    case QCanBusDevice::UnconnectedState:
        // Lost without being asked to close: the next read says so.
        errorPending_ = true;
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
    if (error == QCanBusDevice::ReadError || error == QCanBusDevice::ConnectionError) {
        errorPending_ = true;
        report(QStringLiteral("error: %1").arg(device_->errorString()));
    }
}

uint32_t SerialBusDriver::read(CanFrame& frame)
{
    if (!device_)
        return kDriverNotOpen;
    if (errorPending_) {
        errorPending_ = false;
        frame.len = kErrorFrameLength;
        return kDriverBusError;
    }
    while (device_->framesAvailable() > 0) {
        const QCanBusFrame received = device_->readFrame();
        if (!received.isValid())
            continue;
        if (received.frameType() == QCanBusFrame::ErrorFrame) {
            frame.len = kErrorFrameLength;
            return kDriverBusError;
        }
        if (received.frameType() != QCanBusFrame::DataFrame &&
            received.frameType() != QCanBusFrame::RemoteRequestFrame)
            continue;
        frame.id = received.frameId();
        frame.msgType = kMsgStandard;
        if (received.frameType() == QCanBusFrame::RemoteRequestFrame)
            frame.msgType |= kMsgRemote;
        if (received.hasExtendedFrameFormat())
            frame.msgType |= kMsgExtended;
        // A flexible-data-rate payload does not fit the record: keep its first 8 bytes.
        const QByteArray payload = received.payload();
        const auto n = static_cast<std::size_t>(std::min<qsizetype>(payload.size(), 8));
        frame.len = static_cast<std::uint8_t>(n);
        frame.data.fill(0);
        std::copy_n(reinterpret_cast<const std::uint8_t*>(payload.constData()), n, frame.data.begin());
        return 0;
    }
    return kDriverQueueEmpty;
}

uint32_t SerialBusDriver::write(const CanFrame& frame)
{
    if (!device_)
        return kDriverNotOpen;
    const bool extended = (frame.msgType & kMsgExtended) != 0;
    const std::size_t n = std::min<std::size_t>(frame.len, 8);
    QCanBusFrame out(extended ? (frame.id & 0x1FFFFFFFu) : (frame.id & 0x7FFu),
                     QByteArray(reinterpret_cast<const char*>(frame.data.data()), static_cast<qsizetype>(n)));
    out.setExtendedFrameFormat(extended);
    if (frame.msgType & kMsgRemote)
        out.setFrameType(QCanBusFrame::RemoteRequestFrame);
    switch (device_->state()) {
    case QCanBusDevice::ConnectedState: return device_->writeFrame(out) ? 0 : kDriverWriteFailed;
    case QCanBusDevice::ConnectingState:
        if (pending_.size() >= kMaxPending)
            return kDriverWriteFailed;
        pending_.append(out);
        return 0;
    default: return kDriverNotOpen;
    }
}
