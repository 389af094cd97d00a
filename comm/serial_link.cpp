#include "serial_link.h"

#include "comm_error.h"
#include "comm_log.h"

SerialLink::SerialLink()
{
    port_.setBaudRate(kBaudRate);
    port_.setDataBits(QSerialPort::Data8);
    port_.setParity(QSerialPort::NoParity);
    port_.setStopBits(QSerialPort::OneStop);
    port_.setFlowControl(QSerialPort::NoFlowControl);
    // The input buffer is bounded; what does not fit waits in the system's
    // buffer until the next poll has taken bytes out.
    port_.setReadBufferSize(kBufferSize);
}

SerialLink::OpenResult SerialLink::tryOpen(const QString& path, QString* message)
{
    if (port_.isOpen()) {
        if (message)
            *message = serial_texts::kAlreadyOpen;
        return OpenResult::AlreadyOpen;
    }
    port_.setPortName(path);
    if (port_.open(QIODevice::ReadWrite)) {
        // Line states can only be set on an open port; pseudo-terminals do
        // not support them, which is harmless.
        port_.setDataTerminalReady(false);
        port_.setRequestToSend(false);
        port_.clearError();
        return OpenResult::Opened;
    }
    const QSerialPort::SerialPortError error = port_.error();
    const QString detail = port_.errorString();
    port_.clearError();
    qCDebug(lcComm) << "open" << path << "failed:" << error << detail;
    OpenResult result = OpenResult::Failed;
    QString text = detail;
    switch (error) {
    case QSerialPort::DeviceNotFoundError:
        result = OpenResult::BadId;
        text = serial_texts::kBadId;
        break;
    case QSerialPort::PermissionError: // locked, busy or held exclusively
    case QSerialPort::OpenError:
        result = OpenResult::AlreadyOpen;
        text = serial_texts::kAlreadyOpen;
        break;
    default: break;
    }
    if (message)
        *message = text;
    return result;
}

void SerialLink::open(const QString& path)
{
    QString message;
    if (tryOpen(path, &message) != OpenResult::Opened)
        throw CommError(message);
}

void SerialLink::close()
{
    if (port_.isOpen())
        port_.close();
}

void SerialLink::write(tervix::ByteView bytes)
{
    if (!port_.isOpen())
        throw CommError(serial_texts::kNotOpen);
    if (static_cast<qint64>(bytes.size()) > kBufferSize - port_.bytesToWrite())
        throw CommError(serial_texts::kOutputTooSmall);
    const qint64 written =
        port_.write(reinterpret_cast<const char*>(bytes.data()), static_cast<qint64>(bytes.size()));
    if (written != static_cast<qint64>(bytes.size()))
        throw CommError(port_.errorString());
}

qint64 SerialLink::read(std::uint8_t* into, qint64 max)
{
    if (!port_.isOpen())
        return 0;
    const qint64 n = port_.read(reinterpret_cast<char*>(into), max);
    return n < 0 ? 0 : n;
}
