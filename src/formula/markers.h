#pragma once

// The marker templates of the formulas. In every template "^" stands for the
// content: the text before it is the opening, the text after it the closing.
// Every operation derives openings, closings and lengths from these.

#include <string>
#include <string_view>

namespace vexory {

inline constexpr std::string_view FieldMark = "{>^<}";  // field marker
inline constexpr std::string_view IndexMark = "[>^<]";  // index marker
inline constexpr std::string_view ChainMark = "(>^<)";  // chain marker
inline constexpr std::string_view NoteMark = "|>^<|";   // note marker
inline constexpr std::string_view Wildcard = "[*]";     // any text, as short as possible
inline constexpr std::string_view MarkedSentinel = "vhrkzaw38jbpxn5d"; // precedes highlighted text
inline constexpr std::string_view HighlightTemplate = "<font style=\"background-color:rgb(123,236,179)\">^</font>";
inline constexpr std::string_view TreeIndent = "  ";

inline constexpr char kFieldSeparator = '\x07'; // between fields, records' values, entries' blocks
inline constexpr char kBlockSeparator = '\x08'; // between the blocks of one entry

constexpr std::string_view MarkOpening(std::string_view tmpl)
{
    return tmpl.substr(0, tmpl.find('^'));
}

constexpr std::string_view MarkClosing(std::string_view tmpl)
{
    return tmpl.substr(tmpl.find('^') + 1);
}

// The template with `content` in place of "^".
inline std::string MakeMark(std::string_view tmpl, std::string_view content)
{
    std::string out(MarkOpening(tmpl));
    out += content;
    out += MarkClosing(tmpl);
    return out;
}

// The template as a search pattern: "^" replaced by the wildcard.
inline std::string MarkPattern(std::string_view tmpl)
{
    return MakeMark(tmpl, Wildcard);
}

} // namespace vexory
