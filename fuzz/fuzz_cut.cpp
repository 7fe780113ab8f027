// Grab formula compiled and cut on a page: no input may crash or loop, every column
// has the same number of rows, and every cut value stands in the page.
// Input: formula, a zero byte, page.

#include "formula/grab_formula.h"

#include <cstdlib>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    std::string_view input(reinterpret_cast<const char*>(data), size);
    const size_t zero = input.find('\0');
    const std::string_view formula = input.substr(0, zero);
    const std::string_view page = zero == std::string_view::npos ? std::string_view() : input.substr(zero + 1);

    vexory::TStringCutOuter cutter;
    cutter.SetFormula(formula);
    cutter.CutOut(page);
    const size_t rows = cutter.FieldCount() ? cutter.Field(0)->size() : 0;
    for (int i = 0; i < cutter.FieldCount(); ++i) {
        const auto& column = *cutter.Field(i);
        if (column.size() != rows)
            std::abort();
        for (size_t r = 1; r < column.size(); ++r)
            if (page.find(column[r]) == std::string_view::npos)
                std::abort();
    }
    return 0;
}
