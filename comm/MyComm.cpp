#include "MyComm.h"

#include "bit_rates.h"

TComm::TComm(TUSB2CAN& usb, ComPortMap ports, QObject* parent)
    : QObject(parent), usb_(&usb), ports_(std::move(ports)), timer_(std::make_unique<PollTimer>())
{
    timer_->setHandler([this] {
        if (Adapter* adapter = InUse())
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
        if (frameHandler_)
            frameHandler_(this, slot);
    });
    for (Adapter* adapter : {static_cast<Adapter*>(&usb), static_cast<Adapter*>(&serial_)}) {
        adapter->SetOnStateChanged([this, adapter] {
            if (adapter == InUse())
                UpdateInfo();
        });
    }
}

TComm::~TComm()
{
    timer_->stop();
    timer_.reset();
    // The USB channel outlives us.
    if (usb_)
        usb_->SetOnStateChanged({});
    serial_.SetOnStateChanged({});
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
    speed.setOnUserChange([this] { SpeedChange(); });
    FillSpeedBox();

    portBox_ = &port;
    port.clear();
    port.setOnUserChange([this] { PortChange(); });
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
    adapter->SetBitRateCode(tervix::BitRateCodeOfIndex(speedBox_->currentIndex()));
}

void TComm::PortChange()
{
    if (!portBox_ || !speedBox_)
        return;
    timer_->stop();
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
    UpdateInfo();
    if (!adapter)
        return;
    adapter->Open(); // on failure the timer stays stopped
    timer_->start();
}

void TComm::SendFrame(tervix::ByteView packet)
{
    if (Adapter* adapter = InUse())
        adapter->Send(packet);
}

void TComm::UpdateInfo()
{
    const Adapter* adapter = InUse();
    QString text = adapter ? adapter->StateText() : QStringLiteral("USB adapter");
    if (text == info_)
        return;
    info_ = text;
    emit infoChanged(info_);
}
