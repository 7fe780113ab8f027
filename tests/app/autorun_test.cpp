// The real vexory binary, offscreen with "autorun", against a local site whose
// pages change: only ticked tasks report, and SIGTERM ends it as closing does.

#include "base/encoding.h"
#include "model/task_store.h"
#include "platform/codepage.h"
#include "support/build_paths.h"
#include "support/hostile_bodies.h"
#include "support/server_process.h"
#include "support/temp_dir.h"
#include "support/test_http_server.h"
#include "support/test_tasks.h"
#include "support/wait.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <grp.h>
#include <mutex>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

using namespace vexory;
using namespace vexory::test;
using namespace std::chrono_literals;

namespace {

TTaskRecord task(const std::string& name, const std::string& url, bool ticked)
{
    TTaskRecord t = MakeTask(name, url, "<td>{>item<}</td>", 2000, 10000);
    t.Checked = ticked;
    return t;
}

// Starts the program as a user would on a server: offscreen, with "autorun";
// as another user when `uid` is given (run as root), its error output in `errors`.
pid_t startVexory(const std::string& home, const std::string& shutdownCommand = "true", uid_t uid = 0,
                  const std::string& errors = "/dev/null")
{
    const pid_t pid = fork();
    if (pid == 0) {
        if (uid != 0) {
            const std::string runtime = home + "/run";
            setenv("HOME", home.c_str(), 1);
            setenv("XDG_RUNTIME_DIR", runtime.c_str(), 1);
            if (setgroups(0, nullptr) != 0 || setgid(uid) != 0 || setuid(uid) != 0)
                _exit(126);
        }
        setenv("VEXORY_HOME", home.c_str(), 1);
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
        setenv("QTWEBENGINE_DISABLE_SANDBOX", "1", 1);
        setenv("QTWEBENGINE_CHROMIUM_FLAGS", "--disable-gpu --disable-background-networking --disable-component-update",
               1);
        setenv("VEXORY_SHUTDOWN_COMMAND", shutdownCommand.c_str(), 1);
        freopen("/dev/null", "w", stdout);
        freopen(errors.c_str(), "w", stderr);
        execl(VEXORY_PATH, VEXORY_PATH, "autorun", nullptr);
        _exit(127);
    }
    return pid;
}

// Conditions here may start a command: asked five times a second.
template <typename Condition> bool waitFor(Condition condition, std::chrono::seconds limit)
{
    return test::waitFor(condition, limit, 200ms);
}

// SIGTERM, as a service manager ends the program; killed when it has not ended
// after a minute. Whether it ended by itself; its wait status in *status.
bool endWithSigterm(pid_t pid, int* status)
{
    ::kill(pid, SIGTERM);
    const bool ended = waitFor([&] { return ::waitpid(pid, status, WNOHANG) == pid; }, 60s);
    if (!ended) {
        ::kill(pid, SIGKILL);
        ::waitpid(pid, status, 0);
    }
    return ended;
}

} // namespace

TEST(Autorun, TickedTasksReportAndSigtermEndsCleanly)
{
    std::atomic<int> version{0};
    std::atomic<int> requests[4] = {};
    TestHttpServer site;
    site.routes().Get(R"(/page/(\d))", [&](const httplib::Request& req, httplib::Response& res) {
        ++requests[std::stoi(req.matches[1])];
        std::string rows = "<tr><td>old " + std::string(req.matches[1]) + "</td></tr>";
        if (version > 0)
            rows += "<tr><td>new " + std::string(req.matches[1]) + "</td></tr>";
        res.set_content("<html><body><table>" + rows + "</table></body></html>", "text/html; charset=utf-8");
    });
    site.start();

    TempDir home;
    TAccountRecord account;
    account.Tasks.push_back(task("t1", site.url("/page/1"), true));
    account.Tasks.push_back(task("t2", site.url("/page/2"), false));
    account.Tasks.push_back(task("t3", site.url("/page/3"), true));
    ASSERT_TRUE(WriteStore(account, home.file("vexory.vxt")));
    WriteBytes(home.file("dravik.ini"), "[options]\r\ndebugging=1\r\nautologin=0\r\nserver=127.0.0.1:1\r\n");

    const pid_t pid = startVexory(home.path());
    ASSERT_GE(pid, 0);
    const std::string log = home.file("dravik.log");
    const std::string verified = Utf8ToGbk(" ] 数据验证通过");
    // Once both ticked runners have read their first page and reloaded it, the pages change.
    EXPECT_TRUE(waitFor([&] { return requests[1] >= 2 && requests[3] >= 2; }, 60s));
    version = 1;
    const bool reported = waitFor(
        [&] {
            const std::string text = ReadBytes(log);
            return text.find("[ t1" + verified) != std::string::npos &&
                   text.find("[ t3" + verified) != std::string::npos;
        },
        60s);
    int status = 0;
    const bool ended = endWithSigterm(pid, &status);
    const std::string text = ReadBytes(log);
    EXPECT_TRUE(reported) << GbkToUtf8(text);
    EXPECT_TRUE(ended);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    EXPECT_EQ(text.find("[ t2"), std::string::npos); // not ticked, never run
    EXPECT_EQ(requests[2], 0);
    EXPECT_GE(text.size(), 12u);
    EXPECT_EQ(text.substr(text.size() - 12), Utf8ToGbk("程序结束") + "\r\n\r\n");
    TAccountRecord back;
    ASSERT_TRUE(ReadStore(home.file("vexory.vxt"), back)); // written back whole
    EXPECT_EQ(back.Tasks.size(), 3u);
}

TEST(Autorun, AStoreThatCannotBeReadIsNeverWritten)
{
    // As after one run with sudo: the store belongs to another user, in a folder
    // the user can write. The program starts, runs and ends without touching it.
    TempDir home;
    TAccountRecord account;
    account.Tasks.push_back(task("t1", "http://127.0.0.1:1/x", true));
    const std::string store = home.file("vexory.vxt");
    ASSERT_TRUE(WriteStore(account, store));
    const std::string before = ReadBytes(store);
    WriteBytes(home.file("dravik.ini"), "[options]\r\ndebugging=1\r\nautologin=0\r\nserver=127.0.0.1:1\r\n");
    TempDir outside;
    const std::string errors = outside.file("errors");
    uid_t uid = 0;
    std::filesystem::create_directories(home.file("run"));
    if (getuid() == 0) {
        // The program must be reachable by that user (a build folder inside a
        // private one is not): otherwise there is no second user to be here.
        const pid_t probe = fork();
        if (probe == 0) {
            if (setgroups(0, nullptr) != 0 || setgid(65534) != 0 || setuid(65534) != 0)
                _exit(2);
            _exit(::access(VEXORY_PATH, X_OK) == 0 ? 0 : 1);
        }
        int probed = 0;
        ::waitpid(probe, &probed, 0);
        if (!WIFEXITED(probed) || WEXITSTATUS(probed) != 0)
            GTEST_SKIP() << "the user nobody cannot run " << VEXORY_PATH;
        uid = 65534; // nobody owns the folder; the store stays root's, readable by root alone
        for (const std::string& path : {home.path(), home.file("run"), home.file("dravik.ini")})
            ASSERT_EQ(chown(path.c_str(), uid, uid), 0);
        ::chmod(home.file("run").c_str(), 0700);
        ::chmod(store.c_str(), 0600);
        ::chmod(outside.path().c_str(), 0777);
    } else {
        ::chmod(store.c_str(), 0);
    }
    const pid_t pid = startVexory(home.path(), "true", uid, errors);
    ASSERT_GE(pid, 0);
    // The run starts (and writes the store first): the log says it was not stored.
    const std::string notStored = Utf8ToGbk("修改没有保存到");
    const bool said =
        waitFor([&] { return ReadBytes(home.file("dravik.log")).find(notStored) != std::string::npos; }, 60s);
    int status = 0;
    const bool ended = endWithSigterm(pid, &status);
    ::chmod(store.c_str(), 0600);
    EXPECT_TRUE(said) << GbkToUtf8(ReadBytes(home.file("dravik.log")));
    EXPECT_TRUE(ended);
    EXPECT_EQ(ReadBytes(store), before); // the task is still there
    const std::string err = ReadBytes(errors);
    EXPECT_NE(err.find("没有读取它的权限"), std::string::npos) << err;
    EXPECT_NE(err.find(store), std::string::npos) << err;
}

TEST(Autorun, LoggedInPushesAndARemoteEndRunsTheShutdownCommand)
{
    ServerProcess server(VEXORY_SERVER_PATH);
    ASSERT_TRUE(server.ok());
    ASSERT_EQ(server.addUser("alice", "pw", "--rights fastrefresh"), 0);
    std::atomic<int> rows{1};
    std::atomic<int> requests{0};
    TestHttpServer site;
    site.routes().Get("/list", [&](const httplib::Request&, httplib::Response& res) {
        ++requests;
        std::string html = "<html><body><table>";
        for (int i = 0; i < rows; ++i)
            html += "<tr><td>row " + std::to_string(i) + "</td></tr>";
        res.set_content(html + "</table></body></html>", "text/html; charset=utf-8");
    });
    site.start();

    TempDir home;
    TAccountRecord account;
    account.Nickname = "alice";
    account.PasswordDigest = Sha1Hex("pw");
    account.ShutdownFlags = 2; // shut the machine down on a remote end
    account.Tasks.push_back(task("t1", site.url("/list"), true));
    ASSERT_TRUE(WriteStore(account, home.file("vexory.vxt")));
    WriteBytes(home.file("dravik.ini"), "[options]\r\ndebugging=1\r\nserver=" + server.host() + "\r\n");
    const std::string marker = home.file("shutdown-called");

    const pid_t pid = startVexory(home.path(), "touch " + marker);
    ASSERT_GE(pid, 0);
    auto stored = [&] {
        std::string out;
        server.admin("results alice", &out);
        return static_cast<int>(std::count(out.begin(), out.end(), '\n'));
    };
    EXPECT_TRUE(waitFor([&] { return requests >= 2; }, 60s)); // first page read and reloaded
    rows = 2;
    const bool pushed = waitFor([&] { return stored() >= 1; }, 60s);
    ASSERT_EQ(server.admin("user shutoff alice"), 0);
    rows = 3;
    const bool shutdown = waitFor([&] { return std::filesystem::exists(marker); }, 60s);
    int status = 0;
    endWithSigterm(pid, &status);
    const std::string log = ReadBytes(home.file("dravik.log"));
    EXPECT_TRUE(pushed) << GbkToUtf8(log);
    EXPECT_TRUE(shutdown) << GbkToUtf8(log);
    EXPECT_NE(log.find("[ t1" + Utf8ToGbk(" ] 数据已发送")), std::string::npos); // stored in the inbox, no webhook
    EXPECT_EQ(log.substr(log.size() - 12), Utf8ToGbk("程序结束") + "\r\n\r\n");
}

TEST(Autorun, LoginsOnAGuidePageLastAcrossTasksAndRestarts)
{
    // A site whose listing and export need the session cookie its login page sets.
    std::atomic<int> listed{0}, refused{0}, exported{0};
    TestHttpServer site;
    auto loggedIn = [](const httplib::Request& req) {
        return req.get_header_value("Cookie").find("session=ok") != std::string::npos;
    };
    site.routes().Get("/login", [](const httplib::Request&, httplib::Response& res) {
        res.set_header("Set-Cookie", "session=ok; Path=/");
        res.set_content("<html><body><p>welcome</p></body></html>", "text/html; charset=utf-8");
    });
    site.routes().Get("/list", [&](const httplib::Request& req, httplib::Response& res) {
        if (!loggedIn(req)) {
            ++refused;
            res.set_content("<html><body><p>please log in</p></body></html>", "text/html; charset=utf-8");
            return;
        }
        ++listed;
        res.set_content("<html><body><table><tr><td>secret</td></tr></table></body></html>",
                        "text/html; charset=utf-8");
    });
    site.routes().Get("/export.txt", [&](const httplib::Request& req, httplib::Response& res) {
        if (loggedIn(req))
            ++exported;
        res.set_header("Content-Disposition", "attachment; filename=\"export.txt\"");
        res.set_content(loggedIn(req) ? "<table><tr><td>secret</td></tr></table>" : "no", "application/octet-stream");
    });
    site.start();

    TempDir home;
    WriteBytes(home.file("dravik.ini"), "[options]\r\ndebugging=1\r\nautologin=0\r\nserver=127.0.0.1:1\r\n");
    auto run = [&](const TAccountRecord& account, const std::function<bool()>& done) {
        EXPECT_TRUE(WriteStore(account, home.file("vexory.vxt")));
        const pid_t pid = startVexory(home.path());
        const bool reached = waitFor(done, 90s);
        int status = 0;
        endWithSigterm(pid, &status);
        return reached;
    };

    // Headless, the task goes on from its guide page by itself, logged in there.
    TAccountRecord first;
    first.Tasks.push_back(task("guided", site.url("/list"), true));
    first.Tasks[0].GuideUrl = site.url("/login");
    EXPECT_TRUE(run(first, [&] { return listed >= 2; })) << GbkToUtf8(ReadBytes(home.file("dravik.log")));
    EXPECT_EQ(refused, 0);

    // After a restart a task without a guide page is still logged in, and so is
    // the download another task monitors as text.
    const int before = listed;
    TAccountRecord second;
    second.Tasks.push_back(task("plain", site.url("/list"), true));
    second.Tasks.push_back(task("export", site.url("/export.txt"), true));
    EXPECT_TRUE(run(second, [&] { return listed > before && exported >= 1; }));
    EXPECT_EQ(refused, 0);
    // The page cache is on disk in the profile, where the memory trimming measures it.
    std::error_code ec;
    EXPECT_FALSE(std::filesystem::is_empty(home.file("browser/cache"), ec)) << ec.message();
}

namespace {

// The peak resident memory of a process, in bytes (its own, not its renderers').
size_t peakResident(pid_t pid)
{
    const std::string status = ReadBytes("/proc/" + std::to_string(pid) + "/status");
    const size_t at = status.find("VmHWM:");
    return at == std::string::npos ? 0 : std::stoull(status.substr(at + 6)) * 1024;
}

} // namespace

TEST(Autorun, HostilePagesCostOnlyTheirOwnTasks)
{
    // Beside four tasks whose pages turn to attack a reader (nested 100,000 deep,
    // a gzip body of 1 GB, 60,000 attributes on one element, a byte every 2 s), a
    // plain task reports every cycle, and the program lives within its memory. The
    // pages turn once the plain task reported: a page that shares the plain page's
    // renderer (the program caps their number) could hold its first browser read.
    const std::string deep = RepeatedPage("<div>", 100000);
    const std::string bomb = GzipBomb(size_t{1} << 30);
    const std::string attributes = ManyAttributesPage(60000);
    std::atomic<int> plain{0};
    std::atomic<bool> ending{false};
    std::atomic<bool> hostile{false};
    auto calm = [](httplib::Response& res) { res.set_content("<html><body>calm</body></html>", "text/html"); };
    // The plain page on a site of its own: the hostile site's server may be busy
    // with its own pages, as a real one would.
    TestHttpServer plainSite;
    TestHttpServer site;
    plainSite.routes().Get("/plain", [&](const httplib::Request&, httplib::Response& res) {
        std::string rows;
        for (int i = 0, n = ++plain; i <= n; ++i)
            rows += "<tr><td>row " + std::to_string(i) + "</td></tr>";
        res.set_content("<html><body><table>" + rows + "</table></body></html>", "text/html; charset=utf-8");
    });
    site.routes().Get("/deep", [&](const httplib::Request&, httplib::Response& res) {
        if (!hostile)
            return calm(res);
        res.set_content(deep, "text/html");
    });
    site.routes().Get("/bomb", [&](const httplib::Request&, httplib::Response& res) {
        if (!hostile)
            return calm(res);
        res.set_header("Content-Encoding", "gzip");
        res.set_content(bomb, "text/html; charset=utf-8");
    });
    site.routes().Get("/attributes", [&](const httplib::Request&, httplib::Response& res) {
        if (!hostile)
            return calm(res);
        res.set_content(attributes, "text/html");
    });
    site.routes().Get("/trickle", [&](const httplib::Request&, httplib::Response& res) {
        if (!hostile)
            return calm(res);
        res.set_chunked_content_provider("text/html; charset=utf-8", [&](size_t offset, httplib::DataSink& sink) {
            for (int i = 0; i < 20 && !ending; ++i)
                std::this_thread::sleep_for(100ms);
            return !ending && offset < 1000 && sink.write("<td>x</td>", 10);
        });
    });
    site.start();
    plainSite.start();

    TempDir home;
    TAccountRecord account;
    for (const char* path : {"/plain", "/deep", "/bomb", "/attributes", "/trickle"}) {
        const std::string url = path == std::string("/plain") ? plainSite.url(path) : site.url(path);
        account.Tasks.push_back(MakeTask(path + 1, url, "<td>{>item<}</td>", 5000, 8000));
        account.Tasks.back().Checked = true;
    }
    ASSERT_TRUE(WriteStore(account, home.file("vexory.vxt")));
    WriteBytes(home.file("dravik.ini"), "[options]\r\ndebugging=1\r\nautologin=0\r\nserver=127.0.0.1:1\r\n"
                                        "directread=1\r\n");
    const pid_t pid = startVexory(home.path());
    ASSERT_GE(pid, 0);
    const std::string log = home.file("dravik.log");
    const std::string reported = "[ plain" + Utf8ToGbk(" ] 数据验证通过");
    auto reports = [&] {
        const std::string text = ReadBytes(log);
        size_t n = 0;
        for (size_t at = text.find(reported); at != std::string::npos; at = text.find(reported, at + 1))
            ++n;
        return n;
    };
    // Eight cycles once the plain task reports (a cycle is 5 s and the 2 s the page
    // must stay quiet): a report within two cycles each time, the program alive.
    EXPECT_TRUE(waitFor([&] { return reports() >= 1; }, 90s)) << GbkToUtf8(ReadBytes(log));
    hostile = true;
    size_t peak = 0;
    for (int cycle = 0; cycle < 8; ++cycle) {
        const size_t before = reports();
        EXPECT_TRUE(waitFor([&] { return reports() > before || ::waitpid(pid, nullptr, WNOHANG) != 0; }, 15s))
            << "no report in 15 s";
        ASSERT_EQ(::waitpid(pid, nullptr, WNOHANG), 0) << "the program ended";
        peak = std::max(peak, peakResident(pid));
    }
    ending = true;
    int status = 0;
    EXPECT_TRUE(endWithSigterm(pid, &status));
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
#if !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__)
    EXPECT_LT(peak, size_t{1536} << 20) << "peak resident memory";
#endif
    std::printf("hostile pages: %zu reports of the plain task, peak resident %zu MB\n", reports(), peak >> 20);
}

TEST(Autorun, ATaskThatReadDirectlyStartsDirectlyAtTheNextRun)
{
    // Requests from the browser carry Sec-Fetch-Mode; a direct read does not.
    std::mutex mutex;
    std::vector<bool> fromBrowser;
    std::atomic<int> rows{1};
    TestHttpServer site;
    site.routes().Get("/list", [&](const httplib::Request& req, httplib::Response& res) {
        {
            std::lock_guard lock(mutex);
            fromBrowser.push_back(req.has_header("Sec-Fetch-Mode"));
        }
        std::string body;
        for (int i = 1; i <= rows; ++i)
            body += "<tr><td>row " + std::to_string(i) + "</td></tr>";
        res.set_content("<html><body><table>" + body + "</table></body></html>", "text/html; charset=utf-8");
    });
    site.start();
    TempDir home;
    TAccountRecord account;
    account.Tasks.push_back(task("plain", site.url("/list"), true));
    ASSERT_TRUE(WriteStore(account, home.file("vexory.vxt")));
    WriteBytes(home.file("dravik.ini"), "[options]\r\ndebugging=1\r\nautologin=0\r\nserver=127.0.0.1:1\r\n");
    auto directReads = [&] {
        std::lock_guard lock(mutex);
        return std::count(fromBrowser.begin(), fromBrowser.end(), false);
    };

    // The first run reads in the browser, then directly; that is kept beside the store.
    pid_t pid = startVexory(home.path());
    EXPECT_TRUE(waitFor([&] { return directReads() >= 3; }, 90s));
    int status = 0;
    EXPECT_TRUE(endWithSigterm(pid, &status));
    EXPECT_EQ(ReadBytes(home.file("vexory.vxt.direct")).size(), 41u); // one task's key and its line end

    // The next run's first read of the page is a direct one, and its new rows are reported.
    {
        std::lock_guard lock(mutex);
        fromBrowser.clear();
    }
    pid = startVexory(home.path());
    EXPECT_TRUE(waitFor([&] { return directReads() >= 2; }, 90s));
    rows = 2;
    const std::string reported = "[ plain" + Utf8ToGbk(" ] 数据验证通过");
    EXPECT_TRUE(waitFor([&] { return ReadBytes(home.file("dravik.log")).find(reported) != std::string::npos; }, 60s));
    EXPECT_TRUE(endWithSigterm(pid, &status));
    std::lock_guard lock(mutex);
    ASSERT_FALSE(fromBrowser.empty());
    EXPECT_FALSE(fromBrowser.front()) << "the browser loaded the page first";
}

TEST(Autorun, ALaunchDoesNotWaitForAnEarlierTasksPage)
{
    // The first task's page is held by its server; the second task launches a
    // second later all the same, and the first starts its cycles once its page came.
    std::mutex mutex;
    std::condition_variable released;
    bool release = false;
    std::atomic<int> slow{0};
    std::atomic<int> fast{0};
    TestHttpServer site;
    site.routes().Get("/slow", [&](const httplib::Request&, httplib::Response& res) {
        if (++slow == 1) {
            std::unique_lock lock(mutex);
            released.wait_for(lock, 60s, [&] { return release; });
        }
        res.set_content("<html><body><table><tr><td>slow</td></tr></table></body></html>", "text/html");
    });
    site.routes().Get("/fast", [&](const httplib::Request&, httplib::Response& res) {
        ++fast;
        res.set_content("<html><body><table><tr><td>fast</td></tr></table></body></html>", "text/html");
    });
    site.start();
    TempDir home;
    TAccountRecord account;
    for (const char* path : {"/slow", "/fast"}) {
        account.Tasks.push_back(MakeTask(path + 1, site.url(path), "<td>{>item<}</td>", 2000, 90000));
        account.Tasks.back().Checked = true;
    }
    ASSERT_TRUE(WriteStore(account, home.file("vexory.vxt")));
    WriteBytes(home.file("dravik.ini"), "[options]\r\ndebugging=1\r\nautologin=0\r\nserver=127.0.0.1:1\r\n");
    const pid_t pid = startVexory(home.path());
    ASSERT_GE(pid, 0);
    EXPECT_TRUE(waitFor([&] { return fast >= 1; }, 30s)) << "the second task waited for the first one's page";
    EXPECT_EQ(slow, 1);
    {
        std::lock_guard lock(mutex);
        release = true;
    }
    released.notify_all();
    EXPECT_TRUE(waitFor([&] { return slow >= 2; }, 60s)) << "the first task did not refresh its page";
    int status = 0;
    EXPECT_TRUE(endWithSigterm(pid, &status));
}
