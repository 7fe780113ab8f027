#include "editor/myFrame5.h"

#include "base/ascii_fold.h"
#include "base/text_helpers.h"
#include "editor/marker_highlighter.h"
#include "editor/myFrame6.h"
#include "editor/myFrame7.h"
#include "editor/ui_texts.h"
#include "editor/verify_rows.h"
#include "formula/grab_formula.h"
#include "formula/markers.h"
#include "service/service_client.h"
#include "widgets/message_box.h"
#include "widgets/qt_text.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFrame>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QSplitter>
#include <QTextEdit>

// The task's fields: loading, saving, the verification rows and the grab formula box.

namespace vexory {

namespace {

// The blank task that stands for a task not yet in the array.
// What a new task starts from, whichever task the editor showed before.
const TTaskRecord& blankTask()
{
    static const TTaskRecord blank = [] {
        TTaskRecord t;
        t.RefreshInterval = kSlowestRefreshMs;
        t.ConnectTimeout = kNewTaskTimeoutMs;
        t.CompareLastScreen = 1;
        return t;
    }();
    return blank;
}

void moveBy(QWidget* w, int dy)
{
    w->move(w->x(), w->y() + dy);
}

} // namespace

QString FieldMarker(const std::string& name)
{
    return QString::fromStdString(MakeMark(FieldMark, name));
}

TTaskRecord& TFrame5::editedTask()
{
    return m_account.Tasks[static_cast<size_t>(EditedIndex)];
}

QStringList TFrame5::FieldList(const std::string& grabFormula)
{
    std::vector<std::string> names;
    ListFieldNames(grabFormula, names);
    QStringList list{QString()};
    for (const std::string& name : names)
        list << FromGbk(name);
    return list;
}

void TFrame5::LoadTask(int index)
{
    if (index == EditedIndex)
        return; // unsaved edits of the same task stay
    Splitter1->setSizes({kScrollBoxWidth, std::max(1, width() - kScrollBoxWidth)});
    SetTabShown(TabSheet2, false);
    SetTabShown(TabSheet1, false);
    PageControl1->setCurrentWidget(TabSheet3);
    Frame7->CheckBox1->setChecked(false);
    PlaceToolbar();

    if (index < 0 || static_cast<size_t>(index) >= m_account.Tasks.size())
        index = -1;
    const TTaskRecord& task = index < 0 ? blankTask() : m_account.Tasks[static_cast<size_t>(index)];
    Edit1->setText(FromGbk(task.TaskName));
    Edit2->setText(FromGbk(task.GuideUrl));
    Edit3->setText(FromGbk(task.PageUrl()));
    Edit4->setText(FromGbk(task.ElementId));
    Edit6->setText(QString::number(task.RefreshInterval / 1000));
    Edit5->setText(QString::number(task.ConnectTimeout / 1000));
    CheckBox1->setChecked(task.ClearTags != 0);
    ComboBox1->setCurrentIndex(task.CompareLastScreen ? 1 : 0);
    Edit22->setText(QString::fromStdString(HoursText(task.NotifyInterval)));
    CheckBox2->setChecked(task.PushToPlugin != 0);

    RichEdit1->setPlainText(FromBoxText(task.GrabFormula));
    LoadVerifyFormula(task.VerifyFormula, FieldList(task.GrabFormula));
    Memo1->setPlainText(FromBoxText(task.SavedTestResult));

    EditedIndex = index;
    PseudoCode.clear();
    updateFieldNames();
    m_pseudoCodeUnseen = false;
}

void TFrame5::StartNewTask(const QString& name)
{
    LoadTask(-1);
    Edit1->setText(name);
}

void TFrame5::SetAccountRights(bool share, bool plugin)
{
    Button1->setEnabled(share);
    CheckBox2->setEnabled(plugin);
}

EditorFields TFrame5::fields() const
{
    EditorFields f;
    f.name = ToGbk(Edit1->text());
    f.guide = ToGbk(Edit2->text());
    f.page = ToGbk(Edit3->text());
    f.element = ToGbk(Edit4->text());
    f.timeout = ToGbk(Edit5->text());
    f.refresh = ToGbk(Edit6->text());
    f.clearTags = CheckBox1->isChecked();
    f.pushToPlugin = CheckBox2->isChecked();
    f.compareLastScreen = ComboBox1->currentIndex() != 0;
    f.grabBox = BoxText(RichEdit1->toPlainText());
    f.verify = BuildVerifyFormula();
    f.keepTestResult = Frame7->CheckBox1->isChecked();
    f.memo = BoxText(Memo1->toPlainText());
    return f;
}

void TFrame5::SubmitClick()
{
    const EditorFields f = fields();
    const std::string name = StripSpace(f.name);
    if (name.empty()) {
        MessageBox::Information(this, texts::kNameEmpty);
        return;
    }
    NewTaskAdded = !m_tasks.Has(EditedIndex);
    TTaskRecord task = NewTaskAdded ? TTaskRecord() : editedTask();
    task.FormulaSent = 0; // the next push carries the formula again
    if (f.keepTestResult)
        task.SavedTestResult = f.memo;
    task.TaskName = name;
    task.GuideUrl = TypedAddress(f.guide);
    task.SetPageUrl(TypedAddress(f.page));
    task.ElementId = StripSpace(f.element);

    const bool limitRefresh = m_account.LoggedIn && !m_account.FastRefreshRight;
    const std::vector<std::string> report =
        StoreNumberFields({f.timeout, f.refresh, ToGbk(Edit22->text())}, task, limitRefresh);
    Edit5->setText(QString::number(task.ConnectTimeout / 1000));
    Edit6->setText(QString::number(task.RefreshInterval / 1000));

    task.ClearTags = f.clearTags;
    task.PushToPlugin = f.pushToPlugin;
    task.CompareLastScreen = f.compareLastScreen;
    task.GrabFormula = SavedGrabFormula(
        f.grabBox, [this](std::string_view message) { MessageBox::Information(this, FromGbk(message)); });
    task.VerifyFormula = f.verify;
    Edit22->setText(QString::fromStdString(HoursText(task.NotifyInterval)));

    if (!report.empty()) {
        std::string lines;
        for (const std::string& line : report)
            lines += (lines.empty() ? "" : "\r\n") + line;
        MessageBox::Information(this, FromGbk(lines));
    }
    if (task.GrabFormula.empty())
        MessageBox::Information(this, texts::kNoGrabFormula);
    EditedIndex = m_tasks.Save(EditedIndex, std::move(task));
    emit Saved();
}

bool TFrame5::HasUnsavedChanges()
{
    const bool existing = EditedIndex >= 0 && static_cast<size_t>(EditedIndex) < m_account.Tasks.size();
    const TTaskRecord& task = existing ? editedTask() : blankTask();
    QWidget* focus = nullptr;
    switch (FirstUnsavedField(fields(), task, existing)) {
    case UnsavedField::None:
        return false;
    case UnsavedField::Name:
        focus = Edit1;
        break;
    case UnsavedField::Guide:
        focus = Edit2;
        break;
    case UnsavedField::Page:
        focus = Edit3;
        break;
    case UnsavedField::Element:
        focus = Edit4;
        break;
    case UnsavedField::Timeout:
        focus = Edit5;
        break;
    case UnsavedField::Refresh:
        focus = Edit6;
        break;
    case UnsavedField::ClearTags:
        focus = CheckBox1;
        break;
    case UnsavedField::PushToPlugin:
        focus = CheckBox2;
        break;
    case UnsavedField::CompareLastScreen:
        focus = ComboBox1;
        break;
    case UnsavedField::GrabFormula:
        focus = RichEdit1;
        break;
    case UnsavedField::VerifyFormula:
        focus = Edit21;
        break;
    case UnsavedField::TestResult:
        PageControl1->setCurrentWidget(TabSheet3);
        focus = Memo1;
        break;
    }
    focus->setFocus();
    if (ScrollBox1->isAncestorOf(focus))
        ScrollBox1->ensureWidgetVisible(focus);
    return true;
}

// Verification condition rows ------------------------------------------------

void TFrame5::moveBelowGroup(int dy)
{
    moveBy(Button22, dy);
    for (QWidget* w : std::initializer_list<QWidget*>{Label22, Edit22, Bevel1, Spacer1, CheckBox2, submit})
        moveBy(w, dy);
    GroupBox2->resize(GroupBox2->width(), GroupBox2->height() + dy);
    m_content->resize(m_content->width(), m_content->height() + dy);
}

void TFrame5::AddConditionRow()
{
    ConditionRow settings;
    QString value;
    if (!ConditionRows.empty()) {
        const TFrame6* last = ConditionRows.back();
        settings = last->Row();
        value = last->Edit1->text();
    } else {
        settings.conjunction = 0;
        settings.field1 = ComboBox21->currentIndex();
        settings.arithmetic = ComboBox22->currentIndex();
        settings.field2 = ComboBox23->currentIndex();
        settings.comparison = ComboBox24->currentIndex();
        value = Edit21->text();
    }
    auto* row = new TFrame6(GroupBox2);
    row->setObjectName(QStringLiteral("Frame6%1").arg(++m_rowCounter));
    QStringList items;
    for (int i = 0; i < ComboBox21->count(); ++i)
        items << ComboBox21->itemText(i);
    row->ComboBox1->addItems(items);
    row->ComboBox3->addItems(items);
    row->SetRow(settings);
    row->Edit1->setText(value);
    connect(row, &TFrame6::OnDelete, this, &TFrame5::RemoveConditionRow);

    QWidget* before = ConditionRows.empty() ? static_cast<QWidget*>(Button21) : ConditionRows.back()->Button1;
    for (QWidget* w : std::initializer_list<QWidget*>{row->ComboBox0, row->ComboBox1, row->ComboBox2, row->ComboBox3,
                                                      row->ComboBox4, row->Edit1, row->Button1}) {
        QWidget::setTabOrder(before, w);
        before = w;
    }
    QWidget::setTabOrder(before, Button22);

    row->Tag = static_cast<int>(ConditionRows.size());
    const int top = ConditionRows.empty() ? kFirstRowTop : ConditionRows.back()->y() + TFrame6::kHeight;
    row->move(8, top);
    ConditionRows.push_back(row);
    moveBelowGroup(TFrame6::kHeight);
    row->show();
}

void TFrame5::RemoveConditionRow(TFrame6* row)
{
    if (!row || row->Tag < 0 || static_cast<size_t>(row->Tag) >= ConditionRows.size() ||
        ConditionRows[static_cast<size_t>(row->Tag)] != row)
        return;
    ConditionRows.erase(ConditionRows.begin() + row->Tag);
    int top = kRestackTop;
    for (size_t i = 0; i < ConditionRows.size(); ++i) {
        ConditionRows[i]->Tag = static_cast<int>(i);
        ConditionRows[i]->move(8, top);
        top += TFrame6::kHeight;
    }
    moveBelowGroup(-TFrame6::kHeight);
    // Hidden, not freed: this runs inside the row's own button handler.
    row->hide();
}

std::string TFrame5::BuildVerifyFormula() const
{
    std::vector<ConditionRow> rows;
    ConditionRow first;
    first.field1 = ComboBox21->currentIndex();
    first.arithmetic = ComboBox22->currentIndex();
    first.field2 = ComboBox23->currentIndex();
    first.comparison = ComboBox24->currentIndex();
    first.value = ToGbk(Edit21->text());
    rows.push_back(first);
    for (const TFrame6* row : ConditionRows)
        rows.push_back(row->Row());
    return vexory::BuildVerifyFormula(rows);
}

void TFrame5::LoadVerifyFormula(const std::string& text, const QStringList& fields)
{
    for (QComboBox* box : {ComboBox21, ComboBox23}) {
        box->clear();
        box->addItems(fields);
    }
    if (!ConditionRows.empty()) {
        moveBelowGroup(-static_cast<int>(ConditionRows.size()) * TFrame6::kHeight);
        for (TFrame6* row : ConditionRows) {
            row->hide();
            row->deleteLater();
        }
        ConditionRows.clear();
    }
    const std::vector<ConditionRow> rows = vexory::LoadVerifyFormula(text, static_cast<int>(fields.size()) - 1);
    const ConditionRow& first = rows.front();
    ComboBox21->setCurrentIndex(first.field1);
    ComboBox22->setCurrentIndex(first.arithmetic);
    ComboBox23->setCurrentIndex(first.field2);
    ComboBox24->setCurrentIndex(first.comparison);
    Edit21->setText(FromGbk(first.value));
    for (size_t i = 1; i < rows.size(); ++i) {
        AddConditionRow();
        ConditionRows.back()->SetRow(rows[i]);
    }
}

// The grab formula box -------------------------------------------------------

MarkerHighlighter* TFrame5::highlighterOf(QTextEdit* box) const
{
    return box == RichEdit1 ? m_formulaColours : m_pseudoColours;
}

void TFrame5::insertMarkerAt(QTextEdit* box, const QString& marker)
{
    box->setFocus();
    QTextCursor cursor = box->textCursor();
    cursor.insertText(marker);
    box->setTextCursor(cursor);
}

void TFrame5::InsertFieldMarker()
{
    insertMarkerAt(RichEdit1, FieldMarker(NextFieldName()));
}

void TFrame5::InsertWildcard()
{
    insertMarkerAt(RichEdit1, QString::fromLatin1(Wildcard.data(), static_cast<qsizetype>(Wildcard.size())));
}

void TFrame5::ConfirmFormula()
{
    const CleanedFormula cleaned = CleanFormula(BoxText(RichEdit1->toPlainText()), [this](std::string_view message) {
        MessageBox::Information(this, FromGbk(message));
    });
    RichEdit1->setPlainText(FromBoxText(cleaned.formula + cleaned.chains + cleaned.notes));
    if (cleaned.formula.empty())
        return;
    RefreshFieldLists(cleaned.formula);
}

void TFrame5::RefreshFieldLists(const std::string& grabFormula)
{
    const QStringList list = FieldList(grabFormula);
    TFrame6::SetFieldItems(ComboBox21, list);
    TFrame6::SetFieldItems(ComboBox23, list);
    for (TFrame6* row : ConditionRows) {
        TFrame6::SetFieldItems(row->ComboBox1, list);
        TFrame6::SetFieldItems(row->ComboBox3, list);
    }
}

void TFrame5::Button1Click()
{
    if (!m_account.LoggedIn) {
        MessageBox::Information(this, texts::kShareLoginFirst);
        return;
    }
    const std::string key = SharePageKey(ToGbk(Edit3->text()), ToGbk(Edit2->text()));
    if (key.empty()) {
        MessageBox::Information(this, texts::kShareUrlFirst);
        return;
    }
    const CleanedFormula cleaned = CleanFormula(LowerAscii(CompactHtml(BoxText(RichEdit1->toPlainText()))));
    if (!cleaned.formula.empty() &&
        MessageBox::Question(this, texts::kShareAsk, QMessageBox::Yes | QMessageBox::No) == QMessageBox::Yes) {
        std::string note = cleaned.notes;
        if (note.size() >= 4)
            note = note.substr(2, note.size() - 4); // without "|>" and "<|"
        switch (UploadSharedFormula(m_values.Server, m_account.Nickname, key, cleaned.formula, note)) {
        case ShareUpload::Uploaded:
            MessageBox::Information(this, texts::kShareUploaded);
            break;
        case ShareUpload::AlreadyShared:
            MessageBox::Information(this, texts::kShareExists);
            break;
        case ShareUpload::Failed:
            MessageBox::Information(this, texts::kShareUploadFailed);
            break;
        }
        return;
    }
    const ShareLookup found = LookUpSharedFormulas(m_values.Server, m_account.Nickname, key);
    switch (found.answer) {
    case ShareLookup::RemoteError:
        MessageBox::Information(this, texts::kShareRemoteError);
        break;
    case ShareLookup::NoneShared:
        MessageBox::Information(this, texts::kShareNone);
        break;
    case ShareLookup::NoConnection:
        MessageBox::Information(this, texts::kShareNoConnection);
        break;
    case ShareLookup::Found: {
        QTextCursor end(RichEdit1->document());
        end.movePosition(QTextCursor::End);
        end.insertText(QStringLiteral("\n") + FromBoxText(found.formulas));
        break;
    }
    }
}

} // namespace vexory
