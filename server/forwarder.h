#pragma once

// The forwarders: threads that work the outbox, off the request path. Each takes
// one channel at a time with every result due on it, sends them as one message
// (a webhook gets one call a result), keeps the channel's rate, and tries a
// failed channel again later, doubling the wait up to an hour, for a day. An
// account has one call under way at a time, so one that hangs delays no one else.

#include "channels.h"
#include "outbound.h"
#include "server_db.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace vexory::server {

struct ForwardOptions
{
    unsigned threads = 2;
    int timeoutMs = 2000;                       // one call
    int retryMs = 10000;                        // first retry of a failed channel
    int64_t giveUpMs = 24ll * 3600 * 1000;      // then its results are given up
    size_t maxMerged = 20;                      // results in one message
    std::map<std::string, std::string> apiBase; // a channel kind's API elsewhere (tests, a relay)
    std::string publicUrl;                      // the service as people reach it, for links in messages
};

class Forwarder
{
public:
    Forwarder(ServerDb& db, const OutboundPolicy& policy, const SmtpSettings& smtp, ForwardOptions options);
    ~Forwarder();
    Forwarder(const Forwarder&) = delete;
    Forwarder& operator=(const Forwarder&) = delete;

    void Start();
    // Waits at most WAIT for the forwarders to finish their calls; false when one
    // is still in a call then (it is left behind: the process must end).
    bool Stop(std::chrono::milliseconds wait = std::chrono::milliseconds::max());
    // Something new is in the outbox.
    void Wake();
    // Results whose forwarding failed (each try counts) and those given up.
    uint64_t Failed() const { return m_failed; }
    uint64_t Abandoned() const { return m_abandoned; }

    // Sends a test message on the channel now: "" when it went out, otherwise why not.
    std::string SendTest(const Channel& channel, const std::string& inboxUrl);
    // Sends RESULTS on the channel: "" when it took them.
    std::string Send(const Channel& channel, const std::vector<ResultText>& results, const std::string& inboxUrl);

private:
    void loop();
    void sendBatch(const ChannelBatch& batch);
    void watchDatabase();
    // A destination (host and port) that did not answer is not called again for a
    // while, whoever's results wait for it: the wait doubles with each silence, from
    // the longer of a retry and a call's time limit up to kSilenceCapMs.
    int64_t silentForMs(const std::string& destination);
    void noteAnswer(const std::string& destination, bool answered);
    static constexpr int64_t kSilenceCapMs = 10 * 60 * 1000;
    struct Silence
    {
        int times = 0;
        int64_t untilMs = 0;
    };
    std::mutex m_silenceMutex;
    std::map<std::string, Silence> m_silent;

    ServerDb& m_db;
    const OutboundPolicy& m_policy;
    const SmtpSettings& m_smtp;
    ForwardOptions m_options;
    std::mutex m_mutex;
    std::condition_variable m_wake, m_ended;
    unsigned m_running = 0;
    std::atomic<bool> m_stop{false};
    std::atomic<uint64_t> m_failed{0}, m_abandoned{0};
    std::atomic<int64_t> m_databaseCheckedMs{0};
    std::atomic<bool> m_databaseReachable{true};
    std::vector<std::thread> m_threads;
};

} // namespace vexory::server
