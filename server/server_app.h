#pragma once

// The routes of vexory-server: the client scripts (/client/LogIn.php,
// /client/SendInfo.php, /client/Svn.php), the pages (/advert.php, /Help.php,
// /register, /inbox/TOKEN) and the forwarding of results to a user's webhook.

#include "server_db.h"

#include <cstddef>
#include <string>

namespace httplib {
class Server;
}

namespace vexory::server {

struct ServerOptions
{
    int clientVersion = 6;        // the newest published client version, told at every login
    size_t maxBody = 1 << 20;     // larger request bodies are answered 413
    int registerRights = 0;       // rights of accounts made through /register
    int webhookTimeoutMs = 2000;  // how long a forwarding may take
};

class ServiceApp
{
public:
    ServiceApp(ServerDb& db, ServerOptions options) : m_db(db), m_options(options) {}
    void Install(httplib::Server& server);

    // Handlers, reachable without HTTP for tests: status and body of the reply.
    struct Reply
    {
        int status = 200;
        std::string body;
        std::string contentType = "text/plain; charset=utf-8";
    };
    Reply Login(const std::string& value, const std::string& code, const std::string& body);
    Reply Push(const std::string& value, const std::string& code, const std::string& body);
    Reply Share(const std::string& value, const std::string& code, const std::string& body);

private:
    bool forward(const User& user, const StoredResult& result);

    ServerDb& m_db;
    ServerOptions m_options;
};

// Posts a result to a webhook as JSON; true when the endpoint answered 2xx.
bool PostWebhook(const std::string& url, const std::string& json, int timeoutMs);

} // namespace vexory::server
