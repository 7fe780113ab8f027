#include "formula/verify_formula.h"

#include <gtest/gtest.h>

using namespace vexory;

namespace {

// A condition text: field bytes are the 1-based field numbers.
std::string field(int n)
{
    return std::string(1, static_cast<char>(n));
}

bool passes(const std::string& formula, std::vector<std::string> values)
{
    TFormulaChecker checker;
    checker.Parse(formula);
    return checker.Check(values);
}

} // namespace

TEST(VerifyFormula, ComparisonsOfOneField)
{
    EXPECT_TRUE(passes(field(1) + "=abc", {"abc"}));
    EXPECT_FALSE(passes(field(1) + "=abc", {"ABC"}));
    EXPECT_TRUE(passes(field(1) + ">5", {"5"}));
    EXPECT_TRUE(passes(field(1) + ">5", {"7"}));
    EXPECT_FALSE(passes(field(1) + ">5", {"4"}));
    EXPECT_TRUE(passes(field(1) + "<5", {"5"}));
    EXPECT_TRUE(passes(field(1) + ">", {"1"}));   // an empty value compares as 0
    EXPECT_FALSE(passes(field(1) + ">", {"-1"}));
    EXPECT_FALSE(passes(field(1) + "!x", {""})); // an empty side is false for every comparison
    EXPECT_FALSE(passes(field(1) + "#x", {""}));
    EXPECT_TRUE(passes(field(1) + "!x", {"y"}));
    EXPECT_FALSE(passes(field(2) + "=a", {"a"})); // a field beyond the record is empty
    EXPECT_TRUE(passes(field(1) + "^\xB2\xE2", {"\xCA\xFD\xB2\xE2"}));
    // Byte for byte "\xE2\xCA" occurs inside, but not as a character.
    EXPECT_FALSE(passes(field(1) + "^\xE2\xCA", {"\xB2\xE2\xCA\xD4"}));
    EXPECT_TRUE(passes(field(1) + "#\xE2\xCA", {"\xB2\xE2\xCA\xD4"}));
    EXPECT_FALSE(passes(field(1) + "^", {"abc"})); // an empty text is never found
    EXPECT_TRUE(passes(field(1) + "#", {"abc"}));
}

TEST(VerifyFormula, Arithmetic)
{
    const std::string sum = field(1) + "+" + field(2);
    EXPECT_TRUE(passes(sum + "=3", {"1", "2"}));
    EXPECT_TRUE(passes(sum + "=ab", {"a", "b"}));
    EXPECT_TRUE(passes(sum + "=x", {"1", "2"}) == false);
    EXPECT_TRUE(passes(field(1) + "-" + field(2) + "=ac", {"abc", "B"}));
    EXPECT_TRUE(passes(field(1) + "-" + field(2) + "=0.5", {"1", "0.5"}));
    EXPECT_TRUE(passes(field(1) + "/" + field(2) + "=1", {"0", "0"}));
    EXPECT_TRUE(passes(field(1) + "/" + field(2) + "=1.18973149535723E4932", {"4", "0"}));
    EXPECT_TRUE(passes(field(1) + "/" + field(2) + "=0.25", {"1", "4"}));
    EXPECT_FALSE(passes(field(1) + "*" + field(2) + "=6", {"2", "x"}));
    EXPECT_TRUE(passes(field(1) + "*" + field(2) + "=6", {"2", "3"}));
    EXPECT_TRUE(passes(field(1) + "*" + field(2) + "=7", {" ", "7"})); // a blank side gives the other
}

TEST(VerifyFormula, AndBindsTighterThanOr)
{
    const std::string p = field(1) + "=p", q = field(2) + "=q", r = field(3) + "=r";
    // P & Q | R with P false, Q true, R true passes.
    EXPECT_TRUE(passes(p + "&" + q + "|" + r, {"x", "q", "r"}));
    // P | Q & R with P false, Q true, R false fails.
    EXPECT_FALSE(passes(p + "|" + q + "&" + r, {"x", "q", "x"}));
    EXPECT_TRUE(passes(p + "|" + q + "&" + r, {"p", "x", "x"}));
}

TEST(VerifyFormula, ParseFailuresLetEveryRecordThrough)
{
    TFormulaChecker checker;
    EXPECT_FALSE(checker.Parse(""));
    EXPECT_TRUE(checker.Check({"anything"}));
    EXPECT_FALSE(checker.Parse(field(1) + "=a&b")); // "b" has no comparison: the whole formula goes
    EXPECT_TRUE(checker.Conditions().empty());
    EXPECT_FALSE(checker.Parse("ab=c"));                      // comparison at position 3
    EXPECT_FALSE(checker.Parse(field(1) + "%" + field(2) + "=c")); // not an operator
    EXPECT_FALSE(checker.Parse(std::string(1, '\0') + "=c"));
    ASSERT_TRUE(checker.Parse(field(1) + "=a|" + field(2) + ">3&" + field(1) + "!b"));
    ASSERT_EQ(checker.Conditions().size(), 3u);
    EXPECT_EQ(checker.Conditions()[1].IsAnd, 0);
    EXPECT_EQ(checker.Conditions()[2].IsAnd, 1);
    EXPECT_EQ(checker.Conditions()[1].Value, "3");
    // The comparison found first in the order > < = ! ^ # decides, not the leftmost:
    // a ">" in the value of an "=" condition breaks it.
    EXPECT_FALSE(checker.Parse(field(1) + "=a>b"));
    EXPECT_TRUE(checker.Parse(field(1) + ">a=b"));
}

TEST(VerifyFormula, CompareNumbered)
{
    EXPECT_EQ(CompareNumbered("2024-1-5", "2024-01-10"), 2);
    EXPECT_EQ(CompareNumbered("v10", "v9"), 1);
    EXPECT_EQ(CompareNumbered("10\xD4\xAA", "10 \xD4\xAA"), 0);
    EXPECT_EQ(CompareNumbered("abc", "abd"), 0);
    EXPECT_EQ(CompareNumbered("a01", "a1"), 3);
    EXPECT_FALSE(passes(field(1) + "<abd", {"abc"}));
    EXPECT_FALSE(passes(field(1) + ">abd", {"abc"}));
    EXPECT_TRUE(passes(field(1) + "<2024-01-10", {"2024-1-5"}));
}

TEST(VerifyFormula, NumbersAsText)
{
    EXPECT_EQ(FormatNumber(3), "3");
    EXPECT_EQ(FormatNumber(-2.5L), "-2.5");
    EXPECT_EQ(FormatNumber(0.1L + 0.2L), "0.3");
    EXPECT_EQ(FormatNumber(1.0L / 3), "0.333333333333333");
    EXPECT_EQ(FormatNumber(123456789012345.0L), "123456789012345");
    EXPECT_EQ(FormatNumber(1e15L), "1E15");
    EXPECT_EQ(FormatNumber(0.00001L), "0.00001");
    EXPECT_EQ(FormatNumber(0.000001L), "1E-6");
    EXPECT_EQ(FormatNumber(1.5e-20L), "1.5E-20");
    EXPECT_EQ(FormatNumber(0), "0");
}
