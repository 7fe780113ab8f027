#pragma once

// Grab formulas: a copy of the prepared page text with the wanted values replaced
// by field markers "{>name<}", uninteresting stretches by wildcards "[*]", and
// optionally index markers "[>2.-1<]" that first narrow the page to nodes of its
// element tree. TStringCutOuter compiles a formula once and cuts every page into
// a table: one column per field, one row per record.

#include "formula/html_text_list.h"
#include "formula/wild.h"

#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace vexory {

// Receives each repair message of CleanFormula as it is made (code page 936).
using RepairReport = std::function<void(std::string_view message)>;

struct CleanedFormula
{
    std::string formula;               // the repaired formula
    std::string chains;                // the valid chain markers, brackets included
    std::string notes;                 // "|>" + note contents joined by ";" + "<|", or empty
    std::vector<std::string> messages; // every repair, in order (reported or not)
};

// Validates and repairs a formula. Repairs are reported to `report` when it is set
// (verbose); they are the same either way.
CleanedFormula CleanFormula(std::string_view formula, const RepairReport& report = nullptr);

// The formula without its valid chain markers, and those markers concatenated.
std::pair<std::string, std::string> ExtractChainMarkers(std::string_view formula);

// The formula without its valid note markers, and the notes ("|>a;b<|" or empty).
std::pair<std::string, std::string> ExtractNoteMarkers(std::string_view formula);

struct ChainLink
{
    bool ok = false;
    std::string field; // field of this formula whose values are handed on
    std::string task;  // the task that receives them
};
ChainLink ParseChainMarker(std::string_view chainMarkers);

// The content of every field marker, valid or not, in order.
void ListFieldNames(std::string_view formula, std::vector<std::string>& names);

// Validity tests of marker candidates (whole marker text).
bool IsValidFieldMarker(std::string_view candidate);
bool IsValidIndexMarker(std::string_view candidate);
bool IsValidChainMarker(std::string_view candidate);
bool IsValidNoteMarker(std::string_view candidate);

using MarkerValidator = bool (*)(std::string_view candidate);

// Repeated WildFind of a marker pattern until the validator accepts a candidate.
WildMatch FindMarker(std::string_view text, std::string_view pattern, int from, bool ignoreCase,
                     MarkerValidator validator);

struct TCutEntry
{
    IndexPath Path;    // empty without index markers
    std::string Piece; // the text after the index marker, field markers as byte 0x07
    int FirstField = 0;
    int FieldCount = 0;
};

class TStringCutOuter
{
public:
    using Column = std::vector<std::string>; // item 0 the field name, then one value per row

    // Compiles a formula, replacing the previous one.
    void SetFormula(std::string_view formula);
    // Cuts a page text and appends its rows to the columns.
    void CutOut(std::string_view pageText);

    int FieldCount() const { return static_cast<int>(m_fields.size()); }
    // The column at a 0-based index, or nullptr outside 0 .. FieldCount() - 1.
    const Column* Field(int index) const;
    int RowCount() const { return m_fields.empty() ? 0 : static_cast<int>(m_fields.front().size()) - 1; }
    // Each column's name (its first entry), in column order.
    std::vector<std::string> FieldNames() const;
    // Each column's value in row `row` (1 .. RowCount()), in column order.
    std::vector<std::string> Row(int row) const;
    // Every column keeps only its name (the room of its values is given back).
    void ClearValues();
    void ClearFields();

    const std::vector<TCutEntry>& Entries() const { return m_entries; }

private:
    void storeRecords(const std::vector<std::string>& records, const TCutEntry& entry);
    void normalizeTable();

    std::vector<Column> m_fields;
    std::vector<TCutEntry> m_entries;
};

// The records of one block for one piece: each record its values joined by byte 0x07.
std::vector<std::string> CutRecords(std::string_view block, std::string_view piece);

// The records of every 0x08-separated part of a block text.
std::vector<std::string> CutBlocks(std::string_view text, std::string_view piece);

} // namespace vexory
