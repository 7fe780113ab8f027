#pragma once

// Small text operations the whole program shares. Texts are code page 936 bytes;
// positions count bytes, are 1-based, and 0 means "not found".

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

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

// True for a byte that starts a double-byte character of code page 936.
inline bool IsGbkLead(unsigned char c)
{
    return c >= 0x81 && c <= 0xFE;
}

// ASCII letters folded to lower case (same length, same positions). A double-byte
// character (a lead byte 0x81-0xFE and the byte after it) is copied unchanged, so
// that trail bytes in "@".."Z" (as in 學 8C 57) keep their character.
std::string LowerAscii(std::string_view text);
// The same written to `out` (room for text.size() bytes; may be text.data() itself).
void LowerAsciiInto(std::string_view text, char* out);
// Puts back the trail bytes in "A".."Z" that folding every byte of `text` into `lower`
// lowered: what turns a plain fold into LowerAscii.
void RestoreTrails(std::string_view text, char* lower);

// Control bytes removed and blanks compacted around tag punctuation.
std::string CompactHtml(std::string_view text);

// Every byte 0x00-0x20 and 0x7F removed.
std::string StripSpace(std::string_view text);

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

// URL-safe Base64 without padding or line breaks, and its inverse.
std::string Base64UrlEncode(std::string_view bytes);
std::string Base64UrlDecode(std::string_view text);

// SHA-1 as 40 lowercase hexadecimal digits.
std::string Sha1Hex(std::string_view bytes);

// "[ mm:ss ]" (kind 2) or "[ hh:mm:ss ]" (kind 3) for a number of seconds; "" otherwise.
std::string FormatElapsed(int64_t seconds, int kind);

// Eight progress blocks, "■" for every 12.5 percent (rounded), "□" for the rest.
std::string ProgressBlocks(int percent);

// Removes lines first..last (0-based, inclusive); false and nothing done unless
// 0 <= first <= last < number of lines.
bool DeleteLineRange(std::vector<std::string>& lines, int last, int first);

} // namespace vexory
