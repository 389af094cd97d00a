// The four calls the USB channel makes to a CAN driver (`init`, `close`,
// `read`, `write`, as the vendor library has them), with typed results and a
// status text for the "Comm Info" label. Back-ends: the PCAN-USB vendor
// library (pcan_usb), any Qt SerialBus plugin (serialbus_driver), fakes.
#pragma once

#include "frame_packet.h"

#include <QObject>
#include <QString>

#include <cstdint>

enum class DriverResult {
    Ok,
    Empty,        // nothing queued
    WrongBitRate, // the adapter cannot receive at this rate: the channel closes
    ErrorFrame,   // an error frame or a read error: counted, reading goes on
    NotOpen,      // not initialised, or the connection was lost
    Missing,      // library, plugin or device not there
    WriteFailed,
    BadBitRate, // a code the back-end cannot map to a rate
    Failed,     // any other refusal; the status text says more
};

const char* DriverResultName(DriverResult result);

class CanDriver : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;

    virtual DriverResult init(std::uint16_t btr0btr1) = 0;
    virtual DriverResult close() = 0;
    // Ok: `frame` holds a frame taken from the receive queue.
    virtual DriverResult read(tervix::BusFrame& frame) = 0;
    virtual DriverResult write(const tervix::BusFrame& frame) = 0;

    // True where the system, not the program, sets the bus rate (SocketCAN):
    // init's code is then only what the user asked for.
    virtual bool systemSetsBitRate() const { return false; }
    // The rate the interface runs at, in bit/s; 0 when it cannot be read.
    virtual std::uint32_t interfaceBitRate() const { return 0; }

    // What the back-end is and how it is doing: "NAME: STATE".
    QString statusText() const { return status_; }
    // The back-end alone, without its state; empty when it has not said.
    QString name() const { return name_; }

signals:
    void statusChanged(const QString& text);

protected:
    void setStatusText(const QString& text);
    void setStatus(const QString& name, const QString& state);

private:
    QString name_;
    QString status_;
};
