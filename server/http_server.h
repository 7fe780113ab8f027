#pragma once

// The HTTP front of vexory-server: one event-driven thread does all network I/O
// (libmicrohttpd on epoll), so idle and slow clients cost a socket and a little
// memory rather than a thread. Complete requests are handed to worker pools; the
// connection waits suspended until its handler has answered, or until a delay a
// handler asked for has passed, without holding a thread.

#include <chrono>
#include <cstddef>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace vexory::server {

struct HttpRequest
{
    std::string method;
    std::string path;
    std::string peer; // the client's address, without port
    std::vector<std::pair<std::string, std::string>> headers;
    std::vector<std::pair<std::string, std::string>> query; // decoded
    std::string body;

    // First value of a header (name compared ignoring case) or query key; "" when absent.
    std::string Header(const std::string& name) const;
    std::string Query(const std::string& key) const;
};

struct HttpResponse
{
    int status = 200;
    std::string body;
    std::string contentType = "text/plain; charset=utf-8";
    std::vector<std::pair<std::string, std::string>> headers;
    // The answer goes out only after this long (the connection waits without a thread).
    std::chrono::milliseconds delay{0};
};

HttpResponse PlainResponse(int status, std::string body);

inline constexpr unsigned kFewConnections = 8;
// Bodies of forms (logins, registration, the account pages) are small.
inline constexpr size_t kFormBody = 16 << 10;

struct HttpLimits
{
    size_t maxBody = 1 << 20;         // larger bodies: 413, refused before they are read (a route may take less)
    size_t maxHeaderBytes = 32 << 10; // request line and headers together: 431 beyond
    size_t maxHeaderLines = 100;      // 431 beyond
    unsigned maxConnections = 4000;   // open at once; more wait in the listen queue
    unsigned idleSeconds = 30;        // a connection with no traffic this long is closed
    // Open connections of one address (trusted proxies aside); more are closed as
    // they come. Once three quarters of maxConnections are open, an address that
    // already holds kFewConnections gets no more: the rest is kept for the others.
    unsigned maxPerAddress = 64;
    // A request's head must be whole this long after its connection opened (or its
    // request line came), and its body this long after the head, however slowly
    // the bytes trickle in: the connection is closed otherwise.
    unsigned headSeconds = 10;
    unsigned bodySeconds = 30;
    // Bytes of bodies held, over all connections and from one address: a body
    // above kFormBody that would take more is answered 503 before it is read. One
    // address's share keeps a few announced bodies from holding everybody's bound.
    size_t maxBodiesHeld = 64 << 20;
    size_t maxBodiesPerAddress = 4 << 20;
    // Proxies in front of the service: a request from one of these addresses is
    // taken to come from the address in its X-Real-IP header.
    std::vector<std::string> trustedProxies;
};

class HttpServer
{
public:
    using Handler = std::function<HttpResponse(const HttpRequest&)>;
    // Runs on pool 0 before the handler is queued on its own pool (it may read the
    // database, never on the I/O thread). It may answer at once (a refusal) or set
    // a delay before the handler runs.
    struct Admission
    {
        std::optional<HttpResponse> refuse;
        std::chrono::milliseconds delay{0};
        // The account the request is for ("": none): in a pool with shares it holds
        // at most a share of the queue, as the request's address does.
        std::string account;
        // Served before every other job of its pool (the owner of an account under
        // attack, from a known address).
        bool ahead = false;
    };
    using Gate = std::function<Admission(const HttpRequest&)>;

    // Handlers run on the pool they are routed to; a full pool queue answers 503.
    // With a share, one address (or one account) holds at most that many of the
    // pool's jobs, queued or running, and beyond it is answered 429; and the first
    // job of an address is served before the further jobs of busier addresses.
    struct Pool
    {
        unsigned threads = 4;
        size_t queue = 4096;
        size_t share = 0;
    };

    explicit HttpServer(HttpLimits limits = {});
    ~HttpServer();
    HttpServer(const HttpServer&) = delete;
    HttpServer& operator=(const HttpServer&) = delete;

    // Pool 0 exists from the start; AddPool returns the index of a new one.
    int AddPool(Pool pool);
    // Exact path, or a prefix when the path ends with '/'. The first match wins.
    // MAX_BODY: the largest body the route takes (0: HttpLimits::maxBody).
    void Route(const std::string& method, const std::string& path, Handler handler, int pool = 0, Gate gate = {},
               size_t maxBody = 0);

    // Jobs of a pool waiting for a thread.
    size_t Waiting(int pool) const;
    // Its counts in the Prometheus text format: answers by route and status,
    // refusals by reason, connections open, body bytes held.
    std::string MetricsText() const;

    // Binds HOST:PORT (port 0 picks a free one) without SO_REUSEPORT, so a second
    // server on a taken port fails here. Returns the bound port, or 0 with *error set.
    int Listen(const std::string& host, int port, std::string* error);
    // Serves until Stop(); false with *error when the event loop cannot start.
    bool Start(std::string* error);
    // Stops accepting, answers what is under way (waiting at most `grace`), closes
    // every connection. Safe to call once from any thread but a handler's. False when
    // a handler did not finish in time: the process should then end without cleanup.
    bool Stop(std::chrono::milliseconds grace = std::chrono::milliseconds(3000));

    struct Impl;

private:
    std::unique_ptr<Impl> m_impl;
};

} // namespace vexory::server
