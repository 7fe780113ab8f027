#pragma once

// Finding the markers of a formula (fields, indexes, chains, notes): what the
// formula's repair and the cutter share.

#include "formula/grab_formula.h"
#include "formula/wild.h"

#include <string>
#include <string_view>
#include <vector>

namespace vexory {

// The text inside a marker, between its template's opening and closing.
std::string_view MarkerContent(std::string_view marker, std::string_view tmpl);

// The wildcard patterns of the field and the index marker.
const std::string& FieldPattern();
const std::string& IndexPattern();

// The stretch of `text` that a match covers.
std::string_view Matched(std::string_view text, WildMatch m);

// All markers of one kind in a text, left to right, each search after the previous marker.
std::vector<WildMatch> FindAllMarkers(std::string_view text, std::string_view pattern, MarkerValidator validator);

} // namespace vexory
