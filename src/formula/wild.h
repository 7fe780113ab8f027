#pragma once

// Wildcard search: a pattern is literal text in which "[*]" stands for any text,
// empty included, matched as short as possible. Positions are 1-based; a match
// at position 0 is no match.

#include <functional>
#include <string>
#include <string_view>

namespace vexory {

struct WildMatch
{
    int pos = 0;
    int len = 0;
    explicit operator bool() const { return pos > 0; }
    int end() const { return pos + len; } // first position after the match
};

// Leftmost match at or after `from`: each literal is the first one after the previous.
WildMatch WildFind(std::string_view text, std::string_view pattern, int from);

// The match lying wholly before `end` that uses the last possible occurrence of each literal.
WildMatch WildFindBack(std::string_view text, std::string_view pattern, int end);

enum WildReplaceFlags {
    kReplaceAll = 1,
    kIgnoreCase = 2, // matched in lowercased copies; the text keeps its case
};

// Replaces matches (the first, or all with kReplaceAll) by `replacement`.
std::string WildReplace(std::string_view text, std::string_view pattern, std::string_view replacement, int flags);

// The same with a replacement made from each matched text; a match whose replacement
// comes out empty stays, and the search goes on one byte after its start.
std::string WildReplaceWith(std::string_view text, std::string_view pattern,
                            const std::function<std::string(std::string_view)>& producer, int flags);

} // namespace vexory
