#pragma once

// A page's encoding as a browser decides it from the bytes it was sent: a byte
// order mark first, then the charset the Content-Type names, then the <meta> the
// first 1024 bytes declare. The encodings here are the ones read without a
// browser; any other, or a page that names none (a browser then guesses from the
// locale and the bytes), is Unknown, and such a page stays with the browser.

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace vexory {

enum class PageEncoding
{
    Unknown,
    Utf8,
    Gb18030, // the labels gbk, gb2312, gb18030 and their kin all decode by it
    Big5,
    Windows1252, // also what ascii and latin1 name
    Utf16Le,
    Utf16Be,
};

// The encoding a label names (case and surrounding white space ignored).
PageEncoding EncodingForLabel(std::string_view label);

struct SniffedEncoding
{
    PageEncoding encoding = PageEncoding::Unknown;
    size_t bomLength = 0; // the byte order mark's bytes, which are not text
};

SniffedEncoding SniffEncoding(std::string_view bytes, std::string_view contentType);

// The charset a <meta> in the first 1024 bytes declares, by the prescan browsers
// run before they parse (a UTF-16 label reads as UTF-8: such a page was not sent
// as UTF-16 if a <meta> could be read as ASCII).
PageEncoding PrescanMeta(std::string_view bytes);

// The text in UTF-8, each malformed sequence one U+FFFD; nothing for Unknown.
std::optional<std::string> DecodeToUtf8(std::string_view bytes, PageEncoding encoding);

} // namespace vexory
