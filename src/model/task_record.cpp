#include "model/task_record.h"

namespace vexory {

TTaskRecord::TTaskRecord(const TTaskRecord& other)
{
    copyStored(other);
}

TTaskRecord& TTaskRecord::operator=(const TTaskRecord& other)
{
    if (this != &other)
        copyStored(other);
    return *this;
}

TTaskRecord::TTaskRecord(TTaskRecord&& other) noexcept
{
    *this = std::move(other);
}

TTaskRecord& TTaskRecord::operator=(TTaskRecord&& other) noexcept
{
    if (this == &other)
        return *this;
    copyStored(other);
    CycleDone = other.CycleDone.load();
    RunState = other.RunState.load();
    Requester = other.Requester.load();
    RestartPending = other.RestartPending.load();
    SetPendingResult(other.PendingResult());
    return *this;
}

void TTaskRecord::copyStored(const TTaskRecord& other)
{
    TaskName = other.TaskName;
    GuideUrl = other.GuideUrl;
    SetPageUrl(other.PageUrl());
    ElementId = other.ElementId;
    VerifyFormula = other.VerifyFormula;
    GrabFormula = other.GrabFormula;
    SavedTestResult = other.SavedTestResult;
    FormulaSent = other.FormulaSent.load();
    ClearTags = other.ClearTags;
    PushToPlugin = other.PushToPlugin;
    MainField = other.MainField.load();
    ConnectTimeout = other.ConnectTimeout;
    RefreshInterval = other.RefreshInterval;
    NotifyInterval = other.NotifyInterval;
    Checked = other.Checked;
    Selected = other.Selected;
    CompareLastScreen = other.CompareLastScreen;
}

std::string TTaskRecord::PageUrl() const
{
    std::lock_guard lock(m_mutex);
    return m_pageUrl;
}

void TTaskRecord::SetPageUrl(std::string url)
{
    std::lock_guard lock(m_mutex);
    m_pageUrl = std::move(url);
}

std::string TTaskRecord::PendingResult() const
{
    std::lock_guard lock(m_mutex);
    return m_pendingResult;
}

void TTaskRecord::SetPendingResult(std::string text)
{
    std::lock_guard lock(m_mutex);
    m_pendingResult = std::move(text);
}

TAccountRecord::TAccountRecord(const TAccountRecord& other)
{
    *this = other;
}

TAccountRecord& TAccountRecord::operator=(const TAccountRecord& other)
{
    if (this == &other)
        return *this;
    Nickname = other.Nickname;
    PasswordDigest = other.PasswordDigest;
    AutoEnd = other.AutoEnd;
    ShutdownFlags = other.ShutdownFlags;
    Reserved = other.Reserved;
    UserNumber = other.UserNumber;
    LoggedIn = other.LoggedIn.load();
    PluginRight = other.PluginRight;
    ChainRight = other.ChainRight;
    MultiTaskRight = other.MultiTaskRight;
    FastRefreshRight = other.FastRefreshRight;
    StopAll = other.StopAll.load();
    Tasks = other.Tasks;
    return *this;
}

TAccountRecord::TAccountRecord(TAccountRecord&& other) noexcept
{
    *this = std::move(other);
}

TAccountRecord& TAccountRecord::operator=(TAccountRecord&& other) noexcept
{
    if (this == &other)
        return *this;
    std::vector<TTaskRecord> tasks = std::move(other.Tasks);
    other.Tasks.clear();
    *this = static_cast<const TAccountRecord&>(other);
    Tasks = std::move(tasks);
    return *this;
}

} // namespace vexory
