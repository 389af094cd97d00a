#include "trend_plot.h"

#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>

using namespace tervix;

namespace {

constexpr int kLegendSwatch = 14;
constexpr int kTimeTickMinPx = 96;
constexpr int kValueTickMinPx = 32;
// Points further apart than this are not joined: the unit was silent.
constexpr std::int64_t kJoinNs = 1'000'000'000;
// Columns this far apart or more draw their points as dots: each frame shows.
constexpr int kDotGap = 4;

constexpr std::array<std::int64_t, 19> kTimeStepsMs{
    100,    200,    500,    1000,   2000,    5000,    10000,   15000,    30000,   60000,
    120000, 300000, 600000, 900000, 1800000, 3600000, 7200000, 14400000, 86400000};

// 1, 2 or 5 times a power of ten, at least `raw`.
double NiceStep(double raw)
{
    if (!(raw > 0))
        return 1;
    const double power = std::pow(10.0, std::floor(std::log10(raw)));
    for (double m : {1.0, 2.0, 5.0, 10.0})
        if (m * power >= raw * (1 - 1e-9))
            return m * power;
    return 10 * power;
}

// The locale's decimal sign, as the value boxes show it; no digit groups.
QString NumberText(double v, int decimals)
{
    QLocale locale;
    locale.setNumberOptions(QLocale::OmitGroupSeparator);
    return locale.toString(v, 'f', decimals);
}

int StepDecimals(double step)
{
    return std::clamp(static_cast<int>(std::ceil(-std::log10(step) - 1e-9)), 0, 9);
}

} // namespace

TTrendPlot::TTrendPlot(const TrendStore& store, QWidget* parent) : QWidget(parent), store_(store)
{
    setObjectName(QStringLiteral("TrendPlot"));
    setMouseTracking(true);
    setAttribute(Qt::WA_OpaquePaintEvent);
    setMinimumSize(320, 200);
    wallRefNs_ = 0;
}

void TTrendPlot::SetCurves(const std::vector<Curve>& curves)
{
    curves_.clear();
    for (const Curve& c : curves)
        curves_.push_back(CurveState{c, {}, 0, false});
    Layout();
    Invalidate();
    update();
}

void TTrendPlot::SetScale(std::optional<Scale> scale)
{
    fixed_ = scale;
    if (fixed_ && !(fixed_->max > fixed_->min))
        fixed_->max = fixed_->min + 1;
    FitScale();
    layerValid_ = false;
    update();
}

void TTrendPlot::SetWallClock(TimePoint steady, const QDateTime& wall)
{
    wallRefNs_ = steady.time_since_epoch().count();
    wallRef_ = wall;
    layerValid_ = false;
}

void TTrendPlot::SetDecimals(int decimals)
{
    decimals_ = std::clamp(decimals, 0, 9);
    Layout();
    layerValid_ = false;
    update();
}

void TTrendPlot::Invalidate()
{
    reckoned_ = false;
    layerValid_ = false;
}

void TTrendPlot::Layout()
{
    labels_.clear(); // laid out in the font they were made for
    const QFontMetrics fm(font());
    const int line = fm.height();
    entryWidth_ =
        kLegendSwatch + 10 +
        fm.horizontalAdvance(QStringLiteral("Unit 63: ") + ValueText(-88888.0) + QStringLiteral("  "));
    const int left = fm.horizontalAdvance(ValueText(-88888.0)) + 10;
    const int usable = std::max(1, width() - left - 12);
    legendColumns_ = std::max(1, usable / std::max(1, entryWidth_));
    const int rows = curves_.empty() ? 1
                                     : static_cast<int>((curves_.size() + std::size_t(legendColumns_) - 1) /
                                                        std::size_t(legendColumns_));
    legend_ = QRect(left, 4, usable, rows * (line + 2) + 4);
    area_ = QRect(QPoint(left, legend_.bottom() + 6), QPoint(width() - 12, height() - line - 10));
}

void TTrendPlot::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    Layout();
    if (spanNs_ > 0)
        Show(At(toNs_ - 1), std::chrono::nanoseconds(spanNs_));
    layerValid_ = false;
}

void TTrendPlot::Show(TimePoint end, std::chrono::nanoseconds span)
{
    spanNs_ = std::max<std::int64_t>(1, span.count());
    const bool changed = Reckon(end.time_since_epoch().count(), spanNs_);
    if (changed) {
        FitScale();
        layerValid_ = false;
        update();
    }
}

bool TTrendPlot::Reckon(std::int64_t endNs, std::int64_t spanNs)
{
    const int width = std::max(1, area_.width());
    const std::int64_t columnNs = std::max<std::int64_t>(1, spanNs / width);
    // The end is a whole number of columns, past the time asked for: the
    // newest point lies in the last column, and a view moved by whole
    // columns finds its columns where they were.
    const std::int64_t to =
        (endNs >= 0 ? endNs / columnNs : (endNs - columnNs + 1) / columnNs) * columnNs + columnNs;
    const std::int64_t from = to - columnNs * width;
    const bool sameGrid = reckoned_ && width == columnCount_ && columnNs == columnNs_;
    const std::int64_t move = sameGrid ? (to - toNs_) / columnNs : 0; // columns, + forward
    const bool all = !sameGrid || move >= width || -move >= width;
    const auto columns = static_cast<std::size_t>(width);
    bool changed = all || move != 0;

    std::vector<CurveState*> whole;
    for (CurveState& c : curves_) {
        const TrendSeries& series = store_.Series(c.curve.unit);
        const bool any = !series.Empty();
        const std::int64_t newest = any ? series[series.Size() - 1].ns : 0;
        // A series that lost its points (the unit chosen anew) is reckoned whole.
        if (all || c.columns.size() != columns || (c.any && (!any || newest < c.reckonedTo))) {
            whole.push_back(&c);
        } else if (any) {
            const auto shift = static_cast<std::size_t>(move > 0 ? move : -move);
            std::size_t first = columns; // reckoned anew from here to the end
            if (move > 0) {
                std::move(c.columns.begin() + std::ptrdiff_t(shift), c.columns.end(), c.columns.begin());
                std::fill(c.columns.end() - std::ptrdiff_t(shift), c.columns.end(), EnvelopeColumn{});
                first = columns - shift;
            } else if (move < 0) {
                // Scrolled back: the columns coming in on the left.
                std::move_backward(c.columns.begin(), c.columns.end() - std::ptrdiff_t(shift),
                                   c.columns.end());
                std::fill(c.columns.begin(), c.columns.begin() + std::ptrdiff_t(shift), EnvelopeColumn{});
                Envelope(series, At(from), At(from + std::int64_t(shift) * columnNs),
                         std::span<EnvelopeColumn>(c.columns).first(shift));
            }
            // The column of the newest point reckoned may get more points.
            if (!c.any || newest > c.reckonedTo) {
                if (!c.any || c.reckonedTo < from)
                    first = 0;
                else if (c.reckonedTo < to)
                    first = std::min(first, static_cast<std::size_t>((c.reckonedTo - from) / columnNs));
            }
            if (first < columns) {
                Envelope(series, At(from + std::int64_t(first) * columnNs), At(to),
                         std::span<EnvelopeColumn>(c.columns).subspan(first));
                changed = true;
            }
        }
        c.any = any;
        c.reckonedTo = newest;
    }

    for (CurveState* c : whole) {
        c->columns.assign(columns, EnvelopeColumn{});
        Envelope(store_.Series(c->curve.unit), At(from), At(to), c->columns);
    }
    changed = changed || !whole.empty();

    reckoned_ = true;
    columnCount_ = width;
    columnNs_ = columnNs;
    fromNs_ = from;
    toNs_ = to;
    return changed;
}

bool TTrendPlot::FitScale()
{
    Scale s;
    if (fixed_) {
        s = *fixed_;
    } else {
        float lo = std::numeric_limits<float>::infinity();
        float hi = -std::numeric_limits<float>::infinity();
        for (const CurveState& c : curves_)
            for (const EnvelopeColumn& col : c.columns)
                if (col.any) {
                    lo = std::min(lo, col.min);
                    hi = std::max(hi, col.max);
                }
        if (!(lo <= hi)) {
            s = scale_;
        } else {
            const double least = std::max(std::abs(double(hi)) * 1e-6, std::pow(10.0, -decimals_));
            const double pad = std::max((double(hi) - double(lo)) * 0.08, least);
            s = {double(lo) - pad, double(hi) + pad};
        }
    }
    const bool changed = s.min != scale_.min || s.max != scale_.max;
    scale_ = s;
    return changed;
}

double TTrendPlot::Y(double value) const
{
    const double y = area_.bottom() + 1 - (value - scale_.min) / (scale_.max - scale_.min) * area_.height();
    // Far outside a fixed scale: kept near the area, which clips it.
    return std::clamp(y, double(area_.top()) - 4, double(area_.bottom()) + 5);
}

QDateTime TTrendPlot::WallAt(std::int64_t ns) const
{
    return wallRef_.addMSecs((ns - wallRefNs_) / 1'000'000);
}

QString TTrendPlot::ValueText(double v) const
{
    return NumberText(v, decimals_);
}

void TTrendPlot::PaintLayer()
{
    const qreal ratio = devicePixelRatioF();
    const QSize pixels = size() * ratio;
    if (layer_.size() != pixels)
        layer_ = QImage(pixels, QImage::Format_ARGB32_Premultiplied);
    layer_.setDevicePixelRatio(ratio);
    layer_.fill(palette().color(QPalette::Window));
    QPainter p(&layer_);
    p.fillRect(area_, palette().color(QPalette::Base));
    PaintGrid(p);
    p.save();
    p.setClipRect(area_.adjusted(0, 0, 1, 1));
    for (const CurveState& c : curves_)
        PaintCurve(p, c);
    p.restore();
    if (curves_.empty() ||
        std::none_of(curves_.begin(), curves_.end(), [](const CurveState& c) { return c.any; })) {
        p.setPen(palette().color(QPalette::PlaceholderText));
        p.drawText(area_, Qt::AlignCenter,
                   curves_.empty() ? QStringLiteral("Choose units above")
                                   : QStringLiteral("No TPDO1 of these units yet"));
    }
    p.setPen(palette().color(QPalette::Mid));
    p.drawRect(area_);
    layerValid_ = true;
}

void TTrendPlot::PaintGrid(QPainter& p)
{
    if (area_.width() <= 0 || area_.height() <= 0)
        return;
    const QColor grid = palette().color(QPalette::Midlight);
    const QColor text = palette().color(QPalette::WindowText);

    // Values: 1, 2 or 5 times a power of ten, some 32 pixels apart at least.
    const double range = scale_.max - scale_.min;
    const double step = NiceStep(range / std::max(1, area_.height() / kValueTickMinPx));
    const int decimals = std::max(StepDecimals(step), 0);
    for (double v = std::ceil(scale_.min / step) * step; v <= scale_.max + step * 1e-9; v += step) {
        const int y = static_cast<int>(std::lround(Y(v)));
        if (y < area_.top() || y > area_.bottom() + 1)
            continue;
        p.setPen(grid);
        p.drawLine(area_.left() + 1, y, area_.right(), y);
        p.setPen(text);
        const QStaticText& label = Label(NumberText(std::abs(v) < step * 1e-6 ? 0.0 : v, decimals));
        p.drawStaticText(QPointF(area_.left() - 6 - label.size().width(), y - label.size().height() / 2),
                         label);
    }

    // Times: wall-clock ticks of a round step, some 96 pixels apart at least.
    if (toNs_ <= fromNs_)
        return;
    const double pxPerMs = double(area_.width()) * 1e6 / double(toNs_ - fromNs_);
    std::int64_t stepMs = kTimeStepsMs.back();
    for (const std::int64_t s : kTimeStepsMs)
        if (double(s) * pxPerMs >= kTimeTickMinPx) {
            stepMs = s;
            break;
        }
    const QDateTime fromWall = WallAt(fromNs_);
    const std::int64_t local = fromWall.toMSecsSinceEpoch() + std::int64_t(fromWall.offsetFromUtc()) * 1000;
    std::int64_t tick = (local / stepMs + 1) * stepMs;
    const QString format = stepMs < 1000    ? QStringLiteral("hh:mm:ss.z")
                           : stepMs < 60000 ? QStringLiteral("hh:mm:ss")
                                            : QStringLiteral("hh:mm");
    for (;; tick += stepMs) {
        const double x = area_.left() + double(tick - local) * pxPerMs;
        if (x > area_.right())
            break;
        const int xi = static_cast<int>(std::lround(x));
        p.setPen(grid);
        p.drawLine(xi, area_.top() + 1, xi, area_.bottom());
        p.setPen(text);
        const QStaticText& label = Label(fromWall.addMSecs(tick - local).toString(format));
        const double w = label.size().width();
        if (xi - w / 2 < area_.left() - 8 || xi + w / 2 > width())
            continue; // no room for its label
        p.drawStaticText(QPointF(xi - w / 2, area_.bottom() + 4), label);
    }
}

const QStaticText& TTrendPlot::Label(const QString& text) const
{
    // The labels come back on every repaint; laid out once, they cost a copy
    // of their glyphs. Times move on, so the cache is emptied now and then.
    auto it = labels_.find(text);
    if (it == labels_.end()) {
        if (labels_.size() >= 512)
            labels_.clear();
        QStaticText label(text);
        label.setTextFormat(Qt::PlainText);
        label.prepare(QTransform(), font());
        it = labels_.insert(text, label);
    }
    return *it;
}

void TTrendPlot::PaintCurve(QPainter& p, const CurveState& c)
{
    columnLines_.clear();
    joins_.clear();
    dots_.clear();
    const double k = area_.height() / (scale_.max - scale_.min);
    const double base = area_.bottom() + 1 + scale_.min * k;
    const double lowest = area_.top() - 4.0, highest = area_.bottom() + 5.0;
    const auto y = [&](float v) { return std::clamp(base - double(v) * k, lowest, highest); };
    const std::int64_t joinColumns =
        std::max<std::int64_t>(2, kJoinNs / std::max<std::int64_t>(1, columnNs_));
    const bool few = curves_.size() <= 8;
    int previous = -1;
    double prevTop = 0, prevBottom = 0;
    const int columns = static_cast<int>(c.columns.size());
    for (int x = 0; x < columns; ++x) {
        const EnvelopeColumn& col = c.columns[static_cast<std::size_t>(x)];
        if (!col.any)
            continue;
        const int px = area_.left() + x;
        const double top = y(col.max);
        const double bottom = y(col.min);
        double from = top, to = bottom;
        const int gap = previous < 0 ? 0 : x - previous;
        if (gap == 1) {
            // Neighbours overlap, so the trace has no breaks.
            from = std::min(top, prevBottom);
            to = std::max(bottom, prevTop);
        } else if (gap > 1 && gap <= joinColumns) {
            joins_.emplace_back(area_.left() + previous + 0.5, (prevTop + prevBottom) / 2, px + 0.5,
                                (top + bottom) / 2);
        }
        if (few && (gap == 0 || gap >= kDotGap))
            dots_.emplace_back(px + 0.5, (top + bottom) / 2);
        columnLines_.emplace_back(px, static_cast<int>(std::floor(from)), px,
                                  static_cast<int>(std::floor(to)));
        previous = x;
        prevTop = top;
        prevBottom = bottom;
    }
    // Column lines are upright and on whole pixels: drawn without
    // smoothing, the fastest way the raster engine has. A few curves get
    // thicker lines, smoothed joins, and a dot for each frame when frames
    // lie apart; many are drawn thin, without dots.
    QPen pen(c.curve.colour);
    pen.setCosmetic(true);
    pen.setWidth(few ? 2 : 1);
    p.setPen(pen);
    if (layer_.devicePixelRatio() == 1.0 && layer_.format() == QImage::Format_ARGB32_Premultiplied)
        FillColumns(c.curve.colour.rgba(), few ? 2 : 1);
    else
        p.drawLines(columnLines_.data(), static_cast<int>(columnLines_.size()));
    p.setRenderHint(QPainter::Antialiasing, few);
    pen.setWidthF(few ? 1.6 : 1.0);
    p.setPen(pen);
    p.drawLines(joins_.data(), static_cast<int>(joins_.size()));
    pen.setWidthF(3.5);
    pen.setCapStyle(Qt::RoundCap);
    p.setPen(pen);
    p.drawPoints(dots_.data(), static_cast<int>(dots_.size()));
    p.setRenderHint(QPainter::Antialiasing, false);
}

void TTrendPlot::FillColumns(QRgb colour, int width)
{
    // Straight into the image, clipped to the inside of the plot area: each
    // is a run of pixels down one or two columns.
    const int top = area_.top() + 1, bottom = area_.bottom();
    const int right = area_.right();
    const auto stride = static_cast<std::size_t>(layer_.bytesPerLine()) / sizeof(QRgb);
    auto* bits = reinterpret_cast<QRgb*>(layer_.bits());
    for (const QLine& l : columnLines_) {
        const int y0 = std::max(top, std::min(l.y1(), l.y2()));
        const int y1 = std::min(bottom, std::max(l.y1(), l.y2()));
        const int x1 = std::min(right, l.x1() + width - 1);
        for (int y = y0; y <= y1; ++y) {
            QRgb* row = bits + std::size_t(y) * stride;
            for (int x = l.x1(); x <= x1; ++x)
                row[x] = colour;
        }
    }
}

std::optional<float> TTrendPlot::ValueAt(const CurveState& c, std::int64_t ns) const
{
    const TrendSeries& s = store_.Series(c.curve.unit);
    if (s.Empty())
        return std::nullopt;
    std::size_t i = s.LowerBound(At(ns));
    if (i == s.Size() || (i > 0 && ns - s[i - 1].ns < s[i].ns - ns))
        i = i == 0 ? 0 : i - 1;
    if (s[i].ns < fromNs_ || s[i].ns >= toNs_)
        return std::nullopt;
    return s[i].value;
}

std::optional<TimePoint> TTrendPlot::CursorTime() const
{
    if (!cursorX_ || !reckoned_)
        return std::nullopt;
    return At(fromNs_ + std::int64_t(*cursorX_ - area_.left()) * columnNs_ + columnNs_ / 2);
}

QString TTrendPlot::CursorText() const
{
    const std::optional<TimePoint> t = CursorTime();
    if (!t)
        return {};
    const std::int64_t ns = t->time_since_epoch().count();
    QString text = WallAt(ns).toString(QStringLiteral("hh:mm:ss.zzz"));
    for (const CurveState& c : curves_) {
        const std::optional<float> v = ValueAt(c, ns);
        text += QStringLiteral("  unit %1: %2")
                    .arg(c.curve.unit)
                    .arg(v ? ValueText(*v) : QStringLiteral("\u2013"));
    }
    return text;
}

void TTrendPlot::PaintLegend(QPainter& p) const
{
    const QFontMetrics fm(font());
    const std::optional<TimePoint> t = CursorTime();
    for (std::size_t i = 0; i < curves_.size(); ++i) {
        const CurveState& c = curves_[i];
        const int row = static_cast<int>(i) / legendColumns_;
        const int col = static_cast<int>(i) % legendColumns_;
        const QRect entry(legend_.left() + col * entryWidth_, legend_.top() + 2 + row * (fm.height() + 2),
                          entryWidth_, fm.height());
        p.fillRect(QRect(entry.left(), entry.center().y() - 2, kLegendSwatch, 4), c.curve.colour);
        QString label = QStringLiteral("Unit %1").arg(c.curve.unit);
        if (t) {
            const std::optional<float> v = ValueAt(c, t->time_since_epoch().count());
            label += QStringLiteral(": ") + (v ? ValueText(*v) : QStringLiteral("\u2013"));
        }
        p.setPen(palette().color(QPalette::WindowText));
        const QStaticText& text = Label(label);
        p.drawStaticText(
            QPointF(entry.left() + kLegendSwatch + 6, entry.center().y() + 1 - text.size().height() / 2),
            text);
    }
}

void TTrendPlot::PaintCursor(QPainter& p) const
{
    if (!cursorX_)
        return;
    const std::optional<TimePoint> t = CursorTime();
    if (!t)
        return;
    QPen pen(palette().color(QPalette::WindowText));
    pen.setStyle(Qt::DashLine);
    p.setPen(pen);
    p.drawLine(*cursorX_, area_.top() + 1, *cursorX_, area_.bottom());
    const QFontMetrics fm(font());
    const QString time = WallAt(t->time_since_epoch().count()).toString(QStringLiteral("hh:mm:ss.zzz"));
    const int w = fm.horizontalAdvance(time) + 8;
    const int x = std::clamp(*cursorX_ - w / 2, area_.left() + 1, area_.right() - w);
    const QRect box(x, area_.top() + 2, w, fm.height() + 2);
    p.fillRect(box, palette().color(QPalette::ToolTipBase));
    p.setPen(palette().color(QPalette::ToolTipText));
    p.drawRect(box.adjusted(0, 0, -1, -1));
    p.drawText(box, Qt::AlignCenter, time);
}

void TTrendPlot::paintEvent(QPaintEvent*)
{
    if (!layerValid_ || layer_.size() != size() * devicePixelRatioF())
        PaintLayer();
    QPainter p(this);
    p.drawImage(0, 0, layer_);
    PaintLegend(p);
    PaintCursor(p);
}

void TTrendPlot::mouseMoveEvent(QMouseEvent* event)
{
    const int x = static_cast<int>(event->position().x());
    const std::optional<int> at =
        area_.contains(event->position().toPoint()) ? std::optional<int>(x) : std::nullopt;
    if (at != cursorX_) {
        cursorX_ = at;
        update();
    }
    QWidget::mouseMoveEvent(event);
}

void TTrendPlot::leaveEvent(QEvent* event)
{
    if (cursorX_) {
        cursorX_.reset();
        update();
    }
    QWidget::leaveEvent(event);
}
