// The node view shows what the monitor holds: a silent node marked in red,
// and the selected node's emergencies, kept selected as nodes come in.
#include "node_view.h"

#include "candump_reader.h"

#include <gtest/gtest.h>

#include <QTableWidget>

namespace {

using namespace tervix;
using namespace std::chrono_literals;

TEST(NodeView, MarksSilentNodesAndListsTheSelectedNodesEmergencies)
{
    NodeMonitor m;
    TNodeView view;
    const auto feed = [&m](std::string_view candump, TimePoint at) {
        CandumpPacket packet;
        ASSERT_EQ(ParseCandumpLine(candump, packet).kind, CandumpLineKind::Frame);
        m.Receive(packet.frame, at);
    };
    const QTableWidget* nodes = view.NodeTable();
    const auto state = [nodes](int row) { return nodes->item(row, TNodeView::kStateColumn); };
    const QColor red(0xb0, 0x00, 0x00);
    const TimePoint t0{};
    feed("183#01", t0);
    for (int i = 0; i < 4; ++i)
        feed("705#05", t0 + i * 100ms);
    feed("085#1081110000000001", t0 + 310ms);
    m.Tick(t0 + 600ms);
    view.Show(m, t0 + 600ms);
    ASSERT_EQ(nodes->rowCount(), 2);
    EXPECT_EQ(state(1)->text(), "silent (operational)");
    EXPECT_EQ(state(1)->foreground().color(), red);
    EXPECT_NE(state(0)->foreground().color(), red);
    EXPECT_EQ(nodes->item(1, TNodeView::kEmergenciesColumn)->text(),
              "1, last 8110 CAN overrun (objects lost)");

    view.NodeTable()->selectRow(1);
    feed("705#05", t0 + 800ms); // back
    feed("181#01", t0 + 800ms); // a row before node 5's
    view.Show(m, t0 + 850ms);
    EXPECT_EQ(state(2)->text(), "operational");
    EXPECT_NE(state(2)->foreground().color(), red);
    EXPECT_EQ(nodes->selectionModel()->selectedRows().value(0).row(), 2);
    const QTableWidget* history = view.HistoryTable();
    ASSERT_EQ(history->rowCount(), 1);
    EXPECT_EQ(history->item(0, TNodeView::kCodeColumn)->text(), "8110");
    EXPECT_EQ(history->item(0, TNodeView::kRegisterColumn)->text(), "11 (generic, communication)");
    EXPECT_EQ(history->item(0, TNodeView::kManufacturerColumn)->text(), "00 00 00 00 01");
}

} // namespace
