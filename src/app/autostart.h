#pragma once

// Starting with the desktop session: an XDG autostart entry
// $XDG_CONFIG_HOME/autostart/Vexory开机启动.desktop (~/.config when unset) that starts
// the program with "autorun" on its own program folder (VEXORY_HOME, and as the
// working folder). Whether the program starts with the
// session is decided solely by whether that file exists.

#include <string>

namespace vexory {

// The user's configuration folder: $XDG_CONFIG_HOME, else ~/.config.
std::string ConfigFolder();
std::string AutostartEntryPath();
bool AutostartEnabled();
// Writes the entry for `program` (an executable) run in `folder`. The path must end in
// ".desktop" (compared in capitals); false with a reason otherwise or when it cannot be written.
bool CreateAutostartEntry(const std::string& path, const std::string& program, const std::string& folder,
                          std::string* error = nullptr);
bool RemoveAutostartEntry(const std::string& path);

} // namespace vexory
