#include "account_pages.h"

#include "db_util.h"

#include "web_text.h"

#include <map>

namespace vexory::server::pages {

namespace {

constexpr size_t kShownRecords = 600;

constexpr const char* kStyle =
    "body{font-family:\"Noto Sans CJK SC\",sans-serif;margin:0 auto;max-width:640px;padding:12px;line-height:1.6;"
    "color:#222;font-size:16px}h1{font-size:1.4em;margin:.3em 0}h2{font-size:1.15em;border-bottom:1px solid #ddd;"
    "padding-bottom:4px;margin-top:1.6em}h3{font-size:1em}label{display:block;margin:.7em 0 .2em}"
    "input,select{width:100%;box-sizing:border-box;padding:.5em;font-size:1em}input[type=checkbox]{width:auto}"
    "button{padding:.5em 1.2em;font-size:1em;margin-top:.8em}.note{color:#555;font-size:.9em}"
    ".ok{background:#e6f4ea;padding:8px;border-radius:4px}.err{background:#fde8e8;padding:8px;border-radius:4px}"
    ".card{border:1px solid #ddd;border-radius:6px;padding:8px 10px;margin:8px 0;word-break:break-all}"
    "form.inline{display:inline}form.inline button{margin:.4em .4em 0 0;padding:.3em .9em}"
    "pre{white-space:pre-wrap;word-break:break-all;background:#f6f6f6;padding:6px;font-size:.9em;margin:.3em 0}"
    "ul{padding-left:1.2em}li{margin:.3em 0}summary{margin:.8em 0;cursor:pointer}";

std::string hidden(const std::string& csrf)
{
    return "<input type=\"hidden\" name=\"csrf\" value=\"" + EscapeHtml(csrf) + "\">";
}

std::string notice(const std::string& message, bool error)
{
    if (message.empty())
        return {};
    return std::string("<p class=\"") + (error ? "err" : "ok") + "\">" + EscapeHtml(message) + "</p>";
}

// The first `limit` bytes of UTF-8 text, marked when cut.
std::string prefix(const std::string& s, size_t limit)
{
    return s.size() <= limit ? s : Utf8Prefix(s, limit) + "…";
}

std::string channelTitle(const Channel& c)
{
    const ChannelType* type = FindChannelType(c.kind);
    std::string title = type ? type->title : c.kind;
    if (!c.label.empty())
        title += "（" + c.label + "）";
    return title;
}

std::string deliveryText(const Delivery& d)
{
    if (d.state == "sent")
        return "已发送";
    if (d.state == "failed")
        return "已放弃：" + d.lastError;
    return d.attempts > 0 ? "发送失败，等待重试：" + d.lastError : "等待发送";
}

std::string postButton(const char* action, const std::string& csrf, int64_t id, const char* label)
{
    return std::string("<form class=\"inline\" method=\"post\" action=\"") + action + "\">" + hidden(csrf) +
           "<input type=\"hidden\" name=\"id\" value=\"" + std::to_string(id) + "\"><button type=\"submit\">" + label +
           "</button></form>";
}

} // namespace

std::string EscapeHtml(const std::string& s)
{
    std::string out;
    out.reserve(s.size());
    for (char c : s) {
        switch (c) {
        case '<':
            out += "&lt;";
            break;
        case '>':
            out += "&gt;";
            break;
        case '&':
            out += "&amp;";
            break;
        case '"':
            out += "&quot;";
            break;
        case '\'':
            out += "&#39;";
            break;
        default:
            out += c;
        }
    }
    return out;
}

std::string Page(const std::string& title, const std::string& body)
{
    return "<!DOCTYPE html><html lang=\"zh-CN\"><head><meta charset=\"utf-8\"><meta name=\"viewport\" "
           "content=\"width=device-width, initial-scale=1\"><title>" +
           EscapeHtml(title) + "</title><style>" + kStyle + "</style></head><body>" + body + "</body></html>";
}

bool PasswordAccepted(const std::string& password)
{
    if (password.empty() || password.size() > 64)
        return false;
    for (unsigned char c : password)
        if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z')))
            return false;
    return true;
}

std::string LoginForm(const std::string& csrf, const std::string& nick, const std::string& message)
{
    return Page("登录 Vexory 账户",
                "<h1>登录 Vexory 账户</h1><p class=\"note\">用您在 Vexory 程序里登录的昵称和密码登录，"
                "然后绑定接收新记录的渠道（企业微信、钉钉、飞书、微信、Telegram、邮箱……）。</p>" +
                    notice(message, true) + "<form method=\"post\" action=\"/account/login\">" + hidden(csrf) +
                    "<label for=\"nick\">昵称</label><input id=\"nick\" name=\"nick\" maxlength=\"32\" required "
                    "autocomplete=\"username\" value=\"" +
                    EscapeHtml(nick) +
                    "\"><label for=\"password\">密码</label><input id=\"password\" name=\"password\" type=\"password\" "
                    "required autocomplete=\"current-password\"><button type=\"submit\">登录</button></form>"
                    "<p>还没有账户？<a href=\"/register\">注册</a></p>");
}

std::string ConfirmForm(const std::string& token)
{
    return Page("确认推送邮箱",
                "<h1>确认推送邮箱</h1><p>确认后，这个邮箱会收到 Vexory 账户的网页监控新记录。"
                "如果您没有要求过，关掉这个页面即可。</p><form method=\"post\" action=\"/account/confirm/" +
                    token + "\"><button type=\"submit\">确认</button></form>");
}

std::string RegisterForm(const std::string& csrf, const std::string& message)
{
    return Page("注册 Vexory 账户",
                "<h1>注册 Vexory 账户</h1>" + notice(message, true) + "<form method=\"post\" action=\"/register\">" +
                    hidden(csrf) +
                    "<label for=\"nick\">昵称</label><input id=\"nick\" name=\"nick\" maxlength=\"32\" required>"
                    "<label for=\"password\">密码</label><input id=\"password\" name=\"password\" type=\"password\" "
                    "maxlength=\"64\" required pattern=\"[0-9A-Za-z]+\"><p class=\"note\">密码仅限数字和大小写字母，"
                    "与 Vexory 程序的登录面板相同。</p><label for=\"password2\">再输入一次密码</label><input "
                    "id=\"password2\" name=\"password2\" type=\"password\" maxlength=\"64\" required>"
                    "<button type=\"submit\">注册</button></form><p>已有账户？<a href=\"/account\">登录</a></p>");
}

std::string Account(const AccountView& v)
{
    const std::string& csrf = v.csrf;
    std::string body = "<h1>Vexory 账户</h1><div>昵称：<b>" + EscapeHtml(v.user.nick) +
                       "</b> <form class=\"inline\" method=\"post\" action=\"/account/logout\">" + hidden(csrf) +
                       "<button type=\"submit\">退出登录</button></form></div>" + notice(v.message, v.messageIsError);

    body += "<h2>推送渠道</h2>";
    int confirmed = 0;
    std::map<int64_t, std::string> titles;
    for (const Channel& c : v.channels) {
        titles[c.id] = channelTitle(c);
        confirmed += c.confirmed ? 1 : 0;
    }
    if (confirmed == 0)
        body += "<p class=\"err\">还没有绑定推送渠道：新记录现在只保存在收件箱里。"
                "在下面选择一种渠道绑定后，新记录会推送到您的手机。</p>";
    for (const Channel& c : v.channels) {
        const ChannelType* type = FindChannelType(c.kind);
        body += "<div class=\"card\"><b>" + EscapeHtml(titles[c.id]) + "</b> · " +
                (c.confirmed ? "已启用" : "等待确认：请打开邮件里的确认链接") + "<br><span class=\"note\">" +
                EscapeHtml(type ? DescribeChannel(*type, ConfigFromJson(c.config)) : std::string()) + "</span>";
        if (!c.lastError.empty())
            body += "<br><span class=\"note\">上次发送失败：" + EscapeHtml(c.lastError) + "</span>";
        body += "<br>" + postButton("/account/channels/test", csrf, c.id, "发送测试消息") +
                postButton("/account/channels/delete", csrf, c.id, "删除") + "</div>";
    }
    // With a channel bound the list of kinds folds away (no script: a details element).
    body += std::string(confirmed == 0 ? "<details open>" : "<details>") + "<summary><b>添加渠道</b></summary><ul>";
    for (const ChannelType& t : ChannelTypes()) {
        if (std::string(t.id) == "email" && !v.mailEnabled)
            continue;
        body += std::string("<li><a href=\"/account/add?kind=") + t.id + "\">" + t.title +
                "</a><br><span class=\"note\">" + EscapeHtml(t.help) + "</span></li>";
    }
    body += "</ul></details>";

    body += "<h2>最近的结果</h2><p>共 " + std::to_string(v.resultCount) + " 条。<a href=\"/inbox/" +
            EscapeHtml(v.user.inboxToken) + "\">打开收件箱</a>（可以收藏这个地址）</p>";
    if (v.results.empty())
        body += "<p class=\"note\">还没有结果。在 Vexory 里登录并执行任务后，新记录会出现在这里。</p>";
    for (const StoredResult& r : v.results) {
        body += "<div class=\"card\"><b>[ " + EscapeHtml(r.task) + " ]</b> " +
                EscapeHtml(db::LocalTimeText(r.received)) + "<br>" + EscapeHtml(r.url) + "<pre>" +
                EscapeHtml(prefix(r.records, kShownRecords)) + "</pre>";
        bool any = false;
        for (const Delivery& d : v.deliveries) {
            if (d.resultId != r.id)
                continue;
            const auto title = titles.find(d.channelId);
            body += "<span class=\"note\">" +
                    EscapeHtml((title == titles.end() ? std::string("已删除的渠道") : title->second) + "：" +
                               deliveryText(d)) +
                    "</span><br>";
            any = true;
        }
        if (!any)
            body += "<span class=\"note\">没有转发（当时没有绑定渠道）</span>";
        body += "</div>";
    }

    body += "<h2>修改密码</h2><form method=\"post\" action=\"/account/password\">" + hidden(csrf) +
            "<label for=\"old\">现在的密码</label><input id=\"old\" name=\"old\" type=\"password\" required "
            "autocomplete=\"current-password\"><label for=\"new\">新密码（仅限数字和大小写字母）</label><input "
            "id=\"new\" name=\"new\" type=\"password\" maxlength=\"64\" required autocomplete=\"new-password\">"
            "<label for=\"new2\">再输入一次新密码</label><input id=\"new2\" name=\"new2\" type=\"password\" "
            "maxlength=\"64\" required autocomplete=\"new-password\"><button type=\"submit\">修改密码</button></form>"
            "<p class=\"note\">修改后请在 Vexory 程序的登录面板用新密码重新登录。</p>";
    body += "<h2>删除账户</h2><form method=\"post\" action=\"/account/delete\">" + hidden(csrf) +
            "<p class=\"note\">账户、全部结果、推送渠道和分享的公式都会删除，无法恢复。</p><label "
            "for=\"confirm-password\">密码</label><input id=\"confirm-password\" name=\"password\" type=\"password\" "
            "required autocomplete=\"current-password\"><label><input type=\"checkbox\" name=\"sure\" value=\"1\" "
            "required> 我确定要删除这个账户</label><button type=\"submit\">删除账户</button></form>";
    return Page("Vexory 账户 - " + v.user.nick, body);
}

std::string AddChannelForm(const ChannelType& type, const std::string& csrf, const ChannelConfig& typed,
                           const std::string& message)
{
    std::string body = std::string("<h1>添加渠道：") + type.title + "</h1><p class=\"note\">" + EscapeHtml(type.help) +
                       "</p>" + notice(message, true) + "<form method=\"post\" action=\"/account/channels\">" +
                       hidden(csrf) + "<input type=\"hidden\" name=\"kind\" value=\"" + type.id + "\">";
    for (const ChannelField& f : type.fields) {
        const auto value = typed.find(f.key);
        // A secret that was typed is not sent back to the browser.
        const std::string shown = value == typed.end() || f.secret ? std::string() : value->second;
        body += std::string("<label for=\"") + f.key + "\">" + f.label + "</label><input id=\"" + f.key + "\" name=\"" +
                f.key + "\" maxlength=\"2048\" autocomplete=\"off\" placeholder=\"" + EscapeHtml(f.hint) +
                "\" value=\"" + EscapeHtml(shown) + "\"" + (f.required ? " required" : "") + ">";
    }
    body += "<label for=\"label\">备注（可选）</label><input id=\"label\" name=\"label\" maxlength=\"40\" value=\"" +
            EscapeHtml(typed.count("label") ? typed.at("label") : std::string()) +
            "\"><button type=\"submit\">添加</button></form><p><a href=\"/account\">返回账户页</a></p>";
    return Page(std::string("添加渠道 - ") + type.title, body);
}

} // namespace vexory::server::pages
