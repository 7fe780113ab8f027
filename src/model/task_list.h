#pragma once

// TaskList: the account's tasks in their order, with their ticks and the selected
// one, and the one way to change them. The task list window shows it, the editor
// saves a task through it, the main window writes the store from it; each change
// is announced to whoever listens. During a run nothing changes them: the runners
// know their tasks by position.

#include "model/task_record.h"

#include <functional>
#include <utility>
#include <vector>

namespace vexory {

class TaskList
{
public:
    using Listener = std::function<void()>;

    explicit TaskList(TAccountRecord& account) : m_account(account) {}
    TaskList(const TaskList&) = delete;
    TaskList& operator=(const TaskList&) = delete;

    TAccountRecord& Account() { return m_account; }
    const TAccountRecord& Account() const { return m_account; }
    int Count() const { return static_cast<int>(m_account.Tasks.size()); }
    const TTaskRecord& At(int position) const { return m_account.Tasks[static_cast<size_t>(position)]; }
    bool Has(int position) const { return position >= 0 && position < Count(); }

    // Saves an edited task at its position; a new task (position -1) is appended,
    // ticked, for a task just made is meant to run. The saved task becomes the
    // selected one. Returns its position.
    int Save(int position, TTaskRecord task);
    void Remove(int position);
    void Move(int from, int to);
    // The copy (stored fields only) goes right after its task, unticked.
    int Clone(int position);
    // Tasks from another store, appended as they were stored.
    void Append(const std::vector<TTaskRecord>& tasks);
    void SetChecked(int position, bool checked);
    void TickAll();
    void InvertTicks();

    // The selected task (-1: none). A selection is not announced: the store takes
    // it with the next change.
    void Select(int position);
    int Selected() const;

    // `listener` hears every change from now on; the number forgets it again.
    int Listen(Listener listener);
    void Forget(int id);

private:
    void changed();

    TAccountRecord& m_account;
    std::vector<std::pair<int, Listener>> m_listeners;
    int m_nextId = 1;
};

} // namespace vexory
