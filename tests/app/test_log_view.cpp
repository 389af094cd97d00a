#include "log_view.h"

#include <QApplication>
#include <QClipboard>
#include <QScrollBar>
#include <QTest>
#include <gtest/gtest.h>

#include <string>

namespace {

std::string L(int i)
{
    return "line " + std::to_string(i);
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

TEST(LogView, SelectionCopiesWholeLines)
{
    LogView view(nullptr, 100);
    for (int i = 0; i < 10; ++i)
        view.AppendLine(L(i));
    view.SelectLines(2, 4);
    EXPECT_EQ(view.SelectedText(), "line 2\nline 3\nline 4\n");
    view.resize(300, 200);
    view.setFocus();
    QTest::keyClick(&view, Qt::Key_C, Qt::ControlModifier);
    EXPECT_EQ(QApplication::clipboard()->text(), "line 2\nline 3\nline 4\n");
    QTest::keyClick(&view, Qt::Key_A, Qt::ControlModifier);
    EXPECT_EQ(view.SelectedText().count('\n'), 10);
}

TEST(LogView, SelectionShrinksAsLinesLeaveTheRing)
{
    LogView view(nullptr, 4);
    for (int i = 0; i < 4; ++i)
        view.AppendLine(L(i));
    view.SelectLines(0, 2);
    view.AppendLine(L(4));
    view.AppendLine(L(5));
    EXPECT_EQ(view.SelectedText(), "line 2\n");
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
    EXPECT_EQ(bar->value(), 10);  // the user's place is kept

    bar->setValue(bar->maximum());
    EXPECT_TRUE(view.FollowsEnd());
    view.AppendLine(L(300));
    view.Sync();
    EXPECT_EQ(bar->value(), bar->maximum());
}

} // namespace
