#pragma once

// What tests of the service do again and again: accounts, logins and pushes with
// the program's own client, the admin command line's JSON lines, waiting.

#include "base/encoding.h"
#include "service/http_client.h"
#include "service/service_client.h"
#include "support/wait.h"

#include <nlohmann/json.hpp>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <vector>

namespace vexory::test {

inline TAccountRecord account(const std::string& nick, const std::string& password)
{
    TAccountRecord a;
    a.Nickname = nick;
    a.PasswordDigest = Sha1Hex(password);
    return a;
}

// The client's login result. HOST: "127.0.0.1:PORT". The client gives a server
// 3 s, and a sanitized server among other tests can take longer to check a
// password: a login that ran out of time is made again, for up to half a minute
// (a refusal, which also reads as no answer, is not).
inline int loginAnswer(TAccountRecord& a, const std::string& host, bool automatic, int32_t& version)
{
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    const int32_t asked = version;
    for (;;) {
        const auto start = std::chrono::steady_clock::now();
        version = asked;
        const int answer = Login(a, host, automatic, version);
        const bool outOfTime =
            std::chrono::steady_clock::now() - start >= std::chrono::milliseconds(kServiceTimeoutMs - 100);
        if (answer != LoginNoAnswer || !outOfTime || std::chrono::steady_clock::now() > end)
            return answer;
    }
}

inline int loginAnswer(TAccountRecord& a, const std::string& host)
{
    int32_t version = 6;
    return loginAnswer(a, host, false, version);
}

inline bool loggedIn(TAccountRecord& a, const std::string& host)
{
    return loginAnswer(a, host) == LoginDone;
}

// `taskName` in code page 936, as the program keeps it.
inline PushReply push(TAccountRecord& a, const std::string& host, const std::string& records,
                      const std::string& taskName = "task")
{
    TTaskRecord task;
    task.TaskName = taskName;
    task.SetPageUrl("http://127.0.0.1/list");
    task.FormulaSent = 1;
    return ReadPushReply(PushResult(task, a, host, records));
}

// Taken for a client that is still logged in: what the client reports as sent.
inline bool acknowledged(const PushReply& r)
{
    return r.taken && !r.nicknameInvalid && !r.loggedInElsewhere;
}

// The form token a browser holds in a cookie and sends again with each form
// of the register and login pages.
inline constexpr const char* kFormToken = "0123456789abcdef0123456789abcdef";
inline const std::string kFormCookie = std::string("vexory_form=") + kFormToken;
inline std::string registerForm(const std::string& nick, const std::string& password, const std::string& again)
{
    return std::string("csrf=") + kFormToken + "&nick=" + nick + "&password=" + password + "&password2=" + again;
}

// A connection to 127.0.0.1:PORT from a loopback address of the caller's choice
// (each counts as another client); -1 when it cannot be made.
inline int ConnectFrom(int port, const char* from)
{
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in local{};
    local.sin_family = AF_INET;
    inet_pton(AF_INET, from, &local.sin_addr);
    sockaddr_in server{};
    server.sin_family = AF_INET;
    server.sin_port = htons(static_cast<uint16_t>(port));
    inet_pton(AF_INET, "127.0.0.1", &server.sin_addr);
    if (bind(fd, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0 ||
        connect(fd, reinterpret_cast<sockaddr*>(&server), sizeof server) != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

inline std::vector<nlohmann::json> jsonLines(const std::string& out)
{
    std::vector<nlohmann::json> rows;
    for (size_t start = 0, k; (k = out.find('\n', start)) != std::string::npos; start = k + 1)
        rows.push_back(nlohmann::json::parse(out.substr(start, k - start)));
    return rows;
}

} // namespace vexory::test
