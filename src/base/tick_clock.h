#pragma once

#include <cstdint>

namespace vexory {

// Milliseconds of a monotonic clock, 32 bits wrapping like the system tick count:
// compare two readings by their difference, never by their order.
uint32_t TickCount();

} // namespace vexory
