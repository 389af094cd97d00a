#include "MyComm.h"

#include "bit_rates.h"
#include "comm_error.h"
#include "comm_log.h"

TComm::TComm(TUSB2CAN& usb, ComPortMap ports, QObject* parent)
    : QObject(parent), usb_(&usb), ports_(std::move(ports)), timer_(std::make_unique<PollTimer>())
{
    timer_->setHandler([this] { SerialPoll(); });
    connect(timer_.get(), &PollTimer::tickFinished, this, [this] {
        if (delivered_ == 0)
            return;
        delivered_ = 0;
        emit pollFinished();
    });
    ring_.SetHandler([this](int slot) {
        ++delivered_;
        if (frameHandler_)
            frameHandler_(this, slot);
    });
    usb.SetOnReceive([this](TUSB2CAN* sender, CanFrame& frame) { UsbReceive(sender, frame); });
    connect(&usb, &TUSB2CAN::driverStatusChanged, this, [this] {
        if (comNumber_ == 0)
            UpdateInfo();
    });
    connect(&serial_.port(), &QSerialPort::errorOccurred, this, &TComm::OnSerialError);
}

TComm::~TComm()
{
    // The USB channel outlives us and keeps a guarded pointer to the timer.
    timer_->stop();
    timer_.reset();
    if (usb_)
        usb_->SetOnReceive({});
    serial_.close();
}

void TComm::FillSpeedBox()
{
    for (const tervix::BitRateEntry& e : tervix::kBitRates)
        speedBox_->addItem(QString::fromLatin1(e.text.data(), static_cast<qsizetype>(e.text.size())));
    speedBox_->setCurrentIndex(tervix::kDefaultBitRateIndex);
}

void TComm::InitLists(ChoiceBox& port, ChoiceBox& speed)
{
    ring_.Reset();
    framing_.ResetExpected();

    speedBox_ = &speed;
    speed.clear();
    speed.setOnUserChange([this] { SpeedChange(); });
    FillSpeedBox();

    portBox_ = &port;
    port.clear();
    port.setOnUserChange([this] { PortChange(); });
    port.addItem(QStringLiteral("USB"));
    for (int n = ComPortMap::kFirstPort; n <= ComPortMap::kLastPort; ++n) {
        const QString path = ports_.path(n);
        if (path.isEmpty())
            continue;
        switch (serial_.tryOpen(path)) {
        case SerialLink::OpenResult::Opened: serial_.close(); [[fallthrough]];
        case SerialLink::OpenResult::AlreadyOpen:
            port.addItem(QStringLiteral("COM%1").arg(n));
            port.setItemToolTip(port.count() - 1, path);
            break;
        case SerialLink::OpenResult::BadId:
        case SerialLink::OpenResult::Failed: break;
        }
    }
    comNumber_ = 0;
    port.setCurrentIndex(0);
    if (usb_)
        usb_->AttachTimer(timer_.get());
    UpdateInfo();
}

void TComm::SpeedChange()
{
    if (comNumber_ != 0 || !speedBox_ || !usb_)
        return;
    usb_->SetBitrate(tervix::BitRateCodeOfIndex(speedBox_->currentIndex()));
}

void TComm::PortChange()
{
    if (!portBox_ || !speedBox_)
        return;
    timer_->stop();
    serial_.close();
    rxPos_ = rxLen_ = 0;

    bool ok = false;
    int n = portBox_->currentText().mid(3, 2).toInt(&ok);
    if (!ok || n < 0)
        n = 0;
    comNumber_ = n;

    if (n != 0) {
        // The serial adapter's bus rate is not chosen from here.
        speedBox_->setEnabled(false);
        speedBox_->clear();
        speedBox_->setCurrentText(QStringLiteral("500Kbit"));
        portBox_->setCurrentText(QStringLiteral("COM%1").arg(n));
        timer_->setHandler([this] { SerialPoll(); });
        const QString path = ports_.path(n);
        struct Inform {
            TComm* comm;
            ~Inform() { comm->UpdateInfo(); }
        } inform{this};
        if (path.isEmpty())
            throw CommError(serial_texts::kBadId);
        serial_.open(path); // on failure the timer stays stopped
        timer_->start();
        return;
    }
    speedBox_->setEnabled(true);
    speedBox_->clear();
    // From code: the channel keeps the rate it had.
    FillSpeedBox();
    portBox_->setCurrentText(QStringLiteral("USB"));
    if (usb_)
        usb_->AttachTimer(timer_.get());
    UpdateInfo();
}

void TComm::SendFrame(tervix::ByteView packet)
{
    if (comNumber_ != 0) {
        serial_.write(packet);
        return;
    }
    if (usb_)
        usb_->WriteFrame(packet);
}

void TComm::UsbReceive(TUSB2CAN*, CanFrame& frame)
{
    const CanFrame f = frame;
    tervix::ReceiveSlot& slot = ring_.Current();
    const uint32_t v = f.id << 5;
    slot.bytes[0] = tervix::kPacketMarker;
    slot.bytes[1] = f.len;
    slot.bytes[2] = static_cast<uint8_t>(v >> 8);
    slot.bytes[3] = static_cast<uint8_t>(v);
    // All eight, whatever the length says.
    std::copy(f.data.begin(), f.data.end(), slot.bytes.begin() + 4);
    slot.count = uint32_t(f.len) + 4;
    ring_.Deliver();
}

void TComm::SerialPoll()
{
    if (!serial_.isOpen())
        return;
    for (;;) {
        if (rxPos_ == rxLen_) {
            rxPos_ = 0;
            rxLen_ = serial_.read(rx_.data(), static_cast<qint64>(rx_.size()));
            if (rxLen_ == 0)
                return;
        }
        while (rxPos_ < rxLen_)
            framing_.Feed(rx_[static_cast<std::size_t>(rxPos_++)], ring_);
    }
}

void TComm::OnSerialError(QSerialPort::SerialPortError error)
{
    // An unplugged converter (or a pseudo-terminal whose peer went away)
    // reports a read or resource error on every attempt from then on; left
    // open, the port would spin. Closed, a send says "not open" and the user
    // picks the port again.
    if ((error != QSerialPort::ResourceError && error != QSerialPort::ReadError) || !serial_.isOpen())
        return;
    qCWarning(lcComm) << "serial port" << serial_.path() << "lost:" << serial_.port().errorString();
    serial_.close();
    rxPos_ = rxLen_ = 0;
    UpdateInfo();
}

QString TComm::InfoText() const
{
    return info_;
}

void TComm::UpdateInfo()
{
    QString text;
    if (comNumber_ == 0) {
        text = usb_ ? usb_->DriverStatus() : QString();
        if (text.isEmpty())
            text = QStringLiteral("USB adapter");
    } else {
        text = QStringLiteral("COM%1 (%2): %3")
                   .arg(comNumber_)
                   .arg(ports_.path(comNumber_).isEmpty() ? QStringLiteral("no device")
                                                          : ports_.path(comNumber_),
                        serial_.isOpen() ? QStringLiteral("open, 57600 8N1") : QStringLiteral("not open"));
    }
    if (text == info_)
        return;
    info_ = text;
    emit infoChanged(info_);
}
