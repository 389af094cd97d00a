// Every message box of the program goes through this interface: the program
// shows modal boxes, tests record them.
#pragma once

#include <QMessageBox>
#include <QObject>
#include <QString>

#include <deque>

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

// Messages raised while a frame is handled, shown afterwards from the event
// loop, one box at a time. Polling and decoding go on while a box is open;
// what arrives meanwhile waits here, up to a bound, and what is beyond it is
// counted and reported once.
class DeferredMessages : public QObject {
    Q_OBJECT
public:
    static constexpr std::size_t kCapacity = 100;

    DeferredMessages(MessageSink& sink, QWidget* owner);

    void Post(const QString& caption, const QString& text, QMessageBox::Icon icon = QMessageBox::Warning);
    // Shows every waiting message now (normally done from the event loop).
    void ShowPending();
    std::size_t Waiting() const { return queue_.size(); }
    std::size_t Dropped() const { return droppedTotal_; }

signals:
    void aboutToShow();
    // Messages beyond the bound, once the queue has been worked off.
    void dropped(std::size_t count);

private:
    struct Item {
        QString caption;
        QString text;
        QMessageBox::Icon icon;
    };
    MessageSink& sink_;
    QWidget* owner_;
    std::deque<Item> queue_;
    std::size_t dropped_ = 0;
    std::size_t droppedTotal_ = 0;
    bool showing_ = false;
    bool scheduled_ = false;
};
