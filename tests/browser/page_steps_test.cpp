// A task's page steps against a scripted browser and window: every step code, the
// opening of each kind of task, a download, the reloads, and a window that goes
// away while a step waits.

#include "browser/page_steps.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>

using namespace vexory;

namespace {

const PageTarget kAll{"G", "P", "e"};

// A browser and a panel that write down what they are asked ("navigate P|wait|start").
struct Scripted : PageBrowser, PageStepHost, WizardStepHost
{
    std::string calls;
    bool window = true;
    bool clickWorks = true;
    bool loadWorks = true;
    bool onScreen = true;
    std::function<void()> duringWait;   // runs inside the page wait
    std::function<void()> duringScript; // runs inside a page script call
    std::unique_ptr<PageSteps> steps = std::make_unique<PageSteps>(*this, static_cast<PageStepHost&>(*this));

    void note(const std::string& call) { calls += (calls.empty() ? "" : "|") + call; }
    void script()
    {
        if (duringScript)
            duringScript();
    }
    std::string take() { return std::exchange(calls, {}); }

    void Navigate(const std::string& url) override { note("navigate " + url); }
    void Refresh() override { note("refresh"); }
    void Stop() override { note("stop"); }
    bool HasWindow() const override { return window; }
    std::string PageSource() override
    {
        note("source");
        script();
        return "text";
    }
    bool ClickElement(const std::string& spec) override
    {
        note("click " + spec);
        script();
        return clickWorks;
    }
    void ShowAsText(const std::string& encodedUrl) override { note("fetch " + encodedUrl); }
    void ShowContent(const PageContent& content) override { note("show " + content.baseUrl); }
    void Unload() override { note("unload"); }
    void WaitForPage() override
    {
        note("wait");
        if (duringWait)
            duringWait();
    }
    void StartRun() override
    {
        note("start");
        steps->SetRunning(true);
    }
    void HideStartButton() override { note("hide"); }
    void HandOver(std::string text) override { note("hand over " + text); }
    void ElementMissing() override { note("missing"); }
    bool PageOnScreen() const override { return onScreen; }
    bool Load(const std::string& url) override
    {
        note("load " + url);
        return loadWorks;
    }
    void Tell(News news) override
    {
        static const char* const names[] = {"guide loaded", "page loaded", "clicked", "click failed"};
        note(names[static_cast<int>(news)]);
    }
    void ReadPage() override { note("read"); }
};

struct Case
{
    int step;
    bool running;
    std::string before; // "loaded": the page was loaded before the run; "download": it is served as one
    PageTarget target;
    std::string calls;
    int next;
};

} // namespace

TEST(PageSteps, FirstStepIsTheSumOfWhatATaskNames)
{
    EXPECT_EQ(FirstPageStep({"G", "", ""}), 1);
    EXPECT_EQ(FirstPageStep({"", "P", ""}), 2);
    EXPECT_EQ(FirstPageStep({"G", "P", ""}), 3);
    EXPECT_EQ(FirstPageStep({"G", "", "e"}), 5);
    EXPECT_EQ(FirstPageStep({"", "P", "e"}), 6);
    EXPECT_EQ(FirstPageStep(kAll), 7);
    EXPECT_EQ(FirstPageStep({"", "", "e"}), -1); // an element without a page to click it on
    EXPECT_EQ(FirstPageStep({}), -1);
}

TEST(PageSteps, EveryStepDoesItsPartAndNamesTheNext)
{
    const PageTarget page{"", "P", ""}, click{"", "P", "e"}, guideOnly{"G", "", ""};
    const Case cases[] = {
        // The opening: a guide page first, the page, the first click; the run starts
        // once the page (or the click's page) is ready.
        {StepGuide, false, "", guideOnly, "navigate G", StepRefresh},
        {StepGuide + StepPage, false, "", kAll, "navigate G", StepPage},
        {StepGuide + StepClick, false, "", kAll, "navigate G", StepClick},
        {StepGuide + StepPage + StepClick, false, "", kAll, "navigate G", StepPage + StepClick},
        {StepPage, false, "", page, "hide|navigate P|wait|start", StepPage},
        {StepPage + StepClick, false, "", click, "hide|navigate P|wait|click e|hide|wait|start", StepClick},
        {StepPage + StepClick, true, "", click, "", StepPage + StepClick},
        {StepRefresh, false, "", guideOnly, "hide|start", StepRefresh},
        {StepClick, false, "", click, "click e|hide|wait|start", StepClick},
        // Each cycle: a refresh, the page loaded again when it was lost, a download
        // fetched again, the element clicked.
        {StepRefresh, true, "", guideOnly, "hide|refresh", StepRefresh},
        {StepRefresh, true, "download", guideOnly, "hide|fetch D", StepRefresh},
        {StepPage, true, "loaded", page, "hide|refresh", StepPage},
        {StepPage, true, "", page, "hide|navigate P", StepPage},
        {StepPage, true, "loaded download", page, "hide|fetch D", StepPage},
        {StepClick, true, "", click, "click e", StepClick},
        // The text for the thread, then back.
        {StepRefresh + StepReadSource, true, "", page, "source|hand over text|stop", StepRefresh},
        {StepPage + StepReadSource, true, "", page, "source|hand over text|stop", StepPage},
        {StepClick + StepReadSource, true, "", click, "source|hand over text|stop", StepClick},
        // No text: the monitored page again (the guide page when it has no page).
        {StepReloadUrl, true, "", page, "navigate P", StepRefresh},
        {StepReloadUrl, true, "", guideOnly, "navigate G", StepRefresh},
        {StepReloadUrlThenClick, true, "", click, "navigate P|hand over wait", StepClick},
        // After a memory trim: a refresh first; a read waits for it.
        {StepAfterTrim + StepRefresh, true, "", page, "refresh", StepRefresh},
        {StepAfterTrim + StepReloadUrl, true, "", page, "refresh", StepRefresh},
        {StepAfterTrim + StepClick, true, "", click, "refresh|hand over wait", StepClick},
        {StepAfterTrim + StepReloadUrlThenClick, true, "", click, "refresh|hand over wait", StepClick},
        {StepAfterTrim + StepRefresh + StepReadSource, true, "", page, "hand over wait", StepAfterTrim + StepRefresh},
        {StepAfterTrim + StepClick + StepReadSource, true, "", click, "hand over wait", StepAfterTrim + StepClick},
    };
    for (const Case& c : cases) {
        Scripted s;
        if (c.before.find("loaded") != std::string::npos) {
            s.steps->SetStep(StepPage);
            s.steps->Prepare(c.target);
        }
        if (c.before.find("download") != std::string::npos)
            s.steps->DownloadClaimed("D");
        s.steps->SetRunning(c.running);
        s.steps->SetStep(c.step);
        s.take();
        EXPECT_TRUE(s.steps->Run(c.target));
        EXPECT_EQ(s.take(), c.calls) << "step " << c.step << " " << c.before;
        EXPECT_EQ(s.steps->Step(), c.next) << "step " << c.step << " " << c.before;
    }

    Scripted missing; // an element that is not there: said, and the step stays
    missing.clickWorks = false;
    missing.steps->SetStep(StepClick);
    missing.steps->Run(click);
    EXPECT_EQ(missing.take(), "click e|missing");
    EXPECT_EQ(missing.steps->Step(), StepClick);
}

TEST(PageSteps, APageReadDirectlyIsLetGoAndLoadedAgainForTheBrowser)
{
    const PageTarget page{"", "P", ""};
    Scripted s;
    s.steps->SetStep(StepPage);
    s.steps->Prepare(page);
    s.steps->SetRunning(true);
    s.take();
    s.steps->SetDirect(true);
    EXPECT_EQ(s.take(), "unload");
    EXPECT_TRUE(s.steps->Run(page));
    EXPECT_EQ(s.take(), "hide"); // nothing for the browser to do
    s.steps->SetDirect(false);
    EXPECT_TRUE(s.steps->Run(page));
    EXPECT_EQ(s.take(), "hide|navigate P");
    EXPECT_TRUE(s.steps->Run(page));
    EXPECT_EQ(s.take(), "hide|refresh");

    // Bytes a direct read fetched for a comparison are shown at the next refresh,
    // and the refresh after loads the page from its address again.
    s.steps->ShowAtNextRefresh({"<p>x</p>", "text/html", "P?final"});
    EXPECT_TRUE(s.steps->Run(page));
    EXPECT_EQ(s.take(), "hide|show P?final");
    EXPECT_TRUE(s.steps->Run(page));
    EXPECT_EQ(s.take(), "hide|navigate P");
}

TEST(PageSteps, APageReloadedAtEveryRefreshIsLetGoBetweenCyclesWhileNobodySeesIt)
{
    const PageTarget page{"", "P", ""};
    for (const bool onScreen : {true, false}) {
        Scripted s;
        s.onScreen = onScreen;
        s.steps->SetStep(StepPage);
        s.steps->Prepare(page);
        s.steps->SetRunning(true);
        s.take();
        ASSERT_TRUE(s.steps->SourceRequested());
        EXPECT_TRUE(s.steps->Run(page));
        EXPECT_EQ(s.take(), onScreen ? "source|hand over text|stop" : "source|hand over text|stop|unload");
        // The thread is told, to read the page once it is loaded again.
        EXPECT_EQ(s.steps->PageLetGo(), !onScreen);
        EXPECT_TRUE(s.steps->Run(page));
        EXPECT_EQ(s.take(), onScreen ? "hide|refresh" : "hide|navigate P");
    }
    // A page clicked at every refresh keeps its state: it is never let go.
    Scripted s;
    s.onScreen = false;
    s.steps->SetStep(StepClick);
    s.steps->SetRunning(true);
    ASSERT_TRUE(s.steps->SourceRequested());
    EXPECT_TRUE(s.steps->Run({"", "P", "e"}));
    EXPECT_EQ(s.take(), "source|hand over text|stop");
}

TEST(PageSteps, PrepareLoadsWhatTheStepNeedsAndANewPageOfALinkedTask)
{
    const PageTarget click{"", "P", "e"};
    const Case cases[] = {
        {StepGuide, false, "", {"G", "", ""}, "navigate G|wait", StepRefresh},
        {StepGuide + StepPage, false, "", kAll, "navigate G|wait", StepPage},
        {StepGuide + StepClick, false, "", kAll, "navigate G|wait", StepClick},
        {StepGuide + StepPage + StepClick, false, "", kAll, "navigate G|wait", StepPage + StepClick},
        {StepPage, false, "", click, "navigate P|wait", StepPage},
        {StepPage + StepClick, false, "", click, "navigate P|wait", StepClick},
        // A running task whose page a linked task changed.
        {StepRefresh, true, "", click, "navigate P|wait", StepRefresh},
        {StepReloadUrl, true, "", click, "navigate P|wait", StepRefresh},
        {StepClick, true, "", click, "navigate P|wait", StepClick},
        {StepReloadUrlThenClick, true, "", click, "navigate P|wait", StepClick},
        {StepRefresh + StepReadSource, true, "", click, "navigate P|wait", StepRefresh + StepReadSource},
        {StepClick + StepReadSource, true, "", click, "navigate P|wait", StepClick + StepReadSource},
        // Marked by a trim: the new page instead of the refresh.
        {StepAfterTrim + StepClick, true, "", click, "navigate P|wait", StepClick},
        {StepAfterTrim + StepClick + StepReadSource, true, "", click, "navigate P|wait", StepClick + StepReadSource},
        // Nothing to load.
        {StepRefresh, true, "", {"G", "", ""}, "", StepRefresh},
    };
    for (const Case& c : cases) {
        Scripted s;
        s.steps->SetRunning(c.running);
        s.steps->SetStep(c.step);
        EXPECT_TRUE(s.steps->Prepare(c.target));
        EXPECT_EQ(s.take(), c.calls) << "step " << c.step;
        EXPECT_EQ(s.steps->Step(), c.next) << "step " << c.step;
    }

    // Without a browser window the step still moves on, and nothing is loaded.
    Scripted headless;
    headless.window = false;
    headless.steps->SetStep(StepGuide + StepPage);
    headless.steps->Prepare(kAll);
    EXPECT_EQ(headless.take(), "");
    EXPECT_EQ(headless.steps->Step(), StepPage);

    // A new address: whether it is a download shows anew, so it is refreshed again.
    Scripted download;
    download.steps->SetRunning(true);
    download.steps->DownloadClaimed("D");
    download.steps->SetStep(StepRefresh);
    download.steps->Prepare(click);
    download.take();
    download.steps->Run(click);
    EXPECT_EQ(download.take(), "hide|refresh");
}

TEST(PageSteps, TheThreadTheTrimAndALostPageMarkTheNextStep)
{
    const struct
    {
        int step;
        int afterRequest; // -1: the request is not taken
        int afterTrim;
        int afterLoss;
    } cases[] = {
        {StepRefresh, StepRefresh + StepReadSource, StepRefresh, StepReloadUrl},
        {StepPage, StepPage + StepReadSource, StepPage, StepPage},
        {StepClick, StepClick + StepReadSource, StepAfterTrim + StepClick, StepReloadUrlThenClick},
        {StepAfterTrim + StepRefresh, StepAfterTrim + StepRefresh + StepReadSource, StepAfterTrim + StepRefresh,
         StepAfterTrim + StepRefresh},
        {StepAfterTrim + StepClick, StepAfterTrim + StepClick + StepReadSource, StepAfterTrim + StepClick,
         StepAfterTrim + StepClick},
        {StepRefresh + StepReadSource, -1, StepAfterTrim + StepRefresh + StepReadSource, StepRefresh + StepReadSource},
        {StepClick + StepReadSource, -1, StepAfterTrim + StepClick + StepReadSource, StepClick + StepReadSource},
        {StepReloadUrl, -1, StepAfterTrim + StepReloadUrl, StepReloadUrl},
        {StepReloadUrlThenClick, -1, StepAfterTrim + StepReloadUrlThenClick, StepReloadUrlThenClick},
        {StepGuide + StepPage, -1, StepGuide + StepPage, StepGuide + StepPage},
    };
    for (const auto& c : cases) {
        Scripted s;
        s.steps->SetStep(c.step);
        EXPECT_EQ(s.steps->SourceRequested(), c.afterRequest >= 0) << c.step;
        EXPECT_EQ(s.steps->Step(), c.afterRequest >= 0 ? c.afterRequest : c.step) << c.step;
        s.steps->SetStep(c.step);
        s.steps->AfterTrim();
        EXPECT_EQ(s.steps->Step(), c.afterTrim) << c.step;
        s.steps->SetStep(c.step);
        s.steps->ReloadAtNextRefresh();
        EXPECT_EQ(s.steps->Step(), c.afterLoss) << c.step;
    }

    // A page task whose renderer ended loads its page again at the next refresh.
    Scripted lost;
    lost.steps->SetStep(StepPage);
    lost.steps->Prepare({"", "P", ""});
    lost.steps->SetRunning(true);
    lost.steps->ReloadAtNextRefresh();
    lost.take();
    lost.steps->Run({"", "P", ""});
    EXPECT_EQ(lost.take(), "hide|navigate P");
    // So does a run that ended and starts again.
    lost.steps->SetRunning(false);
    lost.steps->SetRunning(true);
    lost.steps->Run({"", "P", ""});
    EXPECT_EQ(lost.take(), "hide|navigate P");
}

TEST(PageSteps, AWindowThatGoesAwayDuringAWaitEndsTheStepThere)
{
    // The window (and its steps) closes inside a wait or a script call: the step
    // says so and touches nothing more (the sanitizers watch for that).
    const struct
    {
        int step;
        bool running;
        bool inWait;
        PageTarget target;
        std::string calls;
    } cases[] = {
        {StepPage, false, true, {"", "P", ""}, "hide|navigate P|wait"},
        {StepPage + StepClick, false, true, {"", "P", "e"}, "hide|navigate P|wait"},
        {StepClick, false, false, {"", "P", "e"}, "click e"},
        {StepClick, false, true, {"", "P", "e"}, "click e|hide|wait"},
        {StepClick, true, false, {"", "P", "e"}, "click e"},
        {StepRefresh + StepReadSource, true, false, {"", "P", ""}, "source"},
    };
    for (const auto& c : cases) {
        Scripted s;
        s.steps->SetRunning(c.running);
        s.steps->SetStep(c.step);
        (c.inWait ? s.duringWait : s.duringScript) = [&s] { s.steps.reset(); };
        EXPECT_FALSE(s.steps->Run(c.target)) << c.step;
        EXPECT_EQ(s.take(), c.calls) << c.step;
    }

    Scripted preparing;
    preparing.steps->SetStep(StepGuide + StepPage);
    preparing.duringWait = [&preparing] { preparing.steps.reset(); };
    EXPECT_FALSE(preparing.steps->Prepare(kAll));
    EXPECT_EQ(preparing.take(), "navigate G|wait");
}

TEST(PageSteps, TheWizardLoadsStepByStepThenReads)
{
    const struct
    {
        PageTarget target;
        std::string calls; // one Run per "下一步", each separated by " / "
    } cases[] = {
        {{"G", "", ""}, "load G|guide loaded / read"},
        {{"", "P", ""}, "load P|page loaded / read"},
        {{"G", "P", ""}, "load G|guide loaded / load P|page loaded / read"},
        {{"G", "", "e"}, "load G|guide loaded / click e|wait|clicked / read"},
        {{"", "P", "e"}, "load P|page loaded / click e|wait|clicked / read"},
        {{"G", "P", "e"}, "load G|guide loaded / load P|page loaded / click e|wait|clicked / read"},
    };
    for (const auto& c : cases) {
        Scripted s;
        WizardSteps wizard(s, s);
        ASSERT_TRUE(wizard.SetTarget(c.target));
        std::string all;
        while (wizard.Step() != StepReadSource) {
            wizard.Run();
            all += s.take() + " / ";
        }
        wizard.Run();
        EXPECT_EQ(all + s.take(), c.calls);
    }

    // A page that did not come, or an element that is not there: the step stays.
    Scripted s;
    WizardSteps wizard(s, s);
    EXPECT_FALSE(wizard.SetTarget({"", "", "e"}));
    wizard.Run();
    EXPECT_EQ(s.take(), "");
    wizard.SetTarget({"", "P", "e"});
    s.loadWorks = false;
    wizard.Run();
    EXPECT_EQ(s.take(), "load P");
    EXPECT_EQ(wizard.Step(), StepPage + StepClick);
    s.loadWorks = true;
    s.clickWorks = false;
    wizard.Run();
    wizard.Run();
    EXPECT_EQ(s.take(), "load P|page loaded|click e|click failed");
    EXPECT_EQ(wizard.Step(), StepClick);
}
