#include "pcan_usb.h"

#include "bit_rates.h"
#include "comm_log.h"

void CanBackend::setStatusText(const QString& text)
{
    if (text == status_)
        return;
    status_ = text;
    emit statusChanged(status_);
}

namespace {

QString RateText(uint16_t code)
{
    const int i = tervix::BitRateIndexOfCode(code);
    if (i < 0)
        return QStringLiteral("code 0x%1").arg(code, 4, 16, QLatin1Char('0')).toUpper();
    const auto text = tervix::kBitRates[static_cast<std::size_t>(i)].text;
    return QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size()));
}

} // namespace

QString PcanLightDriver::defaultLibraryName()
{
#ifdef Q_OS_WIN
    return QStringLiteral("pcan_usb.dll");
#else
    return QStringLiteral("pcan_usb");
#endif
}

PcanLightDriver::PcanLightDriver(const QString& libraryPath, QObject* parent) : CanBackend(parent)
{
    library_.setFileName(libraryPath.isEmpty() ? defaultLibraryName() : libraryPath);
    if (!library_.load()) {
        qCWarning(lcComm) << "PCAN-USB driver library:" << library_.errorString();
        report(QStringLiteral("driver library not found"));
        return;
    }
    auto* init = reinterpret_cast<InitFn>(library_.resolve("CAN_Init"));
    auto* close = reinterpret_cast<CloseFn>(library_.resolve("CAN_Close"));
    auto* read = reinterpret_cast<MsgFn>(library_.resolve("CAN_Read"));
    auto* write = reinterpret_cast<MsgFn>(library_.resolve("CAN_Write"));
    if (!init || !close || !read || !write) {
        report(QStringLiteral("driver library lacks CAN_Init/CAN_Close/CAN_Read/CAN_Write"));
        library_.unload();
        return;
    }
    init_ = init;
    close_ = close;
    read_ = read;
    write_ = write;
    report(QStringLiteral("driver loaded, channel closed"));
}

PcanLightDriver::~PcanLightDriver() = default;

void PcanLightDriver::report(const QString& state)
{
    setStatusText(QStringLiteral("PCAN-USB (pcan-light, %1): %2").arg(library_.fileName(), state));
}

uint32_t PcanLightDriver::init(uint16_t btr0btr1, int msgType)
{
    if (!init_)
        return kDriverMissing;
    const uint32_t result = init_(btr0btr1, msgType);
    if (result == 0)
        report(QStringLiteral("open at %1").arg(RateText(btr0btr1)));
    else
        report(QStringLiteral("CAN_Init failed (0x%1)").arg(result, 0, 16));
    return result;
}

uint32_t PcanLightDriver::close()
{
    if (!close_)
        return kDriverMissing;
    const uint32_t result = close_();
    report(QStringLiteral("channel closed"));
    return result;
}

uint32_t PcanLightDriver::read(CanFrame& frame)
{
    return read_ ? read_(&frame) : kDriverMissing;
}

uint32_t PcanLightDriver::write(const CanFrame& frame)
{
    if (!write_)
        return kDriverMissing;
    // The vendor's prototype takes a non-const record; it does not change it.
    CanFrame copy = frame;
    return write_(&copy);
}
