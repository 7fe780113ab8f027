#include "platform/codepage.h"
#include "platform/cp936_tables.h"

#include <cctype>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <emmintrin.h>
#include <iconv.h>
#include <map>
#include <memory>

namespace vexory {

namespace {

// One iconv descriptor per direction and thread, opened on first use.
class Converter
{
public:
    Converter(const char* to, const char* from) : m_cd(iconv_open(to, from)) {}
    ~Converter()
    {
        if (valid())
            iconv_close(m_cd);
    }
    Converter(const Converter&) = delete;
    Converter& operator=(const Converter&) = delete;

    bool valid() const { return m_cd != reinterpret_cast<iconv_t>(-1); }
    iconv_t handle() const { return m_cd; }

private:
    iconv_t m_cd;
};

Converter& converter(const char* to, const char* from)
{
    thread_local std::map<std::pair<std::string, std::string>, std::unique_ptr<Converter>> cache;
    auto& slot = cache[{to, from}];
    if (!slot)
        slot = std::make_unique<Converter>(to, from);
    return *slot;
}

using SkipRule = size_t (*)(const unsigned char* p, size_t left);

// Length of the offending character, so that one "?" stands for one character.
size_t skipUtf8(const unsigned char* p, size_t left)
{
    const size_t expected = p[0] >= 0xF0 ? 4 : p[0] >= 0xE0 ? 3 : p[0] >= 0xC2 ? 2 : 1;
    size_t n = 1;
    while (n < left && n < expected && (p[n] & 0xC0) == 0x80)
        ++n;
    return n;
}

size_t skipByte(const unsigned char*, size_t)
{
    return 1;
}

size_t skipGbk(const unsigned char* p, size_t left)
{
    if (left >= 2 && p[0] >= 0x81 && p[0] <= 0xFE && p[1] >= 0x40 && p[1] <= 0xFE && p[1] != 0x7F)
        return 2;
    return 1;
}

size_t skipUtf16(const unsigned char* p, size_t left)
{
    if (left >= 4) {
        char16_t first;
        char16_t second;
        std::memcpy(&first, p, 2);
        std::memcpy(&second, p + 2, 2);
        if (first >= 0xD800 && first <= 0xDBFF && second >= 0xDC00 && second <= 0xDFFF)
            return 4;
    }
    return left >= 2 ? 2 : left;
}

// Converts bytes, writing `question` for every character that cannot be converted.
// Returns false through `exact` when any replacement was made.
std::string convert(Converter& cv, std::string_view input, SkipRule skip, std::string_view question,
                    bool* exact = nullptr)
{
    if (exact)
        *exact = true;
    std::string out;
    if (input.empty())
        return out;
    if (!cv.valid()) {
        if (exact)
            *exact = false;
        return std::string(input);
    }
    iconv(cv.handle(), nullptr, nullptr, nullptr, nullptr);
    out.resize(input.size() * 2 + 16);
    char* in = const_cast<char*>(input.data());
    size_t inLeft = input.size();
    size_t written = 0;
    while (inLeft > 0) {
        char* outPtr = out.data() + written;
        size_t outLeft = out.size() - written;
        size_t rc = iconv(cv.handle(), &in, &inLeft, &outPtr, &outLeft);
        written = out.size() - outLeft;
        if (rc != static_cast<size_t>(-1))
            break;
        if (errno == E2BIG) {
            out.resize(out.size() * 2);
            continue;
        }
        if (exact)
            *exact = false;
        if (out.size() - written < question.size())
            out.resize(out.size() * 2);
        std::memcpy(out.data() + written, question.data(), question.size());
        written += question.size();
        if (errno == EINVAL) // incomplete character at the end
            break;
        size_t n = skip(reinterpret_cast<const unsigned char*>(in), inLeft);
        in += n;
        inLeft -= n;
    }
    // Flush any shift state (none for these encodings, but cheap to be correct).
    for (;;) {
        char* outPtr = out.data() + written;
        size_t outLeft = out.size() - written;
        if (iconv(cv.handle(), nullptr, nullptr, &outPtr, &outLeft) != static_cast<size_t>(-1)) {
            written = out.size() - outLeft;
            break;
        }
        if (errno != E2BIG)
            break;
        out.resize(out.size() * 2);
    }
    out.resize(written);
    return out;
}

std::string_view asBytes(std::u16string_view s)
{
    return {reinterpret_cast<const char*>(s.data()), s.size() * sizeof(char16_t)};
}

std::u16string toU16(const std::string& bytes)
{
    std::u16string out(bytes.size() / 2, u'\0');
    std::memcpy(out.data(), bytes.data(), out.size() * 2);
    return out;
}

constexpr std::string_view kQuestionU16{"?\0", 2};

// The fast conversions below run on tables asked of iconv when the program was
// built, and give iconv's bytes exactly, "?" rules included (a test compares them
// for every code point and for random texts).
using cp936::kNone;

// iconv drops the tag characters U+E0000..U+E007F silently when the target
// cannot hold them: no "?", and the text still counts as exact.
inline bool isTag(uint32_t cp)
{
    return cp >> 7 == 0xE0000 >> 7;
}

// Bytes below 0x80 from the start of p (at most n), found 16 at a time.
inline size_t asciiRun(const unsigned char* p, size_t n)
{
    size_t i = 0;
    for (; i + 16 <= n; i += 16) {
        const int mask = _mm_movemask_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i)));
        if (mask != 0)
            return i + static_cast<size_t>(__builtin_ctz(static_cast<unsigned>(mask)));
    }
    while (i < n && p[i] < 0x80)
        ++i;
    return i;
}

// Copies the ASCII run at p + i to o, moving both on.
inline void copyAscii(const unsigned char* p, size_t& i, size_t n, char*& o)
{
    const size_t run = asciiRun(p + i, n - i);
    std::memcpy(o, p + i, run);
    o += run;
    i += run;
}

inline char* putGbk(char* o, uint16_t g)
{
    if (g < 0x100) {
        *o++ = static_cast<char>(g);
    } else {
        *o++ = static_cast<char>(g >> 8);
        *o++ = static_cast<char>(g & 0xFF);
    }
    return o;
}

inline char* putUtf8(char* o, uint32_t cp)
{
    if (cp < 0x80) {
        *o++ = static_cast<char>(cp);
    } else if (cp < 0x800) {
        *o++ = static_cast<char>(0xC0 | cp >> 6);
        *o++ = static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        *o++ = static_cast<char>(0xE0 | cp >> 12);
        *o++ = static_cast<char>(0x80 | (cp >> 6 & 0x3F));
        *o++ = static_cast<char>(0x80 | (cp & 0x3F));
    }
    return o;
}

// The character at p as code page 936 would decode it: its code point and length,
// or kNone when the bytes are no character (length then is what "?" stands for).
// Returns 0 as length when the bytes run out in the middle of a lead and trail.
inline uint16_t gbkAt(const unsigned char* p, size_t left, size_t& length)
{
    const unsigned char c = p[0];
    if (c < 0x81 || c == 0xFF) {
        length = 1;
        return cp936::kSingle[c];
    }
    if (left < 2) {
        length = 0;
        return kNone;
    }
    const uint16_t cp = cp936::kPair[(c - 0x81) * 256 + p[1]];
    length = cp != kNone ? 2 : skipGbk(p, left);
    return cp;
}

} // namespace

namespace iconv_reference {

std::string Utf8ToGbk(std::string_view utf8, bool* exact)
{
    return convert(converter("CP936", "UTF-8"), utf8, skipUtf8, "?", exact);
}

std::string GbkToUtf8(std::string_view gbk)
{
    return convert(converter("UTF-8", "CP936"), gbk, skipGbk, "?");
}

std::u16string GbkToUtf16(std::string_view gbk)
{
    return toU16(convert(converter("UTF-16LE", "CP936"), gbk, skipGbk, kQuestionU16));
}

std::string Utf16ToGbk(std::u16string_view utf16)
{
    return convert(converter("CP936", "UTF-16LE"), asBytes(utf16), skipUtf16, "?");
}

} // namespace iconv_reference

namespace {

std::string fastUtf8ToGbk(std::string_view utf8, bool* exact)
{
    if (exact)
        *exact = true;
    const auto* p = reinterpret_cast<const unsigned char*>(utf8.data());
    const size_t n = utf8.size();
    std::string out(n, '\0'); // GBK never takes more bytes than UTF-8
    char* o = out.data();
    size_t i = 0;
    while (i < n) {
        const unsigned char c = p[i];
        if (c < 0x80) {
            copyAscii(p, i, n, o);
            continue;
        }
        // The common case of Chinese text: three bytes, in the code page.
        if (c >= 0xE1 && c != 0xED && c < 0xF0 && n - i >= 3 && (p[i + 1] & 0xC0) == 0x80 &&
            (p[i + 2] & 0xC0) == 0x80) {
            const uint16_t g = cp936::kToGbk[(c & 0x0Fu) << 12 | (p[i + 1] & 0x3Fu) << 6 | (p[i + 2] & 0x3Fu)];
            if (g >= 0x100 && g != kNone) {
                o[0] = static_cast<char>(g >> 8);
                o[1] = static_cast<char>(g & 0xFF);
                o += 2;
                i += 3;
                continue;
            }
        }
        const size_t length = c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : c >= 0xC2 ? 2 : 1;
        // iconv still reads 0xF8-0xFD as leads of five and six bytes: near the end,
        // such a lead may be "cut off" (one "?" and the end) rather than wrong.
        const size_t needed = c >= 0xFC ? 6 : c >= 0xF8 ? 5 : length;
        if (needed > n - i) {
            // A character cut off by the end: iconv's own reading of it.
            bool tailExact = true;
            const std::string tail = iconv_reference::Utf8ToGbk(utf8.substr(i), &tailExact);
            if (exact && !tailExact)
                *exact = false;
            const size_t done = static_cast<size_t>(o - out.data());
            out.resize(done);
            return out + tail;
        }
        uint32_t cp = 0x110000;
        // U+E0000..U+E007F are F3 A0 80 80 .. F3 A0 81 BF.
        if (length == 4 && c == 0xF3 && p[i + 1] == 0xA0 && (p[i + 2] & 0xFE) == 0x80 && (p[i + 3] & 0xC0) == 0x80) {
            i += 4; // a tag character: dropped without a trace, as iconv does
            continue;
        }
        if (length == 2 && (p[i + 1] & 0xC0) == 0x80) {
            cp = (c & 0x1Fu) << 6 | (p[i + 1] & 0x3Fu);
        } else if (length == 3 && (p[i + 1] & 0xC0) == 0x80 && (p[i + 2] & 0xC0) == 0x80) {
            cp = (c & 0x0Fu) << 12 | (p[i + 1] & 0x3Fu) << 6 | (p[i + 2] & 0x3Fu);
            if (cp < 0x800 || (cp >= 0xD800 && cp <= 0xDFFF))
                cp = 0x110000; // overlong, or a surrogate
        }
        const uint16_t g = cp < 0x10000 ? cp936::kToGbk[cp] : kNone;
        if (g != kNone) {
            o = putGbk(o, g);
            i += length;
            continue;
        }
        if (exact)
            *exact = false;
        *o++ = '?';
        i += skipUtf8(p + i, n - i);
    }
    out.resize(static_cast<size_t>(o - out.data()));
    return out;
}

} // namespace

std::string GbkToUtf8(std::string_view gbk)
{
    const auto* p = reinterpret_cast<const unsigned char*>(gbk.data());
    const size_t n = gbk.size();
    std::string out(n * 3, '\0');
    char* o = out.data();
    size_t i = 0;
    while (i < n) {
        const unsigned char c = p[i];
        if (c < 0x80) {
            copyAscii(p, i, n, o);
            continue;
        }
        // The common case: a double-byte character of the BMP's upper part.
        if (c >= 0x81 && c <= 0xFE && n - i >= 2) {
            const uint16_t cp = cp936::kPair[(c - 0x81) * 256 + p[i + 1]];
            if (cp >= 0x800 && cp != kNone) {
                o[0] = static_cast<char>(0xE0 | cp >> 12);
                o[1] = static_cast<char>(0x80 | (cp >> 6 & 0x3F));
                o[2] = static_cast<char>(0x80 | (cp & 0x3F));
                o += 3;
                i += 2;
                continue;
            }
        }
        size_t length = 0;
        const uint16_t cp = gbkAt(p + i, n - i, length);
        if (length == 0) { // a lead byte at the very end
            *o++ = '?';
            break;
        }
        o = cp != kNone ? putUtf8(o, cp) : (*o = '?', o + 1);
        i += length;
    }
    out.resize(static_cast<size_t>(o - out.data()));
    return out;
}

std::string Utf8ToGbk(std::string_view utf8)
{
    return fastUtf8ToGbk(utf8, nullptr);
}

std::optional<std::string> Utf8ToGbkStrict(std::string_view utf8)
{
    bool exact = true;
    std::string out = fastUtf8ToGbk(utf8, &exact);
    if (!exact)
        return std::nullopt;
    return out;
}

std::u16string GbkToUtf16(std::string_view gbk)
{
    const auto* p = reinterpret_cast<const unsigned char*>(gbk.data());
    const size_t n = gbk.size();
    std::u16string out(n, u'\0'); // never more units than bytes
    char16_t* o = out.data();
    size_t i = 0;
    while (i < n) {
        if (p[i] < 0x80) {
            const size_t run = asciiRun(p + i, n - i);
            for (size_t k = 0; k < run; ++k)
                o[k] = p[i + k];
            o += run;
            i += run;
            continue;
        }
        size_t length = 0;
        const uint16_t cp = gbkAt(p + i, n - i, length);
        if (length == 0) {
            *o++ = u'?';
            break;
        }
        *o++ = cp != kNone ? static_cast<char16_t>(cp) : u'?';
        i += length;
    }
    out.resize(static_cast<size_t>(o - out.data()));
    return out;
}

std::string Utf16ToGbk(std::u16string_view utf16)
{
    const char16_t* p = utf16.data();
    const size_t n = utf16.size();
    std::string out(n * 2, '\0');
    char* o = out.data();
    size_t i = 0;
    const __m128i high = _mm_set1_epi16(static_cast<short>(0xFF80));
    const __m128i zero = _mm_setzero_si128();
    while (i < n) {
        // Eight ASCII units at a time, narrowed to bytes.
        while (i + 8 <= n) {
            const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i));
            if (_mm_movemask_epi8(_mm_cmpeq_epi16(_mm_and_si128(v, high), zero)) != 0xFFFF)
                break;
            _mm_storel_epi64(reinterpret_cast<__m128i*>(o), _mm_packus_epi16(v, v));
            o += 8;
            i += 8;
        }
        if (i >= n)
            break;
        const char16_t u = p[i];
        if (u < 0x80) {
            *o++ = static_cast<char>(u);
            ++i;
            continue;
        }
        const uint16_t g = u >= 0xD800 && u <= 0xDFFF ? kNone : cp936::kToGbk[u];
        if (g != kNone) {
            o = putGbk(o, g);
            ++i;
            continue;
        }
        // Not in the code page: a pair of surrogates is one character, one "?"
        // (or none for a tag character).
        const bool pair = u >= 0xD800 && u <= 0xDBFF && i + 1 < n && p[i + 1] >= 0xDC00 && p[i + 1] <= 0xDFFF;
        if (!pair || !isTag(0x10000 + ((u - 0xD800u) << 10) + (p[i + 1] - 0xDC00u)))
            *o++ = '?';
        i += pair ? 2 : 1;
    }
    out.resize(static_cast<size_t>(o - out.data()));
    return out;
}

std::string CharsetToGbk(std::string_view bytes, std::string_view charset)
{
    std::string name(charset);
    for (char& c : name)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    if (name == "GBK" || name == "GB2312" || name == "CP936" || name == "WINDOWS-936" || name == "X-GBK")
        return std::string(bytes); // already the program's own code page
    if (name.empty() || name == "UTF-8" || name == "UTF8")
        return Utf8ToGbk(bytes);
    Converter& cv = converter("CP936", name.c_str());
    if (!cv.valid())
        return Utf8ToGbk(bytes);
    return convert(cv, bytes, name == "UTF-8" ? skipUtf8 : skipByte, "?");
}

} // namespace vexory
