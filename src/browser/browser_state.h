#pragma once

// What the GUI thread tells about a browser, for whoever waits on its page from
// another thread. `loadsStarted` counts every load that began, so that a load that
// starts and ends between two looks is still seen busy.

#include <atomic>
#include <cstdint>

namespace vexory {

struct BrowserState
{
    std::atomic<bool> busy{false};
    std::atomic<int> readyState{0}; // 4: complete
    std::atomic<uint32_t> loadsStarted{0};
    std::atomic<bool> hasWindow{true};
};

} // namespace vexory
