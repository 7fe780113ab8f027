#pragma once

// Stand-ins for the APIs results are forwarded to, on loopback: each route
// checks what the service's published API demands (method, path, headers, body
// fields, signatures) and answers as the service does; every message it took is
// kept with the text a person would read. A mail sink (Debian's aiosmtpd) takes
// the e-mail. A browser of sorts logs in on the account page with cookies.

#include "support/service_helpers.h"
#include "support/temp_dir.h"
#include "support/test_http_server.h"

#include <httplib.h>
#include <nlohmann/json.hpp>

#include <map>
#include <mutex>
#include <string>
#include <vector>

namespace vexory::test {

struct Received
{
    std::string kind;
    std::string text;    // what a person reads (title and text)
    std::string problem; // what the API would have refused ("" when fine)
    std::string raw;     // the request as it came (method, target, headers, body)
};

class ChannelStandIns
{
public:
    ChannelStandIns();
    // The --channel-api value that sends every kind here.
    std::string apiOption() const;
    std::string base() const { return m_server.url(""); }
    std::vector<Received> got(const std::string& kind);
    size_t count(const std::string& kind);

    static constexpr const char* kDingTalkSecret = "SECdingtalk0123456789";
    static constexpr const char* kFeishuSecret = "feishu-secret-42";

private:
    void keep(const std::string& kind, const httplib::Request& req, std::string text, std::string problem);

    TestHttpServer m_server;
    std::mutex m_mutex;
    std::vector<Received> m_got;
};

// Debian's aiosmtpd writing each mail into a maildir; stops with the object.
class MailSink
{
public:
    MailSink();
    ~MailSink();
    bool ok() const { return m_pid > 0 && m_port > 0; }
    int port() const { return m_port; }
    // Decoded bodies of the mails received so far, oldest first.
    std::vector<std::string> mails() const;

private:
    TempDir m_dir;
    int m_port = 0;
    int m_pid = -1;
};

// The account page as a browser uses it: cookies kept, forms sent with their token.
class AccountBrowser
{
public:
    explicit AccountBrowser(int port);
    httplib::Result get(const std::string& path);
    httplib::Result post(const std::string& path, const std::string& body, const httplib::Headers& extra = {});
    // The CSRF token of the account page now.
    std::string csrf();
    // Adds a channel; the answer's Location ("" when the form came back with an error).
    std::string addChannel(const std::string& kind, const std::map<std::string, std::string>& fields);
    std::map<std::string, std::string>& cookies() { return m_cookies; }

private:
    httplib::Headers headers(const httplib::Headers& extra) const;
    void keepCookies(const httplib::Result& r);

    httplib::Client m_client;
    std::map<std::string, std::string> m_cookies;
};

} // namespace vexory::test
