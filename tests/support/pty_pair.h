// A pseudo-terminal whose master side plays the serial CAN adapter; the
// program opens the slave side as a COM port. Shared by tests and benchmarks.
#pragma once

#include <QString>

#include <fcntl.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

struct PtyPair {
    int master = -1;
    int slave = -1;
    QString path;  // empty when no pseudo-terminal could be had

    PtyPair()
    {
        char name[256] = {};
        if (openpty(&master, &slave, name, nullptr, nullptr) != 0)
            return;
        // No echo or line editing before the port under test sets its own mode.
        termios t{};
        tcgetattr(slave, &t);
        cfmakeraw(&t);
        tcsetattr(slave, TCSANOW, &t);
        fcntl(master, F_SETFL, fcntl(master, F_GETFL) | O_NONBLOCK);
        path = QString::fromLocal8Bit(name);
    }
    ~PtyPair()
    {
        if (slave >= 0)
            ::close(slave);
        if (master >= 0)
            ::close(master);
    }
    PtyPair(const PtyPair&) = delete;
    PtyPair& operator=(const PtyPair&) = delete;
};
