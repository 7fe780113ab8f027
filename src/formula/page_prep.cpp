#include "formula/page_prep.h"

#include "base/ascii_fold.h"
#include "base/text_search.h"
#include "formula/markers.h"
#include "formula/prep_scan.h"
#include "formula/tag_normalizer.h"
#include "formula/tag_scanner.h"
#include "formula/wild.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <memory>
#include <numeric>
#include <optional>
#include <vector>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace vexory {

namespace {

// A text and its lowercased twin, laid out alike in two buffers; the text is [begin, end).
struct TextTwin
{
    char* text;
    char* lower;
    size_t begin;
    size_t end;
    std::vector<size_t> joints = {}; // scratch of the removals

    std::string_view Text() const { return {text + begin, end - begin}; }
    std::string_view Lower() const { return {lower + begin, end - begin}; }
};

// What the preparation removes: from an opening to the first closing after it.
struct NonContent
{
    std::string_view open, close;
};
constexpr NonContent kNonContent[] = {
    {"<script", "</script>"}, {"<noscript", "</noscript>"},
    {"<style", "</style>"},   {"<textarea", "</textarea>"},
    {"<!--", "-->"},          {"<link", ">"},
};

// Where the last opening of any kind starts, + 1; 0 when there is none. Read from
// the back, since pages keep their scripts and styles near the front: usually only
// the body is read, once, instead of once for each kind.
size_t openingsEnd(std::string_view lower)
{
    auto openingAt = [lower](size_t p) {
        for (const NonContent& k : kNonContent)
            if (lower.compare(p, k.open.size(), k.open) == 0)
                return true;
        return false;
    };
    if (lower.size() < 4)
        return 0;
    size_t p = lower.size() - 2; // positions before p are left to read
#if defined(__SSE2__)
    // "<" and the next two bytes of an opening, sixteen positions at a time.
    const char* base = lower.data();
    auto is = [](__m128i v, char c) { return _mm_cmpeq_epi8(v, _mm_set1_epi8(c)); };
    while (p >= 16) {
        p -= 16;
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(base + p));
        const __m128i b1 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(base + p + 1));
        const __m128i b2 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(base + p + 2));
        const __m128i pairs = _mm_or_si128(
            _mm_or_si128(_mm_and_si128(is(b1, 's'), _mm_or_si128(is(b2, 'c'), is(b2, 't'))),
                         _mm_and_si128(is(b1, 'n'), is(b2, 'o'))),
            _mm_or_si128(_mm_or_si128(_mm_and_si128(is(b1, 't'), is(b2, 'e')), _mm_and_si128(is(b1, '!'), is(b2, '-'))),
                         _mm_and_si128(is(b1, 'l'), is(b2, 'i'))));
        for (unsigned m = static_cast<unsigned>(_mm_movemask_epi8(_mm_and_si128(is(v, '<'), pairs))); m;
             m &= ~(1u << (31 - __builtin_clz(m)))) {
            const size_t at = p + static_cast<size_t>(31 - __builtin_clz(m));
            if (openingAt(at))
                return at + 1;
        }
    }
#endif
    while (p-- > 0)
        if (lower[p] == '<' && openingAt(p))
            return p + 1;
    return 0;
}

// Removes every stretch from `kind.open` to the first `kind.close` after it, searching
// in the twin, and keeps both in step: one lowercasing for all passes. `limit`: no
// opening of any kind starts at or after it; kept true as bytes are removed (a removal
// can join bytes into a new opening only where it happened). The stretches are found
// first; then whichever side of them is shorter moves: the bytes after them towards
// the front, or (as for the scripts and styles of a page's head) the bytes before
// them towards the back.
void removeAll(TextTwin& t, const NonContent& kind, size_t& limit, std::vector<std::pair<size_t, size_t>>& matches)
{
    const std::string_view view = t.Lower();
    const std::string_view openings = view.substr(0, std::min(view.size(), limit + kind.open.size() - 1));
    matches.clear();
    for (size_t from = 0;;) {
        const size_t open = FindBytes(openings, kind.open, from);
        if (open == std::string_view::npos)
            break;
        const size_t close = FindBytes(view, kind.close, open + kind.open.size());
        if (close == std::string_view::npos)
            break;
        from = close + kind.close.size();
        matches.emplace_back(open, from - open);
    }
    if (matches.empty())
        return;
    // The limit after the removal: moved back by what was removed before it, and
    // no earlier than the last joint.
    size_t removedBefore = 0;
    for (const auto& [start, length] : matches)
        if (start < limit)
            removedBefore += std::min(length, limit - start);
    size_t removed = 0;
    for (const auto& m : matches)
        removed += m.second;
    const size_t lastJoint = matches.back().first + matches.back().second - removed;
    limit = std::max(limit - removedBefore, lastJoint + 1);

    auto move = [&t](size_t to, size_t from, size_t count) {
        std::memmove(t.text + to, t.text + from, count);
        std::memmove(t.lower + to, t.lower + from, count);
    };
    // Where the removals join bytes (positions in the text as it will be).
    std::vector<size_t>& joints = t.joints;
    joints.clear();
    size_t removedSoFar = 0;
    for (auto& m : matches) {
        joints.push_back(m.first - removedSoFar);
        removedSoFar += m.second;
        m.first += t.begin;
    }
    const size_t firstStart = matches.front().first;
    const size_t lastEnd = matches.back().first + matches.back().second;
    if (lastEnd - t.begin < t.end - firstStart) {
        size_t shift = 0;
        for (size_t i = matches.size(); i-- > 0;) {
            shift += matches[i].second;
            const size_t pieceStart = i > 0 ? matches[i - 1].first + matches[i - 1].second : t.begin;
            move(pieceStart + shift, pieceStart, matches[i].first - pieceStart);
        }
        t.begin += shift;
    } else {
        size_t write = firstStart;
        for (size_t i = 0; i < matches.size(); ++i) {
            const size_t pieceStart = matches[i].first + matches[i].second;
            const size_t pieceEnd = i + 1 < matches.size() ? matches[i + 1].first : t.end;
            move(write, pieceStart, pieceEnd - pieceStart);
            write += pieceEnd - pieceStart;
        }
        t.end = write;
    }
    // A joint can put a byte after a different lead byte: the twin is lowered again
    // around each, from the start of the run of high bytes before it (a character
    // starts there) to the first ASCII byte after it.
    const std::string_view text = t.Text();
    for (size_t j : joints) {
        size_t from = j;
        while (from > 0 && static_cast<unsigned char>(text[from - 1]) >= 0x80)
            --from;
        size_t to = j;
        while (to < text.size() && static_cast<unsigned char>(text[to]) >= 0x80)
            ++to;
        to = std::min(text.size(), to + 1);
        LowerAsciiInto(text.substr(from, to - from), t.lower + t.begin + from);
    }
}

// Removes scripts, styles, text areas, comments and link tags.
void removeNonContent(TextTwin& t)
{
    size_t limit = openingsEnd(t.Lower());
    std::vector<std::pair<size_t, size_t>> matches;
    for (const NonContent& kind : kNonContent)
        if (limit > 0)
            removeAll(t, kind, limit, matches);
}

// The tag of the page that starts at the first "<" at or after `from` (0-based), as
// TagScanner::FindTag(..., "<", ">", true, ...) finds it: usually the first ">" after
// it (TagWalker); otherwise the scanner's balancing decides.
struct PageTags
{
    std::string_view text;
    TagWalker walker{text};
    std::optional<TagScanner> scanner;

    // The next tag that holds a "=" or that the balancing found; length 0 when there is
    // none further.
    TagSpan next(size_t from)
    {
        const TagSpan simple = walker.NextWithEquals(from);
        if (simple.simple || simple.start == text.size())
            return simple;
        if (!scanner)
            scanner.emplace(text);
        // From the tag's opening: the walker may have passed over simple tags after `from`.
        const TagMatch tag = scanner->FindTag(0, text.size(), "<", ">", true, static_cast<int>(simple.start + 1));
        if (!tag)
            return {text.size(), 0, false, false};
        const size_t start = static_cast<size_t>(tag.pos - 1), length = static_cast<size_t>(tag.len);
        return {start, length, false, std::memchr(text.data() + start, '=', length) != nullptr};
    }
};

// NormalizeTags of `text` into `outText`, and its lowercased twin into `outLower`
// (`lower` is the twin of `text`). Only the tags with "=" are rewritten; the rest is
// copied in stretches.
//
// Returns whether `watch` (lowercase: "<" ... ">" with a "=" and no other "<" or ">")
// can be in the lowercased output, looked for where it alone can be: in rewritten
// tags, since text between tags holds no "<", and tags without "=" are not it; and
// in the text after the last tag. A tag the balancing found (it may begin after
// a "<" it passed over) sends the caller to look everywhere.
bool normalizeTagsAndLower(std::string_view text, std::string_view lower, std::string& outText, std::string& outLower,
                           std::string_view watch)
{
    PageTags tags{text, TagWalker(text), {}};
    TagScratch scratch;
    // Pages repeat their tags: the last normalised form of each of a few recent ones.
    struct Remembered
    {
        std::string tag, text, lower;
        bool watched = false;
    };
    std::array<Remembered, 64> remembered;
    auto slotOf = [](std::string_view tag) {
        uint64_t head = 0, tail = 0;
        std::memcpy(&head, tag.data(), std::min<size_t>(8, tag.size()));
        std::memcpy(&tail, tag.data() + tag.size() - std::min<size_t>(8, tag.size()), std::min<size_t>(8, tag.size()));
        const uint64_t h = (head * 0x9E3779B97F4A7C15ull) ^ (tail * 0xC2B2AE3D27D4EB4Full) ^ tag.size();
        return static_cast<size_t>((h ^ (h >> 29)) * 0x94D049BB133111EBull >> 58);
    };
    outText.clear();
    outText.reserve(text.size() + text.size() / 8);
    size_t copied = 0; // text before this is in the output
    bool watched = false;
    for (size_t b = 0;;) {
        const TagSpan span = tags.next(b);
        if (span.length == 0)
            break;
        watched = watched || !span.simple;
        b = span.start + span.length;
        if (!span.equals)
            continue; // stays as it is, copied with the text around it
        const std::string_view tag = text.substr(span.start, span.length);
        outText.append(text.data() + copied, span.start - copied);
        copied = b;
        Remembered& r = remembered[slotOf(tag)];
        if (r.tag != tag) {
            r.tag = tag;
            r.text.clear();
            AppendNormalizedTag(r.text, tag, scratch);
            r.watched = false;
            if (r.text.size() >= watch.size()) { // most tags are shorter
                r.lower.resize(r.text.size());
                LowerAsciiInto(r.text, r.lower.data());
                r.watched = FindBytes(r.lower, watch) != std::string::npos;
            }
        }
        watched = watched || r.watched;
        outText += r.text;
    }
    outText.append(text.substr(copied));
    outLower.resize(outText.size());
    LowerAsciiInto(outText, outLower.data());
    return watched || FindBytes(lower.substr(copied), watch) != std::string::npos;
}

// The straightforward unwrapping: find, replace, search again. Used when the fast
// pairing cannot prove it gives the same text.
std::string unwrapNaive(std::string_view input, std::string_view head, std::string_view tail, std::string_view marker,
                        bool ignoreCase)
{
    std::string text(input);
    std::string lower = ignoreCase ? LowerAscii(text) : std::string();
    const std::string pattern = (ignoreCase ? LowerAscii(head) : std::string(head)) + std::string(Wildcard) +
                                (ignoreCase ? LowerAscii(tail) : std::string(tail));
    int from = 1;
    for (;;) {
        WildMatch m = WildFind(ignoreCase ? std::string_view(lower) : std::string_view(text), pattern, from);
        if (!m)
            break;
        const size_t start = static_cast<size_t>(m.pos - 1);
        const size_t wrappedLen = static_cast<size_t>(m.len) - head.size() - tail.size();
        std::string replacement(marker);
        replacement.append(text, start + head.size(), wrappedLen);
        std::string lowerReplacement(marker);
        if (ignoreCase) {
            lowerReplacement.append(lower, start + head.size(), wrappedLen);
            lower.replace(start, static_cast<size_t>(m.len), lowerReplacement);
        }
        text.replace(start, static_cast<size_t>(m.len), replacement);
        // Nothing before the match changed, so no match can start before a head
        // that reaches into the marker.
        from = std::max(1, m.pos - static_cast<int>(head.size()) + 1);
    }
    return text;
}

// True when `a` + `b` holds `needle` across the joint.
bool straddles(std::string_view a, std::string_view b, std::string_view needle)
{
    if (needle.size() < 2)
        return false;
    const size_t keep = needle.size() - 1;
    std::string joint(a.substr(a.size() > keep ? a.size() - keep : 0));
    const size_t cut = joint.size();
    joint.append(b.substr(0, keep));
    for (size_t p = joint.find(needle); p != std::string::npos; p = joint.find(needle, p + 1))
        if (p < cut && p + needle.size() > cut)
            return true;
    return false;
}

} // namespace

std::string RemoveNonContent(std::string_view text)
{
    std::string t(text);
    std::string lower = LowerAscii(text);
    TextTwin twin{t.data(), lower.data(), 0, t.size()};
    removeNonContent(twin);
    return std::string(twin.Text());
}

std::string NormalizeTag(std::string_view tag)
{
    TagScratch scratch;
    std::string out;
    AppendNormalizedTag(out, tag, scratch);
    return out;
}

std::string NormalizeTags(std::string_view text)
{
    TagScanner scanner(text);
    TagScratch scratch;
    std::string out;
    out.reserve(text.size() + text.size() / 8);
    int b = 1;
    const int n = static_cast<int>(text.size());
    while (b <= n) {
        TagMatch tag = scanner.FindTag(0, text.size(), "<", ">", true, b);
        if (!tag)
            break;
        out.append(text.substr(static_cast<size_t>(b - 1), static_cast<size_t>(tag.pos - b)));
        const std::string_view t = text.substr(static_cast<size_t>(tag.pos - 1), static_cast<size_t>(tag.len));
        if (t.find('=') != std::string_view::npos)
            AppendNormalizedTag(out, t, scratch);
        else
            out += t;
        b = tag.pos + tag.len;
    }
    if (b <= n)
        out.append(text.substr(static_cast<size_t>(b - 1)));
    return out;
}

// Pairs each head, left to right, with the first tail after it that no earlier head
// took, which is what repeated find-and-replace does as long as no replacement
// joins bytes into a new head or tail. Where one could, the plain loop decides.
std::string UnwrapHighlights(std::string_view text, std::string_view tmpl, std::string_view marker, bool ignoreCase)
{
    const std::string_view head = MarkOpening(tmpl);
    const std::string_view tail = MarkClosing(tmpl);
    if (tmpl.find('^') == std::string_view::npos || head.empty() || tail.empty() ||
        head.find(Wildcard) != std::string_view::npos || tail.find(Wildcard) != std::string_view::npos)
        return WildReplace(text, MarkPattern(tmpl), marker, kReplaceAll | (ignoreCase ? kIgnoreCase : 0));

    const SearchText search(text, ignoreCase), headText(head, ignoreCase), tailText(tail, ignoreCase);
    const std::string_view h = headText, t = tailText, mk = marker;
    const size_t first = FindBytes(search, h);
    if (first == std::string_view::npos)
        return std::string(text);

    // A marker that could join with its neighbours into a head or tail: leave it to the plain loop.
    auto overlaps = [](std::string_view a, std::string_view b) {
        for (size_t k = 1; k < std::min(a.size(), b.size()) + 1; ++k)
            if (a.substr(a.size() - k) == b.substr(0, k) || b.substr(b.size() - k) == a.substr(0, k))
                return true;
        return false;
    };
    // Likewise a head and tail that can overlap each other or themselves.
    auto selfOverlaps = [](std::string_view a) {
        for (size_t k = 1; k < a.size(); ++k)
            if (a.substr(0, k) == a.substr(a.size() - k))
                return true;
        return false;
    };
    if (overlaps(mk, h) || overlaps(mk, t) || mk.find(h) != std::string::npos || mk.find(t) != std::string::npos ||
        overlaps(h, t) || h.find(t) != std::string::npos || t.find(h) != std::string::npos || selfOverlaps(h) ||
        selfOverlaps(t))
        return unwrapNaive(text, head, tail, marker, ignoreCase);

    std::vector<uint32_t> heads, tails;
    for (size_t p = first; p != std::string_view::npos; p = FindBytes(search, h, p + 1))
        heads.push_back(static_cast<uint32_t>(p));
    for (size_t p = FindBytes(search, t, first); p != std::string_view::npos; p = FindBytes(search, t, p + 1))
        tails.push_back(static_cast<uint32_t>(p));

    // next[i]: the first tail at or after index i that is still free (path-halving union-find).
    std::vector<uint32_t> next(tails.size() + 1);
    std::iota(next.begin(), next.end(), 0u);
    auto freeFrom = [&](uint32_t i) {
        while (next[i] != i) {
            next[i] = next[next[i]];
            i = next[i];
        }
        return i;
    };
    std::vector<int64_t> pairOf(heads.size(), -1);
    std::vector<bool> tailUsed(tails.size(), false);
    for (size_t k = 0; k < heads.size(); ++k) {
        const uint32_t from =
            static_cast<uint32_t>(std::lower_bound(tails.begin(), tails.end(), heads[k] + h.size()) - tails.begin());
        const uint32_t j = freeFrom(from);
        if (j >= tails.size())
            break; // the first head left without a tail ends the unwrapping
        pairOf[k] = j;
        tailUsed[j] = true;
        next[j] = j + 1;
    }

    // Build the result: heads become the marker, their tails disappear.
    std::string out;
    out.reserve(text.size());
    size_t hi = 0, ti = 0;
    size_t pos = 0;
    std::vector<size_t> joints; // output offsets where a removed tail joined two stretches
    while (true) {
        size_t nextHead = hi < heads.size() && pairOf[hi] >= 0 ? heads[hi] : std::string_view::npos;
        while (ti < tails.size() && !tailUsed[ti])
            ++ti;
        size_t nextTail = ti < tails.size() ? tails[ti] : std::string_view::npos;
        size_t cut = std::min(nextHead, nextTail);
        if (cut == std::string_view::npos)
            break;
        out.append(text.substr(pos, cut - pos));
        if (cut == nextHead) {
            out += mk;
            pos = cut + h.size();
            ++hi;
        } else {
            joints.push_back(out.size());
            pos = cut + t.size();
            ++ti;
        }
    }
    out.append(text.substr(pos));

    // A removed tail that joins bytes into a new head or tail changes what the
    // plain loop would find next: only then take the plain loop.
    const std::string lowerOut = ignoreCase ? LowerAscii(out) : std::string();
    const std::string_view check = ignoreCase ? std::string_view(lowerOut) : std::string_view(out);
    for (size_t j : joints) {
        if (straddles(check.substr(0, j), check.substr(j), t) || straddles(check.substr(0, j), check.substr(j), h))
            return unwrapNaive(text, head, tail, marker, ignoreCase);
    }
    return out;
}

std::string DecodeEntities(std::string_view text)
{
    if (text.find('&') == std::string_view::npos) // most values: nothing to decode
        return std::string(text);
    std::string t = WildReplace(text, "&amp;", "&", kReplaceAll | kIgnoreCase);
    t = WildReplace(t, "&nbsp;", " ", kReplaceAll | kIgnoreCase);
    t = WildReplace(t, "&lt;", "<", kReplaceAll | kIgnoreCase);
    return WildReplace(t, "&gt;", ">", kReplaceAll | kIgnoreCase);
}

std::string StripTags(std::string_view text)
{
    if (text.find_first_of("<&") == std::string_view::npos) // no tag, no entity: as it is
        return std::string(text);
    return DecodeEntities(WildReplace(text, "<[*]>", "", kReplaceAll));
}

std::string StripClassAttributes(std::string_view text)
{
    if (text.find('=') == std::string_view::npos) // no attribute at all
        return std::string(text);
    return WildReplace(text, " class=\"[*]\"", "", kReplaceAll | kIgnoreCase);
}

std::string CleanValue(std::string_view value, bool clearTags)
{
    return clearTags ? StripTags(value) : StripClassAttributes(value);
}

const PreparedPage& PagePreparer::Prepare(std::string_view page)
{
    static const std::string opening = LowerAscii(MarkOpening(HighlightTemplate));
    // Working buffers: grown when a page is larger than any before, never cleared
    // (every byte read has been written).
    if (m_text.size() < page.size()) {
        m_text.resize(page.size());
        m_lower.resize(page.size());
    }
    TextTwin twin{m_text.data(), m_lower.data(), 0, CompactLowerInto(page, m_text.data(), m_lower.data())};
    removeNonContent(twin);
    PreparedPage& p = m_page;
    const bool highlighted = normalizeTagsAndLower(twin.Text(), twin.Lower(), p.text, p.lower, opening);
    // Most pages carry no highlight: look for one before unwrapping.
    if (highlighted && FindBytes(p.lower, opening) != std::string::npos) {
        p.text = UnwrapHighlights(p.text, HighlightTemplate, MarkedSentinel, true);
        p.lower.resize(p.text.size());
        LowerAsciiInto(p.text, p.lower.data());
    }
    return p;
}

void PagePreparer::Release()
{
    for (std::string* buffer : {&m_text, &m_lower, &m_page.text, &m_page.lower})
        std::string().swap(*buffer);
}

PreparedPage PreparePage(std::string_view page)
{
    PagePreparer preparer;
    preparer.Prepare(page);
    return preparer.Take();
}

} // namespace vexory
