#include "app_settings.h"
#include "log_view.h"
#include "message_sink.h"
#include "monitor.h"
#include "tervix_application.h"

#include "can_backends.h"
#include "replay_driver.h"
#include "usb2can.h"
#include "version.h"

#include <QCommandLineParser>
#include <QEvent>

#include <cstdio>
#include <string_view>

namespace {

void Fail(const QString& text)
{
    std::fprintf(stderr, "tervix: %s\n", qPrintable(text));
}

// The program's options, on a parser of its own so that --help and
// --version can be answered before any window system is touched.
struct Options {
    QCommandLineOption can{QStringList{"can"}, "CAN adapter behind the \"USB\" entry.", "BACKEND[:INTERFACE]",
                           DefaultCanOption()};
    QCommandLineOption com{QStringList{"com"}, "Map COM number N (1..99) to device PATH; repeatable.",
                           "N=PATH"};
    QCommandLineOption sdoTimeout{QStringList{"sdo-timeout"},
                                  "How long every SDO request waits for each answer (default 1000).", "MS",
                                  "1000"};
    QCommandLineOption abortOrder{QStringList{"sdo-abort-order"},
                                  "Byte order of SDO abort codes: unit (data byte 4 most significant, as the "
                                  "weighing units send them; default) or standard (CiA 301, byte 7 most "
                                  "significant).",
                                  "ORDER", "unit"};
    QCommandLineOption noSettings{QStringList{"no-settings"},
                                  "Start with the default port, speed, node and layout, and keep no "
                                  "settings of this session."};
    QCommandLineOption record{QStringList{"record"},
                              "Record every frame received (rx) and sent (tx) to FILE: a candump log, or "
                              "by FILE's extension PEAK TRC 2.1 (.trc) or Vector ASC (.asc).",
                              "FILE"};
    QCommandLineOption recordFormat{QStringList{"record-format"},
                                    "The format --record writes, whatever FILE's extension: candump, trc11 "
                                    "(PEAK TRC 1.1), trc21 (PEAK TRC 2.1) or asc (Vector ASC).",
                                    "FORMAT"};
    QCommandLineOption listenOnly{QStringList{"listen-only"},
                                  "Send nothing on the bus: no NMT Start, no node guarding, no search, no "
                                  "requests (\"Listen only\" on \"Communication\"). A replay always listens only."};
};

void Describe(QCommandLineParser& parser, const Options& options)
{
    parser.setApplicationDescription(
        "Service and monitoring tool for CANopen weighing units.\n\n"
        "CAN adapters for the \"USB\" entry of the PORT box (--can):\n"
        "  pcan-light[:LIBRARY]  the PCAN-USB vendor driver library, loaded at run time\n"
        "                        (pcan_usb.dll on Windows; on Linux give its path)\n"
        "  PLUGIN:INTERFACE      any Qt SerialBus plugin, e.g. peakcan:usb0,\n"
        "                        socketcan:can0 (PCAN-USB through the Linux kernel driver),\n"
        "                        virtualcan:can0 (Qt's loopback bus)\n"
        "  sim[:OPTIONS]         a simulated weighing node inside the program, e.g.\n"
        "                        sim:node=3,rate=125,units=2 (see tervix-sim --help)\n"
        "  replay:FILE[,speed=N] a recording (candump, PEAK TRC or Vector ASC) played back,\n"
        "                        N times faster than recorded (speed=0: all at once);\n"
        "                        the window listens only\n"
        "Default: " + DefaultCanOption() + "\n\n"
        "Serial CAN adapters appear in the PORT box as COM1..COM99. On Linux COM1-32 are\n"
        "/dev/ttyS0-31, COM33-64 /dev/ttyUSB0-31, COM65-96 /dev/ttyACM0-31; --com maps any\n"
        "number to any device.");
    parser.addHelpOption();
    parser.addVersionOption();
    parser.addOption(options.can);
    parser.addOption(options.com);
    parser.addOption(options.record);
    parser.addOption(options.recordFormat);
    parser.addOption(options.listenOnly);
    parser.addOption(options.sdoTimeout);
    parser.addOption(options.abortOrder);
    parser.addOption(options.noSettings);
}

bool AsksForHelpOrVersion(int argc, char** argv)
{
    for (int i = 1; i < argc; ++i) {
        const std::string_view a = argv[i];
        if (a == "--")
            break;
        if (a == "-h" || a == "-?" || a == "--help" || a == "--help-all" || a == "-v" || a == "--version")
            return true;
    }
    return false;
}

} // namespace

int main(int argc, char** argv)
{
    const Options options;
    if (AsksForHelpOrVersion(argc, argv)) {
        // No display needed: the parser prints and ends the program.
        QCoreApplication core(argc, argv);
        QCoreApplication::setApplicationName(QStringLiteral("Tervix"));
        QCoreApplication::setApplicationVersion(QString::fromLatin1(tervix::kTervixVersion));
        QCommandLineParser parser;
        Describe(parser, options);
        parser.process(core);
        return 0;
    }

    TervixApplication app(argc, argv);
    QCommandLineParser parser;
    Describe(parser, options);
    parser.process(app);
    const QCommandLineOption& can = options.can;
    const QCommandLineOption& com = options.com;
    const QCommandLineOption& record = options.record;

    TForm1::Adapters adapters;
    QStringList comNotes;
    for (const QString& mapping : parser.values(com)) {
        QString error;
        QString note;
        if (!adapters.ports.addMapping(mapping, &error, &note)) {
            Fail(error);
            return 2;
        }
        if (!note.isEmpty())
            comNotes << note;
    }
    bool timeoutOk = false;
    const int timeoutMs = parser.value(options.sdoTimeout).toInt(&timeoutOk);
    if (!timeoutOk || timeoutMs < 1 || timeoutMs > 600000) {
        Fail(QStringLiteral("--sdo-timeout takes milliseconds from 1 to 600000"));
        return 2;
    }
    const QString order = parser.value(options.abortOrder);
    if (order != QStringLiteral("unit") && order != QStringLiteral("standard")) {
        Fail(QStringLiteral("--sdo-abort-order takes unit or standard"));
        return 2;
    }
    QString error;
    std::unique_ptr<CanDriver> driver = MakeCanDriver(parser.value(can), &error);
    if (!driver) {
        Fail(error);
        return 2;
    }
    // The one USB channel exists before any window and lives as long as the
    // application object.
    adapters.replay = qobject_cast<ReplayDriver*>(driver.get());
    adapters.usb = InstallUsbChannel(&app, std::move(driver));

    // Made before the window: its file dialogs start in the folders last used.
    AppSettings settings(parser.isSet(options.noSettings) ? AppSettings::Store::None
                                                          : AppSettings::Store::Platform);
    TForm1 form(DefaultMessageSink(), tervix::DefaultClock(), std::move(adapters));
    for (const QString& note : comNotes)
        form.Log()->AppendLine(note.toStdString());
    // Nobody must take the simulated node for a real one.
    if (IsSimulatedOption(parser.value(can)))
        form.setWindowTitle(form.windowTitle() + QStringLiteral(" - simulated unit"));
    if (parser.isSet(options.listenOnly))
        form.SetListenOnly(true);
    form.SetSdoTimeout(std::chrono::milliseconds(timeoutMs));
    form.Canopen().SetAbortOrder(order == QStringLiteral("standard") ? tervix::AbortOrder::Standard
                                                                     : tervix::AbortOrder::Unit);
    std::optional<tervix::TraceFormat> recordFormat;
    if (parser.isSet(options.recordFormat)) {
        recordFormat = tervix::TraceFormatFromName(parser.value(options.recordFormat).toStdString());
        if (!recordFormat) {
            Fail(QStringLiteral("--record-format takes candump, trc11, trc21 or asc"));
            return 2;
        }
    }
    if (parser.isSet(record) && !form.StartRecording(parser.value(record), &error, recordFormat)) {
        Fail(error);
        return 2;
    }
    form.UseSettings(&settings);
    form.show();
    const int status = app.exec();
    // Devices handed to deleteLater while closing go before the application.
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    return status;
}
