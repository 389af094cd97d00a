#include "status_bar.h"

#include <QLabel>

namespace {

QLabel* AddField(QStatusBar* bar, const char* name, int stretch)
{
    auto* label = new QLabel(bar);
    label->setObjectName(QString::fromLatin1(name));
    label->setContentsMargins(6, 0, 6, 0);
    bar->addPermanentWidget(label, stretch);
    return label;
}

void SetText(QLabel* label, const QString& text)
{
    if (label->text() != text)
        label->setText(text);
}

} // namespace

TStatusBar::TStatusBar(QWidget* parent) : QStatusBar(parent)
{
    setObjectName(QStringLiteral("StatusBar"));
    setSizeGripEnabled(false);
    adapter_ = AddField(this, "lbStatusAdapter", 1);
    rates_ = AddField(this, "lbStatusRates", 0);
    load_ = AddField(this, "lbStatusLoad", 0);
    errors_ = AddField(this, "lbStatusErrors", 0);
    recording_ = AddField(this, "lbStatusRecording", 0);
    listenOnly_ = AddField(this, "lbStatusListenOnly", 0);
    listenOnly_->setText(QStringLiteral("Listen only"));
    listenOnly_->setToolTip(QStringLiteral("Nothing is sent on the bus"));
    listenOnly_->hide();
    notice_ = AddField(this, "lbStatusNotice", 0);
    notice_->setStyleSheet(QStringLiteral("color: #b00000; font-weight: bold"));
    notice_->hide();
    load_->setToolTip(QStringLiteral("Bits of the frames received and sent in the last second, worst-case "
                                     "bit stuffing, as a share of the bit rate"));
}

void TStatusBar::Show(const StatusFigures& f)
{
    if (f.adapter.isEmpty())
        SetText(adapter_, QStringLiteral("No CAN adapter"));
    else if (f.bitsPerSecond == 0)
        SetText(adapter_, f.adapter);
    else
        SetText(adapter_, QStringLiteral("%1 at %2 kbit/s").arg(f.adapter).arg(f.bitsPerSecond / 1000.0));
    SetText(rates_, QStringLiteral("Rx %1/s  Tx %2/s").arg(f.receivedPerSecond).arg(f.sentPerSecond));
    load_->setVisible(f.bitsPerSecond != 0);
    SetText(load_, QStringLiteral("Load %1 %").arg(f.loadPercent, 0, 'f', 1));
    errors_->setVisible(f.errorFrames.has_value());
    SetText(errors_, QStringLiteral("Error frames %1").arg(f.errorFrames.value_or(0)));
    SetText(recording_, f.recording ? QStringLiteral("Recording, %1 frames").arg(f.recordedFrames)
                                    : QStringLiteral("Not recording"));
    listenOnly_->setVisible(f.listenOnly);
    notice_->setVisible(!f.notice.isEmpty());
    SetText(notice_, f.notice);
}
