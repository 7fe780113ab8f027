// The runner panel logged in to a real vexory-server: every kind of push reply as
// the user sees it, the no-data warnings, and two chained tasks in their panels.

#include "base/encoding.h"
#include "browser/webengine_browser.h"
#include "editor/editor_rules.h"
#include "monitor/gbk_texts.h"
#include "monitor/myFrame4.h"
#include "platform/codepage.h"
#include "platform/plugin_window.h"
#include "service/service_client.h"
#include "support/build_paths.h"
#include "support/gui_main.h"
#include "support/server_process.h"
#include "support/service_helpers.h"
#include "support/test_http_server.h"
#include "support/test_tasks.h"
#include "widgets/qt_text.h"

#include <QApplication>
#include <QPlainTextEdit>
#include <QSignalSpy>
#include <QTest>

#include <map>
#include <mutex>
#include <thread>

using namespace vexory;
using namespace vexory::test;

namespace {

class Site
{
public:
    Site()
    {
        m_server.routes().Get("/list", [this](const httplib::Request&, httplib::Response& res) {
            std::lock_guard lock(m_mutex);
            std::string rows;
            for (const auto& r : m_rows)
                rows += "<li><b>" + r + "</b><i>http://127.0.0.1:" + std::to_string(m_server.port()) + "/detail/" + r +
                        "</i></li>";
            res.set_content("<html><body><ul>" + rows + "</ul></body></html>", "text/html; charset=utf-8");
        });
        m_server.routes().Get(R"(/detail/(\w+))", [](const httplib::Request& req, httplib::Response& res) {
            res.set_content("<html><body><p>price of " + std::string(req.matches[1]) + "</p></body></html>",
                            "text/html; charset=utf-8");
        });
        m_server.routes().Post("/hook", [this](const httplib::Request& req, httplib::Response& res) {
            std::lock_guard lock(m_mutex);
            m_hooked += req.body;
            res.status = m_hookStatus;
        });
        m_server.start();
    }
    void add(const std::string& row)
    {
        std::lock_guard lock(m_mutex);
        m_rows.push_back(row);
    }
    std::string url(const std::string& path) const { return m_server.url(path); }
    std::string hooked()
    {
        std::lock_guard lock(m_mutex);
        return m_hooked;
    }
    std::atomic<int> m_hookStatus{200};

private:
    TestHttpServer m_server;
    std::mutex m_mutex;
    std::string m_hooked; // the webhook's bodies
    std::vector<std::string> m_rows{"first"};
};

TTaskRecord task(const std::string& name, const std::string& url, const std::string& formula)
{
    return RunnerTask(name, url, formula);
}

QString memo(TFrame4& p)
{
    return p.Memo1()->toPlainText();
}

const char* kListFormula = "<li><b>{>item<}</b><i>{>link<}</i></li>";

} // namespace

class RunnerServiceTest : public QObject
{
    Q_OBJECT

private slots:
    void pushRepliesShowInTheMemo();
    void sixNoDataWarningsReloadThePage();
    void chainedTasksResolveAValue();

private:
    Site m_site;
};

void RunnerServiceTest::pushRepliesShowInTheMemo()
{
    ServerProcess server(VEXORY_SERVER_PATH);
    QVERIFY(server.ok());
    QCOMPARE(server.addUser("alice", "pw", "--rights plugin --webhook " + m_site.url("/hook")), 0);
    TAccountRecord account;
    account.Nickname = "alice";
    account.PasswordDigest = Sha1Hex("pw");
    int32_t version = 6;
    QCOMPARE(loginAnswer(account, server.host(), false, version), int(LoginDone));
    // Fields named in Chinese, as the editor names the marked fields after a listing's
    // header: the formula of the marks, its markers renamed by the editor's rules.
    const std::vector<std::string> names = FieldNames({Utf8ToGbk("名称"), Utf8ToGbk("链接")});
    const std::string formula =
        RenameFieldMarkers("<li><b>{>aa<}</b><i>{>ab<}</i></li>", {{"aa", names[0]}, {"ab", names[1]}});
    QCOMPARE(GbkToUtf8(formula), std::string("<li><b>{>名称<}</b><i>{>链接<}</i></li>"));
    account.Tasks.push_back(task("list", m_site.url("/list"), formula));
    account.Tasks[0].PushToPlugin = 1;

    TempDir runtime;
    qputenv("XDG_RUNTIME_DIR", runtime.path().c_str());
    TFrame4 panel(account, server.host());
    QSignalSpy notices(&panel, &TFrame4::Notice);
    QSignalSpy remote(&panel, &TFrame4::Remote);
    panel.SetTask(0);
    panel.PrepareStart();
    panel.SetRunning(true);
    QTRY_VERIFY_WITH_TIMEOUT(memo(panel).contains(QStringLiteral("名称=first")), 20000);

    // Forwarded by the service.
    m_site.add("second");
    QTRY_VERIFY_WITH_TIMEOUT(memo(panel).contains(QStringLiteral("数据已发送：\n名称=second")), 20000);
    QVERIFY(notices.contains(QVariantList{QStringLiteral("[ list ] 数据已发送")}));
    QTRY_VERIFY_WITH_TIMEOUT(m_site.hooked().find("名称=second") != std::string::npos, 20000);

    // The webhook refuses: the result is in the inbox all the same, which is a
    // delivery; the webhook gets it later from the outbox.
    m_site.m_hookStatus = 500;
    m_site.add("third");
    QTRY_VERIFY_WITH_TIMEOUT(memo(panel).contains(QStringLiteral("数据已发送：\n名称=third")), 20000);
    std::string results;
    QCOMPARE(server.admin("results alice", &results), 0);
    QVERIFY(results.find("\"forward_state\":\"pending\"") != std::string::npos);

    // Not forwarded, but the plug-in takes it.
    PluginWindowHost plugin;
    QVERIFY(plugin.Open(GbkToUtf8(PluginTitlePrefix("127.0.0.1"))));
    std::string handed;
    std::thread serve([&] {
        plugin.ServeOne(
            [&](uint32_t, const std::string& text) {
                handed = text;
                return uint8_t{1};
            },
            20000);
    });
    m_site.add("fourth");
    QTRY_VERIFY_WITH_TIMEOUT(memo(panel).contains(QStringLiteral("数据已发送：\n名称=fourth")), 20000);
    serve.join();
    QVERIFY(handed.find(Utf8ToGbk("名称=fourth")) == 0);

    // The service ends the run remotely.
    QCOMPARE(server.admin("user shutoff alice"), 0);
    m_site.add("fifth");
    const QVariantList endRun{QVariant::fromValue(TFrame4::RemoteCommand::EndRun)};
    QTRY_VERIFY_WITH_TIMEOUT(remote.contains(endRun), 20000);

    // Logged in elsewhere: the panel logs out.
    TAccountRecord other;
    other.Nickname = "alice";
    other.PasswordDigest = Sha1Hex("pw");
    QCOMPARE(loginAnswer(other, server.host(), false, version), int(LoginDone));
    m_site.add("sixth");
    QTRY_VERIFY_WITH_TIMEOUT(memo(panel).contains(QStringLiteral("账户异地登录，退出登录！")), 20000);
    QVERIFY(remote.contains(QVariantList{QVariant::fromValue(TFrame4::RemoteCommand::ElsewhereLogout)}));
    for (const auto& n : notices) // remote commands are no status lines
        QVERIFY(!n.at(0).toString().startsWith(QLatin1String("[ ")) || n.at(0).toString().startsWith("[ list ]"));
    QVERIFY(!account.LoggedIn);
    account.StopAll = 1;

    // A nickname the service does not know.
    TAccountRecord stranger;
    stranger.Nickname = "nobody";
    stranger.LoggedIn = 1;
    stranger.Tasks.push_back(task("list", m_site.url("/list"), kListFormula));
    TFrame4 second(stranger, server.host());
    second.SetTask(0);
    second.PrepareStart();
    second.SetRunning(true);
    QTRY_VERIFY_WITH_TIMEOUT(memo(second).contains(QStringLiteral("item=sixth")), 20000);
    m_site.add("seventh");
    QTRY_VERIFY_WITH_TIMEOUT(memo(second).contains(QStringLiteral("昵称错误，退出登录！")), 20000);
    QVERIFY(!stranger.LoggedIn);
    stranger.StopAll = 1;
}

void RunnerServiceTest::sixNoDataWarningsReloadThePage()
{
    TAccountRecord account;
    account.Tasks.push_back(task("empty", m_site.url("/list"), "<table>{>never<}</table>"));
    account.Tasks[0].RefreshInterval = 1000;
    TFrame4 panel(account, "127.0.0.1:1");
    QSignalSpy notices(&panel, &TFrame4::Notice);
    panel.SetTask(0);
    panel.PrepareStart();
    panel.SetRunning(true);
    const QString noData = FromGbk(texts::kNoData);
    QTRY_VERIFY_WITH_TIMEOUT(memo(panel).count(noData) >= 6, 60000);
    account.StopAll = 1;
    // Five warnings each signalled, the sixth once more by reloading.
    int warnings = 0;
    for (const auto& n : notices)
        warnings += n.at(0).toString() == QStringLiteral("[ empty ] 警告");
    QVERIFY(warnings >= 6);
    QVERIFY(panel.WarningCount() <= 5);
}

void RunnerServiceTest::chainedTasksResolveAValue()
{
    TAccountRecord account;
    account.Tasks.push_back(task("list", m_site.url("/list"), std::string(kListFormula) + "(>link@detail<)"));
    account.Tasks.push_back(task("detail", "", "<p>{>price<}</p>"));
    TFrame4 list(account, "127.0.0.1:1");
    std::unique_ptr<TFrame4> detail;
    // The main window's part: open the chained task's panel on request, or load its new value.
    connect(&list, &TFrame4::ChainRequest, this, [&](TFrame4*, int target) {
        if (!detail) {
            detail = std::make_unique<TFrame4>(account, "127.0.0.1:1");
            detail->SetTask(target);
            account.Tasks[static_cast<size_t>(target)].RunState = RunPresent;
            detail->PrepareStart();
            detail->SetRunning(true);
        } else {
            detail->PrepareStart();
        }
    });
    list.SetTask(0);
    QVERIFY(list.MonitorThread()->Core().ChainTask() == "detail");
    list.PrepareStart();
    list.SetRunning(true);
    QTRY_VERIFY_WITH_TIMEOUT(memo(list).contains(QStringLiteral("item=first")), 20000);
    m_site.add("chained");
    QTRY_VERIFY_WITH_TIMEOUT(memo(list).contains(QStringLiteral("price=price of chained")), 60000);
    QVERIFY(memo(list).contains(QStringLiteral("数据验证通过：\nitem=chained")));
    account.StopAll = 1;
    detail.reset();
}

int main(int argc, char** argv)
{
    return vexory::test::RunGuiTest<RunnerServiceTest>(argc, argv);
}

#include "runner_service_test.moc"
