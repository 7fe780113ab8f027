#include "app/myFrame2.h"

#include "app/gbk_texts.h"
#include "app/myFrame1.h"
#include "app/ui_texts.h"
#include "base/tick_clock.h"
#include "editor/Unit2.h"
#include "editor/myFrame5.h"
#include "editor/ui_texts.h"
#include "formula/grab_formula.h"
#include "model/gbk_texts.h"
#include "model/task_store.h"
#include "monitor/monitor_core.h"
#include "service/protocol_codec.h"
#include "widgets/message_box.h"
#include "widgets/qt_text.h"

#include <QAbstractItemModel>
#include <QCheckBox>
#include <QDesktopServices>
#include <QDir>
#include <QDropEvent>
#include <QFileDialog>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QPushButton>
#include <QStandardPaths>
#include <QUrl>
#include <QVBoxLayout>

#include <utility>

namespace vexory {

namespace {

// The task list: a task dropped on no row (below the last one) stays where it was,
// instead of moving to the end.
class TaskListWidget : public QListWidget
{
public:
    using QListWidget::QListWidget;

protected:
    void dropEvent(QDropEvent* event) override
    {
        if (!indexAt(event->position().toPoint()).isValid()) {
            event->ignore();
            return;
        }
        QListWidget::dropEvent(event);
    }
};

const QString kOptionsButton = QStringLiteral("···");

QString storeFilter()
{
    return QStringLiteral("Vexory (*%1)").arg(QString::fromLatin1(kStoreExtension.data(), kStoreExtension.size()));
}

} // namespace

TFrame2::TFrame2(TaskList& tasks, TProcessValues& values, QWidget* parent)
    : QWidget(parent), m_tasks(tasks), m_account(tasks.Account()), m_processValues(values)
{
    auto* layout = new QHBoxLayout(this);
    layout->addWidget(buildOverview(), 1);
    layout->addLayout(buildManagement(values.Server));
    buildMenu();
    connectControls();
    showTasks();
    m_listening = m_tasks.Listen([this] {
        showTasks();
        emit Changed();
    });
}

TFrame2::~TFrame2()
{
    m_tasks.Forget(m_listening);
}

// "[ 任务概要 ]": the chosen task's fields, caption and value.
QGroupBox* TFrame2::buildOverview()
{
    auto* overview = new QGroupBox(texts::kOverviewGroup, this);
    auto* grid = new QGridLayout(overview);
    for (int i = 0; i < 11; ++i) {
        grid->addWidget(new QLabel(texts::kOverviewCaptions[i], overview), i, 0, Qt::AlignRight);
        m_values[i] = new QLabel(overview);
        m_values[i]->setTextFormat(Qt::PlainText); // formulas are markup, not for rendering
        m_values[i]->setMinimumWidth(300);
        m_values[i]->setMaximumWidth(420);
        grid->addWidget(m_values[i], i, 1);
    }
    return overview;
}

// "[ 任务管理 ]": the task list and its buttons, "执行", the options button, the
// version and the help link.
QVBoxLayout* TFrame2::buildManagement(const std::string& server)
{
    auto* right = new QVBoxLayout;
    auto* manage = new QGroupBox(texts::kManageGroup, this);
    auto* manageLayout = new QVBoxLayout(manage);
    m_list = new TaskListWidget(manage);
    m_list->setSelectionMode(QAbstractItemView::SingleSelection);
    m_list->setDragDropMode(QAbstractItemView::InternalMove);
    m_list->setContextMenuPolicy(Qt::CustomContextMenu);
    m_list->setMinimumWidth(260);
    manageLayout->addWidget(m_list, 1);
    auto* buttons = new QHBoxLayout;
    for (const QString& text : {texts::kNewTask, texts::kModifyTask, texts::kDeleteTask}) {
        auto* b = new QPushButton(text, manage);
        b->setObjectName(text);
        buttons->addWidget(b);
    }
    manageLayout->addLayout(buttons);
    right->addWidget(manage, 1);
    auto* bottom = new QHBoxLayout;
    auto* execute = new QPushButton(texts::kExecute, this);
    execute->setObjectName(texts::kExecute);
    auto* settings = new QPushButton(kOptionsButton, this);
    settings->setObjectName(kOptionsButton);
    settings->setToolTip(texts::kSettings);
    bottom->addWidget(execute, 1);
    bottom->addWidget(settings);
    right->addLayout(bottom);
    m_version = new QLabel(texts::kVersionLabel, this);
    m_version->setEnabled(false);
    right->addWidget(m_version);
    m_phone = new QLabel(
        texts::kPhoneLink.arg(QStringLiteral("http://") + FromGbk(server) + QString::fromLatin1(kAccountPage)), this);
    m_phone->setToolTip(texts::kPhoneLinkTip);
    m_phone->setCursor(Qt::PointingHandCursor);
    m_phone->setVisible(false);
    connect(m_phone, &QLabel::linkActivated, this, &TFrame2::BindPhoneRequested);
    right->addWidget(m_phone);
    right->addWidget(HelpLink(server, this));
    return right;
}

// The task list's context menu, and the file dialogs of import and export.
void TFrame2::buildMenu()
{
    m_menu = new QMenu(this);
    m_up = m_menu->addAction(texts::kMoveUp, this, [this] { MoveSelected(-1); });
    m_down = m_menu->addAction(texts::kMoveDown, this, [this] { MoveSelected(+1); });
    m_menu->addAction(texts::kTickAll, this, &TFrame2::TickAll);
    m_menu->addAction(texts::kInvertTicks, this, &TFrame2::InvertTicks);
    m_clone = m_menu->addAction(texts::kClone, this, &TFrame2::CloneSelected);
    m_menu->addAction(texts::kImport, this, [this] {
        const QString path = AskImportFile();
        if (!path.isEmpty())
            ImportFile(path);
    });
    m_export = m_menu->addAction(texts::kExportTicked, this, &TFrame2::ExportTicked);
    connect(m_list, &QWidget::customContextMenuRequested, this, [this](const QPoint& at) {
        UpdateMenu();
        m_menu->popup(m_list->viewport()->mapToGlobal(at));
    });

    // Qt's own dialog, in Chinese whatever the system's locale, opened in the
    // user's documents (or home) rather than wherever the program was started.
    auto folder = [] {
        const QString documents = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
        return QDir(documents).exists() ? documents : QDir::homePath();
    };
    AskImportFile = [this, folder] {
        return QFileDialog::getOpenFileName(this, texts::kImport, folder(), storeFilter(), nullptr,
                                            QFileDialog::DontUseNativeDialog);
    };
    AskExportFile = [this, folder](const QString& title) {
        QString path = QFileDialog::getSaveFileName(this, title, folder(), storeFilter(), nullptr,
                                                    QFileDialog::DontUseNativeDialog);
        const QString ext = QString::fromLatin1(kStoreExtension.data(), kStoreExtension.size());
        if (!path.isEmpty() && !path.endsWith(ext))
            path += ext;
        return path;
    };
}

void TFrame2::connectControls()
{
    connect(m_list, &QListWidget::itemClicked, this, [this] { ShowOverview(selectedPosition()); });
    connect(m_list, &QListWidget::currentRowChanged, this, [this](int row) {
        if (m_quiet)
            return;
        m_tasks.Select(row);
        ShowOverview(row);
    });
    connect(m_list, &QListWidget::itemDoubleClicked, this, [this] { Button(texts::kModifyTask)->click(); });
    // A drop has moved the item already: the task follows it.
    connect(m_list->model(), &QAbstractItemModel::rowsMoved, this,
            [this](const QModelIndex&, int start, int, const QModelIndex&, int row) {
                m_tasks.Move(start, row > start ? row - 1 : row);
            });
    // A tick the user set or cleared.
    connect(m_list, &QListWidget::itemChanged, this, [this](QListWidgetItem* item) {
        if (!m_quiet)
            m_tasks.SetChecked(m_list->row(item), item->checkState() == Qt::Checked);
    });
    connect(Button(texts::kNewTask), &QPushButton::clicked, this, &TFrame2::NewTaskClick);
    connect(Button(texts::kModifyTask), &QPushButton::clicked, this, &TFrame2::ModifyClick);
    connect(Button(texts::kDeleteTask), &QPushButton::clicked, this, &TFrame2::DeleteSelected);
    connect(Button(texts::kExecute), &QPushButton::clicked, this, &TFrame2::ExecuteRun);
    connect(Button(kOptionsButton), &QPushButton::clicked, this, &TFrame2::OpenOptions);
}

QPushButton* TFrame2::Button(const QString& text) const
{
    return findChild<QPushButton*>(text);
}

QString TFrame2::itemText(int position) const
{
    return QStringLiteral("%1 - ").arg(position + 1) + FromGbk(m_tasks.At(position).TaskName);
}

int TFrame2::selectedPosition() const
{
    const QList<QListWidgetItem*> selected = m_list->selectedItems();
    return selected.isEmpty() ? -1 : m_list->row(selected.first());
}

void TFrame2::showTasks()
{
    const bool quiet = std::exchange(m_quiet, true);
    while (m_list->count() > m_tasks.Count())
        delete m_list->takeItem(m_list->count() - 1);
    while (m_list->count() < m_tasks.Count()) {
        auto* item = new QListWidgetItem(m_list);
        item->setFlags(item->flags() | Qt::ItemIsUserCheckable | Qt::ItemIsDragEnabled);
    }
    for (int p = 0; p < m_tasks.Count(); ++p) {
        QListWidgetItem* item = m_list->item(p);
        item->setText(itemText(p));
        item->setCheckState(m_tasks.At(p).Checked ? Qt::Checked : Qt::Unchecked);
    }
    const int selected = m_tasks.Selected();
    if (selected < 0)
        m_list->clearSelection();
    m_list->setCurrentRow(selected);
    m_quiet = quiet;
    ShowOverview(selectedPosition());
}

std::string TFrame2::ReadableVerifyFormula(const std::string& verify, const std::string& grab)
{
    std::vector<std::string> names;
    ListFieldNames(grab, names);
    static const std::string kOperators = "!#*+-/<=>^";
    std::string out;
    for (size_t i = 0; i < verify.size(); ++i) {
        const char c = verify[i];
        if (i >= 1 && kOperators.find(c) != std::string::npos && !out.empty()) {
            const unsigned char code = static_cast<unsigned char>(verify[i - 1]);
            if (code >= 1 && code <= names.size()) {
                out.pop_back();
                out += names[code - 1];
            }
        }
        out += c;
    }
    std::string readable;
    for (char c : out) {
        if (c == '&')
            readable += texts::kReadableAnd;
        else if (c == '|')
            readable += texts::kReadableOr;
        else
            readable += c;
    }
    return readable;
}

void TFrame2::ShowOverview(int position)
{
    if (position < 0 || position >= m_list->count()) {
        for (QLabel* l : m_values) {
            l->clear();
            l->setToolTip(QString());
        }
        return;
    }
    const TTaskRecord& t = m_tasks.At(position);
    auto text = [](QLabel* label, const std::string& value) {
        if (value.empty()) {
            label->setText(texts::kNotSet);
            label->setToolTip(QString());
        } else {
            label->setText(FromGbk(value));
            label->setToolTip(FromGbk(value));
        }
    };
    m_values[0]->setText(FromGbk(t.TaskName));
    text(m_values[1], t.GuideUrl);
    text(m_values[2], t.PageUrl());
    text(m_values[3], t.ElementId);
    m_values[4]->setText(texts::kSecondsValue.arg(t.ConnectTimeout / 1000));
    m_values[5]->setText(texts::kSecondsValue.arg(t.RefreshInterval / 1000));
    text(m_values[6], t.GrabFormula);
    m_values[7]->setText(t.CompareLastScreen ? texts::kCompareLastScreen : texts::kCompareAll);
    m_values[8]->setText(t.ClearTags ? texts::kYes : texts::kNo);
    text(m_values[9], ReadableVerifyFormula(t.VerifyFormula, t.GrabFormula));
    m_values[10]->setText(t.PushToPlugin ? texts::kYes : texts::kNo);
}

void TFrame2::NewTaskClick()
{
    if (!m_editor)
        return;
    m_editor->Panel()->StartNewTask(texts::kNewTaskName + QString::number(TickCount()));
    m_editor->ShowModal();
}

void TFrame2::ModifyClick()
{
    const int p = selectedPosition();
    if (p < 0) {
        MessageBox::Information(this, texts::kChooseTaskFirst);
        return;
    }
    if (!m_editor)
        return;
    TFrame5* panel = m_editor->Panel();
    panel->SetAccountRights(m_account.LoggedIn != 0, m_account.LoggedIn && m_account.PluginRight);
    panel->LoadTask(p);
    m_editor->ShowModal();
}

void TFrame2::SetEditor(TForm2* editor)
{
    m_editor = editor;
    // Saved: the task list shows the task already (selected); the editor closes.
    if (editor)
        connect(editor->Panel(), &TFrame5::Saved, editor, &QWidget::close);
}

void TFrame2::unloadEditor()
{
    if (m_editor)
        m_editor->Panel()->LoadTask(-1);
}

void TFrame2::DeleteSelected()
{
    unloadEditor();
    const int p = selectedPosition();
    if (p < 0)
        return;
    // The task below becomes the selected one, or the one above for the last.
    m_tasks.Select(p + 1 < m_tasks.Count() ? p + 1 : p - 1);
    m_tasks.Remove(p);
}

void TFrame2::MoveSelected(int direction)
{
    unloadEditor();
    const int p = selectedPosition();
    const int q = p + direction;
    if (p < 0 || q < 0 || q >= m_tasks.Count())
        return;
    m_tasks.Select(p);
    m_tasks.Move(p, q);
}

void TFrame2::TickAll()
{
    m_tasks.TickAll();
}

void TFrame2::InvertTicks()
{
    m_tasks.InvertTicks();
}

void TFrame2::CloneSelected()
{
    const int p = selectedPosition();
    if (p >= 0)
        m_tasks.Clone(p);
}

bool TFrame2::ImportFile(const QString& path)
{
    TAccountRecord imported;
    if (!ReadStore(path.toStdString(), imported)) {
        MessageBox::Information(this, FromGbk(texts::kStoreReadError));
        return false;
    }
    m_tasks.Append(imported.Tasks);
    return true;
}

void TFrame2::ExportTicked()
{
    TAccountRecord file;
    for (int p = 0; p < m_tasks.Count(); ++p)
        if (m_tasks.At(p).Checked)
            file.Tasks.emplace_back(m_tasks.At(p));
    if (file.Tasks.empty()) {
        MessageBox::Information(this, texts::kTickTasksFirst);
        return;
    }
    const QString path = AskExportFile(texts::kExportCaption.arg(file.Tasks.size()));
    if (path.isEmpty())
        return;
    file.AutoEnd = m_account.AutoEnd;
    file.ShutdownFlags = m_account.ShutdownFlags;
    if (!m_account.Nickname.empty() && !m_account.PasswordDigest.empty() &&
        MessageBox::Question(this, texts::kExportAskAccount, QMessageBox::Yes | QMessageBox::No) == QMessageBox::Yes) {
        file.Nickname = m_account.Nickname;
        file.PasswordDigest = m_account.PasswordDigest;
    }
    std::string error;
    if (!WriteStore(file, path.toStdString(), &error))
        MessageBox::Information(this, QString::fromStdString(error));
}

void TFrame2::Logout()
{
    const bool hadCredentials = !m_account.Nickname.empty() || !m_account.PasswordDigest.empty();
    m_account.Nickname.clear();
    m_account.PasswordDigest.clear();
    if (hadCredentials)
        emit Changed();
    if (m_account.LoggedIn) {
        m_account.LoggedIn = 0;
        emit ShowLoggedOut();
    }
}

void TFrame2::UpdateMenu()
{
    const int count = m_tasks.Count();
    const int p = selectedPosition();
    m_up->setEnabled(!(count == 0 || (count > 1 && p == 0)));
    m_down->setEnabled(!(count == 0 || (count > 1 && p == count - 1)));
    bool ticked = false;
    for (int i = 0; i < count; ++i)
        ticked = ticked || m_tasks.At(i).Checked;
    m_export->setEnabled(ticked);
    m_clone->setEnabled(p >= 0);
}

} // namespace vexory
