#include "base/ascii_fold.h"
#include "formula/markers.h"
#include "formula/page_prep.h"
#include "formula/tag_scanner.h"
#include "formula/wild.h"

#include <gtest/gtest.h>

using namespace vexory;

TEST(PagePrep, RemoveNonContentIgnoresCase)
{
    EXPECT_EQ(RemoveNonContent("a<SCRIPT>x</SCRIPT>b"), "ab");
    EXPECT_EQ(RemoveNonContent("<noscript>n</noscript><style>s</style><textarea>t</textarea><!-- c -->"
                               "<link rel=x><p>kept</p>"),
              "<p>kept</p>");
    EXPECT_EQ(RemoveNonContent("<script>unclosed"), "<script>unclosed");
    EXPECT_EQ(RemoveNonContent("<Script>1</script>mid<script>2</SCRIPT>"), "mid");
}

TEST(PagePrep, NormalizeTagSortsAttributesClassWordsAndStyleDeclarations)
{
    EXPECT_EQ(NormalizeTag("<div  style=\"color: red; margin:0\"  id=main class=\"b a\">"),
              "<div class=\"a b\" id=\"main\" style=\"color:red;margin:0\">");
    EXPECT_EQ(NormalizeTag("<input disabled name=q>"), "<input name=\"q\">");
    EXPECT_EQ(NormalizeTag("<br>"), "<br>");
    EXPECT_EQ(NormalizeTag("<a title>"), "<a title>"); // no "=" after the blank
    EXPECT_EQ(NormalizeTag("<a Href='x' ID=y>"), "<a Href=\"x\" ID=\"y\">");
    EXPECT_EQ(NormalizeTag("<a title='say \"hi\"' b=1>"), "<a b=\"1\" title=\"say 'hi'\">");
    EXPECT_EQ(NormalizeTag("<p style=\"b:1;;A:2;\">"), "<p style=\"A:2;b:1\">");
    EXPECT_EQ(NormalizeTag("<a href=\"x\"/>"), "<a href=\"\">"); // no quote followed by a blank: empty value
}

TEST(PagePrep, NormalizeTagsRewritesOnlyTagsWithAttributes)
{
    EXPECT_EQ(NormalizeTags("<p>x</p><a id=b class=\"z y\">t</a>"), "<p>x</p><a class=\"y z\" id=\"b\">t</a>");
    EXPECT_EQ(NormalizeTags("1 < 2 and <b x=1>"), "1 < 2 and <b x=\"1\">");
}

TEST(PagePrep, UnwrapHighlightsPutsTheSentinelBeforeTheText)
{
    const std::string wrapped = "a" + MakeMark(HighlightTemplate, "b") + "c";
    EXPECT_EQ(UnwrapHighlights(wrapped, HighlightTemplate, MarkedSentinel, true), "avhrkzaw38jbpxn5dbc");
    std::string upper = wrapped;
    for (char& ch : upper)
        ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
    EXPECT_EQ(UnwrapHighlights(upper, HighlightTemplate, MarkedSentinel, true),
              "A" + std::string(MarkedSentinel) + "BC");
    EXPECT_EQ(UnwrapHighlights(upper, HighlightTemplate, MarkedSentinel, false), upper);
    // Nested highlights: the outer one takes the first closing.
    const std::string head(MarkOpening(HighlightTemplate));
    EXPECT_EQ(UnwrapHighlights(head + "a" + head + "b</font>c</font>d", HighlightTemplate, "M", true), "MaMbcd");
    EXPECT_EQ(UnwrapHighlights(head + "a" + head + "b</font>", HighlightTemplate, "M", true), "Ma" + head + "b");
}

TEST(PagePrep, CleaningValues)
{
    EXPECT_EQ(StripTags("a<b>c</b>d"), "acd");
    EXPECT_EQ(StripTags("x &lt;y&gt; &amp;amp;"), "x <y> &amp;");
    EXPECT_EQ(DecodeEntities("&AMP;nbsp;"), " ");
    EXPECT_EQ(DecodeEntities("&amp;lt;"), "<");
    EXPECT_EQ(StripClassAttributes("<td CLASS=\"a b\">x</td>"), "<td>x</td>");
}

TEST(PagePrep, PreparePageAsTheMonitorReadsIt)
{
    const std::string page = "<HTML>\r\n<head><Script>var x;</Script></head>\r\n<body>\n"
                             "  <TD  Class=\"b a\"  >" +
                             MakeMark(HighlightTemplate, "New") + "</TD>\n</body></HTML>";
    PreparedPage p = PreparePage(page);
    EXPECT_EQ(p.text, "<HTML><head></head><body><TD Class=\"a b\">vhrkzaw38jbpxn5dNew</TD></body></HTML>");
    EXPECT_EQ(p.lower, "<html><head></head><body><td class=\"a b\">vhrkzaw38jbpxn5dnew</td></body></html>");
}

TEST(PagePrep, DoubleByteCharactersSurviveEveryCaseInsensitiveStep)
{
    // 學門關 (8C57 E954 EA50) and 丄 (8141): trail bytes that look like capitals.
    const std::string xue = "\x8C\x57\xE9\x54\xEA\x50", up = "\x81\x41";
    const std::string page = "<BODY><P Class=\"" + xue + " " + up + " B\">" + MakeMark(HighlightTemplate, xue) + up +
                             "</P><SCRIPT>" + xue + "</SCRIPT></BODY>";
    PreparedPage p = PreparePage(page);
    // Class words sort as their lowered bytes: "b" (62) before 0x81 before 0x8C.
    EXPECT_EQ(p.text,
              "<BODY><P Class=\"B " + up + " " + xue + "\">" + std::string(MarkedSentinel) + xue + up + "</P></BODY>");
    EXPECT_EQ(p.lower,
              "<body><p class=\"b " + up + " " + xue + "\">" + std::string(MarkedSentinel) + xue + up + "</p></body>");
    EXPECT_EQ(StripClassAttributes("<td CLASS=\"" + xue + "\">" + xue + "</td>"), "<td>" + xue + "</td>");
    EXPECT_EQ(WildReplace(xue + "A" + xue, "a[*]" + xue, "-", kReplaceAll | kIgnoreCase), xue + "-");
    // 寃 (8C77) is what lowering the trail byte of 學 made: it must not match.
    EXPECT_EQ(WildReplace(xue, "\x8C\x77", "-", kReplaceAll | kIgnoreCase), xue);
}

// The preparation keeps its lowercased twin in step through every removal and
// rewriting; where a removal puts a byte after a lead byte, it becomes a trail.
TEST(PagePrep, TwinStaysExactWhereRemovalsJoinBytes)
{
    const std::string lead = "\xA0";
    PreparedPage p = PreparePage(lead + "<!-- x -->RS<Link a>T" + lead + "<P Class=\"Z\">Q");
    EXPECT_EQ(p.text, lead + "RST" + lead + "<P Class=\"Z\">Q");
    EXPECT_EQ(p.lower, lead + "Rst" + lead + "<p class=\"z\">q");
    // The same prepared again by one preparer, after a longer page, and many tags alike.
    PagePreparer preparer;
    std::string many = "<body>", expected = "<body>";
    for (int i = 0; i < 300; ++i) {
        many += "<A  Href='/x" + std::to_string(i % 3) + "' Class=\"b  a\">N</A>\r\n";
        expected += "<A Class=\"a b\" Href=\"/x" + std::to_string(i % 3) + "\">N</A>";
    }
    preparer.Prepare(many + "<p>" + std::string(5000, 'x') + "</p>");
    const PreparedPage& again = preparer.Prepare(lead + "<!-- x -->RS<Link a>T" + lead + "<P Class=\"Z\">Q");
    EXPECT_EQ(again.text, p.text);
    EXPECT_EQ(again.lower, p.lower);
    const PreparedPage& repeated = preparer.Prepare(many);
    EXPECT_EQ(repeated.text, expected);
    EXPECT_EQ(repeated.lower, LowerAscii(expected));
}

TEST(TagScanner, FindTagBalancesAndRetries)
{
    auto tag = [](std::string_view text, int from) {
        TagMatch m = FindTag(text, "<", ">", true, from);
        return std::make_pair(m.pos, m.len);
    };
    using P = std::pair<int, int>;
    EXPECT_EQ(tag("x<a>y", 1), P(2, 3));
    EXPECT_EQ(tag("<a<b>c>", 1), P(1, 7)); // the inner "<" is balanced by the second ">"
    EXPECT_EQ(tag("<a <b>", 1), P(4, 3));  // unbalanced: retried from the next "<"
    EXPECT_EQ(tag("<<>", 1), P(1, 3));     // openings are counted from one byte after the opening
    EXPECT_EQ(tag("abc", 1).first, 0);
    EXPECT_EQ(tag("<abc", 1).first, -1);
    EXPECT_EQ(FindTag("<a <b", "<", ">", true, 1).pos, -1);

    // «<b>x<br>y</b>»: "<br" counts as an opening of "<b", so «<b>» does not close.
    EXPECT_EQ(FindBalanced("<b>x<br>y</b>", "</b>", 1, false, 2).pos, -1);
    EXPECT_EQ(FindBalanced("<b>x</b>", "</b>", 1, false, 2).len, 8);
    EXPECT_EQ(FindBalanced("<b>x", "</b>", 1, false, 2).pos, 0);
    EXPECT_EQ(FindBalanced("<div><div></div></div>", "</div>", 1, false, 4).len, 22);
    EXPECT_EQ(FindBalanced("<div><div></div></div>", "</div>", 6, false, 4).len, 11);
}
