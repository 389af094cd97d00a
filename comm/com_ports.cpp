#include "com_ports.h"

#include <QFileInfo>

ComPortMap::ComPortMap()
{
    for (int n = kFirstPort; n <= kLastPort; ++n)
        paths_[static_cast<std::size_t>(n)] = defaultPath(n);
}

QString ComPortMap::defaultPath(int n)
{
    if (n < kFirstPort || n > kLastPort)
        return {};
#ifdef Q_OS_WIN
    return QStringLiteral("COM%1").arg(n);
#else
    if (n <= 32)
        return QStringLiteral("/dev/ttyS%1").arg(n - 1);
    if (n <= 64)
        return QStringLiteral("/dev/ttyUSB%1").arg(n - 33);
    if (n <= 96)
        return QStringLiteral("/dev/ttyACM%1").arg(n - 65);
    return {};
#endif
}

bool ComPortMap::addMapping(const QString& mapping, QString* error, QString* note)
{
    if (note)
        note->clear();
    auto fail = [&](const QString& why) {
        if (error)
            *error = QStringLiteral("--com %1: %2").arg(mapping, why);
        return false;
    };
    const qsizetype eq = mapping.indexOf(u'=');
    if (eq < 0)
        return fail(QStringLiteral("expected N=PATH"));
    const QString number = mapping.left(eq).trimmed();
    const QString path = mapping.mid(eq + 1).trimmed();
    bool ok = false;
    const int n = number.toInt(&ok, 10);
    // toInt accepts a sign; a port number is digits only.
    if (!ok || number.isEmpty() || !number.front().isDigit() || n < kFirstPort || n > kLastPort)
        return fail(QStringLiteral("N must be a number from %1 to %2").arg(kFirstPort).arg(kLastPort));
    if (path.isEmpty())
        return fail(QStringLiteral("PATH is empty"));
    paths_[static_cast<std::size_t>(n)] = path;
#ifndef Q_OS_WIN // there COMn is a name, not a file
    // Said at start: otherwise the port is just missing from the list.
    if (note && !QFileInfo::exists(path))
        *note = QStringLiteral("--com %1: %2 does not exist; COM%3 is not listed").arg(mapping, path).arg(n);
#endif
    return true;
}

QString ComPortMap::path(int n) const
{
    if (n < kFirstPort || n > kLastPort)
        return {};
    return paths_[static_cast<std::size_t>(n)];
}
