#include "formula/tag_normalizer.h"

#include "base/ascii_fold.h"
#include "base/text_helpers.h"

#include <algorithm>

namespace vexory {

namespace {

char foldByte(char c)
{
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c;
}

// Compares as the lowercased texts compare: a trail byte of a double-byte
// character is never folded.
bool lessIgnoringCase(std::string_view a, std::string_view b)
{
    bool trailA = false, trailB = false;
    const size_t n = std::min(a.size(), b.size());
    for (size_t i = 0; i < n; ++i) {
        const auto x = static_cast<unsigned char>(trailA ? a[i] : foldByte(a[i]));
        const auto y = static_cast<unsigned char>(trailB ? b[i] : foldByte(b[i]));
        trailA = !trailA && IsGbkLead(static_cast<unsigned char>(a[i]));
        trailB = !trailB && IsGbkLead(static_cast<unsigned char>(b[i]));
        if (x != y)
            return x < y;
    }
    return a.size() < b.size();
}

// Only ever compared with ASCII names, which no double-byte character can equal.
bool equalsIgnoringCase(std::string_view a, std::string_view b)
{
    return a.size() == b.size() &&
           std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) { return foldByte(x) == foldByte(y); });
}

// Trim, inline for the tag normaliser's many short texts.
std::string_view trimBlanks(std::string_view s)
{
    while (!s.empty() && static_cast<unsigned char>(s.front()) <= 0x20)
        s.remove_prefix(1);
    while (!s.empty() && static_cast<unsigned char>(s.back()) <= 0x20)
        s.remove_suffix(1);
    return s;
}

// A stable sort without a temporary buffer, for the few attributes of a tag; falls
// back to the library sort when a tag has very many.
template <typename T, typename Less> void insertionSort(std::vector<T>& v, Less less)
{
    if (v.size() > 32) {
        std::stable_sort(v.begin(), v.end(), less);
        return;
    }
    for (size_t i = 1; i < v.size(); ++i) {
        T item = std::move(v[i]);
        size_t j = i;
        for (; j > 0 && less(item, v[j - 1]); --j)
            v[j] = std::move(v[j - 1]);
        v[j] = std::move(item);
    }
}

// Appends the words of a class value, sorted ignoring case, joined by one blank.
void appendSortedClass(std::string& out, std::string_view value, TagScratch& scratch)
{
    if (value.find(' ') == std::string_view::npos) {
        out += value; // one word
        return;
    }
    scratch.parts.clear();
    size_t start = 0;
    for (;;) {
        size_t k = value.find(' ', start);
        std::string_view w = value.substr(start, k == std::string_view::npos ? std::string_view::npos : k - start);
        if (!w.empty())
            scratch.parts.push_back(w);
        if (k == std::string_view::npos)
            break;
        start = k + 1;
    }
    insertionSort(scratch.parts, lessIgnoringCase);
    for (size_t i = 0; i < scratch.parts.size(); ++i) {
        if (i)
            out += ' ';
        out += scratch.parts[i];
    }
}

// Appends the declarations of a style value without blanks, sorted ignoring case, joined by ";".
void appendSortedStyle(std::string& out, std::string_view value, TagScratch& scratch)
{
    if (value.find_first_of("; ") == std::string_view::npos) {
        out += value; // one declaration without blanks
        return;
    }
    scratch.words.clear();
    scratch.words.reserve(value.size());
    std::vector<std::pair<size_t, size_t>> spans;
    size_t start = 0;
    for (;;) {
        size_t k = value.find(';', start);
        std::string_view d = value.substr(start, k == std::string_view::npos ? std::string_view::npos : k - start);
        const size_t at = scratch.words.size();
        for (char c : d)
            if (c != ' ')
                scratch.words += c;
        if (scratch.words.size() > at)
            spans.emplace_back(at, scratch.words.size() - at);
        if (k == std::string_view::npos)
            break;
        start = k + 1;
    }
    scratch.parts.clear();
    for (auto [at, len] : spans)
        scratch.parts.push_back(std::string_view(scratch.words).substr(at, len));
    insertionSort(scratch.parts, lessIgnoringCase);
    for (size_t i = 0; i < scratch.parts.size(); ++i) {
        if (i)
            out += ';';
        out += scratch.parts[i];
    }
}

} // namespace

void AppendNormalizedTag(std::string& out, std::string_view tag, TagScratch& scratch)
{
    if (tag.size() < 2) {
        out += tag;
        return;
    }
    const std::string_view inner = tag.substr(1, tag.size() - 2);
    const size_t blank = inner.find(' ');
    if (blank == std::string_view::npos || inner.find('=', blank + 1) == std::string_view::npos) {
        out += tag;
        return;
    }
    const std::string_view name = trimBlanks(inner.substr(0, blank));
    std::string_view rest = trimBlanks(inner.substr(blank + 1));

    // Each round reads one attribute as if a blank followed the rest of the tag,
    // so a value may end at the very end.
    scratch.values.clear();
    scratch.attrs.clear();
    for (size_t e = rest.find('='); e != std::string_view::npos; e = rest.find('=')) {
        std::string_view before = rest.substr(0, e);
        while (!before.empty() && before.back() == ' ')
            before.remove_suffix(1);
        const size_t lastBlank = before.rfind(' ');
        const std::string_view attrName = lastBlank == std::string_view::npos ? before : before.substr(lastBlank + 1);

        const std::string_view after = rest.substr(e + 1);
        std::string_view value;
        if (!after.empty() && (after.front() == '"' || after.front() == '\'')) {
            const char quote[2] = {after.front(), ' '};
            size_t close = after.find(std::string_view(quote, 2), 1);
            if (close == std::string_view::npos && after.size() >= 2 && after.back() == after.front())
                close = after.size() - 1; // the quote before the blank that ends the tag
            if (close == std::string_view::npos) {
                value = {};
                rest = {};
            } else {
                value = after.substr(1, close - 1);
                rest = trimBlanks(after.substr(close + 1));
            }
        } else {
            const size_t end = after.find(' ');
            value = after.substr(0, end);
            rest = end == std::string_view::npos ? std::string_view() : trimBlanks(after.substr(end));
        }
        value = trimBlanks(value);
        const size_t at = scratch.values.size();
        scratch.values += attrName;
        scratch.values += "=\"";
        const size_t valueAt = scratch.values.size();
        if (equalsIgnoringCase(attrName, "class"))
            appendSortedClass(scratch.values, value, scratch);
        else if (equalsIgnoringCase(attrName, "style"))
            appendSortedStyle(scratch.values, value, scratch);
        else
            scratch.values += value;
        char* const valueEnd = scratch.values.data() + scratch.values.size();
        for (char* c = scratch.values.data() + valueAt; c != valueEnd; ++c)
            *c = *c == '"' ? '\'' : *c;
        scratch.values += '"';
        scratch.attrs.emplace_back(at, scratch.values.size() - at);
    }
    const std::string_view values = scratch.values;
    insertionSort(scratch.attrs, [&](const auto& a, const auto& b) {
        return lessIgnoringCase(values.substr(a.first, a.second), values.substr(b.first, b.second));
    });
    out += '<';
    out += name;
    out += ' ';
    for (size_t i = 0; i < scratch.attrs.size(); ++i) {
        if (i)
            out += ' ';
        out += values.substr(scratch.attrs[i].first, scratch.attrs[i].second);
    }
    out += '>';
}

} // namespace vexory
