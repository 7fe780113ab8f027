// The service's account page as a new user meets it, in the program's own browser
// engine at a phone's width: register, land on the account page, bind a channel,
// send a test, and get the next record on the phone; pictures of each step.

#include "platform/codepage.h"
#include "service/service_client.h"
#include "support/build_paths.h"
#include "support/channel_standins.h"
#include "support/gui_main.h"
#include "support/server_process.h"
#include "support/service_helpers.h"

#include <QSignalSpy>
#include <QTest>
#include <QUrl>
#include <QVariant>
#include <QWebEnginePage>
#include <QWebEngineView>

#include <chrono>

using namespace vexory;
using namespace vexory::test;

namespace {

// Runs a script in the page and waits for its value.
QVariant evaluate(QWebEngineView& view, const QString& script)
{
    QVariant result;
    bool done = false;
    view.page()->runJavaScript(script, [&](const QVariant& v) {
        result = v;
        done = true;
    });
    if (!QTest::qWaitFor([&] { return done; }, 30000))
        return {};
    return result;
}

QString text(QWebEngineView& view)
{
    return evaluate(view, QStringLiteral("document.body.innerText")).toString();
}

// Types into the fields the way a person fills them, then presses the form's button.
void fillAndSubmit(QWebEngineView& view, const QList<QPair<QString, QString>>& fields, const QString& button)
{
    QString script;
    for (const auto& [id, value] : fields)
        script += QStringLiteral("document.getElementById(%1).value = %2;")
                      .arg(QStringLiteral("'%1'").arg(id), QStringLiteral("'%1'").arg(value));
    QSignalSpy loaded(view.page(), &QWebEnginePage::loadFinished);
    evaluate(view, script + QStringLiteral("document.querySelector(%1).click(); true").arg(button));
    QVERIFY(loaded.wait(30000));
}

void open(QWebEngineView& view, const QString& url)
{
    QSignalSpy loaded(view.page(), &QWebEnginePage::loadFinished);
    view.load(QUrl(url));
    QVERIFY(loaded.wait(30000));
    QCOMPARE(loaded.first().first().toBool(), true);
}

} // namespace

class AccountPageTest : public QObject
{
    Q_OBJECT

private slots:
    void aNewUserBindsAChannelAndGetsTheNextRecord();
};

void AccountPageTest::aNewUserBindsAChannelAndGetsTheNextRecord()
{
    ChannelStandIns apis;
    ServerProcess server(VEXORY_SERVER_PATH, {"--channel-api", apis.apiOption(), "--merge-ms", "300"});
    QVERIFY(server.ok());
    const QString site = QStringLiteral("http://") + QString::fromStdString(server.host());

    // A phone's screen: 390 x 844 points.
    QWebEngineView view;
    view.resize(390, 844);
    view.show();
    open(view, site + QStringLiteral("/register"));
    SaveScreen(view, QStringLiteral("account_register_phone"));
    fillAndSubmit(view,
                  {{QStringLiteral("nick"), QStringLiteral("小明")},
                   {QStringLiteral("password"), QStringLiteral("abc123")},
                   {QStringLiteral("password2"), QStringLiteral("abc123")}},
                  QStringLiteral("'button[type=submit]'"));
    QTRY_COMPARE_WITH_TIMEOUT(view.url().path(), QStringLiteral("/account"), 30000);
    QVERIFY(text(view).contains(QStringLiteral("注册成功")));
    QVERIFY(text(view).contains(QStringLiteral("还没有绑定推送渠道")));
    SaveScreen(view, QStringLiteral("account_welcome_phone"));

    // The page's own link to a channel's form, then the robot's address pasted in.
    QSignalSpy loaded(view.page(), &QWebEnginePage::loadFinished);
    evaluate(view, QStringLiteral("document.querySelector('a[href=\"/account/add?kind=wecom\"]').click(); true"));
    QVERIFY(loaded.wait(30000));
    QVERIFY(text(view).contains(QStringLiteral("企业微信群机器人")));
    fillAndSubmit(
        view,
        {{QStringLiteral("key"), QStringLiteral("https://qyapi.weixin.qq.com/cgi-bin/webhook/send?key=wecom-key-1")}},
        QStringLiteral("'button[type=submit]'"));
    QVERIFY(text(view).contains(QStringLiteral("渠道已添加")));
    QVERIFY(!text(view).contains(QStringLiteral("wecom-key-1"))); // the key is never shown back
    fillAndSubmit(view, {}, QStringLiteral("'form[action=\"/account/channels/test\"] button'"));
    QVERIFY(text(view).contains(QStringLiteral("测试消息已发送")));
    QCOMPARE(apis.count("wecom"), 1u);
    SaveScreen(view, QStringLiteral("account_channel_phone"));

    // Out, and in again as on another day.
    fillAndSubmit(view, {}, QStringLiteral("'form[action=\"/account/logout\"] button'"));
    QVERIFY(text(view).contains(QStringLiteral("登录 Vexory 账户")));
    fillAndSubmit(
        view, {{QStringLiteral("nick"), QStringLiteral("小明")}, {QStringLiteral("password"), QStringLiteral("nope1")}},
        QStringLiteral("'button[type=submit]'"));
    QVERIFY(text(view).contains(QStringLiteral("昵称或密码不对")));
    SaveScreen(view, QStringLiteral("account_login_phone"));
    fillAndSubmit(view, {{QStringLiteral("password"), QStringLiteral("abc123")}},
                  QStringLiteral("'button[type=submit]'"));
    QVERIFY(text(view).contains(QStringLiteral("企业微信群机器人 · 已启用")));

    // The program logs in with the same nickname and password and pushes a record.
    TAccountRecord a = account(Utf8ToGbk("小明"), "abc123");
    QVERIFY(loggedIn(a, server.host()));
    const auto pushed = std::chrono::steady_clock::now();
    QVERIFY(acknowledged(push(a, server.host(), Utf8ToGbk("价格=學門關 12 元\r\n"))));
    QTRY_COMPARE_WITH_TIMEOUT(apis.count("wecom"), 2u, 30000);
    std::printf("the record reached the robot %.2f s after the push\n",
                std::chrono::duration<double>(std::chrono::steady_clock::now() - pushed).count());
    QVERIFY(QString::fromStdString(apis.got("wecom")[1].text).contains(QStringLiteral("价格=學門關 12 元")));
    open(view, site + QStringLiteral("/account"));
    QVERIFY(text(view).contains(QStringLiteral("企业微信群机器人：已发送")));
    SaveScreen(view, QStringLiteral("account_delivered_phone"));
    evaluate(view, QStringLiteral("window.scrollTo(0, document.body.scrollHeight); true"));
    SaveScreen(view, QStringLiteral("account_bottom_phone"));
}

int main(int argc, char** argv)
{
    return vexory::test::RunGuiTest<AccountPageTest>(argc, argv);
}

#include "account_page_test.moc"
