// vexory: the program. With the argument "autorun" the run starts about a second
// after the main window is shown; with QT_QPA_PLATFORM=offscreen it runs without a
// display, the log file (setting debugging=1) being the record. SIGTERM and SIGINT
// end it as closing the window does: runners stopped, store written, "程序结束" logged.

#include "app/Unit1.h"
#include "base/tick_clock.h"
#include "base/version.h"
#include "browser/webengine_browser.h"
#include "editor/Unit3.h"
#include "model/settings.h"
#include "model/task_store.h"
#include "monitor/monitor_core.h"
#include "platform/http_transfer.h"
#include "platform/program_folder.h"
#include "widgets/qt_chinese.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QEventLoop>
#include <QSocketNotifier>
#include <QTimer>
#include <QWindow>

#include <csignal>
#include <cstdio>
#include <filesystem>
#include <sys/socket.h>
#include <unistd.h>

namespace {

int g_signalPipe[2] = {-1, -1};

void onSignal(int)
{
    const char c = 1;
    [[maybe_unused]] ssize_t n = ::write(g_signalPipe[1], &c, 1);
}

} // namespace

int main(int argc, char** argv)
{
    // The browser engine refuses to run as root with its sandbox on.
    if (::geteuid() == 0 && qEnvironmentVariableIsEmpty("QTWEBENGINE_DISABLE_SANDBOX"))
        qputenv("QTWEBENGINE_DISABLE_SANDBOX", "1");
    vexory::ConfigureBrowserProcesses();
    {
        // --help and --version answer before any window system is asked for (they
        // work without a display); "autorun" is read by the main window, Qt's own
        // options by the application object.
        QCommandLineParser parser;
        parser.setApplicationDescription(
            QStringLiteral("Watches web pages and reports their new records.\n"
                           "Its files are in $VEXORY_HOME, or else $XDG_DATA_HOME/vexory (~/.local/share/vexory).\n"
                           "Without a display, run it with QT_QPA_PLATFORM=offscreen and autorun."));
        const QCommandLineOption help = parser.addHelpOption();
        const QCommandLineOption version = parser.addVersionOption();
        parser.addPositionalArgument(QStringLiteral("autorun"),
                                     QStringLiteral("start the ticked tasks about a second after the window shows"),
                                     QStringLiteral("[autorun]"));
        QStringList arguments;
        for (int i = 0; i < argc; ++i)
            arguments << QString::fromLocal8Bit(argv[i]);
        parser.parse(arguments);
        if (parser.isSet(help)) {
            std::fputs(
                qPrintable(parser.helpText().replace(QStringLiteral("<executable_name>"), QStringLiteral("vexory"))),
                stdout);
            return 0;
        }
        if (parser.isSet(version)) {
            std::printf("vexory %s\n", vexory::kVersion);
            return 0;
        }
    }
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Vexory"));
    vexory::LoadQtChinese(app);

    using namespace vexory;
    std::error_code made;
    std::filesystem::create_directories(ProgramFolder(), made); // a first start from the menu
    TAccountRecord account;
    TProcessValues values;
    const AppPaths paths{ProgramFile(kStoreFileName), ProgramFile(kSettingsFileName), ProgramFile(kLogFileName)};
    // One browser profile for every browser, kept in the program folder: logins last.
    UseBrowserProfileFolder(QString::fromStdString(ProgramFile(kBrowserFolderName)));

    // The splash stays at least two seconds while the store, the settings and the
    // automatic login are taken care of (first, silent attempt).
    auto* splash = new TForm3;
    splash->ShowSplash();
    // Painted before the work below holds the event loop: a window system maps and
    // exposes a window a few events after it is shown.
    const uint32_t shown = TickCount();
    while (!(splash->windowHandle() && splash->windowHandle()->isExposed()) && TickCount() - shown < 1000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    splash->repaint();
    QCoreApplication::processEvents();
    TForm1::LoadAndLogin(account, values, paths, false);
    if (const std::string why = HttpUnavailable(); !why.empty())
        std::fprintf(stderr, "vexory: HTTP is unavailable: %s\n", why.c_str());
    // The rest of the two seconds with the events going on (a splash covered and
    // uncovered meanwhile is painted again).
    if (const uint32_t took = TickCount() - shown; took < 2000) {
        QEventLoop wait;
        QTimer::singleShot(static_cast<int>(2000 - took), &wait, &QEventLoop::quit);
        wait.exec(QEventLoop::ExcludeUserInputEvents);
    }

    TForm1 form(account, values, paths);
    splash->hide();
    splash->deleteLater();

    if (::socketpair(AF_UNIX, SOCK_STREAM, 0, g_signalPipe) == 0) {
        struct sigaction sa
        {
        };
        sa.sa_handler = onSignal;
        sigaction(SIGTERM, &sa, nullptr);
        sigaction(SIGINT, &sa, nullptr);
        auto* notifier = new QSocketNotifier(g_signalPipe[0], QSocketNotifier::Read, &app);
        QObject::connect(notifier, &QSocketNotifier::activated, &form, [&form] {
            char c;
            [[maybe_unused]] ssize_t n = ::read(g_signalPipe[0], &c, 1);
            form.Terminate();
        });
    }
    QObject::connect(&form, &TForm1::RunEnded, &app, [](TForm1::RunEnd) {});
    form.show();
    const int code = app.exec();
    form.Shutdown();
    return code;
}
