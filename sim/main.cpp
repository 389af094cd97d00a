// tervix-sim: the simulated weighing node on a pseudo-terminal (speaking the
// serial CAN adapter's byte protocol) or on any Qt SerialBus interface.

#include "frame_naming.h"
#include "frame_packet.h"
#include "receive_ring.h"
#include "serial_framing.h"
#include "simulated_unit.h"
#include "version.h"

#include <QCanBus>
#include <QCanBusDevice>
#include <QCanBusFrame>
#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFile>
#include <QSocketNotifier>
#include <QTimer>
#include <QVariant>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <pty.h>
#include <string>
#include <termios.h>
#include <unistd.h>

using tervix::BusFrame;
using tervix::sim::SimulatedUnit;

namespace {

volatile std::sig_atomic_t quitRequested = 0;

void OnSignal(int)
{
    quitRequested = 1;
}

// One line per frame: milliseconds since start, direction, the log line the
// tool itself would write for it.
class FrameLog {
public:
    explicit FrameLog(bool on) : on_(on), start_(std::chrono::steady_clock::now()) {}
    void Line(const char* direction, const BusFrame& frame)
    {
        if (!on_)
            return;
        const auto ms =
            std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start_);
        std::printf("%8lld %s %s\n", static_cast<long long>(ms.count()), direction,
                    tervix::LogLine(tervix::EncodePacket(frame)).c_str());
        std::fflush(stdout);
    }

private:
    bool on_;
    std::chrono::steady_clock::time_point start_;
};

// The node behind a transport: frames in, due frames out on every tick.
class Transport {
public:
    virtual ~Transport() = default;
    virtual void Send(const BusFrame& frame) = 0;
    virtual void Tick() {}
};

// The master side of a pseudo-terminal; a program opens the slave as its COM
// port. Bytes are cut into packets as the adapter's receive framing does.
class PtyTransport final : public Transport {
public:
    PtyTransport(SimulatedUnit& sim, FrameLog& log) : sim_(sim), log_(log)
    {
        ring_.SetHandler([this](int slot) { Delivered(slot); });
    }
    ~PtyTransport() override
    {
        notifier_.reset();
        if (slave_ >= 0)
            ::close(slave_);
        if (master_ >= 0)
            ::close(master_);
        if (!link_.isEmpty())
            QFile::remove(link_);
    }

    bool Open(const QString& link, QString* error)
    {
        char name[256] = {};
        if (openpty(&master_, &slave_, name, nullptr, nullptr) != 0) {
            *error = QStringLiteral("openpty failed: %1").arg(QString::fromLocal8Bit(std::strerror(errno)));
            return false;
        }
        // Bytes pass unchanged: no echo, no line editing, no CR/LF mapping.
        termios t{};
        tcgetattr(slave_, &t);
        cfmakeraw(&t);
        tcsetattr(slave_, TCSANOW, &t);
        // Our own slave descriptor stays open so the master never reads a
        // hang-up while the tool closes and reopens its port.
        fcntl(master_, F_SETFL, fcntl(master_, F_GETFL) | O_NONBLOCK);
        path_ = QString::fromLocal8Bit(name);
        if (!link.isEmpty()) {
            QFile::remove(link);
            if (!QFile::link(path_, link)) {
                *error = QStringLiteral("cannot link %1 to %2").arg(link, path_);
                return false;
            }
            link_ = link;
        }
        notifier_ = std::make_unique<QSocketNotifier>(master_, QSocketNotifier::Read);
        QObject::connect(notifier_.get(), &QSocketNotifier::activated, [this] { ReadAll(); });
        return true;
    }

    QString Path() const { return path_; }

    void Send(const BusFrame& frame) override
    {
        log_.Line("tx", frame);
        tervix::EncodePacket(frame, packet_);
        // Nobody reading for a long time: keep the newest bytes, as a full
        // adapter buffer would lose the rest.
        if (out_.size() > 64 * 1024)
            out_.clear();
        out_.insert(out_.end(), packet_.begin(), packet_.end());
        Flush();
    }

    void Tick() override { Flush(); }

private:
    void Flush()
    {
        while (!out_.empty()) {
            const ssize_t n = ::write(master_, out_.data(), out_.size());
            if (n <= 0)
                return;
            out_.erase(out_.begin(), out_.begin() + n);
        }
    }

    void ReadAll()
    {
        std::uint8_t buf[512];
        for (;;) {
            const ssize_t n = ::read(master_, buf, sizeof buf);
            if (n <= 0)
                return;
            framing_.Feed(tervix::ByteView(buf, static_cast<std::size_t>(n)), ring_);
        }
    }

    void Delivered(int slot)
    {
        // Adapter text lines mean nothing to the node.
        if (auto frame = tervix::DecodePacket(ring_.Slot(slot).View())) {
            log_.Line("rx", *frame);
            sim_.Receive(*frame, std::chrono::steady_clock::now());
        }
    }

    SimulatedUnit& sim_;
    FrameLog& log_;
    int master_ = -1;
    int slave_ = -1;
    QString path_;
    QString link_;
    std::unique_ptr<QSocketNotifier> notifier_;
    tervix::SerialFraming framing_;
    tervix::ReceiveRing ring_;
    tervix::FramePacket packet_;
    std::vector<std::uint8_t> out_;
};

class CanTransport final : public Transport {
public:
    CanTransport(SimulatedUnit& sim, FrameLog& log) : sim_(sim), log_(log) {}
    ~CanTransport() override
    {
        if (device_ && device_->state() != QCanBusDevice::UnconnectedState)
            device_->disconnectDevice();
    }

    bool Open(const QString& plugin, const QString& interfaceName, QString* error)
    {
        plugin_ = plugin;
        device_.reset(QCanBus::instance()->createDevice(plugin, interfaceName, error));
        if (!device_)
            return false;
        QObject::connect(device_.get(), &QCanBusDevice::framesReceived, [this] { ReadAll(); });
        QObject::connect(device_.get(), &QCanBusDevice::errorOccurred, [this](QCanBusDevice::CanBusError) {
            std::fprintf(stderr, "tervix-sim: %s\n", qPrintable(device_->errorString()));
        });
        return Connect(error);
    }

    void Send(const BusFrame& frame) override
    {
        log_.Line("tx", frame);
        QCanBusFrame f(frame.id, QByteArray(reinterpret_cast<const char*>(frame.data.data()), frame.length));
        f.setExtendedFrameFormat(frame.extended);
        if (frame.remote)
            f.setFrameType(QCanBusFrame::RemoteRequestFrame);
        device_->writeFrame(f);
    }

private:
    bool Connect(QString* error)
    {
        // SocketCAN takes its rate from the system, not from the program.
        if (plugin_ != QStringLiteral("socketcan"))
            device_->setConfigurationParameter(QCanBusDevice::BitRateKey,
                                               QVariant(sim_.BitrateKbit() * 1000));
        if (!device_->connectDevice()) {
            *error = device_->errorString();
            return false;
        }
        return true;
    }

    void ReadAll()
    {
        for (const QCanBusFrame& f : device_->readAllFrames()) {
            if (f.frameType() != QCanBusFrame::DataFrame && f.frameType() != QCanBusFrame::RemoteRequestFrame)
                continue;
            const QByteArray payload = f.payload();
            BusFrame frame;
            frame.id = f.frameId();
            frame.extended = f.hasExtendedFrameFormat();
            frame.remote = f.frameType() == QCanBusFrame::RemoteRequestFrame;
            frame.length = static_cast<std::uint8_t>(std::min<qsizetype>(payload.size(), 8));
            for (int i = 0; i < frame.length; ++i)
                frame.data[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(payload[i]);
            log_.Line("rx", frame);
            sim_.Receive(frame, std::chrono::steady_clock::now());
        }
    }

    SimulatedUnit& sim_;
    FrameLog& log_;
    QString plugin_;
    std::unique_ptr<QCanBusDevice> device_;
};

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("tervix-sim"));
    QCoreApplication::setApplicationVersion(QString::fromLatin1(tervix::kTervixVersion));

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Simulated CANopen weighing node (several weighing units on one node).\n"
        "Runs on a pseudo-terminal speaking the serial CAN adapter's byte protocol (--pty),\n"
        "or on a Qt SerialBus interface (--can PLUGIN:INTERFACE, e.g. virtualcan:can0).\n\n"
        "Node options (--options, comma separated, or the single flags below):\n"
        "  node=1..127 (1)  rate=kbit/s (500)  units=N (4)  first=ADDRESS (0)  seed=N (1)\n"
        "  order=unit|standard (unit: abort code most significant byte first)\n"
        "  drop=SHARE 0..1 (frames lost)  delay=MS (answers held back)  silent=UNIT (no TPDO1)\n"
        "  abort=IIII.SS[:CODE] (that object always answers with the abort code, hex)"));
    parser.addHelpOption();
    parser.addVersionOption();
    const QCommandLineOption pty(QStringLiteral("pty"),
                                 QStringLiteral("Run on a new pseudo-terminal; prints its path."));
    const QCommandLineOption link(QStringLiteral("link"),
                                  QStringLiteral("Also make a symbolic link PATH to the pseudo-terminal."),
                                  QStringLiteral("PATH"));
    const QCommandLineOption can(QStringLiteral("can"), QStringLiteral("Run on a Qt SerialBus interface."),
                                 QStringLiteral("PLUGIN:INTERFACE"));
    const QCommandLineOption options(QStringLiteral("options"),
                                     QStringLiteral("Node options, e.g. node=3,rate=125,units=2."),
                                     QStringLiteral("LIST"));
    const QCommandLineOption verbose(QStringLiteral("verbose"),
                                     QStringLiteral("Print one line per frame received and sent."));
    const QCommandLineOption tick(QStringLiteral("tick"), QStringLiteral("Step interval in ms (default 3)."),
                                  QStringLiteral("MS"), QStringLiteral("3"));
    parser.addOptions({pty, link, can, options, verbose, tick});
    // Single flags, each the same as its key in --options.
    const char* keys[] = {"node",  "rate", "units", "first",  "seed",
                          "order", "drop", "delay", "silent", "abort"};
    QList<QCommandLineOption> single;
    for (const char* key : keys) {
        single.append(
            QCommandLineOption(QString::fromLatin1(key),
                               QStringLiteral("Same as %1= in --options.").arg(QString::fromLatin1(key)),
                               QStringLiteral("VALUE")));
        parser.addOption(single.back());
    }
    parser.process(app);

    std::string text = parser.value(options).toStdString();
    for (const QCommandLineOption& o : single) {
        if (parser.isSet(o))
            text += "," + o.names().front().toStdString() + "=" + parser.value(o).toStdString();
    }
    std::string error;
    const auto simOptions = tervix::sim::ParseSimOptions(text, &error);
    if (!simOptions) {
        std::fprintf(stderr, "tervix-sim: %s\n", error.c_str());
        return 2;
    }
    if (parser.isSet(pty) == parser.isSet(can)) {
        std::fprintf(stderr, "tervix-sim: give either --pty or --can (see --help)\n");
        return 2;
    }
    bool tickOk = false;
    const int tickMs = parser.value(tick).toInt(&tickOk);
    if (!tickOk || tickMs < 1 || tickMs > 100) {
        std::fprintf(stderr, "tervix-sim: --tick takes 1..100 ms\n");
        return 2;
    }

    SimulatedUnit sim(*simOptions);
    FrameLog log(parser.isSet(verbose));
    std::unique_ptr<Transport> transport;
    QString openError;
    if (parser.isSet(pty)) {
        auto p = std::make_unique<PtyTransport>(sim, log);
        if (!p->Open(parser.value(link), &openError)) {
            std::fprintf(stderr, "tervix-sim: %s\n", qPrintable(openError));
            return 1;
        }
        std::printf("%s\n", qPrintable(p->Path()));
        transport = std::move(p);
    } else {
        const QString spec = parser.value(can);
        const qsizetype colon = spec.indexOf(QLatin1Char(':'));
        if (colon <= 0) {
            std::fprintf(stderr, "tervix-sim: --can takes PLUGIN:INTERFACE\n");
            return 2;
        }
        auto c = std::make_unique<CanTransport>(sim, log);
        if (!c->Open(spec.left(colon), spec.mid(colon + 1), &openError)) {
            std::fprintf(stderr, "tervix-sim: %s\n", qPrintable(openError));
            return 1;
        }
        transport = std::move(c);
    }
    std::printf("tervix-sim: %s\n", tervix::sim::FormatSimOptions(*simOptions).c_str());
    std::fflush(stdout);

    std::signal(SIGINT, OnSignal);
    std::signal(SIGTERM, OnSignal);

    QTimer timer;
    timer.setTimerType(Qt::PreciseTimer);
    QObject::connect(&timer, &QTimer::timeout, [&] {
        if (quitRequested) {
            QCoreApplication::quit();
            return;
        }
        sim.Step(std::chrono::steady_clock::now());
        for (const BusFrame& f : sim.TakeFrames())
            transport->Send(f);
        transport->Tick();
    });
    timer.start(tickMs);
    const int rc = app.exec();
    transport.reset();
    if (sim.DroppedFrames() > 0)
        std::printf("tervix-sim: %llu frames dropped on purpose\n",
                    static_cast<unsigned long long>(sim.DroppedFrames()));
    return rc;
}
