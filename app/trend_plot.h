// The trend window's plot: each chosen unit's TPDO1 value over the receive
// time, drawn from the minimum and maximum of each pixel column (never point
// by point), with a grid, a time axis in wall-clock time, a value axis, a
// legend and a cursor that reads the time and each unit's value under the
// mouse.
//
// The columns are kept between refreshes. When the view moves on by whole
// columns they are moved along, and only the columns that can have changed
// (from the last point already reckoned on, and those new at the right) are
// reckoned from the store again. Grid, axes and curves are painted into a
// pixmap that is painted anew only when they changed; the cursor and the
// legend are drawn over it, so moving the mouse redraws no curve.
#pragma once

#include "trend.h"

#include <QColor>
#include <QDateTime>
#include <QHash>
#include <QImage>
#include <QStaticText>
#include <QWidget>

#include <chrono>
#include <cstdint>
#include <optional>
#include <vector>

class TTrendPlot : public QWidget {
    Q_OBJECT
public:
    struct Curve {
        unsigned unit = 0;
        QColor colour;
    };
    struct Scale {
        double min = 0;
        double max = 1;
    };

    explicit TTrendPlot(const tervix::TrendStore& store, QWidget* parent = nullptr);

    // One curve each, drawn in this order; the legend lists them so.
    void SetCurves(const std::vector<Curve>& curves);
    // A fixed vertical scale; none: fitted to what is in view.
    void SetScale(std::optional<Scale> scale);
    // The time axis reads as the wall clock: `wall` is the time at `steady`.
    void SetWallClock(tervix::TimePoint steady, const QDateTime& wall);
    // Decimals of the values read at the cursor (and at least of the value axis).
    void SetDecimals(int decimals);

    // Shows the `span` that ends at `end`, the end rounded up to the next
    // whole column of time. Reckons what changed, repaints when anything did.
    void Show(tervix::TimePoint end, std::chrono::nanoseconds span);
    // The next Show reckons every column anew.
    void Invalidate();

    tervix::TimePoint ViewFrom() const { return At(fromNs_); }
    tervix::TimePoint ViewTo() const { return At(toNs_); }
    // The scale of the value axis as drawn (fitted or fixed).
    Scale ShownScale() const { return scale_; }
    // Times of the pixel columns; 0 before the first Show.
    std::chrono::nanoseconds ColumnTime() const { return std::chrono::nanoseconds(columnNs_); }
    // The cursor's time (none while the mouse is outside the plot area).
    std::optional<tervix::TimePoint> CursorTime() const;
    // What the cursor reads: its time, and each curve's value at the point
    // nearest to it ("–" where the unit has none in view).
    QString CursorText() const;
    // The plot area, in widget coordinates.
    QRect PlotArea() const { return area_; }

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void leaveEvent(QEvent* event) override;

private:
    struct CurveState {
        Curve curve;
        std::vector<tervix::EnvelopeColumn> columns;
        std::int64_t reckonedTo = 0; // receive time of the newest point reckoned
        bool any = false;            // a point had been reckoned
    };

    static tervix::TimePoint At(std::int64_t ns) { return tervix::TimePoint(std::chrono::nanoseconds(ns)); }
    void Layout();
    bool Reckon(std::int64_t endNs, std::int64_t spanNs);
    bool FitScale();
    void PaintLayer();
    void PaintGrid(QPainter& p);
    void PaintCurve(QPainter& p, const CurveState& c);
    // The column lines of the curve being painted, `width` pixels wide.
    void FillColumns(QRgb colour, int width);
    void PaintLegend(QPainter& p) const;
    void PaintCursor(QPainter& p) const;
    double Y(double value) const;
    QDateTime WallAt(std::int64_t ns) const;
    QString ValueText(double v) const;
    // A text laid out once for drawing at will (axis labels, legend).
    const QStaticText& Label(const QString& text) const;
    // The value of the curve's point nearest to `ns`, when one is in view.
    std::optional<float> ValueAt(const CurveState& c, std::int64_t ns) const;

    const tervix::TrendStore& store_;
    std::vector<CurveState> curves_;
    std::optional<Scale> fixed_;
    Scale scale_;
    std::int64_t wallRefNs_ = 0;
    QDateTime wallRef_ = QDateTime::currentDateTime();
    int decimals_ = 3;

    // The columns reckoned: their count, time each, and the view's ends.
    int columnCount_ = 0;
    std::int64_t columnNs_ = 0;
    std::int64_t fromNs_ = 0;
    std::int64_t toNs_ = 0;
    std::int64_t spanNs_ = 0;
    bool reckoned_ = false;

    QRect area_;   // the plot area
    QRect legend_; // the legend's strip above it
    int legendColumns_ = 1;
    int entryWidth_ = 0;
    QImage layer_; // grid, axes and curves
    bool layerValid_ = false;
    std::optional<int> cursorX_;
    // Reused for every curve.
    std::vector<QLine> columnLines_;
    std::vector<QLineF> joins_;
    std::vector<QPointF> dots_;
    mutable QHash<QString, QStaticText> labels_;
};
