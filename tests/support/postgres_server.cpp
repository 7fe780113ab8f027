#include "support/postgres_server.h"

#include "support/temp_dir.h"

#include <pqxx/pqxx>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <grp.h>
#include <pwd.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace vexory::test {

namespace {

constexpr int kPort = 5432; // names the socket file only: nothing listens on TCP

// Runs ARGS as the server's user; the child ends when this thread does. `wait`:
// returns the exit code, otherwise the child's pid.
int spawn(std::vector<std::string> args, bool wait, const std::string& log)
{
    // Everything the child needs is ready before the fork: after it, only calls
    // that are safe in the child of a threaded process.
    const passwd* pw = ::geteuid() == 0 ? ::getpwnam("postgres") : nullptr;
    const uid_t uid = pw ? pw->pw_uid : ::geteuid();
    const gid_t gid = pw ? pw->pw_gid : ::getegid();
    std::vector<char*> argv;
    for (std::string& a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    const pid_t pid = ::fork();
    if (pid == 0) {
        if (pw && (::setgroups(1, &gid) != 0 || ::setgid(gid) != 0 || ::setuid(uid) != 0))
            _exit(126);
        // After the change of user, which clears it.
        ::prctl(PR_SET_PDEATHSIG, SIGQUIT);
        if (!log.empty()) {
            const int fd = ::open(log.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0600);
            if (fd >= 0) {
                ::dup2(fd, 1);
                ::dup2(fd, 2);
                ::close(fd);
            }
        }
        ::execv(argv[0], argv.data());
        _exit(127);
    }
    if (pid < 0 || !wait)
        return pid;
    int status = 0;
    ::waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128;
}

bool giveToServerUser(const std::string& path)
{
    if (::geteuid() != 0)
        return true;
    const passwd* pw = ::getpwnam("postgres");
    return pw && ::chown(path.c_str(), pw->pw_uid, pw->pw_gid) == 0;
}

} // namespace

std::string PostgresServer::BinDir()
{
    std::string best;
    int bestVersion = 0;
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator("/usr/lib/postgresql", ec)) {
        const std::string bin = entry.path().string() + "/bin";
        const int version = std::atoi(entry.path().filename().c_str());
        if (version > bestVersion && ::access((bin + "/initdb").c_str(), X_OK) == 0 &&
            ::access((bin + "/postgres").c_str(), X_OK) == 0) {
            best = bin;
            bestVersion = version;
        }
    }
    return best;
}

PostgresServer::~PostgresServer()
{
    Stop();
    if (!m_root.empty())
        std::filesystem::remove_all(m_root);
}

bool PostgresServer::Start(std::string* why)
{
    const std::string bin = BinDir();
    if (bin.empty()) {
        *why = "no PostgreSQL server (initdb, postgres) under /usr/lib/postgresql";
        return false;
    }
    if (::geteuid() == 0 && !::getpwnam("postgres")) {
        *why = "running as root and there is no `postgres` user to run the server as";
        return false;
    }
    char folder[] = "/tmp/vexory-pg-XXXXXX";
    if (!::mkdtemp(folder)) {
        *why = "cannot make a temporary folder";
        return false;
    }
    m_root = folder;
    ::chmod(m_root.c_str(), 0755);
    for (const char* sub : {"/data", "/socket"}) {
        const std::string path = m_root + sub;
        if (::mkdir(path.c_str(), 0700) != 0 || !giveToServerUser(path)) {
            *why = "cannot prepare " + path;
            return false;
        }
    }
    const std::string log = m_root + "/socket/server.log";
    // No fsync: a test cluster need not survive the machine; it must survive its server.
    if (spawn({bin + "/initdb", "-D", m_root + "/data", "-U", "postgres", "-A", "trust", "-E", "UTF8", "--locale=C",
               "--no-sync"},
              true, log) != 0) {
        *why = "initdb failed: " + ReadBytes(log);
        return false;
    }
    return launch(why);
}

bool PostgresServer::launch(std::string* why)
{
    const std::string log = m_root + "/socket/server.log";
    m_pid =
        spawn({BinDir() + "/postgres", "-D", m_root + "/data", "-k", m_root + "/socket", "-p", std::to_string(kPort),
               "-c", "listen_addresses=", "-c", "fsync=off", "-c", "full_page_writes=off", "-c", "max_connections=200"},
              false, log);
    if (m_pid <= 0) {
        *why = "cannot start postgres";
        return false;
    }
    // Ready when it takes a connection.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (std::chrono::steady_clock::now() < deadline) {
        try {
            pqxx::connection probe(Url("postgres"));
            return true;
        } catch (const std::exception&) {
        }
        int status = 0;
        if (::waitpid(m_pid, &status, WNOHANG) == m_pid) {
            m_pid = -1;
            *why = "postgres ended at start: " + ReadBytes(log);
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    *why = "postgres did not take connections within 60 s: " + ReadBytes(log);
    Stop(true);
    return false;
}

void PostgresServer::Stop(bool immediate)
{
    if (m_pid <= 0)
        return;
    EndChild(m_pid, immediate ? SIGQUIT : SIGINT, 30000);
    m_pid = -1;
}

bool PostgresServer::Restart(std::string* why)
{
    Stop(true);
    return launch(why);
}

std::string PostgresServer::Url(const std::string& database) const
{
    return "postgresql:///" + database + "?host=" + m_root + "/socket&port=" + std::to_string(kPort) + "&user=postgres";
}

std::string PostgresServer::NewDatabase(std::string* why)
{
    const std::string name = "vexory_" + std::to_string(++m_databases);
    try {
        pqxx::connection c(Url("postgres"));
        pqxx::nontransaction(c).exec("CREATE DATABASE " + name);
        return Url(name);
    } catch (const std::exception& e) {
        *why = e.what();
        return {};
    }
}

bool TestsOnPostgres()
{
    const char* v = std::getenv("VEXORY_TEST_DATABASE");
    return v && std::string(v) == "postgresql";
}

PostgresServer& SharedPostgres()
{
    static PostgresServer server;
    if (!server.running()) {
        std::string why;
        if (!server.Start(&why))
            std::fprintf(stderr, "PostgreSQL for the tests: %s\n", why.c_str());
    }
    return server;
}

} // namespace vexory::test
