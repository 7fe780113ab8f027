// vexory-server on bad input and under many concurrent pushes.

#include "base/encoding.h"
#include "platform/codepage.h"
#include "service/http_client.h"
#include "service/service_client.h"
#include "support/build_paths.h"
#include "support/postgres_server.h"
#include "support/server_process.h"
#include "support/service_helpers.h"
#include "support/temp_dir.h"
#include "support/test_http_server.h"

#include <gtest/gtest.h>
#include <httplib.h>

#include <atomic>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <thread>

using namespace vexory;
using namespace vexory::test;

namespace {

// Status and body of a raw POST, for the answers HttpPost hides.
std::pair<int, std::string> rawPost(const ServerProcess& server, const std::string& path, const std::string& body)
{
    httplib::Client client = PatientClient(server.port());
    auto res = client.Post(path.c_str(), body, "application/x-www-form-urlencoded");
    if (!res)
        return {0, ""};
    return {res->status, res->body};
}

std::string query()
{
    const uint32_t n = RequestNumber();
    return "?value=" + std::to_string(n) + "&code=" + RequestCode(n) + "&level=6";
}

} // namespace

TEST(Server, MalformedRequestsAreRefusedAndChangeNothing)
{
    ServerProcess server(VEXORY_SERVER_PATH);
    ASSERT_TRUE(server.ok());
    ASSERT_EQ(server.addUser("alice", "pw"), 0);
    const std::string user = "username=" + Base64UrlEncode("alice");
    const std::string digest = Sha1Hex("pw");

    EXPECT_EQ(rawPost(server, "/client/LogIn.php?value=5&code=bad&level=6", user + "&password=" + digest).first, 400);
    EXPECT_EQ(rawPost(server, "/client/LogIn.php" + query(), user + "&password=short").first, 400);
    EXPECT_EQ(rawPost(server, "/client/LogIn.php" + query(), "password=" + digest).first, 400);
    EXPECT_EQ(rawPost(server, "/client/SendInfo.php" + query(), "not a push body!").first, 400);
    EXPECT_EQ(rawPost(server, "/client/SendInfo.php" + query(), EncodePushBody("only\r\ntwo lines")).first, 400);
    // Refused before it is read: the client sees the 413, or the connection closed under its upload.
    std::signal(SIGPIPE, SIG_IGN);
    const int tooLarge = rawPost(server, "/client/SendInfo.php" + query(), std::string(2 << 20, 'A')).first;
    EXPECT_TRUE(tooLarge == 413 || tooLarge == 0) << tooLarge;
    std::string results;
    ASSERT_EQ(server.admin("results alice", &results), 0);
    EXPECT_EQ(results, "");

    // The pages people open.
    httplib::Client client = PatientClient(server.port());
    auto help = client.Get("/Help.php");
    ASSERT_TRUE(help);
    EXPECT_NE(help->body.find("Vexory 使用帮助"), std::string::npos);
    auto advert = client.Get("/advert.php");
    ASSERT_TRUE(advert);
    EXPECT_EQ(advert->status, 200);
    // The banner names the help page by its whole address, as the client reached us.
    EXPECT_NE(advert->body.find("帮助见 http://" + server.host() + "/Help.php"), std::string::npos) << advert->body;
    auto odd = client.Get("/advert.php", {{"Host", "<b>x"}});
    ASSERT_TRUE(odd);
    EXPECT_EQ(odd->body.find("<b>x"), std::string::npos); // escaped
    const httplib::Headers form = {{"Cookie", kFormCookie}};
    auto reg = client.Post("/register", form, registerForm("bob", "p1", "p1"), "application/x-www-form-urlencoded");
    ASSERT_TRUE(reg);
    EXPECT_EQ(reg->status, 303); // registered, and on to the account page
    EXPECT_EQ(reg->get_header_value("Location"), "/account?m=welcome");
    TAccountRecord bob;
    bob.Nickname = "bob";
    bob.PasswordDigest = Sha1Hex("p1");
    int32_t version = 6;
    EXPECT_EQ(loginAnswer(bob, server.host(), false, version), LoginDone);
    auto taken = client.Post("/register", form, registerForm("bob", "p", "p"), "application/x-www-form-urlencoded");
    EXPECT_NE(taken->body.find("已经有人使用"), std::string::npos);
}

TEST(Server, ConcurrentPushesAreEachStoredOnce)
{
    // One account pushes from every thread: past the default rate limit.
    ServerProcess server(VEXORY_SERVER_PATH, {"--push-rate", "100000"});
    ASSERT_TRUE(server.ok());
    ASSERT_EQ(server.addUser("load", "pw"), 0);
    TAccountRecord a;
    a.Nickname = "load";
    a.PasswordDigest = Sha1Hex("pw");
    int32_t version = 6;
    ASSERT_EQ(loginAnswer(a, server.host(), false, version), LoginDone);

    constexpr int kThreads = 8, kPushes = 25;
    std::atomic<int> acknowledged{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            TTaskRecord task;
            task.TaskName = "t" + std::to_string(t);
            task.FormulaSent = 1;
            for (int i = 0; i < kPushes; ++i)
                if (ReadPushReply(PushResult(task, a, server.host(), "n=" + std::to_string(i))).taken)
                    ++acknowledged;
        });
    }
    for (auto& th : threads)
        th.join();
    EXPECT_EQ(acknowledged.load(), kThreads * kPushes);
    std::string out;
    ASSERT_EQ(server.admin("results load", &out), 0);
    EXPECT_EQ(std::count(out.begin(), out.end(), '\n'), kThreads * kPushes);
}

TEST(Server, AdminCommandLine)
{
    ServerProcess server(VEXORY_SERVER_PATH);
    ASSERT_TRUE(server.ok());
    std::string out;
    EXPECT_EQ(server.addUser("carol", "pw", "--rights plugin,fastrefresh --webhook http://127.0.0.1:9/x", &out), 0);
    EXPECT_EQ(out.rfind("inbox /inbox/", 0), 0u);
    EXPECT_EQ(server.addUser("carol", "other"), 1); // taken
    EXPECT_EQ(server.addUser("dave", "pw", "--rights flying"), 2);
    EXPECT_EQ(server.addUser("dave", "pw", "--password-rounds 999"), 2); // fewer than a password may have
    ASSERT_EQ(server.admin("user list", &out), 0);
    EXPECT_NE(out.find("\"rights\":\"plugin,fastrefresh\""), std::string::npos);
    EXPECT_EQ(server.admin("user rights carol multitask"), 0);
    ASSERT_EQ(server.admin("user list", &out), 0);
    EXPECT_NE(out.find("\"rights\":\"multitask\""), std::string::npos);
    // A new password from standard input: the old one no longer logs in.
    auto passwd = [&](const std::string& nick, const std::string& password) {
        return server.admin("user passwd " + nick, password);
    };
    EXPECT_EQ(passwd("carol", "newSecret9"), 0);
    TAccountRecord old = account("carol", "pw"), renewed = account("carol", "newSecret9");
    EXPECT_EQ(loginAnswer(old, server.host()), LoginWrongPassword);
    EXPECT_TRUE(loggedIn(renewed, server.host()));
    EXPECT_EQ(passwd("nobody", "newSecret9"), 1);
    // Passwords as the login panel takes them, never on the command line; a
    // nickname typed with a blank after it is the same account.
    EXPECT_EQ(passwd("carol", "new pass!"), 1);
    EXPECT_EQ(server.addUser("erin", "abc-123!"), 1);
    EXPECT_EQ(server.admin("user add erin pw"), 1);
    TAccountRecord spaced = account("carol ", "newSecret9");
    EXPECT_TRUE(loggedIn(spaced, server.host()));
    EXPECT_EQ(server.admin("user delete carol"), 0);
    EXPECT_EQ(server.admin("user delete carol"), 1);
    EXPECT_EQ(server.admin("formula approve 99"), 1);
    EXPECT_EQ(server.admin("frobnicate"), 2);
    // A mistyped source to move from is an error, and leaves no new empty database there.
    TempDir dir;
    const std::string typo = dir.path() + "/typo.sqlite3";
    EXPECT_EQ(RunCommand(ShellQuote(VEXORY_SERVER_PATH) + " migrate --from sqlite:" + typo +
                         " --to sqlite:" + dir.path() + "/to.sqlite3"),
              1);
    EXPECT_FALSE(std::filesystem::exists(typo));
}

TEST(Server, NoStartWithoutTheMachinesOwnAddresses)
{
    // Channels must not reach the service on its own addresses: unable to read
    // them (a sandbox that forbids netlink sockets), it says so and does not start.
    TempDir dir;
    std::string out, err;
    EXPECT_EQ(RunCommand("LD_PRELOAD=" + ShellQuote(VEXORY_NO_NETLINK) + " ASAN_OPTIONS=verify_asan_link_order=0 " +
                             ShellQuote(VEXORY_SERVER_PATH) + " serve --listen 127.0.0.1:0 --data " +
                             ShellQuote(dir.path()),
                         &out, &err),
              1);
    EXPECT_NE(err.find("cannot read this machine's own addresses"), std::string::npos) << err;
    EXPECT_NE(err.find("AF_NETLINK"), std::string::npos) << err;
    // The shipped unit allows them.
    std::ifstream unit(std::string(VEXORY_SOURCE_DIR) + "/data/systemd/vexory-server.service");
    const std::string text((std::istreambuf_iterator<char>(unit)), std::istreambuf_iterator<char>());
    EXPECT_NE(text.find("RestrictAddressFamilies=AF_INET AF_INET6 AF_UNIX AF_NETLINK"), std::string::npos);
}

TEST(Server, SettingsFromAConfigurationFileTheCommandLineWinning)
{
    TempDir dir;
    const std::string binary = ShellQuote(VEXORY_SERVER_PATH);
    const std::string config = dir.file("server.conf");
    WriteBytes(config,
               "# comment\n\ndata = " + dir.file("db") + "\n  accounts-per-address = 1  \nlisten = 127.0.0.1:1\n");
    // The admin commands take the database from it, and nothing else.
    std::string out, err;
    EXPECT_EQ(RunCommand("(echo pw | " + binary + " user add --config " + ShellQuote(config) + " alice)", &out, &err),
              0)
        << err;
    EXPECT_TRUE(std::filesystem::exists(dir.file("db") + "/vexory.sqlite3"));
    // serve takes the rest; the database and --listen on the command line win over the file's.
    ServerProcess server(VEXORY_SERVER_PATH, {"--config", config});
    ASSERT_TRUE(server.ok());
    httplib::Client client = PatientClient(server.port());
    const httplib::Headers form{{"Cookie", kFormCookie}};
    const auto registered = [&](httplib::Client& to, const std::string& nick) {
        const auto answer =
            to.Post("/register", form, registerForm(nick, "p1", "p1"), "application/x-www-form-urlencoded");
        return answer ? answer->status : 0;
    };
    EXPECT_EQ(registered(client, "bob"), 303);
    EXPECT_EQ(registered(client, "eve"), 429);
    // The shipped file gives accounts registered on the machine's own service every right.
    {
        ServerProcess local(VEXORY_SERVER_PATH, {"--config", std::string(VEXORY_SOURCE_DIR) + "/data/server.conf"});
        ASSERT_TRUE(local.ok());
        httplib::Client to = PatientClient(local.port());
        ASSERT_EQ(registered(to, "dora"), 303);
        ASSERT_EQ(local.admin("user list", &out), 0);
        EXPECT_NE(out.find("\"rights\":\"plugin,multitask,chain,fastrefresh\""), std::string::npos) << out;
    }
    // A line that is no setting is named.
    WriteBytes(config, "data = x\nlisten\n");
    EXPECT_EQ(RunCommand(binary + " user list --config " + ShellQuote(config), &out, &err), 2);
    EXPECT_NE(err.find("server.conf:2"), std::string::npos) << err;
    // So is a setting given twice.
    WriteBytes(config, "data = x\n# one\nlisten = 127.0.0.1:1\nlisten = 127.0.0.1:2\n");
    EXPECT_EQ(RunCommand(binary + " user list --config " + ShellQuote(config), &out, &err), 2);
    EXPECT_NE(err.find("server.conf:4: \"listen\" is set again (first on line 3)"), std::string::npos) << err;
}

TEST(Server, ABackupWhilePushesArriveHoldsEveryAcknowledgedOneAndRestores)
{
    ServerProcess server(VEXORY_SERVER_PATH, {"--push-rate", "1000000"});
    ASSERT_TRUE(server.ok());
    if (server.database().rfind("sqlite:", 0) != 0)
        GTEST_SKIP() << "PostgreSQL is backed up with pg_dump";
    ASSERT_EQ(server.addUser("alice", "pw"), 0);
    TAccountRecord a = account("alice", "pw");
    ASSERT_TRUE(loggedIn(a, server.host()));
    // Pushes go on while the copy is made; those acknowledged before it began are in it.
    std::atomic<bool> stop{false};
    std::atomic<int> acknowledged{0};
    std::thread pusher([&] {
        for (int i = 0; !stop; ++i)
            if (push(a, server.host(), "n=" + std::to_string(i)).taken)
                acknowledged = i + 1;
    });
    while (acknowledged < 50)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    const int before = acknowledged;
    TempDir dir;
    const std::string binary = ShellQuote(VEXORY_SERVER_PATH);
    std::string out, err;
    EXPECT_EQ(RunCommand(binary + " backup --database " + ShellQuote(server.database()) + " " +
                             ShellQuote(dir.file("copy.sqlite3")),
                         &out, &err),
              0)
        << err;
    stop = true;
    pusher.join();
    ASSERT_EQ(RunCommand(binary + " results alice --database sqlite:" + ShellQuote(dir.file("copy.sqlite3")), &out), 0);
    const std::vector<nlohmann::json> rows = jsonLines(out);
    EXPECT_GE(rows.size(), static_cast<size_t>(before));
    std::set<std::string> copied;
    for (const nlohmann::json& r : rows)
        copied.insert(r["records"].get<std::string>());
    for (int i = 0; i < before; ++i)
        EXPECT_TRUE(copied.count("n=" + std::to_string(i))) << i;

    // Restored into another folder, the copy is a service of its own; something
    // else is refused.
    EXPECT_EQ(RunCommand(binary + " restore --data " + ShellQuote(dir.file("restored")) + " " +
                         ShellQuote(dir.file("copy.sqlite3"))),
              0);
    ServerProcess restored(VEXORY_SERVER_PATH, {}, "sqlite:" + dir.file("restored") + "/vexory.sqlite3");
    ASSERT_TRUE(restored.ok());
    TAccountRecord again = account("alice", "pw");
    EXPECT_TRUE(loggedIn(again, restored.host()));
    // Not under the service that uses the database; once it stopped, yes.
    EXPECT_EQ(RunCommand(binary + " restore --data " + ShellQuote(dir.file("restored")) + " " +
                             ShellQuote(dir.file("copy.sqlite3")),
                         &out, &err),
              1);
    EXPECT_NE(err.find("a service is using"), std::string::npos) << err;
    restored.Stop();
    EXPECT_EQ(RunCommand(binary + " restore --data " + ShellQuote(dir.file("restored")) + " " +
                         ShellQuote(dir.file("copy.sqlite3"))),
              0);
    WriteBytes(dir.file("junk"), "not a database");
    EXPECT_EQ(
        RunCommand(binary + " restore --data " + ShellQuote(dir.file("restored")) + " " + ShellQuote(dir.file("junk"))),
        1);
}

TEST(Server, AServiceMovesFromSqliteToPostgresAndBackWhole)
{
    if (TestsOnPostgres())
        GTEST_SKIP() << "runs once, from SQLite";
    std::string why;
    const std::string target = SharedPostgres().NewDatabase(&why);
    ASSERT_FALSE(target.empty()) << why;
    std::string inbox;
    ServerProcess server(VEXORY_SERVER_PATH);
    ASSERT_TRUE(server.ok());
    const std::string source = server.database();
    ASSERT_EQ(server.addUser("alice", "pw", "--webhook http://127.0.0.1:9/hook", &inbox), 0);
    TAccountRecord a = account("alice", "pw");
    ASSERT_TRUE(loggedIn(a, server.host()));
    for (int i = 0; i < 3; ++i)
        ASSERT_TRUE(push(a, server.host(), "n=" + std::to_string(i)).taken);
    server.Stop();
    const std::string binary = ShellQuote(VEXORY_SERVER_PATH);
    std::string out, err;
    ASSERT_EQ(RunCommand(binary + " migrate --from " + ShellQuote(source) + " --to " + ShellQuote(target), &out, &err),
              0)
        << err;
    EXPECT_NE(out.find("results: 3"), std::string::npos) << out;
    EXPECT_NE(out.find("the counts agree"), std::string::npos) << out;
    // On the new database: the same account, its inbox, its results waiting for
    // their webhook; new results get ids of their own.
    ServerProcess moved(VEXORY_SERVER_PATH, {}, target);
    ASSERT_TRUE(moved.ok());
    TAccountRecord again = account("alice", "pw");
    ASSERT_TRUE(loggedIn(again, moved.host()));
    EXPECT_TRUE(push(again, moved.host(), "n=3").taken);
    ASSERT_EQ(moved.admin("results alice", &out), 0);
    EXPECT_EQ(jsonLines(out).size(), 4u);
    httplib::Client client = PatientClient(moved.port());
    const std::string path = inbox.substr(inbox.find("/inbox/"), 39);
    const auto page = client.Get(path.c_str());
    ASSERT_TRUE(page);
    EXPECT_EQ(page->status, 200);
    EXPECT_NE(page->body.find("n=0"), std::string::npos);
    // A second move into a database with accounts is refused.
    EXPECT_EQ(RunCommand(binary + " migrate --from " + ShellQuote(source) + " --to " + ShellQuote(target)), 1);

    // And back, into a new SQLite file: the four results, and the account logs in.
    moved.Stop();
    TempDir dir;
    const std::string back = "sqlite:" + dir.path() + "/back.sqlite3";
    ASSERT_EQ(RunCommand(binary + " migrate --from " + ShellQuote(target) + " --to " + ShellQuote(back), &out, &err), 0)
        << err;
    EXPECT_NE(out.find("results: 4"), std::string::npos) << out;
    ServerProcess returned(VEXORY_SERVER_PATH, {}, back);
    ASSERT_TRUE(returned.ok());
    TAccountRecord home = account("alice", "pw");
    EXPECT_TRUE(loggedIn(home, returned.host()));
}
