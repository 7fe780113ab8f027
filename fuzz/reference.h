#pragma once

// Plain transcriptions of the matching rules, quadratic and obviously right, that
// the fuzz targets hold the fast engine against.

#include "base/ascii_fold.h"
#include "base/text_helpers.h"
#include "base/text_search.h"
#include "formula/markers.h"
#include "formula/page_prep.h"
#include "formula/tag_scanner.h"
#include "formula/wild.h"

#include <algorithm>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace vexory::reference {

inline int countFrom(std::string_view open, std::string_view text, int from, int before)
{
    int n = 0;
    for (int p = PosFrom(open, text, from); p != 0 && p < before; p = PosFrom(open, text, p + 1))
        ++n;
    return n;
}

inline TagMatch FindBalanced(std::string_view text, std::string_view close, int start, bool retry, int openLength)
{
    if (start < 1 || openLength < 1 || static_cast<size_t>(start - 1 + openLength) > text.size())
        return {0, 0};
    const std::string open(text.substr(static_cast<size_t>(start - 1), static_cast<size_t>(openLength)));
    int c = PosFrom(close, text, start + openLength);
    if (c == 0)
        return {0, 0};
    for (;;) {
        int opens = 1 + countFrom(open, text, start + openLength + 1, c);
        int closes = 1;
        bool matched = true;
        while (closes < opens) {
            const int next = PosFrom(close, text, c + 1);
            if (next == 0) {
                matched = false;
                break;
            }
            c = next;
            ++closes;
            opens = 1 + countFrom(open, text, start + openLength + 1, c);
        }
        if (matched)
            return {start, c + static_cast<int>(close.size()) - start};
        if (!retry || opens < 2)
            return {-1, 0};
        start = PosFrom(open, text, start + 1);
        if (start == 0)
            return {-1, 0};
        c = PosFrom(close, text, start + openLength);
        if (c == 0)
            return {-1, 0};
    }
}

inline TagMatch FindTag(std::string_view text, std::string_view open, std::string_view close, bool retry, int from)
{
    const int s = PosFrom(open, text, from);
    if (s == 0)
        return {0, 0};
    TagMatch m = FindBalanced(text, close, s, retry, static_cast<int>(open.size()));
    if (m.pos == 0)
        return {-1, 0};
    if (m.pos < 0)
        return {-2, 0};
    return m;
}

// Find, replace, search again from the start, until nothing is found.
inline std::string UnwrapHighlights(std::string_view input, std::string_view tmpl, std::string_view marker,
                                    bool ignoreCase)
{
    const std::string_view head = MarkOpening(tmpl), tail = MarkClosing(tmpl);
    std::string text(input);
    std::string lower = LowerAscii(text);
    const std::string pattern = ignoreCase ? LowerAscii(MarkPattern(tmpl)) : MarkPattern(tmpl);
    for (;;) {
        WildMatch m = WildFind(ignoreCase ? lower : text, pattern, 1);
        if (!m)
            return text;
        const size_t start = static_cast<size_t>(m.pos - 1);
        const size_t wrapped = static_cast<size_t>(m.len) - head.size() - tail.size();
        text.replace(start, static_cast<size_t>(m.len),
                     std::string(marker) + text.substr(start + head.size(), wrapped));
        lower.replace(start, static_cast<size_t>(m.len),
                      std::string(marker) + lower.substr(start + head.size(), wrapped));
    }
}

// Lowered ASCII capitals at character starts; a byte after a double-byte lead stays.
inline std::string Lower(std::string_view text)
{
    std::string out(text);
    for (size_t i = 0; i < out.size(); ++i) {
        const auto c = static_cast<unsigned char>(out[i]);
        if (IsGbkLead(c))
            ++i;
        else if (c >= 'A' && c <= 'Z')
            out[i] = static_cast<char>(c + 32);
    }
    return out;
}

inline std::string RemoveNonContent(std::string_view text)
{
    std::string t(text);
    for (const char* p : {"<script[*]</script>", "<noscript[*]</noscript>", "<style[*]</style>",
                          "<textarea[*]</textarea>", "<!--[*]-->", "<link[*]>"})
        t = WildReplace(t, p, "", kReplaceAll | kIgnoreCase);
    return t;
}

inline bool LessIgnoringCase(std::string_view a, std::string_view b)
{
    return Lower(a) < Lower(b);
}

// The value of one attribute as it is written back: class words and style
// declarations sorted, double quotes made single.
inline std::string NormalValue(std::string_view name, std::string_view value)
{
    std::string out;
    const std::string lowerName = Lower(name);
    if (lowerName == "class" || lowerName == "style") {
        const bool style = lowerName == "style";
        std::vector<std::string> parts;
        for (std::string_view part : SplitViews(value, style ? ';' : ' ')) {
            std::string p(part);
            if (style)
                p.erase(std::remove(p.begin(), p.end(), ' '), p.end());
            if (!p.empty())
                parts.push_back(p);
        }
        std::stable_sort(parts.begin(), parts.end(), LessIgnoringCase);
        for (size_t i = 0; i < parts.size(); ++i)
            out += (i ? (style ? ";" : " ") : "") + parts[i];
    } else {
        out = value;
    }
    std::replace(out.begin(), out.end(), '"', '\'');
    return out;
}

inline std::string NormalizeTag(std::string_view tag)
{
    if (tag.size() < 2)
        return std::string(tag);
    const std::string_view inner = tag.substr(1, tag.size() - 2);
    const size_t blank = inner.find(' ');
    if (blank == std::string_view::npos || inner.find('=', blank + 1) == std::string_view::npos)
        return std::string(tag);
    const std::string_view name = Trim(inner.substr(0, blank));
    std::string_view rest = Trim(inner.substr(blank + 1));
    std::vector<std::string> attrs;
    for (size_t e = rest.find('='); e != std::string_view::npos; e = rest.find('=')) {
        const std::string_view before = Trim(rest.substr(0, e));
        const size_t lastBlank = before.rfind(' ');
        const std::string_view attrName = lastBlank == std::string_view::npos ? before : before.substr(lastBlank + 1);
        const std::string_view after = rest.substr(e + 1);
        std::string_view value;
        if (!after.empty() && (after.front() == '"' || after.front() == '\'')) {
            // The value ends at the quote before a blank, or at a last byte that is its quote.
            size_t close = after.find(std::string{after.front(), ' '}, 1);
            if (close == std::string_view::npos && after.size() >= 2 && after.back() == after.front())
                close = after.size() - 1;
            if (close == std::string_view::npos) {
                rest = {};
            } else {
                value = after.substr(1, close - 1);
                rest = Trim(after.substr(close + 1));
            }
        } else {
            const size_t end = after.find(' ');
            value = after.substr(0, end);
            rest = end == std::string_view::npos ? std::string_view() : Trim(after.substr(end));
        }
        attrs.push_back(std::string(attrName) + "=\"" + NormalValue(attrName, Trim(value)) + "\"");
    }
    std::stable_sort(attrs.begin(), attrs.end(), LessIgnoringCase);
    std::string out = "<" + std::string(name) + " ";
    for (size_t i = 0; i < attrs.size(); ++i)
        out += (i ? " " : "") + attrs[i];
    return out + ">";
}

inline std::string NormalizeTags(std::string_view text)
{
    std::string out;
    int b = 1;
    while (b <= static_cast<int>(text.size())) {
        const TagMatch tag = FindTag(text, "<", ">", true, b);
        if (!tag)
            break;
        out += text.substr(static_cast<size_t>(b - 1), static_cast<size_t>(tag.pos - b));
        const std::string_view t = text.substr(static_cast<size_t>(tag.pos - 1), static_cast<size_t>(tag.len));
        out += t.find('=') == std::string_view::npos ? std::string(t) : NormalizeTag(t);
        b = tag.pos + tag.len;
    }
    if (b <= static_cast<int>(text.size()))
        out += text.substr(static_cast<size_t>(b - 1));
    return out;
}

// The page preparation as a chain of whole-text steps.
inline std::string PreparePage(std::string_view page)
{
    std::string text = NormalizeTags(RemoveNonContent(CompactHtml(page)));
    if (Lower(text).find(Lower(MarkOpening(HighlightTemplate))) != std::string::npos)
        text = UnwrapHighlights(text, HighlightTemplate, MarkedSentinel, true);
    return text;
}

} // namespace vexory::reference
