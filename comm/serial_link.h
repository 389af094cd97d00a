// The serial CAN adapter on COMn: fixed port settings (57600 8N1, no flow
// control, DTR and RTS off, 4096-byte buffers), exclusive access, the
// adapter's error texts, and the receive loop that cuts the byte stream into
// packets and text lines, timed by the read that brought their last byte.
// The packet layout carries 11 identifier bits, and so does every frame here.
#pragma once

#include "adapter.h"
#include "clock.h"
#include "frame_packet.h"
#include "serial_framing.h"
#include "status.h"

#include <QSerialPort>
#include <QString>

#include <array>

namespace serial_texts {
inline const QString kBadId = QStringLiteral("ie_BadId - Specified comport doesn't exist");
inline const QString kAlreadyOpen = QStringLiteral("ie_Open - device already open");
inline const QString kNotOpen = QStringLiteral("ie_NOpen - device not open");
inline const QString kOutputTooSmall = QStringLiteral("Output buffer too small for block");
// The port exists but this user may not open it.
QString NoPermission(const QString& path);
// The first line is the adapter's own text; the second names the port.
QString ForPort(const QString& text, int number, const QString& path);
} // namespace serial_texts

class SerialLink final : public Adapter {
public:
    static constexpr qint32 kBaudRate = 57600;
    static constexpr qint64 kBufferSize = 4096;

    enum class OpenResult {
        Opened,
        AlreadyOpen,  // the port exists but someone else holds it
        NoPermission, // the port exists but this user may not open it
        BadId,        // no such port
        Failed,       // anything else
    };

    // `clock` times what is read.
    explicit SerialLink(tervix::Clock& clock = tervix::DefaultClock());

    // *message gets the adapter's text for a failure.
    OpenResult tryOpen(const QString& path, QString* message = nullptr);
    // Fails with the adapter's text.
    tervix::Status open(const QString& path);
    void close();
    bool isOpen() const { return port_.isOpen(); }
    QString path() const { return port_.portName(); }

    // Writes all bytes in one go, or fails (port not open, or more bytes
    // than the output buffer has room for).
    tervix::Status write(tervix::ByteView bytes);

    // Takes up to `max` bytes of what has arrived; never blocks.
    qint64 read(std::uint8_t* into, qint64 max);

    QSerialPort& port() { return port_; }

    // The adapter on COM `number`; an empty path means the number has no
    // device.
    void SelectPort(int number, const QString& path);
    int Number() const { return number_; }
    void ResetFraming() { framing_.ResetExpected(); }

    // Fails with the adapter's text and, below it, the port.
    tervix::Status Open() override;
    void Close() override;
    // The frame's packet (standard identifier bits only).
    tervix::Status Send(const tervix::BusFrame& frame) override;
    void PollInto(tervix::ReceiveRing& ring) override;
    QString StateText() const override;
    bool TryReopen() override;

private:
    void OnError(QSerialPort::SerialPortError error);

    tervix::Clock& clock_;
    QSerialPort port_;
    int number_ = 0;
    QString selectedPath_;
    tervix::SerialFraming framing_;
    tervix::FramePacket packet_; // reused for every send
    // Bytes taken from the port but not yet framed, and when they were read.
    // Kept here, not on the stack: however a tick ends, the rest is framed by
    // the next one and no byte is lost.
    std::array<std::uint8_t, kBufferSize> rx_{};
    qint64 rxPos_ = 0;
    qint64 rxLen_ = 0;
    tervix::TimePoint rxAt_{};
};
