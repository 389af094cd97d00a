#include "message_sink.h"

#include <QTimer>

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

DeferredMessages::DeferredMessages(MessageSink& sink, QWidget* owner)
    : QObject(owner), sink_(sink), owner_(owner)
{
}

void DeferredMessages::Post(const QString& caption, const QString& text, QMessageBox::Icon icon)
{
    if (queue_.size() >= kCapacity) {
        ++dropped_;
        ++droppedTotal_;
        return;
    }
    queue_.push_back({caption, text, icon});
    if (showing_ || scheduled_)
        return;
    scheduled_ = true;
    QTimer::singleShot(0, this, [this] {
        scheduled_ = false;
        ShowPending();
    });
}

void DeferredMessages::ShowPending()
{
    // A box's own event loop may bring more messages; this loop takes them.
    if (showing_)
        return;
    showing_ = true;
    while (!queue_.empty()) {
        const Item item = std::move(queue_.front());
        queue_.pop_front();
        emit aboutToShow();
        sink_.ShowMessage(item.caption, item.text, item.icon, owner_);
    }
    showing_ = false;
    if (dropped_ != 0) {
        const std::size_t n = dropped_;
        dropped_ = 0;
        emit dropped(n);
    }
}
