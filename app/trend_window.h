// The trend window: the chosen units' TPDO1 values over time (an hour kept,
// spans from 10 s to 1 h, paused and scrolled back at will), each unit's
// stability over a sliding window, and the test sheet of captures with test
// weights, with their repeatability and error. Not modal. The main window
// hands it the frames (TForm1::Received) while it is open; it refreshes ten
// times a second while it is in sight.
#pragma once

#include "clock.h"
#include "test_sheet.h"
#include "trend.h"

#include <QDateTime>
#include <QString>
#include <QWidget>

#include <array>
#include <chrono>
#include <functional>
#include <optional>
#include <vector>

class MessageSink;
class QCheckBox;
class QComboBox;
class QDoubleSpinBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QScrollBar;
class QSettings;
class QSpinBox;
class QTableWidget;
class QTimer;
class TTrendPlot;

class TTrendWindow : public QWidget {
    Q_OBJECT
public:
    static constexpr std::chrono::milliseconds kRefreshInterval{100};
    static constexpr std::array<std::chrono::seconds, 4> kSpans{
        std::chrono::seconds(10), std::chrono::seconds(60), std::chrono::seconds(600),
        std::chrono::seconds(3600)};

    // `clock`: the one the frames' receive times are on.
    TTrendWindow(MessageSink& messages, tervix::Clock& clock, QWidget* parent = nullptr);
    ~TTrendWindow() override;

    // What the main window feeds while the window is open.
    tervix::TrendStore& Store() { return store_; }

    // Chooses the units a text names ("0-3,7"); false (and nothing changes)
    // when it names none correctly. A unit no longer chosen loses its points.
    bool ChooseUnits(const QString& text);
    // Adds a unit to those chosen and picks it for the next capture.
    void AddUnit(unsigned unit);
    std::vector<unsigned> Units() const { return store_.ChosenUnits(); }

    // Settings of the stability panel (the division is the unit's own).
    tervix::StabilitySettings Settings(unsigned unit) const;
    void SetDivision(unsigned unit, double division);

    // The refresh timer's step: plot, stability panel, a waiting capture.
    void Refresh();

    // "Capture" (F9): starts a capture of the unit picked for it, or cancels
    // the one waiting. A reference mass that is no number is said in a box.
    void CaptureClick();
    bool CaptureWaiting() const { return wait_.has_value(); }
    const tervix::TestSheet& Sheet() const { return sheet_; }

    // The files the export buttons write; false with *error when the file
    // cannot be written.
    bool ExportSheet(const QString& path, QString* error = nullptr);
    bool ExportTrend(const QString& path, QString* error = nullptr);
    bool SavePlot(const QString& path, QString* error = nullptr);
    // Where the export buttons write; empty: cancelled. A file dialog unless set.
    using FileAsker =
        std::function<QString(const QString& caption, const QString& suggested, const QString& filter)>;
    void SetFileAsker(FileAsker asker) { askFile_ = std::move(asker); }

    // The window's choices (units, span, scale, stability figures, the units'
    // divisions), its splitter and geometry, in the settings' current group.
    // Restoring leaves out what does not fit the boxes.
    void SaveSettings(QSettings& settings) const;
    void RestoreSettings(QSettings& settings);

    TTrendPlot* Plot() const { return plot_; }
    QTableWidget* StabilityTable() const { return stability_; }
    QTableWidget* SheetTable() const { return sheetTable_; }
    QTableWidget* SummaryTable() const { return summaryTable_; }
    QPushButton* CaptureButton() const { return capture_; }

    // Columns of the stability panel; the figures' items hold their number
    // (in the display unit) as Qt::UserRole data.
    enum StabilityColumn {
        kUnitColumn,
        kFramesColumn,
        kMeanColumn,
        kDeviationColumn,
        kMinimumColumn,
        kMaximumColumn,
        kPeakColumn,
        kDivisionColumn,
        kMotionColumn,
        kStableColumn,
        kStabilityColumns
    };

signals:
    // The window was closed: the main window stops feeding it.
    void closed();

protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    QWidget* BuildToolBar();
    QWidget* BuildStabilityPanel();
    QWidget* BuildSheetPanel();
    void ApplyUnits(const std::vector<unsigned>& units);
    void ApplyScale();
    void ShowPlot(tervix::TimePoint now);
    void ShowScrollBar(tervix::TimePoint now);
    void ShowStability();
    void ShowCaptureButton();
    void PollCapture(tervix::TimePoint now);
    void AddSheetRow(const tervix::CaptureRow& row);
    void ShowSummaries();
    void DivisionEdited(int row);
    std::chrono::nanoseconds Span() const;
    void SetPaused(bool paused);
    // Display decimals of a unit's figures: those of its division, and more.
    int Decimals(unsigned unit) const;
    QString Number(double value, int decimals) const;
    bool WriteFile(const QString& path, const QByteArray& bytes, QString* error);
    QString AskFile(const QString& caption, const QString& suggested, const QString& filter);
    void Fail(const QString& caption, const QString& text);

    MessageSink& messages_;
    tervix::Clock& clock_;
    tervix::TrendStore store_;
    tervix::TestSheet sheet_;
    std::array<double, tervix::kTrendUnits> divisions_;
    tervix::StabilitySettings common_;
    // Steady time and wall clock at the same moment: the plot's time axis,
    // the file names, the exported trend's time origin.
    tervix::TimePoint originSteady_;
    QDateTime originWall_;

    struct Waiting {
        tervix::CaptureWait wait;
        std::optional<double> reference;
        QString note;
        QDateTime deadline; // wall clock
    };
    std::optional<Waiting> wait_;
    // While paused, the end of the view; live otherwise.
    std::optional<tervix::TimePoint> pausedEnd_;
    bool fillingTables_ = false;

    QLineEdit* units_ = nullptr;
    QComboBox* span_ = nullptr;
    QCheckBox* autoScale_ = nullptr;
    QDoubleSpinBox* scaleMin_ = nullptr;
    QDoubleSpinBox* scaleMax_ = nullptr;
    QPushButton* pause_ = nullptr;
    TTrendPlot* plot_ = nullptr;
    QScrollBar* scroll_ = nullptr;
    QSpinBox* window_ = nullptr;
    QSpinBox* motionBit_ = nullptr;
    QDoubleSpinBox* limit_ = nullptr;
    QCheckBox* inDivisions_ = nullptr;
    QTableWidget* stability_ = nullptr;
    QComboBox* captureUnit_ = nullptr;
    QLineEdit* reference_ = nullptr;
    QLineEdit* note_ = nullptr;
    QPushButton* capture_ = nullptr;
    QTableWidget* sheetTable_ = nullptr;
    QTableWidget* summaryTable_ = nullptr;
    QTimer* timer_ = nullptr;
    FileAsker askFile_;
};
