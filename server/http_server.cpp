#include "http_server.h"

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
#include <cstring>
#include <deque>
#include <map>
#include <mutex>
#include <strings.h>
#include <thread>

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

using Clock = std::chrono::steady_clock;

// Threads taking jobs from a bounded queue.
class WorkerPool
{
public:
    explicit WorkerPool(HttpServer::Pool config) : m_config(config) {}
    ~WorkerPool() { Join(); }

    void Start()
    {
        for (unsigned i = 0; i < std::max(1u, m_config.threads); ++i)
            m_threads.emplace_back([this] { run(); });
    }
    bool Submit(std::function<void()> job)
    {
        std::lock_guard lock(m_mutex);
        if (m_stopping || m_jobs.size() >= m_config.queue)
            return false;
        m_jobs.push_back(std::move(job));
        m_wake.notify_one();
        return true;
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
    void run()
    {
        for (;;) {
            std::function<void()> job;
            {
                std::unique_lock lock(m_mutex);
                m_wake.wait(lock, [this] { return m_stopping || !m_jobs.empty(); });
                if (m_jobs.empty())
                    return;
                job = std::move(m_jobs.front());
                m_jobs.pop_front();
            }
            job();
        }
    }

    HttpServer::Pool m_config;
    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::deque<std::function<void()>> m_jobs;
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

struct RouteEntry
{
    std::string method, path;
    HttpServer::Handler handler;
    int pool = 0;
    HttpServer::Gate gate;

    bool matches(const std::string& m, const std::string& p) const
    {
        if (m != method)
            return false;
        if (!path.empty() && path.back() == '/')
            return p.compare(0, path.size(), path) == 0;
        return p == path;
    }
};

// One request on a connection, from its headers to its answer.
struct Exchange
{
    HttpRequest request;
    const RouteEntry* route = nullptr;
    std::optional<HttpResponse> reply;
    MHD_Connection* connection = nullptr;
    bool dispatched = false;
};

std::string peerOf(MHD_Connection* c)
{
    const MHD_ConnectionInfo* info = MHD_get_connection_info(c, MHD_CONNECTION_INFO_CLIENT_ADDRESS);
    if (!info || !info->client_addr)
        return {};
    char text[INET6_ADDRSTRLEN] = {};
    const sockaddr* a = info->client_addr;
    if (a->sa_family == AF_INET)
        inet_ntop(AF_INET, &reinterpret_cast<const sockaddr_in*>(a)->sin_addr, text, sizeof text);
    else if (a->sa_family == AF_INET6)
        inet_ntop(AF_INET6, &reinterpret_cast<const sockaddr_in6*>(a)->sin6_addr, text, sizeof text);
    return text;
}

MHD_Result collect(void* cls, MHD_ValueKind, const char* key, const char* value)
{
    static_cast<std::vector<std::pair<std::string, std::string>>*>(cls)->emplace_back(key ? key : "",
                                                                                      value ? value : "");
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
    // Queues the handler on its pool; false when the pool is full or closing.
    bool submit(Exchange* ex)
    {
        WorkerPool& pool = *pools[static_cast<size_t>(ex->route->pool)];
        return pool.Submit([this, ex] { run(ex); });
    }

    MHD_Result dispatch(Exchange* ex)
    {
        if (stopping)
            return send(ex->connection, PlainResponse(503, "the service is stopping\n"));
        suspend(ex);
        const bool queued = ex->route->gate ? pools[0]->Submit([this, ex] { admit(ex); }) : submit(ex);
        if (!queued)
            answer(ex, PlainResponse(503, "the service is busy, try again later\n"));
        return MHD_YES;
    }
    // On pool 0: the route's gate, then the handler (on this thread when its pool is 0).
    void admit(Exchange* ex)
    {
        Admission admission;
        try {
            admission = ex->route->gate(ex->request);
        } catch (const std::exception&) {
            admission.refuse = PlainResponse(500, "internal error\n");
        }
        if (admission.refuse) {
            answer(ex, std::move(*admission.refuse));
        } else if (admission.delay.count() > 0) {
            timer->Schedule(admission.delay, [this, ex] {
                if (!submit(ex))
                    answer(ex, PlainResponse(503, "the service is busy, try again later\n"));
            });
        } else if (ex->route->pool == 0) {
            run(ex);
        } else if (!submit(ex)) {
            answer(ex, PlainResponse(503, "the service is busy, try again later\n"));
        }
    }

    MHD_Result onRequest(MHD_Connection* c, const char* url, const char* method, const char* upload, size_t* uploadSize,
                         void** context)
    {
        auto* ex = static_cast<Exchange*>(*context);
        if (!ex) {
            ex = new Exchange;
            *context = ex;
            ex->connection = c;
            ex->request.method = method;
            ex->request.path = url;
            ex->request.peer = peerOf(c);
            MHD_get_connection_values(c, MHD_HEADER_KIND, collect, &ex->request.headers);
            MHD_get_connection_values(c, MHD_GET_ARGUMENT_KIND, collect, &ex->request.query);
            if (std::find(limits.trustedProxies.begin(), limits.trustedProxies.end(), ex->request.peer) !=
                limits.trustedProxies.end()) {
                const std::string client = ex->request.Header("X-Real-IP");
                if (!client.empty() && client.size() <= 64)
                    ex->request.peer = client;
            }
            size_t headerBytes = std::strlen(method) + std::strlen(url) + 12;
            for (const auto& [k, v] : ex->request.headers)
                headerBytes += k.size() + v.size() + 4;
            if (headerBytes > limits.maxHeaderBytes || ex->request.headers.size() > limits.maxHeaderLines)
                return send(c, PlainResponse(431, "request headers too large\n"));
            // Two lengths (or a length with a chunked body) would let a proxy in front
            // and this server read different requests from the same bytes: refused, as
            // nginx refuses them.
            size_t lengths = 0;
            for (const auto& [k, v] : ex->request.headers)
                lengths += strcasecmp(k.c_str(), "Content-Length") == 0;
            if (lengths > 1 || (lengths == 1 && !ex->request.Header("Transfer-Encoding").empty()))
                return send(c, PlainResponse(400, "bad request: more than one body length\n"));
            const std::string length = ex->request.Header("Content-Length");
            if (!length.empty() && (length.size() > 18 || length.find_first_not_of("0123456789") != std::string::npos ||
                                    std::stoull(length) > limits.maxBody))
                return send(c, PlainResponse(413, "request body too large\n"));
            const std::string type = ex->request.Header("Content-Type");
            if (strncasecmp(type.c_str(), "multipart/", 10) == 0)
                return send(c, PlainResponse(415, "multipart bodies are not accepted\n"));
            ex->route = find(ex->request.method, ex->request.path);
            if (!ex->route)
                return send(c, PlainResponse(404, "not found\n"));
            return MHD_YES;
        }
        if (*uploadSize > 0) {
            // A body without a length that grows past the limit: the connection is cut.
            if (ex->request.body.size() + *uploadSize > limits.maxBody)
                return MHD_NO;
            ex->request.body.append(upload, *uploadSize);
            *uploadSize = 0;
            return MHD_YES;
        }
        if (ex->reply)
            return send(c, *ex->reply);
        if (ex->dispatched)
            return MHD_YES;
        ex->dispatched = true;
        return dispatch(ex);
    }
};

namespace {

MHD_Result accessHandler(void* cls, MHD_Connection* c, const char* url, const char* method, const char*,
                         const char* upload, size_t* uploadSize, void** context)
{
    return static_cast<HttpServer::Impl*>(cls)->onRequest(c, url, method, upload, uploadSize, context);
}

void completed(void*, MHD_Connection*, void** context, MHD_RequestTerminationCode)
{
    delete static_cast<Exchange*>(*context);
    *context = nullptr;
}

void connectionNotice(void*, MHD_Connection* c, void**, MHD_ConnectionNotificationCode code)
{
    if (code != MHD_CONNECTION_NOTIFY_STARTED)
        return;
    // Answers are written whole; never hold their last segment back.
    if (const MHD_ConnectionInfo* info = MHD_get_connection_info(c, MHD_CONNECTION_INFO_CONNECTION_FD)) {
        const int on = 1;
        setsockopt(info->connect_fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    }
}

} // namespace

HttpServer::HttpServer(HttpLimits limits) : m_impl(std::make_unique<Impl>())
{
    m_impl->limits = limits;
    m_impl->pools.push_back(std::make_unique<WorkerPool>(Pool{}));
}

HttpServer::~HttpServer()
{
    Stop(std::chrono::milliseconds(0));
    if (m_impl->listenFd >= 0)
        close(m_impl->listenFd);
}

int HttpServer::AddPool(Pool pool)
{
    m_impl->pools.push_back(std::make_unique<WorkerPool>(pool));
    return static_cast<int>(m_impl->pools.size()) - 1;
}

void HttpServer::Route(const std::string& method, const std::string& path, Handler handler, int pool, Gate gate)
{
    m_impl->routes.push_back({method, path, std::move(handler), pool, std::move(gate)});
}

int HttpServer::Listen(const std::string& host, int port, std::string* error)
{
    auto fail = [&](const std::string& why) {
        if (error)
            *error = why;
        return 0;
    };
    if (port < 0 || port > 65535)
        return fail("the port must be a number from 0 to 65535");
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_PASSIVE | AI_NUMERICSERV;
    addrinfo* found = nullptr;
    const std::string service = std::to_string(port);
    if (const int rc = getaddrinfo(host.empty() ? nullptr : host.c_str(), service.c_str(), &hints, &found); rc != 0)
        return fail("cannot resolve " + host + ": " + gai_strerror(rc));
    std::string why = "no address";
    for (addrinfo* a = found; a; a = a->ai_next) {
        const int fd = socket(a->ai_family, a->ai_socktype | SOCK_CLOEXEC | SOCK_NONBLOCK, a->ai_protocol);
        if (fd < 0) {
            why = std::strerror(errno);
            continue;
        }
        // SO_REUSEADDR lets a restart bind while old connections linger in TIME_WAIT;
        // SO_REUSEPORT is left off so that a second server cannot share the port.
        const int on = 1;
        setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
        if (bind(fd, a->ai_addr, a->ai_addrlen) != 0 || ::listen(fd, 1024) != 0) {
            why = errno == EADDRINUSE ? "the address is in use (is another vexory-server running?)"
                                      : std::string(std::strerror(errno));
            close(fd);
            continue;
        }
        sockaddr_storage bound{};
        socklen_t length = sizeof bound;
        getsockname(fd, reinterpret_cast<sockaddr*>(&bound), &length);
        const int boundPort = bound.ss_family == AF_INET6 ? ntohs(reinterpret_cast<sockaddr_in6*>(&bound)->sin6_port)
                                                          : ntohs(reinterpret_cast<sockaddr_in*>(&bound)->sin_port);
        freeaddrinfo(found);
        m_impl->listenFd = fd;
        return boundPort;
    }
    freeaddrinfo(found);
    return fail("cannot listen on " + host + ":" + service + ": " + why);
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
        MHD_start_daemon(MHD_USE_EPOLL_INTERNAL_THREAD | MHD_ALLOW_SUSPEND_RESUME, 0, nullptr, nullptr, accessHandler,
                         &d, MHD_OPTION_LISTEN_SOCKET, d.listenFd, MHD_OPTION_CONNECTION_LIMIT, d.limits.maxConnections,
                         MHD_OPTION_CONNECTION_TIMEOUT, d.limits.idleSeconds, MHD_OPTION_CONNECTION_MEMORY_LIMIT,
                         memory, MHD_OPTION_NOTIFY_COMPLETED, completed, nullptr, MHD_OPTION_NOTIFY_CONNECTION,
                         connectionNotice, nullptr, MHD_OPTION_EXTERNAL_LOGGER, discardLog, nullptr, MHD_OPTION_END);
    if (!d.daemon) {
        if (error)
            *error = "cannot start the HTTP event loop";
        return false;
    }
    return true;
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
    for (auto& pool : d.pools)
        pool->Join();
    d.timer.reset();
    return true;
}

} // namespace vexory::server
