#pragma once

// An address as a page's link resolves it (the URL standard's parser and
// serializer, for the addresses pages carry): `input` against `base`, the query's
// characters beyond ASCII in the page's encoding. Nothing when the address cannot
// be resolved here as a browser would (a host beyond ASCII, a character the
// page's encoding lacks), or is no address at all.

#include "browser/page_encoding.h"

#include <optional>
#include <string>
#include <string_view>

namespace vexory {

std::optional<std::string> ResolveUrl(std::string_view input, std::string_view base,
                                      PageEncoding queryEncoding = PageEncoding::Utf8);

} // namespace vexory
