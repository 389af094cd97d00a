// The communication log: the ring, its columns, copy, pause, clear, the
// filter and saving. Expected texts are written out by hand.
#include "log_toolbar.h"
#include "log_view.h"
#include "recording_message_sink.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QFile>
#include <QPushButton>
#include <QScrollBar>
#include <QSpinBox>
#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace std::chrono_literals;
using tervix::LogDirection;

namespace {

std::string L(int i)
{
    return "line " + std::to_string(i);
}

std::vector<std::string> Shown(const LogView& view)
{
    std::vector<std::string> v;
    for (std::size_t i = 0; i < view.ShownCount(); ++i)
        v.push_back(view.ShownLine(i));
    return v;
}

TEST(LogView, KeepsOnlyTheNewestLines)
{
    LogView view(nullptr, 5);
    for (int i = 0; i < 12; ++i)
        view.AppendLine(L(i));
    ASSERT_EQ(view.LineCount(), 5u);
    EXPECT_EQ(view.Line(0), "line 7");
    EXPECT_EQ(view.Line(4), "line 11");
    EXPECT_EQ(view.Text(), "line 7\nline 8\nline 9\nline 10\nline 11");
}

TEST(LogView, LinesWiderThanTheViewScrollSideways)
{
    LogView view(nullptr, 100);
    view.resize(300, 200);
    view.AppendLine("short");
    view.Sync();
    EXPECT_EQ(view.horizontalScrollBar()->maximum(), 0);
    view.AppendLine(std::string(400, 'x'));
    view.Sync();
    const int width = view.fontMetrics().horizontalAdvance(QString(400, QLatin1Char('x')));
    EXPECT_GE(view.horizontalScrollBar()->maximum(), width - view.viewport()->width());
    view.Clear();
    view.Sync();
    EXPECT_EQ(view.horizontalScrollBar()->maximum(), 0);
}

// A received frame, a request, adapter text and a note, at hand-picked times
// after the view started at 14:05:07.250 on the wall clock.
class LogColumns : public ::testing::Test {
protected:
    LogColumns()
    {
        view.SetWallStart(QDateTime(QDate(2026, 3, 1), QTime(14, 5, 7, 250)));
        clock.Advance(1234ms);
        view.AppendEntry({"SFF: SYNC  addr=00 Data= ", LogDirection::Rx, 1, 0});
        clock.Advance(65001ms);
        view.AppendEntry({"NMT Start", LogDirection::Tx, 0, 1});
        clock.Advance(3599s);
        view.AppendEntry({"OK", LogDirection::Text, 0, -1});
        clock.Advance(7ms);
        view.AppendLine("Recording to x.log");
    }
    tervix::ManualClock clock;
    LogView view{nullptr, 100, clock};
};

TEST_F(LogColumns, TimeSinceStartOrOfDayAndDirection)
{
    // A frame logged after it was received shows its receive time.
    view.AppendEntry({"SFF: SYNC  addr=00 Data= ", LogDirection::Rx, 1, 0, clock.Now() - 500ms});
    struct Row {
        const char* since;
        const char* ofDay;
        const char* direction;
    };
    const Row rows[] = {
        {"1.234", "14:05:08.484", "Rx"},
        {"66.235", "14:06:13.485", "Tx"},
        {"3665.235", "15:06:12.485", "Text"},
        {"3665.242", "15:06:12.492", "--"},
        {"3664.742", "15:06:11.992", "Rx"},
    };
    ASSERT_EQ(view.ShownCount(), std::size(rows));
    for (std::size_t i = 0; i < std::size(rows); ++i) {
        EXPECT_EQ(view.TimeText(i), rows[i].since) << i;
        EXPECT_EQ(view.DirectionText(i), rows[i].direction) << i;
    }
    view.SetClockTime(true);
    for (std::size_t i = 0; i < std::size(rows); ++i)
        EXPECT_EQ(view.TimeText(i), rows[i].ofDay) << i;
}

TEST_F(LogColumns, CopyGivesTabSeparatedColumns)
{
    view.SelectLines(1, 2);
    EXPECT_EQ(view.SelectedText(), "66.235\tTx\tNMT Start\n3665.235\tText\tOK\n");
    view.resize(300, 200);
    view.setFocus();
    view.SetClockTime(true);
    QTest::keyClick(&view, Qt::Key_C, Qt::ControlModifier);
    EXPECT_EQ(QApplication::clipboard()->text(), "14:06:13.485\tTx\tNMT Start\n15:06:12.485\tText\tOK\n");
    QTest::keyClick(&view, Qt::Key_A, Qt::ControlModifier);
    EXPECT_EQ(view.SelectedText().count('\n'), 4);
}

TEST(LogView, SelectionShrinksAsLinesLeaveTheRing)
{
    tervix::ManualClock clock;
    LogView view(nullptr, 4, clock);
    for (int i = 0; i < 4; ++i)
        view.AppendLine(L(i));
    view.SelectLines(0, 2);
    view.AppendLine(L(4));
    view.AppendLine(L(5));
    EXPECT_EQ(view.SelectedText(), "0.000\t--\tline 2\n");
}

TEST(LogView, FollowsTheEndUnlessScrolledUp)
{
    LogView view(nullptr, 1000);
    view.resize(300, 120);
    view.show();
    for (int i = 0; i < 200; ++i)
        view.AppendLine(L(i));
    view.Sync();
    QScrollBar* bar = view.verticalScrollBar();
    EXPECT_EQ(bar->value(), bar->maximum());
    EXPECT_GT(bar->maximum(), 0);

    bar->setValue(10);
    EXPECT_FALSE(view.FollowsEnd());
    for (int i = 200; i < 300; ++i)
        view.AppendLine(L(i));
    view.Sync();
    EXPECT_EQ(bar->value(), 10); // the user's place is kept

    bar->setValue(bar->maximum());
    EXPECT_TRUE(view.FollowsEnd());
    view.AppendLine(L(300));
    view.Sync();
    EXPECT_EQ(bar->value(), bar->maximum());
}

class LogBar : public ::testing::Test {
protected:
    LogBar() : bar(view, sink)
    {
        view.resize(300, 120);
        view.show();
        bar.show();
    }
    void Untick(const std::vector<int>& groups)
    {
        for (int g : groups)
            bar.GroupAction(g)->setChecked(false);
    }
    tervix::ManualClock clock;
    LogView view{nullptr, 1000, clock};
    RecordingMessageSink sink;
    LogToolBar bar;
};

TEST_F(LogBar, PauseFreezesTheViewWhileLinesAreStillKept)
{
    for (int i = 0; i < 200; ++i)
        view.AppendLine(L(i));
    view.Sync();
    QScrollBar* scroll = view.verticalScrollBar();
    const int frozenMax = scroll->maximum();
    ASSERT_GT(frozenMax, 0);

    QTest::mouseClick(bar.PauseButton(), Qt::LeftButton);
    ASSERT_TRUE(view.Paused());
    for (int i = 200; i < 300; ++i)
        view.AppendLine(L(i));
    view.Sync();
    EXPECT_EQ(view.LineCount(), 300u);
    EXPECT_EQ(view.Line(299), "line 299");
    EXPECT_EQ(view.ShownCount(), 200u);
    EXPECT_EQ(scroll->maximum(), frozenMax);
    EXPECT_EQ(scroll->value(), frozenMax);
    view.SelectAll();
    EXPECT_EQ(view.SelectedText().count('\n'), 200);

    QTest::mouseClick(bar.PauseButton(), Qt::LeftButton);
    EXPECT_FALSE(view.Paused());
    EXPECT_EQ(view.ShownCount(), 300u);
    EXPECT_EQ(scroll->maximum(), frozenMax + 100);
    EXPECT_EQ(scroll->value(), scroll->maximum());
    EXPECT_TRUE(view.FollowsEnd());
}

TEST_F(LogBar, ClearEmptiesTheViewAndItsFilteredRows)
{
    Untick({0}); // NMT
    view.AppendEntry({"tpdo", LogDirection::Rx, 3, 1});
    view.AppendEntry({"nmt", LogDirection::Rx, 0, 1});
    view.SelectAll();
    QTest::mouseClick(bar.ClearButton(), Qt::LeftButton);
    EXPECT_EQ(view.LineCount(), 0u);
    EXPECT_EQ(view.ShownCount(), 0u);
    EXPECT_EQ(view.SelectedText(), "");
    EXPECT_EQ(view.FilteredText(), "");
    view.AppendEntry({"after", LogDirection::Rx, 3, 1});
    EXPECT_EQ(Shown(view), (std::vector<std::string>{"after"}));
}

struct FilterCase {
    const char* name;
    std::vector<int> untick; // groups of the menu, by position
    int node;
    std::vector<std::string> shown;
};

class LogFilter : public LogBar, public ::testing::WithParamInterface<FilterCase> {};

// Half the lines come before the filter is set (the one pass over the
// ring), half after (added as they come).
TEST_P(LogFilter, ShowsTheChosenFunctionsAndNode)
{
    view.AppendEntry({"nmt n5", LogDirection::Tx, 0, 5});
    view.AppendEntry({"emcy n1", LogDirection::Rx, 1, 1});
    view.AppendEntry({"tpdo1 n1", LogDirection::Rx, 3, 1});
    view.AppendEntry({"sdo n2", LogDirection::Tx, 12, 2});
    view.AppendEntry({"guard n1", LogDirection::Tx, 14, 1});
    Untick(GetParam().untick);
    bar.NodeBox()->setValue(GetParam().node);
    view.AppendEntry({"OK", LogDirection::Text, 0, -1});
    view.AppendEntry({"note", LogDirection::Event, 0, -1});
    view.AppendEntry({"time", LogDirection::Rx, 2, 0});
    view.AppendEntry({"tpdo4 n2", LogDirection::Rx, 9, 2});
    EXPECT_EQ(Shown(view), GetParam().shown);
    EXPECT_EQ(view.LineCount(), 9u);
}

// Menu positions: 0 NMT, 1 SYNC/EMERGENCY, 2 PDO, 3 SDO, 4 guarding,
// 5 adapter text, 6 notes, 7 other.
INSTANTIATE_TEST_SUITE_P(
    Cases, LogFilter,
    ::testing::Values(
        FilterCase{"Everything",
                   {},
                   -1,
                   {"nmt n5", "emcy n1", "tpdo1 n1", "sdo n2", "guard n1", "OK", "note", "time", "tpdo4 n2"}},
        FilterCase{"PdoOnly", {0, 1, 3, 4, 5, 6, 7}, -1, {"tpdo1 n1", "tpdo4 n2"}},
        FilterCase{"PdoAndSdoOfNode2", {0, 1, 4, 5, 6, 7}, 2, {"sdo n2", "tpdo4 n2"}},
        FilterCase{"Node1KeepsTextAndNotes", {}, 1, {"emcy n1", "tpdo1 n1", "guard n1", "OK", "note"}},
        FilterCase{"NmtOfTheNodeItAddresses", {5, 6}, 5, {"nmt n5"}},
        FilterCase{"EmergencyAndGuarding", {0, 2, 3, 5, 6, 7}, -1, {"emcy n1", "guard n1"}},
        FilterCase{"OtherIsTime", {0, 1, 2, 3, 4, 5, 6}, -1, {"time"}},
        FilterCase{"NothingTicked", {0, 1, 2, 3, 4, 5, 6, 7}, -1, {}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(LogView, FilteredRowsLeaveWithTheirLines)
{
    LogView view(nullptr, 4);
    LogView::Filter pdo;
    pdo.kinds = 1u << 3;
    view.SetFilter(pdo);
    for (int i = 0; i < 10; ++i)
        view.AppendEntry({L(i), LogDirection::Rx, i % 2 ? 3 : 0, 1});
    // Kept: lines 6..9; of those the odd ones are TPDO1.
    EXPECT_EQ(Shown(view), (std::vector<std::string>{"line 7", "line 9"}));
}

TEST_F(LogBar, SaveWritesTheFilteredRows)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString path = dir.filePath("log.txt");
    bar.SetSaveFileAsker([&] { return path; });
    clock.Advance(1500ms);
    view.AppendEntry({"SFF: SYNC  addr=00 Data= ", LogDirection::Rx, 1, 0});
    view.AppendEntry({"Tx:( 01 E0 20 07 )", LogDirection::Tx, 14, 1});
    clock.Advance(20ms);
    view.AppendEntry({"OK \xB5", LogDirection::Text, 0, -1});
    view.AppendEntry({"Tx: SDO(1002sub00)", LogDirection::Tx, 12, 1});
    Untick({3}); // SDO
    QTest::mouseClick(bar.SaveButton(), Qt::LeftButton);
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(file.readAll(), QByteArray("1.500\tRx\tSFF: SYNC  addr=00 Data= \n"
                                         "1.500\tTx\tTx:( 01 E0 20 07 )\n"
                                         "1.520\tText\tOK \xB5\n"));
    EXPECT_TRUE(sink.messages.empty());

    bar.SetSaveFileAsker([&] { return dir.filePath("missing/log.txt"); });
    bar.SaveClick();
    ASSERT_EQ(sink.messages.size(), 1u);
    EXPECT_EQ(sink.messages[0].caption, "Save log");
    EXPECT_TRUE(sink.messages[0].text.contains("missing/log.txt"));

    bar.SetSaveFileAsker([] { return QString(); }); // cancelled
    bar.SaveClick();
    EXPECT_EQ(sink.messages.size(), 1u);
}

} // namespace
