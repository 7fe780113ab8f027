#pragma once

// Verification formulas: conditions over the fields of a record, joined by "&"
// (and) and "|" (or); "and" binds tighter. A condition is one field byte (its
// 1-based column number), optionally an operator + - * / and a second field byte,
// then a comparison = < > ! ^ # and a value up to the next connective.

#include <string>
#include <string_view>
#include <vector>

namespace vexory {

struct TCondition
{
    unsigned char IsAnd = 1;
    unsigned char Field1 = 0;
    unsigned char Operator = 0;
    unsigned char Field2 = 0;
    unsigned char Comparison = 0;
    std::string Value;
};

class TFormulaChecker
{
public:
    // Replaces the conditions by those of `text`; false (and no conditions) when it
    // does not follow the grammar.
    bool Parse(std::string_view text);
    // True when the record passes (always, without conditions).
    bool Check(const std::vector<std::string>& values) const;
    bool EvaluateCondition(const std::vector<std::string>& values, const TCondition& condition) const;

    const std::vector<TCondition>& Conditions() const { return m_conditions; }

private:
    std::vector<TCondition> m_conditions;
};

// Ordering of texts that differ only in their numbers: 0 not comparable, 1 a is
// greater, 2 a is smaller, 3 equal.
int CompareNumbered(std::string_view a, std::string_view b);

// A number as text: 15 significant digits, "." as decimal separator.
std::string FormatNumber(long double value);

} // namespace vexory
