#pragma once

// The task and account records: everything the program keeps about its work.
// Strings hold code page 936 bytes and are never converted when stored.

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

namespace vexory {

// Run state of a task, shared by the scheduler, the runner panel and the monitor thread.
enum RunState : uint8_t
{
    RunIdle = 0,             // no runner panel
    RunStartRequested = 1,   // scheduler chose it, or a linked task asked for it
    RunStopped = 2,          // the runner's monitor thread has ended
    RunRestartRequested = 3, // a linked task asked for a task that had a run state
    RunPresent = 5,          // runner created, not yet cycling
    RunBetweenCycles = 6,    // between two cycles
    RunBusy = 7,             // a page step or result processing is under way
};

// One monitor task. Fields 1 to 17 are stored in the task store in this order;
// the run-time fields after them live only while the program runs.
//
// Monitor threads share a task with the GUI thread: the bytes and integers they
// write are atomics, and the two strings they write (PageUrl, PendingResult) are
// reached through accessors that take the task's own mutex.
class TTaskRecord
{
public:
    TTaskRecord() = default;
    // A copy is a new record: fields 1 to 17 copied, run-time fields zero.
    TTaskRecord(const TTaskRecord& other);
    // Copying into an existing record copies fields 1 to 17 and nothing else;
    // the target's run-time fields keep their values.
    TTaskRecord& operator=(const TTaskRecord& other);
    // Moving (growing the task array) keeps every field, run-time ones included.
    TTaskRecord(TTaskRecord&& other) noexcept;
    TTaskRecord& operator=(TTaskRecord&& other) noexcept;

    std::string TaskName;                // 1
    std::string GuideUrl;                // 2
    std::string PageUrl() const;         // 3 (see SetPageUrl)
    std::string ElementId;               // 4
    std::string VerifyFormula;           // 5
    std::string GrabFormula;             // 6
    std::string SavedTestResult;         // 7
    std::atomic<uint8_t> FormulaSent{0}; // 8
    uint8_t ClearTags = 0;               // 9
    uint8_t PushToPlugin = 0;            // 10
    std::atomic<uint8_t> MainField{0};   // 11
    uint32_t ConnectTimeout = 0;         // 12, ms, 0 = no limit
    uint32_t RefreshInterval = 0;        // 13, ms
    uint32_t NotifyInterval = 0;         // 14, ms
    uint8_t Checked = 0;                 // 15
    uint8_t Selected = 0;                // 16
    uint8_t CompareLastScreen = 0;       // 17

    std::atomic<uint8_t> CycleDone{0}; // 18
    std::atomic<uint8_t> RunState{0};  // 19, see enum RunState
    std::atomic<int32_t> Requester{0}; // 20, task index, -1 = none
    std::string PendingResult() const; // 21 (see SetPendingResult)
    // A linked task asked for a new page and the main window has not loaded it
    // yet: the task's thread waits for that before it reads again.
    std::atomic<uint8_t> RestartPending{0};

    void SetPageUrl(std::string url);
    void SetPendingResult(std::string text);

private:
    void copyStored(const TTaskRecord& other);

    mutable std::mutex m_mutex; // guards m_pageUrl and m_pendingResult
    std::string m_pageUrl;
    std::string m_pendingResult;
};

// The root of all kept state: credentials, options, rights and the tasks.
// Fields 1 to 5 and Tasks are stored in the task store.
// The bits of TAccountRecord::ShutdownFlags: the machine is shut down when the run ends so.
enum ShutdownFlag : uint8_t
{
    ShutdownAfterAutoEnd = 1,
    ShutdownAfterRemoteEnd = 2,
};

struct TAccountRecord
{
    TAccountRecord() = default;
    // Copies every field; the tasks are copied as tasks are (stored fields only).
    TAccountRecord(const TAccountRecord& other);
    TAccountRecord& operator=(const TAccountRecord& other);
    TAccountRecord(TAccountRecord&& other) noexcept;
    TAccountRecord& operator=(TAccountRecord&& other) noexcept;

    std::string Nickname;       // 1
    std::string PasswordDigest; // 2, lowercase hex SHA-1 of the password
    uint8_t AutoEnd = 0;        // 3
    uint8_t ShutdownFlags = 0;  // 4, ShutdownAfterAutoEnd | ShutdownAfterRemoteEnd
    uint16_t Reserved = 0;      // 5

    int32_t UserNumber = 0;           // 6
    std::atomic<uint8_t> LoggedIn{0}; // 7
    uint8_t PluginRight = 0;          // 8
    uint8_t ChainRight = 0;           // 9
    uint8_t MultiTaskRight = 0;       // 10
    uint8_t FastRefreshRight = 0;     // 11
    std::atomic<uint8_t> StopAll{0};  // 12
    std::vector<TTaskRecord> Tasks;   // 13
};

// The process-wide values kept beside the current account.
struct TProcessValues
{
    bool AutoRun = false;                  // first argument is exactly "autorun"
    bool AutoLogin = true;                 // setting autologin
    bool Debugging = false;                // setting debugging
    bool DirectRead = true;                // setting directread: pages may be read without the browser
    bool StoreLoaded = false;              // the task store has been read successfully
    bool SettingsRead = false;             // settings and command line have been read
    int32_t ServerVersion = 6;             // this client's version, replaced by the service's
    std::string MainFields;                // setting mainfields, as written
    std::string Server = "127.0.0.1:8086"; // setting server: host[:port] of the service
    // Why the store is not written in this session (UTF-8; "" when it is): a store
    // that could neither be read nor copied aside is never overwritten.
    std::string StoreNotWritten;
};

// This client's version number, sent to and compared with the service's.
inline constexpr int32_t kClientVersion = 6;

} // namespace vexory
