// Results on their owners' phones: every channel against a stand-in of its API,
// set up through the account page; merging and pacing; the messages' shape; and
// the addresses the forwarders refuse to call.

#include "support/channel_standins.h"

#include "channels.h"
#include "outbound.h"
#include "platform/codepage.h"
#include "service/service_client.h"
#include "support/server_process.h"
#include "support/service_helpers.h"

#include <gtest/gtest.h>

#include <chrono>
#include <regex>

using namespace vexory;
using namespace vexory::test;
using server::ChannelConfig;
using server::FindChannelType;

namespace {

constexpr const char* kRecords = "名称=學門關龘靐齉\r\n价格=3\r\n\r\n名称=囧槑\r\n价格=4\r\n";

// A server whose channels all lead to the stand-ins and whose mail goes to the sink.
std::vector<std::string> serverOptions(const ChannelStandIns& apis, const MailSink* mail, const char* mergeMs)
{
    std::vector<std::string> o = {"--channel-api", apis.apiOption(), "--merge-ms", mergeMs};
    if (mail)
        o.insert(o.end(), {"--smtp-url", "smtp://127.0.0.1:" + std::to_string(mail->port()), "--smtp-from",
                           "vexory@example.com"});
    return o;
}

void registerThrough(AccountBrowser& browser, const std::string& nick, const std::string& password)
{
    const httplib::Result r = browser.post("/register", registerForm(nick, password, password));
    ASSERT_TRUE(r);
    ASSERT_EQ(r->status, 303) << r->body;
    ASSERT_FALSE(browser.cookies()["vexory_session"].empty());
}

} // namespace

TEST(ChannelMessages, CutToTheLimitSayingSoAndCounted)
{
    EXPECT_EQ(server::CountRecords(kRecords), 2);
    EXPECT_EQ(server::CountRecords("a=1\r\n\r\n\r\nb=2\r\n\r\n"), 2);
    EXPECT_EQ(server::CountRecords(""), 0);

    const server::ResultText r{1, "alice", "任务甲", "http://example.com/list", kRecords};
    const server::ChannelMessage whole = server::ComposeMessage({r}, 4000);
    EXPECT_EQ(whole.title, "Vexory「任务甲」2 条新记录");
    EXPECT_NE(whole.text.find("网页：http://example.com/list"), std::string::npos);
    EXPECT_NE(whole.text.find("名称=囧槑\n价格=4"), std::string::npos);

    std::string many;
    for (int i = 0; i < 500; ++i)
        many += "名称=第" + std::to_string(i) + "条學門關\r\n\r\n";
    const server::ResultText big{2, "alice", "大任务", "http://example.com/big", many};
    for (size_t limit : {300u, 2000u, 4000u}) {
        const server::ChannelMessage cut = server::ComposeMessage({big, r}, limit, "https://v.example/inbox/t");
        EXPECT_LE(cut.text.size(), limit);
        EXPECT_NE(cut.text.find("已截断；共 502 条新记录，全文见 https://v.example/inbox/t"), std::string::npos);
        EXPECT_NE(cut.text.find("网页：http://example.com/big"), std::string::npos); // the address survives
        EXPECT_TRUE(Utf8ToGbkStrict(cut.text).has_value());                          // no character cut
    }
    EXPECT_EQ(server::ComposeMessage({big, r}, 4000).title, "Vexory 502 条新记录（2 个结果）");
}

TEST(ChannelMessages, SettingsTakenFromPastedAddressesAndSecretsNeverShown)
{
    ChannelConfig wecom{{"key", " https://qyapi.weixin.qq.com/cgi-bin/webhook/send?key=693a91f6-7xxx-4bc4-97a0 "}};
    EXPECT_EQ(server::CheckChannelConfig(*FindChannelType("wecom"), wecom), "");
    EXPECT_EQ(wecom["key"], "693a91f6-7xxx-4bc4-97a0");
    ChannelConfig lark{{"token", "https://open.larksuite.com/open-apis/bot/v2/hook/abc-123"}, {"secret", ""}};
    EXPECT_EQ(server::CheckChannelConfig(*FindChannelType("feishu"), lark), "");
    EXPECT_EQ(lark["token"], "abc-123");
    EXPECT_EQ(lark["region"], "lark");
    EXPECT_EQ(lark.count("secret"), 0u);
    ChannelConfig ding{{"token", "https://oapi.dingtalk.com/robot/send?access_token=tok"}, {"secret", "SECxyz"}};
    EXPECT_EQ(server::CheckChannelConfig(*FindChannelType("dingtalk"), ding), "");
    EXPECT_EQ(ding["token"], "tok");

    ChannelConfig missing{{"server", "https://ntfy.sh"}};
    EXPECT_NE(server::CheckChannelConfig(*FindChannelType("ntfy"), missing).find("主题"), std::string::npos);
    ChannelConfig badChat{{"token", "1:a"}, {"chat_id", "me"}};
    EXPECT_NE(server::CheckChannelConfig(*FindChannelType("telegram"), badChat), "");
    ChannelConfig badMail{{"address", "a@b"}};
    EXPECT_NE(server::CheckChannelConfig(*FindChannelType("email"), badMail), "");
    ChannelConfig injected{{"address", "a@b.cn>\r\nBcc: x@y.cn"}};
    EXPECT_NE(server::CheckChannelConfig(*FindChannelType("email"), injected), "");
    ChannelConfig ftp{{"url", "ftp://example.com/x"}};
    EXPECT_NE(server::CheckChannelConfig(*FindChannelType("webhook"), ftp), "");

    const ChannelConfig secret{{"token", "123456:ABCDEFGHIJKLMNOP"}, {"chat_id", "42"}};
    const std::string shown = server::DescribeChannel(*FindChannelType("telegram"), secret);
    EXPECT_EQ(shown.find("ABCDEFGHIJKLMNOP"), std::string::npos) << shown;
    EXPECT_NE(shown.find("42"), std::string::npos);
    const ChannelConfig hook{{"url", "https://hooks.example.com/T000/B000/secretpart"}};
    EXPECT_EQ(server::DescribeChannel(*FindChannelType("webhook"), hook).find("secretpart"), std::string::npos);
}

TEST(Outbound, OwnNetworkRefusedAfterResolutionAndRedirects)
{
    server::OutboundPolicy policy;
    for (const char* a : {"127.0.0.1", "127.8.9.10", "10.1.2.3", "172.16.0.1", "172.31.255.255", "192.168.1.1",
                          "169.254.169.254", "100.64.0.1", "0.0.0.0", "::1", "::", "fe80::1", "fd00::1",
                          "::ffff:127.0.0.1", "::ffff:10.0.0.1", "224.0.0.1", "ff02::1"})
        EXPECT_NE(policy.RefusalOf(a), "") << a;
    for (const char* a : {"8.8.8.8", "1.1.1.1", "172.32.0.1", "2001:4860:4860::8888"})
        EXPECT_EQ(policy.RefusalOf(a), "") << a;

    // A name that resolves to loopback is refused where the connection is made.
    TestHttpServer target;
    std::atomic<int> hits{0};
    target.routes().Post("/x", [&](const httplib::Request&, httplib::Response& res) {
        ++hits;
        res.set_content(std::string(100 << 10, 'a'), "text/plain");
    });
    target.start();
    server::OutboundRequest q;
    q.url = "http://localhost:" + std::to_string(target.port()) + "/x";
    server::OutboundAnswer a = server::CallOut(policy, q);
    EXPECT_FALSE(a.done);
    EXPECT_NE(a.error.find("拒绝连接"), std::string::npos) << a.error;
    EXPECT_EQ(policy.CheckHost("localhost").find("localhost 是"), 0u);

    // An allowed address that redirects to a refused one.
    TestHttpServer redirector;
    redirector.routes().Post(
        "/go", [&](const httplib::Request&, httplib::Response& res) { res.set_redirect(target.url("/x"), 307); });
    redirector.start("127.0.0.2");
    ASSERT_TRUE(policy.Allow("127.0.0.2/32", nullptr));
    q.url = redirector.url("/go");
    a = server::CallOut(policy, q);
    EXPECT_FALSE(a.done);
    EXPECT_NE(a.error.find("拒绝连接"), std::string::npos) << a.error;
    EXPECT_EQ(hits.load(), 0);

    // Allowed, the answer is cut off at its limit.
    ASSERT_TRUE(policy.Allow("127.0.0.1", nullptr));
    q.url = target.url("/x");
    a = server::CallOut(policy, q);
    EXPECT_FALSE(a.done);
    EXPECT_NE(a.error.find("回答超过"), std::string::npos) << a.error;
    EXPECT_FALSE(policy.Allow("10.0.0.0/33", nullptr));
    EXPECT_FALSE(policy.Allow("example.com", nullptr));
    hits = 0;

    // The account page refuses such an address before it is ever called.
    ServerProcess server(VEXORY_SERVER_PATH, {"--forward-allow", ""});
    ASSERT_TRUE(server.ok());
    AccountBrowser browser(server.port());
    registerThrough(browser, "dave", "pw1");
    EXPECT_EQ(browser.addChannel("webhook", {{"url", target.url("/x")}}), "");
    EXPECT_EQ(browser.addChannel("gotify", {{"server", "http://10.0.0.7"}, {"token", "t"}}), "");
    const httplib::Result refused =
        browser.post("/account/channels", "csrf=" + browser.csrf() + "&kind=webhook&url=" + target.url("/x"));
    ASSERT_TRUE(refused);
    EXPECT_NE(refused->body.find("这个地址不能使用"), std::string::npos);
    EXPECT_EQ(hits.load(), 0);
}

TEST(ServiceChannels, EachChannelGetsTheNextRecordAsItsApiWants)
{
    ChannelStandIns apis;
    MailSink mail;
    ASSERT_TRUE(mail.ok());
    ServerProcess server(VEXORY_SERVER_PATH, serverOptions(apis, &mail, "200"));
    ASSERT_TRUE(server.ok());
    AccountBrowser browser(server.port());
    registerThrough(browser, "alice", "pw1");

    // A new user binds every kind there is, as the account page offers them.
    const std::map<std::string, std::map<std::string, std::string>> bind = {
        {"wecom", {{"key", "https://qyapi.weixin.qq.com/cgi-bin/webhook/send?key=wecom-key-1"}}},
        {"dingtalk",
         {{"token", "https://oapi.dingtalk.com/robot/send?access_token=dingtalk-token-1"},
          {"secret", ChannelStandIns::kDingTalkSecret}}},
        {"feishu",
         {{"token", "https://open.feishu.cn/open-apis/bot/v2/hook/feishu-token-1"},
          {"secret", ChannelStandIns::kFeishuSecret}}},
        {"serverchan", {{"sendkey", "SCTserverchan1"}}},
        {"pushplus", {{"token", "pushplus-token-1"}}},
        {"bark", {{"device_key", "bark-key-1"}}},
        {"ntfy", {{"topic", "vexory-topic-1"}, {"token", "tk_ntfy1"}}},
        {"gotify", {{"server", apis.base()}, {"token", "gotify-token-1"}}},
        {"telegram", {{"token", "123456:telegram-token"}, {"chat_id", "42"}}},
        {"webhook", {{"url", apis.base() + "/hook"}}},
    };
    for (const auto& [kind, fields] : bind)
        EXPECT_EQ(browser.addChannel(kind, fields), "/account?m=added") << kind;
    EXPECT_EQ(browser.addChannel("email", {{"address", "alice@example.com"}}), "/account?m=confirm");
    // The address takes results only after the link in the mail was followed.
    ASSERT_TRUE(waitFor([&] { return mail.mails().size() == 1; }));
    std::smatch link;
    const std::string confirmation = mail.mails()[0];
    ASSERT_TRUE(std::regex_search(confirmation, link, std::regex("/account/confirm/[0-9a-f]{32}"))) << confirmation;
    const httplib::Result confirmed = browser.get(link[0]);
    ASSERT_TRUE(confirmed);
    EXPECT_NE(confirmed->body.find("邮箱已确认"), std::string::npos);

    const httplib::Result page = browser.get("/account");
    ASSERT_TRUE(page);
    for (const char* secret : {"wecom-key-1", "dingtalk-token-1", ChannelStandIns::kDingTalkSecret, "tk_ntfy1",
                               "123456:telegram-token", "pushplus-token-1"})
        EXPECT_EQ(page->body.find(secret), std::string::npos) << secret;

    // The program pushes a result; every channel has it within seconds.
    TAccountRecord a = account("alice", "pw1");
    ASSERT_TRUE(loggedIn(a, server.host()));
    const auto pushed = std::chrono::steady_clock::now();
    // The program sends its records as code page 936 text.
    ASSERT_TRUE(acknowledged(push(a, server.host(), *Utf8ToGbkStrict(kRecords))));
    const std::vector<std::string> kinds = {"wecom", "dingtalk", "feishu", "serverchan", "pushplus",
                                            "bark",  "ntfy",     "gotify", "telegram",   "webhook"};
    ASSERT_TRUE(waitFor(
        [&] {
            return mail.mails().size() == 2 &&
                   std::all_of(kinds.begin(), kinds.end(), [&](const std::string& k) { return apis.count(k) == 1; });
        },
        std::chrono::seconds(30)));
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - pushed).count();
    std::printf("every channel had the result %.2f s after the push\n", seconds);
    for (const std::string& kind : kinds) {
        const Received r = apis.got(kind).front();
        EXPECT_EQ(r.problem, "") << kind << "\n" << r.raw;
        for (const char* part : {"學門關龘靐齉", "囧槑"})
            EXPECT_NE(r.text.find(part), std::string::npos) << kind << ": " << r.text;
        if (kind != "webhook") {
            EXPECT_NE(r.text.find("2 条新记录"), std::string::npos) << kind << ": " << r.text;
            EXPECT_NE(r.text.find("http://127.0.0.1/list"), std::string::npos) << kind << ": " << r.text;
            EXPECT_NE(r.text.find("task"), std::string::npos) << kind;
        }
        std::printf("---- %s received\n%s\n", kind.c_str(), r.raw.c_str());
    }
    EXPECT_NE(mail.mails()[1].find("Vexory「task」2 条新记录"), std::string::npos) << mail.mails()[1];
    EXPECT_NE(mail.mails()[1].find("名称=學門關龘靐齉"), std::string::npos) << mail.mails()[1];
    std::printf("---- email received\n%s\n", mail.mails()[1].c_str());

    // The account page shows the result sent on each of the 11 channels.
    ASSERT_TRUE(waitFor([&] {
        const httplib::Result p = browser.get("/account");
        size_t n = 0;
        for (size_t at = 0; p && (at = p->body.find("：已发送", at)) != std::string::npos; ++at)
            ++n;
        return n == 11;
    }));
}

TEST(ServiceChannels, ResultsCloseTogetherAreMergedAndTheChannelsRateIsKept)
{
    ChannelStandIns apis;
    ServerProcess server(VEXORY_SERVER_PATH, serverOptions(apis, nullptr, "1500"));
    ASSERT_TRUE(server.ok());
    AccountBrowser browser(server.port());
    registerThrough(browser, "bob", "pw1");
    // Telegram takes 20 messages a minute: one every three seconds.
    ASSERT_EQ(browser.addChannel("telegram", {{"token", "123456:telegram-token"}, {"chat_id", "42"}}),
              "/account?m=added");
    TAccountRecord a = account("bob", "pw1");
    ASSERT_TRUE(loggedIn(a, server.host()));
    for (int i = 0; i < 3; ++i)
        ASSERT_TRUE(acknowledged(push(a, server.host(), "n=" + std::to_string(i) + "\r\n")));
    ASSERT_TRUE(waitFor([&] { return apis.count("telegram") == 1; }));
    const auto first = std::chrono::steady_clock::now();
    const std::string merged = apis.got("telegram")[0].text;
    EXPECT_NE(merged.find("3 条新记录（3 个结果）"), std::string::npos) << merged;
    for (const char* n : {"n=0", "n=1", "n=2"})
        EXPECT_NE(merged.find(n), std::string::npos) << merged;

    ASSERT_TRUE(acknowledged(push(a, server.host(), "n=3\r\n")));
    ASSERT_TRUE(waitFor([&] { return apis.count("telegram") == 2; }));
    EXPECT_GE(std::chrono::steady_clock::now() - first, std::chrono::milliseconds(2900));
    EXPECT_NE(apis.got("telegram")[1].text.find("n=3"), std::string::npos);
}
