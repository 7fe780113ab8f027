#pragma once

// The byte passes of the page preparation, sixteen bytes at a time where the page allows.

#include <cstddef>
#include <string_view>

namespace vexory {

// Writes CompactHtml(text) to `out` and LowerAscii of it to `lower` in one pass; both
// need room for text.size() bytes. Returns the length written.
size_t CompactLowerInto(std::string_view text, char* out, char* lower);

} // namespace vexory
