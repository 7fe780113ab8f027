// The browser and the runner panel in the real engine, offscreen, against pages
// served on 127.0.0.1 whose content the tests change between refreshes.

#include "app/scheduler.h"
#include "browser/direct_page.h"
#include "browser/webengine_browser.h"
#include "formula/markers.h"
#include "formula/page_prep.h"
#include "monitor/gbk_texts.h"
#include "monitor/myFrame4.h"
#include "platform/codepage.h"
#include "support/gui_main.h"
#include "support/test_http_server.h"
#include "support/test_tasks.h"
#include "widgets/qt_text.h"

#include <QAbstractTextDocumentLayout>
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFontMetricsF>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QTextBlock>
#include <QTextLayout>
#include <QWebEngineProfile>
#include <QWebEngineView>

#include <algorithm>
#include <atomic>
#include <map>
#include <mutex>
#include <thread>

#include <signal.h>
#include <unistd.h>

using namespace vexory;
using namespace vexory::test;
using vexory::test::TestHttpServer;

namespace {

// Pages whose rows the test adds while the runner watches.
class ListingSite
{
public:
    ListingSite()
    {
        m_server.routes().Get(R"(/|/list)", [this](const httplib::Request&, httplib::Response& res) {
            const std::string rows = rowsHtml();
            res.set_content("<html><head><title>list</title></head><body><a href=\"/detail?id=1\">more</a>"
                            "<table>" +
                                rows + "</table></body></html>",
                            "text/html; charset=utf-8");
        });
        m_server.routes().Get("/clicks", [](const httplib::Request&, httplib::Response& res) {
            res.set_content(R"html(<html><body><button id="more" onclick="add()">more</button>
                <input name="q" onclick="document.title='name0'"><input name="q" onclick="document.title='name1'">
                <span class="x y" onclick="document.title='class1'">a</span><b class="y" onclick="document.title='class2'">b</b>
                <table id="t"><tr><td class="name">Old</td><td>1</td></tr></table>
                <script>var n = 0; function add() { n++; var r = document.getElementById('t').insertRow(-1);
                r.innerHTML = '<td class="name">Clicked ' + n + '</td><td>' + n + '</td>'; }
                alert('hello'); confirm('sure?');</script></body></html>)html",
                            "text/html; charset=utf-8");
        });
        // Scripts that keep the renderer busy most of the time, so that every
        // script call waits and the thread's next request arrives meanwhile.
        m_server.routes().Get("/busy", [this](const httplib::Request&, httplib::Response& res) {
            const std::string rows = rowsHtml();
            res.set_content("<html><body><table>" + rows +
                                "</table><script>setInterval(function () {"
                                "var t = Date.now(); while (Date.now() - t < 600) {} }, 20);</script></body></html>",
                            "text/html; charset=utf-8");
        });
        // A page whose button adds nothing any formula here cuts.
        m_server.routes().Get("/empty", [this](const httplib::Request&, httplib::Response& res) {
            ++m_emptyRequests;
            res.set_content("<html><body><button id=\"more\">more</button><p>nothing</p></body></html>",
                            "text/html; charset=utf-8");
        });
        m_server.routes().Get("/guide", [](const httplib::Request&, httplib::Response& res) {
            res.set_content("<html><body><p>please log in</p></body></html>", "text/html; charset=utf-8");
        });
        m_server.routes().Get("/data.txt", [this](const httplib::Request&, httplib::Response& res) {
            const std::string rows = rowsHtml();
            res.set_header("Content-Disposition", "attachment; filename=\"data.txt\"");
            res.set_content("<table>" + rows + "</table>", "application/octet-stream");
        });
        m_server.start();
    }
    void add(std::string name, std::string price)
    {
        std::lock_guard lock(m_mutex);
        m_rows.emplace_back(std::move(name), std::move(price));
    }
    std::string url(const std::string& path) const { return m_server.url(path); }
    int emptyRequests() const { return m_emptyRequests; }

private:
    std::string rowsHtml()
    {
        std::lock_guard lock(m_mutex);
        std::string rows;
        for (const auto& r : m_rows)
            rows += "<tr><td class=\"name\">" + r.first + "</td><td>" + r.second + "</td></tr>";
        return rows;
    }

    TestHttpServer m_server;
    std::atomic<int> m_emptyRequests{0};
    std::mutex m_mutex;
    std::vector<std::pair<std::string, std::string>> m_rows{{"Apple", "5"}};
};

TTaskRecord listTask(const std::string& pageUrl)
{
    return RunnerTask("\xC1\xD0\xB1\xED", pageUrl, "<td class=\"name\">{>name<}</td><td>{>price<}</td>"); // 列表
}

QString memoText(TFrame4& panel)
{
    return panel.Memo1()->toPlainText();
}

// The browser's renderer processes this program has now: the children of its
// zygote processes (which keep the zygote's command line).
int rendererProcesses()
{
    std::map<int, int> parent;
    std::map<int, bool> zygote;
    for (const QString& name : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs)) {
        bool number = false;
        const int pid = name.toInt(&number);
        if (!number)
            continue;
        QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
        QFile cmdline(QStringLiteral("/proc/%1/cmdline").arg(pid));
        if (!stat.open(QIODevice::ReadOnly) || !cmdline.open(QIODevice::ReadOnly))
            continue;
        const QByteArray fields = stat.readAll();
        if (fields.mid(fields.lastIndexOf(')') + 2, 1) == "Z")
            continue; // ended, not yet waited for
        parent[pid] = fields.mid(fields.lastIndexOf(')') + 2).split(' ').value(1).toInt();
        zygote[pid] = cmdline.readAll().contains("--type=zygote");
    }
    return static_cast<int>(std::count_if(parent.begin(), parent.end(), [&](const std::pair<const int, int>& p) {
        return zygote[p.first] && zygote[p.second] && parent[p.second] == getpid();
    }));
}

} // namespace

class RunnerTest : public QObject
{
    Q_OBJECT

private slots:
    void browserOperations();
    void pageTaskReportsNewRecordsOnce();
    void elementTaskClicksInsteadOfReloading();
    void guideTaskWaitsForStart();
    void downloadIsMonitoredAsText();
    void aDownloadIsFetchedWithoutHoldingTheWindow();
    void busyPageIsReadEveryCycle();
    void currentUrlInEveryForm();
    void twoPanelsClaimTheSameRecordOnce();
    void sixthNoDataWarningReloadsThePage();
    void aPageThatDoesNotLoadSaysWhy();
    void anEightMegabytePageIsReadInSeconds();
    void countdownTexts();
    void memoKeepsTheNewestLinesWithoutHistory();
    void theLogUsesTheWindow();
    void countdownWakesThePanelOnlyForWhatItShows();
    void pagesOfAKilledRendererComeBack();
    void directTextIsTheBrowsers();
    void aTaskReadsItsPageDirectlyUntilAScriptWritesItsRows();
    void aPageThatChangesAtEveryRequestReadsDirectly();

private:
    ListingSite m_site;
};

void RunnerTest::browserOperations()
{
    QWidget host;
    host.resize(800, 600);
    WebEngineBrowser browser(&host);
    std::atomic<uint8_t> stop{0};
    QSignalSpy navigations(&browser, &WebEngineBrowser::BeforeNavigate);
    browser.Navigate(m_site.url("/clicks"));
    QVERIFY(WaitReady(browser, stop, 15000));
    QVERIFY(navigations.count() >= 1);

    // Page dialogs did not block; links and markup come back.
    std::string source = browser.PageSource();
    QVERIFY(source.find("<button id=\"more\"") != std::string::npos);

    // By id, by name with a 0-based index, by class with a 1-based index.
    QVERIFY(browser.ClickElement("more"));
    QVERIFY(browser.PageSource().find("Clicked 1") != std::string::npos);
    QVERIFY(browser.ClickElement("q^1"));
    QCOMPARE(browser.RunScript(QStringLiteral("document.title")).toString(), QStringLiteral("name1"));
    QVERIFY(browser.ClickElement("y^2"));
    QCOMPARE(browser.RunScript(QStringLiteral("document.title")).toString(), QStringLiteral("class2"));
    QVERIFY(!browser.ClickElement("nothing"));
    QCOMPARE(SplitIndexedName("a^x"), std::make_pair(std::string("a^x"), -1));
    QCOMPARE(SplitIndexedName("a^2"), std::make_pair(std::string("a"), 2));

    // A mark puts the highlight template into the page text, and comes off again.
    browser.RunScript(
        QStringLiteral("var r = document.createRange(); var td = document.getElementsByTagName('td')[0];"
                       "r.selectNodeContents(td); getSelection().removeAllRanges(); getSelection().addRange(r);"));
    QCOMPARE(browser.SelectionLength(), 3);
    browser.MarkSelection();
    QCOMPARE(browser.SelectionLength(), 0);
    const PreparedPage marked = PreparePage(browser.PageSource());
    QVERIFY(marked.text.find(std::string(MarkedSentinel) + "Old") != std::string::npos);
    QVERIFY(browser.RemoveMarks(kMarkColour));
    QVERIFY(PreparePage(browser.PageSource()).text.find(MarkedSentinel) == std::string::npos);
    QVERIFY(!browser.RemoveMarks(kMarkColour));
    // The text a mark split is whole again once the mark is gone.
    browser.RunScript(QStringLiteral(
        "var r = document.createRange(); var t = document.getElementsByTagName('td')[0].firstChild;"
        "r.setStart(t, 0); r.setEnd(t, 2); getSelection().removeAllRanges(); getSelection().addRange(r);"));
    QVERIFY(browser.MarkSelection());
    QVERIFY(browser.RemoveMarks(kMarkColour));
    QCOMPARE(browser.RunScript(QStringLiteral("document.getElementsByTagName('td')[0].childNodes.length")).toInt(), 1);

    // Finding selects, and wraps once from a selection.
    QVERIFY(browser.FindText("Clicked", true));
    QCOMPARE(browser.RunScript(QStringLiteral("vexory.selectionText()")).toString(), QStringLiteral("Clicked"));

    // Relative links come back absolute.
    browser.Navigate(m_site.url("/list"));
    QVERIFY(WaitReady(browser, stop, 15000));
    QVERIFY(browser.PageSource().find("href=\"" + m_site.url("/detail?id=1") + "\"") != std::string::npos);

    // A page let go keeps nothing of itself (a discarded page held some 0.7 MB
    // here); a refresh brings it back from its address.
    browser.Unload();
    QTest::qWait(200);
    QVERIFY(host.findChildren<QWebEnginePage*>().isEmpty() && browser.findChildren<QWebEnginePage*>().isEmpty());
    QVERIFY(browser.PageSource().empty());
    browser.Refresh();
    QVERIFY(WaitReady(browser, stop, 15000));
    QVERIFY(!browser.View()->isHidden());
    QVERIFY(browser.PageSource().find("<a href=\"" + m_site.url("/detail?id=1") + "\"") != std::string::npos);
}

void RunnerTest::pageTaskReportsNewRecordsOnce()
{
    TAccountRecord account;
    account.Tasks.push_back(listTask(m_site.url("/list")));
    TFrame4 panel(account, "127.0.0.1:1");
    panel.resize(1000, 600);
    panel.show();
    QSignalSpy notices(&panel, &TFrame4::Notice);
    panel.SetTask(0);
    QCOMPARE(panel.Step(), 2);
    panel.PrepareStart();
    QVERIFY(!panel.Button1()->isVisible());
    panel.SetRunning(true);
    QVERIFY(panel.Running());

    // The first page is only remembered.
    QTRY_VERIFY_WITH_TIMEOUT(memoText(panel).contains(QStringLiteral("name=apple")), 20000);
    QVERIFY(!memoText(panel).contains(QStringLiteral("数据验证通过")));

    m_site.add("New Pear", "7");
    QTRY_VERIFY_WITH_TIMEOUT(memoText(panel).contains(QStringLiteral("数据验证通过")), 30000);
    QVERIFY(memoText(panel).contains(QStringLiteral("name=New Pear\nprice=7")));
    QVERIFY(notices.contains(QVariantList{QStringLiteral("[ 列表 ] 数据验证通过")}));
    QVERIFY(panel.RefreshCount() > 1);
    QCOMPARE(panel.CurrentUrl(), QString::fromStdString(m_site.url("/list")));
    vexory::test::SaveScreen(panel, QStringLiteral("runner"));

    // Reported once only.
    const int before = static_cast<int>(memoText(panel).count(QStringLiteral("数据验证通过")));
    const int refreshes = panel.RefreshCount();
    QTRY_VERIFY_WITH_TIMEOUT(panel.RefreshCount() > refreshes + 1, 20000);
    QCOMPARE(static_cast<int>(memoText(panel).count(QStringLiteral("数据验证通过"))), before);
    account.StopAll = 1;
}

void RunnerTest::elementTaskClicksInsteadOfReloading()
{
    TAccountRecord account;
    account.Tasks.push_back(listTask(m_site.url("/clicks")));
    account.Tasks[0].ElementId = "more";
    account.Tasks.push_back(listTask(m_site.url("/clicks")));
    account.Tasks[1].ElementId = "missing";
    for (TTaskRecord& t : account.Tasks)
        t.ConnectTimeout = 2000; // a click starts no load: the cycle waits out its connect time
    TFrame4 panel(account, "127.0.0.1:1");
    panel.SetTask(0);
    QCOMPARE(panel.Step(), 6);
    panel.PrepareStart();
    QCOMPARE(panel.Step(), 4);
    panel.SetRunning(true);
    // The page changes only through the click: every refresh adds a row.
    QTRY_VERIFY_WITH_TIMEOUT(memoText(panel).contains(QStringLiteral("name=Clicked 1")), 30000);
    QTRY_VERIFY_WITH_TIMEOUT(memoText(panel).contains(QStringLiteral("数据验证通过")), 30000);
    account.StopAll = 1;

    TFrame4 missing(account, "127.0.0.1:1");
    account.StopAll = 0;
    QSignalSpy notices(&missing, &TFrame4::Notice);
    missing.SetTask(1);
    missing.PrepareStart();
    missing.SetRunning(true);
    QTRY_VERIFY_WITH_TIMEOUT(memoText(missing).contains(FromGbk(texts::kNoElement)), 30000);
    QVERIFY(notices.contains(QVariantList{QStringLiteral("[ 列表 ] 警告")}));
    account.StopAll = 1;
}

void RunnerTest::guideTaskWaitsForStart()
{
    TAccountRecord account;
    account.Tasks.push_back(listTask(m_site.url("/list")));
    account.Tasks[0].GuideUrl = m_site.url("/guide");
    TFrame4 panel(account, "127.0.0.1:1");
    panel.show();
    panel.SetTask(0);
    QCOMPARE(panel.Step(), 3);
    panel.PrepareStart();
    QCOMPARE(panel.Step(), 2);
    panel.Button1()->show(); // the main window shows "开始" for a task with a guide URL
    QTest::qWait(2500);
    QVERIFY(!panel.Running());
    QVERIFY(memoText(panel).isEmpty());
    QTest::mouseClick(panel.Button1(), Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(panel.Running(), 20000);
    QVERIFY(!panel.Button1()->isVisible());
    QTRY_VERIFY_WITH_TIMEOUT(memoText(panel).contains(QStringLiteral("name=apple")), 20000);
    account.StopAll = 1;
}

void RunnerTest::downloadIsMonitoredAsText()
{
    // A list served as a download, one row longer at every request, at two
    // addresses with escapes, two tasks starting at once: fetched at every refresh
    // at the address as the browser had it (encoded), and each new row reported
    // like any page's.
    std::atomic<int> hits[2] = {};
    TestHttpServer files;
    auto serve = [&](int which) {
        return [&, which](const httplib::Request& req, httplib::Response& res) {
            if (which == 1 && req.get_param_value("name") != "中") {
                res.status = 404;
                return;
            }
            const int n = ++hits[which];
            std::string rows;
            for (int i = 1; i <= n; ++i)
                rows += "<tr><td class=\"name\">row" + std::to_string(i) + "</td><td>1</td></tr>";
            res.set_header("Content-Disposition", "attachment; filename=\"data.txt\"");
            res.set_content("<table>" + rows + "</table>", "application/octet-stream");
        };
    };
    files.routes().Get("/dir x/data.txt", serve(0));
    files.routes().Get("/list.txt", serve(1));
    files.start();
    TAccountRecord account;
    account.Tasks.push_back(listTask(files.url("/dir%20x/data.txt")));
    account.Tasks.push_back(listTask(files.url("/list.txt?name=") + Utf8ToGbk("中"))); // as typed
    std::vector<std::unique_ptr<TFrame4>> panels;
    for (int i = 0; i < 2; ++i) {
        account.Tasks[static_cast<size_t>(i)].RefreshInterval = 1500;
        panels.push_back(std::make_unique<TFrame4>(account, "127.0.0.1:1"));
        panels.back()->SetTask(i);
        panels.back()->PrepareStart();
        panels.back()->SetRunning(true);
    }
    for (auto& panel : panels)
        QTRY_VERIFY_WITH_TIMEOUT(memoText(*panel).contains(QStringLiteral("name=row4")), 60000);
    QVERIFY(hits[0] >= 4 && hits[1] >= 4);
    // Each fetched text is a page load the cycle waits for: no cycle went without text.
    for (auto& panel : panels)
        QVERIFY2(!memoText(*panel).contains(FromGbk(texts::kNoSource)), qPrintable(memoText(*panel)));
    account.StopAll = 1;
}

void RunnerTest::aDownloadIsFetchedWithoutHoldingTheWindow()
{
    // The browser's own request is served at once; the fetches of the text wait
    // until the test lets them go (or 20 s): a fetch made on the window's thread
    // would hold the window for as long.
    std::atomic<int> hits{0};
    std::atomic<bool> released{false}, failing{false};
    std::mutex mutex;
    std::string agent;
    TestHttpServer files;
    files.routes().Get("/slow.txt", [&](const httplib::Request& req, httplib::Response& res) {
        if (hits++ > 0) {
            for (int i = 0; i < 1000 && !released; ++i)
                std::this_thread::sleep_for(std::chrono::milliseconds(20));
            std::lock_guard lock(mutex);
            agent = req.get_header_value("User-Agent");
        }
        if (failing) {
            res.status = 500;
            return;
        }
        res.set_header("Content-Disposition", "attachment; filename=\"data.txt\"");
        res.set_content("<table><tr><td>row1</td></tr></table>\nline 2\nline 3", "application/octet-stream");
    });
    files.start();
    QWidget host;
    host.resize(800, 600);
    WebEngineBrowser browser(&host);
    QSignalSpy downloads(&browser, &WebEngineBrowser::DownloadRequested);
    browser.Navigate(files.url("/slow.txt"));
    QTRY_VERIFY_WITH_TIMEOUT(downloads.count() == 1, 15000);
    const QUrl url = downloads[0][0].toUrl();

    const auto begun = std::chrono::steady_clock::now();
    browser.ShowAsText(url);
    QVERIFY(std::chrono::steady_clock::now() - begun < std::chrono::seconds(10));
    QVERIFY(browser.State().busy); // a page load until the text is written
    released = true;
    QTRY_VERIFY_WITH_TIMEOUT(browser.PageSource().find("row1") != std::string::npos, 15000);
    QTRY_VERIFY_WITH_TIMEOUT(!browser.State().busy, 15000);
    // Its lines are shown one under the other, and its source is the text as written.
    QVERIFY(browser.RunScript(QStringLiteral("document.body.innerText"))
                .toString()
                .endsWith(QStringLiteral("\nline 2\nline 3")));
    QVERIFY(browser.PageSource().find("<body><table>") != std::string::npos);
    {
        std::lock_guard lock(mutex);
        QCOMPARE(QString::fromStdString(agent), BrowserProfile()->httpUserAgent());
    }

    // A fetch that brings nothing is a failed load, and says why.
    failing = true;
    QSignalSpy failed(&browser, &WebEngineBrowser::LoadFailed);
    browser.ShowAsText(url);
    QTRY_VERIFY_WITH_TIMEOUT(failed.count() == 1, 15000);
    QCOMPARE(failed[0][0].toString(), QStringLiteral("服务器回答 HTTP 500"));
    QVERIFY(!browser.State().busy);
}

void RunnerTest::busyPageIsReadEveryCycle()
{
    TAccountRecord account;
    account.Tasks.push_back(listTask(m_site.url("/busy")));
    TFrame4 panel(account, "127.0.0.1:1");
    panel.SetTask(0);
    panel.PrepareStart();
    panel.SetRunning(true);
    // The panel keeps answering: its step stays one of the machine's, looked at every
    // 100 ms, and three times running new readings of the page come within 10 s.
    auto readings = [&] { return static_cast<int>(memoText(panel).count(QStringLiteral("name=apple"))); };
    const QList<int> steps{0, 2, 4, 8, 10, 12, 18, 22};
    int last = 0;
    QElapsedTimer watched;
    watched.start();
    for (int round = 0; round < 3; ++round) {
        for (int i = 0; i < 100 && readings() <= last; ++i) {
            QTest::qWait(100);
            QVERIFY2(steps.contains(panel.Step()), qPrintable(QStringLiteral("step %1").arg(panel.Step())));
        }
        QVERIFY2(readings() > last, qPrintable(memoText(panel)));
        last = readings();
    }
    qInfo("busy page: %d readings in %lld ms, %d refreshes", last, watched.elapsed(), panel.RefreshCount());
    account.StopAll = 1;
}

void RunnerTest::currentUrlInEveryForm()
{
    QVERIFY(SameUrl(QUrl(QStringLiteral("http://127.0.0.1:8099/")), "http://127.0.0.1:8099"));
    QVERIFY(SameUrl(QUrl(QStringLiteral("http://127.0.0.1:8099/list")), "127.0.0.1:8099/list"));
    QVERIFY(SameUrl(QUrl(QStringLiteral("http://h/list?q=%E4%B8%AD")), "http://h/list?q=\xD6\xD0")); // 中
    QVERIFY(SameUrl(QUrl(QStringLiteral("http://h/list?q=%e4%b8%ad")), "HTTP://H/List?q=%E4%B8%AD"));
    QVERIFY(!SameUrl(QUrl(QStringLiteral("http://h/list")), "http://h/other"));
    QVERIFY(!SameUrl(QUrl(QStringLiteral("http://h/")), ""));

    // The browser reports each of these in another form; the panel still knows
    // its page, shows it and reads a download from it.
    const std::string host = m_site.url("").substr(7);
    for (const std::string& typed :
         {"http://" + host, host + "/list", "http://" + host + "/list?q=\xD6\xD0&x=a%20b", host + "/data.txt"}) {
        TAccountRecord account;
        account.Tasks.push_back(listTask(typed));
        TFrame4 panel(account, "127.0.0.1:1");
        panel.SetTask(0);
        panel.PrepareStart();
        if (typed.ends_with("data.txt")) {
            panel.SetRunning(true);
            QTRY_VERIFY_WITH_TIMEOUT(memoText(panel).contains(QStringLiteral("name=apple")), 30000);
        }
        QTRY_VERIFY_WITH_TIMEOUT(!panel.CurrentUrl().isEmpty(), 10000);
        QCOMPARE(panel.StatusBar2()->text(), panel.CurrentUrl());
        QVERIFY(panel.CurrentUrl().startsWith(QStringLiteral("http://127.0.0.1:")));
        account.StopAll = 1;
    }
}

void RunnerTest::twoPanelsClaimTheSameRecordOnce()
{
    // Two tasks watch the same listing; a new record is reported by one of them only.
    TAccountRecord account;
    account.Tasks.push_back(listTask(m_site.url("/list")));
    account.Tasks.push_back(listTask(m_site.url("/list")));
    account.Tasks[1].TaskName = "\xC1\xD0\xB1\xED"
                                "2"; // 列表2
    ClaimRegistry claims;
    auto claim = [&claims](int task, const std::string& digest) { return claims.ClaimRecord(task, digest); };
    TFrame4 first(account, "127.0.0.1:1", claim), second(account, "127.0.0.1:1", claim);
    for (TFrame4* panel : {&first, &second}) {
        panel->SetTask(panel == &first ? 0 : 1);
        panel->PrepareStart();
        panel->SetRunning(true);
    }
    QTRY_VERIFY_WITH_TIMEOUT(memoText(first).contains(QStringLiteral("name=apple")) &&
                                 memoText(second).contains(QStringLiteral("name=apple")),
                             20000);
    m_site.add("Shared Plum", "3");
    auto reported = [](TFrame4& p) { return memoText(p).contains(QStringLiteral("name=Shared Plum\nprice=3")); };
    QTRY_VERIFY_WITH_TIMEOUT(reported(first) || reported(second), 30000);
    // Both have read the page with the new record by now, and one was refused.
    const int refreshes = std::min(first.RefreshCount(), second.RefreshCount());
    QTRY_VERIFY_WITH_TIMEOUT(std::min(first.RefreshCount(), second.RefreshCount()) > refreshes + 1, 30000);
    QVERIFY(memoText(first).contains(QStringLiteral("name=shared plum")));
    QVERIFY(memoText(second).contains(QStringLiteral("name=shared plum")));
    QVERIFY(reported(first) != reported(second));
    account.StopAll = 1;
}

void RunnerTest::sixthNoDataWarningReloadsThePage()
{
    // The element is clicked at every refresh, so the page is fetched once, until
    // the sixth "nothing cut" in a row loads it again from its URL. The click
    // starts no load: each cycle waits out its connect time.
    TAccountRecord account;
    account.Tasks.push_back(listTask(m_site.url("/empty")));
    account.Tasks[0].ElementId = "more";
    account.Tasks[0].RefreshInterval = 1200;
    account.Tasks[0].ConnectTimeout = 2000;
    TFrame4 panel(account, "127.0.0.1:1");
    QSignalSpy notices(&panel, &TFrame4::Notice);
    const int before = m_site.emptyRequests();
    panel.SetTask(0);
    panel.PrepareStart();
    panel.SetRunning(true);
    const QString warning = FromGbk(texts::kNoData);
    QTRY_VERIFY_WITH_TIMEOUT(memoText(panel).count(warning) >= 5, 60000);
    QCOMPARE(m_site.emptyRequests(), before + 1);
    QCOMPARE(notices.count(), 5);
    QTRY_VERIFY_WITH_TIMEOUT(m_site.emptyRequests() == before + 2, 30000);
    QVERIFY(memoText(panel).count(warning) >= 6);
    QVERIFY(notices.count() >= 6); // the sixth warning's notice, from the reload
    account.StopAll = 1;
}

void RunnerTest::anEightMegabytePageIsReadInSeconds()
{
    // 8 MB of rows, each with a relative link: the page text comes whole, links
    // made absolute, well inside the script's limit.
    std::string page;
    {
        std::string rows;
        rows.reserve(9 << 20);
        for (int i = 0; rows.size() < (8u << 20); ++i)
            rows += "<tr><td class=\"name\"><a href=\"d/" + std::to_string(i) + "\">item" + std::to_string(i) +
                    "</a></td><td>" + std::to_string(i % 97) + "</td></tr>\n";
        page = "<html><body><table>" + rows + "</table></body></html>";
    }
    TestHttpServer large;
    large.routes().Get("/large", [&](const httplib::Request&, httplib::Response& res) {
        res.set_content(page, "text/html; charset=utf-8");
    });
    large.start();
    QWidget host;
    WebEngineBrowser browser(&host);
    std::atomic<uint8_t> stop{0};
    browser.Navigate(large.url("/large"));
    QVERIFY(WaitReady(browser, stop, 60000));
    // A call whose limit has passed stops where it is: the renderer does not go on
    // rewriting links for a caller that has given up.
    QVERIFY(!browser.RunScript(QStringLiteral("vexory.pageSource()"), 0).isValid());
    QCOMPARE(browser
                 .RunScript(QStringLiteral("(function () { var a = document.querySelectorAll('a');"
                                           " return a[a.length - 1].getAttribute('href'); })()"))
                 .toString()
                 .left(2),
             QStringLiteral("d/"));
    QElapsedTimer clock;
    clock.start();
    const std::string text = browser.PageSource();
    const qint64 ms = clock.elapsed();
    std::printf("an 8 MB page came from the browser in %lld ms (%zu bytes)\n", static_cast<long long>(ms), text.size());
    QVERIFY(text.size() > (8u << 20));
    QVERIFY(text.find("href=\"" + large.url("/d/12345") + "\"") != std::string::npos);
    // The renderer is free: the next call answers at once.
    QCOMPARE(browser.RunScript(QStringLiteral("1 + 1")).toInt(), 2);
}

void RunnerTest::aPageThatDoesNotLoadSaysWhy()
{
    TAccountRecord account;
    account.Tasks.push_back(listTask(ClosedPortUrl("/list")));
    account.Tasks[0].RefreshInterval = 1500;
    TFrame4 panel(account, "127.0.0.1:1");
    QSignalSpy notices(&panel, &TFrame4::Notice);
    panel.SetTask(0);
    panel.PrepareStart();
    panel.SetRunning(true);
    QTRY_VERIFY_WITH_TIMEOUT(memoText(panel).contains(QStringLiteral("网页载入失败：连接被拒绝")), 30000);
    QTRY_VERIFY_WITH_TIMEOUT(!notices.isEmpty(), 10000);
    bool told = false;
    for (const auto& n : notices)
        told = told || n.at(0).toString().contains(QStringLiteral("网页载入失败：连接被拒绝"));
    QVERIFY(told);
    account.StopAll = 1;
}

void RunnerTest::countdownTexts()
{
    TAccountRecord account;
    account.Tasks.push_back(listTask(m_site.url("/list")));
    TFrame4 panel(account, "127.0.0.1:1");
    panel.SetTask(0);
    panel.show();
    QSignalSpy changed(&panel, &TFrame4::StatusChanged);
    const std::pair<int, const char*> cases[] = {
        {150000, "[ 02:30 ]"}, {61499, "[ 01:01 ]"}, {1500, "[ 00:02 ]"}, {2500, "[ 00:02 ]"},
        {3500, "[ 00:04 ]"},   {499, "[ 00:00 ]"},   {0, "[ 00:00 ]"},    {-300, "[ 00:00 ]"},
    };
    for (const auto& [ms, text] : cases) {
        emit panel.MonitorThread()->Countdown(ms);
        QCOMPARE(panel.StatusPanel(1)->text(), QString::fromLatin1(text));
        QCOMPARE(panel.StatusPanel(2)->text(), QStringLiteral("[ 1 ]"));
    }
    QCOMPARE(changed.count(), 8);
    // Out of sight the labels wait; shown, they show the last countdown.
    panel.hide();
    emit panel.MonitorThread()->Countdown(150000);
    emit panel.MonitorThread()->Countdown(61499);
    QCOMPARE(panel.StatusPanel(1)->text(), QStringLiteral("[ 00:00 ]"));
    QCOMPARE(changed.count(), 10);
    panel.show();
    QCOMPARE(panel.StatusPanel(1)->text(), QStringLiteral("[ 01:01 ]"));
}

void RunnerTest::theLogUsesTheWindow()
{
    // On a 1366 px screen the log is wide enough for a record and its time; with
    // no page to show (read directly, or let go between cycles) it takes it all.
    TAccountRecord account;
    TFrame4 panel(account, "127.0.0.1:1");
    panel.resize(1366, 700);
    panel.show();
    QVERIFY(QTest::qWaitForWindowExposed(&panel));
    panel.Browser()->Navigate(m_site.url("/list"));
    QTRY_VERIFY(panel.Memo1()->width() >= 500);
    QVERIFY(panel.Browser()->View()->width() >= 700);
    panel.LogLine(QStringLiteral("aa=上海市浦东新区张江路 100 号\t| ab=74.29元"));
    // A record that ends just short of a tab stop keeps room before its time,
    // wherever the stops fall.
    QPlainTextEdit* memo = panel.Memo1();
    const QString record = QStringLiteral("ab=74.29元");
    const QFontMetricsF metrics(memo->font());
    const qreal width = metrics.horizontalAdvance(record);
    const qreal lastChar = width - metrics.horizontalAdvance(record.chopped(1));
    const int end = static_cast<int>(record.size());
    qreal least = 1e9;
    for (qreal stop = width - 2; stop < width + 10; stop += 0.25) {
        memo->setTabStopDistance(stop);
        panel.LogLine(record);
        const QTextBlock block = memo->document()->lastBlock();
        memo->document()->documentLayout()->blockBoundingRect(block);
        QVERIFY(block.layout()->lineCount() == 1);
        const QTextLine line = block.layout()->lineAt(0);
        least = std::min(least, line.cursorToX(end + 1) - line.cursorToX(end - 1) - lastChar);
    }
    QVERIFY2(least >= 6, qPrintable(QStringLiteral("%1 px between the value and its time").arg(least)));
    memo->setTabStopDistance(80);
    vexory::test::SaveScreen(panel, QStringLiteral("runner-1366"));
    panel.Browser()->Unload();
    QTRY_VERIFY(panel.Memo1()->width() >= 1300);
    vexory::test::SaveScreen(panel, QStringLiteral("runner-1366-direct"));
}

void RunnerTest::memoKeepsTheNewestLinesWithoutHistory()
{
    // More than 400 lines drop the oldest 200 before the next line, whether the
    // memo is on screen or not; a hidden memo shows them all once it is shown;
    // and no line, written or dropped, stays behind in an undo history.
    TAccountRecord account;
    TFrame4 panel(account, "127.0.0.1:1");
    panel.resize(900, 500);
    QStringList expected;
    auto log = [&](int from, int to) {
        for (int n = from; n < to; ++n) {
            if (expected.size() > 400)
                expected.erase(expected.begin(), expected.begin() + 200);
            const QString text = QStringLiteral("line %1").arg(n);
            panel.LogLine(text);
            expected.append(text);
        }
    };
    auto shownLines = [&] {
        QStringList lines = panel.Memo1()->toPlainText().split(QLatin1Char('\n'));
        for (QString& line : lines)
            line = line.section(QLatin1Char('\t'), 0, 0);
        return lines;
    };
    log(0, 450); // hidden
    QCOMPARE(panel.Memo1()->blockCount(), 250);
    QCOMPARE(shownLines(), expected);
    panel.show();
    QVERIFY(QTest::qWaitForWindowExposed(&panel));
    log(450, 700); // on screen
    QCOMPARE(shownLines(), expected);
    panel.hide();
    log(700, 760);
    panel.show();
    QVERIFY(QTest::qWaitForWindowExposed(&panel));
    QCOMPARE(panel.Memo1()->document()->toPlainText().split(QLatin1Char('\n')).size(), expected.size());
    QCOMPARE(shownLines(), expected);
    QCOMPARE(panel.Memo1()->document()->availableUndoSteps(), 0);

    // A cycle's lines come at once (texts of two lines among them), from the thread
    // (in GBK) or not: the same memo as line by line, whether it is on screen or not,
    // even when a batch drops lines of its own.
    auto batch = [&](int from, int size) {
        QStringList texts;
        for (int n = from; n < from + size; ++n) {
            const QStringList lines =
                n % 7 ? QStringList{QStringLiteral("row %1").arg(n)}
                      : QStringList{QStringLiteral("head %1").arg(n), QStringLiteral("tail %1").arg(n)};
            if (expected.size() > 400)
                expected.erase(expected.begin(), expected.begin() + 200);
            expected.append(lines);
            texts.append(lines.join(QLatin1Char('\n')));
        }
        if (size < 300) {
            panel.LogLines(texts);
            return;
        }
        QByteArrayList gbk;
        for (const QString& text : texts)
            gbk.append(text.toLatin1());
        emit panel.MonitorThread()->Messages(gbk);
    };
    for (int size : {1, 150, 399, 37, 900})
        batch(1000 * size, size);
    QCOMPARE(shownLines(), expected);
    panel.hide();
    for (int size : {260, 3, 401})
        batch(1000 * size, size);
    panel.show();
    QVERIFY(QTest::qWaitForWindowExposed(&panel));
    QCOMPARE(shownLines(), expected);

    // A result's lines, apart by CR LF, make the same lines on screen as out of sight.
    auto result = [&] {
        emit panel.MonitorThread()->Result(Delivery::Sent, QByteArray("a=1\r\n\r\nb=2\rc=3"));
        const QStringList lines = panel.Memo1()->toPlainText().split(QLatin1Char('\n'));
        return std::pair(lines.size(), lines.mid(lines.size() - 7));
    };
    const auto [before, onScreen] = result();
    panel.hide();
    const auto [after, outOfSight] = result();
    QCOMPARE(after, before + 7);
    QCOMPARE(outOfSight, onScreen);
    QCOMPARE(onScreen.mid(2), (QStringList{"a=1", "", "b=2", "c=3", ""}));
}

void RunnerTest::countdownWakesThePanelOnlyForWhatItShows()
{
    // The thread looks ten times a second; the panel hears of it only when the
    // seconds it shows change, and after each refresh (a new refresh count).
    TAccountRecord account;
    account.Tasks.push_back(listTask(m_site.url("/list")));
    account.Tasks[0].RefreshInterval = 4000;
    TFrame4 panel(account, "127.0.0.1:1");
    panel.SetTask(0);
    panel.show();
    panel.PrepareStart();
    QSignalSpy ticks(panel.MonitorThread(), &TMonitorThread::Countdown);
    QStringList shown;
    connect(&panel, &TFrame4::StatusChanged, this, [&] {
        const QString text = panel.StatusPanel(1)->text() + panel.StatusPanel(2)->text();
        if (shown.isEmpty() || shown.last() != text)
            shown.append(text);
    });
    panel.SetRunning(true);
    QTRY_VERIFY_WITH_TIMEOUT(panel.RefreshCount() >= 3, 30000);
    QTRY_VERIFY_WITH_TIMEOUT(shown.contains(QStringLiteral("[ 00:01 ][ 3 ]")), 10000);
    for (const char* text : {"[ 00:04 ][ 2 ]", "[ 00:03 ][ 2 ]", "[ 00:02 ][ 2 ]", "[ 00:01 ][ 2 ]", "[ 00:00 ][ 2 ]",
                             "[ 00:04 ][ 3 ]", "[ 00:03 ][ 3 ]", "[ 00:02 ][ 3 ]"})
        QVERIFY2(shown.contains(QString::fromLatin1(text)), qPrintable(shown.join(QLatin1Char(' '))));
    // Two and a half cycles of four seconds: 2 x 5 changes and a few more; looked at 100 times.
    QVERIFY2(ticks.count() <= 20, qPrintable(QString::number(ticks.count())));
    account.StopAll = 1;
}

void RunnerTest::pagesOfAKilledRendererComeBack()
{
    // One page more than there may be renderers: pages share them. When one ends
    // (killed), the pages it held come back by themselves and report what is new.
    // The panels are on screen: their pages are kept between cycles.
    const int count = static_cast<int>(std::max(kRendererProcesses, std::thread::hardware_concurrency())) + 1;
    std::vector<std::unique_ptr<TAccountRecord>> accounts;
    std::vector<std::unique_ptr<TFrame4>> panels;
    for (int k = 0; k < count; ++k) {
        accounts.push_back(std::make_unique<TAccountRecord>());
        accounts.back()->Tasks.push_back(listTask(m_site.url("/list")));
        panels.push_back(std::make_unique<TFrame4>(*accounts.back(), "127.0.0.1:1"));
        panels.back()->SetTask(0);
        panels.back()->show();
        panels.back()->PrepareStart();
        panels.back()->SetRunning(true);
    }
    auto renderer = [](TFrame4& p) { return p.Browser()->View()->page()->renderProcessPid(); };
    for (auto& p : panels)
        QTRY_VERIFY_WITH_TIMEOUT(memoText(*p).contains(QStringLiteral("name=apple")), 30000);
    std::map<qint64, int> pages;
    for (auto& p : panels)
        ++pages[renderer(*p)];
    const auto shared = std::find_if(pages.begin(), pages.end(), [](const auto& e) { return e.second > 1; });
    QVERIFY2(shared != pages.end(), "every page has a renderer of its own");
    QVERIFY(shared->first > 0);
    QCOMPARE(::kill(static_cast<pid_t>(shared->first), SIGKILL), 0);

    m_site.add("After Crash", "9");
    for (auto& p : panels)
        QTRY_VERIFY_WITH_TIMEOUT(memoText(*p).contains(QStringLiteral("name=After Crash\nprice=9")), 60000);
    for (auto& p : panels)
        QVERIFY(renderer(*p) != shared->first);
    for (auto& a : accounts)
        a->StopAll = 1;
}

int main(int argc, char** argv)
{
    return vexory::test::RunGuiTest<RunnerTest>(argc, argv);
}

#include "runner_test.moc"

void RunnerTest::directTextIsTheBrowsers()
{
    // Pages of every kind a parser may treat differently, each read by the browser
    // and without it: the same text, or (the last ones) no direct text at all.
    const std::string gbkPage = "<meta http-equiv=\"Content-Type\" content=\"text/html; charset=gb2312\">"
                                "<title>\xC1\xD0\xB1\xED</title><a href=\"s?q=\xD6\xD0&amp;n=1\">\xD6\xD0</a>"
                                "<p>\xA1\xA1\xB6\xAB \x80</p>";
    const struct
    {
        const char* what;
        std::string bytes;
        std::string type;
        bool direct;
    } pages[] = {
        {"tables and unclosed elements",
         "<table><tr><td>a<td>b</table><p>one<p>two<ul><li>x<li>y</ul><dl><dt>t<dd>d</dl>", "text/html; charset=utf-8",
         true},
        {"entities",
         "<p title=\"&amp;&lt;&gt;&quot;&nbsp;&copy;\">&amp; &lt; &gt; &nbsp; &copy; &#20013; &quot; &apos; &notin; "
         "&noti</p>",
         "text/html; charset=utf-8", true},
        {"attribute quoting", "<div a=1 b='2\"' c=\"3'\" d e=&amp; F=G data-x=\"a\nb\">x</div>",
         "text/html; charset=utf-8", true},
        {"comments",
         "<!-- before --><html><!-- in --><body><!----><!-- a -- b --></body><!-- after body --></html><!-- end -->",
         "text/html; charset=utf-8", true},
        {"pre and textarea",
         "<pre>\nfirst</pre><pre>\n\nsecond</pre><textarea>\nt &amp; t</textarea><listing>\nl</listing>",
         "text/html; charset=utf-8", true},
        {"template", "<template><tr><td>1</td></tr></template><template><p>x</template>", "text/html; charset=utf-8",
         true},
        {"svg and math",
         "<svg viewBox=\"0 0 10 10\"><foreignObject><p>x</p></foreignObject><path d=\"M0\"/><a xlink:href=\"#a\">l</a>"
         "<clipPath/></svg><math><mi>x</mi><annotation-xml encoding=\"text/html\"><b>b</b></annotation-xml></math>",
         "text/html; charset=utf-8", true},
        {"a GBK page with a meta charset", gbkPage, "text/html", true},
        {"a UTF-8 mark", "\xEF\xBB\xBF<p>\xE4\xB8\xAD</p>", "text/html", true},
        {"links",
         "<base href=\"/b/\"><a href=\"x.html\">1</a><a href=\"../up?q=a b#f\">2</a><a "
         "href=\"javascript:void(0)\">3</a>"
         "<a href=\"mailto:a@b.c\">4</a><a href=\"//other.example/p\">5</a><a>6</a><img src=\"i.png\"><area href=\"\">"
         "<a href=\" /sp \">7</a><a href=\"HTTP://X.EXAMPLE:80\">8</a>",
         "text/html; charset=utf-8", true},
        {"a whole document",
         "<!DOCTYPE html>\r\n<html lang=zh>\r\n<head>\r\n<title>t</title><link rel=stylesheet href=a.css>"
         "<script>var a = 1 < 2 && 3 > 2;</script><style>p > b {}</style></head>\r\n<body class=x>"
         "text</body>\r\n</html>\r\nafter",
         "text/html; charset=utf-8", true},
        {"misnested",
         "<b><i>x</b>y</i><a href=a><p>z</a><button><p>q</button><table><td>cell<div>fostered</div></table>",
         "text/html; charset=utf-8", true},
        {"forms", "<form><select><option>1<option selected>2</select><input type=checkbox checked><br/></form>",
         "text/html; charset=utf-8", true},
        {"custom elements", "<my-row Data-A=1><x-y>t</x-y></my-row><p><section>s</section>", "text/html; charset=utf-8",
         true},
        {"Big5", "<meta charset=big5><p>\xA4\xA4\xA4\xE5</p>", "text/html", true},
        {"raw text",
         "<iframe><b>&amp;</b></iframe><xmp><b>&amp;</b></xmp><noembed><b>&amp;</b></noembed>"
         "<noframes><b>&amp;</b></noframes><plaintext><b>&amp;</b></plaintext>",
         "text/html; charset=utf-8", true},
        {"links in SVG",
         "<svg xmlns:xlink=\"http://www.w3.org/1999/xlink\" xml:lang=\"en\"><a href=\"s.html\">s</a>"
         "<a xlink:href=\"t.html\">t</a></svg><a href=\"h.html\">h</a>",
         "text/html; charset=utf-8", true},
        {"nested 450 deep",
         "<meta charset=utf-8>" +
             [] {
                 std::string nested;
                 for (int i = 0; i < 450; ++i)
                     nested += "<div>";
                 return nested + "x";
             }(),
         "text/html", true},
        {"noscript", "<meta charset=utf-8><noscript><p>x</p></noscript>", "text/html", false},
        {"no charset", "<p>x</p>", "text/html", false},
    };
    TestHttpServer site;
    for (size_t i = 0; i < std::size(pages); ++i)
        site.routes().Get("/corpus/" + std::to_string(i), [&pages, i](const httplib::Request&, httplib::Response& res) {
            res.set_content(pages[i].bytes, pages[i].type);
        });
    site.start();
    QWidget host;
    host.resize(800, 600);
    WebEngineBrowser browser(&host);
    for (size_t i = 0; i < std::size(pages); ++i) {
        const std::string url = site.url("/corpus/" + std::to_string(i));
        QSignalSpy loaded(browser.View(), &QWebEngineView::loadFinished);
        browser.Navigate(url);
        QTRY_VERIFY_WITH_TIMEOUT(loaded.count() > 0, 15000);
        const std::string seen = browser.PageSource();
        const std::optional<std::string> direct = DirectPageText(pages[i].bytes, pages[i].type, url);
        if (!pages[i].direct) {
            QVERIFY2(!direct, pages[i].what);
            continue;
        }
        QVERIFY2(direct, pages[i].what);
        QVERIFY2(*direct == seen,
                 qPrintable(QStringLiteral("%1\nbrowser: %2\ndirect:  %3")
                                .arg(QString::fromUtf8(pages[i].what), FromGbk(seen), FromGbk(*direct))));
    }
}

void RunnerTest::aPageThatChangesAtEveryRequestReadsDirectly()
{
    // A per-request token and a row more at every request: no two reads agree, but
    // the browser shows the very bytes the comparison's direct read fetched, and so
    // the task goes on directly, reporting each new row.
    std::atomic<int> requests{0};
    TestHttpServer site;
    site.routes().Get("/live", [&](const httplib::Request&, httplib::Response& res) {
        const int n = ++requests;
        std::string rows;
        for (int i = 1; i <= n; ++i)
            rows += "<tr><td class=\"name\">row" + std::to_string(i) + "</td><td>1</td></tr>";
        res.set_content("<html><head><meta name=csrf content=\"t" + std::to_string(n * 7919) +
                            "\"></head><body><table>" + rows + "</table></body></html>",
                        "text/html; charset=utf-8");
    });
    site.start();
    TAccountRecord account;
    account.Tasks.push_back(listTask(site.url("/live")));
    account.Tasks[0].RefreshInterval = 1500;
    TFrame4 panel(account, "127.0.0.1:1");
    panel.SetTask(0);
    panel.AllowDirectReading(true);
    panel.PrepareStart();
    panel.SetRunning(true);
    QTRY_COMPARE_WITH_TIMEOUT(panel.ReadingLabel()->text(), QStringLiteral("直接读取"), 30000);
    const int now = requests;
    QTRY_VERIFY_WITH_TIMEOUT(memoText(panel).contains(QStringLiteral("数据验证通过：\nname=row%1").arg(now + 2)),
                             30000);
    QCOMPARE(panel.ReadingLabel()->text(), QStringLiteral("直接读取"));
    account.StopAll = 1;
}

void RunnerTest::aTaskReadsItsPageDirectlyUntilAScriptWritesItsRows()
{
    // A plain listing below a row pinned in the markup: after one browser read the
    // task reads it directly. When its rows come to be written by a script, a direct
    // read cuts the pinned row alone: that is not reported, the task goes back to the
    // browser and stays there, and the script's new row is reported within two
    // cycles. Turned back, only rows never sent before are sent.
    std::atomic<bool> scripted{false};
    std::mutex mutex;
    std::vector<std::string> names{"Apple", "Banana", "Cherry", "Date", "Elder"};
    TestHttpServer site;
    site.routes().Get("/switching", [&](const httplib::Request&, httplib::Response& res) {
        std::string rows;
        {
            std::lock_guard lock(mutex);
            for (const std::string& name : names)
                rows += "<tr><td class=\"name\">" + name + "</td><td>1</td></tr>";
        }
        const std::string head = "<html><head><meta charset=utf-8></head><body>"
                                 "<table id=t><tr><td class=\"name\">Pinned</td><td>0</td></tr>";
        if (scripted)
            res.set_content(head + "</table><script>document.getElementById('t').insertAdjacentHTML('beforeend', '" +
                                rows + "');</script></body></html>",
                            "text/html");
        else
            res.set_content(head + rows + "</table></body></html>", "text/html");
    });
    site.start();
    auto add = [&](const char* name) {
        std::lock_guard lock(mutex);
        names.emplace_back(name);
    };
    TAccountRecord account;
    account.Tasks.push_back(listTask(site.url("/switching")));
    account.Tasks[0].RefreshInterval = 1500;
    account.Tasks[0].CompareLastScreen = true; // a screen that was never shown must not become the last one
    TFrame4 panel(account, "127.0.0.1:1");
    panel.show();
    panel.SetTask(0);
    panel.AllowDirectReading(true);
    QCOMPARE(panel.ReadingLabel()->text(), QStringLiteral("浏览器读取"));
    panel.PrepareStart();
    panel.SetRunning(true);
    QTRY_COMPARE_WITH_TIMEOUT(panel.ReadingLabel()->text(), QStringLiteral("直接读取"), 30000);
    // No renderer is kept for a page read directly (this panel's is the only page).
    QTRY_COMPARE_WITH_TIMEOUT(rendererProcesses(), 0, 30000);
    add("Direct Pear");
    QTRY_VERIFY_WITH_TIMEOUT(memoText(panel).contains(QStringLiteral("数据验证通过：\nname=Direct Pear")), 30000);
    QCOMPARE(panel.ReadingLabel()->text(), QStringLiteral("直接读取"));
    vexory::test::SaveScreen(panel, QStringLiteral("runner-direct"));

    scripted = true;
    const int flipped = panel.RefreshCount();
    add("Script Plum");
    QTRY_VERIFY_WITH_TIMEOUT(memoText(panel).contains(QStringLiteral("数据验证通过：\nname=Script Plum")), 30000);
    QVERIFY2(panel.RefreshCount() <= flipped + 3, qPrintable(memoText(panel))); // within two cycles
    QCOMPARE(panel.ReadingLabel()->text(), QStringLiteral("浏览器读取"));
    QVERIFY(rendererProcesses() > 0);
    const int refreshes = panel.RefreshCount();
    QTRY_VERIFY_WITH_TIMEOUT(panel.RefreshCount() > refreshes + 2, 30000);
    QCOMPARE(panel.ReadingLabel()->text(), QStringLiteral("浏览器读取"));

    scripted = false;
    add("Back Fig");
    QTRY_VERIFY_WITH_TIMEOUT(memoText(panel).contains(QStringLiteral("数据验证通过：\nname=Back Fig")), 30000);
    const QString memo = memoText(panel);
    // Three results, one record each; the pinned row and markup never among them.
    QCOMPARE(memo.count(QStringLiteral("数据验证通过：")), 3);
    QVERIFY2(!memo.contains(QStringLiteral("数据验证通过：\nname=Pinned")), qPrintable(memo));
    QVERIFY2(!memo.contains(QStringLiteral("=<")), qPrintable(memo));
    account.StopAll = 1;
}
