#include "app/scheduler.h"

#include "app/gbk_texts.h"
#include "base/progress_format.h"

namespace vexory {

std::vector<int> SelectStartTasks(TAccountRecord& account)
{
    std::vector<int> chosen;
    const bool all = !account.LoggedIn || account.MultiTaskRight;
    if (all) {
        for (size_t i = 0; i < account.Tasks.size(); ++i)
            if (account.Tasks[i].Checked)
                chosen.push_back(static_cast<int>(i));
    } else {
        int pick = -1;
        for (size_t i = 0; i < account.Tasks.size() && pick < 0; ++i)
            if (account.Tasks[i].Checked && account.Tasks[i].Selected)
                pick = static_cast<int>(i);
        for (size_t i = 0; i < account.Tasks.size() && pick < 0; ++i)
            if (account.Tasks[i].Checked)
                pick = static_cast<int>(i);
        if (pick >= 0)
            chosen.push_back(pick);
    }
    for (int i : chosen)
        account.Tasks[static_cast<size_t>(i)].RunState = RunStartRequested;
    return chosen;
}

void ResetForRun(TAccountRecord& account)
{
    for (auto& t : account.Tasks) {
        t.RunState = RunIdle;
        t.CycleDone = 1;
        t.Requester = -1;
    }
}

RunCounts CountTasks(const TAccountRecord& account)
{
    RunCounts c;
    for (const auto& t : account.Tasks) {
        const uint8_t s = t.RunState;
        const bool cycling = s == RunBetweenCycles || s == RunBusy;
        if (s == RunStartRequested || s == RunPresent || cycling)
            ++c.total;
        if (cycling && !t.CycleDone)
            ++c.running;
        if (s == RunPresent || (cycling && t.CycleDone))
            ++c.waiting;
    }
    return c;
}

std::string RunClockText(uint32_t runStartTick, uint32_t nowTick, uint32_t runEndTick)
{
    std::string text = FormatElapsed((nowTick - runStartTick) / 1000, 3);
    text.pop_back(); // the closing "]" gives way to the time left
    text += '|';
    if (runEndTick == 0) {
        text += texts::kNoEndLeft;
    } else {
        const int64_t left = static_cast<int64_t>(runEndTick) - static_cast<int64_t>(nowTick);
        text += FormatElapsed(left > 0 ? left / 1000 : 0, 3).substr(1);
    }
    return text;
}

uint32_t ComputeEndTick(uint8_t autoEnd, uint32_t runStartTick, const std::tm& now)
{
    if (autoEnd <= 1)
        return 0;
    if (autoEnd >= 26)
        return runStartTick + static_cast<uint32_t>(autoEnd - 25) * 3600000u;
    // Hour 24 ("24 点整") is read as the coming midnight: the end of the current day.
    const int hour = autoEnd - 1;
    const int64_t nowSeconds = now.tm_hour * 3600 + now.tm_min * 60 + now.tm_sec;
    int64_t targetSeconds = static_cast<int64_t>(hour) * 3600;
    if (now.tm_hour >= hour)
        targetSeconds += 24 * 3600;
    if (hour == 24)
        targetSeconds = 24 * 3600;
    return runStartTick + static_cast<uint32_t>((targetSeconds - nowSeconds) * 1000);
}

bool ClaimRegistry::ClaimRecord(int taskIndex, const std::string& digest)
{
    std::lock_guard lock(m_mutex);
    auto [it, inserted] = m_first.emplace(digest, taskIndex);
    return inserted || it->second == taskIndex;
}

void ClaimRegistry::Clear()
{
    std::lock_guard lock(m_mutex);
    m_first.clear();
}

} // namespace vexory
