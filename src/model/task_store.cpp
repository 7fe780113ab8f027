#include "model/task_store.h"

#include "platform/system_error.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>

namespace vexory {

namespace {

class Writer
{
public:
    explicit Writer(std::string& out) : m_out(out) {}

    void u8(uint8_t v) { m_out.push_back(static_cast<char>(v)); }
    void u16(uint16_t v)
    {
        u8(static_cast<uint8_t>(v));
        u8(static_cast<uint8_t>(v >> 8));
    }
    void u32(uint32_t v)
    {
        u16(static_cast<uint16_t>(v));
        u16(static_cast<uint16_t>(v >> 16));
    }
    void str(std::string_view s)
    {
        u32(static_cast<uint32_t>(s.size()));
        m_out.append(s);
    }

private:
    std::string& m_out;
};

// Reads fixed-size fields and strings; every read checks the bytes left first,
// so a damaged file can never make it allocate or read past the end.
class Reader
{
public:
    explicit Reader(std::string_view data) : m_data(data) {}

    bool atEnd() const { return m_pos >= m_data.size(); }

    bool u8(uint8_t& v)
    {
        if (m_data.size() - m_pos < 1)
            return false;
        v = static_cast<uint8_t>(m_data[m_pos++]);
        return true;
    }
    bool u16(uint16_t& v)
    {
        uint8_t lo, hi;
        if (m_data.size() - m_pos < 2 || !u8(lo) || !u8(hi))
            return false;
        v = static_cast<uint16_t>(lo | (hi << 8));
        return true;
    }
    bool u32(uint32_t& v)
    {
        uint16_t lo, hi;
        if (m_data.size() - m_pos < 4 || !u16(lo) || !u16(hi))
            return false;
        v = static_cast<uint32_t>(lo) | (static_cast<uint32_t>(hi) << 16);
        return true;
    }
    bool str(std::string& s)
    {
        uint32_t raw;
        if (!u32(raw))
            return false;
        int32_t count = static_cast<int32_t>(raw);
        if (count <= 0) {
            s.clear();
            return true;
        }
        if (static_cast<size_t>(count) > m_data.size() - m_pos)
            return false;
        s.assign(m_data.substr(m_pos, static_cast<size_t>(count)));
        m_pos += static_cast<size_t>(count);
        return true;
    }

private:
    std::string_view m_data;
    size_t m_pos = 0;
};

bool readTask(Reader& r, TTaskRecord& t)
{
    std::string pageUrl;
    uint8_t formulaSent, mainField;
    if (!(r.str(t.TaskName) && r.str(t.GuideUrl) && r.str(pageUrl) && r.str(t.ElementId) &&
          r.str(t.VerifyFormula) && r.str(t.GrabFormula) && r.str(t.SavedTestResult) && r.u8(formulaSent) &&
          r.u8(t.ClearTags) && r.u8(t.PushToPlugin) && r.u8(mainField) && r.u32(t.ConnectTimeout) &&
          r.u32(t.RefreshInterval) && r.u32(t.NotifyInterval) && r.u8(t.Checked) && r.u8(t.Selected) &&
          r.u8(t.CompareLastScreen)))
        return false;
    t.SetPageUrl(std::move(pageUrl));
    t.FormulaSent = formulaSent;
    t.MainField = mainField;
    return true;
}

std::string errnoText(const char* what)
{
    return std::string(what) + "：" + SystemErrorText(errno);
}

bool writeAll(int fd, std::string_view bytes)
{
    while (!bytes.empty()) {
        ssize_t n = ::write(fd, bytes.data(), bytes.size());
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        bytes.remove_prefix(static_cast<size_t>(n));
    }
    return true;
}

} // namespace

std::string EncodeStore(const TAccountRecord& account)
{
    std::string out;
    size_t size = 16 + account.Nickname.size() + account.PasswordDigest.size();
    for (const auto& t : account.Tasks)
        size += 47 + t.TaskName.size() + t.GuideUrl.size() + t.PageUrl().size() + t.ElementId.size() +
                t.VerifyFormula.size() + t.GrabFormula.size() + t.SavedTestResult.size();
    out.reserve(size);

    Writer w(out);
    w.u16(kStoreMark);
    w.u16(kStoreVersion);
    w.u8(account.AutoEnd);
    w.u8(account.ShutdownFlags);
    w.u16(account.Reserved);
    w.str(account.Nickname);
    w.str(account.PasswordDigest);
    for (const auto& t : account.Tasks) {
        w.str(t.TaskName);
        w.str(t.GuideUrl);
        w.str(t.PageUrl());
        w.str(t.ElementId);
        w.str(t.VerifyFormula);
        w.str(t.GrabFormula);
        w.str(t.SavedTestResult);
        w.u8(t.FormulaSent);
        w.u8(t.ClearTags);
        w.u8(t.PushToPlugin);
        w.u8(t.MainField);
        w.u32(t.ConnectTimeout);
        w.u32(t.RefreshInterval);
        w.u32(t.NotifyInterval);
        w.u8(t.Checked);
        w.u8(t.Selected);
        w.u8(t.CompareLastScreen);
    }
    return out;
}

bool DecodeStore(std::string_view bytes, TAccountRecord& account)
{
    Reader r(bytes);
    uint16_t mark, version, reserved;
    uint8_t autoEnd, shutdownFlags;
    std::string nickname, digest;
    if (!r.u16(mark) || !r.u16(version) || mark != kStoreMark || version != kStoreVersion)
        return false;
    if (!r.u8(autoEnd) || !r.u8(shutdownFlags) || !r.u16(reserved) || !r.str(nickname) || !r.str(digest))
        return false;

    std::vector<TTaskRecord> tasks;
    while (!r.atEnd()) {
        tasks.emplace_back();
        if (!readTask(r, tasks.back()))
            return false;
    }

    account.AutoEnd = autoEnd;
    account.ShutdownFlags = shutdownFlags;
    account.Reserved = reserved;
    account.Nickname = std::move(nickname);
    account.PasswordDigest = std::move(digest);
    account.Tasks.reserve(account.Tasks.size() + tasks.size());
    for (auto& t : tasks)
        account.Tasks.push_back(std::move(t));
    return true;
}

bool WriteStore(const TAccountRecord& account, const std::string& path, std::string* error)
{
    return WriteFileWhole(path, EncodeStore(account), error);
}

bool WriteFileWhole(const std::string& path, std::string_view bytes, std::string* error)
{
    const std::filesystem::path target(path);
    std::filesystem::path folder = target.parent_path();
    if (folder.empty())
        folder = ".";

    std::string temp = path + ".tmp.XXXXXX";
    int fd = ::mkstemp(temp.data());
    if (fd < 0) {
        if (error)
            *error = errnoText(temp.c_str());
        return false;
    }
    // Keep the permissions of the store being replaced; a new one is private (0600),
    // as it may hold the credentials.
    struct stat old;
    if (::stat(path.c_str(), &old) == 0)
        ::fchmod(fd, old.st_mode & 07777);

    bool ok = writeAll(fd, bytes) && ::fsync(fd) == 0;
    std::string reason = ok ? std::string() : errnoText(temp.c_str());
    if (::close(fd) != 0 && ok) {
        ok = false;
        reason = errnoText(temp.c_str());
    }
    if (ok && ::rename(temp.c_str(), path.c_str()) != 0) {
        ok = false;
        reason = errnoText(path.c_str());
    }
    if (!ok) {
        ::unlink(temp.c_str());
        if (error)
            *error = reason;
        return false;
    }
    // Make the rename itself durable.
    int dirFd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dirFd >= 0) {
        ::fsync(dirFd);
        ::close(dirFd);
    }
    return true;
}

bool ReadStore(const std::string& path, TAccountRecord& account)
{
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    std::string bytes;
    struct stat st;
    if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_size > 0)
        bytes.reserve(static_cast<size_t>(st.st_size));
    char buffer[65536];
    bool ok = true;
    for (;;) {
        ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            ok = false;
            break;
        }
        if (n == 0)
            break;
        bytes.append(buffer, static_cast<size_t>(n));
    }
    ::close(fd);
    return ok && DecodeStore(bytes, account);
}

int StoreReadError(const std::string& path)
{
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return errno;
    char byte;
    ssize_t n;
    do
        n = ::read(fd, &byte, 1);
    while (n < 0 && errno == EINTR);
    const int error = n < 0 ? errno : 0;
    ::close(fd);
    return error;
}

std::string CopyStoreAside(const std::string& path)
{
    std::error_code ec;
    if (!std::filesystem::is_regular_file(path, ec))
        return {};
    std::string copy = path + ".bad";
    for (int n = 1; std::filesystem::exists(copy, ec); ++n) {
        if (n > 9999)
            return {};
        copy = path + ".bad." + std::to_string(n);
    }
    if (!std::filesystem::copy_file(path, copy, std::filesystem::copy_options::none, ec))
        return {};
    return copy;
}

} // namespace vexory
