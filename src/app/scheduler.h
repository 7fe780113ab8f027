#pragma once

// The run scheduler's decisions, without windows: which tasks a run starts, the
// status counts and run clock, the automatic end, and the claims on records that
// keep two tasks from reporting the same record.

#include "model/task_record.h"

#include <cstdint>
#include <ctime>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

namespace vexory {

// The tasks a run starts, in list order; each chosen task's RunState becomes 1.
// Not logged in (or with the multi-task right): every ticked task. Logged in without
// it: the first ticked and selected task, else the first ticked one, else none.
std::vector<int> SelectStartTasks(TAccountRecord& account);

// At the start of a run: RunState 0, CycleDone 1 and Requester -1 for every task.
void ResetForRun(TAccountRecord& account);

struct RunCounts
{
    int total = 0;   // RunState 1, 5, 6 or 7
    int running = 0; // 6 or 7 with CycleDone 0
    int waiting = 0; // 5, or 6 or 7 with CycleDone 1
};
RunCounts CountTasks(const TAccountRecord& account);

// "[ 01:02:03 | 04:05:06 ]", or "[ 01:02:03 | ∞:∞:∞ ]" without an end (code page 936).
std::string RunClockText(uint32_t runStartTick, uint32_t nowTick, uint32_t runEndTick);

// The tick of the automatic end (0: none) for a run whose clock started at
// `runStartTick` when the local time was `now`. AutoEnd 2..25 ends at hour
// AutoEnd - 1 (today if still ahead, else tomorrow; hour 24 is the coming midnight),
// 26..225 ends AutoEnd - 25 hours after the start.
uint32_t ComputeEndTick(uint8_t autoEnd, uint32_t runStartTick, const std::tm& now);

// Which task first claimed a record (by its digest). Safe from any thread.
class ClaimRegistry
{
public:
    // True when no other task claimed the record before.
    bool ClaimRecord(int taskIndex, const std::string& digest);
    void Clear();

private:
    std::mutex m_mutex;
    std::unordered_map<std::string, int> m_first;
};

} // namespace vexory
