#include "model/ini_file.h"
#include "model/settings.h"

#include "support/temp_dir.h"

#include <gtest/gtest.h>

using namespace vexory;
using vexory::test::TempDir;

namespace {

struct Loaded
{
    TAccountRecord account;
    TProcessValues values;
};

// Reads settings from an INI text for an account of `tasks` tasks.
Loaded load(std::string_view ini, size_t tasks = 3, std::vector<std::string> args = {})
{
    TempDir dir;
    const std::string path = dir.file("dravik.ini");
    if (!ini.empty())
        test::WriteBytes(path, ini);
    Loaded l;
    l.account.Tasks.resize(tasks);
    ReadSettings(path, args, l.account, l.values);
    return l;
}

std::vector<int> mainFields(const Loaded& l)
{
    std::vector<int> out;
    for (const auto& t : l.account.Tasks)
        out.push_back(t.MainField);
    return out;
}

} // namespace

TEST(Settings, NoFileGivesTheDefaults)
{
    Loaded l = load("");
    EXPECT_TRUE(l.values.AutoLogin);
    EXPECT_FALSE(l.values.Debugging);
    EXPECT_FALSE(l.values.AutoRun);
    EXPECT_TRUE(l.values.SettingsRead);
    EXPECT_EQ(l.values.Server, "127.0.0.1:8086");
    EXPECT_EQ(mainFields(l), (std::vector<int>{0, 0, 0}));
}

TEST(Settings, BooleansAreIntegersWithDefaultsForAnythingElse)
{
    EXPECT_FALSE(load("[options]\nautologin=0\n").values.AutoLogin);
    EXPECT_TRUE(load("[options]\nautologin=yes\n").values.AutoLogin);
    EXPECT_TRUE(load("[options]\nautologin=\n").values.AutoLogin);
    EXPECT_TRUE(load("[options]\nautologin=1x\n").values.AutoLogin);
    EXPECT_FALSE(load("[options]\nautologin=0x0\n").values.AutoLogin);
    EXPECT_TRUE(load("[options]\ndebugging=-5\n").values.Debugging);
    EXPECT_TRUE(load("[options]\ndebugging=0x1F\n").values.Debugging);
    EXPECT_FALSE(load("[options]\ndebugging=true\n").values.Debugging);
    EXPECT_FALSE(load("[options]\ndebugging=99999999999\n").values.Debugging); // beyond 32 bits: default
}

TEST(Settings, SectionAndKeyNamesIgnoreCaseAndTheFirstSectionCounts)
{
    Loaded l = load("; a comment\r\n[Other]\r\ndebugging=1\r\n[OPTIONS]\r\n  AutoLogin = 0 \r\nDEBUGGING=1\r\n"
                    "[options]\r\nautologin=1\r\n");
    EXPECT_FALSE(l.values.AutoLogin);
    EXPECT_TRUE(l.values.Debugging);
}

TEST(Settings, MainFieldsApplyOnlyToWellFormedPairsOfExistingTasks)
{
    EXPECT_EQ(mainFields(load("[options]\nmainfields=1,2;3,1\n")), (std::vector<int>{2, 0, 1}));
    EXPECT_EQ(mainFields(load("[options]\nmainfields=2,1;9,3\n")), (std::vector<int>{0, 1, 0}));
    EXPECT_EQ(mainFields(load("[options]\nmainfields=1,x\n")), (std::vector<int>{0, 0, 0}));
    EXPECT_EQ(mainFields(load("[options]\nmainfields=1,2,3\n")), (std::vector<int>{0, 0, 0}));
    EXPECT_EQ(mainFields(load("[options]\nmainfields= 1 , 4 ;;; 0,2; 3,,5 ;\n")), (std::vector<int>{4, 0, 5}));
    EXPECT_EQ(mainFields(load("[options]\nmainfields=2,258;1,-1\n")), (std::vector<int>{255, 2, 0}));
    EXPECT_EQ(mainFields(load("[options]\nmainfields=1,99999999999\n")), (std::vector<int>{0, 0, 0}));
    EXPECT_EQ(load("[options]\nmainfields=1,2\n").values.MainFields, "1,2");
}

TEST(Settings, MainFieldsOnAnEmptyTaskListSetNothing)
{
    Loaded l = load("[options]\nmainfields=1,2\n", 0);
    EXPECT_TRUE(l.account.Tasks.empty());
}

TEST(Settings, AutorunIsTheExactFirstArgument)
{
    EXPECT_TRUE(load("", 0, {"autorun"}).values.AutoRun);
    EXPECT_FALSE(load("", 0, {"AUTORUN"}).values.AutoRun);
    EXPECT_FALSE(load("", 0, {"x", "autorun"}).values.AutoRun);
}

TEST(Settings, ReadOncePerProcess)
{
    TempDir dir;
    test::WriteBytes(dir.file("dravik.ini"), "[options]\ndebugging=1\nmainfields=1,2\n");
    TAccountRecord account;
    account.Tasks.resize(1);
    TProcessValues values;
    ReadSettings(dir.file("dravik.ini"), {}, account, values);
    EXPECT_TRUE(values.Debugging);
    account.Tasks[0].MainField = 0;
    test::WriteBytes(dir.file("dravik.ini"), "[options]\ndebugging=0\n");
    ReadSettings(dir.file("dravik.ini"), {"autorun"}, account, values);
    EXPECT_TRUE(values.Debugging);
    EXPECT_FALSE(values.AutoRun);
    EXPECT_EQ(account.Tasks[0].MainField, 0);
}

TEST(Settings, ServerSettingAndItsParts)
{
    EXPECT_EQ(load("[options]\nserver=vexory.example:9000\n").values.Server, "vexory.example:9000");
    EXPECT_EQ(load("[options]\nserver=\n").values.Server, "127.0.0.1:8086");

    std::string host;
    uint16_t port = 0;
    ASSERT_TRUE(SplitServer("127.0.0.1:8086", host, port));
    EXPECT_EQ(host, "127.0.0.1");
    EXPECT_EQ(port, 8086);
    ASSERT_TRUE(SplitServer("monitor.example", host, port));
    EXPECT_EQ(host, "monitor.example");
    EXPECT_EQ(port, 80);
    EXPECT_FALSE(SplitServer("host:", host, port));
    EXPECT_FALSE(SplitServer("host:70000", host, port));
    EXPECT_FALSE(SplitServer(":80", host, port));
    EXPECT_FALSE(SplitServer("a b:80", host, port));
}

TEST(IniFile, ValuesAreTrimmedAndLoseOnePairOfQuotes)
{
    IniFile ini("[s]\nk1 =  \"quoted value\"  \nk2='x'\nk3=\"unbalanced\nnoequals\n");
    EXPECT_EQ(ini.ReadString("s", "k1", "-"), "quoted value");
    EXPECT_EQ(ini.ReadString("s", "k2", "-"), "x");
    EXPECT_EQ(ini.ReadString("s", "k3", "-"), "\"unbalanced");
    EXPECT_EQ(ini.ReadString("s", "noequals", "-"), "-");
    EXPECT_EQ(ini.ReadString("t", "k1", "-"), "-");
}

TEST(IniFile, ProfileIntegers)
{
    int32_t v = 0;
    EXPECT_TRUE(ParseProfileInteger("  42", v));
    EXPECT_EQ(v, 42);
    EXPECT_TRUE(ParseProfileInteger("-2147483648", v));
    EXPECT_EQ(v, INT32_MIN);
    EXPECT_FALSE(ParseProfileInteger("2147483648", v));
    EXPECT_TRUE(ParseProfileInteger("0x10", v));
    EXPECT_EQ(v, 16);
    EXPECT_TRUE(ParseProfileInteger("0XFFFFFFFF", v));
    EXPECT_EQ(v, -1);
    EXPECT_TRUE(ParseProfileInteger("$ff", v));
    EXPECT_EQ(v, 255);
    EXPECT_FALSE(ParseProfileInteger("0x", v));
    EXPECT_FALSE(ParseProfileInteger("0x100000000", v));
    EXPECT_FALSE(ParseProfileInteger("12 ", v));
    EXPECT_FALSE(ParseProfileInteger("", v));
    EXPECT_FALSE(ParseProfileInteger("+", v));
}
