// JSON strings of the UTF-8 texts the commands print.
#pragma once

#include <string>
#include <string_view>

namespace tervix::cli {

// Quote and backslash escaped; C0 controls, DEL and the C1 controls (U+0080..
// U+009F, which no printable text holds) as \u escapes or their short forms.
inline void AppendJsonString(std::string& out, std::string_view utf8)
{
    const auto escape = [&out](unsigned char b) {
        out += "\\u00";
        out.push_back("0123456789abcdef"[b >> 4]);
        out.push_back("0123456789abcdef"[b & 0x0F]);
    };
    out.push_back('"');
    for (std::size_t i = 0; i < utf8.size(); ++i) {
        const char c = utf8[i];
        const auto b = static_cast<unsigned char>(c);
        switch (c) {
        case '"': out += "\\\""; continue;
        case '\\': out += "\\\\"; continue;
        case '\b': out += "\\b"; continue;
        case '\f': out += "\\f"; continue;
        case '\n': out += "\\n"; continue;
        case '\r': out += "\\r"; continue;
        case '\t': out += "\\t"; continue;
        default: break;
        }
        const auto next = i + 1 < utf8.size() ? static_cast<unsigned char>(utf8[i + 1]) : 0u;
        if (b < 0x20 || b == 0x7F) {
            escape(b);
        } else if (b == 0xC2 && next >= 0x80 && next < 0xA0) {
            escape(static_cast<unsigned char>(next));
            ++i;
        } else {
            out.push_back(c);
        }
    }
    out.push_back('"');
}

} // namespace tervix::cli
