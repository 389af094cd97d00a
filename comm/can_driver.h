// The four calls the USB channel makes to a CAN driver (`init`, `close`,
// `read`, `write`, as the vendor library has them), with typed results and a
// status text for the "Comm Info" label. Back-ends: the PCAN-USB vendor
// library (pcan_usb), any Qt SerialBus plugin (serialbus_driver), the
// simulated node (sim_driver), a replayed log (replay_driver), fakes.
#pragma once

#include "clock.h"
#include "frame_packet.h"

#include <QObject>
#include <QString>

#include <chrono>
#include <cstdint>
#include <optional>

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

// A frame taken from the driver's receive queue, and when it was received on
// the program's clock. Empty where the back-end keeps no receive time (the
// vendor library's record has none): the channel takes the time of the read.
struct ReceivedFrame {
    tervix::BusFrame frame;
    std::optional<tervix::TimePoint> at;
    // A replayed frame the recording marks as sent by the tool that recorded
    // it: shown as a Tx line, never answered.
    bool transmitted = false;
};

// Puts a device's receive stamps (microseconds on its own clock, often the
// wall clock) onto the program's steady clock. The offset between the two is
// taken at the first frame and taken again when a stamp would lie in the
// future (so the offset follows the quickest read seen) or more than a second
// in the past (the device's clock was set back, or has drifted).
class DeviceTimeMap {
public:
    static constexpr std::chrono::seconds kMaxLag{1};

    tervix::TimePoint Map(std::chrono::microseconds stamp, tervix::TimePoint now);
    // Forgets the offset (a new device).
    void Reset() { offset_.reset(); }

private:
    std::optional<tervix::TimePoint::duration> offset_;
};

class CanDriver : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;

    virtual DriverResult init(std::uint16_t btr0btr1) = 0;
    virtual DriverResult close() = 0;
    // Ok: `received` holds a frame taken from the receive queue, with its
    // receive time where the back-end has one (`at` is empty otherwise).
    virtual DriverResult read(ReceivedFrame& received) = 0;
    virtual DriverResult write(const tervix::BusFrame& frame) = 0;

    // True where the system, not the program, sets the bus rate (SocketCAN):
    // init's code is then only what the user asked for.
    virtual bool systemSetsBitRate() const { return false; }
    // The rate the interface runs at, in bit/s; 0 when it cannot be read.
    virtual std::uint32_t interfaceBitRate() const { return 0; }
    // Listening only, the program sends nothing on any back-end; this says
    // what the adapter itself does with the frames of others.
    virtual QString listenOnlyNote() const { return QStringLiteral("the adapter still acknowledges frames"); }

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
