#include "service/http_client.h"

namespace vexory {

std::string HttpPost(const std::string& url, std::string_view body, int timeoutMs)
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
    if (answer.failure != FetchFailure::None || answer.status != 200)
        return {};
    return std::move(answer.body);
}

} // namespace vexory
