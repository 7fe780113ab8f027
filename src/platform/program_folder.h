#pragma once

#include <string>
#include <string_view>

namespace vexory {

// The folder the program keeps its files in: the executable's own folder, or
// the folder named by the environment variable VEXORY_HOME when it is set and
// not empty. Never ends with "/" (except for the root folder itself).
std::string ProgramFolder();

// The folder joined with a file name.
std::string ProgramFile(std::string_view fileName);

// The full path of the running executable ("" when it cannot be read).
std::string ExecutablePath();

} // namespace vexory
