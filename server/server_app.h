#pragma once

// The routes of vexory-server: the client scripts (/client/LogIn.php,
// /client/SendInfo.php, /client/Svn.php), the pages (/advert.php, /Help.php,
// /register, /inbox/TOKEN) and the forwarders that post results to webhooks from
// the outbox, off the request path.

#include "http_server.h"
#include "server_db.h"
#include "throttle.h"

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace vexory::server {

struct ServerOptions
{
    int clientVersion = 6;                     // the newest published client version, told at every login
    size_t maxBody = 1 << 20;                  // larger request bodies are answered 413
    int registerRights = 0;                    // rights of accounts made through /register
    int webhookTimeoutMs = 2000;               // how long one forwarding call may take
    int forwardRetryMs = 10000;                // first retry of a failed forward; doubles up to an hour
    int64_t forwardForMs = 24ll * 3600 * 1000; // then the forward is given up
    unsigned forwarders = 2;
    int keepResults = 10000;          // newest results kept per user (0: all)
    size_t maxResultBytes = 64 << 10; // records of one push
    double pushesPerMinute = 120;     // per account, after a burst of
    double pushBurst = 60;
    unsigned hashThreads = 0; // password checks at once (0: one per core)
};

// The nickname rule of /register and `user add`: "" when NICK (already trimmed) is
// acceptable, otherwise why not.
std::string NicknameProblem(const std::string& nick);
std::string TrimNickname(const std::string& nick);

class ServiceApp
{
public:
    ServiceApp(ServerDb& db, ServerOptions options);
    ~ServiceApp();
    ServiceApp(const ServiceApp&) = delete;
    ServiceApp& operator=(const ServiceApp&) = delete;

    void Install(HttpServer& server);
    // The forwarders work the outbox until StopForwarding (also at destruction).
    void StartForwarding();
    void StopForwarding();

    HttpResponse Login(const HttpRequest& request);
    HttpResponse Push(const HttpRequest& request);
    HttpResponse Share(const HttpRequest& request);
    HttpResponse Register(const HttpRequest& request);
    HttpResponse Inbox(const HttpRequest& request);

private:
    HttpServer::Admission admit(const HttpRequest& request, bool login);
    void failed(const HttpRequest& request, const std::string& nick);
    void forwardLoop();

    ServerDb& m_db;
    ServerOptions m_options;
    FailureLimiter m_addressFailures;
    FailureLimiter m_nickFailures;
    RateLimiter m_pushRate;
    RateLimiter m_registerRate; // per address: each account costs a slow hash

    std::mutex m_forwardMutex;
    std::condition_variable m_forwardWake;
    std::atomic<bool> m_forwardStop{false};
    std::vector<std::thread> m_forwarders;
};

// Posts a result to a webhook as JSON (http and https only); true when the
// endpoint answered 2xx, otherwise *error says what went wrong.
// A call under way ends early once *cancel turns true.
bool PostWebhook(const std::string& url, const std::string& json, int timeoutMs, std::string* error = nullptr,
                 const std::atomic<bool>* cancel = nullptr);

} // namespace vexory::server
