#pragma once

// In-memory bookkeeping against guessing and flooding: failed attempts per
// nickname and per address, and a per-account push rate. Thread-safe; the tables
// are bounded, so a stranger cannot grow them without end.

#include <chrono>
#include <cstddef>
#include <mutex>
#include <string>
#include <unordered_map>

namespace vexory::server {

// Failures of one key (a nickname or an address) slow its later attempts down.
// The first `free` failures cost nothing; each one after doubles the delay from
// `step` up to `cap`. Failures are forgotten after `forget` without another.
class FailureLimiter
{
public:
    using Clock = std::chrono::steady_clock;
    struct Config
    {
        int free = 5;
        std::chrono::milliseconds step{250};
        std::chrono::milliseconds cap{60000};
        std::chrono::milliseconds forget{15 * 60 * 1000};
        size_t maxKeys = 100000;
    };
    explicit FailureLimiter(Config config) : m_config(config) {}

    // The delay the key's next attempt must wait.
    std::chrono::milliseconds Delay(const std::string& key);
    // For keys that must take turns: when the key is slowed down and its turn has
    // not come, how long it must wait (the attempt is refused); otherwise 0, and the
    // next turn starts after the delay from now.
    std::chrono::milliseconds TakeTurn(const std::string& key);
    void Failed(const std::string& key);
    int Failures(const std::string& key);

private:
    struct Entry
    {
        int failures = 0;
        Clock::time_point last, nextTurn;
    };
    std::chrono::milliseconds delayOf(const Entry& e) const;
    Entry* find(const std::string& key, Clock::time_point now);
    void prune(Clock::time_point now);

    Config m_config;
    std::mutex m_mutex;
    std::unordered_map<std::string, Entry> m_entries;
};

// A token bucket per key: `burst` at once, then `perMinute`.
class RateLimiter
{
public:
    RateLimiter(double perMinute, double burst, size_t maxKeys = 100000)
        : m_perMinute(perMinute), m_burst(burst), m_maxKeys(maxKeys)
    {}
    bool Take(const std::string& key);

private:
    struct Bucket
    {
        double tokens = 0;
        std::chrono::steady_clock::time_point last;
    };
    double m_perMinute, m_burst;
    size_t m_maxKeys;
    std::mutex m_mutex;
    std::unordered_map<std::string, Bucket> m_buckets;
};

} // namespace vexory::server
