#pragma once

// Plain transcriptions of the matching rules, quadratic and obviously right, that
// the fuzz targets hold the fast engine against.

#include "formula/markers.h"
#include "formula/tag_scanner.h"
#include "formula/text_helpers.h"
#include "formula/wild.h"

#include <string>
#include <string_view>

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
        text.replace(start, static_cast<size_t>(m.len), std::string(marker) + text.substr(start + head.size(), wrapped));
        lower.replace(start, static_cast<size_t>(m.len), std::string(marker) + lower.substr(start + head.size(), wrapped));
    }
}

} // namespace vexory::reference
