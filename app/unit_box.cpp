#include "unit_box.h"

#include <QContextMenuEvent>
#include <QEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMouseEvent>

#include <memory>

#include <algorithm>

const QColor TUnitBox::kSelectedColour(128, 192, 240);

namespace {
constexpr int kEditHeight = 20;
}

TUnitBox::TUnitBox(int number, QWidget* parent) : QFrame(parent), number_(number)
{
    setObjectName(QStringLiteral("UnitBox%1").arg(number));
    setProperty("tag", number);
    setFrameShape(QFrame::Panel);
    setFrameShadow(QFrame::Raised);

    QFont small = font();
    small.setPointSizeF(small.pointSizeF() * 0.85);

    numberPanel_ = new QLabel(QString::number(number), this);
    numberPanel_->setObjectName(QStringLiteral("NumberPanel"));
    numberPanel_->setEnabled(false);
    numberPanel_->setAlignment(Qt::AlignRight | Qt::AlignBottom);
    numberPanel_->setAutoFillBackground(true);
    numberPanel_->setBackgroundRole(QPalette::Button);
    numberPanel_->setFont(small);
    numberPanel_->setAttribute(Qt::WA_TransparentForMouseEvents);

    titleLabel_ = new QLabel(QStringLiteral("KRV %1").arg(number), this);
    titleLabel_->setObjectName(QStringLiteral("TitleLabel"));
    titleLabel_->setFont(small);

    valueEdit_ = new QLineEdit(this);
    valueEdit_->setObjectName(QStringLiteral("ValueEdit"));
    statusEdit_ = new QLineEdit(this);
    statusEdit_->setObjectName(QStringLiteral("StatusEdit"));
    for (QLineEdit* e : {valueEdit_, statusEdit_}) {
        e->setReadOnly(true);
        e->setFont(small);
        e->setFixedHeight(kEditHeight);
        e->setAlignment(Qt::AlignRight);
        e->installEventFilter(this);
    }
    QPalette face = statusEdit_->palette();
    face.setColor(QPalette::Base, face.color(QPalette::Button));
    statusEdit_->setPalette(face);
    titleLabel_->setAttribute(Qt::WA_TransparentForMouseEvents);
    numberPanel_->lower();
}

QRect TUnitBox::GridRect(int n, QSize page)
{
    const int w = page.width();
    const int h = page.height();
    return QRect((n % 8) * (w - 12) / 8 + 8, (n / 8) * (h - 16) / 8 + 8, (w - 8) / 8 - 2, (h - 8) / 8 - 2);
}

void TUnitBox::SetMarked(bool marked)
{
    marked_ = marked;
    QPalette p = numberPanel_->palette();
    p.setColor(QPalette::Button, marked ? kSelectedColour : palette().color(QPalette::Button));
    numberPanel_->setPalette(p);
}

void TUnitBox::SetStale(bool stale, const QString& tooltip)
{
    if (toolTip() != tooltip)
        setToolTip(tooltip);
    if (stale == stale_)
        return;
    stale_ = stale;
    // Greyed, not disabled: a click must still select the unit.
    for (QWidget* w : {static_cast<QWidget*>(valueEdit_), static_cast<QWidget*>(statusEdit_),
                       static_cast<QWidget*>(titleLabel_)}) {
        QPalette p = w->palette();
        const QPalette::ColorGroup from = stale ? QPalette::Disabled : QPalette::Active;
        for (QPalette::ColorGroup group : {QPalette::Active, QPalette::Inactive})
            for (QPalette::ColorRole role : {QPalette::Text, QPalette::WindowText})
                p.setColor(group, role, palette().color(from, role));
        if (w == valueEdit_)
            for (QPalette::ColorGroup group : {QPalette::Active, QPalette::Inactive})
                p.setColor(group, QPalette::Base, palette().color(from, QPalette::Base));
        w->setPalette(p);
    }
}

void TUnitBox::resizeEvent(QResizeEvent* event)
{
    QFrame::resizeEvent(event);
    numberPanel_->setGeometry(rect());
    const int inner = std::max(0, width() - 8);
    titleLabel_->setGeometry(4, 3, inner, 13);
    valueEdit_->setGeometry(4, 16, inner, kEditHeight);
    statusEdit_->setGeometry(4, 37, inner, kEditHeight);
}

void TUnitBox::mousePressEvent(QMouseEvent* event)
{
    if (event->button() == Qt::LeftButton)
        emit clicked(this);
    QFrame::mousePressEvent(event);
}

void TUnitBox::contextMenuEvent(QContextMenuEvent* event)
{
    QMenu menu(this);
    ShowMenu(menu, event->globalPos());
}

void TUnitBox::ShowMenu(QMenu& menu, const QPoint& globalPos)
{
    if (!menu.isEmpty())
        menu.addSeparator();
    QAction* trend = menu.addAction(QStringLiteral("Trend of unit %1").arg(number_));
    trend->setObjectName(QStringLiteral("TrendAction"));
    if (menu.exec(globalPos) == trend)
        emit trendRequested(number_);
}

bool TUnitBox::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::ContextMenu && (watched == valueEdit_ || watched == statusEdit_)) {
        const std::unique_ptr<QMenu> menu(static_cast<QLineEdit*>(watched)->createStandardContextMenu());
        ShowMenu(*menu, static_cast<QContextMenuEvent*>(event)->globalPos());
        return true;
    }
    // A click anywhere on the box selects its unit, the edits included.
    if (event->type() == QEvent::MouseButtonPress &&
        static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton)
        emit clicked(this);
    return QFrame::eventFilter(watched, event);
}
