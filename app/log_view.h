// The communication log: a read-only view over a bounded ring of lines that
// paints only the rows in sight, so a saturated bus never stalls the window.
// Each line keeps when it came (milliseconds since the view started), its
// direction and its function code and node, shown as columns and used to
// filter. Pausing freezes the view; lines are still kept meanwhile.
#pragma once

#include "clock.h"
#include "monitor_decoder.h"

#include <QAbstractScrollArea>
#include <QByteArray>
#include <QDateTime>

#include <cstdint>
#include <deque>
#include <string>
#include <string_view>
#include <vector>

class LogView : public QAbstractScrollArea {
    Q_OBJECT
public:
    static constexpr std::size_t kDefaultCapacity = 100000;
    static constexpr int kSyncDelayMs = 16;

    // Which lines are shown: one bit per function code (0..15) of received
    // and sent frames, one for adapter text, one for the program's own notes;
    // and one node or all. The node narrows frames only: text and notes
    // belong to no node and are chosen by their bits alone.
    struct Filter {
        static constexpr std::uint32_t kTextBit = 1u << 16;
        static constexpr std::uint32_t kEventBit = 1u << 17;
        static constexpr std::uint32_t kAll = (1u << 18) - 1;
        std::uint32_t kinds = kAll;
        int node = -1; // -1: every node
        bool ShowsAll() const { return (kinds & kAll) == kAll && node < 0; }
        friend bool operator==(const Filter&, const Filter&) = default;
    };

    explicit LogView(QWidget* parent = nullptr, std::size_t capacity = kDefaultCapacity,
                     tervix::Clock& clock = tervix::DefaultClock());

    // Appends one line (bytes shown as Latin-1), stamped with the clock's
    // time. The view catches up once control returns to the event loop,
    // however many lines came meanwhile. A bare line is the program's own note.
    void AppendEntry(const tervix::LogEntry& entry);
    void AppendLine(std::string_view line) { AppendEntry({line, tervix::LogDirection::Event, 0, -1}); }
    void Clear();

    // The kept lines, filter or pause aside; 0 = the oldest.
    std::size_t LineCount() const { return count_; }
    std::size_t Capacity() const { return capacity_; }
    const std::string& Line(std::size_t i) const;
    QString Text() const; // all kept lines, joined by newlines

    // The rows the view presents: the kept lines the filter lets through, up
    // to where the view was paused; 0 = the oldest.
    std::size_t ShownCount() const;
    const std::string& ShownLine(std::size_t row) const;
    // A shown row's columns as copied and saved: time, direction, line,
    // separated by tabs.
    QString RowText(std::size_t row) const;
    QString TimeText(std::size_t row) const;
    QString DirectionText(std::size_t row) const;

    // Time as seconds since start ("12.345"), or as the time of day
    // ("14:05:07.250") counted from the wall-clock time of the start.
    void SetClockTime(bool on);
    bool ClockTime() const { return clockTime_; }
    void SetWallStart(const QDateTime& start) { wallStart_ = start; }

    void SetFilter(const Filter& filter);
    const Filter& CurrentFilter() const { return filter_; }
    // While paused the view keeps what it shows; on resuming it shows
    // everything kept and follows the newest line again.
    void SetPaused(bool paused);
    bool Paused() const { return paused_; }

    // Every kept line the filter lets through, paused or not, one row per
    // line ending in a newline; bytes as the lines hold them.
    QByteArray FilteredText() const;
    bool SaveTo(const QString& path, QString* error = nullptr) const;

    void SelectAll();
    void SelectLines(std::size_t first, std::size_t last); // indexes of shown rows
    QString SelectedText() const;
    void CopySelection() const;
    bool FollowsEnd() const { return follow_; }

    // Brings scroll bar and viewport up to date now (normally deferred).
    void Sync();

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    void scrollContentsBy(int dx, int dy) override;

private:
    static constexpr std::uint8_t kNoNode = 0xFF;
    struct Entry {
        std::string text; // storage reused when the ring wraps
        std::int64_t ms = 0;
        tervix::LogDirection direction = tervix::LogDirection::Event;
        std::uint8_t functionCode = 0;
        std::uint8_t node = kNoNode;
    };

    // Lines are numbered absolutely (0 = the first ever appended) and rows
    // too: with a filter, row numbers count the matching lines since the
    // filter was set; without one, a row number is the line's number. So the
    // user's place and selection survive lines leaving the ring.
    std::uint64_t FirstAbs() const { return total_ - count_; }
    const Entry& AbsEntry(std::uint64_t abs) const;
    bool Matches(const Entry& e) const;
    std::uint64_t RowTotal() const { return filtered_ ? shownTotal_ : total_; }
    std::uint64_t FirstRow() const { return RowTotal() - (filtered_ ? shown_.size() : count_); }
    std::uint64_t EndRow() const { return paused_ ? pausedEnd_ : RowTotal(); }
    const Entry& RowEntry(std::uint64_t row) const;
    void AppendRow(QByteArray& out, const Entry& e) const;
    QString TimeOf(const Entry& e) const;

    int RowHeight() const;
    int VisibleRows() const;
    int TimeChars() const;
    int TextColumnX() const;
    std::uint64_t RowAt(int y) const;
    std::uint64_t LastTop() const;
    void ScheduleSync();
    void UpdateScrollBar();
    void ScrollToRow(std::uint64_t top);
    void Restart();

    tervix::Clock& clock_;
    tervix::TimePoint start_;
    QDateTime wallStart_;
    bool clockTime_ = false;

    std::size_t capacity_;
    std::vector<Entry> ring_;
    std::size_t head_ = 0; // ring index of the oldest line
    std::size_t count_ = 0;
    std::size_t longest_ = 0; // characters of the longest line appended
    int longestWidth_ = 0;    // its width in pixels
    std::uint64_t total_ = 0; // lines ever appended

    Filter filter_;
    bool filtered_ = false;
    std::deque<std::uint64_t> shown_; // with a filter: numbers of the kept lines it lets through
    std::uint64_t shownTotal_ = 0;
    bool paused_ = false;
    std::uint64_t pausedEnd_ = 0; // the rows shown while paused end here

    std::uint64_t topAbs_ = 0; // row number of the first row shown
    bool follow_ = true;       // keep the newest line in sight
    bool syncPending_ = false;
    bool adjustingScroll_ = false;
    std::uint64_t anchorAbs_ = 0; // selection, row numbers
    std::uint64_t cursorAbs_ = 0;
    bool hasSelection_ = false;
};
