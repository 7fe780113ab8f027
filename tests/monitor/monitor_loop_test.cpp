// The monitor's rhythm and chained tasks, each core on a thread of its own, with
// the test playing the panels and the main window.

#include "base/tick_clock.h"
#include "model/kept_screen.h"
#include "monitor/gbk_texts.h"
#include "monitor/monitor_core.h"
#include "support/temp_dir.h"
#include "support/test_http_server.h"
#include "support/test_tasks.h"
#include "support/wait.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <deque>
#include <filesystem>
#include <mutex>
#include <thread>

using namespace vexory;
using namespace std::chrono_literals;
using vexory::test::waitFor;

namespace {

// One runner: a core on its thread, a browser state, and a page to serve.
struct FakeRunner
{
    BrowserState browser;
    std::unique_ptr<MonitorCore> core;
    std::thread thread;
    std::function<std::string()> source;
    std::atomic<int> requests{0}, refreshes{0}, noSource{0};
    std::mutex mutex;
    std::vector<std::string> results, messages;

    MonitorEvents events(std::function<void(int)> chainRequest = {})
    {
        MonitorEvents e;
        e.sourceRequest = [this] {
            ++requests;
            core->SetPageText(source ? source() : std::string());
        };
        e.refresh = [this] {
            ++refreshes;
            browser.loadsStarted++; // a load that starts and ends between two looks
            browser.readyState = 4;
        };
        e.noSource = [this] { ++noSource; };
        e.message = [this](const std::string& m) {
            std::lock_guard lock(mutex);
            messages.push_back(m);
        };
        e.result = [this](Delivery, const std::string& r) {
            std::lock_guard lock(mutex);
            results.push_back(r);
        };
        e.chainRequest = std::move(chainRequest);
        return e;
    }
    void start(TAccountRecord& account, int index, std::function<void(int)> chainRequest = {})
    {
        core = std::make_unique<MonitorCore>(account, &browser, "127.0.0.1:1", events(std::move(chainRequest)));
        core->SetTask(index);
        thread = std::thread([this] { core->Execute(); });
    }
    std::vector<std::string> resultsNow()
    {
        std::lock_guard lock(mutex);
        return results;
    }
};

// What the countdown showed at each request for the page text, and how often it was shown.
struct RequestTimes
{
    std::mutex mutex;
    int remaining = 0, looks = 0;
    std::vector<int> leftAtRequest;
    std::chrono::steady_clock::time_point firstRequest;

    void Watch(MonitorEvents& events)
    {
        events.countdown = [this](int ms) {
            std::lock_guard lock(mutex);
            remaining = ms;
            ++looks;
        };
        events.sourceRequest = [this, request = events.sourceRequest] {
            {
                std::lock_guard lock(mutex);
                if (leftAtRequest.empty())
                    firstRequest = std::chrono::steady_clock::now();
                leftAtRequest.push_back(remaining);
            }
            request();
        };
    }
};

} // namespace

TEST(MonitorLoop, CyclesRequestTextAtOnceThenRefreshAndWarnWithoutText)
{
    TAccountRecord account;
    account.Tasks.resize(1);
    account.Tasks[0].TaskName = "t";
    account.Tasks[0].GrabFormula = "<p>{>v<}</p>";
    account.Tasks[0].RefreshInterval = 1200; // three quarters is below a second: asked at once
    account.Tasks[0].ConnectTimeout = 5000;
    account.Tasks[0].Requester = -1; // as at the start of a run
    FakeRunner runner;
    std::atomic<int> served{0};
    runner.source = [&] {
        return served++ < 2 ? std::string("<html><body><p>" + std::to_string(served) + "</p></body></html>")
                            : std::string();
    };
    runner.start(account, 0);

    ASSERT_TRUE(waitFor([&] { return runner.noSource > 0; }, 20s));
    account.StopAll = 1;
    runner.thread.join();
    EXPECT_GE(runner.requests, 3);
    EXPECT_GE(runner.refreshes, 2);
    std::lock_guard lock(runner.mutex);
    EXPECT_EQ(std::count(runner.messages.begin(), runner.messages.end(), std::string(texts::kNoSource)),
              runner.noSource.load());
    EXPECT_EQ(runner.results, (std::vector<std::string>{"v=2"})) << ::testing::PrintToString(runner.messages);
}

TEST(MonitorLoop, ChainedTaskResolvesAValueIntoTheRecord)
{
    TAccountRecord account;
    account.Tasks.resize(2);
    TTaskRecord& list = account.Tasks[0];
    list.TaskName = "list";
    list.GrabFormula = "<li><b>{>title<}</b><i>{>link<}</i></li>(>link@detail<)";
    list.RefreshInterval = 1200;
    list.ConnectTimeout = 4000;
    TTaskRecord& detail = account.Tasks[1];
    detail.TaskName = "detail";
    detail.GrabFormula = "<p>{>price<}</p>";
    detail.RefreshInterval = 1200;
    detail.ConnectTimeout = 4000;
    for (auto& t : account.Tasks) { // as at the start of a run
        t.Requester = -1;
        t.CycleDone = 1;
        t.RunState = RunIdle;
    }

    std::mutex queueMutex;
    std::deque<int> startRequests; // what the main window would do on the GUI thread
    FakeRunner listRunner, detailRunner;
    std::atomic<int> listPages{0};
    listRunner.source = [&] {
        std::string rows = "<li><b>Old</b><i>http://d/1</i></li>";
        if (listPages++ > 0)
            rows += "<li><b>New One</b><i>http://d/2</i></li>";
        return "<html><body><ul>" + rows + "</ul></body></html>";
    };
    detailRunner.source = [&] {
        return "<html><body><p>price of " + account.Tasks[1].PageUrl() + "</p></body></html>";
    };
    listRunner.start(account, 0, [&](int target) {
        std::lock_guard lock(queueMutex);
        startRequests.push_back(target);
    });
    EXPECT_EQ(listRunner.core->ChainTask(), "detail");

    bool detailStarted = false;
    const bool resolved = waitFor(
        [&] {
            {
                std::lock_guard lock(queueMutex);
                while (!startRequests.empty()) {
                    EXPECT_EQ(startRequests.front(), 1);
                    startRequests.pop_front();
                    if (!detailStarted) { // a new panel binds the task now that it serves a requester
                        detailRunner.start(account, 1);
                        detailStarted = true;
                    }
                }
            }
            return !listRunner.resultsNow().empty();
        },
        30s);
    account.StopAll = 1;
    if (detailStarted)
        detailRunner.thread.join();
    account.Tasks[1].RunState = RunStopped; // the detail panel saw its thread end
    listRunner.thread.join();
    ASSERT_TRUE(resolved);
    EXPECT_EQ(listRunner.resultsNow().front(), "title=New One\r\nlink=http://d/2\r\nprice=price of http://d/2");
    EXPECT_EQ(account.Tasks[1].Requester, 0);
}

namespace {

// Two tasks linked as the list's chain marker says: the list asks "detail" for
// the price behind each new link. The test plays the main window: it starts or
// restarts the detail panel, which takes a while to load the requested page.
struct ChainedPair
{
    TAccountRecord account;
    FakeRunner listRunner, detailRunner;
    std::atomic<int> listPages{0};
    std::mutex mutex;
    std::string loaded; // the page the detail panel's browser shows
    std::deque<int> startRequests;
    bool detailStarted = false;

    ChainedPair()
    {
        account.Tasks.resize(2);
        TTaskRecord& list = account.Tasks[0];
        list.TaskName = "list";
        list.GrabFormula = "<li><b>{>title<}</b><i>{>link<}</i></li>(>link@detail<)";
        TTaskRecord& detail = account.Tasks[1];
        detail.TaskName = "detail";
        detail.GrabFormula = "<p>{>price<}</p>";
        for (auto& t : account.Tasks) { // as at the start of a run
            t.RefreshInterval = 1200;
            t.ConnectTimeout = 4000;
            t.Requester = -1;
            t.CycleDone = 1;
            t.RunState = RunIdle;
        }
    }
    void start(std::function<std::string(int page)> list, std::function<std::string(const std::string& url)> detail)
    {
        listRunner.source = [this, list] { return list(listPages++); };
        detailRunner.source = [this, detail] {
            std::lock_guard lock(mutex);
            return detail(loaded);
        };
        listRunner.start(account, 0, [this](int target) {
            std::lock_guard lock(mutex);
            startRequests.push_back(target);
        });
    }
    // One look of the main window: a new panel, or a restart that loads the page
    // for `loadMs` before the task may read again.
    void serve(std::chrono::milliseconds loadMs)
    {
        std::unique_lock lock(mutex);
        while (!startRequests.empty()) {
            startRequests.pop_front();
            TTaskRecord& detail = account.Tasks[1];
            lock.unlock();
            std::this_thread::sleep_for(loadMs);
            lock.lock();
            loaded = detail.PageUrl();
            lock.unlock();
            detail.CycleDone = 0;
            detail.RestartPending = 0;
            MonitorCore::WakeWaiting();
            if (!detailStarted) {
                detailRunner.start(account, 1);
                detailStarted = true;
            }
            lock.lock();
        }
    }
    void stop()
    {
        account.StopAll = 1;
        MonitorCore::WakeWaiting();
        if (detailStarted)
            detailRunner.thread.join();
        account.Tasks[1].RunState = RunStopped; // the detail panel saw its thread end
        listRunner.thread.join();
    }
};

std::string listPage(const std::vector<std::pair<std::string, std::string>>& rows)
{
    std::string html = "<html><body><ul>";
    for (const auto& [title, link] : rows)
        html += "<li><b>" + title + "</b><i>" + link + "</i></li>";
    return html + "</ul></body></html>";
}

} // namespace

TEST(MonitorLoop, ARestartedChainTargetReadsOnlyTheRequestedPage)
{
    ChainedPair pair;
    pair.start(
        [](int page) {
            std::vector<std::pair<std::string, std::string>> rows{{"Old", "http://d/1"}};
            if (page > 0)
                rows.emplace_back("Second", "http://d/2");
            if (page > 3)
                rows.emplace_back("Third", "http://d/3");
            return listPage(rows);
        },
        [](const std::string& url) { return "<html><body><p>price of " + url + "</p></body></html>"; });
    // The restart takes longer than the target's old five-second look.
    const bool both = waitFor(
        [&] {
            pair.serve(std::chrono::milliseconds(pair.detailStarted ? 6000 : 0));
            return pair.listRunner.resultsNow().size() >= 2;
        },
        60s);
    pair.stop();
    ASSERT_TRUE(both);
    const auto results = pair.listRunner.resultsNow();
    EXPECT_EQ(results[0], "title=Second\r\nlink=http://d/2\r\nprice=price of http://d/2");
    EXPECT_EQ(results[1], "title=Third\r\nlink=http://d/3\r\nprice=price of http://d/3");
}

TEST(MonitorLoop, AChainTargetWithoutRecordsGivesUpAfterFourCycles)
{
    ChainedPair pair;
    pair.start(
        [](int page) {
            std::vector<std::pair<std::string, std::string>> rows{{"Old", "http://d/1"}};
            if (page > 0)
                rows.emplace_back("Lost", "http://d/2");
            return listPage(rows);
        },
        [](const std::string&) { return std::string("<html><body>nothing here</body></html>"); });
    const bool gaveUp = waitFor(
        [&] {
            pair.serve(0ms);
            return pair.detailStarted && pair.account.Tasks[1].CycleDone == 1 && pair.detailRunner.requests > 0;
        },
        60s);
    const int listPagesAtGiveUp = pair.listPages;
    // The list goes on reading, and the record without a price is dropped.
    EXPECT_TRUE(waitFor([&] { return pair.listPages > listPagesAtGiveUp + 1; }, 20s));
    pair.stop();
    ASSERT_TRUE(gaveUp);
    EXPECT_EQ(pair.detailRunner.requests, 4);
    EXPECT_TRUE(pair.listRunner.resultsNow().empty());
    EXPECT_TRUE(pair.account.Tasks[1].PendingResult().empty());
}

TEST(MonitorLoop, StoppingReleasesAThreadWaitingForATaskThatNeverGotAPanel)
{
    ChainedPair pair;
    pair.start(
        [](int page) {
            return listPage(page ? std::vector<std::pair<std::string, std::string>>{{"a", "1"}, {"b", "2"}}
                                 : std::vector<std::pair<std::string, std::string>>{{"a", "1"}});
        },
        [](const std::string&) { return std::string(); });
    // The list asks for "detail", whose panel never comes.
    ASSERT_TRUE(waitFor([&] { return pair.account.Tasks[1].RunState == RunStartRequested; }, 30s));
    pair.account.StopAll = 1;
    MonitorCore::ReleaseStoppedTasks(pair.account, [](int index) { return index == 0; });
    const auto asked = std::chrono::steady_clock::now();
    pair.listRunner.thread.join();
    EXPECT_LT(std::chrono::steady_clock::now() - asked, 2s);
    EXPECT_EQ(pair.account.Tasks[1].RunState, RunStopped);
}

TEST(MonitorLoop, TextIsAskedForAtThreeQuartersOfTheIntervalAndTheThreadWakesOnlyWhenSomethingIsDue)
{
    TAccountRecord account;
    account.Tasks.resize(1);
    account.Tasks[0].GrabFormula = "<p>{>v<}</p>";
    account.Tasks[0].RefreshInterval = 4000; // asked for at 3000 ms, with 1000 ms left
    account.Tasks[0].ConnectTimeout = 5000;
    account.Tasks[0].Requester = -1;
    FakeRunner runner;
    RequestTimes times;
    runner.source = [] { return std::string("<html><body><p>1</p></body></html>"); };
    MonitorEvents events = runner.events();
    times.Watch(events);
    runner.core = std::make_unique<MonitorCore>(account, &runner.browser, "127.0.0.1:1", std::move(events));
    runner.core->SetTask(0);
    const auto started = std::chrono::steady_clock::now();
    runner.thread = std::thread([&] { runner.core->Execute(); });
    ASSERT_TRUE(waitFor([&] { return runner.requests >= 3; }, 30s));
    account.StopAll = 1;
    runner.thread.join();
    std::lock_guard lock(times.mutex);
    // The first cycle asks at once (its count starts at three quarters), every
    // cycle when about a quarter is left (one 100-ms countdown step of tolerance,
    // and some for a busy machine).
    EXPECT_LT(times.firstRequest - started, 2s);
    for (int left : times.leftAtRequest) {
        EXPECT_LE(left, 1000);
        EXPECT_GE(left, 400);
    }
    // A second shown, the text due, the end of a cycle: a few looks a cycle, not
    // ten a second (hundreds of threads would keep a core busy waking up).
    EXPECT_LE(times.looks, 10 * static_cast<int>(times.leftAtRequest.size()));
}

TEST(MonitorLoop, APageReadDirectlyIsReadAtTheRefreshAsTheBrowserWouldLoadItAndTakenAtOnce)
{
    // The site sees a task's reads one interval apart whichever way it reads: the
    // direct read is made at the refresh (where the browser loads the page again),
    // not later in the next cycle, also right after the task began to read directly.
    // Its text is taken at the start of the next cycle: it does not wait in the
    // task's slot for three quarters of it (hundreds of tasks' pages would).
    std::atomic<int> served{0};
    const std::string page = "<html><head><meta charset=\"utf-8\"></head><body><p>1</p></body></html>";
    vexory::test::TestHttpServer site;
    site.routes().Get("/p", [&](const httplib::Request&, httplib::Response& res) {
        ++served;
        res.set_content(page, "text/html");
    });
    site.start();
    TAccountRecord account;
    account.Tasks.push_back(vexory::test::RunnerTask("t", site.url("/p"), "<p>{>v<}</p>", 4000, 5000));
    FakeRunner runner;
    runner.source = [] { return std::string("<head><meta charset=\"utf-8\"></head><body><p>1</p></body>"); };
    std::mutex mutex;
    std::vector<std::string> seen; // "direct", then "refresh N": N, the site's reads by then
    int remaining = 0;
    std::vector<int> leftAtDirectLog; // the countdown at each log line of a direct cycle
    MonitorEvents events = runner.events();
    const auto refresh = events.refresh;
    events.refresh = [&] {
        refresh();
        std::lock_guard lock(mutex);
        seen.push_back("refresh " + std::to_string(served));
    };
    events.readingMode = [&](bool direct) {
        std::lock_guard lock(mutex);
        seen.push_back(direct ? "direct" : "browser");
    };
    events.countdown = [&](int ms) {
        std::lock_guard lock(mutex);
        remaining = ms;
    };
    events.message = [&](const std::string&) {
        std::lock_guard lock(mutex);
        if (seen.size() > 1 && seen[seen.size() - 2] == "direct")
            leftAtDirectLog.push_back(remaining);
    };
    runner.core = std::make_unique<MonitorCore>(account, &runner.browser, "127.0.0.1:1", std::move(events));
    runner.core->SetTask(0);
    runner.core->AllowDirectReading(true);
    runner.thread = std::thread([&] { runner.core->Execute(); });
    auto switched = [&] {
        std::lock_guard lock(mutex);
        return std::find(seen.begin(), seen.end(), "direct") != seen.end();
    };
    ASSERT_TRUE(waitFor(switched, 30s));
    const int atSwitch = served;
    ASSERT_TRUE(waitFor(
        [&] {
            std::lock_guard lock(mutex);
            return !leftAtDirectLog.empty();
        },
        30s));
    account.StopAll = 1;
    runner.thread.join();
    std::lock_guard lock(mutex);
    ASSERT_GE(seen.size(), 2u);
    EXPECT_EQ(seen[seen.size() - 1], "refresh " + std::to_string(atSwitch + 1)) << ::testing::PrintToString(seen);
    for (int left : leftAtDirectLog)
        EXPECT_GT(left, 3000);
}

TEST(MonitorLoop, APageShownForAComparisonIsReadOnceItIsReady)
{
    // The browser's text never equals the direct one here. The cycle after the first
    // shows the bytes of a direct read for the comparison: it asks for the text at
    // once, not at three quarters, so that the page shown is let go early.
    const std::string page = "<html><head><meta charset=\"utf-8\"></head><body><p>1</p></body></html>";
    vexory::test::TestHttpServer site;
    site.routes().Get("/p",
                      [&](const httplib::Request&, httplib::Response& res) { res.set_content(page, "text/html"); });
    site.start();
    TAccountRecord account;
    account.Tasks.push_back(vexory::test::RunnerTask("t", site.url("/p"), "<p>{>v<}</p>", 4000, 5000));
    FakeRunner runner;
    runner.source = [] { return std::string("<head></head><body><p>1</p><p>script</p></body>"); };
    RequestTimes times;
    MonitorEvents events = runner.events();
    times.Watch(events);
    runner.core = std::make_unique<MonitorCore>(account, &runner.browser, "127.0.0.1:1", std::move(events));
    runner.core->SetTask(0);
    runner.core->AllowDirectReading(true);
    runner.thread = std::thread([&] { runner.core->Execute(); });
    ASSERT_TRUE(waitFor([&] { return runner.requests >= 3; }, 60s));
    account.StopAll = 1;
    runner.thread.join();
    std::lock_guard lock(times.mutex);
    // The first cycle asks at once as every first cycle does; the comparison on the
    // bytes shown at the start of its cycle; then, the page's scripts found, at three
    // quarters again.
    const std::vector<int>& left = times.leftAtRequest;
    EXPECT_GT(left[1], 2500);
    EXPECT_LE(left[2], 1000);
}

TEST(MonitorLoop, APageLetGoIsLoadedWhereItsTextIsDueAndPagesLoadingAreCapped)
{
    // Tasks whose panels let their pages go after each read: each reads its page
    // once it is ready after the refresh, not at three quarters of the cycle; across
    // the run only so many such pages load at once, the others waiting their turn to
    // refresh (here the pages stay loading until the test lets them settle).
    const int most = MonitorCore::PagesLoadingAtOnce();
    const int tasks = most + 3;
    TAccountRecord account;
    account.Tasks.resize(static_cast<size_t>(tasks));
    for (auto& t : account.Tasks) {
        t.GrabFormula = "<p>{>v<}</p>";
        t.RefreshInterval = 4000;
        t.ConnectTimeout = 0;
        t.Requester = -1;
    }
    std::deque<FakeRunner> runners(static_cast<size_t>(tasks));
    std::mutex loadMutex;
    int loading = 0, mostLoading = 0;
    std::atomic<bool> settle{false}, done{false};
    std::vector<std::unique_ptr<RequestTimes>> times;
    for (int i = 0; i < tasks; ++i) {
        FakeRunner& r = runners[static_cast<size_t>(i)];
        times.push_back(std::make_unique<RequestTimes>());
        r.source = [] { return std::string("<html><body><p>1</p></body></html>"); };
        MonitorEvents events = r.events();
        events.refresh = [&, &r = r] {
            ++r.refreshes;
            std::lock_guard lock(loadMutex);
            mostLoading = std::max(mostLoading, ++loading);
            r.browser.readyState = 1;
            r.browser.busy = true;
        };
        times.back()->Watch(events);
        r.core = std::make_unique<MonitorCore>(account, &r.browser, "127.0.0.1:1", std::move(events));
        r.core->SetTask(i);
        r.core->SetPageLetGo(true);
    }
    // The window's thread: once let, each page loading comes to rest.
    std::thread window([&] {
        while (!done) {
            std::this_thread::sleep_for(20ms);
            std::lock_guard lock(loadMutex);
            for (auto& r : runners)
                if (settle && r.browser.busy.exchange(false)) {
                    r.browser.readyState = 4;
                    --loading;
                }
        }
    });
    for (auto& r : runners)
        r.thread = std::thread([&r] { r.core->Execute(); });
    // Every first cycle reads the page loaded before the run; at its end `most` of
    // them load, and the others wait.
    auto loadingNow = [&] {
        std::lock_guard lock(loadMutex);
        return loading;
    };
    const bool capReached = waitFor([&] { return loadingNow() >= most; }, 30s);
    std::this_thread::sleep_for(500ms); // room for a load past the cap to show
    EXPECT_TRUE(capReached);
    EXPECT_EQ(loadingNow(), most);
    for (auto& t : times) {
        std::lock_guard lock(t->mutex);
        EXPECT_EQ(t->leftAtRequest.size(), 1u);
    }
    settle = true;
    EXPECT_TRUE(waitFor(
        [&] { return std::all_of(runners.begin(), runners.end(), [](FakeRunner& r) { return r.requests >= 2; }); },
        60s));
    account.StopAll = 1;
    for (auto& r : runners)
        r.thread.join();
    done = true;
    window.join();
    EXPECT_EQ(mostLoading, most);
    // The text asked once the page was ready: at the start of the cycle.
    for (auto& t : times) {
        std::lock_guard lock(t->mutex);
        ASSERT_GE(t->leftAtRequest.size(), 2u);
        EXPECT_GT(t->leftAtRequest[1], 2500);
    }
}

TEST(MonitorLoop, PagesShownForRegularChecksAreLoadedOneAtATime)
{
    // Three tasks read directly, each due for its regular check; their turns come
    // kCheckGapMs apart, but each page shown for a check takes longer to load than
    // that (the window here lets it settle after 7 s). Only one such page is shown
    // at a time: a task whose check finds another's page in the browser reads
    // directly on, every cycle, and is checked at a later turn.
    const std::string page = "<html><head><meta charset=\"utf-8\"></head><body><p>1</p></body></html>";
    constexpr int kTasks = 3;
    std::array<std::atomic<int>, kTasks> reads{};
    vexory::test::TestHttpServer site;
    for (int i = 0; i < kTasks; ++i)
        site.routes().Get("/p" + std::to_string(i), [&, i](const httplib::Request&, httplib::Response& res) {
            ++reads[static_cast<size_t>(i)];
            res.set_content(page, "text/html");
        });
    site.start();
    TAccountRecord account;
    for (int i = 0; i < kTasks; ++i)
        account.Tasks.push_back(vexory::test::RunnerTask("t" + std::to_string(i), site.url("/p" + std::to_string(i)),
                                                         "<p>{>v<}</p>", 3000, 0));
    std::deque<FakeRunner> runners(kTasks);
    std::mutex loadMutex;
    struct Check
    {
        std::chrono::steady_clock::time_point began;
        std::array<int, kTasks> readsThen{};
    };
    std::array<Check, kTasks> checks{};
    int loading = 0, mostLoading = 0, checked = 0;
    std::vector<std::string> stalled;      // tasks not read while another's check page loaded
    std::array<std::string, kTasks> modes; // the reading each runner was told: b(rowser), d(irect)
    std::atomic<bool> done{false};
    for (int i = 0; i < kTasks; ++i) {
        FakeRunner& r = runners[static_cast<size_t>(i)];
        r.source = [] { return std::string("<head><meta charset=\"utf-8\"></head><body><p>1</p></body>"); };
        MonitorEvents events = r.events();
        events.renderContent = [&, i](PageContent) {
            std::lock_guard lock(loadMutex);
            mostLoading = std::max(mostLoading, ++loading);
            Check& check = checks[static_cast<size_t>(i)];
            check.began = std::chrono::steady_clock::now();
            for (int k = 0; k < kTasks; ++k)
                check.readsThen[static_cast<size_t>(k)] = reads[static_cast<size_t>(k)];
            ++checked;
        };
        events.refresh = [&r = r] {
            ++r.refreshes;
            r.browser.readyState = 1;
            r.browser.busy = true;
        };
        events.readingMode = [&, i](bool direct) {
            std::lock_guard lock(loadMutex);
            modes[static_cast<size_t>(i)] += direct ? 'd' : 'b';
        };
        r.core = std::make_unique<MonitorCore>(account, &r.browser, "127.0.0.1:1", std::move(events));
        r.core->SetTask(i);
        r.core->AllowDirectReading(true);
        r.core->Reading().StartDirect(TickCount() - ReadingPolicy::kRecheckMs - ReadingPolicy::kRecheckSpreadMs - 1);
    }
    // The window's thread: a page shown for a check settles after 7 s, any other at once.
    std::thread window([&] {
        while (!done) {
            std::this_thread::sleep_for(20ms);
            std::lock_guard lock(loadMutex);
            for (int i = 0; i < kTasks; ++i) {
                FakeRunner& r = runners[static_cast<size_t>(i)];
                Check& check = checks[static_cast<size_t>(i)];
                const bool shown = check.began != std::chrono::steady_clock::time_point{};
                if (shown && std::chrono::steady_clock::now() - check.began < 7s)
                    continue;
                if (r.browser.busy.exchange(false)) {
                    r.browser.readyState = 4;
                    if (!shown)
                        continue;
                    check.began = {};
                    --loading;
                    for (int k = 0; k < kTasks; ++k)
                        if (k != i && reads[static_cast<size_t>(k)] == check.readsThen[static_cast<size_t>(k)])
                            stalled.push_back("t" + std::to_string(k) + " during t" + std::to_string(i));
                }
            }
        }
    });
    for (auto& r : runners)
        r.thread = std::thread([&r] { r.core->Execute(); });
    EXPECT_TRUE(waitFor(
        [&] {
            std::lock_guard lock(loadMutex);
            return checked == kTasks && loading == 0;
        },
        120s));
    account.StopAll = 1;
    for (auto& r : runners)
        r.thread.join();
    done = true;
    window.join();
    EXPECT_EQ(mostLoading, 1);
    EXPECT_TRUE(stalled.empty()) << ::testing::PrintToString(stalled);
    // A check put off is not shown on the runner: one page shown, then direct again.
    for (const std::string& m : modes)
        EXPECT_TRUE(m == "b" || m == "bd") << m;
}

TEST(MonitorLoop, ARowThatCameWhileTheProgramWasStoppedIsReportedAtTheNextRunsFirstCycleOnce)
{
    vexory::test::TempDir dir;
    const std::string store = dir.path() + "/tasks.dat";
    TAccountRecord account;
    account.Tasks.resize(1);
    account.Tasks[0].TaskName = "t";
    account.Tasks[0].GrabFormula = "<p>{>v<}</p>";
    account.Tasks[0].RefreshInterval = 1200; // every cycle asks at once
    account.Tasks[0].ConnectTimeout = 5000;
    account.Tasks[0].Requester = -1;
    std::string rows = "<p>1</p><p>2</p>";
    // One run of `cycles` cycles over the page as it is; what it reported.
    auto run = [&](int cycles) {
        account.StopAll = 0;
        FakeRunner runner;
        runner.source = [&] { return "<html><body>" + rows + "</body></html>"; };
        runner.core = std::make_unique<MonitorCore>(account, &runner.browser, "127.0.0.1:1", runner.events());
        runner.core->SetTask(0);
        runner.core->KeepScreenIn(KeptScreen::PathFor(store, account.Tasks[0]));
        runner.thread = std::thread([&] { runner.core->Execute(); });
        EXPECT_TRUE(waitFor([&] { return runner.requests >= cycles; }, 30s));
        account.StopAll = 1;
        runner.thread.join();
        return runner.resultsNow();
    };
    EXPECT_TRUE(run(2).empty()); // a new task's first screen is silent
    rows = "<p>3</p>" + rows;    // came while the program was stopped
    EXPECT_EQ(run(3), (std::vector<std::string>{"v=3"}));
    rows = "<p>4</p>" + rows;
    // A task whose formula changed starts silently again; the other's screen is let go.
    const std::string before = KeptScreen::PathFor(store, account.Tasks[0]);
    ASSERT_TRUE(std::filesystem::exists(before));
    account.Tasks[0].GrabFormula = "<p>{>w<}</p>";
    KeptScreen::Prune(store, account.Tasks);
    EXPECT_FALSE(std::filesystem::exists(before));
    EXPECT_TRUE(run(2).empty());
    // A file cut short reads as none.
    const std::string path = KeptScreen::PathFor(store, account.Tasks[0]);
    std::filesystem::resize_file(path, std::filesystem::file_size(path) - 3);
    SeenKeys keys;
    EXPECT_FALSE(KeptScreen::Read(path, keys));
    EXPECT_TRUE(keys.empty());
}
