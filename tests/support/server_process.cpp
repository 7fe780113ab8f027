#include "support/server_process.h"

#include "support/postgres_server.h"

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace vexory::test {

ServerProcess::ServerProcess(const std::string& binary, std::vector<std::string> extra) : m_binary(binary)
{
    if (TestsOnPostgres()) {
        std::string why;
        m_database = SharedPostgres().NewDatabase(&why);
        if (m_database.empty()) {
            std::fprintf(stderr, "ServerProcess: no PostgreSQL database: %s\n", why.c_str());
            return;
        }
    } else {
        m_database = "sqlite:" + m_data.path() + "/vexory.sqlite3";
    }
    start(std::move(extra));
}

ServerProcess::ServerProcess(const std::string& binary, std::vector<std::string> extra, const std::string& database)
    : m_binary(binary), m_database(database)
{
    start(std::move(extra));
}

void ServerProcess::start(std::vector<std::string> extra)
{
    int pipeFds[2];
    if (::pipe(pipeFds) != 0)
        return;
    std::vector<std::string> args = {m_binary, "serve", "--database", m_database};
    if (std::find(extra.begin(), extra.end(), "--listen") == extra.end())
        args.insert(args.end(), {"--listen", "127.0.0.1:0"});
    // The tests' endpoints listen on loopback, which the forwarders refuse unless told.
    if (std::find(extra.begin(), extra.end(), "--forward-allow") == extra.end())
        args.insert(args.end(), {"--forward-allow", "127.0.0.0/8"});
    // A password check costs the program's client nothing of its 3 s on a loaded
    // machine; a test of the checks' own cost gives the rounds it wants.
    if (std::find(extra.begin(), extra.end(), "--password-rounds") == extra.end())
        args.insert(args.end(), {"--password-rounds", kTestPasswordRounds});
    args.insert(args.end(), extra.begin(), extra.end());
    m_pid = ::fork();
    if (m_pid == 0) {
        // A test that dies takes its server along.
        ::prctl(PR_SET_PDEATHSIG, SIGTERM);
        ::dup2(pipeFds[1], 1);
        ::close(pipeFds[0]);
        ::close(pipeFds[1]);
        std::vector<char*> argv;
        for (auto& a : args)
            argv.push_back(a.data());
        argv.push_back(nullptr);
        ::execv(m_binary.c_str(), argv.data());
        _exit(127);
    }
    ::close(pipeFds[1]);
    // The first line says where it listens.
    std::string line;
    char c;
    while (::read(pipeFds[0], &c, 1) == 1 && c != '\n')
        line += c;
    ::close(pipeFds[0]);
    const size_t colon = line.rfind(':');
    if (line.rfind("listening ", 0) == 0 && colon != std::string::npos)
        m_port = std::atoi(line.c_str() + colon + 1);
}

double ServerProcess::Stop()
{
    if (m_pid <= 0)
        return 0;
    const auto start = std::chrono::steady_clock::now();
    EndChild(m_pid, SIGTERM, 60000);
    m_pid = -1;
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

void ServerProcess::Kill()
{
    if (m_pid <= 0)
        return;
    ::kill(m_pid, SIGKILL);
    ::waitpid(m_pid, nullptr, 0);
    m_pid = -1;
}

ServerProcess::~ServerProcess()
{
    Stop();
}

int ServerProcess::admin(const std::string& arguments, std::string* out) const
{
    return RunCommand(ShellQuote(m_binary) + " " + arguments + " --database " + ShellQuote(m_database), out);
}

int ServerProcess::admin(const std::string& arguments, const std::string& input, std::string* out) const
{
    const std::string rounds = arguments.find("--password-rounds") == std::string::npos
                                   ? std::string(" --password-rounds ") + kTestPasswordRounds
                                   : std::string();
    return RunCommand("(printf '%s\\n' " + ShellQuote(input) + " | " + ShellQuote(m_binary) + " " + arguments +
                          rounds + " --database " + ShellQuote(m_database) + ")",
                      out);
}

} // namespace vexory::test
