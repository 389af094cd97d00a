#include "can_backends.h"

#include "serialbus_driver.h"

#include <QCanBus>

namespace {
const QString kPcanLight = QStringLiteral("pcan-light");
}

QString DefaultCanOption()
{
#ifdef Q_OS_WIN
    return kPcanLight;
#else
    return QStringLiteral("socketcan:can0");
#endif
}

std::unique_ptr<CanDriver> MakeCanDriver(const QString& option, QString* error)
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

    const QStringList plugins = QCanBus::instance()->plugins();
    if (!plugins.contains(backend)) {
        return fail(QStringLiteral("unknown back-end '%1' (known: %2, %3)")
                        .arg(backend, kPcanLight, plugins.join(QStringLiteral(", "))));
    }
    if (interfaceName.isEmpty())
        return fail(QStringLiteral("give the interface as %1:INTERFACE").arg(backend));
    return std::make_unique<SerialBusDriver>(backend, interfaceName);
}
