#include "server_app.h"

#include "server_pages.h"

#include "formula/text_helpers.h"
#include "platform/codepage.h"
#include "service/protocol_codec.h"

#include <curl/curl.h>
#include <httplib.h>
#include <nlohmann/json.hpp>

#include <cstdio>

namespace vexory::server {

namespace {

constexpr size_t kMaxNick = 64, kMaxTask = 512, kMaxUrl = 8192, kMaxFormula = 256 << 10, kMaxKey = 8192;

ServiceApp::Reply bad(const char* why)
{
    return {400, std::string("bad request: ") + why + "\n"};
}

ServiceApp::Reply text(std::string body)
{
    return {200, std::move(body)};
}

// The request number and its code must belong together.
bool validCode(const std::string& value, const std::string& code)
{
    if (value.empty() || value.size() > 10 || value.find_first_not_of("0123456789") != std::string::npos)
        return false;
    const unsigned long long n = std::stoull(value);
    return n <= 2147483646ull && code == RequestCode(static_cast<uint32_t>(n));
}

bool validText(const std::string& s, size_t max)
{
    if (s.size() > max)
        return false;
    for (unsigned char c : s)
        if (c < 0x20 && c != '\r' && c != '\n' && c != '\t')
            return false;
    return true;
}

// A Base64Url form value, decoded to UTF-8 text ("" when absent).
std::string formText(const std::string& body, const char* key)
{
    return Base64UrlDecode(FormValue(body, key));
}

std::string versionSuffix(int version)
{
    char buffer[8];
    std::snprintf(buffer, sizeof buffer, "%03d", version % 1000);
    return buffer;
}

std::string escapeHtml(const std::string& s)
{
    std::string out;
    for (char c : s) {
        switch (c) {
        case '<': out += "&lt;"; break;
        case '>': out += "&gt;"; break;
        case '&': out += "&amp;"; break;
        case '"': out += "&quot;"; break;
        default: out += c;
        }
    }
    return out;
}

std::vector<std::string> splitLines(const std::string& s, size_t first)
{
    std::vector<std::string> out;
    size_t start = 0;
    while (out.size() < first) {
        const size_t k = s.find("\r\n", start);
        if (k == std::string::npos)
            break;
        out.push_back(s.substr(start, k - start));
        start = k + 2;
    }
    out.push_back(s.substr(std::min(start, s.size())));
    return out;
}

size_t collectNothing(char*, size_t size, size_t count, void*)
{
    return size * count;
}

} // namespace

bool PostWebhook(const std::string& url, const std::string& json, int timeoutMs)
{
    CURL* h = curl_easy_init();
    if (!h)
        return false;
    curl_slist* headers = curl_slist_append(nullptr, "Content-Type: application/json; charset=utf-8");
    curl_easy_setopt(h, CURLOPT_URL, url.c_str());
    curl_easy_setopt(h, CURLOPT_HTTPHEADER, headers);
    curl_easy_setopt(h, CURLOPT_POSTFIELDS, json.data());
    curl_easy_setopt(h, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(json.size()));
    curl_easy_setopt(h, CURLOPT_TIMEOUT_MS, static_cast<long>(timeoutMs));
    curl_easy_setopt(h, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, collectNothing);
    long status = 0;
    const bool sent = curl_easy_perform(h) == CURLE_OK;
    curl_easy_getinfo(h, CURLINFO_RESPONSE_CODE, &status);
    curl_slist_free_all(headers);
    curl_easy_cleanup(h);
    return sent && status >= 200 && status < 300;
}

ServiceApp::Reply ServiceApp::Login(const std::string& value, const std::string& code, const std::string& body)
{
    if (!validCode(value, code))
        return bad("request code");
    const std::string nick = formText(body, "username");
    const std::string digest = FormValue(body, "password");
    if (nick.empty() || !validText(nick, kMaxNick))
        return bad("username");
    if (digest.size() != 40 || digest.find_first_not_of("0123456789abcdef") != std::string::npos)
        return bad("password");
    const std::string suffix = versionSuffix(m_options.clientVersion);
    std::optional<User> user = m_db.FindUser(nick);
    if (!user)
        return text("noregister" + suffix);
    if (!m_db.CheckPassword(nick, digest))
        return text("error" + suffix);
    LoginRecord record;
    record.userNumber = static_cast<int32_t>(m_db.NewLogin(nick));
    record.userNumberValid = true;
    record.pluginRight = user->rights & RightPlugin;
    record.multiTaskRight = user->rights & RightMultiTask;
    record.chainRight = user->rights & RightChain;
    record.fastRefreshRight = user->rights & RightFastRefresh;
    return text(EncodeLoginRecord(record) + suffix);
}

ServiceApp::Reply ServiceApp::Push(const std::string& value, const std::string& code, const std::string& body)
{
    if (!validCode(value, code))
        return bad("request code");
    const std::string payload(StripPushFiller(DecodePushBody(body)));
    if (payload.empty())
        return bad("body");
    // nickname, user number, task, URL, formula, then the records (several lines)
    std::vector<std::string> lines = splitLines(payload, 5);
    if (lines.size() != 6)
        return bad("payload");
    const std::string& nick = lines[0];
    if (nick.empty() || !validText(nick, kMaxNick) || !validText(lines[2], kMaxTask) ||
        !validText(lines[3], kMaxUrl) || !validText(lines[4], kMaxFormula) || !validText(lines[5], m_options.maxBody))
        return bad("payload fields");
    const std::optional<User> user = m_db.FindUser(nick);
    if (!user)
        return text(MakePushReply(false, true, false, false, false));
    if (std::to_string(user->userNumber) != lines[1] || user->userNumber == 0)
        return text(MakePushReply(true, false, false, false, false));

    StoredResult result;
    result.nick = nick;
    result.task = lines[2];
    result.url = lines[3];
    result.formula = lines[4] == " " ? std::string() : lines[4];
    result.records = lines[5];
    const bool shutoff = m_db.TakeShutoff(nick);
    result.id = m_db.StoreResult(result);
    if (result.id == 0)
        return {500, "cannot store the result\n"};
    if (shutoff)
        return text(MakePushReply(true, true, true, false, false));
    const bool forwarded = forward(*user, result);
    if (forwarded)
        m_db.MarkForwarded(result.id);
    return text(MakePushReply(true, true, false, forwarded, user->rights & RightPlugin));
}

bool ServiceApp::forward(const User& user, const StoredResult& result)
{
    if (user.webhook.empty())
        return false;
    nlohmann::json j = {{"nick", result.nick},       {"task", result.task}, {"url", result.url},
                        {"records", result.records}, {"id", result.id},     {"text", "[ " + result.task + " ]\n" + result.records}};
    return PostWebhook(user.webhook, j.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace),
                       m_options.webhookTimeoutMs);
}

ServiceApp::Reply ServiceApp::Share(const std::string& value, const std::string& code, const std::string& body)
{
    if (!validCode(value, code))
        return text("error");
    const std::string nick = formText(body, "username");
    const std::string key = formText(body, "key");
    if (nick.empty() || !validText(nick, kMaxNick) || key.empty() || !validText(key, kMaxKey) || !m_db.FindUser(nick))
        return text("error");
    if (HasFormValue(body, "value")) {
        const std::string formula = formText(body, "value");
        const std::string note = formText(body, "note");
        if (formula.empty() || !validText(formula, kMaxFormula) || !validText(note, kMaxFormula))
            return text("error");
        return text(m_db.AddFormula(nick, key, formula, note) ? "success" : "exist");
    }
    const std::vector<std::string> formulas = m_db.ApprovedFormulas(key);
    if (formulas.empty())
        return text("null");
    std::string joined;
    for (size_t i = 0; i < formulas.size(); ++i)
        joined += (i ? "\r\n" : "") + formulas[i];
    return text(Base64UrlEncode(joined));
}

void ServiceApp::Install(httplib::Server& server)
{
    // The routes read bodies themselves and answer 413 past the limit; the /register form
    // is parsed by the library, which keeps such bodies under 8 KB anyway.
    using Handler = Reply (ServiceApp::*)(const std::string&, const std::string&, const std::string&);
    auto script = [this, &server](const char* path, Handler handler) {
        // Read with a content reader: the library's own form parsing stops at 8 KB.
        server.Post(path, [this, handler](const httplib::Request& req, httplib::Response& res,
                                          const httplib::ContentReader& reader) {
            std::string body;
            bool tooLarge = false;
            reader([&](const char* data, size_t length) {
                if (body.size() + length > m_options.maxBody) {
                    tooLarge = true;
                    return false;
                }
                body.append(data, length);
                return true;
            });
            if (tooLarge) {
                res.status = 413;
                res.set_content("request body too large\n", "text/plain");
                return;
            }
            Reply r = (this->*handler)(req.get_param_value("value"), req.get_param_value("code"), body);
            res.status = r.status;
            res.set_content(r.body, r.contentType.c_str());
        });
    };
    script("/client/LogIn.php", &ServiceApp::Login);
    script("/client/SendInfo.php", &ServiceApp::Push);
    script("/client/Svn.php", &ServiceApp::Share);

    const char* html = "text/html; charset=utf-8";
    server.Get("/advert.php", [html](const httplib::Request& req, httplib::Response& res) {
        // The help page's whole address, as the client reached this service.
        std::string page = pages::kAdvert;
        const std::string host = req.get_header_value("Host");
        const std::string help = escapeHtml("http://" + (host.empty() ? std::string("127.0.0.1") : host) + "/Help.php");
        page.replace(page.find("{HELP}"), 6, help);
        res.set_content(page, html);
    });
    server.Get("/Help.php", [html](const httplib::Request&, httplib::Response& res) {
        res.set_content(pages::kHelp, html);
    });
    server.Get("/register", [html](const httplib::Request&, httplib::Response& res) {
        res.set_content(pages::kRegisterForm, html);
    });
    server.Post("/register", [this, html](const httplib::Request& req, httplib::Response& res) {
        const std::string nick = req.get_param_value("nick");
        const std::string password = req.get_param_value("password");
        std::string message;
        if (nick.empty() || nick.size() > 32 || !validText(nick, 32) || nick.find_first_of("\r\n\t") != std::string::npos)
            message = "昵称不能为空，最多 32 个字节。";
        else if (password.empty() || password != req.get_param_value("password2"))
            message = "两次输入的密码不一致。";
        else if (!Utf8ToGbkStrict(nick))
            message = "昵称里有 Vexory 无法显示的字符。";
        else {
            // The client sends the SHA-1 of the password as its GBK bytes.
            std::string error;
            const std::optional<std::string> gbk = Utf8ToGbkStrict(password);
            if (!gbk)
                message = "密码里有 Vexory 无法输入的字符。";
            else if (m_db.AddUser(nick, Sha1Hex(*gbk), m_options.registerRights, "", &error))
                message = "注册成功，请在 Vexory 中登录。";
            else
                message = "这个昵称已经有人使用。";
        }
        res.set_content("<!DOCTYPE html><html lang=\"zh-CN\"><head><meta charset=\"utf-8\"><title>Vexory</title></head>"
                        "<body><p>" + escapeHtml(message) + "</p><p><a href=\"/register\">返回</a></p></body></html>",
                        html);
    });
    server.Get(R"(/inbox/([0-9a-f]{32}))", [this, html](const httplib::Request& req, httplib::Response& res) {
        const std::optional<User> user = m_db.FindUserByInbox(req.matches[1]);
        if (!user) {
            res.status = 404;
            return;
        }
        std::string page = "<!DOCTYPE html><html lang=\"zh-CN\"><head><meta charset=\"utf-8\"><title>" +
                           escapeHtml(user->nick) + " 的收件箱</title></head><body><h1>" + escapeHtml(user->nick) +
                           " 的收件箱</h1>";
        for (const StoredResult& r : m_db.Results(user->nick, 200))
            page += "<h3>[ " + escapeHtml(r.task) + " ] " + escapeHtml(r.received) + "</h3><p>" + escapeHtml(r.url) +
                    "</p><pre>" + escapeHtml(r.records) + "</pre>";
        res.set_content(page + "</body></html>", html);
    });
}

} // namespace vexory::server
