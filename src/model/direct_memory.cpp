#include "model/direct_memory.h"

#include "base/encoding.h"
#include "model/task_store.h"

#include <fstream>

namespace vexory {

DirectMemory::DirectMemory(const std::string& storePath) : m_path(storePath + ".direct")
{
    std::ifstream in(m_path);
    std::string line;
    while (std::getline(in, line))
        if (line.size() == 40)
            m_keys.insert(line);
}

std::string DirectMemory::key(const TTaskRecord& task)
{
    return Sha1Hex(task.PageUrl() + '\x07' + task.GrabFormula);
}

bool DirectMemory::ReadsDirectly(const TTaskRecord& task) const
{
    return m_keys.count(key(task)) > 0;
}

void DirectMemory::Remember(const TTaskRecord& task, bool direct)
{
    const std::string k = key(task);
    if ((m_keys.count(k) > 0) == direct)
        return;
    if (direct)
        m_keys.insert(k);
    else
        m_keys.erase(k);
    std::string text;
    for (const std::string& known : m_keys)
        text += known + '\n';
    WriteFileWhole(m_path, text); // a file that cannot be written only costs the next run a browser read
}

} // namespace vexory
