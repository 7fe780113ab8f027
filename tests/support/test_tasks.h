#pragma once

// Tasks as the tests make them: a name, a page, a grab formula and the rhythm;
// each test sets what else it needs. And the process values of a program offline.

#include "model/task_record.h"

#include <cstdint>
#include <string>

namespace vexory::test {

inline TTaskRecord MakeTask(const std::string& name, const std::string& url, const std::string& formula,
                            uint32_t refreshMs, uint32_t timeoutMs)
{
    TTaskRecord t;
    t.TaskName = name;
    t.SetPageUrl(url);
    t.GrabFormula = formula;
    t.RefreshInterval = refreshMs;
    t.ConnectTimeout = timeoutMs;
    return t;
}

// A task a runner panel takes up at once: no run requested, its cycle done.
inline TTaskRecord RunnerTask(const std::string& name, const std::string& url, const std::string& formula,
                              uint32_t refreshMs = 1500, uint32_t timeoutMs = 10000)
{
    TTaskRecord t = MakeTask(name, url, formula, refreshMs, timeoutMs);
    t.Requester = -1;
    t.CycleDone = 1;
    return t;
}

// Process values of a test: no command line, no automatic login, no service.
inline TProcessValues OfflineValues(bool storeLoaded = true)
{
    TProcessValues values;
    values.SettingsRead = true;
    values.AutoLogin = false;
    values.StoreLoaded = storeLoaded;
    values.Server = "127.0.0.1:1";
    return values;
}

} // namespace vexory::test
