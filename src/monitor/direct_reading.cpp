#include "monitor/direct_reading.h"

#include "browser/direct_page.h"
#include "formula/page_prep.h"

#include <utility>

namespace vexory {

namespace {

constexpr long kStallMs = 20000;

bool limit(DirectRefusal why)
{
    return why == DirectRefusal::TooLarge || why == DirectRefusal::TooSlow || why == DirectRefusal::TooDeep ||
           why == DirectRefusal::OverBudget;
}

} // namespace

DirectReading::DirectReading(Fetch fetch, const std::atomic<bool>* cancel)
    : m_fetch(std::move(fetch)), m_cancel(cancel),
      m_spread(static_cast<std::minstd_rand::result_type>(reinterpret_cast<uintptr_t>(this) >> 4))
{
    if (!m_fetch)
        m_fetch = [](const PageRequest& request) { return HttpFetchPage(request); };
}

void DirectReading::since(uint32_t now)
{
    m_since = now;
    m_recheckMs = kRecheckMs + static_cast<uint32_t>(m_spread() % (kRecheckSpreadMs + 1));
}

void DirectReading::StartDirect(uint32_t now)
{
    if (!m_allowed)
        return;
    m_direct = true;
    m_compareDue = false;
    since(now);
}

void DirectReading::SetTimeLimit(uint32_t connectTimeoutMs)
{
    m_timeLimitMs = connectTimeoutMs > 0 ? connectTimeoutMs : kDefaultReadMs;
}

void DirectReading::SetAllowed(bool allowed)
{
    m_allowed = allowed;
    if (!allowed)
        m_direct = false;
}

void DirectReading::SetSource(std::shared_ptr<const CookieList> cookies, std::string userAgent)
{
    std::lock_guard lock(m_sourceMutex);
    m_cookies = std::move(cookies);
    m_userAgent = std::move(userAgent);
}

FetchedPage DirectReading::fetch(const std::string& url)
{
    PageRequest request;
    {
        std::lock_guard lock(m_sourceMutex);
        request.cookies = m_cookies;
        request.userAgent = m_userAgent;
    }
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

std::optional<std::string> DirectReading::textOf(const FetchedPage& page, const std::string& url)
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

std::optional<std::string> DirectReading::Read(const std::string& url)
{
    return textOf(fetch(url), url);
}

bool DirectReading::compareDue(uint32_t now)
{
    if (m_allowed && now - m_since >= m_recheckMs)
        m_compareDue = true;
    return m_allowed && m_compareDue;
}

std::optional<PageContent> DirectReading::BeforeRefresh(const std::string& url, uint32_t now)
{
    m_early.reset();
    if (!compareDue(now))
        return std::nullopt;
    FetchedPage page = fetch(url);
    m_early = textOf(page, url);
    if (!m_early || page.body.size() > kMaxShownContentBytes)
        return std::nullopt;
    return PageContent{std::move(page.body), std::move(page.contentType), page.url.empty() ? url : page.url};
}

bool DirectReading::AfterBrowserRead(const std::string& url, const std::string& browserText, const ReadShape& shape,
                                     uint32_t now)
{
    m_browserShape = shape;
    std::optional<std::string> direct = std::exchange(m_early, std::nullopt);
    if (!compareDue(now))
        return false;
    since(now); // the next comparison a recheck after the last of these
    if (!direct)
        direct = Read(url);
    if (direct) {
        PagePreparer preparer;
        const std::string seen = preparer.Prepare(browserText).text;
        m_direct = preparer.Prepare(*direct).text == seen;
    }
    m_compared = m_direct ? 0 : m_compared + 1;
    m_compareDue = !m_direct && m_compared < kCompareTries;
    if (!m_compareDue)
        m_compared = 0;
    return m_direct;
}

bool DirectReading::Doubtful(const ReadShape& direct) const
{
    const ReadShape& browser = m_browserShape;
    return (browser.records > 0 && direct.records == 0) || (browser.records >= 2 && direct.records * 2 < browser.records) ||
           (direct.markup && !browser.markup) || (direct.emptyField && !browser.emptyField);
}

bool DirectReading::AfterDirectRead(bool read, const ReadShape& shape, uint32_t now)
{
    if (!m_direct)
        return false;
    if (read && !Doubtful(shape) && now - m_since < m_recheckMs)
        return false;
    m_direct = false;
    m_compareDue = true;
    return true;
}

} // namespace vexory
