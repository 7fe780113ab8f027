#pragma once

// TForm2: the task editor window, created once and reused; its whole client area
// is the editor panel. Closing it with unsaved changes asks first.

#include "model/task_record.h"

#include <QDialog>

namespace vexory {

class TFrame5;

class TForm2 : public QDialog
{
    Q_OBJECT
public:
    TForm2(TAccountRecord& account, TProcessValues& values, QWidget* parent = nullptr);

    TFrame5* Panel() const { return m_panel; }
    // Shows the window modally; returns when it is closed.
    void ShowModal();

public slots:
    // Closing (title bar, Escape, the task list after a save) asks about unsaved changes.
    void reject() override;

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    TFrame5* m_panel = nullptr;
};

} // namespace vexory
