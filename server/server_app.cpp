#include "server_app.h"

#include "account_pages.h"
#include "db_util.h"
#include "listen_socket.h"
#include "server_pages.h"
#include "web_text.h"

#include "base/encoding.h"
#include "platform/codepage.h"
#include "service/protocol_codec.h"

#include <algorithm>
#include <cstdio>
#include <thread>

#include <sys/statvfs.h>

namespace vexory::server {

namespace {

// Shared formulas an account may have waiting or approved.
constexpr int64_t kFormulasPerAccount = 20, kFormulaCharactersPerAccount = 512 << 10;
constexpr size_t kMaxNick = 64, kMaxTask = 512, kMaxUrl = 8192, kMaxFormula = 256 << 10, kMaxKey = 8192;

constexpr size_t kMaxRegisterNick = 32;
constexpr int kInboxPage = 50;
constexpr size_t kInboxShown = 4096;
// A slowed-down nickname waits at most this long: its owner still logs in within
// the client's three seconds while a stranger guesses on it.
constexpr std::chrono::milliseconds kNickDelayCap{1000};
constexpr const char* kHtml = "text/html; charset=utf-8";

HttpResponse bad(const char* why)
{
    return PlainResponse(400, std::string("bad request: ") + why + "\n");
}

HttpResponse text(std::string body)
{
    return PlainResponse(200, std::move(body));
}

HttpResponse databaseDown()
{
    HttpResponse r = PlainResponse(503, "the service's database cannot be reached; try again later\n");
    r.headers.emplace_back("Retry-After", "5");
    return r;
}

HttpResponse html(std::string body, int status = 200)
{
    HttpResponse r = PlainResponse(status, std::move(body));
    r.contentType = kHtml;
    return r;
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

// A Base64Url form value, decoded to UTF-8 text ("" when absent, or when its bytes
// are no text: see ClientText).
std::string formText(const std::string& body, const char* key)
{
    return ClientText(Base64UrlDecode(FormValue(body, key))).value_or(std::string());
}

std::string versionSuffix(int version)
{
    char buffer[8];
    std::snprintf(buffer, sizeof buffer, "%03d", version % 1000);
    return buffer;
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

const char* forwardStateText(const StoredResult& r)
{
    if (r.forwardState == "sent")
        return "已转发";
    if (r.forwardState == "pending")
        return r.attempts > 0 ? "转发失败，等待重试" : "等待转发";
    if (r.forwardState == "failed")
        return "转发失败，已放弃";
    return "";
}

std::string inboxPage(const User& user, const std::vector<StoredResult>& results, int page, int64_t total)
{
    const std::string base = "/inbox/" + user.inboxToken;
    std::string out = "<!DOCTYPE html><html lang=\"zh-CN\"><head><meta charset=\"utf-8\"><title>" +
                      pages::EscapeHtml(user.nick) + " 的收件箱</title></head><body><h1>" +
                      pages::EscapeHtml(user.nick) + " 的收件箱</h1><p>共 " + std::to_string(total) + " 条结果</p>";
    for (const StoredResult& r : results) {
        const std::string state = forwardStateText(r);
        out += "<h3>[ " + pages::EscapeHtml(r.task) + " ] " + pages::EscapeHtml(db::LocalTimeText(r.received)) +
               (state.empty() ? std::string() : " · " + state) + "</h3><p>" + pages::EscapeHtml(r.url) + "</p><pre>" +
               pages::EscapeHtml(Utf8Prefix(r.records, kInboxShown)) + "</pre>";
        if (r.records.size() > kInboxShown)
            out += "<p><a href=\"" + base + "/" + std::to_string(r.id) + "\">全文（" +
                   std::to_string(r.records.size()) + " 字节）</a></p>";
    }
    out += "<p>";
    if (page > 1)
        out += "<a href=\"" + base + "?page=" + std::to_string(page - 1) + "\">较新的结果</a> ";
    if (static_cast<int64_t>(page) * kInboxPage < total)
        out += "<a href=\"" + base + "?page=" + std::to_string(page + 1) + "\">较早的结果</a>";
    return out + "</p></body></html>";
}

} // namespace

std::string TrimNickname(const std::string& nick)
{
    const size_t first = nick.find_first_not_of(" \t\r\n");
    if (first == std::string::npos)
        return {};
    return nick.substr(first, nick.find_last_not_of(" \t\r\n") - first + 1);
}

std::string NicknameProblem(const std::string& nick)
{
    if (nick.empty() || nick.size() > kMaxRegisterNick)
        return "昵称不能为空，最多 32 个字节。";
    for (unsigned char c : nick)
        if (c < 0x20 || c == 0x7f)
            return "昵称里不能有控制字符。";
    if (!Utf8ToGbkStrict(nick))
        return "昵称里有 Vexory 无法显示的字符。";
    return {};
}

ServiceApp::ServiceApp(ServerDb& db, ServerOptions options)
    : m_db(db), m_options(options), m_addressFailures(db, "address", FailureLimiter::Config{}),
      m_numberFailures(db, "number", FailureLimiter::Config{}),
      m_nickFailures(
          db, "nick",
          FailureLimiter::Config{5, std::chrono::milliseconds(250), kNickDelayCap, std::chrono::minutes(15)}),
      m_pushRate(db, "push", options.pushesPerMinute, options.pushBurst), m_registerRate(db, "register", 10, 5),
      m_loginRate(db, "login", 30, 20),
      m_forwarder(db, m_policy, m_options.smtp,
                  ForwardOptions{options.forwarders, options.webhookTimeoutMs, options.forwardRetryMs,
                                 options.forwardForMs, 20, options.channelApi, options.publicUrl}),
      m_account(db, m_forwarder, m_policy, m_options.smtp,
                AccountApp::Options{options.publicUrl, options.registerRights, 16, options.accountsPerAddress},
                AccountApp::Throttle{[this](const HttpRequest& r, const std::string& nick) { return admit(r, nick); },
                                     [this](const HttpRequest& r, const std::string& nick) { failed(r, nick); }})
{
    // main() checked the ranges.
    for (const std::string& range : options.forwardAllow)
        m_policy.Allow(range, nullptr);
    for (std::string& address : m_options.monitorAllow)
        address = CanonicalAddress(address);
}

ServiceApp::~ServiceApp()
{
    StopForwarding();
}

HttpServer::Admission ServiceApp::admit(const HttpRequest& request, const std::string& nick)
{
    HttpServer::Admission a;
    // An address that keeps failing gets one attempt per turn, however many
    // connections it opens.
    const std::chrono::milliseconds wait = m_addressFailures.TakeTurn(AddressKey(request.peer));
    if (wait.count() > 0) {
        HttpResponse r = PlainResponse(429, "too many failed attempts from this address; try again in " +
                                                std::to_string((wait.count() + 999) / 1000) + " s\n");
        r.headers.emplace_back("Retry-After", std::to_string((wait.count() + 999) / 1000));
        a.refuse = std::move(r);
        return a;
    }
    // Right passwords cost a slow check too: one address gets a share of them.
    if (!m_loginRate.Take(AddressKey(request.peer))) {
        HttpResponse r = PlainResponse(429, "too many logins from this address; try again in a few seconds\n");
        r.headers.emplace_back("Retry-After", "2");
        a.refuse = std::move(r);
        return a;
    }
    if (nick.empty())
        return a;
    // A nickname under attack is slowed, never closed: its owner still gets in. A
    // login from where the account last logged in is not held to the nickname's
    // share of the queue, and while the nickname is under attack it skips the
    // delay and goes ahead of the strangers' (only then: an account is no pass to
    // the front).
    a.account = nick;
    a.delay = m_nickFailures.Delay(nick);
    const std::optional<User> user = m_db.FindUser(nick);
    if (user && !user->loginAddress.empty() && user->loginAddress == request.peer) {
        a.account.clear();
        a.ahead = a.delay.count() > 0 || m_nickFailures.Failures(nick) > 0;
        a.delay = std::chrono::milliseconds(0);
    }
    return a;
}

HttpResponse ServiceApp::wrongNumber(const HttpRequest& request, const std::string& nick, HttpResponse reply)
{
    const std::chrono::milliseconds wait = m_numberFailures.TakeTurn(AddressKey(request.peer));
    m_numberFailures.Failed(AddressKey(request.peer));
    if (wait.count() > 0) {
        const std::string seconds = std::to_string((wait.count() + 999) / 1000);
        HttpResponse r =
            PlainResponse(429, "too many wrong user numbers from this address; try again in " + seconds + " s\n");
        r.headers.emplace_back("Retry-After", seconds);
        return r;
    }
    if (!nick.empty()) {
        m_nickFailures.Failed(nick);
        reply.delay = m_nickFailures.Delay(nick);
    }
    return reply;
}

void ServiceApp::failed(const HttpRequest& request, const std::string& nick)
{
    m_addressFailures.Failed(AddressKey(request.peer));
    if (!nick.empty())
        m_nickFailures.Failed(nick);
}

HttpResponse ServiceApp::Login(const HttpRequest& request)
{
    if (!validCode(request.Query("value"), request.Query("code")))
        return bad("request code");
    // Nicknames are kept trimmed, as registration keeps them.
    const std::string nick = TrimNickname(formText(request.body, "username"));
    const std::string digest = FormValue(request.body, "password");
    if (nick.empty() || !validText(nick, kMaxNick))
        return bad("username");
    if (digest.size() != 40 || digest.find_first_not_of("0123456789abcdef") != std::string::npos)
        return bad("password");
    const std::string suffix = versionSuffix(m_options.clientVersion);
    // A database that cannot be asked is no answer, never "not registered" or a
    // wrong password: the client would forget the account or the password.
    bool unreachable = false;
    std::optional<User> user = m_db.FindUser(nick, &unreachable);
    if (unreachable)
        return databaseDown();
    if (!user) {
        failed(request, {});
        return text("noregister" + suffix);
    }
    if (!m_db.CheckPassword(nick, digest, &unreachable)) {
        if (unreachable)
            return databaseDown();
        failed(request, nick);
        return text("error" + suffix);
    }
    const int64_t number = m_db.NewLogin(nick, request.peer);
    if (number == 0)
        return databaseDown();
    LoginRecord record;
    record.userNumber = static_cast<int32_t>(number);
    record.userNumberValid = true;
    record.pluginRight = user->rights & RightPlugin;
    record.multiTaskRight = user->rights & RightMultiTask;
    record.chainRight = user->rights & RightChain;
    record.fastRefreshRight = user->rights & RightFastRefresh;
    return text(EncodeLoginRecord(record) + suffix);
}

HttpResponse ServiceApp::Push(const HttpRequest& request)
{
    if (!validCode(request.Query("value"), request.Query("code")))
        return bad("request code");
    const std::string payload(StripPushFiller(DecodePushBody(request.body)));
    if (payload.empty())
        return bad("body");
    // nickname, user number, task, URL, formula, then the records (several lines)
    std::vector<std::string> lines = splitLines(payload, 5);
    if (lines.size() != 6)
        return bad("payload");
    for (std::string& line : lines) {
        std::optional<std::string> text = ClientText(line);
        if (!text)
            return bad("payload: neither UTF-8 nor GBK text");
        line = std::move(*text);
    }
    const std::string nick = TrimNickname(lines[0]);
    if (nick.empty() || !validText(nick, kMaxNick) || !validText(lines[2], kMaxTask) || !validText(lines[3], kMaxUrl) ||
        !validText(lines[4], kMaxFormula) || !validText(lines[5], m_options.maxBody))
        return bad("payload fields");
    bool unreachable = false;
    const std::optional<User> user = m_db.FindUser(nick, &unreachable);
    if (unreachable)
        return databaseDown(); // not "nickname not valid": that logs the client out
    if (!user)
        return wrongNumber(request, {}, text(MakePushReply(false, true, false, false, false)));
    if (std::to_string(user->userNumber) != lines[1] || user->userNumber == 0)
        return wrongNumber(request, nick, text(MakePushReply(true, false, false, false, false)));
    if (diskLow()) {
        HttpResponse r = PlainResponse(507, "the service's disk is almost full: results are not taken for now; "
                                            "logins and inboxes still work\n");
        r.headers.emplace_back("Retry-After", "300");
        return r;
    }
    if (lines[5].size() > m_options.maxResultBytes)
        return PlainResponse(413, "result too large: at most " + std::to_string(m_options.maxResultBytes) +
                                      " bytes of records a push\n");
    if (!m_pushRate.Take(nick))
        return PlainResponse(429, "too many results for this account: at most " +
                                      std::to_string(static_cast<int>(m_options.pushesPerMinute)) +
                                      " a minute after a burst of " +
                                      std::to_string(static_cast<int>(m_options.pushBurst)) + "\n");

    StoredResult result;
    result.nick = nick;
    result.task = lines[2];
    result.url = lines[3];
    result.formula = lines[4] == " " ? std::string() : lines[4];
    result.records = lines[5];
    result.userNumber = user->userNumber;
    const ServerDb::Stored stored = m_db.StorePush(result, m_options.keepResults, m_options.mergeMs);
    if (stored.ownerGone) // deleted, or logged in elsewhere, since the check
        return text(MakePushReply(true, false, false, false, false));
    if (stored.id == 0)
        return PlainResponse(500, "cannot store the result\n");
    if (stored.shutoff)
        return text(MakePushReply(true, true, true, false, false));
    m_forwarder.Wake();
    // Stored for the user is delivered: the inbox holds it, and the channels the
    // user bound get it from the outbox.
    return text(MakePushReply(true, true, false, true, user->rights & RightPlugin));
}

bool ServiceApp::diskLow()
{
    const std::string folder = m_db.LocalFolder();
    if (m_options.minFreeMb <= 0 || folder.empty())
        return false;
    const int64_t now = NowMs();
    int64_t checked = m_diskCheckedMs;
    if (now - checked >= 1000 && m_diskCheckedMs.compare_exchange_strong(checked, now)) {
        struct statvfs disk
        {
        };
        if (statvfs(folder.c_str(), &disk) == 0)
            m_diskLow = static_cast<int64_t>(disk.f_bavail) * static_cast<int64_t>(disk.f_frsize) <
                        m_options.minFreeMb * (1 << 20);
    }
    return m_diskLow;
}

void ServiceApp::StartForwarding()
{
    m_forwarder.Start();
}

bool ServiceApp::StopForwarding(std::chrono::milliseconds wait)
{
    return m_forwarder.Stop(wait);
}

HttpResponse ServiceApp::Share(const HttpRequest& request)
{
    if (!validCode(request.Query("value"), request.Query("code")))
        return text("error");
    const std::string& body = request.body;
    const std::string nick = TrimNickname(formText(body, "username"));
    const std::string key = formText(body, "key");
    if (nick.empty() || !validText(nick, kMaxNick) || key.empty() || !validText(key, kMaxKey))
        return text("error");
    const std::optional<User> user = m_db.FindUser(nick);
    if (!user)
        return wrongNumber(request, {}, text("error"));
    if (HasFormValue(body, "value")) {
        // Only a logged-in account uploads, from where it logged in: the request
        // carries no user number, the login's address stands for it.
        if (user->userNumber == 0 || user->loginAddress != request.peer)
            return wrongNumber(request, nick, text("error"));
        const std::string formula = formText(body, "value");
        const std::string note = formText(body, "note");
        if (formula.empty() || !validText(formula, kMaxFormula) || !validText(note, kMaxFormula))
            return text("error");
        // Formulas take the disk as results do, and each account a share of it.
        if (diskLow())
            return PlainResponse(507, "the service's disk is almost full: formulas are not taken for now\n");
        const auto [count, characters] = m_db.FormulaUsage(nick);
        if (count < 0)
            return databaseDown();
        if (count >= kFormulasPerAccount ||
            characters + static_cast<int64_t>(formula.size() + note.size()) > kFormulaCharactersPerAccount)
            return PlainResponse(507, "this account's shared formulas are at their quota (" +
                                          std::to_string(kFormulasPerAccount) + " formulas, " +
                                          std::to_string(kFormulaCharactersPerAccount) + " characters)\n");
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

HttpResponse ServiceApp::Inbox(const HttpRequest& request)
{
    // /inbox/TOKEN, /inbox/TOKEN?page=N or /inbox/TOKEN/ID (one result whole)
    const std::string rest = request.path.substr(std::string("/inbox/").size());
    const std::string token = rest.substr(0, rest.find('/'));
    const std::string item = rest.size() > token.size() ? rest.substr(token.size() + 1) : std::string();
    if (token.size() != 32 || token.find_first_not_of("0123456789abcdef") != std::string::npos ||
        (!item.empty() && (item.size() > 18 || item.find_first_not_of("0123456789") != std::string::npos)))
        return PlainResponse(404, "not found\n");
    bool unreachable = false;
    const std::optional<User> user = m_db.FindUserByInbox(token, &unreachable);
    if (unreachable)
        return databaseDown();
    if (!user)
        return PlainResponse(404, "not found\n");
    if (!item.empty()) {
        const std::optional<StoredResult> r = m_db.Result(user->nick, std::stoll(item));
        if (!r)
            return PlainResponse(404, "not found\n");
        return text("[ " + r->task + " ] " + db::LocalTimeText(r->received) + "\n" + r->url + "\n\n" + r->records);
    }
    const std::string pageText = request.Query("page");
    int page = 1;
    if (!pageText.empty() && pageText.size() < 7 && pageText.find_first_not_of("0123456789") == std::string::npos)
        page = std::max(1, std::stoi(pageText));
    const int64_t total = m_db.ResultCount(user->nick);
    return html(inboxPage(*user, m_db.Results(user->nick, kInboxPage, (page - 1) * kInboxPage), page, total));
}

HttpResponse ServiceApp::Advert(const HttpRequest& request)
{
    // The program names its user (nickname and current user number) so that the
    // banner can say whether results reach a phone yet.
    const std::string host = request.Header("Host");
    const std::string base = "http://" + (host.empty() ? std::string("127.0.0.1") : host);
    const std::string account = (m_options.publicUrl.empty() ? base : m_options.publicUrl) + std::string(kAccountPage);
    std::string text = "Vexory 正在为您监控网页 · 登录后在 " + account + " 绑定推送渠道";
    const std::string nick = TrimNickname(Base64UrlDecode(request.Query("nick")));
    const std::string number = request.Query("n");
    if (!nick.empty() && validText(nick, kMaxNick) && !number.empty()) {
        const std::optional<User> user = m_db.FindUser(nick);
        if (user && user->userNumber != 0 && std::to_string(user->userNumber) == number) {
            // A phone is promised only while a confirmed channel's last call went through.
            int confirmed = 0, working = 0;
            for (const Channel& c : m_db.Channels(nick)) {
                confirmed += c.confirmed ? 1 : 0;
                working += c.confirmed && c.lastError.empty() ? 1 : 0;
            }
            text = working > 0     ? std::string("Vexory 正在为您监控网页 · 新记录会推送到您的手机")
                   : confirmed > 0 ? "推送渠道都发送失败了：请在 " + account + " 查看原因"
                                   : "还没有绑定推送渠道：在手机上打开 " + account + " 绑定后，新记录会推送到您的手机";
        }
    }
    std::string page = pages::kAdvert;
    page.replace(page.find("{TEXT}"), 6, pages::EscapeHtml(text));
    page.replace(page.find("{HELP}"), 6, pages::EscapeHtml(base + std::string(kHelpPage)));
    HttpResponse r = html(page);
    r.headers.emplace_back("Cache-Control", "no-store");
    return r;
}

bool ServiceApp::monitorAllowed(const HttpRequest& request) const
{
    return std::find(m_options.monitorAllow.begin(), m_options.monitorAllow.end(), request.peer) !=
           m_options.monitorAllow.end();
}

HttpResponse ServiceApp::Health(const HttpRequest& request)
{
    if (!monitorAllowed(request))
        return PlainResponse(404, "not found\n");
    HttpResponse r = PlainResponse(200, "ok\n");
    if (m_db.PendingDeliveries() < 0)
        r = PlainResponse(503, "the database cannot be reached\n");
    else if (diskLow())
        r = PlainResponse(503, "the disk is below its floor of " + std::to_string(m_options.minFreeMb) + " MB\n");
    r.headers.emplace_back("Cache-Control", "no-store");
    return r;
}

HttpResponse ServiceApp::Metrics(const HttpRequest& request)
{
    if (!monitorAllowed(request))
        return PlainResponse(404, "not found\n");
    std::string out = m_server ? m_server->MetricsText() : std::string();
    auto gauge = [&out](const char* name, const char* help, const char* type, int64_t value) {
        out += std::string("# HELP ") + name + " " + help + "\n# TYPE " + name + " " + type + "\n" + name + " " +
               std::to_string(value) + "\n";
    };
    gauge("vexory_password_queue", "Password checks waiting for a thread.", "gauge",
          m_server ? static_cast<int64_t>(m_server->Waiting(m_hashingPool)) : 0);
    gauge("vexory_outbox_depth", "Deliveries waiting to go out (-1: the database cannot be asked).", "gauge",
          m_db.PendingDeliveries());
    gauge("vexory_forwards_failed_total", "Results whose forwarding failed, each try counted.", "counter",
          static_cast<int64_t>(m_forwarder.Failed()));
    gauge("vexory_forwards_abandoned_total", "Results whose forwarding was given up.", "counter",
          static_cast<int64_t>(m_forwarder.Abandoned()));
    HttpResponse r = PlainResponse(200, out);
    r.contentType = "text/plain; version=0.0.4; charset=utf-8";
    return r;
}

void ServiceApp::Install(HttpServer& server)
{
    // Password checks are slow by design: they have threads of their own, so that a
    // burst of logins never holds up pushes.
    const unsigned cores = std::max(1u, std::thread::hardware_concurrency());
    // One address or nickname holds at most an eighth of its queue.
    const int hashing = server.AddPool({m_options.hashThreads ? m_options.hashThreads : cores, 64, 8});
    m_server = &server;
    m_hashingPool = hashing;
    // Calls that wait on other servers (tests of a channel, confirmation mail).
    const int outbound = server.AddPool({2, 32});
    auto route = [this](auto method) { return [this, method](const HttpRequest& r) { return (this->*method)(r); }; };
    server.Route(
        "POST", std::string(kLoginScript), route(&ServiceApp::Login), hashing,
        [this](const HttpRequest& r) { return admit(r, formText(r.body, "username")); }, kFormBody);
    // A push or an upload is checked first and slowed only when it is wrong: a
    // right user number is never held up by the failures of others.
    server.Route("POST", std::string(kPushScript), route(&ServiceApp::Push));
    server.Route("POST", std::string(kShareScript), route(&ServiceApp::Share));

    server.Route("GET", std::string(kAdvertPage), route(&ServiceApp::Advert));
    server.Route("GET", std::string(kHelpPage), [](const HttpRequest&) { return html(pages::kHelp); });
    server.Route(
        "POST", std::string(kRegisterPage), [this](const HttpRequest& r) { return m_account.Register(r); }, hashing,
        [this](const HttpRequest& r) {
            HttpServer::Admission a;
            if (!m_registerRate.Take(AddressKey(r.peer)))
                a.refuse = html(pages::Page("Vexory", "<p>注册太频繁，请稍后再试。</p>"), 429);
            return a;
        },
        kFormBody);
    m_account.Install(server, hashing, outbound);
    server.Route("GET", "/inbox/", route(&ServiceApp::Inbox));
    server.Route("GET", "/healthz", route(&ServiceApp::Health));
    server.Route("GET", "/metrics", route(&ServiceApp::Metrics));
}

} // namespace vexory::server
