#include "app/Unit1.h"

#include "app/gbk_texts.h"
#include "app/log_file.h"
#include "app/myFrame1.h"
#include "app/myFrame2.h"
#include "app/myFrame8.h"
#include "app/run_tray.h"
#include "app/ui_texts.h"
#include "base/tick_clock.h"
#include "browser/webengine_browser.h"
#include "editor/Unit2.h"
#include "editor/Unit3.h"
#include "editor/myFrame5.h"
#include "model/gbk_texts.h"
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
#include <QProcess>
#include <QPushButton>
#include <QScreen>
#include <QStackedWidget>
#include <QStatusBar>
#include <QTabWidget>
#include <QThread>
#include <QVBoxLayout>
#include <QWebEngineView>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <filesystem>

namespace vexory {

namespace {

QLabel* panel(const QString& text, int width, QWidget* parent)
{
    auto* label = new QLabel(text, parent);
    label->setAlignment(Qt::AlignCenter);
    if (width > 0)
        label->setMinimumWidth(width);
    return label;
}

} // namespace

void TForm1::LoadAndLogin(TAccountRecord& account, TProcessValues& values, const AppPaths& paths, bool messages,
                          QWidget* parent)
{
    if (!values.StoreLoaded) {
        std::error_code ec;
        if (!std::filesystem::exists(paths.store, ec)) {
            values.StoreLoaded = true; // no store yet: an empty task list
        } else if (ReadStore(paths.store, account)) {
            values.StoreLoaded = true;
            for (auto& t : account.Tasks)
                t.MainField = 0;
        } else if (messages) {
            // Kept aside before anything writes over it, and the user is told where.
            // A store that cannot even be copied is never written in this session.
            const std::string copy = CopyStoreAside(paths.store);
            QString text = FromGbk(texts::kStoreReadError);
            if (!copy.empty()) {
                text += QStringLiteral("\n") + texts::kStoreKeptAs.arg(QString::fromStdString(copy));
            } else {
                const int error = StoreReadError(paths.store);
                const QString why = error == EACCES || error == EPERM ? texts::kStoreNoPermission
                                    : error == EISDIR                 ? texts::kStoreIsFolder
                                    : error == 0                      ? texts::kStoreDamagedNoCopy
                                                                      : texts::kStoreSystemError.arg(error);
                values.StoreNotWritten = why.toStdString();
                text = texts::kStoreNotReadable.arg(why, QString::fromStdString(paths.store));
            }
            MessageBox::Information(parent, text); // on the error output without a display
        }
    }
    if (!values.SettingsRead) {
        const QStringList arguments = QCoreApplication::arguments().mid(1);
        std::vector<std::string> args;
        for (const QString& a : arguments)
            args.push_back(a.toStdString());
        ReadSettings(paths.ini, args, account, values);
    }
    if (values.AutoLogin && !account.LoggedIn) {
        values.ServerVersion = kClientVersion;
        const int result = Login(account, values.Server, true, values.ServerVersion);
        const bool show = messages && !values.AutoRun;
        QString message;
        switch (result) {
        case LoginNoAnswer:
            message = texts::kAutoLoginNoAnswer;
            break;
        case LoginNotRegistered:
            message = texts::kAutoLoginNotRegistered;
            account.Nickname.clear();
            account.PasswordDigest.clear();
            break;
        case LoginWrongPassword:
            message = texts::kAutoLoginWrongPassword;
            break;
        case LoginServerError:
            message = texts::kAutoLoginServerError;
            break;
        default:
            break;
        }
        if (show && !message.isEmpty())
            MessageBox::Information(parent, message);
    }
}

TForm1::TForm1(TAccountRecord& account, TProcessValues& values, AppPaths paths, QWidget* parent)
    : QMainWindow(parent), m_account(account), m_values(values), m_paths(std::move(paths))
{
    m_memory = std::make_unique<LinuxMemoryPlatform>(BrowserCacheFolder().toStdString(), [] { ClearBrowserCache(); });
    m_trimmer = std::make_unique<TMemManager>(
        *m_memory,
        [this](const std::string& text) {
            if (m_values.Debugging)
                StatusLine(FromGbk(text).mid(3));
        },
        [this] {
            for (TFrame4* r : m_runners)
                if (r->Running())
                    r->AfterTrim();
        });

    m_tray = new RunTray(this);
    connect(m_tray, &RunTray::ShowWindow, this, &TForm1::showFromTray);
    connect(m_tray, &RunTray::EndRun, this, [this] {
        StopRun();
        showFromTray();
    });
    connect(m_tray, &RunTray::Quit, this, [this] {
        m_quitting = true;
        close();
    });

    LoadAndLogin(m_account, m_values, m_paths, true, this);
    setCaption();
    buildStatusBar();
    setUpTimers();
    buildViews();
    if (m_account.LoggedIn)
        EnterTaskList();
    else
        ShowLoginPanel();
    if (m_values.AutoRun) {
        if (!m_account.LoggedIn)
            EnterTaskList();
        ShowRunView();
    }
}

// The title tells whether the user is logged in, and of a newer version.
void TForm1::setCaption()
{
    QString caption = texts::kAppTitle;
    if (m_account.LoggedIn) {
        ApplyRightsToTasks(m_account);
        caption += texts::kCaptionLoggedIn;
    } else {
        caption += texts::kCaptionNotLoggedIn;
    }
    if (m_values.ServerVersion > kClientVersion)
        caption += QStringLiteral("  -  ") + texts::kNewVersion;
    setWindowTitle(caption);
    setFixedSize(1072, 525);
}

// Nickname, task counts, run time, the latest line, and "停止"; shown with the run view.
void TForm1::buildStatusBar()
{
    QStatusBar* bar = statusBar();
    m_panels[0] = panel(m_account.LoggedIn ? FromGbk(m_account.Nickname) : texts::kNotLoggedIn, 150, bar);
    m_panels[1] = panel(texts::kTotal.arg(0), 100, bar);
    m_panels[2] = panel(texts::kRunning.arg(0), 100, bar);
    m_panels[3] = panel(texts::kWaiting.arg(0), 100, bar);
    m_panels[4] = panel(texts::kRunTimeStart, 220, bar);
    m_panels[5] = panel(QString(), 50, bar);
    m_panels[5]->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    // The latest line takes the room that is left and is cut at its own edge (the
    // whole line in its tooltip), never running under "停止".
    m_panels[5]->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    for (int i = 0; i < 5; ++i)
        bar->addWidget(m_panels[i]);
    bar->addWidget(m_panels[5], 1);
    m_stopButton = new QPushButton(texts::kStopRun, bar);
    m_stopButton->setToolTip(texts::kStopRunTip);
    bar->addPermanentWidget(m_stopButton);
    connect(m_stopButton, &QPushButton::clicked, this, &TForm1::StopRun);
    bar->hide();
    if (m_values.ServerVersion > kClientVersion)
        StatusLine(texts::kNewVersion);
}

// Timer 1 runs the requested jobs, timer 2 closes the pages' pop-ups during a run,
// timer 3 logs out after the service said so.
void TForm1::setUpTimers()
{
    m_timer1.setSingleShot(true);
    m_timer1.setInterval(1000);
    connect(&m_timer1, &QTimer::timeout, this, &TForm1::timer1Tick);
    m_timer2.setInterval(1000);
    connect(&m_timer2, &QTimer::timeout, this, [this] {
        // Pop-ups and dialogs the pages open are closed within a second.
        for (QWidget* w : QApplication::topLevelWidgets())
            if (w != this && w->isVisible() && w->isWindow() && qobject_cast<QDialog*>(w))
                w->close();
    });
    m_timer3.setInterval(1000);
    connect(&m_timer3, &QTimer::timeout, this, [this] {
        m_timer3.stop();
        if (m_timer3Tag == Timer3Logout) {
            m_timer3Tag = Timer3None;
            ShowLoggedOut();
        }
    });
}

// The login panel, the task list's place, and the windows they open.
void TForm1::buildViews()
{
    m_form3 = new TForm3(this);
    // Owned by the window until the options dialog takes it into its layout.
    m_options = new TFrame8(m_account, this);
    m_options->hide();
    m_views = new QStackedWidget(this);
    setCentralWidget(m_views);
    m_login = new TFrame1(m_account, m_values, m_views);
    m_views->addWidget(m_login);
    connect(m_login, &TFrame1::LoggedIn, this, [this] {
        m_panels[0]->setText(FromGbk(m_account.Nickname));
        EnterTaskList();
    });
    connect(m_login, &TFrame1::NewVersion, this, [this] {
        if (!windowTitle().contains(texts::kNewVersion))
            setWindowTitle(windowTitle() + QStringLiteral("  -  ") + texts::kNewVersion);
        m_panels[5]->setText(texts::kNewVersion);
    });
    connect(m_login, &TFrame1::RegisterRequested, this, &TForm1::ShowRegistration);
    // The editor window is made before the first view that may open it.
    m_form2 = new TForm2(m_tasks, m_values, this);
    m_form2->SetWizard(m_form3);
    m_form3->SetStopFlag(&m_account.StopAll);
}

void TForm1::fitTo(QWidget* view)
{
    m_views->setCurrentWidget(view);
    const QSize size = view->sizeHint().expandedTo(view->minimumSize());
    FitOnScreen(this, QSize(size.width(), size.height() + (statusBar()->isVisible() ? statusBar()->height() : 0)),
                true);
}

void TForm1::replaceCaption(const QString& from, const QString& to)
{
    QString caption = windowTitle();
    caption.replace(from, to);
    setWindowTitle(caption);
}

void TForm1::EnterTaskList()
{
    if (m_account.LoggedIn)
        replaceCaption(texts::kNotLoggedIn, texts::kLoggedIn);
    else
        replaceCaption(texts::kLoggedIn, texts::kNotLoggedIn);
    if (!m_taskList) {
        m_taskList = new TFrame2(m_tasks, m_values, m_views);
        m_views->addWidget(m_taskList);
        connect(m_taskList, &TFrame2::ExecuteRun, this, &TForm1::ExecuteRun);
        connect(m_taskList, &TFrame2::ShowLoginPanel, this, &TForm1::ShowLoginPanel);
        connect(m_taskList, &TFrame2::ShowLoggedOut, this, &TForm1::ShowLoggedOut);
        connect(m_taskList, &TFrame2::OpenOptions, this, &TForm1::OpenOptions);
        connect(m_taskList, &TFrame2::BindPhoneRequested, this, &TForm1::ShowAccountPage);
        connect(m_taskList, &TFrame2::Changed, this, &TForm1::SaveStore);
        m_taskList->SetEditor(m_form2);
    }
    m_versionPrefix = m_account.LoggedIn ? FromGbk(m_account.Nickname) + QStringLiteral("      ") : QString();
    m_taskList->VersionLabel()->setText(m_versionPrefix + texts::kVersionLabel);
    m_taskList->PhoneLink()->setVisible(m_account.LoggedIn);
    fitTo(m_taskList);
}

void TForm1::ShowLoginPanel()
{
    fitTo(m_login);
}

void TForm1::ShowLoggedOut()
{
    if (m_account.LoggedIn)
        return;
    replaceCaption(texts::kLoggedIn, texts::kNotLoggedIn);
    m_panels[0]->setText(texts::kNotLoggedIn);
    if (m_taskList) {
        m_taskList->VersionLabel()->setText(texts::kVersionLabel);
        m_taskList->PhoneLink()->setVisible(false);
    }
    m_versionPrefix.clear();
}

void TForm1::ExecuteRun()
{
    ShowRunView();
    StartRun();
}

void TForm1::OpenOptions()
{
    m_options->Load();
    m_form3->SetOptions(m_options);
    QMetaObject::Connection done = connect(m_options, &TFrame8::Accepted, m_form3, &QDialog::accept);
    const bool accepted = m_form3->exec() == QDialog::Accepted;
    disconnect(done);
    // Closing the window any other way than "确定" changes nothing.
    if (!accepted)
        return;
    if (m_options->ReloginChosen() && m_account.LoggedIn) {
        m_taskList->Logout();
        ShowLoginPanel();
    }
    SaveStore();
}

void TForm1::ShowRegistration()
{
    const QString site = QStringLiteral("http://") + FromGbk(m_values.Server);
    m_form3->SetRegistration(site + QString::fromLatin1(kRegisterPage), site + QString::fromLatin1(kAccountPage));
    m_form3->exec();
}

void TForm1::ShowAccountPage()
{
    m_form3->SetAccountPage(QStringLiteral("http://") + FromGbk(m_values.Server) + QString::fromLatin1(kAccountPage));
    m_form3->exec();
}

TForm1::~TForm1()
{
    Shutdown();
    for (auto it = m_runners.rbegin(); it != m_runners.rend(); ++it)
        delete *it; // each waits for its thread
    m_runners.clear();
    // The task list window listens to the task list, a member, which is gone before
    // the child widgets would be: the window goes first.
    delete m_taskList;
    m_taskList = nullptr;
}

void TForm1::request(unsigned job)
{
    m_requests |= job;
    // A second within which requests fold into one tick; a request does not
    // put the pending tick off.
    if (!m_timer1.isActive())
        m_timer1.start();
}

void TForm1::showEvent(QShowEvent* event)
{
    QMainWindow::showEvent(event);
    if (m_values.AutoRun && !m_runStartTick && m_runners.empty())
        request(RequestStartRun);
}

void TForm1::timer1Tick()
{
    m_timer1.stop();
    const unsigned jobs = m_requests;
    m_requests = 0;
    if (jobs & RequestStartRun)
        StartRun();
    if ((jobs & RequestStartTasks) && m_runViewShown && !m_shutDown)
        startRequestedTasks();
    if ((jobs & RequestStatus) && m_runViewShown && !m_shutDown)
        RefreshStatus();
}

void TForm1::ShowRunView()
{
    const std::vector<int> chosen = SelectStartTasks(m_account);
    if (chosen.empty())
        return;
    m_runViewShown = true;
    setMinimumSize(0, 0);
    setMaximumSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
    statusBar()->show();
    m_stopButton->show();
    // 960 x 750 where the screen has room, inside it where it has not; then maximised.
    FitOnScreen(this, QSize(960, 750));
    setWindowState(windowState() | Qt::WindowMaximized);
    // A window manager may still hold the fixed size the task list had and refuse
    // the first request: it is asked again once the new size limits have reached it.
    QTimer::singleShot(300, this, [this] {
        const QScreen* shown = screen();
        if (!m_runViewShown || !shown || width() >= shown->availableGeometry().width() - 40)
            return;
        setWindowState(windowState() & ~Qt::WindowMaximized);
        setWindowState(windowState() | Qt::WindowMaximized);
    });
}

bool TForm1::SaveStore()
{
    std::string error;
    if (writeStoreFile(&error))
        return true;
    const bool blocked = !m_values.StoreNotWritten.empty();
    const QString text =
        blocked ? QString::fromStdString(error) : texts::kStoreWriteFailed.arg(QString::fromStdString(error));
    StatusLine(text);
    MessageBox::Information(this, text);
    return false;
}

void TForm1::Shutdown()
{
    if (m_shutDown)
        return;
    m_shutDown = true;
    m_tray->SetRunning(false);
    AppendLog(m_paths.log, ProgramEndEntry(), m_values.Debugging);
    m_timer1.stop();
    m_timer2.stop();
    m_timer3.stop();
    hide();
    stopThreads();
    std::string error;
    if (writeStoreFile(&error))
        return;
    // The user was told at the start why this store is not written: no box on the way out.
    if (!m_values.StoreNotWritten.empty())
        std::fprintf(stderr, "vexory: %s\n", error.c_str());
    else
        MessageBox::Information(nullptr, texts::kStoreWriteFailed.arg(QString::fromStdString(error)));
}

bool TForm1::writeStoreFile(std::string* error)
{
    if (!m_values.StoreNotWritten.empty()) {
        if (error)
            *error = texts::kStoreNotStored
                         .arg(QString::fromStdString(m_values.StoreNotWritten), QString::fromStdString(m_paths.store))
                         .toStdString();
        return false;
    }
    // A program folder named but not made yet is made with the first store.
    std::error_code ec;
    std::filesystem::create_directories(std::filesystem::path(m_paths.store).parent_path(), ec);
    return WriteStore(m_account, m_paths.store, error);
}

} // namespace vexory
