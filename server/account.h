#pragma once

// The account page (/account) and registration (/register): people log in with
// their nickname and password in a browser, bind the channels their results go
// to, test them, see what was delivered where, change the password or delete the
// account. Sessions are cookies (HttpOnly, SameSite=Lax) whose digests the
// database keeps, so every instance knows them; each form carries a CSRF token
// and a foreign Origin is refused. Logins are throttled as the client's are.

#include "forwarder.h"
#include "http_server.h"
#include "outbound.h"
#include "server_db.h"
#include "throttle.h"

#include <functional>
#include <optional>
#include <string>

namespace vexory::server {

class AccountApp
{
public:
    // The service's guards against guessing, shared with the client's login.
    struct Throttle
    {
        std::function<HttpServer::Admission(const HttpRequest&, const std::string& nick)> admit;
        std::function<void(const HttpRequest&, const std::string& nick)> failed;
    };
    struct Options
    {
        std::string publicUrl; // "" : links are built from the request's Host
        int registerRights = 0;
        int maxChannels = 16;
        int accountsPerAddress = 10; // accounts one address may register (0: any number)
    };

    AccountApp(ServerDb& db, Forwarder& forwarder, const OutboundPolicy& policy, const SmtpSettings& smtp,
               Options options, Throttle throttle);

    // `slow`: the pool for password checks; `outbound`: for calls that wait on
    // other servers (tests, confirmation mail, name look-ups).
    void Install(HttpServer& server, int slow, int outbound);

    HttpResponse Show(const HttpRequest& request);
    HttpResponse LogIn(const HttpRequest& request);
    HttpResponse LogOut(const HttpRequest& request);
    HttpResponse ShowAdd(const HttpRequest& request);
    HttpResponse AddChannel(const HttpRequest& request);
    HttpResponse TestChannel(const HttpRequest& request);
    HttpResponse DeleteChannel(const HttpRequest& request);
    HttpResponse ChangePassword(const HttpRequest& request);
    HttpResponse DeleteAccount(const HttpRequest& request);
    // The link of a confirmation mail shows a button; the button's POST confirms
    // (mail scanners open links, they do not press buttons).
    HttpResponse ShowConfirm(const HttpRequest& request);
    HttpResponse Confirm(const HttpRequest& request);
    HttpResponse ShowRegister(const HttpRequest& request);
    HttpResponse Register(const HttpRequest& request);

private:
    struct Session
    {
        AccountSession data;
        std::string digest;
    };
    std::optional<Session> session(const HttpRequest& request);
    // The session when the form's token belongs to it and the request is no
    // other site's; otherwise the answer to give instead.
    std::optional<Session> formSession(const HttpRequest& request, HttpResponse* refusal);
    HttpResponse startSession(const std::string& nick, const std::string& message);
    std::string baseUrl(const HttpRequest& request) const;

    ServerDb& m_db;
    Forwarder& m_forwarder;
    const OutboundPolicy& m_policy;
    const SmtpSettings& m_smtp;
    Options m_options;
    Throttle m_throttle;
    // Confirmation mail goes to strangers' addresses: a few a day per account, per
    // recipient and per address that asks.
    RateLimiter m_mailsPerAccount, m_mailsPerRecipient, m_mailsPerAddress;
    RateLimiter m_tests; // test messages per channel
};

inline constexpr double kConfirmMailsPerDay = 3;

} // namespace vexory::server
