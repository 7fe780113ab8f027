#pragma once

// Texts of the helpers every layer uses, as code page 936 bytes.

#include <string_view>

namespace vexory::texts {

inline constexpr std::string_view kBlockFull = "\xA1\xF6";  // "■"
inline constexpr std::string_view kBlockEmpty = "\xA1\xF5"; // "□"

} // namespace vexory::texts
