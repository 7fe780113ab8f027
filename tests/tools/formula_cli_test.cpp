// vexory-cli prepare / cut / clean / check / tree / paths, run as a user would.

#include "platform/codepage.h"
#include "support/build_paths.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

using namespace vexory;
using namespace vexory::test;
using Json = nlohmann::json;

namespace {

struct Result
{
    int code;
    std::string out;
    std::string err;
};

Result cli(const std::string& args)
{
    Result r;
    r.code = RunCommand(ShellQuote(VEXORY_CLI_PATH) + " " + args, &r.out, &r.err);
    return r;
}

const char* kPage = "<HTML><head><script>var a = '<td>';</script></head>\r\n<BODY>\r\n<table>\n"
                    "<tr><td class=\"b a\">苹果</td><td>5元</td></tr>\n"
                    "<tr><td>Pear</td><td>7元</td></tr></table></BODY></HTML>";

} // namespace

class FormulaCli : public ::testing::Test
{
protected:
    void SetUp() override
    {
        WriteBytes(m_dir.file("page.html"), kPage);
        WriteBytes(m_dir.file("page.gbk"), Utf8ToGbk(kPage));
    }
    std::string file(const char* name) { return ShellQuote(m_dir.file(name)); }
    void write(const char* name, std::string_view text) { WriteBytes(m_dir.file(name), text); }

    TempDir m_dir;
};

TEST_F(FormulaCli, PrepareAsTheMonitorDoes)
{
    Result r = cli("prepare " + file("page.html"));
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(r.out, "<HTML><head></head><BODY><table><tr><td class=\"a b\">苹果</td><td>5元</td></tr><tr><td>Pear</td>"
                     "<td>7元</td></tr></table></BODY></HTML>");
    Result lower = cli("prepare --lower " + file("page.html"));
    EXPECT_NE(lower.out.find("<body><table><tr><td class=\"a b\">苹果</td>"), std::string::npos);
    Result gbk = cli("--gbk prepare " + file("page.gbk"));
    EXPECT_EQ(gbk.out, Utf8ToGbk(r.out));
}

TEST_F(FormulaCli, CutPreparedAndLowercasedOrRaw)
{
    write("formula.txt", "<tr><td>{>名称<}</td><td>{>价格<}</td></tr>(>名称@详情<)");
    Result r = cli("cut " + file("formula.txt") + " " + file("page.html"));
    ASSERT_EQ(r.code, 0) << r.err;
    // The first cell has a class attribute, so only the second row matches the formula.
    EXPECT_EQ(Json::parse(r.out), Json::parse(R"({"fields": ["名称", "价格"], "rows": [["pear", "7元"]]})"));

    write("any.txt", "<td[*]>{>名称<}</td><td>{>价格<}</td>");
    Result raw = cli("cut --raw " + file("any.txt") + " " + file("page.html"));
    ASSERT_EQ(raw.code, 0) << raw.err;
    EXPECT_EQ(Json::parse(raw.out)["rows"], Json::parse("[]")); // "<BODY" is not "<body"
    Result prepared = cli("cut " + file("any.txt") + " " + file("page.html"));
    EXPECT_EQ(Json::parse(prepared.out)["rows"], Json::parse(R"([["苹果", "5元"], ["pear", "7元"]])"));
}

TEST_F(FormulaCli, TraditionalCharactersAreCutWhole)
{
    write("trad.html", "<html><body><table><tr><td>學門關</td><td>A1</td></tr><tr><td>丄乑汚</td><td>B2</td></tr>"
                       "</table></body></html>");
    write("trad.txt", "<tr><td>{>名<}</td><td>{>價<}</td></tr>");
    Result r = cli("cut " + file("trad.txt") + " " + file("trad.html"));
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(Json::parse(r.out)["rows"], Json::parse(R"([["學門關", "a1"], ["丄乑汚", "b2"]])"));
    write("typed.txt", "<td>學{>名<}關</td><td>{>p<}</td>");
    r = cli("cut " + file("typed.txt") + " " + file("trad.html"));
    EXPECT_EQ(Json::parse(r.out)["rows"], Json::parse(R"([["門", "a1"]])")); // a typed formula with such characters matches
}

TEST_F(FormulaCli, CleanReportsRepairsInOrder)
{
    write("formula.txt", "<i>[*][*]{>a<}</i>|>note<|(>a@Next<)");
    Result r = cli("clean " + file("formula.txt"));
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(Json::parse(r.out), Json::parse(R"json({"formula": "<i>{>a<}</i>", "chains": "(>a@Next<)",
        "notes": "|>note<|", "messages": ["删除通配符,字段符和通配符不能相连！", "删除通配符,字段符和通配符不能相连！"]})json"));
}

TEST_F(FormulaCli, CheckTakesFieldCodesAsEscapes)
{
    EXPECT_EQ(cli("check '\\x01>5' 7").out, "pass\n");
    EXPECT_EQ(cli("check '\\x01>5' 4").out, "fail\n");
    EXPECT_EQ(cli("check '\\x01=-3' -3").out, "pass\n"); // a value beginning with "-" is no option
    EXPECT_EQ(cli("check '\\x01^苹' 苹果").out, "pass\n");
    EXPECT_EQ(cli("check '\\x01=a\\\\b' 'a\\\\b'").out, "pass\n");
    EXPECT_EQ(cli("check ''").out, "pass\n"); // no conditions: everything passes
    Result bad = cli("check '\\q' x");
    EXPECT_EQ(bad.code, 2);
    EXPECT_NE(bad.err.find("bad escape"), std::string::npos);
    EXPECT_EQ(cli("check").code, 2);
}

TEST_F(FormulaCli, TreeAndPaths)
{
    write("list.html", "<ul><li>a</li><li><b>b</b>c</li></ul>");
    Result tree = cli("tree " + file("list.html"));
    ASSERT_EQ(tree.code, 0);
    EXPECT_EQ(tree.out, "<li>\n  a\n</li>\n<li>\n  <b>\n    b\n  </b>\n  c\n</li>\n");
    Result paths = cli("paths " + file("list.html") + " -1.0 2.1");
    ASSERT_EQ(paths.code, 0) << paths.err;
    EXPECT_EQ(Json::parse(paths.out), Json::parse(R"(["a\b<b>b</b>c", "<b>b</b>"])"));
    EXPECT_EQ(cli("paths " + file("list.html") + " 1..2").code, 2);
}

TEST_F(FormulaCli, BadInputIsOneLineAndExitCodeTwo)
{
    for (const char* args : {"cut", "cut /no/such/formula /no/such/page", "prepare --bogus x", "tree", "clean a b"}) {
        Result r = cli(args);
        EXPECT_EQ(r.code, 2) << args;
        EXPECT_FALSE(r.err.empty()) << args;
    }
}
