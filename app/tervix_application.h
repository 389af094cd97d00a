// The application object, and the box the program shows an adapter's
// failure in.
#pragma once

#include <QApplication>

class TervixApplication : public QApplication {
public:
    TervixApplication(int& argc, char** argv);
};

// Shows a failure the user's action met (a port that does not open), once
// at a time: a box that is up takes no second one.
void ShowDefaultError(const QString& text);
