#include "base/string_list2.h"

#include <gtest/gtest.h>

using namespace vexory;

namespace {

std::vector<std::string> split(std::string_view sep, std::string_view text, bool keepEmpty)
{
    TStringList2 list;
    list.KeepEmpty = keepEmpty;
    list.SetSeparator(sep);
    list.Split(text);
    return list.Items();
}

using Items = std::vector<std::string>;

} // namespace

TEST(StringList2, SplitKeepsOrDropsEmptyPieces)
{
    EXPECT_EQ(split(",", "a,,b", true), (Items{"a", "", "b"}));
    EXPECT_EQ(split(",", "a,,b", false), (Items{"a", "b"}));
    EXPECT_EQ(split("::", "x::y::", true), (Items{"x", "y", ""}));
    EXPECT_EQ(split("::", "x::y::", false), (Items{"x", "y"}));
    EXPECT_EQ(split(",", "", true), (Items{""}));
    EXPECT_EQ(split(",", "", false), Items{});
    EXPECT_EQ(split(";", " a ; b\t;", false), (Items{"a", "b"}));
    EXPECT_EQ(split(";", " a ; b", true), (Items{" a ", " b"}));
    EXPECT_EQ(split("\x07",
                    "a\x07"
                    "b",
                    true),
              (Items{"a", "b"}));
    EXPECT_EQ(split("aa", "aaa", true), (Items{"", "a"})); // each search starts after the previous separator
}

TEST(StringList2, JoinSkipsEmptyItemsUnlessKept)
{
    TStringList2 list;
    list.SetSeparator(",");
    list.Add("a");
    list.Add("");
    list.Add("b");
    EXPECT_EQ(list.Join(), "a,b");
    list.KeepEmpty = true;
    EXPECT_EQ(list.Join(), "a,,b");
    list.SetSeparator("::");
    EXPECT_EQ(list.Join(), "a::::b");
    list.Clear();
    EXPECT_EQ(list.Join(), "");
    list.Add("");
    EXPECT_EQ(list.Join(), "");
}

TEST(StringList2, SeparatorRules)
{
    TStringList2 list;
    EXPECT_EQ(list.Separator(), "");
    list.SetSeparator("");
    EXPECT_EQ(list.Separator(), ""); // equal to the current one: nothing happens
    list.SetSeparator("::");
    list.SetSeparator("");
    EXPECT_EQ(list.Separator(), ","); // empty stands for the delimiter character
    list.SetSeparator(";");
    EXPECT_EQ(list.Delimiter(), ';');
    list.SetSeparator("");
    EXPECT_EQ(list.Separator(), ";");
    list.SetSeparator("<>");
    EXPECT_EQ(list.Delimiter(), ';'); // only a one-byte separator becomes the delimiter

    TStringList2 fresh;
    fresh.Add("x");
    fresh.Add("y");
    EXPECT_EQ(fresh.Join(), "x,y"); // Join takes the delimiter when no separator was set
}

TEST(StringList2, WithoutSeparatorTheTextIsCommaText)
{
    TStringList2 list;
    list.Split("a, b c,\"d,e\",\"f\"\"g\",");
    EXPECT_EQ(list.Items(), (Items{"a", "b", "c", "d,e", "f\"g", ""}));
    list.Split("   ");
    EXPECT_EQ(list.Items(), Items{});
}
