#pragma once

// What a failed system call means, in the words of the program's users (UTF-8
// Chinese), for the messages the windows show.

#include <string>

namespace vexory {

std::string SystemErrorText(int error);

} // namespace vexory
