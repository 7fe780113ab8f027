#include "base/tick_clock.h"

#include <chrono>

namespace vexory {

uint32_t TickCount()
{
    return static_cast<uint32_t>(
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
            .count());
}

} // namespace vexory
