#pragma once

// TForm1: the main window and the owner of a run. It starts the chosen tasks one
// runner panel per tab, keeps the status bar, handles the runners' notices and the
// service's remote commands, ends the run at the automatic end or on the service's
// order, and shuts everything down in a fixed order.

#include "app/mem_manager.h"
#include "app/scheduler.h"
#include "model/direct_memory.h"
#include "model/task_list.h"
#include "monitor/myFrame4.h"

#include <QMainWindow>
#include <QTimer>

#include <memory>
#include <string>
#include <vector>

class QLabel;
class QPushButton;
class QStackedWidget;
class QTabWidget;

namespace vexory {

class TFrame1;
class TFrame2;
class TFrame8;
class TForm2;
class TForm3;
class WebEngineBrowser;

// Where the program keeps its files.
struct AppPaths
{
    std::string store, ini, log;
};

class DesktopNotices;
class RunTray;

class TForm1 : public QMainWindow
{
    Q_OBJECT
public:
    TForm1(TAccountRecord& account, TProcessValues& values, AppPaths paths, QWidget* parent = nullptr);
    ~TForm1() override;

    // Runs the first and second store/settings/login attempts' rules (messages on or off).
    static void LoadAndLogin(TAccountRecord& account, TProcessValues& values, const AppPaths& paths, bool messages,
                             QWidget* parent = nullptr);

    void EnterTaskList();
    void ShowLoginPanel();
    void ShowLoggedOut();
    void ExecuteRun();
    void OpenOptions();
    // Writes the task list back and the store to disk; a failure is shown.
    bool SaveStore();
    void ShowRegistration();
    // The account page's code and address: where results are bound to a phone.
    void ShowAccountPage();
    TFrame1* LoginPanel() const { return m_login; }
    TFrame2* TaskList() const { return m_taskList; }
    TFrame8* OptionsPanel() const { return m_options; }
    TForm3* Form3() const { return m_form3; }
    TForm2* Form2() const { return m_form2; }

    void ShowRunView();
    void StartRun();
    void RefreshStatus();
    // How a run ends by itself.
    enum class RunEnd
    {
        Remote,  // the service ended it
        AutoEnd, // the automatic end came
    };
    Q_ENUM(RunEnd)

    // What a runner's push reply tells the window to do.
    void RemoteCommand(TFrame4::RemoteCommand command);
    void StatusLine(const QString& text);
    void EndRun(RunEnd reason);
    bool ClaimRecord(int taskIndex, const std::string& digest) { return m_claims.ClaimRecord(taskIndex, digest); }
    // The shutdown order: log, detach, stop, write the store. Idempotent.
    void Shutdown();
    // "停止": the run ends as at the end of the program (runners stopped in the same
    // order, store written), and the task list comes back.
    void StopRun();
    QPushButton* StopButton() const { return m_stopButton; }
    // SIGTERM / SIGINT: nobody is asked anything. Open dialogs are closed, the
    // editor's unsaved input is dropped (and logged), then the window closes.
    void Terminate();

    const std::vector<TFrame4*>& Runners() const { return m_runners; }
    WebEngineBrowser* Advert() const { return m_advert; }
    RunTray* Tray() const { return m_tray; }
    QTabWidget* Tabs() const { return m_tabs; }
    QLabel* StatusPanel(int i) const { return m_panels[i]; }
    uint32_t RunStartTick() const { return m_runStartTick; }
    uint32_t RunEndTick() const { return m_runEndTick; }
    // Moves the automatic end of the run under way (tests bring it near).
    void SetRunEndTick(uint32_t tick) { m_runEndTick = tick; }

signals:
    // The run ended (remote order or automatic end) and the window is closing.
    void RunEnded(vexory::TForm1::RunEnd reason);

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    // Timer 3's job.
    enum Timer3Job
    {
        Timer3None = 0,
        Timer3Logout = 1, // the service logged the user out: back to the login panel
    };

    // Timer 1's jobs, asked for by request(). They are kept as a set: a request never
    // overwrites another (a chained task's start is not lost to a status refresh),
    // and one asked for while a tick is handled is handled at the next tick.
    enum Request : unsigned
    {
        RequestStartTasks = 1,
        RequestStartRun = 2,
        RequestStatus = 4,
    };

    void setCaption();
    void buildStatusBar();
    void setUpTimers();
    void buildViews();
    bool writeStoreFile(std::string* error);
    void request(unsigned job);
    void timer1Tick();
    void launchRunners(const std::vector<int>& indexes);
    void launchEach(const std::vector<int>& indexes);
    bool stopThreads();
    void startRequestedTasks();
    TFrame4* runnerOf(int taskIndex) const;
    void showNewRecords(TFrame4* panel, const QString& task, const QString& records);
    void fitTo(QWidget* view);
    // Shows the window again (from the tray, or for a notice clicked).
    void showFromTray();
    void replaceCaption(const QString& from, const QString& to);

    TAccountRecord& m_account;
    vexory::TaskList m_tasks{m_account}; // the tasks' one owner between runs
    TProcessValues& m_values;
    AppPaths m_paths;
    ClaimRegistry m_claims;
    std::unique_ptr<LinuxMemoryPlatform> m_memory;
    std::unique_ptr<DirectMemory> m_directMemory; // which tasks last read directly
    DesktopNotices* m_notices = nullptr;          // new records on the desktop
    RunTray* m_tray = nullptr;                    // the run in the system tray, when chosen
    std::unique_ptr<TMemManager> m_trimmer;

    QLabel* m_panels[6] = {};
    QStackedWidget* m_views = nullptr;
    TFrame1* m_login = nullptr;
    TFrame2* m_taskList = nullptr;
    TFrame8* m_options = nullptr;
    TForm3* m_form3 = nullptr;
    TForm2* m_form2 = nullptr;
    QString m_versionPrefix;
    QTabWidget* m_tabs = nullptr;
    WebEngineBrowser* m_advert = nullptr;
    std::vector<TFrame4*> m_runners;
    QTimer m_timer1, m_timer2, m_timer3;
    unsigned m_requests = 0; // timer 1's jobs, a set of Request bits
    int m_timer3Tag = 0;
    uint32_t m_runStartTick = 0, m_runEndTick = 0, m_nowTick = 0;
    bool m_shutDown = false;
    bool m_runViewShown = false;
    bool m_quitting = false;      // the window closes for good: no hiding in the tray
    int m_launching = 0;          // launches (page waits) under way
    bool m_stopRequested = false; // "停止" came during a launch
    QPushButton* m_stopButton = nullptr;
};

} // namespace vexory
