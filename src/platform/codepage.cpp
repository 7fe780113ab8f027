#include "platform/codepage.h"

#include <cctype>
#include <cerrno>
#include <cstring>
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

} // namespace

std::string GbkToUtf8(std::string_view gbk)
{
    return convert(converter("UTF-8", "CP936"), gbk, skipGbk, "?");
}

std::string Utf8ToGbk(std::string_view utf8)
{
    return convert(converter("CP936", "UTF-8"), utf8, skipUtf8, "?");
}

std::optional<std::string> Utf8ToGbkStrict(std::string_view utf8)
{
    bool exact = true;
    std::string out = convert(converter("CP936", "UTF-8"), utf8, skipUtf8, "?", &exact);
    if (!exact)
        return std::nullopt;
    return out;
}

std::u16string GbkToUtf16(std::string_view gbk)
{
    return toU16(convert(converter("UTF-16LE", "CP936"), gbk, skipGbk, kQuestionU16));
}

std::string Utf16ToGbk(std::u16string_view utf16)
{
    return convert(converter("CP936", "UTF-16LE"), asBytes(utf16), skipUtf16, "?");
}

std::string CharsetToGbk(std::string_view bytes, std::string_view charset)
{
    std::string name(charset);
    for (char& c : name)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    if (name == "GBK" || name == "GB2312" || name == "CP936" || name == "WINDOWS-936" || name == "X-GBK")
        return std::string(bytes); // already the program's own code page
    if (name.empty())
        name = "UTF-8";
    Converter& cv = converter("CP936", name.c_str());
    if (!cv.valid())
        return Utf8ToGbk(bytes);
    return convert(cv, bytes, name == "UTF-8" ? skipUtf8 : skipByte, "?");
}

} // namespace vexory
