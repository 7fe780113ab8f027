// The real vexory binary, offscreen with "autorun", against a local site whose
// pages change: only ticked tasks report, and SIGTERM ends it as closing does.

#include "model/task_store.h"
#include "platform/codepage.h"
#include "formula/text_helpers.h"
#include "support/server_process.h"
#include "support/temp_dir.h"
#include "support/test_http_server.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <csignal>
#include <filesystem>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

using namespace vexory;
using namespace vexory::test;
using namespace std::chrono_literals;

namespace {

TTaskRecord task(const std::string& name, const std::string& url, bool ticked)
{
    TTaskRecord t;
    t.TaskName = name;
    t.SetPageUrl(url);
    t.GrabFormula = "<td>{>item<}</td>";
    t.RefreshInterval = 2000;
    t.ConnectTimeout = 10000;
    t.Checked = ticked;
    return t;
}

// Starts the program as a user would on a server: offscreen, with "autorun".
pid_t startVexory(const std::string& home, const std::string& shutdownCommand = "true")
{
    const pid_t pid = fork();
    if (pid == 0) {
        setenv("VEXORY_HOME", home.c_str(), 1);
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
        setenv("QTWEBENGINE_DISABLE_SANDBOX", "1", 1);
        setenv("QTWEBENGINE_CHROMIUM_FLAGS", "--disable-gpu --disable-background-networking --disable-component-update", 1);
        setenv("VEXORY_SHUTDOWN_COMMAND", shutdownCommand.c_str(), 1);
        freopen("/dev/null", "w", stdout);
        freopen("/dev/null", "w", stderr);
        execl(VEXORY_PATH, VEXORY_PATH, "autorun", nullptr);
        _exit(127);
    }
    return pid;
}

bool waitFor(const std::function<bool()>& condition, std::chrono::seconds limit)
{
    const auto end = std::chrono::steady_clock::now() + limit;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > end)
            return false;
        std::this_thread::sleep_for(200ms);
    }
    return true;
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
            return text.find("[ t1" + verified) != std::string::npos && text.find("[ t3" + verified) != std::string::npos;
        },
        60s);
    ::kill(pid, SIGTERM);
    int status = 0;
    const bool ended = waitFor([&] { return ::waitpid(pid, &status, WNOHANG) == pid; }, 60s);
    if (!ended) {
        ::kill(pid, SIGKILL);
        ::waitpid(pid, &status, 0);
    }
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

TEST(Autorun, LoggedInPushesAndARemoteEndRunsTheShutdownCommand)
{
    ServerProcess server(VEXORY_SERVER_PATH);
    ASSERT_TRUE(server.ok());
    ASSERT_EQ(server.admin("user add alice pw --rights fastrefresh"), 0);
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
    ::kill(pid, SIGTERM);
    int status = 0;
    if (!waitFor([&] { return ::waitpid(pid, &status, WNOHANG) == pid; }, 60s)) {
        ::kill(pid, SIGKILL);
        ::waitpid(pid, &status, 0);
    }
    const std::string log = ReadBytes(home.file("dravik.log"));
    EXPECT_TRUE(pushed) << GbkToUtf8(log);
    EXPECT_TRUE(shutdown) << GbkToUtf8(log);
    EXPECT_NE(log.find("[ t1" + Utf8ToGbk(" ] 数据未发送")), std::string::npos); // no webhook, no plug-in
    EXPECT_EQ(log.substr(log.size() - 12), Utf8ToGbk("程序结束") + "\r\n\r\n");
}
