// The client side of the service protocol against a real vexory-server.

#include "base/encoding.h"
#include "platform/codepage.h"
#include "service/http_client.h"
#include "service/service_client.h"
#include "support/build_paths.h"
#include "support/server_process.h"
#include "support/service_helpers.h"
#include "support/test_http_server.h"

#include <gtest/gtest.h>

#include <chrono>
#include <nlohmann/json.hpp>
#include <thread>

#include <mutex>

using namespace vexory;
using namespace vexory::test;

namespace {

const std::string kNick = "\xD5\xC5\xC8\xFD"; // 张三 in GBK

// A webhook endpoint that records what it gets and answers with a chosen status.
class Webhook
{
public:
    explicit Webhook(int status)
    {
        m_server.routes().Post("/hook", [this, status](const httplib::Request& req, httplib::Response& res) {
            std::lock_guard lock(m_mutex);
            m_bodies.push_back(req.body);
            res.status = status;
        });
        m_server.start();
    }
    std::string url() const { return m_server.url("/hook"); }
    std::vector<std::string> bodies()
    {
        std::lock_guard lock(m_mutex);
        return m_bodies;
    }

private:
    TestHttpServer m_server;
    std::mutex m_mutex;
    std::vector<std::string> m_bodies;
};

class ServiceTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_server.ok());
        ASSERT_EQ(m_server.addUser("张三", "secret", "--rights plugin,chain"), 0);
    }
    int login(TAccountRecord& a, int32_t& version, bool automatic = false)
    {
        return loginAnswer(a, m_server.host(), automatic, version);
    }

    ServerProcess m_server{VEXORY_SERVER_PATH};
};

} // namespace

TEST_F(ServiceTest, LoginResultCodes)
{
    int32_t version = 6;
    TAccountRecord none;
    EXPECT_EQ(login(none, version), LoginNotTried);

    TAccountRecord stranger = account("nobody", "x");
    EXPECT_EQ(login(stranger, version), LoginNotRegistered);
    TAccountRecord wrong = account(kNick, "wrong");
    EXPECT_EQ(login(wrong, version), LoginWrongPassword);
    EXPECT_FALSE(wrong.LoggedIn);

    TAccountRecord a = account(kNick, "secret");
    EXPECT_EQ(login(a, version, true), LoginDone);
    EXPECT_TRUE(a.LoggedIn);
    EXPECT_GT(a.UserNumber, 0);
    EXPECT_TRUE(a.PluginRight);
    EXPECT_TRUE(a.ChainRight);
    EXPECT_FALSE(a.MultiTaskRight);
    EXPECT_FALSE(a.FastRefreshRight);
    EXPECT_EQ(version, 6);

    // Each login gets a fresh user number.
    TAccountRecord again = account(kNick, "secret");
    EXPECT_EQ(login(again, version), LoginDone);
    EXPECT_NE(again.UserNumber, a.UserNumber);

    TAccountRecord unreachable = account(kNick, "secret");
    EXPECT_EQ(Login(unreachable, "127.0.0.1:1", false, version), LoginNoAnswer);
}

TEST(ServiceLogin, VersionSuffixesAndUnknownWords)
{
    ServerProcess newer(VEXORY_SERVER_PATH, {"--client-version", "7"});
    ASSERT_TRUE(newer.ok());
    int32_t version = 6;
    TAccountRecord stranger = account("nobody", "x");
    EXPECT_EQ(Login(stranger, newer.host(), false, version), LoginNotRegistered);
    EXPECT_EQ(version, 7); // "noregister007"

    // Replies the reference service never gives, from a server of the test's own.
    TestHttpServer odd;
    std::string reply;
    odd.routes().Post("/client/LogIn.php",
                      [&](const httplib::Request&, httplib::Response& res) { res.set_content(reply, "text/plain"); });
    odd.start();
    TAccountRecord a = account(kNick, "secret");
    reply = "error"; // "ror" is no number: version 6, and "er" no known word
    version = 9;
    EXPECT_EQ(Login(a, odd.host(), false, version), LoginServerError);
    EXPECT_EQ(version, 6);
    reply = std::string(62, 'A') + "006"; // one byte short of a login record
    EXPECT_EQ(Login(a, odd.host(), false, version), LoginServerError);
    EXPECT_FALSE(a.LoggedIn);
}

TEST(ServiceLogin, RightsAreAppliedToTheTasks)
{
    TAccountRecord a;
    a.Tasks.resize(2);
    a.Tasks[0].RefreshInterval = 0;
    a.Tasks[0].PushToPlugin = 1;
    a.Tasks[1].RefreshInterval = 600000;
    ApplyRightsToTasks(a);
    EXPECT_EQ(a.Tasks[0].RefreshInterval, 150000u);
    EXPECT_EQ(a.Tasks[0].PushToPlugin, 0);
    EXPECT_EQ(a.Tasks[1].RefreshInterval, 600000u);
    a.FastRefreshRight = 1;
    a.PluginRight = 1;
    a.Tasks[0].RefreshInterval = 1000;
    a.Tasks[0].PushToPlugin = 1;
    ApplyRightsToTasks(a);
    EXPECT_EQ(a.Tasks[0].RefreshInterval, 1000u);
    EXPECT_EQ(a.Tasks[0].PushToPlugin, 1);
}

TEST_F(ServiceTest, PushRepliesForEveryCase)
{
    Webhook accepting(200);
    ASSERT_EQ(m_server.admin("user webhook 张三 " + accepting.url()), 0);
    int32_t version = 6;
    TAccountRecord a = account(kNick, "secret");
    ASSERT_EQ(login(a, version), LoginDone);

    TTaskRecord task;
    task.TaskName = "\xC8\xCE\xCE\xF1"; // 任务
    task.SetPageUrl("http://127.0.0.1/list");
    task.GrabFormula = "<td>{>a<}</td>";
    const std::string result = "a=\xD0\xC2"; // a=新

    // Forwarded, with the plug-in right; the first push carries the formula.
    PushReply sent = ReadPushReply(PushResult(task, a, m_server.host(), result));
    EXPECT_TRUE(sent.valid && sent.taken && sent.forwarded && sent.pluginAllowed);
    EXPECT_EQ(task.FormulaSent, 1);
    // Forwarded from the outbox, after the reply.
    for (int i = 0; i < 250 && accepting.bodies().empty(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    ASSERT_EQ(accepting.bodies().size(), 1u);
    nlohmann::json hook = nlohmann::json::parse(accepting.bodies()[0]);
    EXPECT_EQ(hook["task"], "任务");
    EXPECT_EQ(hook["records"], "a=新");

    // The endpoint refuses: the result is in the inbox all the same, and is sent
    // (the webhook gets it when it comes back).
    Webhook refusing(500);
    ASSERT_EQ(m_server.admin("user webhook 张三 " + refusing.url()), 0);
    PushReply stored = ReadPushReply(PushResult(task, a, m_server.host(), result));
    EXPECT_TRUE(stored.taken);
    EXPECT_TRUE(stored.forwarded);

    // A remote end ordered on the server answers the next push, once.
    ASSERT_EQ(m_server.admin("user shutoff 张三"), 0);
    EXPECT_TRUE(ReadPushReply(PushResult(task, a, m_server.host(), result)).shutoff);
    EXPECT_FALSE(ReadPushReply(PushResult(task, a, m_server.host(), result)).shutoff);

    // Nickname error, and a login that was replaced by a newer one.
    TAccountRecord stranger = a;
    stranger.Nickname = "nobody";
    EXPECT_TRUE(ReadPushReply(PushResult(task, stranger, m_server.host(), result)).nicknameInvalid);
    TAccountRecord newer = account(kNick, "secret");
    ASSERT_EQ(login(newer, version), LoginDone);
    EXPECT_TRUE(ReadPushReply(PushResult(task, a, m_server.host(), result)).loggedInElsewhere);

    // Every accepted push is stored once, the formula with the first only.
    std::string out;
    ASSERT_EQ(m_server.admin("results 张三", &out), 0);
    std::vector<nlohmann::json> rows;
    for (size_t start = 0, k; (k = out.find('\n', start)) != std::string::npos; start = k + 1)
        rows.push_back(nlohmann::json::parse(out.substr(start, k - start)));
    ASSERT_EQ(rows.size(), 4u);
    EXPECT_EQ(rows.back()["formula"], "<td>{>a<}</td>");
    EXPECT_EQ(rows.back()["forwarded"], true);
    EXPECT_EQ(rows.front()["formula"], "");
    EXPECT_EQ(PushResult(task, a, "127.0.0.1:1", result), "");
}

TEST_F(ServiceTest, PushPayloadAndTheFormulaRule)
{
    TAccountRecord a;
    a.Nickname = "n";
    a.UserNumber = 42;
    TTaskRecord task;
    task.TaskName = "t";
    task.GuideUrl = "http://guide/";
    task.GrabFormula = "f";
    EXPECT_EQ(PushPayload(task, a, "r"), "n\r\n42\r\nt\r\nhttp://guide/\r\nf\r\nr");
    EXPECT_EQ(PushPayload(task, a, "r"), "n\r\n42\r\nt\r\nhttp://guide/\r\n \r\nr");
    task.GuideUrl.clear();
    EXPECT_EQ(PushPayload(task, a, "r"), "n\r\n42\r\nt\r\nUnknown\r\n \r\nr");
    // The formula goes with the first push after a save even when that push fails.
    task.FormulaSent = 0;
    EXPECT_EQ(PushResult(task, a, "127.0.0.1:1", "r"), "");
    EXPECT_EQ(task.FormulaSent, 1);
}

TEST_F(ServiceTest, FormulaSharing)
{
    const std::string key = SharePageKey(" HTTP://Example.com/List?page=2 ", "");
    EXPECT_EQ(key, "http://example.com/list");
    EXPECT_EQ(SharePageKey("", "example.com/a?b"), "http://example.com/a");
    EXPECT_EQ(SharePageKey(" ", " "), "");

    auto post = [&](const std::string& body) {
        const uint32_t n = RequestNumber();
        return HttpPost(ServiceUrl(m_server.host(), kShareScript, n, 6), body, 3000);
    };
    const std::string formula = "<td>{>\xC3\xFB<}</td>"; // 名
    EXPECT_EQ(post(ShareLookupBody(kNick, key)), "null");
    // Uploads come from a logged-in account only.
    EXPECT_EQ(post(ShareUploadBody(kNick, key, formula, "note")), "error");
    int32_t version = 6;
    TAccountRecord a = account(kNick, "secret");
    ASSERT_EQ(login(a, version), LoginDone);
    EXPECT_EQ(post(ShareUploadBody(kNick, key, formula, "note")), "success");
    EXPECT_EQ(post(ShareUploadBody(kNick, key, formula, "note")), "exist");
    EXPECT_EQ(post(ShareLookupBody(kNick, key)), "null"); // waiting for review
    EXPECT_EQ(post(ShareUploadBody("nobody", key, formula, "")), "error");

    std::string list;
    ASSERT_EQ(m_server.admin("formula list", &list), 0);
    const nlohmann::json entry = nlohmann::json::parse(list.substr(0, list.find('\n')));
    EXPECT_EQ(entry["formula"], "<td>{>名<}</td>");
    EXPECT_EQ(entry["note"], "note");
    ASSERT_EQ(m_server.admin("formula approve " + std::to_string(entry["id"].get<int>())), 0);

    const std::string reply = post(ShareLookupBody(kNick, key));
    EXPECT_EQ(DecodeShareReply(reply), formula);

    // The same requests as the editor makes them.
    const ShareLookup found = LookUpSharedFormulas(m_server.host(), kNick, key);
    EXPECT_EQ(found.answer, ShareLookup::Found);
    EXPECT_EQ(found.formulas, formula);
    EXPECT_EQ(LookUpSharedFormulas(m_server.host(), kNick, "http://example.com/other").answer, ShareLookup::NoneShared);
    EXPECT_EQ(UploadSharedFormula(m_server.host(), kNick, key, formula, "note"), ShareUpload::AlreadyShared);
    EXPECT_EQ(UploadSharedFormula(m_server.host(), kNick, "http://example.com/other", formula, ""),
              ShareUpload::Uploaded);
    EXPECT_EQ(UploadSharedFormula(m_server.host(), "nobody", "http://example.com/third", formula, ""),
              ShareUpload::Failed);
    EXPECT_EQ(LookUpSharedFormulas("127.0.0.1:1", kNick, key).answer, ShareLookup::NoConnection);
    EXPECT_EQ(UploadSharedFormula("127.0.0.1:1", kNick, key, formula, ""), ShareUpload::Failed);
    // A request whose code does not belong to its number.
    EXPECT_EQ(HttpPost("http://" + m_server.host() + "/client/Svn.php?value=1&code=00&level=6",
                       ShareLookupBody(kNick, key), 3000),
              "error");
}

TEST_F(ServiceTest, CommandLineLoginAndPush)
{
    std::string out;
    const std::string cli = ShellQuote(VEXORY_CLI_PATH);
    ASSERT_EQ(RunCommand(cli + " login --server " + m_server.host() + " 张三 secret", &out), 0);
    const nlohmann::json login = nlohmann::json::parse(out);
    EXPECT_EQ(login["code"], 6);
    EXPECT_EQ(login["version"], 6);
    EXPECT_EQ(login["plugin"], true);
    EXPECT_EQ(login["multitask"], false);
    EXPECT_EQ(RunCommand(cli + " login --server " + m_server.host() + " 张三 wrong", &out), 1);
    EXPECT_EQ(nlohmann::json::parse(out)["code"], 4);

    TempDir dir;
    WriteBytes(dir.file("result.txt"), "标题=新品\r\n价格=5");
    const std::string number = std::to_string(login["user_number"].get<int64_t>());
    ASSERT_EQ(RunCommand(cli + " push --server " + m_server.host() + " --nick 张三 --user-number " + number +
                             " --task 任务 --url http://x/ " + ShellQuote(dir.file("result.txt")),
                         &out),
              0);
    EXPECT_EQ(out, "11112353\n"); // stored in the inbox (that is sent, with or without a webhook), plug-in allowed
    ASSERT_EQ(m_server.admin("results 张三", &out), 0);
    EXPECT_NE(out.find("标题=新品\\r\\n价格=5"), std::string::npos);
    EXPECT_EQ(
        RunCommand(cli + " push --server " + m_server.host() + " --nick 张三 " + ShellQuote(dir.file("result.txt"))),
        2);
}

// The network library is loaded only by commands that go to the network: loading it
// (and the thirty libraries behind it) at every start took longer than cutting a small page.
TEST_F(ServiceTest, CommandLineLoadsTheHttpLibraryOnlyForTheNetwork)
{
    TempDir dir;
    WriteBytes(dir.file("formula.txt"), "<tr><td>{>名称<}</td><td>{>价格<}</td></tr>");
    WriteBytes(dir.file("page.html"), "<body><table><tr><td>x</td><td>1</td></tr></table></body>");
    const std::string cli = ShellQuote(VEXORY_CLI_PATH);
    std::string out, err;
    ASSERT_EQ(RunCommand("LD_DEBUG=libs " + cli + " cut " + ShellQuote(dir.file("formula.txt")) + " " +
                             ShellQuote(dir.file("page.html")),
                         &out, &err),
              0);
    EXPECT_EQ(nlohmann::json::parse(out)["rows"], nlohmann::json::parse(R"([["x", "1"]])"));
    EXPECT_EQ(err.find("libcurl"), std::string::npos) << err.substr(0, 2000);

    ASSERT_EQ(RunCommand("LD_DEBUG=libs " + cli + " login --server " + m_server.host() + " 张三 secret", &out, &err),
              0);
    EXPECT_NE(err.find("libcurl"), std::string::npos);
    EXPECT_EQ(nlohmann::json::parse(out)["code"], 6);
}
