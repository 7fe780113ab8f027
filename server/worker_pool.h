#pragma once

// The service's two kinds of worker: pools of threads that take jobs from a
// bounded queue in tiers, and one thread that runs jobs when their time comes.

#include "http_server.h"

#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <unordered_map>
#include <vector>

namespace vexory::server {

using Clock = std::chrono::steady_clock;

// Threads taking jobs from a bounded queue, in three tiers: jobs asked to go
// ahead, then the first job of an address, then the rest in order.
class WorkerPool
{
public:
    enum class Queued
    {
        Yes,
        Full,
        OverShare
    };

    explicit WorkerPool(HttpServer::Pool config) : m_config(config) {}
    ~WorkerPool() { Join(); }

    void Start()
    {
        for (unsigned i = 0; i < std::max(1u, m_config.threads); ++i)
            m_threads.emplace_back([this] { run(); });
    }
    // ADDRESS and ACCOUNT ("" for none) count against the pool's share.
    Queued Submit(std::function<void()> job, const std::string& address = {}, const std::string& account = {},
                  bool ahead = false)
    {
        std::lock_guard lock(m_mutex);
        if (m_stopping || queued() >= m_config.queue)
            return Queued::Full;
        Job j{std::move(job), {}};
        if (m_config.share > 0) {
            if (!address.empty())
                j.keys.push_back("a:" + address);
            if (!account.empty() && !ahead)
                j.keys.push_back("n:" + account);
            for (const std::string& key : j.keys)
                if (auto at = m_held.find(key); at != m_held.end() && at->second >= m_config.share)
                    return Queued::OverShare;
        }
        const bool first = j.keys.empty() || !m_held.count(j.keys.front());
        for (const std::string& key : j.keys)
            ++m_held[key];
        m_tiers[ahead ? 0 : first ? 1 : 2].push_back(std::move(j));
        m_wake.notify_one();
        return Queued::Yes;
    }
    // Lets the queued jobs finish, then ends the threads.
    void Join()
    {
        {
            std::lock_guard lock(m_mutex);
            m_stopping = true;
            m_wake.notify_all();
        }
        for (std::thread& t : m_threads)
            if (t.joinable())
                t.join();
        m_threads.clear();
    }
    void Detach()
    {
        {
            std::lock_guard lock(m_mutex);
            m_stopping = true;
            m_wake.notify_all();
        }
        for (std::thread& t : m_threads)
            t.detach();
        m_threads.clear();
    }

private:
    struct Job
    {
        std::function<void()> run;
        std::vector<std::string> keys;
    };

    size_t queued() const { return m_tiers[0].size() + m_tiers[1].size() + m_tiers[2].size(); }

public:
    // Jobs waiting for a thread.
    size_t Waiting()
    {
        std::lock_guard lock(m_mutex);
        return queued();
    }

private:
    void run()
    {
        for (;;) {
            Job job;
            {
                std::unique_lock lock(m_mutex);
                m_wake.wait(lock, [this] { return m_stopping || queued() > 0; });
                if (queued() == 0)
                    return;
                auto& tier = !m_tiers[0].empty() ? m_tiers[0] : !m_tiers[1].empty() ? m_tiers[1] : m_tiers[2];
                job = std::move(tier.front());
                tier.pop_front();
            }
            job.run();
            if (!job.keys.empty()) {
                std::lock_guard lock(m_mutex);
                for (const std::string& key : job.keys)
                    if (auto at = m_held.find(key); at != m_held.end() && --at->second == 0)
                        m_held.erase(at);
            }
        }
    }

    HttpServer::Pool m_config;
    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::deque<Job> m_tiers[3];
    std::unordered_map<std::string, size_t> m_held; // jobs queued or running per key
    std::vector<std::thread> m_threads;
    bool m_stopping = false;
};

// Runs jobs when their time has come, on one thread.
class Timer
{
public:
    Timer() : m_thread([this] { run(); }) {}
    ~Timer()
    {
        {
            std::lock_guard lock(m_mutex);
            m_stopping = true;
            m_wake.notify_all();
        }
        m_thread.join();
    }
    void Schedule(std::chrono::milliseconds delay, std::function<void()> job)
    {
        std::lock_guard lock(m_mutex);
        if (m_flushing)
            delay = std::chrono::milliseconds(0);
        m_jobs.emplace(Clock::now() + delay, std::move(job));
        m_wake.notify_all();
    }
    // From now on every job is due at once.
    void Flush()
    {
        std::lock_guard lock(m_mutex);
        m_flushing = true;
        m_wake.notify_all();
    }

private:
    void run()
    {
        std::unique_lock lock(m_mutex);
        while (!m_stopping || !m_jobs.empty()) {
            if (m_jobs.empty()) {
                m_wake.wait(lock);
                continue;
            }
            const auto due = m_jobs.begin()->first;
            if (!m_flushing && !m_stopping && Clock::now() < due) {
                m_wake.wait_until(lock, due);
                continue;
            }
            std::function<void()> job = std::move(m_jobs.begin()->second);
            m_jobs.erase(m_jobs.begin());
            lock.unlock();
            job();
            lock.lock();
        }
    }

    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::multimap<Clock::time_point, std::function<void()>> m_jobs;
    bool m_stopping = false, m_flushing = false;
    std::thread m_thread;
};

} // namespace vexory::server
