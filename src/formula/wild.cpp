#include "formula/wild.h"

#include "base/ascii_fold.h"
#include "base/text_search.h"
#include "formula/markers.h"

#include <algorithm>

namespace vexory {

namespace {

int textLength(std::string_view text)
{
    return static_cast<int>(text.size());
}

} // namespace

// Works through the pattern literal by literal, left to right; each literal is
// searched from where the previous one ended. No backtracking.
WildMatch WildFind(std::string_view text, std::string_view pattern, int from)
{
    const int n = textLength(text);
    std::string_view rest = pattern;
    int cur = from;
    int matchStart = 0;
    for (;;) {
        if (rest == Wildcard) {
            if (cur > n)
                return {};
            int p = std::max(cur, 1);
            if (matchStart == 0)
                matchStart = p;
            return {matchStart, n - matchStart + 1};
        }
        const size_t k = rest.find(Wildcard);
        if (k == std::string_view::npos) {
            int p = PosFrom(rest, text, std::max(cur, 1));
            if (p == 0 || cur > n)
                return {};
            if (matchStart == 0)
                matchStart = p;
            return {matchStart, p + static_cast<int>(rest.size()) - matchStart};
        }
        std::string_view head = rest.substr(0, k);
        std::string_view tail = rest.substr(k + Wildcard.size());
        int p;
        if (!head.empty()) {
            p = cur > n ? 0 : PosFrom(head, text, std::max(cur, 1));
            if (p == 0)
                return {};
        } else {
            p = std::max(cur, 1);
        }
        if (matchStart == 0)
            matchStart = p;
        if (tail.empty())
            return {matchStart, n - matchStart + 1};
        cur = p + static_cast<int>(head.size());
        rest = tail;
    }
}

// Works from the right: the last literal fixes where the match ends, each literal
// to its left is the last occurrence ending before the next one starts.
WildMatch WildFindBack(std::string_view text, std::string_view pattern, int end)
{
    const int n = textLength(text);
    std::string_view rest = pattern;
    int limit = end;
    int matchEnd = 0; // first position after the match
    int pos = 0;
    for (;;) {
        if (rest == Wildcard) {
            if (limit <= 1)
                return {};
            if (matchEnd == 0)
                return {1, std::min(limit - 1, n)};
            pos = 1;
            break;
        }
        const size_t k = rest.rfind(Wildcard);
        if (k == std::string_view::npos) {
            int p = LastPos(rest, text, limit);
            if (p == 0)
                return {};
            if (matchEnd == 0)
                matchEnd = p + static_cast<int>(rest.size());
            pos = p;
            break;
        }
        std::string_view head = rest.substr(0, k);
        std::string_view tail = rest.substr(k + Wildcard.size());
        int t;
        if (!tail.empty())
            t = LastPos(tail, text, limit);
        else
            t = limit >= n ? n + 1 : limit;
        if (t <= 0)
            return {};
        if (matchEnd == 0)
            matchEnd = t + static_cast<int>(tail.size());
        if (head.empty()) {
            pos = 1;
            break;
        }
        limit = t;
        rest = head;
    }
    return {pos, matchEnd - pos};
}

namespace {

template <typename Producer>
std::string replaceMatches(std::string_view text, std::string_view pattern, Producer&& produce, int flags)
{
    const bool ignoreCase = flags & kIgnoreCase;
    const SearchText search(text, ignoreCase), pat(pattern, ignoreCase);
    std::string out;
    size_t copied = 0; // bytes of `text` already dealt with
    int from = 1;
    bool replaced = false;
    for (;;) {
        WildMatch m = WildFind(search, pat, from);
        if (!m)
            break;
        const size_t start = static_cast<size_t>(m.pos - 1);
        const std::string_view matched = text.substr(start, static_cast<size_t>(m.len));
        std::string replacement;
        bool keep = produce(matched, replacement);
        if (!keep) {
            from = m.pos + 1;
            continue;
        }
        if (!replaced)
            out.reserve(text.size());
        replaced = true;
        out.append(text.substr(copied, start - copied));
        out += replacement;
        copied = start + matched.size();
        from = m.end();
        if (!(flags & kReplaceAll) || m.len == 0)
            break;
    }
    if (!replaced)
        return std::string(text);
    out.append(text.substr(copied));
    return out;
}

} // namespace

std::string WildReplace(std::string_view text, std::string_view pattern, std::string_view replacement, int flags)
{
    return replaceMatches(
        text, pattern,
        [&](std::string_view, std::string& out) {
            out.assign(replacement);
            return true;
        },
        flags);
}

std::string WildReplaceWith(std::string_view text, std::string_view pattern,
                            const std::function<std::string(std::string_view)>& producer, int flags)
{
    return replaceMatches(
        text, pattern,
        [&](std::string_view matched, std::string& out) {
            out = producer(matched);
            return !out.empty();
        },
        flags);
}

} // namespace vexory
