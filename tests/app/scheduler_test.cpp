#include "app/log_file.h"
#include "app/scheduler.h"
#include "platform/codepage.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <thread>

using namespace vexory;

namespace {

TAccountRecord threeTicked(int selected)
{
    TAccountRecord a;
    a.Tasks.resize(4);
    for (int i = 0; i < 3; ++i)
        a.Tasks[static_cast<size_t>(i)].Checked = 1;
    if (selected >= 0)
        a.Tasks[static_cast<size_t>(selected)].Selected = 1;
    return a;
}

std::tm at(int hour, int minute)
{
    std::tm tm{};
    tm.tm_year = 126;
    tm.tm_mon = 11;
    tm.tm_mday = 7;
    tm.tm_hour = hour;
    tm.tm_min = minute;
    return tm;
}

} // namespace

TEST(Scheduler, WhichTasksARunStarts)
{
    TAccountRecord loggedIn = threeTicked(1);
    loggedIn.LoggedIn = 1;
    EXPECT_EQ(SelectStartTasks(loggedIn), std::vector<int>{1});
    EXPECT_EQ(loggedIn.Tasks[1].RunState, RunStartRequested);
    EXPECT_EQ(loggedIn.Tasks[0].RunState, RunIdle);

    TAccountRecord noneSelected = threeTicked(-1);
    noneSelected.LoggedIn = 1;
    EXPECT_EQ(SelectStartTasks(noneSelected), std::vector<int>{0});
    noneSelected.Tasks[3].Selected = 1; // selected but not ticked: not chosen
    EXPECT_EQ(SelectStartTasks(noneSelected), std::vector<int>{0});

    TAccountRecord notLoggedIn = threeTicked(1);
    notLoggedIn.MultiTaskRight = 0;
    EXPECT_EQ(SelectStartTasks(notLoggedIn), (std::vector<int>{0, 1, 2}));

    TAccountRecord multi = threeTicked(1);
    multi.LoggedIn = 1;
    multi.MultiTaskRight = 1;
    EXPECT_EQ(SelectStartTasks(multi), (std::vector<int>{0, 1, 2}));

    TAccountRecord loggedOut = threeTicked(2); // a logout keeps the right, but it no longer counts
    loggedOut.MultiTaskRight = 1;
    EXPECT_EQ(SelectStartTasks(loggedOut).size(), 3u);

    TAccountRecord empty;
    empty.LoggedIn = 1;
    EXPECT_TRUE(SelectStartTasks(empty).empty());
}

TEST(Scheduler, CountsAndRunClock)
{
    TAccountRecord a;
    a.Tasks.resize(6);
    ResetForRun(a);
    EXPECT_EQ(a.Tasks[0].Requester, -1);
    EXPECT_EQ(a.Tasks[0].CycleDone, 1);
    a.Tasks[0].RunState = RunStartRequested;
    a.Tasks[1].RunState = RunPresent;
    a.Tasks[2].RunState = RunBetweenCycles;
    a.Tasks[2].CycleDone = 0;
    a.Tasks[3].RunState = RunBusy;
    a.Tasks[3].CycleDone = 1;
    a.Tasks[4].RunState = RunStopped;
    RunCounts c = CountTasks(a);
    EXPECT_EQ(c.total, 4);
    EXPECT_EQ(c.running, 1);
    EXPECT_EQ(c.waiting, 2);

    const uint32_t start = 4294000000u; // the tick count wraps
    EXPECT_EQ(GbkToUtf8(RunClockText(start, start + 3723000, start + 3723000 + 14706000)), "[ 01:02:03 | 04:05:06 ]");
    EXPECT_EQ(GbkToUtf8(RunClockText(start, start + 3723000, 0)), "[ 01:02:03 | ∞:∞:∞ ]");
    EXPECT_EQ(GbkToUtf8(RunClockText(start, start + 5000, start + 1000)), "[ 00:00:05 | 00:00:00 ]");
    EXPECT_EQ(GbkToUtf8(RunClockText(0, 360000000, 0)), "[ 100:00:00 | ∞:∞:∞ ]");
}

TEST(Scheduler, AutomaticEnd)
{
    EXPECT_EQ(ComputeEndTick(0, 1000, at(10, 0)), 0u);
    EXPECT_EQ(ComputeEndTick(1, 1000, at(10, 0)), 0u);
    EXPECT_EQ(ComputeEndTick(30, 1000, at(10, 0)), 1000u + 5u * 3600000u); // five hours after the start
    // AutoEnd 9 is hour 8: from 08:30 tomorrow at 08:00, from 07:30 today.
    EXPECT_EQ(ComputeEndTick(9, 0, at(8, 30)), 23u * 3600000u + 30u * 60000u);
    EXPECT_EQ(ComputeEndTick(9, 0, at(7, 30)), 30u * 60000u);
    EXPECT_EQ(ComputeEndTick(9, 0, at(8, 0)), 24u * 3600000u); // the hour itself: tomorrow
    // Across midnight: hour 1 (AutoEnd 2) from 23:00 is two hours away.
    EXPECT_EQ(ComputeEndTick(2, 0, at(23, 0)), 2u * 3600000u);
    // Hour 24 is the coming midnight, whatever the hour.
    EXPECT_EQ(ComputeEndTick(25, 0, at(22, 0)), 2u * 3600000u);
    EXPECT_EQ(ComputeEndTick(25, 0, at(0, 30)), 23u * 3600000u + 30u * 60000u);
}

TEST(Scheduler, OnlyTheFirstTaskMayClaimARecord)
{
    ClaimRegistry claims;
    EXPECT_TRUE(claims.ClaimRecord(0, "abc"));
    EXPECT_TRUE(claims.ClaimRecord(0, "abc")); // the same task again
    EXPECT_FALSE(claims.ClaimRecord(1, "abc"));
    EXPECT_TRUE(claims.ClaimRecord(1, "def"));

    // From many threads at once, exactly one task wins each record.
    ClaimRegistry shared;
    std::atomic<int> wins{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&, t] {
            for (int i = 0; i < 500; ++i)
                wins += shared.ClaimRecord(t, std::to_string(i)) ? 1 : 0;
        });
    for (auto& th : threads)
        th.join();
    EXPECT_EQ(wins.load(), 500);
}

TEST(LogFile, AppendsOnlyWhenDebugging)
{
    test::TempDir dir;
    const std::string path = dir.file("dravik.log");
    EXPECT_TRUE(AppendLog(path, "x", false));
    EXPECT_FALSE(std::filesystem::exists(path));
    for (int run = 0; run < 2; ++run) {
        ASSERT_TRUE(AppendLog(path, StatusLineText("\xCA\xFD", "2026/12/7 9:05:01"), true));
        ASSERT_TRUE(AppendLog(path, ProgramEndEntry(), true));
    }
    const std::string run = "  2026/12/7 9:05:01 - \xCA\xFD\r\n\xB3\xCC\xD0\xF2\xBD\xE1\xCA\xF8\r\n\r\n";
    EXPECT_EQ(test::ReadBytes(path), run + run);
    std::tm tm{};
    tm.tm_year = 126;
    tm.tm_mon = 0;
    tm.tm_mday = 5;
    tm.tm_hour = 7;
    tm.tm_min = 3;
    tm.tm_sec = 9;
    EXPECT_EQ(FormatDateTime(tm), "2026/1/5 7:03:09");
    EXPECT_FALSE(AppendLog(dir.file("no/such/folder/dravik.log"), "x", true));
}
