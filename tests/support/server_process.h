#pragma once

// A vexory-server of its own for a test: a fresh database (a SQLite file in a data
// folder, or a new database of the shared PostgreSQL server when the tests run on
// it), a free loopback port, stopped (SIGTERM) when the object goes.

#include "support/temp_dir.h"

#include <string>
#include <sys/types.h>
#include <vector>

namespace vexory::test {

// The PBKDF2 rounds of the services the tests start: the fewest the service takes,
// so that a login answers at once however loaded the machine is. The tests of the
// checks' own cost start theirs with the service's default.
inline constexpr const char* kTestPasswordRounds = "1000";
inline constexpr const char* kServicePasswordRounds = "600000";

class ServerProcess
{
public:
    // Starts `vexory-server serve` with extra arguments; check ok() after.
    explicit ServerProcess(const std::string& binary, std::vector<std::string> extra = {});
    // Another instance on a database given by URL (as database() of a first one).
    ServerProcess(const std::string& binary, std::vector<std::string> extra, const std::string& database);
    ~ServerProcess();
    ServerProcess(const ServerProcess&) = delete;
    ServerProcess& operator=(const ServerProcess&) = delete;

    bool ok() const { return m_port > 0; }
    int port() const { return m_port; }
    std::string host() const { return "127.0.0.1:" + std::to_string(m_port); }
    const std::string& data() const { return m_data.path(); }
    // "--database" URL of its database.
    const std::string& database() const { return m_database; }
    bool onPostgres() const { return m_database.rfind("postgres", 0) == 0; }
    pid_t pid() const { return m_pid; }
    // SIGTERM, then waits (at most 60 s); the seconds it took to end.
    double Stop();
    // SIGKILL: gone at once, as in a crash.
    void Kill();
    // Runs an admin command on the same database; its exit code.
    int admin(const std::string& arguments, std::string* out = nullptr) const;
    // The same with a line on its standard input (a password).
    int admin(const std::string& arguments, const std::string& input, std::string* out = nullptr) const;
    // `user add NICK ARGUMENTS` with the password on standard input (which, as for
    // every admin command given a password, is checked with the tests' rounds unless
    // the ARGUMENTS give others).
    int addUser(const std::string& nick, const std::string& password, const std::string& arguments = {},
                std::string* out = nullptr) const
    {
        return admin("user add " + ShellQuote(nick) + (arguments.empty() ? "" : " " + arguments), password, out);
    }

private:
    void start(std::vector<std::string> extra);

    std::string m_binary;
    TempDir m_data;
    std::string m_database;
    pid_t m_pid = -1;
    int m_port = 0;
};

} // namespace vexory::test
