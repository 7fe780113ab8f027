// Verification formulas: parsing and checking any text; a formula that fails to
// parse lets every record through, and the numbered ordering is antisymmetric.
// Input: formula, a zero byte, values separated by zero bytes.

#include "formula/verify_formula.h"

#include <cstdlib>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    std::string_view input(reinterpret_cast<const char*>(data), size);
    const size_t zero = input.find('\0');
    const std::string_view formula = input.substr(0, zero);
    std::vector<std::string> values;
    if (zero != std::string_view::npos) {
        std::string_view rest = input.substr(zero + 1);
        for (;;) {
            const size_t k = rest.find('\0');
            values.emplace_back(rest.substr(0, k));
            if (k == std::string_view::npos)
                break;
            rest = rest.substr(k + 1);
        }
    }
    vexory::TFormulaChecker checker;
    const bool parsed = checker.Parse(formula);
    const bool passed = checker.Check(values);
    if (!parsed && (!checker.Conditions().empty() || !passed))
        std::abort();
    if (values.size() >= 2) {
        const int ab = vexory::CompareNumbered(values[0], values[1]);
        const int ba = vexory::CompareNumbered(values[1], values[0]);
        if ((ab == 1) != (ba == 2) || (ab == 3) != (ba == 3) || (ab == 0) != (ba == 0))
            std::abort();
    }
    return 0;
}
