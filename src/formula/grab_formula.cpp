#include "formula/grab_formula.h"

#include "base/ascii_fold.h"
#include "base/text_helpers.h"
#include "formula/gbk_texts.h"
#include "formula/marker_search.h"
#include "formula/markers.h"
#include "formula/tag_scanner.h"

#include <algorithm>

namespace vexory {

namespace {

enum class ItemKind
{
    None,
    Text,
    Index,
    Wildcard,
    Field
};

struct Item
{
    ItemKind kind;
    std::string text;
};

} // namespace

namespace {

using Repair = std::function<void(std::string_view)>;

// TEXT cut at the matches: the stretches between them as text items, each match
// as an item of KIND.
std::vector<Item> splitAt(const std::string& text, const std::vector<WildMatch>& matches, ItemKind kind)
{
    std::vector<Item> parts;
    int at = 1;
    for (WildMatch m : matches) {
        if (m.pos > at)
            parts.push_back(
                {ItemKind::Text, text.substr(static_cast<size_t>(at - 1), static_cast<size_t>(m.pos - at))});
        parts.push_back({kind, std::string(Matched(text, m))});
        at = m.end();
    }
    if (at <= static_cast<int>(text.size()))
        parts.push_back({ItemKind::Text, text.substr(static_cast<size_t>(at - 1))});
    return parts;
}

// Every text segment must hold a field marker: a segment without one goes (so does
// the one before the first index marker), the others are cut around their fields.
// False when no segment has a field (nothing is left then).
bool splitAtFields(std::vector<Item>& items, bool hasIndex, const Repair& repair)
{
    bool anyField = false;
    for (size_t k = items.size(); k-- > 0;) {
        if (items[k].kind != ItemKind::Text)
            continue;
        if (k == 0 && hasIndex) {
            items.erase(items.begin());
            repair(texts::kCleanFirstSegment);
            continue;
        }
        const std::string text = items[k].text;
        const std::vector<WildMatch> fields = FindAllMarkers(text, FieldPattern(), IsValidFieldMarker);
        if (fields.empty()) {
            items.erase(items.begin() + static_cast<long>(k));
            repair(hasIndex ? texts::kCleanIndexSegmentWithoutField : texts::kCleanSegmentWithoutField);
            continue;
        }
        anyField = true;
        const std::vector<Item> parts = splitAt(text, fields, ItemKind::Field);
        items.erase(items.begin() + static_cast<long>(k));
        items.insert(items.begin() + static_cast<long>(k), parts.begin(), parts.end());
    }
    if (!anyField) {
        items.clear();
        repair(texts::kCleanNoField);
    }
    return anyField;
}

void splitAtWildcards(std::vector<Item>& items)
{
    for (size_t k = items.size(); k-- > 0;) {
        if (items[k].kind != ItemKind::Text)
            continue;
        const std::string text = items[k].text;
        std::vector<Item> parts;
        size_t at = 0;
        for (size_t w = text.find(Wildcard); w != std::string::npos; w = text.find(Wildcard, at)) {
            if (w > at)
                parts.push_back({ItemKind::Text, text.substr(at, w - at)});
            parts.push_back({ItemKind::Wildcard, std::string(Wildcard)});
            at = w + Wildcard.size();
        }
        if (at < text.size())
            parts.push_back({ItemKind::Text, text.substr(at)});
        items.erase(items.begin() + static_cast<long>(k));
        items.insert(items.begin() + static_cast<long>(k), parts.begin(), parts.end());
    }
}

// The items that may stand beside their right neighbour, taken from the right.
std::vector<Item> keepValidNeighbours(std::vector<Item>& items, bool hasIndex, const Repair& repair)
{
    std::vector<Item> kept; // the survivors, right to left
    for (size_t k = items.size(); k-- > 0;) {
        Item& item = items[k];
        const ItemKind right = kept.empty() ? ItemKind::None : kept.back().kind;
        const ItemKind kind = item.kind;
        bool keep = true;
        switch (right) {
        case ItemKind::None:
            if (kind == ItemKind::Index) {
                keep = false;
                repair(texts::kCleanIndexAtEnd);
            } else if (kind == ItemKind::Wildcard) {
                keep = false;
                repair(texts::kCleanWildcardAtEnd);
            } else if (kind == ItemKind::Field && !hasIndex) {
                keep = false;
                repair(texts::kCleanFieldAtEnd);
            }
            break;
        case ItemKind::Text:
            break;
        case ItemKind::Index:
            if (kind == ItemKind::Index) {
                keep = false;
                repair(texts::kCleanTwoIndexes);
            } else if (kind == ItemKind::Wildcard) {
                keep = false;
                repair(texts::kCleanWildcardByIndex);
            }
            break;
        case ItemKind::Wildcard:
            if (kind == ItemKind::Index) {
                kept.pop_back();
                repair(texts::kCleanWildcardByIndex);
            } else if (kind == ItemKind::Wildcard) {
                keep = false;
                repair(texts::kCleanTwoWildcards);
            } else if (kind == ItemKind::Field) {
                kept.pop_back();
                repair(texts::kCleanWildcardByField);
            }
            break;
        case ItemKind::Field:
            if (kind == ItemKind::Wildcard) {
                keep = false;
                repair(texts::kCleanWildcardByField);
            } else if (kind == ItemKind::Field) {
                keep = false;
                repair(texts::kCleanTwoFields);
            }
            break;
        }
        if (keep)
            kept.push_back(std::move(item));
    }
    std::reverse(kept.begin(), kept.end());
    return kept;
}

} // namespace

CleanedFormula CleanFormula(std::string_view formula, const RepairReport& report)
{
    CleanedFormula result;
    const Repair repair = [&](std::string_view message) {
        result.messages.emplace_back(message);
        if (report)
            report(message);
    };

    std::string f = CompactHtml(formula);
    if (f.empty())
        return result;
    std::tie(f, result.chains) = ExtractChainMarkers(f);
    std::tie(f, result.notes) = ExtractNoteMarkers(f);

    // Text and index markers; text around fields and wildcards; then the neighbours.
    const std::vector<WildMatch> indexes = FindAllMarkers(f, IndexPattern(), IsValidIndexMarker);
    const bool hasIndex = !indexes.empty();
    std::vector<Item> items = splitAt(f, indexes, ItemKind::Index);
    const bool anyField = splitAtFields(items, hasIndex, repair);
    splitAtWildcards(items);
    std::vector<Item> kept = keepValidNeighbours(items, hasIndex, repair);

    if (!kept.empty() && (kept.front().kind == ItemKind::Wildcard || kept.front().kind == ItemKind::Field)) {
        kept.erase(kept.begin());
        repair(texts::kCleanFirstItem);
    }
    if (anyField && std::none_of(kept.begin(), kept.end(), [](const Item& i) { return i.kind == ItemKind::Field; })) {
        kept.clear();
        repair(texts::kCleanNoField);
    }
    for (const Item& item : kept)
        result.formula += item.kind == ItemKind::Field ? StripSpace(item.text) : item.text;
    return result;
}

void TStringCutOuter::ClearFields()
{
    m_fields.clear();
}

void TStringCutOuter::ClearValues()
{
    for (auto& column : m_fields)
        if (!column.empty()) {
            column.resize(1);
            column.shrink_to_fit();
        }
}

const TStringCutOuter::Column* TStringCutOuter::Field(int index) const
{
    if (index < 0 || index >= FieldCount())
        return nullptr;
    return &m_fields[static_cast<size_t>(index)];
}

std::vector<std::string> TStringCutOuter::FieldNames() const
{
    std::vector<std::string> names;
    for (const Column& column : m_fields)
        names.push_back(column.front());
    return names;
}

std::vector<std::string> TStringCutOuter::Row(int row) const
{
    std::vector<std::string> values;
    for (const Column& column : m_fields)
        values.push_back(column[static_cast<size_t>(row)]);
    return values;
}

void TStringCutOuter::SetFormula(std::string_view formula)
{
    m_fields.clear();
    m_entries.clear();
    const std::string c = CleanFormula(formula).formula;

    const std::vector<WildMatch> indexes = FindAllMarkers(c, IndexPattern(), IsValidIndexMarker);
    if (indexes.empty()) {
        m_entries.push_back({{}, c, 0, 0});
    } else {
        for (size_t i = 0; i < indexes.size(); ++i) {
            TCutEntry e;
            ParseIndexPath(MarkerContent(Matched(c, indexes[i]), IndexMark), e.Path);
            const int from = indexes[i].end();
            const int to = i + 1 < indexes.size() ? indexes[i + 1].pos : static_cast<int>(c.size()) + 1;
            e.Piece = c.substr(static_cast<size_t>(from - 1), static_cast<size_t>(to - from));
            m_entries.push_back(std::move(e));
        }
    }
    for (TCutEntry& e : m_entries) {
        e.FirstField = FieldCount();
        int from = 1;
        for (WildMatch m = FindMarker(e.Piece, FieldPattern(), from, false, IsValidFieldMarker); m;
             m = FindMarker(e.Piece, FieldPattern(), from, false, IsValidFieldMarker)) {
            m_fields.push_back({std::string(MarkerContent(Matched(e.Piece, m), FieldMark))});
            e.Piece.replace(static_cast<size_t>(m.pos - 1), static_cast<size_t>(m.len), 1, kFieldSeparator);
            from = m.pos + 1;
        }
        if (FieldCount() == e.FirstField && e.Piece.empty())
            m_fields.push_back({"unName"});
        e.FieldCount = FieldCount() - e.FirstField;
    }
}

std::vector<std::string> CutRecords(std::string_view block, std::string_view piece)
{
    std::vector<std::string> records;
    if (piece.empty()) {
        // Every tag becomes a break; each run of text between tags is a record.
        TagScanner scanner(block);
        std::string broken;
        broken.reserve(block.size());
        int b = 1;
        const int n = static_cast<int>(block.size());
        while (b <= n) {
            TagMatch tag = scanner.FindTag(0, block.size(), "<", ">", true, b);
            if (!tag)
                break;
            broken.append(block.substr(static_cast<size_t>(b - 1), static_cast<size_t>(tag.pos - b)));
            broken += kFieldSeparator;
            b = tag.pos + tag.len;
        }
        if (b <= n)
            broken.append(block.substr(static_cast<size_t>(b - 1)));
        for (std::string_view part : SplitViews(broken, kFieldSeparator))
            if (!(part = Trim(part)).empty())
                records.emplace_back(part);
        return records;
    }

    const std::vector<std::string_view> literals = SplitViews(piece, kFieldSeparator);
    if (literals.size() < 2)
        return records;
    const size_t n = literals.size() - 1;
    std::string pattern;
    for (size_t i = 0; i < literals.size(); ++i) {
        if (i)
            pattern += Wildcard;
        pattern += literals[i];
    }
    // A pattern ending in a wildcard ends every match at the end of the block, so the
    // backward tightening would jump to the last record: records then start where the
    // forward match starts.
    const bool openEnded = literals.back().empty();
    // The tightened start never lies before the forward match, so the scan always moves on.
    auto recordStart = [&](WildMatch m) {
        if (openEnded)
            return m.pos;
        return std::max(WildFindBack(block, pattern, m.end()).pos, m.pos);
    };

    WildMatch m = WildFind(block, pattern, 1);
    if (!m)
        return records;
    int c = recordStart(m);
    const std::string_view l0 = literals.front();
    auto valueBetween = [&](int from, int to) { // 1-based, exclusive end
        return Trim(block.substr(static_cast<size_t>(from - 1), static_cast<size_t>(std::max(0, to - from))));
    };
    while (c >= 1) {
        int start;
        if (!l0.empty()) {
            WildMatch first = WildFind(block, l0, c);
            if (!first)
                break;
            start = first.end();
        } else {
            start = c;
        }
        c = start;
        std::string record;
        bool complete = true;
        for (size_t k = 1; k <= n; ++k) {
            if (literals[k].empty()) {
                WildMatch q = WildFind(block, l0, c);
                record += q ? valueBetween(start, q.pos) : valueBetween(start, static_cast<int>(block.size()) + 1);
                c = q.pos;
            } else {
                WildMatch q = WildFind(block, literals[k], c);
                if (!q) {
                    complete = false;
                    break;
                }
                record += valueBetween(start, q.pos);
                c = q.end();
                start = c;
            }
            record += kFieldSeparator;
        }
        if (!complete)
            break;
        record.pop_back();
        records.push_back(std::move(record));
        if (c < 1)
            break;
        m = WildFind(block, pattern, c);
        if (!m)
            break;
        c = recordStart(m);
    }
    return records;
}

std::vector<std::string> CutBlocks(std::string_view text, std::string_view piece)
{
    std::vector<std::string> records;
    for (std::string_view block : SplitViews(text, kBlockSeparator)) {
        std::vector<std::string> part = CutRecords(block, piece);
        std::move(part.begin(), part.end(), std::back_inserter(records));
    }
    return records;
}

void TStringCutOuter::storeRecords(const std::vector<std::string>& records, const TCutEntry& entry)
{
    for (const std::string& record : records) {
        const std::vector<std::string_view> values = SplitViews(record, kFieldSeparator);
        for (int k = 0; k < entry.FieldCount; ++k) {
            Column& column = m_fields[static_cast<size_t>(entry.FirstField + k)];
            column.emplace_back(static_cast<size_t>(k) < values.size() ? values[static_cast<size_t>(k)]
                                                                       : std::string_view());
        }
    }
}

void TStringCutOuter::normalizeTable()
{
    if (m_fields.empty())
        return;
    size_t m = m_fields.front().size();
    for (const auto& column : m_fields)
        m = std::min(m, column.size());
    for (auto& column : m_fields)
        column.resize(m);
    // Rows made only of empty values and bare sentinels go (row 0 holds the names).
    std::vector<bool> keep(m, true);
    bool any = false;
    for (size_t row = 1; row < m; ++row) {
        bool blank = std::all_of(m_fields.begin(), m_fields.end(), [&](const Column& column) {
            return column[row].empty() || column[row] == MarkedSentinel;
        });
        if (blank) {
            keep[row] = false;
            any = true;
        }
    }
    if (!any)
        return;
    for (auto& column : m_fields) {
        size_t out = 1;
        for (size_t row = 1; row < m; ++row) {
            if (!keep[row])
                continue;
            if (out != row)
                column[out] = std::move(column[row]);
            ++out;
        }
        column.resize(out);
    }
}

void TStringCutOuter::CutOut(std::string_view pageText)
{
    std::vector<IndexPath> paths;
    for (const auto& e : m_entries)
        if (!e.Path.empty())
            paths.push_back(e.Path);

    WildMatch body = WildFind(pageText, "<body[*]</body>", 1);
    if (!body)
        return;
    const std::string_view bodyText = pageText.substr(static_cast<size_t>(body.pos - 1), static_cast<size_t>(body.len));

    std::string joined;
    std::vector<std::string_view> blocks;
    if (!bodyText.empty()) {
        if (paths.empty()) {
            blocks.push_back(bodyText);
        } else {
            THtmlTextList tree;
            joined = tree.GetPathTexts(bodyText, paths);
            if (!Trim(joined).empty())
                blocks = SplitViews(joined, kFieldSeparator);
        }
    }
    if (blocks.size() != m_entries.size())
        return;
    for (size_t i = 0; i < m_entries.size(); ++i)
        storeRecords(CutBlocks(blocks[i], m_entries[i].Piece), m_entries[i]);
    normalizeTable();
}

} // namespace vexory
