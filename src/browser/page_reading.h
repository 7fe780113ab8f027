#pragma once

// How a task's page is read at each cycle: by the browser (the text of the page it
// loaded, after its scripts ran) or directly (an HTTP request and the text a browser
// would give of it, see browser/direct_page.h). Both readers answer the same two
// calls of the monitor thread; one policy per task chooses which reads.
//
// A task that may read directly starts in the browser (or, when it read directly at
// its last run, directly). When a direct read of its page gives the same text after
// page preparation as the browser gives of the very same bytes, it goes on
// directly. It goes back to the browser when a direct read fails, when its records
// look otherwise than the last browser read's (far fewer, values holding markup or
// empty fields where the browser's had none: a page whose rows a script came to
// write), and every few minutes, to compare again. A task whose comparisons keep
// finding another text (its rows written by a script) is compared ever less often,
// down to one in twenty to thirty minutes. A direct read that looks
// otherwise is not reported: the browser reads the page at the next refresh, and
// that is reported.
//
// A direct read keeps to limits, whatever the page: its decoded size, its time (the
// task's connect time-out, redirects included), and the parse's depth, time and
// memory. A page past one is read by the browser, and the task's log says which.

#include "browser/direct_page.h"
#include "browser/page_fetch.h"
#include "browser/page_steps.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <optional>
#include <random>
#include <string>
#include <utility>

namespace vexory {

// What a read's records look like.
struct ReadShape
{
    int records = 0;
    bool markup = false;     // a value holding a tag
    bool emptyField = false; // a record with an empty field
};

// What the readers need of the monitor thread around them. Each runs on that thread.
struct ReaderHooks
{
    std::function<void()> askBrowser;              // the window's thread reads the page into the slot
    std::function<void()> refresh;                 // the cycle ends: the panel refreshes (or only counts)
    std::function<void(PageContent content)> show; // the browser shows these bytes at the refresh
    std::function<void(std::string text)> deliver; // a direct read's text for the slot
    std::function<void()> failed;                  // a direct read brought nothing
};

// A task's page read at each cycle. The monitor thread asks for the cycle's text
// when none came with the refresh, and refreshes the page at the end of the cycle;
// the text comes into the thread's slot.
class PageReader
{
public:
    virtual ~PageReader() = default;
    virtual void AskText(const std::string& url) = 0;
    virtual void Refresh(const std::string& url) = 0;
    // The refresh loads the page in the browser: the thread waits until it is ready.
    virtual bool Loads() const = 0;
};

class ReadingPolicy;

// The browser reads: the window's thread reads the page it loaded.
class BrowserReader final : public PageReader
{
public:
    BrowserReader(ReadingPolicy& policy, const ReaderHooks& hooks) : m_policy(policy), m_hooks(hooks) {}
    void AskText(const std::string& url) override;
    // A page due for a comparison is shown from the bytes of a direct read made now.
    void Refresh(const std::string& url) override;
    bool Loads() const override { return true; }

private:
    ReadingPolicy& m_policy;
    const ReaderHooks& m_hooks;
};

// The thread reads the page itself, sending what the browser sends.
class DirectReader final : public PageReader
{
public:
    using Fetch = std::function<FetchedPage(const PageRequest& request)>;
    // A read's time when its task sets no connect time-out.
    static constexpr uint32_t kDefaultReadMs = 60 * 1000;

    // `fetch` makes the request (a real one when not given, which `cancel`, when
    // set, ends at once: the task is stopping).
    DirectReader(const ReaderHooks& hooks, Fetch fetch, const std::atomic<bool>* cancel);

    // The whole of a read, redirects included: the task's connect time-out (0: none set).
    void SetTimeLimit(uint32_t connectTimeoutMs);
    // One read: the page's text as the browser would give it, or nothing.
    std::optional<std::string> Read(const std::string& url);
    // The same with the bytes it was made of, for the browser to show (nothing when
    // they are too large to be shown, or do not read directly).
    std::optional<PageContent> ReadShown(const std::string& url, std::optional<std::string>& text);
    // The limit the last failed read went past (size, time, depth, parse), once;
    // None when there was none.
    DirectRefusal TakeLimitHit() { return std::exchange(m_limitHit, DirectRefusal::None); }

    // A page read directly is read where the browser would load it again, at the
    // refresh; its text waits in the slot for the next cycle, as the browser's page
    // would. The cycle asks only when there was none.
    void AskText(const std::string& url) override { readIntoSlot(url); }
    void Refresh(const std::string& url) override;
    bool Loads() const override { return false; }

private:
    void readIntoSlot(const std::string& url);
    FetchedPage fetch(const std::string& url);
    std::optional<std::string> textOf(const FetchedPage& page, const std::string& url);

    const ReaderHooks& m_hooks;
    Fetch m_fetch;
    const std::atomic<bool>* m_cancel = nullptr;
    uint32_t m_timeLimitMs = kDefaultReadMs;
    DirectRefusal m_limitHit = DirectRefusal::None;
};

// The choice of a task's reader.
class ReadingPolicy
{
public:
    using Fetch = DirectReader::Fetch;
    static constexpr uint32_t kRecheckMs = 5 * 60 * 1000;
    // Each check comes at a time drawn up to this much later, so that tasks started
    // together are not all checked in the browser at once.
    static constexpr uint32_t kRecheckSpreadMs = kRecheckMs / 2;
    // Regular checks begin one at a time across the run, at most one in this
    // time: each loads its page in the browser, and hundreds of tasks due at once
    // would have as many renderers alive. A check's page also holds the run's one
    // turn for those until its cycle read it (see monitor_core.cpp), so one check
    // page is alive at a time and a check begins at most every gap.
    static constexpr uint32_t kCheckGapMs = 2000;
    // Browser reads in a row compared before a page that reads otherwise waits for
    // the next recheck: a page can change between the browser's read and the direct one.
    static constexpr int kCompareTries = 3;
    // While the comparisons of a page keep finding another text (its rows a
    // script's), the time to its next one is doubled, at most this many times.
    static constexpr int kRecheckDoublings = 2;

    explicit ReadingPolicy(Fetch fetch = {}, const std::atomic<bool>* cancel = nullptr);
    ReadingPolicy(const ReadingPolicy&) = delete;
    ReadingPolicy& operator=(const ReadingPolicy&) = delete;

    // What the readers call on the monitor thread; set before the thread starts.
    void SetHooks(ReaderHooks hooks) { m_hooks = std::move(hooks); }
    // The reader of the task's next read.
    PageReader& Reader() { return m_direct ? static_cast<PageReader&>(m_directReader) : m_browserReader; }
    DirectReader& Direct() { return m_directReader; }

    // Whether the task may read directly at all (no guide page, no element click,
    // no chain, and the option on).
    void SetAllowed(bool allowed);
    bool Allowed() const { return m_allowed; }
    // A task allowed to read directly that did so when it last ran starts so (no
    // browser read first); the regular check compares it with the browser again.
    void StartDirect(uint32_t now);
    bool ReadsDirectly() const { return m_direct; }
    // The browser's next read is compared with a direct one.
    bool Comparing() const { return m_allowed && !m_direct && m_compareDue; }
    // That comparison is a regular check of a page that reads directly (not one
    // of a page whose read looked otherwise, nor of a page not yet read directly).
    bool RegularCheck() const { return Comparing() && m_regularCheck; }

    // At the refresh before a browser read: when a comparison is due, reads the page
    // directly now, and gives its bytes for the browser to show instead of loading
    // the page anew: the browser's text and the direct one then come from the same
    // bytes, and only the page's scripts can make them differ. A page that changes
    // at every request (a token, a time, a new row) so still reads directly.
    std::optional<PageContent> BeforeRefresh(const std::string& url, uint32_t now);
    // After a cycle whose text the browser gave: when a comparison is due, compares
    // it with the direct read made as the browser began (read now when there was
    // none); true when the task now reads directly.
    bool AfterBrowserRead(const std::string& url, const std::string& browserText, const ReadShape& shape, uint32_t now);
    // A direct read whose records look otherwise than the last browser read's.
    bool Doubtful(const ReadShape& direct) const;
    // After a cycle read directly (`read` false: the read failed): true when the
    // task goes back to the browser.
    bool AfterDirectRead(bool read, const ReadShape& shape, uint32_t now);
    // A regular check whose page cannot be shown now (another check's is): the
    // task reads directly on, its check due at its next turn.
    void PostponeCheck();

private:
    bool compareDue(uint32_t now);
    void since(uint32_t now);

    ReaderHooks m_hooks;
    DirectReader m_directReader;
    BrowserReader m_browserReader;
    std::atomic<bool> m_allowed{false}; // read by the panel too
    bool m_direct = false;
    bool m_compareDue = true;           // compare at the next browser read
    bool m_regularCheck = false;        // that comparison is a regular check
    int m_compared = 0;                 // comparisons in a row that found another text
    std::optional<std::string> m_early; // the direct read made as the browser began
    bool m_earlyShown = false;          // its bytes are what the browser shows
    int m_fruitless = 0;                // rounds of comparisons in a row that found another text
    ReadShape m_browserShape;
    uint32_t m_since = 0;              // when the task began to read directly
    uint32_t m_recheckMs = kRecheckMs; // from then to its next check
    std::minstd_rand m_spread;
};

} // namespace vexory
