#pragma once

// A vexory-server of its own for a test: a fresh data folder, a free loopback
// port, stopped (SIGTERM) when the object goes.

#include "support/temp_dir.h"

#include <string>
#include <sys/types.h>
#include <vector>

namespace vexory::test {

class ServerProcess
{
public:
    // Starts `vexory-server serve` with extra arguments; check ok() after.
    explicit ServerProcess(const std::string& binary, std::vector<std::string> extra = {});
    ~ServerProcess();
    ServerProcess(const ServerProcess&) = delete;
    ServerProcess& operator=(const ServerProcess&) = delete;

    bool ok() const { return m_port > 0; }
    int port() const { return m_port; }
    std::string host() const { return "127.0.0.1:" + std::to_string(m_port); }
    const std::string& data() const { return m_data.path(); }
    // SIGTERM, then waits (at most 60 s); the seconds it took to end.
    double Stop();
    // Runs an admin command on the same data folder; its exit code.
    int admin(const std::string& arguments, std::string* out = nullptr) const;

private:
    std::string m_binary;
    TempDir m_data;
    pid_t m_pid = -1;
    int m_port = 0;
};

} // namespace vexory::test
