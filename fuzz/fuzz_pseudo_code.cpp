// Pseudo-code and formula derivation on any page text: the rendering never leaves
// its working codes behind, a derivation always ends, and a derived formula is a
// row of index markers the cutter accepts.
// Input: a page text (marks are the highlight wrapper, see the dictionary).

#include "editor/pseudo_code.h"
#include "formula/grab_formula.h"

#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string_view page(reinterpret_cast<const char*>(data), size);
    const std::string pseudo = vexory::MakePseudoCode(page);
    if (pseudo.find_first_of("\x07\x08") != std::string::npos)
        std::abort();
    const std::string plain = vexory::PlainPseudoCode(page);
    if (plain.find_first_of("\x07\x08") != std::string::npos)
        std::abort();

    std::string formula;
    if (vexory::DeriveGrabFormula(pseudo, formula) == vexory::DeriveResult::Done) {
        if (formula.rfind("[>", 0) != 0)
            std::abort();
        vexory::TStringCutOuter cutter;
        cutter.SetFormula(vexory::CleanFormula(formula).formula);
        cutter.CutOut(plain);
    }
    return 0;
}
