#include "serial_link.h"

#include "comm_log.h"

#ifndef Q_OS_WIN
#include <cerrno>
#include <fcntl.h>
#include <unistd.h>
#endif

QString serial_texts::NoPermission(const QString& path)
{
#ifdef Q_OS_WIN
    return QStringLiteral("Access denied to %1").arg(path);
#else
    return QStringLiteral("Permission denied for %1: the user needs to be in the dialout group "
                          "(log in again after adding it)")
        .arg(path);
#endif
}

QString serial_texts::ForPort(const QString& text, int number, const QString& path)
{
    QString cause;
    if (text == kAlreadyOpen)
        cause = QStringLiteral("held by another program");
    else if (text == kBadId)
        cause = QStringLiteral("no such device");
    if (cause.isEmpty())
        return QStringLiteral("%1\nCOM%2 (%3)").arg(text).arg(number).arg(path);
    return QStringLiteral("%1\nCOM%2 (%3): %4").arg(text).arg(number).arg(path, cause);
}

namespace {

// The serial port reports "may not open" and "held by another program" both
// as a permission error; only the system's answer to an open tells them apart.
bool PermissionDenied(const QString& path)
{
#ifdef Q_OS_WIN
    Q_UNUSED(path);
    return false; // access denied there means the port is in use
#else
    const int fd = ::open(path.toLocal8Bit().constData(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd >= 0) {
        ::close(fd);
        return false;
    }
    return errno == EACCES || errno == EPERM;
#endif
}

} // namespace

SerialLink::SerialLink(tervix::Clock& clock) : clock_(clock)
{
    packet_.reserve(tervix::kMaxPacketSize);
    port_.setBaudRate(kBaudRate);
    port_.setDataBits(QSerialPort::Data8);
    port_.setParity(QSerialPort::NoParity);
    port_.setStopBits(QSerialPort::OneStop);
    port_.setFlowControl(QSerialPort::NoFlowControl);
    // The input buffer is bounded; what does not fit waits in the system's
    // buffer until the next poll has taken bytes out.
    port_.setReadBufferSize(kBufferSize);
    QObject::connect(&port_, &QSerialPort::errorOccurred, &port_,
                     [this](QSerialPort::SerialPortError e) { OnError(e); });
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
    case QSerialPort::PermissionError: // no permission, locked, busy or held exclusively
        if (PermissionDenied(path)) {
            result = OpenResult::NoPermission;
            text = serial_texts::NoPermission(path);
            break;
        }
        [[fallthrough]];
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

tervix::Status SerialLink::open(const QString& path)
{
    QString message;
    if (tryOpen(path, &message) != OpenResult::Opened)
        return tervix::Status::Failed(message.toStdString());
    return {};
}

void SerialLink::close()
{
    rxPos_ = rxLen_ = 0;
    if (port_.isOpen())
        port_.close();
}

tervix::Status SerialLink::write(tervix::ByteView bytes)
{
    if (!port_.isOpen())
        return tervix::Status::Failed(serial_texts::kNotOpen.toStdString());
    if (static_cast<qint64>(bytes.size()) > kBufferSize - port_.bytesToWrite())
        return tervix::Status::Failed(serial_texts::kOutputTooSmall.toStdString());
    const qint64 written =
        port_.write(reinterpret_cast<const char*>(bytes.data()), static_cast<qint64>(bytes.size()));
    if (written != static_cast<qint64>(bytes.size()))
        return tervix::Status::Failed(port_.errorString().toStdString());
    return {};
}

tervix::Status SerialLink::Send(const tervix::BusFrame& frame)
{
    tervix::EncodePacket(frame, packet_);
    return write(packet_);
}

qint64 SerialLink::read(std::uint8_t* into, qint64 max)
{
    if (!port_.isOpen())
        return 0;
    const qint64 n = port_.read(reinterpret_cast<char*>(into), max);
    return n < 0 ? 0 : n;
}

void SerialLink::SelectPort(int number, const QString& path)
{
    number_ = number;
    selectedPath_ = path;
}

tervix::Status SerialLink::Open()
{
    Back();
    tervix::Status result;
    QString message;
    if (selectedPath_.isEmpty())
        result = tervix::Status::Failed(serial_texts::kBadId.toStdString());
    else if (tryOpen(selectedPath_, &message) != OpenResult::Opened)
        result = tervix::Status::Failed(serial_texts::ForPort(message, number_, selectedPath_).toStdString());
    StateChanged();
    return result;
}

bool SerialLink::TryReopen()
{
    if (!IsLost() || isOpen() || selectedPath_.isEmpty())
        return false;
    if (tryOpen(selectedPath_) != OpenResult::Opened)
        return false;
    rxPos_ = rxLen_ = 0;
    framing_.ResetExpected();
    Back();
    StateChanged();
    return true;
}

void SerialLink::Close()
{
    const bool wasOpen = isOpen();
    close();
    if (wasOpen)
        StateChanged();
}

void SerialLink::PollInto(tervix::ReceiveRing& ring)
{
    if (!isOpen())
        return;
    for (;;) {
        if (rxPos_ == rxLen_) {
            rxPos_ = 0;
            rxLen_ = read(rx_.data(), static_cast<qint64>(rx_.size()));
            if (rxLen_ == 0)
                return;
            rxAt_ = clock_.Now();
        }
        while (rxPos_ < rxLen_)
            framing_.Feed(rx_[static_cast<std::size_t>(rxPos_++)], ring, rxAt_);
    }
}

QString SerialLink::StateText() const
{
    return QStringLiteral("COM%1 (%2): %3")
        .arg(number_)
        .arg(selectedPath_.isEmpty() ? QStringLiteral("no device") : selectedPath_,
             isOpen() ? QStringLiteral("open, 57600 8N1")
                 : IsLost() ? QStringLiteral("lost, waiting for it to come back") : QStringLiteral("not open"));
}

void SerialLink::OnError(QSerialPort::SerialPortError error)
{
    // An unplugged converter (or a pseudo-terminal whose peer went away)
    // reports a read or resource error on every attempt from then on; left
    // open, the port would spin. Closed, a send says "not open" and the user
    // picks the port again.
    if ((error != QSerialPort::ResourceError && error != QSerialPort::ReadError) || !isOpen())
        return;
    const QString why = port_.errorString();
    qCWarning(lcComm) << "serial port" << path() << "lost:" << why;
    close();
    StateChanged();
    Lost(why);
}
