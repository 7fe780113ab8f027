// Tag normalising and highlight unwrapping on any text; the fast unwrapping must
// give exactly what the plain find-and-replace loop gives, the page preparation
// what the chain of plain whole-text steps gives. Lowercasing never
// touches a byte that follows a lead byte of a double-byte character.

#include "base/ascii_fold.h"
#include "formula/markers.h"
#include "formula/page_prep.h"
#include "reference.h"

#include <cstdlib>

namespace {

// `lower` is `text` lowercased: same length, ASCII capitals lowered only at
// character starts, every other byte unchanged.
void checkLowered(std::string_view text, std::string_view lower)
{
    if (lower.size() != text.size())
        std::abort();
    bool trail = false;
    for (size_t i = 0; i < text.size(); ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        const bool capital = !trail && c >= 'A' && c <= 'Z';
        if (static_cast<unsigned char>(lower[i]) != (capital ? c + 32 : c))
            std::abort();
        trail = !trail && vexory::IsGbkLead(c);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    vexory::NormalizeTags(text);
    static const std::string_view kShortTemplate = "<f>^</f>"; // short enough for the fuzzer to hit
    for (std::string_view tmpl : {vexory::HighlightTemplate, kShortTemplate}) {
        for (bool ignoreCase : {true, false}) {
            if (vexory::UnwrapHighlights(text, tmpl, vexory::MarkedSentinel, ignoreCase) !=
                vexory::reference::UnwrapHighlights(text, tmpl, vexory::MarkedSentinel, ignoreCase))
                std::abort();
            if (vexory::UnwrapHighlights(text, tmpl, "m4t29*-hbx6+", ignoreCase) !=
                vexory::reference::UnwrapHighlights(text, tmpl, "m4t29*-hbx6+", ignoreCase))
                std::abort();
        }
    }
    checkLowered(text, vexory::LowerAscii(text));
    const vexory::PreparedPage page = vexory::PreparePage(text);
    checkLowered(page.text, page.lower);
    if (page.text != vexory::reference::PreparePage(text))
        std::abort();
    return 0;
}
