#pragma once

// The main() of a GUI test program: offscreen, the browser engine without its
// sandbox and without network chatter, then the Qt Test object's slots.

#include "browser/ready_wait.h"
#include "browser/webengine_browser.h"
#include "support/build_paths.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QTest>
#include <QWebEnginePage>
#include <QWebEngineView>
#include <QWidget>

namespace vexory::test {

inline constexpr int kTestQuietMs = 300;

template <typename TestObject> int RunGuiTest(int argc, char** argv)
{
    // Offscreen, on a desktop-sized screen of 1400 x 900 (the plug-in's own is 800 x 600).
    // A file of its own for each process: test programs start side by side.
    const QString config = QDir::temp().filePath(
        QStringLiteral("vexory-offscreen-1400x900-%1.json").arg(QCoreApplication::applicationPid()));
    QFile file(config);
    if (file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        file.write(R"({"windowFrameMargins": false, "screens": [{"name": "screen", "x": 0, "y": 0,
                      "width": 1400, "height": 900, "logicalDpi": 96, "logicalBaseDpi": 96, "dpr": 1}]})");
    file.close();
    // VEXORY_TEST_PLATFORM=xcb: on the X server of DISPLAY (Xvfb), for what only a
    // window system does, such as a drag.
    const QByteArray platform = qgetenv("VEXORY_TEST_PLATFORM");
    qputenv("QT_QPA_PLATFORM", platform.isEmpty() ? ("offscreen:configfile=" + config).toLocal8Bit() : platform);
    qputenv("QTWEBENGINE_DISABLE_SANDBOX", "1");
    qputenv("QTWEBENGINE_CHROMIUM_FLAGS", "--disable-gpu --disable-background-networking --disable-component-update "
                                          "--no-first-run --disable-sync");
    ConfigureBrowserProcesses(); // as the program runs its browsers
    // The tests' pages load nothing after their documents: a page quiet for a few
    // tenths of a second is as ready as one quiet for the program's two seconds, and
    // the cycles of a test come that much sooner. VEXORY_TEST_QUIET_MS overrides.
    const QByteArray quiet = qgetenv("VEXORY_TEST_QUIET_MS");
    ReadyWait::SetQuietMs(quiet.isEmpty() ? kTestQuietMs : quiet.toInt());
    QApplication app(argc, argv);
    QFile::remove(config); // read by the platform as the application started
    TestObject test;
    return QTest::qExec(&test, argc, argv);
}

// Writes a picture of a widget to build/screens/NAME.png, to be looked at, once it
// has settled: its window shown, the pages in it loaded, and a few frames painted.
inline void SaveScreen(QWidget& widget, const QString& name)
{
    if (widget.isVisible())
        QVERIFY(QTest::qWaitForWindowExposed(widget.window()));
    for (QWebEngineView* view : widget.findChildren<QWebEngineView*>())
        QTRY_VERIFY_WITH_TIMEOUT(!view->isVisible() || !view->page()->isLoading(), 30000);
    QTest::qWait(300);
    QDir().mkpath(QString::fromUtf8(VEXORY_SCREENS_DIR));
    QVERIFY(widget.grab().save(QString::fromUtf8(VEXORY_SCREENS_DIR) + QLatin1Char('/') + name + QStringLiteral(".png")));
}

} // namespace vexory::test
