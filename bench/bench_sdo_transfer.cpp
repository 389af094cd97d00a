// SDO transfers through the whole program: the window's client, the
// transport's 3 ms poll timer, the USB channel and the simulated node, on
// the real event loop. One round trip is the median time of an expedited
// upload; a 1 KiB segmented download and upload each take one round trip
// per segment plus the initiate. Target: at most 1.2 times that, so no
// segment waits longer than the answer it follows.
#include "monitor.h"
#include "no_serial_ports.h"
#include "recording_message_sink.h"
#include "sim_channel.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <vector>

namespace {

constexpr double kGapTarget = 1.2;
constexpr std::size_t kBytes = 1024;
constexpr std::size_t kSegments = (kBytes + 6) / 7;

// Runs one transfer on the event loop; its duration in milliseconds, or a
// negative number when it did not end well.
double Run(TForm1& form, tervix::SdoTransfer transfer)
{
    QEventLoop loop;
    bool ok = false;
    transfer.log = false;
    transfer.done = [&](const tervix::SdoResult& r) {
        ok = r.outcome == tervix::SdoOutcome::Done;
        loop.quit();
    };
    QElapsedTimer elapsed;
    elapsed.start();
    if (!form.QueueSdo(std::move(transfer)))
        return -1;
    if (form.Canopen().Busy(form.Decoder().NodeNumber()))
        loop.exec();
    return ok ? double(elapsed.nsecsElapsed()) / 1e6 : -1;
}

void BM_SegmentedKibibyte(benchmark::State& state)
{
    RecordingMessageSink sink;
    SimChannel channel = MakeSimChannel("", tervix::DefaultClock());
    TForm1 form(sink, tervix::DefaultClock(), TForm1::Adapters{channel.usb.get(), NoSerialPorts(), "none.conf"});
    const std::vector<std::uint8_t> text(kBytes, 'k');
    double roundTripMs = 0, downloadMs = 0, uploadMs = 0;
    for (auto _ : state) {
        std::vector<double> trips;
        for (int i = 0; i < 21; ++i)
            trips.push_back(Run(form, tervix::SdoUpload(0x1000, 0)));
        std::nth_element(trips.begin(), trips.begin() + 10, trips.end());
        roundTripMs = trips[10];
        downloadMs = Run(form, tervix::SdoDownload(0x2000, 0, text));
        uploadMs = Run(form, tervix::SdoUpload(0x2000, 0));
        if (roundTripMs <= 0 || downloadMs <= 0 || uploadMs <= 0)
            state.SkipWithError("a transfer did not end well");
    }
    const double ideal = double(kSegments + 1) * roundTripMs;
    state.counters["round_trip_ms"] = roundTripMs;
    state.counters["download_ms"] = downloadMs;
    state.counters["upload_ms"] = uploadMs;
    state.counters["download_x_ideal"] = downloadMs / ideal;
    state.counters["upload_x_ideal"] = uploadMs / ideal;
    state.counters["target_x"] = kGapTarget;
}
BENCHMARK(BM_SegmentedKibibyte)->Iterations(3)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
