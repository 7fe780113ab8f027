#pragma once

// TMemManager: memory trimming during long runs. No thread, no timer: the main
// window calls Step from its status refresh, at most once a second and only while
// no task is busy. The measurements and actions go through MemoryPlatform, whose
// Linux implementation reads /proc and asks the kernel; tests give their own.

#include <cstdint>
#include <functional>
#include <string>

namespace vexory {

class MemoryPlatform
{
public:
    virtual ~MemoryPlatform() = default;
    // The program's own resident memory in bytes (browser processes included); 0 when unknown.
    virtual uint64_t OwnWorkingSet() = 0;
    // Free physical memory in bytes; 0 when unknown.
    virtual uint64_t FreeMemory() = 0;
    // A memory-list command (2 all working sets, 3 modified pages, 4 standby, 5 low-priority standby).
    virtual bool ListCommand(int command) = 0;
    // Gives back what the program's own memory can spare.
    virtual void TrimOwn() = 0;
    // Size of the browser cache in whole megabytes (0: no cache folder).
    virtual uint64_t CacheMegabytes() = 0;
    virtual void ClearCache() = 0;
};

// Linux: /proc/self and the browser's child processes, /proc/meminfo, malloc_trim,
// sync and /proc/sys/vm/drop_caches (root only: otherwise the command fails).
class LinuxMemoryPlatform : public MemoryPlatform
{
public:
    // `cacheFolder`: the browsers' disk cache ("" when they keep it in memory);
    // `clearCache` empties it (the GUI clears the profiles' HTTP caches).
    LinuxMemoryPlatform(std::string cacheFolder = {}, std::function<void()> clearCache = {});
    uint64_t OwnWorkingSet() override;
    uint64_t FreeMemory() override;
    bool ListCommand(int command) override;
    void TrimOwn() override;
    uint64_t CacheMegabytes() override;
    void ClearCache() override;

private:
    std::string m_cacheFolder;
    std::function<void()> m_clearCache;
};

class TMemManager
{
public:
    using Log = std::function<void(const std::string& text)>; // the text after "  " + date-time
    using AfterTrim = std::function<void()>;                  // every runner's AfterTrim

    TMemManager(MemoryPlatform& platform, Log log, AfterTrim afterTrim)
        : m_platform(platform), m_log(std::move(log)), m_afterTrim(std::move(afterTrim))
    {
    }

    // The run clock started: the first cache check comes three hours after it.
    void RunStarted(uint32_t runStartTick) { LastCacheCheckTick = runStartTick; }
    // One trimming step.
    void Step(uint32_t runStartTick, uint32_t nowTick);

    uint32_t BaselineWorkingSet = 0;
    uint32_t LastCacheCheckTick = 0;
    uint32_t LastCheckTick = 0;
    uint8_t ListStep = 0;
    bool CheckOwnNext = false;

private:
    void cacheCheck(uint32_t nowTick);
    void listCycle();
    void trim();
    void log(std::string_view text);

    MemoryPlatform& m_platform;
    Log m_log;
    AfterTrim m_afterTrim;
};

} // namespace vexory
