#include "EDS_unit.h"

#include "DialogSDO.h"
#include "eds_tree_model.h"
#include "od_log.h"

#include <QElapsedTimer>
#include <QEvent>
#include <QFileDialog>
#include <QGuiApplication>
#include <QMouseEvent>
#include <QPlainTextEdit>
#include <QSplitter>
#include <QTreeView>
#include <QVBoxLayout>

#include <filesystem>

namespace {

QString FromText(std::string_view s)
{
    return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size()));
}

std::optional<tervix::EdsTree> ReadFile(const QString& name)
{
    if (name.isEmpty())
        return std::nullopt;
    std::error_code error;
    auto tree = tervix::ReadEdsFile(std::filesystem::path(name.toStdString()), error);
    if (!tree)
        qCDebug(lcOd) << "cannot read" << name << ":" << QString::fromStdString(error.message());
    return tree;
}

} // namespace

TOpenDialog::TOpenDialog(QWidget* owner, QString fileName, QString defaultExt, QString filter)
    : QObject(owner), owner_(owner), fileName_(std::move(fileName)), defaultExt_(std::move(defaultExt)),
      filter_(std::move(filter))
{
}

QString TOpenDialog::NameFilter(const QString& filter)
{
    const QStringList parts = filter.split(u'|');
    QStringList filters;
    for (qsizetype i = 0; i + 1 < parts.size(); i += 2)
        filters << QStringLiteral("%1 (%2)").arg(parts[i], QString(parts[i + 1]).replace(u';', u' '));
    return filters.join(QStringLiteral(";;"));
}

bool TOpenDialog::Execute()
{
    // Nobody can answer a modal dialog on the offscreen platform (tests,
    // headless runs): it counts as cancelled instead of waiting for ever.
    if (QGuiApplication::platformName() == QLatin1String("offscreen"))
        return false;
    QFileDialog dialog(owner_);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setFileMode(QFileDialog::ExistingFile);
    dialog.setNameFilter(NameFilter(filter_));
    QString suffix = defaultExt_;
    suffix.remove(QStringLiteral("*")).remove(QStringLiteral("."));
    dialog.setDefaultSuffix(suffix);
    if (!startFolder_.isEmpty())
        dialog.setDirectory(startFolder_);
    dialog.selectFile(fileName_);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return false;
    fileName_ = dialog.selectedFiles().first();
    emit fileChosen(fileName_);
    return true;
}

TServiceObjects::TServiceObjects(QWidget* sheet) : QObject(sheet), sheet_(sheet)
{
    model_ = new EdsTreeModel(this);

    splitter_ = new QSplitter(Qt::Vertical, sheet_);
    splitter_->setObjectName(QStringLiteral("Splitter"));
    splitter_->setChildrenCollapsible(false);
    if (QLayout* layout = sheet_->layout()) {
        layout->addWidget(splitter_);
    } else {
        auto* fill = new QVBoxLayout(sheet_);
        fill->setContentsMargins(0, 0, 0, 0);
        fill->addWidget(splitter_);
    }

    treeView_ = new QTreeView(splitter_);
    treeView_->setObjectName(QStringLiteral("TreeView"));
    treeView_->setHeaderHidden(true);
    // All rows are one line high: the view need not measure tens of
    // thousands of them to lay the tree out.
    treeView_->setUniformRowHeights(true);
    treeView_->setSelectionMode(QAbstractItemView::SingleSelection);
    treeView_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    treeView_->setModel(model_);

    memo_ = new QPlainTextEdit(splitter_);
    memo_->setObjectName(QStringLiteral("Memo"));
    memo_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    memo_->setLineWrapMode(QPlainTextEdit::NoWrap);

    // The tree keeps its height when the page grows; the memo takes the rest.
    splitter_->setStretchFactor(0, 0);
    splitter_->setStretchFactor(1, 1);

    treeView_->installEventFilter(this);
    treeView_->viewport()->installEventFilter(this);
    sheet_->installEventFilter(this);
    PlaceSplitter();
}

TServiceObjects::~TServiceObjects()
{
    // The splitter holds the tree and the memo.
    delete splitter_.data();
}

void TServiceObjects::PlaceSplitter()
{
    const int height = sheet_->contentsRect().height();
    if (height <= 0)
        return;
    const int tree = height / 3 * 2;
    treeView_->setMinimumHeight(height / 4);
    memo_->setMinimumHeight(height / 4);
    splitter_->setSizes({tree, std::max(height - tree - splitter_->handleWidth(), 0)});
}

void TServiceObjects::LoadEDS(EdsOpenDialog* dialog)
{
    openDialog_ = dialog;
    QElapsedTimer timer;
    timer.start();
    std::optional<tervix::EdsTree> tree;
    if (dialog) {
        tree = ReadFile(dialog->FileName());
        if (!tree && dialog->Execute())
            tree = ReadFile(dialog->FileName());
    }
    if (tree) {
        for (const tervix::EdsWarning& w : tree->Warnings())
            qCDebug(lcOd) << "line" << w.firstLine << ":" << FromText(tervix::EdsWarningText(w.kind)) << "x"
                          << w.count;
        model_->Load(std::move(*tree));
        qCDebug(lcOd) << "read" << dialog->FileName() << ":" << model_->NodeCount() << "sections in"
                      << timer.elapsed() << "ms";
    }
    treeView_->expand(model_->RootIndex());
}

void TServiceObjects::TreeClick()
{
    const QModelIndexList selected = treeView_->selectionModel()->selectedIndexes();
    const tervix::EDSNode* node = selected.isEmpty() ? nullptr : model_->Node(selected.first());
    QString text;
    for (const std::string& line : tervix::SectionMemoLines(node)) {
        if (!text.isEmpty())
            text += u'\n';
        text += MemoLine(line);
    }
    memo_->setPlainText(text);
}

void TServiceObjects::TreeMouseDown(Qt::MouseButton button, Qt::KeyboardModifiers, QPoint point)
{
    if (button != Qt::RightButton)
        return;
    const QModelIndex index = treeView_->indexAt(point);
    if (!index.isValid())
        return;
    const tervix::EDSNode* node = model_->Node(index);
    memo_->appendPlainText(FromText(tervix::AddressMemoLine(node)));
    if (node && sdoDialog_)
        sdoDialog_->ShowNode(*node);
}

bool TServiceObjects::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == sheet_) {
        if (event->type() == QEvent::Show && !splitterPlaced_) {
            splitterPlaced_ = true;
            PlaceSplitter();
        }
        return false;
    }
    switch (event->type()) {
    case QEvent::MouseButtonPress:
        if (watched == treeView_->viewport()) {
            const auto* mouse = static_cast<QMouseEvent*>(event);
            if (mouse->button() == Qt::RightButton) {
                TreeMouseDown(mouse->button(), mouse->modifiers(), mouse->position().toPoint());
                // The press is ours alone: the selection stays where it was.
                return true;
            }
        }
        break;
    case QEvent::MouseButtonRelease:
        // The view selects on the press, so the selection is already the
        // clicked node here.
        if (watched == treeView_->viewport() && static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton)
            TreeClick();
        break;
    case QEvent::KeyRelease:
        if (watched == treeView_)
            TreeClick();
        break;
    default: break;
    }
    return false;
}
