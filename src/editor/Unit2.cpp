#include "editor/Unit2.h"

#include "editor/Unit3.h"
#include "editor/myFrame5.h"
#include "editor/ui_texts.h"
#include "widgets/message_box.h"
#include "widgets/screen_fit.h"

#include <QGuiApplication>
#include <QScreen>
#include <QTextEdit>
#include <QVBoxLayout>

namespace vexory {

TForm2::TForm2(TaskList& tasks, TProcessValues& values, QWidget* parent) : QDialog(parent)
{
    setWindowTitle(texts::kEditorCaption);
    setWindowFlags(windowFlags() | Qt::WindowMaximizeButtonHint | Qt::WindowMinimizeButtonHint);
    setModal(true);
    m_panel = new TFrame5(tasks, values, this);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(m_panel);
    FitOnScreen(this, QSize(1170, 740));
}

void TForm2::SetWizard(TForm3* wizard)
{
    m_wizard = wizard;
    m_panel->SetWizard(wizard);
    connect(wizard, &TForm3::PageRead, m_panel, &TFrame5::TakeWizardPage);
}

void TForm2::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    if (m_wizard)
        m_wizard->SetBrowserMode();
}

void TForm2::ShowModal()
{
    FitOnScreen(this, isVisible() ? size() : QSize(1170, 740));
    exec();
}

void TForm2::reject()
{
    if (m_panel->isVisible() && m_panel->HasUnsavedChanges()) {
        if (MessageBox::Question(this, texts::kCloseUnsaved, QMessageBox::Yes | QMessageBox::No) != QMessageBox::Yes)
            return;
        QDialog::reject();
        m_panel->LoadTask(-1);
        return;
    }
    QDialog::reject();
}

void TForm2::Discard()
{
    QDialog::reject();
    m_panel->LoadTask(-1);
}

} // namespace vexory
