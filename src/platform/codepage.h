#pragma once

// Conversions between code page 936 (GBK), the program's internal text, and the
// encodings of the outside world. Characters that GBK cannot hold become "?",
// as the Windows conversion does; bytes that are not valid GBK become "?" too.
// GBK <-> UTF-8 and UTF-16 run on tables asked of iconv when it is built;
// ASCII runs are copied 16 bytes at a time.

#include <optional>
#include <string>
#include <string_view>

namespace vexory {

// GBK bytes -> UTF-8; invalid byte sequences become "?".
std::string GbkToUtf8(std::string_view gbk);

// UTF-8 -> GBK; characters GBK cannot hold (and invalid UTF-8) become "?".
std::string Utf8ToGbk(std::string_view utf8);

// UTF-8 -> GBK, or nothing when any character cannot be held exactly.
std::optional<std::string> Utf8ToGbkStrict(std::string_view utf8);

// GBK bytes -> UTF-16; invalid byte sequences become "?".
std::u16string GbkToUtf16(std::string_view gbk);

// UTF-16 -> GBK; unmappable characters and lone surrogates become "?".
std::string Utf16ToGbk(std::u16string_view utf16);

// Any character set a web server may name (iconv name) -> GBK; empty name or an
// unknown one is read as UTF-8.
std::string CharsetToGbk(std::string_view bytes, std::string_view charset);

// The same conversions done by iconv call by call: the judges of the fast ones
// above in tests and benchmarks.
namespace iconv_reference {
std::string Utf8ToGbk(std::string_view utf8, bool* exact = nullptr);
std::string GbkToUtf8(std::string_view gbk);
std::u16string GbkToUtf16(std::string_view gbk);
std::string Utf16ToGbk(std::u16string_view utf16);
} // namespace iconv_reference

} // namespace vexory
