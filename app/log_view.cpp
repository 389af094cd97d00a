#include "log_view.h"

#include <QApplication>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QFontDatabase>
#include <QKeyEvent>
#include <QMenu>
#include <QPainter>
#include <QScrollBar>
#include <QTimer>

#include <algorithm>

LogView::LogView(QWidget* parent, std::size_t capacity) : QAbstractScrollArea(parent), capacity_(std::max<std::size_t>(capacity, 1))
{
    setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    setFocusPolicy(Qt::StrongFocus);
    viewport()->setCursor(Qt::IBeamCursor);
    viewport()->setBackgroundRole(QPalette::Base);
    ring_.reserve(std::min<std::size_t>(capacity_, 4096));
}

void LogView::AppendLine(std::string_view line)
{
    if (count_ < capacity_) {
        const std::size_t at = (head_ + count_) % capacity_;
        if (at == ring_.size())
            ring_.emplace_back(line);
        else
            ring_[at].assign(line);  // reuses the slot's storage
        ++count_;
    } else {
        ring_[head_].assign(line);
        head_ = (head_ + 1) % capacity_;
    }
    ++total_;
    // The font is meant to be fixed-width, so the widest line is the one with
    // most characters; measured once, when such a line comes.
    if (line.size() > longest_) {
        longest_ = line.size();
        longestWidth_ = fontMetrics().horizontalAdvance(
            QString::fromLatin1(line.data(), static_cast<qsizetype>(line.size())));
    }
    ScheduleSync();
}

void LogView::Clear()
{
    head_ = count_ = 0;
    longest_ = 0;
    longestWidth_ = 0;
    topAbs_ = total_;
    hasSelection_ = false;
    follow_ = true;
    ScheduleSync();
}

const std::string& LogView::Line(std::size_t i) const
{
    return ring_[(head_ + i) % capacity_];
}

const std::string& LogView::AbsLine(std::uint64_t abs) const
{
    return Line(static_cast<std::size_t>(abs - FirstAbs()));
}

QString LogView::Text() const
{
    QString s;
    for (std::size_t i = 0; i < count_; ++i) {
        if (i)
            s += QLatin1Char('\n');
        s += QLatin1String(Line(i));
    }
    return s;
}

void LogView::SelectAll()
{
    if (count_ == 0)
        return;
    SelectLines(0, count_ - 1);
}

void LogView::SelectLines(std::size_t first, std::size_t last)
{
    if (count_ == 0)
        return;
    anchorAbs_ = FirstAbs() + std::min(first, count_ - 1);
    cursorAbs_ = FirstAbs() + std::min(last, count_ - 1);
    hasSelection_ = true;
    viewport()->update();
}

QString LogView::SelectedText() const
{
    if (!hasSelection_ || count_ == 0)
        return {};
    // Lines that left the ring are no longer part of the selection.
    const std::uint64_t first = std::max(std::min(anchorAbs_, cursorAbs_), FirstAbs());
    const std::uint64_t last = std::max(anchorAbs_, cursorAbs_);
    if (last < first || last >= total_)
        return {};
    QString s;
    for (std::uint64_t a = first; a <= last; ++a) {
        s += QLatin1String(AbsLine(a));
        s += QLatin1Char('\n');
    }
    return s;
}

void LogView::CopySelection() const
{
    const QString s = SelectedText();
    if (!s.isEmpty())
        QApplication::clipboard()->setText(s);
}

int LogView::RowHeight() const
{
    return std::max(1, fontMetrics().height());
}

int LogView::VisibleRows() const
{
    return std::max(1, viewport()->height() / RowHeight());
}

void LogView::ScheduleSync()
{
    if (syncPending_)
        return;
    syncPending_ = true;
    // At most one catch-up per display frame, however fast lines come.
    QTimer::singleShot(kSyncDelayMs, this, &LogView::Sync);
}

void LogView::Sync()
{
    syncPending_ = false;
    const std::uint64_t rows = static_cast<std::uint64_t>(VisibleRows());
    const std::uint64_t lastTop = count_ > rows ? total_ - rows : FirstAbs();
    if (follow_)
        topAbs_ = lastTop;
    // Lines that dropped out of the ring take the rows above the user's place.
    topAbs_ = std::clamp(topAbs_, FirstAbs(), lastTop);
    UpdateScrollBar();
    viewport()->update();
}

void LogView::UpdateScrollBar()
{
    const int rows = VisibleRows();
    const int maximum = count_ > static_cast<std::size_t>(rows) ? static_cast<int>(count_) - rows : 0;
    adjustingScroll_ = true;
    QScrollBar* bar = verticalScrollBar();
    bar->setRange(0, maximum);
    bar->setPageStep(rows);
    bar->setSingleStep(1);
    bar->setValue(static_cast<int>(topAbs_ - FirstAbs()));
    QScrollBar* hbar = horizontalScrollBar();
    const int contentWidth = 8 + longestWidth_;
    hbar->setRange(0, std::max(0, contentWidth - viewport()->width()));
    hbar->setPageStep(viewport()->width());
    hbar->setSingleStep(fontMetrics().horizontalAdvance(QLatin1Char('0')) * 4);
    adjustingScroll_ = false;
}

void LogView::scrollContentsBy(int, int)
{
    if (adjustingScroll_)
        return;
    QScrollBar* bar = verticalScrollBar();
    topAbs_ = FirstAbs() + static_cast<std::uint64_t>(std::max(0, bar->value()));
    follow_ = bar->value() >= bar->maximum();
    viewport()->update();
}

void LogView::ScrollToAbs(std::uint64_t top)
{
    const std::uint64_t rows = static_cast<std::uint64_t>(VisibleRows());
    const std::uint64_t lastTop = count_ > rows ? total_ - rows : FirstAbs();
    topAbs_ = std::clamp(top, FirstAbs(), lastTop);
    follow_ = topAbs_ >= lastTop;
    UpdateScrollBar();
    viewport()->update();
}

void LogView::resizeEvent(QResizeEvent* event)
{
    QAbstractScrollArea::resizeEvent(event);
    Sync();
}

void LogView::paintEvent(QPaintEvent*)
{
    QPainter p(viewport());
    const int h = RowHeight();
    const int ascent = fontMetrics().ascent();
    const QPalette& pal = palette();
    const std::uint64_t selFirst = std::min(anchorAbs_, cursorAbs_);
    const std::uint64_t selLast = std::max(anchorAbs_, cursorAbs_);
    const int rows = VisibleRows() + 1;
    for (int r = 0; r < rows; ++r) {
        const std::uint64_t abs = topAbs_ + static_cast<std::uint64_t>(r);
        if (abs < FirstAbs() || abs >= total_)
            break;
        const int y = r * h;
        const bool selected = hasSelection_ && abs >= selFirst && abs <= selLast;
        if (selected) {
            p.fillRect(QRect(0, y, viewport()->width(), h), pal.highlight());
            p.setPen(pal.color(QPalette::HighlightedText));
        } else {
            p.setPen(pal.color(QPalette::Text));
        }
        p.drawText(4 - horizontalScrollBar()->value(), y + ascent, QString::fromLatin1(AbsLine(abs)));
    }
}

std::uint64_t LogView::AbsAt(int y) const
{
    const std::uint64_t row = static_cast<std::uint64_t>(std::max(0, y) / RowHeight());
    const std::uint64_t abs = topAbs_ + row;
    return total_ == 0 ? 0 : std::min(abs, total_ - 1);
}

void LogView::mousePressEvent(QMouseEvent* event)
{
    if (count_ == 0 || event->button() != Qt::LeftButton) {
        QAbstractScrollArea::mousePressEvent(event);
        return;
    }
    const std::uint64_t abs = AbsAt(static_cast<int>(event->position().y()));
    if (!(event->modifiers() & Qt::ShiftModifier) || !hasSelection_)
        anchorAbs_ = abs;
    cursorAbs_ = abs;
    hasSelection_ = true;
    viewport()->update();
}

void LogView::mouseMoveEvent(QMouseEvent* event)
{
    if (!(event->buttons() & Qt::LeftButton) || !hasSelection_ || count_ == 0)
        return;
    const int y = static_cast<int>(event->position().y());
    if (y < 0)
        ScrollToAbs(topAbs_ > FirstAbs() ? topAbs_ - 1 : topAbs_);
    else if (y > viewport()->height())
        ScrollToAbs(topAbs_ + 1);
    cursorAbs_ = AbsAt(y);
    viewport()->update();
}

void LogView::keyPressEvent(QKeyEvent* event)
{
    if (event->matches(QKeySequence::Copy)) {
        CopySelection();
    } else if (event->matches(QKeySequence::SelectAll)) {
        SelectAll();
    } else if (event->key() == Qt::Key_End || event->matches(QKeySequence::MoveToEndOfDocument)) {
        ScrollToAbs(total_);
    } else if (event->key() == Qt::Key_Home || event->matches(QKeySequence::MoveToStartOfDocument)) {
        ScrollToAbs(FirstAbs());
    } else if (event->key() == Qt::Key_PageUp || event->key() == Qt::Key_PageDown ||
               event->key() == Qt::Key_Up || event->key() == Qt::Key_Down || event->key() == Qt::Key_Left ||
               event->key() == Qt::Key_Right) {
        QAbstractScrollArea::keyPressEvent(event);
    } else {
        event->ignore();
    }
}

void LogView::contextMenuEvent(QContextMenuEvent* event)
{
    QMenu menu(this);
    QAction* copy = menu.addAction(tr("Copy"), this, &LogView::CopySelection);
    copy->setShortcut(QKeySequence::Copy);
    copy->setEnabled(hasSelection_);
    QAction* all = menu.addAction(tr("Select All"), this, &LogView::SelectAll);
    all->setShortcut(QKeySequence::SelectAll);
    menu.exec(event->globalPos());
}
