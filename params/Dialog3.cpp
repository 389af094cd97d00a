#include "Dialog3.h"

#include <QLineEdit>

#include <algorithm>
#include <bit>
#include <cmath>
#include <limits>

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
        double x = Edit1->text().trimmed().toDouble(&ok);
        if (!ok || !std::isfinite(x))
            return false;
        // The unit takes a finite 32-bit float. A number past the largest
        // one but rounding to it is that one; anything beyond would be
        // infinity on the wire (and the narrowing undefined).
        constexpr double kLargest = std::numeric_limits<float>::max();
        constexpr double kRoundsToLargest = 0x1.ffffffp127; // halfway to the next power of two
        if (std::fabs(x) >= kRoundsToLargest)
            return false;
        x = std::clamp(x, -kLargest, kLargest);
        const auto v = static_cast<std::int32_t>(std::bit_cast<std::uint32_t>(static_cast<float>(x)));
        return !OnSend || OnSend(IndexSub, v);
    });
}
