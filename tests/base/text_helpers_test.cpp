#include "base/ascii_fold.h"
#include "base/encoding.h"
#include "base/progress_format.h"
#include "base/text_helpers.h"
#include "base/text_search.h"

#include <gtest/gtest.h>

using namespace vexory;

TEST(Search, PosFromCountsFromOneAndZeroMeansNotFound)
{
    EXPECT_EQ(PosFrom("b", "abcb", 1), 2);
    EXPECT_EQ(PosFrom("b", "abcb", 3), 4);
    EXPECT_EQ(PosFrom("b", "abcb", 5), 0);
    EXPECT_EQ(PosFrom("", "abc", 1), 0);
    EXPECT_EQ(PosFrom("a", "", 1), 0);
    EXPECT_EQ(PosFrom("a", "abc", 0), 0);
    EXPECT_EQ(PosFrom("cd", "abc", 3), 0);
}

TEST(Search, LastPosFindsTheLastOccurrenceEndingBeforeTheLimit)
{
    EXPECT_EQ(LastPos("ab", "abxab", 2147483647), 4);
    EXPECT_EQ(LastPos("ab", "abxab", 6), 4); // ends at 5 = limit - 1
    EXPECT_EQ(LastPos("ab", "abxab", 5), 1); // would end at 5, not before 5
    EXPECT_EQ(LastPos("ab", "abxab", 3), 1);
    EXPECT_EQ(LastPos("ab", "abxab", 2), 0);
    EXPECT_EQ(LastPos("ab", "abxab", 1), 0);
    EXPECT_EQ(LastPos("", "abxab", 10), 0);
    EXPECT_EQ(LastPos("abc", "ab", 10), 0);
}

TEST(Search, PosTextIgnoresTheCaseOfLetters)
{
    EXPECT_EQ(PosText("<TD", "<p><td class", 1), 4);
    EXPECT_EQ(PosText("td", "xTD", 1), 2);
    EXPECT_EQ(PosText("td", "xTD", 3), 0);
    EXPECT_EQ(PosText("\xB2\xE2", "a\xB2\xE2", 1), 2); // other bytes compare exactly
    EXPECT_EQ(LowerAscii("AbC\xC4\xE3Z"), "abc\xC4\xE3z");
}

// Traditional and rare characters whose trail byte lies in "A".."Z": 學門關 (8C57 E954
// EA50), 丄 (8141), 乑 (815A), 汚 (9B41), 﨩 (FE4F).
constexpr const char* kTrailLetters = "\x8C\x57\xE9\x54\xEA\x50\x81\x41\x81\x5A\x9B\x41\xFE\x4F";

TEST(Lowercase, KeepsDoubleByteCharactersWhole)
{
    EXPECT_EQ(LowerAscii(kTrailLetters), kTrailLetters);
    EXPECT_EQ(LowerAscii(std::string("<TD>") + kTrailLetters + "</TD>X"),
              std::string("<td>") + kTrailLetters + "</td>x");
    // A lead byte at the very end has no trail; 0x80 and 0xFF stand alone.
    EXPECT_EQ(LowerAscii("A\x81"), "a\x81");
    EXPECT_EQ(LowerAscii("\x80"
                         "A\xFF"
                         "B"),
              "\x80"
              "a\xFF"
              "b");
    // Long runs go through the wide path and must agree with the byte walk.
    std::string page, expect;
    for (int i = 0; i < 40; ++i) {
        page += "ABCDEFGHIJKLMNOPQRSTUVWXYZ0123\x8C\x57";
        expect += "abcdefghijklmnopqrstuvwxyz0123\x8C\x57";
        page.append(static_cast<size_t>(i % 17), 'Q');
        expect.append(static_cast<size_t>(i % 17), 'q');
    }
    EXPECT_EQ(LowerAscii(page), expect);
    std::string inPlace = page;
    LowerAsciiInto(inPlace, inPlace.data());
    EXPECT_EQ(inPlace, expect);
}

TEST(Lowercase, PosTextNeverMatchesATrailByte)
{
    // "W" is the trail byte of 學: it is no letter there.
    EXPECT_EQ(PosText("w", "\x8C\x57w", 1), 3);
    EXPECT_EQ(PosText("\x8C\x57", "x\x8C\x57", 1), 2);
    EXPECT_EQ(PosText("\x8C\x77", "x\x8C\x57", 1), 0); // 寃 is not 學
    EXPECT_EQ(PosText("<TD>\xE9\x54", "<td>\xE9\x54", 1), 1);
}

TEST(CompactHtml, RemovesControlBytesAndBlanksAroundTagPunctuation)
{
    EXPECT_EQ(CompactHtml("a  \r\n b"), "a b");
    EXPECT_EQ(CompactHtml("<a href = 'x' >"), "<a href='x'>");
    EXPECT_EQ(CompactHtml("< / p >"), "</p>");
    EXPECT_EQ(CompactHtml(" x "), " x ");
    EXPECT_EQ(CompactHtml(" <p>"), "<p>"); // the first byte is only exempt from dropping
    EXPECT_EQ(CompactHtml("<br> "), "<br>");
    EXPECT_EQ(CompactHtml("a\tb\x7F"
                          "c"),
              "abc");
    EXPECT_EQ(CompactHtml("   "), " ");
    EXPECT_EQ(CompactHtml("\r\n"), "");
    EXPECT_EQ(CompactHtml("\xB2\xE2 \xCA\xD4"), "\xB2\xE2 \xCA\xD4");
}

TEST(StripSpace, RemovesEveryBlankAndControlByte)
{
    EXPECT_EQ(StripSpace(" a\tb\r\n"), "ab");
    EXPECT_EQ(StripSpace(std::string("x\0y\x7Fz", 5)), "xyz");
}

struct IntegerCase
{
    const char* text;
    bool integer;
    bool number;
};

void PrintTo(const IntegerCase& c, std::ostream* os)
{
    *os << '"' << c.text << '"';
}

class NumberTests : public ::testing::TestWithParam<IntegerCase>
{
};

TEST_P(NumberTests, IntegerAndNumberTests)
{
    EXPECT_EQ(IsInteger(GetParam().text), GetParam().integer) << GetParam().text;
    EXPECT_EQ(IsNumber(GetParam().text), GetParam().number) << GetParam().text;
}

INSTANTIATE_TEST_SUITE_P(
    Table, NumberTests,
    ::testing::Values(IntegerCase{"2147483647", true, true}, IntegerCase{"-2147483648", true, true},
                      IntegerCase{"2147483648", false, true}, IntegerCase{"-2147483649", false, true},
                      IntegerCase{"3000000000", false, true}, IntegerCase{"12345678901", false, true},
                      IntegerCase{"1999999999", true, true}, IntegerCase{"0000000001", true, true},
                      IntegerCase{"  +7", true, true}, IntegerCase{"7 ", false, false}, IntegerCase{"", false, false},
                      IntegerCase{"   ", false, false}, IntegerCase{"-", false, false}, IntegerCase{"+", false, false},
                      IntegerCase{"12", true, true}, IntegerCase{"-3.5", false, true}, IntegerCase{"1e9", false, true},
                      IntegerCase{"2.5E-3", false, true}, IntegerCase{".5", false, false},
                      IntegerCase{"5.", false, false}, IntegerCase{"1e", false, false}, IntegerCase{"1 ", false, false},
                      IntegerCase{"1e+", false, false}, IntegerCase{"1.5e3x", false, false},
                      IntegerCase{"0x10", false, false}, IntegerCase{"1,000", false, false}));

TEST(StrToInt, ValuesOfIntegerTexts)
{
    EXPECT_EQ(StrToInt("  -42"), -42);
    EXPECT_EQ(StrToInt("-2147483648"), INT32_MIN);
    EXPECT_EQ(StrToInt("+2147483647"), INT32_MAX);
    EXPECT_EQ(StrToInt("x"), 0);
}

TEST(Base64Url, EncodesWithoutPaddingAndDecodesBothAlphabets)
{
    EXPECT_EQ(Base64UrlEncode("abc"), "YWJj");
    EXPECT_EQ(Base64UrlEncode("ab"), "YWI");
    EXPECT_EQ(Base64UrlEncode("a"), "YQ");
    EXPECT_EQ(Base64UrlEncode(""), "");
    EXPECT_EQ(Base64UrlEncode("\xFB\xFF\xBF"), "-_-_");
    // Longer than one 76-character line: no line breaks in the result.
    const std::string long_(200, 'x');
    const std::string encoded = Base64UrlEncode(long_);
    EXPECT_EQ(encoded.find_first_of("\r\n="), std::string::npos);
    EXPECT_EQ(Base64UrlDecode(encoded), long_);

    EXPECT_EQ(Base64UrlDecode("-_-_"), "\xFB\xFF\xBF");
    EXPECT_EQ(Base64UrlDecode("YWI."), "ab");
    EXPECT_EQ(Base64UrlDecode("YWI="), "ab");
    EXPECT_EQ(Base64UrlDecode("YQ"), "a");
    std::string all;
    for (int i = 0; i < 256; ++i)
        all.push_back(static_cast<char>(i));
    EXPECT_EQ(Base64UrlDecode(Base64UrlEncode(all)), all);
}

TEST(Sha1Hex, FortyLowercaseHexDigits)
{
    EXPECT_EQ(Sha1Hex("abc"), "a9993e364706816aba3e25717850c26c9cd0d89d");
    EXPECT_EQ(Sha1Hex(""), "da39a3ee5e6b4b0d3255bfef95601890afd80709");
}

TEST(FormatElapsed, MinutesOrHoursAndNothingElse)
{
    EXPECT_EQ(FormatElapsed(3723, 3), "[ 01:02:03 ]");
    EXPECT_EQ(FormatElapsed(59, 2), "[ 00:59 ]");
    EXPECT_EQ(FormatElapsed(6000, 2), "[ 100:00 ]");
    EXPECT_EQ(FormatElapsed(360000, 3), "[ 100:00:00 ]");
    EXPECT_EQ(FormatElapsed(5, 1), "");
}

TEST(ProgressBlocks, EightBlocksRounded)
{
    const std::string full = "\xA1\xF6", empty = "\xA1\xF5";
    auto blocks = [&](int n) {
        std::string s;
        for (int i = 0; i < 8; ++i)
            s += i < n ? full : empty;
        return s;
    };
    EXPECT_EQ(ProgressBlocks(50), blocks(4));
    EXPECT_EQ(ProgressBlocks(0), blocks(0));
    EXPECT_EQ(ProgressBlocks(100), blocks(8));
    EXPECT_EQ(ProgressBlocks(6), blocks(0));
    EXPECT_EQ(ProgressBlocks(7), blocks(1));
    EXPECT_EQ(ProgressBlocks(94), blocks(8));
}

TEST(DeleteLineRange, RemovesAnInclusiveRangeOrNothing)
{
    std::vector<std::string> lines{"0", "1", "2", "3"};
    EXPECT_FALSE(DeleteLineRange(lines, 4, 0));
    EXPECT_FALSE(DeleteLineRange(lines, 1, 2));
    EXPECT_FALSE(DeleteLineRange(lines, 1, -1));
    EXPECT_EQ(lines.size(), 4u);
    EXPECT_TRUE(DeleteLineRange(lines, 2, 1));
    EXPECT_EQ(lines, (std::vector<std::string>{"0", "3"}));
    EXPECT_TRUE(DeleteLineRange(lines, 0, 0));
    EXPECT_EQ(lines, (std::vector<std::string>{"3"}));
}

TEST(RemoveAll, EveryOccurrenceLeftToRight)
{
    EXPECT_EQ(RemoveAll("abcABCabc", "abc"), "ABC");
    EXPECT_EQ(RemoveAll("abcABCabc", "aBc", true), "");
    EXPECT_EQ(RemoveAll("aaa", "aa"), "a");
    EXPECT_EQ(RemoveAll("x", ""), "x");
}
