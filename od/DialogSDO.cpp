#include "DialogSDO.h"

#include "sdo_request.h"
#include "sdo_texts.h"
#include "sdo_values.h"

#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>

namespace {

constexpr char kTagProperty[] = "tag";
constexpr int kMemoLines = 10000;

QString FromText(std::string_view s)
{
    return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size()));
}

} // namespace

// The start of a long line and how many characters were left out; a
// character outside the basic plane is kept or cut whole.
QString MemoLine(std::string_view line)
{
    QString text = FromText(line);
    if (text.size() <= TDialogFormSDO::kMemoLineLimit)
        return text;
    qsizetype keep = TDialogFormSDO::kMemoLineLimit;
    if (text.at(keep - 1).isHighSurrogate())
        --keep;
    qsizetype cut = 0;
    for (qsizetype i = keep; i < text.size(); ++i)
        cut += text.at(i).isLowSurrogate() ? 0 : 1;
    text.truncate(keep);
    return text + QStringLiteral(" \u2026 [%1 more characters]").arg(cut);
}

TDialogFormSDO::TDialogFormSDO(QWidget* parent)
    : QWidget(parent, Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint)
{
    setObjectName(QStringLiteral("DialogFormSDO"));
    setWindowTitle(QStringLiteral("SDO Dialog"));
    setFixedSize(536, 321);
    move(613, 310);

    btInfo = MakeButton("btInfo", QStringLiteral("Info"), 184, tervix::kSdoTagStructure);
    btInfo->setEnabled(false);
    btInfo->hide();
    btRead = MakeButton("btRead", QStringLiteral("Read"), 272, tervix::kSdoTagRead);
    btSet = MakeButton("btSet", QStringLiteral("Set"), 360, tervix::kSdoTagWrite);
    btClose = MakeButton("btClose", QStringLiteral("Close"), 448, tervix::kSdoTagClose);

    lbSDOvalue = new QLabel(QStringLiteral("SDO Value"), this);
    lbSDOvalue->setObjectName(QStringLiteral("lbSDOvalue"));
    lbSDOvalue->move(8, 40);
    lbSDOvalue->adjustSize();

    edbxSDOvalue = new QLineEdit(this);
    edbxSDOvalue->setObjectName(QStringLiteral("edbxSDOvalue"));
    edbxSDOvalue->setGeometry(8, 56, 513, 21);
    connect(edbxSDOvalue, &QLineEdit::textEdited, this, [this] {
        typed_ = true;
        UpdateHint();
    });

    lbSDOhint = new QLabel(this);
    lbSDOhint->setObjectName(QStringLiteral("lbSDOhint"));
    lbSDOhint->setGeometry(8, 79, 513, 16);

    Memo1 = new QPlainTextEdit(this);
    Memo1->setObjectName(QStringLiteral("Memo1"));
    Memo1->setGeometry(8, 97, 513, 216);
    Memo1->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    // Structure answers of other masters keep coming while the dialog is
    // open; the oldest lines go first.
    Memo1->setMaximumBlockCount(kMemoLines);
    Memo1->setStyleSheet(QStringLiteral("QPlainTextEdit { background: #c0c0c0; }"));

    // Wired once here; SetRequestHandler only swaps the handler behind them.
    for (QPushButton* button : {btRead, btSet, btClose})
        connect(button, &QPushButton::clicked, this, [this, button] { ButtonClick(button); });
}

QPushButton* TDialogFormSDO::MakeButton(const char* name, const QString& text, int left, int tag)
{
    auto* button = new QPushButton(text, this);
    button->setObjectName(QString::fromLatin1(name));
    button->setGeometry(left, 16, 75, 25);
    button->setProperty(kTagProperty, tag);
    // Enter in the value box sends nothing by itself.
    button->setAutoDefault(false);
    return button;
}

int TDialogFormSDO::Tag(const QPushButton* button)
{
    return button ? button->property(kTagProperty).toInt() : -1;
}

void TDialogFormSDO::SetRequestHandler(RequestHandler handler)
{
    OnRequest = std::move(handler);
    btInfo->setProperty(kTagProperty, int(tervix::kSdoTagStructure));
}

std::array<std::uint8_t, 3> TDialogFormSDO::Multiplexer() const
{
    return tervix::Multiplexer(index_, subIndex_);
}

std::string_view TDialogFormSDO::ObjectTypeName() const
{
    return tervix::ObjectTypeName(objectType_);
}

std::string_view TDialogFormSDO::DataTypeName() const
{
    return tervix::DataTypeName(dataType_);
}

void TDialogFormSDO::ShowNode(const tervix::EDSNode& node)
{
    show();
    raise();
    activateWindow();

    const tervix::SdoNodeView view = tervix::ShowNodeView(node, objectType_);
    setWindowTitle(FromText(view.caption));
    index_ = view.Index;
    subIndex_ = view.SubIndex;
    btRead->setEnabled(view.readWriteEnabled);
    btSet->setEnabled(view.readWriteEnabled);
    dataType_ = view.DataType;
    objectType_ = view.ObjectType;
    const tervix::EdsLimits limits = tervix::Limits(node);
    lowLimit_ = limits.low;
    highLimit_ = limits.high;
    UpdateHint();

    QString text;
    for (const std::string& line : view.memoLines) {
        if (!text.isEmpty())
            text += u'\n';
        text += MemoLine(line);
    }
    Memo1->setPlainText(text);

    // The structure request goes out whatever the index, even where reading
    // and writing are refused.
    if (OnRequest)
        OnRequest(btInfo);
}

void TDialogFormSDO::ShowAnswer(tervix::ByteView message)
{
    const tervix::SdoAnswerView view = tervix::ShowAnswerView(message);
    if (view.structure) {
        for (const std::string& line : view.memoLines)
            Memo1->appendPlainText(FromText(line));
    } else {
        edbxSDOvalue->setText(FromText(view.value));
        typed_ = false;
        UpdateHint();
    }
}

void TDialogFormSDO::ShowResult(std::string_view line)
{
    if (isVisible())
        Memo1->appendPlainText(MemoLine(line));
}

void TDialogFormSDO::UpdateHint()
{
    // Only what was typed is a value to be written; a frame's bytes are not.
    const tervix::SdoValueHint hint = typed_ ? tervix::SdoTypedValueHint(edbxSDOvalue->text().toStdString(),
                                                                         dataType_, lowLimit_, highLimit_)
                                             : tervix::SdoValueHint{};
    QString text = FromText(hint.meaning);
    if (!hint.warning.empty())
        text += (text.isEmpty() ? QString() : QStringLiteral("   ")) + FromText(hint.warning);
    lbSDOhint->setText(text);
    lbSDOhint->setStyleSheet(hint.warning.empty() ? QString() : QStringLiteral("QLabel { color: #b00000; }"));
}

void TDialogFormSDO::ButtonClick(QPushButton* button)
{
    if (Tag(button) == tervix::kSdoTagClose) {
        hide();
        return;
    }
    if (OnRequest)
        OnRequest(button);
}
