#include "FunctionButton.h"

#include <QGroupBox>

using namespace tervix;

namespace {

// The configuration's texts are UTF-8, whatever the file's encoding was.
QString Utf8(const std::string& s)
{
    return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size()));
}

} // namespace

TFnButton::TFnButton(int number, QWidget* parent) : QPushButton(parent), tag_(number)
{
    setObjectName(QStringLiteral("FnButton%1").arg(number));
    setEnabled(false);
}

TFunctions::TFunctions(QGroupBox* groupBox, const ConfigLines& lines) : QObject(groupBox), groupBox_(groupBox)
{
    groupBox->setFixedSize(kBoxWidth, kBoxHeight);
    const int width = (kBoxWidth - 3) / kColumns;
    const int height = (kBoxHeight - 18) / kRows;
    std::vector<IgnoredLine> ignored; // malformed lines are passed over silently
    const ButtonSet definitions = ReadFunctionButtons(lines, ignored);
    for (int r = 0; r < kRows; ++r) {
        for (int c = 0; c < kColumns; ++c) {
            const int n = r * kColumns + c;
            auto* button = new TFnButton(n, groupBox);
            button->setGeometry(c * width + 2, r * height + 16, width, height);
            const ButtonDefinition& d = definitions[static_cast<std::size_t>(n)];
            button->setText(Utf8(d.caption));
            button->setToolTip(Utf8(d.hint).replace(u'\r', u'\n'));
            button->Description = Utf8(d.description);
            button->IndexSub = d.indexSub;
            button->Kind = d.kind;
            button->Configured = d.configured;
            button->setEnabled(d.enabled);
            connect(button, &QPushButton::clicked, this, [this, button] { FnButtonClick(button); });
            buttons_[static_cast<std::size_t>(n)] = button;
        }
    }
}

TFnButton* TFunctions::Button(int number) const
{
    return number >= 0 && number < static_cast<int>(kButtonCount) ? buttons_[static_cast<std::size_t>(number)]
                                                                  : nullptr;
}

void TFunctions::FnButtonClick(TFnButton* button)
{
    if (OnFunction)
        OnFunction(button);
}
