// Every message box of the program goes through this interface: the program
// shows modal boxes, tests record them.
#pragma once

#include <QMessageBox>
#include <QString>

class QWidget;

class MessageSink {
public:
    virtual ~MessageSink() = default;
    // Shows a message with one OK button; returns when it has been dismissed.
    virtual void ShowMessage(const QString& caption, const QString& text, QMessageBox::Icon icon,
                             QWidget* owner) = 0;
};

class ModalMessageSink : public MessageSink {
public:
    void ShowMessage(const QString& caption, const QString& text, QMessageBox::Icon icon,
                     QWidget* owner) override;
};

// The program's sink, used by the application's default error handling.
MessageSink& DefaultMessageSink();
void SetDefaultMessageSink(MessageSink* sink);  // nullptr restores the modal sink
