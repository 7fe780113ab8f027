#pragma once

// Which tasks read their page without the browser when they last ran, kept beside
// the task store (not in it: its format stays as it is), so that their next run
// starts directly instead of loading the page in the browser first. A task is
// known by its page address and grab formula: another page or formula is another
// task to the browser's comparison.

#include "model/task_record.h"

#include <set>
#include <string>

namespace vexory {

class DirectMemory
{
public:
    // The file beside the store at `storePath`; read at once (a missing or
    // unreadable file knows no task).
    explicit DirectMemory(const std::string& storePath);

    bool ReadsDirectly(const TTaskRecord& task) const;
    // Written at once when it changes what the file says.
    void Remember(const TTaskRecord& task, bool direct);

    const std::string& Path() const { return m_path; }

private:
    static std::string key(const TTaskRecord& task);

    std::string m_path;
    std::set<std::string> m_keys;
};

} // namespace vexory
