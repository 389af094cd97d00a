// The device search through the real poll timer and event loop, over a driver
// at whose rates nothing ever answers: one full cycle through the nine rates
// (about 3.8 s of settle waits). Reports the longest time the event loop was
// kept from a 1 ms timer; the waits must not block it (target: under 20 ms).
#include "MyComm.h"
#include "bit_rates.h"
#include "fakes.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <memory>

namespace {

constexpr double kStallTargetMs = 20.0;

// Like the vendor library with no node on the bus: after each wake frame, a
// read says it cannot receive at this rate. Counts the rates it was opened at.
class SilentBus final : public CanDriver {
public:
    DriverResult init(std::uint16_t code) override
    {
        ++inits;
        lastCode = code;
        woken = false;
        return DriverResult::Ok;
    }
    DriverResult close() override { return DriverResult::Ok; }
    DriverResult read(ReceivedFrame&) override
    {
        if (!woken)
            return DriverResult::Empty;
        woken = false;
        return DriverResult::WrongBitRate;
    }
    DriverResult write(const tervix::BusFrame& frame) override
    {
        woken = frame.id == 0;
        return DriverResult::Ok;
    }

    int inits = 0;
    std::uint16_t lastCode = 0;
    bool woken = false;
};

void BM_FullSearchOverSilentBus(benchmark::State& state)
{
    double longestStallMs = 0;
    double searchMs = 0;
    int ratesTried = 0;
    for (auto _ : state) {
        auto owned = std::make_unique<SilentBus>();
        SilentBus* bus = owned.get();
        TUSB2CAN usb(std::move(owned));
        TComm comm(usb, NoSerialPorts());
        FakeChoiceBox port;
        FakeChoiceBox speed;
        comm.InitLists(port, speed); // starts the real 3 ms poll timer

        QEventLoop loop;
        QElapsedTimer elapsed;
        qint64 last = -1;
        qint64 longestNs = 0;
        QTimer meter;
        meter.setTimerType(Qt::PreciseTimer);
        meter.setInterval(1);
        QObject::connect(&meter, &QTimer::timeout, [&] {
            const qint64 now = elapsed.nsecsElapsed();
            if (last >= 0)
                longestNs = std::max(longestNs, now - last);
            last = now;
            // Nine rates tried and back at the first: one full cycle.
            if (bus->inits > int(tervix::kBitRates.size()) &&
                bus->lastCode == tervix::kSearchFirstBitRateCode)
                loop.quit();
        });
        QTimer::singleShot(30000, &loop, &QEventLoop::quit); // never hang the run

        elapsed.start();
        meter.start();
        usb.StartSearch([](TUSB2CAN*, const tervix::BusFrame&) {});
        loop.exec();
        meter.stop();

        longestStallMs = std::max(longestStallMs, double(longestNs) / 1e6);
        searchMs = double(elapsed.nsecsElapsed()) / 1e6;
        ratesTried = bus->inits;
    }
    state.counters["longest_stall_ms"] = longestStallMs;
    state.counters["search_ms"] = searchMs;
    state.counters["inits"] = ratesTried;
    if (longestStallMs >= kStallTargetMs)
        state.SkipWithError("the event loop stalled for 20 ms or more");
}
BENCHMARK(BM_FullSearchOverSilentBus)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
