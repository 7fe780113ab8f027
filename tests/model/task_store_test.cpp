#include "model/task_store.h"

#include "support/temp_dir.h"
#include "support/test_tasks.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

using namespace vexory;
using namespace vexory::test;
using vexory::test::TempDir;

namespace {

std::string le32(uint32_t v)
{
    std::string s(4, '\0');
    for (int i = 0; i < 4; ++i)
        s[static_cast<size_t>(i)] = static_cast<char>(v >> (8 * i));
    return s;
}

std::string str(std::string_view s)
{
    return le32(static_cast<uint32_t>(s.size())) + std::string(s);
}

TTaskRecord task(std::string name, std::string url)
{
    TTaskRecord t = MakeTask(name, url, "<td>{>a<}</td>", 150000, 30000);
    t.NotifyInterval = 5400000;
    t.Checked = 1;
    return t;
}

TAccountRecord twoTaskAccount()
{
    TAccountRecord a;
    a.Nickname = "\xD5\xC5\xC8\xFD"; // a Chinese nickname in GBK
    a.PasswordDigest = "a9993e364706816aba3e25717850c26c9cd0d89d";
    a.AutoEnd = 27;
    a.ShutdownFlags = 3;
    a.Tasks.push_back(task("one", "http://127.0.0.1/a"));
    a.Tasks.push_back(task("\xB2\xE2\xCA\xD4", "http://127.0.0.1/b"));
    a.Tasks[1].CompareLastScreen = 1;
    a.Tasks[1].MainField = 2;
    return a;
}

} // namespace

TEST(TaskStore, EmptyAccountIsHeaderAndCredentialsOnly)
{
    TAccountRecord a;
    a.Nickname = "nick";
    const std::string bytes = EncodeStore(a);
    EXPECT_EQ(bytes, std::string("\x0C\x19\x7D\x00\x00\x00\x00\x00", 8) + str("nick") + std::string(4, '\0'));

    TAccountRecord back;
    ASSERT_TRUE(DecodeStore(bytes, back));
    EXPECT_EQ(back.Nickname, "nick");
    EXPECT_TRUE(back.PasswordDigest.empty());
    EXPECT_TRUE(back.Tasks.empty());
}

TEST(TaskStore, TaskEntryIsSevenStringsAndNineteenFixedBytes)
{
    TAccountRecord a;
    a.AutoEnd = 2;
    a.ShutdownFlags = 1;
    a.Reserved = 0x1234;
    TTaskRecord t;
    t.TaskName = "T";
    t.GuideUrl = "G";
    t.SetPageUrl("P");
    t.ElementId = "E";
    t.VerifyFormula = "V";
    t.GrabFormula = "F";
    t.SavedTestResult = "";
    t.FormulaSent = 1;
    t.ClearTags = 0;
    t.PushToPlugin = 1;
    t.MainField = 7;
    t.ConnectTimeout = 0x01020304;
    t.RefreshInterval = 150000;
    t.NotifyInterval = 0xFFFFFFFF;
    t.Checked = 1;
    t.Selected = 0;
    t.CompareLastScreen = 1;
    t.RunState = RunBusy; // run-time fields are never written
    t.SetPendingResult("never stored");
    a.Tasks.push_back(std::move(t));

    std::string expected("\x0C\x19\x7D\x00\x02\x01\x34\x12", 8);
    expected += le32(0) + le32(0);
    expected += str("T") + str("G") + str("P") + str("E") + str("V") + str("F") + le32(0);
    expected += std::string("\x01\x00\x01\x07", 4) + le32(0x01020304) + le32(150000) + le32(0xFFFFFFFF);
    expected += std::string("\x01\x00\x01", 3);
    EXPECT_EQ(EncodeStore(a), expected);
}

TEST(TaskStore, WriteThenReadGivesTheSameAccount)
{
    TempDir dir;
    const std::string path = dir.file(kStoreFileName);
    const TAccountRecord a = twoTaskAccount();
    ASSERT_TRUE(WriteStore(a, path));
    EXPECT_EQ(test::ReadBytes(path), EncodeStore(a));

    TAccountRecord back;
    ASSERT_TRUE(ReadStore(path, back));
    EXPECT_EQ(EncodeStore(back), EncodeStore(a));
    ASSERT_EQ(back.Tasks.size(), 2u);
    EXPECT_EQ(back.Tasks[1].TaskName, "\xB2\xE2\xCA\xD4");
    EXPECT_EQ(back.Tasks[1].PageUrl(), "http://127.0.0.1/b");
    EXPECT_EQ(back.Tasks[1].MainField, 2);
    EXPECT_EQ(back.AutoEnd, 27);
    EXPECT_EQ(back.ShutdownFlags, 3);
    // Nothing but the store file is left in the folder.
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 1);
}

TEST(TaskStore, ReadingAppendsToTheTasksAlreadyThere)
{
    const std::string bytes = EncodeStore(twoTaskAccount());
    TAccountRecord a;
    a.Tasks.push_back(task("existing", "u"));
    ASSERT_TRUE(DecodeStore(bytes, a));
    ASSERT_TRUE(DecodeStore(bytes, a)); // importing the same file twice appends twice
    ASSERT_EQ(a.Tasks.size(), 5u);
    EXPECT_EQ(a.Tasks[0].TaskName, "existing");
    EXPECT_EQ(a.Tasks[1].TaskName, "one");
    EXPECT_EQ(a.Tasks[3].TaskName, "one");
    EXPECT_EQ(a.Tasks[4].RunState, 0);
}

TEST(TaskStore, WrongMarkOrVersionLeavesTheAccountUntouched)
{
    std::string bytes = EncodeStore(twoTaskAccount());
    for (size_t at : {0u, 1u, 2u, 3u}) {
        std::string bad = bytes;
        bad[at] = static_cast<char>(bad[at] ^ 1);
        TAccountRecord a;
        a.Nickname = "before";
        EXPECT_FALSE(DecodeStore(bad, a)) << "byte " << at;
        EXPECT_EQ(a.Nickname, "before");
        EXPECT_TRUE(a.Tasks.empty());
    }
}

TEST(TaskStore, EveryTruncationFailsAndLeavesTheAccountUntouched)
{
    TAccountRecord full = twoTaskAccount();
    const std::string bytes = EncodeStore(full);
    // A file that ends right after the header or after a whole task entry is a whole store.
    std::vector<size_t> boundaries;
    while (!full.Tasks.empty()) {
        full.Tasks.pop_back();
        boundaries.push_back(EncodeStore(full).size());
    }
    for (size_t n = 0; n < bytes.size(); ++n) {
        TAccountRecord a;
        a.Tasks.push_back(task("mine", "u"));
        const bool ok = DecodeStore(std::string_view(bytes).substr(0, n), a);
        if (std::find(boundaries.begin(), boundaries.end(), n) != boundaries.end()) {
            EXPECT_TRUE(ok) << "length " << n;
            continue;
        }
        EXPECT_FALSE(ok) << "length " << n;
        ASSERT_EQ(a.Tasks.size(), 1u) << "length " << n;
        EXPECT_TRUE(a.Nickname.empty());
        EXPECT_EQ(a.AutoEnd, 0);
    }
}

TEST(TaskStore, AbsurdStringLengthFailsWithoutAllocating)
{
    std::string bytes("\x0C\x19\x7D\x00\x00\x00\x00\x00", 8);
    bytes += le32(0x7FFFFFFF) + "short";
    TAccountRecord a;
    EXPECT_FALSE(DecodeStore(bytes, a));

    // The same inside a task entry, after one good task.
    std::string withTask = EncodeStore(twoTaskAccount());
    withTask += le32(0x7FFFFFF0);
    TAccountRecord b;
    EXPECT_FALSE(DecodeStore(withTask, b));
    EXPECT_TRUE(b.Tasks.empty());
}

TEST(TaskStore, ZeroOrNegativeStringCountReadsAsEmpty)
{
    std::string bytes("\x0C\x19\x7D\x00\x00\x00\x00\x00", 8);
    bytes += le32(0xFFFFFFFF) + le32(0x80000000); // -1 and INT_MIN: empty, no bytes read
    TAccountRecord a;
    ASSERT_TRUE(DecodeStore(bytes, a));
    EXPECT_TRUE(a.Nickname.empty());
    EXPECT_TRUE(a.PasswordDigest.empty());
}

TEST(TaskStore, MissingFileIsAFailedRead)
{
    TempDir dir;
    TAccountRecord a;
    EXPECT_FALSE(ReadStore(dir.file("absent.vxt"), a));
    EXPECT_FALSE(ReadStore(dir.path(), a)); // a folder is not a store
}

TEST(TaskStore, ReplacingKeepsTheOldFilesPermissions)
{
    TempDir dir;
    const std::string path = dir.file("store.vxt");
    ASSERT_TRUE(WriteStore(TAccountRecord(), path));
    EXPECT_EQ(std::filesystem::status(path).permissions() & std::filesystem::perms::all,
              std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
    std::filesystem::permissions(path, std::filesystem::perms::owner_read | std::filesystem::perms::owner_write |
                                           std::filesystem::perms::group_read);
    ASSERT_TRUE(WriteStore(twoTaskAccount(), path));
    EXPECT_EQ(std::filesystem::status(path).permissions() & std::filesystem::perms::all,
              std::filesystem::perms::owner_read | std::filesystem::perms::owner_write |
                  std::filesystem::perms::group_read);
}

TEST(TaskStore, WriteIntoAMissingFolderFailsWithAReason)
{
    TempDir dir;
    std::string error;
    EXPECT_FALSE(WriteStore(twoTaskAccount(), dir.file("no/such/folder/store.vxt"), &error));
    EXPECT_FALSE(error.empty());
}

TEST(TaskStore, UnreadableStoreIsCopiedAsideWithANumberWhenTaken)
{
    TempDir dir;
    const std::string path = dir.file("vexory.vxt");
    EXPECT_EQ(CopyStoreAside(path), ""); // nothing to copy
    test::WriteBytes(path, "garbage one");
    EXPECT_EQ(CopyStoreAside(path), path + ".bad");
    test::WriteBytes(path, "garbage two");
    EXPECT_EQ(CopyStoreAside(path), path + ".bad.1");
    EXPECT_EQ(CopyStoreAside(path), path + ".bad.2");
    EXPECT_EQ(test::ReadBytes(path + ".bad"), "garbage one");
    EXPECT_EQ(test::ReadBytes(path + ".bad.1"), "garbage two");
    EXPECT_EQ(test::ReadBytes(path), "garbage two"); // the original stays where it was
}
