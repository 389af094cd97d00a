// A flood soak: random frames (every identifier range, extended, remote,
// SDO aborts, lengths 0..8) through the real window for a minute at the bus
// limit and a minute at fifty times it, while message boxes are held open
// part of the time. Reports resident memory every 5 s, the longest
// event-loop stall and the frames counted: memory must stay flat once the log
// is full, and no stall may pass 50 ms at the bus limit.
#include "receive_rig.h"

#include <QElapsedTimer>
#include <QEventLoop>

#include "log_view.h"

#include <cstdio>
#include <random>

namespace {

constexpr double kBusLimitFramesPerSecond = 21300.0;
constexpr double kStallTargetMs = 50.0;

std::vector<tervix::BusFrame> RandomFrames(std::size_t count)
{
    std::mt19937 random(20261208);
    std::vector<tervix::BusFrame> frames(count);
    for (tervix::BusFrame& f : frames) {
        const unsigned kind = random() % 16;
        f.extended = kind == 0;
        f.remote = kind == 1;
        f.id = f.extended ? random() & 0x1FFFFFFF : random() & 0x7FF;
        f.length = static_cast<std::uint8_t>(random() % 9);
        for (auto& b : f.data)
            b = static_cast<std::uint8_t>(random());
        if (kind == 2) {  // an SDO abort: a message for the user
            f.id = 0x581;
            f.length = 8;
            f.data = {0x80, 0x00, 0x21, 0x01, 0x06, 0x02, 0x00, 0x00};
        }
    }
    return frames;
}

// Holds each box open for 2 s (its own event loop runs meanwhile, as a modal
// box's does) during the first half of every 10 s; closes at once otherwise.
class HoldingSink final : public MessageSink {
public:
    void ShowMessage(const QString&, const QString&, QMessageBox::Icon, QWidget*) override
    {
        ++shown;
        if (clock.elapsed() % 10000 >= 5000)
            return;
        QEventLoop loop;
        QTimer::singleShot(2000, &loop, &QEventLoop::quit);
        loop.exec();
    }
    QElapsedTimer clock;
    int shown = 0;
};

struct Result {
    std::uint64_t fed = 0;
    std::uint64_t counted = 0;
    double longestStallMs = 0;
    std::vector<double> rssMiB;
};

Result Soak(bench::Rig& rig, double framesPerSecond, int seconds)
{
    Result r;
    const std::uint64_t fedBefore = rig.driver->Delivered();
    const std::uint64_t countedBefore = rig.FramesCounted();
    QElapsedTimer gap;
    gap.start();
    qint64 last = 0;
    QTimer probe;
    probe.setTimerType(Qt::PreciseTimer);
    probe.setInterval(1);
    QObject::connect(&probe, &QTimer::timeout, [&] {
        const qint64 now = gap.nsecsElapsed();
        r.longestStallMs = std::max(r.longestStallMs, double(now - last) / 1e6);
        last = now;
    });
    QTimer sampler;
    sampler.setInterval(5000);
    QObject::connect(&sampler, &QTimer::timeout,
                     [&] { r.rssMiB.push_back(double(bench::ResidentBytes()) / (1024.0 * 1024.0)); });
    rig.driver->StartPaced(framesPerSecond);
    rig.form->Comm()->Timer().start();
    probe.start();
    sampler.start();
    last = gap.nsecsElapsed();
    QEventLoop loop;
    QTimer::singleShot(seconds * 1000, Qt::PreciseTimer, &loop, &QEventLoop::quit);
    loop.exec();
    rig.driver->StopPaced();
    rig.form->Comm()->Timer().stop();
    probe.stop();
    sampler.stop();
    rig.Tick();
    r.fed = rig.driver->Delivered() - fedBefore;
    r.counted = rig.FramesCounted() - countedBefore;
    return r;
}

void Report(const char* name, const Result& r, bool stallTarget)
{
    std::printf("%s: %llu frames fed, %llu counted%s\n", name, static_cast<unsigned long long>(r.fed),
                static_cast<unsigned long long>(r.counted), r.fed == r.counted ? "" : "  LOST FRAMES");
    std::printf("  longest event-loop stall %.1f ms%s\n", r.longestStallMs,
                stallTarget ? (r.longestStallMs <= kStallTargetMs ? ", target <= 50 ms: met"
                                                                   : ", target <= 50 ms: MISSED")
                            : "");
    std::printf("  resident size every 5 s (MiB):");
    for (double m : r.rssMiB)
        std::printf(" %.1f", m);
    const bool flat = r.rssMiB.size() < 3 || r.rssMiB.back() - r.rssMiB[1] < 2.0;
    std::printf("\n  after the first 10 s: %s\n", flat ? "flat" : "GROWING");
}

} // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const int seconds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 60;

    const std::vector<tervix::BusFrame> frames = RandomFrames(1 << 16);
    HoldingSink sink;
    sink.clock.start();
    bench::Rig rig(frames, NoSerialPorts(), &sink);
    rig.form->Decoder().NmtStop();  // the watchdog's sends would measure the channel
    rig.Show("tsComm");
    // The log filled (and wrapped) first: from then on its ring reuses each
    // line's storage, so any growth is somebody else's.
    const std::size_t capacity = rig.form->Log()->Capacity();
    for (std::size_t queued = 0; queued < 2 * capacity; queued += 1024) {
        rig.driver->Queue(1024);
        rig.Drain();
    }
    rig.form->ShowPendingMessages();
    std::printf("log full: %zu lines, %.1f MiB resident\n", rig.form->Log()->LineCount(),
                double(bench::ResidentBytes()) / (1024.0 * 1024.0));

    const Result atLimit = Soak(rig, kBusLimitFramesPerSecond, seconds);
    Report("flood at the bus limit", atLimit, true);
    const Result at50 = Soak(rig, 50 * kBusLimitFramesPerSecond, seconds);
    Report("flood at 50 times the bus limit", at50, false);
    std::printf("  message boxes shown %d, %zu messages beyond the queue's bound\n", sink.shown,
                rig.form->findChild<DeferredMessages*>() ? rig.form->findChild<DeferredMessages*>()->Dropped() : 0);
    return atLimit.fed == atLimit.counted && at50.fed == at50.counted ? 0 : 1;
}
