#pragma once

// Searching texts of code page 936 bytes. Positions count bytes, are 1-based, and 0
// means "not found", unless said otherwise.

#include <cstddef>
#include <string_view>

namespace vexory {

// First occurrence of `sub` in `text` at or after position `from`.
int PosFrom(std::string_view sub, std::string_view text, int from);

// 0-based start of the first occurrence of `needle` at or after `from`, or npos.
size_t FindBytes(std::string_view text, std::string_view needle, size_t from = 0);

// Start of the last occurrence of `sub` that ends before position `limit`.
// With limit 2147483647 this is the last occurrence in the text.
int LastPos(std::string_view sub, std::string_view text, int limit);

// PosFrom ignoring the case of ASCII letters (as LowerAscii folds them).
int PosText(std::string_view sub, std::string_view text, int from);

} // namespace vexory
