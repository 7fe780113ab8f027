#pragma once

// nginx in front of vexory-server instances, run from the repository's own
// configuration (deploy/vexory-nginx.conf) inside the system's nginx.conf as an
// operator installs it, with ports and paths rewritten for a test: a free loopback
// port, the given instances, logs and state in a temporary folder.
// Stopped with the object or, should the caller die, with the caller.

#include "support/temp_dir.h"

#include <string>
#include <sys/types.h>
#include <vector>

namespace vexory::test {

class NginxProxy
{
public:
    NginxProxy() = default;
    ~NginxProxy();
    NginxProxy(const NginxProxy&) = delete;
    NginxProxy& operator=(const NginxProxy&) = delete;

    // The nginx program; "" when there is none.
    static std::string Binary();

    bool Start(const std::string& config, const std::vector<int>& instancePorts, std::string* why);
    void Stop();
    int port() const { return m_port; }
    std::string host() const { return "127.0.0.1:" + std::to_string(m_port); }
    std::string errorLog() const { return ReadBytes(m_root.file("vexory-error.log")); }

private:
    TempDir m_root;
    pid_t m_pid = -1;
    int m_port = 0;
};

// A loopback port nobody listens on at the moment.
int FreePort();

} // namespace vexory::test
