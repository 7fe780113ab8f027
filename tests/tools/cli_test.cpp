// vexory-cli store and settings commands, run as a user would run them.

#include "model/task_store.h"
#include "platform/codepage.h"
#include "support/build_paths.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <cstdlib>
#include <filesystem>

using namespace vexory;
using namespace vexory::test;
using Json = nlohmann::ordered_json;

namespace {

std::string cli()
{
    return VEXORY_CLI_PATH;
}

const char* kStoreJson = R"({
  "AutoEnd": 26,
  "ShutdownFlags": 2,
  "Reserved": 0,
  "Nickname": "张三",
  "PasswordDigest": "a9993e364706816aba3e25717850c26c9cd0d89d",
  "Tasks": [
    {
      "TaskName": "招标公告",
      "GuideUrl": "",
      "PageUrl": "http://127.0.0.1:8080/list",
      "ElementId": "more^2",
      "VerifyFormula": "",
      "GrabFormula": "<td>{>a<}</td>",
      "SavedTestResult": "第一行\r\n第二行",
      "FormulaSent": 0,
      "ClearTags": 1,
      "PushToPlugin": 0,
      "MainField": 0,
      "ConnectTimeout": 30000,
      "RefreshInterval": 150000,
      "NotifyInterval": 5400000,
      "Checked": 1,
      "Selected": 0,
      "CompareLastScreen": 1
    }
  ]
})";

struct CliRun
{
    int code;
    std::string out;
    std::string err;
};

CliRun run(const std::string& args, const std::string& env = "")
{
    CliRun r;
    r.code = RunCommand(env + " " + ShellQuote(cli()) + " " + args, &r.out, &r.err);
    return r;
}

} // namespace

TEST(CliStore, WriteThenShowGivesTheSameJsonAndTheLayoutsBytes)
{
    TempDir dir;
    WriteBytes(dir.file("in.json"), kStoreJson);
    CliRun w = run("store write " + ShellQuote(dir.file("in.json")) + " " + ShellQuote(dir.file("s.vxt")));
    ASSERT_EQ(w.code, 0) << w.err;
    CliRun s = run("store show " + ShellQuote(dir.file("s.vxt")));
    ASSERT_EQ(s.code, 0) << s.err;
    EXPECT_EQ(Json::parse(s.out), Json::parse(kStoreJson));

    // The file holds GBK strings exactly where the layout puts them.
    const std::string bytes = ReadBytes(dir.file("s.vxt"));
    EXPECT_EQ(bytes.substr(0, 8), std::string("\x0C\x19\x7D\x00\x1A\x02\x00\x00", 8));
    EXPECT_EQ(bytes.substr(8, 8), std::string("\x04\x00\x00\x00", 4) + "\xD5\xC5\xC8\xFD");
    TAccountRecord a;
    ASSERT_TRUE(DecodeStore(bytes, a));
    ASSERT_EQ(a.Tasks.size(), 1u);
    EXPECT_EQ(a.Tasks[0].TaskName, Utf8ToGbk("招标公告"));
    EXPECT_EQ(a.Tasks[0].SavedTestResult, Utf8ToGbk("第一行\r\n第二行"));
    EXPECT_EQ(a.Tasks[0].NotifyInterval, 5400000u);
}

TEST(CliStore, ShowOfAnUnreadableStorePrintsTheErrorText)
{
    TempDir dir;
    WriteBytes(dir.file("bad.vxt"), "not a store");
    CliRun s = run("store show " + ShellQuote(dir.file("bad.vxt")));
    EXPECT_EQ(s.code, 1);
    EXPECT_EQ(s.err, "错误:文件内部错误，无法读取...\n");
    EXPECT_TRUE(s.out.empty());
    EXPECT_EQ(run("store show " + ShellQuote(dir.file("missing.vxt"))).code, 1);
}

TEST(CliStore, BadJsonIsRefusedNamingTheTaskAndFieldAndNothingIsWritten)
{
    struct Case
    {
        std::string from, to, message;
    };
    const Case cases[] = {
        {"\"招标公告\"", "\"招标😀\"", "task 1 (招标😀), field TaskName"},
        {"\"RefreshInterval\": 150000", "\"RefreshInterval\": 4294967296", "field RefreshInterval"},
        {"\"Checked\": 1", "\"Checked\": -1", "field Checked"},
        {"\"ClearTags\": 1,", "", "field ClearTags is missing"},
        {"\"AutoEnd\": 26", "\"AutoEnd\": 256", "header, field AutoEnd"},
        {"\"Checked\": 1", "\"Checked\": \"yes\"", "field Checked"},
        {"\"Selected\": 0", "\"Selected\": 0, \"Colour\": 1", "unknown field Colour"},
        {"\"Reserved\": 0", "\"Reserved\": 65536", "field Reserved"},
    };
    for (const Case& c : cases) {
        TempDir dir;
        std::string json = kStoreJson;
        json.replace(json.find(c.from), c.from.size(), c.to);
        WriteBytes(dir.file("in.json"), json);
        CliRun w = run("store write " + ShellQuote(dir.file("in.json")) + " " + ShellQuote(dir.file("s.vxt")));
        EXPECT_EQ(w.code, 2) << c.message;
        EXPECT_NE(w.err.find(c.message), std::string::npos) << w.err;
        EXPECT_FALSE(std::filesystem::exists(dir.file("s.vxt"))) << c.message;
    }
    TempDir dir;
    WriteBytes(dir.file("in.json"), "{ not json");
    EXPECT_EQ(run("store write " + ShellQuote(dir.file("in.json")) + " " + ShellQuote(dir.file("s.vxt"))).code, 2);
    EXPECT_EQ(run("store write /no/such/file.json " + ShellQuote(dir.file("s.vxt"))).code, 2);
}

TEST(CliSettings, ReportsFolderPathsAndValues)
{
    TempDir dir;
    WriteBytes(dir.file("dravik.ini"), "[Options]\nDebugging=1\nautologin=0\nmainfields=2,3;5,1\nserver=mon.local:9000\n");
    WriteBytes(dir.file("in.json"), kStoreJson);
    ASSERT_EQ(run("store write " + ShellQuote(dir.file("in.json")) + " " + ShellQuote(dir.file("vexory.vxt"))).code, 0);
    // A second task, so that "2,3" applies.
    ASSERT_EQ(run("store show " + ShellQuote(dir.file("vexory.vxt"))).code, 0);
    TAccountRecord a;
    ASSERT_TRUE(ReadStore(dir.file("vexory.vxt"), a));
    a.Tasks.emplace_back(a.Tasks[0]);
    ASSERT_TRUE(WriteStore(a, dir.file("vexory.vxt")));

    CliRun s = run("settings autorun", "VEXORY_HOME=" + ShellQuote(dir.path()));
    ASSERT_EQ(s.code, 0) << s.err;
    Json j = Json::parse(s.out);
    EXPECT_EQ(j["home"], dir.path());
    EXPECT_EQ(j["store"], dir.file("vexory.vxt"));
    EXPECT_EQ(j["ini"], dir.file("dravik.ini"));
    EXPECT_EQ(j["log"], dir.file("dravik.log"));
    EXPECT_EQ(j["autorun"], true);
    EXPECT_EQ(j["autologin"], false);
    EXPECT_EQ(j["debugging"], true);
    EXPECT_EQ(j["server"], "mon.local:9000");
    EXPECT_EQ(j["tasks"], 2);
    EXPECT_EQ(j["main_fields"], Json::parse(R"([{"task": 2, "field": 3}])"));

    CliRun defaults = run("settings", "VEXORY_HOME=" + ShellQuote(dir.file("empty")));
    ASSERT_EQ(defaults.code, 0);
    Json d = Json::parse(defaults.out);
    EXPECT_EQ(d["autorun"], false);
    EXPECT_EQ(d["autologin"], true);
    EXPECT_EQ(d["server"], "127.0.0.1:8086");

    // Installed, with no VEXORY_HOME: the user's data folder, as the menu starts it.
    CliRun xdg = run("settings", "env -u VEXORY_HOME XDG_DATA_HOME=" + ShellQuote(dir.file("data")));
    EXPECT_EQ(Json::parse(xdg.out)["home"], dir.file("data") + "/vexory");
    CliRun home = run("settings", "env -u VEXORY_HOME -u XDG_DATA_HOME HOME=" + ShellQuote(dir.path()));
    EXPECT_EQ(Json::parse(home.out)["home"], dir.path() + "/.local/share/vexory");
}

TEST(CliUsage, BadUsageIsOneLineAndExitCodeTwo)
{
    CliRun version = run("--version");
    EXPECT_EQ(version.code, 0);
    EXPECT_EQ(version.out.rfind("vexory-cli ", 0), 0u) << version.out;
    EXPECT_EQ(run("").code, 2);
    EXPECT_EQ(run("frobnicate").code, 2);
    EXPECT_EQ(run("store show").code, 2);
    EXPECT_EQ(run("store show a b").code, 2);
    CliRun r = run("store show --bogus x");
    EXPECT_EQ(r.code, 2);
    EXPECT_NE(r.err.find("unknown option --bogus"), std::string::npos);
    EXPECT_EQ(run("--help").code, 0);
}
