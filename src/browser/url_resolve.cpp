#include "browser/url_resolve.h"

#include "base/ascii_fold.h"
#include "platform/codepage.h"

#include <iconv.h>

#include <cstdint>
#include <vector>

namespace vexory {

namespace {

struct Url
{
    std::string scheme; // lowercase, without ':'
    std::string userinfo; // with its '@' stripped
    std::string host;
    std::string port;
    std::vector<std::string> path;
    bool opaque = false; // a path that is not a list of segments (mailto:, javascript:)
    std::string opaquePath;
    std::optional<std::string> query, fragment;
};

bool special(std::string_view scheme)
{
    return scheme == "http" || scheme == "https" || scheme == "ws" || scheme == "wss" || scheme == "ftp" ||
           scheme == "file";
}

std::string_view defaultPort(std::string_view scheme)
{
    if (scheme == "http" || scheme == "ws")
        return "80";
    if (scheme == "https" || scheme == "wss")
        return "443";
    if (scheme == "ftp")
        return "21";
    return {};
}

bool isAlpha(char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

bool isDigit(char c)
{
    return c >= '0' && c <= '9';
}

enum class Set { C0, Fragment, Query, SpecialQuery, Path, Userinfo };

bool inSet(unsigned char c, Set set)
{
    if (c < 0x20 || c > 0x7E)
        return true;
    switch (set) {
    case Set::C0:
        return false;
    case Set::Fragment:
        return c == ' ' || c == '"' || c == '<' || c == '>' || c == '`';
    case Set::Query:
        return c == ' ' || c == '"' || c == '#' || c == '<' || c == '>';
    case Set::SpecialQuery:
        return c == ' ' || c == '"' || c == '#' || c == '<' || c == '>' || c == '\'';
    case Set::Path:
        return c == ' ' || c == '"' || c == '#' || c == '<' || c == '>' || c == '?' || c == '`' || c == '{' ||
               c == '}';
    case Set::Userinfo:
        return inSet(c, Set::Path) || c == '/' || c == ':' || c == ';' || c == '=' || c == '@' ||
               (c >= '[' && c <= '^') || c == '|';
    }
    return false;
}

void percentEncode(std::string& out, std::string_view bytes, Set set)
{
    static const char* const kHex = "0123456789ABCDEF";
    for (char ch : bytes) {
        const auto c = static_cast<unsigned char>(ch);
        if (inSet(c, set)) {
            out += '%';
            out += kHex[c >> 4];
            out += kHex[c & 15];
        } else {
            out += ch;
        }
    }
}

// The query's text in the page's encoding; nothing for a character it lacks.
std::optional<std::string> encodeQueryText(std::string_view utf8, PageEncoding encoding)
{
    bool ascii = true;
    for (char c : utf8)
        ascii = ascii && static_cast<unsigned char>(c) < 0x80;
    if (ascii || encoding == PageEncoding::Utf8 || encoding == PageEncoding::Utf16Le ||
        encoding == PageEncoding::Utf16Be)
        return std::string(utf8);
    if (encoding == PageEncoding::Gb18030)
        return Utf8ToGbkStrict(utf8);
    const char* to = encoding == PageEncoding::Big5 ? "BIG5-HKSCS" : "WINDOWS-1252";
    iconv_t cd = iconv_open(to, "UTF-8");
    if (cd == reinterpret_cast<iconv_t>(-1))
        return std::nullopt;
    std::string out(utf8.size() * 2 + 8, '\0');
    auto* src = const_cast<char*>(utf8.data());
    size_t left = utf8.size(), room = out.size();
    char* dst = out.data();
    const size_t r = iconv(cd, &src, &left, &dst, &room);
    iconv_close(cd);
    if (r == static_cast<size_t>(-1) || left != 0)
        return std::nullopt;
    out.resize(out.size() - room);
    return out;
}

bool singleDot(std::string_view s)
{
    return s == "." || s == "%2e" || s == "%2E";
}

bool doubleDot(std::string_view s)
{
    if (s.size() != 2 && s.size() != 4 && s.size() != 6)
        return false;
    std::string l;
    for (char c : s)
        l += LowerAsciiChar(c);
    return l == ".." || l == ".%2e" || l == "%2e." || l == "%2e%2e";
}

// Appends the segments of `path` (after the base's, when given) with dot segments resolved.
void addPath(Url& url, std::string_view path, bool isSpecial)
{
    size_t start = 0;
    for (;;) {
        size_t end = start;
        while (end < path.size() && path[end] != '/' && !(isSpecial && path[end] == '\\'))
            ++end;
        const std::string_view segment = path.substr(start, end - start);
        const bool last = end >= path.size();
        if (doubleDot(segment)) {
            if (!url.path.empty())
                url.path.pop_back();
            if (last)
                url.path.emplace_back();
        } else if (singleDot(segment)) {
            if (last)
                url.path.emplace_back();
        } else {
            std::string encoded;
            percentEncode(encoded, segment, Set::Path);
            url.path.push_back(std::move(encoded));
        }
        if (last)
            break;
        start = end + 1;
    }
}

// The host of a special address, lowercased; nothing for one a browser would
// first have to map (beyond ASCII, percent-encoded, numbers of other forms).
std::optional<std::string> parseHost(std::string_view host)
{
    if (host.empty())
        return std::nullopt;
    std::string out;
    for (char c : host) {
        const auto u = static_cast<unsigned char>(c);
        if (u >= 0x80 || c == '%' || u < 0x21 || c == '#' || c == '/' || c == '<' || c == '>' || c == '?' ||
            c == '@' || c == '\\' || c == '^' || c == '|')
            return std::nullopt;
        out += LowerAsciiChar(c);
    }
    if (out.front() == '[')
        return out;
    // A host ending in a number is an IPv4 address: only its plain form is kept as written.
    const size_t dot = out.rfind('.', out.size() - 2);
    const std::string_view lastLabel =
        std::string_view(out).substr(dot == std::string::npos ? 0 : dot + 1);
    const bool numeric = !lastLabel.empty() && (isDigit(lastLabel.front()));
    if (numeric) {
        int parts = 0;
        size_t i = 0;
        while (i <= out.size()) {
            size_t j = i;
            while (j < out.size() && isDigit(out[j]))
                ++j;
            if (j == i || (j - i > 1 && out[i] == '0') || j - i > 3 || std::stoi(out.substr(i, j - i)) > 255)
                return std::nullopt;
            ++parts;
            if (j == out.size())
                break;
            if (out[j] != '.')
                return std::nullopt;
            i = j + 1;
        }
        if (parts != 4)
            return std::nullopt;
    }
    return out;
}

// "user@host:port" of a special address.
bool parseAuthority(Url& url, std::string_view authority)
{
    const size_t at = authority.rfind('@');
    if (at != std::string_view::npos) {
        url.userinfo.clear();
        percentEncode(url.userinfo, authority.substr(0, at), Set::Userinfo);
        authority.remove_prefix(at + 1);
    }
    std::string_view host = authority, port;
    if (!authority.empty() && authority.front() == '[') {
        const size_t close = authority.find(']');
        if (close == std::string_view::npos)
            return false;
        host = authority.substr(0, close + 1);
        if (close + 1 < authority.size()) {
            if (authority[close + 1] != ':')
                return false;
            port = authority.substr(close + 2);
        }
    } else if (const size_t colon = authority.find(':'); colon != std::string_view::npos) {
        host = authority.substr(0, colon);
        port = authority.substr(colon + 1);
    }
    const std::optional<std::string> parsed = parseHost(host);
    if (!parsed)
        return false;
    url.host = *parsed;
    std::string digits;
    for (char c : port) {
        if (!isDigit(c))
            return false;
        digits += c;
    }
    while (digits.size() > 1 && digits.front() == '0')
        digits.erase(0, 1);
    if (!digits.empty() && std::stol(digits.substr(0, 6)) > 65535)
        return false;
    url.port = digits == defaultPort(url.scheme) ? std::string() : digits;
    return true;
}

std::string serialize(const Url& url)
{
    std::string out = url.scheme + ":";
    if (url.opaque) {
        out += url.opaquePath;
    } else {
        out += "//";
        if (!url.userinfo.empty())
            out += url.userinfo + "@";
        out += url.host;
        if (!url.port.empty())
            out += ":" + url.port;
        for (const std::string& segment : url.path)
            out += "/" + segment;
        if (url.path.empty())
            out += "/";
    }
    if (url.query)
        out += "?" + *url.query;
    if (url.fragment)
        out += "#" + *url.fragment;
    return out;
}

// Splits off "?query" and "#fragment" of the rest of an address.
void splitTail(std::string_view& rest, std::optional<std::string_view>& query, std::optional<std::string_view>& fragment)
{
    if (const size_t hash = rest.find('#'); hash != std::string_view::npos) {
        fragment = rest.substr(hash + 1);
        rest = rest.substr(0, hash);
    }
    if (const size_t q = rest.find('?'); q != std::string_view::npos) {
        query = rest.substr(q + 1);
        rest = rest.substr(0, q);
    }
}

bool setTail(Url& url, std::optional<std::string_view> query, std::optional<std::string_view> fragment,
             PageEncoding encoding)
{
    if (query) {
        const std::optional<std::string> bytes =
            encodeQueryText(*query, special(url.scheme) ? encoding : PageEncoding::Utf8);
        if (!bytes)
            return false;
        std::string encoded;
        percentEncode(encoded, *bytes, special(url.scheme) ? Set::SpecialQuery : Set::Query);
        url.query = std::move(encoded);
    }
    if (fragment) {
        std::string encoded;
        percentEncode(encoded, *fragment, Set::Fragment);
        url.fragment = std::move(encoded);
    }
    return true;
}

// An absolute address (with its scheme); nothing when it is not one.
std::optional<Url> parseAbsolute(std::string_view s, PageEncoding encoding)
{
    size_t colon = 0;
    if (s.empty() || !isAlpha(s[0]))
        return std::nullopt;
    while (colon < s.size() && (isAlpha(s[colon]) || isDigit(s[colon]) || s[colon] == '+' || s[colon] == '-' ||
                                s[colon] == '.'))
        ++colon;
    if (colon >= s.size() || s[colon] != ':')
        return std::nullopt;
    Url url;
    for (char c : s.substr(0, colon))
        url.scheme += LowerAsciiChar(c);
    std::string_view rest = s.substr(colon + 1);
    if (!special(url.scheme) || url.scheme == "file") {
        if (url.scheme == "file" || (!rest.empty() && rest.front() == '/'))
            return std::nullopt; // hierarchical addresses of other schemes: not read here
        std::optional<std::string_view> query, fragment;
        splitTail(rest, query, fragment);
        url.opaque = true;
        percentEncode(url.opaquePath, rest, Set::C0);
        if (!setTail(url, query, fragment, encoding))
            return std::nullopt;
        return url;
    }
    size_t i = 0;
    while (i < rest.size() && (rest[i] == '/' || rest[i] == '\\'))
        ++i;
    rest.remove_prefix(i);
    size_t end = 0;
    while (end < rest.size() && rest[end] != '/' && rest[end] != '\\' && rest[end] != '?' && rest[end] != '#')
        ++end;
    if (!parseAuthority(url, rest.substr(0, end)))
        return std::nullopt;
    rest.remove_prefix(end);
    std::optional<std::string_view> query, fragment;
    splitTail(rest, query, fragment);
    if (!rest.empty())
        addPath(url, rest.substr(1), true);
    if (!setTail(url, query, fragment, encoding))
        return std::nullopt;
    return url;
}

} // namespace

std::optional<std::string> ResolveUrl(std::string_view input, std::string_view base, PageEncoding queryEncoding)
{
    // Leading and trailing controls and spaces go; tabs and newlines go everywhere.
    while (!input.empty() && static_cast<unsigned char>(input.front()) <= 0x20)
        input.remove_prefix(1);
    while (!input.empty() && static_cast<unsigned char>(input.back()) <= 0x20)
        input.remove_suffix(1);
    std::string cleaned;
    for (char c : input)
        if (c != '\t' && c != '\n' && c != '\r')
            cleaned += c;
    std::string_view s = cleaned;

    const std::optional<Url> baseUrl = parseAbsolute(base, PageEncoding::Utf8);
    // An absolute address: on its own, unless it is of the base's special scheme
    // and goes on without a slash ("http:page" is relative to an http page).
    std::optional<Url> absolute = parseAbsolute(s, queryEncoding);
    if (absolute) {
        const size_t colon = s.find(':');
        const std::string_view after = s.substr(colon + 1);
        const bool relativeToBase = baseUrl && !baseUrl->opaque && special(absolute->scheme) &&
                                    absolute->scheme == baseUrl->scheme && !after.starts_with('/') &&
                                    !after.starts_with('\\');
        if (!relativeToBase)
            return serialize(*absolute);
        s = after;
    } else if (!s.empty() && isAlpha(s[0]) && s.find(':') != std::string_view::npos) {
        // "name:..." that did not parse (a hierarchical address of another scheme):
        // only a relative path if no scheme stands before the colon.
        size_t i = 0;
        while (i < s.size() && (isAlpha(s[i]) || isDigit(s[i]) || s[i] == '+' || s[i] == '-' || s[i] == '.'))
            ++i;
        if (i < s.size() && s[i] == ':')
            return std::nullopt;
    }
    if (!baseUrl || baseUrl->opaque)
        return std::nullopt;

    Url url = *baseUrl;
    url.fragment.reset();
    const bool slash = !s.empty() && (s[0] == '/' || s[0] == '\\');
    if (slash && s.size() > 1 && (s[1] == '/' || s[1] == '\\')) {
        // "//host/path": the base's scheme only.
        std::string whole = url.scheme + ":" + std::string(s);
        const std::optional<Url> other = parseAbsolute(whole, queryEncoding);
        if (!other)
            return std::nullopt;
        return serialize(*other);
    }
    std::string_view rest = s;
    std::optional<std::string_view> query, fragment;
    splitTail(rest, query, fragment);
    if (slash) {
        url.path.clear();
        addPath(url, rest.substr(1), true);
        url.query.reset();
    } else if (!rest.empty()) {
        if (!url.path.empty())
            url.path.pop_back(); // the base's last segment is replaced
        addPath(url, rest, true);
        url.query.reset();
    } else if (query) {
        url.query.reset();
    }
    if (!setTail(url, query, fragment, queryEncoding))
        return std::nullopt;
    return serialize(url);
}

} // namespace vexory
