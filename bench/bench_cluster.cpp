// The service for many users: pushes through nginx (deploy/vexory-nginx.conf) to one or
// three vexory-server instances on PostgreSQL, and to one on SQLite. Each client
// has its own account, logs in through the proxy and pushes as fast as it is
// answered for the given time. Prints pushes per second and latency percentiles.
//
//   build/bench/bench_cluster [--clients 16] [--seconds 10]
//
// Starts its own PostgreSQL (a throwaway cluster), instances and nginx, and stops
// them at the end. Needs the packages scripts/setup installs (postgresql, nginx).

#include "latencies.h"
#include "support/build_paths.h"
#include "support/nginx_proxy.h"
#include "support/postgres_server.h"
#include "support/server_process.h"
#include "support/service_helpers.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

using namespace vexory;
using namespace vexory::test;
using Clock = std::chrono::steady_clock;

namespace {

struct Figures
{
    size_t pushes = 0, failed = 0;
    double perSecond = 0, p50 = 0, p99 = 0, max = 0;
};

Figures measure(const std::string& database, int instances, int clients, double seconds)
{
    Figures f;
    // Password checks at the service's own cost, as a deployment has them.
    const std::vector<std::string> extra = {"--trust-proxy", "127.0.0.1", "--push-rate",        "1000000",
                                            "--keep-results", "0",        "--password-rounds", kServicePasswordRounds};
    std::vector<std::unique_ptr<ServerProcess>> servers;
    std::vector<int> ports;
    for (int i = 0; i < instances; ++i) {
        servers.push_back(std::make_unique<ServerProcess>(VEXORY_SERVER_PATH, extra, database));
        if (!servers.back()->ok()) {
            std::fprintf(stderr, "bench_cluster: an instance did not start on %s\n", database.c_str());
            return f;
        }
        ports.push_back(servers.back()->port());
    }
    NginxProxy proxy;
    std::string why;
    if (!proxy.Start(std::string(VEXORY_SOURCE_DIR) + "/deploy/vexory-nginx.conf", ports, &why)) {
        std::fprintf(stderr, "bench_cluster: %s\n", why.c_str());
        return f;
    }
    std::vector<TAccountRecord> accounts;
    for (int c = 0; c < clients; ++c) {
        const std::string nick = "bench" + std::to_string(c);
        servers[0]->addUser(nick, "pw", std::string("--password-rounds ") + kServicePasswordRounds);
        accounts.push_back(account(nick, "pw"));
    }
    std::vector<std::thread> threads;
    for (auto& a : accounts)
        threads.emplace_back([&] { loggedIn(a, proxy.host()); });
    for (auto& t : threads)
        t.join();
    threads.clear();

    const std::string result = "title=\xD0\xC2\xC6\xB7 1\r\nprice=12.50\r\nlink=http://127.0.0.1/item/1";
    std::vector<std::vector<double>> latencies(static_cast<size_t>(clients));
    std::atomic<size_t> failed{0};
    const auto start = Clock::now();
    const auto end = start + std::chrono::duration<double>(seconds);
    for (int c = 0; c < clients; ++c) {
        threads.emplace_back([&, c] {
            TTaskRecord task;
            task.TaskName = "task";
            task.SetPageUrl("http://127.0.0.1/list");
            task.FormulaSent = 1;
            while (Clock::now() < end) {
                const auto begin = Clock::now();
                const bool ok = acknowledged(
                    ReadPushReply(PushResult(task, accounts[static_cast<size_t>(c)], proxy.host(), result)));
                latencies[static_cast<size_t>(c)].push_back(
                    std::chrono::duration<double, std::milli>(Clock::now() - begin).count());
                failed += !ok;
            }
        });
    }
    for (auto& t : threads)
        t.join();
    const double took = std::chrono::duration<double>(Clock::now() - start).count();
    const bench::Latencies all(latencies);
    if (all.empty())
        return f;
    f.pushes = all.size();
    f.failed = failed;
    f.perSecond = static_cast<double>(all.size() - f.failed) / took;
    f.p50 = all.percentile(0.50);
    f.p99 = all.percentile(0.99);
    f.max = all.max();
    return f;
}

} // namespace

int main(int argc, char** argv)
{
    int clients = 16;
    double seconds = 10;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string option = argv[i];
        if (option == "--clients")
            clients = std::max(1, std::atoi(argv[i + 1]));
        else if (option == "--seconds")
            seconds = std::max(1.0, std::atof(argv[i + 1]));
    }
    PostgresServer postgres;
    std::string why;
    if (!postgres.Start(&why)) {
        std::fprintf(stderr, "bench_cluster: %s\n", why.c_str());
        return 1;
    }
    TempDir folder;
    struct Run
    {
        const char* name;
        std::string database;
        int instances;
    };
    const std::vector<Run> runs = {
        {"PostgreSQL, 1 instance ", postgres.NewDatabase(&why), 1},
        {"PostgreSQL, 3 instances", postgres.NewDatabase(&why), 3},
        {"SQLite,     1 instance ", "sqlite:" + folder.file("vexory.sqlite3"), 1},
    };
    std::printf("%d clients (one account each) through nginx, %.0f s a run\n", clients, seconds);
    std::printf("%-24s %10s %10s %9s %9s %9s\n", "", "pushes/s", "failed", "p50 ms", "p99 ms", "max ms");
    int status = 0;
    for (const Run& run : runs) {
        const Figures f = measure(run.database, run.instances, clients, seconds);
        std::printf("%-24s %10.0f %10zu %9.2f %9.2f %9.2f\n", run.name, f.perSecond, f.failed, f.p50, f.p99, f.max);
        std::fflush(stdout);
        status |= f.pushes == 0 || f.failed > 0;
    }
    return status;
}
