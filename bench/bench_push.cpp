// Load on vexory-server: many clients pushing results at once over loopback.
// Reports pushes per second, latency percentiles and the number of stored rows.
//
//   build/bench/bench_push [CLIENTS [PUSHES_PER_CLIENT]]     (default 32 clients, 100 pushes each)
//
// Starts its own server (the vexory-server next to this program's build) on a free
// port with a fresh data folder, and stops it at the end.

#include "formula/text_helpers.h"
#include "service/service_client.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

using namespace vexory;
using Clock = std::chrono::steady_clock;

namespace {

std::string run(const std::string& command)
{
    std::string out;
    if (FILE* p = popen(command.c_str(), "r")) {
        char buffer[256];
        while (fgets(buffer, sizeof buffer, p))
            out += buffer;
        pclose(p);
    }
    return out;
}

} // namespace

int main(int argc, char** argv)
{
    const int clients = argc > 1 ? std::atoi(argv[1]) : 32;
    const int pushes = argc > 2 ? std::atoi(argv[2]) : 100;
    const std::string server = VEXORY_SERVER_PATH;
    char folder[] = "/tmp/vexory-bench-XXXXXX";
    if (!mkdtemp(folder))
        return 1;
    const std::string data = folder;
    run(server + " user add --data " + data + " bench pw >/dev/null");

    int fds[2];
    if (pipe(fds) != 0)
        return 1;
    const pid_t pid = fork();
    if (pid == 0) {
        dup2(fds[1], 1);
        execl(server.c_str(), server.c_str(), "serve", "--data", data.c_str(), "--listen", "127.0.0.1:0", nullptr);
        _exit(127);
    }
    close(fds[1]);
    std::string line;
    char c;
    while (read(fds[0], &c, 1) == 1 && c != '\n')
        line += c;
    const std::string host = line.substr(line.find(' ') + 1);

    TAccountRecord account;
    account.Nickname = "bench";
    account.PasswordDigest = Sha1Hex("pw");
    int32_t version = 6;
    if (Login(account, host, false, version) != LoginDone) {
        std::fprintf(stderr, "bench_push: login failed\n");
        kill(pid, SIGTERM);
        return 1;
    }

    const std::string result = "title=\xD0\xC2\xC6\xB7 1\r\nprice=12.50\r\nlink=http://127.0.0.1/item/1";
    std::vector<std::vector<double>> latencies(static_cast<size_t>(clients));
    std::atomic<int> acknowledged{0};
    const auto start = Clock::now();
    std::vector<std::thread> threads;
    for (int t = 0; t < clients; ++t) {
        threads.emplace_back([&, t] {
            TTaskRecord task;
            task.TaskName = "task " + std::to_string(t);
            task.SetPageUrl("http://127.0.0.1/list");
            task.FormulaSent = 1;
            for (int i = 0; i < pushes; ++i) {
                const auto begin = Clock::now();
                const bool taken = ReadPushReply(PushResult(task, account, host, result)).taken;
                latencies[static_cast<size_t>(t)].push_back(
                    std::chrono::duration<double, std::milli>(Clock::now() - begin).count());
                if (taken)
                    ++acknowledged;
            }
        });
    }
    for (auto& th : threads)
        th.join();
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();

    std::vector<double> all;
    for (auto& l : latencies)
        all.insert(all.end(), l.begin(), l.end());
    std::sort(all.begin(), all.end());
    auto percentile = [&](double p) { return all[std::min(all.size() - 1, static_cast<size_t>(p * all.size()))]; };
    const std::string rows = run(server + " results --data " + data + " bench | wc -l");

    kill(pid, SIGTERM);
    waitpid(pid, nullptr, 0);
    std::filesystem::remove_all(data);

    std::printf("clients %d, pushes %d, acknowledged %d, stored rows %s", clients, clients * pushes,
                acknowledged.load(), rows.c_str());
    std::printf("pushes/s %.0f, latency ms p50 %.2f p90 %.2f p99 %.2f max %.2f\n", acknowledged / seconds,
                percentile(0.50), percentile(0.90), percentile(0.99), all.back());
    return acknowledged == clients * pushes ? 0 : 1;
}
