#pragma once

// The routes of vexory-server: the client scripts (/client/LogIn.php,
// /client/SendInfo.php, /client/Svn.php), the pages (/advert.php, /Help.php,
// /inbox/TOKEN, and the account pages with /register) and the forwarders that
// hand results to their owners' channels from the outbox, off the request path.

#include "account.h"
#include "forwarder.h"
#include "http_server.h"
#include "outbound.h"
#include "server_db.h"
#include "throttle.h"

#include <atomic>
#include <cstddef>
#include <map>
#include <string>
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
    unsigned hashThreads = 0;                      // password checks at once (0: one per core)
    int mergeMs = 1000;                            // results this close together go out as one message
    std::vector<std::string> forwardAllow;         // address ranges the forwarders may call after all
    std::map<std::string, std::string> channelApi; // a channel kind's API at another address
    std::string publicUrl;                         // the service as people reach it ("": from Host)
    SmtpSettings smtp;
    int accountsPerAddress = 10; // accounts one address may register (0: any number)
    int64_t minFreeMb = 512;     // below this much free disk, pushes are refused (SQLite; 0: never)
    // Addresses that may read /healthz and /metrics.
    std::vector<std::string> monitorAllow{"127.0.0.1", "::1"};
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
    // False when a forwarder was still in a call after WAIT (see Forwarder::Stop).
    bool StopForwarding(std::chrono::milliseconds wait = std::chrono::milliseconds::max());

    HttpResponse Login(const HttpRequest& request);
    HttpResponse Push(const HttpRequest& request);
    HttpResponse Share(const HttpRequest& request);
    HttpResponse Inbox(const HttpRequest& request);
    HttpResponse Advert(const HttpRequest& request);
    // 200 "ok" when the database answers and the disk is above its floor, 503 with why not.
    HttpResponse Health(const HttpRequest& request);
    // The counts of the HTTP front and of the service, in the Prometheus text format.
    HttpResponse Metrics(const HttpRequest& request);

    const OutboundPolicy& Policy() const { return m_policy; }

private:
    // Password checks: NICK is the nickname a login names ("" for none).
    HttpServer::Admission admit(const HttpRequest& request, const std::string& nick);
    void failed(const HttpRequest& request, const std::string& nick);
    // A wrong user number (or an upload from the wrong place): the reply to give,
    // slowed or refused by the address's turn; other kinds of request from the
    // address are not held up by it.
    HttpResponse wrongNumber(const HttpRequest& request, const std::string& nick, HttpResponse reply);
    // Whether the address may read /healthz and /metrics.
    bool monitorAllowed(const HttpRequest& request) const;
    // Whether the database's disk has less free space than its floor (looked at
    // once a second at most).
    bool diskLow();

    ServerDb& m_db;
    ServerOptions m_options;
    FailureLimiter m_addressFailures; // wrong passwords and unknown nicknames at login
    FailureLimiter m_numberFailures;  // wrong user numbers and nicknames in pushes and uploads
    FailureLimiter m_nickFailures;
    RateLimiter m_pushRate;
    RateLimiter m_registerRate; // per address: each account costs a slow hash
    RateLimiter m_loginRate;    // password checks per address, right or wrong
    OutboundPolicy m_policy;
    Forwarder m_forwarder;
    AccountApp m_account;
    const HttpServer* m_server = nullptr;
    int m_hashingPool = 0;
    std::atomic<int64_t> m_diskCheckedMs{0};
    std::atomic<bool> m_diskLow{false};
};

} // namespace vexory::server
