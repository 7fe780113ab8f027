// A task's choice between the browser and a direct read, against a scripted server.

#include "browser/page_reading.h"

#include "support/test_http_server.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <memory>
#include <thread>
#include <vector>

using namespace vexory;

namespace {

const std::string kUrl = "http://h.example/list";

std::string rows(int n)
{
    std::string html = "<meta charset=utf-8><table>";
    for (int i = 1; i <= n; ++i)
        html += "<tr><td>row" + std::to_string(i) + "</td></tr>";
    return html + "</table>";
}

// The browser's text of rows(n), as innerHTML gives it.
std::string browserText(int n)
{
    std::string html = "<head><meta charset=\"utf-8\"></head><body><table><tbody>";
    for (int i = 1; i <= n; ++i)
        html += "<tr><td>row" + std::to_string(i) + "</td></tr>";
    return html + "</tbody></table></body>";
}

// The latest a regular check comes after the last one.
constexpr uint32_t recheck = ReadingPolicy::kRecheckMs + ReadingPolicy::kRecheckSpreadMs;

ReadShape rowsShape(int n)
{
    return ReadShape{.records = n};
}

} // namespace

TEST(DirectReading, ATaskGoesOnDirectlyWhileItsPageReadsTheSameAndComesBackWhenItDoesNot)
{
    std::string served = rows(2);
    int requests = 0;
    PageRequest sent;
    ReadingPolicy reading([&](const PageRequest& request) {
        ++requests;
        sent = request;
        return FetchedPage{200, "text/html", request.url, served};
    });
    const auto cookies =
        std::make_shared<const CookieList>(CookieList{{.domain = "h.example", .name = "s", .value = "1"}});
    PublishBrowserIdentity({cookies, "agent"});
    reading.Direct().SetTimeLimit(7000);

    // Not allowed: never read directly, never compared.
    EXPECT_FALSE(reading.AfterBrowserRead(kUrl, browserText(2), rowsShape(2), 0));
    EXPECT_EQ(requests, 0);

    // Allowed: the first browser read is compared, and the same text goes on directly.
    reading.SetAllowed(true);
    EXPECT_TRUE(reading.AfterBrowserRead(kUrl, browserText(2), rowsShape(2), 1000));
    EXPECT_TRUE(reading.ReadsDirectly());
    // With the browser's cookies and user agent, within the task's time and the size limit.
    EXPECT_EQ(sent.cookies, cookies);
    EXPECT_EQ(sent.userAgent, "agent");
    PublishBrowserIdentity({});
    EXPECT_EQ(sent.totalMs, 7000);
    EXPECT_EQ(sent.maxBytes, kMaxDirectPageBytes);
    EXPECT_EQ(reading.Direct().Read(kUrl).value_or(""), browserText(2));
    EXPECT_FALSE(reading.AfterDirectRead(true, rowsShape(3), 2000));

    // A direct read that cuts nothing where the browser's did: back to the browser,
    // which compares again and finds its page written by a script now.
    EXPECT_TRUE(reading.AfterDirectRead(true, rowsShape(0), 3000));
    EXPECT_FALSE(reading.ReadsDirectly());
    served = "<meta charset=utf-8><table></table><script>/* writes the rows */</script>";
    // Compared at the next few browser reads (its page may have changed between the
    // two reads), then not again before the next check.
    for (int k = 0; k < ReadingPolicy::kCompareTries; ++k)
        EXPECT_FALSE(reading.AfterBrowserRead(kUrl, browserText(3), rowsShape(3), 4000));
    const int compared = requests;
    EXPECT_FALSE(reading.AfterBrowserRead(kUrl, browserText(3), rowsShape(3), 5000));
    EXPECT_EQ(requests, compared);

    // At the next check the page is plain again: directly from then on, until the
    // check after sends it to the browser once more.
    served = rows(3);
    EXPECT_TRUE(reading.AfterBrowserRead(kUrl, browserText(3), rowsShape(3), 4000 + recheck));
    EXPECT_FALSE(reading.AfterDirectRead(true, rowsShape(3), 5000 + recheck));
    EXPECT_TRUE(reading.AfterDirectRead(true, rowsShape(3), 4000 + 2 * recheck));

    // A read that fails sends it back at once; so does the option turned off.
    EXPECT_TRUE(reading.AfterBrowserRead(kUrl, browserText(3), rowsShape(3), 4000 + 2 * recheck));
    EXPECT_TRUE(reading.AfterDirectRead(false, rowsShape(0), 4001 + 2 * recheck));
    served = "<p>no charset</p>";
    EXPECT_FALSE(reading.Direct().Read(kUrl));
    reading.SetAllowed(false);
    EXPECT_FALSE(reading.ReadsDirectly());
}

TEST(DirectReading, APageThatChangedBetweenTheTwoReadsIsComparedAgainAtTheNextRead)
{
    std::string served = rows(3); // a row came between the browser's read and the direct one
    ReadingPolicy reading([&](const PageRequest& request) {
        return FetchedPage{200, "text/html", request.url, served};
    });
    reading.SetAllowed(true);
    EXPECT_FALSE(reading.AfterBrowserRead(kUrl, browserText(2), rowsShape(2), 1000));
    EXPECT_TRUE(reading.AfterBrowserRead(kUrl, browserText(3), rowsShape(3), 11000));
}

TEST(DirectReading, APageThatChangesAtEveryRequestIsDecidedOnTheSameBytes)
{
    // Every request gives another token: two reads never agree. The comparison's
    // direct read is made at the refresh and its very bytes go to the browser, whose
    // text of them is the same.
    int request = 0;
    auto page = [](int token) { return "<meta charset=utf-8><p>token " + std::to_string(token) + "</p>"; };
    ReadingPolicy reading([&](const PageRequest& r) {
        return FetchedPage{200, "text/html; charset=utf-8", r.url + "?final", page(++request)};
    });
    reading.SetAllowed(true);
    EXPECT_FALSE(reading.AfterBrowserRead(kUrl, "<head></head><body><p>token 0</p></body>", rowsShape(1), 1000));
    const std::optional<PageContent> shown = reading.BeforeRefresh(kUrl, 2000);
    ASSERT_TRUE(shown);
    EXPECT_EQ(shown->bytes, page(request));
    EXPECT_EQ(shown->mimeType, "text/html; charset=utf-8");
    EXPECT_EQ(shown->baseUrl, kUrl + "?final");
    const std::string browser =
        "<head><meta charset=\"utf-8\"></head><body><p>token " + std::to_string(request) + "</p></body>";
    EXPECT_TRUE(reading.AfterBrowserRead(kUrl, browser, rowsShape(1), 4000));
    // Reading directly, nothing is compared or shown at a refresh.
    EXPECT_FALSE(reading.BeforeRefresh(kUrl, 5000));
}

TEST(DirectReading, APageWhoseScriptWritesItsRowsIsComparedEverLessOften)
{
    // The browser shows the very bytes of the direct read and gets more rows from
    // them: its script's. Comparing again at the next refresh would find the same;
    // the next comparison comes at the recheck, and while they all find another
    // text, at twice and then four times that.
    int requests = 0;
    ReadingPolicy reading([&](const PageRequest& r) {
        ++requests;
        return FetchedPage{200, "text/html", r.url, rows(1)};
    });
    reading.SetAllowed(true);
    auto round = [&](uint32_t at) {
        if (!reading.BeforeRefresh(kUrl, at))
            return false;
        EXPECT_FALSE(reading.AfterBrowserRead(kUrl, browserText(3), rowsShape(3), at + 3000));
        return true;
    };
    ASSERT_TRUE(round(1000));
    EXPECT_FALSE(round(13000));
    EXPECT_EQ(requests, 1);
    ASSERT_TRUE(round(4000 + recheck));
    EXPECT_FALSE(round(8000 + 2 * recheck)); // no sooner than twice the shortest recheck
    ASSERT_TRUE(round(8000 + 3 * recheck));
    EXPECT_FALSE(round(12000 + 3 * recheck + 2 * recheck));
    ASSERT_TRUE(round(12000 + 3 * recheck + 4 * recheck));
    ASSERT_TRUE(round(16000 + 7 * recheck + 4 * recheck)); // four times at most
    EXPECT_EQ(requests, 5);
}

TEST(DirectReading, AStoppingTaskDoesNotWaitForAPageThatDoesNotAnswer)
{
    std::atomic<bool> released{false}, cancel{false};
    vexory::test::TestHttpServer site;
    site.routes().Get("/slow", [&](const httplib::Request&, httplib::Response& res) {
        while (!released)
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        res.set_content("<meta charset=utf-8><p>late</p>", "text/html");
    });
    site.start();
    ReadingPolicy reading({}, &cancel);
    std::thread stopper([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        cancel = true;
    });
    const auto begun = std::chrono::steady_clock::now();
    EXPECT_FALSE(reading.Direct().Read(site.url("/slow")));
    // Well before the page's stall limit (20 s), whatever the machine.
    EXPECT_LT(std::chrono::steady_clock::now() - begun, std::chrono::seconds(10));
    stopper.join();
    released = true;
}

TEST(DirectReading, AReadPastALimitSaysWhichOnceAndTheBrowserReadsThePage)
{
    FetchedPage answer{200, "text/html", kUrl, ""};
    std::string nested = "<meta charset=utf-8>";
    for (int i = 0; i < 600; ++i)
        nested += "<i>";
    ReadingPolicy reading([&](const PageRequest&) { return answer; });
    reading.SetAllowed(true);
    const struct
    {
        FetchFailure failure;
        std::string body;
        DirectRefusal limit;
    } cases[] = {
        {FetchFailure::TooLarge, "", DirectRefusal::TooLarge},
        {FetchFailure::TimedOut, "", DirectRefusal::TooSlow},
        {FetchFailure::None, nested, DirectRefusal::TooDeep},
        {FetchFailure::Refused, "", DirectRefusal::None}, // not a limit: the browser says why itself
        {FetchFailure::None, "<p>no charset</p>", DirectRefusal::None},
    };
    for (const auto& c : cases) {
        answer.failure = c.failure;
        answer.body = c.body;
        EXPECT_FALSE(reading.Direct().Read(kUrl));
        EXPECT_EQ(reading.Direct().TakeLimitHit(), c.limit);
        EXPECT_EQ(reading.Direct().TakeLimitHit(), DirectRefusal::None); // said once
    }
}

TEST(DirectReading, ADirectReadWhoseRecordsLookOtherwiseIsCheckedByTheBrowser)
{
    // The last browser read cut 300 plain records; a direct read that looks otherwise
    // is doubted (and so not reported), one that looks alike goes on.
    ReadingPolicy reading([](const PageRequest& request) {
        return FetchedPage{200, "text/html", request.url, rows(2)};
    });
    reading.SetAllowed(true);
    ASSERT_TRUE(reading.AfterBrowserRead(kUrl, browserText(2), rowsShape(300), 1000));
    const struct
    {
        ReadShape direct;
        bool doubtful;
    } cases[] = {
        {{.records = 300}, false},
        {{.records = 420}, false}, // a listing that grew
        {{.records = 160}, false},
        {{.records = 140}, true},                 // far fewer: a pinned row or two in the markup
        {{.records = 0}, true},                   // nothing
        {{.records = 300, .markup = true}, true}, // a header row cut as a record
        {{.records = 300, .emptyField = true}, true},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(reading.Doubtful(c.direct), c.doubtful) << c.direct.records;
        if (c.doubtful) {
            EXPECT_TRUE(reading.AfterDirectRead(true, c.direct, 2000)); // back to the browser
            EXPECT_FALSE(reading.ReadsDirectly());
            ASSERT_TRUE(reading.AfterBrowserRead(kUrl, browserText(2), rowsShape(300), 3000));
        } else {
            EXPECT_FALSE(reading.AfterDirectRead(true, c.direct, 2000));
        }
    }
    // Markup and empty fields the browser's records had too are the page's own.
    ASSERT_FALSE(reading.AfterDirectRead(true, {.records = 300}, 4000));
    reading.AfterBrowserRead(kUrl, browserText(2), {.records = 3, .markup = true, .emptyField = true}, 5000);
    EXPECT_FALSE(reading.Doubtful({.records = 3, .markup = true, .emptyField = true}));
}

TEST(DirectReading, TasksStartedTogetherAreNotCheckedTogether)
{
    std::vector<std::unique_ptr<ReadingPolicy>> readings;
    int due = 0;
    for (int k = 0; k < 40; ++k) {
        auto& reading = readings.emplace_back(std::make_unique<ReadingPolicy>([](const PageRequest& request) {
            return FetchedPage{200, "text/html", request.url, rows(2)};
        }));
        reading->SetAllowed(true);
        reading->StartDirect(1000);
        EXPECT_FALSE(reading->AfterDirectRead(true, rowsShape(2), 1000 + ReadingPolicy::kRecheckMs - 1));
        due += reading->AfterDirectRead(true, rowsShape(2),
                                        1000 + ReadingPolicy::kRecheckMs + ReadingPolicy::kRecheckSpreadMs / 2);
    }
    // Of those due, one at a time goes to the browser: a turn every kCheckGapMs.
    EXPECT_EQ(due, 1);
    const uint32_t next =
        1000 + ReadingPolicy::kRecheckMs + ReadingPolicy::kRecheckSpreadMs / 2 + ReadingPolicy::kCheckGapMs;
    int more = 0;
    for (auto& reading : readings)
        more += reading->AfterDirectRead(true, rowsShape(2), next - 1);
    EXPECT_EQ(more, 0);
    for (auto& reading : readings)
        more += reading->AfterDirectRead(true, rowsShape(2), next);
    EXPECT_EQ(more, 1);
    // A read that failed needs no turn.
    auto failed = std::find_if(readings.begin(), readings.end(), [](auto& r) { return r->ReadsDirectly(); });
    ASSERT_NE(failed, readings.end());
    EXPECT_TRUE((*failed)->AfterDirectRead(false, rowsShape(0), next));
}
