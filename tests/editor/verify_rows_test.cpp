#include "editor/verify_rows.h"

#include <gtest/gtest.h>

using namespace vexory;

namespace {

ConditionRow row(int conjunction, int f1, int op, int f2, int comparison, std::string value)
{
    return ConditionRow{conjunction, f1, op, f2, comparison, std::move(value)};
}

bool same(const ConditionRow& a, const ConditionRow& b)
{
    return a.conjunction == b.conjunction && a.field1 == b.field1 && a.arithmetic == b.arithmetic &&
           a.field2 == b.field2 && a.comparison == b.comparison && a.value == b.value;
}

} // namespace

TEST(VerifyRows, RowsToTextAndBack)
{
    // aa = 5, and ab > 3.
    const std::vector<ConditionRow> rows{row(0, 1, 0, 0, 0, "5"), row(0, 2, 0, 0, 2, "3")};
    const std::string text = BuildVerifyFormula(rows);
    EXPECT_EQ(text, "\x01=5&\x02>3");
    const std::vector<ConditionRow> back = LoadVerifyFormula(text, 2);
    ASSERT_EQ(back.size(), 2u);
    EXPECT_TRUE(same(back[0], rows[0]));
    EXPECT_TRUE(same(back[1], rows[1]));

    // Arithmetic with both fields comes back the same.
    const std::vector<ConditionRow> sum{row(0, 1, 1, 2, 0, "3")};
    EXPECT_EQ(BuildVerifyFormula(sum), "\x01+\x02=3");
    EXPECT_TRUE(same(LoadVerifyFormula("\x01+\x02=3", 2)[0], sum[0]));

    // Arithmetic with the second field only: one field, loaded as the first without arithmetic.
    EXPECT_EQ(BuildVerifyFormula({row(0, 0, 1, 2, 0, "x")}), "\x02=x");
    EXPECT_TRUE(same(LoadVerifyFormula("\x02=x", 2)[0], row(0, 2, 0, 0, 0, "x")));
}

TEST(VerifyRows, EmptyRowsAndValues)
{
    // An empty first row and one "或者" row: the leading "|" goes.
    EXPECT_EQ(BuildVerifyFormula({row(0, 0, 0, 0, 0, ""), row(1, 1, 0, 0, 4, "x")}), "\x01^x");
    EXPECT_EQ(BuildVerifyFormula({row(0, 0, 2, 0, 0, "v")}), "");
    EXPECT_EQ(ConditionText(row(1, 1, 0, 0, 0, "  a   b ")), "|\x01= a b ");
    // Unreadable or empty texts reset the first row.
    EXPECT_EQ(LoadVerifyFormula("", 2).size(), 1u);
    EXPECT_TRUE(same(LoadVerifyFormula("", 2)[0], ConditionRow{}));
    EXPECT_TRUE(same(LoadVerifyFormula(BuildVerifyFormula({row(0, 1, 0, 0, 0, "a&b")}), 1)[0], ConditionRow{}));
    // A code beyond the field list leaves the box without a selection.
    EXPECT_EQ(LoadVerifyFormula("\x05=1", 2)[0].field1, -1);
}
