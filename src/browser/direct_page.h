#pragma once

// A page's text without a browser: the bytes a server sent decoded as a browser
// decodes them, parsed by an HTML5 parser, and the document element's markup
// serialized as a browser serializes it (innerHTML), with the addresses of links
// and images made whole as the runner's page read makes them. The result is in
// code page 936, as a browser read's.
//
// Nothing comes back for a page this cannot read as the browser would: an encoding
// it does not decode or a page that names none, a <noscript> (a browser with
// scripts parses its content as text), a <base> or link address it cannot resolve
// like the browser. Such a page is read by the browser.
//
// Nor for a page past the limits a read in the program's own process keeps to: its
// size, its depth (a browser's parser stops nesting deeper, and so its tree would
// differ), and the time and memory of its parse (some markup makes a parse far
// slower or larger than its size). The walks over the tree are loops, never
// recursion on the page's depth.

#include <optional>
#include <string>
#include <string_view>

namespace vexory {

// Why a page is not read directly.
enum class DirectRefusal
{
    None,
    NotHtml,     // a type the browser shows in a page of its own making
    Encoding,    // no encoding named, or one not decoded here
    Scripted,    // <noscript>: a browser with scripts reads its content otherwise
    Address,     // a <base> or link address not resolved as the browser would
    TooLarge,    // past kMaxDirectPageBytes, or its text past a multiple of it
    TooDeep,     // elements nested deeper than kMaxDirectDepth
    OverBudget,  // the parse took more than its time or memory
    TooSlow,     // the read took longer than its task's connect time-out (the reader's word)
};

inline constexpr size_t kMaxDirectPageBytes = 8 * 1024 * 1024; // decoded, as the server sent it
inline constexpr size_t kMaxDirectDepth = 500;      // a browser's parser nests no deeper than 512
inline constexpr long kDirectParseCpuMs = 2000;     // of the reading thread's own time
// The parse's memory: about 180 bytes a node, a node for each tag and each text
// between tags; within a fixed bound whatever the page.
inline constexpr size_t kParseBytesPerTag = 256;
inline constexpr size_t kMaxParseBytes = 256 * 1024 * 1024;

// `url`: the page's address after redirects (the base of its links). `why`, when
// given, tells why nothing came back.
std::optional<std::string> DirectPageText(std::string_view bytes, std::string_view contentType,
                                          std::string_view url, DirectRefusal* why = nullptr);

// The markup of the document element of `html` (UTF-8), as innerHTML gives it,
// without any address rewritten: the serializer alone.
std::string InnerHtmlOfDocument(std::string_view html);

} // namespace vexory
