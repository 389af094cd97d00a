#include "Dialog3.h"

#include <QLineEdit>

#include <bit>

TDialogForm3::TDialogForm3(QWidget* parent)
    : TValueDialog("DialogForm3", "Dialog3set", "Dialog3cancel", parent)
{
}

void TDialogForm3::ShowAnswer(tervix::ByteView message)
{
    Value = std::bit_cast<float>(AnswerU32(message, 8));
    ShowValue(QString::number(static_cast<double>(Value), 'g', 7));
}

void TDialogForm3::SetClick()
{
    Finish([this] {
        bool ok = false;
        const double x = Edit1->text().trimmed().toDouble(&ok);
        if (!ok)
            return false;
        const auto v = static_cast<std::int32_t>(std::bit_cast<std::uint32_t>(static_cast<float>(x)));
        if (OnSend)
            OnSend(IndexSub, v);
        return true;
    });
}
