#include "base/ascii_fold.h"

#include <cstring>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace vexory {

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

} // namespace vexory
