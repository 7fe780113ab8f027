#pragma once

// Deterministic pages for the benchmarks and tests: the same size always gives
// the same bytes (code page 936 text).

#include <cstddef>
#include <string>

namespace vexory::bench {

// A realistic listing: a head full of scripts, styles, links and comments; nested
// divs with attributes in varied order and spacing; records of four fields (title
// with Chinese text, price, link, date), as many as fit in `bytes`.
std::string ListingPage(size_t bytes);

// About one unclosed tag (<li>, <br>, <img>, <p>) per 80 bytes.
std::string UnclosedTagsPage(size_t bytes);

// Divs nested one inside the other, about one level per 800 bytes, with text at each level.
std::string NestedPage(size_t bytes);

// Formulas that fit ListingPage once prepared and lowercased.
inline constexpr const char* kListingFormula =
    "<span class=\"title\">{>title<}</span><span class=\"price\">{>price<}</span>";
inline constexpr const char* kListingIndexFormula =
    "[>1.2.-1.0<]<span class=\"title\">{>title<}</span><span class=\"price\">{>price<}</span><a class=\"link\" "
    "href=\"[*]\">{>link<}</a><em>{>date<}</em>";

} // namespace vexory::bench
