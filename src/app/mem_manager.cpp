#include "app/mem_manager.h"

#include "app/gbk_texts.h"

#include <dirent.h>
#include <filesystem>
#include <fstream>
#include <malloc.h>
#include <sstream>
#include <unistd.h>
#include <vector>

namespace vexory {

namespace {

// VmRSS of a process in bytes, 0 when it cannot be read.
uint64_t residentOf(const std::string& statusPath)
{
    std::ifstream in(statusPath);
    std::string line;
    while (std::getline(in, line))
        if (line.rfind("VmRSS:", 0) == 0)
            return std::stoull(line.substr(6)) * 1024;
    return 0;
}

// The browser runs in processes of its own: a zygote our child, the renderers
// its children. Every process below ours counts as our memory.
uint64_t descendantsResident(pid_t root)
{
    std::vector<std::pair<long, long>> parents; // (pid, ppid)
    DIR* proc = opendir("/proc");
    if (!proc)
        return 0;
    while (dirent* e = readdir(proc)) {
        if (e->d_name[0] < '0' || e->d_name[0] > '9')
            continue;
        std::ifstream stat(std::string("/proc/") + e->d_name + "/stat");
        std::string content;
        std::getline(stat, content);
        const size_t close = content.rfind(')');
        if (close == std::string::npos || close + 2 > content.size())
            continue;
        std::istringstream fields(content.substr(close + 2));
        std::string state;
        long ppid = 0;
        fields >> state >> ppid;
        parents.emplace_back(std::atol(e->d_name), ppid);
    }
    closedir(proc);
    uint64_t total = 0;
    std::vector<long> todo{root};
    while (!todo.empty()) {
        const long parent = todo.back();
        todo.pop_back();
        for (const auto& [pid, ppid] : parents)
            if (ppid == parent && pid != root) {
                total += residentOf("/proc/" + std::to_string(pid) + "/status");
                todo.push_back(pid);
            }
    }
    return total;
}

bool writeDropCaches(const char* value)
{
    std::ofstream out("/proc/sys/vm/drop_caches");
    if (!out)
        return false;
    out << value;
    out.flush();
    return static_cast<bool>(out);
}

} // namespace

LinuxMemoryPlatform::LinuxMemoryPlatform(std::string cacheFolder, std::function<void()> clearCache)
    : m_cacheFolder(std::move(cacheFolder)), m_clearCache(std::move(clearCache))
{
}

uint64_t LinuxMemoryPlatform::OwnWorkingSet()
{
    return residentOf("/proc/self/status") + descendantsResident(getpid());
}

uint64_t LinuxMemoryPlatform::FreeMemory()
{
    std::ifstream in("/proc/meminfo");
    std::string key;
    uint64_t value = 0;
    std::string unit;
    while (in >> key >> value >> unit)
        if (key == "MemFree:")
            return value * 1024;
    return 0;
}

bool LinuxMemoryPlatform::ListCommand(int command)
{
    switch (command) {
    case 2: // all working sets: the kernel's reclaimable slab (dentries, inodes)
        return writeDropCaches("2");
    case 3: // modified pages: write them out
        ::sync();
        return true;
    case 4: // standby: the page cache
    case 5:
        return writeDropCaches("1");
    default:
        return false;
    }
}

void LinuxMemoryPlatform::TrimOwn()
{
    malloc_trim(0);
}

uint64_t LinuxMemoryPlatform::CacheMegabytes()
{
    if (m_cacheFolder.empty())
        return 0;
    uint64_t bytes = 0;
    std::error_code ec;
    for (auto it = std::filesystem::recursive_directory_iterator(m_cacheFolder, ec);
         !ec && it != std::filesystem::recursive_directory_iterator(); it.increment(ec)) {
        std::error_code sizeError;
        if (it->is_regular_file(sizeError))
            bytes += it->file_size(sizeError);
    }
    return bytes / 1024 / 1024;
}

void LinuxMemoryPlatform::ClearCache()
{
    if (m_clearCache)
        m_clearCache();
}

void TMemManager::log(std::string_view text)
{
    if (m_log)
        m_log(std::string(text));
}

void TMemManager::Step(uint32_t runStartTick, uint32_t nowTick)
{
    if (BaselineWorkingSet == 0) {
        if (nowTick - runStartTick > 3600000u) {
            LastCheckTick = nowTick;
            const uint64_t own = m_platform.OwnWorkingSet();
            if (own != 0) {
                BaselineWorkingSet = static_cast<uint32_t>(std::min<uint64_t>(own, UINT32_MAX));
                log(std::string(texts::kTrimBaseline) + std::to_string(BaselineWorkingSet >> 20) + "M");
            }
        }
        return;
    }
    if (nowTick - LastCheckTick <= 900000u)
        return;
    if (nowTick - LastCacheCheckTick > 10800000u) {
        cacheCheck(nowTick);
        return;
    }
    LastCheckTick = nowTick;
    if (CheckOwnNext) {
        CheckOwnNext = false;
        const uint64_t own = m_platform.OwnWorkingSet();
        log(texts::kTrimOwnCheck);
        if (own != 0 && own > 2ull * BaselineWorkingSet) {
            trim();
            log(texts::kTrimOwnClear);
        }
        return;
    }
    CheckOwnNext = true;
    if (ListStep == 3 || ListStep == 4) {
        listCycle();
        if (ListStep == 3)
            log(texts::kTrimModified);
        else if (ListStep == 1)
            log(texts::kTrimAllStandby);
        return;
    }
    const uint64_t free = m_platform.FreeMemory();
    log(texts::kTrimFreeCheck);
    if (free != 0 && free < BaselineWorkingSet) {
        listCycle();
        if (ListStep == 0)
            log(texts::kTrimOwnClear);
        else if (ListStep == 2)
            log(texts::kTrimStandby);
        else if (ListStep == 4)
            log(texts::kTrimAllWorkingSets);
    } else {
        ListStep = 0;
    }
}

void TMemManager::cacheCheck(uint32_t nowTick)
{
    LastCacheCheckTick = nowTick;
    log(texts::kTrimCacheCheck);
    if (m_platform.CacheMegabytes() > 50) {
        m_platform.ClearCache();
        log(texts::kTrimCacheClear);
    }
}

// The cycle of memory-list commands; a failed first command leaves the step as it was.
void TMemManager::listCycle()
{
    switch (ListStep) {
    case 0:
    case 1:
        if (m_platform.ListCommand(4))
            ListStep = 2;
        break;
    case 2:
        if (m_platform.ListCommand(2))
            ListStep = 4;
        break;
    case 4:
        if (m_platform.ListCommand(3))
            ListStep = 3;
        break;
    case 3:
        if (m_platform.ListCommand(4)) {
            m_platform.ListCommand(5);
            ListStep = 1;
        }
        break;
    default:
        break;
    }
}

void TMemManager::trim()
{
    m_platform.TrimOwn();
    if (m_afterTrim)
        m_afterTrim();
}

} // namespace vexory
