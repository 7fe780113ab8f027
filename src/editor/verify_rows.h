#pragma once

// The verification condition rows of the task editor and their formula text, both
// ways, without the widgets: a row is a conjunction (0 "并且", 1 "或者"), two field
// indexes (0 empty, k the k-th field), an arithmetic index (0 none, 1 + 2 - 3 * 4 /),
// a comparison index (0 = 1 < 2 > 3 ! 4 ^ 5 #) and a value.

#include <string>
#include <vector>

namespace vexory {

struct ConditionRow
{
    int conjunction = 0;
    int field1 = 0;
    int arithmetic = 0;
    int field2 = 0;
    int comparison = 0;
    std::string value;
};

// The text of one row; "" when it names no field.
std::string ConditionText(const ConditionRow& row);

// The first row (its conjunction ignored) and the added rows, as formula text.
std::string BuildVerifyFormula(const std::vector<ConditionRow>& rows);

// The rows of a formula text; one reset row when it cannot be read or has no
// condition. A field code beyond `fieldCount` gives the field index -1 (no selection).
std::vector<ConditionRow> LoadVerifyFormula(const std::string& text, int fieldCount);

} // namespace vexory
