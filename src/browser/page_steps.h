#pragma once

// A task's page steps: its guide page and its page loaded first, then at every
// cycle a refresh of the page or a click of its element, the page text read for
// the monitor thread, and a reload after a page that gave no text or a memory
// trim. The runner panel and the editor's wizard go through the same steps: the
// steps decide, the browser and the window around them act.
//
// Waits and page-script calls pump the window's events, in which the window, and
// the steps it owns, may go away: after each such call the steps look whether
// they still exist, and end the step at once when they do not.

#include <cstddef>
#include <memory>
#include <optional>
#include <string>

namespace vexory {

// The step codes. A task starts at the sum of what it names: a guide page to load
// first, its page, an element to click instead of reloading; once those are loaded
// it refreshes (StepRefresh, or StepPage for a task with a page only) or clicks
// (StepClick) every cycle.
enum PageStep : int
{
    StepRefresh = 0,
    StepGuide = 1,
    StepPage = 2,
    StepClick = 4,
    StepReadSource = 8,          // added to StepRefresh, StepPage, StepClick: read the page text, then back
    StepReloadUrl = 18,          // no page text: load the monitored URL, then refresh
    StepReloadUrlThenClick = 22, // the same, then click
    StepAfterTrim = 30,          // added after a memory trim: the page is refreshed first
};

// What a task names for its pages (its current page address, in code page 936).
struct PageTarget
{
    std::string guide;
    std::string page;
    std::string element;
};

// The step a task starts at: the sum of what it names; -1 when it names nothing to
// load (no address at all, or an element only).
int FirstPageStep(const PageTarget& target);

// The step after the first address of an opening step loaded (its guide page, or
// else its page): the rest of the sum, StepRefresh when nothing is left.
int AfterOpeningLoad(int step);

// Bytes a server sent for a page, for the browser to show as it would have shown
// them: the decision between the browser and a direct read is made on the same bytes.
struct PageContent
{
    std::string bytes;
    std::string mimeType; // the answer's Content-Type, charset included
    std::string baseUrl;  // the page's address after redirects
};

// The browser takes shown bytes as a data: address, of at most 2 MB once encoded.
inline constexpr size_t kMaxShownContentBytes = 1400 * 1024;

// The browser as the page steps use it. PageSource and ClickElement wait for a
// page script's answer and so pump events.
class PageBrowser
{
public:
    virtual ~PageBrowser() = default;
    virtual void Navigate(const std::string& url) = 0;
    virtual void Refresh() = 0;
    virtual void Stop() = 0;
    virtual bool HasWindow() const = 0;
    // The page text in code page 936; "" without a document.
    virtual std::string PageSource() = 0;
    // Clicks the element a task names (id, name^index, class^index).
    virtual bool ClickElement(const std::string& spec) = 0;
    // Shows a page served as a download as its text, fetched at the address as the
    // browser had it (percent-encoded) away from the window's thread: a page load
    // the ready rule waits for, which ends as a failed load when nothing came.
    virtual void ShowAsText(const std::string& encodedUrl) = 0;
    // Lets the page go (its document, and its renderer when no other page holds
    // it) while nothing needs it; the next Navigate or Refresh brings it back.
    virtual void Unload() = 0;
    // Shows the given bytes as the page at their address: a page load, scripts
    // and all, the ready rule waits for.
    virtual void ShowContent(const PageContent& content) = 0;
};

// The runner panel around the steps.
class PageStepHost
{
public:
    virtual ~PageStepHost() = default;
    // Waits for the page by the ready rule, pumping events.
    virtual void WaitForPage() = 0;
    // The run begins: the monitor thread starts its cycles (the host then calls SetRunning).
    virtual void StartRun() = 0;
    virtual void HideStartButton() = 0;
    // The page text (or "wait") for the monitor thread.
    virtual void HandOver(std::string text) = 0;
    // The element to click was not found.
    virtual void ElementMissing() = 0;
    // The page is on the screen now (a panel in another tab, or without a display, is not).
    virtual bool PageOnScreen() const = 0;
};

// Taken on the stack at the start of a step from the steps' life token: false once
// the steps were destroyed during a call that pumped events.
class StepsAlive
{
public:
    explicit StepsAlive(const std::shared_ptr<char>& life) : m_life(life) {}
    explicit operator bool() const { return !m_life.expired(); }

private:
    std::weak_ptr<char> m_life;
};

// The runner panel's steps: the panel's timer runs one step at a time.
class PageSteps
{
public:
    PageSteps(PageBrowser& browser, PageStepHost& host);

    int Step() const { return m_step; }
    void SetStep(int step) { m_step = step; }
    // The task opens at its guide page: with a display it waits for "开始".
    bool OpensAtGuidePage() const { return m_step > 0 && (m_step & StepGuide); }
    bool Running() const { return m_running; }
    // The monitor thread started or ended; an ended run loads its page anew.
    void SetRunning(bool running);
    // The monitor thread reads the page itself (true): a refresh leaves the browser
    // alone. Back in the browser, the page is loaded anew at the next refresh.
    void SetDirect(bool direct);
    bool Direct() const { return m_direct; }
    // The page was let go after its last read, and is loaded again at the next refresh.
    bool PageLetGo() const { return m_letGo; }

    // Before the run, and whenever a linked task asked for a new page: loads what
    // the step needs loaded (the new page, when the step is past its opening).
    // False when the window went away meanwhile.
    bool Prepare(const PageTarget& target);
    // Runs the step; false when the window went away meanwhile.
    bool Run(const PageTarget& target);

    // The monitor thread asks for the page text: true when the next step reads it.
    bool SourceRequested();
    // After a memory trim the page is refreshed before it is read or clicked again.
    void AfterTrim();
    // The page gave no text, or its renderer ended: it is loaded again from its
    // address at the next refresh.
    void ReloadAtNextRefresh();
    // The page is served as a download: it is monitored as its text, fetched now
    // and at every refresh instead of a reload.
    void DownloadClaimed(std::string encodedUrl);
    // At the next refresh of a page the browser shows these bytes (which a direct
    // read is compared with) instead of loading the page; the refresh after loads
    // it from its address again.
    void ShowAtNextRefresh(PageContent content);

private:
    bool load(const std::string& url);
    bool openingStep(const PageTarget& target);
    bool readSourceStep();
    void reloadStep(const PageTarget& target);
    bool clickStep(const std::string& element);
    void refreshOrFetch();

    PageBrowser& m_browser;
    PageStepHost& m_host;
    int m_step = -1;
    bool m_running = false;
    bool m_pageLoaded = false;
    bool m_direct = false;
    bool m_letGo = false;
    std::string m_download;               // the page's address when it is served as a download (encoded)
    std::optional<PageContent> m_content; // shown at the next refresh
    std::shared_ptr<char> m_life = std::make_shared<char>(); // see StepsAlive
};

// The editor's wizard around the steps: each step loads one address or clicks,
// and waits; the user goes on with "下一步".
class WizardStepHost
{
public:
    enum class News
    {
        GuideLoaded,
        PageLoaded,
        Clicked,
        ClickFailed
    };

    virtual ~WizardStepHost() = default;
    // Loads an address and waits for it; false when it did not come (the host said why).
    virtual bool Load(const std::string& url) = 0;
    virtual void WaitForPage() = 0;
    virtual void Tell(News news) = 0;
    // Reads the loaded page for the editor.
    virtual void ReadPage() = 0;
};

// The wizard's steps: the same opening as a run's, then a read of the page
// (StepReadSource); a step whose page did not come stays, to be tried again.
class WizardSteps
{
public:
    WizardSteps(PageBrowser& browser, WizardStepHost& host);

    // The first step; false (step -1) when the task names nothing to load.
    bool SetTarget(const PageTarget& target);
    int Step() const { return m_step; }
    void Run();

private:
    PageBrowser& m_browser;
    WizardStepHost& m_host;
    PageTarget m_target;
    int m_step = -1;
    std::shared_ptr<char> m_life = std::make_shared<char>(); // see StepsAlive
};

} // namespace vexory
