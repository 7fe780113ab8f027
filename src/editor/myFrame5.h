#pragma once

// TFrame5: the task editor panel. The left half holds the task's fields in a
// scroll box; the right half is a page control with the tabs "浏览器", "伪代码" and
// "测试结果", and the marking toolbar floats on its tab row. The panel edits the
// account's task array directly: a save writes into the task being edited or
// appends a new one.

#include "editor/editor_rules.h"
#include "model/task_list.h"

#include <QWidget>

#include <functional>
#include <string>
#include <string_view>
#include <vector>

class QCheckBox;
class QComboBox;
class QFrame;
class QGroupBox;
class QLabel;
class QLineEdit;
class QMenu;
class QPlainTextEdit;
class QPushButton;
class QScrollArea;
class QSplitter;
class QTabWidget;
class QTextEdit;

namespace vexory {

class FieldNameRow;
class MarkerHighlighter;
class TForm3;
class TFrame6;
class TFrame7;
class WebEngineBrowser;

class TFrame5 : public QWidget
{
    Q_OBJECT
public:
    TFrame5(TaskList& tasks, TProcessValues& values, QWidget* parent = nullptr);

    // Puts a task of the array into the editor (the blank task for -1 or an index
    // out of range); does nothing when that task is already being edited.
    void LoadTask(int index);
    // "保存并关闭".
    void SubmitClick();
    // Compares the fields with the task being edited; focuses the first that differs.
    bool HasUnsavedChanges();

    // Verification condition rows.
    void AddConditionRow();
    void RemoveConditionRow(TFrame6* row);
    std::string BuildVerifyFormula() const;
    void LoadVerifyFormula(const std::string& text, const QStringList& fields);

    // "确定 ∨": repairs the formula box and refreshes the field lists.
    void ConfirmFormula();
    // Offers the formula's fields in the condition rows.
    void RefreshFieldLists(const std::string& grabFormula);
    // "字段符{><}" / "通配符[*]": replace the formula box's selection.
    void InsertFieldMarker();
    void InsertWildcard();
    // "共享": upload the formula for the page, or fetch the ones shared for it.
    void Button1Click();

    // The field list of a grab formula: an empty entry, then the field names.
    static QStringList FieldList(const std::string& grabFormula);

    // The wizard window that loads pages for the editor and owns its browser.
    void SetWizard(TForm3* wizard) { m_wizard = wizard; }
    TForm3* Wizard() const { return m_wizard; }

    // Test runs: 0 page source, 1 grab, 2 grab and verify.
    void RunTest(int kind);
    // Toolbar: "标记" / "字段符", "清除", "提取公式", find.
    void MarkClick();
    void ClearMarksClick();
    void DeriveClick();
    void FindClick(bool forward);
    // Carries the browser's selection over into the pseudo-code box.
    void SyncSelection();
    // Shows a text in the pseudo-code box, coloured.
    void ShowPseudoCode(const std::string& pseudoCode);
    // Shows `PseudoCode` in the box now if its tab is the one seen, else once it
    // is: a large page's pseudo-code takes seconds to lay out, and marking on the
    // browser tab need not wait for it. The caret goes behind the newest marker.
    void ShowPseudoCodeWhenSeen();
    // Scrolls the pseudo-code box so that the caret line stands near the middle.
    void CentreCaretLine();
    // Where a search of `needle` (case ignored) lands in `text`, searching forward
    // from `selectionEnd` or backward before `selectionStart`, wrapping once; -1 for none.
    static qsizetype FindWrapped(const QString& text, const QString& needle, qsizetype selectionStart,
                                 qsizetype selectionEnd, bool forward);

    // Places the toolbar on the tab row.
    void PlaceToolbar();
    // Fills and opens the context menu for one of the three text boxes.
    void UpdatePopupMenu(QWidget* box);

    // A new task, named `name` until the user names it.
    void StartNewTask(const QString& name);
    // What the account allows: sharing formulas, pushing to a plug-in.
    void SetAccountRights(bool share, bool plugin);
    // The page the wizard read: its pseudo-code, and its browser into the tab "浏览器".
    void TakeWizardPage(const std::string& pseudoCode, QWidget* browserView);

    int EditedIndex = -1;
    bool NewTaskAdded = false;
    std::string PseudoCode;
    std::vector<TFrame6*> ConditionRows;
    int VisibleLines = 0;
    QWidget* PreviousTab = nullptr;

    // Left half.
    QScrollArea* ScrollBox1 = nullptr;
    QLineEdit* Edit1 = nullptr;  // task name
    QLineEdit* Edit2 = nullptr;  // guide URL
    QLineEdit* Edit3 = nullptr;  // page URL
    QLineEdit* Edit4 = nullptr;  // page element
    QLineEdit* Edit5 = nullptr;  // connect timeout, s
    QLineEdit* Edit6 = nullptr;  // refresh interval, s
    QLineEdit* Edit22 = nullptr; // notify interval, hours (hidden)
    QLabel* Label22 = nullptr;
    QPushButton* Button3 = nullptr; // "测试1>>"
    QGroupBox* GroupBox1 = nullptr; // "[ 数据抓取公式 ]"
    QTextEdit* RichEdit1 = nullptr;
    QPushButton* Button5 = nullptr; // "字段符{><}"
    QPushButton* Button6 = nullptr; // "通配符[*]"
    QPushButton* Button1 = nullptr; // "共享"
    QPushButton* Button7 = nullptr; // "测试2>>"
    QPushButton* Button8 = nullptr; // "确定 ∨"
    QCheckBox* CheckBox1 = nullptr; // "清除HTML标签"
    QComboBox* ComboBox1 = nullptr; // "数据更新检查"
    QGroupBox* GroupBox2 = nullptr; // "[ 数据验证公式 ]"
    QComboBox* ComboBox21 = nullptr;
    QComboBox* ComboBox22 = nullptr;
    QComboBox* ComboBox23 = nullptr;
    QComboBox* ComboBox24 = nullptr;
    QLineEdit* Edit21 = nullptr;
    QPushButton* Button21 = nullptr; // "增加"
    QPushButton* Button22 = nullptr; // "测试3>>"
    QFrame* Bevel1 = nullptr;
    QWidget* Spacer1 = nullptr;
    QCheckBox* CheckBox2 = nullptr; // "推送给外挂"
    QPushButton* submit = nullptr;  // "保存并关闭"

    // Right half.
    QSplitter* Splitter1 = nullptr;
    QTabWidget* PageControl1 = nullptr;
    QWidget* TabSheet1 = nullptr; // "浏览器"
    QWidget* TabSheet2 = nullptr; // "伪代码"
    QWidget* TabSheet3 = nullptr; // "测试结果"
    QWidget* BrowserPanel = nullptr;
    QTextEdit* RichEdit2 = nullptr; // pseudo-code
    QPlainTextEdit* Memo1 = nullptr;
    TFrame7* Frame7 = nullptr;
    QWidget* m_toolbarRow = nullptr;     // above the pages, shown when the tab row is too narrow
    FieldNameRow* FieldNames1 = nullptr; // the marked fields' names, below the pages
    QMenu* PopupMenu1 = nullptr;

    // Shows or hides a tab of the page control.
    void SetTabShown(QWidget* tab, bool shown);
    bool TabShown(QWidget* tab) const;

signals:
    // "保存并关闭" saved the task (EditedIndex; NewTaskAdded when it was new).
    void Saved();

protected:
    void resizeEvent(QResizeEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    static constexpr int kScrollBoxWidth = 560;
    static constexpr int kGroupWidth = 524;
    static constexpr int kFirstRowTop = 50;  // of the first added row
    static constexpr int kRestackTop = 46;   // of the rows left after a removal
    static constexpr int kGroup2Height = 96; // without added rows

    void buildFields();
    void buildPages();
    void buildPopupMenu();
    void connectControls();
    EditorFields fields() const;
    TTaskRecord& editedTask();
    void moveBelowGroup(int dy);
    void tabChanged();
    void insertMarkerAt(QTextEdit* box, const QString& marker);
    MarkerHighlighter* highlighterOf(QTextEdit* box) const;

    WebEngineBrowser* browser() const;
    // The row of field names follows the marks in `PseudoCode`.
    void updateFieldNames();
    void addLine(std::string_view text);

    TaskList& m_tasks;
    TAccountRecord& m_account;
    TProcessValues& m_values;
    TForm3* m_wizard = nullptr;
    MarkerHighlighter* m_formulaColours = nullptr;
    MarkerHighlighter* m_pseudoColours = nullptr;
    bool m_pseudoCodeUnseen = false; // `PseudoCode` changed since the box last showed it
    QWidget* m_content = nullptr;
    int m_rowCounter = 0;
    QWidget* m_menuBox = nullptr;
    QAction* m_cut = nullptr;
    QAction* m_copy = nullptr;
    QAction* m_paste = nullptr;
    QAction* m_delete = nullptr;
    QAction* m_selectAll = nullptr;
    QAction* m_send = nullptr;
    QAction* m_refresh = nullptr;
    QAction* m_field = nullptr;
    QAction* m_wildcard = nullptr;
};

// Text box contents as the program keeps them (code page 936, CR LF) and back.
std::string BoxText(const QString& text);
QString FromBoxText(const std::string& text);
// A field marker around `name`, made from its template.
QString FieldMarker(const std::string& name);

} // namespace vexory
