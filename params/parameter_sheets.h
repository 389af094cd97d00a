// The parameter pages: one sheet of rows (label, value box, "Set") per page
// that the configuration file describes, each with a "Read" button. The
// container is what the decoder stores answers into.
#pragma once

#include "config_file.h"
#include "parameter_pages.h"

#include <QObject>
#include <QString>

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

class QLabel;
class QLineEdit;
class QPushButton;
class QTabWidget;
class QWidget;

// One row. The widgets belong to the page; the cell only points at them.
struct TFillCell {
    QLabel* NameLabel = nullptr;
    QLineEdit* ValueEdit = nullptr;
    QPushButton* SetButton = nullptr;
    std::uint32_t IndexSub = 0; // base index × 65536 + sub-index
    // An answer not yet shown: answers come at bus speed, the box follows at
    // display rate (TParameters::Flush).
    std::optional<std::int32_t> Pending;

    void StoreValue(std::int32_t value);
    void MarkFailed();
};

class TParamSheet : public QObject {
    Q_OBJECT
public:
    using SetHandler = std::function<void(TFillCell&)>;

    static constexpr int kMinRowHeight = 15;
    static constexpr int kMaxRowHeight = 21;

    // Builds the rows of `section` on `page` (its page number is `pageNumber`).
    TParamSheet(QWidget* page, const tervix::PageSection& section, int pageNumber);

    QWidget* TabSheet() const { return tabSheet_; }
    int RowHeight() const { return rowHeight_; }
    int HalfWidth() const { return halfWidth_; }
    int RowCount() const { return static_cast<int>(cells_.size()); }
    TFillCell* Cell(int subIndex); // 1..RowCount, else null
    QPushButton* ReadButton() const { return readButton_; }
    int PageNumber() const { return pageNumber_; }

    void SetOnSet(SetHandler handler) { onSet_ = std::move(handler); }
    // Empties every value box and disables every "Set" (before a read).
    void ClearValues();

    void EditChange(TFillCell& cell);
    void SetClick(TFillCell& cell);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    // Rows follow the page's size, which is known only once it is laid out.
    void Place();

    QWidget* tabSheet_;
    int pageNumber_;
    int rowHeight_ = kMinRowHeight;
    int halfWidth_ = 0;
    std::vector<std::unique_ptr<TFillCell>> cells_;
    QPushButton* readButton_ = nullptr;
    SetHandler onSet_;
};

class TParameters final : public QObject, public tervix::ParameterPages {
    Q_OBJECT
public:
    // Loads the configuration file and builds a sheet for every page of
    // `pageControl` that has rows. When the file cannot be read nothing is
    // built and LoadError() says why; when its text was cut short (a NUL
    // byte, the size limit, a button's text limit) the rest is built and
    // LoadWarning() says where.
    TParameters(QTabWidget* pageControl, const std::string& fileName);
    ~TParameters() override;

    bool Loaded() const { return loadError_.isEmpty(); }
    const QString& LoadError() const { return loadError_; }
    const QString& LoadWarning() const { return loadWarning_; }
    const tervix::ConfigLines& ConfigLines() const { return lines_; }
    // The rows the file gives each page (none when it was not read), sheet
    // or no sheet: what a backup reads.
    const std::array<tervix::PageSection, tervix::kPageCount>& Pages() const { return pages_; }
    int SheetCount() const { return sheetCount_; }
    TParamSheet* Sheet(int page) const; // null for a page without rows
    // The tab page that holds the object tree; null when nothing was loaded.
    QWidget* ObjectTreePage() const { return objectTreePage_; }

    // tervix::ParameterPages
    int CellCount(int page) const override;
    bool StoreValue(int page, int subIndex, std::int32_t value) override;
    bool MarkFailed(int page, int subIndex) override;
    bool EnableEdit(int page, int subIndex) override;

    // Shows the answers stored since the last call (the window calls it at
    // display rate).
    void Flush();

private:
    TFillCell* Cell(int page, int subIndex) const;

    QTabWidget* pageControl_;
    tervix::ConfigLines lines_;
    std::array<tervix::PageSection, tervix::kPageCount> pages_{};
    QString loadError_;
    QString loadWarning_;
    std::array<TParamSheet*, tervix::kPageCount> sheets_{};
    int sheetCount_ = 0;
    QWidget* objectTreePage_ = nullptr;
    std::vector<TFillCell*> pending_;
};

// A value box's number for "Set": decimal, or hexadecimal after "$" or
// "0x"; 32 bits at most (hexadecimal as the bit pattern). None otherwise.
std::optional<std::int32_t> ParamValue(const QString& text);
