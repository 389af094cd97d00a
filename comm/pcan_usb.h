// The four calls the USB channel makes to a CAN driver, and the back-end that
// binds them from the PCAN-USB vendor library at run time.
#pragma once

#include "frame_packet.h"

#include <QLibrary>
#include <QObject>
#include <QString>

#include <cstdint>

using tervix::CanFrame;

struct CanDriver {
    virtual ~CanDriver() = default;
    virtual uint32_t init(uint16_t btr0btr1, int msgType) = 0; // 0 = ready
    virtual uint32_t close() = 0;
    virtual uint32_t read(CanFrame& frame) = 0; // 0 = a frame was taken
    virtual uint32_t write(const CanFrame& frame) = 0;
};

// Message types of the driver record.
constexpr std::uint8_t kMsgStandard = 0x00;
constexpr std::uint8_t kMsgRemote = 0x01;
constexpr std::uint8_t kMsgExtended = 0x02;

// A failed read that means "no frame at this bit rate" carries a length byte
// above 8; the device search steps on when it sees one.
constexpr std::uint8_t kErrorFrameLength = 0xFF;

// Our own result codes, kept clear of the vendor's (which are small bit masks).
constexpr uint32_t kDriverMissing = 0x80000001u; // library or device not there
constexpr uint32_t kDriverNotOpen = 0x80000002u; // channel not initialised
constexpr uint32_t kDriverQueueEmpty = 0x80000003u;
constexpr uint32_t kDriverBusError = 0x80000004u; // error frame or lost bus
constexpr uint32_t kDriverBadBitRate = 0x80000005u;
constexpr uint32_t kDriverWriteFailed = 0x80000006u;

// A real back-end: a driver that can say what it is and how it is doing, for
// the "Comm Info" label.
class CanBackend : public QObject, public CanDriver {
    Q_OBJECT
public:
    using QObject::QObject;
    QString statusText() const { return status_; }

signals:
    void statusChanged(const QString& text);

protected:
    void setStatusText(const QString& text);

private:
    QString status_;
};

// The vendor's PCAN-USB library (PCAN-Light API), loaded when constructed.
// When it or one of its four functions is missing, every call fails and
// nothing is received, as with a missing adapter.
class PcanLightDriver final : public CanBackend {
    Q_OBJECT
public:
    // Empty: the platform's default name (pcan_usb.dll on Windows).
    explicit PcanLightDriver(const QString& libraryPath = {}, QObject* parent = nullptr);
    ~PcanLightDriver() override;

    static QString defaultLibraryName();
    bool loaded() const { return init_ != nullptr; }

    uint32_t init(uint16_t btr0btr1, int msgType) override;
    uint32_t close() override;
    uint32_t read(CanFrame& frame) override;
    uint32_t write(const CanFrame& frame) override;

private:
#if defined(_WIN32)
#define TERVIX_PCAN_CALL __stdcall
#else
#define TERVIX_PCAN_CALL
#endif
    using InitFn = uint32_t(TERVIX_PCAN_CALL*)(uint16_t, int);
    using CloseFn = uint32_t(TERVIX_PCAN_CALL*)();
    using MsgFn = uint32_t(TERVIX_PCAN_CALL*)(CanFrame*);
#undef TERVIX_PCAN_CALL

    void report(const QString& state);

    QLibrary library_;
    InitFn init_ = nullptr;
    CloseFn close_ = nullptr;
    MsgFn read_ = nullptr;
    MsgFn write_ = nullptr;
};
