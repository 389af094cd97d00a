// A text kept as plain state by the decoder and shown by a line edit or a
// label; the widget is refreshed once per batch, and only when the text
// changed.
#pragma once

#include <QLabel>
#include <QLineEdit>

#include <string>
#include <string_view>

class TextMirror {
public:
    TextMirror() = default;

    void Attach(QLineEdit* edit) { edit_ = edit; }
    void Attach(QLabel* label) { label_ = label; }

    void Set(std::string_view text);
    // For building the text in place without a temporary.
    std::string& Build();
    const std::string& Text() const { return text_; }

    // Shows the text if it changed since the last flush.
    void Flush();

private:
    QLineEdit* edit_ = nullptr;
    QLabel* label_ = nullptr;
    std::string text_;
    bool dirty_ = false;
};
