// A text as the decoder leaves it for the screen: the window copies it into
// its widget at display rate, and only when it changed.
#pragma once

#include <string>
#include <string_view>

namespace tervix {

class ShownText {
public:
    void Set(std::string_view text);
    // For building the text in place without a temporary.
    std::string& Build()
    {
        text_.clear();
        dirty_ = true;
        return text_;
    }
    const std::string& Text() const { return text_; }
    bool Dirty() const { return dirty_; }
    void ClearDirty() { dirty_ = false; }

private:
    std::string text_;
    bool dirty_ = false;
};

} // namespace tervix
