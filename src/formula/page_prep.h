#pragma once

// Preparing page HTML: the canonical text that grab formulas are written against
// and matched in, and the cleaning of grabbed values.

#include <string>
#include <string_view>
#include <utility>

namespace vexory {

// Removes scripts, styles, text areas, comments and link tags (case ignored).
std::string RemoveNonContent(std::string_view text);

// Rewrites every tag that holds "=" with NormalizeTag.
std::string NormalizeTags(std::string_view text);

// A tag with its attributes in a fixed form: name="value" pairs sorted ignoring case,
// class words and style declarations sorted, bare attributes dropped.
std::string NormalizeTag(std::string_view tag);

// Replaces every stretch wrapped in `tmpl` ("^" the wrapped text) by `marker` + the
// wrapped text, repeating until none is left.
std::string UnwrapHighlights(std::string_view text, std::string_view tmpl, std::string_view marker, bool ignoreCase);

// Removes every tag and decodes entities.
std::string StripTags(std::string_view text);

// Removes every class attribute.
std::string StripClassAttributes(std::string_view text);

// A value (or a whole record line) as a task reports it: tags removed and entities
// decoded when the task clears tags ("清除HTML标签"), else only class attributes removed.
std::string CleanValue(std::string_view value, bool clearTags);

// Decodes &amp; &nbsp; &lt; &gt; (case ignored, in that order).
std::string DecodeEntities(std::string_view text);

// A page as the monitor reads it: compacted, without non-content, tags normalised,
// highlights unwrapped after the sentinel; `lower` is `text` with ASCII letters lowered.
struct PreparedPage
{
    std::string text;
    std::string lower;
};
PreparedPage PreparePage(std::string_view page);

// Prepares page after page in memory it keeps: a monitor that prepares its page
// every cycle reuses the same buffers instead of having large new ones mapped and
// cleared by the system each time (a fifth of a cycle on an 8 MB page).
class PagePreparer
{
public:
    // The prepared page, valid until the next call.
    const PreparedPage& Prepare(std::string_view page);
    PreparedPage Take() { return std::move(m_page); }
    // Gives the buffers back (an emptied or assigned-over string keeps its room).
    void Release();

private:
    std::string m_text, m_lower; // the page compacted, and its twin, while parts are removed
    PreparedPage m_page;
};

} // namespace vexory
