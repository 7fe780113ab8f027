// The program on a desktop session: a cycle's new records as a notification of
// the desktop's notification service (a stand-in on a session bus of the test's
// own), clicking it shows the task; a record that came while the program was
// stopped, reported at the next run's first cycle, once; a run kept in the tray.

#include "app/Unit1.h"
#include "app/desktop_notices.h"
#include "app/myFrame2.h"
#include "app/myFrame8.h"
#include "app/run_tray.h"
#include "base/encoding.h"
#include "monitor/myFrame4.h"
#include "platform/codepage.h"
#include "support/gui_main.h"
#include "support/message_boxes.h"
#include "support/temp_dir.h"
#include "support/test_http_server.h"
#include "support/test_tasks.h"

#include <QCheckBox>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScopeGuard>
#include <QTabWidget>
#include <QThread>
#include <QtTest>

#include <mutex>

using namespace vexory;
using vexory::test::OfflineValues;
using vexory::test::TempDir;
using vexory::test::TestHttpServer;

namespace {

test::MessageBoxes g_boxes; // every message box shown, and the answer to questions

// The desktop's notification service as the test plays it: every notice it is
// given, and the click on one.
class NotificationStandIn : public QObject
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")

public:
    struct Notice
    {
        uint id, replaces;
        QString summary, body;
        QStringList actions;
    };
    QList<Notice> notices;

    explicit NotificationStandIn(const QDBusConnection& bus) : m_bus(bus) {}
    void Click(uint id)
    {
        QDBusMessage signal = QDBusMessage::createSignal(QStringLiteral("/org/freedesktop/Notifications"),
                                                         QStringLiteral("org.freedesktop.Notifications"),
                                                         QStringLiteral("ActionInvoked"));
        signal << id << QStringLiteral("default");
        m_bus.send(signal);
    }
    int about(const QString& summary, const QString& text) const
    {
        int n = 0;
        for (const Notice& notice : notices)
            n += notice.summary == summary && notice.body.contains(text);
        return n;
    }

public slots:
    uint Notify(const QString&, uint replaces, const QString&, const QString& summary, const QString& body,
                const QStringList& actions, const QVariantMap&, int)
    {
        const uint id = replaces ? replaces : ++m_last;
        notices.append({id, replaces, summary, body, actions});
        return id;
    }
    QStringList GetCapabilities() { return {QStringLiteral("actions"), QStringLiteral("body")}; }
    void CloseNotification(uint) {}

private:
    QDBusConnection m_bus;
    uint m_last = 0;
};

// The desktop's tray as the test plays it: the watcher that tray icons register
// with (the StatusNotifierItem protocol, which Qt uses on X where it finds one).
// It answers on a thread of its own: the program asks it with blocking calls from
// the window's thread.
class TrayWatcherStandIn : public QObject
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.kde.StatusNotifierWatcher")
    Q_PROPERTY(bool IsStatusNotifierHostRegistered READ hostRegistered)
    Q_PROPERTY(int ProtocolVersion READ protocolVersion)
    Q_PROPERTY(QStringList RegisteredStatusNotifierItems READ items)

public:
    bool hostRegistered() const { return true; }
    int protocolVersion() const { return 0; }
    QStringList items() const
    {
        std::lock_guard lock(m_mutex);
        return m_registered;
    }

public slots:
    void RegisterStatusNotifierItem(const QString& service)
    {
        std::lock_guard lock(m_mutex);
        m_registered << service;
    }
    void RegisterStatusNotifierHost(const QString&) {}

signals:
    void StatusNotifierItemRegistered(const QString& service);

private:
    mutable std::mutex m_mutex;
    QStringList m_registered;
};

// The watcher's stand-in on its own thread: made, put on the bus, taken off and
// deleted there, as the bus wants of an object it calls into.
class TrayWatcherThread
{
public:
    explicit TrayWatcherThread(const QDBusConnection& bus) : m_bus(bus)
    {
        m_context.moveToThread(&m_thread);
        m_thread.start();
        QMetaObject::invokeMethod(
            &m_context,
            [this] {
                m_watcher = new TrayWatcherStandIn;
                m_ok = m_bus.registerObject(kPath, m_watcher,
                                            QDBusConnection::ExportAllSlots | QDBusConnection::ExportAllProperties |
                                                QDBusConnection::ExportAllSignals) &&
                       m_bus.registerService(kService);
            },
            Qt::BlockingQueuedConnection);
    }
    ~TrayWatcherThread()
    {
        QMetaObject::invokeMethod(
            &m_context,
            [this] {
                m_bus.unregisterService(kService);
                m_bus.unregisterObject(kPath);
                delete m_watcher;
            },
            Qt::BlockingQueuedConnection);
        m_thread.quit();
        m_thread.wait();
    }
    bool ok() const { return m_ok; }
    QStringList items() const { return m_watcher->items(); }

private:
    inline static const QString kPath = QStringLiteral("/StatusNotifierWatcher");
    inline static const QString kService = QStringLiteral("org.kde.StatusNotifierWatcher");
    QDBusConnection m_bus;
    QThread m_thread;
    QObject m_context;
    TrayWatcherStandIn* m_watcher = nullptr;
    bool m_ok = false;
};

// Listings of rows that the test adds to.
struct Listings
{
    std::mutex mutex;
    std::map<std::string, QStringList> rows;
    TestHttpServer server;
    Listings()
    {
        server.routes().Get(R"(/(\w+))", [this](const httplib::Request& req, httplib::Response& res) {
            std::lock_guard lock(mutex);
            std::string html = "<html><body><table>";
            for (const QString& row : rows[req.matches[1]])
                html += "<tr><td>" + row.toStdString() + "</td></tr>";
            res.set_content(html + "</table></body></html>", "text/html; charset=utf-8");
        });
        server.start();
    }
    void add(const std::string& page, const QString& row)
    {
        std::lock_guard lock(mutex);
        rows[page].prepend(row);
    }
};

// The window of a user who is not logged in, its files in `home`, at the task list.
struct OfflineWindow
{
    TProcessValues values;
    TForm1 form;
    OfflineWindow(TAccountRecord& account, const TempDir& home)
        : values(OfflineValues()),
          form(account, values, {home.path() + "/vexory.vxt", home.path() + "/dravik.ini", home.path() + "/x.log"})
    {
        form.show();
        form.EnterTaskList();
    }
};

} // namespace

class DesktopTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        g_boxes.install();
        g_boxes.answer = QMessageBox::No;
        qputenv("XDG_CONFIG_HOME", m_config.path().c_str());
    }
    void newRecordsOnTheDesktopAndNothingMissedBetweenRuns();
    void withoutANotificationServiceNothingShows();
    void aRunLivesInTheTrayWhereTheDesktopHasOne();

private:
    TempDir m_config;
};

void DesktopTest::newRecordsOnTheDesktopAndNothingMissedBetweenRuns()
{
    QDBusConnection standInBus = QDBusConnection::connectToBus(QDBusConnection::SessionBus, QStringLiteral("stand-in"));
    if (!standInBus.isConnected())
        QSKIP("no session bus: run under dbus-run-session");
    NotificationStandIn service(standInBus);
    QVERIFY(standInBus.registerObject(QStringLiteral("/org/freedesktop/Notifications"), &service,
                                      QDBusConnection::ExportAllSlots));
    QVERIFY(standInBus.registerService(QStringLiteral("org.freedesktop.Notifications")));

    Listings site;
    site.add("a", QStringLiteral("row1"));
    site.add("b", QStringLiteral("other1"));
    TempDir home;
    TAccountRecord account;
    for (const char* page : {"a", "b"}) {
        const std::string name = Utf8ToGbk(page == std::string("a") ? "甲" : "乙");
        account.Tasks.push_back(
            test::MakeTask(name, site.server.url(std::string("/") + page), "<td>{>v<}</td>", 2000, 15000));
        account.Tasks.back().Checked = 1;
    }
    OfflineWindow window(account, home);
    TForm1& form = window.form;
    auto run = [&] {
        QTest::mouseClick(form.TaskList()->Button(QStringLiteral("执行")), Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(form.Runners().size() == 2 && form.Runners()[1]->Running(), 60000);
        QTRY_VERIFY_WITH_TIMEOUT(form.Runners()[0]->RefreshCount() >= 2 && form.Runners()[1]->RefreshCount() >= 2,
                                 60000);
    };
    run();
    QCOMPARE(service.notices.size(), 0); // the first screen is silent

    // A new row: one notice for its task, with the record; the next replaces it.
    const QString summary = QStringLiteral("甲：1 条新记录");
    site.add("a", QStringLiteral("row2"));
    QTRY_COMPARE_WITH_TIMEOUT(service.about(summary, QStringLiteral("v=row2")), 1, 30000);
    site.add("a", QStringLiteral("row3"));
    QTRY_COMPARE_WITH_TIMEOUT(service.about(summary, QStringLiteral("v=row3")), 1, 30000);
    QCOMPARE(service.notices.last().replaces, service.notices.first().id);
    QVERIFY(service.notices.last().actions.contains(QStringLiteral("default")));
    // Clicked while another task is shown: the task of the notice comes up.
    form.Tabs()->setCurrentWidget(form.Runners()[1]);
    service.Click(service.notices.last().id);
    QTRY_COMPARE_WITH_TIMEOUT(form.Tabs()->currentWidget(), form.Runners()[0], 10000);
    vexory::test::SaveScreen(form, QStringLiteral("notice-clicked"));

    // A row that comes while the program is stopped is reported at the next run, once.
    QTest::mouseClick(form.StopButton(), Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(form.Runners().empty(), 60000);
    site.add("a", QStringLiteral("row4"));
    run();
    QTRY_COMPARE_WITH_TIMEOUT(service.about(summary, QStringLiteral("v=row4")), 1, 30000);
    const int refreshes = form.Runners()[0]->RefreshCount();
    QTRY_VERIFY_WITH_TIMEOUT(form.Runners()[0]->RefreshCount() >= refreshes + 2, 30000);
    QCOMPARE(service.about(summary, QStringLiteral("v=row4")), 1);
    QCOMPARE(service.about(QStringLiteral("乙：1 条新记录"), QString()), 0);
    QTest::mouseClick(form.StopButton(), Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(form.Runners().empty(), 60000);
    QVERIFY(standInBus.unregisterService(QStringLiteral("org.freedesktop.Notifications")));
}

void DesktopTest::withoutANotificationServiceNothingShows()
{
    // No service on the bus (or no bus): the call fails quietly.
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (bus.isConnected())
        QVERIFY(!bus.interface()->isServiceRegistered(QStringLiteral("org.freedesktop.Notifications")));
    DesktopNotices notices;
    notices.Show(QStringLiteral("1"), DesktopNotices::Summary(QStringLiteral("甲"), 2),
                 DesktopNotices::Body(QStringLiteral("v=<b>1</b>\r\nw=2\r\n\r\nv=3")));
    if (bus.isConnected())
        QTRY_COMPARE_WITH_TIMEOUT(notices.Answered(), 1, 10000);
    QCOMPARE(notices.Shown(), 0);
    // The body: a record a line, escaped for services that read markup.
    QCOMPARE(DesktopNotices::Body(QStringLiteral("v=<b>1</b>\r\nw=2\r\n\r\nv=3")),
             QStringLiteral("v=&lt;b&gt;1&lt;/b&gt;  w=2\nv=3"));
    QCOMPARE(DesktopNotices::Body(QStringLiteral("a\r\n\r\nb\r\n\r\nc"), 2), QStringLiteral("a\nb\n……"));
}

// The option "关闭窗口后在托盘运行", ticked as a user does. On X with a tray (the
// watcher's stand-in on the bus) closing the window keeps the run going, the tray's
// menu shows the window and ends the run. Without a tray (offscreen) closing the
// window ends the program as it always did.
void DesktopTest::aRunLivesInTheTrayWhereTheDesktopHasOne()
{
    QDBusConnection standInBus = QDBusConnection::connectToBus(QDBusConnection::SessionBus, QStringLiteral("tray"));
    if (!standInBus.isConnected())
        QSKIP("no session bus: run under dbus-run-session");
    TrayWatcherThread watcher(standInBus);
    QVERIFY(watcher.ok());
    const bool tray = QGuiApplication::platformName() == QLatin1String("xcb");

    Listings site;
    site.add("t", QStringLiteral("row1"));
    TempDir home;
    TAccountRecord account;
    account.Tasks.push_back(test::MakeTask(Utf8ToGbk("甲"), site.server.url("/t"), "<td>{>v<}</td>", 2000, 15000));
    account.Tasks.back().Checked = 1;
    OfflineWindow window(account, home);
    TForm1& form = window.form;
    QTimer::singleShot(0, &form, [&] {
        QVERIFY(!form.OptionsPanel()->RunInTray()->isChecked());
        QTest::mouseClick(form.OptionsPanel()->RunInTray(), Qt::LeftButton);
        QTest::mouseClick(form.OptionsPanel()->OkButton(), Qt::LeftButton);
    });
    form.OpenOptions();
    QVERIFY(RunTray::Chosen());
    QCOMPARE(form.OptionsPanel()->RunInTray()->toolTip().isEmpty(), tray);

    QTest::mouseClick(form.TaskList()->Button(QStringLiteral("执行")), Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(form.Runners().size() == 1 && form.Runners()[0]->RefreshCount() >= 2, 60000);
    TFrame4* runner = form.Runners()[0];
    if (!tray) {
        QVERIFY(!form.Tray()->Holds());
        form.close(); // as the window's close button does
        QVERIFY(runner->IsStopped());
        QVERIFY(!form.isVisible());
        RunTray::Choose(false);
        return;
    }
    QTRY_COMPARE_WITH_TIMEOUT(watcher.items().size(), 1, 10000); // the icon is in the tray
    QVERIFY(form.Tray()->Holds());
    QVERIFY(!form.Tray()->Icon().isNull());
    form.close();
    QVERIFY(!form.isVisible());
    QVERIFY(!runner->IsStopped());
    site.add("t", QStringLiteral("row2"));
    QTRY_VERIFY_WITH_TIMEOUT(runner->Memo1()->toPlainText().contains(QStringLiteral("v=row2")), 30000);

    form.Tray()->ShowAction()->trigger();
    QTRY_VERIFY_WITH_TIMEOUT(form.isVisible(), 10000);
    QCOMPARE(form.Runners().size(), 1u);
    vexory::test::SaveScreen(form, QStringLiteral("tray-shown-again"));
    form.close();
    QVERIFY(!form.isVisible());
    form.Tray()->EndRunAction()->trigger();
    QTRY_VERIFY_WITH_TIMEOUT(form.Runners().empty(), 60000);
    QVERIFY(form.isVisible());
    QVERIFY(!form.Tray()->Holds());
    RunTray::Choose(false);
    form.close(); // no run: the program ends
    QVERIFY(!form.isVisible());
}

int main(int argc, char** argv)
{
    return vexory::test::RunGuiTest<DesktopTest>(argc, argv);
}

#include "desktop_test.moc"
