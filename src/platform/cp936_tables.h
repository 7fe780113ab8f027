#pragma once

// Code page 936 as iconv has it, asked once per character when the program is
// built (cp936_table_gen). kNone: no character (no GBK for the code point, or no
// character for the bytes).

#include <cstdint>

namespace vexory::cp936 {

inline constexpr uint16_t kNone = 0xFFFF;

// Code point (BMP) -> a single byte (< 0x100) or lead << 8 | trail.
extern const uint16_t kToGbk[0x10000];
// One byte -> code point (lead bytes 0x81-0xFE: kNone).
extern const uint16_t kSingle[256];
// (lead - 0x81) * 256 + trail -> code point.
extern const uint16_t kPair[126 * 256];

} // namespace vexory::cp936
