#include "throttle.h"

#include <algorithm>

namespace vexory::server {

using std::chrono::milliseconds;

milliseconds FailureLimiter::delayOf(const Entry& e) const
{
    const int over = e.failures - m_config.free;
    if (over < 0)
        return milliseconds(0);
    const int shift = std::min(over, 20);
    return std::min(m_config.cap, m_config.step * (int64_t{1} << shift));
}

FailureLimiter::Entry* FailureLimiter::find(const std::string& key, Clock::time_point now)
{
    auto it = m_entries.find(key);
    if (it == m_entries.end())
        return nullptr;
    if (now - it->second.last > m_config.forget) {
        m_entries.erase(it);
        return nullptr;
    }
    return &it->second;
}

void FailureLimiter::prune(Clock::time_point now)
{
    if (m_entries.size() < m_config.maxKeys)
        return;
    for (auto it = m_entries.begin(); it != m_entries.end();)
        it = now - it->second.last > m_config.forget ? m_entries.erase(it) : std::next(it);
    // Still full of fresh keys: keep the ones that failed most, which matter most.
    if (m_entries.size() >= m_config.maxKeys) {
        for (auto it = m_entries.begin(); it != m_entries.end();)
            it = it->second.failures <= m_config.free ? m_entries.erase(it) : std::next(it);
    }
}

milliseconds FailureLimiter::Delay(const std::string& key)
{
    std::lock_guard lock(m_mutex);
    const Entry* e = find(key, Clock::now());
    return e ? delayOf(*e) : milliseconds(0);
}

milliseconds FailureLimiter::TakeTurn(const std::string& key)
{
    std::lock_guard lock(m_mutex);
    const auto now = Clock::now();
    Entry* e = find(key, now);
    if (!e)
        return milliseconds(0);
    const milliseconds delay = delayOf(*e);
    if (delay.count() == 0)
        return delay;
    if (now < e->nextTurn)
        return std::max(milliseconds(1), std::chrono::ceil<milliseconds>(e->nextTurn - now));
    e->nextTurn = now + delay;
    return milliseconds(0);
}

void FailureLimiter::Failed(const std::string& key)
{
    std::lock_guard lock(m_mutex);
    const auto now = Clock::now();
    Entry* e = find(key, now);
    if (!e) {
        prune(now);
        e = &m_entries[key];
    }
    ++e->failures;
    e->last = now;
    e->nextTurn = std::max(e->nextTurn, now + delayOf(*e));
}

int FailureLimiter::Failures(const std::string& key)
{
    std::lock_guard lock(m_mutex);
    const Entry* e = find(key, Clock::now());
    return e ? e->failures : 0;
}

bool RateLimiter::Take(const std::string& key)
{
    std::lock_guard lock(m_mutex);
    const auto now = std::chrono::steady_clock::now();
    auto it = m_buckets.find(key);
    if (it == m_buckets.end()) {
        if (m_buckets.size() >= m_maxKeys) {
            // Full buckets carry no information: drop them first.
            for (auto b = m_buckets.begin(); b != m_buckets.end();) {
                const double minutes = std::chrono::duration<double>(now - b->second.last).count() / 60;
                b = b->second.tokens + minutes * m_perMinute >= m_burst ? m_buckets.erase(b) : std::next(b);
            }
            if (m_buckets.size() >= m_maxKeys)
                m_buckets.clear();
        }
        it = m_buckets.emplace(key, Bucket{m_burst, now}).first;
    }
    Bucket& b = it->second;
    const double minutes = std::chrono::duration<double>(now - b.last).count() / 60;
    b.tokens = std::min(m_burst, b.tokens + minutes * m_perMinute);
    b.last = now;
    if (b.tokens < 1)
        return false;
    b.tokens -= 1;
    return true;
}

} // namespace vexory::server
