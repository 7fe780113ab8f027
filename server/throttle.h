#pragma once

// Bookkeeping against guessing and flooding: failed attempts per nickname and per
// address, and per-account quotas. Kept in the database, so that every instance
// of the service sees the same counts; entries not touched for a while are
// forgotten, so a stranger cannot grow the tables without end.

#include "server_db.h"

#include <atomic>
#include <chrono>
#include <string>

namespace vexory::server {

// Failures of one key (a nickname or an address) slow its later attempts down.
// The first `free` failures cost nothing; each one after doubles the delay from
// `step` up to `cap`. Failures are forgotten after `forget` without another.
class FailureLimiter
{
public:
    struct Config
    {
        int free = 5;
        std::chrono::milliseconds step{250};
        std::chrono::milliseconds cap{60000};
        std::chrono::milliseconds forget{15 * 60 * 1000};
    };
    // Keys are kept as KIND + ":" + key.
    FailureLimiter(ServerDb& db, std::string kind, Config config) : m_db(db), m_kind(std::move(kind)), m_config(config)
    {}

    // The delay the key's next attempt must wait.
    std::chrono::milliseconds Delay(const std::string& key);
    // For keys that must take turns: when the key is slowed down and its turn has
    // not come, how long it must wait (the attempt is refused); otherwise 0, and the
    // next turn starts after the delay from now.
    std::chrono::milliseconds TakeTurn(const std::string& key);
    void Failed(const std::string& key);
    int Failures(const std::string& key);

private:
    std::chrono::milliseconds delayOf(int failures) const;
    // The key's entry, unless there is none or it is forgotten.
    std::optional<ServerDb::Failures> current(const std::string& key, int64_t nowMs);

    ServerDb& m_db;
    std::string m_kind;
    Config m_config;
    std::atomic<unsigned> m_sinceForget{0};
};

// A token bucket per key: `burst` at once, then `perMinute`.
class RateLimiter
{
public:
    RateLimiter(ServerDb& db, std::string kind, double perMinute, double burst)
        : m_db(db), m_kind(std::move(kind)), m_perMinute(perMinute), m_burst(burst)
    {}
    bool Take(const std::string& key);

private:
    ServerDb& m_db;
    std::string m_kind;
    double m_perMinute, m_burst;
    std::atomic<unsigned> m_sinceForget{0};
};

} // namespace vexory::server
