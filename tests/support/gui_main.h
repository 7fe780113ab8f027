#pragma once

// The main() of a GUI test program: offscreen, the browser engine without its
// sandbox and without network chatter, then the Qt Test object's slots.

#include <QApplication>
#include <QDir>
#include <QTest>
#include <QWidget>

namespace vexory::test {

template <typename TestObject>
int RunGuiTest(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    qputenv("QTWEBENGINE_DISABLE_SANDBOX", "1");
    qputenv("QTWEBENGINE_CHROMIUM_FLAGS", "--disable-gpu --disable-background-networking --disable-component-update "
                                          "--no-first-run --disable-sync");
    QApplication app(argc, argv);
    TestObject test;
    return QTest::qExec(&test, argc, argv);
}

// Writes a picture of a widget to build/screens/NAME.png, to be looked at.
inline void SaveScreen(QWidget& widget, const QString& name)
{
    QDir().mkpath(QStringLiteral(VEXORY_SCREENS_DIR));
    QVERIFY(widget.grab().save(QStringLiteral(VEXORY_SCREENS_DIR "/") + name + QStringLiteral(".png")));
}

} // namespace vexory::test
