// A trace from site played back as fast as possible (`--can replay:FILE,
// speed=0`) through the whole window: a generated 1,000,000-frame candump log
// of a busy bus (weights of 32 units, heartbeats, emergencies, SDO answers),
// loaded, then polled by the real transport with the display refreshed at its
// own rate. Reports load time and frames per second.
#include "receive_rig.h"

#include "replay_driver.h"

#include <QElapsedTimer>
#include <QTemporaryDir>

#include <cstdio>
#include <fstream>

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    constexpr std::size_t kFrames = 1000000;

    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("site.log"));
    {
        std::ofstream log(path.toStdString());
        const std::vector<tervix::BusFrame> mix = bench::MixedFrames(4096);
        char line[96];
        for (std::size_t i = 0; i < kFrames; ++i) {
            const tervix::BusFrame& f = mix[i % mix.size()];
            int n = std::snprintf(line, sizeof line, "(%zu.%06zu) rx %03X#", 1700000000 + i / 21300,
                                  (i % 21300) * 46, unsigned(f.id));
            for (unsigned b = 0; b < f.length; ++b)
                n += std::snprintf(line + n, sizeof line - std::size_t(n), "%02X", f.data[b]);
            line[n++] = '\n';
            log.write(line, n);
        }
    }

    bench::NoWaitClock clock;
    bench::CountingSink sink;
    QElapsedTimer loading;
    loading.start();
    auto driver = std::make_unique<ReplayDriver>(path, 0.0, clock);
    const double loadMs = double(loading.nsecsElapsed()) / 1e6;
    auto usb = std::make_unique<TUSB2CAN>(std::move(driver), clock);
    TForm1::Adapters adapters{usb.get(), NoSerialPorts()};
    adapters.configFile = TERVIX_EXAMPLE_CONF;
    auto form = std::make_unique<TForm1>(sink, clock, std::move(adapters));
    form->Comm()->Timer().stop();
    form->Decoder().NmtStop();  // no watchdog sends during the run
    form->show();
    QApplication::processEvents();

    usb->SetBitrate(tervix::kSearchFirstBitRateCode);  // opens the channel: playback starts
    auto counted = [&] {
        std::uint64_t sum = 0;
        for (int code = 0; code < tervix::kFunctionCodeCount; ++code)
            sum += form->Decoder().Count(code);
        return sum;
    };
    QElapsedTimer run;
    run.start();
    while (counted() < kFrames && run.elapsed() < 120000) {
        form->Comm()->Timer().tick();
        QApplication::processEvents();
    }
    const double seconds = double(run.nsecsElapsed()) / 1e9;
    std::printf("replay at speed=0 of %zu frames: loaded in %.0f ms, played through the window in %.2f s = "
                "%.2f M frames/s (%llu counted)\n",
                kFrames, loadMs, seconds, double(counted()) / seconds / 1e6,
                static_cast<unsigned long long>(counted()));
    const bool all = counted() == kFrames;
    form.reset();  // the window goes before the channel it polls
    usb.reset();
    return all ? 0 : 1;
}
