#include "message_sink.h"

#include <QTimer>

#include <algorithm>

void ModalMessageSink::ShowMessage(const QString& caption, const QString& text, QMessageBox::Icon icon,
                                   QWidget* owner)
{
    QMessageBox box(icon, caption, text, QMessageBox::Ok, owner);
    box.exec();
}

void ModalMessageSink::ShowNotice(int id, const QString& caption, const QString& text, QMessageBox::Icon icon,
                                  QWidget* owner)
{
    auto* box = new QMessageBox(icon, caption, text, QMessageBox::Ok, owner);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setWindowModality(Qt::NonModal);
    notices_[id] = box;
    box->show();
}

void ModalMessageSink::CloseNotice(int id)
{
    const auto it = notices_.find(id);
    if (it == notices_.end())
        return;
    // Null when the user has closed it already.
    if (QMessageBox* box = it->second)
        box->close();
    notices_.erase(it);
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
    Enqueue({caption, text, icon});
}

int DeferredMessages::PostNotice(const QString& caption, const QString& text, QMessageBox::Icon icon)
{
    Enqueue({caption, text, icon, ++lastNotice_});
    return lastNotice_;
}

void DeferredMessages::Withdraw(int id)
{
    const auto queued =
        std::find_if(queue_.begin(), queue_.end(), [id](const Item& i) { return i.notice == id; });
    if (queued != queue_.end())
        queue_.erase(queued);
    else
        sink_.CloseNotice(id);
}

void DeferredMessages::Enqueue(Item item)
{
    if (queue_.size() >= kCapacity) {
        ++dropped_;
        ++droppedTotal_;
        return;
    }
    queue_.push_back(std::move(item));
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
        if (item.notice != 0)
            sink_.ShowNotice(item.notice, item.caption, item.text, item.icon, owner_);
        else
            sink_.ShowMessage(item.caption, item.text, item.icon, owner_);
    }
    showing_ = false;
    if (dropped_ != 0) {
        const std::size_t n = dropped_;
        dropped_ = 0;
        emit dropped(n);
    }
}
