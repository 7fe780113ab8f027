#pragma once

// Blocking HTTP for the service protocol and for fetching pages as text. Neither
// call reports an error: every failure gives an empty result.

#include <atomic>
#include <string>
#include <string_view>

namespace vexory {

inline constexpr int kServiceTimeoutMs = 3000;

// A form-encoded POST. The reply body exactly as sent, when the status is 200.
// `timeoutMs` bounds name resolution and connecting, and any stall while sending
// or receiving. No proxy is used.
std::string HttpPost(const std::string& url, std::string_view body, int timeoutMs);

// A GET whose text (status 200 or 302, not followed) comes back in code page 936,
// converted from the character set the response names (UTF-8 when it names none).
// gzip and deflate are decoded. Connecting may take 60 s, a stalled answer 30 s.
// `cookies` ("a=1; b=2") goes out as the Cookie header when not empty.
std::string HttpGet(const std::string& url, const std::string& cookies = {});

// A page as a browser would fetch it: redirects followed (at most 20), gzip,
// deflate and brotli decoded, the given cookies and user agent sent. `status` is 0
// when nothing came; `url` is the address the page came from in the end. A set
// `cancel` ends the request within a second, with nothing.
struct FetchedPage
{
    long status = 0;
    std::string contentType;
    std::string url;
    std::string body;
};
FetchedPage HttpFetchPage(const std::string& url, const std::string& cookies, const std::string& userAgent,
                          long connectMs, long stallMs, const std::atomic<bool>* cancel = nullptr);

// Why no request can be made (libcurl could not be loaded), "" when they can.
// Loads the library when no request did yet.
std::string HttpUnavailable();

// The User-Agent every service request carries.
inline constexpr std::string_view kServiceUserAgent =
    "Mozilla/4.0 (compatible; MSIE 6.0; Windows NT 5.2; SV1; .NET CLR 1.1.4322; .NET CLR 2.0.50727)";

} // namespace vexory
