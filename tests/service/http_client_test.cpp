// HttpPost and HttpGet against real servers on loopback.

#include "platform/codepage.h"
#include "service/http_client.h"
#include "support/hostile_bodies.h"
#include "support/test_http_server.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <atomic>
#include <chrono>
#include <map>
#include <mutex>
#include <thread>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

using namespace vexory;
using vexory::test::TestHttpServer;

namespace {

// A TCP listener that accepts connections, reads what arrives, and never answers.
class SilentServer
{
public:
    SilentServer()
    {
        m_fd = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::bind(m_fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
        ::listen(m_fd, 8);
        socklen_t len = sizeof addr;
        ::getsockname(m_fd, reinterpret_cast<sockaddr*>(&addr), &len);
        m_port = ntohs(addr.sin_port);
        m_thread = std::thread([this] {
            int client = ::accept(m_fd, nullptr, nullptr);
            char buffer[4096];
            ssize_t n;
            while (client >= 0 && (n = ::recv(client, buffer, sizeof buffer, 0)) > 0)
                m_request.append(buffer, static_cast<size_t>(n));
            if (client >= 0)
                ::close(client);
        });
    }
    ~SilentServer()
    {
        ::shutdown(m_fd, SHUT_RDWR);
        ::close(m_fd);
        if (m_thread.joinable())
            m_thread.join();
    }
    std::string url() const { return "http://127.0.0.1:" + std::to_string(m_port) + "/client/SendInfo.php"; }
    // What the one client sent, once it has gone.
    const std::string& request()
    {
        if (m_thread.joinable())
            m_thread.join();
        return m_request;
    }

private:
    int m_fd = -1;
    int m_port = 0;
    std::thread m_thread;
    std::string m_request;
};

} // namespace

TEST(HttpPost, OnlyStatus200GivesTheBodyExactly)
{
    TestHttpServer server;
    const std::string binary("ok\0with zero\xFF", 13);
    server.routes().Post("/ok", [&](const httplib::Request& req, httplib::Response& res) {
        EXPECT_EQ(req.body, "a=1&b=2");
        EXPECT_EQ(req.get_header_value("Content-Type"), "application/x-www-form-urlencoded");
        EXPECT_EQ(req.get_header_value("Cache-Control"), "no-cache");
        EXPECT_EQ(req.get_header_value("User-Agent"), std::string(kServiceUserAgent));
        res.set_content(binary, "application/octet-stream");
    });
    server.routes().Post("/missing", [](const httplib::Request&, httplib::Response& res) {
        res.status = 404;
        res.set_content("not here", "text/plain");
    });
    server.routes().Post("/broken", [](const httplib::Request&, httplib::Response& res) {
        res.status = 500;
        res.set_content("oops", "text/plain");
    });
    server.start();
    EXPECT_EQ(HttpPost(server.url("/ok"), "a=1&b=2", 3000), binary);
    EXPECT_EQ(HttpPost(server.url("/missing"), "a=1", 3000), "");
    EXPECT_EQ(HttpPost(server.url("/broken"), "a=1", 3000), "");
    EXPECT_EQ(HttpPost("http://127.0.0.1:1/nothing-listens", "a=1", 3000), "");
}

TEST(HttpPost, HeadersGoInTheirOrderAndASilentServerGivesNothingInTime)
{
    SilentServer silent;
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(HttpPost(silent.url(), "x=1", 1000), "");
    const auto took = std::chrono::steady_clock::now() - start;
    EXPECT_LT(took, std::chrono::seconds(6));
    EXPECT_GE(took, std::chrono::milliseconds(900));

    const std::string& request = silent.request();
    const size_t length = request.find("Content-Length: 3\r\n");
    const size_t type = request.find("CONTENT-TYPE: application/x-www-form-urlencoded\r\n");
    const size_t cache = request.find("cache-control: no-cache\r\n");
    const size_t agent = request.find("User-Agent: Mozilla/4.0 (compatible; MSIE 6.0;");
    ASSERT_NE(length, std::string::npos) << request;
    ASSERT_NE(agent, std::string::npos) << request;
    EXPECT_LT(length, type);
    EXPECT_LT(type, cache);
    EXPECT_LT(cache, agent);
}

TEST(HttpGet, TextInTheProgramsCodePage)
{
    TestHttpServer server;
    server.routes().Get("/gbk", [](const httplib::Request& req, httplib::Response& res) {
        EXPECT_EQ(req.get_header_value("If-Modified-Since"), "0");
        res.set_content("<p>\xB2\xE2\xCA\xD4</p>", "text/html; charset=GBK");
    });
    server.routes().Get("/utf8", [](const httplib::Request&, httplib::Response& res) {
        res.set_content("<p>测试</p>", "text/html; charset=utf-8");
    });
    server.routes().Get("/plain", [](const httplib::Request&, httplib::Response& res) {
        res.set_content("<p>测试</p>", "text/html");
    });
    server.routes().Get("/moved", [](const httplib::Request&, httplib::Response& res) {
        res.status = 302;
        res.set_header("Location", "/utf8");
        res.set_content("moved to /utf8", "text/plain; charset=utf-8");
    });
    server.routes().Get("/gone", [](const httplib::Request&, httplib::Response& res) {
        res.status = 404;
        res.set_content("gone", "text/plain");
    });
    server.start();
    const std::string test = "\xB2\xE2\xCA\xD4";
    EXPECT_EQ(HttpGet(server.url("/gbk")), "<p>" + test + "</p>");
    EXPECT_EQ(HttpGet(server.url("/utf8")), "<p>" + test + "</p>");
    EXPECT_EQ(HttpGet(server.url("/plain")), "<p>" + test + "</p>");
    EXPECT_EQ(HttpGet(server.url("/moved")), "moved to /utf8"); // not followed
    EXPECT_EQ(HttpGet(server.url("/gone")), "");
    EXPECT_EQ(HttpGet("http://127.0.0.1:1/"), "");
}

TEST(HttpGet, CompressedPagesAreDecoded)
{
    TestHttpServer server;
    std::string big;
    for (int i = 0; i < 2000; ++i)
        big += "<li>数据 " + std::to_string(i) + "</li>";
    server.routes().Get("/big", [&](const httplib::Request& req, httplib::Response& res) {
        EXPECT_NE(req.get_header_value("Accept-Encoding").find("gzip"), std::string::npos);
        res.set_content(big, "text/html; charset=utf-8"); // the library compresses when asked
    });
    server.start();
    EXPECT_EQ(HttpGet(server.url("/big")), Utf8ToGbk(big));
}

namespace {

std::string cookieHeader(const httplib::Request& req)
{
    return req.get_header_value("Cookie");
}

} // namespace

TEST(HttpFetchPage, EachHostGetsOnlyItsOwnCookiesAtEveryHopOfARedirect)
{
    // One server under two names, 127.0.0.1 and localhost: two hosts to a cookie.
    TestHttpServer server;
    std::mutex mutex;
    std::map<std::string, std::string> seen; // the Cookie header each path got
    auto note = [&](const httplib::Request& req) {
        std::lock_guard lock(mutex);
        seen[req.path] = cookieHeader(req);
    };
    server.routes().Get("/start", [&](const httplib::Request& req, httplib::Response& res) {
        note(req);
        res.status = 302;
        res.set_header("Set-Cookie", "hop=1; Path=/");
        res.set_header("Location", "/next");
    });
    server.routes().Get("/next", [&](const httplib::Request& req, httplib::Response& res) {
        note(req);
        res.status = 302;
        res.set_header("Location", "http://localhost:" + std::to_string(server.port()) + "/other");
    });
    server.routes().Get("/other", [&](const httplib::Request& req, httplib::Response& res) {
        note(req);
        res.status = 302;
        res.set_header("Set-Cookie", "there=2; Path=/");
        res.set_header("Location", "/final");
    });
    server.routes().Get("/final", [&](const httplib::Request& req, httplib::Response& res) {
        note(req);
        seen["agent"] = req.get_header_value("User-Agent");
        res.set_content("<p>ok</p>", "text/html; charset=utf-8");
    });
    server.start();
    const auto cookies = std::make_shared<const CookieList>(CookieList{
        {.domain = "127.0.0.1", .name = "session", .value = "SECRET-A"},
        {.domain = "127.0.0.1", .path = "/private", .name = "deep", .value = "P"},
        {.domain = "127.0.0.1", .name = "old", .value = "O", .expires = 1000}, // long expired
    });

    PageRequest request;
    request.url = server.url("/start");
    request.cookies = cookies;
    request.userAgent = "TestBrowser/1.0";
    const FetchedPage page = HttpFetchPage(request);
    EXPECT_EQ(page.status, 200);
    EXPECT_EQ(page.body, "<p>ok</p>");
    EXPECT_EQ(page.url, "http://localhost:" + std::to_string(server.port()) + "/final");
    std::unique_lock lock(mutex);
    EXPECT_EQ(seen["/start"], "session=SECRET-A");                 // not the other path's, nor the expired one
    EXPECT_NE(seen["/next"].find("hop=1"), std::string::npos);      // set by the redirect, used on the next hop
    EXPECT_EQ(seen["/other"], "");                                 // another host: none of the first's
    EXPECT_EQ(seen["/final"], "there=2");
    EXPECT_EQ(seen["agent"], "TestBrowser/1.0");

    // A download's fetch keeps to the same rules.
    seen.clear();
    lock.unlock();
    EXPECT_EQ(HttpGet("http://localhost:" + std::to_string(server.port()) + "/final", cookies, "TestBrowser/1.0"),
              "<p>ok</p>");
    lock.lock();
    EXPECT_EQ(seen["/final"], "");
    lock.unlock();
    EXPECT_EQ(HttpGet(server.url("/final"), cookies, "TestBrowser/1.0"), "<p>ok</p>");
    lock.lock();
    EXPECT_EQ(seen["/final"], "session=SECRET-A");
    EXPECT_EQ(seen["agent"], "TestBrowser/1.0");
}

TEST(HttpFetchPage, AReadEndsAtItsSizeAndTimeLimits)
{
    const std::string bomb = vexory::test::GzipBomb(256u << 20); // 256 MB in about 256 KB
    std::atomic<bool> done{false};
    TestHttpServer server;
    server.routes().Get("/bomb", [&](const httplib::Request&, httplib::Response& res) {
        res.set_header("Content-Encoding", "gzip");
        res.set_content(bomb, "text/html; charset=utf-8");
    });
    server.routes().Get("/big", [&](const httplib::Request&, httplib::Response& res) {
        res.set_content(std::string(3u << 20, 'x'), "text/plain");
    });
    server.routes().Get("/trickle", [&](const httplib::Request&, httplib::Response& res) {
        // A byte every 100 ms, never stalling long enough for a stall limit.
        res.set_chunked_content_provider("text/html", [&](size_t offset, httplib::DataSink& sink) {
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
            return !done && offset < 600 && sink.write("x", 1);
        });
    });
    server.start();

    PageRequest request;
    request.maxBytes = 1u << 20;
    request.url = server.url("/bomb");
    FetchedPage page = HttpFetchPage(request);
    EXPECT_EQ(page.failure, FetchFailure::TooLarge);
    EXPECT_TRUE(page.body.empty());
    request.url = server.url("/big");
    EXPECT_EQ(HttpFetchPage(request).failure, FetchFailure::TooLarge);
    request.maxBytes = 0;
    EXPECT_EQ(HttpFetchPage(request).body.size(), 3u << 20);

    request.url = server.url("/trickle");
    request.totalMs = 1000;
    const auto begun = std::chrono::steady_clock::now();
    page = HttpFetchPage(request);
    EXPECT_EQ(page.failure, FetchFailure::TimedOut);
    EXPECT_LT(std::chrono::steady_clock::now() - begun, std::chrono::seconds(30)); // ended, not served out
    done = true;
}
