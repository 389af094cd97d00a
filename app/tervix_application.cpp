#include "tervix_application.h"

#include "message_sink.h"
#include "version.h"

#include <QWidget>

TervixApplication::TervixApplication(int& argc, char** argv) : QApplication(argc, argv)
{
    setApplicationName("Tervix");
    setApplicationVersion(QString::fromLatin1(tervix::kTervixVersion));
}

void ShowDefaultError(const QString& text)
{
    // A timer that keeps failing (say, guarding a node through a port that
    // could not be opened) would otherwise stack one box per tick.
    static bool open = false;
    if (open) {
        qWarning("%s", qPrintable(text));
        return;
    }
    open = true;
    DefaultMessageSink().ShowMessage(QApplication::applicationName(), text, QMessageBox::Critical,
                                     QApplication::activeWindow());
    open = false;
}
