#pragma once

// Small text operations the whole program shares: compaction, splitting, trimming,
// number tests. Texts are code page 936 bytes.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace vexory {

// Control bytes removed and blanks compacted around tag punctuation.
std::string CompactHtml(std::string_view text);

// Every byte 0x00-0x20 and 0x7F removed.
std::string StripSpace(std::string_view text);
// An address as typed, as a browser takes it: blanks and control bytes at its ends
// and control bytes inside dropped, a blank inside written %20 (never dropped,
// which would make it another address).
std::string TypedAddress(std::string_view text);

// The pieces of `text` between separators, empty ones included: n separators give
// n + 1 pieces. The views point into `text`.
std::vector<std::string_view> SplitViews(std::string_view text, char separator);

// `text` with every occurrence of `what` removed, left to right (ASCII letters
// compared without case when `ignoreCase`).
std::string RemoveAll(std::string_view text, std::string_view what, bool ignoreCase = false);

// Bytes 0x00-0x20 removed from both ends.
std::string_view Trim(std::string_view text);

// A 32-bit signed integer: leading blanks, one sign, at most ten digits, in range.
bool IsInteger(std::string_view text);

// A decimal number: sign, digits, optional "." and digits, optional exponent.
bool IsNumber(std::string_view text);

// The value of a text for which IsInteger holds (0 for anything else).
int32_t StrToInt(std::string_view text);

// Removes lines first..last (0-based, inclusive); false and nothing done unless
// 0 <= first <= last < number of lines.
bool DeleteLineRange(std::vector<std::string>& lines, int last, int first);

} // namespace vexory
