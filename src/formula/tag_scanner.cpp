#include "formula/tag_scanner.h"

#include <algorithm>
#include <cstring>

#include "base/text_search.h"

namespace vexory {

// For one (opening, closing) pair: with O(x) the number of openings starting
// before x, an element opened at `start` closes at the first closing j (from the
// first one after the opening, j0) with  j - O(close[j]) >= j0 - O(start + openLength + 1).
// `g[j] = j - O(close[j])` is kept in a max-tree to find that j in O(log n).
struct TagScanner::Balance
{
    const std::vector<uint32_t>* opens = nullptr;
    const std::vector<uint32_t>* closes = nullptr;
    std::vector<int64_t> tree; // max-tree over g, leaves from `size`
    size_t size = 0;

    void build()
    {
        const size_t m = closes->size();
        size = 1;
        while (size < std::max<size_t>(m, 1))
            size <<= 1;
        tree.assign(2 * size, INT64_MIN);
        size_t before = 0;
        for (size_t j = 0; j < m; ++j) {
            while (before < opens->size() && (*opens)[before] < (*closes)[j])
                ++before;
            tree[size + j] = static_cast<int64_t>(j) - static_cast<int64_t>(before);
        }
        for (size_t i = size - 1; i >= 1; --i)
            tree[i] = std::max(tree[2 * i], tree[2 * i + 1]);
    }

    // First index j >= from with g[j] >= target, or -1.
    int64_t firstAtLeast(size_t from, int64_t target) const { return descend(1, 0, size, from, target); }

    int64_t descend(size_t node, size_t lo, size_t hi, size_t from, int64_t target) const
    {
        if (hi <= from || tree[node] < target)
            return -1;
        if (hi - lo == 1)
            return static_cast<int64_t>(lo);
        const size_t mid = (lo + hi) / 2;
        int64_t left = descend(2 * node, lo, mid, from, target);
        return left >= 0 ? left : descend(2 * node + 1, mid, hi, from, target);
    }
};

namespace {
// How far the quick look for a closing goes before the indexes take over.
constexpr size_t kQuickWindow = 4096;
} // namespace

TagScanner::TagScanner(std::string_view text) : m_text(text) {}

TagScanner::~TagScanner() = default;

const std::vector<uint32_t>& TagScanner::occurrences(std::string_view needle)
{
    auto it = m_occurrences.find(needle);
    if (it != m_occurrences.end())
        return it->second;
    std::vector<uint32_t> positions;
    if (needle.size() > 1 && needle.front() == '<') {
        // Every tag text starts with "<": filter the positions of "<".
        const std::vector<uint32_t>& lt = occurrences("<");
        for (uint32_t p : lt)
            if (m_text.compare(p, needle.size(), needle) == 0)
                positions.push_back(p);
    } else if (needle.size() == 1) {
        const char c = needle.front();
        const char* base = m_text.data();
        const char* end = base + m_text.size();
        for (const char* p = base; p < end;) {
            const void* hit = std::memchr(p, c, static_cast<size_t>(end - p));
            if (!hit)
                break;
            const char* h = static_cast<const char*>(hit);
            positions.push_back(static_cast<uint32_t>(h - base));
            p = h + 1;
        }
    } else if (!needle.empty()) {
        for (size_t p = FindBytes(m_text, needle); p != std::string_view::npos; p = FindBytes(m_text, needle, p + 1))
            positions.push_back(static_cast<uint32_t>(p));
    }
    return m_occurrences.emplace(std::string(needle), std::move(positions)).first->second;
}

TagScanner::Balance& TagScanner::balance(std::string_view open, std::string_view close)
{
    std::string key(open);
    key.push_back('\0');
    key += close;
    auto it = m_balances.find(key);
    if (it != m_balances.end())
        return *it->second;
    auto b = std::make_unique<Balance>();
    b->opens = &occurrences(open);
    b->closes = &occurrences(close);
    b->build();
    return *m_balances.emplace(std::move(key), std::move(b)).first->second;
}

TagMatch TagScanner::FindBalanced(size_t lo, size_t hi, std::string_view close, int start, bool retry, int openLength)
{
    if (start < 1 || openLength < 1 || close.empty() || lo + static_cast<size_t>(start - 1) + openLength > hi ||
        hi < close.size())
        return {0, 0};
    size_t s = lo + static_cast<size_t>(start - 1); // absolute start of the opening
    const std::string_view open = m_text.substr(s, static_cast<size_t>(openLength));
    const std::string_view region = m_text.substr(0, hi);
    auto found = [&](size_t c) {
        return TagMatch{static_cast<int>(s - lo + 1), static_cast<int>(c + close.size() - s)};
    };

    // Most tags and small elements close nearby with nothing in between: look there first.
    {
        const size_t from = s + static_cast<size_t>(openLength);
        const size_t windowEnd = std::min(hi, from + kQuickWindow + close.size());
        const size_t c = FindBytes(region.substr(0, windowEnd), close, from);
        if (c != std::string_view::npos) {
            const size_t s1 = from + 1;
            const bool another = s1 < c && FindBytes(region.substr(0, c - 1 + open.size()), open, s1) < c;
            if (!another)
                return found(c);
        } else if (windowEnd == hi) {
            return {0, 0}; // no closing at all
        }
    }

    const std::vector<uint32_t>& opens = occurrences(open);
    const std::vector<uint32_t>& closes = occurrences(close);
    // Closings that lie wholly inside the part: indexes below jEnd.
    const size_t jEnd =
        static_cast<size_t>(std::upper_bound(closes.begin(), closes.end(), hi - close.size()) - closes.begin());
    auto opensBefore = [&](size_t x) {
        return static_cast<int64_t>(std::lower_bound(opens.begin(), opens.end(), x) - opens.begin());
    };
    bool first = true;
    for (;;) {
        const size_t j0 = static_cast<size_t>(
            std::lower_bound(closes.begin(), closes.end(), s + static_cast<size_t>(openLength)) - closes.begin());
        if (j0 >= jEnd)
            return {first ? 0 : -1, 0};
        first = false;
        const size_t s1 = s + static_cast<size_t>(openLength) + 1; // openings are counted from here
        auto countOpens = [&](size_t c) { return c > s1 ? opensBefore(c) - opensBefore(s1) : 0; };
        int64_t j = -1;
        if (countOpens(closes[j0]) == 0) {
            j = static_cast<int64_t>(j0);
        } else {
            const int64_t target = static_cast<int64_t>(j0) - opensBefore(s1);
            j = balance(open, close).firstAtLeast(j0, target);
            if (j >= static_cast<int64_t>(jEnd))
                j = -1;
        }
        if (j >= 0)
            return found(closes[static_cast<size_t>(j)]);
        // No balance: with retry, and when another opening stood in the way, try the next opening.
        const int64_t opensAtEnd = 1 + countOpens(closes[jEnd - 1]);
        if (!retry || opensAtEnd < 2)
            return {-1, 0};
        auto next = std::upper_bound(opens.begin(), opens.end(), s);
        if (next == opens.end() || *next + static_cast<size_t>(openLength) > hi)
            return {-1, 0};
        s = *next;
    }
}

TagMatch TagScanner::FindTag(size_t lo, size_t hi, std::string_view open, std::string_view close, bool retry, int from)
{
    if (open.empty() || from < 1 || lo + static_cast<size_t>(from - 1) >= hi)
        return {0, 0};
    const size_t at = FindBytes(m_text.substr(0, hi), open, lo + static_cast<size_t>(from - 1));
    if (at == std::string_view::npos)
        return {0, 0};
    TagMatch m = FindBalanced(lo, hi, close, static_cast<int>(at - lo + 1), retry, static_cast<int>(open.size()));
    if (m.pos == 0)
        return {-1, 0};
    if (m.pos < 0)
        return {-2, 0};
    return m;
}

TagMatch FindTag(std::string_view text, std::string_view open, std::string_view close, bool retry, int from)
{
    TagScanner scanner(text);
    return scanner.FindTag(0, text.size(), open, close, retry, from);
}

TagMatch FindBalanced(std::string_view text, std::string_view close, int start, bool retry, int openLength)
{
    TagScanner scanner(text);
    return scanner.FindBalanced(0, text.size(), close, start, retry, openLength);
}

} // namespace vexory
