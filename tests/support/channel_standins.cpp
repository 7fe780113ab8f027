#include "support/channel_standins.h"

#include "base/encoding.h"
#include "support/wait.h"

#include <netinet/in.h>
#include <openssl/evp.h>
#include <openssl/hmac.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <thread>

namespace vexory::test {

namespace {

using nlohmann::json;

std::string hmacBase64(const std::string& key, const std::string& message)
{
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int n = 0;
    HMAC(EVP_sha256(), key.data(), static_cast<int>(key.size()), reinterpret_cast<const unsigned char*>(message.data()),
         message.size(), digest, &n);
    std::string out(4 * ((n + 2) / 3) + 1, '\0');
    out.resize(static_cast<size_t>(EVP_EncodeBlock(reinterpret_cast<unsigned char*>(out.data()), digest, n)));
    return out;
}

bool jsonBody(const httplib::Request& req, json& j, std::string& problem)
{
    if (req.method != "POST")
        problem += "method " + req.method + "; ";
    if (req.get_header_value("Content-Type").rfind("application/json", 0) != 0)
        problem += "Content-Type " + req.get_header_value("Content-Type") + "; ";
    j = json::parse(req.body, nullptr, false);
    if (!j.is_object()) {
        problem += "body is no JSON object; ";
        return false;
    }
    return true;
}

std::string str(const json& j, const char* key)
{
    return j.is_object() && j.contains(key) && j[key].is_string() ? j[key].get<std::string>() : std::string();
}

// A message over the limit the channel publishes: noted, and refused as the API refuses it.
bool tooLong(size_t size, size_t limit, const std::string& what, std::string& problem)
{
    if (size <= limit)
        return false;
    problem += what + " of " + std::to_string(size) + " over " + std::to_string(limit) + "; ";
    return true;
}

// A field of an application/x-www-form-urlencoded body, decoded.
std::string formValue(const std::string& body, const std::string& name)
{
    for (size_t at = 0; at <= body.size();) {
        size_t end = body.find('&', at);
        if (end == std::string::npos)
            end = body.size();
        const std::string pair = body.substr(at, end - at);
        at = end + 1;
        if (pair.rfind(name + "=", 0) != 0)
            continue;
        std::string out;
        for (size_t i = name.size() + 1; i < pair.size(); ++i) {
            if (pair[i] == '+') {
                out += ' ';
            } else if (pair[i] == '%' && i + 2 < pair.size() &&
                       std::isxdigit(static_cast<unsigned char>(pair[i + 1])) &&
                       std::isxdigit(static_cast<unsigned char>(pair[i + 2]))) {
                out += static_cast<char>(std::stoi(pair.substr(i + 1, 2), nullptr, 16));
                i += 2;
            } else {
                out += pair[i];
            }
        }
        return out;
    }
    return {};
}

size_t utf16Units(const std::string& text)
{
    size_t units = 0;
    for (unsigned char c : text)
        units += (c & 0xC0) != 0x80 ? (c >= 0xF0 ? 2 : 1) : 0;
    return units;
}

std::string rawOf(const httplib::Request& req)
{
    std::string raw = req.method + " " + req.target + "\n";
    for (const auto& [name, value] : req.headers)
        if (name != "Host" && name != "Accept" && name != "User-Agent" && name != "REMOTE_ADDR" &&
            name != "REMOTE_PORT" && name != "LOCAL_ADDR" && name != "LOCAL_PORT")
            raw += name + ": " + value + "\n";
    return raw + "\n" + req.body;
}

int freePort()
{
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t n = sizeof a;
    int port = 0;
    if (bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 &&
        getsockname(fd, reinterpret_cast<sockaddr*>(&a), &n) == 0)
        port = ntohs(a.sin_port);
    close(fd);
    return port;
}

std::string base64Decode(std::string text)
{
    std::string clean;
    for (char c : text)
        if (c == '+')
            clean += '-';
        else if (c == '/')
            clean += '_';
        else if (c != '\r' && c != '\n' && c != '=')
            clean += c;
    return Base64UrlDecode(clean);
}

} // namespace

ChannelStandIns::ChannelStandIns()
{
    httplib::Server& s = m_server.routes();
    s.Post("/cgi-bin/webhook/send", [this](const httplib::Request& req, httplib::Response& res) {
        json j;
        std::string problem;
        if (jsonBody(req, j, problem) && (str(j, "msgtype") != "text" || !j.contains("text")))
            problem += "msgtype; ";
        if (req.get_param_value("key") != "wecom-key-1")
            problem += "key " + req.get_param_value("key") + "; ";
        const std::string content = j.is_object() && j.contains("text") ? str(j["text"], "content") : "";
        if (content.empty())
            problem += "no content; ";
        const bool refused = tooLong(content.size(), 2048, "content", problem);
        keep("wecom", req, content, problem);
        res.set_content(refused ? R"({"errcode":40058,"errmsg":"content exceed max length 2048"})"
                                : R"({"errcode":0,"errmsg":"ok"})",
                        "application/json");
    });
    s.Post("/robot/send", [this](const httplib::Request& req, httplib::Response& res) {
        json j;
        std::string problem;
        jsonBody(req, j, problem);
        if (req.get_param_value("access_token") != "dingtalk-token-1")
            problem += "access_token; ";
        const std::string ts = req.get_param_value("timestamp");
        if (ts.empty() || req.get_param_value("sign") != hmacBase64(kDingTalkSecret, ts + "\n" + kDingTalkSecret))
            problem += "sign; ";
        const long long ms = ts.empty() ? 0 : std::stoll(ts);
        const long long now =
            std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::system_clock::now().time_since_epoch())
                .count();
        if (std::llabs(now - ms) > 3600 * 1000)
            problem += "timestamp not in milliseconds of now; ";
        const std::string content = j.is_object() && j.contains("text") ? str(j["text"], "content") : "";
        const bool refused = tooLong(content.size(), 20000, "content", problem);
        keep("dingtalk", req, content, problem);
        res.set_content(refused ? R"({"errcode":460101,"errmsg":"message too long"})"
                                : R"({"errcode":0,"errmsg":"ok"})",
                        "application/json");
    });
    s.Post(R"(/open-apis/bot/v2/hook/([\w-]+))", [this](const httplib::Request& req, httplib::Response& res) {
        json j;
        std::string problem;
        jsonBody(req, j, problem);
        if (req.matches[1] != "feishu-token-1")
            problem += "token; ";
        const std::string ts = str(j, "timestamp");
        if (ts.empty() || str(j, "sign") != hmacBase64(ts + "\n" + kFeishuSecret, ""))
            problem += "sign; ";
        if (!ts.empty() && std::llabs(std::stoll(ts) - static_cast<long long>(std::time(nullptr))) > 3600)
            problem += "timestamp not in seconds of now; ";
        if (str(j, "msg_type") != "text")
            problem += "msg_type; ";
        const bool refused = tooLong(req.body.size(), 20 << 10, "body", problem);
        keep("feishu", req, j.is_object() && j.contains("content") ? str(j["content"], "text") : "", problem);
        res.status = refused ? 400 : 200;
        res.set_content(refused ? R"({"code":9499,"msg":"request body too large"})"
                                : R"({"code":0,"msg":"success","data":{}})",
                        "application/json");
    });
    // The service takes forms of any size its limits allow: the form is read here,
    // not by the library (which refuses forms over 8 KB).
    s.Post(R"(/(SCT\w+)\.send)",
           [this](const httplib::Request& req, httplib::Response& res, const httplib::ContentReader& read) {
               std::string body;
               read([&](const char* data, size_t length) {
                   body.append(data, length);
                   return true;
               });
               std::string problem;
               if (req.matches[1] != "SCTserverchan1")
                   problem += "sendkey; ";
               if (req.get_header_value("Content-Type") != "application/x-www-form-urlencoded")
                   problem += "Content-Type; ";
               const std::string title = formValue(body, "title");
               if (title.empty())
                   problem += "no title; ";
               const std::string desp = formValue(body, "desp");
               const bool refused =
                   tooLong(utf16Units(title), 32, "title", problem) | tooLong(desp.size(), 32 << 10, "desp", problem);
               httplib::Request kept = req;
               kept.body = body;
               keep("serverchan", kept, title + "\n" + desp, problem);
               res.set_content(refused ? R"({"code":40001,"message":"desp too long"})"
                                       : R"({"code":0,"message":"","data":{}})",
                               "application/json");
           });
    s.Post("/send", [this](const httplib::Request& req, httplib::Response& res) {
        json j;
        std::string problem;
        jsonBody(req, j, problem);
        if (str(j, "token") != "pushplus-token-1" || str(j, "template") != "txt" || str(j, "title").empty())
            problem += "token, template or title; ";
        const bool refused = tooLong(str(j, "content").size(), 20000, "content", problem);
        keep("pushplus", req, str(j, "title") + "\n" + str(j, "content"), problem);
        res.set_content(refused ? R"({"code":999,"msg":"内容过长"})" : R"({"code":200,"msg":"请求成功","data":"x"})",
                        "application/json");
    });
    s.Post("/push", [this](const httplib::Request& req, httplib::Response& res) {
        json j;
        std::string problem;
        jsonBody(req, j, problem);
        if (str(j, "device_key") != "bark-key-1" || str(j, "title").empty())
            problem += "device_key or title; ";
        // The notification carries it all, and the phone's push service takes 4 KB.
        const bool refused = tooLong(req.body.size(), 4096, "body", problem);
        keep("bark", req, str(j, "title") + "\n" + str(j, "body"), problem);
        res.status = refused ? 400 : 200;
        res.set_content(refused ? R"({"code":400,"message":"payload too large"})"
                                : R"({"code":200,"message":"success"})",
                        "application/json");
    });
    s.Post("/", [this](const httplib::Request& req, httplib::Response& res) {
        json j;
        std::string problem;
        jsonBody(req, j, problem);
        if (str(j, "topic") != "vexory-topic-1")
            problem += "topic; ";
        if (req.get_header_value("Authorization") != "Bearer tk_ntfy1")
            problem += "Authorization; ";
        // Longer, the message would arrive as an attachment, not as a notification.
        tooLong(str(j, "message").size(), 4096, "message", problem);
        keep("ntfy", req, str(j, "title") + "\n" + str(j, "message"), problem);
        res.set_content(R"({"id":"abc","event":"message"})", "application/json");
    });
    s.Post("/message", [this](const httplib::Request& req, httplib::Response& res) {
        json j;
        std::string problem;
        jsonBody(req, j, problem);
        if (req.get_header_value("X-Gotify-Key") != "gotify-token-1")
            problem += "X-Gotify-Key; ";
        if (!j.is_object() || !j.contains("priority") || !j["priority"].is_number_integer())
            problem += "priority; ";
        keep("gotify", req, str(j, "title") + "\n" + str(j, "message"), problem);
        res.set_content(R"({"id":1})", "application/json");
    });
    s.Post(R"(/bot([\w:-]+)/sendMessage)", [this](const httplib::Request& req, httplib::Response& res) {
        json j;
        std::string problem;
        jsonBody(req, j, problem);
        if (req.matches[1] != "123456:telegram-token")
            problem += "token; ";
        if (str(j, "chat_id") != "42")
            problem += "chat_id; ";
        const bool refused = tooLong(utf16Units(str(j, "text")), 4096, "text", problem);
        keep("telegram", req, str(j, "text"), problem);
        res.status = refused ? 400 : 200;
        res.set_content(refused ? R"({"ok":false,"error_code":400,"description":"Bad Request: message is too long"})"
                                : R"({"ok":true,"result":{"message_id":1}})",
                        "application/json");
    });
    s.Post("/hook", [this](const httplib::Request& req, httplib::Response& res) {
        json j;
        std::string problem;
        jsonBody(req, j, problem);
        if (str(j, "nick").empty() || !j.contains("id"))
            problem += "nick or id; ";
        keep("webhook", req, str(j, "text"), problem);
        res.set_content("ok", "text/plain");
    });
    m_server.start();
}

std::string ChannelStandIns::apiOption() const
{
    std::string out;
    for (const char* kind : {"wecom", "dingtalk", "feishu", "serverchan", "pushplus", "bark", "ntfy", "telegram"})
        out += (out.empty() ? "" : ",") + std::string(kind) + "=" + base();
    return out;
}

void ChannelStandIns::keep(const std::string& kind, const httplib::Request& req, std::string text, std::string problem)
{
    std::lock_guard lock(m_mutex);
    m_got.push_back({kind, std::move(text), std::move(problem), rawOf(req)});
}

std::vector<Received> ChannelStandIns::got(const std::string& kind)
{
    std::lock_guard lock(m_mutex);
    std::vector<Received> out;
    for (const Received& r : m_got)
        if (r.kind == kind)
            out.push_back(r);
    return out;
}

size_t ChannelStandIns::count(const std::string& kind)
{
    return got(kind).size();
}

MailSink::MailSink()
{
    m_port = freePort();
    const std::string maildir = m_dir.path() + "/mail";
    const std::string port = "127.0.0.1:" + std::to_string(m_port);
    m_pid = fork();
    if (m_pid == 0) {
        prctl(PR_SET_PDEATHSIG, SIGKILL);
        execl("/usr/bin/python3", "python3", "-m", "aiosmtpd", "-n", "-l", port.c_str(), "-c",
              "aiosmtpd.handlers.Mailbox", maildir.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    // Ready when it takes connections.
    const bool up = waitFor(
        [&] {
            const int fd = socket(AF_INET, SOCK_STREAM, 0);
            sockaddr_in a{};
            a.sin_family = AF_INET;
            a.sin_port = htons(static_cast<uint16_t>(m_port));
            a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
            const bool connected = connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
            close(fd);
            return connected;
        },
        std::chrono::seconds(30));
    if (!up)
        m_port = 0;
}

MailSink::~MailSink()
{
    if (m_pid > 0) {
        kill(m_pid, SIGTERM);
        waitpid(m_pid, nullptr, 0);
    }
}

std::vector<std::string> MailSink::mails() const
{
    std::vector<std::pair<std::filesystem::file_time_type, std::string>> files;
    std::error_code ec;
    for (const auto& e : std::filesystem::directory_iterator(m_dir.path() + "/mail/new", ec))
        files.emplace_back(e.last_write_time(), e.path().string());
    std::sort(files.begin(), files.end());
    std::vector<std::string> out;
    for (const auto& [time, path] : files) {
        std::ifstream in(path);
        std::stringstream all;
        all << in.rdbuf();
        const std::string mail = all.str();
        const size_t body = mail.find("\n\n");
        std::string subject;
        std::smatch m;
        if (std::regex_search(mail, m, std::regex("Subject: =\\?UTF-8\\?B\\?([A-Za-z0-9+/=]+)\\?=")))
            subject = base64Decode(m[1]);
        out.push_back(subject + "\n" + (body == std::string::npos ? std::string() : base64Decode(mail.substr(body))));
    }
    return out;
}

AccountBrowser::AccountBrowser(int port) : m_client(PatientClient(port))
{
    m_cookies["vexory_form"] = kFormToken;
}

httplib::Headers AccountBrowser::headers(const httplib::Headers& extra) const
{
    std::string cookie;
    for (const auto& [name, value] : m_cookies)
        if (!value.empty())
            cookie += (cookie.empty() ? "" : "; ") + name + "=" + value;
    httplib::Headers h = extra;
    h.emplace("Cookie", cookie);
    return h;
}

void AccountBrowser::keepCookies(const httplib::Result& r)
{
    if (!r)
        return;
    for (const auto& [name, value] : r->headers) {
        if (name != "Set-Cookie")
            continue;
        const size_t eq = value.find('='), end = value.find(';');
        m_cookies[value.substr(0, eq)] = value.substr(eq + 1, end - eq - 1);
    }
}

httplib::Result AccountBrowser::get(const std::string& path)
{
    httplib::Result r = m_client.Get(path, headers({}));
    keepCookies(r);
    return r;
}

httplib::Result AccountBrowser::post(const std::string& path, const std::string& body, const httplib::Headers& extra)
{
    httplib::Result r = m_client.Post(path, headers(extra), body, "application/x-www-form-urlencoded");
    keepCookies(r);
    return r;
}

std::string AccountBrowser::csrf()
{
    const httplib::Result r = get("/account");
    std::smatch m;
    if (!r || !std::regex_search(r->body, m, std::regex("name=\"csrf\" value=\"([0-9a-f]+)\"")))
        return {};
    return m[1];
}

std::string AccountBrowser::addChannel(const std::string& kind, const std::map<std::string, std::string>& fields)
{
    std::string body = "csrf=" + csrf() + "&kind=" + kind;
    for (const auto& [key, value] : fields)
        body += "&" + key + "=" + httplib::detail::encode_query_param(value);
    const httplib::Result r = post("/account/channels", body);
    return r && r->status == 303 ? r->get_header_value("Location") : std::string();
}

} // namespace vexory::test
