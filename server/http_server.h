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

struct HttpLimits
{
    size_t maxBody = 1 << 20;         // larger bodies: 413, refused before they are read
    size_t maxHeaderBytes = 32 << 10; // request line and headers together: 431 beyond
    size_t maxHeaderLines = 100;      // 431 beyond
    unsigned maxConnections = 4000;   // open at once; more wait in the listen queue
    unsigned idleSeconds = 30;        // a connection with no traffic this long is closed
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
    };
    using Gate = std::function<Admission(const HttpRequest&)>;

    // Handlers run on the pool they are routed to; a full pool queue answers 503.
    struct Pool
    {
        unsigned threads = 4;
        size_t queue = 4096;
    };

    explicit HttpServer(HttpLimits limits = {});
    ~HttpServer();
    HttpServer(const HttpServer&) = delete;
    HttpServer& operator=(const HttpServer&) = delete;

    // Pool 0 exists from the start; AddPool returns the index of a new one.
    int AddPool(Pool pool);
    // Exact path, or a prefix when the path ends with '/'. The first match wins.
    void Route(const std::string& method, const std::string& path, Handler handler, int pool = 0, Gate gate = {});

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
