#include "parameter_sheets.h"

#include <QEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QTimer>

#include <algorithm>
#include <optional>

using namespace tervix;

namespace {

constexpr int kReadButtonWidth = 75;
constexpr int kReadButtonHeight = 25;

QString Latin1(std::string_view s)
{
    return QString::fromLatin1(s.data(), static_cast<qsizetype>(s.size()));
}

void SetBase(QLineEdit* edit, const QColor& colour)
{
    // Answers come at bus speed: a palette that is already right is not set
    // again (setting one restyles the box).
    if (edit->palette().color(QPalette::Base) == colour)
        return;
    QPalette p = edit->palette();
    p.setColor(QPalette::Base, colour);
    edit->setPalette(p);
}

// Selects the whole text when the box gets the focus, so a new value
// replaces the old one.
class SelectOnEntry final : public QObject {
public:
    using QObject::QObject;
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() == QEvent::FocusIn)
            if (auto* edit = qobject_cast<QLineEdit*>(watched))
                QTimer::singleShot(0, edit, &QLineEdit::selectAll);
        return false;
    }
};

} // namespace

std::optional<std::int32_t> ParamValue(const QString& text)
{
    const QString t = text.trimmed();
    bool ok = false;
    if (t.startsWith(u'$') || t.startsWith(QLatin1String("0x"), Qt::CaseInsensitive)) {
        const QString digits = t.mid(t.startsWith(u'$') ? 1 : 2);
        // toUInt would take a sign or a second prefix; only digits count here.
        const auto hexDigit = [](QChar c) {
            return (c >= u'0' && c <= u'9') || (c >= u'a' && c <= u'f') || (c >= u'A' && c <= u'F');
        };
        if (digits.isEmpty() || digits.size() > 8 || !std::all_of(digits.begin(), digits.end(), hexDigit))
            return std::nullopt;
        const std::uint32_t u = digits.toUInt(&ok, 16);
        return ok ? std::optional<std::int32_t>(static_cast<std::int32_t>(u)) : std::nullopt;
    }
    const int v = t.toInt(&ok, 10);
    return ok ? std::optional<std::int32_t>(v) : std::nullopt;
}

// --- TFillCell -------------------------------------------------------------------

void TFillCell::StoreValue(std::int32_t value)
{
    SetBase(ValueEdit, QPalette().color(QPalette::Active, QPalette::Base));
    const QString text = QString::number(value);
    if (ValueEdit->text() != text)
        ValueEdit->setText(text);
    SetButton->setEnabled(false);
}

void TFillCell::MarkFailed()
{
    // Greyed like an inactive caption: this row could not be read.
    SetBase(ValueEdit, QPalette().color(QPalette::Inactive, QPalette::Mid));
    ValueEdit->setEnabled(false);
    ValueEdit->setModified(false);
    SetButton->setEnabled(false);
}

// --- TParamSheet -----------------------------------------------------------------

TParamSheet::TParamSheet(QWidget* page, const PageSection& section, int pageNumber)
    : QObject(page), tabSheet_(page), pageNumber_(pageNumber)
{
    auto* selectOnEntry = new SelectOnEntry(this);
    const std::uint32_t base = std::uint32_t(kPages[static_cast<std::size_t>(pageNumber)].baseIndex) << 16;
    int position = 0;
    for (const ParamRow& row : section.rows) {
        auto cell = std::make_unique<TFillCell>();
        cell->IndexSub = base + row.sub;
        const QString label = QString::fromUtf8(row.label.data(), static_cast<qsizetype>(row.label.size()));
        cell->NameLabel = new QLabel(label, page);
        // A long label is cut by the value box beside it; the tooltip has it whole.
        cell->NameLabel->setToolTip(label);
        cell->ValueEdit = new QLineEdit(page);
        cell->ValueEdit->setProperty("tag", position++);
        cell->ValueEdit->installEventFilter(selectOnEntry);
        cell->SetButton = new QPushButton(QStringLiteral("Set"), page);
        cell->SetButton->setProperty("tag", static_cast<qulonglong>(row.line));
        cell->SetButton->setEnabled(false);
        TFillCell* c = cell.get();
        connect(cell->ValueEdit, &QLineEdit::textEdited, this, [this, c] { EditChange(*c); });
        connect(cell->SetButton, &QPushButton::clicked, this, [this, c] { SetClick(*c); });
        cells_.push_back(std::move(cell));
    }
    readButton_ = new QPushButton(QStringLiteral("Read"), page);
    readButton_->setProperty("tag", pageNumber);
    page->installEventFilter(this);
    Place();
}

TFillCell* TParamSheet::Cell(int subIndex)
{
    if (subIndex < 1 || subIndex > RowCount())
        return nullptr;
    return cells_[static_cast<std::size_t>(subIndex - 1)].get();
}

void TParamSheet::Place()
{
    const int n = std::max(RowCount(), 1);
    rowHeight_ = std::clamp((tabSheet_->height() - 56) / n, kMinRowHeight, kMaxRowHeight);
    halfWidth_ = (tabSheet_->width() - 16) / 2;
    const int h = rowHeight_;
    const int w = halfWidth_;
    for (int k = 1; k <= RowCount(); ++k) {
        TFillCell& c = *cells_[static_cast<std::size_t>(k - 1)];
        c.NameLabel->setGeometry(8, k * h + 36, w, h - 4);
        const int editLeft = w + 8;
        const int editWidth = w - w / 4;
        c.ValueEdit->setGeometry(editLeft, k * h + 34, editWidth, h - 4);
        c.SetButton->setGeometry(editLeft + editWidth, k * h + 35, w / 4, h);
    }
    readButton_->setGeometry(8, 24, kReadButtonWidth, kReadButtonHeight);
}

bool TParamSheet::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == tabSheet_ && event->type() == QEvent::Resize)
        Place();
    return QObject::eventFilter(watched, event);
}

void TParamSheet::ClearValues()
{
    for (auto& c : cells_) {
        c->Pending.reset();  // an answer from before the new read is not shown
        c->ValueEdit->clear();
        c->SetButton->setEnabled(false);
    }
}

void TParamSheet::EditChange(TFillCell& cell)
{
    cell.SetButton->setEnabled(true);
}

void TParamSheet::SetClick(TFillCell& cell)
{
    if (onSet_)
        onSet_(cell);
    cell.SetButton->setEnabled(false);
}

// --- TParameters -----------------------------------------------------------------

TParameters::TParameters(QTabWidget* pageControl, const std::string& fileName)
    : QObject(pageControl), pageControl_(pageControl)
{
    ConfigFileLoad load = LoadConfigFile(fileName);
    if (!load.ok) {
        loadError_ = QString::fromLocal8Bit(load.error.c_str());
        return;
    }
    lines_ = std::move(load.lines);
    // Ignored lines go unsaid (tervix-cli conf lists them); a text cut short
    // is said once, as the rows and buttons are built from what was kept.
    const Configuration config = ReadConfiguration(lines_);
    pages_ = config.pages;
    for (const std::string& cut : CutReports(lines_, config.buttons))
        loadWarning_ += u'\n' + QString::fromStdString(cut);
    if (!loadWarning_.isEmpty())
        loadWarning_.prepend(QString::fromLocal8Bit(fileName.c_str()) +
                             QStringLiteral(" was read only in part:"));
    for (int tab = 0; tab < pageControl->count(); ++tab) {
        QWidget* page = pageControl->widget(tab);
        page->setProperty("tag", 0);
        // Pages are known by their captions; a caption the file cannot name
        // has no section.
        const QString caption = pageControl->tabText(tab);
        auto it = std::find_if(kPages.begin(), kPages.end(),
                               [&](const PageInfo& p) { return Latin1(p.caption) == caption; });
        if (it == kPages.end())
            continue;
        const auto p = static_cast<std::size_t>(it - kPages.begin());
        const PageSection& section = config.pages[p];
        if (!section.rows.empty()) {
            sheets_[p] = new TParamSheet(page, section, static_cast<int>(p));
            ++sheetCount_;
        }
    }
    const std::size_t treePage = tervix::ObjectTreePage(config);
    if (treePage < static_cast<std::size_t>(pageControl->count()))
        objectTreePage_ = pageControl->widget(static_cast<int>(treePage));
}

TParameters::~TParameters() = default;

TParamSheet* TParameters::Sheet(int page) const
{
    return page >= 0 && page < static_cast<int>(kPageCount) ? sheets_[static_cast<std::size_t>(page)]
                                                            : nullptr;
}

TFillCell* TParameters::Cell(int page, int subIndex) const
{
    TParamSheet* sheet = Sheet(page);
    return sheet ? sheet->Cell(subIndex) : nullptr;
}

int TParameters::CellCount(int page) const
{
    TParamSheet* sheet = Sheet(page);
    return sheet ? sheet->RowCount() : 0;
}

bool TParameters::StoreValue(int page, int subIndex, std::int32_t value)
{
    TFillCell* c = Cell(page, subIndex);
    if (!c)
        return false;
    if (!c->Pending)
        pending_.push_back(c);
    c->Pending = value;
    return true;
}

bool TParameters::MarkFailed(int page, int subIndex)
{
    TFillCell* c = Cell(page, subIndex);
    if (!c)
        return false;
    // What was stored before comes first, as it came first.
    if (c->Pending) {
        c->StoreValue(*c->Pending);
        c->Pending.reset();
    }
    c->MarkFailed();
    return true;
}

void TParameters::Flush()
{
    for (TFillCell* c : pending_) {
        if (!c->Pending)
            continue;  // shown already, or cleared by a new read
        c->StoreValue(*c->Pending);
        c->Pending.reset();
    }
    pending_.clear();
}

bool TParameters::EnableEdit(int page, int subIndex)
{
    TFillCell* c = Cell(page, subIndex);
    if (c)
        c->ValueEdit->setEnabled(true);
    return c != nullptr;
}
