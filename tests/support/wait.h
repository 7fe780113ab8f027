#pragma once

// Waiting in a test for something another thread or process brings about.

#include <chrono>
#include <thread>

namespace vexory::test {

// Asks `condition` every `step` until it holds (true) or `limit` has passed (false).
template <typename Condition>
bool waitFor(Condition condition, std::chrono::milliseconds limit = std::chrono::seconds(10),
             std::chrono::milliseconds step = std::chrono::milliseconds(20))
{
    const auto end = std::chrono::steady_clock::now() + limit;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > end)
            return false;
        std::this_thread::sleep_for(step);
    }
    return true;
}

} // namespace vexory::test
