#include "message_sink.h"

void ModalMessageSink::ShowMessage(const QString& caption, const QString& text, QMessageBox::Icon icon,
                                   QWidget* owner)
{
    QMessageBox box(icon, caption, text, QMessageBox::Ok, owner);
    box.exec();
}

namespace {
ModalMessageSink modalSink;
MessageSink* currentSink = &modalSink;
} // namespace

MessageSink& DefaultMessageSink()
{
    return *currentSink;
}

void SetDefaultMessageSink(MessageSink* sink)
{
    currentSink = sink ? sink : &modalSink;
}
