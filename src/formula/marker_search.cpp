#include "formula/marker_search.h"

#include "base/ascii_fold.h"
#include "base/text_helpers.h"
#include "formula/markers.h"

namespace vexory {

namespace {

// The shape every marker candidate must have: as long as its template, with its opening and closing.
bool hasShape(std::string_view candidate, std::string_view tmpl)
{
    const std::string_view open = MarkOpening(tmpl), close = MarkClosing(tmpl);
    return candidate.size() >= tmpl.size() && candidate.substr(0, open.size()) == open &&
           candidate.substr(candidate.size() - close.size()) == close;
}

} // namespace

std::string_view MarkerContent(std::string_view marker, std::string_view tmpl)
{
    const size_t open = MarkOpening(tmpl).size(), close = MarkClosing(tmpl).size();
    if (marker.size() < open + close)
        return {};
    return marker.substr(open, marker.size() - open - close);
}

const std::string& FieldPattern()
{
    static const std::string p = MarkPattern(FieldMark);
    return p;
}
const std::string& IndexPattern()
{
    static const std::string p = MarkPattern(IndexMark);
    return p;
}

std::string_view Matched(std::string_view text, WildMatch m)
{
    return text.substr(static_cast<size_t>(m.pos - 1), static_cast<size_t>(m.len));
}

// All markers of one kind in a text, left to right, each search after the previous marker.
std::vector<WildMatch> FindAllMarkers(std::string_view text, std::string_view pattern, MarkerValidator validator)
{
    std::vector<WildMatch> out;
    int from = 1;
    for (WildMatch m = FindMarker(text, pattern, from, false, validator); m;
         m = FindMarker(text, pattern, from, false, validator)) {
        out.push_back(m);
        from = m.end();
    }
    return out;
}

namespace {

// Removes every valid marker of one kind, first from the start each time.
std::pair<std::string, std::vector<std::string>> extractMarkers(std::string_view formula, std::string_view tmpl,
                                                                MarkerValidator validator)
{
    std::string text(formula);
    std::vector<std::string> found;
    const std::string pattern = MarkPattern(tmpl);
    for (;;) {
        WildMatch m = FindMarker(text, pattern, 1, false, validator);
        if (!m)
            break;
        found.emplace_back(Matched(text, m));
        text.erase(static_cast<size_t>(m.pos - 1), static_cast<size_t>(m.len));
    }
    return {std::move(text), std::move(found)};
}

} // namespace

bool IsValidFieldMarker(std::string_view candidate)
{
    if (!hasShape(candidate, FieldMark))
        return false;
    for (char ch : MarkerContent(candidate, FieldMark)) {
        const unsigned char c = static_cast<unsigned char>(ch);
        if (!((c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c >= 0x80))
            return false;
    }
    return true;
}

bool IsValidIndexMarker(std::string_view candidate)
{
    IndexPath path;
    return hasShape(candidate, IndexMark) && ParseIndexPath(MarkerContent(candidate, IndexMark), path);
}

bool IsValidChainMarker(std::string_view candidate)
{
    return hasShape(candidate, ChainMark) && ParseChainMarker(candidate).ok;
}

bool IsValidNoteMarker(std::string_view candidate)
{
    return hasShape(candidate, NoteMark) && !StripSpace(MarkerContent(candidate, NoteMark)).empty();
}

WildMatch FindMarker(std::string_view text, std::string_view pattern, int from, bool ignoreCase,
                     MarkerValidator validator)
{
    const SearchText search(text, ignoreCase), pat(pattern, ignoreCase);
    WildMatch m = WildFind(search, pat, from);
    while (validator && m) {
        if (validator(Matched(text, m)))
            return m;
        m = WildFind(search, pat, m.pos + 1);
    }
    return m;
}

ChainLink ParseChainMarker(std::string_view chainMarkers)
{
    ChainLink link;
    if (chainMarkers.size() <= ChainMark.size())
        return link;
    const std::string_view content = MarkerContent(chainMarkers, ChainMark);
    const size_t at = content.rfind('@');
    if (at == std::string_view::npos || at == 0 || at + 1 == content.size())
        return link;
    link.ok = true;
    link.field = std::string(content.substr(0, at));
    link.task = std::string(content.substr(at + 1));
    return link;
}

std::pair<std::string, std::string> ExtractChainMarkers(std::string_view formula)
{
    auto [text, found] = extractMarkers(formula, ChainMark, IsValidChainMarker);
    std::string chains;
    for (const auto& m : found)
        chains += m;
    return {std::move(text), std::move(chains)};
}

std::pair<std::string, std::string> ExtractNoteMarkers(std::string_view formula)
{
    auto [text, found] = extractMarkers(formula, NoteMark, IsValidNoteMarker);
    std::string notes;
    if (!found.empty()) {
        notes = MarkOpening(NoteMark);
        for (size_t i = 0; i < found.size(); ++i) {
            if (i)
                notes += ';';
            notes += MarkerContent(found[i], NoteMark);
        }
        notes += MarkClosing(NoteMark);
    }
    return {std::move(text), std::move(notes)};
}

void ListFieldNames(std::string_view formula, std::vector<std::string>& names)
{
    names.clear();
    int from = 1;
    for (WildMatch m = WildFind(formula, FieldPattern(), from); m; m = WildFind(formula, FieldPattern(), from)) {
        names.emplace_back(MarkerContent(Matched(formula, m), FieldMark));
        from = m.end();
    }
}

} // namespace vexory
