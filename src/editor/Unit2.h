#pragma once

// TForm2: the task editor window, created once and reused; its whole client area
// is the editor panel. Closing it with unsaved changes asks first.

#include "model/task_list.h"

#include <QDialog>

namespace vexory {

class TForm3;
class TFrame5;

class TForm2 : public QDialog
{
    Q_OBJECT
public:
    TForm2(TaskList& tasks, TProcessValues& values, QWidget* parent = nullptr);

    TFrame5* Panel() const { return m_panel; }
    // The wizard that loads pages for the editor; it switches to its browser mode
    // whenever the editor is shown.
    void SetWizard(TForm3* wizard);
    // Shows the window modally; returns when it is closed.
    void ShowModal();
    // Closes without asking, dropping what was typed (the program is being ended).
    void Discard();

public slots:
    // Closing (title bar, Escape, the task list after a save) asks about unsaved changes.
    void reject() override;

protected:
    void showEvent(QShowEvent* event) override;

private:
    TFrame5* m_panel = nullptr;
    TForm3* m_wizard = nullptr;
};

} // namespace vexory
