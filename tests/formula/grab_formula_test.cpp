#include "formula/gbk_texts.h"
#include "formula/grab_formula.h"
#include "formula/markers.h"

#include <gtest/gtest.h>

using namespace vexory;

namespace {

using Texts = std::vector<std::string>;

// The table of a cut: each column as name followed by its values.
std::vector<Texts> cut(std::string_view formula, std::string_view page)
{
    TStringCutOuter cutter;
    cutter.SetFormula(formula);
    cutter.CutOut(page);
    std::vector<Texts> table;
    for (int i = 0; i < cutter.FieldCount(); ++i)
        table.push_back(*cutter.Field(i));
    return table;
}

Texts messages(std::string_view formula)
{
    Texts reported;
    CleanedFormula c = CleanFormula(formula, [&](std::string_view m) { reported.emplace_back(m); });
    EXPECT_EQ(reported, c.messages);
    return c.messages;
}

std::string s(std::string_view v)
{
    return std::string(v);
}

} // namespace

TEST(CutOut, TwoFieldsPerRow)
{
    EXPECT_EQ(cut("<td>{>name<}</td><td>{>price<}</td>",
                  "<html><body><tr><td>a</td><td>1</td></tr><tr><td>b</td><td>2</td></tr></body></html>"),
              (std::vector<Texts>{{"name", "a", "b"}, {"price", "1", "2"}}));
}

TEST(CutOut, RecordStartIsTightenedBackwards)
{
    EXPECT_EQ(cut("<b>{>x<}</b>", "<body><b><b>k</b></body>"), (std::vector<Texts>{{"x", "k"}}));
}

TEST(CutOut, ValuesAreTrimmed)
{
    EXPECT_EQ(cut("<td>{>a<}</td>", "<body><td>  a  </td></body>"), (std::vector<Texts>{{"a", "a"}}));
}

TEST(CutOut, InvalidFieldMarkersAreLiteralTextAndLeaveTheUnnamedColumn)
{
    EXPECT_EQ(cut("<p>{><}</p>", "<body><p>x</p></body>")[0][0], "unName");
    EXPECT_EQ(cut("<p>{>a b<}</p>", "<body><p>x</p></body>")[0][0], "unName");
}

TEST(CutOut, EmptyFormulaCutsEveryTextRunBetweenTags)
{
    EXPECT_EQ(cut("", "<body><p> one </p><br><p>two</p>  </body>"),
              (std::vector<Texts>{{"unName", "one", "two"}}));
}

TEST(CutOut, FieldAtTheEndOfAnIndexedPieceRunsToTheNextRecord)
{
    EXPECT_EQ(cut("[>1<]<li>{>t<}", "<body><ul><li>a<li>b<li>c</ul></body>"),
              (std::vector<Texts>{{"t", "a", "b", "c</ul>"}})); // the last runs to the end of the block
}

TEST(CutOut, FieldAtTheStartOfAnIndexedPieceMovesForward)
{
    EXPECT_EQ(cut("[>1<]{>t<}</li>", "<body><ul><li>a</li><li>b</li></ul></body>"),
              (std::vector<Texts>{{"t", "<ul><li>a", "<li>b"}}));
}

TEST(CutOut, IndexPathsSelectBlocksAndShortestEntryDecidesRows)
{
    const std::string page = "<body><ul><li>1</li><li>2</li><li>3</li></ul>"
                             "<ol><li>a</li><li>b</li><li>c</li><li>d</li><li>e</li></ol></body>";
    // Two entries with 3 and 5 records give 3 rows.
    EXPECT_EQ(cut("[>1<]<li>{>n<}</li>[>2<]<li>{>l<}</li>", page),
              (std::vector<Texts>{{"n", "1", "2", "3"}, {"l", "a", "b", "c"}}));
    // "-1" alone gives one empty block per chunk, so nothing; "-1.0" the inner texts.
    EXPECT_EQ(cut("[>2.-1<]<li>{>l<}</li>", page), (std::vector<Texts>{{"l"}}));
    EXPECT_EQ(cut("[>2.-1.0<]{>l<}", page), (std::vector<Texts>{{"l", "a", "b", "c", "d", "e"}}));
}

TEST(CutOut, BlankAndSentinelRowsAreDropped)
{
    const std::string page = "<body><p>x</p><p></p><p>vhrkzaw38jbpxn5d</p><p>y</p></body>";
    EXPECT_EQ(cut("<p>{>a<}</p>", page), (std::vector<Texts>{{"a", "x", "y"}}));
}

TEST(CutOut, PageWithoutBodyLeavesTheColumnsAsTheyWere)
{
    TStringCutOuter cutter;
    cutter.SetFormula("<p>{>a<}</p>");
    cutter.CutOut("<body><p>1</p></body>");
    cutter.CutOut("<p>2</p>");
    EXPECT_EQ(*cutter.Field(0), (Texts{"a", "1"}));
    cutter.CutOut("<body><p>3</p></body>"); // values accumulate until ClearValues
    EXPECT_EQ(*cutter.Field(0), (Texts{"a", "1", "3"}));
    cutter.ClearValues();
    EXPECT_EQ(*cutter.Field(0), Texts{"a"});
    EXPECT_EQ(cutter.Field(-1), nullptr);
    EXPECT_EQ(cutter.Field(cutter.FieldCount()), nullptr);
}

TEST(CutOut, PartialRecordsAreSkippedByTheTightening)
{
    EXPECT_EQ(cut("<i>{>a<}</i><b>{>b<}</b>", "<body><i>1</i><b>2</b><i>3</i><u>4</u><i>5</i><b>6</b></body>"),
              (std::vector<Texts>{{"a", "1", "5"}, {"b", "2", "6"}}));
}

TEST(CleanFormula, RepairsAreReportedInOrder)
{
    EXPECT_EQ(messages("x[>1<]<i>{>a<}</i>"), Texts{s(texts::kCleanFirstSegment)});
    EXPECT_EQ(CleanFormula("x[>1<]<i>{>a<}</i>").formula, "[>1<]<i>{>a<}</i>");
    EXPECT_EQ(messages("<i>[*][*]x{>a<}</i>"), Texts{s(texts::kCleanTwoWildcards)});
    EXPECT_EQ(CleanFormula("<i>[*][*]x{>a<}</i>").formula, "<i>[*]x{>a<}</i>");
    EXPECT_EQ(messages("<i>[*][*]{>a<}</i>"), (Texts{s(texts::kCleanWildcardByField), s(texts::kCleanWildcardByField)}));
    EXPECT_EQ(CleanFormula("<i>[*][*]{>a<}</i>").formula, "<i>{>a<}</i>");
    EXPECT_EQ(messages("<i>x</i>"), (Texts{s(texts::kCleanSegmentWithoutField), s(texts::kCleanNoField)}));
    EXPECT_EQ(CleanFormula("<i>x</i>").formula, "");
    EXPECT_EQ(messages("<i>{>a<}"), (Texts{s(texts::kCleanFieldAtEnd), s(texts::kCleanNoField)}));
    EXPECT_EQ(messages("<i>{>a<}</i>[*]"), Texts{s(texts::kCleanWildcardAtEnd)});
    EXPECT_EQ(messages("{>a<}</i>"), (Texts{s(texts::kCleanFirstItem), s(texts::kCleanNoField)}));
    EXPECT_EQ(messages("<i>{>a<}{>b<}</i>"), Texts{s(texts::kCleanTwoFields)});
    EXPECT_EQ(messages("[>1<]<i>{>a<}</i>[>2<][>3<]<b>{>b<}</b>"), Texts{s(texts::kCleanTwoIndexes)});
    EXPECT_EQ(messages("[>1<]<i>{>a<}</i>[>2<]"), Texts{s(texts::kCleanIndexAtEnd)});
    EXPECT_EQ(messages("[>1<]<i>{>a<}</i>[>2<]<b></b>"),
              (Texts{s(texts::kCleanIndexSegmentWithoutField), s(texts::kCleanIndexAtEnd)}));
    EXPECT_EQ(messages("<td>{>a<}</td>"), Texts{});
    EXPECT_EQ(CleanFormula("  ").formula, "");
}

TEST(CleanFormula, FieldMarkersLoseBlanksAndFormulaIsCompacted)
{
    EXPECT_EQ(CleanFormula("<td>\r\n  {>a<}</td >").formula, "<td>{>a<}</td>");
}

TEST(Markers, ChainAndNoteMarkers)
{
    ChainLink link = ParseChainMarker("(>link@Detail<)");
    EXPECT_TRUE(link.ok);
    EXPECT_EQ(link.field, "link");
    EXPECT_EQ(link.task, "Detail");
    EXPECT_FALSE(ParseChainMarker("(>@Detail<)").ok);
    EXPECT_FALSE(ParseChainMarker("(>link@<)").ok);
    EXPECT_FALSE(ParseChainMarker("(><)").ok);

    auto [rest, chains] = ExtractChainMarkers("<a>{>u<}</a>(>u@Detail<)(>@x<)");
    EXPECT_EQ(rest, "<a>{>u<}</a>(>@x<)");
    EXPECT_EQ(chains, "(>u@Detail<)");
    // Two chain markers together name no field of the formula.
    auto [rest2, two] = ExtractChainMarkers("(>a@X<)(>b@Y<)");
    EXPECT_EQ(ParseChainMarker(two).field, "a@X<)(>b");

    EXPECT_EQ(ExtractNoteMarkers("|>first<||>second<|").second, "|>first;second<|");
    EXPECT_EQ(ExtractNoteMarkers("a|>x<|b").second, "|>x<|");
    EXPECT_EQ(ExtractNoteMarkers("a|>x<|b").first, "ab");
    EXPECT_EQ(ExtractNoteMarkers("a|> <|b").second, "");

    CleanedFormula c = CleanFormula("<a>{>u<}</a>(>u@Detail<)|>note<|");
    EXPECT_EQ(c.formula, "<a>{>u<}</a>");
    EXPECT_EQ(c.chains, "(>u@Detail<)");
    EXPECT_EQ(c.notes, "|>note<|");
}

TEST(Markers, FieldNamesAreListedWithoutValidation)
{
    std::vector<std::string> names{"old"};
    ListFieldNames("<a>{>x<}</a>{><}{>\xB2\xE2<}", names);
    EXPECT_EQ(names, (Texts{"x", "", "\xB2\xE2"}));
    EXPECT_TRUE(IsValidFieldMarker("{>\xB2\xE2" "9Z<}"));
    EXPECT_FALSE(IsValidFieldMarker("{>a-b<}"));
    EXPECT_TRUE(IsValidIndexMarker("[>2.-1.<]"));
    EXPECT_FALSE(IsValidIndexMarker("[>2..1<]"));
    EXPECT_TRUE(IsValidNoteMarker("|>x<|"));
}

TEST(SetFormula, EntriesAndPieces)
{
    TStringCutOuter cutter;
    cutter.SetFormula("[>2.-1<]<td>{>a<}</td>[>3<]<b>{>b<}</b><i>{>c<}</i>");
    ASSERT_EQ(cutter.Entries().size(), 2u);
    EXPECT_EQ(cutter.Entries()[0].Path, (IndexPath{2, -1}));
    EXPECT_EQ(cutter.Entries()[0].Piece, "<td>\x07</td>");
    EXPECT_EQ(cutter.Entries()[1].FirstField, 1);
    EXPECT_EQ(cutter.Entries()[1].FieldCount, 2);
    EXPECT_EQ(cutter.Entries()[1].Piece, "<b>\x07</b><i>\x07</i>");
    cutter.SetFormula("");
    ASSERT_EQ(cutter.FieldCount(), 1);
    EXPECT_EQ((*cutter.Field(0))[0], "unName");
}
