// Pseudo-code rendering, formula derivation from marked pseudo-code, and the
// test runs' output, all without a browser.

#include "base/text_helpers.h"
#include "editor/editor_rules.h"
#include "editor/pseudo_code.h"
#include "editor/test_run.h"
#include "formula/grab_formula.h"

#include <gtest/gtest.h>

using namespace vexory;

namespace {

const std::string kMark = "<font style=\"background-color:rgb(123,236,179)\">";

std::string table(int rows, const std::string& firstName = "apple", const std::string& firstPrice = "5")
{
    std::string html = "<html><head><title>t</title></head><body><h1>list</h1><table>";
    for (int i = 0; i < rows; ++i) {
        const std::string name = i == 0 ? firstName : "item" + std::to_string(i);
        const std::string price = i == 0 ? firstPrice : std::to_string(10 + i);
        html += "<tr><td class=\"n\">" + name + "</td><td>" + price + "</td></tr>";
    }
    return html + "</table></body></html>";
}

std::vector<std::vector<std::string>> cut(const std::string& formula, const std::string& page)
{
    TStringCutOuter cutter;
    cutter.SetFormula(CleanFormula(formula).formula);
    cutter.CutOut(CompactHtml(page));
    std::vector<std::vector<std::string>> rows(static_cast<size_t>(cutter.RowCount()));
    for (int f = 0; f < cutter.FieldCount(); ++f)
        for (int r = 0; r < cutter.RowCount(); ++r)
            rows[static_cast<size_t>(r)].push_back((*cutter.Field(f))[static_cast<size_t>(r) + 1]);
    return rows;
}

} // namespace

TEST(PseudoCode, MarksBecomeFieldMarkersNamedAfreshEachTime)
{
    const std::string page = table(2, kMark + "apple</font>", kMark + "5</font>");
    const std::string pseudo = MakePseudoCode(page);
    EXPECT_NE(pseudo.find("<td class=\"n\">\r\n        {>aa<}\r\n      </td>"), std::string::npos) << pseudo;
    EXPECT_NE(pseudo.find("{>ab<}"), std::string::npos);
    EXPECT_EQ(pseudo.find("font"), std::string::npos);
    EXPECT_EQ(pseudo.find('\x07'), std::string::npos);
    EXPECT_EQ(MakePseudoCode(page), pseudo); // the names restart at "aa"
    EXPECT_EQ(CurrentFieldName(), "ab");

    // Content with tags: each text run before a tag, and the rest, become markers.
    const std::string mixed = MakePseudoCode("<body><p>" + kMark + "a<b>c</b>d</font></p></body>");
    EXPECT_NE(mixed.find("{>aa<}"), std::string::npos) << mixed;
    EXPECT_NE(mixed.find("{>ab<}"), std::string::npos);
    EXPECT_NE(mixed.find("{>ac<}"), std::string::npos);
    // An empty mark yields nothing.
    EXPECT_EQ(MakePseudoCode("<body><p>x" + kMark + "</font></p></body>").find("{>"), std::string::npos);

    // The plain rendering keeps the marked text and leaves the name sequence alone.
    NextFieldName();
    const std::string plain = PlainPseudoCode(page);
    EXPECT_NE(plain.find("apple"), std::string::npos);
    EXPECT_EQ(plain.find("{>"), std::string::npos);
    EXPECT_EQ(plain.find("font"), std::string::npos);
    EXPECT_EQ(CurrentFieldName(), "aa");
    EXPECT_EQ(plain, PlainPseudoCode(table(2)));
}

TEST(PseudoCode, SelectionPlaceholderMarksWhereTheSelectionWas)
{
    const std::string page = table(2, "<font style=\"background-color:rgb(31,34,57)\">apple</font>");
    const std::string pseudo = SelectionPseudoCode(page);
    const size_t at = pseudo.find(kSelectionPlaceholder);
    ASSERT_NE(at, std::string::npos) << pseudo;
    EXPECT_EQ(pseudo.compare(at + kSelectionPlaceholder.size(), 5, "apple"), 0);
}

TEST(PseudoCode, SelectionEndCountsOnlyWhatThePageShows)
{
    struct Case
    {
        std::u16string text;
        size_t start;
        int length;
        size_t end;
    } cases[] = {
        {u"abcdef", 1, 3, 4},                       // plain text
        {u"a<b>bc</b>d", 0, 3, 6},                  // tags do not count
        {u"ab\n    cd", 0, 3, 8},                   // nor a line break and its indentation
        {u"a   b", 0, 3, 5},                        // a run of blanks counts once
        {u"\u5B78\u9580 x", 0, 2, 2},               // characters of any script count one each
        {u"abc", 1, 9, 3},                          // never beyond the end
        {u"abc", 2, 0, 2},                          // an empty selection
        {u"<td>\n  <b>price</b>\n</td>", 0, 5, 15}, // markup only before and after
    };
    for (const Case& c : cases)
        EXPECT_EQ(SelectionEnd(c.text, c.start, c.length), c.end) << c.start << " " << c.length;
}

TEST(Derivation, TwoCellsOfARowGiveTheRowLevelNegated)
{
    const std::string page = table(4, kMark + "apple</font>", kMark + "5</font>");
    std::string formula;
    ASSERT_EQ(DeriveGrabFormula(MakePseudoCode(page), formula), DeriveResult::Done);
    // One index marker per cell down to its text (table 2 of the body), the row level negated.
    EXPECT_EQ(formula, "[>2.-1.1.1<]{>aa<}[>2.-1.2.1<]{>ab<}");
    // It cuts every row of the page, marks or not.
    const auto rows = cut(formula, table(4));
    ASSERT_EQ(rows.size(), 4u) << formula;
    EXPECT_EQ(rows[0], (std::vector<std::string>{"apple", "5"}));
    EXPECT_EQ(rows[3], (std::vector<std::string>{"item3", "13"}));
}

TEST(Derivation, MarkersInOneElementAndSingleMarks)
{
    // Two markers in one cell: one index marker holding both.
    std::string formula;
    const std::string both = "<html><body><table><tr><td>{>aa<} and {>ab<}</td></tr><tr><td>x and y</td></tr>"
                             "</table></body></html>";
    ASSERT_EQ(DeriveGrabFormula(both, formula), DeriveResult::Done);
    EXPECT_EQ(std::count(formula.begin(), formula.end(), '['), 1) << formula;
    EXPECT_NE(formula.find("{>aa<} and {>ab<}"), std::string::npos) << formula;

    // A single mark: the repeating level is one of its path's levels but the last,
    // the one addressing the most texts (the rows), deeper ones winning ties (the
    // two cells of a row against three rows).
    ASSERT_EQ(DeriveGrabFormula(MakePseudoCode(table(5, kMark + "apple</font>")), formula), DeriveResult::Done);
    EXPECT_EQ(formula, "[>2.-1.1.1<]{>aa<}");
    EXPECT_EQ(cut(formula, table(5)).size(), 5u);
    ASSERT_EQ(DeriveGrabFormula(MakePseudoCode(table(3, kMark + "apple</font>")), formula), DeriveResult::Done);
    EXPECT_EQ(formula, "[>2.1.-1.1<]{>aa<}");

    // Nothing marked inside the body.
    EXPECT_EQ(DeriveGrabFormula("<html><head>{>aa<}</head><body><p>x</p></body></html>", formula),
              DeriveResult::NoFieldMarker);
    EXPECT_EQ(DeriveGrabFormula("<p>{>aa<}</p>", formula), DeriveResult::NoFieldMarker);
    EXPECT_EQ(DeriveGrabFormula("<body><p>{>a<b<}</p></body>", formula), DeriveResult::NoFieldMarker);
}

namespace {

struct Output
{
    std::string text;
    uint32_t timeout = 0;
    int pages = 0;
    TestCallbacks callbacks(const std::string& pseudo)
    {
        TestCallbacks cb;
        cb.add = [this](std::string_view s) { text.append(s).append("\r\n"); };
        cb.pseudoCode = [this, pseudo](uint32_t ms) {
            timeout = ms;
            ++pages;
            return pseudo;
        };
        return cb;
    }
};

} // namespace

TEST(TestRuns, LinesOfEveryKind)
{
    const std::string pseudo = PlainPseudoCode("<html><body><table><tr><td><b>5</b>&amp;6</td><td>a</td></tr>"
                                               "<tr><td>7</td><td>b</td></tr><tr><td>8</td><td>c</td></tr>"
                                               "</table></body></html>");
    TestInput in;
    in.kind = 2;
    in.page = "http://x/list";
    in.timeout = "2.5";
    in.grabBox = "<tr><td>{>aa<}</td><td>{>ab<}</td></tr>";
    in.verify = "\x02=b";
    Output out;
    EXPECT_EQ(RunTest(in, out.callbacks(pseudo)), TestEnd::Listed);
    EXPECT_EQ(out.timeout, 2500u); // the fraction is kept
    TestInput shortWait = in;
    shortWait.timeout = "0.4";
    Output brief;
    RunTest(shortWait, brief.callbacks(pseudo));
    EXPECT_EQ(brief.timeout, 400u); // not 0, which would mean no limit
    const std::string& t = out.text;
    // The name is missing, but the run goes on.
    EXPECT_NE(t.find("\xBE\xAF\xB8\xE6"), std::string::npos);
    EXPECT_NE(t.find("\xB5\xBC\xD2\xFDUrl\xA3\xBA\xCE\xB4\xC9\xE8\xD6\xC3"), std::string::npos); // guide not set
    EXPECT_NE(t.find("1\t: aa=<b>5</b>&amp;6\t| ab=a\r\n"), std::string::npos) << t;
    EXPECT_NE(t.find("2\t: aa=7\t| ab=b\r\n"), std::string::npos);
    EXPECT_NE(t.find("3\t: aa=8\t| ab=c\r\n"), std::string::npos);
    // Only the second record passes, numbered 1 among the passing ones.
    const size_t verified = t.find("\xD2\xD4\xCF\xC2\xCA\xC7\xCD\xA8\xB9\xFD"); // "以下是通过"
    ASSERT_NE(verified, std::string::npos);
    EXPECT_NE(t.find("1\t: aa=7\t| ab=b\r\n", verified), std::string::npos);
    EXPECT_TRUE(t.ends_with("<----------------\xB2\xE2\xCA\xD4\xD6\xD5\xD6\xB9---------------->\r\n"));

    // With "清除HTML标签" the tags go and the entities are decoded.
    in.clearTags = true;
    Output cleaned;
    RunTest(in, cleaned.callbacks(pseudo));
    EXPECT_NE(cleaned.text.find("1\t: aa=5&6\t| ab=a\r\n"), std::string::npos) << cleaned.text;

    // No URL, a bad timeout, no page, a bad formula, no verification: each has its line.
    TestInput bad = in;
    bad.page.clear();
    Output o1;
    EXPECT_EQ(RunTest(bad, o1.callbacks(pseudo)), TestEnd::Stopped);
    EXPECT_NE(o1.text.find("Url\xCE\xB4\xC9\xE8\xD6\xC3\xA3\xA1"), std::string::npos);
    EXPECT_EQ(o1.pages, 0);
    bad = in;
    bad.timeout = "ten";
    Output o2;
    EXPECT_EQ(RunTest(bad, o2.callbacks(pseudo)), TestEnd::Stopped);
    EXPECT_EQ(o2.pages, 0);
    Output o3;
    EXPECT_EQ(RunTest(in, o3.callbacks("")), TestEnd::Stopped);
    EXPECT_NE(o3.text.find("\xD2\xB3\xC3\xE6\xB7\xC3\xCE\xCA\xD2\xEC\xB3\xA3"), std::string::npos); // 页面访问异常
    bad = in;
    bad.grabBox = "<li>{>aa<}</li>";
    bad.verify.clear();
    Output o4;
    EXPECT_EQ(RunTest(bad, o4.callbacks(pseudo)), TestEnd::Listed);
    EXPECT_NE(o4.text.find("\xCE\xDE\xD0\xA7\xB5\xC4"), std::string::npos); // 无效的
    EXPECT_NE(o4.text.find("\xCA\xFD\xBE\xDD\xD1\xE9\xD6\xA4\xB9\xAB\xCA\xBD"),
              std::string::npos); // 数据验证公式未设置
    bad.kind = 0;
    Output o5;
    EXPECT_EQ(RunTest(bad, o5.callbacks(pseudo)), TestEnd::PageShown);
    EXPECT_EQ(o5.text.find("aa="), std::string::npos);
}

TEST(TestRuns, TraditionalCharactersInPageFormulaAndCheck)
{
    // 學門關 (8C57 E954 EA50) and 汚 (9B41): trail bytes that look like capitals.
    const std::string xue = "\x8C\x57\xE9\x54\xEA\x50", wu = "\x9B\x41";
    const std::string pseudo = PlainPseudoCode("<html><body><table><tr><td>" + xue +
                                               "</td><td>A</td></tr>"
                                               "<tr><td>" +
                                               wu + "</td><td>B</td></tr></table></body></html>");
    EXPECT_NE(pseudo.find(xue), std::string::npos);
    TestInput in;
    in.kind = 2;
    in.page = "http://x/list";
    in.timeout = "2";
    in.grabBox = "<tr><td>{>aa<}</td><td>{>ab<}</td></tr>";
    in.verify = "\x01=" + wu;
    Output out;
    EXPECT_EQ(RunTest(in, out.callbacks(pseudo)), TestEnd::Listed);
    EXPECT_NE(out.text.find("1\t: aa=" + xue + "\t| ab=a\r\n"), std::string::npos) << out.text;
    const size_t verified = out.text.find("\xD2\xD4\xCF\xC2\xCA\xC7\xCD\xA8\xB9\xFD"); // "以下是通过"
    ASSERT_NE(verified, std::string::npos);
    EXPECT_NE(out.text.find("1\t: aa=" + wu + "\t| ab=b\r\n", verified), std::string::npos);
    // A formula typed with such a character matches it.
    in.grabBox = "<td>" + xue.substr(0, 2) + "{>aa<}</td>";
    in.verify.clear();
    Output typed;
    RunTest(in, typed.callbacks(pseudo));
    EXPECT_NE(typed.text.find("1\t: aa=" + xue.substr(2) + "\r\n"), std::string::npos) << typed.text;
}
