#include "MyComm.h"

#include "bit_rates.h"

TComm::TComm(TUSB2CAN& usb, ComPortMap ports, QObject* parent)
    : QObject(parent), usb_(&usb), ports_(std::move(ports)), serial_(usb.Clock()),
      timer_(std::make_unique<PollTimer>())
{
    timer_->setHandler([this] {
        Adapter* adapter = InUse();
        if (!adapter)
            return;
        if (adapter->IsLost())
            TryReopen();
        adapter->PollInto(ring_);
    });
    connect(timer_.get(), &PollTimer::tickFinished, this, [this] {
        if (delivered_ == 0)
            return;
        delivered_ = 0;
        emit pollFinished();
    });
    ring_.SetHandler([this](int slot) {
        ++delivered_;
        // Counted and recorded before the handler sees it; adapter text is no
        // frame.
        const tervix::ReceiveSlot& s = ring_.Slot(slot);
        if (s.isFrame) {
            stats_.Add(s.frame, s.transmitted, s.at);
            if (recorder_)
                s.transmitted ? recorder_->Sent(s.frame, s.at) : recorder_->Received(s.frame, s.at);
        }
        if (frameHandler_)
            frameHandler_(this, slot);
    });
    for (Adapter* adapter : {static_cast<Adapter*>(&usb), static_cast<Adapter*>(&serial_)}) {
        adapter->SetOnStateChanged([this, adapter] {
            if (adapter == InUse())
                UpdateInfo();
        });
        adapter->SetOnLost([this, adapter](const QString& why) { OnLost(adapter, why); });
    }
    const auto kbit = [](std::uint32_t bps) { return QStringLiteral("%1 kbit/s").arg(bps / 1000.0); };
    connect(&usb, &TUSB2CAN::searchStarted, this,
            [this] { emit connectionEvent(QStringLiteral("Device search started")); });
    connect(&usb, &TUSB2CAN::searchRateTried, this, [this, kbit](std::uint32_t bps) {
        emit connectionEvent(QStringLiteral("Device search: trying %1").arg(kbit(bps)));
    });
    connect(&usb, &TUSB2CAN::searchFound, this, [this, kbit](int node, std::uint32_t bps) {
        emit connectionEvent(QStringLiteral("Device search: node %1 found at %2").arg(node).arg(kbit(bps)));
    });
    connect(&usb, &TUSB2CAN::searchCancelled, this, [this, kbit](std::uint32_t bps) {
        emit connectionEvent(QStringLiteral("Device search cancelled; back to %1").arg(kbit(bps)));
    });
}

tervix::TimePoint TComm::Now() const
{
    // The USB channel's clock is the transport's too.
    return usb_ ? usb_->Clock().Now() : tervix::DefaultClock().Now();
}

std::uint32_t TComm::BitsPerSecond() const
{
    return comNumber_ == 0 && usb_ ? usb_->BitsPerSecond() : 0;
}

void TComm::SetListenOnly(bool on)
{
    listenOnly_ = on;
    OpenToListen();
}

void TComm::OpenToListen()
{
    if (!listenOnly_ || comNumber_ != 0 || !usb_)
        return;
    if (const tervix::Status opened = usb_->OpenToListen(); !opened)
        emit connectionEvent(QStringLiteral("USB not opened: %1").arg(QString::fromStdString(opened.error())));
    UpdateInfo();
}

QString TComm::ListenOnlyNote() const
{
    if (comNumber_ == 0 && usb_)
        return usb_->Driver().listenOnlyNote();
    return QStringLiteral("the serial adapter still acknowledges frames");
}

std::optional<std::uint64_t> TComm::ErrorFrames() const
{
    if (comNumber_ == 0 && usb_)
        return usb_->ErrorFrames();
    return std::nullopt;
}

TComm::~TComm()
{
    timer_->stop();
    timer_.reset();
    // The USB channel outlives us.
    if (usb_) {
        usb_->SetOnStateChanged({});
        usb_->SetOnLost({});
    }
    serial_.SetOnStateChanged({});
    serial_.SetOnLost({});
    serial_.close();
}

Adapter* TComm::InUse()
{
    if (comNumber_ != 0)
        return &serial_;
    return usb_.data();
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
    serial_.ResetFraming();

    speedBox_ = &speed;
    speed.clear();
    speed.setOnUserChange([this] {
        SpeedChange();
        return tervix::Status();
    });
    FillSpeedBox();

    portBox_ = &port;
    port.clear();
    port.setOnUserChange([this] { return PortChange(); });
    port.addItem(QStringLiteral("USB"), 0);
    for (int n = ComPortMap::kFirstPort; n <= ComPortMap::kLastPort; ++n) {
        const QString path = ports_.path(n);
        if (path.isEmpty())
            continue;
        switch (serial_.tryOpen(path)) {
        case SerialLink::OpenResult::Opened: serial_.close(); [[fallthrough]];
        case SerialLink::OpenResult::AlreadyOpen:
        // Listed, so that picking it says what is wrong.
        case SerialLink::OpenResult::NoPermission:
            port.addItem(QStringLiteral("COM%1").arg(n), n);
            port.setItemToolTip(port.count() - 1, path);
            break;
        case SerialLink::OpenResult::BadId:
        case SerialLink::OpenResult::Failed: break;
        }
    }
    comNumber_ = 0;
    port.setCurrentIndex(0);
    timer_->start();
    UpdateInfo();
}

void TComm::SpeedChange()
{
    Adapter* adapter = InUse();
    if (!speedBox_ || !adapter || !adapter->ChoosesBitRate())
        return;
    const std::uint32_t code = tervix::BitRateCodeOfIndex(speedBox_->currentIndex());
    adapter->SetBitRateCode(code);
    emit connectionEvent(QStringLiteral("%1 bit rate set to %2 kbit/s")
                             .arg(PortName())
                             .arg(tervix::BitsPerSecondOfCode(code) / 1000.0));
}

tervix::Status TComm::PortChange()
{
    if (!portBox_ || !speedBox_)
        return {};
    timer_->stop();
    EndLoss();
    if (comNumber_ != 0 && serial_.isOpen())
        emit connectionEvent(QStringLiteral("%1 closed").arg(PortName()));
    if (Adapter* adapter = InUse())
        adapter->Close();

    const int n = portBox_->currentData();
    comNumber_ = n >= ComPortMap::kFirstPort && n <= ComPortMap::kLastPort ? n : 0;
    if (comNumber_ != 0)
        serial_.SelectPort(comNumber_, ports_.path(comNumber_));
    Adapter* adapter = InUse();

    speedBox_->clear();
    if (adapter && adapter->ChoosesBitRate()) {
        speedBox_->setEnabled(true);
        // From code: the channel keeps the rate it had.
        FillSpeedBox();
    } else {
        // The serial adapter's bus rate is not chosen from here.
        speedBox_->setEnabled(false);
        speedBox_->setCurrentText(QStringLiteral("500Kbit"));
    }
    portBox_->setCurrentText(comNumber_ != 0 ? QStringLiteral("COM%1").arg(comNumber_)
                                             : QStringLiteral("USB"));
    timerSendFailures_ = 0;
    UpdateInfo();
    if (!adapter)
        return {};
    tervix::Status opened = adapter->Open();
    if (!opened.ok()) {
        // The timer stays stopped.
        emit connectionEvent(
            QStringLiteral("%1 not opened: %2")
                .arg(PortName(), QString::fromStdString(opened.error()).replace(u'\n', u' ')));
        return opened;
    }
    if (comNumber_ != 0)
        emit connectionEvent(QStringLiteral("%1 opened").arg(PortName()));
    timer_->start();
    OpenToListen();
    return {};
}

QString TComm::PortName() const
{
    if (comNumber_ == 0)
        return QStringLiteral("USB");
    return QStringLiteral("COM%1 (%2)").arg(comNumber_).arg(ports_.path(comNumber_));
}

void TComm::OnLost(Adapter* adapter, const QString& why)
{
    if (adapter != InUse())
        return;
    if (usb_)
        nextReopenTry_ = usb_->Clock().Now() + std::chrono::milliseconds(kReopenIntervalMs);
    const QString line = QStringLiteral("%1 lost: %2; it reopens when the device is back").arg(PortName(), why);
    lossReported_ = true;
    emit connectionEvent(line);
    emit adapterLost(line);
}

void TComm::EndLoss()
{
    if (!lossReported_)
        return;
    lossReported_ = false;
    emit lossOver();
}

void TComm::TryReopen()
{
    // The USB channel's clock is the transport's too.
    if (!usb_)
        return;
    const tervix::TimePoint now = usb_->Clock().Now();
    if (nextReopenTry_ && now < *nextReopenTry_)
        return;
    nextReopenTry_ = now + std::chrono::milliseconds(kReopenIntervalMs);
    Adapter* adapter = InUse();
    if (adapter && adapter->TryReopen()) {
        timerSendFailures_ = 0;
        UpdateInfo();
        emit connectionEvent(QStringLiteral("%1 back, reopened").arg(PortName()));
        EndLoss();
    }
}

void TComm::CountTimerSendFailure()
{
    ++timerSendFailures_;
    UpdateInfo();
}

tervix::Status TComm::SendFrame(const tervix::BusFrame& frame)
{
    Adapter* adapter = InUse();
    if (!adapter)
        return {}; // the USB channel is gone with the application
    if (tervix::Status sent = adapter->Send(frame); !sent.ok())
        return sent;
    const tervix::TimePoint at = Now();
    stats_.Add(frame, true, at);
    if (recorder_)
        recorder_->Sent(frame, at);
    if (timerSendFailures_ != 0) {
        timerSendFailures_ = 0;
        UpdateInfo();
    }
    return {};
}

void TComm::UpdateInfo()
{
    const Adapter* adapter = InUse();
    QString text = adapter ? adapter->StateText() : QStringLiteral("USB adapter");
    if (timerSendFailures_ != 0)
        text += QStringLiteral("; %1 timer sends failed").arg(timerSendFailures_);
    if (text == info_)
        return;
    info_ = text;
    emit infoChanged(info_);
}
