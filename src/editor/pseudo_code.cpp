#include "editor/pseudo_code.h"

#include "base/ascii_fold.h"
#include "base/text_helpers.h"
#include "editor/editor_rules.h"
#include "formula/grab_formula.h"
#include "formula/html_text_list.h"
#include "formula/markers.h"
#include "formula/page_prep.h"

#include <algorithm>
#include <vector>

namespace vexory {

namespace {

constexpr char kOpen = '\x08';  // stands for "{>" while the tree is built
constexpr char kClose = '\x07'; // stands for "<}"

// Codes 8 and 7 written as the field marker's brackets again.
std::string shownMarkers(std::string_view text)
{
    std::string shown;
    shown.reserve(text.size() + text.size() / 8);
    for (const char c : text) {
        if (c == kOpen)
            shown += MarkOpening(FieldMark);
        else if (c == kClose)
            shown += MarkClosing(FieldMark);
        else
            shown += c;
    }
    return shown;
}

std::string fieldMarker()
{
    return kOpen + NextFieldName() + kClose;
}

// The content of a mark as field markers: each run of text before a tag becomes a
// marker followed by the tag, text after the last tag a marker of its own. Tags
// no text precedes are kept, so the element structure stays as it was.
std::string markersOf(std::string_view content)
{
    std::string out;
    size_t at = 0;
    while (at < content.size()) {
        const size_t open = content.find('<', at);
        const size_t close = open == std::string_view::npos ? open : content.find('>', open + 1);
        if (close == std::string_view::npos) {
            out += fieldMarker();
            break;
        }
        if (open > at)
            out += fieldMarker();
        out.append(content.substr(open, close + 1 - open));
        at = close + 1;
    }
    return out;
}

// Every wrapper of `wrapper` (prepared, lower-case text) replaced by what `replace`
// makes of its content; whether any was found.
template <typename Replace> bool replaceWrappers(std::string& text, std::string_view wrapper, Replace replace)
{
    const std::string_view opening = MarkOpening(wrapper), closing = MarkClosing(wrapper);
    std::string out;
    size_t at = 0;
    bool found = false;
    for (;;) {
        const size_t start = text.find(opening, at);
        if (start == std::string::npos)
            break;
        const size_t end = text.find(closing, start + opening.size());
        if (end == std::string::npos)
            break;
        found = true;
        out.append(text, at, start - at);
        const std::string_view content =
            std::string_view(text).substr(start + opening.size(), end - start - opening.size());
        out += replace(content);
        at = end + closing.size();
    }
    if (found) {
        out.append(text, at, std::string::npos);
        text = std::move(out);
    }
    return found;
}

std::string prepared(std::string_view source)
{
    return NormalizeTags(RemoveNonContent(LowerAscii(CompactHtml(source))));
}

std::string render(std::string_view text)
{
    THtmlTextList list;
    list.Parse(text);
    std::vector<std::string> lines;
    list.DumpTree(lines, "", TreeIndent);
    std::string out;
    for (size_t i = 0; i < lines.size(); ++i) {
        if (i)
            out += "\r\n";
        out += lines[i];
    }
    return out;
}

std::string markedPseudoCode(std::string text)
{
    const bool replaced = replaceWrappers(text, HighlightWrapper(kMarkColourText), [](std::string_view content) {
        return content.empty() ? std::string() : markersOf(content);
    });
    std::string out = render(text);
    return replaced ? shownMarkers(out) : out;
}

bool isPrefix(const IndexPath& shorter, const IndexPath& longer)
{
    return shorter.size() < longer.size() && std::equal(shorter.begin(), shorter.end(), longer.begin());
}

std::string trimmed(std::string_view text)
{
    const size_t first = text.find_first_not_of(' ');
    if (first == std::string_view::npos)
        return {};
    const size_t last = text.find_last_not_of(' ');
    return std::string(text.substr(first, last + 1 - first));
}

} // namespace

std::string HighlightWrapper(std::string_view colour)
{
    std::string wrapper(HighlightTemplate);
    const std::string_view standard = kMarkColourText;
    wrapper.replace(wrapper.find(standard), standard.size(), colour);
    return wrapper;
}

std::string MakePseudoCode(std::string_view source)
{
    ResetFieldNames();
    return markedPseudoCode(prepared(source));
}

std::string PlainPseudoCode(std::string_view source)
{
    std::string text = prepared(source);
    replaceWrappers(text, HighlightWrapper(kMarkColourText),
                    [](std::string_view content) { return std::string(content); });
    return render(text);
}

std::string SelectionPseudoCode(std::string_view source)
{
    std::string text =
        UnwrapHighlights(prepared(source), HighlightWrapper(kTemporaryColour), kSelectionPlaceholder, false);
    ResetFieldNames();
    return markedPseudoCode(std::move(text));
}

DeriveResult DeriveGrabFormula(std::string_view pseudoCode, std::string& formula)
{
    formula.clear();
    const std::string compact = CompactHtml(pseudoCode);
    const size_t bodyStart = compact.find("<body");
    const size_t bodyEnd = bodyStart == std::string::npos ? bodyStart : compact.find("</body>", bodyStart);
    if (bodyEnd == std::string::npos)
        return DeriveResult::NoFieldMarker;
    std::string body = compact.substr(bodyStart, bodyEnd + 7 - bodyStart);

    // Field markers become codes 8 and 7, so that they survive as text in the tree.
    std::vector<std::string> markers;
    std::string coded;
    int from = 1;
    for (;;) {
        const WildMatch m = FindMarker(body, "{>[*]<}", from, false, IsValidFieldMarker);
        if (!m)
            break;
        coded.append(body, static_cast<size_t>(from - 1), static_cast<size_t>(m.pos - from));
        std::string marker =
            kOpen + body.substr(static_cast<size_t>(m.pos + 1), static_cast<size_t>(m.len - 4)) + kClose;
        coded += marker;
        markers.push_back(std::move(marker));
        from = m.end();
    }
    if (markers.empty())
        return DeriveResult::NoFieldMarker;
    coded.append(body, static_cast<size_t>(from - 1), std::string::npos);

    THtmlTextList list;
    list.Parse(coded);
    std::vector<IndexPath> paths;
    for (const std::string& marker : markers) {
        IndexPath path;
        if (!ParseIndexPath(list.PathOf(marker), path))
            path.clear();
        paths.push_back(std::move(path));
    }
    // Paths covered by the one before them go; a path that is a prefix of the one
    // before it shortens that one.
    for (size_t i = paths.size(); i-- > 1;) {
        IndexPath& previous = paths[i - 1];
        const IndexPath& current = paths[i];
        if (current.empty() || current == previous || isPrefix(previous, current))
            paths.erase(paths.begin() + static_cast<long>(i));
        else if (isPrefix(current, previous))
            previous.resize(current.size());
    }
    std::vector<std::string> texts;
    for (const IndexPath& path : paths) {
        texts.push_back(shownMarkers(list.PathText(path, 0)));
    }
    const int level = list.ChooseRepeatLevel(paths);
    if (level >= 0)
        for (IndexPath& path : paths)
            if (static_cast<size_t>(level) < path.size())
                path[static_cast<size_t>(level)] = -path[static_cast<size_t>(level)];
    for (size_t i = 0; i < paths.size(); ++i) {
        if (texts[i].empty())
            continue;
        formula += MarkOpening(IndexMark);
        for (size_t k = 0; k < paths[i].size(); ++k)
            formula += (k ? "." : "") + std::to_string(paths[i][k]);
        formula += MarkClosing(IndexMark);
        formula += trimmed(texts[i]);
    }
    return formula.empty() ? DeriveResult::Failed : DeriveResult::Done;
}

size_t SelectionEnd(std::u16string_view text, size_t start, int length)
{
    size_t end = start;
    int counted = 0;
    bool inTag = false, lineStart = false;
    char16_t previous = 0;
    while (end < text.size() && counted < length) {
        const char16_t c = text[end++];
        if (inTag) {
            inTag = c != u'>';
            continue;
        }
        if (c == u'<') {
            inTag = true;
            continue;
        }
        if (c == u'\n') {
            lineStart = true;
            continue;
        }
        if (c == u' ' && (lineStart || previous == u' '))
            continue;
        lineStart = false;
        previous = c;
        ++counted;
    }
    return end;
}

} // namespace vexory
