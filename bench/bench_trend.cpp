// The trend at its largest: one hour of 64 units at 10 frames a second
// (2,304,000 points) in a TrendStore, what that costs in resident memory,
// and how long the plot takes to be drawn anew over it at each span
// (rendered offscreen into an image), in full and as a live refresh that
// moves the view on by 100 ms. Then the window as bench_bus_limit has it:
// four units of a node at the bus limit, the time one refresh takes with
// its painting.
#include "message_sink.h"
#include "receive_rig.h"
#include "trend.h"
#include "trend_plot.h"
#include "trend_window.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QImage>
#include <QPainter>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <vector>

#include <unistd.h>

namespace {

using namespace std::chrono_literals;

constexpr unsigned kUnits = 64;
constexpr std::chrono::milliseconds kPeriod{100};
constexpr double kMemoryTargetMiB = 100.0;
constexpr double kRedrawTargetMs = 30.0;
constexpr int kRepeats = 15;

using bench::ResidentBytes;

double MiB(std::uint64_t bytes)
{
    return double(bytes) / (1024.0 * 1024.0);
}

// A unit's reading at step k: its load, a slow swing and a little noise.
float Reading(unsigned unit, std::uint64_t k)
{
    const double noise = double((k * 2654435761u + unit * 40503u) % 1000) / 1000.0 - 0.5;
    return static_cast<float>(100.0 + 10.0 * unit + 0.5 * std::sin(double(k) / 600.0 + unit) + 0.004 * noise);
}

class NoMessages final : public MessageSink {
public:
    void ShowMessage(const QString&, const QString&, QMessageBox::Icon, QWidget*) override {}
};

struct Times {
    double median = 0;
    double longest = 0;
};

Times Summarise(std::vector<double> ms)
{
    std::sort(ms.begin(), ms.end());
    return {ms[ms.size() / 2], ms.back()};
}

} // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);

    const tervix::TimePoint start = tervix::TimePoint(std::chrono::hours(100));
    const std::uint64_t steps = std::chrono::hours(1) / kPeriod;
    tervix::TrendStore store;
    for (unsigned u = 0; u < kUnits; ++u)
        store.Choose(u, true);

    const std::uint64_t before = ResidentBytes();
    QElapsedTimer feeding;
    feeding.start();
    // Every unit once per period, each a little later than the one before,
    // as frames arrive on the bus.
    std::uint64_t k = 0;
    for (; k < steps; ++k)
        for (unsigned u = 0; u < kUnits; ++u)
            store.Add({u, Reading(u, k), 0}, start + k * kPeriod + u * 1ms);
    const double feedNs = double(feeding.nsecsElapsed());
    const std::uint64_t after = ResidentBytes();
    const double growth = MiB(after - before);
    const std::size_t points = store.PointCount();
    std::printf("one hour of %u units at %lld Hz: %zu points kept, fed in %.0f ms (%.0f ns a point)\n",
                kUnits, static_cast<long long>(1000 / kPeriod.count()), points, feedNs / 1e6,
                feedNs / double(points));
    std::printf("  resident size %.1f -> %.1f MiB: %+.1f MiB (%.1f bytes a point), target <= %.0f MiB: %s\n",
                MiB(before), MiB(after), growth, double(after - before) / double(points), kMemoryTargetMiB,
                growth <= kMemoryTargetMiB ? "met" : "MISSED");

    // The plot as the window holds it, 64 curves.
    TTrendPlot plot(store);
    std::vector<TTrendPlot::Curve> curves;
    for (unsigned u = 0; u < kUnits; ++u)
        curves.push_back({u, QColor::fromHsvF(std::fmod(u * 0.618034, 1.0), 0.85, 0.8)});
    plot.SetCurves(curves);
    plot.resize(1180, 420);
    plot.show();
    QApplication::processEvents();
    QImage image(plot.size(), QImage::Format_ARGB32_Premultiplied);
    std::printf("plot of %dx%d pixels (plot area %dx%d), %u curves, drawn offscreen into an image:\n",
                plot.width(), plot.height(), plot.PlotArea().width(), plot.PlotArea().height(), kUnits);

    bool met = growth <= kMemoryTargetMiB && points == steps * kUnits;
    for (const std::chrono::seconds span : TTrendWindow::kSpans) {
        // In full: every column reckoned from the store, everything painted.
        std::vector<double> full, reckon;
        for (int i = 0; i < kRepeats; ++i) {
            QElapsedTimer t;
            t.start();
            plot.Invalidate();
            plot.Show(*store.Newest(), span);
            reckon.push_back(double(t.nsecsElapsed()) / 1e6);
            plot.render(&image);
            full.push_back(double(t.nsecsElapsed()) / 1e6);
        }
        // Live: 100 ms of new frames, the view moved on, painted.
        std::vector<double> live;
        for (int i = 0; i < kRepeats; ++i, ++k) {
            for (unsigned u = 0; u < kUnits; ++u)
                store.Add({u, Reading(u, k), 0}, start + k * kPeriod + u * 1ms);
            QElapsedTimer t;
            t.start();
            plot.Show(*store.Newest(), span);
            plot.render(&image);
            live.push_back(double(t.nsecsElapsed()) / 1e6);
        }
        const Times f = Summarise(full);
        const Times r = Summarise(reckon);
        const Times l = Summarise(live);
        std::printf(
            "  span %5llds: anew %6.1f ms (longest %6.1f; columns %5.1f ms of it), target < %.0f ms: %s; "
            "live refresh %5.1f ms (longest %5.1f)\n",
            static_cast<long long>(span.count()), f.median, f.longest, r.median, kRedrawTargetMs,
            f.longest < kRedrawTargetMs ? "met" : "MISSED", l.median, l.longest);
        met = met && f.longest < kRedrawTargetMs;
    }

    // The window on units 0..3 of a node whose 32 units share 10,650 TPDO1
    // frames a second (half the bus limit, as in bench_bus_limit): 133
    // frames of the four units every 100 ms, then one refresh and the
    // painting it asks for.
    tervix::ManualClock clock;
    NoMessages messages;
    TTrendWindow window(messages, clock);
    window.ChooseUnits(QStringLiteral("0-3"));
    window.show();
    QApplication::processEvents();
    constexpr int kFramesPerRefresh = 10650 / 10 / 8;
    std::vector<double> refresh;
    for (int i = 0, f = 0; i < 600; ++i) {
        for (int j = 0; j < kFramesPerRefresh; ++j, ++f) {
            clock.Advance(std::chrono::microseconds(100000 / kFramesPerRefresh));
            window.Store().Add({unsigned(f % 4), Reading(unsigned(f % 4), std::uint64_t(f)), 0}, clock.Now());
        }
        QElapsedTimer t;
        t.start();
        window.Refresh();
        QApplication::processEvents();
        if (i >= 100) // once a full span is in sight
            refresh.push_back(double(t.nsecsElapsed()) / 1e6);
    }
    const Times w = Summarise(refresh);
    double sum = 0;
    for (double ms : refresh)
        sum += ms;
    std::printf(
        "trend window on 4 units at the bus limit, 10 s span, %dx%d: a refresh with its painting takes "
        "%.2f ms (median %.2f, longest %.2f): %.1f %% of one core at 10 a second\n",
        window.width(), window.height(), sum / double(refresh.size()), w.median, w.longest,
        sum / double(refresh.size()) / 100.0 * 100.0);
    return met ? 0 : 1;
}
