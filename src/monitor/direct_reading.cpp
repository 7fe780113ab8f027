#include "monitor/direct_reading.h"

#include "browser/direct_page.h"
#include "formula/page_prep.h"

#include <utility>

namespace vexory {

namespace {

// A direct read is given the time a browser read has to connect, and no more.
constexpr long kConnectMs = 20000;
constexpr long kStallMs = 20000;

} // namespace

DirectReading::DirectReading(Fetch fetch, const std::atomic<bool>* cancel) : m_fetch(std::move(fetch))
{
    if (!m_fetch)
        m_fetch = [cancel](const std::string& url, const std::string& cookies, const std::string& userAgent) {
            return HttpFetchPage(url, cookies, userAgent, kConnectMs, kStallMs, cancel);
        };
}

void DirectReading::SetAllowed(bool allowed)
{
    m_allowed = allowed;
    if (!allowed)
        m_direct = false;
}

void DirectReading::SetSource(std::string cookies, std::string userAgent)
{
    std::lock_guard lock(m_sourceMutex);
    m_cookies = std::move(cookies);
    m_userAgent = std::move(userAgent);
}

std::optional<std::string> DirectReading::Read(const std::string& url)
{
    std::string cookies, userAgent;
    {
        std::lock_guard lock(m_sourceMutex);
        cookies = m_cookies;
        userAgent = m_userAgent;
    }
    const FetchedPage page = m_fetch(url, cookies, userAgent);
    if (page.status != 200)
        return std::nullopt;
    return DirectPageText(page.body, page.contentType, page.url.empty() ? url : page.url);
}

bool DirectReading::compareDue(uint32_t now)
{
    if (m_allowed && now - m_since >= kRecheckMs)
        m_compareDue = true;
    return m_allowed && m_compareDue;
}

void DirectReading::BeforeBrowserRead(const std::string& url, uint32_t now)
{
    m_early.reset();
    if (compareDue(now))
        m_early = Read(url);
}

bool DirectReading::AfterBrowserRead(const std::string& url, const std::string& browserText, bool hadRecords,
                                     uint32_t now)
{
    m_browserHadRecords = hadRecords;
    std::optional<std::string> direct = std::exchange(m_early, std::nullopt);
    if (!compareDue(now))
        return false;
    m_since = now; // the next comparison half an hour after the last of these
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

bool DirectReading::AfterDirectRead(bool read, bool hadRecords, uint32_t now)
{
    if (!m_direct)
        return false;
    if (read && !(m_browserHadRecords && !hadRecords) && now - m_since < kRecheckMs)
        return false;
    m_direct = false;
    m_compareDue = true;
    return true;
}

} // namespace vexory
