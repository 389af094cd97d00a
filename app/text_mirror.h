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

    void Set(std::string_view text)
    {
        text_.assign(text);
        dirty_ = true;
    }
    // For building the text in place without a temporary.
    std::string& Build()
    {
        text_.clear();
        dirty_ = true;
        return text_;
    }
    const std::string& Text() const { return text_; }

    void Flush()
    {
        if (!dirty_)
            return;
        dirty_ = false;
        const QString shown = QString::fromLatin1(text_.data(), static_cast<qsizetype>(text_.size()));
        if (edit_ && edit_->text() != shown) {
            edit_->setText(shown);
            edit_->setCursorPosition(0);  // a long line shows its beginning
        }
        if (label_ && label_->text() != shown)
            label_->setText(shown);
    }

private:
    QLineEdit* edit_ = nullptr;
    QLabel* label_ = nullptr;
    std::string text_;
    bool dirty_ = false;
};
