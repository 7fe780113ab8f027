// Several vexory-server instances on one database, alone and behind the proxy of
// deploy/vexory-nginx.conf: a login on one holds on the others, each result is forwarded
// once, and the service outlives a killed instance and a restarted database.

#include "server_db.h"
#include "support/build_paths.h"
#include "support/nginx_proxy.h"
#include "support/postgres_server.h"
#include "support/server_process.h"
#include "support/service_helpers.h"
#include "support/test_http_server.h"

#include <gtest/gtest.h>

#include <atomic>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <thread>

#include <csignal>
#include <dirent.h>
#include <fstream>
#include <poll.h>
#include <sstream>

using namespace vexory;
using namespace vexory::test;

namespace {

// Three instances on one database, each taking the client's address from a proxy
// on the loopback.
struct Cluster
{
    std::vector<std::unique_ptr<ServerProcess>> instances;

    explicit Cluster(size_t n, std::vector<std::string> extra = {})
    {
        extra.insert(extra.end(), {"--trust-proxy", "127.0.0.1"});
        instances.push_back(std::make_unique<ServerProcess>(VEXORY_SERVER_PATH, extra));
        for (size_t i = 1; i < n; ++i)
            instances.push_back(std::make_unique<ServerProcess>(VEXORY_SERVER_PATH, extra, instances[0]->database()));
    }
    bool ok() const
    {
        return std::all_of(instances.begin(), instances.end(), [](const auto& s) { return s->ok(); });
    }
    ServerProcess& operator[](size_t i) { return *instances[i]; }
    std::vector<int> ports() const
    {
        std::vector<int> out;
        for (const auto& s : instances)
            out.push_back(s->port());
        return out;
    }
};

// SIG to the postmaster and every process it started, as when the database
// machine hangs.
void signalCluster(pid_t postmaster, int sig)
{
    ::kill(postmaster, sig);
    DIR* proc = opendir("/proc");
    while (dirent* entry = proc ? readdir(proc) : nullptr) {
        std::ifstream stat(std::string("/proc/") + entry->d_name + "/stat");
        std::string line;
        if (!std::getline(stat, line) || line.rfind(')') == std::string::npos)
            continue;
        // pid (name) state ppid ...
        std::istringstream rest(line.substr(line.rfind(')') + 2));
        char state = 0;
        pid_t parent = 0;
        rest >> state >> parent;
        if (parent == postmaster)
            ::kill(static_cast<pid_t>(std::atoi(entry->d_name)), sig);
    }
    if (proc)
        closedir(proc);
}

std::vector<std::string> storedRecords(const ServerProcess& server, const std::string& nick)
{
    std::string out;
    server.admin("results " + nick, &out);
    std::vector<std::string> records;
    for (const nlohmann::json& r : jsonLines(out))
        records.push_back(r["records"]);
    return records;
}

// Pushes from several clients through HOST until told to stop, each at most a
// hundred a second (the machine is shared with other tests); what was acknowledged,
// and when each push ended.
struct Load
{
    struct Push
    {
        std::string records;
        bool taken = false;
        bool loggedOut = false; // told its nickname or login is not valid
        std::chrono::steady_clock::time_point end;
    };
    std::atomic<bool> stop{false};
    std::mutex mutex;
    std::vector<Push> pushes;
    std::vector<std::thread> clients;

    Load(const std::string& host, TAccountRecord account, int n)
    {
        for (int c = 0; c < n; ++c) {
            clients.emplace_back([this, host, account, c]() mutable {
                for (int i = 0; !stop; ++i) {
                    Push p;
                    p.records = "n=" + std::to_string(c) + "-" + std::to_string(i);
                    const PushReply reply = push(account, host, p.records);
                    p.taken = acknowledged(reply);
                    p.loggedOut = reply.nicknameInvalid || reply.loggedInElsewhere;
                    p.end = std::chrono::steady_clock::now();
                    {
                        std::lock_guard lock(mutex);
                        pushes.push_back(p);
                    }
                    std::this_thread::sleep_for(std::chrono::milliseconds(10));
                }
            });
        }
    }
    void Finish()
    {
        stop = true;
        for (auto& t : clients)
            t.join();
        clients.clear();
    }
    ~Load() { Finish(); }
};

} // namespace

TEST(Cluster, LoginOnOnePushOnAnotherInboxOnAThirdForwardedOnce)
{
    std::mutex mutex;
    std::map<std::string, int> forwarded;
    TestHttpServer hook;
    hook.routes().Post("/hook", [&](const httplib::Request& req, httplib::Response& res) {
        std::lock_guard lock(mutex);
        ++forwarded[nlohmann::json::parse(req.body)["records"].get<std::string>()];
        res.set_content("ok", "text/plain");
    });
    hook.start();

    Cluster cluster(3);
    ASSERT_TRUE(cluster.ok());
    ASSERT_EQ(cluster[0].addUser("alice", "pw", "--webhook " + hook.url("/hook")), 0);
    TAccountRecord alice = account("alice", "pw");
    ASSERT_TRUE(loggedIn(alice, cluster[0].host()));
    constexpr int kPushes = 60;
    for (int i = 0; i < kPushes; ++i)
        ASSERT_TRUE(push(alice, cluster[1].host(), "n=" + std::to_string(i)).taken) << i;

    // The inbox page, as the third instance serves it.
    std::string users;
    ASSERT_EQ(cluster[2].admin("user list", &users), 0);
    const std::string inbox = jsonLines(users).at(0)["inbox"];
    httplib::Client third = PatientClient(cluster[2].port());
    const auto page = third.Get(inbox.c_str());
    ASSERT_TRUE(page);
    EXPECT_NE(page->body.find("共 60 条结果"), std::string::npos);
    EXPECT_NE(page->body.find("n=59"), std::string::npos);

    // Every instance forwards (two forwarders each); each result goes out once.
    ASSERT_TRUE(waitFor(
        [&] {
            std::lock_guard lock(mutex);
            return forwarded.size() == kPushes;
        },
        std::chrono::seconds(20)));
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));
    std::lock_guard lock(mutex);
    for (const auto& [records, times] : forwarded)
        EXPECT_EQ(times, 1) << records;

    // A second login anywhere ends the first everywhere.
    TAccountRecord again = account("alice", "pw");
    ASSERT_TRUE(loggedIn(again, cluster[2].host()));
    EXPECT_TRUE(push(alice, cluster[1].host(), "n=old").loggedInElsewhere);
    EXPECT_TRUE(push(again, cluster[0].host(), "n=new").taken);
}

TEST(Cluster, AKilledInstanceBehindTheProxyLosesNoAcknowledgedPush)
{
    if (NginxProxy::Binary().empty())
        GTEST_SKIP() << "no nginx on this machine; scripts/setup installs it";
    Cluster cluster(3, {"--push-rate", "1000000", "--keep-results", "0"});
    ASSERT_TRUE(cluster.ok());
    NginxProxy proxy;
    std::string why;
    ASSERT_TRUE(proxy.Start(std::string(VEXORY_SOURCE_DIR) + "/deploy/vexory-nginx.conf", cluster.ports(), &why)) << why;
    ASSERT_EQ(cluster[0].addUser("alice", "pw"), 0);
    TAccountRecord alice = account("alice", "pw");
    ASSERT_TRUE(loggedIn(alice, proxy.host()));

    Load load(proxy.host(), alice, 6);
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));
    cluster[1].Kill();
    const auto killed = std::chrono::steady_clock::now();
    std::this_thread::sleep_for(std::chrono::milliseconds(3000));
    load.Finish();

    size_t taken = 0, after = 0, failedAfter = 0;
    const std::vector<std::string> stored = storedRecords(cluster[0], "alice");
    const std::set<std::string> storedSet(stored.begin(), stored.end());
    EXPECT_EQ(storedSet.size(), stored.size()); // nothing stored twice
    for (const Load::Push& p : load.pushes) {
        if (p.taken) {
            ++taken;
            EXPECT_TRUE(storedSet.count(p.records)) << p.records << " was acknowledged but not stored";
        }
        // Once the proxy has seen the instance gone, every push goes through the others.
        if (p.end > killed + std::chrono::milliseconds(500)) {
            ++after;
            failedAfter += !p.taken;
        }
    }
    EXPECT_GT(taken, 50u);
    EXPECT_GT(after, 20u);
    EXPECT_EQ(failedAfter, 0u);

    // One address holds at most 64 requests under way: bodies that never come
    // on 70 connections, and the last ones are refused at once.
    std::vector<pollfd> held;
    for (int i = 0; i < 70; ++i) {
        const int fd = ConnectFrom(proxy.port(), "127.0.0.7");
        ASSERT_GE(fd, 0);
        const std::string head = "POST /client/SendInfo.php HTTP/1.1\r\nHost: x\r\nContent-Length: 100\r\n\r\n";
        send(fd, head.data(), head.size(), MSG_NOSIGNAL);
        held.push_back({fd, POLLIN, 0});
    }
    int refused = 0;
    EXPECT_TRUE(waitFor(
        [&] {
            poll(held.data(), held.size(), 100);
            for (pollfd& p : held) {
                char answer[64] = {};
                if (p.fd >= 0 && (p.revents & POLLIN) && recv(p.fd, answer, sizeof answer - 1, 0) > 0) {
                    refused += std::string(answer).rfind("HTTP/1.1 429", 0) == 0;
                    close(p.fd);
                    p.fd = -1;
                }
            }
            return refused >= 6;
        },
        std::chrono::seconds(20)));
    for (const pollfd& p : held)
        if (p.fd >= 0)
            close(p.fd);
    EXPECT_EQ(proxy.errorLog().find("[emerg]"), std::string::npos) << proxy.errorLog();
}

TEST(Cluster, InstancesComeBackByThemselvesAfterTheDatabaseRestarts)
{
    if (!TestsOnPostgres())
        GTEST_SKIP() << "a PostgreSQL fault (the service tests run on it too)";
    Cluster cluster(2, {"--push-rate", "1000000", "--keep-results", "0"});
    ASSERT_TRUE(cluster.ok());
    ASSERT_EQ(cluster[0].addUser("alice", "pw"), 0);
    TAccountRecord alice = account("alice", "pw");
    ASSERT_TRUE(loggedIn(alice, cluster[0].host()));
    Load load(cluster[1].host(), alice, 4);
    std::this_thread::sleep_for(std::chrono::milliseconds(1000));

    std::string why;
    ASSERT_TRUE(SharedPostgres().Restart(&why)) << why;
    const auto restarted = std::chrono::steady_clock::now();
    std::this_thread::sleep_for(std::chrono::milliseconds(3000));
    load.Finish();

    // A push under way when the database went may fail, but never log its client
    // out; one that came after may not fail.
    size_t after = 0, failedAfter = 0;
    for (const Load::Push& p : load.pushes) {
        EXPECT_FALSE(p.loggedOut) << p.records;
        if (p.end > restarted + std::chrono::milliseconds(500)) {
            ++after;
            failedAfter += !p.taken;
        }
    }
    EXPECT_GT(after, 20u);
    EXPECT_EQ(failedAfter, 0u);
    // Both instances, and a login on the one that only read before.
    EXPECT_TRUE(acknowledged(push(alice, cluster[0].host(), "n=first")));
    TAccountRecord again = account("alice", "pw");
    // A slow password check on a busy machine may miss the client's three seconds
    // once; the user tries again.
    EXPECT_TRUE(waitFor([&] { return loggedIn(again, cluster[1].host()); }, std::chrono::seconds(30),
                        std::chrono::milliseconds(500)));
    const std::vector<std::string> stored = storedRecords(cluster[0], "alice");
    for (const Load::Push& p : load.pushes) {
        if (p.taken) {
            EXPECT_NE(std::find(stored.begin(), stored.end(), p.records), stored.end()) << p.records;
        }
    }
}

TEST(Cluster, AStopEndsInSecondsWhileTheDatabaseDoesNotAnswer)
{
    if (!TestsOnPostgres())
        GTEST_SKIP() << "a PostgreSQL fault (the service tests run on it too)";
    ServerProcess server(VEXORY_SERVER_PATH);
    ASSERT_TRUE(server.ok());
    const pid_t postmaster = SharedPostgres().pid();
    signalCluster(postmaster, SIGSTOP);
    // The forwarders look at the outbox every second: by then one waits on the
    // database, which never answers.
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));
    const double seconds = server.Stop();
    signalCluster(postmaster, SIGCONT);
    EXPECT_LT(seconds, 5.5);
}
