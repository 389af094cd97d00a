// The window's receive path: a batch of frames per poll tick from a fast fake
// driver through the transport's slots, the frame handler and the decoder's
// state to the widgets, with the refresh and repaint that follow each tick;
// and the serial adapter's path through a pseudo-terminal.
#include "receive_rig.h"
#include "pty_pair.h"

#include "frame_packet.h"

#include <QComboBox>
#include <QSerialPort>

#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>

namespace {

constexpr double kBusLimitFramesPerSecond = 21300.0;
constexpr std::size_t kFrameArraySize = 4096;

enum class Mix { Tpdo1, Logged, Sdo, Serial };

// One window at a time: the rig of the mix being measured, kept across the
// batch sizes of that mix.
std::unique_ptr<bench::Rig> current;
Mix currentMix{};
std::vector<tervix::BusFrame> frames;

bench::Rig& RigFor(Mix mix, ComPortMap ports = NoSerialPorts())
{
    if (current && currentMix == mix)
        return *current;
    current.reset();
    switch (mix) {
    case Mix::Tpdo1: frames = bench::Tpdo1Frames(kFrameArraySize); break;
    case Mix::Logged: frames = bench::LoggedFrames(kFrameArraySize); break;
    case Mix::Sdo: frames = bench::SdoFrames(kFrameArraySize); break;
    case Mix::Serial: frames.clear(); break;
    }
    current = std::make_unique<bench::Rig>(frames, std::move(ports));
    currentMix = mix;
    return *current;
}

void ReportRates(benchmark::State& state, std::uint64_t frameCount)
{
    state.SetItemsProcessed(static_cast<std::int64_t>(frameCount));
    state.counters["bus_ratio"] = benchmark::Counter(
        static_cast<double>(frameCount) / kBusLimitFramesPerSecond, benchmark::Counter::kIsRate);
    state.SetLabel("items = frames");
}

void RunUsbMix(benchmark::State& state, Mix mix)
{
    const auto batch = static_cast<std::uint64_t>(state.range(0));
    bench::Rig& rig = RigFor(mix);
    TForm1& form = *rig.form;
    form.Decoder().NmtStop(); // the watchdog's sends would measure the channel, not the receive path
    rig.Show(mix == Mix::Tpdo1 ? "DataSheet" : "tsComm");
    if (mix == Mix::Logged && form.Log()->LineCount() < form.Log()->Capacity()) {
        // A long-running window has a full log; that is the steady state.
        rig.driver->Queue(form.Log()->Capacity());
        rig.Drain();
    }

    const std::uint64_t countedBefore = rig.FramesCounted();
    const std::uint64_t linesBefore = form.Log()->LineCount();
    for (auto _ : state) {
        rig.driver->Queue(batch);
        rig.Tick();
    }
    rig.Drain();
    const std::uint64_t sent = batch * static_cast<std::uint64_t>(state.iterations());
    if (rig.FramesCounted() - countedBefore != sent)
        state.SkipWithError("frames were lost or counted twice");
    else if (rig.sink.shown != 0)
        state.SkipWithError("the mix raised a message box");
    else if (mix == Mix::Logged && form.Log()->LineCount() != form.Log()->Capacity())
        state.SkipWithError("logged frames did not reach the log");
    else if (mix != Mix::Logged && form.Log()->LineCount() != linesBefore)
        state.SkipWithError("frames that are not logged reached the log");
    ReportRates(state, sent);
}

void BM_ReceiveTpdo1(benchmark::State& state)
{
    RunUsbMix(state, Mix::Tpdo1);
}
BENCHMARK(BM_ReceiveTpdo1)->Arg(64)->Arg(1024)->Unit(benchmark::kMicrosecond);

void BM_ReceiveLogged(benchmark::State& state)
{
    RunUsbMix(state, Mix::Logged);
}
BENCHMARK(BM_ReceiveLogged)->Arg(64)->Arg(1024)->Unit(benchmark::kMicrosecond);

void BM_ReceiveSdoAnswers(benchmark::State& state)
{
    RunUsbMix(state, Mix::Sdo);
}
BENCHMARK(BM_ReceiveSdoAnswers)->Arg(64)->Arg(1024)->Unit(benchmark::kMicrosecond);

using Pty = PtyPair;

// Weight packets as the serial adapter sends them.
std::vector<std::uint8_t> SerialStream(std::size_t count)
{
    std::vector<std::uint8_t> stream;
    for (const tervix::BusFrame& f : bench::Tpdo1Frames(count)) {
        const tervix::FramePacket p = tervix::EncodePacket(f);
        stream.insert(stream.end(), p.begin(), p.end());
    }
    return stream;
}

void BM_ReceiveSerial(benchmark::State& state)
{
    static Pty peer;
    if (peer.path.isEmpty()) {
        state.SkipWithError("openpty failed");
        return;
    }
    ComPortMap ports = NoSerialPorts();
    ports.addMapping(QStringLiteral("5=") + peer.path);
    bench::Rig& rig = RigFor(Mix::Serial, ports);
    TForm1& form = *rig.form;
    form.Decoder().NmtStop();
    TComm& comm = *form.Comm();
    if (comm.ComNumber() != 5) {
        auto* portBox = form.findChild<QComboBox*>(QStringLiteral("cbxAdaptorPort"));
        portBox->setCurrentIndex(portBox->findText(QStringLiteral("COM5")));
        const bool opened = comm.PortChange().ok();
        comm.Timer().stop(); // the loop below runs the ticks
        if (!opened) {
            state.SkipWithError("the pseudo-terminal did not open as COM5");
            return;
        }
    }
    if (!comm.Serial().isOpen()) {
        state.SkipWithError("the pseudo-terminal did not open as COM5");
        return;
    }
    rig.Show("DataSheet");

    // Values change from batch to batch, so every tick has boxes to repaint.
    const auto batch = static_cast<std::size_t>(state.range(0));
    const std::vector<std::uint8_t> stream = SerialStream(kFrameArraySize);
    const std::size_t batchBytes = stream.size() / kFrameArraySize * batch;
    std::size_t offset = 0;
    QSerialPort& port = comm.Serial().port();
    auto counted = [&] { return std::uint64_t(form.Decoder().Count(tervix::kTpdo1)); };
    const std::uint64_t countedBefore = counted();
    std::uint64_t target = countedBefore;
    for (auto _ : state) {
        target += batch;
        const std::uint8_t* chunk = stream.data() + offset;
        offset = (offset + batchBytes) % stream.size();
        std::size_t sent = 0;
        while (counted() < target) {
            if (sent < batchBytes) {
                const ssize_t r = ::write(peer.master, chunk + sent, batchBytes - sent);
                if (r > 0)
                    sent += static_cast<std::size_t>(r);
            }
            if (port.bytesAvailable() == 0 && !port.waitForReadyRead(5000)) {
                state.SkipWithError("the serial port stopped delivering");
                return;
            }
            rig.Tick();
        }
    }
    const std::uint64_t got = counted() - countedBefore;
    if (got != batch * static_cast<std::uint64_t>(state.iterations()))
        state.SkipWithError("frames were lost or counted twice");
    ReportRates(state, got);
    state.SetBytesProcessed(
        static_cast<std::int64_t>(batchBytes * static_cast<std::size_t>(state.iterations())));
}
BENCHMARK(BM_ReceiveSerial)->Arg(64)->Arg(1024)->Unit(benchmark::kMicrosecond);

} // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    current.reset(); // windows go before the application object
    benchmark::Shutdown();
    return 0;
}
