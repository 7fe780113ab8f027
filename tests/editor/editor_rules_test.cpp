// The editor's windowless rules: the shared field-name sequence, the number
// fields of a save with their repair report, and the order of the unsaved check.

#include "editor/editor_rules.h"
#include "editor/gbk_texts.h"
#include "formula/grab_formula.h"
#include "platform/codepage.h"

#include <gtest/gtest.h>

using namespace vexory;

TEST(FieldNames, SequenceCarriesAndWrapsAfterZz)
{
    ResetFieldNames();
    EXPECT_EQ(CurrentFieldName(), "");
    EXPECT_EQ(NextFieldName(), "aa");
    EXPECT_EQ(NextFieldName(), "ab");
    for (int i = 2; i < 26; ++i)
        NextFieldName();
    EXPECT_EQ(CurrentFieldName(), "az");
    EXPECT_EQ(NextFieldName(), "ba"); // "z" carries into the letter before it
    for (int i = 27; i < 676; ++i)
        NextFieldName();
    EXPECT_EQ(CurrentFieldName(), "zz");
    EXPECT_EQ(NextFieldName(), "aa"); // 676 names, no third letter
    ResetFieldNames();
    EXPECT_EQ(NextFieldName(), "aa");
}

TEST(FieldNames, FromHeadersOrTypedTextAsMarkerNamesAndIntoTheFormula)
{
    auto names = [](std::vector<std::string> wanted) {
        for (std::string& w : wanted)
            w = Utf8ToGbk(w);
        std::vector<std::string> out;
        for (const std::string& n : FieldNames(wanted))
            out.push_back(GbkToUtf8(n));
        return out;
    };
    // Punctuation and blanks go, ideographs and full-width signs stay; nothing
    // left, or nothing given: the field's number; a name given before: numbered.
    EXPECT_EQ(names({"名称", " 单价 (元) ", "", "价格", "价格", "$ -"}),
              (std::vector<std::string>{"名称", "单价元", "字段3", "价格", "价格2", "字段6"}));
    EXPECT_EQ(names({"价格（元）", "Item no.", "字段1", ""}),
              (std::vector<std::string>{"价格（元）", "Itemno", "字段1", "字段4"}));
    // A character whose second byte is punctuation ("丂" is 81 40, "@") would end
    // the marker's name: it goes; at most 12 characters are kept.
    EXPECT_EQ(names({"A丂B　C", "一二三四五六七八九十壹贰叁肆"}),
              (std::vector<std::string>{"ABC", "一二三四五六七八九十壹贰"}));
    for (const std::string& n : FieldNames({Utf8ToGbk("单价(元)"), "\x81", "a\xff\x80"}))
        EXPECT_TRUE(IsValidFieldMarker("{>" + n + "<}")) << n;

    // Renamed in one pass (a name given is not renamed again); other markers,
    // and text that is no marker, stay.
    EXPECT_EQ(RenameFieldMarkers("<td>{>aa<}</td><td>{>ab<}</td>{>ac<}{>a b<}", {{"aa", "ab"}, {"ab", "price"}}),
              "<td>{>ab<}</td><td>{>price<}</td>{>ac<}{>a b<}");
}

TEST(NumberFields, SecondsAndHours)
{
    EXPECT_EQ(SecondsToMs("2.5"), 2000u); // halves to even
    EXPECT_EQ(SecondsToMs("3.5"), 4000u);
    EXPECT_EQ(SecondsToMs("-7"), 7000u);     // the magnitude
    EXPECT_EQ(SecondsToMs(" 1 5 "), 15000u); // blanks anywhere are removed
    EXPECT_EQ(SecondsToMs("+12"), 12000u);
    EXPECT_EQ(SecondsToMs("1e2"), 100000u);
    EXPECT_EQ(SecondsToMs("abc"), std::nullopt);
    EXPECT_EQ(SecondsToMs(""), std::nullopt);
    EXPECT_EQ(SecondsToMs("1,5"), std::nullopt);
    // Beyond what the record holds: capped instead of wrapping around.
    EXPECT_EQ(SecondsToMs("1e300"), 4294967000u);
    EXPECT_EQ(SecondsToMs("99999999999999999999999999999999e999"), 4294967000u);
    EXPECT_EQ(HoursToMs("1.5"), 5400000u);
    EXPECT_EQ(HoursToMs("-0.5"), 1800000u);
    EXPECT_EQ(HoursToMs("2000"), 4294967295u);
    EXPECT_EQ(HoursText(5400000), "1.5");
    EXPECT_EQ(HoursText(3600000), "1");
    EXPECT_EQ(HoursText(0), "0");
}

TEST(NumberFields, RepairReportInFieldOrder)
{
    TTaskRecord task;
    std::vector<std::string> report = StoreNumberFields({"x", "y", "z"}, task, false);
    ASSERT_EQ(report.size(), 3u);
    EXPECT_EQ(report[0], texts::kTimeoutNotNumber);
    EXPECT_EQ(report[1], texts::kRefreshNotNumber);
    EXPECT_EQ(report[2], texts::kNotifyNotNumber);
    EXPECT_EQ(task.ConnectTimeout, 10000u);
    EXPECT_EQ(task.RefreshInterval, 150000u);
    EXPECT_EQ(task.NotifyInterval, 3600000u);

    // The refresh floor applies only when asked for.
    report = StoreNumberFields({"10", "100", "0"}, task, true);
    ASSERT_EQ(report.size(), 1u);
    EXPECT_EQ(report[0], texts::kRefreshTooFast);
    EXPECT_EQ(task.RefreshInterval, 150000u);
    EXPECT_TRUE(StoreNumberFields({"10", "100", "0"}, task, false).empty());
    EXPECT_EQ(task.RefreshInterval, 100000u);
    EXPECT_TRUE(StoreNumberFields({"10", "150", "0"}, task, true).empty());
}

TEST(UnsavedFields, FirstDifferenceInTheEditorsOrder)
{
    TTaskRecord task;
    task.TaskName = "t";
    task.GuideUrl = "g";
    task.SetPageUrl("p");
    task.ConnectTimeout = 10000;
    task.RefreshInterval = 150000;
    task.GrabFormula = "<b>{>aa<}</b>";
    task.VerifyFormula = "\x01=5";
    EditorFields f;
    f.name = "t";
    f.guide = " g ";
    f.page = "p";
    f.timeout = "10";
    f.refresh = "150";
    f.grabBox = "<b>{>aa<}</b>";
    f.verify = "\x01=5";
    EXPECT_EQ(FirstUnsavedField(f, task, true), UnsavedField::None);

    f.name = "other";
    EXPECT_EQ(FirstUnsavedField(f, task, true), UnsavedField::Name);
    EXPECT_EQ(FirstUnsavedField(f, task, false), UnsavedField::None); // a new task's name never counts
    f.timeout = "10.0";                                               // a text comparison
    f.refresh = "1";
    EXPECT_EQ(FirstUnsavedField(f, task, false), UnsavedField::Timeout);
    f.timeout = "10";
    EXPECT_EQ(FirstUnsavedField(f, task, false), UnsavedField::Refresh);
    f.refresh = "150";
    f.grabBox = "<b>{>aa<}</b>[*]"; // cleaned as a save would clean it
    EXPECT_EQ(FirstUnsavedField(f, task, false), UnsavedField::None);
    f.grabBox = "<i>{>aa<}</i>";
    f.verify = "";
    EXPECT_EQ(FirstUnsavedField(f, task, false), UnsavedField::GrabFormula);
    f.grabBox = task.GrabFormula;
    EXPECT_EQ(FirstUnsavedField(f, task, false), UnsavedField::VerifyFormula);
    f.verify = task.VerifyFormula;
    f.memo = "result";
    EXPECT_EQ(FirstUnsavedField(f, task, false), UnsavedField::None); // only while kept
    f.keepTestResult = true;
    EXPECT_EQ(FirstUnsavedField(f, task, false), UnsavedField::TestResult);
    f.compareLastScreen = true;
    EXPECT_EQ(FirstUnsavedField(f, task, false), UnsavedField::CompareLastScreen);
}
