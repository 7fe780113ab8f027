#include "browser/page_fetch.h"

#include "platform/codepage.h"

#include <algorithm>
#include <cctype>
#include <chrono>
#include <mutex>
#include <utility>

namespace vexory {

namespace {

// The profile's cookies as lines of libcurl's cookie engine, which then sends each
// host only its own, by domain, path, Secure and expiry, at every hop of a read.
std::vector<std::string> cookieLines(const CookieList& cookies)
{
    const int64_t now = std::chrono::duration_cast<std::chrono::seconds>(
                            std::chrono::system_clock::now().time_since_epoch())
                            .count();
    auto clean = [](const std::string& field) {
        return std::none_of(field.begin(), field.end(), [](unsigned char c) { return c < 0x20 || c == 0x7F; });
    };
    std::vector<std::string> lines;
    lines.reserve(cookies.size());
    for (const BrowserCookie& c : cookies) {
        if ((c.expires != 0 && c.expires <= now) || c.name.empty() || !clean(c.name) || !clean(c.value) ||
            !clean(c.domain) || !clean(c.path))
            continue;
        const bool subdomains = !c.domain.empty() && c.domain[0] == '.';
        const std::string domain = subdomains ? c.domain.substr(1) : c.domain;
        if (domain.empty())
            continue;
        std::string line = c.httpOnly ? "#HttpOnly_" : "";
        line += domain;
        line += subdomains ? "\tTRUE\t" : "\tFALSE\t";
        line += c.path.empty() ? "/" : c.path;
        line += c.secure ? "\tTRUE\t" : "\tFALSE\t";
        line += std::to_string(std::max<int64_t>(c.expires, 0));
        line += '\t' + c.name + '\t' + c.value;
        lines.push_back(std::move(line));
    }
    return lines;
}

// The charset parameter of a Content-Type value, lower-cased; "" when none.
std::string charsetOf(std::string contentType)
{
    std::transform(contentType.begin(), contentType.end(), contentType.begin(),
                   [](unsigned char c) { return std::tolower(c); });
    const size_t at = contentType.find("charset=");
    if (at == std::string::npos)
        return {};
    std::string value = contentType.substr(at + 8);
    const size_t end = value.find_first_of("; \t\r\n");
    value = value.substr(0, end);
    value.erase(std::remove(value.begin(), value.end(), '"'), value.end());
    return value;
}

std::mutex g_identityMutex;
BrowserIdentity g_identity;

} // namespace

void PublishBrowserIdentity(BrowserIdentity identity)
{
    std::lock_guard lock(g_identityMutex);
    g_identity = std::move(identity);
}

BrowserIdentity CurrentBrowserIdentity()
{
    std::lock_guard lock(g_identityMutex);
    return g_identity;
}

FetchedPage HttpFetchPage(const PageRequest& request)
{
    if (!request.cookies)
        return HttpTransfer(request);
    HttpRequest transfer = request;
    transfer.cookieLines = cookieLines(*request.cookies);
    return HttpTransfer(transfer);
}

std::string HttpGet(const std::string& url, std::shared_ptr<const CookieList> cookies, const std::string& userAgent,
                    FetchedPage* fetched, const std::atomic<bool>* cancel)
{
    PageRequest request;
    request.url = url;
    request.cookies = std::move(cookies);
    request.userAgent = userAgent;
    request.connectMs = 60000;
    request.stallMs = 30000;
    request.maxBytes = kMaxTextBytes;
    request.followRedirects = false;
    request.headers = {"If-Modified-Since: 0"}; // no cached copy
    request.acceptEncoding = "gzip, deflate";
    request.cancel = cancel;
    FetchedPage page = HttpFetchPage(request);
    std::string text;
    if (page.failure == FetchFailure::None && (page.status == 200 || page.status == 302)) {
        std::string charset = charsetOf(page.contentType);
        std::string& body = page.body;
        if (charset.empty() && body.size() >= 3 && body.compare(0, 3, "\xEF\xBB\xBF") == 0)
            charset = "utf-8";
        if (body.size() >= 3 && body.compare(0, 3, "\xEF\xBB\xBF") == 0 && charset == "utf-8")
            body.erase(0, 3);
        text = CharsetToGbk(body, charset);
    }
    if (fetched) {
        page.body.clear();
        *fetched = std::move(page);
    }
    return text;
}

} // namespace vexory
