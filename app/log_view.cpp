#include "log_view.h"

#include <QApplication>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QFontDatabase>
#include <QKeyEvent>
#include <QMenu>
#include <QPainter>
#include <QSaveFile>
#include <QScrollBar>
#include <QTimer>

#include <algorithm>
#include <chrono>

namespace {

// Characters of the time column: the time of day, or seconds, at least
// "1234.567" and wider once the newest line needs it.
constexpr int kClockChars = 12;
constexpr int kMinSecondsChars = 8;
constexpr int kDirectionChars = 4;

std::string_view DirectionName(tervix::LogDirection d)
{
    switch (d) {
    case tervix::LogDirection::Rx: return "Rx";
    case tervix::LogDirection::Tx: return "Tx";
    case tervix::LogDirection::Text: return "Text";
    case tervix::LogDirection::Event: break;
    }
    return "--";
}

} // namespace

LogView::LogView(QWidget* parent, std::size_t capacity, tervix::Clock& clock)
    : QAbstractScrollArea(parent), clock_(clock), start_(clock.Now()),
      wallStart_(QDateTime::currentDateTime()), capacity_(std::max<std::size_t>(capacity, 1))
{
    setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    setFocusPolicy(Qt::StrongFocus);
    viewport()->setCursor(Qt::IBeamCursor);
    viewport()->setBackgroundRole(QPalette::Base);
    ring_.reserve(std::min<std::size_t>(capacity_, 4096));
}

bool LogView::Matches(const Entry& e) const
{
    using tervix::LogDirection;
    if (e.direction == LogDirection::Text)
        return filter_.kinds & Filter::kTextBit;
    if (e.direction == LogDirection::Event)
        return filter_.kinds & Filter::kEventBit;
    return (filter_.kinds & (1u << e.functionCode)) && (filter_.node < 0 || filter_.node == e.node);
}

void LogView::AppendEntry(const tervix::LogEntry& entry)
{
    Entry* slot;
    if (count_ < capacity_) {
        const std::size_t at = (head_ + count_) % capacity_;
        if (at == ring_.size())
            ring_.emplace_back();
        slot = &ring_[at];
        ++count_;
    } else {
        if (filtered_ && !shown_.empty() && shown_.front() == FirstAbs())
            shown_.pop_front();
        slot = &ring_[head_];
        head_ = (head_ + 1) % capacity_;
    }
    slot->text.assign(entry.line); // reuses the slot's storage
    slot->ms = std::chrono::duration_cast<std::chrono::milliseconds>(entry.at.value_or(clock_.Now()) - start_).count();
    slot->direction = entry.direction;
    slot->functionCode = static_cast<std::uint8_t>(entry.functionCode & 0x0F);
    slot->node = entry.node >= 0 && entry.node < 128 ? static_cast<std::uint8_t>(entry.node) : kNoNode;
    if (filtered_ && Matches(*slot)) {
        shown_.push_back(total_);
        ++shownTotal_;
    }
    ++total_;
    // The font is meant to be fixed-width, so the widest line is the one with
    // most characters; measured once, when such a line comes.
    const std::string_view line = entry.line;
    if (line.size() > longest_) {
        longest_ = line.size();
        longestWidth_ = fontMetrics().horizontalAdvance(
            QString::fromLatin1(line.data(), static_cast<qsizetype>(line.size())));
    }
    // A paused view moves only when the rows it shows leave the ring.
    if (!paused_ || topAbs_ < FirstRow())
        ScheduleSync();
}

void LogView::Restart()
{
    topAbs_ = FirstRow();
    pausedEnd_ = RowTotal();
    hasSelection_ = false;
    follow_ = true;
}

void LogView::Clear()
{
    head_ = count_ = 0;
    shown_.clear();
    longest_ = 0;
    longestWidth_ = 0;
    Restart();
    ScheduleSync();
}

void LogView::SetFilter(const Filter& filter)
{
    filter_ = filter;
    filtered_ = !filter.ShowsAll();
    shown_.clear();
    if (filtered_) {
        // One pass over the ring; later lines are added as they come.
        for (std::size_t i = 0; i < count_; ++i)
            if (Matches(ring_[(head_ + i) % capacity_]))
                shown_.push_back(FirstAbs() + i);
    }
    shownTotal_ = shown_.size();
    Restart();
    Sync();
}

void LogView::SetPaused(bool paused)
{
    if (paused == paused_)
        return;
    paused_ = paused;
    pausedEnd_ = RowTotal();
    if (!paused) {
        follow_ = true;
        Sync();
    }
}

void LogView::SetClockTime(bool on)
{
    clockTime_ = on;
    UpdateScrollBar();
    viewport()->update();
}

const std::string& LogView::Line(std::size_t i) const
{
    return ring_[(head_ + i) % capacity_].text;
}

const LogView::Entry& LogView::AbsEntry(std::uint64_t abs) const
{
    return ring_[(head_ + static_cast<std::size_t>(abs - FirstAbs())) % capacity_];
}

const LogView::Entry& LogView::RowEntry(std::uint64_t row) const
{
    return AbsEntry(filtered_ ? shown_[static_cast<std::size_t>(row - FirstRow())] : row);
}

std::size_t LogView::ShownCount() const
{
    const std::uint64_t first = FirstRow();
    const std::uint64_t end = EndRow();
    return end > first ? static_cast<std::size_t>(end - first) : 0;
}

const std::string& LogView::ShownLine(std::size_t row) const
{
    return RowEntry(FirstRow() + row).text;
}

QString LogView::TimeOf(const Entry& e) const
{
    if (clockTime_)
        return wallStart_.addMSecs(e.ms).time().toString(QStringLiteral("hh:mm:ss.zzz"));
    const std::int64_t ms = std::max<std::int64_t>(e.ms, 0);
    return QStringLiteral("%1.%2").arg(ms / 1000).arg(ms % 1000, 3, 10, QLatin1Char('0'));
}

QString LogView::TimeText(std::size_t row) const
{
    return TimeOf(RowEntry(FirstRow() + row));
}

QString LogView::DirectionText(std::size_t row) const
{
    const std::string_view name = DirectionName(RowEntry(FirstRow() + row).direction);
    return QString::fromLatin1(name.data(), static_cast<qsizetype>(name.size()));
}

void LogView::AppendRow(QByteArray& out, const Entry& e) const
{
    out += TimeOf(e).toLatin1();
    out += '\t';
    const std::string_view dir = DirectionName(e.direction);
    out.append(dir.data(), static_cast<qsizetype>(dir.size()));
    out += '\t';
    out.append(e.text.data(), static_cast<qsizetype>(e.text.size()));
}

QString LogView::RowText(std::size_t row) const
{
    QByteArray s;
    AppendRow(s, RowEntry(FirstRow() + row));
    return QString::fromLatin1(s);
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

QByteArray LogView::FilteredText() const
{
    QByteArray out;
    for (std::size_t i = 0; i < count_; ++i) {
        const Entry& e = ring_[(head_ + i) % capacity_];
        if (!filtered_ || Matches(e)) {
            AppendRow(out, e);
            out += '\n';
        }
    }
    return out;
}

bool LogView::SaveTo(const QString& path, QString* error) const
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(FilteredText()) < 0 || !file.commit()) {
        if (error)
            *error = QStringLiteral("Cannot write %1: %2").arg(path, file.errorString());
        return false;
    }
    return true;
}

void LogView::SelectAll()
{
    const std::size_t shown = ShownCount();
    if (shown == 0)
        return;
    SelectLines(0, shown - 1);
}

void LogView::SelectLines(std::size_t first, std::size_t last)
{
    const std::size_t shown = ShownCount();
    if (shown == 0)
        return;
    anchorAbs_ = FirstRow() + std::min(first, shown - 1);
    cursorAbs_ = FirstRow() + std::min(last, shown - 1);
    hasSelection_ = true;
    viewport()->update();
}

QString LogView::SelectedText() const
{
    if (!hasSelection_ || ShownCount() == 0)
        return {};
    // Rows that left the ring are no longer part of the selection.
    const std::uint64_t first = std::max(std::min(anchorAbs_, cursorAbs_), FirstRow());
    const std::uint64_t last = std::max(anchorAbs_, cursorAbs_);
    if (last < first || last >= EndRow())
        return {};
    QByteArray s;
    for (std::uint64_t row = first; row <= last; ++row) {
        AppendRow(s, RowEntry(row));
        s += '\n';
    }
    return QString::fromLatin1(s);
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

int LogView::TimeChars() const
{
    if (clockTime_)
        return kClockChars;
    // Times only grow, so the newest line has the widest.
    const qsizetype newest = count_ ? TimeOf(ring_[(head_ + count_ - 1) % capacity_]).size() : 0;
    return std::max(kMinSecondsChars, static_cast<int>(newest));
}

int LogView::TextColumnX() const
{
    const int digit = fontMetrics().horizontalAdvance(QLatin1Char('0'));
    return 4 + digit * (TimeChars() + 2 + kDirectionChars + 2);
}

void LogView::ScheduleSync()
{
    if (syncPending_)
        return;
    syncPending_ = true;
    // At most one catch-up per display frame, however fast lines come.
    QTimer::singleShot(kSyncDelayMs, this, &LogView::Sync);
}

std::uint64_t LogView::LastTop() const
{
    const std::uint64_t rows = static_cast<std::uint64_t>(VisibleRows());
    return ShownCount() > rows ? EndRow() - rows : FirstRow();
}

void LogView::Sync()
{
    syncPending_ = false;
    const std::uint64_t lastTop = LastTop();
    if (follow_ && !paused_)
        topAbs_ = lastTop;
    // Lines that dropped out of the ring take the rows above the user's place.
    topAbs_ = std::clamp(topAbs_, FirstRow(), lastTop);
    UpdateScrollBar();
    viewport()->update();
}

void LogView::UpdateScrollBar()
{
    const int rows = VisibleRows();
    const std::size_t shown = ShownCount();
    const int maximum = shown > static_cast<std::size_t>(rows) ? static_cast<int>(shown) - rows : 0;
    adjustingScroll_ = true;
    QScrollBar* bar = verticalScrollBar();
    bar->setRange(0, maximum);
    bar->setPageStep(rows);
    bar->setSingleStep(1);
    bar->setValue(static_cast<int>(topAbs_ - FirstRow()));
    QScrollBar* hbar = horizontalScrollBar();
    const int contentWidth = TextColumnX() + 4 + longestWidth_;
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
    topAbs_ = FirstRow() + static_cast<std::uint64_t>(std::max(0, bar->value()));
    follow_ = bar->value() >= bar->maximum();
    viewport()->update();
}

void LogView::ScrollToRow(std::uint64_t top)
{
    const std::uint64_t lastTop = LastTop();
    topAbs_ = std::clamp(top, FirstRow(), lastTop);
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
    const int digit = fontMetrics().horizontalAdvance(QLatin1Char('0'));
    const int timeChars = TimeChars();
    const int x0 = 4 - horizontalScrollBar()->value();
    const int xDirection = x0 + digit * (timeChars + 2);
    const int xText = x0 + TextColumnX() - 4;
    const QPalette& pal = palette();
    const std::uint64_t selFirst = std::min(anchorAbs_, cursorAbs_);
    const std::uint64_t selLast = std::max(anchorAbs_, cursorAbs_);
    const std::uint64_t first = FirstRow();
    const std::uint64_t end = EndRow();
    const int rows = VisibleRows() + 1;
    for (int r = 0; r < rows; ++r) {
        const std::uint64_t row = topAbs_ + static_cast<std::uint64_t>(r);
        if (row < first || row >= end)
            break;
        const Entry& e = RowEntry(row);
        const int y = r * h;
        const bool selected = hasSelection_ && row >= selFirst && row <= selLast;
        if (selected)
            p.fillRect(QRect(0, y, viewport()->width(), h), pal.highlight());
        const QColor text = pal.color(selected ? QPalette::HighlightedText : QPalette::Text);
        // Time and direction step back so the line itself stands out.
        p.setPen(selected ? text : pal.color(QPalette::PlaceholderText));
        p.drawText(x0, y + ascent, QStringLiteral("%1").arg(TimeOf(e), timeChars));
        const std::string_view dir = DirectionName(e.direction);
        p.drawText(xDirection, y + ascent,
                   QString::fromLatin1(dir.data(), static_cast<qsizetype>(dir.size())));
        p.setPen(text);
        p.drawText(xText, y + ascent,
                   QString::fromLatin1(e.text.data(), static_cast<qsizetype>(e.text.size())));
    }
}

std::uint64_t LogView::RowAt(int y) const
{
    const std::uint64_t row = topAbs_ + static_cast<std::uint64_t>(std::max(0, y) / RowHeight());
    const std::uint64_t end = EndRow();
    return end == 0 ? 0 : std::min(row, end - 1);
}

void LogView::mousePressEvent(QMouseEvent* event)
{
    if (ShownCount() == 0 || event->button() != Qt::LeftButton) {
        QAbstractScrollArea::mousePressEvent(event);
        return;
    }
    const std::uint64_t row = RowAt(static_cast<int>(event->position().y()));
    if (!(event->modifiers() & Qt::ShiftModifier) || !hasSelection_)
        anchorAbs_ = row;
    cursorAbs_ = row;
    hasSelection_ = true;
    viewport()->update();
}

void LogView::mouseMoveEvent(QMouseEvent* event)
{
    if (!(event->buttons() & Qt::LeftButton) || !hasSelection_ || ShownCount() == 0)
        return;
    const int y = static_cast<int>(event->position().y());
    if (y < 0)
        ScrollToRow(topAbs_ > FirstRow() ? topAbs_ - 1 : topAbs_);
    else if (y > viewport()->height())
        ScrollToRow(topAbs_ + 1);
    cursorAbs_ = RowAt(y);
    viewport()->update();
}

void LogView::keyPressEvent(QKeyEvent* event)
{
    if (event->matches(QKeySequence::Copy)) {
        CopySelection();
    } else if (event->matches(QKeySequence::SelectAll)) {
        SelectAll();
    } else if (event->key() == Qt::Key_End || event->matches(QKeySequence::MoveToEndOfDocument)) {
        ScrollToRow(EndRow());
    } else if (event->key() == Qt::Key_Home || event->matches(QKeySequence::MoveToStartOfDocument)) {
        ScrollToRow(FirstRow());
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
