// What a step that can fail gives back: done, or the text that says why not.
// Failures travel from the adapter to the window as these values; nothing
// on that way throws.
#pragma once

#include <optional>
#include <string>
#include <utility>

namespace tervix {

class [[nodiscard]] Status {
public:
    Status() = default; // done
    static Status Failed(std::string why) { return Status(std::move(why)); }

    bool ok() const { return !error_; }
    explicit operator bool() const { return ok(); }
    // Empty when done.
    const std::string& error() const
    {
        static const std::string none;
        return error_ ? *error_ : none;
    }

private:
    explicit Status(std::string why) : error_(std::move(why)) {}
    std::optional<std::string> error_;
};

} // namespace tervix
