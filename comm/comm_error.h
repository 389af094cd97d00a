// The error a serial-port operation raises to its caller; the application's
// default error handling shows its text in a message box.
#pragma once

#include <QString>

#include <stdexcept>

class CommError : public std::runtime_error {
public:
    explicit CommError(const QString& message) : std::runtime_error(message.toStdString()) {}
    QString text() const { return QString::fromStdString(what()); }
};
