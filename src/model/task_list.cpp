#include "model/task_list.h"

#include <algorithm>

namespace vexory {

int TaskList::Save(int position, TTaskRecord task)
{
    if (Has(position)) {
        // The stored fields only: the task's run-time fields stay as they are.
        m_account.Tasks[static_cast<size_t>(position)] = static_cast<const TTaskRecord&>(task);
    } else {
        task.Checked = 1;
        m_account.Tasks.push_back(std::move(task));
        position = Count() - 1;
    }
    Select(position);
    changed();
    return position;
}

void TaskList::Remove(int position)
{
    if (!Has(position))
        return;
    m_account.Tasks.erase(m_account.Tasks.begin() + position);
    changed();
}

void TaskList::Move(int from, int to)
{
    if (!Has(from) || !Has(to) || from == to)
        return;
    auto& tasks = m_account.Tasks;
    if (from < to)
        std::rotate(tasks.begin() + from, tasks.begin() + from + 1, tasks.begin() + to + 1);
    else
        std::rotate(tasks.begin() + to, tasks.begin() + from, tasks.begin() + from + 1);
    changed();
}

int TaskList::Clone(int position)
{
    if (!Has(position))
        return -1;
    TTaskRecord copy = At(position); // fields 1 to 17
    copy.Checked = 0;
    copy.Selected = 0;
    m_account.Tasks.insert(m_account.Tasks.begin() + position + 1, std::move(copy));
    changed();
    return position + 1;
}

void TaskList::Append(const std::vector<TTaskRecord>& tasks)
{
    m_account.Tasks.insert(m_account.Tasks.end(), tasks.begin(), tasks.end());
    changed();
}

void TaskList::SetChecked(int position, bool checked)
{
    if (!Has(position) || (At(position).Checked != 0) == checked)
        return;
    m_account.Tasks[static_cast<size_t>(position)].Checked = checked;
    changed();
}

void TaskList::TickAll()
{
    for (TTaskRecord& t : m_account.Tasks)
        t.Checked = 1;
    changed();
}

void TaskList::InvertTicks()
{
    for (TTaskRecord& t : m_account.Tasks)
        t.Checked = !t.Checked;
    changed();
}

void TaskList::Select(int position)
{
    for (int p = 0; p < Count(); ++p)
        m_account.Tasks[static_cast<size_t>(p)].Selected = p == position;
}

int TaskList::Selected() const
{
    for (int p = 0; p < Count(); ++p)
        if (At(p).Selected)
            return p;
    return -1;
}

int TaskList::Listen(Listener listener)
{
    m_listeners.emplace_back(m_nextId, std::move(listener));
    return m_nextId++;
}

void TaskList::Forget(int id)
{
    std::erase_if(m_listeners, [id](const auto& l) { return l.first == id; });
}

void TaskList::changed()
{
    // A listener may forget itself or another while it hears: a copy is told.
    const auto listeners = m_listeners;
    for (const auto& [id, listener] : listeners)
        listener();
}

} // namespace vexory
