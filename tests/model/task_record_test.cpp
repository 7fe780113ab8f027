#include "model/task_record.h"

#include <gtest/gtest.h>

#include <thread>

using namespace vexory;

namespace {

TTaskRecord makeTask()
{
    TTaskRecord t;
    t.TaskName = "name";
    t.GuideUrl = "guide";
    t.SetPageUrl("page");
    t.ElementId = "id^2";
    t.VerifyFormula = "verify";
    t.GrabFormula = "grab";
    t.SavedTestResult = "saved";
    t.FormulaSent = 1;
    t.ClearTags = 1;
    t.PushToPlugin = 1;
    t.MainField = 3;
    t.ConnectTimeout = 30000;
    t.RefreshInterval = 150000;
    t.NotifyInterval = 5400000;
    t.Checked = 1;
    t.Selected = 1;
    t.CompareLastScreen = 1;
    t.CycleDone = 1;
    t.RunState = RunBusy;
    t.Requester = 4;
    t.SetPendingResult("pending");
    return t;
}

void expectStoredFieldsOf(const TTaskRecord& t)
{
    EXPECT_EQ(t.TaskName, "name");
    EXPECT_EQ(t.GuideUrl, "guide");
    EXPECT_EQ(t.PageUrl(), "page");
    EXPECT_EQ(t.ElementId, "id^2");
    EXPECT_EQ(t.VerifyFormula, "verify");
    EXPECT_EQ(t.GrabFormula, "grab");
    EXPECT_EQ(t.SavedTestResult, "saved");
    EXPECT_EQ(t.FormulaSent, 1);
    EXPECT_EQ(t.ClearTags, 1);
    EXPECT_EQ(t.PushToPlugin, 1);
    EXPECT_EQ(t.MainField, 3);
    EXPECT_EQ(t.ConnectTimeout, 30000u);
    EXPECT_EQ(t.RefreshInterval, 150000u);
    EXPECT_EQ(t.NotifyInterval, 5400000u);
    EXPECT_EQ(t.Checked, 1);
    EXPECT_EQ(t.Selected, 1);
    EXPECT_EQ(t.CompareLastScreen, 1);
}

} // namespace

TEST(TaskRecord, NewRecordIsAllZeroAndEmpty)
{
    TTaskRecord t;
    EXPECT_TRUE(t.TaskName.empty());
    EXPECT_TRUE(t.PageUrl().empty());
    EXPECT_EQ(t.RefreshInterval, 0u);
    EXPECT_EQ(t.Requester, 0);
    EXPECT_EQ(t.RunState, RunIdle);
    EXPECT_TRUE(t.PendingResult().empty());
}

TEST(TaskRecord, CloneCopiesStoredFieldsAndLeavesRunTimeFieldsZero)
{
    const TTaskRecord source = makeTask();
    const TTaskRecord clone(source);
    expectStoredFieldsOf(clone);
    EXPECT_EQ(clone.CycleDone, 0);
    EXPECT_EQ(clone.RunState, 0);
    EXPECT_EQ(clone.Requester, 0); // not -1: only a run start sets that
    EXPECT_TRUE(clone.PendingResult().empty());
}

TEST(TaskRecord, CopyIntoExistingRecordKeepsItsRunTimeFields)
{
    TTaskRecord target;
    target.CycleDone = 1;
    target.RunState = RunBetweenCycles;
    target.Requester = -1;
    target.SetPendingResult("mine");
    const TTaskRecord source = makeTask();
    target = source;
    expectStoredFieldsOf(target);
    EXPECT_EQ(target.CycleDone, 1);
    EXPECT_EQ(target.RunState, RunBetweenCycles);
    EXPECT_EQ(target.Requester, -1);
    EXPECT_EQ(target.PendingResult(), "mine");
}

TEST(TaskRecord, GrowingTheTaskArrayKeepsRunTimeFields)
{
    std::vector<TTaskRecord> tasks;
    tasks.push_back(makeTask());
    for (int i = 0; i < 100; ++i)
        tasks.emplace_back(); // forces several reallocations
    expectStoredFieldsOf(tasks[0]);
    EXPECT_EQ(tasks[0].RunState, RunBusy);
    EXPECT_EQ(tasks[0].Requester, 4);
    EXPECT_EQ(tasks[0].PendingResult(), "pending");
}

TEST(TaskRecord, SharedStringsCanBeWrittenAndReadFromSeveralThreads)
{
    TTaskRecord t;
    std::vector<std::thread> threads;
    for (int k = 0; k < 4; ++k) {
        threads.emplace_back([&t, k] {
            for (int i = 0; i < 2000; ++i) {
                t.SetPendingResult(std::string(64, static_cast<char>('a' + k)));
                t.SetPageUrl("http://x/" + std::to_string(i));
                std::string seen = t.PendingResult();
                ASSERT_TRUE(seen.empty() || seen == std::string(64, seen[0]));
                t.RunState = static_cast<uint8_t>(i % 8);
            }
        });
    }
    for (auto& th : threads)
        th.join();
    EXPECT_EQ(t.PendingResult().size(), 64u);
}
