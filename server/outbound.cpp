#include "outbound.h"

#include <arpa/inet.h>
#include <curl/curl.h>
#include <ifaddrs.h>
#include <netdb.h>
#include <netinet/in.h>
#include <openssl/evp.h>
#include <openssl/rand.h>
#include <sys/socket.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <ctime>

namespace vexory::server {

namespace {

using Range = OutboundPolicy::Range;

bool parseRange(const std::string& text, Range& out)
{
    const size_t slash = text.find('/');
    const std::string address = text.substr(0, slash);
    std::memset(out.bytes, 0, sizeof out.bytes);
    if (inet_pton(AF_INET, address.c_str(), out.bytes) == 1) {
        out.family = AF_INET;
        out.prefix = 32;
    } else if (inet_pton(AF_INET6, address.c_str(), out.bytes) == 1) {
        out.family = AF_INET6;
        out.prefix = 128;
    } else {
        return false;
    }
    if (slash != std::string::npos) {
        const std::string bits = text.substr(slash + 1);
        if (bits.empty() || bits.size() > 3 || bits.find_first_not_of("0123456789") != std::string::npos)
            return false;
        const int n = std::stoi(bits);
        if (n > out.prefix)
            return false;
        out.prefix = n;
    }
    return true;
}

Range must(const char* text)
{
    Range r{};
    parseRange(text, r);
    return r;
}

int64_t steadyMs()
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

bool inRange(const Range& r, int family, const unsigned char* bytes)
{
    if (r.family != family)
        return false;
    const int whole = r.prefix / 8, rest = r.prefix % 8;
    if (std::memcmp(r.bytes, bytes, whole) != 0)
        return false;
    if (rest == 0)
        return true;
    const unsigned char mask = static_cast<unsigned char>(0xff << (8 - rest));
    return (r.bytes[whole] & mask) == (bytes[whole] & mask);
}

struct Blocked
{
    Range range;
    const char* why;
};

const std::vector<Blocked>& blockedRanges()
{
    static const std::vector<Blocked> kBlocked = {
        {must("0.0.0.0/8"), "本网络地址"},
        {must("10.0.0.0/8"), "内网地址"},
        {must("100.64.0.0/10"), "运营商内网地址"},
        {must("127.0.0.0/8"), "本机回环地址"},
        {must("169.254.0.0/16"), "链路本地地址"},
        {must("172.16.0.0/12"), "内网地址"},
        {must("192.0.0.0/24"), "保留地址"},
        {must("192.168.0.0/16"), "内网地址"},
        {must("198.18.0.0/15"), "保留地址"},
        {must("224.0.0.0/3"), "组播或保留地址"},
        {must("::/127"), "本机回环地址"},
        {must("::/96"), "保留地址"},
        {must("64:ff9b:1::/48"), "内网地址"},
        {must("fc00::/7"), "内网地址"},
        {must("fe80::/10"), "链路本地地址"},
        {must("fec0::/10"), "内网地址"},
        {must("ff00::/8"), "组播地址"},
    };
    return kBlocked;
}

size_t collect(char* data, size_t size, size_t count, void* target)
{
    auto* call = static_cast<std::pair<std::string*, size_t>*>(target);
    if (call->first->size() + size * count > call->second)
        return 0; // too large: the transfer stops
    call->first->append(data, size * count);
    return size * count;
}

int cancelled(void* flag, curl_off_t, curl_off_t, curl_off_t, curl_off_t)
{
    return static_cast<const std::atomic<bool>*>(flag)->load() ? 1 : 0;
}

struct Guard
{
    const OutboundPolicy* policy;
    std::string refusal;
};

// Every connection of a call, the first and those after redirects, passes here
// with the address the name resolved to.
curl_socket_t openChecked(void* data, curlsocktype, curl_sockaddr* address)
{
    auto* guard = static_cast<Guard*>(data);
    const std::string why = guard->policy->Refusal(&address->addr);
    if (!why.empty()) {
        guard->refusal = why;
        return CURL_SOCKET_BAD;
    }
    return socket(address->family, address->socktype, address->protocol);
}

std::string base64(const std::string& bytes)
{
    std::string out(4 * ((bytes.size() + 2) / 3) + 1, '\0');
    const int n = EVP_EncodeBlock(reinterpret_cast<unsigned char*>(out.data()),
                                  reinterpret_cast<const unsigned char*>(bytes.data()), static_cast<int>(bytes.size()));
    out.resize(static_cast<size_t>(std::max(0, n)));
    return out;
}

struct MailSource
{
    const std::string* text;
    size_t at = 0;
};

size_t readMail(char* buffer, size_t size, size_t count, void* data)
{
    auto* source = static_cast<MailSource*>(data);
    const size_t n = std::min(size * count, source->text->size() - source->at);
    std::memcpy(buffer, source->text->data() + source->at, n);
    source->at += n;
    return n;
}

} // namespace

OutboundPolicy::OutboundPolicy()
{
    ReadOwnAddresses();
}

bool OutboundPolicy::Allow(const std::string& range, std::string* error)
{
    Range r{};
    if (!parseRange(range, r)) {
        if (error)
            *error = "\"" + range + "\" is no address range (such as 10.0.0.0/8 or fd00::/8)";
        return false;
    }
    m_allowed.push_back(r);
    return true;
}

std::string OwnAddressesUnreadable()
{
    ifaddrs* list = nullptr;
    if (getifaddrs(&list) != 0)
        return std::string("getifaddrs: ") + std::strerror(errno);
    freeifaddrs(list);
    return {};
}

bool OutboundPolicy::ReadOwnAddresses()
{
    std::vector<Range> own;
    ifaddrs* list = nullptr;
    const bool readable = getifaddrs(&list) == 0;
    if (!readable) {
        std::lock_guard lock(m_mutex);
        if (!m_ownUnreadable)
            std::fprintf(stderr,
                         "vexory-server: cannot read this machine's addresses (getifaddrs: %s); "
                         "the last ones read are kept\n",
                         std::strerror(errno));
        m_ownUnreadable = true;
        m_ownReadMs = steadyMs();
        return false;
    }
    for (ifaddrs* i = list; i; i = i->ifa_next) {
        if (!i->ifa_addr)
            continue;
        Range r{};
        if (i->ifa_addr->sa_family == AF_INET) {
            r.family = AF_INET;
            r.prefix = 32;
            std::memcpy(r.bytes, &reinterpret_cast<sockaddr_in*>(i->ifa_addr)->sin_addr, 4);
        } else if (i->ifa_addr->sa_family == AF_INET6) {
            r.family = AF_INET6;
            r.prefix = 128;
            std::memcpy(r.bytes, &reinterpret_cast<sockaddr_in6*>(i->ifa_addr)->sin6_addr, 16);
        } else {
            continue;
        }
        own.push_back(r);
    }
    freeifaddrs(list);
    std::lock_guard lock(m_mutex);
    m_own = std::move(own);
    m_ownReadMs = steadyMs();
    m_ownUnreadable = false;
    return true;
}

std::string OutboundPolicy::Refusal(const sockaddr* address) const
{
    int family = 0;
    unsigned char bytes[16] = {};
    if (address->sa_family == AF_INET) {
        family = AF_INET;
        std::memcpy(bytes, &reinterpret_cast<const sockaddr_in*>(address)->sin_addr, 4);
    } else if (address->sa_family == AF_INET6) {
        family = AF_INET6;
        std::memcpy(bytes, &reinterpret_cast<const sockaddr_in6*>(address)->sin6_addr, 16);
        // An IPv4 address written as IPv6 is judged as the IPv4 address it is: mapped
        // (::ffff:a.b.c.d), translated by NAT64 (64:ff9b::a.b.c.d) or 6to4 (2002:AABB:CCDD::).
        static const unsigned char kMapped[12] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xff, 0xff};
        static const unsigned char kNat64[12] = {0, 0x64, 0xff, 0x9b, 0, 0, 0, 0, 0, 0, 0, 0};
        const bool sixToFour = bytes[0] == 0x20 && bytes[1] == 0x02;
        if (std::memcmp(bytes, kMapped, 12) == 0 || std::memcmp(bytes, kNat64, 12) == 0 || sixToFour) {
            family = AF_INET;
            std::memmove(bytes, bytes + (sixToFour ? 2 : 12), 4);
            std::memset(bytes + 4, 0, 12);
        }
    } else {
        return "不是网络地址";
    }
    for (const Range& r : m_allowed)
        if (inRange(r, family, bytes))
            return {};
    for (const Blocked& b : blockedRanges())
        if (inRange(b.range, family, bytes))
            return b.why;
    bool stale = false;
    {
        std::lock_guard lock(m_mutex);
        stale = steadyMs() - m_ownReadMs > kOwnAddressesMs;
    }
    if (stale)
        const_cast<OutboundPolicy*>(this)->ReadOwnAddresses();
    std::lock_guard lock(m_mutex);
    for (const Range& r : m_own)
        if (inRange(r, family, bytes))
            return "本服务器自己的地址";
    return {};
}

std::string OutboundPolicy::RefusalOf(const std::string& numericAddress) const
{
    sockaddr_in6 six{};
    sockaddr_in four{};
    if (inet_pton(AF_INET, numericAddress.c_str(), &four.sin_addr) == 1) {
        four.sin_family = AF_INET;
        return Refusal(reinterpret_cast<sockaddr*>(&four));
    }
    if (inet_pton(AF_INET6, numericAddress.c_str(), &six.sin6_addr) == 1) {
        six.sin6_family = AF_INET6;
        return Refusal(reinterpret_cast<sockaddr*>(&six));
    }
    return "不是网络地址";
}

std::string OutboundPolicy::CheckHost(const std::string& host) const
{
    addrinfo hints{};
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    // An IPv6 literal comes as an address's host does, in brackets.
    const std::string name =
        host.size() > 2 && host.front() == '[' && host.back() == ']' ? host.substr(1, host.size() - 2) : host;
    if (getaddrinfo(name.c_str(), nullptr, &hints, &found) != 0 || !found)
        return "无法解析域名 " + host;
    std::string why;
    bool any = false;
    for (addrinfo* a = found; a; a = a->ai_next) {
        const std::string r = Refusal(a->ai_addr);
        if (r.empty())
            any = true;
        else if (why.empty())
            why = host + " 是" + r;
    }
    freeaddrinfo(found);
    return any ? std::string() : why;
}

OutboundAnswer CallOut(const OutboundPolicy& policy, const OutboundRequest& request, const std::atomic<bool>* cancel)
{
    OutboundAnswer answer;
    CURL* h = curl_easy_init();
    if (!h) {
        answer.error = "out of memory";
        return answer;
    }
    curl_slist* headers = nullptr;
    for (const std::string& header : request.headers)
        headers = curl_slist_append(headers, header.c_str());
    curl_slist* resolve = nullptr;
    for (const std::string& entry : request.resolve)
        resolve = curl_slist_append(resolve, entry.c_str());
    curl_easy_setopt(h, CURLOPT_RESOLVE, resolve);
    Guard guard{&policy, {}};
    std::pair<std::string*, size_t> sink{&answer.body, request.maxAnswer};
    curl_easy_setopt(h, CURLOPT_URL, request.url.c_str());
    curl_easy_setopt(h, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(h, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(h, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(h, CURLOPT_MAXREDIRS, 3L);
    // A redirected POST stays a POST with its body, as the endpoint meant.
    curl_easy_setopt(h, CURLOPT_POSTREDIR, static_cast<long>(CURL_REDIR_POST_ALL));
    // No proxy from the environment: the check must see the real destination.
    curl_easy_setopt(h, CURLOPT_PROXY, "");
    curl_easy_setopt(h, CURLOPT_OPENSOCKETFUNCTION, openChecked);
    curl_easy_setopt(h, CURLOPT_OPENSOCKETDATA, &guard);
    curl_easy_setopt(h, CURLOPT_HTTPHEADER, headers);
    if (request.method == "POST") {
        curl_easy_setopt(h, CURLOPT_POSTFIELDS, request.body.data());
        curl_easy_setopt(h, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(request.body.size()));
    } else if (request.method != "GET") {
        curl_easy_setopt(h, CURLOPT_CUSTOMREQUEST, request.method.c_str());
    }
    curl_easy_setopt(h, CURLOPT_TIMEOUT_MS, static_cast<long>(request.timeoutMs));
    curl_easy_setopt(h, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(h, CURLOPT_USERAGENT, "vexory-server");
    curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, collect);
    curl_easy_setopt(h, CURLOPT_WRITEDATA, &sink);
    if (cancel) {
        curl_easy_setopt(h, CURLOPT_XFERINFOFUNCTION, cancelled);
        curl_easy_setopt(h, CURLOPT_XFERINFODATA, cancel);
        curl_easy_setopt(h, CURLOPT_NOPROGRESS, 0L);
    }
    const CURLcode rc = curl_easy_perform(h);
    curl_easy_getinfo(h, CURLINFO_RESPONSE_CODE, &answer.status);
    curl_easy_cleanup(h);
    curl_slist_free_all(headers);
    curl_slist_free_all(resolve);
    // A name with several addresses may have had one refused before another
    // answered: what curl says of the call decides.
    if (rc == CURLE_OK)
        answer.done = true;
    else if (!guard.refusal.empty())
        answer.error = "拒绝连接：" + guard.refusal;
    else if (rc == CURLE_WRITE_ERROR)
        answer.error = "回答超过 " + std::to_string(request.maxAnswer) + " 字节";
    else
        answer.error = TransferFailure(rc, request.timeoutMs);
    return answer;
}

bool ValidMailAddress(const std::string& address)
{
    const size_t at = address.find('@');
    if (address.size() > 254 || at == 0 || at == std::string::npos || at != address.rfind('@') ||
        at + 1 >= address.size() || address.find('.', at) == std::string::npos || address.back() == '.')
        return false;
    for (unsigned char c : address)
        if (c <= 0x20 || c == 0x7f || c == '<' || c == '>' || c == '(' || c == ')' || c == ',' || c == ';' ||
            c == ':' || c == '\\' || c == '"' || c == '[' || c == ']')
            return false;
    return true;
}

std::string ComposeMail(const SmtpSettings& smtp, const std::string& to, const std::string& subject,
                        const std::string& text, int64_t nowSeconds)
{
    char date[64];
    const std::time_t t = static_cast<std::time_t>(nowSeconds);
    std::tm tm{};
    gmtime_r(&t, &tm);
    std::strftime(date, sizeof date, "%a, %d %b %Y %H:%M:%S +0000", &tm);
    unsigned char id[12];
    RAND_bytes(id, sizeof id);
    std::string messageId;
    for (unsigned char c : id) {
        static const char kHex[] = "0123456789abcdef";
        messageId += kHex[c >> 4];
        messageId += kHex[c & 15];
    }
    const std::string domain = smtp.from.substr(smtp.from.find('@') + 1);
    std::string body = base64(text);
    std::string wrapped;
    for (size_t i = 0; i < body.size(); i += 76)
        wrapped += body.substr(i, 76) + "\r\n";
    return "Date: " + std::string(date) + "\r\nFrom: Vexory <" + smtp.from + ">\r\nTo: <" + to + ">\r\nMessage-ID: <" +
           messageId + "@" + domain + ">\r\nSubject: =?UTF-8?B?" + base64(subject) +
           "?=\r\nMIME-Version: 1.0\r\nContent-Type: text/plain; charset=UTF-8\r\nContent-Transfer-Encoding: "
           "base64\r\n\r\n" +
           wrapped;
}

bool SendMail(const SmtpSettings& smtp, const std::string& to, const std::string& subject, const std::string& text,
              std::string* error, const std::atomic<bool>* cancel)
{
    if (!smtp.enabled() || !ValidMailAddress(to)) {
        if (error)
            *error = smtp.enabled() ? "not a mail address" : "this service sends no mail";
        return false;
    }
    const std::string message = ComposeMail(smtp, to, subject, text, std::time(nullptr));
    CURL* h = curl_easy_init();
    if (!h)
        return false;
    MailSource source{&message};
    curl_slist* recipients = curl_slist_append(nullptr, ("<" + to + ">").c_str());
    curl_easy_setopt(h, CURLOPT_URL, smtp.url.c_str());
    curl_easy_setopt(h, CURLOPT_PROTOCOLS_STR, "smtp,smtps");
    curl_easy_setopt(h, CURLOPT_MAIL_FROM, ("<" + smtp.from + ">").c_str());
    curl_easy_setopt(h, CURLOPT_MAIL_RCPT, recipients);
    curl_easy_setopt(h, CURLOPT_READFUNCTION, readMail);
    curl_easy_setopt(h, CURLOPT_READDATA, &source);
    curl_easy_setopt(h, CURLOPT_UPLOAD, 1L);
    // A password goes out only encrypted; a relay without one may be plain.
    curl_easy_setopt(h, CURLOPT_USE_SSL, static_cast<long>(smtp.user.empty() ? CURLUSESSL_TRY : CURLUSESSL_ALL));
    curl_easy_setopt(h, CURLOPT_TIMEOUT_MS, static_cast<long>(smtp.timeoutMs));
    curl_easy_setopt(h, CURLOPT_NOSIGNAL, 1L);
    if (!smtp.user.empty()) {
        curl_easy_setopt(h, CURLOPT_USERNAME, smtp.user.c_str());
        curl_easy_setopt(h, CURLOPT_PASSWORD, smtp.password.c_str());
    }
    if (cancel) {
        curl_easy_setopt(h, CURLOPT_XFERINFOFUNCTION, cancelled);
        curl_easy_setopt(h, CURLOPT_XFERINFODATA, cancel);
        curl_easy_setopt(h, CURLOPT_NOPROGRESS, 0L);
    }
    const CURLcode rc = curl_easy_perform(h);
    curl_slist_free_all(recipients);
    curl_easy_cleanup(h);
    if (rc != CURLE_OK && error)
        *error = "邮件：" + TransferFailure(rc, smtp.timeoutMs);
    return rc == CURLE_OK;
}

std::string TransferFailure(int curlCode, int timeoutMs)
{
    const auto rc = static_cast<CURLcode>(curlCode);
    switch (rc) {
    case CURLE_OK:
        return {};
    case CURLE_COULDNT_RESOLVE_HOST:
        return "无法解析域名（域名不存在或 DNS 没有回答）";
    case CURLE_COULDNT_CONNECT:
        return "无法连接（对方拒绝连接或网络不通）";
    case CURLE_OPERATION_TIMEDOUT:
        return "超时：对方 " + std::to_string((timeoutMs + 999) / 1000) + " 秒内没有回答完";
    case CURLE_SSL_CONNECT_ERROR:
        return "安全连接（TLS）建立失败";
    case CURLE_PEER_FAILED_VERIFICATION:
        return "对方的证书无效或与域名不符";
    case CURLE_GOT_NOTHING:
        return "对方没有回答就关闭了连接";
    case CURLE_SEND_ERROR:
    case CURLE_RECV_ERROR:
        return "连接中断";
    case CURLE_TOO_MANY_REDIRECTS:
        return "重定向次数过多";
    case CURLE_URL_MALFORMAT:
        return "地址格式不对";
    case CURLE_UNSUPPORTED_PROTOCOL:
        return "不支持的地址类型（只能是 http:// 或 https://）";
    case CURLE_ABORTED_BY_CALLBACK:
        return "服务正在停止，未发送";
    case CURLE_LOGIN_DENIED:
        return "服务器拒绝登录（用户名或密码不对）";
    case CURLE_USE_SSL_FAILED:
        return "服务器不支持加密连接（STARTTLS），为保护密码没有登录";
    default:
        return "网络错误（代码 " + std::to_string(curlCode) + "）";
    }
}

} // namespace vexory::server
