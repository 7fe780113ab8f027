// The task store survives a writer killed mid-write and a disk that fills up.

#include "model/task_store.h"

#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <sys/resource.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

using namespace vexory;
using vexory::test::TempDir;

namespace {

// A store of a few megabytes, so that writing it takes a while.
TAccountRecord bigAccount(char fill, int tasks)
{
    TAccountRecord a;
    a.Nickname = std::string(1, fill);
    for (int i = 0; i < tasks; ++i) {
        a.Tasks.emplace_back();
        a.Tasks.back().TaskName = "task " + std::to_string(i);
        a.Tasks.back().SavedTestResult = std::string(64 * 1024, fill);
    }
    return a;
}

size_t entriesIn(const std::string& folder)
{
    return static_cast<size_t>(std::distance(std::filesystem::directory_iterator(folder), {}));
}

} // namespace

TEST(StoreFaults, WriterKilledMidWriteLeavesAWholeStore)
{
    TempDir dir;
    const std::string path = dir.file("vexory.vxt");
    const TAccountRecord a = bigAccount('a', 40);
    const TAccountRecord b = bigAccount('b', 60);
    const std::string bytesA = EncodeStore(a);
    const std::string bytesB = EncodeStore(b);
    ASSERT_TRUE(WriteStore(a, path));

    int sawA = 0, sawB = 0;
    for (int round = 0; round < 12; ++round) {
        pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            for (int i = 0;; ++i)
                WriteStore(i % 2 ? a : b, path);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5 + 7 * round));
        ::kill(child, SIGKILL);
        int status = 0;
        ::waitpid(child, &status, 0);
        ASSERT_TRUE(WIFSIGNALED(status));

        const std::string now = test::ReadBytes(path);
        ASSERT_TRUE(now == bytesA || now == bytesB) << "round " << round << ": a store of " << now.size() << " bytes";
        (now == bytesA ? sawA : sawB)++;
        TAccountRecord back;
        EXPECT_TRUE(ReadStore(path, back));
    }
    EXPECT_EQ(sawA + sawB, 12);
}

TEST(StoreFaults, FullDiskLeavesTheOldStoreUntouched)
{
    TempDir dir;
    const std::string path = dir.file("vexory.vxt");
    const TAccountRecord old = bigAccount('o', 2);
    ASSERT_TRUE(WriteStore(old, path));
    const std::string before = test::ReadBytes(path);

    // The child may write files of at most 64 KiB: the new store cannot fit, as on a full disk.
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        std::signal(SIGXFSZ, SIG_IGN);
        rlimit limit{64 * 1024, 64 * 1024};
        setrlimit(RLIMIT_FSIZE, &limit);
        std::string error;
        bool written = WriteStore(bigAccount('n', 8), path, &error);
        _exit(written ? 10 : (error.empty() ? 11 : 0));
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << "10: reported success, 11: no reason given";

    EXPECT_EQ(test::ReadBytes(path), before);
    EXPECT_EQ(entriesIn(dir.path()), 1u) << "the temporary file was left behind";
}
