// A saturated 1 Mbit/s bus through the real event loop: the fake driver
// releases frames as wall time passes, the transport's 3 ms timer polls
// them, and a 1 ms timer notes how long the loop was kept from it. The log
// is filled first, so the run also shows whether memory stays flat once the
// ring is full. A second run does the same with the trend window open on
// four units: what the trend costs is the difference between the two.
#include "receive_rig.h"

#include "recorder.h"
#include "trend_window.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QTemporaryDir>

#include <fstream>

#include <sys/resource.h>

#include <algorithm>
#include <cstdio>

namespace {

constexpr double kBusLimitFramesPerSecond = 21300.0;
constexpr int kRunMs = 10000;
constexpr double kStallTargetMs = 50.0;
constexpr double kCpuTargetPercent = 10.0;
constexpr double kTrendCpuTargetPoints = 3.0;
constexpr double kTrendStallTargetMs = 20.0;

// Longest gap between two firings of a signal, in milliseconds.
struct GapMeter {
    QElapsedTimer clock;
    qint64 last = -1;
    qint64 longestNs = 0;
    std::uint64_t count = 0;

    void Hit()
    {
        const qint64 now = clock.nsecsElapsed();
        if (last >= 0)
            longestNs = std::max(longestNs, now - last);
        last = now;
        ++count;
    }
    double LongestMs() const { return double(longestNs) / 1e6; }
};

double CpuSeconds()
{
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    auto secs = [](const timeval& t) { return double(t.tv_sec) + double(t.tv_usec) / 1e6; };
    return secs(u.ru_utime) + secs(u.ru_stime);
}

double MiB(std::uint64_t bytes)
{
    return double(bytes) / (1024.0 * 1024.0);
}

struct RunFigures {
    double wall = 0;
    double cpu = 0;
    std::uint64_t fed = 0;
    std::uint64_t counted = 0;
    std::uint64_t recorded = 0;
    std::uint64_t ticks = 0;
    double longestTickGapMs = 0;
    double longestStallMs = 0;
    std::uint64_t rssLow = 0, rssHigh = 0, rssFirst = 0, rssEnd = 0;

    double CpuPercent() const { return 100.0 * cpu / wall; }
};

// Ten seconds at the bus limit through the real timers, recording every
// frame to `recordPath`.
RunFigures RunAtBusLimit(bench::Rig& rig, Recorder& recorder, const QString& recordPath)
{
    TComm& comm = *rig.form->Comm();
    RunFigures r;
    if (!recorder.Start(recordPath)) {
        std::printf("bus limit: cannot record to %s\n", qPrintable(recordPath));
        return r;
    }
    const std::uint64_t deliveredBefore = rig.driver->Delivered();
    const std::uint64_t countedBefore = rig.FramesCounted();

    GapMeter loopGaps;
    GapMeter tickGaps;
    loopGaps.clock.start();
    tickGaps.clock.start();
    QTimer probe;
    probe.setTimerType(Qt::PreciseTimer);
    probe.setInterval(1);
    QObject::connect(&probe, &QTimer::timeout, [&] { loopGaps.Hit(); });
    const auto tickConnection =
        QObject::connect(&comm.Timer(), &PollTimer::tickFinished, [&] { tickGaps.Hit(); });

    // Resident size every 100 ms from the end of the first second on.
    r.rssLow = UINT64_MAX;
    QElapsedTimer run;
    QTimer sampler;
    sampler.setInterval(100);
    QObject::connect(&sampler, &QTimer::timeout, [&] {
        if (run.elapsed() < 1000)
            return;
        const std::uint64_t rss = bench::ResidentBytes();
        if (r.rssFirst == 0)
            r.rssFirst = rss;
        r.rssLow = std::min(r.rssLow, rss);
        r.rssHigh = std::max(r.rssHigh, rss);
    });

    const double cpuBefore = CpuSeconds();
    run.start();
    rig.driver->StartPaced(kBusLimitFramesPerSecond);
    comm.Timer().start();
    probe.start();
    sampler.start();
    QEventLoop loop;
    QTimer::singleShot(kRunMs, Qt::PreciseTimer, &loop, &QEventLoop::quit);
    loop.exec();
    rig.driver->StopPaced();
    comm.Timer().stop();
    probe.stop();
    sampler.stop();
    QObject::disconnect(tickConnection);
    r.wall = double(run.nsecsElapsed()) / 1e9;
    r.cpu = CpuSeconds() - cpuBefore;
    rig.Tick(); // whatever was released after the last timer tick
    r.rssEnd = bench::ResidentBytes();
    r.fed = rig.driver->Delivered() - deliveredBefore;
    r.counted = rig.FramesCounted() - countedBefore;
    r.ticks = tickGaps.count;
    r.longestTickGapMs = tickGaps.LongestMs();
    r.longestStallMs = loopGaps.LongestMs();
    recorder.Stop();
    std::ifstream in(recordPath.toStdString());
    for (std::string line; std::getline(in, line);)
        r.recorded += line.find(" rx ") != std::string::npos;
    return r;
}

void Print(const char* title, const RunFigures& r, double stallTargetMs)
{
    std::printf("%s: %.1f s at %.0f frames/s, %llu frames fed, %llu counted%s\n", title, r.wall,
                kBusLimitFramesPerSecond, static_cast<unsigned long long>(r.fed),
                static_cast<unsigned long long>(r.counted), r.fed == r.counted ? "" : "  LOST FRAMES");
    std::printf("  poll ticks             %llu (%.1f frames a tick), longest gap between ticks %.1f ms\n",
                static_cast<unsigned long long>(r.ticks), r.ticks ? double(r.fed) / double(r.ticks) : 0.0,
                r.longestTickGapMs);
    std::printf("  longest event-loop stall (gap of a 1 ms timer) %.1f ms, target <= %.0f ms: %s\n",
                r.longestStallMs, stallTargetMs, r.longestStallMs <= stallTargetMs ? "met" : "MISSED");
    std::printf("  CPU time               %.2f s in %.1f s (%.1f %% of one core), target <= %.0f %%: %s\n",
                r.cpu, r.wall, r.CpuPercent(), kCpuTargetPercent,
                r.CpuPercent() <= kCpuTargetPercent ? "met" : "MISSED");
    std::printf(
        "  resident size during the run %.1f .. %.1f MiB; at the end %.1f MiB (%+.1f MiB since the first "
        "second)\n",
        MiB(r.rssLow), MiB(r.rssHigh), MiB(r.rssEnd), MiB(r.rssEnd) - MiB(r.rssFirst));
    std::printf("  recording on, log filtered to node 5: %llu frames recorded of %llu%s\n",
                static_cast<unsigned long long>(r.recorded), static_cast<unsigned long long>(r.fed),
                r.recorded == r.fed ? "" : "  FRAMES NOT RECORDED");
}

} // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);

    const std::vector<tervix::BusFrame> logged = bench::LoggedFrames(4096);
    // The weight frames come from node 1, the window's "CAN Addr", which
    // hosts all 32 units: the trend takes its units from that node.
    const std::vector<tervix::BusFrame> mixed = bench::MixedFrames(4096, bench::Senders::OneNode);
    bench::Rig rig(logged);
    TForm1& form = *rig.form;
    TComm& comm = *form.Comm();
    rig.Show("tsComm"); // the log in sight: it repaints as lines arrive

    const std::uint64_t rssEmpty = bench::ResidentBytes();
    // Fill the log's ring, and some more so that it has wrapped.
    const std::size_t capacity = form.Log()->Capacity();
    for (std::size_t queued = 0; queued < capacity + 20000; queued += 1024) {
        rig.driver->Queue(1024);
        rig.Drain();
    }
    if (form.Log()->LineCount() != capacity) {
        std::printf("bus limit: the log holds %zu lines, expected %zu\n", form.Log()->LineCount(), capacity);
        return 1;
    }
    const std::uint64_t rssFull = bench::ResidentBytes();
    std::printf("resident size %.1f MiB with the log empty, %.1f MiB full (%zu lines)\n", MiB(rssEmpty),
                MiB(rssFull), capacity);

    // Recording on and a filter set, as a technician on site would have them:
    // every frame must still be counted, and every one recorded.
    QTemporaryDir dir;
    Recorder recorder(nullptr, Recorder::kFlushInterval, rig.clock);
    comm.SetRecorder(&recorder);
    LogView::Filter filter;
    filter.kinds =
        (1u << tervix::kNmtHandling) | (1u << tervix::kSyncEmergency); // heartbeats and emergencies
    filter.node = 5;
    form.Log()->SetFilter(filter);

    // Weight frames, logged frames and answers, interleaved.
    rig.driver->UseFrames(mixed);
    const RunFigures closed = RunAtBusLimit(rig, recorder, dir.filePath(QStringLiteral("closed.log")));
    Print("bus-limit run, trend window closed", closed, kStallTargetMs);

    // The trend window on units 0..3 (10 s span, stability panel), in sight
    // and refreshing ten times a second.
    const std::uint64_t deliveredBefore = rig.driver->Delivered();
    form.OpenTrend();
    TTrendWindow& trend = *form.TrendWindow();
    trend.ChooseUnits(QStringLiteral("0-3"));
    QApplication::processEvents();
    const RunFigures open = RunAtBusLimit(rig, recorder, dir.filePath(QStringLiteral("open.log")));
    Print("bus-limit run, trend window open on units 0-3", open, kTrendStallTargetMs);
    // The frames fed in the second run are the array's from where the first
    // left off: those of units 0..3 must all be in the trend.
    std::uint64_t expected = 0;
    for (std::uint64_t k = deliveredBefore; k < rig.driver->Delivered(); ++k) {
        const auto sample = tervix::ReadTpdo1(mixed[k % mixed.size()], form.Decoder().NodeNumber());
        expected += sample && sample->unit < 4;
    }
    const std::size_t kept = trend.Store().PointCount();
    const double cost = open.CpuPercent() - closed.CpuPercent();
    std::printf("  trend kept %zu points of %llu TPDO1 frames of units 0-3%s\n", kept,
                static_cast<unsigned long long>(expected), kept == expected ? "" : "  POINTS MISSING");
    std::printf(
        "trend window: %+.1f points of one core, target <= %.0f: %s; longest stall %.1f ms, target < %.0f "
        "ms: %s\n",
        cost, kTrendCpuTargetPoints, cost <= kTrendCpuTargetPoints ? "met" : "MISSED", open.longestStallMs,
        kTrendStallTargetMs, open.longestStallMs < kTrendStallTargetMs ? "met" : "MISSED");
    std::printf("  message boxes          %d\n", rig.sink.shown);
    comm.SetRecorder(nullptr);
    const bool ok = closed.fed == closed.counted && closed.recorded == closed.fed &&
                    open.fed == open.counted && open.recorded == open.fed && kept == expected;
    return ok ? 0 : 1;
}
