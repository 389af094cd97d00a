// Text files from the field come as UTF-8 or, mostly from vendors' tools, as
// Windows-1252. The encoding is decided once for a whole file and its text is
// handed on as UTF-8, so that the window and tervix-cli show the same.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace tervix {

enum class TextEncoding : std::uint8_t { Utf8, Windows1252 };

constexpr std::string_view kUtf8Bom = "\xEF\xBB\xBF";

struct DecodedText {
    std::string utf8;
    TextEncoding encoding = TextEncoding::Utf8;
};

// A UTF-8 byte-order mark is skipped; the rest is kept when it is well-formed
// UTF-8 as a whole (no overlong forms, surrogates or values above U+10FFFF)
// and read as Windows-1252 otherwise, its five unassigned bytes as the C1
// controls of the same value. `endMayBeCut`: the reader stopped at a size
// limit, so a UTF-8 sequence broken by that cut is dropped rather than
// taken for a sign of Windows-1252.
DecodedText DecodeText(std::string bytes, bool endMayBeCut = false);

void AppendWindows1252AsUtf8(std::string& out, std::string_view bytes);

// Walking UTF-8 by characters. A character is a byte that is no continuation
// byte (10xxxxxx) with the continuation bytes after it, so any bytes can be
// walked and no walk stops inside a character of well-formed text.

// The position after the character at `pos`; pos + 1 at or past the end.
std::size_t NextChar(std::string_view text, std::size_t pos);
// The position `count` characters after `pos` (past the end when the text is
// shorter).
std::size_t AdvanceChars(std::string_view text, std::size_t pos, std::size_t count);
std::size_t CharCount(std::string_view text);
// Where the last character begins; 0 for an empty text.
std::size_t LastCharStart(std::string_view text);
// The longest beginning of `text` of at most maxBytes that ends between
// characters.
std::string_view CutAtCharBoundary(std::string_view text, std::size_t maxBytes);

} // namespace tervix
