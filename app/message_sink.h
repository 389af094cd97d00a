// Every message box of the program goes through this interface: the program
// shows modal boxes, tests record them.
#pragma once

#include <QMessageBox>
#include <QObject>
#include <QPointer>
#include <QString>

#include <deque>
#include <map>

class QWidget;

class MessageSink {
public:
    virtual ~MessageSink() = default;
    // Shows a message with one OK button; returns when it has been dismissed.
    virtual void ShowMessage(const QString& caption, const QString& text, QMessageBox::Icon icon,
                             QWidget* owner) = 0;
    // A message about a state that can end by itself (an adapter lost until
    // it is back). It must not hold the window up, and CloseNotice(id) takes
    // it away when the state is over. Without an override it is a message.
    virtual void ShowNotice(int id, const QString& caption, const QString& text, QMessageBox::Icon icon,
                            QWidget* owner)
    {
        Q_UNUSED(id);
        ShowMessage(caption, text, icon, owner);
    }
    virtual void CloseNotice(int id) { Q_UNUSED(id); }
};

// Messages are modal boxes; notices are boxes that leave the window usable.
class ModalMessageSink : public MessageSink {
public:
    void ShowMessage(const QString& caption, const QString& text, QMessageBox::Icon icon,
                     QWidget* owner) override;
    void ShowNotice(int id, const QString& caption, const QString& text, QMessageBox::Icon icon,
                    QWidget* owner) override;
    void CloseNotice(int id) override;

private:
    std::map<int, QPointer<QMessageBox>> notices_;
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
    // A notice (MessageSink::ShowNotice); the id is for Withdraw.
    int PostNotice(const QString& caption, const QString& text, QMessageBox::Icon icon);
    // The notice's state is over: it leaves the queue, or the screen.
    void Withdraw(int id);
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
        int notice = 0; // 0: a message
    };
    void Enqueue(Item item);

    MessageSink& sink_;
    QWidget* owner_;
    std::deque<Item> queue_;
    std::size_t dropped_ = 0;
    std::size_t droppedTotal_ = 0;
    bool showing_ = false;
    bool scheduled_ = false;
    int lastNotice_ = 0;
};
