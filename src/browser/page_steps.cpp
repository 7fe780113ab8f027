#include "browser/page_steps.h"

#include <utility>

namespace vexory {

int FirstPageStep(const PageTarget& target)
{
    const int code = (target.guide.empty() ? 0 : StepGuide) + (target.page.empty() ? 0 : StepPage) +
                     (target.element.empty() ? 0 : StepClick);
    return code == 0 || code == StepClick ? -1 : code;
}

int AfterOpeningLoad(int step)
{
    if (step & StepGuide)
        return step - StepGuide;
    if (step & StepPage)
        return step - StepPage;
    return StepRefresh;
}

PageSteps::PageSteps(PageBrowser& browser, PageStepHost& host) : m_browser(browser), m_host(host) {}

void PageSteps::SetRunning(bool running)
{
    m_running = running;
    if (!running) {
        m_pageLoaded = false;
        m_letGo = false;
    }
}

void PageSteps::SetDirect(bool direct)
{
    m_direct = direct;
    // A page read directly keeps nothing in the browser; it is loaded again when needed.
    if (direct)
        m_browser.Unload();
    else
        m_pageLoaded = false;
}

bool PageSteps::load(const std::string& url)
{
    const StepsAlive alive(m_life);
    m_download.clear(); // a new address: whether it is a download shows anew
    if (m_browser.HasWindow()) {
        m_browser.Navigate(url);
        m_host.WaitForPage();
    }
    return static_cast<bool>(alive);
}

bool PageSteps::Prepare(const PageTarget& target)
{
    const std::string& guide = target.guide;
    const std::string& page = target.page;
    // A memory trim marked the next step to refresh first: the new page a linked
    // task asked for is loaded instead, by the step under the mark.
    if (m_step >= StepAfterTrim)
        m_step -= StepAfterTrim;
    switch (m_step) {
    case StepGuide:
    case StepGuide + StepPage:
    case StepGuide + StepClick:
    case StepGuide + StepPage + StepClick:
        if (!load(guide))
            return false;
        m_step = AfterOpeningLoad(m_step);
        break;
    case StepPage:
        if (!load(page))
            return false;
        m_pageLoaded = true;
        break;
    case StepPage + StepClick:
        if (!load(page))
            return false;
        m_step = StepClick;
        break;
    // A running panel whose task a linked task asked for a new page: load it,
    // whichever way the panel refreshes.
    case StepRefresh:
    case StepReloadUrl:
        if (!page.empty() && !load(page))
            return false;
        m_step = StepRefresh;
        break;
    case StepClick:
    case StepReloadUrlThenClick:
        if (!page.empty() && !load(page))
            return false;
        m_step = StepClick;
        break;
    // About to read its page: the page read is the new one.
    case StepRefresh + StepReadSource:
    case StepClick + StepReadSource:
        if (!page.empty() && !load(page))
            return false;
        break;
    default:
        break;
    }
    return true;
}

bool PageSteps::Run(const PageTarget& target)
{
    if (m_step < StepReadSource)
        return openingStep(target);
    if (m_step < StepReloadUrl)
        return readSourceStep();
    reloadStep(target);
    return true;
}

// A page served as a download has its text fetched again; any other is refreshed.
void PageSteps::refreshOrFetch()
{
    if (m_download.empty())
        m_browser.Refresh();
    else
        m_browser.ShowAsText(m_download);
}

// The steps up to the running page (the guide page, the page, the first click),
// then each cycle's refresh or click.
bool PageSteps::openingStep(const PageTarget& target)
{
    const StepsAlive alive(m_life);
    switch (m_step) {
    case StepRefresh:
        m_host.HideStartButton();
        if (m_running)
            refreshOrFetch();
        else
            m_host.StartRun();
        break;
    case StepGuide:
    case StepGuide + StepPage:
    case StepGuide + StepClick:
    case StepGuide + StepPage + StepClick:
        m_browser.Navigate(target.guide);
        m_step = AfterOpeningLoad(m_step);
        break;
    case StepPage:
        m_host.HideStartButton();
        if (!m_running) {
            m_browser.Navigate(target.page);
            m_pageLoaded = true;
            m_host.WaitForPage();
            if (!alive)
                return false;
            m_host.StartRun();
        } else if (m_direct) {
            // Read without the browser: nothing to refresh.
        } else if (m_content) {
            m_browser.ShowContent(*m_content);
            m_content.reset();
            m_pageLoaded = false; // from its address again at the refresh after
        } else if (m_pageLoaded) {
            refreshOrFetch();
        } else {
            m_browser.Navigate(target.page);
            m_pageLoaded = true;
        }
        break;
    case StepClick:
        return clickStep(target.element);
    case StepPage + StepClick:
        if (m_running)
            break;
        m_host.HideStartButton();
        m_browser.Navigate(target.page);
        m_step = StepClick;
        m_host.WaitForPage();
        if (!alive)
            return false;
        if (m_step == StepClick) // the click at once, unless the wait changed the step
            return clickStep(target.element);
        break;
    default:
        break;
    }
    return true;
}

// The page text for the thread, then back to the step before.
bool PageSteps::readSourceStep()
{
    switch (m_step) {
    case StepRefresh + StepReadSource:
    case StepPage + StepReadSource:
    case StepClick + StepReadSource: {
        const StepsAlive alive(m_life);
        m_step -= StepReadSource;
        std::string text = m_browser.PageSource();
        if (!alive)
            return false;
        m_host.HandOver(std::move(text));
        m_browser.Stop();
        // A page loaded anew at every refresh is not needed until then: nobody seeing
        // it, it is let go (its renderer too, when no other page holds it), so that
        // the memory of many such tasks follows the loads under way, not the tasks.
        m_letGo = m_step == StepPage && m_download.empty() && !m_host.PageOnScreen();
        if (m_letGo) {
            m_browser.Unload();
            m_pageLoaded = false;
        }
        break;
    }
    default:
        break;
    }
    return true;
}

// A page that gave no text is loaded again from its URL, and after a memory trim
// the page is refreshed; a click task's thread waits meanwhile.
void PageSteps::reloadStep(const PageTarget& target)
{
    const std::string& monitored = target.page.empty() ? target.guide : target.page;
    switch (m_step) {
    case StepReloadUrl:
        m_browser.Navigate(monitored);
        m_step = StepRefresh;
        break;
    case StepReloadUrlThenClick:
        m_browser.Navigate(monitored);
        m_host.HandOver("wait");
        m_step = StepClick;
        break;
    case StepAfterTrim + StepRefresh:
    case StepAfterTrim + StepReloadUrl:
        m_browser.Refresh();
        m_step = StepRefresh;
        break;
    case StepAfterTrim + StepClick:
    case StepAfterTrim + StepReloadUrlThenClick:
        m_browser.Refresh();
        m_host.HandOver("wait");
        m_step = StepClick;
        break;
    case StepAfterTrim + StepRefresh + StepReadSource:
        m_host.HandOver("wait");
        m_step = StepAfterTrim + StepRefresh;
        break;
    case StepAfterTrim + StepClick + StepReadSource:
        m_host.HandOver("wait");
        m_step = StepAfterTrim + StepClick;
        break;
    default:
        break;
    }
}

// The element is clicked instead of reloading; before the run, a click that works
// starts it once the page is ready.
bool PageSteps::clickStep(const std::string& element)
{
    const StepsAlive alive(m_life);
    const bool clicked = m_browser.ClickElement(element);
    if (!alive)
        return false;
    if (!clicked) {
        m_host.ElementMissing();
        return true;
    }
    if (m_running)
        return true;
    m_host.HideStartButton();
    m_host.WaitForPage();
    if (!alive)
        return false;
    m_host.StartRun();
    return true;
}

bool PageSteps::SourceRequested()
{
    if (m_step == StepRefresh || m_step == StepPage || m_step == StepClick || m_step == StepAfterTrim + StepRefresh ||
        m_step == StepAfterTrim + StepClick) {
        m_step += StepReadSource;
        return true;
    }
    return false;
}

void PageSteps::AfterTrim()
{
    if (m_step == StepClick || m_step == StepRefresh + StepReadSource || m_step == StepClick + StepReadSource ||
        m_step == StepReloadUrl || m_step == StepReloadUrlThenClick)
        m_step += StepAfterTrim;
}

void PageSteps::ReloadAtNextRefresh()
{
    if (m_step == StepRefresh)
        m_step = StepReloadUrl;
    else if (m_step == StepClick)
        m_step = StepReloadUrlThenClick;
    else if (m_step == StepPage)
        m_pageLoaded = false;
}

void PageSteps::ShowAtNextRefresh(PageContent content)
{
    if (m_step == StepPage && m_download.empty())
        m_content = std::move(content);
}

void PageSteps::DownloadClaimed(std::string encodedUrl)
{
    m_download = std::move(encodedUrl);
    m_browser.ShowAsText(m_download);
}

WizardSteps::WizardSteps(PageBrowser& browser, WizardStepHost& host) : m_browser(browser), m_host(host) {}

bool WizardSteps::SetTarget(const PageTarget& target)
{
    m_target = target;
    m_step = FirstPageStep(target);
    return m_step >= 0;
}

void WizardSteps::Run()
{
    const StepsAlive alive(m_life);
    if (m_step > 0 && (m_step & (StepGuide | StepPage)) && m_step < StepReadSource) {
        const bool guide = m_step & StepGuide;
        const bool loaded = m_host.Load(guide ? m_target.guide : m_target.page);
        if (!alive || !loaded)
            return; // the step stays: "下一步" tries again
        m_host.Tell(guide ? WizardStepHost::News::GuideLoaded : WizardStepHost::News::PageLoaded);
        const int next = AfterOpeningLoad(m_step);
        m_step = next == StepRefresh ? StepReadSource : next;
    } else if (m_step == StepClick) {
        const bool clicked = m_browser.ClickElement(m_target.element);
        if (!alive)
            return;
        if (!clicked) {
            m_host.Tell(WizardStepHost::News::ClickFailed);
            return;
        }
        m_host.WaitForPage();
        if (!alive)
            return;
        m_host.Tell(WizardStepHost::News::Clicked);
        m_step = StepReadSource;
    } else if (m_step == StepReadSource) {
        m_host.ReadPage();
    }
}

} // namespace vexory
