#include "platform/http_transfer.h"

#include <curl/curl.h>

#include <dlfcn.h>

#include <chrono>

namespace vexory {

namespace {

// libcurl and the dozens of libraries behind it are loaded at the first request, not
// at start: most command-line runs never go to the network, and loading them took
// several times longer than cutting a small page.
struct Curl
{
    decltype(&curl_global_init) global_init = nullptr;
    decltype(&curl_easy_init) easy_init = nullptr;
    decltype(&curl_easy_cleanup) easy_cleanup = nullptr;
    decltype(&curl_easy_setopt) easy_setopt = nullptr;
    decltype(&curl_easy_perform) easy_perform = nullptr;
    decltype(&curl_easy_getinfo) easy_getinfo = nullptr;
    decltype(&curl_slist_append) slist_append = nullptr;
    decltype(&curl_slist_free_all) slist_free_all = nullptr;
    bool loaded = false;
    std::string why; // when not loaded
};

template <typename F> bool resolve(void* library, const char* name, F& target)
{
    target = reinterpret_cast<F>(dlsym(library, name));
    return target != nullptr;
}

// The loaded library, or one whose `loaded` is false and that says why.
const Curl& curl()
{
    static const Curl api = [] {
        Curl c;
        void* library = dlopen("libcurl.so.4", RTLD_NOW | RTLD_LOCAL);
        if (library && resolve(library, "curl_global_init", c.global_init) &&
            resolve(library, "curl_easy_init", c.easy_init) && resolve(library, "curl_easy_cleanup", c.easy_cleanup) &&
            resolve(library, "curl_easy_setopt", c.easy_setopt) &&
            resolve(library, "curl_easy_perform", c.easy_perform) &&
            resolve(library, "curl_easy_getinfo", c.easy_getinfo) &&
            resolve(library, "curl_slist_append", c.slist_append) &&
            resolve(library, "curl_slist_free_all", c.slist_free_all)) {
            c.loaded = c.global_init(CURL_GLOBAL_DEFAULT) == CURLE_OK;
        }
        if (!c.loaded)
            c.why = std::string("libcurl.so.4 could not be loaded (") +
                    (library ? "a function is missing" : dlerror()) + ")";
        return c;
    }();
    return api;
}

// Ends a transfer that has not moved a byte for the limit: a stalled send or receive.
struct Stall
{
    CURL* handle = nullptr;
    std::chrono::steady_clock::time_point last = std::chrono::steady_clock::now();
    curl_off_t down = 0, up = 0;
    long limitMs = 0;
    const std::atomic<bool>* cancel = nullptr; // ends the transfer when set
    bool cancelled = false, stalled = false;   // why it was ended
};

int checkStall(void* data, curl_off_t, curl_off_t downNow, curl_off_t, curl_off_t upNow)
{
    Stall& s = *static_cast<Stall*>(data);
    if (s.cancel && *s.cancel) {
        s.cancelled = true;
        return 1;
    }
    const auto now = std::chrono::steady_clock::now();
    curl_off_t connected = 0;
    curl().easy_getinfo(s.handle, CURLINFO_CONNECT_TIME_T, &connected);
    if (connected == 0 || downNow != s.down || upNow != s.up) { // connecting has its own limit
        s.down = downNow;
        s.up = upNow;
        s.last = now;
        return 0;
    }
    s.stalled = std::chrono::duration_cast<std::chrono::milliseconds>(now - s.last).count() > s.limitMs;
    return s.stalled ? 1 : 0;
}

// A body taken up to a limit of decoded bytes: past it the transfer ends (a small
// compressed body can inflate to gigabytes).
struct Sink
{
    std::string* body = nullptr;
    size_t maxBytes = 0; // 0: no limit
    bool over = false;
};

size_t collectUpTo(char* data, size_t size, size_t count, void* target)
{
    Sink& sink = *static_cast<Sink*>(target);
    const size_t n = size * count;
    if (sink.maxBytes > 0 && sink.body->size() + n > sink.maxBytes) {
        sink.over = true;
        return 0; // a write error ends the transfer
    }
    sink.body->append(data, n);
    return n;
}

// An easy handle released on every path.
struct Easy
{
    CURL* handle;
    curl_slist* headers = nullptr;
    Easy() : handle(curl().loaded ? curl().easy_init() : nullptr) {}
    ~Easy()
    {
        if (headers)
            curl().slist_free_all(headers);
        if (handle)
            curl().easy_cleanup(handle);
    }
    void header(const std::string& h) { headers = curl().slist_append(headers, h.c_str()); }

    // Limits: connecting (resolution included), a send or receive that does not move
    // a byte, and, when `totalMs` is given, the whole transfer.
    // A set `cancel` ends it too, within a second (connecting included).
    void limit(long connectMs, long stallMs, long totalMs = 0, const std::atomic<bool>* cancel = nullptr)
    {
        auto set = curl().easy_setopt;
        stall = {.handle = handle, .limitMs = stallMs, .cancel = cancel};
        set(handle, CURLOPT_CONNECTTIMEOUT_MS, connectMs);
        set(handle, CURLOPT_XFERINFOFUNCTION, checkStall);
        set(handle, CURLOPT_XFERINFODATA, &stall);
        set(handle, CURLOPT_NOPROGRESS, 0L);
        if (totalMs > 0)
            set(handle, CURLOPT_TIMEOUT_MS, totalMs);
    }

    Stall stall{};
};

FetchFailure failureOf(CURLcode code, const Stall& stall, const Sink& sink)
{
    if (sink.over || code == CURLE_FILESIZE_EXCEEDED)
        return FetchFailure::TooLarge;
    if (stall.cancelled)
        return FetchFailure::Cancelled;
    switch (code) {
    case CURLE_COULDNT_RESOLVE_HOST:
        return FetchFailure::NoSuchHost;
    case CURLE_COULDNT_CONNECT:
        return FetchFailure::Refused;
    case CURLE_OPERATION_TIMEDOUT:
        return FetchFailure::TimedOut;
    case CURLE_ABORTED_BY_CALLBACK:
        return stall.stalled ? FetchFailure::TimedOut : FetchFailure::Other;
    default:
        return FetchFailure::Other;
    }
}

} // namespace

std::string HttpUnavailable()
{
    return curl().why;
}

HttpAnswer HttpTransfer(const HttpRequest& request)
{
    HttpAnswer answer;
    Easy easy;
    if (!easy.handle) {
        answer.failure = FetchFailure::Other;
        return answer;
    }
    CURL* h = easy.handle;
    const Curl& api = curl();
    auto set = api.easy_setopt;
    for (const std::string& header : request.headers)
        easy.header(header);
    set(h, CURLOPT_URL, request.url.c_str());
    if (request.post) {
        set(h, CURLOPT_POST, 1L);
        set(h, CURLOPT_POSTFIELDS, request.body.data());
        set(h, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(request.body.size()));
    }
    if (easy.headers)
        set(h, CURLOPT_HTTPHEADER, easy.headers);
    if (request.acceptEncoding)
        set(h, CURLOPT_ACCEPT_ENCODING, request.acceptEncoding);
    if (request.followRedirects) {
        set(h, CURLOPT_FOLLOWLOCATION, 1L);
        set(h, CURLOPT_MAXREDIRS, 20L);
    }
    set(h, CURLOPT_PROTOCOLS_STR, "http,https");
    set(h, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
    if (request.noProxy) {
        set(h, CURLOPT_PROXY, "");
        set(h, CURLOPT_NOPROXY, "*");
    }
    set(h, CURLOPT_NOSIGNAL, 1L);
    if (!request.userAgent.empty())
        set(h, CURLOPT_USERAGENT, request.userAgent.c_str());
    // Cookies through the engine, never a Cookie header: a header would go to every
    // host a redirect reaches.
    if (request.cookieEngine || !request.cookieLines.empty())
        set(h, CURLOPT_COOKIEFILE, "");
    for (const std::string& line : request.cookieLines)
        set(h, CURLOPT_COOKIELIST, line.c_str());
    easy.limit(request.connectMs, request.stallMs, request.totalMs, request.cancel);
    Sink sink{.body = &answer.body, .maxBytes = request.maxBytes};
    if (request.maxBytes > 0)
        set(h, CURLOPT_MAXFILESIZE_LARGE, static_cast<curl_off_t>(request.maxBytes));
    set(h, CURLOPT_WRITEFUNCTION, collectUpTo);
    set(h, CURLOPT_WRITEDATA, &sink);
    const CURLcode code = api.easy_perform(h);
    if (code != CURLE_OK) {
        answer.failure = failureOf(code, easy.stall, sink);
        std::string().swap(answer.body);
        return answer;
    }
    api.easy_getinfo(h, CURLINFO_RESPONSE_CODE, &answer.status);
    const char* type = nullptr;
    if (api.easy_getinfo(h, CURLINFO_CONTENT_TYPE, &type) == CURLE_OK && type)
        answer.contentType = type;
    const char* effective = nullptr;
    if (api.easy_getinfo(h, CURLINFO_EFFECTIVE_URL, &effective) == CURLE_OK && effective)
        answer.url = effective;
    return answer;
}

} // namespace vexory
