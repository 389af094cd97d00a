// The PCAN-USB vendor library (PCAN-Light API), loaded when constructed. When
// it or one of its four functions is missing, every call fails and nothing is
// received, as with a missing adapter. The library's own message record stays
// in this back-end; the channel sees BusFrames and typed results.
#pragma once

#include "can_driver.h"

#include <QLibrary>

struct PcanRecord;

class PcanLightDriver final : public CanDriver {
    Q_OBJECT
public:
    // Empty: the platform's default name (pcan_usb.dll on Windows).
    explicit PcanLightDriver(const QString& libraryPath = {}, QObject* parent = nullptr);
    ~PcanLightDriver() override;

    static QString defaultLibraryName();
    bool loaded() const { return init_ != nullptr; }

    DriverResult init(std::uint16_t btr0btr1) override;
    DriverResult close() override;
    // The library's record has no receive time.
    DriverResult read(ReceivedFrame& received) override;
    DriverResult write(const tervix::BusFrame& frame) override;

private:
#if defined(_WIN32)
#define TERVIX_PCAN_CALL __stdcall
#else
#define TERVIX_PCAN_CALL
#endif
    using InitFn = std::uint32_t(TERVIX_PCAN_CALL*)(std::uint16_t, int);
    using CloseFn = std::uint32_t(TERVIX_PCAN_CALL*)();
    using MsgFn = std::uint32_t(TERVIX_PCAN_CALL*)(PcanRecord*);
#undef TERVIX_PCAN_CALL

    void report(const QString& state);

    QLibrary library_;
    InitFn init_ = nullptr;
    CloseFn close_ = nullptr;
    MsgFn read_ = nullptr;
    MsgFn write_ = nullptr;
};
