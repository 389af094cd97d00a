#include "trend_window.h"

#include "app_settings.h"
#include "message_sink.h"
#include "read_only_table.h"
#include "trend_plot.h"
#include "unit_list.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QFile>
#include <QFileDialog>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QScrollBar>
#include <QSettings>
#include <QShortcut>
#include <QSignalBlocker>
#include <QSpinBox>
#include <QSplitter>
#include <QTableWidget>
#include <QTimer>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>

using namespace tervix;
using namespace std::chrono_literals;

namespace {

// The scroll bar moves the paused view in steps of this.
constexpr std::chrono::milliseconds kScrollStep{100};
const QString kCsvFilter = QStringLiteral("CSV files (*.csv);;All files (*)");

QColor CurveColour(std::size_t i)
{
    static const QColor kColours[] = {{31, 119, 180},  {214, 39, 40},  {44, 160, 44},   {255, 127, 14},
                                      {148, 103, 189}, {140, 86, 75},  {227, 119, 194}, {23, 190, 207},
                                      {188, 189, 34},  {127, 127, 127}};
    if (i < std::size(kColours))
        return kColours[i];
    return QColor::fromHsvF(std::fmod(0.13 + double(i) * 0.618034, 1.0), 0.85, 0.8);
}

QTableWidget* MakeTable(const QStringList& headers, QWidget* parent, const char* name)
{
    QTableWidget* table = MakeReadOnlyTable(headers, parent, name);
    table->horizontalHeader()->setMinimumSectionSize(
        table->fontMetrics().horizontalAdvance(QStringLiteral("0000.0000")));
    table->setAlternatingRowColors(true);
    return table;
}

QTableWidgetItem* Item(const QString& text, Qt::Alignment align = Qt::AlignRight | Qt::AlignVCenter)
{
    auto* item = new QTableWidgetItem(text);
    item->setTextAlignment(align);
    return item;
}

// Shows a cell's text and number, touching the item only when they changed:
// the panel is refreshed ten times a second.
void SetCell(QTableWidget* table, int row, int column, const QString& text, const QVariant& number = {})
{
    QTableWidgetItem* item = table->item(row, column);
    if (!item) {
        item = Item(text);
        table->setItem(row, column, item);
    }
    if (item->text() != text)
        item->setText(text);
    if (item->data(Qt::UserRole) != number)
        item->setData(Qt::UserRole, number);
}

} // namespace

TTrendWindow::TTrendWindow(MessageSink& messages, Clock& clock, QWidget* parent)
    : QWidget(parent, Qt::Window), messages_(messages), clock_(clock), originSteady_(clock.Now()),
      originWall_(QDateTime::currentDateTime())
{
    setObjectName(QStringLiteral("TrendWindow"));
    setWindowTitle(QStringLiteral("Tervix - Weight trend"));
    divisions_.fill(StabilitySettings{}.division);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(6, 6, 6, 6);
    layout->addWidget(BuildToolBar());
    auto* splitter = new QSplitter(Qt::Vertical, this);
    splitter->setObjectName(QStringLiteral("TrendSplitter"));
    splitter->setChildrenCollapsible(false);

    auto* plotPart = new QWidget(splitter);
    auto* plotLayout = new QVBoxLayout(plotPart);
    plotLayout->setContentsMargins(0, 0, 0, 0);
    plotLayout->setSpacing(2);
    plot_ = new TTrendPlot(store_, plotPart);
    plot_->SetWallClock(originSteady_, originWall_);
    plotLayout->addWidget(plot_, 1);
    scroll_ = new QScrollBar(Qt::Horizontal, plotPart);
    scroll_->setObjectName(QStringLiteral("TrendScroll"));
    scroll_->setEnabled(false);
    scroll_->setToolTip(QStringLiteral("Pause to scroll back through the hour kept"));
    plotLayout->addWidget(scroll_);
    splitter->addWidget(plotPart);
    splitter->addWidget(BuildStabilityPanel());
    splitter->addWidget(BuildSheetPanel());
    splitter->setStretchFactor(0, 5);
    splitter->setStretchFactor(1, 2);
    splitter->setStretchFactor(2, 3);
    layout->addWidget(splitter, 1);

    connect(scroll_, &QScrollBar::valueChanged, this, [this](int value) {
        if (!pausedEnd_)
            return;
        const std::optional<TimePoint> oldest = store_.Oldest();
        const TimePoint first = (oldest ? *oldest : originSteady_) + Span();
        pausedEnd_ = first + value * std::chrono::duration_cast<std::chrono::nanoseconds>(kScrollStep);
        ShowPlot(clock_.Now());
    });

    auto* shortcut = new QShortcut(QKeySequence(Qt::Key_F9), this);
    connect(shortcut, &QShortcut::activated, this, &TTrendWindow::CaptureClick);

    timer_ = new QTimer(this);
    timer_->setInterval(kRefreshInterval);
    connect(timer_, &QTimer::timeout, this, &TTrendWindow::Refresh);

    resize(1180, 820);
    ApplyUnits({});
}

TTrendWindow::~TTrendWindow()
{
    // The child widgets outlive this body and the members: a line edit that
    // loses the focus as they go would call back into a window half gone.
    const QList<QWidget*> children = findChildren<QWidget*>();
    for (QWidget* child : children)
        child->blockSignals(true);
}

QWidget* TTrendWindow::BuildToolBar()
{
    auto* bar = new QWidget(this);
    auto* row = new QHBoxLayout(bar);
    row->setContentsMargins(0, 0, 0, 0);

    units_ = new QLineEdit(bar);
    units_->setObjectName(QStringLiteral("TrendUnits"));
    units_->setPlaceholderText(QStringLiteral("e.g. 0-3,7"));
    units_->setToolTip(QStringLiteral("Units 0 to 63: numbers and ranges, e.g. 0-3,7"));
    units_->setMaximumWidth(160);
    connect(units_, &QLineEdit::editingFinished, this, [this] { ChooseUnits(units_->text()); });

    span_ = new QComboBox(bar);
    span_->setObjectName(QStringLiteral("TrendSpan"));
    for (const QString& name :
         {QStringLiteral("10 s"), QStringLiteral("1 min"), QStringLiteral("10 min"), QStringLiteral("1 h")})
        span_->addItem(name);
    connect(span_, &QComboBox::currentIndexChanged, this, [this] {
        ShowPlot(clock_.Now());
        ShowScrollBar(clock_.Now());
    });

    autoScale_ = new QCheckBox(QStringLiteral("Automatic scale"), bar);
    autoScale_->setObjectName(QStringLiteral("TrendAutoScale"));
    autoScale_->setChecked(true);
    scaleMin_ = new QDoubleSpinBox(bar);
    scaleMin_->setObjectName(QStringLiteral("TrendScaleMin"));
    scaleMax_ = new QDoubleSpinBox(bar);
    scaleMax_->setObjectName(QStringLiteral("TrendScaleMax"));
    for (QDoubleSpinBox* box : {scaleMin_, scaleMax_}) {
        box->setRange(-1e9, 1e9);
        box->setDecimals(3);
        box->setEnabled(false);
        box->setKeyboardTracking(false);
        connect(box, &QDoubleSpinBox::valueChanged, this, &TTrendWindow::ApplyScale);
    }
    connect(autoScale_, &QCheckBox::toggled, this, [this](bool on) {
        if (!on) {
            // A fixed scale starts from what was in sight.
            const QSignalBlocker a(scaleMin_), b(scaleMax_);
            scaleMin_->setValue(plot_->ShownScale().min);
            scaleMax_->setValue(plot_->ShownScale().max);
        }
        scaleMin_->setEnabled(!on);
        scaleMax_->setEnabled(!on);
        ApplyScale();
    });

    pause_ = new QPushButton(QStringLiteral("Pause"), bar);
    pause_->setObjectName(QStringLiteral("TrendPause"));
    pause_->setCheckable(true);
    pause_->setToolTip(
        QStringLiteral("Holds the plot (frames are still kept and judged); scroll back below it"));
    connect(pause_, &QPushButton::toggled, this, &TTrendWindow::SetPaused);

    auto* exportTrend = new QPushButton(QStringLiteral("Export trend\u2026"), bar);
    exportTrend->setObjectName(QStringLiteral("TrendExport"));
    connect(exportTrend, &QPushButton::clicked, this, [this] {
        const QString path = AskFile(
            QStringLiteral("Export trend"),
            QStringLiteral("trend-%1.csv").arg(originWall_.toString(QStringLiteral("yyyyMMdd-hhmmss"))),
            kCsvFilter);
        QString error;
        if (!path.isEmpty() && !ExportTrend(path, &error))
            Fail(QStringLiteral("Export trend"), error);
    });
    auto* savePlot = new QPushButton(QStringLiteral("Save plot\u2026"), bar);
    savePlot->setObjectName(QStringLiteral("TrendSavePlot"));
    connect(savePlot, &QPushButton::clicked, this, [this] {
        const QString path =
            AskFile(QStringLiteral("Save plot"),
                    QStringLiteral("trend-%1.png")
                        .arg(QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-hhmmss"))),
                    QStringLiteral("PNG images (*.png);;All files (*)"));
        QString error;
        if (!path.isEmpty() && !SavePlot(path, &error))
            Fail(QStringLiteral("Save plot"), error);
    });

    row->addWidget(new QLabel(QStringLiteral("Units"), bar));
    row->addWidget(units_);
    row->addSpacing(8);
    row->addWidget(new QLabel(QStringLiteral("Span"), bar));
    row->addWidget(span_);
    row->addSpacing(8);
    row->addWidget(autoScale_);
    row->addWidget(new QLabel(QStringLiteral("Min"), bar));
    row->addWidget(scaleMin_);
    row->addWidget(new QLabel(QStringLiteral("Max"), bar));
    row->addWidget(scaleMax_);
    row->addSpacing(8);
    row->addWidget(pause_);
    row->addStretch(1);
    row->addWidget(exportTrend);
    row->addWidget(savePlot);
    return bar;
}

QWidget* TTrendWindow::BuildStabilityPanel()
{
    auto* group = new QGroupBox(QStringLiteral("Stability"), this);
    auto* layout = new QVBoxLayout(group);
    auto* row = new QHBoxLayout;

    window_ = new QSpinBox(group);
    window_->setObjectName(QStringLiteral("StabilityWindow"));
    window_->setRange(200, 600000);
    window_->setSingleStep(500);
    window_->setSuffix(QStringLiteral(" ms"));
    window_->setValue(static_cast<int>(common_.window.count()));
    window_->setToolTip(QStringLiteral("The figures are of the frames in this time up to the newest"));
    motionBit_ = new QSpinBox(group);
    motionBit_->setObjectName(QStringLiteral("StabilityMotionBit"));
    motionBit_->setRange(0, 15);
    motionBit_->setValue(static_cast<int>(common_.motionBit));
    motionBit_->setToolTip(QStringLiteral("Status-word bit the unit sets while it is in motion"));
    limit_ = new QDoubleSpinBox(group);
    limit_->setObjectName(QStringLiteral("StabilityLimit"));
    limit_->setRange(0.01, 100000);
    limit_->setDecimals(2);
    limit_->setSingleStep(0.1);
    limit_->setSuffix(QStringLiteral(" d"));
    limit_->setValue(common_.stableLimit);
    limit_->setToolTip(
        QStringLiteral("Stable: the standard deviation stays below this many divisions for the "
                       "whole window, and no frame in it has the motion bit"));
    inDivisions_ = new QCheckBox(QStringLiteral("Figures in divisions"), group);
    inDivisions_->setObjectName(QStringLiteral("StabilityInDivisions"));
    connect(window_, &QSpinBox::valueChanged, this, [this](int ms) {
        common_.window = std::chrono::milliseconds(ms);
        ShowStability();
    });
    connect(motionBit_, &QSpinBox::valueChanged, this, [this](int bit) {
        common_.motionBit = static_cast<unsigned>(bit);
        ShowStability();
    });
    connect(limit_, &QDoubleSpinBox::valueChanged, this, [this](double d) {
        common_.stableLimit = d;
        ShowStability();
    });
    connect(inDivisions_, &QCheckBox::toggled, this, &TTrendWindow::ShowStability);

    row->addWidget(new QLabel(QStringLiteral("Window"), group));
    row->addWidget(window_);
    row->addSpacing(8);
    row->addWidget(new QLabel(QStringLiteral("Motion bit"), group));
    row->addWidget(motionBit_);
    row->addSpacing(8);
    row->addWidget(new QLabel(QStringLiteral("Stable below"), group));
    row->addWidget(limit_);
    row->addSpacing(8);
    row->addWidget(inDivisions_);
    row->addStretch(1);
    layout->addLayout(row);

    stability_ = MakeTable({QStringLiteral("Unit"), QStringLiteral("Frames"), QStringLiteral("Mean"),
                            QStringLiteral("Std dev"), QStringLiteral("Minimum"), QStringLiteral("Maximum"),
                            QStringLiteral("Peak-peak"), QStringLiteral("Division"), QStringLiteral("Motion"),
                            QStringLiteral("Stable")},
                           group, "StabilityTable");
    stability_->setEditTriggers(QAbstractItemView::DoubleClicked | QAbstractItemView::EditKeyPressed |
                                QAbstractItemView::SelectedClicked);
    stability_->horizontalHeaderItem(kDivisionColumn)
        ->setToolTip(QStringLiteral("The unit's scale division; double-click to set it"));
    // Four units in sight without scrolling; the columns share the width.
    stability_->horizontalHeader()->setSectionResizeMode(QHeaderView::Stretch);
    stability_->setMinimumHeight(stability_->horizontalHeader()->sizeHint().height() +
                                 4 * stability_->verticalHeader()->defaultSectionSize() +
                                 2 * stability_->frameWidth() + 2);
    connect(stability_, &QTableWidget::itemChanged, this, [this](QTableWidgetItem* item) {
        if (!fillingTables_ && item->column() == kDivisionColumn)
            DivisionEdited(item->row());
    });
    layout->addWidget(stability_);
    return group;
}

QWidget* TTrendWindow::BuildSheetPanel()
{
    auto* group = new QGroupBox(QStringLiteral("Test sheet"), this);
    auto* layout = new QVBoxLayout(group);
    auto* row = new QHBoxLayout;

    captureUnit_ = new QComboBox(group);
    captureUnit_->setObjectName(QStringLiteral("CaptureUnit"));
    captureUnit_->setMinimumContentsLength(7);
    reference_ = new QLineEdit(group);
    reference_->setObjectName(QStringLiteral("CaptureReference"));
    reference_->setPlaceholderText(QStringLiteral("none"));
    reference_->setToolTip(QStringLiteral("The test weight's mass, in the unit's display unit"));
    reference_->setMaximumWidth(110);
    note_ = new QLineEdit(group);
    note_->setObjectName(QStringLiteral("CaptureNote"));
    note_->setPlaceholderText(QStringLiteral("e.g. corner 1"));
    capture_ = new QPushButton(group);
    capture_->setObjectName(QStringLiteral("CaptureButton"));
    capture_->setMinimumWidth(capture_->fontMetrics().horizontalAdvance(
                                  QStringLiteral("Waiting for unit 63\u2026 until 00:00:00 \u2013 Cancel")) +
                              24);
    connect(capture_, &QPushButton::clicked, this, &TTrendWindow::CaptureClick);
    auto* exportSheet = new QPushButton(QStringLiteral("Export sheet\u2026"), group);
    exportSheet->setObjectName(QStringLiteral("SheetExport"));
    connect(exportSheet, &QPushButton::clicked, this, [this] {
        const QString path =
            AskFile(QStringLiteral("Export test sheet"),
                    QStringLiteral("test-sheet-%1.csv")
                        .arg(QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-hhmmss"))),
                    kCsvFilter);
        QString error;
        if (!path.isEmpty() && !ExportSheet(path, &error))
            Fail(QStringLiteral("Export test sheet"), error);
    });
    auto* clear = new QPushButton(QStringLiteral("Clear sheet"), group);
    clear->setObjectName(QStringLiteral("SheetClear"));
    connect(clear, &QPushButton::clicked, this, [this] {
        if (sheet_.Rows().empty() ||
            QMessageBox::question(
                this, QStringLiteral("Test sheet"),
                QStringLiteral("Clear the %1 captures of the sheet?").arg(sheet_.Rows().size())) !=
                QMessageBox::Yes)
            return;
        sheet_.Clear();
        sheetTable_->setRowCount(0);
        ShowSummaries();
    });

    row->addWidget(new QLabel(QStringLiteral("Unit"), group));
    row->addWidget(captureUnit_);
    row->addSpacing(8);
    row->addWidget(new QLabel(QStringLiteral("Reference"), group));
    row->addWidget(reference_);
    row->addSpacing(8);
    row->addWidget(new QLabel(QStringLiteral("Note"), group));
    row->addWidget(note_, 1);
    row->addWidget(capture_);
    row->addSpacing(8);
    row->addWidget(exportSheet);
    row->addWidget(clear);
    layout->addLayout(row);

    auto* tables = new QHBoxLayout;
    sheetTable_ = MakeTable({QStringLiteral("Time"), QStringLiteral("Unit"), QStringLiteral("Frames"),
                             QStringLiteral("Mean"), QStringLiteral("Std dev"), QStringLiteral("Reference"),
                             QStringLiteral("Stable"), QStringLiteral("Note")},
                            group, "SheetTable");
    summaryTable_ = MakeTable({QStringLiteral("Unit"), QStringLiteral("Reference"), QStringLiteral("Count"),
                               QStringLiteral("Spread"), QStringLiteral("Std dev"), QStringLiteral("Mean"),
                               QStringLiteral("Error")},
                              group, "SummaryTable");
    summaryTable_->setToolTip(
        QStringLiteral("Per unit and reference: the captured means' count, spread (max - min), "
                       "standard deviation, mean, and the mean's error against the reference"));
    sheetTable_->horizontalHeader()->setStretchLastSection(true);
    summaryTable_->horizontalHeader()->setStretchLastSection(true);
    summaryTable_->horizontalHeader()->setMinimumSectionSize(
        summaryTable_->fontMetrics().horizontalAdvance(QStringLiteral("Count")) + 12);
    tables->addWidget(sheetTable_, 4);
    tables->addWidget(summaryTable_, 3);
    layout->addLayout(tables);
    ShowCaptureButton();
    return group;
}

std::chrono::nanoseconds TTrendWindow::Span() const
{
    const int i = std::clamp(span_->currentIndex(), 0, static_cast<int>(kSpans.size()) - 1);
    return kSpans[static_cast<std::size_t>(i)];
}

bool TTrendWindow::ChooseUnits(const QString& text)
{
    const std::optional<std::vector<unsigned>> units = ParseUnitList(text.toStdString(), kTrendUnits);
    QPalette p = units_->palette();
    p.setColor(QPalette::Base, units ? palette().color(QPalette::Base) : QColor(255, 210, 210));
    units_->setPalette(p);
    if (!units)
        return false;
    ApplyUnits(*units);
    return true;
}

void TTrendWindow::AddUnit(unsigned unit)
{
    if (unit >= kTrendUnits)
        return;
    std::vector<unsigned> units = Units();
    if (std::find(units.begin(), units.end(), unit) == units.end()) {
        units.push_back(unit);
        std::sort(units.begin(), units.end());
        ApplyUnits(units);
    }
    captureUnit_->setCurrentIndex(captureUnit_->findData(unit));
}

void TTrendWindow::ApplyUnits(const std::vector<unsigned>& units)
{
    for (unsigned u = 0; u < kTrendUnits; ++u)
        store_.Choose(u, std::find(units.begin(), units.end(), u) != units.end());
    units_->setText(QString::fromStdString(FormatUnitList(units)));

    std::vector<TTrendPlot::Curve> curves;
    int decimals = 0;
    for (std::size_t i = 0; i < units.size(); ++i) {
        curves.push_back({units[i], CurveColour(i)});
        decimals = std::max(decimals, Decimals(units[i]));
    }
    plot_->SetCurves(curves);
    plot_->SetDecimals(decimals);

    {
        fillingTables_ = true;
        stability_->setRowCount(static_cast<int>(units.size()));
        for (int row = 0; row < static_cast<int>(units.size()); ++row) {
            const unsigned unit = units[static_cast<std::size_t>(row)];
            for (int column = 0; column < kStabilityColumns; ++column) {
                auto* item = Item(QString(), column >= kMotionColumn ? Qt::Alignment(Qt::AlignCenter)
                                                                     : Qt::AlignRight | Qt::AlignVCenter);
                if (column != kDivisionColumn)
                    item->setFlags(item->flags() & ~Qt::ItemIsEditable);
                stability_->setItem(row, column, item);
            }
            stability_->item(row, kUnitColumn)->setText(QString::number(unit));
            stability_->item(row, kUnitColumn)->setData(Qt::DecorationRole, CurveColour(std::size_t(row)));
            stability_->item(row, kDivisionColumn)->setText(QLocale().toString(divisions_[unit], 'g', 6));
        }
        fillingTables_ = false;
    }

    const QVariant picked = captureUnit_->currentData();
    captureUnit_->clear();
    for (unsigned unit : units)
        captureUnit_->addItem(QStringLiteral("Unit %1").arg(unit), unit);
    const int keep = captureUnit_->findData(picked);
    captureUnit_->setCurrentIndex(keep >= 0 ? keep : (units.empty() ? -1 : 0));
    if (wait_ && !store_.Chosen(wait_->wait.Unit())) {
        wait_.reset();
        ShowCaptureButton();
    }
    ShowPlot(clock_.Now());
    ShowStability();
}

void TTrendWindow::ApplyScale()
{
    if (autoScale_->isChecked())
        plot_->SetScale(std::nullopt);
    else
        plot_->SetScale(TTrendPlot::Scale{scaleMin_->value(), scaleMax_->value()});
}

void TTrendWindow::SetPaused(bool paused)
{
    const TimePoint now = clock_.Now();
    if (paused) {
        const std::optional<TimePoint> newest = store_.Newest();
        pausedEnd_ = newest ? std::max(now, *newest) : now;
    } else {
        pausedEnd_.reset();
    }
    pause_->setText(paused ? QStringLiteral("Resume") : QStringLiteral("Pause"));
    ShowScrollBar(now);
    ShowPlot(now);
}

StabilitySettings TTrendWindow::Settings(unsigned unit) const
{
    StabilitySettings s = common_;
    if (unit < kTrendUnits)
        s.division = divisions_[unit];
    return s;
}

void TTrendWindow::SetDivision(unsigned unit, double division)
{
    if (unit >= kTrendUnits || !(division > 0))
        return;
    divisions_[unit] = division;
    const std::vector<unsigned> units = Units();
    const auto it = std::find(units.begin(), units.end(), unit);
    if (it != units.end()) {
        fillingTables_ = true;
        stability_->item(static_cast<int>(it - units.begin()), kDivisionColumn)
            ->setText(QLocale().toString(division, 'g', 6));
        fillingTables_ = false;
    }
    int decimals = 0;
    for (unsigned u : units)
        decimals = std::max(decimals, Decimals(u));
    plot_->SetDecimals(decimals);
    ShowStability();
}

void TTrendWindow::DivisionEdited(int row)
{
    const std::vector<unsigned> units = Units();
    if (row < 0 || row >= static_cast<int>(units.size()))
        return;
    const unsigned unit = units[static_cast<std::size_t>(row)];
    const QString text = stability_->item(row, kDivisionColumn)->text();
    bool ok = false;
    double division = QLocale().toDouble(text, &ok);
    if (!ok)
        division = QLocale::c().toDouble(text, &ok);
    if (ok && division > 0) {
        SetDivision(unit, division);
        return;
    }
    fillingTables_ = true;
    stability_->item(row, kDivisionColumn)->setText(QLocale().toString(divisions_[unit], 'g', 6));
    fillingTables_ = false;
}

int TTrendWindow::Decimals(unsigned unit) const
{
    const double d = unit < kTrendUnits ? divisions_[unit] : StabilitySettings{}.division;
    return std::clamp(static_cast<int>(std::ceil(-std::log10(d) - 1e-9)), 0, 6);
}

QString TTrendWindow::Number(double value, int decimals) const
{
    // The locale's decimal sign, as the value boxes show it; no digit groups.
    QLocale locale;
    locale.setNumberOptions(QLocale::OmitGroupSeparator);
    return locale.toString(value, 'f', std::clamp(decimals, 0, 9));
}

void TTrendWindow::Refresh()
{
    const TimePoint now = clock_.Now();
    ShowPlot(now);
    ShowScrollBar(now);
    ShowStability();
    PollCapture(now);
}

void TTrendWindow::ShowPlot(TimePoint now)
{
    TimePoint end = now;
    if (pausedEnd_) {
        end = *pausedEnd_;
    } else if (const std::optional<TimePoint> newest = store_.Newest()) {
        end = std::max(end, *newest);
    }
    plot_->Show(end, Span());
}

void TTrendWindow::ShowScrollBar(TimePoint now)
{
    const QSignalBlocker block(scroll_);
    if (!pausedEnd_) {
        scroll_->setEnabled(false);
        scroll_->setRange(0, 0);
        return;
    }
    // From the view that starts at the oldest point kept to the one that
    // ends now, in steps of 100 ms.
    const std::optional<TimePoint> oldest = store_.Oldest();
    const TimePoint first = (oldest ? *oldest : originSteady_) + Span();
    const auto steps = [](std::chrono::nanoseconds d) {
        return static_cast<int>(std::max<std::int64_t>(0, d / kScrollStep));
    };
    const std::optional<TimePoint> newest = store_.Newest();
    scroll_->setRange(0, steps((newest ? std::max(now, *newest) : now) - first));
    scroll_->setPageStep(std::max(1, steps(Span())));
    scroll_->setSingleStep(std::max(1, steps(Span()) / 10));
    scroll_->setValue(steps(*pausedEnd_ - first));
    scroll_->setEnabled(true);
}

void TTrendWindow::ShowStability()
{
    const std::vector<unsigned> units = Units();
    const bool divisions = inDivisions_->isChecked();
    for (int row = 0; row < static_cast<int>(units.size()) && row < stability_->rowCount(); ++row) {
        const unsigned unit = units[static_cast<std::size_t>(row)];
        const StabilitySettings settings = Settings(unit);
        const Stability st = Judge(store_.Series(unit), settings);
        const WeightStats& s = st.stats;
        const int d = Decimals(unit);
        SetCell(stability_, row, kFramesColumn, QString::number(s.Count()));
        struct Figure {
            int column;
            double value;
            int decimals;    // in the display unit
            int inDivisions; // decimals in divisions
        };
        const Figure figures[] = {{kMeanColumn, s.Mean(), d + 1, 1},
                                  {kDeviationColumn, s.StandardDeviation(), d + 2, 2},
                                  {kMinimumColumn, s.Minimum(), d, 0},
                                  {kMaximumColumn, s.Maximum(), d, 0},
                                  {kPeakColumn, s.PeakToPeak(), d, 0}};
        for (const Figure& f : figures) {
            if (s.Count() == 0) {
                SetCell(stability_, row, f.column, QString());
                continue;
            }
            const QString text =
                divisions ? Number(st.Divisions(f.value, settings), f.inDivisions) + QStringLiteral(" d")
                          : Number(f.value, f.decimals);
            SetCell(stability_, row, f.column, text, f.value);
        }
        SetCell(stability_, row, kMotionColumn,
                s.Count() == 0 ? QString()
                : st.inMotion  ? QStringLiteral("in motion")
                               : QStringLiteral("\u2013"));
        const QString stable = s.Count() == 0 ? QString()
                               : st.stable    ? QStringLiteral("stable")
                               : !st.full     ? QStringLiteral("window not full")
                                              : QStringLiteral("not stable");
        SetCell(stability_, row, kStableColumn, stable, st.stable);
        QTableWidgetItem* mark = stability_->item(row, kStableColumn);
        const QBrush brush = st.stable ? QBrush(QColor(170, 230, 170)) : QBrush();
        if (mark->background() != brush)
            mark->setBackground(brush);
        QTableWidgetItem* motion = stability_->item(row, kMotionColumn);
        const QBrush motionBrush = st.inMotion ? QBrush(QColor(255, 200, 150)) : QBrush();
        if (motion->background() != motionBrush)
            motion->setBackground(motionBrush);
    }
}

void TTrendWindow::CaptureClick()
{
    if (wait_) {
        wait_.reset();
        ShowCaptureButton();
        return;
    }
    const QVariant unit = captureUnit_->currentData();
    if (!unit.isValid()) {
        Fail(QStringLiteral("Capture"), QStringLiteral("Choose the units to trend first"));
        return;
    }
    std::optional<double> reference;
    const QString text = reference_->text().trimmed();
    if (!text.isEmpty()) {
        bool ok = false;
        double mass = QLocale().toDouble(text, &ok);
        if (!ok)
            mass = QLocale::c().toDouble(text, &ok);
        if (!ok) {
            Fail(QStringLiteral("Capture"),
                 QStringLiteral("The reference mass \"%1\" is no number").arg(text));
            return;
        }
        reference = mass;
    }
    const TimePoint now = clock_.Now();
    wait_.emplace(Waiting{
        CaptureWait(unit.toUInt(), now), reference, note_->text(),
        QDateTime::currentDateTime().addMSecs(
            std::chrono::duration_cast<std::chrono::milliseconds>(CaptureWait::kDefaultTimeout).count())});
    ShowCaptureButton();
    // A unit that is stable now is captured at once.
    PollCapture(now);
}

void TTrendWindow::PollCapture(TimePoint now)
{
    if (!wait_)
        return;
    const unsigned unit = wait_->wait.Unit();
    std::optional<CaptureRow> row = wait_->wait.Poll(now, Judge(store_.Series(unit), Settings(unit)));
    if (!row)
        return;
    row->time = QTime::currentTime().toString(QStringLiteral("hh:mm:ss")).toStdString();
    row->reference = wait_->reference;
    row->note = wait_->note.toStdString();
    wait_.reset();
    sheet_.Add(*row);
    AddSheetRow(*row);
    ShowSummaries();
    ShowCaptureButton();
}

void TTrendWindow::ShowCaptureButton()
{
    if (wait_) {
        capture_->setText(QStringLiteral("Waiting for unit %1\u2026 until %2 \u2013 Cancel")
                              .arg(wait_->wait.Unit())
                              .arg(wait_->deadline.toString(QStringLiteral("hh:mm:ss"))));
        capture_->setToolTip(QStringLiteral("Captures when the unit is stable, or at the time given as not "
                                            "stable. Click or F9 cancels."));
    } else {
        capture_->setText(QStringLiteral("Capture (F9)"));
        capture_->setToolTip(
            QStringLiteral("Waits until the unit is stable (at most %1 s), then adds its mean "
                           "and standard deviation to the sheet")
                .arg(std::chrono::duration_cast<std::chrono::seconds>(CaptureWait::kDefaultTimeout).count()));
    }
}

void TTrendWindow::AddSheetRow(const CaptureRow& r)
{
    const int d = Decimals(r.unit);
    const int row = sheetTable_->rowCount();
    sheetTable_->insertRow(row);
    sheetTable_->setItem(row, 0, Item(QString::fromStdString(r.time), Qt::AlignLeft | Qt::AlignVCenter));
    sheetTable_->setItem(row, 1, Item(QString::number(r.unit)));
    sheetTable_->setItem(row, 2, Item(QString::number(r.frames)));
    sheetTable_->setItem(row, 3, Item(Number(r.mean, d + 1)));
    sheetTable_->setItem(row, 4, Item(Number(r.standardDeviation, d + 2)));
    sheetTable_->setItem(row, 5, Item(r.reference ? Number(*r.reference, d) : QString()));
    sheetTable_->setItem(row, 6,
                         Item(r.stable ? QStringLiteral("yes") : QStringLiteral("no (timed out)"),
                              Qt::AlignLeft | Qt::AlignVCenter));
    sheetTable_->setItem(row, 7, Item(QString::fromStdString(r.note), Qt::AlignLeft | Qt::AlignVCenter));
    if (!r.stable)
        for (int c = 0; c < sheetTable_->columnCount(); ++c)
            sheetTable_->item(row, c)->setBackground(QColor(255, 215, 200));
    sheetTable_->scrollToBottom();
}

void TTrendWindow::ShowSummaries()
{
    const std::vector<CaptureSummary> summaries = sheet_.Summaries();
    summaryTable_->setRowCount(static_cast<int>(summaries.size()));
    for (int row = 0; row < static_cast<int>(summaries.size()); ++row) {
        const CaptureSummary& s = summaries[static_cast<std::size_t>(row)];
        const int d = Decimals(s.unit);
        summaryTable_->setItem(row, 0, Item(QString::number(s.unit)));
        summaryTable_->setItem(row, 1, Item(s.reference ? Number(*s.reference, d) : QStringLiteral("none")));
        summaryTable_->setItem(row, 2, Item(QString::number(s.count)));
        summaryTable_->setItem(row, 3, Item(Number(s.spread, d + 1)));
        summaryTable_->setItem(row, 4, Item(s.count > 1 ? Number(s.standardDeviation, d + 2) : QString()));
        summaryTable_->setItem(row, 5, Item(Number(s.mean, d + 1)));
        summaryTable_->setItem(row, 6, Item(s.error ? Number(*s.error, d + 1) : QString()));
    }
}

bool TTrendWindow::WriteFile(const QString& path, const QByteArray& bytes, QString* error)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(bytes) != bytes.size() ||
        !file.flush()) {
        if (error)
            *error = QStringLiteral("Cannot write %1: %2").arg(path, file.errorString());
        return false;
    }
    return true;
}

bool TTrendWindow::ExportSheet(const QString& path, QString* error)
{
    return WriteFile(path, QByteArray::fromStdString(sheet_.Csv()), error);
}

bool TTrendWindow::ExportTrend(const QString& path, QString* error)
{
    return WriteFile(path, QByteArray::fromStdString(TrendCsv(store_, Units(), originSteady_)), error);
}

bool TTrendWindow::SavePlot(const QString& path, QString* error)
{
    if (plot_->grab().save(path, "PNG"))
        return true;
    if (error)
        *error = QStringLiteral("Cannot write the image to %1").arg(path);
    return false;
}

QString TTrendWindow::AskFile(const QString& caption, const QString& suggested, const QString& filter)
{
    // The exports share one folder: the one the last of them went to.
    const QString start = InLastFolder(kTrendFolder, suggested);
    const QString path = askFile_ ? askFile_(caption, start, filter)
                                  : QFileDialog::getSaveFileName(this, caption, start, filter);
    if (!path.isEmpty())
        RememberFolder(kTrendFolder, path);
    return path;
}

namespace {

template <typename Box>
void SetWithin(Box* box, const QVariant& value)
{
    bool ok = false;
    const double v = value.toDouble(&ok);
    if (ok && v >= box->minimum() && v <= box->maximum())
        box->setValue(static_cast<decltype(box->value())>(v));
}

} // namespace

void TTrendWindow::SaveSettings(QSettings& settings) const
{
    settings.setValue(QStringLiteral("units"), QString::fromStdString(FormatUnitList(Units())));
    settings.setValue(QStringLiteral("span"), span_->currentText());
    settings.setValue(QStringLiteral("autoScale"), autoScale_->isChecked());
    settings.setValue(QStringLiteral("scaleMin"), scaleMin_->value());
    settings.setValue(QStringLiteral("scaleMax"), scaleMax_->value());
    settings.setValue(QStringLiteral("windowMs"), window_->value());
    settings.setValue(QStringLiteral("motionBit"), motionBit_->value());
    settings.setValue(QStringLiteral("stableBelow"), limit_->value());
    settings.setValue(QStringLiteral("inDivisions"), inDivisions_->isChecked());
    // Only the divisions set by hand; the others keep the default.
    settings.remove(QStringLiteral("divisions"));
    settings.beginGroup(QStringLiteral("divisions"));
    for (unsigned unit = 0; unit < kTrendUnits; ++unit)
        if (divisions_[unit] != StabilitySettings{}.division)
            settings.setValue(QString::number(unit), divisions_[unit]);
    settings.endGroup();
    if (const auto* splitter = findChild<QSplitter*>(QStringLiteral("TrendSplitter")))
        settings.setValue(QStringLiteral("splitter"), splitter->saveState());
    settings.setValue(QStringLiteral("geometry"), saveGeometry());
}

void TTrendWindow::RestoreSettings(QSettings& settings)
{
    if (const QByteArray geometry = settings.value(QStringLiteral("geometry")).toByteArray();
        !geometry.isEmpty())
        restoreGeometry(geometry);
    if (auto* splitter = findChild<QSplitter*>(QStringLiteral("TrendSplitter")))
        if (const QByteArray state = settings.value(QStringLiteral("splitter")).toByteArray();
            !state.isEmpty())
            splitter->restoreState(state);
    // The divisions before the units: the stability rows show them.
    settings.beginGroup(QStringLiteral("divisions"));
    for (const QString& key : settings.childKeys()) {
        bool unitOk = false;
        bool divisionOk = false;
        const unsigned unit = key.toUInt(&unitOk);
        const double division = settings.value(key).toDouble(&divisionOk);
        if (unitOk && divisionOk)
            SetDivision(unit, division);
    }
    settings.endGroup();
    const std::optional<std::vector<unsigned>> units =
        ParseUnitList(settings.value(QStringLiteral("units")).toString().toStdString(), kTrendUnits);
    if (units && !units->empty())
        ApplyUnits(*units);
    if (const int span = span_->findText(settings.value(QStringLiteral("span")).toString()); span >= 0)
        span_->setCurrentIndex(span);
    // A fixed scale starts from what is in sight; the kept limits then replace it.
    if (settings.contains(QStringLiteral("autoScale")))
        autoScale_->setChecked(settings.value(QStringLiteral("autoScale")).toBool());
    SetWithin(scaleMin_, settings.value(QStringLiteral("scaleMin")));
    SetWithin(scaleMax_, settings.value(QStringLiteral("scaleMax")));
    SetWithin(window_, settings.value(QStringLiteral("windowMs")));
    SetWithin(motionBit_, settings.value(QStringLiteral("motionBit")));
    SetWithin(limit_, settings.value(QStringLiteral("stableBelow")));
    if (settings.contains(QStringLiteral("inDivisions")))
        inDivisions_->setChecked(settings.value(QStringLiteral("inDivisions")).toBool());
}

void TTrendWindow::Fail(const QString& caption, const QString& text)
{
    messages_.ShowMessage(caption, text, QMessageBox::Warning, this);
}

void TTrendWindow::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    timer_->start();
    Refresh();
}

void TTrendWindow::hideEvent(QHideEvent* event)
{
    QWidget::hideEvent(event);
    timer_->stop();
}

void TTrendWindow::closeEvent(QCloseEvent* event)
{
    // What is kept stays for the next time the window is opened; a capture
    // waiting ends with it.
    wait_.reset();
    ShowCaptureButton();
    QWidget::closeEvent(event);
    emit closed();
}
