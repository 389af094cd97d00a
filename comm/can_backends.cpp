#include "can_backends.h"

#include "pcan_usb.h"
#include "replay_driver.h"
#include "serialbus_driver.h"
#include "sim_driver.h"

#include <QCanBus>

#include <cmath>

namespace {
const QString kPcanLight = QStringLiteral("pcan-light");
const QString kSim = QStringLiteral("sim");
const QString kReplay = QStringLiteral("replay");
const QString kSpeed = QStringLiteral(",speed=");
}

QString DefaultCanOption()
{
#ifdef Q_OS_WIN
    return kPcanLight;
#else
    return QStringLiteral("socketcan:can0");
#endif
}

std::unique_ptr<CanDriver> MakeCanDriver(const QString& option, QString* error, tervix::Clock& clock)
{
    auto fail = [&](const QString& why) -> std::unique_ptr<CanDriver> {
        if (error)
            *error = QStringLiteral("--can %1: %2").arg(option, why);
        return nullptr;
    };
    const qsizetype colon = option.indexOf(u':');
    const QString backend = (colon < 0 ? option : option.left(colon)).trimmed();
    const QString interfaceName = colon < 0 ? QString() : option.mid(colon + 1).trimmed();
    if (backend.isEmpty())
        return fail(QStringLiteral("no back-end given"));
    if (backend == kPcanLight)
        return std::make_unique<PcanLightDriver>(interfaceName);
    if (backend == kSim) {
        std::string why;
        const auto options = tervix::sim::ParseSimOptions(interfaceName.toStdString(), &why);
        if (!options)
            return fail(QString::fromStdString(why));
        return std::make_unique<SimDriver>(*options, clock);
    }
    if (backend == kReplay) {
        // The speed comes last, so a file name may hold commas.
        QString file = interfaceName;
        double speed = 1.0;
        if (const qsizetype at = file.lastIndexOf(kSpeed); at >= 0) {
            bool ok = false;
            speed = file.mid(at + kSpeed.size()).trimmed().toDouble(&ok);
            if (!ok || !std::isfinite(speed) || speed < 0)
                return fail(QStringLiteral("speed must be a number, 0 or more"));
            file.truncate(at);
        }
        if (file.isEmpty())
            return fail(QStringLiteral("give the log as replay:FILE[,speed=N]"));
        return std::make_unique<ReplayDriver>(file, speed, clock);
    }

    const QStringList plugins = QCanBus::instance()->plugins();
    if (!plugins.contains(backend)) {
        return fail(QStringLiteral("unknown back-end '%1' (known: %2, %3)")
                        .arg(backend, kPcanLight + QStringLiteral(", ") + kSim + QStringLiteral(", ") + kReplay, plugins.join(QStringLiteral(", "))));
    }
    if (interfaceName.isEmpty())
        return fail(QStringLiteral("give the interface as %1:INTERFACE").arg(backend));
    return std::make_unique<SerialBusDriver>(backend, interfaceName, clock);
}

bool IsSimulatedOption(const QString& option)
{
    return option.trimmed() == kSim || option.trimmed().startsWith(kSim + QLatin1Char(':'));
}
