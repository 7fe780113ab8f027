#include "support/nginx_proxy.h"

#include <arpa/inet.h>
#include <chrono>
#include <csignal>
#include <netinet/in.h>
#include <sstream>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace vexory::test {

namespace {

void replaceAll(std::string& text, const std::string& from, const std::string& to)
{
    for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
        text.replace(at, from.size(), to);
}

bool accepts(int port)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<uint16_t>(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const bool ok = ::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
    ::close(fd);
    return ok;
}

} // namespace

int FreePort()
{
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof a;
    int port = 0;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 &&
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &size) == 0)
        port = ntohs(a.sin_port);
    ::close(fd);
    return port;
}

std::string NginxProxy::Binary()
{
    for (const char* path : {"/usr/sbin/nginx", "/usr/local/sbin/nginx"})
        if (::access(path, X_OK) == 0)
            return path;
    return {};
}

NginxProxy::~NginxProxy()
{
    Stop();
}

bool NginxProxy::Start(const std::string& config, const std::vector<int>& instancePorts, std::string* why)
{
    const std::string nginx = Binary();
    if (nginx.empty()) {
        *why = "no nginx on this machine";
        return false;
    }
    std::string text = ReadBytes(config);
    if (text.empty()) {
        *why = "cannot read " + config;
        return false;
    }
    // One `server` line of the upstream for each instance, with the parameters of the first.
    std::istringstream in(text);
    std::string out, line, params;
    bool placed = false;
    while (std::getline(in, line)) {
        const size_t at = line.find("server 127.0.0.1:81");
        if (at == std::string::npos) {
            out += line + "\n";
            continue;
        }
        if (placed)
            continue;
        placed = true;
        params = line.substr(line.find(' ', at + 7));
        for (int port : instancePorts)
            out += line.substr(0, at) + "server 127.0.0.1:" + std::to_string(port) + params + "\n";
    }
    m_port = FreePort();
    replaceAll(out, "listen 8086;", "listen 127.0.0.1:" + std::to_string(m_port) + ";");
    if (!placed || out.find("listen 127.0.0.1:") == std::string::npos) {
        *why = config + " has no upstream servers or listen line to rewrite";
        return false;
    }

    // The file goes into conf.d of the system's nginx.conf, with the two limits
    // the file asks the operator to raise there.
    std::string main = ReadBytes("/etc/nginx/nginx.conf");
    if (main.empty())
        main = "user www-data;\nworker_processes auto;\npid /run/nginx.pid;\n"
               "events {\n\tworker_connections 768;\n}\nhttp {\n\tinclude /etc/nginx/conf.d/*.conf;\n}\n";
    replaceAll(main, "include /etc/nginx/sites-enabled/*;", "");
    replaceAll(main, "include /etc/nginx/conf.d/*.conf;", "include " + m_root.file("vexory.conf") + ";");
    replaceAll(main, "worker_connections 768;", "worker_connections 4096;");
    main = "worker_rlimit_nofile 16384;\n" + main;
    replaceAll(main, "user www-data;", ::geteuid() == 0 ? "user root;" : "");
    replaceAll(main, "/run/nginx.pid", m_root.file("nginx.pid"));
    for (std::string* text : {&main, &out}) {
        replaceAll(*text, "/var/log/nginx/", m_root.path() + "/");
        replaceAll(*text, "/var/lib/nginx/", m_root.path() + "/");
    }
    WriteBytes(m_root.file("vexory.conf"), out);
    WriteBytes(m_root.file("nginx.conf"), main);

    m_pid = ::fork();
    if (m_pid == 0) {
        ::prctl(PR_SET_PDEATHSIG, SIGTERM);
        ::execl(nginx.c_str(), nginx.c_str(), "-p", m_root.path().c_str(), "-e",
                m_root.file("vexory-error.log").c_str(), "-c", m_root.file("nginx.conf").c_str(), "-g", "daemon off;",
                nullptr);
        _exit(127);
    }
    for (int i = 0; i < 500; ++i) {
        if (accepts(m_port))
            return true;
        int status = 0;
        if (::waitpid(m_pid, &status, WNOHANG) == m_pid) {
            m_pid = -1;
            *why = "nginx ended at start: " + errorLog();
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    *why = "nginx did not listen within 10 s: " + errorLog();
    Stop();
    return false;
}

void NginxProxy::Stop()
{
    if (m_pid <= 0)
        return;
    ::kill(m_pid, SIGTERM);
    ::waitpid(m_pid, nullptr, 0);
    m_pid = -1;
}

} // namespace vexory::test
