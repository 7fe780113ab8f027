#pragma once

// Blocking HTTP for the service protocol. No call reports an error: every failure
// gives an empty result.

#include "platform/http_transfer.h"

#include <string>
#include <string_view>

namespace vexory {

inline constexpr int kServiceTimeoutMs = 3000;

// A form-encoded POST. The reply body exactly as sent, when the status is 200.
// `timeoutMs` bounds name resolution and connecting, and any stall while sending
// or receiving. No proxy is used.
// `refusal`, when given, gets why there is none: the status and the first line of
// what the service said when it refused, or why no answer came.
std::string HttpPost(const std::string& url, std::string_view body, int timeoutMs, std::string* refusal = nullptr);

// The User-Agent every service request carries.
inline constexpr std::string_view kServiceUserAgent =
    "Mozilla/4.0 (compatible; MSIE 6.0; Windows NT 5.2; SV1; .NET CLR 1.1.4322; .NET CLR 2.0.50727)";

} // namespace vexory
