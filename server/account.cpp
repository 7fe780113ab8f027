#include "account.h"

#include "account_pages.h"
#include "db_util.h"
#include "listen_socket.h"
#include "server_app.h"
#include "web_text.h"

#include "base/encoding.h"
#include "platform/codepage.h"
#include "service/protocol_codec.h"

#include <openssl/crypto.h>
#include <openssl/evp.h>

#include <algorithm>
#include <map>

namespace vexory::server {

namespace {

constexpr const char* kSessionCookie = "vexory_session";
constexpr const char* kFormCookie = "vexory_form";
constexpr int64_t kSessionIdleMs = 30ll * 24 * 3600 * 1000;
constexpr int kShownResults = 20;
constexpr const char* kHtml = "text/html; charset=utf-8";

// What the short codes after a redirect say (never text from the request).
struct Notice
{
    const char* code;
    const char* text;
    bool error;
};
const Notice kNotices[] = {
    {"welcome",
     "注册成功。请在下面绑定一个推送渠道，新记录就会推送到您的手机；然后在 Vexory 程序里用这个昵称和密码登录。", false},
    {"added", "渠道已添加。可以点“发送测试消息”试一下。", false},
    {"confirm", "确认邮件已发出，请打开邮件里的链接。确认之前不会向这个邮箱发送结果。", false},
    {"mailfail", "确认邮件发送失败，请删除这个渠道后稍后再添加。", true},
    {"mailtoomany", "确认邮件发得太多了：同一个邮箱、账户或网络地址一天只收发几封。请明天再添加这个邮箱。", true},
    {"testwait", "测试消息发得太快了，请过一分钟再试。", true},
    {"tested", "测试消息已发送，请在手机上查看。", false},
    {"testfailed", "测试消息发送失败，原因见渠道下方。", true},
    {"unconfirmed", "这个邮箱还没有确认，请先打开确认邮件里的链接。", true},
    {"deleted", "渠道已删除。", false},
    {"password", "密码已修改。请在 Vexory 程序的登录面板用新密码重新登录。", false},
    {"wrongpassword", "密码不对。", true},
    {"mismatch", "两次输入的新密码不一致，或含有数字和字母以外的字符。", true},
    {"notsure", "请勾选“我确定要删除这个账户”。", true},
    {"toomany", "一个账户最多绑定 16 个渠道。", true},
};

HttpResponse page(std::string body, int status = 200)
{
    HttpResponse r = PlainResponse(status, std::move(body));
    r.contentType = kHtml;
    // Pages with tokens are never kept, framed, or named to another site in a
    // Referer (no-referrer would make the browser send "Origin: null" with forms).
    r.headers.emplace_back("Cache-Control", "no-store");
    r.headers.emplace_back("X-Frame-Options", "DENY");
    r.headers.emplace_back("Referrer-Policy", "same-origin");
    r.headers.emplace_back("Content-Security-Policy",
                           "default-src 'none'; style-src 'unsafe-inline'; form-action 'self'; frame-ancestors 'none'");
    return r;
}

HttpResponse message(const std::string& title, const std::string& text, int status = 200)
{
    return page(pages::Page(title, "<h1>" + pages::EscapeHtml(title) + "</h1><p>" + pages::EscapeHtml(text) +
                                       "</p><p><a href=\"/account\">账户页</a></p>"),
                status);
}

HttpResponse redirect(const std::string& location)
{
    HttpResponse r = page({}, 303);
    r.headers.emplace_back("Location", location);
    return r;
}

std::string cookieValue(const HttpRequest& request, const std::string& name)
{
    const std::string all = request.Header("Cookie");
    size_t at = 0;
    while (at < all.size()) {
        size_t end = all.find(';', at);
        if (end == std::string::npos)
            end = all.size();
        std::string pair = all.substr(at, end - at);
        pair.erase(0, pair.find_first_not_of(' '));
        if (pair.rfind(name + "=", 0) == 0)
            return pair.substr(name.size() + 1);
        at = end + 1;
    }
    return {};
}

std::string setCookie(const std::string& name, const std::string& value, int64_t maxAgeSeconds)
{
    return name + "=" + value + "; Path=/; HttpOnly; SameSite=Lax; Max-Age=" + std::to_string(maxAgeSeconds);
}

std::string digestOf(const std::string& token)
{
    unsigned char out[EVP_MAX_MD_SIZE];
    unsigned int n = 0;
    EVP_Digest(token.data(), token.size(), out, &n, EVP_sha256(), nullptr);
    return db::Hex(std::string(reinterpret_cast<char*>(out), n));
}

bool sameText(const std::string& a, const std::string& b)
{
    return !a.empty() && a.size() == b.size() && CRYPTO_memcmp(a.data(), b.data(), a.size()) == 0;
}

// A request another site's page made the browser send is refused.
bool foreignOrigin(const HttpRequest& request)
{
    const std::string origin = request.Header("Origin");
    if (origin.empty())
        return false;
    const size_t scheme = origin.find("://");
    return scheme == std::string::npos || origin.substr(scheme + 3) != request.Header("Host");
}

std::string passwordDigest(const std::string& password)
{
    // The client sends the SHA-1 of the password as its GBK bytes.
    const std::optional<std::string> gbk = Utf8ToGbkStrict(password);
    return gbk ? Sha1Hex(*gbk) : std::string();
}

int64_t idField(const std::string& body)
{
    const std::string id = FormField(body, "id");
    if (id.empty() || id.size() > 18 || id.find_first_not_of("0123456789") != std::string::npos)
        return 0;
    return std::stoll(id);
}

// The form's token from its cookie, and the header that sets one when there was none.
std::string formToken(const HttpRequest& request, HttpResponse* response)
{
    std::string token = cookieValue(request, kFormCookie);
    if (token.size() != 32 || token.find_first_not_of("0123456789abcdef") != std::string::npos) {
        token = db::Hex(db::RandomBytes(16));
        response->headers.emplace_back("Set-Cookie", setCookie(kFormCookie, token, 24 * 3600));
    }
    return token;
}

bool formTokenMatches(const HttpRequest& request)
{
    return !foreignOrigin(request) && sameText(FormField(request.body, "csrf"), cookieValue(request, kFormCookie));
}

} // namespace

AccountApp::AccountApp(ServerDb& db, Forwarder& forwarder, const OutboundPolicy& policy, const SmtpSettings& smtp,
                       Options options, Throttle throttle)
    : m_db(db), m_forwarder(forwarder), m_policy(policy), m_smtp(smtp), m_options(std::move(options)),
      m_throttle(std::move(throttle)), m_mailsPerAccount(db, "mail-account", 5.0 / 1440, 5),
      m_mailsPerRecipient(db, "mail-to", kConfirmMailsPerDay / 1440, kConfirmMailsPerDay),
      m_mailsPerAddress(db, "mail-from", 10.0 / 1440, 10), m_tests(db, "test", 1, 1)
{}

std::string AccountApp::baseUrl(const HttpRequest& request) const
{
    if (!m_options.publicUrl.empty())
        return m_options.publicUrl;
    // Without a configured address the request's Host stands for it: only a
    // plain host[:port] is taken, never text that would change a link's meaning.
    const std::string host = request.Header("Host");
    const bool plain = !host.empty() && host.size() <= 255 &&
                       host.find_first_not_of("abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789.-:[]") ==
                           std::string::npos;
    return "http://" + (plain ? host : std::string("127.0.0.1"));
}

std::optional<AccountApp::Session> AccountApp::session(const HttpRequest& request)
{
    const std::string token = cookieValue(request, kSessionCookie);
    if (token.size() != 64 || token.find_first_not_of("0123456789abcdef") != std::string::npos)
        return std::nullopt;
    const std::string digest = digestOf(token);
    std::optional<AccountSession> found = m_db.FindSession(digest, NowMs() - kSessionIdleMs);
    if (!found)
        return std::nullopt;
    return Session{*found, digest};
}

std::optional<AccountApp::Session> AccountApp::formSession(const HttpRequest& request, HttpResponse* refusal)
{
    std::optional<Session> s = session(request);
    if (!s) {
        *refusal = redirect("/account");
        return std::nullopt;
    }
    if (foreignOrigin(request) || !sameText(FormField(request.body, "csrf"), s->data.csrf)) {
        *refusal = message("页面已过期", "这个请求没有有效的表单令牌，已拒绝。请回到账户页再试一次。", 403);
        return std::nullopt;
    }
    return s;
}

HttpResponse AccountApp::startSession(const std::string& nick, const std::string& notice)
{
    const std::string token = db::Hex(db::RandomBytes(32));
    AccountSession s{nick, db::Hex(db::RandomBytes(16)), NowMs()};
    if (!m_db.AddSession(digestOf(token), s))
        return message("服务暂时不可用", "数据库暂时无法访问，请稍后再试。", 503);
    HttpResponse r = redirect("/account" + (notice.empty() ? std::string() : "?m=" + notice));
    r.headers.emplace_back("Set-Cookie", setCookie(kSessionCookie, token, kSessionIdleMs / 1000));
    return r;
}

HttpResponse AccountApp::Show(const HttpRequest& request)
{
    const std::optional<Session> s = session(request);
    if (!s) {
        HttpResponse r = page({});
        r.body = pages::LoginForm(formToken(request, &r), {}, {});
        return r;
    }
    bool unreachable = false;
    const std::optional<User> user = m_db.FindUser(s->data.nick, &unreachable);
    if (!user)
        return message("服务暂时不可用", "数据库暂时无法访问，请稍后再试。", 503);
    pages::AccountView view;
    view.user = *user;
    view.csrf = s->data.csrf;
    const std::string code = request.Query("m");
    for (const Notice& n : kNotices)
        if (code == n.code) {
            view.message = n.text;
            view.messageIsError = n.error;
        }
    view.channels = m_db.Channels(user->nick);
    view.results = m_db.Results(user->nick, kShownResults);
    if (!view.results.empty())
        view.deliveries = m_db.Deliveries(user->nick, view.results.back().id);
    view.resultCount = m_db.ResultCount(user->nick);
    view.mailEnabled = m_smtp.enabled();
    return page(pages::Account(view));
}

HttpResponse AccountApp::LogIn(const HttpRequest& request)
{
    const std::string nick = TrimNickname(ClientText(FormField(request.body, "nick")).value_or(std::string()));
    if (!formTokenMatches(request)) {
        HttpResponse r = page({}, 403);
        r.body = pages::LoginForm(formToken(request, &r), nick, "页面已过期，请再登录一次。");
        return r;
    }
    const std::string digest = passwordDigest(FormField(request.body, "password"));
    bool unreachable = false;
    const std::optional<User> user = nick.empty() ? std::nullopt : m_db.FindUser(nick, &unreachable);
    if (unreachable)
        return message("服务暂时不可用", "数据库暂时无法访问，请稍后再试。", 503);
    bool known = user.has_value();
    if (known && !m_db.CheckPassword(nick, digest, &unreachable)) {
        if (unreachable)
            return message("服务暂时不可用", "数据库暂时无法访问，请稍后再试。", 503);
        known = false;
        m_throttle.failed(request, nick);
    } else if (!known) {
        m_throttle.failed(request, {});
    }
    if (!known) {
        HttpResponse r = page({}, 200);
        r.body = pages::LoginForm(formToken(request, &r), nick, "昵称或密码不对。");
        return r;
    }
    return startSession(nick, {});
}

HttpResponse AccountApp::LogOut(const HttpRequest& request)
{
    HttpResponse refusal;
    const std::optional<Session> s = formSession(request, &refusal);
    if (!s)
        return refusal;
    m_db.DeleteSession(s->digest);
    HttpResponse r = redirect("/account");
    r.headers.emplace_back("Set-Cookie", setCookie(kSessionCookie, "", 0));
    return r;
}

HttpResponse AccountApp::ShowAdd(const HttpRequest& request)
{
    const std::optional<Session> s = session(request);
    if (!s)
        return redirect("/account");
    const ChannelType* type = FindChannelType(request.Query("kind"));
    if (!type || (std::string(type->id) == "email" && !m_smtp.enabled()))
        return message("没有这种渠道", "请在账户页的列表里选择渠道。", 404);
    return page(pages::AddChannelForm(*type, s->data.csrf, {}, {}));
}

HttpResponse AccountApp::AddChannel(const HttpRequest& request)
{
    HttpResponse refusal;
    const std::optional<Session> s = formSession(request, &refusal);
    if (!s)
        return refusal;
    const std::string kind = FormField(request.body, "kind");
    const ChannelType* type = FindChannelType(kind);
    if (!type || (kind == "email" && !m_smtp.enabled()))
        return message("没有这种渠道", "请在账户页的列表里选择渠道。", 404);
    ChannelConfig config;
    for (const ChannelField& f : type->fields)
        config[f.key] = FormField(request.body, f.key);
    std::string label = TrimNickname(FormField(request.body, "label"));
    ChannelConfig typed = config;
    typed["label"] = label;
    if (label.size() > 40 || !NicknameProblem(label.empty() ? "x" : label).empty())
        return page(pages::AddChannelForm(*type, s->data.csrf, typed, "备注最多 40 个字节，不能有控制字符。"));
    std::string why = CheckChannelConfig(*type, config);
    if (why.empty())
        if (const std::string host = ChannelHost(*type, config); !host.empty())
            if (const std::string refused = m_policy.CheckHost(host); !refused.empty())
                why = "这个地址不能使用：" + refused + "。";
    if (!why.empty())
        return page(pages::AddChannelForm(*type, s->data.csrf, typed, why));
    if (static_cast<int>(m_db.Channels(s->data.nick).size()) >= m_options.maxChannels)
        return redirect("/account?m=toomany");
    std::string recipient = config["address"];
    std::transform(recipient.begin(), recipient.end(), recipient.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    if (kind == "email" && (!m_mailsPerRecipient.Take(recipient) || !m_mailsPerAccount.Take(s->data.nick) ||
                            !m_mailsPerAddress.Take(AddressKey(request.peer))))
        return redirect("/account?m=mailtoomany");
    Channel c;
    c.nick = s->data.nick;
    c.kind = kind;
    c.config = ConfigToJson(config);
    c.label = label;
    if (kind == "email") {
        // An address receives results only after its owner followed the link.
        c.confirmed = false;
        c.confirmToken = db::Hex(db::RandomBytes(16));
    }
    if (m_db.AddChannel(c) == 0)
        return message("服务暂时不可用", "数据库暂时无法访问，请稍后再试。", 503);
    if (kind != "email")
        return redirect("/account?m=added");
    const std::string link = baseUrl(request) + "/account/confirm/" + c.confirmToken;
    std::string error;
    // Nothing the asker chose is in the mail: a stranger's address gets no text of his.
    const bool mailed = SendMail(
        m_smtp, config["address"], "请确认您的 Vexory 推送邮箱",
        "您好，\n\n有人在 Vexory 服务 " + baseUrl(request) +
            " 上要把网页监控的新记录发送到这个邮箱。如果这是您本人的操作，请打开下面的链接，点击页面上的“确认”按钮：\n"
            "\n" +
            link + "\n\n如果不是，请忽略这封邮件：不确认，这个邮箱就不会收到任何记录。同一个邮箱一天最多收到 " +
            std::to_string(static_cast<int>(kConfirmMailsPerDay)) + " 封这样的确认邮件。\n\n—— Vexory",
        &error);
    return redirect(mailed ? "/account?m=confirm" : "/account?m=mailfail");
}

HttpResponse AccountApp::TestChannel(const HttpRequest& request)
{
    HttpResponse refusal;
    const std::optional<Session> s = formSession(request, &refusal);
    if (!s)
        return refusal;
    const std::optional<Channel> c = m_db.FindChannel(s->data.nick, idField(request.body));
    if (!c)
        return redirect("/account");
    if (!c->confirmed)
        return redirect("/account?m=unconfirmed");
    // One a minute is within every channel's rate.
    if (!m_tests.Take(std::to_string(c->id)))
        return redirect("/account?m=testwait");
    const std::optional<User> user = m_db.FindUser(s->data.nick);
    const std::string error = m_forwarder.SendTest(*c, user ? baseUrl(request) + "/inbox/" + user->inboxToken : "");
    m_db.SetChannelError(c->id, error);
    return redirect(error.empty() ? "/account?m=tested" : "/account?m=testfailed");
}

HttpResponse AccountApp::DeleteChannel(const HttpRequest& request)
{
    HttpResponse refusal;
    const std::optional<Session> s = formSession(request, &refusal);
    if (!s)
        return refusal;
    m_db.DeleteChannel(s->data.nick, idField(request.body));
    return redirect("/account?m=deleted");
}

HttpResponse AccountApp::ChangePassword(const HttpRequest& request)
{
    HttpResponse refusal;
    const std::optional<Session> s = formSession(request, &refusal);
    if (!s)
        return refusal;
    const std::string& nick = s->data.nick;
    if (!m_db.CheckPassword(nick, passwordDigest(FormField(request.body, "old")))) {
        m_throttle.failed(request, nick);
        return redirect("/account?m=wrongpassword");
    }
    const std::string fresh = FormField(request.body, "new");
    if (!pages::PasswordAccepted(fresh) || fresh != FormField(request.body, "new2"))
        return redirect("/account?m=mismatch");
    if (!m_db.SetPassword(nick, passwordDigest(fresh)))
        return message("服务暂时不可用", "数据库暂时无法访问，请稍后再试。", 503);
    // Every other browser was logged out with the old password; this one goes on.
    return startSession(nick, "password");
}

HttpResponse AccountApp::DeleteAccount(const HttpRequest& request)
{
    HttpResponse refusal;
    const std::optional<Session> s = formSession(request, &refusal);
    if (!s)
        return refusal;
    const std::string& nick = s->data.nick;
    if (FormField(request.body, "sure") != "1")
        return redirect("/account?m=notsure");
    if (!m_db.CheckPassword(nick, passwordDigest(FormField(request.body, "password")))) {
        m_throttle.failed(request, nick);
        return redirect("/account?m=wrongpassword");
    }
    if (!m_db.DeleteUser(nick))
        return message("服务暂时不可用", "数据库暂时无法访问，请稍后再试。", 503);
    HttpResponse r = message("账户已删除", "账户“" + nick + "”和它的全部结果、推送渠道已经删除。");
    r.headers.emplace_back("Set-Cookie", setCookie(kSessionCookie, "", 0));
    return r;
}

namespace {

std::string confirmToken(const HttpRequest& request)
{
    const std::string token = request.path.substr(std::string("/account/confirm/").size());
    return token.size() == 32 && token.find_first_not_of("0123456789abcdef") == std::string::npos ? token
                                                                                                  : std::string();
}

} // namespace

HttpResponse AccountApp::ShowConfirm(const HttpRequest& request)
{
    const std::string token = confirmToken(request);
    if (token.empty())
        return message("链接无效", "确认链接无效或已经用过。", 404);
    return page(pages::ConfirmForm(token));
}

HttpResponse AccountApp::Confirm(const HttpRequest& request)
{
    const std::string token = confirmToken(request);
    if (token.empty())
        return message("链接无效", "确认链接无效或已经用过。", 404);
    const std::optional<Channel> c = m_db.ConfirmChannel(token);
    if (!c)
        return message("链接无效", "确认链接无效或已经用过。", 404);
    const std::string address = ConfigFromJson(c->config)["address"];
    return message("邮箱已确认", "账户“" + c->nick + "”的新记录会发送到 " + address + "。");
}

HttpResponse AccountApp::ShowRegister(const HttpRequest& request)
{
    HttpResponse r = page({});
    r.body = pages::RegisterForm(formToken(request, &r), {});
    return r;
}

HttpResponse AccountApp::Register(const HttpRequest& request)
{
    if (request.Header("Content-Type").find("application/x-www-form-urlencoded") == std::string::npos)
        return PlainResponse(415, "the form must be sent as application/x-www-form-urlencoded\n");
    auto again = [&](const std::string& why, int status = 200) {
        HttpResponse r = page({}, status);
        r.body = pages::RegisterForm(formToken(request, &r), why);
        return r;
    };
    if (!formTokenMatches(request))
        return again("页面已过期，请再提交一次。", 403);
    const std::string nick = TrimNickname(FormField(request.body, "nick"));
    const std::string password = FormField(request.body, "password");
    if (const std::string problem = NicknameProblem(nick); !problem.empty())
        return again(problem);
    if (password.empty() || password != FormField(request.body, "password2"))
        return again("两次输入的密码不一致。");
    // The program's login panel takes nothing else: an account it cannot log in to is no use.
    if (!pages::PasswordAccepted(password))
        return again("密码仅限数字和大小写字母（最多 64 个）。");
    // One address makes a few accounts, not a disk's worth of quotas.
    if (m_options.accountsPerAddress > 0) {
        const int64_t made = m_db.AccountsFrom(AddressKey(request.peer));
        if (made < 0)
            return message("服务暂时不可用", "数据库暂时无法访问，请稍后再试。", 503);
        if (made >= m_options.accountsPerAddress)
            return again("这个网络地址注册的账户已经太多了，请用已有的账户登录。", 429);
    }
    std::string error;
    if (!m_db.AddUser(nick, passwordDigest(password), m_options.registerRights, "", &error, AddressKey(request.peer)))
        return again("这个昵称已经有人使用。");
    return startSession(nick, "welcome");
}

void AccountApp::Install(HttpServer& server, int slow, int outbound)
{
    auto route = [this](auto method) { return [this, method](const HttpRequest& r) { return (this->*method)(r); }; };
    // Password checks wait their turn as the client's logins do; a refusal is a page.
    auto guarded = [this](const HttpRequest& r) {
        HttpServer::Admission a = m_throttle.admit(r, TrimNickname(FormField(r.body, "nick")));
        if (a.refuse) {
            HttpResponse refused = message("请稍后再试", "这个地址失败的尝试太多，请稍后再试。", a.refuse->status);
            refused.headers.insert(refused.headers.end(), a.refuse->headers.begin(), a.refuse->headers.end());
            a.refuse = std::move(refused);
        }
        return a;
    };
    const std::string account(kAccountPage);
    server.Route("GET", account, route(&AccountApp::Show));
    server.Route("POST", account + "/login", route(&AccountApp::LogIn), slow, guarded, kFormBody);
    server.Route("POST", account + "/logout", route(&AccountApp::LogOut), 0, {}, kFormBody);
    server.Route("GET", account + "/add", route(&AccountApp::ShowAdd));
    server.Route("POST", account + "/channels", route(&AccountApp::AddChannel), outbound, {}, kFormBody);
    server.Route("POST", account + "/channels/test", route(&AccountApp::TestChannel), outbound, {}, kFormBody);
    server.Route("POST", account + "/channels/delete", route(&AccountApp::DeleteChannel), 0, {}, kFormBody);
    server.Route("POST", account + "/password", route(&AccountApp::ChangePassword), slow, guarded, kFormBody);
    server.Route("POST", account + "/delete", route(&AccountApp::DeleteAccount), slow, guarded, kFormBody);
    server.Route("GET", account + "/confirm/", route(&AccountApp::ShowConfirm));
    server.Route("POST", account + "/confirm/", route(&AccountApp::Confirm), 0, {}, kFormBody);
    server.Route("GET", std::string(kRegisterPage), route(&AccountApp::ShowRegister));
}

} // namespace vexory::server
