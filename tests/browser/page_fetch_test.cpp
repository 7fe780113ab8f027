// Pages fetched as the browser would, against real servers on loopback.

#include "browser/page_fetch.h"
#include "platform/codepage.h"
#include "support/hostile_bodies.h"
#include "support/test_http_server.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <map>
#include <mutex>
#include <thread>

using namespace vexory;
using vexory::test::TestHttpServer;

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
