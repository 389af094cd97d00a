// SDO transfers through the whole program: the window's client, the
// transport's 3 ms poll timer and the simulated node, on the real event loop.
// One round trip is the time of an expedited upload in a chain of them; a 1 KiB
// segmented download and upload each take one round trip per segment plus
// the initiate. Target: at most 1.2 times that, so no segment waits longer
// than the answer it follows.
//
// A backup of four units (every page row, the standard objects and what the
// example EDS adds) and a restore of all its writable values against
// tervix-sim: each step is queued from the end of the one before, so the job
// takes its steps times one round trip, the same 1.2 target.
//
// Two partners: the node inside the program behind the USB channel (it
// answers within the poll tick that carries the request, so a whole
// transfer can pass in one tick), and tervix-sim in a process of its own on
// a pseudo-terminal as the serial adapter's COM port, where every answer
// comes at a later tick: the case the target is about.
#include "MyComm.h"
#include "monitor.h"
#include "no_serial_ports.h"
#include "recording_message_sink.h"
#include "sim_channel.h"
#include "unit_job.h"

#include <QApplication>
#include <QComboBox>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QProcess>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <functional>
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

// One round trip as the segments have it: expedited uploads, each queued
// from the end of the one before (inside the tick that brought its answer),
// the whole run divided by their number.
double ChainedRoundTrip(TForm1& form, std::size_t count)
{
    QEventLoop loop;
    std::size_t left = count;
    bool ok = true;
    std::function<void()> next = [&] {
        tervix::SdoTransfer t = tervix::SdoUpload(0x1000, 0);
        t.log = false;
        t.done = [&](const tervix::SdoResult& r) {
            ok = ok && r.outcome == tervix::SdoOutcome::Done;
            if (--left == 0 || !ok)
                loop.quit();
            else
                next();
        };
        ok = ok && form.QueueSdo(std::move(t));
    };
    QElapsedTimer elapsed;
    elapsed.start();
    next();
    if (ok)
        loop.exec();
    return ok ? double(elapsed.nsecsElapsed()) / 1e6 / double(count) : -1;
}

void Measure(benchmark::State& state, TForm1& form)
{
    const std::vector<std::uint8_t> text(kBytes, 'k');
    double roundTripMs = 0, downloadMs = 0, uploadMs = 0;
    for (auto _ : state) {
        roundTripMs = ChainedRoundTrip(form, kSegments + 1);
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

void BM_KibibyteInProgram(benchmark::State& state)
{
    RecordingMessageSink sink;
    SimChannel channel = MakeSimChannel("", tervix::DefaultClock());
    TForm1 form(sink, tervix::DefaultClock(), TForm1::Adapters{channel.usb.get(), NoSerialPorts(), "none.conf"});
    Measure(state, form);
}
BENCHMARK(BM_KibibyteInProgram)->Iterations(3)->Unit(benchmark::kMillisecond);

// Runs a job on the event loop; its duration in milliseconds.
double RunJob(tervix::UnitJob& job)
{
    QEventLoop loop;
    QElapsedTimer elapsed;
    elapsed.start();
    job.Start(tervix::DefaultClock().Now());
    while (job.Running())
        loop.processEvents(QEventLoop::WaitForMoreEvents);
    return double(elapsed.nsecsElapsed()) / 1e6;
}

void MeasureBackupAndRestore(benchmark::State& state, TForm1& form)
{
    const std::string examples = TERVIX_EXAMPLES_DIR;
    const tervix::ConfigFileLoad load = tervix::LoadConfigFile(examples + "/Tervix.conf");
    std::error_code ec;
    const auto tree = tervix::ReadEdsFile(examples + "/Quorbit.eds", ec);
    if (!load.ok || !tree) {
        state.SkipWithError("the example files did not read");
        return;
    }
    const tervix::EdsObjects eds(*tree);
    const auto plan = tervix::BackupPlan(tervix::ReadConfiguration(load.lines).pages, {0, 1, 2, 3}, &eds);
    double roundTripMs = 0, backupMs = 0, restoreMs = 0;
    std::size_t backupSteps = 0, restoreSteps = 0;
    for (auto _ : state) {
        roundTripMs = ChainedRoundTrip(form, 100);
        auto backup = tervix::UnitJob::Backup(form.Canopen(), 1, plan, {}, nullptr);
        backupMs = RunJob(*backup);
        backupSteps = backup->Steps();
        auto restore = tervix::UnitJob::Restore(form.Canopen(), 1, backup->Result(), &eds,
                                                tervix::RestoreOptions{true, false, false}, nullptr);
        restoreMs = RunJob(*restore);
        restoreSteps = restore->Steps();
        if (roundTripMs <= 0 || backup->Failures() != 0 || !restore->Refusal().empty())
            state.SkipWithError("a job did not end well");
    }
    state.counters["round_trip_ms"] = roundTripMs;
    state.counters["backup_steps"] = double(backupSteps);
    state.counters["backup_ms"] = backupMs;
    state.counters["backup_x_ideal"] = backupMs / (double(backupSteps) * roundTripMs);
    state.counters["restore_steps"] = double(restoreSteps);
    state.counters["restore_ms"] = restoreMs;
    state.counters["restore_x_ideal"] = restoreMs / (double(restoreSteps) * roundTripMs);
    state.counters["target_x"] = kGapTarget;
}

// tervix-sim on a pseudo-terminal as COM5 of a window; `measure` runs on it.
void OverSerialLink(benchmark::State& state, void (*measure)(benchmark::State&, TForm1&))
{
    QTemporaryDir dir;
    const QString link = dir.filePath(QStringLiteral("sim-pty"));
    QProcess sim;
    sim.start(QStringLiteral(TERVIX_SIM_PATH), {QStringLiteral("--pty"), QStringLiteral("--link"), link});
    if (!sim.waitForStarted(5000) || !sim.waitForReadyRead(5000)) {
        state.SkipWithError("tervix-sim did not start");
        return;
    }
    ComPortMap ports = NoSerialPorts();
    ports.addMapping(QStringLiteral("5=") + link);
    RecordingMessageSink sink;
    SimChannel channel = MakeSimChannel("", tervix::DefaultClock());
    {
        TForm1 form(sink, tervix::DefaultClock(), TForm1::Adapters{channel.usb.get(), ports, "none.conf"});
        auto* portBox = form.findChild<QComboBox*>(QStringLiteral("cbxAdaptorPort"));
        portBox->setCurrentIndex(portBox->findText(QStringLiteral("COM5")));
        if (!form.Comm()->PortChange().ok())
            state.SkipWithError("COM5 did not open");
        else
            measure(state, form);
    }
    sim.terminate();
    sim.waitForFinished(5000);
}

void BM_KibibyteOverSerialLink(benchmark::State& state)
{
    OverSerialLink(state, Measure);
}
BENCHMARK(BM_KibibyteOverSerialLink)->Iterations(3)->Unit(benchmark::kMillisecond);

void BM_UnitBackupAndRestoreOverSerialLink(benchmark::State& state)
{
    OverSerialLink(state, MeasureBackupAndRestore);
}
BENCHMARK(BM_UnitBackupAndRestoreOverSerialLink)->Iterations(3)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
