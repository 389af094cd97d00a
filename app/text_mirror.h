// A text kept as plain state by the decoder and shown by a line edit; the
// widget is refreshed once per batch, and only when the text changed.
#pragma once

#include <QLineEdit>

#include <string>
#include <string_view>

class TextMirror {
public:
    explicit TextMirror(QLineEdit* edit = nullptr) : edit_(edit) {}

    void Attach(QLineEdit* edit) { edit_ = edit; }
    QLineEdit* Edit() const { return edit_; }

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
        if (!dirty_ || !edit_)
            return;
        dirty_ = false;
        const QString shown = QString::fromLatin1(text_.data(), static_cast<qsizetype>(text_.size()));
        if (edit_->text() != shown)
            edit_->setText(shown);
    }

private:
    QLineEdit* edit_;
    std::string text_;
    bool dirty_ = false;
};
