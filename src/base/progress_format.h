#pragma once

// The run's clock and progress as the panels show them.

#include <cstdint>
#include <string>

namespace vexory {

// "[ mm:ss ]" (kind 2) or "[ hh:mm:ss ]" (kind 3) for a number of seconds; "" otherwise.
std::string FormatElapsed(int64_t seconds, int kind);

// Eight progress blocks, "■" for every 12.5 percent (rounded), "□" for the rest.
std::string ProgressBlocks(int percent);

} // namespace vexory
