#pragma once

// One HTTP request over libcurl, with the limits every read from the network
// keeps: connecting, a stalled send or receive, the whole transfer, and the size
// of the decoded body. The service client and the pages read without a browser
// both go through it. libcurl is loaded at the first request.

#include <atomic>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace vexory {

// Why a transfer brought nothing.
enum class FetchFailure
{
    None,
    NoSuchHost,
    Refused,
    TimedOut,  // the whole transfer took longer than its limit, or stalled
    TooLarge,  // the decoded body went past its limit
    Cancelled, // the caller is stopping
    Other,
};

struct HttpRequest
{
    std::string url;
    bool post = false;
    std::string_view body;            // a POST's body
    std::vector<std::string> headers; // sent in this order
    std::string userAgent;            // "": none, or the one in `headers`
    // Lines of libcurl's cookie engine (Netscape format), which sends each host only
    // its own at every hop; cookies set along the way serve the rest of the transfer.
    std::vector<std::string> cookieLines;
    bool cookieEngine = false;        // on even without cookies: a redirect may set some
    const char* acceptEncoding = nullptr; // "": all this libcurl decodes; nullptr: none asked
    bool followRedirects = false;     // at most 20; http and https only
    bool noProxy = false;
    long connectMs = 20000;
    long stallMs = 20000;  // a send or receive that moves no byte
    long totalMs = 0;      // 0: no limit
    size_t maxBytes = 0;   // of the decoded body; 0: no limit
    const std::atomic<bool>* cancel = nullptr; // ends the transfer within a second
};

// `status` is 0 when nothing came; `url` is the address the answer came from in the
// end. A failed transfer has no body.
struct HttpAnswer
{
    long status = 0;
    std::string contentType;
    std::string url;
    std::string body;
    FetchFailure failure = FetchFailure::None;
};

HttpAnswer HttpTransfer(const HttpRequest& request);

// Why no request can be made (libcurl could not be loaded), "" when they can.
// Loads the library when no request did yet.
std::string HttpUnavailable();

} // namespace vexory
