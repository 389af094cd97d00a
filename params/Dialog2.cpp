#include "Dialog2.h"

#include "FunctionButton.h"

#include <QComboBox>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QSignalBlocker>

TDialogForm2::TDialogForm2(QWidget* parent)
    : TValueDialog("DialogForm2", "Dialog2set", "Dialog2cancel", parent)
{
    Label1 = new QLabel(QStringLiteral("Point nr"), this);
    Label1->setObjectName(QStringLiteral("Label1"));
    Label2 = new QLabel(QStringLiteral("Value"), this);
    Label2->setObjectName(QStringLiteral("Label2"));
    ComboBox1 = new QComboBox(this);
    ComboBox1->setObjectName(QStringLiteral("ComboBox1"));
    auto* grid = new QGridLayout;
    grid->addWidget(Label1, 0, 0);
    grid->addWidget(ComboBox1, 0, 1);
    grid->addWidget(Label2, 1, 0);
    Body()->insertLayout(0, grid);
    connect(ComboBox1, &QComboBox::activated, this, [this] { ComboBox1Change(); });
}

void TDialogForm2::ShowFor(int unitAddress, TFnButton* button)
{
    Button = button;
    Edit1->clear();
    {
        const QSignalBlocker block(ComboBox1);
        ComboBox1->clear();
        ComboBox1->addItems(
            {QStringLiteral("1"), QStringLiteral("2"), QStringLiteral("3"), QStringLiteral("4")});
        ComboBox1->setCurrentIndex(0);
    }
    Present(button->Description, button->toolTip());
    IndexSub = (button->IndexSub & 0xFF00FF00u) | (std::uint32_t(unitAddress & 0xFF) << 16) | 1u;
    if (OnRead)
        OnRead(IndexSub);
}

void TDialogForm2::ComboBox1Change()
{
    bool ok = false;
    const unsigned point = ComboBox1->currentText().toUInt(&ok);
    IndexSub = (IndexSub & ~0xFFu) | (ok ? point & 0xFF : 0u);
    if (OnRead)
        OnRead(IndexSub);
}

void TDialogForm2::Take(std::uint8_t group, std::uint32_t value)
{
    if (group < 0x26 || group > 0x28)
        return;
    Value = static_cast<std::int32_t>(value);
    ShowValue(QString::number(Value));
}

void TDialogForm2::ShowAnswer(tervix::ByteView message)
{
    Take(AnswerByte(message, 6), AnswerU32(message, 8));
}

void TDialogForm2::ShowTpdoAnswer(tervix::ByteView data)
{
    // Positions count from 1 here; those past the received bytes read as 0.
    Take(AnswerByte(data, 5), AnswerU32(data, 7));
}

void TDialogForm2::SetClick()
{
    Finish([this] {
        bool ok = false;
        const int v = Edit1->text().trimmed().toInt(&ok, 10);
        if (!ok)
            return false;
        Value = v;
        return !OnSend || OnSend(IndexSub, v);
    });
}
