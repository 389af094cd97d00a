#include "text_mirror.h"

// Out of line: inlined into its many callers, g++ 12 reports a false
// -Wrestrict on assigning a literal to the string.
void TextMirror::Set(std::string_view text)
{
    text_.assign(text);
    dirty_ = true;
}

std::string& TextMirror::Build()
{
    text_.clear();
    dirty_ = true;
    return text_;
}

void TextMirror::Flush()
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
