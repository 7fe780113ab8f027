#pragma once

// Pages fetched as the browser would fetch them, without it: for a page read
// directly, and for a page served as a download, whose text is shown instead.

#include "platform/http_transfer.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace vexory {

// A cookie of the browser's profile, with what its rules need: where it may go
// (domain, path, https only), and until when.
struct BrowserCookie
{
    std::string domain; // "example.com": that host alone; ".example.com": it and its subdomains
    std::string path = "/";
    std::string name, value;
    int64_t expires = 0; // seconds since the epoch; 0 ends with the session
    bool secure = false;
    bool httpOnly = false;
};
using CookieList = std::vector<BrowserCookie>;

// What a read sends as the browser would: the profile's cookies (sent by the
// cookie rules) and its user agent. The browser publishes them whenever they
// change; any thread takes the current ones.
struct BrowserIdentity
{
    std::shared_ptr<const CookieList> cookies;
    std::string userAgent;
};
void PublishBrowserIdentity(BrowserIdentity identity);
BrowserIdentity CurrentBrowserIdentity();

// A page as a browser would fetch it: redirects followed (at most 20; http and
// https only), gzip, deflate and brotli decoded, the browser's user agent sent,
// and its cookies by the cookie rules at every hop (a host gets only its own;
// cookies set along the way are used for the rest of this read, then dropped).
// The transfer's limits as HttpRequest has them.
struct PageRequest : HttpRequest
{
    PageRequest()
    {
        followRedirects = true;
        acceptEncoding = ""; // every encoding this libcurl decodes
        cookieEngine = true;
    }
    std::shared_ptr<const CookieList> cookies; // made the transfer's cookie lines
};

// `status` is 0 when nothing came; `url` is the address the page came from in the
// end. A failed read has no body.
using FetchedPage = HttpAnswer;
FetchedPage HttpFetchPage(const PageRequest& request);

// A GET whose text (status 200 or 302, not followed) comes back in code page 936,
// converted from the character set the response names (UTF-8 when it names none).
// gzip and deflate are decoded. Connecting may take 60 s, a stalled answer 30 s;
// a body past kMaxTextBytes is not taken. The browser's cookies go by the cookie
// rules, with its user agent. `fetched`, when given, tells the status and why
// nothing came; a set `cancel` ends the request within a second.
std::string HttpGet(const std::string& url, std::shared_ptr<const CookieList> cookies = {},
                    const std::string& userAgent = {}, FetchedPage* fetched = nullptr,
                    const std::atomic<bool>* cancel = nullptr);
inline constexpr size_t kMaxTextBytes = 16 * 1024 * 1024;

} // namespace vexory
