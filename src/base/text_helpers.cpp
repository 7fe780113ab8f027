#include "base/text_helpers.h"

#include "base/ascii_fold.h"
#include "base/text_search.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace vexory {

namespace {

inline bool isDigit(char c)
{
    return c >= '0' && c <= '9';
}

} // namespace

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

std::string TypedAddress(std::string_view text)
{
    auto blank = [](char c) { return static_cast<unsigned char>(c) <= 0x20 || c == 0x7F; };
    while (!text.empty() && blank(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && blank(text.back()))
        text.remove_suffix(1);
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        if (c == ' ')
            out += "%20";
        else if (!blank(c))
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
    const SearchText search(text, ignoreCase), needle(what, ignoreCase);
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

bool DeleteLineRange(std::vector<std::string>& lines, int last, int first)
{
    if (first < 0 || first > last || static_cast<size_t>(last) >= lines.size())
        return false;
    lines.erase(lines.begin() + first, lines.begin() + last + 1);
    return true;
}

} // namespace vexory
