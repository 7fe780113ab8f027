// The task editor as a person uses it: typing into the fields, saving, closing
// with unsaved changes, composing condition rows, the formula box's buttons,
// colours and menu, sharing formulas with vexory-server, and a task made in the
// editor that then runs.

#include "app/Unit1.h"
#include "app/myFrame2.h"
#include "base/encoding.h"
#include "editor/Unit2.h"
#include "editor/editor_rules.h"
#include "editor/myFrame5.h"
#include "editor/myFrame6.h"
#include "editor/myFrame7.h"
#include "editor/pseudo_code.h"
#include "model/task_store.h"
#include "monitor/myFrame4.h"
#include "platform/codepage.h"
#include "service/service_client.h"
#include "support/build_paths.h"
#include "support/gui_main.h"
#include "support/message_boxes.h"
#include "support/server_process.h"
#include "support/service_helpers.h"
#include "support/temp_dir.h"
#include "support/test_http_server.h"
#include "support/test_tasks.h"
#include "widgets/hint_edit.h"
#include "widgets/message_box.h"
#include "widgets/qt_text.h"
#include "widgets/screen_fit.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QGroupBox>
#include <QGuiApplication>
#include <QInputMethodEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QScrollArea>
#include <QTabWidget>
#include <QTest>
#include <QTextBlock>
#include <QTextEdit>
#include <QTextLayout>
#include <QTimer>
#include <QToolButton>

#include <nlohmann/json.hpp>

#include <mutex>

using namespace vexory;
using namespace vexory::test;

namespace {

vexory::test::MessageBoxes g_messages; // every box shown, and the answer to questions

void typeInto(QWidget* w, const QString& text)
{
    w->setFocus();
    if (auto* line = qobject_cast<QLineEdit*>(w))
        line->selectAll();
    else if (auto* rich = qobject_cast<QTextEdit*>(w))
        rich->selectAll();
    QTest::keyClick(w, Qt::Key_Delete);
    for (const QChar c : text) {
        if (c.unicode() < 0x80) {
            QTest::keyClicks(w, QString(c));
        } else {
            // Chinese arrives through the input method as committed text.
            QInputMethodEvent commit;
            commit.setCommitString(QString(c));
            QCoreApplication::sendEvent(w, &commit);
        }
    }
}

// Chooses an item of a drop-down list the way the keyboard does.
void choose(QComboBox* box, int index)
{
    box->setFocus();
    box->setCurrentIndex(index);
    QCOMPARE(box->currentIndex(), index);
}

// The colour a character is shown in (the markers' colours are the layout's, not the text's).
QColor colourAt(QTextEdit* box, int position)
{
    const QTextBlock block = box->document()->findBlock(position);
    const int inBlock = position - block.position();
    QColor colour = box->palette().color(QPalette::Text);
    for (const QTextLayout::FormatRange& range : block.layout()->formats())
        if (inBlock >= range.start && inBlock < range.start + range.length &&
            range.format.hasProperty(QTextFormat::ForegroundBrush))
            colour = range.format.foreground().color();
    return colour;
}

QAction* menuItem(QMenu* menu, const QString& text)
{
    for (QAction* a : menu->actions())
        if (a->text() == text)
            return a;
    return nullptr;
}

TTaskRecord stored(const std::string& name, const std::string& url)
{
    TTaskRecord t = MakeTask(name, url, "<td>{>aa<}</td><td>{>ab<}</td>", 200000, 30000);
    t.VerifyFormula = "\x01=5&\x02>3";
    t.NotifyInterval = 5400000;
    t.CompareLastScreen = 1;
    return t;
}

} // namespace

class EditorTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { g_messages.install(); }
    void init() { g_messages.reset(); }

    void newTaskSaveRules();
    void refreshFloorWhileLoggedInWithoutRight();
    void loadKeepsEditsOfTheSameTask();
    void closeAsksAboutUnsavedChanges();
    void conditionRows();
    void formulaBox();
    void sharing();
    void taskListOpensTheEditor();
    void taskMadeInTheEditorRuns();
    void caretStaysInViewInThePseudoCode();
};

void EditorTest::newTaskSaveRules()
{
    TAccountRecord account;
    TProcessValues values;
    TaskList tasks(account);
    TForm2 form(tasks, values);
    QCOMPARE(form.windowTitle(), QStringLiteral("Vexory  -  任务编辑器"));
    // 1170 x 740, as far as the screen and the window's minimum allow.
    const QRect area = QGuiApplication::primaryScreen()->availableGeometry();
    QCOMPARE(form.size(), FittedRect(QSize(1170, 740), form.minimumSizeHint(), area).size());
    form.show();
    TFrame5* p = form.Panel();
    int saved = 0;
    QObject::connect(p, &TFrame5::Saved, [&] { ++saved; });

    // The first new task keeps the form's values.
    p->LoadTask(-1);
    QCOMPARE(p->Edit5->text(), QStringLiteral("10"));
    QCOMPARE(p->Edit6->text(), QStringLiteral("150"));
    QCOMPARE(p->ComboBox1->currentText(), QStringLiteral("比较上一屏记录"));
    QCOMPARE(p->Edit22->text(), QStringLiteral("0"));
    QVERIFY(!p->TabShown(p->TabSheet1) && !p->TabShown(p->TabSheet2));
    QCOMPARE(p->PageControl1->currentWidget(), p->TabSheet3);

    // A name of only blanks is refused; nothing is stored.
    typeInto(p->Edit1, QStringLiteral("   "));
    QTest::mouseClick(p->submit, Qt::LeftButton);
    QCOMPARE(g_messages.shown, QStringList{QStringLiteral("任务名称不能为空！")});
    QCOMPARE(account.Tasks.size(), 0u);
    QCOMPARE(saved, 0);

    g_messages.shown.clear();
    typeInto(p->Edit1, QStringLiteral("价格 监控"));
    typeInto(p->Edit3, QStringLiteral(" http://example.com/a b "));
    typeInto(p->Edit5, QStringLiteral("2.5"));
    typeInto(p->Edit6, QStringLiteral("-7"));
    p->Edit22->setText(QStringLiteral("1.5"));
    QTest::mouseClick(p->CheckBox1, Qt::LeftButton, {}, QPoint(5, p->CheckBox1->height() / 2));
    typeInto(p->RichEdit1, QStringLiteral("<td>{>aa<}</td>"));
    QTest::mouseClick(p->submit, Qt::LeftButton);
    QVERIFY(g_messages.shown.isEmpty());
    QCOMPARE(saved, 1);
    QCOMPARE(account.Tasks.size(), 1u);
    QVERIFY(p->NewTaskAdded);
    QCOMPARE(p->EditedIndex, 0);
    const TTaskRecord& t = account.Tasks[0];
    QCOMPARE(t.TaskName, Utf8ToGbk("价格监控"));                    // blanks anywhere are dropped
    QCOMPARE(t.PageUrl(), std::string("http://example.com/a%20b")); // as a browser sends it
    QCOMPARE(t.ConnectTimeout, 2000u);                              // 2.5 rounds half to even
    QCOMPARE(t.RefreshInterval, 7000u);                             // -7 counts by its magnitude
    QCOMPARE(t.NotifyInterval, 5400000u);
    QCOMPARE(p->Edit5->text(), QStringLiteral("2"));
    QCOMPARE(p->Edit6->text(), QStringLiteral("7"));
    QCOMPARE(p->Edit22->text(), QStringLiteral("1.5"));
    QCOMPARE(t.ClearTags, 1);
    QCOMPARE(t.CompareLastScreen, 1);
    QCOMPARE(t.GrabFormula, std::string("<td>{>aa<}</td>"));
    QVERIFY(!p->HasUnsavedChanges());

    // A second save of the same contents changes that task, it appends nothing.
    account.Tasks[0].FormulaSent = 1;
    typeInto(p->Edit6, QStringLiteral("60"));
    QTest::mouseClick(p->submit, Qt::LeftButton);
    QCOMPARE(account.Tasks.size(), 1u);
    QVERIFY(!p->NewTaskAdded);
    QCOMPARE(account.Tasks[0].RefreshInterval, 60000u);
    QCOMPARE(account.Tasks[0].FormulaSent, 0); // the next push sends the formula again

    // Letters in the three number fields: one box, three lines in field order.
    typeInto(p->Edit5, QStringLiteral("abc"));
    typeInto(p->Edit6, QStringLiteral("x"));
    p->Edit22->setText(QStringLiteral("y"));
    QTest::mouseClick(p->submit, Qt::LeftButton);
    QCOMPARE(g_messages.shown, QStringList{QStringLiteral("连接超时不是数字，已经被修改为10..\r\n"
                                                          "刷新频率不是数字，已经被修改为150..\r\n"
                                                          "通知间隔不是数字，已经被修改为1..")});
    QCOMPARE(account.Tasks[0].ConnectTimeout, 10000u);
    QCOMPARE(account.Tasks[0].RefreshInterval, 150000u);
    QCOMPARE(account.Tasks[0].NotifyInterval, 3600000u);
    QCOMPARE(p->Edit5->text(), QStringLiteral("10"));
    QCOMPARE(p->Edit22->text(), QStringLiteral("1"));

    // The test output is stored only while "保存测试结果" is ticked.
    p->Memo1->setPlainText(QStringLiteral("line 1\nline 2"));
    QTest::mouseClick(p->submit, Qt::LeftButton);
    QCOMPARE(account.Tasks[0].SavedTestResult, std::string());
    p->Frame7->CheckBox1->setChecked(true);
    QVERIFY(p->HasUnsavedChanges());
    QCOMPARE(p->PageControl1->currentWidget(), p->TabSheet3);
    QTest::mouseClick(p->submit, Qt::LeftButton);
    QCOMPARE(account.Tasks[0].SavedTestResult, std::string("line 1\r\nline 2"));

    // Formula repairs are shown, one box each, and the save goes on.
    g_messages.shown.clear();
    typeInto(p->RichEdit1, QStringLiteral("<b>[*][*]x{>aa<}</b>"));
    QTest::mouseClick(p->submit, Qt::LeftButton);
    QVERIFY(g_messages.shown.contains(QStringLiteral("两个通配符不能相连！")));
    QCOMPARE(account.Tasks[0].GrabFormula.find("[*][*]"), std::string::npos);

    // A time-out of 0 is repaired as a wrong number is; a task without a grab formula is told so.
    g_messages.shown.clear();
    typeInto(p->Edit5, QStringLiteral("0"));
    p->RichEdit1->clear();
    QTest::mouseClick(p->submit, Qt::LeftButton);
    QCOMPARE(g_messages.shown, (QStringList{QStringLiteral("连接超时不能为0，已经被修改为10.."),
                                            QStringLiteral("这个任务还没有抓取公式，执行时不会得到任何记录。")}));
    QCOMPARE(account.Tasks[0].ConnectTimeout, 10000u);

    // After any other task, a new one starts from the same values as the first.
    account.Tasks.push_back(stored("b", "http://b"));
    p->LoadTask(1);
    p->LoadTask(-1);
    QCOMPARE(p->Edit5->text(), QStringLiteral("10"));
    QCOMPARE(p->Edit6->text(), QStringLiteral("150"));
    QCOMPARE(p->ComboBox1->currentText(), QStringLiteral("比较上一屏记录"));
    QVERIFY(!p->Frame7->CheckBox1->isChecked());
}

void EditorTest::refreshFloorWhileLoggedInWithoutRight()
{
    TAccountRecord account;
    TProcessValues values;
    account.Tasks.push_back(stored("a", "http://a"));
    TaskList tasks(account);
    TForm2 form(tasks, values);
    form.show();
    TFrame5* p = form.Panel();
    p->LoadTask(0);
    QCOMPARE(p->Edit6->text(), QStringLiteral("200"));
    QCOMPARE(p->Edit22->text(), QStringLiteral("1.5"));

    account.LoggedIn = 1;
    typeInto(p->Edit6, QStringLiteral("100"));
    QTest::mouseClick(p->submit, Qt::LeftButton);
    QCOMPARE(g_messages.shown, QStringList{QStringLiteral("刷新频率不能设置成小于150秒..")});
    QCOMPARE(account.Tasks[0].RefreshInterval, 150000u);
    QCOMPARE(p->Edit6->text(), QStringLiteral("150"));

    g_messages.shown.clear();
    account.FastRefreshRight = 1;
    typeInto(p->Edit6, QStringLiteral("100"));
    QTest::mouseClick(p->submit, Qt::LeftButton);
    QVERIFY(g_messages.shown.isEmpty());
    QCOMPARE(account.Tasks[0].RefreshInterval, 100000u);

    account.LoggedIn = 0;
    account.FastRefreshRight = 0;
    typeInto(p->Edit6, QStringLiteral("5"));
    QTest::mouseClick(p->submit, Qt::LeftButton);
    QVERIFY(g_messages.shown.isEmpty());
    QCOMPARE(account.Tasks[0].RefreshInterval, 5000u);
}

void EditorTest::loadKeepsEditsOfTheSameTask()
{
    TAccountRecord account;
    TProcessValues values;
    account.Tasks.push_back(stored("a", "http://a"));
    account.Tasks.push_back(stored("b", "http://b"));
    TaskList tasks(account);
    TForm2 form(tasks, values);
    TFrame5* p = form.Panel();
    p->LoadTask(0);
    typeInto(p->Edit3, QStringLiteral("http://edited"));
    p->LoadTask(0);
    QCOMPARE(p->Edit3->text(), QStringLiteral("http://edited"));
    p->LoadTask(1);
    QCOMPARE(p->Edit3->text(), QStringLiteral("http://b"));
    QCOMPARE(p->Edit1->text(), QStringLiteral("b"));
    p->LoadTask(7); // out of range: the blank task
    QCOMPARE(p->EditedIndex, -1);
    QCOMPARE(p->Edit1->text(), QString());
}

void EditorTest::closeAsksAboutUnsavedChanges()
{
    TAccountRecord account;
    TProcessValues values;
    account.Tasks.push_back(stored("a", "http://a"));
    TaskList tasks(account);
    TForm2 form(tasks, values);
    TFrame5* p = form.Panel();
    p->LoadTask(0);
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));

    // Nothing changed: closes without a question.
    form.close();
    QVERIFY(!form.isVisible());
    QVERIFY(g_messages.shown.isEmpty());

    form.show();
    typeInto(p->Edit3, QStringLiteral("http://changed"));
    p->Edit1->setFocus();
    g_messages.answer = QMessageBox::No;
    QTest::keyClick(&form, Qt::Key_Escape);
    QCOMPARE(g_messages.shown, QStringList{QStringLiteral("有未保存的内容，确定关闭吗?")});
    QVERIFY(form.isVisible());
    QCOMPARE(form.focusWidget(), p->Edit3); // the first field that differs

    g_messages.answer = QMessageBox::Yes;
    form.close();
    QVERIFY(!form.isVisible());
    QCOMPARE(p->EditedIndex, -1); // the edits are gone
    QCOMPARE(account.Tasks[0].PageUrl(), std::string("http://a"));
    p->LoadTask(0);
    QCOMPARE(p->Edit3->text(), QStringLiteral("http://a"));
}

void EditorTest::conditionRows()
{
    TAccountRecord account;
    TProcessValues values;
    account.Tasks.push_back(stored("rows", "http://a"));
    account.Tasks[0].VerifyFormula.clear();
    TaskList tasks(account);
    TForm2 form(tasks, values);
    form.show();
    TFrame5* p = form.Panel();
    p->LoadTask(0);
    QCOMPARE(p->ComboBox21->count(), 3); // empty entry, aa, ab
    QCOMPARE(p->ComboBox21->itemText(2), QStringLiteral("ab"));

    // First row: aa 等于 5; an added row: 并且 ab 大于 3.
    choose(p->ComboBox21, 1);
    choose(p->ComboBox24, 0);
    typeInto(p->Edit21, QStringLiteral("5"));
    const int submitTop = p->submit->y();
    const int groupHeight = p->GroupBox2->height();
    QTest::mouseClick(p->Button21, Qt::LeftButton);
    QCOMPARE(p->ConditionRows.size(), 1u);
    TFrame6* row = p->ConditionRows[0];
    QCOMPARE(row->objectName().left(6), QStringLiteral("Frame6"));
    QCOMPARE(row->ComboBox1->currentIndex(), 1); // copied from the first row
    QCOMPARE(row->Edit1->text(), QStringLiteral("5"));
    QCOMPARE(row->y(), 50);
    choose(row->ComboBox0, 0);
    choose(row->ComboBox1, 2);
    choose(row->ComboBox4, 2);
    typeInto(row->Edit1, QStringLiteral("3"));
    QCOMPARE(p->BuildVerifyFormula(), std::string("\x01=5&\x02>3"));
    QCOMPARE(p->submit->y(), submitTop + TFrame6::kHeight);
    QCOMPARE(p->GroupBox2->height(), groupHeight + TFrame6::kHeight);

    // Arithmetic with both fields, then with only the second one.
    choose(row->ComboBox0, 1);
    choose(row->ComboBox2, 1);
    choose(row->ComboBox3, 1);
    QCOMPARE(p->BuildVerifyFormula(), std::string("\x01=5|\x02+\x01>3"));
    QTest::mouseClick(p->submit, Qt::LeftButton);
    QCOMPARE(account.Tasks[0].VerifyFormula, std::string("\x01=5|\x02+\x01>3"));
    p->LoadTask(-1);
    p->LoadTask(0);
    QCOMPARE(p->ConditionRows.size(), 1u);
    row = p->ConditionRows[0];
    QCOMPARE(row->ComboBox0->currentIndex(), 1);
    QCOMPARE(row->ComboBox1->currentIndex(), 2);
    QCOMPARE(row->ComboBox2->currentIndex(), 1);
    QCOMPARE(row->ComboBox3->currentIndex(), 1);
    QCOMPARE(row->Edit1->text(), QStringLiteral("3"));
    QCOMPARE(p->submit->y(), submitTop + TFrame6::kHeight);

    choose(row->ComboBox1, 0);
    QCOMPARE(p->BuildVerifyFormula(), std::string("\x01=5|\x01>3"));
    p->LoadVerifyFormula(p->BuildVerifyFormula(), TFrame5::FieldList(account.Tasks[0].GrabFormula));
    QCOMPARE(p->ConditionRows[0]->ComboBox1->currentIndex(), 1);
    QCOMPARE(p->ConditionRows[0]->ComboBox2->currentIndex(), 0);

    // An empty first row: the leading "|" goes; blanks in the value are compacted.
    choose(p->ComboBox21, 0);
    row = p->ConditionRows[0];
    choose(row->ComboBox1, 1);
    choose(row->ComboBox4, 4);
    typeInto(row->Edit1, QStringLiteral("  a   b "));
    QCOMPARE(p->BuildVerifyFormula(), std::string("\x01^ a b "));

    // Unreadable text resets the first row and leaves no added rows.
    p->LoadVerifyFormula("\x01=a&b", TFrame5::FieldList(account.Tasks[0].GrabFormula));
    QVERIFY(p->ConditionRows.empty());
    QCOMPARE(p->ComboBox21->currentIndex(), 0);
    QCOMPARE(p->Edit21->text(), QString());
    QCOMPARE(p->submit->y(), submitTop);
    // A field code beyond the list leaves its box without a selection.
    p->LoadVerifyFormula("\x05=1", TFrame5::FieldList(account.Tasks[0].GrabFormula));
    QCOMPARE(p->ComboBox21->currentIndex(), -1);

    // Three rows, the middle one deleted: the rest close up, everything below moves up a row.
    p->LoadVerifyFormula("", TFrame5::FieldList(account.Tasks[0].GrabFormula));
    choose(p->ComboBox21, 1);
    typeInto(p->Edit21, QStringLiteral("1"));
    for (int i = 0; i < 3; ++i) {
        QTest::mouseClick(p->Button21, Qt::LeftButton);
        typeInto(p->ConditionRows.back()->Edit1, QString::number(i + 2));
    }
    QCOMPARE(p->ConditionRows.size(), 3u);
    QCOMPARE(p->ConditionRows[2]->y(), 50 + 2 * TFrame6::kHeight);
    QCOMPARE(p->submit->y(), submitTop + 3 * TFrame6::kHeight);
    QCOMPARE(p->BuildVerifyFormula(), std::string("\x01=1&\x01=2&\x01=3&\x01=4"));
    p->ScrollBox1->ensureWidgetVisible(p->submit);
    vexory::test::SaveScreen(form, QStringLiteral("editor_rows"));

    TFrame6* middle = p->ConditionRows[1];
    QTest::mouseClick(middle->Button1, Qt::LeftButton);
    QVERIFY(middle->isHidden());
    QCOMPARE(p->ConditionRows.size(), 2u);
    QCOMPARE(p->ConditionRows[0]->Tag, 0);
    QCOMPARE(p->ConditionRows[1]->Tag, 1);
    QCOMPARE(p->ConditionRows[1]->y(), p->ConditionRows[0]->y() + TFrame6::kHeight);
    QCOMPARE(p->submit->y(), submitTop + 2 * TFrame6::kHeight);
    QCOMPARE(p->BuildVerifyFormula(), std::string("\x01=1&\x01=2&\x01=4"));
}

void EditorTest::formulaBox()
{
    TAccountRecord account;
    TProcessValues values;
    account.Tasks.push_back(stored("f", "http://a"));
    account.Tasks[0].GrabFormula = "[>1.-2<]<td>{>aa<}</td>[*](>aa@b<)|>note<|";
    TaskList tasks(account);
    TForm2 form(tasks, values);
    form.show();
    TFrame5* p = form.Panel();
    p->LoadTask(0);
    QTextEdit* box = p->RichEdit1;
    const QString text = box->toPlainText();
    QCOMPARE(colourAt(box, static_cast<int>(text.indexOf(QStringLiteral("{>")))), QColor(Qt::red));
    QCOMPARE(colourAt(box, static_cast<int>(text.indexOf(QStringLiteral("aa")))), QColor(Qt::blue));
    QCOMPARE(colourAt(box, static_cast<int>(text.indexOf(QStringLiteral("1.-2")))), QColor(128, 0, 0));
    QCOMPARE(colourAt(box, static_cast<int>(text.indexOf(QStringLiteral("aa@b")))), QColor(128, 0, 128));
    QCOMPARE(colourAt(box, static_cast<int>(text.indexOf(QStringLiteral("[*]")) + 1)), QColor(Qt::red));
    QCOMPARE(colourAt(box, static_cast<int>(text.indexOf(QStringLiteral("|>")))), QColor(0, 128, 0));
    QCOMPARE(colourAt(box, static_cast<int>(text.indexOf(QStringLiteral("note")))), QColor(0, 128, 0));
    QCOMPARE(colourAt(box, static_cast<int>(text.indexOf(QStringLiteral("<td>")))),
             box->palette().color(QPalette::Text));
    QVERIFY(!box->document()->isUndoAvailable());
    // A note may run over lines; a field marker stays on its line.
    box->setPlainText(QStringLiteral("<b>{>aa<}</b>|>one\ntwo<|<i>\nnext"));
    const QString lines = box->toPlainText();
    QCOMPARE(colourAt(box, static_cast<int>(lines.indexOf(QStringLiteral("two")))), QColor(0, 128, 0));
    QCOMPARE(colourAt(box, static_cast<int>(lines.indexOf(QStringLiteral("<i>")))),
             box->palette().color(QPalette::Text));
    QCOMPARE(colourAt(box, static_cast<int>(lines.indexOf(QStringLiteral("next")))),
             box->palette().color(QPalette::Text));
    box->clear();

    // Marker buttons replace the selection; the name sequence is shared.
    ResetFieldNames();
    typeInto(box, QStringLiteral("<li>x</li>"));
    QTextCursor c = box->textCursor();
    c.setPosition(4);
    c.setPosition(5, QTextCursor::KeepAnchor);
    box->setTextCursor(c);
    QTest::mouseClick(p->Button5, Qt::LeftButton);
    QCOMPARE(box->toPlainText(), QStringLiteral("<li>{>aa<}</li>"));
    QCOMPARE(colourAt(box, 6), QColor(Qt::blue)); // coloured as it changed
    c = box->textCursor();
    c.setPosition(0);
    box->setTextCursor(c);
    QTest::mouseClick(p->Button6, Qt::LeftButton);
    QTest::mouseClick(p->Button5, Qt::LeftButton);
    QCOMPARE(box->toPlainText(), QStringLiteral("[*]{>ab<}<li>{>aa<}</li>"));

    // "确定 ∨" repairs the box and refreshes the field lists, each keeping its index.
    QCOMPARE(p->ComboBox21->count(), 2);
    choose(p->ComboBox21, 1);
    g_messages.shown.clear();
    QTest::mouseClick(p->Button8, Qt::LeftButton);
    QVERIFY(!g_messages.shown.isEmpty()); // the repairs were reported
    QCOMPARE(box->toPlainText(), QStringLiteral("<li>{>aa<}</li>"));
    QCOMPARE(p->ComboBox21->count(), 2);
    QCOMPARE(p->ComboBox21->currentIndex(), 1);

    // The menu shows per box what applies there.
    p->UpdatePopupMenu(p->RichEdit2);
    QMenu* m = p->PopupMenu1;
    QVERIFY(!menuItem(m, QStringLiteral("剪切"))->isVisible());
    QVERIFY(!menuItem(m, QStringLiteral("粘贴"))->isVisible());
    QVERIFY(menuItem(m, QStringLiteral("传送"))->isVisible());
    QVERIFY(!menuItem(m, QStringLiteral("通配符"))->isVisible());
    p->UpdatePopupMenu(p->Memo1);
    QVERIFY(menuItem(m, QStringLiteral("剪切"))->isVisible());
    QVERIFY(!menuItem(m, QStringLiteral("刷新"))->isVisible());
    QVERIFY(!menuItem(m, QStringLiteral("字段符"))->isVisible());
    box->selectAll();
    box->setFocus();
    p->UpdatePopupMenu(box);
    QVERIFY(menuItem(m, QStringLiteral("复制"))->isEnabled());
    QVERIFY(menuItem(m, QStringLiteral("通配符"))->isVisible());
    QVERIFY(!menuItem(m, QStringLiteral("传送"))->isVisible());

    // "传送" carries a pseudo-code selection over as a new line of the formula.
    typeInto(box, QStringLiteral("<p>{>aa<}</p>"));
    p->RichEdit2->setPlainText(QStringLiteral("<div>\n  <b>x</b>\n</div>"));
    p->RichEdit2->selectAll();
    p->UpdatePopupMenu(p->RichEdit2);
    menuItem(m, QStringLiteral("传送"))->trigger();
    QCOMPARE(box->toPlainText(), QStringLiteral("<p>{>aa<}</p>\n<div><b>x</b></div>"));

    // A coloured formula, for the eye.
    account.Tasks.push_back(stored("colours", "http://example.com/list"));
    account.Tasks[1].GrabFormula =
        "[>1.2.-3<]<tr><td class=\"name\">{>aa<}</td>[*]<td>{>ab<}</td></tr>(>ab@price<)|>a note<|";
    account.Tasks[1].VerifyFormula = "\x01^apple&\x02>3|\x01+\x02<100";
    p->LoadTask(1);
    vexory::test::SaveScreen(form, QStringLiteral("editor"));
}

void EditorTest::sharing()
{
    ServerProcess server(VEXORY_SERVER_PATH);
    QVERIFY(server.ok());
    QCOMPARE(server.addUser("\xE5\xBC\xA0\xE4\xB8\x89", "pw"), 0); // 张三
    TAccountRecord account;
    TProcessValues values;
    values.Server = server.host();
    account.Tasks.push_back(stored("s", ""));
    TaskList tasks(account);
    TForm2 form(tasks, values);
    form.show();
    TFrame5* p = form.Panel();
    p->LoadTask(0);

    // Not logged in, then no URL.
    QTest::mouseClick(p->Button1, Qt::LeftButton);
    QCOMPARE(g_messages.shown.takeLast(), QStringLiteral("请先登录"));
    // The service takes uploads from a logged-in account only.
    account.Nickname = Utf8ToGbk("张三");
    account.PasswordDigest = Sha1Hex("pw");
    int32_t version = 6;
    QCOMPARE(loginAnswer(account, server.host(), false, version), int(LoginDone));
    QVERIFY(account.LoggedIn);
    typeInto(p->Edit3, QStringLiteral(" "));
    QTest::mouseClick(p->Button1, Qt::LeftButton);
    QCOMPARE(g_messages.shown.takeLast(), QStringLiteral("请先正确填写URL"));

    // Upload: the page key has no query part; only the cleaned formula and the note go.
    typeInto(p->Edit3, QStringLiteral("Example.com/List?page=2"));
    typeInto(p->RichEdit1, QStringLiteral("<TD>{>aa<}</TD>(>aa@next<)|>my note<|"));
    g_messages.answer = QMessageBox::Yes;
    QTest::mouseClick(p->Button1, Qt::LeftButton);
    QCOMPARE(g_messages.shown.takeLast(), QStringLiteral("抓取公式上传成功，等待审核！"));
    QCOMPARE(g_messages.shown.takeLast(), QStringLiteral("分享数据抓取公式?"));
    QTest::mouseClick(p->Button1, Qt::LeftButton);
    QCOMPARE(g_messages.shown.takeLast(), QStringLiteral("抓取公式已存在！"));
    std::string list;
    QCOMPARE(server.admin("formula list", &list), 0);
    const nlohmann::json entry = nlohmann::json::parse(list.substr(0, list.find('\n')));
    QCOMPARE(entry["key"].get<std::string>(), std::string("http://example.com/list"));
    QCOMPARE(QString::fromStdString(entry["formula"].get<std::string>()), QStringLiteral("<td>{>aa<}</td>"));
    QCOMPARE(entry["note"].get<std::string>(), std::string("my note"));

    // Answering No looks up: nothing approved yet, then the approved formula is appended.
    g_messages.answer = QMessageBox::No;
    const QString before = p->RichEdit1->toPlainText();
    QTest::mouseClick(p->Button1, Qt::LeftButton);
    QCOMPARE(g_messages.shown.takeLast(), QStringLiteral("没有相关的抓取公式！"));
    QCOMPARE(p->RichEdit1->toPlainText(), before);
    QCOMPARE(server.admin("formula approve " + std::to_string(entry["id"].get<int>())), 0);
    QTest::mouseClick(p->Button1, Qt::LeftButton);
    QCOMPARE(g_messages.shown.takeLast(), QStringLiteral("分享数据抓取公式?"));
    QCOMPARE(p->RichEdit1->toPlainText(), before + QStringLiteral("\n<td>{>aa<}</td>"));

    // The guide URL is the key when the page URL is blank; a note alone goes straight to the lookup.
    typeInto(p->Edit3, QString());
    typeInto(p->Edit2, QStringLiteral("http://example.com/list"));
    typeInto(p->RichEdit1, QStringLiteral("|>only a note<|"));
    g_messages.shown.clear();
    QTest::mouseClick(p->Button1, Qt::LeftButton);
    QCOMPARE(g_messages.shown, QStringList{});
    QCOMPARE(p->RichEdit1->toPlainText(), QStringLiteral("|>only a note<|\n<td>{>aa<}</td>"));

    // No server.
    values.Server = "127.0.0.1:1";
    QTest::mouseClick(p->Button1, Qt::LeftButton);
    QCOMPARE(g_messages.shown.takeLast(), QStringLiteral("远程连接错误！"));
    g_messages.answer = QMessageBox::Yes;
    QTest::mouseClick(p->Button1, Qt::LeftButton);
    QCOMPARE(g_messages.shown.takeLast(), QStringLiteral("远程错误，未能上传！"));
}

void EditorTest::taskListOpensTheEditor()
{
    TAccountRecord account;
    TProcessValues values;
    account.Tasks.push_back(stored("one", "http://a"));
    TaskList tasks(account);
    TFrame2 list(tasks, values);
    TForm2 editor(tasks, values);
    list.SetEditor(&editor);
    list.show();
    QVERIFY(QTest::qWaitForWindowExposed(&list));
    TFrame5* p = editor.Panel();

    // "新建": a default name, save, the list gets the task and selects it.
    bool seen = false;
    QTimer::singleShot(0, &editor, [&] {
        seen = editor.isVisible() && p->Edit1->text().startsWith(QStringLiteral("监控任务-"));
        typeInto(p->Edit1, QStringLiteral("新任务"));
        QTest::mouseClick(p->submit, Qt::LeftButton);
    });
    QTest::mouseClick(list.Button(QStringLiteral("新建")), Qt::LeftButton);
    QVERIFY(seen);
    QVERIFY(!editor.isVisible());
    QCOMPARE(account.Tasks.size(), 2u);
    QCOMPARE(list.List()->count(), 2);
    QCOMPARE(list.List()->item(1)->text(), QStringLiteral("2 - 新任务"));
    QCOMPARE(list.List()->currentRow(), 1);

    // Double click modifies; "共享" and "推送给外挂" follow the login and the plug-in right.
    account.LoggedIn = 1;
    seen = false;
    QTimer::singleShot(0, &editor, [&] {
        seen = p->Edit1->text() == QStringLiteral("one") && p->Button1->isEnabled() && !p->CheckBox2->isEnabled();
        typeInto(p->Edit1, QStringLiteral("renamed"));
        QTest::mouseClick(p->submit, Qt::LeftButton);
    });
    QListWidgetItem* first = list.List()->item(0);
    list.List()->setCurrentItem(first);
    const QPoint at = list.List()->visualItemRect(first).center();
    QTest::mouseClick(list.List()->viewport(), Qt::LeftButton, {}, at);
    QTest::mouseDClick(list.List()->viewport(), Qt::LeftButton, {}, at);
    QVERIFY(seen);
    QCOMPARE(account.Tasks.size(), 2u);
    QCOMPARE(list.List()->item(0)->text(), QStringLiteral("1 - renamed"));
    QCOMPARE(list.OverviewValue(0)->text(), QStringLiteral("renamed"));

    // Closing with changes and answering No keeps the editor open until Yes.
    seen = false;
    QTimer::singleShot(0, &editor, [&] {
        typeInto(p->Edit2, QStringLiteral("http://guide"));
        g_messages.answer = QMessageBox::No;
        editor.close();
        seen = editor.isVisible();
        g_messages.answer = QMessageBox::Yes;
        editor.close();
    });
    QTest::mouseClick(list.Button(QStringLiteral("修改")), Qt::LeftButton);
    QVERIFY(seen);
    QVERIFY(!editor.isVisible());
    QCOMPARE(account.Tasks[0].GuideUrl, std::string());

    // Deleting unloads the editor.
    p->LoadTask(1);
    list.DeleteSelected();
    QCOMPARE(p->EditedIndex, -1);
}

void EditorTest::taskMadeInTheEditorRuns()
{
    struct Site
    {
        TestHttpServer http;
        std::mutex mutex;
        std::vector<std::string> rows{"<tr><td class=\"name\">Apple</td><td>5</td></tr>"};
    } site;
    site.http.routes().Get("/list", [&site](const httplib::Request&, httplib::Response& res) {
        std::lock_guard lock(site.mutex);
        std::string rows;
        for (const std::string& r : site.rows)
            rows += r;
        res.set_content("<html><body><table>" + rows + "</table></body></html>", "text/html; charset=utf-8");
    });
    site.http.start();

    TempDir home;
    TAccountRecord account;
    TProcessValues values = OfflineValues();
    const AppPaths paths{home.file("vexory.vxt"), home.file("dravik.ini"), home.file("dravik.log")};
    TForm1 form(account, values, paths);
    form.show();
    form.EnterTaskList();
    TForm2* editor = form.Form2();
    QVERIFY(editor);
    TFrame5* p = editor->Panel();
    QTimer::singleShot(0, editor, [&] {
        typeInto(p->Edit1, QStringLiteral("水果"));
        typeInto(p->Edit3, QString::fromStdString(site.http.url("/list")));
        typeInto(p->Edit6, QStringLiteral("2"));
        typeInto(p->Edit5, QStringLiteral("10"));
        choose(p->ComboBox1, 0);
        typeInto(p->RichEdit1, QStringLiteral("<td class=\"name\">{>name<}</td><td>{>price<}</td>"));
        QTest::mouseClick(p->submit, Qt::LeftButton);
    });
    QTest::mouseClick(form.TaskList()->Button(QStringLiteral("新建")), Qt::LeftButton);
    QCOMPARE(account.Tasks.size(), 1u);
    // A task just made comes ticked: "执行" runs it at once.
    QCOMPARE(form.TaskList()->List()->item(0)->checkState(), Qt::Checked);
    QTest::mouseClick(form.TaskList()->Button(QStringLiteral("执行")), Qt::LeftButton);
    QTRY_COMPARE_WITH_TIMEOUT(static_cast<int>(form.Runners().size()), 1, 30000);
    TFrame4* runner = form.Runners()[0];
    // The first page is only remembered (its records shown as the prepared page has them).
    QTRY_VERIFY_WITH_TIMEOUT(runner->Memo1()->toPlainText().contains(QStringLiteral("name=apple")), 30000);
    {
        std::lock_guard lock(site.mutex);
        site.rows.push_back("<tr><td class=\"name\">Pear</td><td>7</td></tr>");
    }
    QTRY_VERIFY_WITH_TIMEOUT(runner->Memo1()->toPlainText().contains(QStringLiteral("数据验证通过")), 30000);
    QVERIFY(runner->Memo1()->toPlainText().contains(QStringLiteral("name=Pear\nprice=7")));
    form.close();
    TAccountRecord saved;
    QVERIFY(ReadStore(paths.store, saved));
    QCOMPARE(saved.Tasks.size(), 1u);
    QCOMPARE(saved.Tasks[0].TaskName, Utf8ToGbk("水果"));
}

void EditorTest::caretStaysInViewInThePseudoCode()
{
    TAccountRecord account;
    TProcessValues values;
    TaskList tasks(account);
    TForm2 editor(tasks, values);
    TFrame5* p = editor.Panel();
    p->LoadTask(-1);
    editor.show();
    QVERIFY(QTest::qWaitForWindowExposed(&editor));
    // A long page, shown in the pseudo-code tab for the first time.
    std::string page = "<html><body><table>";
    for (int i = 0; i < 400; ++i)
        page += "<tr><td>row " + std::to_string(i) + "</td></tr>";
    page += "<tr><td>needle</td></tr></table></body></html>";
    p->SetTabShown(p->TabSheet2, true);
    p->ShowPseudoCode(PlainPseudoCode(page));
    p->PageControl1->setCurrentWidget(p->TabSheet2);
    QTest::qWait(50);
    auto caretInView = [p] { return p->RichEdit2->viewport()->rect().contains(p->RichEdit2->cursorRect()); };
    // Find from the toolbar's box.
    QTest::mouseClick(p->Frame7->Edit1, Qt::LeftButton);
    QTest::keyClicks(p->Frame7->Edit1, QStringLiteral("needle"));
    QTest::keyClick(p->Frame7->Edit1, Qt::Key_Return);
    QVERIFY(p->RichEdit2->textCursor().hasSelection());
    QVERIFY(caretInView());
    // "字段符" puts a marker at a caret far up, which comes into view.
    QTextCursor at = p->RichEdit2->textCursor();
    at.setPosition(static_cast<int>(p->RichEdit2->toPlainText().indexOf(QStringLiteral("row 5<"))));
    p->RichEdit2->setTextCursor(at);
    QTest::mouseClick(p->Frame7->SpeedButton2, Qt::LeftButton);
    QVERIFY(p->RichEdit2->toPlainText().contains(QStringLiteral("{>")));
    QVERIFY(caretInView());
}

int main(int argc, char** argv)
{
    return vexory::test::RunGuiTest<EditorTest>(argc, argv);
}

#include "editor_test.moc"
