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

#include <optional>
#include <string>
#include <string_view>

namespace vexory {

// `url`: the page's address after redirects (the base of its links).
std::optional<std::string> DirectPageText(std::string_view bytes, std::string_view contentType,
                                          std::string_view url);

// The markup of the document element of `html` (UTF-8), as innerHTML gives it,
// without any address rewritten: the serializer alone.
std::string InnerHtmlOfDocument(std::string_view html);

} // namespace vexory
