#include "platform/codepage.h"

#include <gtest/gtest.h>

using namespace vexory;

TEST(CodePage, ChineseTextRoundTrips)
{
    const std::string utf8 = "任务 abc 数据验证通过 ■□ €";
    const std::string gbk = Utf8ToGbk(utf8);
    EXPECT_EQ(gbk.substr(0, 4), "\xC8\xCE\xCE\xF1");
    EXPECT_EQ(gbk.back(), '\x80'); // the euro sign of code page 936
    EXPECT_EQ(GbkToUtf8(gbk), utf8);
    EXPECT_EQ(Utf16ToGbk(GbkToUtf16(gbk)), gbk);
    EXPECT_EQ(GbkToUtf16("a\xC8\xCE"), u"a任");
}

TEST(CodePage, CharactersGbkCannotHoldBecomeQuestionMarks)
{
    EXPECT_EQ(Utf8ToGbk("a😀b"), "a?b");
    EXPECT_EQ(Utf8ToGbk("x\xE0\xA4\x85y"), "x?y"); // Devanagari letter
    EXPECT_EQ(Utf16ToGbk(u"a\U0001F600b"), "a?b");
    EXPECT_EQ(Utf16ToGbk(std::u16string(u"a") + char16_t(0xD800) + u"b"), "a?b"); // lone surrogate
    EXPECT_FALSE(Utf8ToGbkStrict("a😀b").has_value());
    EXPECT_EQ(Utf8ToGbkStrict("测试").value(), "\xB2\xE2\xCA\xD4");
    EXPECT_EQ(Utf8ToGbkStrict("").value(), "");
}

TEST(CodePage, InvalidInputBecomesQuestionMarks)
{
    EXPECT_EQ(GbkToUtf8("a\xFF" "b"), "a?b");
    EXPECT_EQ(GbkToUtf8("ab\xC8"), "ab?"); // a lead byte cut off at the end
    EXPECT_EQ(Utf8ToGbk("a\xC3"), "a?");
    EXPECT_EQ(Utf8ToGbk("a\x80\x80z"), "a??z"); // stray continuation bytes, one mark each
    EXPECT_EQ(Utf8ToGbk("a\xE6\xB5z"), "a?z");    // a cut-off character is one mark
}

TEST(CodePage, PagesInOtherCharacterSets)
{
    EXPECT_EQ(CharsetToGbk("\xE6\xB5\x8B", "utf-8"), "\xB2\xE2");
    EXPECT_EQ(CharsetToGbk("\xB2\xE2", "gb2312"), "\xB2\xE2");
    EXPECT_EQ(CharsetToGbk("\xB2\xE2", "GBK"), "\xB2\xE2");
    EXPECT_EQ(CharsetToGbk("caf\xE9", "iso-8859-1"), "caf\xA8\xA6"); // GBK holds pinyin letters
    EXPECT_EQ(CharsetToGbk("x\xFEy", "iso-8859-1"), "x?y");
    EXPECT_EQ(CharsetToGbk("\xE6\xB5\x8B", ""), "\xB2\xE2");
    EXPECT_EQ(CharsetToGbk("\xE6\xB5\x8B", "no-such-charset"), "\xB2\xE2");
}

TEST(CodePage, LargeTextsConvertWhole)
{
    std::string utf8;
    for (int i = 0; i < 200000; ++i)
        utf8 += "数据a";
    EXPECT_EQ(GbkToUtf8(Utf8ToGbk(utf8)), utf8);
}
