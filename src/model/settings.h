#pragma once

// The settings file dravik.ini (section "options") and the command line.

#include "model/task_record.h"

#include <string>
#include <string_view>
#include <vector>

namespace vexory {

inline constexpr std::string_view kSettingsFileName = "dravik.ini";
inline constexpr std::string_view kLogFileName = "dravik.log";
inline constexpr std::string_view kSettingsSection = "options";
inline constexpr std::string_view kDefaultServer = "127.0.0.1:8086";

// Reads the command line (`args` without the program name) and the settings file
// at `iniPath` into `values`, then applies mainfields to the tasks. Only the first
// call per process does anything (SettingsRead).
void ReadSettings(const std::string& iniPath, const std::vector<std::string>& args, TAccountRecord& account,
                  TProcessValues& values);

// Applies a mainfields text ("1,2;3,1") to the tasks: each well-formed pair i,v with
// 1 <= i <= number of tasks sets MainField of task i to the low 8 bits of v.
void ApplyMainFields(std::string_view text, std::vector<TTaskRecord>& tasks);

// The pairs of a mainfields text that would apply to `taskCount` tasks, in order.
std::vector<std::pair<int32_t, uint8_t>> ParseMainFields(std::string_view text, size_t taskCount);

// The service host and port from the server setting ("host[:port]", port 80 when
// left out). False when the text is not of that form.
bool SplitServer(std::string_view server, std::string& host, uint16_t& port);

} // namespace vexory
