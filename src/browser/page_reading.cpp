#include "browser/page_reading.h"

#include "base/tick_clock.h"
#include "formula/page_prep.h"

#include <algorithm>
#include <mutex>
#include <utility>

namespace vexory {

namespace {

constexpr long kStallMs = 20000;

bool limit(DirectRefusal why)
{
    return why == DirectRefusal::TooLarge || why == DirectRefusal::TooSlow || why == DirectRefusal::TooDeep ||
           why == DirectRefusal::OverBudget;
}

// The run's turns to check a page read directly in the browser (see kCheckGapMs).
std::mutex g_checkMutex;
uint32_t g_nextCheck = 0;

bool takeCheckTurn(uint32_t now)
{
    std::lock_guard lock(g_checkMutex);
    const auto wait = static_cast<int32_t>(g_nextCheck - now);
    // A turn is never further away than the gap: one that is stems from an
    // earlier clock (a wrapped tick count, or a test's).
    if (wait > 0 && wait <= static_cast<int32_t>(ReadingPolicy::kCheckGapMs))
        return false;
    g_nextCheck = now + ReadingPolicy::kCheckGapMs;
    return true;
}

} // namespace

void BrowserReader::AskText(const std::string&)
{
    if (m_hooks.askBrowser)
        m_hooks.askBrowser();
}

void BrowserReader::Refresh(const std::string& url)
{
    if (std::optional<PageContent> content = m_policy.BeforeRefresh(url, TickCount()))
        if (m_hooks.show)
            m_hooks.show(std::move(*content));
    if (m_hooks.refresh)
        m_hooks.refresh();
}

DirectReader::DirectReader(const ReaderHooks& hooks, Fetch fetch, const std::atomic<bool>* cancel)
    : m_hooks(hooks), m_fetch(std::move(fetch)), m_cancel(cancel)
{
    if (!m_fetch)
        m_fetch = [](const PageRequest& request) { return HttpFetchPage(request); };
}

void DirectReader::SetTimeLimit(uint32_t connectTimeoutMs)
{
    m_timeLimitMs = connectTimeoutMs > 0 ? connectTimeoutMs : kDefaultReadMs;
}

FetchedPage DirectReader::fetch(const std::string& url)
{
    PageRequest request;
    BrowserIdentity identity = CurrentBrowserIdentity();
    request.cookies = std::move(identity.cookies);
    request.userAgent = std::move(identity.userAgent);
    request.url = url;
    // Connecting and the whole read within the task's time; a page past the size
    // limit is not taken in (its parse would take many times more).
    request.connectMs = m_timeLimitMs;
    request.stallMs = kStallMs;
    request.totalMs = m_timeLimitMs;
    request.maxBytes = kMaxDirectPageBytes;
    request.cancel = m_cancel;
    return m_fetch(request);
}

std::optional<std::string> DirectReader::textOf(const FetchedPage& page, const std::string& url)
{
    DirectRefusal why = DirectRefusal::None;
    std::optional<std::string> text;
    if (page.failure == FetchFailure::TooLarge)
        why = DirectRefusal::TooLarge;
    else if (page.failure == FetchFailure::TimedOut)
        why = DirectRefusal::TooSlow;
    else if (page.failure == FetchFailure::None && page.status == 200)
        text = DirectPageText(page.body, page.contentType, page.url.empty() ? url : page.url, &why);
    if (limit(why))
        m_limitHit = why;
    return text;
}

std::optional<std::string> DirectReader::Read(const std::string& url)
{
    return textOf(fetch(url), url);
}

std::optional<PageContent> DirectReader::ReadShown(const std::string& url, std::optional<std::string>& text)
{
    FetchedPage page = fetch(url);
    text = textOf(page, url);
    if (!text || page.body.size() > kMaxShownContentBytes)
        return std::nullopt;
    return PageContent{std::move(page.body), std::move(page.contentType), page.url.empty() ? url : page.url};
}

void DirectReader::readIntoSlot(const std::string& url)
{
    if (std::optional<std::string> text = Read(url)) {
        if (m_hooks.deliver)
            m_hooks.deliver(std::move(*text));
    } else if (m_hooks.failed) {
        m_hooks.failed();
    }
}

void DirectReader::Refresh(const std::string& url)
{
    readIntoSlot(url);
    if (m_hooks.refresh)
        m_hooks.refresh();
}

ReadingPolicy::ReadingPolicy(Fetch fetch, const std::atomic<bool>* cancel)
    : m_directReader(m_hooks, std::move(fetch), cancel), m_browserReader(*this, m_hooks),
      m_spread(static_cast<std::minstd_rand::result_type>(reinterpret_cast<uintptr_t>(this) >> 4))
{}

void ReadingPolicy::since(uint32_t now)
{
    m_since = now;
    // Rounds of comparisons in a row that found another text put the next one
    // further off: the first after kRecheckMs, then twice and four times that.
    const int doubled = std::min(std::max(m_fruitless - 1, 0), kRecheckDoublings);
    m_recheckMs = (kRecheckMs + static_cast<uint32_t>(m_spread() % (kRecheckSpreadMs + 1))) << doubled;
}

void ReadingPolicy::StartDirect(uint32_t now)
{
    if (!m_allowed)
        return;
    m_direct = true;
    m_compareDue = false;
    since(now);
}

void ReadingPolicy::SetAllowed(bool allowed)
{
    m_allowed = allowed;
    if (!allowed)
        m_direct = false;
}

bool ReadingPolicy::compareDue(uint32_t now)
{
    if (m_allowed && now - m_since >= m_recheckMs)
        m_compareDue = true;
    return m_allowed && m_compareDue;
}

std::optional<PageContent> ReadingPolicy::BeforeRefresh(const std::string& url, uint32_t now)
{
    m_early.reset();
    m_earlyShown = false;
    if (!compareDue(now))
        return std::nullopt;
    std::optional<PageContent> shown = m_directReader.ReadShown(url, m_early);
    m_earlyShown = shown.has_value();
    return shown;
}

bool ReadingPolicy::AfterBrowserRead(const std::string& url, const std::string& browserText, const ReadShape& shape,
                                     uint32_t now)
{
    m_browserShape = shape;
    std::optional<std::string> direct = std::exchange(m_early, std::nullopt);
    // The browser read the very bytes the direct read had: another text is the
    // page's scripts', and a comparison made again at once would find it again.
    const bool sameBytes = std::exchange(m_earlyShown, false) && direct;
    if (!compareDue(now))
        return false;
    m_regularCheck = false;
    if (!direct)
        direct = m_directReader.Read(url);
    if (direct) {
        PagePreparer preparer;
        const std::string seen = preparer.Prepare(browserText).text;
        m_direct = preparer.Prepare(*direct).text == seen;
    }
    m_compared = m_direct ? 0 : m_compared + 1;
    m_compareDue = !m_direct && !sameBytes && m_compared < kCompareTries;
    if (!m_compareDue)
        m_compared = 0;
    if (m_direct)
        m_fruitless = 0;
    else if (!m_compareDue)
        ++m_fruitless;
    since(now); // the next comparison a recheck after the last of these
    return m_direct;
}

bool ReadingPolicy::Doubtful(const ReadShape& direct) const
{
    const ReadShape& browser = m_browserShape;
    return (browser.records > 0 && direct.records == 0) ||
           (browser.records >= 2 && direct.records * 2 < browser.records) || (direct.markup && !browser.markup) ||
           (direct.emptyField && !browser.emptyField);
}

bool ReadingPolicy::AfterDirectRead(bool read, const ReadShape& shape, uint32_t now)
{
    if (!m_direct)
        return false;
    // A read that failed or looks otherwise goes back at once; a regular check
    // waits for its turn.
    const bool regular = read && !Doubtful(shape);
    if (regular && (now - m_since < m_recheckMs || !takeCheckTurn(now)))
        return false;
    m_regularCheck = regular;
    m_direct = false;
    m_compareDue = true;
    return true;
}

void ReadingPolicy::PostponeCheck()
{
    m_direct = true;
    m_compareDue = false;
    m_regularCheck = false;
}

} // namespace vexory
