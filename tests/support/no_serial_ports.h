// A COM map in which every number points to a path that does not exist, so
// that probing finds none of the machine's own ports. Shared by tests and
// benchmarks.
#pragma once

#include "com_ports.h"

#include <QCoreApplication>
#include <QString>

// The names are this process's own: the serial port takes a lock file named
// after the device while it tries to open it, and runs side by side must not
// see each other's locks.
inline ComPortMap NoSerialPorts()
{
    ComPortMap map;
    const qint64 pid = QCoreApplication::applicationPid();
    for (int n = ComPortMap::kFirstPort; n <= ComPortMap::kLastPort; ++n)
        map.addMapping(QStringLiteral("%1=/nonexistent/tervix-test-%2-tty%1").arg(n).arg(pid));
    return map;
}
