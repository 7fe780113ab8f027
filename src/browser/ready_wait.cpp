#include "browser/ready_wait.h"

#include "base/tick_clock.h"

namespace vexory {

ReadyWait::ReadyWait(const BrowserState& state, uint32_t timeoutMs)
    : m_state(state), m_start(TickCount()), m_timeoutMs(timeoutMs), m_loads(state.loadsStarted)
{}

bool ReadyWait::Look()
{
    if (m_quiet >= QuietMs())
        return false;
    const uint32_t loads = m_state.loadsStarted;
    if (m_state.busy || loads != m_loads) {
        m_loads = loads;
        m_seenBusy = true;
        m_quiet = 0;
    }
    if (m_seenBusy)
        m_quiet += kLookMs;
    return true;
}

bool ReadyWait::TimedOut() const
{
    return m_timeoutMs > 0 && TickCount() - m_start > m_timeoutMs;
}

} // namespace vexory
