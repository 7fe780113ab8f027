#include "browser/page_encoding.h"

#include "base/ascii_fold.h"

#include <iconv.h>

#include <array>
#include <cstdint>
#include <utility>

namespace vexory {

namespace {

bool isSpace(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\f' || c == '\r';
}

std::string lowered(std::string_view s)
{
    std::string out(s);
    for (char& c : out)
        c = LowerAsciiChar(c);
    return out;
}

bool startsWithNoCase(std::string_view s, size_t at, std::string_view prefix)
{
    if (s.size() - at < prefix.size() || at > s.size())
        return false;
    for (size_t i = 0; i < prefix.size(); ++i)
        if (LowerAsciiChar(s[at + i]) != prefix[i])
            return false;
    return true;
}

void appendUtf8(std::string& out, uint32_t cp)
{
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (cp >> 18));
        out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

constexpr uint32_t kReplacement = 0xFFFD;

// The UTF-8 decoder of the encoding standard: a malformed sequence is replaced
// by one U+FFFD for its longest valid beginning.
std::string decodeUtf8(std::string_view in)
{
    std::string out;
    out.reserve(in.size());
    uint32_t cp = 0;
    int needed = 0, seen = 0;
    unsigned lowerBound = 0x80, upperBound = 0xBF;
    for (size_t i = 0; i < in.size();) {
        const auto b = static_cast<unsigned char>(in[i]);
        if (needed == 0) {
            ++i;
            if (b < 0x80) {
                out += static_cast<char>(b);
            } else if (b >= 0xC2 && b <= 0xDF) {
                needed = 1;
                cp = b & 0x1F;
            } else if (b >= 0xE0 && b <= 0xEF) {
                if (b == 0xE0)
                    lowerBound = 0xA0;
                if (b == 0xED)
                    upperBound = 0x9F;
                needed = 2;
                cp = b & 0xF;
            } else if (b >= 0xF0 && b <= 0xF4) {
                if (b == 0xF0)
                    lowerBound = 0x90;
                if (b == 0xF4)
                    upperBound = 0x8F;
                needed = 3;
                cp = b & 0x7;
            } else {
                appendUtf8(out, kReplacement);
            }
            continue;
        }
        if (b < lowerBound || b > upperBound) {
            // The byte starts anew.
            cp = 0;
            needed = seen = 0;
            lowerBound = 0x80;
            upperBound = 0xBF;
            appendUtf8(out, kReplacement);
            continue;
        }
        ++i;
        lowerBound = 0x80;
        upperBound = 0xBF;
        cp = (cp << 6) | (b & 0x3F);
        if (++seen == needed) {
            appendUtf8(out, cp);
            cp = 0;
            needed = seen = 0;
        }
    }
    if (needed != 0)
        appendUtf8(out, kReplacement);
    return out;
}

std::string decodeUtf16(std::string_view in, bool bigEndian)
{
    std::string out;
    out.reserve(in.size());
    uint32_t lead = 0;
    for (size_t i = 0; i + 1 < in.size(); i += 2) {
        const auto a = static_cast<unsigned char>(in[i]), b = static_cast<unsigned char>(in[i + 1]);
        const uint32_t unit = bigEndian ? (a << 8 | b) : (b << 8 | a);
        if (lead != 0) {
            if (unit >= 0xDC00 && unit <= 0xDFFF) {
                appendUtf8(out, 0x10000 + ((lead - 0xD800) << 10) + (unit - 0xDC00));
                lead = 0;
                continue;
            }
            appendUtf8(out, kReplacement);
            lead = 0;
        }
        if (unit >= 0xD800 && unit <= 0xDBFF)
            lead = unit;
        else if (unit >= 0xDC00 && unit <= 0xDFFF)
            appendUtf8(out, kReplacement);
        else
            appendUtf8(out, unit);
    }
    if (lead != 0 || in.size() % 2 != 0)
        appendUtf8(out, kReplacement);
    return out;
}

// windows-1252 as the encoding standard has it: its five holes are the C1 controls.
std::string decodeWindows1252(std::string_view in)
{
    static constexpr std::array<uint16_t, 32> kHigh = {
        0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
        0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
        0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};
    std::string out;
    out.reserve(in.size());
    for (char c : in) {
        const auto b = static_cast<unsigned char>(c);
        appendUtf8(out, b >= 0x80 && b < 0xA0 ? kHigh[b - 0x80] : b);
    }
    return out;
}

// GB18030 and Big5 through iconv; a sequence iconv refuses is one U+FFFD and the
// next byte starts anew (so an ASCII byte after a bad lead byte is kept, as the
// encoding standard's decoders keep it). The single byte 0x80 is the euro sign.
std::optional<std::string> decodeByIconv(std::string_view in, const char* from, bool euro)
{
    iconv_t cd = iconv_open("UTF-8", from);
    if (cd == reinterpret_cast<iconv_t>(-1))
        return std::nullopt;
    std::string out;
    out.reserve(in.size() * 3 / 2 + 16);
    char buffer[4096];
    auto* src = const_cast<char*>(in.data());
    size_t left = in.size();
    while (left > 0) {
        char* dst = buffer;
        size_t room = sizeof buffer;
        const size_t r = iconv(cd, &src, &left, &dst, &room);
        out.append(buffer, static_cast<size_t>(dst - buffer));
        if (r != static_cast<size_t>(-1) || errno == E2BIG)
            continue;
        // EILSEQ or EINVAL (cut off at the end).
        if (euro && static_cast<unsigned char>(*src) == 0x80)
            appendUtf8(out, 0x20AC);
        else
            appendUtf8(out, kReplacement);
        ++src;
        --left;
        iconv(cd, nullptr, nullptr, nullptr, nullptr);
    }
    iconv_close(cd);
    return out;
}

// The value of `charset=` in a Content-Type, without quotes ("" when none).
std::string charsetParameter(std::string_view contentType)
{
    const std::string lower = lowered(contentType);
    size_t at = 0;
    while ((at = lower.find("charset", at)) != std::string::npos) {
        size_t i = at + 7;
        const bool parameter = at == 0 || lower[at - 1] == ';' || isSpace(lower[at - 1]);
        at = i;
        while (i < lower.size() && isSpace(lower[i]))
            ++i;
        if (!parameter || i >= lower.size() || lower[i] != '=')
            continue;
        ++i;
        while (i < lower.size() && isSpace(lower[i]))
            ++i;
        if (i < lower.size() && (lower[i] == '"' || lower[i] == '\'')) {
            const char quote = lower[i];
            const size_t end = lower.find(quote, i + 1);
            return std::string(contentType.substr(i + 1, (end == std::string::npos ? lower.size() : end) - i - 1));
        }
        size_t end = i;
        while (end < lower.size() && lower[end] != ';' && !isSpace(lower[end]))
            ++end;
        return std::string(contentType.substr(i, end - i));
    }
    return {};
}

// The charset named in a <meta content="...; charset=X"> (the "extract a character
// encoding from a meta element" algorithm).
std::string charsetFromContent(std::string_view content)
{
    const std::string lower = lowered(content);
    size_t at = 0;
    for (;;) {
        at = lower.find("charset", at);
        if (at == std::string::npos)
            return {};
        size_t i = at + 7;
        while (i < content.size() && isSpace(content[i]))
            ++i;
        if (i >= content.size() || content[i] != '=') {
            at = i;
            continue;
        }
        ++i;
        while (i < content.size() && isSpace(content[i]))
            ++i;
        if (i >= content.size())
            return {};
        if (content[i] == '"' || content[i] == '\'') {
            const size_t end = content.find(content[i], i + 1);
            if (end == std::string_view::npos)
                return {};
            return std::string(content.substr(i + 1, end - i - 1));
        }
        size_t end = i;
        while (end < content.size() && !isSpace(content[end]) && content[end] != ';')
            ++end;
        return std::string(content.substr(i, end - i));
    }
}

// One attribute of a tag in the prescan ("get an attribute"); false at the tag's end.
bool prescanAttribute(std::string_view s, size_t& i, std::string& name, std::string& value)
{
    name.clear();
    value.clear();
    while (i < s.size() && (isSpace(s[i]) || s[i] == '/'))
        ++i;
    if (i >= s.size() || s[i] == '>')
        return false;
    for (;; ++i) {
        if (i >= s.size())
            return false;
        const char c = s[i];
        if (c == '=' && !name.empty()) {
            ++i;
            break;
        }
        if (isSpace(c)) {
            while (i < s.size() && isSpace(s[i]))
                ++i;
            if (i >= s.size() || s[i] != '=')
                return true;
            ++i;
            break;
        }
        if (c == '/' || c == '>')
            return true;
        name += LowerAsciiChar(c);
    }
    while (i < s.size() && isSpace(s[i]))
        ++i;
    if (i >= s.size())
        return false;
    if (s[i] == '"' || s[i] == '\'') {
        const char quote = s[i++];
        for (; i < s.size(); ++i) {
            if (s[i] == quote) {
                ++i;
                return true;
            }
            value += LowerAsciiChar(s[i]);
        }
        return false;
    }
    if (s[i] == '>')
        return true;
    for (; i < s.size(); ++i) {
        if (isSpace(s[i]) || s[i] == '>')
            return true;
        value += LowerAsciiChar(s[i]);
    }
    return false;
}

bool isAsciiLetter(char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

} // namespace

PageEncoding EncodingForLabel(std::string_view label)
{
    while (!label.empty() && isSpace(label.front()))
        label.remove_prefix(1);
    while (!label.empty() && isSpace(label.back()))
        label.remove_suffix(1);
    static const std::pair<const char*, PageEncoding> kLabels[] = {
        {"unicode-1-1-utf-8", PageEncoding::Utf8}, {"unicode11utf8", PageEncoding::Utf8},
        {"unicode20utf8", PageEncoding::Utf8},     {"utf-8", PageEncoding::Utf8},
        {"utf8", PageEncoding::Utf8},              {"x-unicode20utf8", PageEncoding::Utf8},
        {"chinese", PageEncoding::Gb18030},        {"csgb2312", PageEncoding::Gb18030},
        {"csiso58gb231280", PageEncoding::Gb18030}, {"gb2312", PageEncoding::Gb18030},
        {"gb_2312", PageEncoding::Gb18030},        {"gb_2312-80", PageEncoding::Gb18030},
        {"gbk", PageEncoding::Gb18030},            {"iso-ir-58", PageEncoding::Gb18030},
        {"x-gbk", PageEncoding::Gb18030},          {"gb18030", PageEncoding::Gb18030},
        {"big5", PageEncoding::Big5},              {"big5-hkscs", PageEncoding::Big5},
        {"cn-big5", PageEncoding::Big5},           {"csbig5", PageEncoding::Big5},
        {"x-x-big5", PageEncoding::Big5},          {"ansi_x3.4-1968", PageEncoding::Windows1252},
        {"ascii", PageEncoding::Windows1252},      {"cp1252", PageEncoding::Windows1252},
        {"cp819", PageEncoding::Windows1252},      {"csisolatin1", PageEncoding::Windows1252},
        {"ibm819", PageEncoding::Windows1252},     {"iso-8859-1", PageEncoding::Windows1252},
        {"iso-ir-100", PageEncoding::Windows1252}, {"iso8859-1", PageEncoding::Windows1252},
        {"iso88591", PageEncoding::Windows1252},   {"iso_8859-1", PageEncoding::Windows1252},
        {"iso_8859-1:1987", PageEncoding::Windows1252}, {"l1", PageEncoding::Windows1252},
        {"latin1", PageEncoding::Windows1252},     {"us-ascii", PageEncoding::Windows1252},
        {"windows-1252", PageEncoding::Windows1252}, {"x-cp1252", PageEncoding::Windows1252},
        {"csunicode", PageEncoding::Utf16Le},      {"iso-10646-ucs-2", PageEncoding::Utf16Le},
        {"ucs-2", PageEncoding::Utf16Le},          {"unicode", PageEncoding::Utf16Le},
        {"unicodefeff", PageEncoding::Utf16Le},    {"utf-16", PageEncoding::Utf16Le},
        {"utf-16le", PageEncoding::Utf16Le},       {"unicodefffe", PageEncoding::Utf16Be},
        {"utf-16be", PageEncoding::Utf16Be},
    };
    const std::string key = lowered(label);
    for (const auto& [name, encoding] : kLabels)
        if (key == name)
            return encoding;
    return PageEncoding::Unknown;
}

PageEncoding PrescanMeta(std::string_view bytes)
{
    const std::string_view s = bytes.substr(0, 1024);
    for (size_t i = 0; i < s.size();) {
        if (s.compare(i, 4, "<!--") == 0) {
            const size_t end = s.find("-->", i + 2);
            if (end == std::string_view::npos)
                return PageEncoding::Unknown;
            i = end + 3;
        } else if (startsWithNoCase(s, i, "<meta") && i + 5 < s.size() && (isSpace(s[i + 5]) || s[i + 5] == '/')) {
            i += 6;
            bool gotPragma = false, named = false;
            int needPragma = 0; // 0: none, 1: no, 2: yes
            std::string charset, name, value;
            bool seen[3] = {}; // http-equiv, content, charset
            while (prescanAttribute(s, i, name, value)) {
                if (name == "http-equiv" && !seen[0]) {
                    seen[0] = true;
                    if (value == "content-type")
                        gotPragma = true;
                } else if (name == "content" && !seen[1]) {
                    seen[1] = true;
                    const std::string found = charsetFromContent(value);
                    if (!named && !found.empty()) {
                        charset = found;
                        needPragma = 2;
                    }
                } else if (name == "charset" && !seen[2]) {
                    seen[2] = true;
                    charset = value;
                    named = true;
                    needPragma = 1;
                }
            }
            if (needPragma == 0 || (needPragma == 2 && !gotPragma))
                continue;
            PageEncoding encoding = EncodingForLabel(charset);
            if (encoding == PageEncoding::Unknown && charset.empty())
                continue;
            if (encoding == PageEncoding::Utf16Le || encoding == PageEncoding::Utf16Be)
                encoding = PageEncoding::Utf8;
            if (lowered(charset) == "x-user-defined")
                return PageEncoding::Unknown;
            return encoding; // Unknown for a charset not read here
        } else if (s[i] == '<' && i + 1 < s.size() &&
                   (isAsciiLetter(s[i + 1]) || (s[i + 1] == '/' && i + 2 < s.size() && isAsciiLetter(s[i + 2])))) {
            // A tag: its name, then its attributes.
            ++i;
            while (i < s.size() && !isSpace(s[i]) && s[i] != '>')
                ++i;
            std::string name, value;
            while (prescanAttribute(s, i, name, value)) {
            }
        } else if (s.compare(i, 2, "<!") == 0 || s.compare(i, 2, "</") == 0 || s.compare(i, 2, "<?") == 0) {
            const size_t end = s.find('>', i + 2);
            if (end == std::string_view::npos)
                return PageEncoding::Unknown;
            i = end + 1;
        } else {
            ++i;
        }
    }
    return PageEncoding::Unknown;
}

SniffedEncoding SniffEncoding(std::string_view bytes, std::string_view contentType)
{
    if (bytes.substr(0, 3) == "\xEF\xBB\xBF")
        return {PageEncoding::Utf8, 3};
    if (bytes.substr(0, 2) == "\xFE\xFF")
        return {PageEncoding::Utf16Be, 2};
    if (bytes.substr(0, 2) == "\xFF\xFE")
        return {PageEncoding::Utf16Le, 2};
    const std::string named = charsetParameter(contentType);
    if (!named.empty())
        return {EncodingForLabel(named), 0};
    return {PrescanMeta(bytes), 0};
}

std::optional<std::string> DecodeToUtf8(std::string_view bytes, PageEncoding encoding)
{
    switch (encoding) {
    case PageEncoding::Utf8:
        return decodeUtf8(bytes);
    case PageEncoding::Gb18030:
        return decodeByIconv(bytes, "GB18030", true);
    case PageEncoding::Big5:
        return decodeByIconv(bytes, "BIG5-HKSCS", false);
    case PageEncoding::Windows1252:
        return decodeWindows1252(bytes);
    case PageEncoding::Utf16Le:
        return decodeUtf16(bytes, false);
    case PageEncoding::Utf16Be:
        return decodeUtf16(bytes, true);
    case PageEncoding::Unknown:
        break;
    }
    return std::nullopt;
}

} // namespace vexory
