#include "base/text_helpers.h"

#include "base/ascii_fold.h"
#include "base/base_texts.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <openssl/evp.h>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace vexory {

namespace {

inline bool isDigit(char c)
{
    return c >= '0' && c <= '9';
}

constexpr char kBase64Alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

} // namespace

int PosFrom(std::string_view sub, std::string_view text, int from)
{
    if (sub.empty() || text.empty() || from < 1 || static_cast<size_t>(from) > text.size())
        return 0;
    const size_t hit = FindBytes(text, sub, static_cast<size_t>(from - 1));
    return hit == std::string_view::npos ? 0 : static_cast<int>(hit + 1);
}

// Pages are full of "<", so a search that stops at every first byte is slow. This
// one tests the first two and the last byte of the needle for 16 positions at once
// and compares the rest only where all three agree.
size_t FindBytes(std::string_view text, std::string_view needle, size_t from)
{
    const size_t n = needle.size();
    if (from > text.size() || n > text.size() - from)
        return std::string_view::npos;
    if (n == 0)
        return from;
    const char* base = text.data();
    if (n == 1) {
        const void* hit = std::memchr(base + from, needle[0], text.size() - from);
        return hit ? static_cast<size_t>(static_cast<const char*>(hit) - base) : std::string_view::npos;
    }
    size_t i = from;
    const size_t last = text.size() - n; // the last possible start
#if defined(__SSE2__)
    // The second byte too: a page has many "<" followed by many different letters.
    const __m128i first = _mm_set1_epi8(needle[0]);
    const __m128i second = _mm_set1_epi8(needle[1]);
    const __m128i end = _mm_set1_epi8(needle[n - 1]);
    for (; i + 16 <= last + 1; i += 16) {
        const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(base + i));
        const __m128i a2 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(base + i + 1));
        const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(base + i + n - 1));
        unsigned mask = static_cast<unsigned>(_mm_movemask_epi8(_mm_and_si128(
            _mm_and_si128(_mm_cmpeq_epi8(a, first), _mm_cmpeq_epi8(a2, second)), _mm_cmpeq_epi8(b, end))));
        while (mask) {
            const unsigned bit = static_cast<unsigned>(__builtin_ctz(mask));
            if (std::memcmp(base + i + bit + 1, needle.data() + 1, n - 2) == 0)
                return i + bit;
            mask &= mask - 1;
        }
    }
#endif
    for (; i <= last; ++i)
        if (base[i] == needle[0] && base[i + n - 1] == needle[n - 1] &&
            std::memcmp(base + i + 1, needle.data() + 1, n - 2) == 0)
            return i;
    return std::string_view::npos;
}

int LastPos(std::string_view sub, std::string_view text, int limit)
{
    if (limit <= 1 || sub.empty() || text.empty() || sub.size() > text.size())
        return 0;
    // Latest start whose last byte lies at limit - 1 and within the text (1-based).
    int64_t latest = std::min<int64_t>(static_cast<int64_t>(limit) - static_cast<int64_t>(sub.size()),
                                       static_cast<int64_t>(text.size() - sub.size() + 1));
    if (latest < 1)
        return 0;
    size_t hit = text.rfind(sub, static_cast<size_t>(latest - 1));
    return hit == std::string_view::npos ? 0 : static_cast<int>(hit + 1);
}

int PosText(std::string_view sub, std::string_view text, int from)
{
    if (sub.empty() || text.empty() || from < 1 || static_cast<size_t>(from) > text.size())
        return 0;
    // Folding depends on where the characters start, which only a walk from the
    // beginning of the text knows.
    const std::string lower = LowerAscii(text);
    const size_t hit = FindBytes(lower, LowerAscii(sub), static_cast<size_t>(from - 1));
    return hit == std::string::npos ? 0 : static_cast<int>(hit + 1);
}

std::string LowerAscii(std::string_view text)
{
    std::string out(text.size(), '\0');
    LowerAsciiInto(text, out.data());
    return out;
}

namespace {

// True when the capital at `x` (after a byte above 0x7F) is the trail of a double-byte
// character: the characters are read from the start of the run of high bytes before
// it, which starts a character since an ASCII byte (or the text's start) precedes it.
bool isTrail(const unsigned char* text, size_t x)
{
    size_t s = x - 1;
    while (s > 0 && text[s - 1] >= 0x80)
        --s;
    while (s < x)
        s += IsGbkLead(text[s]) ? 2 : 1;
    return s > x;
}

#if defined(__SSE2__)
// Capitals right after a byte above 0x7F among the sixteen bytes at `at` (at > 0).
unsigned capitalsAfterHighBytes(const unsigned char* text, size_t at)
{
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(text + at));
    const __m128i before = _mm_loadu_si128(reinterpret_cast<const __m128i*>(text + at - 1));
    const __m128i shifted = _mm_sub_epi8(v, _mm_set1_epi8('A'));
    const __m128i upper = _mm_cmpeq_epi8(_mm_min_epu8(shifted, _mm_set1_epi8(25)), shifted);
    return static_cast<unsigned>(_mm_movemask_epi8(_mm_and_si128(upper, before)));
}
#endif

} // namespace

namespace {

// Unfolds the capitals of `mask` (bits for the sixteen bytes at `at`) that are trail bytes.
void unfoldTrails(const unsigned char* text, size_t at, unsigned mask, char* lower)
{
    for (; mask; mask &= mask - 1) {
        const size_t x = at + static_cast<size_t>(__builtin_ctz(mask));
        if (isTrail(text, x))
            lower[x] = static_cast<char>(lower[x] & ~0x20);
    }
}

} // namespace

void RestoreTrails(std::string_view text, char* lower)
{
    const auto* t = reinterpret_cast<const unsigned char*>(text.data());
    const size_t n = text.size();
    size_t x = 1;
#if defined(__SSE2__)
    for (; x + 16 <= n; x += 16)
        unfoldTrails(t, x, capitalsAfterHighBytes(t, x), lower);
#endif
    for (; x < n; ++x)
        if (t[x] >= 'A' && t[x] <= 'Z' && t[x - 1] >= 0x80 && isTrail(t, x))
            lower[x] = static_cast<char>(t[x]);
}

// Every capital folded, and the few trail bytes among them put back: a trail byte in
// "A".."Z" can only follow a byte above 0x7F. In place (`in` is `out`) the checks
// still hold: folding changes only ASCII bytes, and they look only at where the high
// bytes are, and at capitals before their sixteen bytes are folded.
void LowerAsciiInto(std::string_view text, char* out)
{
    const auto* in = reinterpret_cast<const unsigned char*>(text.data());
    auto* o = reinterpret_cast<unsigned char*>(out);
    const size_t n = text.size();
    if (n == 0)
        return;
    o[0] = FoldCapital(in[0]);
    size_t i = 1;
#if defined(__SSE2__)
    for (; i + 16 <= n; i += 16) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + i));
        const unsigned trails = capitalsAfterHighBytes(in, i);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(o + i), FoldCapitals(v));
        unfoldTrails(in, i, trails, out);
    }
#endif
    for (; i < n; ++i) {
        const unsigned char c = in[i];
        const bool capital = c >= 'A' && c <= 'Z';
        o[i] = capital && !(in[i - 1] >= 0x80 && isTrail(in, i)) ? static_cast<unsigned char>(c | 0x20) : c;
    }
}

namespace {

// Byte classes of the compaction: 0 ordinary, 1 dropped control byte, 2 blank, 3 one of "/<=>".
struct CompactClasses
{
    unsigned char of[256];
    constexpr CompactClasses() : of()
    {
        for (int c = 0; c < 0x20; ++c)
            of[c] = 1;
        of[0x7F] = 1;
        of[static_cast<unsigned char>(' ')] = 2;
        of[static_cast<unsigned char>('/')] = 3;
        of[static_cast<unsigned char>('<')] = 3;
        of[static_cast<unsigned char>('=')] = 3;
        of[static_cast<unsigned char>('>')] = 3;
    }
};
constexpr CompactClasses kCompact;

} // namespace

// One pass: drop control bytes, drop a blank after a blank or after one of "/<=>",
// and let one of "/<=>" take the place of a blank just written.
std::string CompactHtml(std::string_view text)
{
    std::string out(text.size(), '\0');
    char* const begin = out.data();
    char* o = begin;
    unsigned char prevClass = 2; // "a blank before the first"
    for (char c : text) {
        const unsigned char k = kCompact.of[static_cast<unsigned char>(c)];
        if (k == 0) {
            *o++ = c;
            prevClass = 0;
            continue;
        }
        if (k == 1)
            continue;
        if (o == begin) { // the first byte written is always kept
            *o++ = c;
            prevClass = k;
            continue;
        }
        if (k == 3) {
            if (prevClass == 2)
                o[-1] = c;
            else
                *o++ = c;
            prevClass = 3;
            continue;
        }
        // a blank
        if (prevClass >= 2)
            continue;
        *o++ = c;
        prevClass = 2;
    }
    out.resize(static_cast<size_t>(o - begin));
    return out;
}

std::string StripSpace(std::string_view text)
{
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        const unsigned char u = static_cast<unsigned char>(c);
        if (u > 0x20 && u != 0x7F)
            out.push_back(c);
    }
    return out;
}

std::vector<std::string_view> SplitViews(std::string_view text, char separator)
{
    std::vector<std::string_view> pieces;
    size_t start = 0;
    for (;;) {
        const size_t k = text.find(separator, start);
        pieces.push_back(text.substr(start, k == std::string_view::npos ? std::string_view::npos : k - start));
        if (k == std::string_view::npos)
            return pieces;
        start = k + 1;
    }
}

std::string RemoveAll(std::string_view text, std::string_view what, bool ignoreCase)
{
    if (what.empty())
        return std::string(text);
    std::string lowerText, lowerWhat;
    std::string_view search = text, needle = what;
    if (ignoreCase) {
        lowerText = LowerAscii(text);
        lowerWhat = LowerAscii(what);
        search = lowerText;
        needle = lowerWhat;
    }
    std::string out;
    out.reserve(text.size());
    size_t at = 0;
    for (size_t hit = FindBytes(search, needle); hit != std::string_view::npos; hit = FindBytes(search, needle, at)) {
        out.append(text.substr(at, hit - at));
        at = hit + what.size();
    }
    out.append(text.substr(at));
    return out;
}

std::string_view Trim(std::string_view text)
{
    while (!text.empty() && static_cast<unsigned char>(text.front()) <= 0x20)
        text.remove_prefix(1);
    while (!text.empty() && static_cast<unsigned char>(text.back()) <= 0x20)
        text.remove_suffix(1);
    return text;
}

bool IsInteger(std::string_view text)
{
    size_t p = 0;
    while (p < text.size() && text[p] == ' ')
        ++p;
    if (p == text.size())
        return false;
    bool negative = false;
    if (text[p] == '+' || text[p] == '-') {
        negative = text[p] == '-';
        if (++p == text.size())
            return false;
    }
    std::string_view digits = text.substr(p);
    if (digits.empty() || digits.size() > 10)
        return false;
    for (char c : digits)
        if (!isDigit(c))
            return false;
    if (digits.size() < 10 || digits[0] == '0' || digits[0] == '1')
        return true;
    if (digits[0] != '2')
        return false;
    int64_t value = 0;
    for (char c : digits)
        value = value * 10 + (c - '0');
    return negative ? value <= 2147483648LL : value <= 2147483647LL;
}

bool IsNumber(std::string_view text)
{
    size_t p = 0;
    const size_t n = text.size();
    while (p < n && text[p] == ' ')
        ++p;
    if (p == n)
        return false;
    if (text[p] == '+' || text[p] == '-') {
        if (++p == n)
            return false;
    }
    if (!isDigit(text[p]))
        return false;
    while (p < n && isDigit(text[p]))
        ++p;
    if (p == n)
        return true;
    if (text[p] == '.') {
        ++p;
        if (p == n || !isDigit(text[p]))
            return false;
        while (p < n && isDigit(text[p]))
            ++p;
        if (p == n)
            return true;
    }
    if (text[p] != 'E' && text[p] != 'e')
        return false;
    ++p;
    if (p < n && (text[p] == '+' || text[p] == '-'))
        ++p;
    if (p == n || !isDigit(text[p]))
        return false;
    while (p < n && isDigit(text[p]))
        ++p;
    return p == n;
}

int32_t StrToInt(std::string_view text)
{
    if (!IsInteger(text))
        return 0;
    size_t p = 0;
    while (text[p] == ' ')
        ++p;
    bool negative = false;
    if (text[p] == '+' || text[p] == '-')
        negative = text[p++] == '-';
    int64_t value = 0;
    for (; p < text.size(); ++p)
        value = value * 10 + (text[p] - '0');
    return static_cast<int32_t>(negative ? -value : value);
}

std::string Base64UrlEncode(std::string_view bytes)
{
    std::string out;
    out.reserve((bytes.size() + 2) / 3 * 4);
    size_t i = 0;
    auto at = [&](size_t k) { return static_cast<uint32_t>(static_cast<unsigned char>(bytes[k])); };
    for (; i + 3 <= bytes.size(); i += 3) {
        uint32_t v = (at(i) << 16) | (at(i + 1) << 8) | at(i + 2);
        for (int shift = 18; shift >= 0; shift -= 6)
            out.push_back(kBase64Alphabet[(v >> shift) & 63]);
    }
    if (size_t rest = bytes.size() - i; rest > 0) {
        uint32_t v = at(i) << 16;
        if (rest == 2)
            v |= at(i + 1) << 8;
        out.push_back(kBase64Alphabet[(v >> 18) & 63]);
        out.push_back(kBase64Alphabet[(v >> 12) & 63]);
        if (rest == 2)
            out.push_back(kBase64Alphabet[(v >> 6) & 63]);
    }
    for (char& c : out) {
        if (c == '+')
            c = '-';
        else if (c == '/')
            c = '_';
    }
    return out;
}

// Accepts both alphabets, with or without padding ("." counts as "="); bytes outside
// the alphabet are skipped and decoding stops at the first padding character.
std::string Base64UrlDecode(std::string_view text)
{
    std::string out;
    out.reserve(text.size() / 4 * 3 + 3);
    uint32_t acc = 0;
    int bits = 0;
    for (char c : text) {
        int v;
        if (c >= 'A' && c <= 'Z')
            v = c - 'A';
        else if (c >= 'a' && c <= 'z')
            v = c - 'a' + 26;
        else if (c >= '0' && c <= '9')
            v = c - '0' + 52;
        else if (c == '+' || c == '-')
            v = 62;
        else if (c == '/' || c == '_')
            v = 63;
        else if (c == '=' || c == '.')
            break;
        else
            continue;
        acc = (acc << 6) | static_cast<uint32_t>(v);
        bits += 6;
        if (bits >= 8) {
            bits -= 8;
            out.push_back(static_cast<char>((acc >> bits) & 0xFF));
        }
    }
    return out;
}

std::string Sha1Hex(std::string_view bytes)
{
    // Fetched once: a digest named at each call is looked up again every time, and
    // the monitor hashes every record of every cycle.
    static EVP_MD* const sha1 = EVP_MD_fetch(nullptr, "SHA1", nullptr);
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    if (!sha1 || EVP_Digest(bytes.data(), bytes.size(), digest, &length, sha1, nullptr) != 1)
        return {};
    static constexpr char hex[] = "0123456789abcdef";
    std::string out;
    out.reserve(length * 2);
    for (unsigned int i = 0; i < length; ++i) {
        out.push_back(hex[digest[i] >> 4]);
        out.push_back(hex[digest[i] & 15]);
    }
    return out;
}

std::string FormatElapsed(int64_t seconds, int kind)
{
    char buffer[64];
    if (kind == 2) {
        std::snprintf(buffer, sizeof buffer, "[ %.2lld:%.2lld ]", static_cast<long long>(seconds / 60),
                      static_cast<long long>(seconds % 60));
        return buffer;
    }
    if (kind == 3) {
        std::snprintf(buffer, sizeof buffer, "[ %.2lld:%.2lld:%.2lld ]", static_cast<long long>(seconds / 3600),
                      static_cast<long long>(seconds % 3600 / 60), static_cast<long long>(seconds % 60));
        return buffer;
    }
    return {};
}

std::string ProgressBlocks(int percent)
{
    const long n = std::lround(percent / 12.5);
    std::string out;
    for (long i = 0; i < n; ++i)
        out += texts::kBlockFull;
    for (long i = std::max(0L, n); i < 8; ++i)
        out += texts::kBlockEmpty;
    return out;
}

bool DeleteLineRange(std::vector<std::string>& lines, int last, int first)
{
    if (first < 0 || first > last || static_cast<size_t>(last) >= lines.size())
        return false;
    lines.erase(lines.begin() + first, lines.begin() + last + 1);
    return true;
}

} // namespace vexory
