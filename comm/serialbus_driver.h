// A CAN driver over any Qt SerialBus plugin and interface (peakcan:usb0,
// socketcan:can0, virtualcan:can0, ...). BTR0/BTR1 codes become bit rates;
// an error frame or a lost connection is reported as a failed read with a
// length byte above 8, so the device search steps on.
#pragma once

#include "pcan_usb.h"

#include <QCanBusDevice>
#include <QCanBusFrame>
#include <QList>

#include <functional>
#include <memory>

class SerialBusDriver final : public CanBackend {
    Q_OBJECT
public:
    // Makes the device for each init; null with *error set when it cannot.
    using DeviceFactory = std::function<QCanBusDevice*(QString* error)>;

    SerialBusDriver(const QString& plugin, const QString& interfaceName, QObject* parent = nullptr);
    // With devices from elsewhere (tests use a device that fails on purpose).
    SerialBusDriver(const QString& plugin, const QString& interfaceName, DeviceFactory factory,
                    QObject* parent = nullptr);
    ~SerialBusDriver() override;

    uint32_t init(uint16_t btr0btr1, int msgType) override;
    uint32_t close() override;
    uint32_t read(CanFrame& frame) override;
    uint32_t write(const CanFrame& frame) override;

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
    std::unique_ptr<QCanBusDevice, DeleteLater> device_;
    QList<QCanBusFrame> pending_;
    QString rateText_;
    bool errorPending_ = false;
};
