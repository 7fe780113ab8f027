// The main window's run: the runners launched and started, their status, the
// end of the run and its stop.

#include "app/Unit1.h"

#include "app/desktop_notices.h"
#include "app/gbk_texts.h"
#include "app/log_file.h"
#include "app/myFrame1.h"
#include "app/myFrame2.h"
#include "app/myFrame8.h"
#include "app/run_tray.h"
#include "app/ui_texts.h"
#include "base/encoding.h"
#include "base/tick_clock.h"
#include "browser/webengine_browser.h"
#include "editor/Unit2.h"
#include "editor/Unit3.h"
#include "editor/myFrame5.h"
#include "model/kept_screen.h"
#include "model/settings.h"
#include "model/task_store.h"
#include "monitor/monitor_core.h"
#include "monitor/monitor_thread.h"
#include "monitor/myFrame4.h"
#include "platform/codepage.h"
#include "service/service_client.h"
#include "widgets/message_box.h"
#include "widgets/qt_text.h"
#include "widgets/screen_fit.h"

#include <QApplication>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QEventLoop>
#include <QGuiApplication>
#include <QLabel>
#include <QPointer>
#include <QProcess>
#include <QPushButton>
#include <QScreen>
#include <QStackedWidget>
#include <QStatusBar>
#include <QTabWidget>
#include <QThread>
#include <QTimer>
#include <QVBoxLayout>
#include <QWebEngineView>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <filesystem>

namespace vexory {

void TForm1::StartRun()
{
    SaveStore();
    ResetForRun(m_account);
    const std::vector<int> chosen = SelectStartTasks(m_account);
    if (chosen.empty()) {
        MessageBox::Information(this, m_account.Tasks.empty() ? texts::kNoTaskMade : texts::kNoTaskChosen);
        return;
    }
    // A new run's status bar starts fresh: no clock or notice of the run before.
    m_panels[2]->setText(texts::kRunning.arg(0));
    m_panels[4]->setText(texts::kRunTimeStart);
    m_panels[5]->clear();
    m_panels[5]->setToolTip({});
    // Without the multi-task right one ticked task runs: the others are named.
    QStringList left;
    for (size_t i = 0; i < m_account.Tasks.size(); ++i)
        if (m_account.Tasks[i].Checked && static_cast<int>(i) != chosen.front())
            left << FromGbk(m_account.Tasks[i].TaskName);
    if (chosen.size() == 1 && !left.isEmpty()) {
        const QString text = texts::kOnlyOneTaskRuns.arg(
            FromGbk(m_account.Tasks[static_cast<size_t>(chosen.front())].TaskName), left.join(QStringLiteral("、")));
        StatusLine(text);
        MessageBox::Information(this, text);
    }
    if (!m_runViewShown)
        ShowRunView();
    m_timer2.start();
    m_tray->SetRunning(true);
    m_panels[1]->setText(texts::kTotal.arg(chosen.size()));
    m_panels[3]->setText(texts::kWaiting.arg(chosen.size()));

    auto* central = new QWidget(this);
    auto* layout = new QVBoxLayout(central);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    m_advert = new WebEngineBrowser(central);
    m_advert->View()->setFixedHeight(60);
    // Logged in, the banner is told who watches, to say whether results reach a phone yet.
    std::string advert = "http://" + m_values.Server + std::string(kAdvertPage);
    if (m_account.LoggedIn)
        advert +=
            "?nick=" + Base64UrlEncode(GbkToUtf8(m_account.Nickname)) + "&n=" + std::to_string(m_account.UserNumber);
    // Without a display nobody sees the banner: it has no page, nor the renderer
    // that would live as long as the run (one the run's pages share and swell).
    if (QGuiApplication::platformName() == QLatin1String("offscreen"))
        m_advert->Unload();
    else
        m_advert->Navigate(advert);
    layout->addWidget(m_advert->View());
    m_tabs = new QTabWidget(central);
    layout->addWidget(m_tabs, 1);
    // The login panel and task list stay (hidden): the list writes its order back at the end.
    if (centralWidget() == m_views) {
        takeCentralWidget();
        m_views->hide();
        m_views->setParent(this);
    }
    setCentralWidget(central);
    launchRunners(chosen);
}

void TForm1::launchRunners(const std::vector<int>& indexes)
{
    ++m_launching;
    // The screens kept of tasks that are gone, or whose formula changed, are of no use.
    KeptScreen::Prune(m_paths.store, m_account.Tasks);
    launchEach(indexes);
    --m_launching;
    if (m_stopRequested)
        StopRun();
}

void TForm1::launchEach(const std::vector<int>& indexes)
{
    for (int index : indexes) {
        if (m_shutDown || QCoreApplication::closingDown())
            return;
        // Page waits and the launch pause run the event loop, and a close among
        // those events replaces the task array: the task is looked up anew after
        // every wait, and nothing is touched once the program is ending.
        auto ending = [this] { return m_shutDown || m_stopRequested || QCoreApplication::closingDown(); };
        const TTaskRecord& t = m_account.Tasks[static_cast<size_t>(index)];
        auto* runner = new TFrame4(m_account, m_values.Server,
                                   [this](int task, const std::string& digest) { return ClaimRecord(task, digest); });
        m_runners.push_back(runner);
        m_tabs->addTab(runner, FromGbk(t.TaskName));
        m_tabs->setCurrentWidget(runner);
        connect(runner, &TFrame4::StatusChanged, this, [this] { request(RequestStatus); });
        connect(runner, &TFrame4::Notice, this, &TForm1::StatusLine);
        connect(runner, &TFrame4::NewRecords, this, &TForm1::showNewRecords);
        connect(runner, &TFrame4::Remote, this, &TForm1::RemoteCommand);
        connect(runner, &TFrame4::ChainRequest, this, [this] { request(RequestStartTasks); });

        runner->SetTask(index);
        runner->AllowDirectReading(m_values.DirectRead);
        runner->KeepScreenIn(KeptScreen::PathFor(m_paths.store, t));
        m_account.Tasks[static_cast<size_t>(index)].RunState = RunPresent;
        const bool waitsForUser = runner->OpensAtGuidePage();
        // What each task learned of its page is kept for its next run.
        if (!m_directMemory)
            m_directMemory = std::make_unique<DirectMemory>(m_paths.store);
        connect(runner, &TFrame4::ReadingModeChanged, this, [this, runner](bool direct) {
            if (runner->TaskIndex() >= 0 && static_cast<size_t>(runner->TaskIndex()) < m_account.Tasks.size())
                m_directMemory->Remember(m_account.Tasks[static_cast<size_t>(runner->TaskIndex())], direct);
        });
        // A task that read directly at its last run starts so: no page to load first.
        // Another's page loads while the next tasks launch.
        if (!(m_values.DirectRead && m_directMemory->ReadsDirectly(t) && runner->StartDirectly()))
            runner->BeginPrepare();
        TTaskRecord& started = m_account.Tasks[static_cast<size_t>(index)];
        started.CycleDone = 0;
        started.RestartPending = 0;
        MonitorCore::WakeWaiting();
        // About a second between two launches, showing its progress.
        for (int count = 1; count <= 100; ++count) {
            QEventLoop loop;
            QTimer::singleShot(10, &loop, &QEventLoop::quit);
            loop.exec();
            if (ending())
                return;
            runner->ShowLaunchProgress(count);
        }
        QPointer<TFrame4> launched(runner);
        runner->WhenPrepared([this, launched, waitsForUser, ending] {
            // The run may have stopped, or be stopping, while the page loaded.
            if (!launched || ending() || m_account.StopAll || !m_runViewShown)
                return;
            if (waitsForUser && HasDisplay()) {
                launched->Button1()->show();
            } else if (waitsForUser) {
                // Nobody can press "开始" without a display: the guide page has loaded
                // (and the profile keeps any login made there before), so go on.
                launched->Start();
            } else {
                launched->SetRunning(true);
            }
        });
        QCoreApplication::processEvents();
    }
}

// A cycle's new records on the desktop, one notice a task; clicking it shows the task.
void TForm1::showNewRecords(TFrame4* panel, const QString& task, const QString& records)
{
    if (!m_notices) {
        m_notices = new DesktopNotices(this);
        connect(m_notices, &DesktopNotices::Clicked, this, [this](const QString& group) {
            TFrame4* runner = runnerOf(group.toInt());
            if (!runner || !m_tabs)
                return;
            showFromTray();
            m_tabs->setCurrentWidget(runner);
        });
    }
    const int count = static_cast<int>(records.split(QStringLiteral("\r\n\r\n"), Qt::SkipEmptyParts).size());
    m_notices->Show(QString::number(panel->TaskIndex()), DesktopNotices::Summary(task, count),
                    DesktopNotices::Body(records));
}

TFrame4* TForm1::runnerOf(int taskIndex) const
{
    for (auto it = m_runners.rbegin(); it != m_runners.rend(); ++it)
        if ((*it)->TaskIndex() == taskIndex)
            return *it;
    return nullptr;
}

void TForm1::startRequestedTasks()
{
    if (m_account.LoggedIn && !m_account.MultiTaskRight)
        return;
    std::vector<int> start;
    for (size_t i = 0; i < m_account.Tasks.size(); ++i) {
        TTaskRecord& t = m_account.Tasks[i];
        if (t.RunState == RunStartRequested) {
            start.push_back(static_cast<int>(i));
        } else if (t.RestartPending) {
            // Asked for a new page while its panel runs. RunState is no sign of
            // that: the panel's own steps write it meanwhile.
            if (TFrame4* runner = runnerOf(static_cast<int>(i))) {
                ++m_launching;
                runner->PrepareStart(); // loads the page the linked task asked for
                --m_launching;
                if (m_stopRequested)
                    StopRun();
                if (m_shutDown || !m_runViewShown || QCoreApplication::closingDown())
                    return;
                TTaskRecord& again = m_account.Tasks[i];
                again.CycleDone = 0;
                again.RestartPending = 0;
                MonitorCore::WakeWaiting();
            }
        }
    }
    if (!start.empty())
        launchRunners(start);
}

void TForm1::RefreshStatus()
{
    const RunCounts counts = CountTasks(m_account);
    m_panels[1]->setText(texts::kTotal.arg(counts.total));
    m_panels[2]->setText(texts::kRunning.arg(counts.running));
    m_panels[3]->setText(texts::kWaiting.arg(counts.waiting));
    if (m_runStartTick == 0) {
        m_runStartTick = TickCount();
        if (m_runStartTick == 0)
            m_runStartTick = 1;
        const std::time_t t = std::time(nullptr);
        std::tm now{};
        localtime_r(&t, &now);
        m_runEndTick = ComputeEndTick(m_account.AutoEnd, m_runStartTick, now);
        m_trimmer->RunStarted(m_runStartTick);
        return;
    }
    m_nowTick = TickCount();
    if (TFrame4::NoTaskBusy(m_account))
        m_trimmer->Step(m_runStartTick, m_nowTick);
    m_panels[4]->setText(texts::kRunTime + FromGbk(RunClockText(m_runStartTick, m_nowTick, m_runEndTick)));
    if (m_runEndTick != 0 && static_cast<int32_t>(m_runEndTick - m_nowTick) <= 0)
        EndRun(RunEnd::AutoEnd);
}

void TForm1::EndRun(RunEnd reason)
{
    const bool shutdown = (reason == RunEnd::Remote && (m_account.ShutdownFlags & ShutdownAfterRemoteEnd)) ||
                          (reason == RunEnd::AutoEnd && (m_account.ShutdownFlags & ShutdownAfterAutoEnd));
    emit RunEnded(reason);
    if (shutdown) {
        // The machine goes down after five seconds; tests give a harmless command instead.
        QString command = qEnvironmentVariable("VEXORY_SHUTDOWN_COMMAND");
        if (command.isEmpty())
            command = QStringLiteral("sleep 5; systemctl poweroff");
        QProcess::startDetached(QStringLiteral("/bin/sh"), {QStringLiteral("-c"), command});
        return;
    }
    m_quitting = true;
    QMetaObject::invokeMethod(this, &QWidget::close, Qt::QueuedConnection);
}

void TForm1::RemoteCommand(TFrame4::RemoteCommand command)
{
    switch (command) {
    case TFrame4::RemoteCommand::EndRun:
        EndRun(RunEnd::Remote);
        break;
    case TFrame4::RemoteCommand::NicknameLogout:
        m_timer3Tag = Timer3Logout;
        m_timer3.start();
        StatusLine(texts::kNicknameLogout);
        break;
    case TFrame4::RemoteCommand::ElsewhereLogout:
        m_timer3Tag = Timer3Logout;
        m_timer3.start();
        StatusLine(texts::kElsewhereLogout);
        break;
    }
}

void TForm1::StatusLine(const QString& text)
{
    const std::string line = StatusLineText(ToGbk(text));
    m_panels[5]->setText(FromGbk(line));
    m_panels[5]->setToolTip(FromGbk(line));
    AppendLog(m_paths.log, line, m_values.Debugging);
}

void TForm1::Terminate()
{
    if (m_form2 && m_form2->isVisible()) {
        if (m_form2->Panel()->HasUnsavedChanges())
            StatusLine(texts::kEditorInputDropped);
        m_form2->Discard();
    }
    if (m_form3 && m_form3->isVisible())
        m_form3->done(QDialog::Rejected);
    m_quitting = true;
    close();
}

void TForm1::closeEvent(QCloseEvent* event)
{
    // A run kept in the tray goes on without its window.
    if (!m_quitting && m_runViewShown && !m_shutDown && m_tray->Holds()) {
        event->ignore();
        hide();
        m_tray->SayHidden();
        return;
    }
    Shutdown();
    QMainWindow::closeEvent(event);
}

void TForm1::showFromTray()
{
    if (isMinimized() || !isVisible())
        showNormal();
    if (m_runViewShown)
        setWindowState(windowState() | Qt::WindowMaximized);
    raise();
    activateWindow();
}

// The runners' threads end: callbacks detached, every thread told to stop, and the
// threads that wait for another task released. True once none runs (30 s at most).
bool TForm1::stopThreads()
{
    for (auto it = m_runners.rbegin(); it != m_runners.rend(); ++it)
        (*it)->disconnect(this);
    m_account.StopAll = 1;
    for (TFrame4* runner : m_runners)
        runner->Stop();
    MonitorCore::WakeWaiting();
    // A thread that feeds a linked task waits for that task to stop, so every task
    // without a running thread is marked stopped, those that never got a panel
    // included, and the waiting threads are woken.
    auto threadRuns = [this](int index) {
        for (TFrame4* runner : m_runners)
            if (runner->TaskIndex() == index && !runner->IsStopped())
                return true;
        return false;
    };
    const uint32_t since = TickCount();
    for (;;) {
        MonitorCore::ReleaseStoppedTasks(m_account, threadRuns);
        bool running = false;
        for (TFrame4* runner : m_runners)
            if (!runner->IsStopped())
                running = true;
        if (!running)
            return true;
        if (TickCount() - since > 30000)
            return false;
        QThread::msleep(20);
    }
}

void TForm1::StopRun()
{
    if (m_shutDown || !m_runViewShown)
        return;
    // A launch under way waits for its pages: it stops at its next look, then here.
    if (m_launching > 0) {
        m_stopRequested = true;
        return;
    }
    m_stopRequested = false;
    // Nothing asked for during this run is left for the next one to trip over.
    m_timer1.stop();
    m_requests = 0;
    m_timer2.stop();
    if (!stopThreads()) {
        StatusLine(texts::kStopFailed);
        return;
    }
    for (auto it = m_runners.rbegin(); it != m_runners.rend(); ++it)
        delete *it;
    m_runners.clear();
    if (centralWidget() != m_views) {
        delete takeCentralWidget(); // the banner and the tabs
        m_tabs = nullptr;
        m_advert = nullptr;
        setCentralWidget(m_views);
        m_views->show();
    }
    m_stopButton->hide();
    statusBar()->hide();
    setWindowState(windowState() & ~Qt::WindowMaximized);
    m_runViewShown = false;
    m_tray->SetRunning(false);
    m_runStartTick = m_runEndTick = 0;
    m_claims.Clear();
    ResetForRun(m_account);
    m_account.StopAll = 0;
    SaveStore();
    EnterTaskList();
}

} // namespace vexory
