#pragma once

// TFrame2: the task list between runs: a ticked list of the tasks, an overview of
// the selected one, new / modify / delete / execute, and a menu for ordering,
// ticking, cloning, importing and exporting. It shows the task list (TaskList)
// and changes it through it; every change of the tasks is announced by Changed(),
// upon which the main window stores them, so that nothing is lost when the
// program does not end cleanly.

#include "model/task_list.h"

#include <QWidget>

#include <functional>

class QGroupBox;
class QLabel;
class QListWidget;
class QListWidgetItem;
class QMenu;
class QPushButton;
class QVBoxLayout;

namespace vexory {

class TForm2;
class TFrame5;

class TFrame2 : public QWidget
{
    Q_OBJECT
public:
    TFrame2(TaskList& tasks, TProcessValues& values, QWidget* parent = nullptr);
    ~TFrame2() override;

    // Algorithm steps, reachable for the main window and for tests.
    void ShowOverview(int position);
    void DeleteSelected();
    void MoveSelected(int direction); // -1 up, +1 down
    void TickAll();
    void InvertTicks();
    void CloneSelected();
    bool ImportFile(const QString& path);
    void ExportTicked();
    void Logout();
    // The editor window that "新建", "修改" and a double click open.
    void SetEditor(TForm2* editor);
    void NewTaskClick();
    void ModifyClick();


    QListWidget* List() const { return m_list; }
    QMenu* Menu() const { return m_menu; }
    QLabel* OverviewValue(int i) const { return m_values[i]; }
    QLabel* VersionLabel() const { return m_version; }
    // The account page's address, shown while logged in.
    QLabel* PhoneLink() const { return m_phone; }
    QPushButton* Button(const QString& text) const;
    // Updates the menu's enabled states, as when it opens.
    void UpdateMenu();

    // The readable form of a verification formula, with the grab formula's field names.
    static std::string ReadableVerifyFormula(const std::string& verify, const std::string& grab);

    // Seams for the file dialogs (tests answer them without a window).
    std::function<QString()> AskImportFile;
    std::function<QString(const QString& title)> AskExportFile;

signals:
    // The tasks changed (their order, ticks, the set of tasks, a task), or the
    // account's credentials were forgotten.
    void Changed();
    void ExecuteRun();
    void ShowLoginPanel();
    void ShowLoggedOut();
    void OpenOptions();
    void BindPhoneRequested();

private:
    QGroupBox* buildOverview();
    QVBoxLayout* buildManagement(const std::string& server);
    void buildMenu();
    void connectControls();
    // Shows the tasks: an item each, numbered, ticked as they are, the selected one current.
    void showTasks();
    void unloadEditor();
    QString itemText(int position) const;
    int selectedPosition() const;

    TaskList& m_tasks;
    int m_listening = 0;
    TAccountRecord& m_account;
    TProcessValues& m_processValues;
    TForm2* m_editor = nullptr;
    QListWidget* m_list = nullptr;
    QLabel* m_values[11] = {};
    QLabel* m_version = nullptr;
    QLabel* m_phone = nullptr;
    QMenu* m_menu = nullptr;
    QAction* m_up = nullptr;
    QAction* m_down = nullptr;
    QAction* m_clone = nullptr;
    QAction* m_export = nullptr;
    bool m_quiet = false; // the items are being made to show the tasks: no change of the user's
};

} // namespace vexory
