#pragma once

#include <string>
#include <string_view>

namespace vexory {

// The folder the program keeps its files in: the folder named by the environment
// variable VEXORY_HOME when it is set and not empty, otherwise $XDG_DATA_HOME/vexory
// (~/.local/share/vexory), as a program installed system-wide keeps its user's
// files; the executable's own folder only without a home. Never ends with "/"
// (except for the root folder itself).
std::string ProgramFolder();

// The folder joined with a file name.
std::string ProgramFile(std::string_view fileName);

// The full path of the running executable ("" when it cannot be read).
std::string ExecutablePath();

} // namespace vexory
