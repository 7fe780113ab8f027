#include "service/http_client.h"

namespace vexory {

namespace {

// A refusal's words as the service gave them, on one line of printable bytes.
std::string refusalLine(long status, const std::string& body)
{
    constexpr size_t kMostShown = 300;
    std::string line = "HTTP " + std::to_string(status);
    std::string said;
    for (char c : body.substr(0, body.find('\n'))) {
        if (said.size() >= kMostShown)
            break;
        said += static_cast<unsigned char>(c) < 0x20 || c == 0x7f ? ' ' : c;
    }
    if (!said.empty())
        line += ": " + said;
    return line;
}

std::string failureLine(FetchFailure failure)
{
    switch (failure) {
    case FetchFailure::NoSuchHost:
        return "no such host";
    case FetchFailure::Refused:
        return "connection refused";
    case FetchFailure::TimedOut:
        return "no answer in time";
    case FetchFailure::TooLarge:
        return "answer too large";
    default:
        return "no answer";
    }
}

} // namespace

std::string HttpPost(const std::string& url, std::string_view body, int timeoutMs, std::string* refusal)
{
    HttpRequest request;
    request.url = url;
    request.post = true;
    request.body = body;
    // The headers in the order the service has always received them.
    request.headers = {
        "Content-Length: " + std::to_string(body.size()),
        "CONTENT-TYPE: application/x-www-form-urlencoded",
        "cache-control: no-cache",
        "User-Agent: " + std::string(kServiceUserAgent),
        "Expect:", // send the body at once, without waiting for "100 Continue"
    };
    request.noProxy = true;
    // Resolution and connection within the limit; sending or receiving may not stall
    // for longer than it either. The overall cap covers all four stages.
    request.connectMs = timeoutMs;
    request.stallMs = timeoutMs;
    request.totalMs = static_cast<long>(timeoutMs) * 4;
    HttpAnswer answer = HttpTransfer(request);
    if (answer.failure != FetchFailure::None || answer.status != 200) {
        if (refusal)
            *refusal = answer.failure != FetchFailure::None ? failureLine(answer.failure)
                                                            : refusalLine(answer.status, answer.body);
        return {};
    }
    return std::move(answer.body);
}

} // namespace vexory
