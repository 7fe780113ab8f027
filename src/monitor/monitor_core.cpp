#include "monitor/monitor_core.h"

#include "base/encoding.h"
#include "base/string_list2.h"
#include "base/text_helpers.h"
#include "base/tick_clock.h"
#include "browser/ready_wait.h"
#include "formula/markers.h"
#include "formula/page_prep.h"
#include "model/kept_screen.h"
#include "model/settings.h"
#include "monitor/gbk_texts.h"
#include "platform/plugin_window.h"
#include "service/service_client.h"

#include <algorithm>
#include <atomic>
#include <charconv>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <malloc.h>
#include <thread>
#include <utility>

namespace vexory {

namespace {

constexpr std::string_view kWait = "wait";

std::string withoutSentinel(std::string_view text)
{
    return RemoveAll(text, MarkedSentinel);
}

// Puts a task's previous run state back when processing ends.
class BusyState
{
public:
    explicit BusyState(TTaskRecord& t) : m_task(t), m_previous(t.RunState.exchange(RunBusy)) {}
    ~BusyState() { m_task.RunState = m_previous; }
    BusyState(const BusyState&) = delete;
    BusyState& operator=(const BusyState&) = delete;

private:
    TTaskRecord& m_task;
    uint8_t m_previous;
};

// Threads that wait for another task or for the end sleep here; whoever changes
// what they wait for wakes them.
std::mutex g_wakeMutex;
std::condition_variable g_wake;

// Pages loaded late (see SetPageLetGo) under way across the run, and pages shown
// for a regular check (see takeSlot); under g_wakeMutex.
int g_pagesLoading = 0;
int g_checksLoading = 0;

} // namespace

void MonitorCore::WakeWaiting()
{
    // Taking the lock orders the change before a waiter's next look: no wake is lost.
    {
        std::lock_guard lock(g_wakeMutex);
    }
    g_wake.notify_all();
}

void MonitorCore::ReleaseStoppedTasks(TAccountRecord& account, const std::function<bool(int)>& threadRuns)
{
    for (size_t i = 0; i < account.Tasks.size(); ++i)
        if (!threadRuns(static_cast<int>(i)) && account.Tasks[i].RunState != RunIdle)
            account.Tasks[i].RunState = RunStopped;
    WakeWaiting();
}

void MonitorCore::RequestStop()
{
    m_stop = true;
    WakeWaiting();
}

// Waits until `ready` holds; false when the stop condition came first.
bool MonitorCore::waitUntil(const std::function<bool()>& ready)
{
    std::unique_lock lock(g_wakeMutex);
    while (!ready()) {
        if (StopCondition())
            return false;
        // Woken at once by WakeWaiting; the time limit only guards against a writer that forgot to.
        g_wake.wait_for(lock, std::chrono::milliseconds(1000));
    }
    return true;
}

MonitorCore::MonitorCore(TAccountRecord& account, const BrowserState* browser, std::string server, MonitorEvents events)
    : m_account(account), m_browser(browser), m_server(std::move(server)), m_events(std::move(events)),
      m_reading({}, &m_stop)
{
    m_reading.SetHooks({
        .askBrowser =
            [this] {
                if (m_events.sourceRequest)
                    m_events.sourceRequest();
            },
        .refresh =
            [this] {
                reportLimitHit();
                if (m_events.refresh)
                    m_events.refresh();
            },
        .show =
            [this](PageContent content) {
                if (m_events.renderContent)
                    m_events.renderContent(std::move(content));
            },
        .deliver =
            [this](std::string text) {
                SetPageText(std::move(text));
                m_slotDirect = true;
            },
        .failed = [this] { afterRead({}, true, OutcomeNothing); }, // back to the browser
    });
}

long CountdownSeconds(int remainingMs)
{
    return remainingMs <= 0 ? 0 : std::lrint(std::nearbyint(remainingMs / 1000.0));
}

int NextLookMs(uint32_t interval, uint32_t early, uint32_t elapsed, bool waitingForText)
{
    if (waitingForText || elapsed >= interval)
        return 100;                        // and the last look of a cycle
    uint32_t due = interval + 1 - elapsed; // the end of the cycle
    if (elapsed <= early)
        due = std::min(due, early + 1 - elapsed);
    const uint32_t remaining = interval - elapsed;
    if (remaining > 500) // the shown second changes as the rest passes a half second
        due = std::min(due, (remaining - 500) % 1000 + 1);
    return static_cast<int>(due);
}

bool MonitorCore::StopCondition() const
{
    return m_stop || m_account.StopAll;
}

// Sleeps MS; a stop (which wakes the waiting threads) ends it at once; false when stopped.
bool MonitorCore::sleepMs(int ms)
{
    std::unique_lock lock(g_wakeMutex);
    return !g_wake.wait_for(lock, std::chrono::milliseconds(ms), [this] { return StopCondition(); });
}

void MonitorCore::SetPageText(std::string text)
{
    std::lock_guard lock(m_slotMutex);
    m_pageText.swap(text); // the old text's room goes with it (assigning an empty one would keep it)
}

std::string MonitorCore::PageText() const
{
    std::lock_guard lock(m_slotMutex);
    return m_pageText;
}

void MonitorCore::SetTask(int index)
{
    if (index == m_taskIndex || index < 0 || static_cast<size_t>(index) >= m_account.Tasks.size())
        return;
    m_taskIndex = index;
    TTaskRecord& t = task();
    auto [formula, chains] = ExtractChainMarkers(t.GrabFormula);
    m_cutter.SetFormula(formula);
    m_checker.Parse(t.VerifyFormula);
    ChainLink link = ParseChainMarker(chains);
    m_chainField = link.ok ? link.field : std::string();
    m_chainTask = link.ok ? link.task : std::string();
    validateChain();
    // A chained task reports its very first page.
    if (t.Requester >= 0)
        m_seen.insert(0); // no record's key in practice: the set is not empty
    AllowDirectReading(m_directAllowed);
}

void MonitorCore::AllowDirectReading(bool allowed)
{
    m_directAllowed = allowed;
    if (m_taskIndex < 0)
        return;
    const TTaskRecord& t = task();
    m_reading.Direct().SetTimeLimit(t.ConnectTimeout);
    m_reading.SetAllowed(allowed && t.GuideUrl.empty() && t.ElementId.empty() && m_chainTask.empty() &&
                         t.Requester < 0);
}

bool MonitorCore::StartDirect()
{
    m_reading.StartDirect(TickCount());
    return m_reading.ReadsDirectly();
}

// A direct read that went past a limit says so in the task's log: the browser reads the page.
void MonitorCore::reportLimitHit()
{
    std::string_view line;
    switch (m_reading.Direct().TakeLimitHit()) {
    case DirectRefusal::TooLarge:
        line = texts::kDirectTooLarge;
        break;
    case DirectRefusal::TooSlow:
        line = texts::kDirectTooSlow;
        break;
    case DirectRefusal::TooDeep:
        line = texts::kDirectTooDeep;
        break;
    case DirectRefusal::OverBudget:
        line = texts::kDirectOverBudget;
        break;
    default:
        return;
    }
    if (m_events.message)
        m_events.message(std::string(line));
}

// After a cycle's text: the task may go on directly, or back to the browser.
void MonitorCore::afterRead(const std::string& text, bool direct, int outcome)
{
    if (task().Requester >= 0) // a chain's target: its pages are the linked task's to choose
        AllowDirectReading(false);
    const bool doubtful = outcome == OutcomeDoubtful;
    const bool changed = direct ? m_reading.AfterDirectRead(!text.empty() && !doubtful, m_shape, TickCount())
                                : m_reading.AfterBrowserRead(task().PageUrl(), text, m_shape, TickCount());
    m_shape = {};
    reportLimitHit();
    if (doubtful && m_events.message)
        m_events.message(std::string(texts::kDirectDoubtful));
    // A regular check is shown once it has its turn (it may be put off).
    if (changed && m_events.readingMode && !regularCheckDue())
        m_events.readingMode(m_reading.ReadsDirectly());
}

bool MonitorCore::regularCheckDue()
{
    return m_reading.RegularCheck() && m_reading.Reader().Loads();
}

void MonitorCore::validateChain()
{
    if (m_chainTask.empty())
        return;
    bool keep = !m_account.LoggedIn || m_account.MultiTaskRight;
    if (keep) {
        bool target = false;
        for (const auto& t : m_account.Tasks)
            target = target || (t.TaskName == m_chainTask && (t.RunState == RunIdle || t.RunState == RunPresent));
        bool column = false;
        for (int i = 0; i < m_cutter.FieldCount(); ++i)
            column = column || (*m_cutter.Field(i))[0] == m_chainField;
        keep = target && column;
    }
    if (!keep) {
        m_chainTask.clear();
        m_chainField.clear();
    }
}

bool MonitorCore::servesRequester()
{
    const int32_t r = task().Requester;
    if (r < 0 || static_cast<size_t>(r) >= m_account.Tasks.size())
        return false;
    const uint8_t state = m_account.Tasks[static_cast<size_t>(r)].RunState;
    return state == RunBetweenCycles || state == RunBusy;
}

std::string MonitorCore::clean(const std::string& value) const
{
    return CleanValue(value, m_account.Tasks[static_cast<size_t>(m_taskIndex)].ClearTags);
}

int MonitorCore::Process()
{
    if (m_taskIndex < 0)
        return OutcomeNothing;
    std::string page = PageText();
    if (page.empty())
        return OutcomeNothing;
    TTaskRecord& t = task();
    BusyState busy(t);
    Cycle cycle;
    cycle.firstPage = m_seen.empty();

    const PreparedPage& prepared = m_preparer.Prepare(page);
    m_cutter.CutOut(prepared.lower);
    // Only a task that may read directly compares the shape of its reads.
    m_shape = m_reading.Allowed() ? shapeOfCut() : ReadShape{};
    if (m_slotDirect && m_reading.Doubtful(m_shape)) {
        // Not what the browser would show: nothing of it is reported or remembered.
        m_cutter.ClearValues();
        m_preparer.Release();
        return OutcomeDoubtful;
    }
    if (m_cutter.FieldCount() > 0) {
        const int rows = m_cutter.RowCount();
        if (rows == 0)
            cycle.outcome = OutcomeNoRows;
        for (int r = 1; r <= rows; ++r)
            classifyRow(r, prepared, cycle);
    }
    rememberSeen(cycle);
    keepScreen();
    if (m_events.message) {
        for (const std::vector<std::string>* lines : {&cycle.newLines, &cycle.otherLines})
            for (const std::string& line : *lines)
                m_events.message(line);
    }
    if (cycle.count == 0 && m_events.message)
        m_events.message(std::string(texts::kNoData));
    if (!cycle.message.empty())
        t.SetPendingResult(cycle.message.substr(0, cycle.message.size() - 4));
    if (!t.PendingResult().empty())
        cycle.outcome = deliver(cycle.outcome);
    // Nothing of the page is kept between cycles: a task waits most of its time, and
    // with many tasks the buffers of their last pages would add up.
    m_cutter.ClearValues();
    m_preparer.Release();
    return cycle.outcome;
}

// The records of the cut: how many, and whether a value holds a tag or is empty.
ReadShape MonitorCore::shapeOfCut() const
{
    ReadShape shape;
    if (m_cutter.FieldCount() == 0)
        return shape;
    const int rows = m_cutter.RowCount();
    for (int r = 1; r <= rows; ++r) {
        bool any = false;
        for (int f = 0; f < m_cutter.FieldCount(); ++f) {
            const std::string& value = (*m_cutter.Field(f))[static_cast<size_t>(r)];
            any = any || !value.empty();
            shape.emptyField = shape.emptyField || value.empty();
            for (size_t at = value.find('<'); at != std::string::npos && !shape.markup; at = value.find('<', at + 1)) {
                const char next = at + 1 < value.size() ? value[at + 1] : '\0';
                shape.markup = (next >= 'a' && next <= 'z') || next == '/' || next == '!';
            }
        }
        shape.records += any ? 1 : 0;
    }
    return shape;
}

// One row of the cut: logged, keyed, checked for news and verified; a new, verified
// record not claimed by another task goes into the cycle's message.
void MonitorCore::classifyRow(int row, const PreparedPage& prepared, Cycle& cycle)
{
    TTaskRecord& t = task();
    const std::vector<std::string> values = m_cutter.Row(row);
    std::string line;
    for (size_t f = 0; f < values.size(); ++f) {
        if (f)
            line += "\t| ";
        line += m_cutter.Field(static_cast<int>(f))->front() + "=" + values[f];
    }
    if (line.empty())
        return;
    ++cycle.count;
    const bool marked = line.find(MarkedSentinel) != std::string::npos;
    if (marked)
        line = withoutSentinel(line);
    cycle.outcome = std::max(cycle.outcome, int(OutcomeRecordsCut));

    const uint64_t key = recordKey(line, values);
    bool isNew;
    if (t.CompareLastScreen) {
        cycle.fresh.push_back(key);
        isNew = marked || !m_seen.contains(key);
    } else if (!m_seen.contains(key)) {
        cycle.fresh.push_back(key);
        isNew = true;
    } else {
        isNew = marked;
    }
    const bool reported = isNew && (marked || !cycle.firstPage);
    if (m_events.message)
        (reported ? cycle.newLines : cycle.otherLines).push_back(clean(line));
    if (!reported)
        return;
    cycle.outcome = std::max(cycle.outcome, int(OutcomeNewRecord));

    if (!marked) {
        std::vector<std::string> cleaned;
        for (const auto& v : values)
            cleaned.push_back(clean(v));
        if (!m_checker.Check(cleaned))
            return;
    }
    cycle.outcome = std::max(cycle.outcome, int(OutcomeNewVerified));

    std::string record = restoreCase(values, prepared);
    if (marked)
        record = withoutSentinel(record);
    if (m_events.accept && !m_events.accept(m_taskIndex, Sha1Hex(record)))
        return;
    cycle.message += record + "\r\n\r\n";
}

// The digest that identifies a row: of its main field, or of the whole line when
// the task has none (a main field beyond the row's fields is forgotten).
uint64_t MonitorCore::recordKey(const std::string& line, const std::vector<std::string>& values)
{
    TTaskRecord& t = task();
    auto key = [](std::string_view text) {
        const std::string hex = Sha1Hex(text);
        uint64_t value = 0;
        std::from_chars(hex.data(), hex.data() + std::min<size_t>(hex.size(), 16), value, 16);
        return value;
    };
    const uint8_t mainField = t.MainField;
    if (mainField == 0)
        return key(line);
    if (values.size() < mainField) {
        t.MainField = 0;
        return key(line);
    }
    return key(values[mainField - 1]);
}

// The record's lines "name=value", each value with its case from the page before
// lowercasing.
std::string MonitorCore::restoreCase(const std::vector<std::string>& values, const PreparedPage& prepared) const
{
    std::string record;
    for (size_t f = 0; f < values.size(); ++f) {
        std::string value = values[f];
        if (!value.empty()) {
            const size_t at = prepared.lower.find(value);
            if (at != std::string::npos)
                value = clean(prepared.text.substr(at, value.size()));
        }
        if (f)
            record += "\r\n";
        record += (*m_cutter.Field(static_cast<int>(f)))[0] + "=" + value;
    }
    return record;
}

// The digests the next cycle compares with: this page's alone on the first page
// and when only the previous reading counts, otherwise all seen in the run.
void MonitorCore::rememberSeen(const Cycle& cycle)
{
    if (cycle.firstPage || task().CompareLastScreen) {
        if (!cycle.fresh.empty()) {
            m_seen.clear();
            m_seen.insert(cycle.fresh.begin(), cycle.fresh.end());
        }
    } else {
        m_seen.insert(cycle.fresh.begin(), cycle.fresh.end());
    }
}

// An order-free digest of the seen keys, to write them only when they changed.
uint64_t MonitorCore::seenSignature() const
{
    uint64_t sum = m_seen.size();
    for (uint64_t key : m_seen)
        sum += key * 0x9E3779B97F4A7C15ull ^ (key >> 29);
    return sum;
}

// The screen the next run's first cycle compares with (not for a chain's target,
// whose page another task chooses).
void MonitorCore::keepScreen()
{
    if (m_screenPath.empty() || task().Requester >= 0)
        return;
    const uint64_t signature = seenSignature();
    if (signature != m_keptSignature && KeptScreen::Write(m_screenPath, m_seen))
        m_keptSignature = signature;
}

// Each record whose chain field has a value gets the chain task's answer for it
// as further lines; a record the chain task has nothing for is dropped.
void MonitorCore::resolveChains()
{
    TTaskRecord& t = task();
    BusyState busy(t);
    TStringList2 records;
    records.SetSeparator("\r\n\r\n");
    records.Split(t.PendingResult());
    TStringList2 kept;
    kept.SetSeparator("\r\n\r\n");
    const std::string prefix = m_chainField + "=";
    for (size_t i = 0; i < records.Count(); ++i) {
        TStringList2 lines;
        lines.SetSeparator("\r\n");
        lines.Split(records[i]);
        bool keep = true;
        for (size_t k = 0; k < lines.Count(); ++k) {
            if (lines[k].compare(0, prefix.size(), prefix) != 0)
                continue;
            const std::string answer = requestChainValue(lines[k].substr(prefix.size()));
            if (answer.empty())
                keep = false;
            else
                lines.Add(answer);
            break;
        }
        if (keep)
            kept.Add(lines.Join());
    }
    t.SetPendingResult(kept.Join());
}

std::string MonitorCore::requestChainValue(const std::string& value)
{
    // The first task of that name that is free, else the last of them.
    TTaskRecord* target = nullptr;
    int targetIndex = -1;
    bool free = false;
    for (size_t i = 0; i < m_account.Tasks.size(); ++i) {
        TTaskRecord& candidate = m_account.Tasks[i];
        if (candidate.TaskName != m_chainTask || free)
            continue;
        target = &candidate;
        targetIndex = static_cast<int>(i);
        free = candidate.CycleDone;
    }
    if (!target)
        return {};
    if (!waitUntil([target] { return target->CycleDone != 0; })) {
        leavingWait();
        return {};
    }
    target->SetPageUrl(value);
    target->Requester = m_taskIndex;
    target->RunState = target->RunState != RunIdle ? RunRestartRequested : RunStartRequested;
    target->SetPendingResult({});
    // The target reads again only once the main window has loaded the new page.
    target->RestartPending = 1;
    if (m_events.chainRequest)
        m_events.chainRequest(targetIndex);
    target->CycleDone = 0;
    WakeWaiting();
    if (!waitUntil([target] { return target->CycleDone != 0; })) {
        leavingWait();
        return {};
    }
    return target->PendingResult();
}

// Before the thread ends, the tasks it feeds must have ended too.
void MonitorCore::leavingWait()
{
    if (m_chainTask.empty())
        return;
    for (;;) {
        bool settled = true;
        for (const auto& t : m_account.Tasks) {
            const uint8_t state = t.RunState;
            if (t.TaskName == m_chainTask && !(state == RunIdle || state == RunStopped || state >= 8))
                settled = false;
        }
        if (settled)
            return;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
}

// The refreshed page counts as ready once it was seen busy, then stayed idle for
// two seconds, and is complete; at most ConnectTimeout (0: no limit, but a page
// that holds a turn to load holds it two minutes at most: the others wait for it).
void MonitorCore::waitUntilReady(bool holdsTurn)
{
    if (!m_browser)
        return;
    uint32_t limit = task().ConnectTimeout;
    if (holdsTurn && limit == 0)
        limit = kMostTurnMs;
    for (ReadyWait wait(*m_browser, limit);;) {
        for (wait.NewRound(); wait.Look();) {
            std::this_thread::sleep_for(std::chrono::milliseconds(ReadyWait::kLookMs));
            if (wait.TimedOut() || StopCondition())
                return;
        }
        if (!sleepMs(ReadyWait::kRoundPauseMs) || wait.TimedOut() || wait.Complete())
            return;
    }
}

int MonitorCore::PagesLoadingAtOnce()
{
    // A page is held from its load through two quiet seconds to its read, most of
    // which its renderer waits. On two cores, 200 tasks of script-written 100 KB
    // pages at 30 s: 3 a core read each page every 59 s (600 MB), 16 a core every
    // 29.5 s (up to 1.6 GB); 12 a core keep the pace with fewer pages alive.
    const unsigned cores = std::max(1u, std::thread::hardware_concurrency());
    return static_cast<int>(std::clamp(cores * 12, 8u, 48u));
}

// Waits for one of the `most` turns counted in `taken` to load the page; false when
// the stop came first.
bool MonitorCore::takeSlot(int& taken, int most)
{
    std::unique_lock lock(g_wakeMutex);
    while (taken >= most) {
        if (StopCondition())
            return false;
        g_wake.wait_for(lock, std::chrono::milliseconds(1000));
    }
    ++taken;
    return true;
}

bool MonitorCore::tryTakeSlot(int& taken, int most)
{
    std::lock_guard lock(g_wakeMutex);
    if (taken >= most)
        return false;
    ++taken;
    return true;
}

void MonitorCore::giveSlot(int& taken)
{
    {
        std::lock_guard lock(g_wakeMutex);
        --taken;
    }
    g_wake.notify_all();
}

// A cycle takes a few megabytes for a large page (its text, the parse, the cut) and
// frees them; the heap of the thread would keep the freed pages, and with many
// tasks the threads' heaps together would keep a large page's worth each.
// A trim walks every heap of the process, so one at most every kTrimGapMs serves
// the whole run: hundreds of tasks trimming after each read spent more on the
// trims, and on faulting the pages in again, than the pages were worth.
//
// Under a sanitizer the sanitizer's allocator keeps the heap, and glibc's own is
// never set up: a trim there from several threads at once reads an arena that is
// not (it crashed 11 threads' first trims under AddressSanitizer).
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define VEXORY_SANITIZED 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
#define VEXORY_SANITIZED 1
#endif
#endif
void MonitorCore::giveBackFreeMemory()
{
#if defined(__GLIBC__) && !defined(VEXORY_SANITIZED)
    static std::atomic<uint32_t> lastTrim{TickCount() - kTrimGapMs};
    const uint32_t now = TickCount();
    uint32_t last = lastTrim.load(std::memory_order_relaxed);
    if (now - last < kTrimGapMs || !lastTrim.compare_exchange_strong(last, now, std::memory_order_relaxed))
        return;
    malloc_trim(0);
#endif
}

void MonitorCore::Execute()
{
    if (m_taskIndex < 0)
        return;
    // The screen the last run ended with: what came since is new at the first cycle.
    if (!m_screenPath.empty() && task().Requester < 0 && m_seen.empty() && KeptScreen::Read(m_screenPath, m_seen))
        m_keptSignature = seenSignature();
    int outcome = OutcomeNothing;
    bool loading = false;  // holds a turn to load (see takeSlot)
    bool checking = false; // holds the run's turn to show a page for a regular check
    auto giveSlots = [&] {
        if (std::exchange(loading, false))
            giveSlot(g_pagesLoading);
        if (std::exchange(checking, false))
            giveSlot(g_checksLoading);
    };
restart:
    int retries = 0;
    bool first = true;
    while (!StopCondition()) {
        TTaskRecord& t = task();
        const uint32_t interval = t.RefreshInterval;
        uint32_t start = TickCount();
        uint32_t early = static_cast<uint32_t>(static_cast<uint64_t>(interval) * 3 / 4);
        if (early < 1000)
            early = 0;
        if (first)
            start -= early;
        // A page shown for a comparison with its direct read, or let go after each
        // read, is read once it is ready: it is let go sooner, and hundreds of such
        // tasks hold only the pages between their load and their read. A direct
        // read's text, fetched at the refresh, is taken at once for the same reason.
        else if (m_reading.Comparing() || m_pageLetGo || !m_reading.Reader().Loads())
            early = 0;
        bool handled = false, asked = false;
        uint32_t elapsed = 0;
        do {
            if (StopCondition())
                goto leave;
            elapsed = TickCount() - start;
            if (m_events.countdown)
                m_events.countdown(static_cast<int>(static_cast<int64_t>(interval) - elapsed));
            if (!sleepMs(NextLookMs(interval, early, elapsed, elapsed > early && !handled)))
                goto leave;
            if (elapsed > early && !handled) {
                const std::string slot = PageText();
                if (slot == kWait) {
                    SetPageText({});
                    handled = true;
                } else if (!slot.empty()) {
                    handled = true;
                    outcome = Process();
                    SetPageText({});
                    afterRead(slot, std::exchange(m_slotDirect, false), outcome);
                    giveBackFreeMemory();
                } else if (!asked) {
                    asked = true;
                    m_reading.Reader().AskText(t.PageUrl());
                }
                if (handled)
                    giveSlots();
            }
        } while (elapsed <= interval);
        first = false;
        giveSlots();

        if (!handled) {
            if (m_events.message)
                m_events.message(std::string(texts::kNoSource));
            if (m_events.noSource)
                m_events.noSource();
        } else if (servesRequester()) {
            const bool ready = outcome >= OutcomeRecordsCut || !t.PendingResult().empty();
            if (ready || ++retries > 3) {
                if (!ready)
                    t.SetPendingResult({}); // gave up: the requester gets nothing
                t.CycleDone = 1;
                WakeWaiting();
                if (m_events.chainDone)
                    m_events.chainDone();
                // Until a new request, whose page the main window has loaded.
                if (!waitUntil([&t] { return !t.CycleDone && !t.RestartPending; }))
                    goto leave;
                outcome = OutcomeNothing;
                goto restart;
            }
        }
        // A page let go after each read takes a turn to load, held until the next
        // cycle read it. A page shown for a regular check needs the run's one
        // turn for those (checks come a few seconds apart, and a page slower to
        // load would have the next one's renderer beside its own); without it the
        // task reads directly on and tries again at its next turn.
        if (regularCheckDue()) {
            checking = tryTakeSlot(g_checksLoading, 1);
            if (!checking)
                m_reading.PostponeCheck();
            else if (m_events.readingMode)
                m_events.readingMode(false);
        }
        if (m_pageLetGo && m_reading.Reader().Loads()) {
            if (!takeSlot(g_pagesLoading, PagesLoadingAtOnce()))
                goto leave;
            loading = true;
        }
        m_reading.Reader().Refresh(t.PageUrl());
        if (m_reading.Reader().Loads()) // a direct read has no page to wait for
            waitUntilReady(loading || checking);
    }
leave:
    giveSlots();
    leavingWait();
}

} // namespace vexory
