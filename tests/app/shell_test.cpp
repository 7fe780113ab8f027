// The application shell as a person uses it: typing into the login panel, working
// the task list and its menu, the options dialog, and a PNG of every view.

#include "app/Unit1.h"
#include "app/autostart.h"
#include "app/myFrame1.h"
#include "app/myFrame2.h"
#include "app/myFrame8.h"
#include "base/encoding.h"
#include "base/tick_clock.h"
#include "editor/Unit2.h"
#include "editor/Unit3.h"
#include "editor/myFrame5.h"
#include "model/task_store.h"
#include "monitor/myFrame4.h"
#include "platform/codepage.h"
#include "service/service_client.h"
#include "support/build_paths.h"
#include "support/gui_main.h"
#include "support/message_boxes.h"
#include "support/server_process.h"
#include "support/test_http_server.h"
#include "support/test_tasks.h"
#include "widgets/hint_edit.h"
#include "widgets/message_box.h"
#include "widgets/qt_chinese.h"
#include "widgets/qt_text.h"
#include "widgets/screen_fit.h"

#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QGuiApplication>
#include <QLabel>
#include <QListWidget>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QSignalSpy>
#include <QSlider>
#include <QStatusBar>
#include <QTabWidget>
#include <QTest>
#include <QTimer>
#include <QWebEnginePage>

#include <atomic>
#include <filesystem>

using namespace vexory;
using namespace vexory::test;

namespace {

test::MessageBoxes g_boxes; // every message box shown, and the answer to questions

TTaskRecord task(const std::string& name, const std::string& url)
{
    TTaskRecord t =
        MakeTask(name, url, "<td>{>\xC3\xFB\xB3\xC6<}</td><td>{>price<}</td>", 150000, 30000); // 名称, price
    t.VerifyFormula = "\x02>5&\x01^a";
    return t;
}

QStringList itemTexts(QListWidget* list)
{
    QStringList out;
    for (int i = 0; i < list->count(); ++i)
        out << list->item(i)->text();
    return out;
}

AppPaths pathsIn(const std::string& folder)
{
    return {folder + "/vexory.vxt", folder + "/dravik.ini", folder + "/dravik.log"};
}

// A page of one row on 127.0.0.1, counting the times it is read.
struct OneRowSite
{
    std::atomic<int> requests{0};
    TestHttpServer server;
    OneRowSite()
    {
        server.routes().Get("/list", [this](const httplib::Request&, httplib::Response& res) {
            ++requests;
            res.set_content("<html><body><table><tr><td>a</td><td>1</td></tr></table></body></html>",
                            "text/html; charset=utf-8");
        });
        server.start();
    }
    std::string url() const { return server.url("/list"); }
};

} // namespace

class ShellTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        g_boxes.install();
        g_boxes.answer = QMessageBox::No;
        qputenv("XDG_CONFIG_HOME", m_config.path().c_str());
    }
    void init() { g_boxes.shown.clear(); }

    void hintEdit();
    void loginPanel();
    void taskList();
    void options();
    void splashAndRegistration();
    void phoneBindingIsShownAfterLogin();
    void mainWindowRunView();
    void startWithoutAStore();
    void everyChangeIsStoredAtOnce();
    void optionsClosedWithoutOkChangeNothing();
    void terminateWithTheEditorOpenAsksNothing();
    void closeWhileRunnersAreLaunched();
    void qtTextsAreChinese();
    void windowsStayOnScreen();
    void stopEndsTheRunAndShowsTheList();
    void aSecondRunRefreshesAndEndsByItself();
    void aChainRestartAndACycleEndInOneSecondAreBothKept();
    void twoChainPairsKeepGoingForManyCycles();
    void aFailedStoreWriteIsShownInChinese();
    void withoutTheMultiTaskRightTheTasksLeftAreNamed();
    void aTaskDraggedInTheListMovesOrStays();
    void theOptionsPanelGoesWithTheWindow();

private:
    TempDir m_config;
};

void ShellTest::hintEdit()
{
    QWidget host;
    auto* edit = new THintEdit(&host);
    auto* other = new QLineEdit(&host);
    edit->SetHintText(QStringLiteral("请输入昵称"));
    host.show();
    QVERIFY(edit->ShowsHint());
    QCOMPARE(edit->text(), QStringLiteral("请输入昵称"));
    QCOMPARE(edit->Text(), QString());
    edit->setFocus();
    QTRY_VERIFY(edit->hasFocus());
    QCOMPARE(edit->text(), QString());
    QSignalSpy imports(edit, &THintEdit::Import);
    QTest::keyClicks(edit, QStringLiteral("abc"));
    QCOMPARE(imports.count(), 3);
    for (Qt::Key key : {Qt::Key_Left, Qt::Key_Right, Qt::Key_Shift, Qt::Key_Home, Qt::Key_End})
        QTest::keyClick(edit, key);
    QCOMPARE(imports.count(), 3); // no character, no import
    QCOMPARE(edit->Text(), QStringLiteral("abc"));
    other->setFocus();
    QTRY_VERIFY(!edit->hasFocus());
    QCOMPARE(edit->text(), QStringLiteral("abc"));
    edit->SetText(QString());
    QVERIFY(edit->ShowsHint());
    // A format test that fails greys the text but keeps it shown.
    edit->SetFormatQuery(&TFrame1::PasswordFormat);
    edit->SetText(QStringLiteral("a b"));
    QVERIFY(edit->IsGrey());
    QCOMPARE(edit->text(), QStringLiteral("a b"));
    edit->SetText(QStringLiteral("ab1"));
    QVERIFY(!edit->IsGrey());
}

void ShellTest::loginPanel()
{
    ServerProcess server(VEXORY_SERVER_PATH);
    QVERIFY(server.ok());
    QCOMPARE(server.addUser("张三", "pass123", "--rights plugin"), 0);
    TAccountRecord account;
    account.Tasks.push_back(task("t", "http://127.0.0.1/"));
    account.Tasks[0].RefreshInterval = 1000;
    account.Tasks[0].PushToPlugin = 1;
    TProcessValues values;
    values.Server = server.host();
    TFrame1 panel(account, values);
    panel.show();
    QSignalSpy loggedIn(&panel, &TFrame1::LoggedIn);
    vexory::test::SaveScreen(panel, QStringLiteral("login"));

    QTest::mouseClick(panel.LoginButton(), Qt::LeftButton);
    QCOMPARE(g_boxes.shown.last(), QStringLiteral("用户名不能为空！"));
    panel.NameEdit()->setFocus();
    QTRY_VERIFY(panel.NameEdit()->hasFocus());
    QTest::keyClick(panel.NameEdit(), Qt::Key_Space);
    panel.NameEdit()->insert(QStringLiteral("张三")); // what an input method commits
    QTest::mouseClick(panel.LoginButton(), Qt::LeftButton);
    QCOMPARE(g_boxes.shown.last(), QStringLiteral("密码不能为空！"));
    QCOMPARE(GbkToUtf8(account.Nickname), std::string(" 张三")); // kept as typed, blanks too
    panel.PasswordEdit()->setFocus();
    QTest::keyClicks(panel.PasswordEdit(), QStringLiteral("pa ss"));
    QTest::mouseClick(panel.LoginButton(), Qt::LeftButton);
    QCOMPARE(g_boxes.shown.last(), QStringLiteral("密码仅限数字和大小写字母！"));
    panel.PasswordEdit()->SetText(QStringLiteral("wrong1"));
    QTest::mouseClick(panel.LoginButton(), Qt::LeftButton);
    // " 张三" is 张三, as registration keeps it: the account is known, the password wrong.
    QCOMPARE(g_boxes.shown.last(), QStringLiteral("密码错误，无法登录！"));

    panel.NameEdit()->SetText(QStringLiteral("张三"));
    QTest::mouseClick(panel.LoginButton(), Qt::LeftButton);
    QCOMPARE(g_boxes.shown.last(), QStringLiteral("密码错误，无法登录！"));
    panel.PasswordEdit()->SetText(QStringLiteral("pass123"));
    // Enter in the name field moves on, Enter in the password field logs in.
    panel.NameEdit()->setFocus();
    QTest::keyClick(panel.NameEdit(), Qt::Key_Return);
    QTRY_VERIFY(panel.PasswordEdit()->hasFocus());
    QTest::keyClick(panel.PasswordEdit(), Qt::Key_Return);
    QCOMPARE(loggedIn.count(), 1);
    QVERIFY(account.LoggedIn);
    QCOMPARE(account.PasswordDigest, Sha1Hex("pass123"));
    QCOMPARE(account.Tasks[0].RefreshInterval, 150000u); // no fast-refresh right
    QCOMPARE(account.Tasks[0].PushToPlugin, uint8_t{1}); // plug-in right granted

    // A service that answers nonsense.
    TestHttpServer odd;
    odd.routes().Post("/client/LogIn.php", [](const httplib::Request&, httplib::Response& res) {
        res.set_content("maintenance006", "text/plain");
    });
    odd.start();
    TProcessValues oddValues;
    oddValues.Server = odd.host();
    TFrame1 confused(account, oddValues);
    confused.PasswordEdit()->SetText(QStringLiteral("pass123"));
    confused.Login();
    QCOMPARE(g_boxes.shown.last(), QStringLiteral("服务器错误，无法登录！"));

    TProcessValues unreachable;
    unreachable.Server = "127.0.0.1:1";
    TFrame1 offline(account, unreachable);
    offline.PasswordEdit()->SetText(QStringLiteral("pass123"));
    offline.Login();
    QCOMPARE(g_boxes.shown.last(), QStringLiteral("远程错误，无法登录！"));
}

void ShellTest::taskList()
{
    TAccountRecord account;
    account.Tasks.push_back(task("甲", "http://a/?x=1"));
    account.Tasks.push_back(task("乙", ""));
    account.Tasks.push_back(task("丙", "http://c/"));
    for (auto& t : account.Tasks) {
        t.TaskName = Utf8ToGbk(t.TaskName);
        t.Checked = 1;
    }
    account.Tasks[1].Selected = 1;
    account.Tasks[1].CompareLastScreen = 1;
    TProcessValues values;
    TaskList tasks(account);
    TFrame2 list(tasks, values);
    list.resize(900, 420);
    list.show();
    QCOMPARE(itemTexts(list.List()), (QStringList{"1 - 甲", "2 - 乙", "3 - 丙"}));
    QCOMPARE(list.List()->currentRow(), 1);
    QCOMPARE(list.OverviewValue(2)->text(), QStringLiteral("未设置"));
    QCOMPARE(list.OverviewValue(5)->text(), QStringLiteral("150 秒"));
    QCOMPARE(list.OverviewValue(7)->text(), QStringLiteral("比较上一屏记录"));
    QCOMPARE(list.OverviewValue(9)->text(), QStringLiteral("price>5_并且_名称^a"));
    vexory::test::SaveScreen(list, QStringLiteral("tasklist"));

    // The menu's states follow the selection and the ticks.
    list.List()->setCurrentRow(0);
    list.UpdateMenu();
    const QList<QAction*> actions = list.Menu()->actions();
    QVERIFY(!actions[0]->isEnabled()); // up, at the top
    QVERIFY(actions[1]->isEnabled());

    list.MoveSelected(+1);
    QCOMPARE(itemTexts(list.List()), (QStringList{"1 - 乙", "2 - 甲", "3 - 丙"}));
    // A drop moves the dragged item to the target and renumbers from there.
    QVERIFY(list.List()->model()->moveRows(QModelIndex(), 2, 1, QModelIndex(), 0));
    QCOMPARE(itemTexts(list.List()), (QStringList{"1 - 丙", "2 - 乙", "3 - 甲"}));
    QVERIFY(list.List()->model()->moveRows(QModelIndex(), 0, 1, QModelIndex(), 3));
    QCOMPARE(itemTexts(list.List()), (QStringList{"1 - 乙", "2 - 甲", "3 - 丙"}));
    list.List()->setCurrentRow(1);
    list.CloneSelected(); // clone of 甲 right below it
    QCOMPARE(itemTexts(list.List()), (QStringList{"1 - 乙", "2 - 甲", "3 - 甲", "4 - 丙"}));
    QCOMPARE(account.Tasks.size(), 4u);
    QCOMPARE(account.Tasks[3].Requester.load(), 0); // a clone's run-time fields are zero

    list.List()->setCurrentRow(3);
    list.DeleteSelected(); // the last: the new last is selected
    QCOMPARE(list.List()->currentRow(), 2);
    list.InvertTicks();
    list.List()->item(0)->setCheckState(Qt::Checked);

    // Export asks for the credentials only when there are some, after the file name.
    TempDir dir;
    const QString file = QString::fromStdString(dir.file("out.vxt"));
    list.AskExportFile = [&](const QString& title) {
        g_boxes.shown << title;
        return file;
    };
    account.Nickname = "n";
    account.PasswordDigest = "d";
    g_boxes.answer = QMessageBox::Yes;
    list.ExportTicked();
    QCOMPARE(g_boxes.shown.at(g_boxes.shown.size() - 2), QStringLiteral("2个监控任务另存为"));
    QCOMPARE(g_boxes.shown.last(), QStringLiteral("另存配置文件，是否保存用户名、密码？"));
    TAccountRecord exported;
    QVERIFY(ReadStore(file.toStdString(), exported));
    QCOMPARE(exported.Nickname, std::string("n"));
    QCOMPARE(exported.Tasks.size(), 2u);

    // Import twice appends twice; a bad file is refused.
    QVERIFY(list.ImportFile(file));
    QVERIFY(list.ImportFile(file));
    QCOMPARE(list.List()->count(), 7);
    WriteBytes(dir.file("bad.vxt"), "garbage");
    QVERIFY(!list.ImportFile(QString::fromStdString(dir.file("bad.vxt"))));
    QCOMPARE(g_boxes.shown.last(), QStringLiteral("错误:文件内部错误，无法读取..."));

    // The tasks are as the list shows them: order, ticks, selection.
    list.List()->setCurrentRow(1);
    QCOMPARE(account.Tasks.size(), 7u);
    QCOMPARE(GbkToUtf8(account.Tasks[0].TaskName), std::string("乙"));
    QCOMPARE(account.Tasks[1].Selected, uint8_t{1});
    QCOMPARE(account.Tasks[0].Checked, uint8_t{1});
    QCOMPARE(account.Tasks[1].Checked, uint8_t{0});

    // Modify without a selection.
    list.List()->clearSelection();
    list.List()->setCurrentRow(-1);
    QTest::mouseClick(list.Button(QStringLiteral("修改")), Qt::LeftButton);
    QCOMPARE(g_boxes.shown.last(), QStringLiteral("先选择要修改的任务！"));
    g_boxes.answer = QMessageBox::No;
}

void ShellTest::options()
{
    TAccountRecord account;
    account.AutoEnd = 225;
    account.LoggedIn = 1;
    TForm3 dialog;
    TFrame8& panel = *new TFrame8(account); // the dialog owns it once it holds it
    dialog.SetOptions(&panel);
    dialog.show();
    panel.Load();
    QVERIFY(panel.HoursChoice()->isChecked());
    QCOMPARE(panel.HoursSlider()->value(), 200);
    QVERIFY(panel.LoggedInChoice()->isEnabled() && panel.LoggedInChoice()->isChecked());
    vexory::test::SaveScreen(dialog, QStringLiteral("options"));

    account.AutoEnd = 2;
    panel.Load();
    QVERIFY(panel.ClockChoice()->isChecked());
    QCOMPARE(panel.ClockSlider()->value(), 1);
    QCOMPARE(panel.ClockLabel()->text(), QStringLiteral("1 点整"));
    panel.HoursSlider()->setValue(5);
    QVERIFY(panel.HoursChoice()->isChecked());
    QCOMPARE(panel.HoursLabel()->text(), QStringLiteral("5小时后"));

    // "不启用" with the shutdown box ticked: AutoEnd 0 and bit 0 still set.
    panel.ShutdownAfterEnd()->setChecked(true);
    panel.OffChoice()->setChecked(true);
    QVERIFY(!panel.ShutdownAfterEnd()->isEnabled());
    panel.ShutdownAfterRemote()->setChecked(true);
    panel.Autostart()->setChecked(true);
    QTest::mouseClick(panel.OkButton(), Qt::LeftButton);
    QCOMPARE(account.AutoEnd, uint8_t{0});
    QCOMPARE(account.ShutdownFlags, uint8_t{3});
    QVERIFY(AutostartEnabled());
    const std::string entry = ReadBytes(AutostartEntryPath());
    QVERIFY(entry.find(" autorun\n") != std::string::npos);
    QVERIFY(AutostartEntryPath().rfind(m_config.path(), 0) == 0);
    // An entry left by an older version or another program folder is put right
    // when the box is confirmed again.
    WriteBytes(AutostartEntryPath(), "[Desktop Entry]\nExec=/old/vexory autorun\n");
    panel.Load();
    QVERIFY(panel.Autostart()->isChecked());
    panel.Apply();
    QCOMPARE(ReadBytes(AutostartEntryPath()), entry);
    panel.Autostart()->setChecked(false);
    panel.Apply();
    QVERIFY(!AutostartEnabled());
    std::string error;
    QVERIFY(!CreateAutostartEntry(m_config.file("x.lnk"), "/bin/true", "/", &error));
    // A place that cannot be written says why, in Chinese.
    WriteBytes(m_config.file("file"), "");
    QVERIFY(!CreateAutostartEntry(m_config.file("file/autostart/v.desktop"), "/bin/true", "/", &error));
    QVERIFY2(error.find("无法写入") == 0 && error.find("不是文件夹") != std::string::npos, error.c_str());
    // A relative program folder is written as the whole path it means.
    QVERIFY(CreateAutostartEntry(m_config.file("autostart/rel.desktop"), "/bin/true", "tasks", &error));
    QVERIFY(ReadBytes(m_config.file("autostart/rel.desktop"))
                .find("Path=" + (std::filesystem::current_path() / "tasks").string() + "\n") != std::string::npos);

    // The session starts the entry's command in its folder: the program gets the
    // program folder it was set up from, odd characters and all.
    TempDir folder;
    const std::string home = folder.file("我的 $任务 100%");
    const std::string program = folder.file("prog \"x\".sh");
    WriteBytes(program, "#!/bin/sh\nprintf '%s|%s|%s' \"$VEXORY_HOME\" \"$PWD\" \"$*\" > \"$VEXORY_HOME/started\"\n");
    std::filesystem::permissions(program, std::filesystem::perms::owner_all);
    std::filesystem::create_directories(home);
    const std::string path = m_config.file("autostart/test.desktop");
    QVERIFY(CreateAutostartEntry(path, program, home, &error));
    std::string exec, dir;
    for (const QString& line : QString::fromStdString(ReadBytes(path)).split(QLatin1Char('\n'))) {
        if (line.startsWith(QStringLiteral("Exec=")))
            exec = line.mid(5).replace(QStringLiteral("%%"), QStringLiteral("%")).toStdString();
        if (line.startsWith(QStringLiteral("Path=")))
            dir = line.mid(5).toStdString();
    }
    QCOMPARE(RunCommand("cd " + ShellQuote(dir) + " && env -u VEXORY_HOME sh -c " + ShellQuote(exec)), 0);
    QCOMPARE(ReadBytes(home + "/started"), home + "|" + home + "|autorun");
}

void ShellTest::splashAndRegistration()
{
    TForm3 form;
    form.ShowSplash();
    vexory::test::SaveScreen(form, QStringLiteral("splash"));
    form.hide();
    form.SetRegistration(QStringLiteral("http://127.0.0.1:8086/register"),
                         QStringLiteral("http://127.0.0.1:8086/account"));
    form.show();
    QCOMPARE(form.windowTitle(), QStringLiteral("微信扫码完成注册"));
    QVERIFY(!form.Picture()->pixmap().isNull());
    // The address is under the code as a link, inside the window.
    QVERIFY(form.RegistrationLink()->isVisible());
    QVERIFY(form.RegistrationLink()->text().contains(QStringLiteral("href=\"http://127.0.0.1:8086/register\"")));
    // And the next step: the account page, where results are bound to a phone.
    QVERIFY(form.RegistrationLink()->text().contains(QStringLiteral("href=\"http://127.0.0.1:8086/account\"")));
    QVERIFY(form.rect().contains(form.RegistrationLink()->geometry()));
    vexory::test::SaveScreen(form, QStringLiteral("registration"));
    form.hide();
    form.ShowSplash();
    QVERIFY(!form.RegistrationLink()->isVisible());
}

void ShellTest::phoneBindingIsShownAfterLogin()
{
    TempDir home;
    TAccountRecord account;
    TProcessValues values;
    values.SettingsRead = true;
    values.AutoLogin = false;
    values.StoreLoaded = true;
    values.Server = "vexory.example.com:8086"; // a remote service: its own address, never loopback
    const AppPaths paths = pathsIn(home.path());
    TForm1 form(account, values, paths);
    form.show();
    form.EnterTaskList();
    QVERIFY(!form.TaskList()->PhoneLink()->isVisible()); // not logged in: nothing to bind
    account.LoggedIn = true;
    form.EnterTaskList();
    QLabel* link = form.TaskList()->PhoneLink();
    QVERIFY(link->isVisible());
    QVERIFY(link->text().contains(QStringLiteral("http://vexory.example.com:8086/account")));
    vexory::test::SaveScreen(form, QStringLiteral("tasklist_phone"));

    // A click shows the page's code, to be scanned with the phone.
    bool shown = false;
    QTimer::singleShot(0, this, [&] {
        TForm3* code = form.Form3();
        QTRY_VERIFY(code->isVisible());
        QCOMPARE(code->windowTitle(), QStringLiteral("扫码绑定手机推送"));
        QVERIFY(code->RegistrationLink()->text().contains(QStringLiteral("http://vexory.example.com:8086/account")));
        QCOMPARE(code->Picture()->toolTip(), QStringLiteral("http://vexory.example.com:8086/account"));
        vexory::test::SaveScreen(*code, QStringLiteral("account_code"));
        shown = true;
        code->reject();
    });
    emit link->linkActivated(QStringLiteral("http://vexory.example.com:8086/account"));
    QVERIFY(shown);
    form.close();
}

void ShellTest::startWithoutAStore()
{
    // A new program folder, and one that does not exist yet: an empty list, no box.
    TempDir home;
    for (const std::string& folder : {home.path(), home.file("not/made/yet")}) {
        TAccountRecord account;
        TProcessValues values;
        values.SettingsRead = true;
        values.AutoLogin = false;
        const AppPaths paths = pathsIn(folder);
        {
            TForm1 form(account, values, paths);
            QVERIFY(values.StoreLoaded);
            QVERIFY(account.Tasks.empty());
        }
        // Nothing shown, at the start or at the end, which wrote the first store.
        QVERIFY2(g_boxes.shown.isEmpty(), qPrintable(g_boxes.shown.join(QStringLiteral(" | "))));
        QVERIFY(ReadStore(paths.store, account));
    }
    std::filesystem::remove(home.file("vexory.vxt"));
    // A store that cannot be read is kept aside, and the box says where.
    WriteBytes(home.file("vexory.vxt"), "not a store");
    TAccountRecord account;
    TProcessValues values = OfflineValues(false);
    const AppPaths paths = pathsIn(home.path());
    TForm1 form(account, values, paths);
    QVERIFY2(g_boxes.shown.size() == 1, qPrintable(g_boxes.shown.join(QStringLiteral(" | "))));
    QVERIFY(g_boxes.shown[0].startsWith(QStringLiteral("错误:文件内部错误，无法读取...")));
    QVERIFY(g_boxes.shown[0].contains(QString::fromStdString(home.file("vexory.vxt.bad"))));
    QCOMPARE(ReadBytes(home.file("vexory.vxt.bad")), std::string("not a store"));
}

namespace {

// The tasks' names in the store on disk, in order, with a "+" for a ticked one.
// A store of the tasks 甲, 乙 and 丙 in HOME, as the program finds it at start.
bool storeThreeTasks(const TempDir& home)
{
    TAccountRecord account;
    for (const char* name : {"甲", "乙", "丙"})
        account.Tasks.push_back(task(Utf8ToGbk(name), "http://a/"));
    return WriteStore(account, home.file("vexory.vxt"));
}

QStringList storedNames(const std::string& path)
{
    TAccountRecord stored;
    if (!ReadStore(path, stored))
        return {QStringLiteral("(unreadable)")};
    QStringList names;
    for (const auto& t : stored.Tasks)
        names << FromGbk(t.TaskName) + (t.Checked ? QStringLiteral("+") : QString());
    return names;
}

} // namespace

void ShellTest::everyChangeIsStoredAtOnce()
{
    // Whatever the program does next (a crash, kill -9), the store on disk already
    // holds each change the moment it is made.
    TempDir home;
    QVERIFY(storeThreeTasks(home));
    TAccountRecord loaded;
    TProcessValues values = OfflineValues(false);
    const AppPaths paths = pathsIn(home.path());
    TForm1 form(loaded, values, paths);
    form.show();
    form.EnterTaskList();
    TFrame2* list = form.TaskList();
    const std::string store = paths.store;
    QCOMPARE(storedNames(store), (QStringList{"甲", "乙", "丙"}));

    list->List()->item(1)->setCheckState(Qt::Checked); // a tick, as a click sets it
    QCOMPARE(storedNames(store), (QStringList{"甲", "乙+", "丙"}));
    list->List()->setCurrentRow(0);
    QTest::mouseClick(list->Button(QStringLiteral("删除")), Qt::LeftButton);
    QCOMPARE(storedNames(store), (QStringList{"乙+", "丙"}));
    list->List()->setCurrentRow(1);
    list->Menu()->actions()[0]->trigger(); // up
    QCOMPARE(storedNames(store), (QStringList{"丙", "乙+"}));
    list->Menu()->actions()[2]->trigger(); // tick all
    QCOMPARE(storedNames(store), (QStringList{"丙+", "乙+"}));
    list->List()->setCurrentRow(0);
    list->Menu()->actions()[4]->trigger(); // clone
    QCOMPARE(storedNames(store), (QStringList{"丙+", "丙", "乙+"}));

    QCOMPARE(storedNames(store), (QStringList{"丙+", "丙", "乙+"}));
}

void ShellTest::optionsClosedWithoutOkChangeNothing()
{
    TempDir home;
    TAccountRecord account;
    account.Nickname = "ux";
    account.PasswordDigest = Sha1Hex("pw");
    account.Tasks.push_back(task(Utf8ToGbk("甲"), "http://a/"));
    QVERIFY(WriteStore(account, home.file("vexory.vxt")));
    TAccountRecord loaded;
    TProcessValues values = OfflineValues(false);
    const AppPaths paths = pathsIn(home.path());
    TForm1 form(loaded, values, paths);
    form.show();
    form.EnterTaskList();
    // "重新登录" chosen, then the window closed with its title bar's X: nothing happens.
    QTimer::singleShot(500, [&] {
        form.OptionsPanel()->ReloginChoice()->setChecked(true);
        form.OptionsPanel()->HoursChoice()->setChecked(true);
        form.Form3()->close();
    });
    form.OpenOptions();
    QCOMPARE(loaded.Nickname, std::string("ux"));
    TAccountRecord stored;
    QVERIFY(ReadStore(paths.store, stored));
    QCOMPARE(stored.Nickname, std::string("ux"));
    QCOMPARE(stored.AutoEnd, loaded.AutoEnd);
    // With "确定" and nobody logged in, the stored login is kept too; the choice is stored.
    QTimer::singleShot(500, [&] {
        form.OptionsPanel()->ReloginChoice()->setChecked(true);
        form.OptionsPanel()->HoursChoice()->setChecked(true);
        QTest::mouseClick(form.OptionsPanel()->OkButton(), Qt::LeftButton);
    });
    form.OpenOptions();
    QCOMPARE(loaded.Nickname, std::string("ux"));
    QVERIFY(ReadStore(paths.store, stored));
    QCOMPARE(stored.Nickname, std::string("ux"));
    QCOMPARE(stored.AutoEnd, loaded.AutoEnd);
    QVERIFY(stored.AutoEnd != 0);
}

void ShellTest::terminateWithTheEditorOpenAsksNothing()
{
    TempDir home;
    TAccountRecord account;
    account.Tasks.push_back(task(Utf8ToGbk("甲"), "http://a/"));
    QVERIFY(WriteStore(account, home.file("vexory.vxt")));
    WriteBytes(home.file("dravik.ini"), "[options]\r\ndebugging=1\r\n");
    TAccountRecord loaded;
    TProcessValues values = OfflineValues(false);
    values.Debugging = true;
    const AppPaths paths = pathsIn(home.path());
    TForm1 form(loaded, values, paths);
    form.show();
    form.EnterTaskList();
    form.TaskList()->List()->setCurrentRow(0);
    g_boxes.answer = QMessageBox::No; // were anything asked, "否" would keep the editor open
    // SIGTERM arrives while the editor holds a changed name.
    QTimer::singleShot(800, [&] {
        QVERIFY(form.Form2()->isVisible());
        form.Form2()->Panel()->Edit1->setText(QStringLiteral("改了"));
        form.Terminate();
    });
    form.TaskList()->ModifyClick(); // returns when the editor has closed
    QVERIFY2(g_boxes.shown.isEmpty(), qPrintable(g_boxes.shown.join(QStringLiteral(" | "))));
    QVERIFY(!form.Form2()->isVisible());
    QVERIFY(!form.isVisible());
    TAccountRecord stored;
    QVERIFY(ReadStore(paths.store, stored));
    QCOMPARE(FromGbk(stored.Tasks[0].TaskName), QStringLiteral("甲"));
    const std::string log = ReadBytes(paths.log);
    QVERIFY(log.find(ToGbk(QStringLiteral("编辑器中未保存的内容已放弃"))) != std::string::npos);
}

void ShellTest::closeWhileRunnersAreLaunched()
{
    OneRowSite site;
    TempDir home;
    TAccountRecord account;
    TProcessValues values = OfflineValues(true);
    for (const char* name : {"一", "二", "三"}) {
        account.Tasks.push_back(task(Utf8ToGbk(name), site.url()));
        account.Tasks.back().Checked = 1;
    }
    const AppPaths paths = pathsIn(home.path());
    TForm1 form(account, values, paths);
    form.show();
    form.EnterTaskList();
    // The window closes while the first runner waits for its page: the launch
    // stops there and touches no task of the replaced array (AddressSanitizer
    // builds see any such write).
    QTimer::singleShot(500, &form, [&] { form.close(); });
    QTest::mouseClick(form.TaskList()->Button(QStringLiteral("执行")), Qt::LeftButton);
    QVERIFY(form.Runners().size() < 3);
    TAccountRecord stored;
    QVERIFY(ReadStore(paths.store, stored));
    QCOMPARE(stored.Tasks.size(), 3u);
}

void ShellTest::qtTextsAreChinese()
{
    QVERIFY(LoadQtChinese(*QCoreApplication::instance()));
    QMessageBox box(QMessageBox::Question, QStringLiteral("Vexory"), QStringLiteral("?"),
                    QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel);
    for (auto button : {QMessageBox::Yes, QMessageBox::No, QMessageBox::Cancel}) {
        const QString text = box.button(button)->text();
        QVERIFY2(!text.contains(QLatin1String("Yes")) && !text.contains(QLatin1String("No")) &&
                     !text.contains(QLatin1String("Cancel")),
                 qPrintable(text));
    }
    QCOMPARE(box.button(QMessageBox::Yes)->text().remove(QLatin1Char('&')).left(1), QStringLiteral("是"));
    // The context menu of a text box, as in the runner's log.
    QLineEdit edit;
    std::unique_ptr<QMenu> menu(edit.createStandardContextMenu());
    QStringList items;
    for (QAction* a : menu->actions())
        if (!a->isSeparator())
            items << a->text();
    QVERIFY2(!items.join(QLatin1Char(' ')).contains(QLatin1String("Copy")), qPrintable(items.join(QLatin1Char(' '))));
}

void ShellTest::windowsStayOnScreen()
{
    // Where a window goes, on the screens people have.
    const QRect small(0, 0, 1024, 768 - 32), wide(0, 0, 1400, 900 - 32);
    QCOMPARE(FittedRect(QSize(960, 750), QSize(300, 200), small), QRect(32, 0, 960, 736));
    QCOMPARE(FittedRect(QSize(960, 750), QSize(300, 200), wide), QRect(220, 59, 960, 750));
    QCOMPARE(FittedRect(QSize(1170, 740), QSize(1100, 200), QRect(0, 0, 1024, 736)), QRect(0, 0, 1100, 736));

    // The real windows on this screen (1400 x 900 in the tests).
    const QRect area = QGuiApplication::primaryScreen()->availableGeometry();
    OneRowSite site;
    TempDir home;
    TAccountRecord account;
    TProcessValues values = OfflineValues(true);
    account.Tasks.push_back(task(Utf8ToGbk("一"), site.url()));
    account.Tasks.back().Checked = 1;
    const AppPaths paths = pathsIn(home.path());
    TForm1 form(account, values, paths);
    form.show();
    form.EnterTaskList();
    QVERIFY2(
        area.contains(form.frameGeometry()),
        qPrintable(QStringLiteral("%1,%2 %3x%4").arg(form.x()).arg(form.y()).arg(form.width()).arg(form.height())));
    form.ShowRunView();
    QVERIFY2(
        area.contains(form.frameGeometry()),
        qPrintable(QStringLiteral("%1,%2 %3x%4").arg(form.x()).arg(form.y()).arg(form.width()).arg(form.height())));
    form.Form2()->Panel()->LoadTask(-1);
    QTimer::singleShot(300, [&] {
        QVERIFY(area.contains(form.Form2()->frameGeometry()));
        form.Form2()->Discard();
    });
    form.Form2()->ShowModal();
}

void ShellTest::stopEndsTheRunAndShowsTheList()
{
    OneRowSite site;
    std::atomic<int>& requests = site.requests;
    TempDir home;
    TAccountRecord account;
    TProcessValues values = OfflineValues(true);
    account.Tasks.push_back(task(Utf8ToGbk("一"), site.url()));
    account.Tasks.back().Checked = 1;
    account.Tasks.back().RefreshInterval = 2000;
    const AppPaths paths = pathsIn(home.path());
    TForm1 form(account, values, paths);
    form.show();
    form.EnterTaskList();
    QVERIFY(!form.StopButton()->isVisible());
    for (int run = 0; run < 2; ++run) { // a second run after the stop works as the first
        QTest::mouseClick(form.TaskList()->Button(QStringLiteral("执行")), Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(!form.Runners().empty() && form.Runners()[0]->Running(), 30000);
        const int before = requests;
        QTRY_VERIFY_WITH_TIMEOUT(requests > before, 30000); // it reads the page
        QVERIFY(form.StopButton()->isVisible());
        QTest::mouseClick(form.StopButton(), Qt::LeftButton);
        QVERIFY(form.Runners().empty());
        QVERIFY(form.TaskList()->isVisible());
        QVERIFY(!form.StopButton()->isVisible());
        QCOMPARE(account.StopAll.load(), uint8_t{0});
        QCOMPARE(account.Tasks[0].RunState.load(), uint8_t{RunIdle});
        TAccountRecord stored;
        QVERIFY(ReadStore(paths.store, stored));
        QCOMPARE(stored.Tasks.size(), 1u);
        // Nothing reads any more.
        const int after = requests;
        QTest::qWait(3000);
        QCOMPARE(int(requests), after);
    }
    // "停止" while the runner is still being launched: the launch ends, then the run.
    QTimer::singleShot(300, &form, [&] { form.StopButton()->click(); });
    QTest::mouseClick(form.TaskList()->Button(QStringLiteral("执行")), Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(form.Runners().empty() && form.TaskList()->isVisible(), 30000);
    QCOMPARE(account.StopAll.load(), uint8_t{0});
}

void ShellTest::aSecondRunRefreshesAndEndsByItself()
{
    OneRowSite site;
    TempDir home;
    TAccountRecord account;
    TProcessValues values = OfflineValues(true);
    account.Tasks.push_back(task(Utf8ToGbk("一"), site.url()));
    account.Tasks.back().Checked = 1;
    account.Tasks.back().RefreshInterval = 2000;
    account.AutoEnd = 26; // an hour after the start
    const AppPaths paths = pathsIn(home.path());
    TForm1 form(account, values, paths);
    QSignalSpy ended(&form, &TForm1::RunEnded);
    form.show();
    form.EnterTaskList();
    QString lastClock;
    for (int run = 0; run < 2; ++run) {
        QTest::mouseClick(form.TaskList()->Button(QStringLiteral("执行")), Qt::LeftButton);
        // Nothing of the run before on the status bar.
        QVERIFY(form.StatusPanel(4)->text() != lastClock);
        QCOMPARE(form.StatusPanel(5)->text(), QString());
        QTRY_VERIFY_WITH_TIMEOUT(!form.Runners().empty() && form.Runners()[0]->Running(), 30000);
        // Without a display the banner is not loaded.
        QVERIFY(form.Advert() && form.Advert()->findChildren<QWebEnginePage*>().isEmpty());
        // The status is refreshed: the counts, the clock, and the end it aims at.
        QTRY_VERIFY_WITH_TIMEOUT(form.RunEndTick() != 0, 30000);
        QTRY_COMPARE_WITH_TIMEOUT(form.StatusPanel(2)->text(), QStringLiteral("运行中： [ 1 ]"), 30000);
        QTRY_COMPARE_WITH_TIMEOUT(form.StatusPanel(3)->text(), QStringLiteral("等待中： [ 0 ]"), 30000);
        const QString clock = form.StatusPanel(4)->text();
        QTRY_VERIFY_WITH_TIMEOUT(form.StatusPanel(4)->text() != clock, 30000);
        if (run == 0) {
            form.StatusLine(QStringLiteral("上一次运行的提示"));
            lastClock = form.StatusPanel(4)->text();
            // "停止" while a status refresh is asked for and not yet made.
            emit form.Runners()[0]->StatusChanged(form.Runners()[0]);
            QTest::mouseClick(form.StopButton(), Qt::LeftButton);
        }
    }
    // The second run ends by itself when its time comes.
    form.SetRunEndTick(TickCount() + 1500);
    QTRY_COMPARE_WITH_TIMEOUT(ended.count(), 1, 30000);
    QCOMPARE(ended.first().first().value<TForm1::RunEnd>(), TForm1::RunEnd::AutoEnd);
    QTRY_VERIFY_WITH_TIMEOUT(!form.isVisible(), 30000);
}

void ShellTest::aChainRestartAndACycleEndInOneSecondAreBothKept()
{
    // A linked task asks for its target's start and, within the same second, the
    // target's cycle ends: the start is not lost to the second request.
    TProcessValues values = OfflineValues(true);
    OneRowSite plain;
    TempDir other;
    TAccountRecord two;
    two.Tasks.push_back(task("a", plain.url()));
    two.Tasks.push_back(task("b", plain.url()));
    two.Tasks[0].Checked = 1;
    TForm1 window(two, values, pathsIn(other.path()));
    window.show();
    window.EnterTaskList();
    QTest::mouseClick(window.TaskList()->Button(QStringLiteral("执行")), Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(!window.Runners().empty() && window.Runners()[0]->Running(), 30000);
    TFrame4* first = window.Runners()[0];
    two.Tasks[1].RunState = RunStartRequested;
    emit first->ChainRequest(first, 1);
    emit first->ChainDone(first);
    QTRY_COMPARE_WITH_TIMEOUT(static_cast<int>(window.Runners().size()), 2, 30000);
    window.close();
}

void ShellTest::twoChainPairsKeepGoingForManyCycles()
{
    // Two lists, each growing by a row at every read; each new row's link goes to
    // the list's own detail task, whose answer the list reports. Every row of both
    // lists comes back with its price: no restart request is lost on the way.
    std::atomic<int> reads[2] = {};
    TestHttpServer site;
    for (int list = 0; list < 2; ++list)
        site.routes().Get("/list" + std::to_string(list), [&, list](const httplib::Request&, httplib::Response& res) {
            const int n = ++reads[list];
            std::string rows;
            for (int i = 1; i <= n; ++i) {
                const std::string item = std::to_string(list) + "-" + std::to_string(i);
                rows += "<li><b>" + item + "</b><i>" + site.url("/detail/" + item) + "</i></li>";
            }
            res.set_content("<html><body><ul>" + rows + "</ul></body></html>", "text/html; charset=utf-8");
        });
    site.routes().Get(R"(/detail/([\w-]+))", [](const httplib::Request& req, httplib::Response& res) {
        res.set_content("<html><body><p>price of " + std::string(req.matches[1]) + "</p></body></html>",
                        "text/html; charset=utf-8");
    });
    site.start();
    TempDir home;
    TAccountRecord account;
    TProcessValues values = OfflineValues(true);
    for (int list = 0; list < 2; ++list) {
        const std::string detail = "detail" + std::to_string(list);
        account.Tasks.push_back(task("list" + std::to_string(list), site.url("/list" + std::to_string(list))));
        account.Tasks.back().GrabFormula = "<li><b>{>item<}</b><i>{>link<}</i></li>(>link@" + detail + "<)";
        account.Tasks.push_back(task(detail, ""));
        account.Tasks.back().GrabFormula = "<p>{>price<}</p>";
    }
    for (auto& t : account.Tasks) {
        t.Checked = t.TaskName.rfind("list", 0) == 0 ? 1 : 0;
        t.RefreshInterval = 1500;
        t.VerifyFormula.clear();
    }
    const AppPaths paths = pathsIn(home.path());
    TForm1 form(account, values, paths);
    form.show();
    form.EnterTaskList();
    QTest::mouseClick(form.TaskList()->Button(QStringLiteral("执行")), Qt::LeftButton);
    auto memoOf = [&](const char* name) {
        for (TFrame4* r : form.Runners())
            if (account.Tasks[static_cast<size_t>(r->TaskIndex())].TaskName == name)
                return r->Memo1()->toPlainText();
        return QString();
    };
    constexpr int kCycles = 4;
    for (int list = 0; list < 2; ++list)
        for (int i = 2; i <= kCycles; ++i)
            QTRY_VERIFY2_WITH_TIMEOUT(
                memoOf(list ? "list1" : "list0").contains(QStringLiteral("price=price of %1-%2").arg(list).arg(i)),
                qPrintable(QStringLiteral("list %1, row %2").arg(list).arg(i)), 120000);
    QCOMPARE(static_cast<int>(form.Runners().size()), 4);
    form.close();
}

void ShellTest::withoutTheMultiTaskRightTheTasksLeftAreNamed()
{
    OneRowSite site;
    TempDir home;
    TAccountRecord account;
    account.LoggedIn = true; // without the multi-task right
    for (const char* name : {"甲", "乙", "丙"}) {
        account.Tasks.push_back(task(Utf8ToGbk(name), site.url()));
        account.Tasks.back().Checked = 1;
    }
    TProcessValues values = OfflineValues(true);
    TForm1 form(account, values, pathsIn(home.path()));
    form.show();
    form.EnterTaskList();
    QTest::mouseClick(form.TaskList()->Button(QStringLiteral("执行")), Qt::LeftButton);
    QTRY_COMPARE_WITH_TIMEOUT(static_cast<int>(form.Runners().size()), 1, 30000);
    QVERIFY(
        g_boxes.shown.contains(QStringLiteral("您的账户没有多任务权限：只运行“甲”，其余勾选的任务不会运行：乙、丙")));
    form.close();
}

void ShellTest::aFailedStoreWriteIsShownInChinese()
{
    // The program folder's place is taken by a file: no store can be written there.
    TempDir home;
    WriteBytes(home.file("taken"), "a file, not a folder");
    TAccountRecord account;
    account.Tasks.push_back(task(Utf8ToGbk("甲"), "http://a/"));
    TProcessValues values = OfflineValues(true);
    const std::string folder = home.file("taken");
    const AppPaths paths = pathsIn(folder);
    {
        TForm1 form(account, values, paths);
        form.show();
        form.EnterTaskList();
        form.TaskList()->List()->item(0)->setCheckState(Qt::Checked);
        QCOMPARE(g_boxes.shown.size(), 1);
        QVERIFY2(g_boxes.shown[0].startsWith(QStringLiteral("错误：任务文件保存失败")), qPrintable(g_boxes.shown[0]));
        QVERIFY(form.StatusPanel(5)->text().contains(QStringLiteral("任务文件保存失败")));
    }
    // At the end of the program too.
    QCOMPARE(g_boxes.shown.size(), 2);
    QVERIFY(g_boxes.shown[1].startsWith(QStringLiteral("错误：任务文件保存失败")));
}

void ShellTest::mainWindowRunView()
{
    TestHttpServer site;
    site.routes().Get("/list", [](const httplib::Request&, httplib::Response& res) {
        res.set_content("<html><body><table><tr><td>苹果</td><td>5</td></tr></table></body></html>",
                        "text/html; charset=utf-8");
    });
    site.start();
    TempDir home;
    TAccountRecord account;
    TProcessValues values = OfflineValues(false);
    account.Tasks.push_back(task("列表一", site.url("/list")));
    account.Tasks.push_back(task("列表二", site.url("/list")));
    for (auto& t : account.Tasks) {
        t.TaskName = Utf8ToGbk(t.TaskName);
        t.Checked = 1;
        t.RefreshInterval = 3000;
    }
    values.StoreLoaded = true;
    const AppPaths paths = pathsIn(home.path());
    TForm1 form(account, values, paths);
    form.show();
    QVERIFY(form.windowTitle().contains(QStringLiteral("未登录")));
    QCOMPARE(form.StatusPanel(0)->text(), QStringLiteral("未登录"));
    form.EnterTaskList();
    QVERIFY(form.TaskList() != nullptr);
    QTest::mouseClick(form.TaskList()->Button(QStringLiteral("执行")), Qt::LeftButton);
    QTRY_COMPARE_WITH_TIMEOUT(static_cast<int>(form.Runners().size()), 2, 30000);
    QTRY_VERIFY_WITH_TIMEOUT(form.Runners()[1]->Running(), 30000);
    QTRY_VERIFY_WITH_TIMEOUT(form.StatusPanel(4)->text().contains(QStringLiteral("∞:∞:∞")), 30000);
    QCOMPARE(form.Tabs()->count(), 2);
    QCOMPARE(form.Tabs()->tabText(0), QStringLiteral("列表一"));
    QTRY_VERIFY_WITH_TIMEOUT(!form.Runners()[1]->Memo1()->toPlainText().trimmed().isEmpty(), 30000);
    form.resize(1200, 700);
    vexory::test::SaveScreen(form, QStringLiteral("runview"));
    TAccountRecord stored; // the run start wrote the store
    QVERIFY(ReadStore(paths.store, stored));
    QCOMPARE(stored.Tasks.size(), 2u);
    form.close();
    QVERIFY(account.StopAll);
}

int main(int argc, char** argv)
{
    return vexory::test::RunGuiTest<ShellTest>(argc, argv);
}

#include "shell_test.moc"

void ShellTest::aTaskDraggedInTheListMovesOrStays()
{
    if (QGuiApplication::platformName() != QLatin1String("xcb"))
        QSKIP("a drag needs a window system: ctest runs this under Xvfb (shell_tests_drag)");
    TempDir home;
    QVERIFY(storeThreeTasks(home));
    TAccountRecord loaded;
    TProcessValues values = OfflineValues(false);
    const AppPaths paths = pathsIn(home.path());
    TForm1 form(loaded, values, paths);
    form.show();
    form.EnterTaskList();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    QListWidget* list = form.TaskList()->List();
    QWidget* view = list->viewport();
    // Presses on a row, moves past the drag distance (the list starts its drag and
    // runs the drag's own loop), and lets go at TO from within that loop.
    auto drag = [&](int row, QPoint to) {
        const QPoint start = list->visualItemRect(list->item(row)).center();
        QTest::mouseMove(view, start);
        QTest::qWait(300); // not a double click of the last drag's release
        QTimer::singleShot(200, view, [view, to] {
            QTest::mouseMove(view, to);
            QTest::mouseMove(view, to + QPoint(1, 0));
            QTest::mouseRelease(view, Qt::LeftButton, {}, to + QPoint(1, 0));
        });
        QTest::mousePress(view, Qt::LeftButton, {}, start);
        QTest::mouseMove(view, start + QPoint(0, QApplication::startDragDistance() + 4));
        QTest::mouseMove(view, start + QPoint(0, 2 * QApplication::startDragDistance() + 8));
    };
    // Onto the last row: the first task moves there.
    drag(0, list->visualItemRect(list->item(2)).center() + QPoint(0, 2));
    QTRY_COMPARE(itemTexts(list), (QStringList{"1 - 乙", "2 - 丙", "3 - 甲"}));
    QCOMPARE(storedNames(paths.store), (QStringList{"乙", "丙", "甲"}));
    // Below the last row, on no row: it stays where it was.
    const QPoint below(10, view->height() - 3);
    QVERIFY(!list->indexAt(below).isValid());
    drag(0, below);
    QTest::qWait(500);
    QCOMPARE(itemTexts(list), (QStringList{"1 - 乙", "2 - 丙", "3 - 甲"}));
    QCOMPARE(storedNames(paths.store), (QStringList{"乙", "丙", "甲"}));
}

void ShellTest::theOptionsPanelGoesWithTheWindow()
{
    // Never opened, the options panel still goes with the main window.
    TempDir home;
    TAccountRecord loaded;
    TProcessValues values = OfflineValues(false);
    auto* form = new TForm1(loaded, values, pathsIn(home.path()));
    QPointer<QWidget> options = form->OptionsPanel();
    QVERIFY(options);
    delete form;
    QVERIFY(options.isNull());
}
