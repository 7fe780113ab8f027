// The element tree: Parse and ParsePaths on any text, and the fast tag matching
// held against the plain transcription of its rules.
// Input: the first bytes choose paths and search positions, the rest is the text.

#include "formula/html_text_list.h"
#include "formula/tag_scanner.h"
#include "reference.h"

#include <cstdlib>
#include <vector>

namespace {

void checkChunks(const vexory::THtmlTextList& list, std::string_view parent)
{
    for (size_t i = 0; i < list.Count(); ++i) {
        const std::string_view chunk = list.Chunk(i);
        // Every chunk is a non-empty stretch of the text it was split from.
        if (chunk.empty() || chunk.data() < parent.data() || chunk.data() + chunk.size() > parent.data() + parent.size())
            std::abort();
        if (const vexory::THtmlTextList* child = list.Child(i))
            checkChunks(*child, chunk);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 4)
        return 0;
    std::vector<vexory::IndexPath> paths(1);
    for (size_t i = 0; i < 3; ++i) {
        const int8_t c = static_cast<int8_t>(data[i]);
        if (c == 0 && !paths.back().empty())
            paths.emplace_back();
        else
            paths.back().push_back(c % 5);
    }
    const std::string_view text(reinterpret_cast<const char*>(data + 3), size - 3);

    vexory::THtmlTextList tree;
    tree.Parse(text);
    if (tree.SourceText() != text)
        std::abort();
    checkChunks(tree, tree.SourceText());
    tree.GetPathTexts(text, paths);

    // Tag matching, fast and plain, from several places and for a few closings.
    const int n = static_cast<int>(text.size());
    for (int from = 1; from <= n; from += 1 + n / 16) {
        for (bool retry : {false, true}) {
            vexory::TagMatch fast = vexory::FindTag(text, "<", ">", retry, from);
            vexory::TagMatch slow = vexory::reference::FindTag(text, "<", ">", retry, from);
            if (fast.pos != slow.pos || (fast.pos > 0 && fast.len != slow.len))
                std::abort();
            for (int openLength : {2, 3}) {
                const std::string_view open = text.substr(static_cast<size_t>(from - 1), static_cast<size_t>(openLength));
                if (open.size() != static_cast<size_t>(openLength))
                    continue;
                const std::string close = "</" + std::string(open.substr(1)) + ">";
                vexory::TagMatch f = vexory::FindBalanced(text, close, from, retry, openLength);
                vexory::TagMatch s = vexory::reference::FindBalanced(text, close, from, retry, openLength);
                if (f.pos != s.pos || (f.pos > 0 && f.len != s.len))
                    std::abort();
            }
        }
    }
    return 0;
}
