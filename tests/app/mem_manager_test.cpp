#include "app/gbk_texts.h"
#include "app/mem_manager.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace vexory;

namespace {

constexpr uint32_t kHour = 3600000, kQuarter = 900000;

class FakeMemory : public MemoryPlatform
{
public:
    uint64_t own = 100u << 20;
    uint64_t free = 500u << 20;
    uint64_t cacheMb = 0;
    bool commandsWork = true;
    std::vector<int> commands;
    int trims = 0, clears = 0;

    uint64_t OwnWorkingSet() override { return own; }
    uint64_t FreeMemory() override { return free; }
    bool ListCommand(int command) override
    {
        commands.push_back(command);
        return commandsWork;
    }
    void TrimOwn() override { ++trims; }
    uint64_t CacheMegabytes() override { return cacheMb; }
    void ClearCache() override { ++clears; }
};

struct Trimmer
{
    FakeMemory memory;
    std::vector<std::string> log;
    int afterTrims = 0;
    TMemManager manager{memory, [this](const std::string& t) { log.push_back(t); }, [this] { ++afterTrims; }};
};

} // namespace

TEST(MemManager, NothingHappensInTheFirstHour)
{
    Trimmer t;
    t.manager.RunStarted(1000);
    for (uint32_t now = 1000; now <= 1000 + kHour; now += 60000)
        t.manager.Step(1000, now);
    EXPECT_TRUE(t.log.empty());
    EXPECT_EQ(t.manager.BaselineWorkingSet, 0u);
}

TEST(MemManager, BaselineThenAlternatingChecksAndOwnTrim)
{
    Trimmer t;
    t.manager.RunStarted(0);
    t.manager.Step(0, kHour + 1000);
    EXPECT_EQ(t.manager.BaselineWorkingSet, 100u << 20);
    EXPECT_EQ(t.log, std::vector<std::string>{std::string(texts::kTrimBaseline) + "100M"});

    uint32_t now = kHour + 1000;
    now += kQuarter; // not yet: exactly fifteen minutes
    t.manager.Step(0, now);
    EXPECT_EQ(t.log.size(), 1u);
    now += 1;
    t.memory.free = 500u << 20; // plenty free: free-memory turn, nothing to do
    t.manager.Step(0, now);
    EXPECT_EQ(t.log.back(), texts::kTrimFreeCheck);
    EXPECT_TRUE(t.memory.commands.empty());

    now += kQuarter + 1; // own-memory turn: 200 MB is not more than twice 100 MB
    t.memory.own = 200u << 20;
    t.manager.Step(0, now);
    EXPECT_EQ(t.log.back(), texts::kTrimOwnCheck);
    EXPECT_EQ(t.memory.trims, 0);

    now += kQuarter + 1;
    t.manager.Step(0, now); // free-memory turn
    now += kQuarter + 1;
    t.memory.own = 250u << 20; // own-memory turn: 250 MB is: trim, and every runner hears of it
    t.manager.Step(0, now);
    EXPECT_EQ(t.log.back(), texts::kTrimOwnClear);
    EXPECT_EQ(t.memory.trims, 1);
    EXPECT_EQ(t.afterTrims, 1);
}

TEST(MemManager, FreeMemoryBelowBaselineRunsTheCommandCycle)
{
    Trimmer t;
    t.manager.RunStarted(0);
    t.manager.Step(0, kHour + 1);
    t.memory.free = 50u << 20; // below the 100 MB baseline
    std::vector<std::string> freeTurns;
    uint32_t now = kHour + 1;
    for (int turn = 0; turn < 10; ++turn) {
        now += kQuarter + 1;
        t.manager.LastCacheCheckTick = now; // no cache check due in this test
        t.manager.Step(0, now);
        if (turn % 2 == 0)
            freeTurns.push_back(t.log.back());
    }
    // 4, then 2, then 3 (without measuring), then 4 and 5 (without measuring), then 4 again.
    EXPECT_EQ(t.memory.commands, (std::vector<int>{4, 2, 3, 4, 5, 4}));
    EXPECT_EQ(freeTurns, (std::vector<std::string>{std::string(texts::kTrimStandby), std::string(texts::kTrimAllWorkingSets),
                                                   std::string(texts::kTrimModified), std::string(texts::kTrimAllStandby),
                                                   std::string(texts::kTrimStandby)}));
}

TEST(MemManager, FailedCommandsKeepTheirStep)
{
    Trimmer t;
    t.manager.RunStarted(0);
    t.manager.Step(0, kHour + 1);
    t.memory.free = 50u << 20;
    t.memory.commandsWork = false; // not root: drop_caches refuses
    t.manager.Step(0, kHour + kQuarter + 2);
    EXPECT_EQ(t.manager.ListStep, 0);
    EXPECT_EQ(t.log.back(), texts::kTrimOwnClear); // the step stayed 0
}

TEST(MemManager, CacheIsCheckedEveryThreeHours)
{
    Trimmer t;
    t.manager.RunStarted(0);
    t.manager.Step(0, kHour + 1);
    t.memory.cacheMb = 50; // exactly 50 MB is kept
    t.manager.Step(0, 3 * kHour + 1);
    EXPECT_EQ(t.log.back(), texts::kTrimCacheCheck);
    EXPECT_EQ(t.memory.clears, 0);
    t.memory.cacheMb = 51;
    t.manager.Step(0, 6 * kHour + 2);
    EXPECT_EQ(t.log.back(), texts::kTrimCacheClear);
    EXPECT_EQ(t.memory.clears, 1);
}

TEST(MemManager, LinuxMeasurementsArePlausible)
{
    LinuxMemoryPlatform linux_;
    const uint64_t own = linux_.OwnWorkingSet();
    EXPECT_GT(own, 1u << 20);       // at least a megabyte
    EXPECT_LT(own, 64ull << 30);    // and less than the machine
    EXPECT_GT(linux_.FreeMemory(), 0u);
    EXPECT_EQ(linux_.CacheMegabytes(), 0u); // no cache folder
    EXPECT_TRUE(linux_.ListCommand(3));     // sync always works
    EXPECT_FALSE(linux_.ListCommand(9));
}

TEST(MemManager, LinuxCountsTheWholeProcessTree)
{
    // A child whose own child holds 96 MB, as the browser's zygote holds the renderers.
    LinuxMemoryPlatform linux_;
    const uint64_t before = linux_.OwnWorkingSet();
    int ready[2];
    ASSERT_EQ(::pipe(ready), 0);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        if (::fork() == 0) {
            ::prctl(PR_SET_PDEATHSIG, SIGKILL); // goes with its parent
            constexpr size_t kBytes = 96u << 20;
            void* block = ::mmap(nullptr, kBytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
            std::memset(block, 1, kBytes);
            [[maybe_unused]] ssize_t n = ::write(ready[1], "x", 1);
            ::sleep(30);
            ::_exit(0);
        }
        ::pause();
        ::_exit(0);
    }
    char c;
    ASSERT_EQ(::read(ready[0], &c, 1), 1);
    const uint64_t after = linux_.OwnWorkingSet();
    ::kill(child, SIGKILL); // the grandchild ends by itself

    ::waitpid(child, nullptr, 0);
    ::close(ready[0]);
    ::close(ready[1]);
    EXPECT_GT(after, before + (80u << 20));
}

TEST(MemManager, LinuxCacheFolderIsMeasuredAndCleared)
{
    const std::string folder = ::testing::TempDir() + "vexory-cache-" + std::to_string(::getpid());
    std::filesystem::create_directories(folder + "/Cache_Data");
    {
        std::ofstream big(folder + "/Cache_Data/f_000001", std::ios::binary);
        big.seekp((51u << 20) - 1);
        big.put('\0');
    }
    int cleared = 0;
    LinuxMemoryPlatform linux_(folder, [&] { ++cleared; });
    EXPECT_EQ(linux_.CacheMegabytes(), 51u);
    TMemManager manager(linux_, {}, [] {});
    manager.BaselineWorkingSet = 1; // measured already
    manager.RunStarted(0);
    manager.Step(0, 3 * kHour + 1);
    EXPECT_EQ(cleared, 1);
    std::filesystem::remove_all(folder);
}
