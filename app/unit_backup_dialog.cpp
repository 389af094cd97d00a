#include "unit_backup_dialog.h"

#include "EDS_unit.h"
#include "MyComm.h"
#include "app_settings.h"
#include "eds_tree_model.h"
#include "log_view.h"
#include "message_sink.h"
#include "monitor.h"
#include "parameter_sheets.h"
#include "version.h"

#include <QCheckBox>
#include <QDateTime>
#include <QDialogButtonBox>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QMenu>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QSaveFile>
#include <QSortFilterProxyModel>
#include <QSplitter>
#include <QStandardItemModel>
#include <QTableView>
#include <QVBoxLayout>

#include <algorithm>
#include <filesystem>
#include <map>

using namespace tervix;

namespace {

constexpr int kSortRole = Qt::UserRole + 1;
constexpr int kMarkedRole = Qt::UserRole + 2;
constexpr int kUnitsOffered = 4;
const QString kFileFilter = QStringLiteral("Device configuration files (*.dcf *.DCF);;All files (*)");

QString Text(std::string_view s)
{
    return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size()));
}

QString Native(const QString& path)
{
    return QDir::toNativeSeparators(path);
}

QString FileName(const QString& path)
{
    return QFileInfo(path).fileName();
}

QString Differences(std::size_t n)
{
    return n == 1 ? QStringLiteral("1 difference") : QStringLiteral("%1 differences").arg(n);
}

// "0-3", "0, 2": the units a backup read.
QString UnitsText(const std::vector<std::uint8_t>& units)
{
    if (units.size() > 2 && units.back() - units.front() + 1 == static_cast<int>(units.size()))
        return QStringLiteral("%1-%2").arg(units.front()).arg(units.back());
    QStringList list;
    for (std::uint8_t u : units)
        list << QString::number(u);
    return list.join(QStringLiteral(", "));
}

// "2100.08": index and sub-index, as the object tree's sections name them.
QString ObjectText(std::uint16_t index, std::uint8_t subIndex)
{
    return QStringLiteral("%1.%2")
        .arg(index, 4, 16, QLatin1Char('0'))
        .arg(subIndex, 2, 16, QLatin1Char('0'))
        .toUpper();
}

// A value sorts as a number when it reads as one (decimal, real or 0x hex).
QVariant ValueKey(const QString& text)
{
    bool ok = false;
    const double d = text.toDouble(&ok);
    if (ok)
        return d;
    if (text.startsWith(QLatin1String("0x"), Qt::CaseInsensitive)) {
        const qulonglong u = text.mid(2).toULongLong(&ok, 16);
        if (ok)
            return static_cast<double>(u);
    }
    return text;
}

QStandardItem* Cell(const QString& text, const QVariant& sortKey = {})
{
    auto* item = new QStandardItem(text);
    item->setEditable(false);
    item->setData(sortKey.isValid() ? sortKey : QVariant(text), kSortRole);
    return item;
}

// A value one side does not have.
QStandardItem* ValueCell(const std::optional<std::string>& value)
{
    if (value)
        return Cell(Text(*value), ValueKey(Text(*value)));
    QStandardItem* item = Cell(QStringLiteral("\u2014"), QString());
    item->setForeground(QColor(Qt::gray));
    item->setToolTip(QStringLiteral("No value"));
    return item;
}

QStandardItem* ObjectCell(std::uint16_t index, std::uint8_t subIndex)
{
    return Cell(ObjectText(index, subIndex),
                static_cast<qulonglong>((std::uint32_t{index} << 16) | subIndex));
}

void Mark(const QList<QStandardItem*>& row, const QColor& background)
{
    row.front()->setData(true, kMarkedRole);
    for (QStandardItem* item : row) {
        QFont font = item->font();
        font.setBold(true);
        item->setFont(font);
        item->setBackground(background);
        item->setForeground(QColor(Qt::black));
    }
}

QColor OutcomeColour(RestoreOutcome outcome)
{
    switch (outcome) {
    case RestoreOutcome::Verified: return {198, 239, 206};
    case RestoreOutcome::WouldWrite: return {255, 242, 171};
    case RestoreOutcome::Unchanged: return {};
    case RestoreOutcome::Refused:
    case RestoreOutcome::NotVerified:
    case RestoreOutcome::Failed: return {255, 199, 206};
    }
    return {};
}

QTableView* MakeTable(QAbstractItemModel* model, QWidget* parent)
{
    auto* table = new QTableView(parent);
    table->setModel(model);
    table->setSortingEnabled(true);
    table->setSelectionBehavior(QAbstractItemView::SelectRows);
    table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    table->setAlternatingRowColors(true);
    table->setWordWrap(false);
    table->verticalHeader()->hide();
    table->verticalHeader()->setDefaultSectionSize(table->fontMetrics().height() + 6);
    return table;
}

// Every column as wide as its widest text, but `stretch`, which takes the rest.
void FitColumns(QTableView* table, int stretch)
{
    table->sortByColumn(0, Qt::AscendingOrder);
    QHeaderView* header = table->horizontalHeader();
    for (int c = 0; c < header->count(); ++c)
        header->setSectionResizeMode(c, c == stretch ? QHeaderView::Stretch : QHeaderView::ResizeToContents);
}

// A file line with its "Browse…" button; `ask` gets the present text and
// gives the new one (empty: keep).
QLineEdit* FileRow(QBoxLayout* into, QWidget* parent, const QString& path,
                   std::function<QString(QString)> ask)
{
    auto* row = new QHBoxLayout;
    row->addWidget(new QLabel(QStringLiteral("File:"), parent));
    auto* edit = new QLineEdit(path, parent);
    edit->setObjectName(QStringLiteral("edFile"));
    edit->setMinimumWidth(320);
    row->addWidget(edit, 1);
    auto* browse = new QPushButton(QStringLiteral("Browse\u2026"), parent);
    QObject::connect(browse, &QPushButton::clicked, parent, [edit, ask = std::move(ask)] {
        const QString chosen = ask(edit->text());
        if (!chosen.isEmpty())
            edit->setText(chosen);
    });
    row->addWidget(browse);
    into->addLayout(row);
    return edit;
}

} // namespace

// Rows sorted by their sort keys; with the box ticked, only the marked ones.
class MarkedRows final : public QSortFilterProxyModel {
public:
    explicit MarkedRows(QObject* parent) : QSortFilterProxyModel(parent) { setSortRole(kSortRole); }
    void SetMarkedOnly(bool on)
    {
        if (on == markedOnly_)
            return;
        markedOnly_ = on;
        invalidateFilter();
    }

protected:
    bool filterAcceptsRow(int row, const QModelIndex& parent) const override
    {
        return !markedOnly_ || sourceModel()->index(row, 0, parent).data(kMarkedRole).toBool();
    }
    // Numbers by value and before texts; texts as the user's language sorts them.
    bool lessThan(const QModelIndex& left, const QModelIndex& right) const override
    {
        const QVariant a = left.data(kSortRole);
        const QVariant b = right.data(kSortRole);
        const bool aText = a.typeId() == QMetaType::QString;
        const bool bText = b.typeId() == QMetaType::QString;
        if (aText != bText)
            return bText;
        if (!aText)
            return a.toDouble() < b.toDouble();
        return QString::localeAwareCompare(a.toString(), b.toString()) < 0;
    }

private:
    bool markedOnly_ = false;
};

// --- TBackupDialog ---------------------------------------------------------------

TBackupDialog::TBackupDialog(unsigned node, const QString& path, QWidget* parent) : QDialog(parent)
{
    setWindowTitle(QStringLiteral("Backup of node %1").arg(node));
    auto* layout = new QVBoxLayout(this);
    auto* group = new QGroupBox(QStringLiteral("Units"), this);
    auto* row = new QHBoxLayout(group);
    for (int u = 0; u < kUnitsOffered; ++u) {
        auto* box = new QCheckBox(QStringLiteral("Unit %1").arg(u), group);
        box->setChecked(true);
        row->addWidget(box);
        units_.push_back(box);
    }
    row->addStretch(1);
    layout->addWidget(group);
    path_ = FileRow(layout, this, path, [this](const QString& now) {
        return QFileDialog::getSaveFileName(this, QStringLiteral("Back up to"), now, kFileFilter);
    });
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    QPushButton* ok = buttons->button(QDialogButtonBox::Ok);
    ok->setText(QStringLiteral("Back up"));
    const auto update = [this, ok] { ok->setEnabled(!Units().empty() && !Path().isEmpty()); };
    for (QCheckBox* box : units_)
        connect(box, &QCheckBox::toggled, this, update);
    connect(path_, &QLineEdit::textChanged, this, update);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    layout->addWidget(buttons);
}

std::vector<std::uint8_t> TBackupDialog::Units() const
{
    std::vector<std::uint8_t> units;
    for (std::size_t u = 0; u < units_.size(); ++u)
        if (units_[u]->isChecked())
            units.push_back(static_cast<std::uint8_t>(u));
    return units;
}

QString TBackupDialog::Path() const
{
    return path_->text().trimmed();
}

// --- TRestoreDialog --------------------------------------------------------------

TRestoreDialog::TRestoreDialog(unsigned node, QWidget* parent) : QDialog(parent)
{
    setWindowTitle(QStringLiteral("Restore to node %1").arg(node));
    auto* layout = new QVBoxLayout(this);
    path_ = FileRow(layout, this, QString(), [this](const QString& now) {
        return QFileDialog::getOpenFileName(this, QStringLiteral("Restore from"),
                                            now.isEmpty() ? LastFolder(kBackupFolder) : now, kFileFilter);
    });
    all_ = new QCheckBox(QStringLiteral("Write every value, not only those that differ"), this);
    preview_ = new QCheckBox(QStringLiteral("Preview: list what would be written, write nothing"), this);
    layout->addWidget(all_);
    layout->addWidget(preview_);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    QPushButton* ok = buttons->button(QDialogButtonBox::Ok);
    const auto update = [this, ok] {
        ok->setText(preview_->isChecked() ? QStringLiteral("Preview") : QStringLiteral("Restore"));
        ok->setEnabled(!Path().isEmpty());
    };
    update();
    connect(preview_, &QCheckBox::toggled, this, update);
    connect(path_, &QLineEdit::textChanged, this, update);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    layout->addWidget(buttons);
}

QString TRestoreDialog::Path() const
{
    return path_->text().trimmed();
}

RestoreOptions TRestoreDialog::Options() const
{
    RestoreOptions options;
    options.all = all_->isChecked();
    options.dryRun = preview_->isChecked();
    return options;
}

// --- TJobResults -----------------------------------------------------------------

TJobResults::TJobResults(QWidget* parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("JobResults"));
    setWindowFlag(Qt::Window);
    setSizeGripEnabled(true);
    auto* layout = new QVBoxLayout(this);
    summary_ = new QLabel(this);
    summary_->setWordWrap(true);
    summary_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    layout->addWidget(summary_);
    markedOnly_ = new QCheckBox(this);
    layout->addWidget(markedOnly_);

    model_ = new QStandardItemModel(this);
    shown_ = new MarkedRows(this);
    shown_->setSourceModel(model_);
    auto* splitter = new QSplitter(Qt::Vertical, this);
    splitter->setChildrenCollapsible(false);
    table_ = MakeTable(shown_, splitter);
    table_->setObjectName(QStringLiteral("ResultTable"));
    readOnlyPart_ = new QWidget(splitter);
    auto* readOnlyLayout = new QVBoxLayout(readOnlyPart_);
    readOnlyLayout->setContentsMargins(0, 6, 0, 0);
    readOnlyLayout->addWidget(new QLabel(
        QStringLiteral("Read-only objects: live or fixed values, never a difference"), readOnlyPart_));
    readOnlyModel_ = new QStandardItemModel(this);
    auto* readOnlySorted = new MarkedRows(this);
    readOnlySorted->setSourceModel(readOnlyModel_);
    readOnlyTable_ = MakeTable(readOnlySorted, readOnlyPart_);
    readOnlyTable_->setObjectName(QStringLiteral("ReadOnlyTable"));
    readOnlyLayout->addWidget(readOnlyTable_);
    splitter->setStretchFactor(0, 2);
    splitter->setStretchFactor(1, 1);
    layout->addWidget(splitter, 1);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::close);
    layout->addWidget(buttons);
    connect(markedOnly_, &QCheckBox::toggled, this, &TJobResults::SetMarkedOnly);
    resize(820, 600);
}

void TJobResults::SetMarkedOnly(bool on)
{
    markedOnly_->setChecked(on);
    shown_->SetMarkedOnly(on);
}

void TJobResults::ShowComparison(const QString& title, const QString& a, const QString& b,
                                 const std::vector<CompareRow>& rows)
{
    setWindowTitle(title);
    model_->clear();
    readOnlyModel_->clear();
    model_->setHorizontalHeaderLabels(
        {QStringLiteral("Object"), QStringLiteral("Name"), a, b, QStringLiteral("Differs")});
    readOnlyModel_->setHorizontalHeaderLabels({QStringLiteral("Object"), QStringLiteral("Name"), a, b});
    std::size_t settings = 0;
    std::size_t differ = 0;
    for (const CompareRow& row : rows) {
        QList<QStandardItem*> items{ObjectCell(row.index, row.subIndex), Cell(Text(row.name)),
                                    ValueCell(row.a), ValueCell(row.b)};
        if (row.readOnly) {
            readOnlyModel_->appendRow(items);
            continue;
        }
        ++settings;
        items.append(Cell(row.differs ? QStringLiteral("yes") : QString()));
        if (row.differs) {
            ++differ;
            Mark(items, QColor(255, 214, 153));
        }
        model_->appendRow(items);
    }
    summary_->setText(QStringLiteral("%1 of %2 settings differ. %3 read-only objects are listed below.")
                          .arg(differ)
                          .arg(settings)
                          .arg(rows.size() - settings));
    markedOnly_->setText(QStringLiteral("Show differences only"));
    readOnlyPart_->setVisible(true);
    FitColumns(table_, 1);
    FitColumns(readOnlyTable_, 1);
}

void TJobResults::ShowReport(const QString& title, const QString& summary,
                             const std::vector<RestoreRow>& rows)
{
    setWindowTitle(title);
    model_->clear();
    readOnlyModel_->clear();
    model_->setHorizontalHeaderLabels({QStringLiteral("Object"), QStringLiteral("Name"),
                                       QStringLiteral("Value"), QStringLiteral("Result"),
                                       QStringLiteral("Detail")});
    for (const RestoreRow& row : rows) {
        QList<QStandardItem*> items{ObjectCell(row.index, row.subIndex), Cell(Text(row.name)),
                                    Cell(Text(row.value)), Cell(Text(RestoreOutcomeText(row.outcome))),
                                    Cell(Text(row.detail))};
        if (row.outcome != RestoreOutcome::Unchanged)
            Mark(items, OutcomeColour(row.outcome));
        model_->appendRow(items);
    }
    summary_->setText(summary);
    markedOnly_->setText(QStringLiteral("Hide unchanged objects"));
    readOnlyPart_->setVisible(false);
    FitColumns(table_, 4);
}

// --- TUnitBackup -----------------------------------------------------------------

TUnitBackup::TUnitBackup(TForm1& form, MessageSink& messages, Clock& clock, QWidget* parent)
    : QWidget(parent), form_(form), messages_(messages), clock_(clock)
{
    setObjectName(QStringLiteral("UnitBackup"));
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(2);

    auto* buttons = new QHBoxLayout;
    backup_ = new QPushButton(QStringLiteral("Backup\u2026"), this);
    backup_->setObjectName(QStringLiteral("btBackup"));
    backup_->setToolTip(QStringLiteral("Reads the node's settings into a device configuration file"));
    compare_ = new QPushButton(QStringLiteral("Compare\u2026"), this);
    compare_->setObjectName(QStringLiteral("btCompare"));
    compare_->setToolTip(QStringLiteral("Lists where a file and the node, or two files, differ"));
    auto* compareMenu = new QMenu(compare_);
    QAction* withNode = compareMenu->addAction(QString(), this, &TUnitBackup::CompareClick);
    connect(compareMenu, &QMenu::aboutToShow, this, [this, withNode] {
        withNode->setText(QStringLiteral("With node %1\u2026").arg(form_.Decoder().NodeNumber()));
    });
    compareMenu->addAction(QStringLiteral("Two files\u2026"), this, &TUnitBackup::CompareFilesClick);
    compare_->setMenu(compareMenu);
    restore_ = new QPushButton(QStringLiteral("Restore\u2026"), this);
    restore_->setObjectName(QStringLiteral("btRestore"));
    restore_->setToolTip(QStringLiteral("Writes a file's values to the node and reads each back"));
    connect(backup_, &QPushButton::clicked, this, &TUnitBackup::BackupClick);
    connect(restore_, &QPushButton::clicked, this, &TUnitBackup::RestoreClick);
    buttons->addWidget(backup_);
    buttons->addWidget(compare_);
    buttons->addWidget(restore_);
    buttons->addStretch(1);
    column->addLayout(buttons);

    auto* state = new QHBoxLayout;
    progress_ = new QProgressBar(this);
    progress_->setObjectName(QStringLiteral("pbUnitJob"));
    progress_->setTextVisible(true);
    progress_->hide();
    cancel_ = new QPushButton(QStringLiteral("Cancel"), this);
    cancel_->setObjectName(QStringLiteral("btCancelJob"));
    cancel_->hide();
    connect(cancel_, &QPushButton::clicked, this, &TUnitBackup::Cancel);
    lastResult_ = new QLabel(this);
    lastResult_->setObjectName(QStringLiteral("lbUnitJob"));
    // A long text must not widen the parameter group: cut, whole in the tooltip.
    lastResult_->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    state->addWidget(progress_, 1);
    state->addWidget(cancel_);
    state->addWidget(lastResult_, 1);
    column->addLayout(state);
}

TUnitBackup::~TUnitBackup() = default;

void TUnitBackup::Log(const QString& line)
{
    form_.Log()->AppendLine(line.toStdString());
}

void TUnitBackup::Fail(const QString& caption, const QString& text)
{
    messages_.ShowMessage(caption, text, QMessageBox::Critical, window());
}

std::optional<unsigned> TUnitBackup::Node(const QString& caption)
{
    const unsigned node = form_.Decoder().NodeNumber();
    if (node >= 1 && node <= 127)
        return node;
    Fail(caption, QStringLiteral("\"CAN Addr\" names no node: pick 1 to 127"));
    return std::nullopt;
}

const EdsObjects* TUnitBackup::Eds()
{
    // Made anew for each job: what the window has loaded now.
    const EdsTree* tree = form_.ObjectTree() ? form_.ObjectTree()->Model()->Tree() : nullptr;
    eds_ = tree ? std::make_unique<EdsObjects>(*tree) : nullptr;
    return eds_.get();
}

std::optional<DcfDocument> TUnitBackup::ReadFile(const QString& caption, const QString& path)
{
    std::error_code error;
    std::optional<EdsTree> tree = ReadEdsFile(std::filesystem::path(path.toStdU16String()), error);
    if (!tree) {
        Fail(caption,
             QStringLiteral("Cannot read %1: %2").arg(Native(path), QString::fromStdString(error.message())));
        return std::nullopt;
    }
    DcfDocument document = ReadDcf(*tree);
    if (std::none_of(document.entries.begin(), document.entries.end(),
                     [](const DcfEntry& e) { return e.value.has_value(); })) {
        Fail(caption,
             QStringLiteral("%1 holds no values of objects: it is no backup of a node").arg(Native(path)));
        return std::nullopt;
    }
    return document;
}

bool TUnitBackup::StartBackup(const QString& path, const std::vector<std::uint8_t>& units)
{
    if (Running())
        return false;
    const std::optional<unsigned> node = Node(QStringLiteral("Backup"));
    if (!node)
        return false;
    job_.reset(); // before the EDS it may point at is made anew
    static const std::array<PageSection, kPageCount> kNoPages{};
    const auto& pages = form_.Parameters() ? form_.Parameters()->Pages() : kNoPages;
    DcfCommissioning commissioning;
    commissioning.nodeId = *node;
    if (const std::uint32_t bps = form_.Comm() ? form_.Comm()->BitsPerSecond() : 0; bps != 0)
        commissioning.baudrate = bps / 1000;
    jobPath_ = path;
    jobNode_ = *node;
    std::vector<std::uint8_t> sorted = units;
    std::sort(sorted.begin(), sorted.end());
    jobUnits_ = UnitsText(sorted);
    Begin(
        UnitJob::Backup(form_.Canopen(), *node, BackupPlan(pages, units, Eds()), commissioning, EndedCall()),
        QStringLiteral("Backup"));
    return true;
}

std::optional<DcfDocument> TUnitBackup::PrepareFileJob(const QString& caption, const QString& path)
{
    if (Running())
        return std::nullopt;
    const std::optional<unsigned> node = Node(caption);
    if (!node)
        return std::nullopt;
    std::optional<DcfDocument> file = ReadFile(caption, path);
    if (!file)
        return std::nullopt;
    job_.reset();
    jobPath_ = path;
    jobNode_ = *node;
    return file;
}

bool TUnitBackup::StartCompare(const QString& path)
{
    std::optional<DcfDocument> file = PrepareFileJob(QStringLiteral("Compare"), path);
    if (!file)
        return false;
    Begin(UnitJob::Compare(form_.Canopen(), jobNode_, std::move(*file), Eds(), EndedCall()),
          QStringLiteral("Compare"));
    return true;
}

bool TUnitBackup::StartRestore(const QString& path, RestoreOptions options)
{
    std::optional<DcfDocument> file = PrepareFileJob(QStringLiteral("Restore"), path);
    if (!file)
        return false;
    restoreOptions_ = options;
    Begin(UnitJob::Restore(form_.Canopen(), jobNode_, std::move(*file), Eds(), options, EndedCall()),
          options.dryRun ? QStringLiteral("Preview") : QStringLiteral("Restore"));
    return true;
}

bool TUnitBackup::CompareFiles(const QString& a, const QString& b)
{
    if (Running())
        return false;
    std::optional<DcfDocument> first = ReadFile(QStringLiteral("Compare"), a);
    if (!first)
        return false;
    std::optional<DcfDocument> second = ReadFile(QStringLiteral("Compare"), b);
    if (!second)
        return false;
    job_.reset();
    RememberFolder(kBackupFolder, b);
    const std::vector<CompareRow> rows = CompareDcf(*first, *second, Eds());
    TJobResults& results = ResultsWindow();
    results.ShowComparison(QStringLiteral("%1 compared with %2").arg(FileName(a), FileName(b)), FileName(a),
                           FileName(b), rows);
    ShowIdle(
        QStringLiteral("%1 and %2: %3").arg(FileName(a), FileName(b), Differences(CountDifferences(rows))));
    return true;
}

UnitJob::Finished TUnitBackup::EndedCall()
{
    // A job calls back from the client's handling of a frame or a time-out:
    // what it ended with is shown from the event loop, where a box may open.
    return [this] {
        form_.Decoder().QuietSdoMessages(false);
        QMetaObject::invokeMethod(
            this, [this] { JobEnded(); }, Qt::QueuedConnection);
    };
}

void TUnitBackup::Begin(std::unique_ptr<UnitJob> job, const QString& what)
{
    job_ = std::move(job);
    jobWhat_ = what;
    awaitingEnd_ = true;
    RememberFolder(kBackupFolder, jobPath_);
    Log(QStringLiteral("%1 of node %2 (%3) started").arg(what).arg(jobNode_).arg(Native(jobPath_)));
    ShowRunning(true);
    form_.Decoder().QuietSdoMessages(true);
    job_->Start(clock_.Now());
    ShowProgress();
}

void TUnitBackup::Cancel()
{
    if (Running())
        job_->Cancel(clock_.Now());
}

void TUnitBackup::ShowProgress()
{
    if (!Running())
        return;
    const int steps = static_cast<int>(job_->Steps());
    const int step = std::min(static_cast<int>(job_->Step()), steps);
    progress_->setMaximum(std::max(steps, 1));
    progress_->setValue(step);
    progress_->setFormat(QStringLiteral("%1: object %2 of %3").arg(jobWhat_).arg(step).arg(steps));
}

void TUnitBackup::ShowRunning(bool running)
{
    backup_->setEnabled(!running);
    compare_->setEnabled(!running);
    restore_->setEnabled(!running);
    progress_->setVisible(running);
    cancel_->setVisible(running);
    lastResult_->setVisible(!running);
}

void TUnitBackup::ShowIdle(const QString& text)
{
    lastResult_->setText(text);
    lastResult_->setToolTip(text);
}

void TUnitBackup::JobEnded()
{
    // Called once per job, from the event loop; a job started meanwhile
    // (a forced restore) has its own call coming.
    if (!job_ || job_->Running() || !awaitingEnd_)
        return;
    awaitingEnd_ = false;
    ShowRunning(false);
    const QString where = QStringLiteral("%1 of node %2").arg(jobWhat_).arg(jobNode_);
    if (!job_->SendError().empty()) {
        const QString text = QStringLiteral("%1 stopped: %2").arg(where, Text(job_->SendError()));
        ShowIdle(text);
        Log(text);
        Fail(jobWhat_, text);
        return;
    }
    if (job_->NoAnswer()) {
        const QString text = QStringLiteral("%1: the node does not answer; nothing done").arg(where);
        ShowIdle(text);
        Log(text);
        Fail(jobWhat_, text);
        return;
    }
    if (job_->Cancelled()) {
        const QString text = QStringLiteral("%1 cancelled after %2 of %3 objects")
                                 .arg(where)
                                 .arg(job_->Step())
                                 .arg(job_->Steps());
        ShowIdle(text);
        Log(text);
        return;
    }
    switch (job_->JobKind()) {
    case UnitJob::Kind::Backup: BackupEnded(); break;
    case UnitJob::Kind::Compare: CompareEnded(); break;
    case UnitJob::Kind::Restore: RestoreEnded(); break;
    }
}

void TUnitBackup::BackupEnded()
{
    DcfDocument document = job_->Result();
    document.createdBy = "Tervix " + std::string(kTervixVersion);
    document.description =
        QStringLiteral("Settings of node %1, units %2").arg(jobNode_).arg(jobUnits_).toStdString();
    // The date as CiA 306 writes it, in English whatever the locale.
    const QDateTime now = QDateTime::currentDateTime();
    document.creationDate = QLocale::c().toString(now, QStringLiteral("MM-dd-yyyy")).toStdString();
    document.creationTime = QLocale::c().toString(now, QStringLiteral("hh:mmAP")).toStdString();
    const std::string text = DcfText(document, FileName(jobPath_).toStdString());
    // Written beside the file and renamed over it: an old backup stays whole
    // until the new one is.
    QSaveFile file(jobPath_);
    const bool written =
        file.open(QIODevice::WriteOnly) &&
        file.write(text.data(), static_cast<qint64>(text.size())) == static_cast<qint64>(text.size()) &&
        file.commit();
    if (!written) {
        const QString why = QStringLiteral("Cannot write %1: %2").arg(Native(jobPath_), file.errorString());
        ShowIdle(QStringLiteral("Backup not written"));
        Log(why);
        Fail(QStringLiteral("Backup"), why);
        return;
    }
    QString summary = QStringLiteral("Backup of node %1: %2 objects to %3")
                          .arg(jobNode_)
                          .arg(document.entries.size())
                          .arg(FileName(jobPath_));
    if (const std::size_t failures = job_->Failures(); failures != 0)
        summary += QStringLiteral(", %1 not read (noted in the file)").arg(failures);
    ShowIdle(summary);
    Log(summary + QStringLiteral(" (%1)").arg(Native(jobPath_)));
}

void TUnitBackup::CompareEnded()
{
    const std::vector<CompareRow>& rows = job_->Comparison();
    const QString node = QStringLiteral("Node %1").arg(jobNode_);
    ResultsWindow().ShowComparison(QStringLiteral("%1 compared with %2").arg(node, FileName(jobPath_)),
                                   FileName(jobPath_), node, rows);
    const QString summary =
        QStringLiteral("%1 and %2: %3").arg(node, FileName(jobPath_), Differences(CountDifferences(rows)));
    ShowIdle(summary);
    Log(summary);
}

void TUnitBackup::RestoreEnded()
{
    if (!job_->Refusal().empty()) {
        const QString why = Text(job_->Refusal());
        const QString question = QStringLiteral("%1\n\nRestore anyway?").arg(why);
        const bool force =
            !restoreOptions_.force &&
            (askForce_ ? askForce_(question)
                       : QMessageBox::question(window(), jobWhat_, question) == QMessageBox::Yes);
        if (force) {
            RestoreOptions forced = restoreOptions_;
            forced.force = true;
            const QString path = jobPath_;
            StartRestore(path, forced);
            return;
        }
        const QString text = QStringLiteral("%1 of node %2 refused: %3").arg(jobWhat_).arg(jobNode_).arg(why);
        ShowIdle(text);
        Log(text);
        return;
    }
    const std::vector<RestoreRow>& rows = job_->Report();
    std::map<RestoreOutcome, std::size_t> counts;
    for (const RestoreRow& row : rows)
        ++counts[row.outcome];
    QStringList counted;
    for (const auto& [outcome, count] : counts)
        counted << QStringLiteral("%1 %2").arg(count).arg(Text(RestoreOutcomeText(outcome)));
    const QString summary =
        QStringLiteral("%1 of %2 to node %3: %4")
            .arg(jobWhat_, FileName(jobPath_))
            .arg(jobNode_)
            .arg(counted.isEmpty() ? QStringLiteral("nothing to write") : counted.join(QStringLiteral(", ")));
    ResultsWindow().ShowReport(
        QStringLiteral("%1 of %2 to node %3").arg(jobWhat_, FileName(jobPath_)).arg(jobNode_), summary, rows);
    ShowIdle(summary);
    Log(summary);
}

TJobResults& TUnitBackup::ResultsWindow()
{
    if (!results_)
        results_ = new TJobResults(window());
    results_->SetMarkedOnly(false);
    results_->show();
    results_->raise();
    return *results_;
}

void TUnitBackup::BackupClick()
{
    if (Running())
        return;
    const unsigned node = form_.Decoder().NodeNumber();
    const QString folder = LastFolder(kBackupFolder);
    TBackupDialog dialog(node,
                         QDir(folder.isEmpty() ? QDir::currentPath() : folder)
                             .filePath(QStringLiteral("node%1.dcf").arg(node)),
                         window());
    if (dialog.exec() == QDialog::Accepted)
        StartBackup(dialog.Path(), dialog.Units());
}

void TUnitBackup::CompareClick()
{
    if (Running())
        return;
    const QString path = QFileDialog::getOpenFileName(
        window(), QStringLiteral("Compare node %1 with").arg(form_.Decoder().NodeNumber()),
        LastFolder(kBackupFolder), kFileFilter);
    if (!path.isEmpty())
        StartCompare(path);
}

void TUnitBackup::CompareFilesClick()
{
    if (Running())
        return;
    const QString a = QFileDialog::getOpenFileName(window(), QStringLiteral("Compare the file"),
                                                   LastFolder(kBackupFolder), kFileFilter);
    if (a.isEmpty())
        return;
    const QString b = QFileDialog::getOpenFileName(window(), QStringLiteral("with the file"),
                                                   QFileInfo(a).path(), kFileFilter);
    if (!b.isEmpty())
        CompareFiles(a, b);
}

void TUnitBackup::RestoreClick()
{
    if (Running())
        return;
    TRestoreDialog dialog(form_.Decoder().NodeNumber(), window());
    if (dialog.exec() == QDialog::Accepted)
        StartRestore(dialog.Path(), dialog.Options());
}
