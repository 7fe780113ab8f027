#pragma once

// The application shell's texts, as code page 936 bytes.

#include <string_view>

namespace vexory::texts {

inline constexpr std::string_view kProgramEnd = "\xB3\xCC\xD0\xF2\xBD\xE1\xCA\xF8"; // "程序结束"

// Memory trimming log lines (after "  " + date-time).
inline constexpr std::string_view kTrimCacheCheck = " - \xBC\xEC\xB2\xE9\xBB\xBA\xB4\xE6";          // " - 检查缓存"
inline constexpr std::string_view kTrimCacheClear = " - \xC7\xE5\xC0\xED\xBB\xBA\xB4\xE6";          // " - 清理缓存"
inline constexpr std::string_view kTrimOwnCheck =
    " - \xBC\xEC\xB2\xE9\xD7\xD4\xC9\xED\xD5\xBC\xD3\xC3\xC4\xDA\xB4\xE6"; // " - 检查自身占用内存"
inline constexpr std::string_view kTrimOwnClear =
    " - \xC7\xE5\xC0\xED\xD7\xD4\xC9\xED\xD5\xBC\xD3\xC3\xC4\xDA\xB4\xE6"; // " - 清理自身占用内存"
inline constexpr std::string_view kTrimFreeCheck = " - \xBC\xEC\xB2\xE9\xCA\xA3\xD3\xE0\xC4\xDA\xB4\xE6"; // " - 检查剩余内存"
inline constexpr std::string_view kTrimStandby = " - \xC7\xE5\xC0\xED\xB1\xB8\xD3\xC3\xC4\xDA\xB4\xE6";  // " - 清理备用内存"
inline constexpr std::string_view kTrimAllWorkingSets =
    " - \xC7\xE5\xC0\xED\xCB\xF9\xD3\xD0\xB9\xA4\xD7\xF7\xBC\xAF"; // " - 清理所有工作集"
inline constexpr std::string_view kTrimAllStandby =
    " - \xC7\xE5\xC0\xED\xCB\xF9\xD3\xD0\xB1\xB8\xD3\xC3\xC4\xDA\xB4\xE6"; // " - 清理所有备用内存"
inline constexpr std::string_view kTrimModified =
    " - \xC7\xE5\xC0\xED\xCB\xF9\xD3\xD0\xD0\xDE\xB8\xC4\xD2\xB3"; // " - 清理所有修改页"
inline constexpr std::string_view kTrimBaseline = " - \xBB\xF1\xC8\xA1\xD7\xEE\xD0\xA1\xC4\xDA\xB4\xE6:"; // " - 获取最小内存:"

} // namespace vexory::texts
