// The application object: its notify is the program's default error handling.
#pragma once

#include <QApplication>

class TervixApplication : public QApplication {
public:
    TervixApplication(int& argc, char** argv);

    // Exceptions never cross the event loop: an error that escapes a handler
    // is shown in a message box and the program carries on.
    bool notify(QObject* receiver, QEvent* event) override;
};

// Shows an escaped error the way notify does (for code that calls handlers directly).
void ShowDefaultError(const QString& text);
