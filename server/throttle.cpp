#include "throttle.h"

#include <algorithm>

namespace vexory::server {

using std::chrono::milliseconds;

namespace {

// Every this many writes an instance clears the entries nobody needs any more.
constexpr unsigned kForgetEvery = 256;

} // namespace

milliseconds FailureLimiter::delayOf(int failures) const
{
    const int over = failures - m_config.free;
    if (over < 0)
        return milliseconds(0);
    const int shift = std::min(over, 20);
    return std::min(m_config.cap, m_config.step * (int64_t{1} << shift));
}

std::optional<ServerDb::Failures> FailureLimiter::current(const std::string& key, int64_t nowMs)
{
    std::optional<ServerDb::Failures> e = m_db.ReadFailures(m_kind + ":" + key);
    if (!e || e->count == 0 || nowMs - e->lastMs > m_config.forget.count())
        return std::nullopt;
    return e;
}

milliseconds FailureLimiter::Delay(const std::string& key)
{
    const std::optional<ServerDb::Failures> e = current(key, NowMs());
    return e ? delayOf(e->count) : milliseconds(0);
}

milliseconds FailureLimiter::TakeTurn(const std::string& key)
{
    // Most keys never failed: one read, no lock.
    int64_t now = NowMs();
    const std::optional<ServerDb::Failures> seen = current(key, now);
    if (!seen || delayOf(seen->count).count() == 0)
        return milliseconds(0);
    milliseconds wait(0);
    m_db.ChangeFailures(m_kind + ":" + key, [&](ServerDb::Failures& e) {
        now = NowMs();
        if (e.count == 0 || now - e.lastMs > m_config.forget.count())
            return false;
        const milliseconds delay = delayOf(e.count);
        if (delay.count() == 0)
            return false;
        if (now < e.nextTurnMs) {
            wait = milliseconds(std::max<int64_t>(1, e.nextTurnMs - now));
            return false;
        }
        e.nextTurnMs = now + delay.count();
        return true;
    });
    return wait;
}

void FailureLimiter::Failed(const std::string& key)
{
    const int64_t now = NowMs();
    m_db.ChangeFailures(m_kind + ":" + key, [&](ServerDb::Failures& e) {
        if (now - e.lastMs > m_config.forget.count())
            e = ServerDb::Failures{};
        ++e.count;
        e.lastMs = now;
        e.nextTurnMs = std::max(e.nextTurnMs, now + delayOf(e.count).count());
        return true;
    });
    if (++m_sinceForget % kForgetEvery == 0)
        m_db.ForgetFailures(m_kind, now - m_config.forget.count());
}

int FailureLimiter::Failures(const std::string& key)
{
    const std::optional<ServerDb::Failures> e = current(key, NowMs());
    return e ? e->count : 0;
}

bool RateLimiter::Take(const std::string& key)
{
    const int64_t now = NowMs();
    const bool granted = m_db.TakeToken(m_kind + ":" + key, m_burst, m_perMinute / 60000, now);
    // A bucket that has filled up again carries nothing.
    if (++m_sinceForget % kForgetEvery == 0)
        m_db.ForgetQuotas(m_kind, now - static_cast<int64_t>(m_burst / m_perMinute * 60000) - 1000);
    return granted;
}

} // namespace vexory::server
