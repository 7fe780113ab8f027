// Processing page texts as the monitor thread does, without its thread.

#include "base/encoding.h"
#include "formula/markers.h"
#include "monitor/gbk_texts.h"
#include "monitor/monitor_core.h"
#include "platform/codepage.h"
#include "platform/plugin_window.h"
#include "service/service_client.h"
#include "support/build_paths.h"
#include "support/server_process.h"
#include "support/service_helpers.h"
#include "support/test_http_server.h"

#include <gtest/gtest.h>

#include <malloc.h>

#include <mutex>
#include <thread>

using namespace vexory;
using namespace vexory::test;

namespace {

std::string page(const std::vector<std::pair<std::string, std::string>>& rows)
{
    std::string html = "<html><head><script>var x = 1;</script></head><body><table>";
    for (const auto& [name, price] : rows)
        html += "<tr><td class=\"Name\">" + name + "</td><td>" + price + "</td></tr>";
    return html + "</table></body></html>";
}

// Collects what a core reports.
struct Recorder
{
    std::mutex mutex;
    std::vector<std::string> messages, results;
    std::vector<Delivery> deliveries;
    std::vector<std::string> refused; // digests to refuse

    MonitorEvents events()
    {
        MonitorEvents e;
        e.message = [this](const std::string& m) {
            std::lock_guard lock(mutex);
            messages.push_back(m);
        };
        e.result = [this](Delivery delivery, const std::string& r) {
            std::lock_guard lock(mutex);
            deliveries.push_back(delivery);
            results.push_back(r);
        };
        e.accept = [this](int, const std::string& digest) {
            std::lock_guard lock(mutex);
            return std::find(refused.begin(), refused.end(), digest) == refused.end();
        };
        return e;
    }
};

class MonitorCoreTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        account.Tasks.resize(1);
        TTaskRecord& t = account.Tasks[0];
        t.TaskName = "list";
        t.SetPageUrl("http://127.0.0.1/list");
        t.GrabFormula = "<td class=\"name\">{>name<}</td><td>{>price<}</td>";
        t.Requester = -1;
    }
    MonitorCore& core(std::string server = "127.0.0.1:1")
    {
        m_core = std::make_unique<MonitorCore>(account, nullptr, std::move(server), recorder.events());
        m_core->SetTask(0);
        return *m_core;
    }
    int feed(const std::string& text)
    {
        m_core->SetPageText(text);
        return m_core->Process();
    }

    TAccountRecord account;
    Recorder recorder;
    std::unique_ptr<MonitorCore> m_core;
};

} // namespace

TEST_F(MonitorCoreTest, FirstPageIsRememberedAndNewRecordsAreReportedOnceWithTheirCase)
{
    core();
    EXPECT_EQ(feed(page({{"Apple", "5"}, {"Pear", "7"}})), OutcomeRecordsCut);
    EXPECT_TRUE(recorder.results.empty());
    EXPECT_EQ(recorder.messages, (std::vector<std::string>{"name=apple\t| price=5", "name=pear\t| price=7"}));

    // The memo shows a cycle's new records before the rest.
    recorder.messages.clear();
    EXPECT_EQ(feed(page({{"Apple", "5"}, {"Pear", "7"}, {"Fig TREE", "9"}})), OutcomeDelivered);
    EXPECT_EQ(recorder.messages,
              (std::vector<std::string>{"name=fig tree\t| price=9", "name=apple\t| price=5", "name=pear\t| price=7"}));
    EXPECT_EQ(recorder.results, (std::vector<std::string>{"name=Fig TREE\r\nprice=9"}));
    EXPECT_TRUE(account.Tasks[0].PendingResult().empty());

    EXPECT_EQ(feed(page({{"Apple", "5"}, {"Pear", "7"}, {"Fig TREE", "9"}})), OutcomeRecordsCut);
    EXPECT_EQ(recorder.results.size(), 1u);
    EXPECT_EQ(account.Tasks[0].RunState, RunIdle); // put back after processing
}

TEST_F(MonitorCoreTest, CompareModesDecideWhatIsNew)
{
    // All records: one that went away and came back is not new.
    core();
    feed(page({{"a", "1"}, {"b", "2"}}));
    feed(page({{"a", "1"}}));
    feed(page({{"a", "1"}, {"b", "2"}}));
    EXPECT_TRUE(recorder.results.empty());

    // The previous screen only: it is new again.
    account.Tasks[0].CompareLastScreen = 1;
    core();
    feed(page({{"a", "1"}, {"b", "2"}}));
    feed(page({{"a", "1"}}));
    feed(page({{"a", "1"}, {"b", "2"}}));
    EXPECT_EQ(recorder.results, (std::vector<std::string>{"name=b\r\nprice=2"}));
}

TEST_F(MonitorCoreTest, MainFieldIdentifiesRecords)
{
    account.Tasks[0].MainField = 1;
    core();
    feed(page({{"a", "1"}}));
    feed(page({{"a", "2"}, {"b", "3"}})); // "a" with another price is the same record
    EXPECT_EQ(recorder.results, (std::vector<std::string>{"name=b\r\nprice=3"}));

    account.Tasks[0].MainField = 3; // beyond the two fields: back to whole records
    core();
    feed(page({{"a", "1"}}));
    EXPECT_EQ(account.Tasks[0].MainField, 0);
}

TEST_F(MonitorCoreTest, VerificationMarkedRecordsAndClaims)
{
    account.Tasks[0].VerifyFormula = "\x02>5";
    core();
    feed(page({{"a", "1"}}));
    feed(page({{"a", "1"}, {"cheap", "3"}, {"dear", "8"}}));
    EXPECT_EQ(recorder.results, (std::vector<std::string>{"name=dear\r\nprice=8"}));

    // A record marked in the page is reported on the first page, unverified and without the mark.
    core();
    feed(page({{MakeMark(HighlightTemplate, "Marked"), "1"}}));
    ASSERT_EQ(recorder.results.size(), 2u);
    EXPECT_EQ(recorder.results[1], "name=Marked\r\nprice=1");

    // A record another task claimed first is dropped.
    recorder.refused.push_back(Sha1Hex("name=x\r\nprice=9"));
    feed(page({{"x", "9"}, {"y", "9"}}));
    EXPECT_EQ(recorder.results.back(), "name=y\r\nprice=9");
}

TEST_F(MonitorCoreTest, ValuesAreCleanedAsTheTaskSays)
{
    account.Tasks[0].GrabFormula = "<tr>{>row<}</tr>";
    core();
    feed(page({{"a", "1"}}));
    feed(page({{"a", "1"}, {"b &amp; c", "2"}}));
    EXPECT_EQ(recorder.results.back(), "row=<td>b &amp; c</td><td>2</td>"); // class attributes stripped
    account.Tasks[0].ClearTags = 1;
    core();
    feed(page({{"a", "1"}}));
    feed(page({{"a", "1"}, {"b &amp; c", "2"}}));
    EXPECT_EQ(recorder.results.back(), "row=b & c2");
}

TEST_F(MonitorCoreTest, TraditionalCharactersReachTheLogAndTheResultWhole)
{
    // 學門關 and 汚 (9B41) have trail bytes in "A".."Z"; the formula and the
    // verification text hold them too.
    const std::string xue = "\x8C\x57\xE9\x54\xEA\x50", wu = "\x9B\x41";
    account.Tasks[0].GrabFormula = "<td class=\"name\">" + xue + "{>name<}</td><td>{>price<}</td>";
    account.Tasks[0].VerifyFormula = "\x01^" + wu;
    core();
    feed(page({{xue + "A", "1"}}));
    EXPECT_EQ(recorder.messages.back(), "name=a\t| price=1");
    feed(page({{xue + "A", "1"}, {xue + "B" + wu, "2"}, {xue + "C", "3"}}));
    EXPECT_EQ(recorder.results, (std::vector<std::string>{"name=B" + wu + "\r\nprice=2"}));
}

TEST_F(MonitorCoreTest, NothingCutIsWarned)
{
    core();
    EXPECT_EQ(feed("<html><body>no table</body></html>"), OutcomeNoRows);
    EXPECT_EQ(recorder.messages.back(), texts::kNoData);
    EXPECT_EQ(feed(""), OutcomeNothing);
}

TEST_F(MonitorCoreTest, ATakenResultNobodyForwardedIsShownAsNotSent)
{
    // A service that takes the result but says it reached nobody (ours never does:
    // its inbox is a delivery).
    TestHttpServer service;
    service.routes().Post("/client/SendInfo.php", [](const httplib::Request&, httplib::Response& res) {
        res.set_content("11112000", "text/plain");
    });
    service.start();
    account.Nickname = "alice";
    account.UserNumber = 7;
    account.LoggedIn = 1;
    core(service.host());
    feed(page({{"a", "1"}}));
    EXPECT_EQ(feed(page({{"a", "1"}, {"b", "2"}})), OutcomeDelivered);
    EXPECT_EQ(recorder.deliveries.back(), Delivery::NotSent);
    EXPECT_EQ(recorder.results.back(), "name=b\r\nprice=2");
}

TEST_F(MonitorCoreTest, PushRepliesWhenLoggedIn)
{
    ServerProcess server(VEXORY_SERVER_PATH);
    ASSERT_TRUE(server.ok());
    ASSERT_EQ(server.addUser("alice", "pw", "--rights plugin"), 0);
    account.Nickname = "alice";
    account.PasswordDigest = Sha1Hex("pw");
    int32_t version = 6;
    ASSERT_EQ(loginAnswer(account, server.host(), false, version), LoginDone);
    core(server.host());
    feed(page({{"a", "1"}}));

    // Stored in the user's inbox, no webhook, no plug-in: that is a delivery, shown as sent.
    EXPECT_EQ(feed(page({{"a", "1"}, {"b", "2"}})), OutcomeDelivered);
    EXPECT_EQ(recorder.deliveries.back(), Delivery::Sent);
    EXPECT_EQ(recorder.results.back(), "name=b\r\nprice=2");

    // The plug-in takes it: shown as sent.
    TempDir runtime;
    ::setenv("XDG_RUNTIME_DIR", runtime.path().c_str(), 1);
    PluginWindowHost plugin;
    ASSERT_TRUE(plugin.Open(GbkToUtf8(PluginTitlePrefix("127.0.0.1"))));
    std::string handed;
    std::thread serve([&] {
        plugin.ServeOne(
            [&](uint32_t number, const std::string& text) {
                handed = std::to_string(number) + ":" + text;
                return uint8_t{1};
            },
            5000);
    });
    account.Tasks[0].PushToPlugin = 1;
    feed(page({{"a", "1"}, {"b", "2"}, {"c", "3"}}));
    serve.join();
    EXPECT_EQ(handed, "1:name=c\r\nprice=3");
    EXPECT_EQ(recorder.results.back(), "name=c\r\nprice=3");

    // A remote end, then a login elsewhere, then an unknown nickname.
    ASSERT_EQ(server.admin("user shutoff alice"), 0);
    feed(page({{"a", "1"}, {"b", "2"}, {"c", "3"}, {"d", "4"}}));
    EXPECT_EQ(recorder.deliveries.back(), Delivery::RemoteEnd);
    TAccountRecord other;
    other.Nickname = "alice";
    other.PasswordDigest = Sha1Hex("pw");
    ASSERT_EQ(loginAnswer(other, server.host(), false, version), LoginDone);
    EXPECT_EQ(feed(page({{"a", "1"}, {"e", "5"}})), OutcomeNotConfirmed);
    EXPECT_EQ(recorder.deliveries.back(), Delivery::LoggedInElsewhere);
    account.Nickname = "bob";
    feed(page({{"a", "1"}, {"f", "6"}}));
    EXPECT_EQ(recorder.deliveries.back(), Delivery::NicknameUnknown);
    EXPECT_TRUE(account.Tasks[0].PendingResult().empty());
}

TEST_F(MonitorCoreTest, ATaskKeepsNothingOfItsLastPageBetweenCycles)
{
    // With hundreds of tasks, buffers kept from each task's last page would add
    // up: between cycles a task holds its records' keys, not its page.
    std::vector<std::pair<std::string, std::string>> rows;
    for (int i = 0; i < 2000; ++i)
        rows.emplace_back("item " + std::to_string(i) + std::string(450, 'x'), std::to_string(i));
    std::string text = page(rows);
    const size_t pageBytes = text.size(); // about 1 MB
    const size_t before = mallinfo2().uordblks;
    core();
    feed(text);
    m_core->SetPageText({}); // as the thread empties the slot after a cycle
    recorder.messages.clear();
    recorder.messages.shrink_to_fit();
    const size_t held = mallinfo2().uordblks - before;
    EXPECT_LT(held, pageBytes / 4) << held << " bytes held after a page of " << pageBytes;
}
