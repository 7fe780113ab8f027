#include "formula/html_text_list.h"
#include "formula/markers.h"

#include <gtest/gtest.h>

#include <algorithm>

using namespace vexory;

namespace {

std::vector<std::string> chunks(const THtmlTextList& list)
{
    std::vector<std::string> out;
    for (size_t i = 0; i < list.Count(); ++i)
        out.emplace_back(list.Chunk(i));
    return out;
}

using Texts = std::vector<std::string>;

} // namespace

TEST(HtmlTextList, AWrappingElementIsLookedThrough)
{
    THtmlTextList list;
    list.Parse("<div><p>a</p><p>b</p></div>");
    EXPECT_EQ(chunks(list), (Texts{"<p>a</p>", "<p>b</p>"}));
    ASSERT_NE(list.Child(0), nullptr);
    EXPECT_EQ(chunks(*list.Child(0)), Texts{"a"});
    EXPECT_EQ(chunks(*list.Child(1)), Texts{"b"});
    EXPECT_EQ(list.Child(0)->Child(0), nullptr); // plain text cannot be split
}

TEST(HtmlTextList, LoneTagsAndTextRuns)
{
    THtmlTextList list;
    list.Parse("x<br>y");
    EXPECT_EQ(chunks(list), (Texts{"x", "<br>", "y"}));
    list.Parse("<b>x<br>y</b>");
    EXPECT_EQ(chunks(list), (Texts{"<b>", "x", "<br>", "y", "</b>"}));
    list.Parse("just text");
    EXPECT_EQ(list.Count(), 0u);
}

TEST(HtmlTextList, PathTextsBuildOnlyWhatThePathsNeed)
{
    THtmlTextList list;
    EXPECT_EQ(list.GetPathTexts("<p>a</p><p>b</p>", {{1}}), "<p>a</p>");
    EXPECT_EQ(list.GetPathTexts("<p>a</p><p>b</p>", {{1, 1}}), "a");
    EXPECT_EQ(list.GetPathTexts("<p>a</p><p>b</p>", {{2, 1}, {1}}), "b\x07<p>a</p>");
    EXPECT_EQ(list.GetPathTexts("<p>a</p><p>b</p>", {{3}}), "");
    EXPECT_EQ(list.GetPathTexts("<p>a</p><p>b</p>", {{0}}), "<p>a</p><p>b</p>");
}

TEST(HtmlTextList, NegativeComponentsTakeEveryChunkFromTheKth)
{
    const std::string five = "<li>1</li><li>2</li><li>3</li><li>4</li><li>5</li>";
    THtmlTextList list;
    // A path ending in a negative component builds no sub-levels: five empty blocks.
    EXPECT_EQ(list.GetPathTexts(five, {{-1}}), "\x08\x08\x08\x08");
    EXPECT_EQ(list.GetPathTexts(five, {{-1, 0}}), "1\x08" "2\x08" "3\x08" "4\x08" "5");
    EXPECT_EQ(list.GetPathTexts(five, {{-4, 1}}), "4\x08" "5");
    EXPECT_EQ(list.GetPathTexts(five, {{-9, 1}}), "");
}

TEST(HtmlTextList, PathOfAndRepeatLevel)
{
    THtmlTextList list;
    list.Parse("<table><tr><td>a1</td><td>b1</td></tr><tr><td>a2</td><td>b2</td></tr><tr><td>a3</td><td>b3</td></tr>"
               "</table>");
    EXPECT_EQ(list.PathOf("b2"), "2.2.1");
    EXPECT_EQ(list.PathOf("zz"), "0");
    IndexPath a, b;
    ASSERT_TRUE(ParseIndexPath(list.PathOf("a1"), a));
    ASSERT_TRUE(ParseIndexPath(list.PathOf("b1"), b));
    // The two cells differ at level 1, so level 0 (the rows) is the one that repeats.
    EXPECT_EQ(list.ChooseRepeatLevel({a, b}), 0);
    EXPECT_EQ(list.ChooseRepeatLevel({}), -1);
    EXPECT_EQ(list.ChooseRepeatLevel({{1, 1}, {2, 1}}), -1); // differ at the first level
}

TEST(HtmlTextList, DumpTreeIndentsChildrenBetweenTheirTags)
{
    THtmlTextList list;
    list.Parse("<ul><li>a</li><li><b>b</b>c</li></ul>");
    std::vector<std::string> lines;
    list.DumpTree(lines, "", TreeIndent);
    EXPECT_EQ(lines, (Texts{"<li>", "  a", "</li>", "<li>", "  <b>", "    b", "  </b>", "  c", "</li>"}));
}

TEST(HtmlTextList, IndexPaths)
{
    IndexPath p;
    EXPECT_TRUE(ParseIndexPath("2.-1.3", p));
    EXPECT_EQ(p, (IndexPath{2, -1, 3}));
    EXPECT_TRUE(ParseIndexPath(" +1.", p));
    EXPECT_EQ(p, IndexPath{1});
    EXPECT_FALSE(ParseIndexPath("1..2", p));
    EXPECT_FALSE(ParseIndexPath("", p));
    EXPECT_FALSE(ParseIndexPath("x", p));
    EXPECT_FALSE(ParseIndexPath("2147483648", p));
    EXPECT_EQ(FormatIndexPath({2, -1, 3}), "2.-1.3");
}

TEST(HtmlTextList, DeepNestingParsesWithoutExhaustingTheStack)
{
    std::string page;
    const int depth = 20000;
    for (int i = 0; i < depth; ++i)
        page += "<div>";
    page += "<i>x</i><i>y</i>";
    for (int i = 0; i < depth; ++i)
        page += "</div>";
    THtmlTextList list;
    list.Parse(page);
    // Each level is one wrapping element: the tree goes down to the two <i> elements.
    const THtmlTextList* level = &list;
    int levels = 0;
    while (level->Count() == 1 && level->Child(0)) {
        level = level->Child(0);
        ++levels;
    }
    EXPECT_GT(levels, depth / 2 - 5);
    EXPECT_EQ(chunks(*level), (Texts{"<i>x</i>", "<i>y</i>"}));
    // Walking and dumping the deep tree do not recurse either.
    const std::string path = list.PathOf("y");
    EXPECT_GE(std::count(path.begin(), path.end(), '.'), levels);
    // (A dump repeats the indentation on every line, so it grows with depth squared: a smaller tree.)
    std::string smaller;
    for (int i = 0; i < 3000; ++i)
        smaller += "<div>";
    smaller += "<i>x</i><i>y</i>";
    for (int i = 0; i < 3000; ++i)
        smaller += "</div>";
    THtmlTextList small;
    small.Parse(smaller);
    std::vector<std::string> lines;
    small.DumpTree(lines, "", TreeIndent);
    EXPECT_GT(lines.size(), 3000u); // an opening and a closing line per level
    auto deepest = std::find_if(lines.begin(), lines.end(), [](const std::string& l) {
        return l.size() > 2000 && l.back() == 'y' && l.find_first_not_of(' ') == l.size() - 1;
    });
    EXPECT_NE(deepest, lines.end());
}
