#pragma once

// The tag normaliser of page preparation: a tag with attributes rewritten with its
// attributes sorted, each value in double quotes, class words and style
// declarations sorted too, all ignoring case.

#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace vexory {

// Reusable buffers of the tag normaliser, so that a page's tags cost no allocations.
struct TagScratch
{
    std::string values;                           // attribute texts, back to back
    std::vector<std::pair<size_t, size_t>> attrs; // (start, length) in `values`
    std::string words;                            // compacted style declarations
    std::vector<std::string_view> parts;
};

// Appends the normalised form of `tag` to `out`.
void AppendNormalizedTag(std::string& out, std::string_view tag, TagScratch& scratch);

} // namespace vexory
