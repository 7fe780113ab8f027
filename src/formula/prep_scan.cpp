#include "formula/prep_scan.h"

#include "base/ascii_fold.h"

#include <algorithm>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace vexory {

namespace {

// Bytes of whitespace runs: control bytes (dropped) and the blank.
bool isSpace(unsigned char c)
{
    return c <= 0x20 || c == 0x7F;
}

// One of "/<=>", which takes the place of a blank written just before it.
bool isTagPunctuation(unsigned char c)
{
    return c == '/' || c == '<' || c == '=' || c == '>';
}

// The compaction works on whitespace runs (`lower` gets every byte folded; the trail
// bytes of double-byte characters are put back at the end): the bytes between them are copied as
// they are, and a run becomes one blank or nothing. Byte by byte the rule is: drop
// control bytes, drop a blank after a blank or after one of "/<=>", let one of "/<=>"
// take the place of a blank just written, and keep the first byte written. For a
// run that is: one blank when it holds a blank, follows an ordinary byte (or
// nothing) and is not followed by one of "/<=>".
struct Compactor
{
    const unsigned char* in;
    size_t n;
    unsigned char* out;
    unsigned char* lower;
    size_t o = 0;
    bool afterOrdinary = true; // the last byte written is not one of "/<=>"

    // Copies the bytes from `i` up to the next whitespace byte; returns where it stopped.
    size_t copyStretch(size_t i)
    {
        for (; i < n && !isSpace(in[i]); ++i) {
            out[o] = in[i];
            lower[o] = FoldCapital(in[i]);
            ++o;
        }
        return i;
    }

#if defined(__SSE2__)
    static __m128i spaceBytes(__m128i v)
    {
        return _mm_or_si128(_mm_cmpeq_epi8(_mm_min_epu8(v, _mm_set1_epi8(0x20)), v),
                            _mm_cmpeq_epi8(v, _mm_set1_epi8(0x7F)));
    }

    // Neither whitespace nor one of "/<=>": a blank between two such bytes stays as it is.
    static __m128i plainBytes(__m128i v)
    {
        const __m128i slash = _mm_cmpeq_epi8(v, _mm_set1_epi8('/'));
        const __m128i fromLt = _mm_sub_epi8(v, _mm_set1_epi8('<'));
        const __m128i ltEqGt = _mm_cmpeq_epi8(_mm_min_epu8(fromLt, _mm_set1_epi8(2)), fromLt);
        return _mm_cmpeq_epi8(_mm_or_si128(spaceBytes(v), _mm_or_si128(slash, ltEqGt)), _mm_setzero_si128());
    }

    // Sixteen bytes from `i` (i > 0; sixteen more follow) copied as they are, up to the
    // first byte that the compaction changes: a control byte, or a blank next to
    // whitespace or to one of "/<=>". Its run is compacted. Returns where it stopped.
    size_t block(size_t i)
    {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + i));
        const __m128i before = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + i - 1));
        const __m128i after = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + i + 1));
        const __m128i blank = _mm_cmpeq_epi8(v, _mm_set1_epi8(' '));
        const __m128i kept = _mm_and_si128(blank, _mm_and_si128(plainBytes(before), plainBytes(after)));
        const unsigned changed = static_cast<unsigned>(_mm_movemask_epi8(_mm_andnot_si128(kept, spaceBytes(v))));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + o), v);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(lower + o), FoldCapitals(v));
        if (!changed) {
            o += 16;
            return i + 16;
        }
        const unsigned k = static_cast<unsigned>(__builtin_ctz(changed));
        o += k;
        i += k;
        // The byte before a run is never whitespace, so it was written as it is.
        afterOrdinary = !isTagPunctuation(in[i - 1]);
        return compactSpace(i);
    }
#endif

    // The whitespace run from `i`; returns where it ends.
    size_t compactSpace(size_t i)
    {
        bool blank = false;
        for (; i < n && isSpace(in[i]); ++i)
            blank = blank || in[i] == ' ';
        if (blank && afterOrdinary && !(i < n && isTagPunctuation(in[i]))) {
            out[o] = lower[o] = ' ';
            ++o;
        }
        return i;
    }
};

} // namespace

void TagWalker::load(size_t at)
{
    m_at = at;
    m_lt = m_gt = m_eq = 0;
    const char* base = m_text.data() + at;
    const size_t n = std::min<size_t>(64, m_text.size() - at);
#if defined(__SSE2__)
    if (n == 64) {
        for (unsigned k = 0; k < 64; k += 16) {
            const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(base + k));
            m_lt |=
                static_cast<uint64_t>(static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(v, _mm_set1_epi8('<')))))
                << k;
            m_gt |=
                static_cast<uint64_t>(static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(v, _mm_set1_epi8('>')))))
                << k;
            m_eq |=
                static_cast<uint64_t>(static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(v, _mm_set1_epi8('=')))))
                << k;
        }
        return;
    }
#endif
    for (size_t k = 0; k < n; ++k) {
        m_lt |= static_cast<uint64_t>(base[k] == '<') << k;
        m_gt |= static_cast<uint64_t>(base[k] == '>') << k;
        m_eq |= static_cast<uint64_t>(base[k] == '=') << k;
    }
}

template <uint64_t TagWalker::*Mask> size_t TagWalker::find(size_t from)
{
    while (from < m_text.size()) {
        if (from - m_at >= 64 || from < m_at)
            load(from & ~size_t(63));
        const uint64_t m = (this->*Mask) & (~uint64_t(0) << (from - m_at));
        if (m)
            return m_at + static_cast<size_t>(__builtin_ctzll(m));
        from = m_at + 64;
    }
    return std::string_view::npos;
}

inline TagSpan TagWalker::Next(size_t from)
{
    const size_t n = m_text.size();
    // Most tags open and close within the loaded stretch: a few bit operations.
    if (from >= m_at && from - m_at < 64) {
        const unsigned rel = static_cast<unsigned>(from - m_at);
        if (const uint64_t lts = m_lt & (~uint64_t(0) << rel)) {
            const unsigned open = static_cast<unsigned>(__builtin_ctzll(lts));
            if (open < 62) {
                if (const uint64_t gts = m_gt & (~uint64_t(0) << (open + 1))) {
                    const unsigned close = static_cast<unsigned>(__builtin_ctzll(gts));
                    const uint64_t inside = ((uint64_t(1) << close) - 1) & (~uint64_t(0) << (open + 1));
                    if (!(m_lt & inside & (~uint64_t(0) << (open + 2))))
                        return {m_at + open, close + 1 - open, true, (m_eq & inside) != 0};
                }
            }
        }
    }
    const size_t open = find<&TagWalker::m_lt>(from);
    if (open == std::string_view::npos)
        return {n, 0, false, false};
    // The first ">" after the opening, with any other "<" (not right after the
    // opening) or "=" before it, stretch by stretch.
    bool equals = false;
    for (size_t at = open + 1; at < n; at = m_at + 64) {
        if (at - m_at >= 64 || at < m_at)
            load(at & ~size_t(63));
        const unsigned rel = static_cast<unsigned>(at - m_at);
        const uint64_t fromHere = ~uint64_t(0) << rel;
        const uint64_t gts = m_gt & fromHere;
        const unsigned close = gts ? static_cast<unsigned>(__builtin_ctzll(gts)) : 64;
        const uint64_t range = fromHere & (close == 64 ? ~uint64_t(0) : (uint64_t(1) << close) - 1);
        uint64_t lts = m_lt & range;
        if (at == open + 1)
            lts &= ~(uint64_t(1) << rel); // right after the opening
        if (lts)
            return {open, 0, false, false};
        equals = equals || (m_eq & range) != 0;
        if (gts)
            return {open, m_at + close + 1 - open, true, equals};
    }
    return {open, 0, false, false};
}

TagSpan TagWalker::NextWithEquals(size_t from)
{
    for (;;) {
        const TagSpan tag = Next(from);
        if (tag.length == 0 || !tag.simple || tag.equals)
            return tag;
        from = tag.start + tag.length;
    }
}

size_t CompactLowerInto(std::string_view text, char* out, char* lower)
{
    Compactor c{reinterpret_cast<const unsigned char*>(text.data()), text.size(), reinterpret_cast<unsigned char*>(out),
                reinterpret_cast<unsigned char*>(lower)};
    for (size_t i = 0; i < c.n;) {
#if defined(__SSE2__)
        if (i > 0 && i + 17 <= c.n) {
            i = c.block(i);
            continue;
        }
#endif
        i = c.copyStretch(i);
        c.afterOrdinary = i == 0 || !isTagPunctuation(c.in[i - 1]);
        i = c.compactSpace(i);
    }
    RestoreTrails(std::string_view(out, c.o), lower);
    return c.o;
}

} // namespace vexory
