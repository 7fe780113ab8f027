#pragma once

// The log file dravik.log: the main window's status lines, the memory trimmer's
// steps and the end of the program, in code page 936, one entry per CR LF line.
// Written only when the setting `debugging` is on; opened and closed per entry.

#include <ctime>
#include <string>
#include <string_view>

namespace vexory {

// Appends `text` and CR LF when `debugging` is set; false when the file cannot be written.
bool AppendLog(const std::string& path, std::string_view text, bool debugging);

// "yyyy/M/d H:mm:ss": the short date and long time the program writes.
std::string FormatDateTime(const std::tm& when);
std::string NowDateTime();

// A status line: "  " + date-time + " - " + message.
std::string StatusLineText(std::string_view message, const std::string& dateTime = NowDateTime());

// The entry written when the program ends: "程序结束\r\n" (then CR LF), an empty line after it.
std::string ProgramEndEntry();

} // namespace vexory
