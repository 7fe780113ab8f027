#pragma once

// Folding ASCII capitals to small letters, a byte or sixteen at a time. Every other
// byte stays; telling GBK trail bytes apart is the caller's business.

#include <cstdint>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace vexory {

inline unsigned char FoldCapital(unsigned char c)
{
    return static_cast<unsigned char>(c | (static_cast<unsigned char>(c - 'A') < 26 ? 0x20 : 0));
}

#if defined(__SSE2__)
inline __m128i FoldCapitals(__m128i v)
{
    const __m128i shifted = _mm_sub_epi8(v, _mm_set1_epi8('A'));
    const __m128i upper = _mm_cmpeq_epi8(_mm_min_epu8(shifted, _mm_set1_epi8(25)), shifted);
    return _mm_or_si128(v, _mm_and_si128(upper, _mm_set1_epi8(0x20)));
}
#endif

} // namespace vexory
