#pragma once

// An HTTP server inside the test process on a free loopback port, for pages and
// endpoints whose answers a test decides. Stops when the object goes.

#include <httplib.h>

#include <chrono>
#include <string>
#include <thread>

namespace vexory::test {

// A client of a server under test on loopback. An answer may wait on a password
// hashed slowly by design while other tests load the machine: the limit is there
// to catch a hang, not to time the server.
inline httplib::Client PatientClient(int port)
{
    httplib::Client client("127.0.0.1", port);
    client.set_read_timeout(std::chrono::seconds(60));
    client.set_write_timeout(std::chrono::seconds(60));
    return client;
}

class TestHttpServer
{
public:
    TestHttpServer() = default;
    ~TestHttpServer() { stop(); }
    TestHttpServer(const TestHttpServer&) = delete;
    TestHttpServer& operator=(const TestHttpServer&) = delete;

    httplib::Server& routes() { return m_server; }
    // Starts listening (call after adding the routes) on a loopback address.
    void start(const std::string& address = "127.0.0.1")
    {
        m_address = address;
        m_port = m_server.bind_to_any_port(address);
        m_thread = std::thread([this] { m_server.listen_after_bind(); });
        while (!m_server.is_running())
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    void stop()
    {
        if (m_thread.joinable()) {
            m_server.stop();
            m_thread.join();
        }
    }
    int port() const { return m_port; }
    std::string host() const { return m_address + ":" + std::to_string(m_port); }
    std::string url(const std::string& path) const { return "http://" + host() + path; }

private:
    httplib::Server m_server;
    std::thread m_thread;
    int m_port = 0;
    std::string m_address = "127.0.0.1";
};

// An address on loopback where nothing listens (on a port browsers may call).
inline std::string ClosedPortUrl(const std::string& path)
{
    TestHttpServer gone;
    gone.start();
    const std::string url = gone.url(path);
    gone.stop();
    return url;
}

} // namespace vexory::test
