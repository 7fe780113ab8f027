#pragma once

// A throwaway PostgreSQL server for tests and benchmarks: a cluster made with
// initdb in a temporary folder, listening only on a Unix socket inside it. Run as
// the `postgres` user when the caller is root (the server refuses root), and
// stopped with the object or, should the caller die, with the caller.

#include <string>
#include <sys/types.h>

namespace vexory::test {

class PostgresServer
{
public:
    PostgresServer() = default;
    ~PostgresServer();
    PostgresServer(const PostgresServer&) = delete;
    PostgresServer& operator=(const PostgresServer&) = delete;

    // The folder with initdb and postgres of the newest installed version; "" when none.
    static std::string BinDir();

    // initdb, then the server; false with *why.
    bool Start(std::string* why);
    // Ends the server: `immediate` as after a crash (no shutdown checkpoint; the
    // next start recovers), otherwise a fast shutdown.
    void Stop(bool immediate = false);
    // The server again on the same cluster.
    bool Restart(std::string* why);
    bool running() const { return m_pid > 0; }
    // The postmaster, parent of the server's other processes.
    pid_t pid() const { return m_pid; }

    // A new, empty database; its URL for `--database`, "" with *why on failure.
    std::string NewDatabase(std::string* why);
    std::string Url(const std::string& database) const;

private:
    bool launch(std::string* why);

    std::string m_root; // the cluster in data/, the socket in socket/
    pid_t m_pid = -1;
    int m_databases = 0;
};

// One server for the whole test program, started at its first use; the test
// program runs its service tests on PostgreSQL when VEXORY_TEST_DATABASE is
// "postgresql".
bool TestsOnPostgres();
PostgresServer& SharedPostgres();

} // namespace vexory::test
