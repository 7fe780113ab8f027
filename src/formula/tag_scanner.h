#pragma once

// Balanced tag matching over one text, fast on any page.
//
// The matching rules count openings and closings as plain substrings. Done
// naively, every unclosed tag would count openings up to the end of the page;
// here the positions of each searched text are collected once per text, and a
// table per (opening, closing) pair answers "where does this element close"
// by one search in a tree of prefix balances, in O(log n).

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace vexory {

// 1-based result of a tag search: pos > 0 found; 0, -1, -2 the kinds of "not found".
struct TagMatch
{
    int pos = 0;
    int len = 0;
    explicit operator bool() const { return pos > 0; }
};

class TagScanner
{
public:
    // The scanner keeps a view: `text` must outlive it.
    explicit TagScanner(std::string_view text);
    ~TagScanner();
    TagScanner(const TagScanner&) = delete;
    TagScanner& operator=(const TagScanner&) = delete;

    std::string_view Text() const { return m_text; }

    // Searches within the part [lo, hi) of the text (0-based offsets); `from` and the
    // results are 1-based positions within that part.
    //
    // First `open` at or after `from`, matched to its balancing `close`:
    // 0 no opening, -1 no closing at all, -2 no balance even after retries.
    TagMatch FindTag(size_t lo, size_t hi, std::string_view open, std::string_view close, bool retry, int from);

    // The element opened by the `openLength` bytes at `start` and closed by `close`:
    // 0 when no closing follows, -1 when the closings never balance the openings.
    TagMatch FindBalanced(size_t lo, size_t hi, std::string_view close, int start, bool retry, int openLength);

private:
    struct Balance;
    const std::vector<uint32_t>& occurrences(std::string_view needle);
    Balance& balance(std::string_view open, std::string_view close);

    std::string_view m_text;
    std::map<std::string, std::vector<uint32_t>, std::less<>> m_occurrences;
    std::map<std::string, std::unique_ptr<Balance>, std::less<>> m_balances;
};

// The same on a whole text (a scanner made for the call).
TagMatch FindTag(std::string_view text, std::string_view open, std::string_view close, bool retry, int from);
TagMatch FindBalanced(std::string_view text, std::string_view close, int start, bool retry, int openLength);

} // namespace vexory
