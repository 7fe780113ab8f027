#include "http_server.h"
#include "listen_socket.h"
#include "worker_pool.h"

#include <microhttpd.h>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <map>
#include <mutex>
#include <strings.h>
#include <thread>
#include <unordered_map>
#include <unordered_set>

namespace vexory::server {

std::string HttpRequest::Header(const std::string& name) const
{
    for (const auto& [k, v] : headers)
        if (strcasecmp(k.c_str(), name.c_str()) == 0)
            return v;
    return {};
}

std::string HttpRequest::Query(const std::string& key) const
{
    for (const auto& [k, v] : query)
        if (k == key)
            return v;
    return {};
}

HttpResponse PlainResponse(int status, std::string body)
{
    HttpResponse r;
    r.status = status;
    r.body = std::move(body);
    return r;
}

namespace {

struct RouteEntry
{
    std::string method, path;
    HttpServer::Handler handler;
    int pool = 0;
    HttpServer::Gate gate;
    size_t maxBody = 0;

    bool matches(const std::string& m, const std::string& p) const
    {
        if (m != method)
            return false;
        if (!path.empty() && path.back() == '/')
            return p.compare(0, path.size(), path) == 0;
        return p == path;
    }
};

// Bytes of request bodies held, in all and per address.
class BodyBook
{
public:
    // Counts BYTES more for ADDRESS; false when, ENFORCED, they would pass the
    // bound for all or the address's share.
    bool Take(const std::string& address, size_t bytes, bool enforced, size_t bound, size_t share)
    {
        std::lock_guard lock(m_mutex);
        size_t& own = m_byAddress[address];
        if (enforced && (m_total + bytes > bound || own + bytes > share)) {
            if (own == 0)
                m_byAddress.erase(address);
            return false;
        }
        own += bytes;
        m_total += bytes;
        return true;
    }
    void Give(const std::string& address, size_t bytes)
    {
        if (bytes == 0)
            return;
        std::lock_guard lock(m_mutex);
        const auto found = m_byAddress.find(address);
        if (found != m_byAddress.end() && (found->second -= bytes) == 0)
            m_byAddress.erase(found);
        m_total -= bytes;
    }
    size_t Total()
    {
        std::lock_guard lock(m_mutex);
        return m_total;
    }

private:
    std::mutex m_mutex;
    size_t m_total = 0;
    std::unordered_map<std::string, size_t> m_byAddress;
};

// One request on a connection, from its headers to its answer.
struct Exchange
{
    explicit Exchange(BodyBook& book) : bodies(book) {}
    ~Exchange() { bodies.Give(AddressKey(request.peer), reserved); }
    Exchange(const Exchange&) = delete;
    Exchange& operator=(const Exchange&) = delete;

    BodyBook& bodies;    // the server's count of body bytes held
    size_t reserved = 0; // this request's part of it, counted for its peer
    HttpRequest request;
    const RouteEntry* route = nullptr;
    std::optional<HttpResponse> reply;
    HttpServer::Admission admission; // what the route's gate said
    MHD_Connection* connection = nullptr;
    bool dispatched = false;
};

int64_t steadyMs()
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now().time_since_epoch()).count();
}

constexpr int64_t kNoDeadline = INT64_MAX;

// One open connection: whose it is, and until when its request must have come.
struct Connection
{
    std::string peer;
    int fd = -1;
    std::atomic<int64_t> deadlineMs{kNoDeadline};
};

Connection* connectionOf(MHD_Connection* c)
{
    const MHD_ConnectionInfo* info = MHD_get_connection_info(c, MHD_CONNECTION_INFO_SOCKET_CONTEXT);
    return info ? static_cast<Connection*>(info->socket_context) : nullptr;
}

MHD_Result collect(void* cls, MHD_ValueKind, const char* key, const char* value)
{
    static_cast<std::vector<std::pair<std::string, std::string>>*>(cls)->emplace_back(key ? key : "",
                                                                                      value ? value : "");
    return MHD_YES;
}

// Headers with their whole lengths: a NUL inside a name or value stays in it.
MHD_Result collectWhole(void* cls, MHD_ValueKind, const char* key, size_t keySize, const char* value, size_t valueSize)
{
    static_cast<std::vector<std::pair<std::string, std::string>>*>(cls)->emplace_back(
        key ? std::string(key, keySize) : std::string(), value ? std::string(value, valueSize) : std::string());
    return MHD_YES;
}

MHD_Result send(MHD_Connection* c, const HttpResponse& r)
{
    MHD_Response* response =
        MHD_create_response_from_buffer(r.body.size(), const_cast<char*>(r.body.data()), MHD_RESPMEM_MUST_COPY);
    if (!response)
        return MHD_NO;
    MHD_add_response_header(response, MHD_HTTP_HEADER_CONTENT_TYPE, r.contentType.c_str());
    for (const auto& [k, v] : r.headers)
        MHD_add_response_header(response, k.c_str(), v.c_str());
    const MHD_Result queued = MHD_queue_response(c, static_cast<unsigned>(r.status), response);
    MHD_destroy_response(response);
    return queued;
}

void discardLog(void*, const char*, va_list) {}

// Why a request's head is not taken ("" when it is): header names must be tokens
// and values free of control bytes, an HTTP/1.1 request names exactly one Host.
const char* malformed(const HttpRequest& request, const char* version)
{
    size_t hosts = 0;
    for (const auto& [name, value] : request.headers) {
        if (name.empty())
            return "a header without a name";
        for (unsigned char ch : name)
            if (ch <= 0x20 || ch >= 0x7f || std::strchr("\"(),/:;<=>?@[\\]{}", ch))
                return "a header name that is no token";
        for (unsigned char ch : value)
            if ((ch < 0x20 && ch != '\t') || ch == 0x7f)
                return "a control byte in a header";
        hosts += strcasecmp(name.c_str(), "Host") == 0;
    }
    if (version && std::strcmp(version, MHD_HTTP_VERSION_1_1) == 0 && hosts != 1)
        return "an HTTP/1.1 request names one Host";
    return nullptr;
}

} // namespace

struct HttpServer::Impl
{
    HttpLimits limits;
    std::vector<RouteEntry> routes;
    std::vector<std::unique_ptr<WorkerPool>> pools;
    std::unique_ptr<Timer> timer;
    MHD_Daemon* daemon = nullptr;
    int listenFd = -1;
    std::atomic<bool> stopping{false};
    std::mutex mutex;
    std::condition_variable idle;
    int suspended = 0;

    // Open connections, per address; closed by the sweeper when their deadline passed.
    std::mutex connectionsMutex;
    std::unordered_set<Connection*> connections;
    std::unordered_map<std::string, unsigned> perAddress;
    BodyBook bodiesHeld;
    // Counts for /metrics: answers by route and status, refusals by reason.
    std::mutex statsMutex;
    std::map<std::pair<std::string, int>, uint64_t> answers;
    std::map<std::string, uint64_t> refusals;
    std::thread sweeper;
    std::condition_variable sweepWake;
    bool sweeping = false;

    void refused(const char* reason)
    {
        std::lock_guard lock(statsMutex);
        ++refusals[reason];
    }
    // Sends an answer to EX's request, counted under its route.
    MHD_Result reply(Exchange* ex, const HttpResponse& r)
    {
        {
            std::lock_guard lock(statsMutex);
            ++answers[{ex->route ? ex->route->path : std::string("-"), r.status}];
        }
        return send(ex->connection, r);
    }

    bool trusted(const std::string& peer) const
    {
        return std::find(limits.trustedProxies.begin(), limits.trustedProxies.end(), peer) !=
               limits.trustedProxies.end();
    }
    // Whether a new connection from PEER may open (on the event thread, before accept's work).
    bool mayConnect(const std::string& peer)
    {
        if (trusted(peer))
            return true;
        std::lock_guard lock(connectionsMutex);
        const auto found = perAddress.find(AddressKey(peer));
        const unsigned held = found == perAddress.end() ? 0 : found->second;
        if (held >= limits.maxPerAddress) {
            refused("connections_per_address");
            return false;
        }
        if (held >= kFewConnections && connections.size() >= size_t{limits.maxConnections} * 3 / 4) {
            refused("connections_kept_for_others");
            return false;
        }
        return true;
    }
    void opened(Connection* c)
    {
        c->deadlineMs = steadyMs() + int64_t{limits.headSeconds} * 1000;
        std::lock_guard lock(connectionsMutex);
        connections.insert(c);
        ++perAddress[AddressKey(c->peer)];
    }
    void closed(Connection* c)
    {
        std::lock_guard lock(connectionsMutex);
        connections.erase(c);
        if (auto at = perAddress.find(AddressKey(c->peer)); at != perAddress.end() && --at->second == 0)
            perAddress.erase(at);
    }
    // Cuts the connections whose request is late. Under the lock no connection is
    // closed (the library tells `closed` before it closes a socket), so each fd is
    // still the connection's own.
    // Once a minute, a line for the journal when connections or requests were
    // refused since the last one.
    void reportRefusals(std::map<std::string, uint64_t>& reported)
    {
        std::map<std::string, uint64_t> now;
        {
            std::lock_guard lock(statsMutex);
            now = refusals;
        }
        std::string line;
        for (const auto& [reason, count] : now)
            if (const uint64_t more = count - reported[reason]; more > 0)
                line += (line.empty() ? "" : ", ") + std::to_string(more) + " " + reason;
        if (!line.empty())
            std::fprintf(stderr, "vexory-server: refused in the last minute: %s\n", line.c_str());
        reported = std::move(now);
    }

    void sweep()
    {
        std::map<std::string, uint64_t> reported;
        auto nextReport = Clock::now() + std::chrono::minutes(1);
        std::unique_lock lock(connectionsMutex);
        while (sweeping) {
            if (Clock::now() >= nextReport) {
                lock.unlock();
                reportRefusals(reported);
                lock.lock();
                nextReport = Clock::now() + std::chrono::minutes(1);
            }
            const int64_t now = steadyMs();
            for (Connection* c : connections)
                if (c->deadlineMs <= now) {
                    c->deadlineMs = kNoDeadline;
                    ::shutdown(c->fd, SHUT_RDWR);
                    std::lock_guard stats(statsMutex);
                    ++refusals["late_request"];
                }
            sweepWake.wait_for(lock, std::chrono::milliseconds(500));
        }
    }

    const RouteEntry* find(const std::string& method, const std::string& path) const
    {
        for (const RouteEntry& r : routes)
            if (r.matches(method, path))
                return &r;
        return nullptr;
    }

    void suspend(Exchange* ex)
    {
        {
            std::lock_guard lock(mutex);
            ++suspended;
        }
        MHD_suspend_connection(ex->connection);
    }
    void resume(Exchange* ex)
    {
        MHD_resume_connection(ex->connection);
        std::lock_guard lock(mutex);
        if (--suspended == 0)
            idle.notify_all();
    }
    // Answers a suspended exchange, after the delay its answer asks for.
    void answer(Exchange* ex, HttpResponse r)
    {
        const auto delay = r.delay;
        ex->reply = std::move(r);
        if (delay.count() > 0)
            timer->Schedule(delay, [this, ex] { resume(ex); });
        else
            resume(ex);
    }
    void run(Exchange* ex)
    {
        HttpResponse r;
        try {
            r = ex->route->handler(ex->request);
        } catch (const std::exception&) {
            r = PlainResponse(500, "internal error\n");
        }
        answer(ex, std::move(r));
    }
    // Queues the handler on its pool, or answers why it cannot be.
    void submit(Exchange* ex)
    {
        WorkerPool& pool = *pools[static_cast<size_t>(ex->route->pool)];
        switch (pool.Submit([this, ex] { run(ex); }, AddressKey(ex->request.peer), ex->admission.account,
                            ex->admission.ahead)) {
        case WorkerPool::Queued::Yes:
            return;
        case WorkerPool::Queued::Full:
            refused("queue_full");
            answer(ex, PlainResponse(503, "the service is busy, try again later\n"));
            return;
        case WorkerPool::Queued::OverShare: {
            refused("queue_share");
            HttpResponse r = PlainResponse(429, "too many requests at once from this address or for this account; "
                                                "try again in a second\n");
            r.headers.emplace_back("Retry-After", "1");
            answer(ex, std::move(r));
            return;
        }
        }
    }

    MHD_Result dispatch(Exchange* ex)
    {
        if (stopping)
            return reply(ex, PlainResponse(503, "the service is stopping\n"));
        suspend(ex);
        if (!ex->route->gate)
            submit(ex);
        else if (pools[0]->Submit([this, ex] { admit(ex); }) != WorkerPool::Queued::Yes)
            answer(ex, PlainResponse(503, "the service is busy, try again later\n"));
        return MHD_YES;
    }
    // On pool 0: the route's gate, then the handler (on this thread when its pool is 0).
    void admit(Exchange* ex)
    {
        Admission& admission = ex->admission;
        try {
            admission = ex->route->gate(ex->request);
        } catch (const std::exception&) {
            admission.refuse = PlainResponse(500, "internal error\n");
        }
        if (admission.refuse)
            answer(ex, std::move(*admission.refuse));
        else if (admission.delay.count() > 0)
            timer->Schedule(admission.delay, [this, ex] { submit(ex); });
        else if (ex->route->pool == 0)
            run(ex);
        else
            submit(ex);
    }

    size_t bodyLimit(const Exchange* ex) const
    {
        return ex->route && ex->route->maxBody ? std::min(ex->route->maxBody, limits.maxBody) : limits.maxBody;
    }
    // Counts BYTES more of EX's body; false when they do not fit under the bound
    // and it is ENFORCED (small bodies always fit: each connection holds at most one).
    bool hold(Exchange* ex, size_t bytes, bool enforced)
    {
        if (!bodiesHeld.Take(AddressKey(ex->request.peer), bytes, enforced, limits.maxBodiesHeld,
                             std::max(limits.maxBodiesPerAddress, limits.maxBody)))
            return false;
        ex->reserved += bytes;
        return true;
    }

    MHD_Result onRequest(MHD_Connection* c, const char* url, const char* method, const char* version,
                         const char* upload, size_t* uploadSize, void** context)
    {
        auto* ex = static_cast<Exchange*>(*context);
        if (!ex) {
            ex = new Exchange(bodiesHeld);
            *context = ex;
            ex->connection = c;
            ex->request.method = method;
            ex->request.path = url;
            Connection* connection = connectionOf(c);
            ex->request.peer = connection ? connection->peer : std::string();
            MHD_get_connection_values_n(c, MHD_HEADER_KIND, collectWhole, &ex->request.headers);
            MHD_get_connection_values(c, MHD_GET_ARGUMENT_KIND, collect, &ex->request.query);
            if (trusted(ex->request.peer)) {
                const std::string client = ex->request.Header("X-Real-IP");
                if (!client.empty() && client.size() <= 64)
                    ex->request.peer = CanonicalAddress(client);
            }
            size_t headerBytes = std::strlen(method) + std::strlen(url) + 12;
            for (const auto& [k, v] : ex->request.headers)
                headerBytes += k.size() + v.size() + 4;
            if (headerBytes > limits.maxHeaderBytes || ex->request.headers.size() > limits.maxHeaderLines) {
                refused("headers_too_large");
                return reply(ex, PlainResponse(431, "request headers too large\n"));
            }
            // Heads a proxy in front may read otherwise than this server are refused.
            if (const char* why = malformed(ex->request, version)) {
                refused("malformed");
                return reply(ex, PlainResponse(400, std::string("bad request: ") + why + "\n"));
            }
            if (const std::string coding = ex->request.Header("Transfer-Encoding");
                !coding.empty() && strcasecmp(coding.c_str(), "chunked") != 0)
                return reply(ex, PlainResponse(501, "the only transfer coding taken is chunked\n"));
            // Two lengths (or a length with a chunked body) would let a proxy in front
            // and this server read different requests from the same bytes: refused, as
            // nginx refuses them.
            size_t lengths = 0;
            for (const auto& [k, v] : ex->request.headers)
                lengths += strcasecmp(k.c_str(), "Content-Length") == 0;
            if (lengths > 1 || (lengths == 1 && !ex->request.Header("Transfer-Encoding").empty()))
                return reply(ex, PlainResponse(400, "bad request: more than one body length\n"));
            const std::string length = ex->request.Header("Content-Length");
            if (!length.empty() && (length.size() > 18 || length.find_first_not_of("0123456789") != std::string::npos ||
                                    std::stoull(length) > limits.maxBody)) {
                refused("body_too_large");
                return reply(ex, PlainResponse(413, "request body too large\n"));
            }
            const std::string type = ex->request.Header("Content-Type");
            if (strncasecmp(type.c_str(), "multipart/", 10) == 0)
                return reply(ex, PlainResponse(415, "multipart bodies are not accepted\n"));
            ex->route = find(ex->request.method, ex->request.path);
            if (!ex->route)
                return reply(ex, PlainResponse(404, "not found\n"));
            const bool chunked = !ex->request.Header("Transfer-Encoding").empty();
            const size_t announced = length.empty() ? 0 : std::stoull(length);
            if (announced > bodyLimit(ex)) {
                refused("body_too_large");
                return reply(ex, PlainResponse(413, "request body too large\n"));
            }
            // The whole body is counted while it arrives: beyond the bound for all
            // connections, a large one is not read at all.
            if (announced > 0 && !hold(ex, announced, announced > kFormBody)) {
                refused("bodies_held");
                return reply(ex, PlainResponse(503, "the service is busy, try again later\n"));
            }
            ex->request.body.reserve(announced);
            if (connection)
                connection->deadlineMs =
                    announced > 0 || chunked ? steadyMs() + int64_t{limits.bodySeconds} * 1000 : kNoDeadline;
            return MHD_YES;
        }
        if (*uploadSize > 0) {
            // A body that grows past its limit, or past the bound for all bodies:
            // the connection is cut.
            const size_t size = ex->request.body.size() + *uploadSize;
            if (size > bodyLimit(ex) || (size > ex->reserved && !hold(ex, size - ex->reserved, size > kFormBody))) {
                refused("body_cut");
                return MHD_NO;
            }
            ex->request.body.append(upload, *uploadSize);
            *uploadSize = 0;
            return MHD_YES;
        }
        if (ex->reply)
            return reply(ex, *ex->reply);
        if (ex->dispatched)
            return MHD_YES;
        ex->dispatched = true;
        if (Connection* connection = connectionOf(c))
            connection->deadlineMs = kNoDeadline; // the answer may take its time
        return dispatch(ex);
    }
};

namespace {

MHD_Result accessHandler(void* cls, MHD_Connection* c, const char* url, const char* method, const char* version,
                         const char* upload, size_t* uploadSize, void** context)
{
    return static_cast<HttpServer::Impl*>(cls)->onRequest(c, url, method, version, upload, uploadSize, context);
}

void completed(void* cls, MHD_Connection* c, void** context, MHD_RequestTerminationCode)
{
    delete static_cast<Exchange*>(*context);
    *context = nullptr;
    // The next request on the connection may come while it is kept open; its head
    // then has its own time from its request line on (see `requestLine`).
    const auto* d = static_cast<HttpServer::Impl*>(cls);
    if (Connection* connection = connectionOf(c))
        connection->deadlineMs = steadyMs() + (int64_t{d->limits.idleSeconds} + d->limits.headSeconds) * 1000;
}

void* requestLine(void* cls, const char*, MHD_Connection* c)
{
    const auto* d = static_cast<HttpServer::Impl*>(cls);
    if (Connection* connection = connectionOf(c))
        connection->deadlineMs =
            std::min<int64_t>(connection->deadlineMs, steadyMs() + int64_t{d->limits.headSeconds} * 1000);
    return nullptr;
}

MHD_Result acceptPolicy(void* cls, const sockaddr* address, socklen_t)
{
    return static_cast<HttpServer::Impl*>(cls)->mayConnect(AddressText(address)) ? MHD_YES : MHD_NO;
}

void connectionNotice(void* cls, MHD_Connection* c, void** context, MHD_ConnectionNotificationCode code)
{
    auto* d = static_cast<HttpServer::Impl*>(cls);
    if (code == MHD_CONNECTION_NOTIFY_CLOSED) {
        if (auto* connection = static_cast<Connection*>(*context)) {
            d->closed(connection);
            delete connection;
            *context = nullptr;
        }
        return;
    }
    auto* connection = new Connection;
    if (const MHD_ConnectionInfo* info = MHD_get_connection_info(c, MHD_CONNECTION_INFO_CLIENT_ADDRESS))
        connection->peer = AddressText(info->client_addr);
    // Answers are written whole; never hold their last segment back.
    if (const MHD_ConnectionInfo* info = MHD_get_connection_info(c, MHD_CONNECTION_INFO_CONNECTION_FD)) {
        connection->fd = info->connect_fd;
        const int on = 1;
        setsockopt(info->connect_fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    }
    d->opened(connection);
    *context = connection;
}

} // namespace

HttpServer::HttpServer(HttpLimits limits) : m_impl(std::make_unique<Impl>())
{
    m_impl->limits = limits;
    for (std::string& proxy : m_impl->limits.trustedProxies)
        proxy = CanonicalAddress(proxy);
    m_impl->pools.push_back(std::make_unique<WorkerPool>(Pool{}));
}

HttpServer::~HttpServer()
{
    Stop(std::chrono::milliseconds(0));
    if (m_impl->sweeper.joinable()) { // a stop that left a handler behind
        {
            std::lock_guard lock(m_impl->connectionsMutex);
            m_impl->sweeping = false;
            m_impl->sweepWake.notify_all();
        }
        m_impl->sweeper.join();
    }
    if (m_impl->listenFd >= 0)
        close(m_impl->listenFd);
}

int HttpServer::AddPool(Pool pool)
{
    m_impl->pools.push_back(std::make_unique<WorkerPool>(pool));
    return static_cast<int>(m_impl->pools.size()) - 1;
}

void HttpServer::Route(const std::string& method, const std::string& path, Handler handler, int pool, Gate gate,
                       size_t maxBody)
{
    m_impl->routes.push_back({method, path, std::move(handler), pool, std::move(gate), maxBody});
}

int HttpServer::Listen(const std::string& host, int port, std::string* error)
{
    int bound = 0;
    const int fd = OpenListeningSocket(host, port, &bound, error);
    if (fd < 0)
        return 0;
    m_impl->listenFd = fd;
    return bound;
}

bool HttpServer::Start(std::string* error)
{
    Impl& d = *m_impl;
    for (auto& pool : d.pools)
        pool->Start();
    d.timer = std::make_unique<Timer>();
    // The pool of each connection holds its request line and headers: headers that
    // do not fit are answered 431 by the library itself. Pools above 32 KB are mapped
    // afresh for every connection, which costs a fifth of the push rate.
    const size_t memory = std::max<size_t>(d.limits.maxHeaderBytes, 4096);
    d.daemon =
        MHD_start_daemon(MHD_USE_EPOLL_INTERNAL_THREAD | MHD_ALLOW_SUSPEND_RESUME, 0, acceptPolicy, &d, accessHandler,
                         &d, MHD_OPTION_LISTEN_SOCKET, d.listenFd, MHD_OPTION_CONNECTION_LIMIT, d.limits.maxConnections,
                         MHD_OPTION_CONNECTION_TIMEOUT, d.limits.idleSeconds, MHD_OPTION_CONNECTION_MEMORY_LIMIT,
                         memory, MHD_OPTION_NOTIFY_COMPLETED, completed, &d, MHD_OPTION_NOTIFY_CONNECTION,
                         connectionNotice, &d, MHD_OPTION_URI_LOG_CALLBACK, requestLine, &d, MHD_OPTION_EXTERNAL_LOGGER,
                         discardLog, nullptr, MHD_OPTION_STRICT_FOR_CLIENT, 1, MHD_OPTION_END);
    if (!d.daemon) {
        if (error)
            *error = "cannot start the HTTP event loop";
        return false;
    }
    d.sweeping = true;
    d.sweeper = std::thread([&d] { d.sweep(); });
    return true;
}

size_t HttpServer::Waiting(int pool) const
{
    return m_impl->pools.at(static_cast<size_t>(pool))->Waiting();
}

std::string HttpServer::MetricsText() const
{
    Impl& d = *m_impl;
    std::string out;
    auto line = [&out](const std::string& text) { out += text + "\n"; };
    line("# HELP vexory_requests_total Answers given, by route and status.");
    line("# TYPE vexory_requests_total counter");
    std::map<std::pair<std::string, int>, uint64_t> answers;
    std::map<std::string, uint64_t> refusals;
    {
        std::lock_guard lock(d.statsMutex);
        answers = d.answers;
        refusals = d.refusals;
    }
    for (const auto& [key, count] : answers)
        line("vexory_requests_total{route=\"" + key.first + "\",code=\"" + std::to_string(key.second) + "\"} " +
             std::to_string(count));
    line("# HELP vexory_refusals_total Connections and requests refused or cut, by reason.");
    line("# TYPE vexory_refusals_total counter");
    for (const auto& [reason, count] : refusals)
        line("vexory_refusals_total{reason=\"" + reason + "\"} " + std::to_string(count));
    size_t open = 0;
    {
        std::lock_guard lock(d.connectionsMutex);
        open = d.connections.size();
    }
    line("# HELP vexory_connections_open Connections open now.");
    line("# TYPE vexory_connections_open gauge");
    line("vexory_connections_open " + std::to_string(open));
    line("# HELP vexory_request_body_bytes Bytes of request bodies held now.");
    line("# TYPE vexory_request_body_bytes gauge");
    line("vexory_request_body_bytes " + std::to_string(d.bodiesHeld.Total()));
    return out;
}

bool HttpServer::Stop(std::chrono::milliseconds grace)
{
    Impl& d = *m_impl;
    if (!d.daemon || d.stopping.exchange(true))
        return true;
    const MHD_socket listening = MHD_quiesce_daemon(d.daemon);
    if (listening != MHD_INVALID_SOCKET && listening == d.listenFd) {
        close(d.listenFd);
        d.listenFd = -1;
    }
    // Answers held back by a delay go out now; handlers under way may finish.
    d.timer->Flush();
    bool clean;
    {
        std::unique_lock lock(d.mutex);
        clean = d.idle.wait_for(lock, grace, [&] { return d.suspended == 0; });
    }
    if (!clean) {
        // A handler is stuck; the connections it holds cannot be closed under it.
        for (auto& pool : d.pools)
            pool->Detach();
        return false;
    }
    MHD_stop_daemon(d.daemon);
    d.daemon = nullptr;
    {
        std::lock_guard lock(d.connectionsMutex);
        d.sweeping = false;
        d.sweepWake.notify_all();
    }
    d.sweeper.join();
    for (auto& pool : d.pools)
        pool->Join();
    d.timer.reset();
    return true;
}

} // namespace vexory::server
