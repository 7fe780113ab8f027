#pragma once

// The platform layer's own texts, as code page 936 bytes.

#include <string_view>

namespace vexory::texts {

inline constexpr std::string_view kPluginTitle = "Vexory\xCD\xE2\xB9\xD2 - "; // "Vexory外挂 - "

} // namespace vexory::texts
