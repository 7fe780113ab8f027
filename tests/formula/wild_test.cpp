#include "formula/wild.h"

#include <gtest/gtest.h>

using namespace vexory;

namespace {

std::pair<int, int> find(std::string_view text, std::string_view pattern, int from)
{
    WildMatch m = WildFind(text, pattern, from);
    return {m.pos, m.len};
}

std::pair<int, int> back(std::string_view text, std::string_view pattern, int end)
{
    WildMatch m = WildFindBack(text, pattern, end);
    return {m.pos, m.len};
}

using P = std::pair<int, int>;

} // namespace

TEST(WildFind, LeftmostWithEveryWildcardAsShortAsPossible)
{
    EXPECT_EQ(find("xa1b2b", "a[*]b", 1), P(2, 3));
    EXPECT_EQ(find("xa1b2b", "a[*]b", 3), P(0, 0));
    EXPECT_EQ(find("abc", "[*]", 2), P(2, 2));
    EXPECT_EQ(find("abc", "[*]", 4), P(0, 0));
    EXPECT_EQ(find("abc", "[*]", 0), P(1, 3));
    EXPECT_EQ(find("abc", "b", 1), P(2, 1));
    EXPECT_EQ(find("abc", "", 1), P(0, 0));
    EXPECT_EQ(find("abcabc", "[*]c", 2), P(2, 2));   // head empty: starts at `from`
    EXPECT_EQ(find("xa", "a[*]", 1), P(2, 1));       // tail empty: to the end
    EXPECT_EQ(find("xa", "a[*][*]", 1), P(0, 0));    // the inner "[*]" starts beyond the end
    EXPECT_EQ(find("a1b2c", "a[*]b[*]c", 1), P(1, 5));
    EXPECT_EQ(find("a1b2", "a[*]b[*]c", 1), P(0, 0));
    EXPECT_EQ(find("<b><b>k</b>", "<b>[*]</b>", 1), P(1, 11));
}

TEST(WildFindBack, LastPossibleOccurrenceOfEachLiteral)
{
    EXPECT_EQ(back("<b><b>k</b>", "<b>[*]</b>", 12), P(4, 8));
    EXPECT_EQ(back("<b><b>k</b>", "<b>[*]</b>", 11), P(0, 0)); // would end at 11, not before it
    EXPECT_EQ(back("abc", "[*]", 3), P(1, 2));
    EXPECT_EQ(back("abc", "[*]", 10), P(1, 3));
    EXPECT_EQ(back("abc", "[*]", 1), P(0, 0));
    EXPECT_EQ(back("abcb", "b", 5), P(4, 1));
    EXPECT_EQ(back("abcabc", "[*]c", 7), P(1, 6)); // head empty: from position 1
    EXPECT_EQ(back("xaxa", "a[*]", 5), P(4, 1));   // tail empty: runs to the end
    EXPECT_EQ(back("a1b2a3b4", "a[*]b", 9), P(5, 3));
}

TEST(WildReplace, FirstOrAllAndIgnoringCase)
{
    EXPECT_EQ(WildReplace("a<b>c<d>e", "<[*]>", "", kReplaceAll), "ace");
    EXPECT_EQ(WildReplace("a<b>c<d>e", "<[*]>", "_", 0), "a_c<d>e");
    EXPECT_EQ(WildReplace("x<SCRIPT>1</Script>y", "<script[*]</script>", "", kReplaceAll | kIgnoreCase), "xy");
    EXPECT_EQ(WildReplace("x<SCRIPT>1</Script>y", "<script[*]</script>", "", kReplaceAll), "x<SCRIPT>1</Script>y");
    EXPECT_EQ(WildReplace("aaa", "a", "b", kReplaceAll), "bbb");
    EXPECT_EQ(WildReplace("abc", "zz", "y", kReplaceAll), "abc");
}

TEST(WildReplace, ProducedReplacementsAndSkippedMatches)
{
    auto upper = [](std::string_view m) {
        if (m == "<b>")
            return std::string(); // keep this one
        std::string s(m);
        for (char& c : s)
            c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        return s;
    };
    EXPECT_EQ(WildReplaceWith("<a>x<b>y<i>", "<[*]>", upper, kReplaceAll), "<A>x<b>y<I>");
}
