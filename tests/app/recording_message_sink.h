// Records message boxes instead of showing them; can run code "while a box
// is open" to imitate what a nested event loop may do.
#pragma once

#include "message_sink.h"

#include <functional>
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
        if (whileOpen) {
            auto f = std::move(whileOpen);
            whileOpen = nullptr;
            f();
        }
    }

    std::vector<RecordedMessage> messages;
    std::function<void()> whileOpen;
};
