// A CAN driver over any Qt SerialBus plugin and interface (peakcan:usb0,
// socketcan:can0, virtualcan:can0, ...). BTR0/BTR1 codes become bit rates,
// except on SocketCAN, where the system sets the rate (`ip link`) and the
// program can only read it. Error frames and read errors are counted by the
// channel, never a reason to stop reading. A frame's time stamp becomes its
// receive time on the program's clock (DeviceTimeMap); a frame without one is
// timed by the channel's read.
#pragma once

#include "can_driver.h"
#include "clock.h"

#include <QCanBusDevice>
#include <QCanBusFrame>
#include <QList>

#include <functional>
#include <memory>
#include <optional>

class SerialBusDriver final : public CanDriver {
    Q_OBJECT
public:
    // Makes the device for each init; null with *error set when it cannot.
    using DeviceFactory = std::function<QCanBusDevice*(QString* error)>;
    // The interface's rate in bit/s, 0 when it cannot be read.
    using RateReader = std::function<std::uint32_t()>;

    // `clock`: the program's, onto which the frames' time stamps are put.
    SerialBusDriver(const QString& plugin, const QString& interfaceName,
                    tervix::Clock& clock = tervix::DefaultClock(), QObject* parent = nullptr);
    // With devices from elsewhere (tests use a device that fails on purpose).
    // A rate reader marks a back-end whose rate the system sets.
    SerialBusDriver(const QString& plugin, const QString& interfaceName, DeviceFactory factory,
                    RateReader systemRate = {}, tervix::Clock& clock = tervix::DefaultClock(),
                    QObject* parent = nullptr);
    ~SerialBusDriver() override;

    DriverResult init(std::uint16_t btr0btr1) override;
    DriverResult close() override;
    DriverResult read(ReceivedFrame& received) override;
    DriverResult write(const tervix::BusFrame& frame) override;
    bool systemSetsBitRate() const override { return static_cast<bool>(systemRate_); }
    std::uint32_t interfaceBitRate() const override;
    // SocketCAN: whether the interface itself was set listen-only.
    QString listenOnlyNote() const override;

    // The device while the channel is initialised (tests wait for it to connect).
    QCanBusDevice* device() const { return device_.get(); }

private:
    struct DeleteLater {
        void operator()(QObject* o) const { o->deleteLater(); }
    };

    void onStateChanged(QCanBusDevice::CanBusDeviceState state);
    void onError(QCanBusDevice::CanBusError error);
    void report(const QString& state);
    void dropDevice();

    // Frames written while the device is still connecting (virtualcan connects
    // through a local socket); sent once it is connected.
    static constexpr qsizetype kMaxPending = 64;

    QString plugin_;
    QString interface_;
    DeviceFactory factory_;
    RateReader systemRate_;
    tervix::Clock& clock_;
    DeviceTimeMap times_;
    std::unique_ptr<QCanBusDevice, DeleteLater> device_;
    QList<QCanBusFrame> pending_;
    QString rateText_;
    int readErrors_ = 0;
    bool lost_ = false;
};

// The bit rate of a SocketCAN interface as the kernel has it (netlink), 0
// when it cannot be read (no such interface, not a CAN interface, not Linux).
std::uint32_t SocketCanBitRate(const QString& interfaceName);
// Whether a SocketCAN interface is in listen-only mode (`ip link set IF type
// can listen-only on`); nothing when it cannot be read or is no CAN interface.
std::optional<bool> SocketCanListenOnly(const QString& interfaceName);
