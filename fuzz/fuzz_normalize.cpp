// Tag normalising and highlight unwrapping on any text; the fast unwrapping must
// give exactly what the plain find-and-replace loop gives.

#include "formula/markers.h"
#include "formula/page_prep.h"
#include "reference.h"

#include <cstdlib>

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
    vexory::PreparePage(text);
    return 0;
}
