#include "platform/plugin_window.h"

#include "platform/codepage.h"
#include "platform/gbk_texts.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>
#include <vector>

namespace vexory {

namespace {

using Clock = std::chrono::steady_clock;

// Makes sure `path` is a folder of ours that nobody else can enter.
bool ensurePrivateFolder(const std::string& path)
{
    if (::mkdir(path.c_str(), 0700) != 0 && errno != EEXIST)
        return false;
    struct stat st;
    if (::lstat(path.c_str(), &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != ::getuid())
        return false;
    if ((st.st_mode & 077) != 0 && ::chmod(path.c_str(), 0700) != 0)
        return false;
    return true;
}

bool fillAddress(const std::string& path, sockaddr_un& addr)
{
    std::memset(&addr, 0, sizeof addr);
    addr.sun_family = AF_UNIX;
    if (path.size() >= sizeof addr.sun_path)
        return false;
    std::memcpy(addr.sun_path, path.data(), path.size());
    return true;
}

int remainingMs(Clock::time_point deadline)
{
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left > 0 ? static_cast<int>(left) : 0;
}

// Sends or receives exactly `size` bytes before the deadline.
bool transfer(int fd, char* data, size_t size, bool sending, Clock::time_point deadline)
{
    while (size > 0) {
        pollfd p{fd, static_cast<short>(sending ? POLLOUT : POLLIN), 0};
        int ready = ::poll(&p, 1, remainingMs(deadline));
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready <= 0)
            return false;
        ssize_t n = sending ? ::send(fd, data, size, MSG_NOSIGNAL) : ::recv(fd, data, size, 0);
        if (n < 0 && (errno == EINTR || errno == EAGAIN))
            continue;
        if (n <= 0)
            return false;
        data += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

void putU32(char* out, uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        out[i] = static_cast<char>((v >> (8 * i)) & 0xFF);
}

uint32_t getU32(const char* in)
{
    uint32_t v = 0;
    for (int i = 0; i < 4; ++i)
        v |= static_cast<uint32_t>(static_cast<unsigned char>(in[i])) << (8 * i);
    return v;
}

enum class Delivery { Answered, NoWindow, NoAnswer };

// Connects to a plug-in socket; -1 with `gone` set when nothing listens there.
int connectTo(const std::string& path, bool& gone)
{
    gone = false;
    sockaddr_un addr;
    if (!fillAddress(path, addr))
        return -1;
    int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0)
        return -1;
    if (::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
        gone = errno == ECONNREFUSED || errno == ENOENT;
        ::close(fd);
        return -1;
    }
    return fd;
}

Delivery deliver(const std::string& path, uint32_t number, std::string_view text, uint8_t& answer)
{
    answer = 0;
    bool gone = false;
    int fd = connectTo(path, gone);
    if (fd < 0)
        return gone ? Delivery::NoWindow : Delivery::NoAnswer;
    const auto deadline = Clock::now() + std::chrono::milliseconds(kPluginAnswerMs);
    std::string frame(8, '\0');
    putU32(frame.data(), number);
    putU32(frame.data() + 4, static_cast<uint32_t>(text.size() + 1));
    frame.append(text);
    frame.push_back('\0');
    char reply = 0;
    bool ok = transfer(fd, frame.data(), frame.size(), true, deadline) && transfer(fd, &reply, 1, false, deadline);
    ::close(fd);
    if (!ok)
        return Delivery::NoAnswer;
    answer = static_cast<uint8_t>(reply);
    return Delivery::Answered;
}

std::vector<std::string> socketNames(const std::string& folder)
{
    std::vector<std::string> names;
    DIR* dir = ::opendir(folder.c_str());
    if (!dir)
        return names;
    while (dirent* e = ::readdir(dir)) {
        std::string name = e->d_name;
        if (name == "." || name == "..")
            continue;
        struct stat st;
        if (::lstat((folder + "/" + name).c_str(), &st) == 0 && S_ISSOCK(st.st_mode))
            names.push_back(std::move(name));
    }
    ::closedir(dir);
    std::sort(names.begin(), names.end());
    return names;
}

} // namespace

std::string PluginSocketName(std::string_view titleUtf8)
{
    std::string name;
    for (char c : titleUtf8) {
        if (c == '%')
            name += "%25";
        else if (c == '/')
            name += "%2F";
        else
            name += c;
    }
    return name;
}

std::string PluginTitleOfSocketName(std::string_view name)
{
    std::string title;
    for (size_t i = 0; i < name.size(); ++i) {
        if (name.compare(i, 3, "%25") == 0) {
            title += '%';
            i += 2;
        } else if (name.compare(i, 3, "%2F") == 0) {
            title += '/';
            i += 2;
        } else {
            title += name[i];
        }
    }
    return title;
}

std::string PluginFolder()
{
    std::string folder;
    if (const char* runtime = std::getenv("XDG_RUNTIME_DIR"); runtime && *runtime)
        folder = std::string(runtime) + "/vexory";
    else
        folder = "/tmp/vexory-" + std::to_string(::getuid());
    return ensurePrivateFolder(folder) ? folder : std::string();
}

std::optional<PluginWindow> FindWindowByTitle(std::string_view text, const PluginWindow* after)
{
    const std::string folder = PluginFolder();
    if (folder.empty())
        return std::nullopt;
    const std::string wanted = GbkToUtf8(text);
    const std::string afterName = after ? PluginSocketName(after->title) : std::string();
    for (const std::string& name : socketNames(folder)) {
        if (after && name <= afterName)
            continue;
        std::string title = PluginTitleOfSocketName(name);
        // Like a window caption read into a 256-byte buffer.
        if (title.size() > 255)
            title.resize(255);
        if (title.find(wanted) != std::string::npos)
            return PluginWindow{PluginTitleOfSocketName(name), folder + "/" + name};
    }
    return std::nullopt;
}

uint8_t SendCopyData(const PluginWindow& window, uint32_t number, std::string_view text)
{
    uint8_t answer = 0;
    deliver(window.socketPath, number, text, answer);
    return answer;
}

std::string PluginTitlePrefix(std::string_view host)
{
    std::string title(texts::kPluginTitle);
    title += host;
    return title;
}

bool SendToPluginWindow(uint32_t number, std::string_view text, std::string_view host)
{
    const std::string title = PluginTitlePrefix(host);
    bool found = false;
    std::optional<PluginWindow> window = FindWindowByTitle(title, nullptr);
    while (window) {
        uint8_t answer = 0;
        switch (deliver(window->socketPath, number, text, answer)) {
        case Delivery::Answered:
            found = true;
            if (answer != 0)
                return true;
            break;
        case Delivery::NoAnswer:
            found = true;
            break;
        case Delivery::NoWindow:
            // Left behind by a plug-in that ended without cleaning up.
            ::unlink(window->socketPath.c_str());
            break;
        }
        window = FindWindowByTitle(title, &*window);
    }
    return found;
}

PluginWindowHost::~PluginWindowHost()
{
    Close();
}

bool PluginWindowHost::Open(std::string_view titleUtf8, std::string* error)
{
    auto fail = [&](std::string reason) {
        if (error)
            *error = std::move(reason);
        return false;
    };
    Close();
    const std::string folder = PluginFolder();
    if (folder.empty())
        return fail("the plug-in folder cannot be made private to this user");
    if (titleUtf8.empty())
        return fail("the title is empty");
    const std::string path = folder + "/" + PluginSocketName(titleUtf8);
    sockaddr_un addr;
    if (!fillAddress(path, addr))
        return fail("the title is too long for a socket name: " + path);

    bool gone = false;
    if (int probe = connectTo(path, gone); probe >= 0) {
        ::close(probe);
        return fail("another plug-in runs under this title");
    }
    ::unlink(path.c_str()); // a socket left behind by an earlier run

    int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return fail(std::strerror(errno));
    if (::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || ::listen(fd, 16) != 0) {
        std::string reason = std::strerror(errno);
        ::close(fd);
        return fail(reason);
    }
    m_fd = fd;
    m_path = path;
    return true;
}

bool PluginWindowHost::ServeOne(const Handler& handler, int timeoutMs)
{
    if (m_fd < 0)
        return false;
    pollfd p{m_fd, POLLIN, 0};
    int ready;
    do
        ready = ::poll(&p, 1, timeoutMs);
    while (ready < 0 && errno == EINTR);
    if (ready <= 0)
        return false;
    int client = ::accept4(m_fd, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
    if (client < 0)
        return false;
    const auto deadline = Clock::now() + std::chrono::milliseconds(kPluginAnswerMs);
    char header[8];
    bool ok = transfer(client, header, sizeof header, false, deadline);
    uint32_t number = getU32(header);
    uint32_t length = getU32(header + 4);
    std::string text;
    if (ok && (length == 0 || length > kPluginMaxFrame))
        ok = false;
    if (ok) {
        text.resize(length);
        ok = transfer(client, text.data(), length, false, deadline);
        text.pop_back(); // the terminating 0 byte
    }
    if (ok) {
        char answer = static_cast<char>(handler(number, text));
        ok = transfer(client, &answer, 1, true, deadline);
    }
    ::close(client);
    return ok;
}

void PluginWindowHost::Close()
{
    if (m_fd < 0)
        return;
    ::close(m_fd);
    ::unlink(m_path.c_str());
    m_fd = -1;
    m_path.clear();
}

} // namespace vexory
