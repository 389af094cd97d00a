// Records message boxes instead of showing them; can run code "while a box
// is open" to imitate what a nested event loop may do, and counts how many
// boxes were ever open at once.
#pragma once

#include "message_sink.h"

#include <algorithm>
#include <functional>
#include <map>
#include <ostream>
#include <vector>

// Readable QStrings in test failure output.
inline void PrintTo(const QString& s, std::ostream* os)
{
    *os << '"' << s.toStdString() << '"';
}

struct RecordedMessage {
    QString caption;
    QString text;
};

class RecordingMessageSink : public MessageSink {
public:
    void ShowMessage(const QString& caption, const QString& text, QMessageBox::Icon, QWidget*) override
    {
        messages.push_back({caption, text});
        ++open;
        maxOpen = std::max(maxOpen, open);
        if (whileOpen) {
            // One-shot; the code may arm it again for the next box.
            auto f = std::move(whileOpen);
            whileOpen = nullptr;
            f();
        }
        --open;
    }

    // A notice is recorded with the messages; it stays in openNotices until
    // it is closed.
    void ShowNotice(int id, const QString& caption, const QString& text, QMessageBox::Icon, QWidget*) override
    {
        messages.push_back({caption, text});
        openNotices[id] = text;
    }
    void CloseNotice(int id) override { openNotices.erase(id); }

    std::vector<RecordedMessage> messages;
    std::map<int, QString> openNotices;
    std::function<void()> whileOpen;
    int open = 0;
    int maxOpen = 0;
};
