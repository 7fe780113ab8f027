// Generated pages, hostile ones included, go through every page operation and
// finish; the fast tag matching agrees with the plain one on them.

#include "formula/grab_formula.h"
#include "formula/html_text_list.h"
#include "formula/page_prep.h"
#include "page_generator.h"

#include <gtest/gtest.h>

using namespace vexory;

namespace {

constexpr size_t kSize = 256 << 10;

} // namespace

TEST(HostilePages, ListingIsCutWithAndWithoutIndexMarkers)
{
    const std::string page = PreparePage(bench::ListingPage(kSize)).lower;
    TStringCutOuter plain, indexed;
    plain.SetFormula(bench::kListingFormula);
    plain.CutOut(page);
    indexed.SetFormula(bench::kListingIndexFormula);
    indexed.CutOut(page);
    ASSERT_GT(plain.RowCount(), 100);
    EXPECT_EQ(indexed.RowCount(), plain.RowCount());
    EXPECT_EQ(*indexed.Field(0), *plain.Field(0));
    EXPECT_EQ(*indexed.Field(1), *plain.Field(1));
    EXPECT_EQ(indexed.FieldCount(), 4);
}

TEST(HostilePages, UnclosedTagsAndDeepNestingFinish)
{
    for (const std::string& raw : {bench::UnclosedTagsPage(kSize), bench::NestedPage(kSize)}) {
        const PreparedPage page = PreparePage(raw);
        THtmlTextList tree;
        tree.Parse(page.lower);
        EXPECT_GT(tree.Count(), 0u);
        TStringCutOuter cutter;
        cutter.SetFormula("[>1.-1.0<]<p>{>a<}</p>");
        cutter.CutOut(page.lower);
        cutter.SetFormula("<li>{>a<}<");
        cutter.CutOut(page.lower);
        std::vector<std::string> lines;
        tree.DumpTree(lines, "", "  ");
        EXPECT_FALSE(lines.empty());
    }
}
