// The node view: one row per CANopen node heard (node, NMT state, heartbeat
// period, last seen, emergencies), a silent node in red, and below it the
// selected node's emergencies. Widgets only: it shows what a NodeMonitor
// holds, and looks again only when the monitor changed or the ages are due.
#pragma once

#include "node_monitor.h"

#include <QWidget>

#include <cstdint>

class QTableWidget;

class TNodeView : public QWidget {
    Q_OBJECT
public:
    enum NodeColumn { kNodeColumn, kStateColumn, kHeartbeatColumn, kLastSeenColumn, kEmergenciesColumn };
    enum HistoryColumn { kTimeColumn, kCodeColumn, kTextColumn, kRegisterColumn, kManufacturerColumn };

    explicit TNodeView(QWidget* parent = nullptr);

    // Called by the display timer while the view is in sight.
    void Show(const tervix::NodeMonitor& monitor, tervix::TimePoint now);

    QTableWidget* NodeTable() const { return nodes_; }
    QTableWidget* HistoryTable() const { return history_; }

private:
    void Refresh(const tervix::NodeMonitor& monitor, tervix::TimePoint now);
    void ShowAges(const tervix::NodeMonitor& monitor, tervix::TimePoint now);
    void ShowHistory(const tervix::NodeRecord* record, tervix::TimePoint now);

    QTableWidget* nodes_;
    QTableWidget* history_;
    std::uint64_t shownChanges_ = ~std::uint64_t{0};
    tervix::TimePoint shownAt_{};
    int selectedNode_ = 0;
    // What the history shows: its node and how many emergencies that node had.
    int historyNode_ = -1;
    std::uint64_t historyCount_ = 0;
    bool selectionChanged_ = false;
};
