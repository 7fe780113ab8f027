#include "base/text_search.h"

#include "base/ascii_fold.h"
#include <cstring>
#include <string>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace vexory {

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

} // namespace vexory
