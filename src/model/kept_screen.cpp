#include "model/kept_screen.h"

#include "base/encoding.h"

#include <cstring>
#include <filesystem>
#include <fstream>
#include <set>
#include <system_error>
#include <unistd.h>

namespace vexory::KeptScreen {

namespace {

constexpr char kMark[8] = {'V', 'X', 'S', 'C', 'R', 'N', '0', '1'};

std::string keyOf(const TTaskRecord& task)
{
    return Sha1Hex(task.TaskName + '\x07' + task.PageUrl() + '\x07' + task.GrabFormula + '\x07' +
                   std::to_string(task.MainField) + '\x07' + (task.CompareLastScreen ? "1" : "0"));
}

} // namespace

std::string Folder(const std::string& storePath)
{
    return storePath + ".screens";
}

std::string PathFor(const std::string& storePath, const TTaskRecord& task)
{
    return Folder(storePath) + "/" + keyOf(task);
}

bool Read(const std::string& path, SeenKeys& keys)
{
    keys.clear();
    std::ifstream in(path, std::ios::binary);
    char mark[sizeof kMark];
    uint64_t count = 0;
    if (!in.read(mark, sizeof mark) || std::memcmp(mark, kMark, sizeof kMark) != 0 ||
        !in.read(reinterpret_cast<char*>(&count), sizeof count) || count > kMostKeys)
        return false;
    std::vector<uint64_t> read(static_cast<size_t>(count));
    if (!in.read(reinterpret_cast<char*>(read.data()), static_cast<std::streamsize>(count * sizeof(uint64_t))) ||
        in.peek() != std::ifstream::traits_type::eof())
        return false; // cut short, or more than it says: not whole
    keys.insert(read.begin(), read.end());
    return true;
}

bool Write(const std::string& path, const SeenKeys& keys)
{
    std::error_code error;
    std::filesystem::create_directories(std::filesystem::path(path).parent_path(), error);
    std::string bytes(kMark, sizeof kMark);
    const uint64_t count = std::min(keys.size(), kMostKeys);
    bytes.append(reinterpret_cast<const char*>(&count), sizeof count);
    size_t written = 0;
    for (uint64_t key : keys) {
        if (written++ == count)
            break;
        bytes.append(reinterpret_cast<const char*>(&key), sizeof key);
    }
    // A file cut short by a crash reads as none (the next run starts silently): no sync.
    const std::string temp = path + ".new";
    {
        std::ofstream out(temp, std::ios::binary | std::ios::trunc);
        if (!out.write(bytes.data(), static_cast<std::streamsize>(bytes.size())) || !out.flush())
            return false;
    }
    return ::rename(temp.c_str(), path.c_str()) == 0;
}

void Prune(const std::string& storePath, const std::vector<TTaskRecord>& tasks)
{
    std::set<std::string> known;
    for (const TTaskRecord& t : tasks)
        known.insert(keyOf(t));
    std::error_code error;
    for (std::filesystem::directory_iterator it(Folder(storePath), error), end; !error && it != end;
         it.increment(error))
        if (std::error_code ignored; !known.count(it->path().filename().string()))
            std::filesystem::remove(it->path(), ignored);
}

} // namespace vexory::KeptScreen
