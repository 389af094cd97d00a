// The serial port of the serial CAN adapter: fixed settings (57600 8N1, no
// flow control, DTR and RTS off, 4096-byte buffers), exclusive access, and
// the adapter's error texts.
#pragma once

#include "frame_packet.h"

#include <QSerialPort>
#include <QString>

namespace serial_texts {
inline const QString kBadId = QStringLiteral("ie_BadId - Specified comport doesn't exist");
inline const QString kAlreadyOpen = QStringLiteral("ie_Open - device already open");
inline const QString kNotOpen = QStringLiteral("ie_NOpen - device not open");
inline const QString kOutputTooSmall = QStringLiteral("Output buffer too small for block");
} // namespace serial_texts

class SerialLink {
public:
    static constexpr qint32 kBaudRate = 57600;
    static constexpr qint64 kBufferSize = 4096;

    enum class OpenResult {
        Opened,
        AlreadyOpen, // the port exists but someone else holds it
        BadId,       // no such port
        Failed,      // anything else
    };

    SerialLink();

    // Opens without raising; *message gets the text the failure would raise.
    OpenResult tryOpen(const QString& path, QString* message = nullptr);
    // Opens or throws CommError.
    void open(const QString& path);
    void close();
    bool isOpen() const { return port_.isOpen(); }
    QString path() const { return port_.portName(); }

    // Writes all bytes in one go or throws CommError (port not open, or more
    // bytes than the output buffer has room for).
    void write(tervix::ByteView bytes);

    // Takes up to `max` bytes of what has arrived; never blocks.
    qint64 read(std::uint8_t* into, qint64 max);

    QSerialPort& port() { return port_; }

private:
    QSerialPort port_;
};
