#include "platform/codepage.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <vector>

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
    EXPECT_EQ(GbkToUtf8("a\xFF"
                        "b"),
              "a?b");
    EXPECT_EQ(GbkToUtf8("ab\xC8"), "ab?"); // a lead byte cut off at the end
    EXPECT_EQ(Utf8ToGbk("a\xC3"), "a?");
    EXPECT_EQ(Utf8ToGbk("a\x80\x80z"), "a??z"); // stray continuation bytes, one mark each
    EXPECT_EQ(Utf8ToGbk("a\xE6\xB5z"), "a?z");  // a cut-off character is one mark
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

namespace {

std::string utf8Of(uint32_t cp)
{
    std::string s;
    if (cp < 0x80) {
        s += static_cast<char>(cp);
    } else if (cp < 0x800) {
        s += static_cast<char>(0xC0 | cp >> 6);
        s += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        s += static_cast<char>(0xE0 | cp >> 12);
        s += static_cast<char>(0x80 | (cp >> 6 & 0x3F));
        s += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        s += static_cast<char>(0xF0 | cp >> 18);
        s += static_cast<char>(0x80 | (cp >> 12 & 0x3F));
        s += static_cast<char>(0x80 | (cp >> 6 & 0x3F));
        s += static_cast<char>(0x80 | (cp & 0x3F));
    }
    return s;
}

// "" when equal, otherwise where they part (a short window, so a failure stays readable).
template <typename Text> std::string difference(const Text& fast, const Text& reference)
{
    if (fast == reference)
        return {};
    size_t at = 0;
    while (at < fast.size() && at < reference.size() && fast[at] == reference[at])
        ++at;
    auto window = [&](const Text& t) {
        std::string out;
        for (size_t k = at > 8 ? at - 8 : 0; k < std::min(t.size(), at + 8); ++k)
            out += std::to_string(static_cast<unsigned>(t[k]) & (sizeof t[k] == 1 ? 0xFFu : 0xFFFFu)) + " ";
        return out;
    };
    return "at " + std::to_string(at) + ": fast " + window(fast) + "| iconv " + window(reference);
}

void expectSameAsIconv(const std::string& bytes, const std::string& what)
{
    bool referenceExact = true;
    const std::string reference = iconv_reference::Utf8ToGbk(bytes, &referenceExact);
    ASSERT_EQ(difference(Utf8ToGbk(bytes), reference), "") << what;
    ASSERT_EQ(Utf8ToGbkStrict(bytes).has_value(), referenceExact) << what;
    ASSERT_EQ(difference(GbkToUtf8(bytes), iconv_reference::GbkToUtf8(bytes)), "") << what;
    ASSERT_EQ(difference(GbkToUtf16(bytes), iconv_reference::GbkToUtf16(bytes)), "") << what;
    std::u16string units(bytes.size() / 2, u'\0');
    std::memcpy(units.data(), bytes.data(), units.size() * 2);
    ASSERT_EQ(difference(Utf16ToGbk(units), iconv_reference::Utf16ToGbk(units)), "") << what;
}

} // namespace

TEST(CodePage, EveryCodePointConvertsAsIconvDoes)
{
    // Each code point alone, between ASCII letters, in UTF-8 and UTF-16.
    std::string utf8;
    std::u16string utf16;
    // Every code point of the Basic Multilingual Plane; beyond it, where nothing is
    // in the code page, every 61st and the tag characters iconv drops.
    for (uint32_t cp = 0; cp < 0x110000; cp += cp < 0x10000 || (cp >= 0xDFF00 && cp < 0xE0100) ? 1 : 61) {
        utf8 += utf8Of(cp) + "a";
        if (cp < 0x10000) {
            utf16 += static_cast<char16_t>(cp);
        } else {
            utf16 += static_cast<char16_t>(0xD800 + ((cp - 0x10000) >> 10));
            utf16 += static_cast<char16_t>(0xDC00 + ((cp - 0x10000) & 0x3FF));
        }
        utf16 += u'a';
    }
    EXPECT_EQ(difference(Utf8ToGbk(utf8), iconv_reference::Utf8ToGbk(utf8)), "");
    EXPECT_EQ(difference(Utf16ToGbk(utf16), iconv_reference::Utf16ToGbk(utf16)), "");
    // Every byte and every pair of bytes, alone and run together.
    std::string spaced, joined;
    for (unsigned a = 0; a < 256; ++a) {
        spaced += static_cast<char>(a);
        spaced += ' ';
        for (unsigned b = 0; b < 256; ++b) {
            const char pair[2] = {static_cast<char>(a), static_cast<char>(b)};
            spaced.append(pair, 2);
            spaced += ' ';
            joined.append(pair, 2);
        }
    }
    EXPECT_EQ(difference(GbkToUtf8(spaced), iconv_reference::GbkToUtf8(spaced)), "");
    EXPECT_EQ(difference(GbkToUtf16(spaced), iconv_reference::GbkToUtf16(spaced)), "");
    EXPECT_EQ(difference(GbkToUtf8(joined), iconv_reference::GbkToUtf8(joined)), "");
    EXPECT_EQ(difference(GbkToUtf16(joined), iconv_reference::GbkToUtf16(joined)), "");
}

TEST(CodePage, RandomMixedTextsConvertAsIconvDoes)
{
    // Texts of ASCII, Chinese, other scripts, stray and cut-off bytes, and every
    // end: each of the four directions gives iconv's bytes.
    std::mt19937 random(936);
    const std::vector<std::string> pieces = {
        "a",        "<td>",     "\xE4\xB8\xAD", "\xE6\x96\x87", "\xC3\xA9",         "\xF0\x9F\x98\x80",  "\xE2\x82\xAC",
        "\xD6\xD0", "\xCE\xC4", "\x80",         "\xFF",         "\xC0\x80",         "\xED\xA0\x80",      "\xE4\xB8",
        "\xF0\x9F", "\x81",     "\xA1\x40",     "\r\n",         "\xF3\xA0\x80\x81", std::string(1, '\0')};
    for (int round = 0; round < 3000; ++round) {
        std::string text;
        const int count = static_cast<int>(random() % 40);
        for (int k = 0; k < count; ++k) {
            if (random() % 4 == 0)
                text += static_cast<char>(random() % 256);
            else
                text += pieces[random() % pieces.size()];
        }
        expectSameAsIconv(text, "round " + std::to_string(round));
    }
}
