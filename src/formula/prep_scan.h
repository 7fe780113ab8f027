#pragma once

// The byte passes of the page preparation, sixteen bytes at a time where the page allows.

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace vexory {

// Writes CompactHtml(text) to `out` and LowerAscii of it to `lower` in one pass; both
// need room for text.size() bytes. Returns the length written.
size_t CompactLowerInto(std::string_view text, char* out, char* lower);

// Where the next "<" at or after `from` is, and the first ">" after it, when no
// other "<" lies in between (one right after the opening does not count). `simple`
// is false when there is another "<" or no ">"; `equals`: the tag holds a "=".
// No "<" at all: `start` is text.size().
struct TagSpan
{
    size_t start;
    size_t length;
    bool simple;
    bool equals;
};

// Reads a page's tags front to back, 64 bytes at a time: bit masks of "<", ">" and
// "=" per stretch, so a tag costs a few bit operations instead of searches.
class TagWalker
{
public:
    explicit TagWalker(std::string_view text) : m_text(text) {}

    // The tag from `from`; calls go forwards (`from` never before the last call's).
    TagSpan Next(size_t from);
    // The same, passing over simple tags without "=".
    TagSpan NextWithEquals(size_t from);

private:
    // Loads the masks of the 64 bytes from `at` (a multiple of 64).
    void load(size_t at);
    // The lowest set bit of `mask` (bits of the stretch at m_at) at or after `from`; its
    // position, or npos when none is left in the text.
    template <uint64_t TagWalker::*Mask>
    size_t find(size_t from);

    std::string_view m_text;
    size_t m_at = SIZE_MAX; // start of the loaded stretch
    uint64_t m_lt = 0, m_gt = 0, m_eq = 0;
};

} // namespace vexory
