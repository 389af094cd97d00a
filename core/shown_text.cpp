#include "shown_text.h"

namespace tervix {

// Out of line: inlined into its callers with literals, g++ 12 reports a false
// -Wrestrict in release builds.
void ShownText::Set(std::string_view text)
{
    text_.assign(text);
    dirty_ = true;
}

} // namespace tervix
