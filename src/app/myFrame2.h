#pragma once

// TFrame2: the task list between runs: a ticked list of the tasks, an overview of
// the selected one, new / modify / delete / execute, and a menu for ordering,
// ticking, cloning, importing and exporting. Every change the user makes is
// announced by Changed(), upon which the main window writes the list back and
// stores it, so that nothing is lost when the program does not end cleanly.

#include "model/task_record.h"

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
    TFrame2(TAccountRecord& account, TProcessValues& values, QWidget* parent = nullptr);

    // Algorithm steps, reachable for the main window and for tests.
    void Fill();
    void ShowOverview(int position);
    void WriteBack();
    void DeleteSelected();
    void MoveSelected(int direction); // -1 up, +1 down
    void TickAll();
    void InvertTicks();
    void CloneSelected();
    bool ImportFile(const QString& path);
    void ExportTicked();
    void Logout();
    // The editor window that "新建", "修改" and a double click open.
    void SetEditor(TForm2* editor) { m_editor = editor; }
    void NewTaskClick();
    void ModifyClick();
    // After the editor saved: close it, list a new task, select the saved one.
    void EditorSaved(TFrame5* panel);
    // Adds the item of a task appended to the task array (by the editor).
    void AddItem(int taskIndex);
    // Selects the item of a task and refreshes its text and the overview.
    void SelectTask(int taskIndex);

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
    // The user changed the tasks: their order, ticks, the set of tasks, a task.
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
    void renumber(int from);
    void changed();
    void unloadEditor();
    QString itemText(int position, int taskIndex) const;
    int selectedPosition() const;
    TTaskRecord& taskOf(int position);

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
    bool m_quiet = false; // the list is being filled or renumbered: no change of the user's
};

} // namespace vexory
