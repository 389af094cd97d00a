#include "value_dialog.h"

#include <QHBoxLayout>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

TValueDialog::TValueDialog(const char* name, const char* setName, const char* cancelName, QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint)
{
    setObjectName(QString::fromLatin1(name));
    setModal(false);
    body_ = new QVBoxLayout(this);
    Edit1 = new QLineEdit(this);
    Edit1->setObjectName(QStringLiteral("Edit1"));
    set_ = new QPushButton(QStringLiteral("Set"), this);
    set_->setObjectName(QString::fromLatin1(setName));
    set_->setAutoDefault(false);
    cancel_ = new QPushButton(QStringLiteral("Cancel"), this);
    cancel_->setObjectName(QString::fromLatin1(cancelName));
    cancel_->setAutoDefault(false);
    body_->addWidget(Edit1);
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(set_);
    buttons->addWidget(cancel_);
    body_->addLayout(buttons);
    connect(set_, &QPushButton::clicked, this, [this] { SetClick(); });
    connect(cancel_, &QPushButton::clicked, this, &TValueDialog::CancelClick);
}

void TValueDialog::ShowValue(const QString& text)
{
    Edit1->setText(text);
    set_->setDefault(true);
    Edit1->setFocus();
    Edit1->selectAll();
}

void TValueDialog::Finish(const std::function<bool()>& send)
{
    // A send that failed is reported like bad input.
    if (!send() && onError_)
        onError_(QStringLiteral("SendCommand"), QStringLiteral("Illegal data"));
    set_->setDefault(false);
    hide();
}

void TValueDialog::CancelClick()
{
    set_->setDefault(false);
    hide();
}

void TValueDialog::ShowFor(const QString& caption, const QString& hint, std::uint32_t indexSub)
{
    IndexSub = indexSub;
    Present(caption, hint);
}

void TValueDialog::Present(const QString& caption, const QString& hint)
{
    setWindowTitle(caption);
    setToolTip(hint);
    show();
    raise();
    activateWindow();
}
