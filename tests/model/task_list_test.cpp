// The task list as its one owner changes it: each change told to every listener
// once, the selection and the ticks carried along, run-time fields kept.

#include "model/task_list.h"

#include <gtest/gtest.h>

#include <string>

using namespace vexory;

namespace {

std::string names(const TaskList& list)
{
    std::string out;
    for (int p = 0; p < list.Count(); ++p)
        out += list.At(p).TaskName + (list.At(p).Checked ? "+" : "") + (list.At(p).Selected ? "*" : "");
    return out;
}

TTaskRecord named(const std::string& name)
{
    TTaskRecord t;
    t.TaskName = name;
    return t;
}

} // namespace

TEST(TaskList, EveryChangeIsToldAndTheSelectionTravelsWithItsTask)
{
    TAccountRecord account;
    TaskList list(account);
    int told = 0, toldToo = 0;
    list.Listen([&] { ++told; });
    const int second = list.Listen([&] { ++toldToo; });

    // New tasks come ticked and selected.
    EXPECT_EQ(list.Save(-1, named("a")), 0);
    EXPECT_EQ(list.Save(-1, named("b")), 1);
    EXPECT_EQ(list.Save(-1, named("c")), 2);
    EXPECT_EQ(names(list), "a+b+c+*");
    EXPECT_EQ(told, 3);

    list.Select(0); // not a change of the tasks
    EXPECT_EQ(told, 3);
    list.Move(0, 2);
    EXPECT_EQ(names(list), "b+c+a+*");
    list.Move(2, 0);
    EXPECT_EQ(names(list), "a+*b+c+");
    list.SetChecked(1, false);
    list.SetChecked(1, false); // no change: not told
    EXPECT_EQ(list.Clone(0), 1);
    EXPECT_EQ(names(list), "a+*abc+");
    list.InvertTicks();
    EXPECT_EQ(names(list), "a*a+b+c");
    list.Remove(0);
    EXPECT_EQ(list.Selected(), -1);
    list.TickAll();
    list.Append({named("d"), named("e")});
    EXPECT_EQ(names(list), "a+b+c+de");
    EXPECT_EQ(told, 11);
    EXPECT_EQ(toldToo, 11);

    list.Forget(second);
    list.Remove(99); // outside: nothing happens, nothing is told
    list.Move(0, 9);
    list.Remove(4);
    EXPECT_EQ(told, 12);
    EXPECT_EQ(toldToo, 11);
}

TEST(TaskList, SavingATaskKeepsItsRunTimeFields)
{
    TAccountRecord account;
    account.Tasks.push_back(named("a"));
    account.Tasks[0].RunState = RunStopped;
    TaskList list(account);
    TTaskRecord edited = list.At(0); // a copy: stored fields only
    edited.TaskName = "renamed";
    EXPECT_EQ(list.Save(0, edited), 0);
    EXPECT_EQ(account.Tasks[0].TaskName, "renamed");
    EXPECT_EQ(account.Tasks[0].RunState.load(), RunStopped);
    EXPECT_EQ(account.Tasks[0].Selected, 1);
}
