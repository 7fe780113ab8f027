#pragma once

// Folding ASCII capitals to small letters: a byte or sixteen at a time, where every
// other byte stays and telling GBK trail bytes apart is the caller's business; and
// whole texts, whose double-byte characters keep their trail bytes.

#include <cstdint>
#include <string>
#include <string_view>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace vexory {

inline unsigned char FoldCapital(unsigned char c)
{
    return static_cast<unsigned char>(c | (static_cast<unsigned char>(c - 'A') < 26 ? 0x20 : 0));
}

// One ASCII character folded to lower case (any other byte unchanged).
inline char LowerAsciiChar(char c)
{
    return static_cast<char>(FoldCapital(static_cast<unsigned char>(c)));
}

#if defined(__SSE2__)
inline __m128i FoldCapitals(__m128i v)
{
    const __m128i shifted = _mm_sub_epi8(v, _mm_set1_epi8('A'));
    const __m128i upper = _mm_cmpeq_epi8(_mm_min_epu8(shifted, _mm_set1_epi8(25)), shifted);
    return _mm_or_si128(v, _mm_and_si128(upper, _mm_set1_epi8(0x20)));
}
#endif

// True for a byte that starts a double-byte character of code page 936.
inline bool IsGbkLead(unsigned char c)
{
    return c >= 0x81 && c <= 0xFE;
}

// ASCII letters folded to lower case (same length, same positions). A double-byte
// character (a lead byte 0x81-0xFE and the byte after it) is copied unchanged, so
// that trail bytes in "@".."Z" (as in 學 8C 57) keep their character.
std::string LowerAscii(std::string_view text);
// The same written to `out` (room for text.size() bytes; may be text.data() itself).
void LowerAsciiInto(std::string_view text, char* out);
// Puts back the trail bytes in "A".."Z" that folding every byte of `text` into `lower`
// lowered: what turns a plain fold into LowerAscii.
void RestoreTrails(std::string_view text, char* lower);

// A text to search, lowered as LowerAscii lowers it when the search ignores case,
// else the text itself (nothing copied). It holds what it lowered: not copied.
class SearchText
{
public:
    SearchText(std::string_view text, bool ignoreCase)
    {
        if (ignoreCase) {
            m_lowered = LowerAscii(text);
            m_view = m_lowered;
        } else {
            m_view = text;
        }
    }
    SearchText(const SearchText&) = delete;
    SearchText& operator=(const SearchText&) = delete;

    operator std::string_view() const { return m_view; }
    std::string_view View() const { return m_view; }

private:
    std::string m_lowered;
    std::string_view m_view;
};

} // namespace vexory
