#pragma once

// Pseudo-code: a page rendered one element per line, indented by depth, with the
// stretches the user marked in the browser turned into field markers; and the
// grab formula derived from field markers placed in it.

#include <string>
#include <string_view>

namespace vexory {

// Colours of the marks the editor makes in the browser, and the placeholder that
// carries a browser selection into the pseudo-code.
inline constexpr std::string_view kMarkColourText = "rgb(123,236,179)";
inline constexpr std::string_view kTemporaryColour = "rgb(31,34,57)";
inline constexpr std::string_view kSelectionPlaceholder = "m4t29*-hbx6+";

// The highlight wrapper of a colour, "^" standing for the wrapped content.
std::string HighlightWrapper(std::string_view colour);

// The page rendered with its marks as field markers named from "aa" on (the name
// sequence restarts); lines joined by CR LF.
std::string MakePseudoCode(std::string_view source);
// The page rendered with its marks removed, their content kept.
std::string PlainPseudoCode(std::string_view source);
// MakePseudoCode of a source whose temporary-colour wrappers have been replaced
// by the selection placeholder followed by their content.
std::string SelectionPseudoCode(std::string_view source);

// Where a selection of `length` visible characters that starts at `start` of a
// pseudo-code ends: tags, line breaks and the indentation after them do not count,
// a run of blanks counts once. Positions in UTF-16 units, as the browser counts.
size_t SelectionEnd(std::u16string_view text, size_t start, int length);

enum class DeriveResult
{
    NoFieldMarker, // the body holds no valid field marker
    Failed,        // nothing came out
    Done,
};

// The grab formula of a pseudo-code text with field markers: one index marker per
// marked element, the repeating level negated, followed by that element's HTML.
DeriveResult DeriveGrabFormula(std::string_view pseudoCode, std::string& formula);

} // namespace vexory
