#pragma once

// The work of one monitor thread, without the thread: the rhythm of a task
// (countdown, page-text request at three quarters of the interval, refresh, ready
// wait) and the processing of each page text (cut, update check, verification,
// case restoring, chains, delivery). TMonitorThread runs it on a QThread and turns
// its events into signals; tests and benchmarks drive it directly.
//
// Shared state: the task array of the account (whose run-time fields are atomics
// or guarded strings), the browser's busy / ready state (atomics the GUI thread
// keeps current) and the page-text slot (guarded here).

#include "browser/browser_state.h"
#include "browser/page_reading.h"
#include "formula/grab_formula.h"
#include "formula/page_prep.h"
#include "formula/verify_formula.h"
#include "model/seen_keys.h"
#include "model/task_record.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

namespace vexory {

// Process outcomes.
enum ProcessOutcome : int
{
    OutcomeNothing = 0,
    OutcomeNoRows = 1,
    OutcomeRecordsCut = 2,
    OutcomeNewRecord = 3,
    OutcomeNewVerified = 4,
    OutcomeDelivered = 5,
    OutcomeNotConfirmed = 6,
    OutcomeDoubtful = -1, // a direct read whose records look otherwise than the browser's: not reported
};

// What became of a result: shown (not logged in), or the service's answer to its push.
enum class Delivery
{
    Verified,          // not logged in: shown in the log only
    Sent,              // forwarded by the service, or taken by the plug-in
    NotSent,           // taken by the service, but nobody got it
    RemoteEnd,         // the service ends the run
    NicknameUnknown,   // the service does not know the nickname: logged out
    LoggedInElsewhere, // the account logged in elsewhere: logged out
};

// The events of a monitor thread; each is raised only when set. They run on the
// monitor thread: a GUI must queue them to its own thread (accept excepted, which
// must answer at once and therefore has to be thread-safe).
struct MonitorEvents
{
    std::function<void(int remainingMs)> countdown;
    std::function<void()> sourceRequest;
    std::function<void()> refresh;
    // Before a refresh: the browser shows these bytes instead of loading its page.
    std::function<void(PageContent content)> renderContent;
    std::function<void(const std::string& text)> message;
    std::function<void(Delivery delivery, const std::string& result)> result; // result: "" unless shown
    std::function<void()> noSource;
    std::function<void(int target)> chainRequest;
    std::function<void(bool direct)> readingMode; // the page is now read directly, or by the browser again
    std::function<void()> chainDone;
    std::function<bool(int taskIndex, const std::string& digest)> accept;
};

class MonitorCore
{
public:
    // `account` is shared with the GUI and the other threads; `server` is the
    // service host ("host[:port]").
    MonitorCore(TAccountRecord& account, const BrowserState* browser, std::string server, MonitorEvents events);

    // Binds the task: compiles its formulas and validates its chain.
    void SetTask(int index);
    // Whether the task may read its page without the browser (the option; the task
    // must also name neither a guide page nor an element, nor take part in a chain).
    void AllowDirectReading(bool allowed);
    // Before the thread starts: the task read directly when it last ran. False when
    // it may not read directly (then it starts in the browser).
    bool StartDirect();
    ReadingPolicy& Reading() { return m_reading; }
    int TaskIndex() const { return m_taskIndex; }

    // The page-text slot the panel writes: a page text, or "wait" to skip a cycle.
    void SetPageText(std::string text);
    std::string PageText() const;
    // The panel lets the page go after each read (nobody sees it, and it is loaded
    // anew at every refresh): the page is read once it is ready after the refresh,
    // not at three quarters of the cycle, so that it lives only from its load to its
    // read, and not most of every cycle.
    void SetPageLetGo(bool letGo) { m_pageLetGo = letGo; }
    // The file that keeps the task's last screen between runs (see
    // model/kept_screen.h); set before the thread starts. The first cycle compares
    // with what it holds, and every cycle that changes the screen writes it.
    void KeepScreenIn(std::string path) { m_screenPath = std::move(path); }
    // Pages loaded that way across the run at once; a task past it waits its turn
    // before it refreshes, its cycle running late, so that a machine that cannot
    // keep up does not hold ever more pages.
    static int PagesLoadingAtOnce();

    // Asks the loop to end (the thread was told to terminate).
    void RequestStop();
    bool StopCondition() const;

    // The main loop; returns when the stop condition holds.
    void Execute();
    // Processes the page text in the slot.
    int Process();

    // The chain of this task ("" when none).
    const std::string& ChainTask() const { return m_chainTask; }
    const std::string& ChainField() const { return m_chainField; }
    size_t SeenCount() const { return m_seen.size(); }

    // Wakes every thread that waits for a linked task (CycleDone, RestartPending)
    // or for the end of the program. Call it after changing those fields or StopAll.
    static void WakeWaiting();
    // At the end of the program: every task whose thread does not run (given by
    // `threadRuns`) is marked stopped and the waiting threads are woken, so that
    // a thread leaving the run never waits for a task that will not stop.
    static void ReleaseStoppedTasks(TAccountRecord& account, const std::function<bool(int taskIndex)>& threadRuns);

private:
    void reportLimitHit();
    static constexpr uint32_t kTrimGapMs = 1000;
    static void giveBackFreeMemory();
    TTaskRecord& task() { return m_account.Tasks[static_cast<size_t>(m_taskIndex)]; }
    bool sleepMs(int ms);
    bool waitUntil(const std::function<bool()>& ready);
    void validateChain();
    bool servesRequester();
    void resolveChains();
    std::string requestChainValue(const std::string& value);
    // What one cycle gathers while it goes over the rows of the page.
    struct Cycle
    {
        bool firstPage = false;
        int outcome = OutcomeNothing;
        int count = 0;               // rows with text
        std::vector<uint64_t> fresh; // keys for the next comparison
        std::string message;         // the new, verified records
        // The memo's lines of the cut: a cycle's new records first, then the rest,
        // each in the page's order.
        std::vector<std::string> newLines, otherLines;
    };
    void classifyRow(int row, const PreparedPage& prepared, Cycle& cycle);
    uint64_t recordKey(const std::string& line, const std::vector<std::string>& values);
    std::string restoreCase(const std::vector<std::string>& values, const PreparedPage& prepared) const;
    void rememberSeen(const Cycle& cycle);
    void keepScreen();
    uint64_t seenSignature() const;
    int deliver(int outcome);
    int deliverPush();
    static constexpr uint32_t kMostTurnMs = 120 * 1000;
    void waitUntilReady(bool holdsTurn);
    bool takeSlot(int& taken, int most);
    static bool tryTakeSlot(int& taken, int most);
    static void giveSlot(int& taken);
    void afterRead(const std::string& text, bool direct, int outcome);
    // A regular check's page is to be shown in the browser at this refresh.
    bool regularCheckDue();
    ReadShape shapeOfCut() const;
    void leavingWait();
    std::string clean(const std::string& value) const;

    TAccountRecord& m_account;
    const BrowserState* m_browser;
    std::string m_server;
    MonitorEvents m_events;
    int m_taskIndex = -1;
    PagePreparer m_preparer;
    TStringCutOuter m_cutter;
    TFormulaChecker m_checker;
    std::string m_chainTask, m_chainField;
    // The keys of the records seen: 64 bits of each record's SHA-1 (a task may see
    // thousands of records a cycle; the whole digest would take three times the room).
    SeenKeys m_seen;
    std::string m_screenPath;     // where the seen keys are kept between runs ("": not kept)
    uint64_t m_keptSignature = 0; // of the keys last kept
    ReadingPolicy m_reading;
    bool m_directAllowed = false;
    mutable std::mutex m_slotMutex;
    std::string m_pageText;
    bool m_slotDirect = false; // the slot's text was read directly (by the thread)
    ReadShape m_shape;         // of the last cut
    std::atomic<bool> m_stop{false};
    std::atomic<bool> m_pageLetGo{false};
};

// The whole seconds a countdown of `remainingMs` shows: halves to even, 0 once it is over.
long CountdownSeconds(int remainingMs);

// How long the countdown loop sleeps at ELAPSED ms into a cycle of INTERVAL ms:
// until the shown second changes, the text is due (EARLY) or the cycle ends,
// whichever comes first; a tenth of a second while it waits for the page's text,
// and from the end on (the cycle's last look).
int NextLookMs(uint32_t interval, uint32_t early, uint32_t elapsed, bool waitingForText);

} // namespace vexory
