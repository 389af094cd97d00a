// The program's version, set in one place: the project's version in the
// top-level CMakeLists.txt.
#pragma once

#include <string_view>

namespace tervix {

constexpr std::string_view kTervixVersion = TERVIX_VERSION;

} // namespace tervix
