#include "node_view.h"

#include "hex_text.h"
#include "read_only_table.h"

#include <QDateTime>
#include <QHeaderView>
#include <QLabel>
#include <QSignalBlocker>
#include <QSplitter>
#include <QTableWidget>
#include <QVBoxLayout>

#include <algorithm>

using namespace tervix;

namespace {

// Changes shown at most this often; ages at least this often.
constexpr auto kRefreshEvery = std::chrono::milliseconds(100);
constexpr auto kAgesEvery = std::chrono::seconds(1);

const QColor kSilentColor(0xb0, 0x00, 0x00);

QTableWidget* MakeTable(const QStringList& headers, QWidget* parent, const char* name)
{
    QTableWidget* table = MakeReadOnlyTable(headers, parent, name);
    table->horizontalHeader()->setStretchLastSection(true);
    table->setSelectionMode(QAbstractItemView::SingleSelection);
    return table;
}

// Sets a cell's text and colour, touching the item only when they changed.
void SetCell(QTableWidget* table, int row, int column, const QString& text, const QColor& color = {})
{
    QTableWidgetItem* item = table->item(row, column);
    if (!item) {
        item = new QTableWidgetItem(text);
        table->setItem(row, column, item);
    }
    if (item->text() != text)
        item->setText(text);
    const QVariant brush = color.isValid() ? QVariant(QBrush(color)) : QVariant();
    if (item->data(Qt::ForegroundRole) != brush)
        item->setData(Qt::ForegroundRole, brush);
}

QString Text(std::string_view s)
{
    return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size()));
}

QString StateText(const NodeRecord& r)
{
    QString text = Text(NmtStateText(r.state));
    return r.silent ? QStringLiteral("silent (%1)").arg(text) : text;
}

QString EmergenciesText(const NodeRecord& r)
{
    const Emergency* last = r.LastEmergency();
    if (!last)
        return {};
    std::string code;
    AppendHex4(code, last->code);
    return QStringLiteral("%1, last %2 %3")
        .arg(r.emergencyCount)
        .arg(Text(code), Text(EmergencyCodeText(last->code).value_or("")));
}

} // namespace

TNodeView::TNodeView(QWidget* parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("NodeView"));
    nodes_ = MakeTable({tr("Node"), tr("State"), tr("Heartbeat"), tr("Last seen"), tr("Emergencies")}, this,
                       "tbNodes");
    history_ = MakeTable({tr("Time"), tr("Code"), tr("Text"), tr("Register"), tr("Manufacturer")}, this,
                         "tbEmergencies");
    auto* lower = new QWidget(this);
    auto* lowerLayout = new QVBoxLayout(lower);
    lowerLayout->setContentsMargins(0, 0, 0, 0);
    lowerLayout->addWidget(new QLabel(tr("Emergencies of the selected node, newest first"), lower));
    lowerLayout->addWidget(history_);
    auto* splitter = new QSplitter(Qt::Vertical, this);
    splitter->addWidget(nodes_);
    splitter->addWidget(lower);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(splitter);
    connect(nodes_, &QTableWidget::itemSelectionChanged, this, [this] {
        const auto rows = nodes_->selectionModel()->selectedRows();
        const QTableWidgetItem* item =
            rows.isEmpty() ? nullptr : nodes_->item(rows.first().row(), kNodeColumn);
        const int node = item ? item->text().toInt() : 0;
        if (node != selectedNode_) {
            selectedNode_ = node;
            selectionChanged_ = true;
        }
    });
}

void TNodeView::Show(const NodeMonitor& monitor, TimePoint now)
{
    const bool changed = monitor.Changes() != shownChanges_ || selectionChanged_;
    if (changed && now - shownAt_ >= kRefreshEvery)
        Refresh(monitor, now);
    else if (now - shownAt_ >= kAgesEvery)
        ShowAges(monitor, now);
}

void TNodeView::Refresh(const NodeMonitor& monitor, TimePoint now)
{
    shownChanges_ = monitor.Changes();
    selectionChanged_ = false;
    const auto& records = monitor.Nodes();
    const int rows = static_cast<int>(records.size());
    if (nodes_->rowCount() != rows) {
        const QSignalBlocker block(nodes_);
        nodes_->setRowCount(rows);
    }
    for (int row = 0; row < rows; ++row) {
        const NodeRecord& r = records[static_cast<std::size_t>(row)];
        const QColor color = r.silent ? kSilentColor : QColor();
        SetCell(nodes_, row, kNodeColumn, QString::number(r.node), color);
        SetCell(nodes_, row, kStateColumn, StateText(r), color);
        SetCell(nodes_, row, kHeartbeatColumn, Text(DurationText(r.heartbeatPeriod)), color);
        SetCell(nodes_, row, kEmergenciesColumn, EmergenciesText(r), color);
    }
    // A row keeps its node when nodes are added before it.
    int selectedRow = -1;
    for (int row = 0; row < rows; ++row)
        if (records[static_cast<std::size_t>(row)].node == selectedNode_)
            selectedRow = row;
    const auto selected = nodes_->selectionModel()->selectedRows();
    if (selectedRow < 0) {
        selectedNode_ = 0;
    } else if (selected.isEmpty() || selected.first().row() != selectedRow) {
        const QSignalBlocker block(nodes_);
        nodes_->selectRow(selectedRow);
    }
    ShowAges(monitor, now);
    ShowHistory(monitor.Find(selectedNode_), now);
}

void TNodeView::ShowAges(const NodeMonitor& monitor, TimePoint now)
{
    shownAt_ = now;
    const auto& records = monitor.Nodes();
    const int rows = std::min(nodes_->rowCount(), static_cast<int>(records.size()));
    for (int row = 0; row < rows; ++row) {
        const NodeRecord& r = records[static_cast<std::size_t>(row)];
        SetCell(nodes_, row, kLastSeenColumn, Text(DurationText(r.SinceSeen(now))) + tr(" ago"),
                r.silent ? kSilentColor : QColor());
    }
}

void TNodeView::ShowHistory(const NodeRecord* record, TimePoint now)
{
    const int node = record ? record->node : 0;
    const std::uint64_t count = record ? record->emergencyCount : 0;
    if (node == historyNode_ && count == historyCount_)
        return;
    historyNode_ = node;
    historyCount_ = count;
    const int rows = record ? static_cast<int>(record->emergencies.size()) : 0;
    history_->setRowCount(rows);
    // Times of day: the steady times put on the wall clock once, now.
    const QDateTime wallNow = QDateTime::currentDateTime();
    for (int row = 0; row < rows; ++row) {
        const Emergency& e =
            record->emergencies[record->emergencies.size() - 1 - static_cast<std::size_t>(row)];
        const auto ago = std::chrono::duration_cast<std::chrono::milliseconds>(now - e.at);
        std::string code, reg;
        AppendHex4(code, e.code);
        AppendHex2(reg, e.errorRegister);
        SetCell(history_, row, kTimeColumn,
                wallNow.addMSecs(-ago.count()).toString(QStringLiteral("HH:mm:ss.zzz")));
        SetCell(history_, row, kCodeColumn, Text(code));
        SetCell(history_, row, kTextColumn, Text(EmergencyCodeText(e.code).value_or("")));
        SetCell(history_, row, kRegisterColumn,
                Text(reg) + QStringLiteral(" (") + Text(ErrorRegisterText(e.errorRegister)) +
                    QStringLiteral(")"));
        SetCell(history_, row, kManufacturerColumn, Text(ManufacturerBytesText(e)));
    }
}
