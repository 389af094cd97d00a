// A saturated 1 Mbit/s bus through the real event loop: the fake driver
// releases frames as wall time passes, the transport's 3 ms timer polls
// them, and a 1 ms timer notes how long the loop was kept from it. The log
// is filled first, so the run also shows whether memory stays flat once the
// ring is full.
#include "receive_rig.h"

#include "recorder.h"

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

} // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);

    const std::vector<tervix::BusFrame> logged = bench::LoggedFrames(4096);
    const std::vector<tervix::BusFrame> mixed = bench::MixedFrames(4096);
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

    // Recording on and a filter set, as a technician on site would have them:
    // every frame must still be counted, and every one recorded.
    QTemporaryDir dir;
    const QString recordPath = dir.filePath(QStringLiteral("bus.log"));
    Recorder recorder(nullptr, Recorder::kFlushInterval, rig.clock);
    if (!recorder.Start(recordPath)) {
        std::printf("bus limit: cannot record to %s\n", qPrintable(recordPath));
        return 1;
    }
    comm.SetRecorder(&recorder);
    LogView::Filter filter;
    filter.kinds = (1u << tervix::kNmtHandling) | (1u << tervix::kSyncEmergency);  // heartbeats and emergencies
    filter.node = 5;
    form.Log()->SetFilter(filter);

    // Weight frames, logged frames and answers, interleaved.
    rig.driver->UseFrames(mixed);
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
    QObject::connect(&comm.Timer(), &PollTimer::tickFinished, [&] { tickGaps.Hit(); });

    // Resident size every 100 ms from the end of the first second on.
    std::uint64_t rssLow = UINT64_MAX, rssHigh = 0, rssFirst = 0;
    QElapsedTimer run;
    QTimer sampler;
    sampler.setInterval(100);
    QObject::connect(&sampler, &QTimer::timeout, [&] {
        if (run.elapsed() < 1000)
            return;
        const std::uint64_t rss = bench::ResidentBytes();
        if (rssFirst == 0)
            rssFirst = rss;
        rssLow = std::min(rssLow, rss);
        rssHigh = std::max(rssHigh, rss);
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
    const double wall = double(run.nsecsElapsed()) / 1e9;
    const double cpu = CpuSeconds() - cpuBefore;
    rig.Tick(); // whatever was released after the last timer tick
    const std::uint64_t rssEnd = bench::ResidentBytes();

    const std::uint64_t fed = rig.driver->Delivered() - deliveredBefore;
    const std::uint64_t counted = rig.FramesCounted() - countedBefore;
    comm.SetRecorder(nullptr);
    recorder.Stop();
    std::uint64_t recordedLines = 0;
    {
        std::ifstream in(recordPath.toStdString());
        for (std::string line; std::getline(in, line);)
            recordedLines += line.find(" rx ") != std::string::npos;
    }
    const bool stallMet = loopGaps.LongestMs() <= kStallTargetMs;
    std::printf("bus-limit run: %.1f s at %.0f frames/s, %llu frames fed, %llu counted%s\n", wall,
                kBusLimitFramesPerSecond, static_cast<unsigned long long>(fed),
                static_cast<unsigned long long>(counted), fed == counted ? "" : "  LOST FRAMES");
    std::printf("  poll ticks             %llu (%.1f frames a tick), longest gap between ticks %.1f ms\n",
                static_cast<unsigned long long>(tickGaps.count),
                tickGaps.count ? double(fed) / double(tickGaps.count) : 0.0, tickGaps.LongestMs());
    std::printf("  longest event-loop stall (gap of a 1 ms timer) %.1f ms, target <= %.0f ms: %s\n",
                loopGaps.LongestMs(), kStallTargetMs, stallMet ? "met" : "MISSED");
    std::printf("  CPU time               %.2f s in %.1f s (%.0f %% of one core), target <= %.0f %%: %s\n", cpu,
                wall, 100.0 * cpu / wall, kCpuTargetPercent,
                100.0 * cpu / wall <= kCpuTargetPercent ? "met" : "MISSED");
    std::printf(
        "  resident size          %.1f MiB with the log empty, %.1f MiB full (%zu lines); during the run "
        "%.1f .. %.1f MiB; at the end %.1f MiB (%+.1f MiB since the first second)\n",
        MiB(rssEmpty), MiB(rssFull), capacity, MiB(rssLow), MiB(rssHigh), MiB(rssEnd),
        MiB(rssEnd) - MiB(rssFirst));
    std::printf("  recording on, log filtered to node 5: %llu frames recorded of %llu%s\n",
                static_cast<unsigned long long>(recordedLines), static_cast<unsigned long long>(fed),
                recordedLines == fed ? "" : "  FRAMES NOT RECORDED");
    std::printf("  message boxes          %d\n", rig.sink.shown);
    return fed == counted && recordedLines == fed ? 0 : 1;
}
