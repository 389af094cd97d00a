// The communication log: a read-only view over a bounded ring of lines that
// paints only the rows in sight, so a saturated bus never stalls the window.
#pragma once

#include <QAbstractScrollArea>

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

class LogView : public QAbstractScrollArea {
    Q_OBJECT
public:
    static constexpr std::size_t kDefaultCapacity = 100000;
    static constexpr int kSyncDelayMs = 16;

    explicit LogView(QWidget* parent = nullptr, std::size_t capacity = kDefaultCapacity);

    // Appends one line (bytes shown as Latin-1). The view catches up once
    // control returns to the event loop, however many lines came meanwhile.
    void AppendLine(std::string_view line);
    void Clear();

    std::size_t LineCount() const { return count_; }
    std::size_t Capacity() const { return capacity_; }
    // Line i of those kept, 0 = the oldest.
    const std::string& Line(std::size_t i) const;
    QString Text() const;  // all kept lines, joined by newlines

    void SelectAll();
    void SelectLines(std::size_t first, std::size_t last);  // indexes of kept lines
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
    std::uint64_t FirstAbs() const { return total_ - count_; }
    const std::string& AbsLine(std::uint64_t abs) const;
    int RowHeight() const;
    int VisibleRows() const;
    std::uint64_t AbsAt(int y) const;
    void ScheduleSync();
    void UpdateScrollBar();
    void ScrollToAbs(std::uint64_t top);

    std::size_t capacity_;
    std::vector<std::string> ring_;
    std::size_t head_ = 0;          // ring index of the oldest line
    std::size_t count_ = 0;
    std::size_t longest_ = 0;       // characters of the longest line appended
    int longestWidth_ = 0;          // its width in pixels
    std::uint64_t total_ = 0;       // lines ever appended; absolute numbers count from 0
    std::uint64_t topAbs_ = 0;      // absolute number of the first row shown
    bool follow_ = true;            // keep the newest line in sight
    bool syncPending_ = false;
    bool adjustingScroll_ = false;
    std::uint64_t anchorAbs_ = 0;   // selection, absolute line numbers
    std::uint64_t cursorAbs_ = 0;
    bool hasSelection_ = false;
};
