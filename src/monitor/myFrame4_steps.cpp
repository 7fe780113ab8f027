// The runner panel's page steps: the guide page, the page, the element click, the
// page text read for the thread, and the reloads, each decided before its wait.

#include "monitor/myFrame4.h"

#include "browser/webengine_browser.h"

#include <QPointer>
#include <QPushButton>

namespace vexory {

void TFrame4::waitForPage()
{
    if (TTaskRecord* t = task())
        WaitReady(*m_browser, m_account.StopAll, t->ConnectTimeout);
}

void TFrame4::PrepareStart()
{
    TTaskRecord* t = task();
    if (!t)
        return;
    const std::string guide = t->GuideUrl;
    const std::string page = t->PageUrl();
    // The page wait runs the event loop, in which the panel may be closed: false then.
    QPointer<TFrame4> self(this);
    auto load = [&](const std::string& url) {
        m_download.clear(); // a new address: whether it is a download shows anew
        if (m_browser->HasWindow()) {
            m_browser->Navigate(url);
            waitForPage();
        }
        return !self.isNull();
    };
    // A memory trim marked the next step to refresh first: the new page a linked
    // task asked for is loaded instead, by the step under the mark.
    if (m_step >= StepAfterTrim)
        m_step -= StepAfterTrim;
    switch (m_step) {
    case StepGuide:
        if (!load(guide))
            return;
        m_step = StepRefresh;
        break;
    case StepPage:
        if (!load(page))
            return;
        m_pageLoaded = true;
        break;
    case StepGuide + StepPage:
        if (!load(guide))
            return;
        m_step = StepPage;
        break;
    case StepGuide + StepClick:
        if (!load(guide))
            return;
        m_step = StepClick;
        break;
    case StepPage + StepClick:
        if (!load(page))
            return;
        m_step = StepClick;
        break;
    case StepGuide + StepPage + StepClick:
        if (!load(guide))
            return;
        m_step = StepPage + StepClick;
        break;
    // A running panel whose task a linked task asked for a new page: load it,
    // whichever way the panel refreshes.
    case StepRefresh:
    case StepReloadUrl:
        if (!page.empty() && !load(page))
            return;
        m_step = StepRefresh;
        break;
    case StepClick:
    case StepReloadUrlThenClick:
        if (!page.empty() && !load(page))
            return;
        m_step = StepClick;
        break;
    // About to read its page: the page read is the new one.
    case StepRefresh + StepReadSource:
    case StepClick + StepReadSource:
        if (!page.empty() && !load(page))
            return;
        break;
    default:
        break;
    }
}

// One step of the step machine (the table of steps in the task's life). Page
// waits and script calls pump events, so the timer can fire again inside a step:
// such a step is held back and runs right after the one under way. Each step
// decides its next step before it waits, and looks at the panel again after.
void TFrame4::runStep()
{
    m_timer.stop();
    if (m_inStep) {
        m_stepPending = true;
        return;
    }
    QPointer<TFrame4> self(this);
    m_inStep = true;
    runOneStep();
    if (!self)
        return;
    m_inStep = false;
    if (m_stepPending) {
        m_stepPending = false;
        enableTimer();
    }
}

void TFrame4::runOneStep()
{
    TTaskRecord* t = task();
    if (!t)
        return;
    t->RunState = RunBusy;
    const bool here = m_step < StepReadSource  ? openingStep(*t)
                      : m_step < StepReloadUrl ? readSourceStep()
                                               : reloadStep(*t);
    if (!here)
        return; // the panel was closed during the step
    m_timer.stop();
    if ((t = task()))
        t->RunState = RunBetweenCycles;
}

// The steps up to the running page: the guide page, the page, the first click; then
// each cycle's refresh or click. False when the panel was closed meanwhile.
bool TFrame4::openingStep(const TTaskRecord& t)
{
    QPointer<TFrame4> self(this);
    const std::string guide = t.GuideUrl;
    const std::string page = t.PageUrl();
    const std::string element = t.ElementId;
    switch (m_step) {
    case StepRefresh:
        m_button->hide();
        if (m_running && !m_download.isEmpty())
            fetchDownload();
        else if (m_running)
            m_browser->Refresh();
        else
            SetRunning(true);
        break;
    case StepGuide:
        m_browser->Navigate(guide);
        m_step = StepRefresh;
        break;
    case StepPage:
        m_button->hide();
        if (!m_running) {
            m_browser->Navigate(page);
            m_pageLoaded = true;
            waitForPage();
            if (!self)
                return false;
            SetRunning(true);
        } else if (m_pageLoaded && !m_download.isEmpty()) {
            fetchDownload();
        } else if (m_pageLoaded) {
            m_browser->Refresh();
        } else {
            m_browser->Navigate(page);
            m_pageLoaded = true;
        }
        break;
    case StepGuide + StepPage:
        m_browser->Navigate(guide);
        m_step = StepPage;
        break;
    case StepClick:
        clickStep(element);
        if (!self)
            return false;
        break;
    case StepGuide + StepClick:
        m_browser->Navigate(guide);
        m_step = StepClick;
        break;
    case StepPage + StepClick:
        if (!m_running) {
            m_button->hide();
            m_browser->Navigate(page);
            m_step = StepClick;
            waitForPage();
            if (!self)
                return false;
            if (m_step == StepClick) // the click at once, unless the wait changed the step
                clickStep(element);
            if (!self)
                return false;
        }
        break;
    case StepGuide + StepPage + StepClick:
        m_browser->Navigate(guide);
        m_step = StepPage + StepClick;
        break;
    default:
        break;
    }
    return true;
}

// The page text for the thread, then back to the step before.
bool TFrame4::readSourceStep()
{
    QPointer<TFrame4> self(this);
    switch (m_step) {
    case StepRefresh + StepReadSource:
    case StepPage + StepReadSource:
    case StepClick + StepReadSource: {
        m_step -= StepReadSource;
        std::string text = m_browser->PageSource();
        if (!self)
            return false;
        handOver(std::move(text));
        m_browser->Stop();
        break;
    }
    default:
        break;
    }
    return true;
}

// A page that gave no text is loaded again from its URL, and after a memory trim
// the page is refreshed; a click task's thread waits meanwhile.
bool TFrame4::reloadStep(const TTaskRecord& t)
{
    const std::string monitored = t.PageUrl().empty() ? t.GuideUrl : t.PageUrl();
    switch (m_step) {
    case StepReloadUrl:
        m_browser->Navigate(monitored);
        m_step = StepRefresh;
        break;
    case StepReloadUrlThenClick:
        m_browser->Navigate(monitored);
        handOver("wait");
        m_step = StepClick;
        break;
    case StepAfterTrim + StepRefresh:
    case StepAfterTrim + StepReloadUrl:
        m_browser->Refresh();
        m_step = StepRefresh;
        break;
    case StepAfterTrim + StepClick:
    case StepAfterTrim + StepReloadUrlThenClick:
        m_browser->Refresh();
        handOver("wait");
        m_step = StepClick;
        break;
    case StepAfterTrim + StepRefresh + StepReadSource:
        handOver("wait");
        m_step = StepAfterTrim + StepRefresh;
        break;
    case StepAfterTrim + StepClick + StepReadSource:
        handOver("wait");
        m_step = StepAfterTrim + StepClick;
        break;
    default:
        break;
    }
    return true;
}

// Step 4: the element is clicked instead of reloading; before the run, a click
// that works starts it once the page is ready.
void TFrame4::clickStep(const std::string& element)
{
    QPointer<TFrame4> self(this);
    if (m_running) {
        if (!m_browser->ClickElement(element) && self)
            elementWarning();
    } else if (m_browser->ClickElement(element)) {
        if (!self)
            return;
        m_button->hide();
        waitForPage();
        if (self)
            SetRunning(true);
    } else if (self) {
        elementWarning();
    }
}

} // namespace vexory
