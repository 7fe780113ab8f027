#pragma once

// The rule for a page that is ready: seen busy (or a load began), then idle for
// two seconds without a break, and its document complete. The runner panel and the
// wizard wait by it on the GUI thread, pumping events; the monitor thread waits by
// it sleeping. Each round of the wait looks every 10 ms until the page was quiet
// long enough, then, after a pause of 100 ms, asks whether it is complete:
//
//     for (ReadyWait wait(state, timeoutMs);;) {
//         for (wait.NewRound(); wait.Look();)
//             pause 10 ms; end on the time-out;
//         pause 100 ms; end on the time-out; end when wait.Complete()
//     }

#include "browser/browser_state.h"

#include <atomic>
#include <cstdint>

namespace vexory {

class ReadyWait
{
public:
    static constexpr int kQuietMs = 2000;
    static constexpr int kLookMs = 10;
    // The quiet a page keeps before it counts as ready: kQuietMs in the program. A test
    // whose pages load nothing after their document may shorten it for its own process.
    static int QuietMs() { return s_quietMs.load(std::memory_order_relaxed); }
    static void SetQuietMs(int ms) { s_quietMs.store(ms, std::memory_order_relaxed); }
    static constexpr int kRoundPauseMs = 100;

    // Notes the start; `timeoutMs` 0 is no limit.
    ReadyWait(const BrowserState& state, uint32_t timeoutMs);

    void NewRound() { m_quiet = 0; }
    // One look at the page: false once it has been quiet for two seconds since
    // it was last seen busy (a page never seen busy is never quiet).
    bool Look();
    bool TimedOut() const;
    bool Complete() const { return !m_state.busy && m_state.readyState == 4; }

private:
    const BrowserState& m_state;
    uint32_t m_start;
    uint32_t m_timeoutMs;
    uint32_t m_loads;
    bool m_seenBusy = false;
    int m_quiet = 0;

    static inline std::atomic<int> s_quietMs{kQuietMs};
};

} // namespace vexory
