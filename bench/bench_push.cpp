// Load on vexory-server: many clients pushing results at once over loopback.
// Reports pushes per second, latency percentiles, the number of stored rows and the
// server's memory.
//
//   build/bench/bench_push [CLIENTS [PUSHES_PER_CLIENT]] [--idle N] [--slow N] [--from ADDRESS]
//                          [--stalled N] [--login-flood N] [--server PATH]
//
// Default 32 clients, 100 pushes each. --idle N first opens N connections that never
// send a byte; --slow N opens N that send a request's headers one byte a second, so
// that the pushes run beside clients that hold connections open; they come from
// ADDRESS (default 127.0.0.1; another loopback address is another client).
// --stalled N: N connections, each from its own loopback address, start a body of
// 1 MB and stall; the server's memory is shown with them and after they closed.
// --login-flood N: while the pushes run, N connections from 127.0.0.9 log in (with
// the right password) over and over (20 ms after a refusal, as a round trip would);
// 7 other users then log in with the program's client (3 s each), and how many got
// in is shown.
//
// Starts its own server (the vexory-server next to this program's build, or PATH)
// on a free port with a fresh data folder, and stops it at the end.

#include "base/encoding.h"
#include "latencies.h"
#include "service/protocol_codec.h"
#include "service/service_client.h"

#include <algorithm>
#include <arpa/inet.h>
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <netinet/in.h>
#include <string>
#include <sys/resource.h>
#include <sys/socket.h>
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

// VmRSS and VmHWM of a process, in MB.
std::pair<double, double> memoryOf(pid_t pid)
{
    std::ifstream in("/proc/" + std::to_string(pid) + "/status");
    std::string key;
    double rss = 0, hwm = 0;
    while (in >> key) {
        if (key == "VmRSS:")
            in >> rss;
        else if (key == "VmHWM:")
            in >> hwm;
    }
    return {rss / 1024, hwm / 1024};
}

int connectTo(int port, const std::string& from = "127.0.0.1")
{
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in local{};
    local.sin_family = AF_INET;
    inet_pton(AF_INET, from.c_str(), &local.sin_addr);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<uint16_t>(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (bind(fd, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0 ||
        connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

} // namespace

int main(int argc, char** argv)
{
    std::vector<std::string> args(argv + 1, argv + argc);
    int idle = 0, slow = 0, stalled = 0, loginFlood = 0;
    std::string from = "127.0.0.1", server = VEXORY_SERVER_PATH;
    for (size_t i = 0; i + 1 < args.size();) {
        const std::string& name = args[i];
        const std::string& value = args[i + 1];
        if (name == "--idle" || name == "--slow" || name == "--stalled" || name == "--login-flood")
            (name == "--idle"      ? idle
             : name == "--slow"    ? slow
             : name == "--stalled" ? stalled
                                   : loginFlood) = std::atoi(value.c_str());
        else if (name == "--from" || name == "--server")
            (name == "--from" ? from : server) = value;
        else {
            ++i;
            continue;
        }
        args.erase(args.begin() + static_cast<long>(i), args.begin() + static_cast<long>(i) + 2);
    }
    const int clients = args.size() > 0 ? std::atoi(args[0].c_str()) : 32;
    const int pushes = args.size() > 1 ? std::atoi(args[1].c_str()) : 100;
    rlimit files{};
    getrlimit(RLIMIT_NOFILE, &files);
    files.rlim_cur = files.rlim_max;
    setrlimit(RLIMIT_NOFILE, &files);
    char folder[] = "/tmp/vexory-bench-XXXXXX";
    if (!mkdtemp(folder))
        return 1;
    const std::string data = folder;
    run("echo pw | " + server + " user add --data " + data + " bench >/dev/null");
    for (int i = 1; loginFlood > 0 && i <= 7; ++i)
        run("echo pw | " + server + " user add --data " + data + " u" + std::to_string(i) + " >/dev/null");

    int fds[2];
    if (pipe(fds) != 0)
        return 1;
    const pid_t pid = fork();
    if (pid == 0) {
        dup2(fds[1], 1);
        // One account pushes for every client: lift its rate limit, which is not what is measured.
        execl(server.c_str(), server.c_str(), "serve", "--data", data.c_str(), "--listen", "127.0.0.1:0", "--push-rate",
              "1000000", nullptr);
        _exit(127);
    }
    close(fds[1]);
    std::string line;
    char c;
    while (read(fds[0], &c, 1) == 1 && c != '\n')
        line += c;
    const std::string host = line.substr(line.find(' ') + 1);
    const int port = std::atoi(host.substr(host.rfind(':') + 1).c_str());

    TAccountRecord account;
    account.Nickname = "bench";
    account.PasswordDigest = Sha1Hex("pw");
    int32_t version = 6;
    if (Login(account, host, false, version) != LoginDone) {
        std::fprintf(stderr, "bench_push: login failed\n");
        kill(pid, SIGTERM);
        return 1;
    }

    // Connections that hold the server without asking anything of it.
    std::vector<int> held;
    for (int i = 0; i < idle + slow; ++i) {
        const int fd = connectTo(port, from);
        if (fd < 0) {
            std::fprintf(stderr, "bench_push: connection %d refused\n", i);
            break;
        }
        held.push_back(fd);
    }
    std::atomic<bool> finished{false};
    std::thread dripper([&] {
        const std::string request =
            "POST /client/SendInfo.php HTTP/1.1\r\nHost: x\r\nX-Slow: "
            "aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa";
        for (size_t at = 0; !finished; at = (at + 1) % request.size()) {
            for (size_t i = static_cast<size_t>(idle); i < held.size(); ++i)
                (void)!send(held[i], &request[at], 1, MSG_NOSIGNAL);
            for (int k = 0; k < 10 && !finished; ++k)
                std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    const auto heldMemory = memoryOf(pid);

    // Bodies of 1 MB started and left, each from an address of its own.
    std::vector<int> stalls;
    const auto beforeStalls = memoryOf(pid);
    for (int i = 0; i < stalled; ++i) {
        const std::string address = "127.0.3" + std::to_string(i / 250) + "." + std::to_string(i % 250 + 1);
        const int fd = connectTo(port, address);
        if (fd < 0)
            continue;
        const std::string start = "POST /client/SendInfo.php?value=1&code=x HTTP/1.1\r\nHost: x\r\n"
                                  "Content-Length: 1048575\r\n\r\n" +
                                  std::string(512 << 10, 'b');
        (void)!send(fd, start.data(), start.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
        stalls.push_back(fd);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(stalled > 0 ? 2000 : 0));
    const auto withStalls = memoryOf(pid);
    for (int fd : stalls)
        close(fd);
    std::this_thread::sleep_for(std::chrono::milliseconds(stalled > 0 ? 2000 : 0));
    const auto afterStalls = memoryOf(pid);

    // Right logins, over and over, from one address.
    std::vector<std::thread> flood;
    for (int i = 0; i < loginFlood; ++i)
        flood.emplace_back([&] {
            const std::string body =
                "username=" + Base64UrlEncode("bench") + "&password=" + Sha1Hex("pw") + "&version=6";
            const std::string request = "POST /client/LogIn.php?value=1&code=" + RequestCode(1) +
                                        " HTTP/1.1\r\nHost: x\r\nContent-Type: application/x-www-form-urlencoded\r\n"
                                        "Connection: close\r\nContent-Length: " +
                                        std::to_string(body.size()) + "\r\n\r\n" + body;
            while (!finished) {
                const int fd = connectTo(port, "127.0.0.9");
                if (fd < 0)
                    continue;
                (void)!send(fd, request.data(), request.size(), MSG_NOSIGNAL);
                char answer[512];
                std::string head;
                for (ssize_t n; (n = recv(fd, answer, sizeof answer, 0)) > 0;)
                    head.append(answer, static_cast<size_t>(n));
                close(fd);
                // A refusal comes back at once: a remote client would ask again a
                // round trip later, not take this machine's cores in a tight loop.
                if (head.rfind("HTTP/1.1 200", 0) != 0)
                    std::this_thread::sleep_for(std::chrono::milliseconds(20));
            }
        });

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
    int othersIn = 0;
    for (int i = 1; loginFlood > 0 && i <= 7; ++i) {
        TAccountRecord other;
        other.Nickname = "u" + std::to_string(i);
        other.PasswordDigest = Sha1Hex("pw");
        othersIn += Login(other, host, false, version) == LoginDone;
    }

    const bench::Latencies all(latencies);
    const std::string rows = run(server + " results --data " + data + " bench | wc -l");
    const auto memory = memoryOf(pid);

    finished = true;
    dripper.join();
    for (auto& th : flood)
        th.join();
    const auto stopAt = Clock::now();
    kill(pid, SIGTERM);
    waitpid(pid, nullptr, 0);
    const double stopSeconds = std::chrono::duration<double>(Clock::now() - stopAt).count();
    for (int fd : held)
        close(fd);
    std::filesystem::remove_all(data);

    std::printf("clients %d, pushes %d, acknowledged %d, stored rows %s", clients, clients * pushes,
                acknowledged.load(), rows.c_str());
    std::printf("pushes/s %.0f, latency ms p50 %.2f p90 %.2f p99 %.2f max %.2f\n", acknowledged / seconds,
                all.percentile(0.50), all.percentile(0.90), all.percentile(0.99), all.max());
    std::printf("held connections %zu (idle %d, slow %d); server RSS MB: %.1f with them, %.1f after the pushes, "
                "peak %.1f; SIGTERM took %.2f s\n",
                held.size(), idle, slow, heldMemory.first, memory.first, memory.second, stopSeconds);
    if (stalled > 0)
        std::printf("stalled bodies %d: server RSS MB %.1f before, %.1f with them, %.1f after they closed\n", stalled,
                    beforeStalls.first, withStalls.first, afterStalls.first);
    if (loginFlood > 0)
        std::printf("login flood on %d connections: %d of 7 other users logged in within 3 s\n", loginFlood, othersIn);
    return acknowledged == clients * pushes ? 0 : 1;
}
