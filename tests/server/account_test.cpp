// The account page as people and forgers use it: sessions, CSRF tokens, foreign
// origins, guessers, a password change, deleting the account, and the banner
// that tells the program's user whether results reach a phone.

#include "support/build_paths.h"
#include "support/channel_standins.h"

#include "base/encoding.h"
#include "service/service_client.h"
#include "support/server_process.h"
#include "support/service_helpers.h"

#include <gtest/gtest.h>

using namespace vexory;
using namespace vexory::test;

namespace {

int status(const httplib::Result& r)
{
    return r ? r->status : 0;
}

} // namespace

TEST(ServiceAccount, ForgedFormsForeignOriginsAndGuessersAreRefused)
{
    ServerProcess server(VEXORY_SERVER_PATH);
    ASSERT_TRUE(server.ok());
    ASSERT_EQ(server.addUser("carol", "pw1"), 0);
    AccountBrowser browser(server.port());
    // Logged out, the page is the login form; a wrong password says so and nothing more.
    const httplib::Result form = browser.get("/account");
    ASSERT_EQ(status(form), 200);
    EXPECT_NE(form->body.find("登录 Vexory 账户"), std::string::npos);
    EXPECT_NE(form->get_header_value("Content-Security-Policy").find("frame-ancestors 'none'"), std::string::npos);
    const std::string login = std::string("csrf=") + kFormToken + "&nick=carol&password=";
    EXPECT_NE(browser.post("/account/login", login + "nope")->body.find("昵称或密码不对"), std::string::npos);
    // A login form without its token (another site's page) is refused.
    EXPECT_EQ(status(browser.post("/account/login", "nick=carol&password=pw1")), 403);
    const httplib::Result in = browser.post("/account/login", login + "pw1");
    ASSERT_EQ(status(in), 303);
    const std::string cookie = in->get_header_value("Set-Cookie");
    EXPECT_NE(cookie.find("HttpOnly"), std::string::npos);
    EXPECT_NE(cookie.find("SameSite=Lax"), std::string::npos);
    EXPECT_NE(browser.get("/account")->body.find("还没有绑定推送渠道"), std::string::npos);

    // A form with another token, or sent from another origin, changes nothing.
    const std::string channel = "&kind=ntfy&topic=t1";
    EXPECT_EQ(status(browser.post("/account/channels", "csrf=0000" + channel)), 403);
    EXPECT_EQ(status(browser.post("/account/channels", "csrf=" + browser.csrf() + channel,
                                  {{"Origin", "http://evil.example"}})),
              403);
    EXPECT_EQ(browser.get("/account")->body.find("ntfy</b>"), std::string::npos);
    EXPECT_EQ(status(browser.post("/account/channels", "csrf=" + browser.csrf() + channel,
                                  {{"Origin", "http://" + server.host()}})),
              303);
    EXPECT_NE(browser.get("/account")->body.find("ntfy</b>"), std::string::npos);

    // A guesser at one address soon waits its turn, as at the program's login.
    AccountBrowser guesser(server.port());
    int refused = 0;
    for (int i = 0; i < 12 && refused == 0; ++i)
        refused += status(guesser.post("/account/login", login + "guess" + std::to_string(i))) == 429;
    EXPECT_EQ(refused, 1);
}

TEST(ServiceAccount, PasswordChangeLogsOutOtherBrowsersAndDeletionRemovesEverything)
{
    ChannelStandIns apis;
    ServerProcess server(VEXORY_SERVER_PATH, {"--channel-api", apis.apiOption()});
    ASSERT_TRUE(server.ok());
    AccountBrowser phone(server.port()), desk(server.port());
    ASSERT_EQ(status(phone.post("/register", registerForm("erin", "pw1", "pw1"))), 303);
    // Registration and the program's login panel take the same passwords.
    const httplib::Result odd = desk.post("/register", registerForm("odd", "abc-123!", "abc-123!"));
    EXPECT_NE(odd->body.find("仅限数字和大小写字母"), std::string::npos);
    ASSERT_EQ(status(desk.post("/account/login", std::string("csrf=") + kFormToken + "&nick=erin&password=pw1")), 303);

    // The banner the program shows: no phone promised before a channel is bound.
    TAccountRecord a = account("erin", "pw1");
    ASSERT_TRUE(loggedIn(a, server.host()));
    httplib::Client client = PatientClient(server.port());
    const std::string advert = "/advert.php?nick=" + Base64UrlEncode("erin") + "&n=" + std::to_string(a.UserNumber);
    EXPECT_NE(client.Get(advert)->body.find("还没有绑定推送渠道：在手机上打开 http://" + server.host() + "/account"),
              std::string::npos);
    EXPECT_EQ(client.Get("/advert.php?nick=" + Base64UrlEncode("erin") + "&n=1")->body.find("推送到您的手机"),
              std::string::npos);
    // A channel that fails is no promise either; the test button keeps to one a minute.
    ASSERT_EQ(phone.addChannel("gotify", {{"server", "http://127.0.0.1:1"}, {"token", "t"}}), "/account?m=added");
    const httplib::Result failed = phone.post("/account/channels/test", "csrf=" + phone.csrf() + "&id=1");
    EXPECT_EQ(failed->get_header_value("Location"), "/account?m=testfailed");
    EXPECT_NE(phone.get("/account")->body.find("无法连接（对方拒绝连接或网络不通）"), std::string::npos);
    EXPECT_NE(client.Get(advert)->body.find("推送渠道都发送失败了"), std::string::npos);
    EXPECT_EQ(phone.post("/account/channels/test", "csrf=" + phone.csrf() + "&id=1")->get_header_value("Location"),
              "/account?m=testwait");
    ASSERT_EQ(phone.addChannel("telegram", {{"token", "123456:telegram-token"}, {"chat_id", "42"}}),
              "/account?m=added");
    EXPECT_NE(client.Get(advert)->body.find("新记录会推送到您的手机"), std::string::npos);

    // A test message from the page reaches the phone, and the page says so.
    const httplib::Result tested = phone.post("/account/channels/test", "csrf=" + phone.csrf() + "&id=2");
    EXPECT_EQ(tested->get_header_value("Location"), "/account?m=tested");
    ASSERT_EQ(apis.count("telegram"), 1u);
    EXPECT_NE(apis.got("telegram")[0].text.find("测试消息"), std::string::npos);

    // A new password: the other browser is logged out, this one goes on, the program logs in with it.
    const std::string change = "csrf=" + phone.csrf() + "&old=pw1&new=pw2&new2=pw2";
    EXPECT_EQ(phone.post("/account/password", change)->get_header_value("Location"), "/account?m=password");
    EXPECT_NE(phone.get("/account?m=password")->body.find("密码已修改"), std::string::npos);
    EXPECT_NE(desk.get("/account")->body.find("登录 Vexory 账户"), std::string::npos);
    TAccountRecord changed = account("erin", "pw2");
    EXPECT_TRUE(loggedIn(changed, server.host()));

    // Deleting needs the password and the tick; then nothing of the account is left.
    EXPECT_EQ(phone.post("/account/delete", "csrf=" + phone.csrf() + "&password=pw2")->get_header_value("Location"),
              "/account?m=notsure");
    const httplib::Result gone = phone.post("/account/delete", "csrf=" + phone.csrf() + "&password=pw2&sure=1");
    EXPECT_NE(gone->body.find("账户已删除"), std::string::npos);
    std::string users;
    ASSERT_EQ(server.admin("user list", &users), 0);
    EXPECT_EQ(users, "");
    EXPECT_NE(phone.get("/account")->body.find("登录 Vexory 账户"), std::string::npos);
}
