// HttpPost against real servers on loopback.

#include "service/http_client.h"
#include "support/test_http_server.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <atomic>
#include <chrono>
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
