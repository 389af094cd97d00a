#include "Dialog1.h"

#include <QLineEdit>

namespace {

// The firmware and hardware versions read best as hexadecimal.
constexpr std::uint32_t kFirmwareVersionKey = 0x29000008;
constexpr std::uint32_t kHardwareVersionKey = 0x29000009;

} // namespace

TDialogForm1::TDialogForm1(QWidget* parent)
    : TValueDialog("DialogForm1", "Dialog1set", "Dialog1cancel", parent)
{
}

void TDialogForm1::Take(std::int32_t value, bool hex)
{
    Value = value;
    ShowValue(
        hex ? QStringLiteral("%1").arg(static_cast<std::uint32_t>(value), 4, 16, QLatin1Char('0')).toUpper()
            : QString::number(value));
}

void TDialogForm1::ShowAnswer(tervix::ByteView message)
{
    // Data bytes 1..3 (positions 5..7) name the object; 4..7 carry the value.
    const std::uint32_t key = (std::uint32_t(AnswerByte(message, 6)) << 24) |
                              (std::uint32_t(AnswerByte(message, 5)) << 16) | AnswerByte(message, 7);
    Take(static_cast<std::int32_t>(AnswerU32(message, 8)),
         key == kFirmwareVersionKey || key == kHardwareVersionKey);
}

void TDialogForm1::ShowTpdoAnswer(tervix::ByteView data)
{
    const std::uint8_t code = AnswerByte(data, 1);
    if (code == 3 || code == 18)
        Take(static_cast<std::int32_t>(AnswerU32(data, 3)), false);
    else if (code == 38)
        Take(static_cast<std::int32_t>(AnswerU32(data, 4)), false);
}

void TDialogForm1::SetClick()
{
    Finish([this] {
        bool ok = false;
        const int v = Edit1->text().trimmed().toInt(&ok, 10);
        if (!ok)
            return false;
        return IndexSub == 0 || !OnSend || OnSend(IndexSub, v);
    });
}
