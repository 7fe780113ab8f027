#pragma once

// The application shell's texts, as code page 936 bytes.

#include <string_view>

namespace vexory::texts {

inline constexpr std::string_view kProgramEnd = "\xB3\xCC\xD0\xF2\xBD\xE1\xCA\xF8"; // "程序结束"

// The verification formula as the task list shows it: its joins in words.
inline constexpr std::string_view kReadableAnd = "_\xB2\xA2\xC7\xD2_"; // "_并且_"
inline constexpr std::string_view kReadableOr = "_\xBB\xF2\xD5\xDF_";  // "_或者_"

// The run clock's time left when the run has no automatic end.
inline constexpr std::string_view kNoEndLeft = " \xA1\xDE:\xA1\xDE:\xA1\xDE ]"; // " ∞:∞:∞ ]"

// The autostart entry's file name; UTF-8, as file names are: "Vexory开机启动.desktop".
inline constexpr std::string_view kAutostartFile = "Vexory\xE5\xBC\x80\xE6\x9C\xBA\xE5\x90\xAF\xE5\x8A\xA8.desktop";
// Its refusal of another file name, UTF-8 too: "快捷方式的扩展名必须是 ′′DESKTOP′′!".
inline constexpr std::string_view kAutostartNotDesktop =
    "\xE5\xBF\xAB\xE6\x8D\xB7\xE6\x96\xB9\xE5\xBC\x8F\xE7\x9A\x84\xE6\x89\xA9\xE5\xB1\x95\xE5\x90\x8D"
    "\xE5\xBF\x85\xE9\xA1\xBB\xE6\x98\xAF \xE2\x80\xB2\xE2\x80\xB2"
    "DESKTOP\xE2\x80\xB2\xE2\x80\xB2!";

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
