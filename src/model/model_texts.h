#pragma once

// The task model's own texts, as code page 936 bytes.

#include <string_view>

namespace vexory::texts {

// "错误:文件内部错误，无法读取..."
inline constexpr std::string_view kStoreReadError =
    "\xB4\xED\xCE\xF3:\xCE\xC4\xBC\xFE\xC4\xDA\xB2\xBF\xB4\xED\xCE\xF3\xA3\xAC\xCE\xDE\xB7\xA8\xB6\xC1\xC8\xA1...";

} // namespace vexory::texts
