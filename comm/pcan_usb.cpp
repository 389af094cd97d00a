#include "pcan_usb.h"

#include "bit_rates.h"
#include "comm_log.h"

#include <algorithm>
#include <array>

// The vendor library's message record: 16 bytes, two of padding at the end.
struct PcanRecord {
    std::uint32_t id = 0;
    std::uint8_t msgType = 0;
    std::uint8_t len = 0;
    std::array<std::uint8_t, 8> data{};
    std::uint8_t pad[2] = {0, 0};
};
static_assert(sizeof(PcanRecord) == 16, "PcanRecord must match the library's record");

namespace {

// Message types of the record.
constexpr std::uint8_t kMsgStandard = 0x00;
constexpr std::uint8_t kMsgRemote = 0x01;
constexpr std::uint8_t kMsgExtended = 0x02;
constexpr std::uint8_t kMsgStatus = 0x80;

// CAN_Init's second argument: standard 11-bit identifiers.
constexpr int kInitStandard = 0;

QString RateText(std::uint16_t code)
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

PcanLightDriver::PcanLightDriver(const QString& libraryPath, QObject* parent) : CanDriver(parent)
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
    setStatus(QStringLiteral("PCAN-USB (pcan-light, %1)").arg(library_.fileName()), state);
}

DriverResult PcanLightDriver::init(std::uint16_t btr0btr1)
{
    if (!init_)
        return DriverResult::Missing;
    const std::uint32_t result = init_(btr0btr1, kInitStandard);
    if (result == 0) {
        report(QStringLiteral("open at %1").arg(RateText(btr0btr1)));
        return DriverResult::Ok;
    }
    report(QStringLiteral("CAN_Init failed (0x%1)").arg(result, 0, 16));
    return DriverResult::Failed;
}

DriverResult PcanLightDriver::close()
{
    if (!close_)
        return DriverResult::Missing;
    const std::uint32_t result = close_();
    report(QStringLiteral("channel closed"));
    return result == 0 ? DriverResult::Ok : DriverResult::Failed;
}

DriverResult PcanLightDriver::read(ReceivedFrame& received)
{
    if (!read_)
        return DriverResult::Missing;
    PcanRecord record;
    if (read_(&record) != 0) {
        // The library leaves a length above 8 in the record when it cannot
        // receive at the rate it was opened with; anything else is an empty
        // queue as far as the channel is concerned.
        return record.len > 8 ? DriverResult::WrongBitRate : DriverResult::Empty;
    }
    if (record.msgType & kMsgStatus)
        return DriverResult::ErrorFrame;
    received.at.reset();
    tervix::BusFrame& frame = received.frame;
    frame.extended = (record.msgType & kMsgExtended) != 0;
    frame.remote = (record.msgType & kMsgRemote) != 0;
    frame.id = record.id & (frame.extended ? 0x1FFFFFFFu : 0x7FFu);
    frame.length = std::min<std::uint8_t>(record.len, 8);
    // All eight bytes, whatever the length says: the slot keeps them.
    frame.data = record.data;
    return DriverResult::Ok;
}

DriverResult PcanLightDriver::write(const tervix::BusFrame& frame)
{
    if (!write_)
        return DriverResult::Missing;
    PcanRecord record;
    record.id = frame.id;
    record.msgType = static_cast<std::uint8_t>(kMsgStandard | (frame.extended ? kMsgExtended : 0) |
                                               (frame.remote ? kMsgRemote : 0));
    record.len = std::min<std::uint8_t>(frame.length, 8);
    std::copy_n(frame.data.begin(), record.len, record.data.begin());
    return write_(&record) == 0 ? DriverResult::Ok : DriverResult::WriteFailed;
}
