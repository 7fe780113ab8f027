#include "channels.h"

#include "web_text.h"

#include <curl/curl.h>
#include <nlohmann/json.hpp>
#include <openssl/evp.h>
#include <openssl/hmac.h>

#include <algorithm>
#include <cctype>

namespace vexory::server {

namespace {

using nlohmann::json;

// Limits as each service publishes them (those counted on the body a little inside,
// for the key and signature added later), rates kept a little inside.
const std::vector<ChannelType> kTypes = {
    {"wecom",
     "企业微信群机器人",
     "在企业微信群里添加“群机器人”，复制它的 webhook 地址。",
     {{"key", "webhook 地址或 key", "https://qyapi.weixin.qq.com/cgi-bin/webhook/send?key=…", true, true}},
     2048,
     Counted::TitleAndText,
     20,
     true,
     "https://qyapi.weixin.qq.com"},
    {"dingtalk",
     "钉钉群机器人",
     "在钉钉群设置里添加“自定义机器人”，复制 webhook 地址；安全设置选“加签”时填写密钥。",
     {{"token", "webhook 地址或 access_token", "https://oapi.dingtalk.com/robot/send?access_token=…", true, true},
      {"secret", "加签密钥（可选）", "SEC 开头", true, false}},
     20000,
     Counted::TitleAndText,
     20,
     true,
     "https://oapi.dingtalk.com"},
    {"feishu",
     "飞书 / Lark 机器人",
     "在群设置里添加“自定义机器人”，复制 webhook 地址；开启签名校验时填写密钥。",
     {{"token", "webhook 地址", "https://open.feishu.cn/open-apis/bot/v2/hook/…", true, true},
      {"secret", "签名校验密钥（可选）", "", true, false}},
     20000,
     Counted::Body,
     100,
     true,
     "https://open.feishu.cn"},
    {"serverchan",
     "Server酱",
     "在 Server酱 网站登录后复制 SendKey，消息会推送到您绑定的微信。",
     {{"sendkey", "SendKey", "SCT…", true, true}},
     32000,
     Counted::MarkdownText,
     1,
     true,
     "https://sctapi.ftqq.com"},
    {"pushplus",
     "PushPlus 推送加",
     "在 PushPlus 网站登录后复制您的 token，消息会推送到微信。",
     {{"token", "token", "", true, true}},
     18000,
     Counted::Text,
     5,
     true,
     "https://www.pushplus.plus"},
    {"bark",
     "Bark（iPhone）",
     "在 iPhone 上安装 Bark，复制它显示的设备 key；自建服务器时填写服务器地址。",
     {{"server", "服务器地址（可选）", "https://api.day.app", false, false},
      {"device_key", "设备 key", "", true, true}},
     3800,
     Counted::Body,
     30,
     true,
     "https://api.day.app"},
    {"ntfy",
     "ntfy",
     "在 ntfy 应用里订阅一个只有您知道的主题名；自建服务器时填写地址和访问令牌。",
     {{"server", "服务器地址（可选）", "https://ntfy.sh", false, false},
      {"topic", "主题", "", true, true},
      {"token", "访问令牌（可选）", "tk_…", true, false}},
     4000,
     Counted::Text,
     12,
     true,
     "https://ntfy.sh"},
    {"gotify",
     "Gotify",
     "在您的 Gotify 服务器上新建一个应用，填写服务器地址和应用的 token。",
     {{"server", "服务器地址", "https://gotify.example.com", false, true}, {"token", "应用 token", "", true, true}},
     16000,
     Counted::Text,
     60,
     true,
     ""},
    {"telegram",
     "Telegram 机器人",
     "向 @BotFather 创建机器人得到 token，先给机器人发一条消息，再填写您的 chat id。",
     {{"token", "机器人 token", "123456:ABC…", true, true}, {"chat_id", "chat id", "数字，群组以 - 开头", false, true}},
     4096,
     Counted::TitleAndText16,
     20,
     true,
     "https://api.telegram.org"},
    {"email",
     "电子邮件",
     "填写邮箱地址；我们会发一封确认邮件，点击其中的链接后才开始发送。",
     {{"address", "邮箱地址", "name@example.com", false, true}},
     60000,
     Counted::Text,
     10,
     true,
     ""},
    {"webhook",
     "JSON webhook",
     "每条结果以 JSON（nick、task、url、records、id、text）POST 到您的地址。",
     {{"url", "网址", "https://example.com/hook", true, true}},
     64 << 10,
     Counted::Body,
     60,
     false,
     ""},
};

std::string trim(const std::string& s)
{
    const size_t first = s.find_first_not_of(" \t\r\n");
    if (first == std::string::npos)
        return {};
    return s.substr(first, s.find_last_not_of(" \t\r\n") - first + 1);
}

bool plainToken(const std::string& s, size_t max = 512)
{
    if (s.empty() || s.size() > max)
        return false;
    for (unsigned char c : s)
        if (c <= 0x20 || c >= 0x7f || c == '/' || c == '?' || c == '#' || c == '&' || c == '%' || c == '\\')
            return false;
    return true;
}

// Parts of an http(s) address; false when it is none.
bool splitUrl(const std::string& url, std::string* host, std::string* path, std::string* query)
{
    CURLU* u = curl_url();
    bool ok = curl_url_set(u, CURLUPART_URL, url.c_str(), 0) == CURLUE_OK;
    char* scheme = nullptr;
    ok = ok && curl_url_get(u, CURLUPART_SCHEME, &scheme, 0) == CURLUE_OK &&
         (std::string(scheme) == "http" || std::string(scheme) == "https");
    curl_free(scheme);
    auto part = [&](CURLUPart which, std::string* out) {
        char* v = nullptr;
        if (out && curl_url_get(u, which, &v, 0) == CURLUE_OK && v)
            *out = v;
        curl_free(v);
    };
    if (ok) {
        part(CURLUPART_HOST, host);
        part(CURLUPART_PATH, path);
        part(CURLUPART_QUERY, query);
    }
    curl_url_cleanup(u);
    return ok && (!host || !host->empty());
}

bool controlFree(const std::string& s)
{
    return std::none_of(s.begin(), s.end(), [](char c) { return static_cast<unsigned char>(c) < 0x20 || c == 0x7f; });
}

bool httpUrl(const std::string& url)
{
    std::string host;
    return url.size() <= 2048 && controlFree(url) && url.find(' ') == std::string::npos &&
           splitUrl(url, &host, nullptr, nullptr);
}

std::string base64(const unsigned char* bytes, size_t n)
{
    std::string out(4 * ((n + 2) / 3) + 1, '\0');
    const int k = EVP_EncodeBlock(reinterpret_cast<unsigned char*>(out.data()), bytes, static_cast<int>(n));
    out.resize(static_cast<size_t>(std::max(0, k)));
    return out;
}

std::string hmacSha256Base64(const std::string& key, const std::string& message)
{
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int n = 0;
    HMAC(EVP_sha256(), key.data(), static_cast<int>(key.size()), reinterpret_cast<const unsigned char*>(message.data()),
         message.size(), digest, &n);
    return base64(digest, n);
}

// The first `count` characters of UTF-8 text.
std::string utf8Chars(const std::string& s, size_t count)
{
    size_t at = 0;
    for (size_t seen = 0; at < s.size() && seen < count; ++seen) {
        ++at;
        while (at < s.size() && (static_cast<unsigned char>(s[at]) & 0xC0) == 0x80)
            ++at;
    }
    return s.substr(0, at);
}

std::string unixLines(std::string s)
{
    std::string out;
    out.reserve(s.size());
    for (size_t i = 0; i < s.size(); ++i)
        if (!(s[i] == '\r' && i + 1 < s.size() && s[i + 1] == '\n'))
            out += s[i];
    return out;
}

std::string dumpJson(const json& j)
{
    return j.dump(-1, ' ', false, json::error_handler_t::replace);
}

std::string withoutSlash(std::string url)
{
    while (!url.empty() && url.back() == '/')
        url.pop_back();
    return url;
}

const std::string& field(const ChannelConfig& config, const char* key)
{
    static const std::string kNone;
    const auto it = config.find(key);
    return it == config.end() ? kNone : it->second;
}

} // namespace

const std::vector<ChannelType>& ChannelTypes()
{
    return kTypes;
}

const ChannelType* FindChannelType(const std::string& id)
{
    for (const ChannelType& t : kTypes)
        if (id == t.id)
            return &t;
    return nullptr;
}

std::string ConfigToJson(const ChannelConfig& config)
{
    return dumpJson(json(config));
}

ChannelConfig ConfigFromJson(const std::string& text)
{
    ChannelConfig config;
    const json j = json::parse(text, nullptr, false);
    if (j.is_object())
        for (const auto& [key, value] : j.items())
            if (value.is_string())
                config[key] = value.get<std::string>();
    return config;
}

std::string UrlEncode(const std::string& text)
{
    static const char kHex[] = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : text) {
        if (std::isalnum(c) || c == '-' || c == '_' || c == '.' || c == '~') {
            out += static_cast<char>(c);
        } else {
            out += '%';
            out += kHex[c >> 4];
            out += kHex[c & 15];
        }
    }
    return out;
}

std::string DingTalkSign(const std::string& secret, int64_t timestampMs)
{
    return hmacSha256Base64(secret, std::to_string(timestampMs) + "\n" + secret);
}

std::string FeishuSign(const std::string& secret, int64_t timestampSeconds)
{
    // The robot signs with the text as the key and nothing as the message.
    return hmacSha256Base64(std::to_string(timestampSeconds) + "\n" + secret, "");
}

// Checks settings already trimmed, normalising them in place.
static std::string checkTrimmed(const ChannelType& type, ChannelConfig& clean)
{
    const std::string kind = type.id;
    std::string host, path, query;
    auto token = [&](const char* key, const char* name) -> std::string {
        return plainToken(field(clean, key)) ? std::string()
                                             : std::string("“") + name + "”不对：请复制完整的地址或 key。";
    };
    if (kind == "wecom") {
        std::string& key = clean["key"];
        if (key.rfind("http", 0) == 0 && splitUrl(key, &host, &path, &query))
            key = FormField(query, "key");
        return token("key", "webhook 地址或 key");
    }
    if (kind == "dingtalk") {
        std::string& t = clean["token"];
        if (t.rfind("http", 0) == 0 && splitUrl(t, &host, &path, &query))
            t = FormField(query, "access_token");
        if (clean.count("secret") && !plainToken(clean["secret"]))
            return "加签密钥不对。";
        return token("token", "webhook 地址或 access_token");
    }
    if (kind == "feishu") {
        std::string& t = clean["token"];
        if (t.rfind("http", 0) == 0 && splitUrl(t, &host, &path, &query)) {
            if (host == "open.larksuite.com")
                clean["region"] = "lark";
            const size_t hook = path.rfind("/hook/");
            t = hook == std::string::npos ? std::string() : path.substr(hook + 6);
        }
        if (clean.count("secret") && !plainToken(clean["secret"]))
            return "签名校验密钥不对。";
        return token("token", "webhook 地址");
    }
    if (kind == "serverchan")
        return token("sendkey", "SendKey");
    if (kind == "pushplus")
        return token("token", "token");
    if (kind == "bark" || kind == "ntfy" || kind == "gotify") {
        if (clean.count("server")) {
            clean["server"] = withoutSlash(clean["server"]);
            if (!httpUrl(clean["server"]))
                return "服务器地址要以 http:// 或 https:// 开头。";
        }
        if (kind == "bark")
            return token("device_key", "设备 key");
        if (kind == "ntfy") {
            if (clean.count("token") && !plainToken(clean["token"]))
                return "访问令牌不对。";
            return token("topic", "主题");
        }
        return token("token", "应用 token");
    }
    if (kind == "telegram") {
        const std::string& chat = clean["chat_id"];
        const bool numeric = chat.find_first_not_of("-0123456789") == std::string::npos && chat.size() <= 20;
        const bool named = chat.size() > 1 && chat[0] == '@' && plainToken(chat.substr(1), 64);
        if (!numeric && !named)
            return "chat id 是一个数字（群组以 - 开头）或 @频道名。";
        if (clean["token"].find(':') == std::string::npos || !plainToken(clean["token"]))
            return "机器人 token 的样子是 123456:ABC…。";
        return {};
    }
    if (kind == "email") {
        if (!ValidMailAddress(clean["address"]))
            return "这不是一个邮箱地址。";
    } else if (kind == "webhook") {
        if (!httpUrl(clean["url"]))
            return "网址要以 http:// 或 https:// 开头。";
    }
    return {};
}

std::string CheckChannelConfig(const ChannelType& type, ChannelConfig& config)
{
    ChannelConfig clean;
    for (const ChannelField& f : type.fields) {
        const std::string value = trim(field(config, f.key));
        if (value.empty()) {
            if (f.required)
                return std::string("请填写“") + f.label + "”。";
            continue;
        }
        if (value.size() > 2048 || !controlFree(value))
            return std::string("“") + f.label + "”太长或含有控制字符。";
        clean[f.key] = value;
    }
    const std::string why = checkTrimmed(type, clean);
    if (why.empty())
        config.swap(clean);
    return why;
}
std::string ChannelHost(const ChannelType& type, const ChannelConfig& config)
{
    const std::string kind = type.id;
    std::string url;
    if (kind == "webhook")
        url = field(config, "url");
    else if (kind == "bark" || kind == "ntfy" || kind == "gotify")
        url = field(config, "server");
    std::string host;
    if (url.empty() || !splitUrl(url, &host, nullptr, nullptr))
        return {};
    return host;
}

std::string MaskSecret(const std::string& secret)
{
    if (secret.size() <= 8)
        return "••••";
    return secret.substr(0, 4) + "…" + secret.substr(secret.size() - 2);
}

// An address as the account page may show it: scheme, host and port, never the
// user information; its path too when it is no secret (a secret address keeps its
// key there), never its query.
static std::string shownAddress(const std::string& url, bool secret)
{
    CURLU* u = curl_url();
    std::string shown;
    if (curl_url_set(u, CURLUPART_URL, url.c_str(), 0) == CURLUE_OK) {
        curl_url_set(u, CURLUPART_USER, nullptr, 0);
        curl_url_set(u, CURLUPART_PASSWORD, nullptr, 0);
        curl_url_set(u, CURLUPART_OPTIONS, nullptr, 0);
        curl_url_set(u, CURLUPART_QUERY, nullptr, 0);
        curl_url_set(u, CURLUPART_FRAGMENT, nullptr, 0);
        if (secret)
            curl_url_set(u, CURLUPART_PATH, "/", 0);
        char* text = nullptr;
        if (curl_url_get(u, CURLUPART_URL, &text, 0) == CURLUE_OK && text)
            shown = text;
        curl_free(text);
    }
    curl_url_cleanup(u);
    if (secret && !shown.empty())
        shown += "…";
    return shown;
}

std::string DescribeChannel(const ChannelType& type, const ChannelConfig& config)
{
    std::string out;
    for (const ChannelField& f : type.fields) {
        const std::string& value = field(config, f.key);
        if (value.empty())
            continue;
        const bool address = value.rfind("http", 0) == 0 && splitUrl(value, nullptr, nullptr, nullptr);
        std::string shown = address ? shownAddress(value, f.secret) : f.secret ? MaskSecret(value) : value;
        if (shown.empty())
            shown = MaskSecret(value);
        out += (out.empty() ? "" : "，") + std::string(f.label) + " " + shown;
    }
    return out;
}

int CountRecords(const std::string& records)
{
    const std::string text = unixLines(records);
    int count = 0;
    bool inRecord = false;
    size_t start = 0;
    while (start <= text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos)
            end = text.size();
        const bool blank = trim(text.substr(start, end - start)).empty();
        if (!blank && !inRecord)
            ++count;
        inRecord = !blank;
        start = end + 1;
    }
    return count;
}

namespace {

// The ends of the records (blocks of lines separated by empty lines) in text
// that begins at `at` of a message.
void recordEnds(const std::string& text, size_t at, std::vector<size_t>& ends)
{
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos)
            end = text.size();
        const bool blank = trim(text.substr(start, end - start)).empty();
        const size_t next = end + 1;
        const bool lastOfBlock =
            !blank && (next >= text.size() || trim(text.substr(next, text.find('\n', next) - next)).empty());
        if (lastOfBlock)
            ends.push_back(at + end);
        start = next;
    }
}

size_t utf16Units(const std::string& text)
{
    size_t units = 0;
    for (unsigned char c : text)
        units += (c & 0xC0) != 0x80 ? (c >= 0xF0 ? 2 : 1) : 0;
    return units;
}

} // namespace

ChannelMessage ComposeMessage(const std::vector<ResultText>& results, size_t limit, const std::string& inboxUrl)
{
    ChannelMessage m;
    int total = 0;
    std::string text;
    std::vector<size_t> ends; // where each record ends in the text
    for (const ResultText& r : results) {
        const int n = CountRecords(r.records);
        total += n;
        if (!text.empty())
            text += "\n\n";
        // One result's name and count are the title.
        if (results.size() > 1)
            text += "【" + r.task + "】" + std::to_string(n) + " 条新记录\n";
        if (!r.url.empty())
            text += "网页：" + r.url + "\n";
        std::string records = unixLines(r.records);
        while (!records.empty() && records.back() == '\n')
            records.pop_back();
        recordEnds(records, text.size(), ends);
        text += records;
        while (!text.empty() && text.back() == '\n')
            text.pop_back();
    }
    m.title = results.size() == 1
                  ? "Vexory「" + utf8Chars(results[0].task, 40) + "」" + std::to_string(total) + " 条新记录"
                  : "Vexory " + std::to_string(total) + " 条新记录（" + std::to_string(results.size()) + " 个结果）";
    if (text.size() <= limit) {
        m.text = text;
        return m;
    }
    // The note counts the records the cut leaves out, whole or in part; its own
    // length depends on that count, so it is made for the most that can be left out.
    auto note = [&](size_t left) {
        return "\n……（内容过长，已截断，未显示 " + std::to_string(left) + " 条；共 " + std::to_string(total) +
               " 条新记录" + (inboxUrl.empty() ? std::string() : "，全文见 " + inboxUrl) + "）";
    };
    const size_t room = note(ends.size()).size();
    const std::string kept = Utf8Prefix(text, limit > room ? limit - room : 0);
    const size_t shown =
        static_cast<size_t>(std::count_if(ends.begin(), ends.end(), [&](size_t end) { return end <= kept.size(); }));
    m.text = kept + note(ends.size() - shown);
    return m;
}

size_t CountedSize(const ChannelType& type, const ChannelMessage& message, const std::vector<ResultText>& results)
{
    switch (type.counted) {
    case Counted::Text:
        return message.text.size();
    case Counted::TitleAndText:
        return message.title.size() + 1 + message.text.size();
    case Counted::TitleAndText16:
        return utf16Units(message.title) + 1 + utf16Units(message.text);
    case Counted::MarkdownText:
        return message.text.size() + static_cast<size_t>(std::count(message.text.begin(), message.text.end(), '\n'));
    case Counted::Body:
        break;
    }
    return BuildChannelRequest(type, {}, message, results, {}, 0).body.size();
}

ChannelMessage ChannelMessageFor(const ChannelType& type, const std::vector<ResultText>& results,
                                 const std::string& inboxUrl)
{
    // Escaping and doubled line ends come on top of the text: the text is cut
    // shorter by what the whole was over, until the whole fits.
    // (A limit in UTF-16 units holds up to three bytes of UTF-8 text for each.)
    size_t budget = type.counted == Counted::TitleAndText16 ? type.limit * 3 : type.limit;
    ChannelMessage m = ComposeMessage(results, budget, inboxUrl);
    for (int round = 0; round < 64 && budget > 0; ++round) {
        const size_t size = CountedSize(type, m, results);
        if (size <= type.limit)
            break;
        const size_t over = size - type.limit + 8;
        budget = std::min(budget, m.text.size()) > over ? std::min(budget, m.text.size()) - over : 0;
        m = ComposeMessage(results, budget, inboxUrl);
    }
    return m;
}

OutboundRequest BuildChannelRequest(const ChannelType& type, const ChannelConfig& config, const ChannelMessage& message,
                                    const std::vector<ResultText>& results, const std::string& apiBase, int64_t nowMs)
{
    OutboundRequest q;
    const std::string kind = type.id;
    const std::string jsonType = "Content-Type: application/json; charset=utf-8";
    q.headers.push_back(jsonType);
    const std::string base = withoutSlash(apiBase.empty() ? type.apiBase : apiBase);
    auto server = [&]() {
        const std::string& own = field(config, "server");
        return own.empty() ? base : withoutSlash(own);
    };
    const std::string both = message.title + "\n" + message.text;
    if (kind == "webhook") {
        // One result a call, in the form webhooks have always had.
        const ResultText& r = results.front();
        q.url = field(config, "url");
        q.body = dumpJson({{"nick", r.nick},
                           {"task", r.task},
                           {"url", r.url},
                           {"records", r.records},
                           {"id", r.id},
                           {"text", "[ " + r.task + " ]\n" + r.records}});
    } else if (kind == "wecom") {
        q.url = base + "/cgi-bin/webhook/send?key=" + UrlEncode(field(config, "key"));
        q.body = dumpJson({{"msgtype", "text"}, {"text", {{"content", both}}}});
    } else if (kind == "dingtalk") {
        q.url = base + "/robot/send?access_token=" + UrlEncode(field(config, "token"));
        if (const std::string& secret = field(config, "secret"); !secret.empty())
            q.url += "&timestamp=" + std::to_string(nowMs) + "&sign=" + UrlEncode(DingTalkSign(secret, nowMs));
        q.body = dumpJson({{"msgtype", "text"}, {"text", {{"content", both}}}});
    } else if (kind == "feishu") {
        const std::string host =
            apiBase.empty() && field(config, "region") == "lark" ? "https://open.larksuite.com" : base;
        q.url = host + "/open-apis/bot/v2/hook/" + UrlEncode(field(config, "token"));
        json body = {{"msg_type", "text"}, {"content", {{"text", both}}}};
        if (const std::string& secret = field(config, "secret"); !secret.empty()) {
            const int64_t seconds = nowMs / 1000;
            body["timestamp"] = std::to_string(seconds);
            body["sign"] = FeishuSign(secret, seconds);
        }
        q.body = dumpJson(body);
    } else if (kind == "serverchan") {
        q.headers = {"Content-Type: application/x-www-form-urlencoded"};
        q.url = base + "/" + UrlEncode(field(config, "sendkey")) + ".send";
        // The text is Markdown there: a line break needs an empty line.
        std::string desp;
        for (char c : message.text)
            desp += c == '\n' ? std::string("\n\n") : std::string(1, c);
        q.body = "title=" + UrlEncode(utf8Chars(message.title, 32)) + "&desp=" + UrlEncode(desp);
    } else if (kind == "pushplus") {
        q.url = base + "/send";
        q.body = dumpJson({{"token", field(config, "token")},
                           {"title", message.title},
                           {"content", message.text},
                           {"template", "txt"}});
    } else if (kind == "bark") {
        q.url = server() + "/push";
        json body = {{"device_key", field(config, "device_key")},
                     {"title", message.title},
                     {"body", message.text},
                     {"group", "Vexory"}};
        if (results.size() == 1 && results[0].url.rfind("http", 0) == 0)
            body["url"] = results[0].url;
        q.body = dumpJson(body);
    } else if (kind == "ntfy") {
        q.url = server() + "/";
        json body = {{"topic", field(config, "topic")}, {"title", message.title}, {"message", message.text}};
        if (results.size() == 1 && results[0].url.rfind("http", 0) == 0)
            body["click"] = results[0].url;
        if (const std::string& token = field(config, "token"); !token.empty())
            q.headers.push_back("Authorization: Bearer " + token);
        q.body = dumpJson(body);
    } else if (kind == "gotify") {
        q.url = server() + "/message";
        q.headers.push_back("X-Gotify-Key: " + field(config, "token"));
        q.body = dumpJson({{"title", message.title}, {"message", message.text}, {"priority", 5}});
    } else if (kind == "telegram") {
        q.url = base + "/bot" + field(config, "token") + "/sendMessage";
        q.body = dumpJson({{"chat_id", field(config, "chat_id")}, {"text", both}, {"disable_web_page_preview", true}});
    }
    return q;
}

bool ChannelAccepted(const ChannelType& type, const OutboundAnswer& answer, std::string* error)
{
    auto fail = [&](const std::string& why) {
        if (error)
            *error = why;
        return false;
    };
    if (!answer.done)
        return fail(answer.error);
    const std::string kind = type.id;
    const json j = json::parse(answer.body, nullptr, false);
    auto number = [&](const char* key, int64_t otherwise) {
        return j.is_object() && j.contains(key) && j[key].is_number_integer() ? j[key].get<int64_t>() : otherwise;
    };
    auto words = [&](const char* key) {
        return j.is_object() && j.contains(key) && j[key].is_string() ? " " + j[key].get<std::string>() : std::string();
    };
    const std::string status = "HTTP " + std::to_string(answer.status);
    if (kind == "telegram") {
        if (j.is_object() && j.value("ok", false))
            return true;
        return fail(status + words("description"));
    }
    if (answer.status < 200 || answer.status >= 300)
        return fail(status + words("errmsg") + words("msg") + words("message"));
    if (kind == "wecom" || kind == "dingtalk") {
        if (number("errcode", -1) == 0)
            return true;
        return fail("errcode " + std::to_string(number("errcode", -1)) + words("errmsg"));
    }
    if (kind == "feishu") {
        if (number("code", number("StatusCode", -1)) == 0)
            return true;
        return fail("code " + std::to_string(number("code", -1)) + words("msg"));
    }
    if (kind == "serverchan") {
        if (number("code", -1) == 0)
            return true;
        return fail("code " + std::to_string(number("code", -1)) + words("message"));
    }
    if (kind == "pushplus" || kind == "bark") {
        if (number("code", -1) == 200)
            return true;
        return fail("code " + std::to_string(number("code", -1)) + words("msg") + words("message"));
    }
    return true;
}

} // namespace vexory::server
