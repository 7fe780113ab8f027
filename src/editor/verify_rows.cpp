#include "editor/verify_rows.h"

#include "base/text_helpers.h"
#include "formula/verify_formula.h"

#include <string_view>

namespace vexory {

namespace {

constexpr std::string_view kArithmetic{"\0+-*/", 5}; // by index; 0 is none
constexpr std::string_view kComparisons = "=<>!^#";

} // namespace

std::string ConditionText(const ConditionRow& row)
{
    std::string text(1, row.conjunction == 1 ? '|' : '&');
    const bool first = row.field1 > 0, second = row.field2 > 0;
    if (row.arithmetic > 0 && row.arithmetic < 5) {
        if (!first && !second)
            return {};
        if (first && second) {
            text += static_cast<char>(row.field1);
            text += kArithmetic[static_cast<size_t>(row.arithmetic)];
            text += static_cast<char>(row.field2);
        } else {
            text += static_cast<char>(first ? row.field1 : row.field2);
        }
    } else if (first) {
        text += static_cast<char>(row.field1);
    } else if (second) {
        text += static_cast<char>(row.field2);
    } else {
        return {};
    }
    const size_t comparison = row.comparison >= 0 && row.comparison < 6 ? static_cast<size_t>(row.comparison) : 0;
    text += kComparisons[comparison];
    text += CompactHtml(row.value);
    return text;
}

std::string BuildVerifyFormula(const std::vector<ConditionRow>& rows)
{
    std::string text;
    for (size_t i = 0; i < rows.size(); ++i) {
        ConditionRow row = rows[i];
        if (i == 0)
            row.conjunction = 0; // the first row is always "and"
        text += ConditionText(row);
    }
    if (!text.empty() && (text.front() == '&' || text.front() == '|'))
        text.erase(0, 1);
    return text;
}

std::vector<ConditionRow> LoadVerifyFormula(const std::string& text, int fieldCount)
{
    TFormulaChecker checker;
    if (!checker.Parse(text) || checker.Conditions().empty())
        return {ConditionRow{}};
    auto field = [fieldCount](unsigned char code) { return code <= fieldCount ? static_cast<int>(code) : -1; };
    std::vector<ConditionRow> rows;
    for (const TCondition& c : checker.Conditions()) {
        ConditionRow row;
        row.conjunction = c.IsAnd ? 0 : 1;
        row.field1 = field(c.Field1);
        row.field2 = field(c.Field2);
        const size_t op = c.Operator ? kArithmetic.find(static_cast<char>(c.Operator), 1) : 0;
        row.arithmetic = op == std::string_view::npos ? 0 : static_cast<int>(op);
        const size_t cmp = kComparisons.find(static_cast<char>(c.Comparison));
        row.comparison = cmp == std::string_view::npos ? 0 : static_cast<int>(cmp);
        row.value = c.Value;
        rows.push_back(std::move(row));
    }
    return rows;
}

} // namespace vexory
