#pragma once

// TFrame4: the panel that runs one monitor task. It owns the task's browser, log
// memo, status bars, step timer and hidden start button, and the task's monitor
// thread. The thread keeps time and processes page text; the panel does all that
// touches the browser or the screen, one of the task's page steps at a time.

#include "browser/page_steps.h"
#include "model/task_record.h"
#include "monitor/monitor_thread.h"

#include <QByteArray>
#include <QString>
#include <QTimer>
#include <QWidget>

#include <functional>
#include <memory>

class QLabel;
class QMenu;
class QPlainTextEdit;
class QPushButton;
class QSoundEffect;

namespace vexory {

class MemoLog;
class WebEngineBrowser;

class TFrame4 : public QWidget, private PageStepHost
{
    Q_OBJECT
public:
    // What a push reply tells the main window to do.
    enum class RemoteCommand
    {
        EndRun,          // the service ends the run
        NicknameLogout,  // the service does not know the nickname
        ElsewhereLogout, // the account logged in elsewhere
    };
    Q_ENUM(RemoteCommand)

    // `accept` answers the thread's record claims at once, from the thread: it must be thread-safe.
    TFrame4(TAccountRecord& account, std::string server, TMonitorThread::AcceptHandler accept = {},
            QWidget* parent = nullptr);
    ~TFrame4() override;

    void SetTask(int index);
    // Loads what the task's step needs before the run (or the new page a linked task
    // asked for), waiting for it.
    void PrepareStart();
    // The same without waiting: the load begins, and `then` is called once the page
    // is ready, or its time-out passed, or the run stops (it checks which). A task
    // with nothing to load, or one started directly, has `then` called at once.
    void BeginPrepare();
    void WhenPrepared(std::function<void()> then);
    void SetRunning(bool running);
    void AfterTrim();
    // What "开始" does: the task's first step, after its guide page.
    void Start();

    // The page step (PageStep codes).
    int Step() const { return m_steps->Step(); }
    void SetStepForTest(int step) { m_steps->SetStep(step); }
    // The task opens at its guide page and, with a display, waits for "开始".
    bool OpensAtGuidePage() const { return m_steps->OpensAtGuidePage(); }
    // The launch's progress (0 to 100) in the status bar, as blocks.
    void ShowLaunchProgress(int percent);
    // Whether the task may read its page without the browser (the program's option).
    void AllowDirectReading(bool allowed);
    // Instead of PrepareStart, for a task that read its page directly when it last
    // ran: nothing is loaded in the browser first. False when the task may not read
    // directly (PrepareStart then as always).
    bool StartDirectly();
    // The file that keeps the task's last screen between runs (before the run starts).
    void KeepScreenIn(const std::string& path);
    QLabel* ReadingLabel() const { return m_reading; }
    // Tells the monitor thread to end at its next look; IsStopped once it has ended.
    void Stop();
    bool IsStopped() const;
    int TaskIndex() const { return m_taskIndex; }
    bool Running() const { return m_steps->Running(); }
    int RefreshCount() const { return m_refreshCount; }
    int WarningCount() const { return m_warningCount; }
    const QString& CurrentUrl() const { return m_currentUrl; }
    TMonitorThread* MonitorThread() const { return m_thread.get(); }
    WebEngineBrowser* Browser() const { return m_browser; }
    // The memo, up to date (a hidden memo is brought up to date only when asked or shown).
    QPlainTextEdit* Memo1() const;
    QPushButton* Button1() const { return m_button; }
    QLabel* StatusPanel(int i) const { return m_status[i]; }
    QLabel* StatusBar2() const { return m_urlBar; }
    QMenu* PopupMenu1() const { return m_popup; }

    // True when no task is busy (RunState 7).
    static bool NoTaskBusy(const TAccountRecord& account);

    // Adds a log line (text, tab, time) to the memo, as the thread's messages do;
    // the memo keeps its newest lines (over 400, the oldest 200 go before the next).
    void LogLine(const QString& text);
    // Log lines at once, as LogLine line by line, in one change of the memo.
    void LogLines(const QStringList& texts);

protected:
    void showEvent(QShowEvent* event) override;

signals:
    void StatusChanged(TFrame4* panel);
    // The task's page is now read directly (true), or by the browser again.
    void ReadingModeChanged(bool direct);
    // A line for the main window's status bar.
    void Notice(const QString& text);
    // A cycle's new records ("name=value" lines, records apart by a blank line).
    void NewRecords(TFrame4* panel, const QString& task, const QString& records);
    void Remote(vexory::TFrame4::RemoteCommand command);
    void ChainRequest(TFrame4* panel, int target);
    void ChainDone(TFrame4* panel);

private:
    TTaskRecord* task();
    void runStep();
    void runOneStep();
    void enableTimer() { m_timer.start(1); }
    void noTextHandling();

    // What the page steps ask of the panel.
    void WaitForPage() override;
    void StartRun() override { SetRunning(true); }
    void HideStartButton() override;
    void HandOver(std::string text) override;
    void ElementMissing() override;
    bool PageOnScreen() const override;
    void notice(const QString& text, bool sound);
    void playError();
    void playSuccess();
    void connectThread();
    void onCountdown(int remainingMs);
    void showCountdown();
    void setTimeText(const QString& text); // the time label, other than the countdown
    void onSourceRequest();
    void onResult(Delivery delivery, const QByteArray& gbk);
    void onFinished();
    void onBeforeNavigate(const QUrl& url);
    void onDownload(const QUrl& url);
    void onReadingMode(bool direct);

    TAccountRecord& m_account;
    std::string m_server;
    std::unique_ptr<TMonitorThread> m_thread;
    WebEngineBrowser* m_browser = nullptr;
    std::unique_ptr<PageSteps> m_steps; // on m_browser, for this panel
    QPlainTextEdit* m_memo = nullptr;
    MemoLog* m_log = nullptr; // what the memo shows
    QPushButton* m_button = nullptr;
    QLabel* m_status[3] = {};
    QLabel* m_urlBar = nullptr;
    QLabel* m_reading = nullptr; // how the page is read
    QMenu* m_popup = nullptr;
    QSoundEffect* m_errorSound = nullptr;
    QSoundEffect* m_successSound = nullptr;
    QTimer m_timer;

    int m_taskIndex = -1;
    int m_refreshCount = 1;
    int m_countdownMs = 0;
    bool m_countdownDue = false; // the countdown came while the panel was out of sight
    int m_warningCount = 0;
    bool m_inStep = false;      // a step is under way (it may be waiting)
    bool m_stepPending = false; // the timer fired during that step
    bool m_waitLater = false;   // BeginPrepare: a load is watched, not waited for
    bool m_loadBegun = false;   // ... and one began
    bool m_prepared = true;
    std::function<void()> m_whenPrepared;
    QString m_currentUrl;
};

} // namespace vexory
