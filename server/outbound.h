#pragma once

// Calls the service makes to addresses its users name (webhooks, messenger bots,
// self-hosted push servers) and the mail it sends. Users choose these addresses,
// so every connection is checked where it is made: after the name is resolved,
// for every redirect, never to loopback, private, link-local or the server's own
// addresses unless the operator allows a range. Answers are cut off at a size
// and every call has a time limit.

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

struct sockaddr;

namespace vexory::server {

class OutboundPolicy
{
public:
    OutboundPolicy();

    // "10.0.0.0/8", "192.168.1.5", "fd00::/8": connections there are allowed after
    // all. False with *error for a text that is no address range.
    bool Allow(const std::string& range, std::string* error);
    // Why a connection to this address is refused ("" when it is allowed).
    std::string Refusal(const sockaddr* address) const;
    // The same for an address in text form (tests, messages).
    std::string RefusalOf(const std::string& numericAddress) const;
    // Resolves HOST and tells why none of its addresses may be called ("" when one may).
    std::string CheckHost(const std::string& host) const;
    // The addresses of this machine's interfaces, read again (they may change:
    // a check reads them again once they are older than kOwnAddressesMs).
    // False when they cannot be read (the last ones read are kept; the first
    // failure of a series is told on standard error).
    bool ReadOwnAddresses();
    static constexpr int64_t kOwnAddressesMs = 30000;

    struct Range
    {
        int family = 0;          // AF_INET or AF_INET6
        unsigned char bytes[16]; // network order
        int prefix = 0;
    };

private:
    std::vector<Range> m_allowed;
    mutable std::mutex m_mutex;
    std::vector<Range> m_own; // whole addresses (prefix 32 or 128)
    int64_t m_ownReadMs = 0;  // when, on the steady clock
    bool m_ownUnreadable = false;
};

// Why this machine's own addresses cannot be read ("" when they can): the service
// does not start without them, or channels could call it on its public addresses.
std::string OwnAddressesUnreadable();

struct OutboundRequest
{
    std::string method = "POST";
    std::string url;
    std::vector<std::string> headers; // "Name: value"
    std::string body;
    int timeoutMs = 2000;
    size_t maxAnswer = 64 << 10;
    // Names taken as resolved to these addresses ("host:port:addr[,addr...]", as
    // curl's --resolve), for a fixed resolution; each address is still checked.
    std::vector<std::string> resolve;
};

struct OutboundAnswer
{
    bool done = false; // an HTTP answer came (any status)
    long status = 0;
    std::string body;
    std::string error; // why not done, for the user
};

// One HTTP(S) call under the policy; a call under way ends early once *cancel turns true.
OutboundAnswer CallOut(const OutboundPolicy& policy, const OutboundRequest& request,
                       const std::atomic<bool>* cancel = nullptr);

// The operator's mail server (trusted: the policy does not apply to it).
struct SmtpSettings
{
    std::string url;  // smtp://host:port or smtps://host:port; "" when mail is off
    std::string from; // the sender's address
    std::string user, password;
    int timeoutMs = 10000;

    bool enabled() const { return !url.empty() && !from.empty(); }
};

// A plain-text UTF-8 mail; false with *error when the server did not take it. With
// a user name the connection must be encrypted (smtps://, or STARTTLS offered by
// the server): a password never goes out readable.
bool SendMail(const SmtpSettings& smtp, const std::string& to, const std::string& subject, const std::string& text,
              std::string* error, const std::atomic<bool>* cancel = nullptr);
// The whole message as it goes to the server (headers and Base64 body).
std::string ComposeMail(const SmtpSettings& smtp, const std::string& to, const std::string& subject,
                        const std::string& text, int64_t nowSeconds);

// Why a transfer failed, in the user's words (Chinese), from curl's code.
std::string TransferFailure(int curlCode, int timeoutMs);

// A plausible mail address (one @, no blanks or control bytes, at most 254 bytes).
bool ValidMailAddress(const std::string& address);

} // namespace vexory::server
