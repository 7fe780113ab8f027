#pragma once

// The monitor's own texts, as code page 936 bytes.

#include <string_view>

namespace vexory::texts {

// "警告：没有抓取到任何数据..."
inline constexpr std::string_view kNoData =
    "\xBE\xAF\xB8\xE6\xA3\xBA\xC3\xBB\xD3\xD0\xD7\xA5\xC8\xA1\xB5\xBD\xC8\xCE\xBA\xCE\xCA\xFD\xBE\xDD...";
// "警告：源代码未获得..."
inline constexpr std::string_view kNoSource = "\xBE\xAF\xB8\xE6\xA3\xBA\xD4\xB4\xB4\xFA\xC2\xEB\xCE\xB4\xBB\xF1\xB5\xC3...";
// "警告：未获得指定的页面元素..."
inline constexpr std::string_view kNoElement =
    "\xBE\xAF\xB8\xE6\xA3\xBA\xCE\xB4\xBB\xF1\xB5\xC3\xD6\xB8\xB6\xA8\xB5\xC4\xD2\xB3\xC3\xE6\xD4\xAA\xCB\xD8...";
// "错误：Url未设置..."
inline constexpr std::string_view kNoUrl = "\xB4\xED\xCE\xF3\xA3\xBAUrl\xCE\xB4\xC9\xE8\xD6\xC3...";

// Remote commands a push reply carries to the panel and the main window.
inline constexpr std::string_view kShutoff = "[ shutoff ]";
inline constexpr std::string_view kUsernameError = "[ usernameerror ]";
inline constexpr std::string_view kLoginError = "[ loginerror ]";

} // namespace vexory::texts
