#pragma once

// A run in the desktop's system tray, an option of the user's: while a run goes on
// an icon stands in the tray, and closing the window hides it instead of ending
// the run; the icon's menu shows the window again, ends the run or the program.
// Where the desktop has no tray there is no icon, and closing the window ends the
// program as it always does. The choice is kept with the user's desktop settings
// ($XDG_CONFIG_HOME/vexory/desktop.conf), not in the store.

#include <QIcon>
#include <QObject>
#include <QString>

class QAction;
class QMenu;
class QSystemTrayIcon;

namespace vexory {

class RunTray : public QObject
{
    Q_OBJECT
public:
    explicit RunTray(QObject* parent = nullptr);
    ~RunTray() override;

    static bool Chosen();
    static bool Choose(bool on); // false when it could not be written
    static bool Available();

    // The icon during a run (when chosen and the desktop has a tray); none else.
    void SetRunning(bool running);
    // Closing the window keeps the run: its icon stands in the tray.
    bool Holds() const;
    // Says once a run that the window went to the tray.
    void SayHidden();

    QMenu* Menu() const { return m_menu; }
    QIcon Icon() const;
    QAction* ShowAction() const { return m_show; }
    QAction* EndRunAction() const { return m_endRun; }
    QAction* QuitAction() const { return m_quit; }

signals:
    void ShowWindow();
    void EndRun();
    void Quit();

private:
    QSystemTrayIcon* m_icon = nullptr;
    QMenu* m_menu = nullptr;
    QAction* m_show = nullptr;
    QAction* m_endRun = nullptr;
    QAction* m_quit = nullptr;
    bool m_said = false;
};

} // namespace vexory
