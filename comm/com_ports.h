// Which device a COM number opens. On Windows COMn is the system name. On
// other systems a fixed table applies:
//   COM1  - COM32  -> /dev/ttyS0   - /dev/ttyS31
//   COM33 - COM64  -> /dev/ttyUSB0 - /dev/ttyUSB31
//   COM65 - COM96  -> /dev/ttyACM0 - /dev/ttyACM31
//   COM97 - COM99  -> nothing
// and `--com N=PATH` maps any number to any path (pseudo-terminals, the
// simulator).
#pragma once

#include <QString>

#include <array>

class ComPortMap {
public:
    static constexpr int kFirstPort = 1;
    static constexpr int kLastPort = 99;

    ComPortMap();

    // The system default for port n; empty when n has none.
    static QString defaultPath(int n);

    // "N=PATH" with N in 1..99 and a non-empty PATH. On failure nothing
    // changes and *error (when given) says why. A PATH that does not exist
    // is mapped all the same (the port is then not listed); *note (when
    // given) says so, and is left empty otherwise.
    bool addMapping(const QString& mapping, QString* error = nullptr, QString* note = nullptr);

    // The device of port n; empty when n is out of range or has none.
    QString path(int n) const;

private:
    std::array<QString, kLastPort + 1> paths_;
};
