#include "editor/myFrame5.h"

#include "base/text_helpers.h"
#include "editor/Unit3.h"
#include "editor/editor_ui_texts.h"
#include "editor/myFrame6.h"
#include "editor/myFrame7.h"
#include "editor/pseudo_code.h"
#include "editor/test_run.h"
#include "editor/verify_rows.h"
#include "formula/grab_formula.h"
#include "monitor/webengine_browser.h"
#include "service/http_client.h"
#include "service/service_client.h"
#include "widgets/hint_edit.h"
#include "widgets/message_box.h"
#include "widgets/qt_text.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QFontDatabase>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QSplitter>
#include <QTabBar>
#include <QTabWidget>
#include <QTextBlock>
#include <QTextEdit>
#include <QToolButton>
#include <QVBoxLayout>
#include <QWheelEvent>

namespace vexory {

namespace {

constexpr int kScrollBoxWidth = 560;
constexpr int kGroupWidth = 524;
constexpr int kFirstRowTop = 50;  // of the first added row
constexpr int kRestackTop = 46;   // of the rows left after a removal
constexpr int kGroup2Height = 96; // without added rows

// The blank task that stands for a task not yet in the array.
const TTaskRecord& blankTask()
{
    static const TTaskRecord blank;
    return blank;
}

QLabel* caption(const QString& text, QWidget* parent, int left, int top, int width = 80)
{
    auto* label = new QLabel(text, parent);
    label->setGeometry(left, top, width, 24);
    return label;
}

QLabel* redStar(QWidget* parent, int left, int top, const QString& text = QStringLiteral("*"))
{
    auto* label = new QLabel(text, parent);
    label->setStyleSheet(QStringLiteral("color: red;"));
    label->setGeometry(left, top, 12, 24);
    return label;
}

QLineEdit* edit(QWidget* parent, int left, int top, int width, const QString& name)
{
    auto* e = new QLineEdit(parent);
    e->setObjectName(name);
    e->setGeometry(left, top, width, 24);
    return e;
}

QPushButton* button(const QString& text, QWidget* parent, int left, int top, int width = 75)
{
    auto* b = new QPushButton(text, parent);
    b->setObjectName(text);
    b->setGeometry(left, top, width, 26);
    return b;
}

QComboBox* dropDown(QWidget* parent, int left, int top, int width)
{
    auto* box = new QComboBox(parent);
    box->setGeometry(left, top, width, 24);
    return box;
}

void moveBy(QWidget* w, int dy)
{
    w->move(w->x(), w->y() + dy);
}

// Colours one marker kind: the template's parts before and after the content red,
// the content in `content` (or everything in `whole` when that is valid).
void colourKind(QTextEdit* box, const QString& text, const QString& open, const QString& close, const QColor& content,
                const QColor& whole = QColor())
{
    QTextCharFormat red, inner, all;
    red.setForeground(Qt::red);
    inner.setForeground(content);
    all.setForeground(whole);
    QTextCursor cursor(box->document());
    auto paint = [&](qsizetype from, qsizetype to, const QTextCharFormat& format) {
        if (to <= from)
            return;
        cursor.setPosition(static_cast<int>(from));
        cursor.setPosition(static_cast<int>(to), QTextCursor::KeepAnchor);
        cursor.mergeCharFormat(format);
    };
    qsizetype at = 0;
    while ((at = text.indexOf(open, at)) >= 0) {
        const qsizetype inside = at + open.size();
        const qsizetype end = close.isEmpty() ? inside : text.indexOf(close, inside);
        if (end < 0)
            break;
        if (whole.isValid()) {
            paint(at, end + close.size(), all);
        } else {
            paint(at, inside, red);
            paint(inside, end, inner);
            paint(end, end + close.size(), red);
        }
        at = end + close.size();
    }
}

} // namespace

std::string BoxText(const QString& text)
{
    QString crlf = text;
    crlf.replace(QChar::ParagraphSeparator, QLatin1Char('\n'));
    crlf.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    crlf.replace(QLatin1Char('\n'), QStringLiteral("\r\n"));
    return ToGbk(crlf);
}

QString FromBoxText(const std::string& text)
{
    QString s = FromGbk(text);
    s.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    return s;
}

TFrame5::TFrame5(TAccountRecord& account, TProcessValues& values, QWidget* parent)
    : QWidget(parent), m_account(account), m_values(values)
{
    // Left half: a scroll box whose content is laid out by position, so that the
    // controls below the verification group can move with its rows.
    ScrollBox1 = new QScrollArea;
    ScrollBox1->setObjectName(QStringLiteral("ScrollBox1"));
    ScrollBox1->setMaximumWidth(kScrollBoxWidth);
    ScrollBox1->setMinimumWidth(120);
    ScrollBox1->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    m_content = new QWidget;
    ScrollBox1->setWidget(m_content);
    ScrollBox1->setFocusPolicy(Qt::ClickFocus);
    ScrollBox1->viewport()->installEventFilter(this);

    QWidget* c = m_content;
    int y = 12;
    caption(QStringLiteral("任务名称"), c, 12, y);
    Edit1 = edit(c, 96, y, 420, QStringLiteral("Edit1"));
    redStar(c, 522, y);
    y += 32;
    caption(QStringLiteral("导引URL"), c, 12, y);
    Edit2 = edit(c, 96, y, 420, QStringLiteral("Edit2"));
    redStar(c, 522, y + 16);
    auto* arrow = new QLabel(QStringLiteral("<"), c);
    arrow->setStyleSheet(QStringLiteral("color: red; font-size: 9px;"));
    arrow->setGeometry(530, y + 18, 10, 16);
    y += 32;
    caption(QStringLiteral("网页URL"), c, 12, y);
    Edit3 = edit(c, 96, y, 420, QStringLiteral("Edit3"));
    y += 32;
    caption(QStringLiteral("页面元素ID"), c, 12, y);
    Edit4 = edit(c, 96, y, 420, QStringLiteral("Edit4"));
    y += 32;
    caption(QStringLiteral("刷新频率"), c, 12, y);
    Edit6 = edit(c, 96, y, 70, QStringLiteral("Edit6"));
    caption(QStringLiteral("秒"), c, 170, y, 20);
    redStar(c, 188, y);
    caption(QStringLiteral("连接超时"), c, 216, y, 60);
    Edit5 = edit(c, 280, y, 70, QStringLiteral("Edit5"));
    caption(QStringLiteral("秒"), c, 354, y, 20);
    redStar(c, 372, y);
    Button3 = button(QStringLiteral("测试1>>"), c, 441, y - 1);
    y += 36;

    GroupBox1 = new QGroupBox(QStringLiteral("[ 数据抓取公式 ]"), c);
    GroupBox1->setGeometry(8, y, kGroupWidth, 262);
    RichEdit1 = new QTextEdit(GroupBox1);
    RichEdit1->setObjectName(QStringLiteral("RichEdit1"));
    RichEdit1->setAcceptRichText(false);
    RichEdit1->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    RichEdit1->setGeometry(8, 22, kGroupWidth - 16, 196);
    RichEdit1->setContextMenuPolicy(Qt::CustomContextMenu);
    Button5 = button(QStringLiteral("字段符{><}"), GroupBox1, 8, 226, 92);
    Button6 = button(QStringLiteral("通配符[*]"), GroupBox1, 104, 226, 84);
    Button1 = button(QStringLiteral("共享"), GroupBox1, 192, 226, 60);
    Button7 = button(QStringLiteral("测试2>>"), GroupBox1, 340, 226, 75);
    Button8 = button(QStringLiteral("确定 ∨"), GroupBox1, 424, 226, 92);
    y += 262 + 10;

    CheckBox1 = new QCheckBox(QStringLiteral("清除HTML标签"), c);
    CheckBox1->setGeometry(16, y, 130, 24);
    caption(QStringLiteral("数据更新检查"), c, 216, y, 90);
    ComboBox1 = dropDown(c, 310, y, 206);
    ComboBox1->addItems({QStringLiteral("比较所有记录"), QStringLiteral("比较上一屏记录")});
    ComboBox1->setCurrentIndex(1);
    y += 36;

    GroupBox2 = new QGroupBox(QStringLiteral("[ 数据验证公式 ]"), c);
    GroupBox2->setGeometry(8, y, kGroupWidth, kGroup2Height);
    // In line with the fields of the added rows, which stand 8 pixels in.
    ComboBox21 = dropDown(GroupBox2, 16, 22, 84);
    ComboBox22 = dropDown(GroupBox2, 104, 22, 52);
    TFrame6::FillArithmetic(ComboBox22);
    ComboBox23 = dropDown(GroupBox2, 160, 22, 84);
    ComboBox24 = dropDown(GroupBox2, 248, 22, 76);
    TFrame6::FillComparison(ComboBox24);
    Edit21 = edit(GroupBox2, 328, 22, 100, QStringLiteral("Edit21"));
    Button21 = button(QStringLiteral("增加"), GroupBox2, 432, 21);
    Button22 = button(QStringLiteral("测试3>>"), GroupBox2, 432, 58);
    for (QComboBox* box : {ComboBox21, ComboBox23})
        box->addItem(QString());
    y += kGroup2Height + 10;

    Label22 = caption(QStringLiteral("每次通知至少间隔                         小时"), c, 16, y, 300);
    Edit22 = edit(c, 130, y, 60, QStringLiteral("Edit22"));
    Label22->hide();
    Edit22->hide();
    Edit22->setText(QStringLiteral("0"));
    Bevel1 = new QFrame(c);
    Bevel1->setFrameShape(QFrame::HLine);
    Bevel1->setFrameShadow(QFrame::Sunken);
    Bevel1->setGeometry(8, y + 4, kGroupWidth, 4);
    Spacer1 = new QWidget(c);
    Spacer1->setGeometry(8, y + 8, kGroupWidth, 8);
    CheckBox2 = new QCheckBox(QStringLiteral("推送给外挂"), c);
    CheckBox2->setGeometry(16, y + 20, 130, 24);
    submit = button(QStringLiteral("保存并关闭"), c, 416, y + 18, 100);
    m_content->resize(kScrollBoxWidth - 20, submit->geometry().bottom() + 16);

    Edit6->setText(QStringLiteral("150"));
    Edit5->setText(QStringLiteral("10"));

    // Right half.
    PageControl1 = new QTabWidget;
    PageControl1->setObjectName(QStringLiteral("PageControl1"));
    PageControl1->installEventFilter(this); // the toolbar follows its moves and size
    // Tabs from the right, so that the left of the tab row is free for the toolbar.
    PageControl1->setStyleSheet(QStringLiteral("QTabWidget::tab-bar { alignment: right; }"
                                               "QTabBar::tab { padding: 3px 6px; }"));
    PageControl1->tabBar()->setExpanding(false);
    TabSheet1 = new QWidget;
    TabSheet2 = new QWidget;
    TabSheet3 = new QWidget;
    BrowserPanel = new QWidget(TabSheet1);
    auto* browserLayout = new QVBoxLayout(TabSheet1);
    browserLayout->setContentsMargins(0, 0, 0, 0);
    browserLayout->addWidget(BrowserPanel);
    auto* panelLayout = new QVBoxLayout(BrowserPanel);
    panelLayout->setContentsMargins(0, 0, 0, 0);
    RichEdit2 = new QTextEdit(TabSheet2);
    RichEdit2->setObjectName(QStringLiteral("RichEdit2"));
    RichEdit2->setAcceptRichText(false);
    RichEdit2->setReadOnly(true);
    RichEdit2->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    RichEdit2->setLineWrapMode(QTextEdit::NoWrap);
    RichEdit2->setContextMenuPolicy(Qt::CustomContextMenu);
    RichEdit2->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    auto* pseudoLayout = new QVBoxLayout(TabSheet2);
    pseudoLayout->setContentsMargins(0, 0, 0, 0);
    pseudoLayout->addWidget(RichEdit2);
    Memo1 = new QPlainTextEdit(TabSheet3);
    Memo1->setObjectName(QStringLiteral("Memo1"));
    Memo1->setLineWrapMode(QPlainTextEdit::NoWrap);
    Memo1->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    Memo1->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    Memo1->setContextMenuPolicy(Qt::CustomContextMenu);
    auto* memoLayout = new QVBoxLayout(TabSheet3);
    memoLayout->setContentsMargins(0, 0, 0, 0);
    memoLayout->addWidget(Memo1);
    // Laid out from the right: "浏览器" rightmost, then "伪代码", then "测试结果".
    PageControl1->addTab(TabSheet3, QStringLiteral("测试结果"));
    PageControl1->addTab(TabSheet2, QStringLiteral("伪代码"));
    PageControl1->addTab(TabSheet1, QStringLiteral("浏览器"));
    SetTabShown(TabSheet1, false);
    SetTabShown(TabSheet2, false);
    PageControl1->setCurrentWidget(TabSheet3);
    PreviousTab = TabSheet3;

    Splitter1 = new QSplitter(Qt::Horizontal, this);
    Splitter1->addWidget(ScrollBox1);
    Splitter1->addWidget(PageControl1);
    Splitter1->setChildrenCollapsible(false);
    Splitter1->setStretchFactor(1, 1);
    Splitter1->setSizes({kScrollBoxWidth, 610});
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(Splitter1);

    Frame7 = new TFrame7(this);
    Frame7->raise();

    // The shared context menu of the formula box, the pseudo-code box and the memo.
    PopupMenu1 = new QMenu(this);
    m_cut = PopupMenu1->addAction(QStringLiteral("剪切"));
    m_cut->setShortcut(QKeySequence::Cut);
    m_copy = PopupMenu1->addAction(QStringLiteral("复制"));
    m_copy->setShortcut(QKeySequence::Copy);
    m_paste = PopupMenu1->addAction(QStringLiteral("粘贴"));
    m_paste->setShortcut(QKeySequence::Paste);
    m_delete = PopupMenu1->addAction(QStringLiteral("删除"));
    m_delete->setShortcut(QKeySequence::Delete);
    m_selectAll = PopupMenu1->addAction(QStringLiteral("全选"));
    m_selectAll->setShortcut(QKeySequence::SelectAll);
    m_send = PopupMenu1->addAction(QStringLiteral("传送"));
    m_refresh = PopupMenu1->addAction(QStringLiteral("刷新"));
    m_field = PopupMenu1->addAction(QStringLiteral("字段符"));
    m_wildcard = PopupMenu1->addAction(QStringLiteral("通配符"));
    for (QAction* a : PopupMenu1->actions())
        a->setShortcutVisibleInContextMenu(true);

    auto cursorOf = [this](auto fn) {
        if (auto* rich = qobject_cast<QTextEdit*>(m_menuBox))
            fn(rich);
    };
    // The same edit command on whichever box the menu was opened for.
    auto onBox = [this](QAction* action, auto command) {
        connect(action, &QAction::triggered, this, [this, command] {
            if (auto* rich = qobject_cast<QTextEdit*>(m_menuBox))
                command(rich);
            else if (auto* plain = qobject_cast<QPlainTextEdit*>(m_menuBox))
                command(plain);
        });
    };
    onBox(m_cut, [](auto* box) { box->cut(); });
    onBox(m_copy, [](auto* box) { box->copy(); });
    onBox(m_paste, [](auto* box) { box->paste(); });
    onBox(m_selectAll, [](auto* box) { box->selectAll(); });
    connect(m_delete, &QAction::triggered, this, [this] {
        if (!m_menuBox)
            return;
        QKeyEvent press(QEvent::KeyPress, Qt::Key_Delete, Qt::NoModifier);
        QCoreApplication::sendEvent(m_menuBox, &press);
    });
    connect(m_send, &QAction::triggered, this, [this] {
        QString piece = RichEdit2->textCursor().selectedText();
        piece.replace(QChar::ParagraphSeparator, QLatin1Char('\n'));
        piece.remove(QStringLiteral("  "));
        piece.remove(QLatin1Char('\n'));
        QTextCursor end(RichEdit1->document());
        end.movePosition(QTextCursor::End);
        end.insertText((RichEdit1->document()->isEmpty() ? QString() : QStringLiteral("\n")) + piece);
        ColourMarkers(RichEdit1, true);
    });
    connect(m_refresh, &QAction::triggered, this,
            [this, cursorOf] { cursorOf([this](QTextEdit* rich) { ColourMarkers(rich, rich == RichEdit1); }); });
    connect(m_field, &QAction::triggered, this, [this, cursorOf] {
        cursorOf([this](QTextEdit* rich) {
            insertMarkerAt(rich, QStringLiteral("{>") + QString::fromStdString(NextFieldName()) + QStringLiteral("<}"),
                           rich == RichEdit1);
        });
    });
    connect(m_wildcard, &QAction::triggered, this, &TFrame5::InsertWildcard);
    for (QWidget* box : std::initializer_list<QWidget*>{RichEdit1, RichEdit2, Memo1}) {
        connect(static_cast<QAbstractScrollArea*>(box), &QWidget::customContextMenuRequested, this,
                [this, box](const QPoint& at) {
                    box->setFocus();
                    UpdatePopupMenu(box);
                    PopupMenu1->popup(static_cast<QAbstractScrollArea*>(box)->viewport()->mapToGlobal(at));
                });
    }

    connect(RichEdit1, &QTextEdit::textChanged, this, &TFrame5::formulaChanged);
    connect(Button5, &QPushButton::clicked, this, &TFrame5::InsertFieldMarker);
    connect(Button6, &QPushButton::clicked, this, &TFrame5::InsertWildcard);
    connect(Button1, &QPushButton::clicked, this, &TFrame5::Button1Click);
    connect(Button8, &QPushButton::clicked, this, &TFrame5::ConfirmFormula);
    connect(Button21, &QPushButton::clicked, this, [this] {
        AddConditionRow();
        ScrollBox1->verticalScrollBar()->setValue(ScrollBox1->verticalScrollBar()->maximum());
    });
    connect(submit, &QPushButton::clicked, this, &TFrame5::SubmitClick);
    connect(Button3, &QPushButton::clicked, this, [this] { RunTest(0); });
    connect(Button7, &QPushButton::clicked, this, [this] { RunTest(1); });
    connect(Button22, &QPushButton::clicked, this, [this] { RunTest(2); });
    connect(Frame7->SpeedButton2, &QToolButton::clicked, this, &TFrame5::MarkClick);
    connect(Frame7->SpeedButton3, &QToolButton::clicked, this, &TFrame5::ClearMarksClick);
    connect(Frame7->SpeedButton4, &QToolButton::clicked, this, &TFrame5::DeriveClick);
    connect(Frame7, &TFrame7::Find, this, &TFrame5::FindClick);
    connect(PageControl1, &QTabWidget::currentChanged, this, &TFrame5::tabChanged);
    connect(Splitter1, &QSplitter::splitterMoved, this, &TFrame5::PlaceToolbar);

    // Enter belongs to the box it is typed in (the find box searches with it); no
    // button of the editor is pressed by it.
    for (QPushButton* b : findChildren<QPushButton*>())
        b->setAutoDefault(false);
}

void TFrame5::SetTabShown(QWidget* tab, bool shown)
{
    PageControl1->setTabVisible(PageControl1->indexOf(tab), shown);
}

bool TFrame5::TabShown(QWidget* tab) const
{
    return PageControl1->isTabVisible(PageControl1->indexOf(tab));
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
    ColourMarkers(RichEdit1, true);
    LoadVerifyFormula(task.VerifyFormula, FieldList(task.GrabFormula));
    Memo1->setPlainText(FromBoxText(task.SavedTestResult));

    EditedIndex = index;
    PseudoCode.clear();
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
    NewTaskAdded = false;
    if (EditedIndex == -1) {
        m_account.Tasks.emplace_back();
        EditedIndex = static_cast<int>(m_account.Tasks.size()) - 1;
        NewTaskAdded = true;
    }
    TTaskRecord& task = editedTask();
    task.FormulaSent = 0; // the next push carries the formula again
    if (f.keepTestResult)
        task.SavedTestResult = f.memo;
    task.TaskName = name;
    task.GuideUrl = StripSpace(f.guide);
    task.SetPageUrl(StripSpace(f.page));
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
    if (OnSaved)
        OnSaved(this);
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

void TFrame5::ColourMarkers(QTextEdit* box, bool formulaBox)
{
    const QSignalBlocker blocker(box); // the change handler stays out of it
    box->setUpdatesEnabled(false);
    const QTextCursor saved = box->textCursor();
    const QString text = box->toPlainText();
    QTextCursor all(box->document());
    all.select(QTextCursor::Document);
    QTextCharFormat plain;
    plain.setForeground(box->palette().color(QPalette::Text));
    all.mergeCharFormat(plain);
    colourKind(box, text, QStringLiteral("{>"), QStringLiteral("<}"), Qt::blue);
    if (formulaBox) {
        colourKind(box, text, QStringLiteral("[>"), QStringLiteral("<]"), QColor(128, 0, 0));
        colourKind(box, text, QStringLiteral("(>"), QStringLiteral("<)"), QColor(128, 0, 128));
        colourKind(box, text, QStringLiteral("[*]"), QString(), QColor(), Qt::red);
        colourKind(box, text, QStringLiteral("|>"), QStringLiteral("<|"), QColor(), QColor(0, 128, 0));
    }
    box->setTextCursor(saved);
    box->setUpdatesEnabled(true);
    box->document()->clearUndoRedoStacks();
    box->viewport()->update();
}

void TFrame5::formulaChanged()
{
    ColourMarkers(RichEdit1, true);
}

void TFrame5::insertMarkerAt(QTextEdit* box, const QString& marker, bool formulaBox)
{
    box->setFocus();
    QTextCursor cursor = box->textCursor();
    cursor.insertText(marker);
    box->setTextCursor(cursor);
    ColourMarkers(box, formulaBox);
}

void TFrame5::InsertFieldMarker()
{
    insertMarkerAt(RichEdit1, QStringLiteral("{>") + QString::fromStdString(NextFieldName()) + QStringLiteral("<}"),
                   true);
}

void TFrame5::InsertWildcard()
{
    insertMarkerAt(RichEdit1, QStringLiteral("[*]"), true);
}

void TFrame5::ConfirmFormula()
{
    const CleanedFormula cleaned = CleanFormula(BoxText(RichEdit1->toPlainText()), [this](std::string_view message) {
        MessageBox::Information(this, FromGbk(message));
    });
    RichEdit1->setPlainText(FromBoxText(cleaned.formula + cleaned.chains + cleaned.notes));
    ColourMarkers(RichEdit1, true);
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
    const uint32_t number = RequestNumber();
    const std::string url = ServiceUrl(m_values.Server, "/client/Svn.php", number, 6);

    const CleanedFormula cleaned = CleanFormula(LowerAscii(CompactHtml(BoxText(RichEdit1->toPlainText()))));
    if (!cleaned.formula.empty() &&
        MessageBox::Question(this, texts::kShareAsk, QMessageBox::Yes | QMessageBox::No) == QMessageBox::Yes) {
        std::string note = cleaned.notes;
        if (note.size() >= 4)
            note = note.substr(2, note.size() - 4); // without "|>" and "<|"
        const std::string reply = HttpPost(url, ShareUploadBody(m_account.Nickname, key, cleaned.formula, note), 3000);
        if (reply == "success")
            MessageBox::Information(this, texts::kShareUploaded);
        else if (reply == "exist")
            MessageBox::Information(this, texts::kShareExists);
        else
            MessageBox::Information(this, texts::kShareUploadFailed);
        return;
    }
    const std::string reply = HttpPost(url, ShareLookupBody(m_account.Nickname, key), 3000);
    if (reply == "error") {
        MessageBox::Information(this, texts::kShareRemoteError);
    } else if (reply == "null") {
        MessageBox::Information(this, texts::kShareNone);
    } else if (reply.empty()) {
        MessageBox::Information(this, texts::kShareNoConnection);
    } else {
        QTextCursor end(RichEdit1->document());
        end.movePosition(QTextCursor::End);
        end.insertText(QStringLiteral("\n") + FromBoxText(DecodeShareReply(reply)));
    }
}

// Context menu, tabs and layout ---------------------------------------------

void TFrame5::UpdatePopupMenu(QWidget* box)
{
    m_menuBox = box;
    const bool formula = box == RichEdit1, pseudo = box == RichEdit2;
    bool selection = false, beforeEnd = false;
    if (auto* rich = qobject_cast<QTextEdit*>(box)) {
        selection = rich->textCursor().hasSelection();
        beforeEnd = !rich->textCursor().atEnd();
    } else if (auto* plain = qobject_cast<QPlainTextEdit*>(box)) {
        selection = plain->textCursor().hasSelection();
        beforeEnd = !plain->textCursor().atEnd();
    }
    const QMimeData* clip = QGuiApplication::clipboard()->mimeData();
    m_cut->setVisible(!pseudo);
    m_cut->setEnabled(selection);
    m_copy->setEnabled(selection);
    m_paste->setVisible(!pseudo);
    m_paste->setEnabled(clip && clip->hasText());
    m_delete->setVisible(!pseudo);
    m_delete->setEnabled(selection || beforeEnd);
    m_send->setVisible(pseudo);
    m_send->setEnabled(selection);
    m_refresh->setVisible(formula || pseudo);
    m_field->setVisible(formula || pseudo);
    m_wildcard->setVisible(formula);
}

void TFrame5::tabChanged()
{
    QWidget* tab = PageControl1->currentWidget();
    if (tab == TabSheet3) {
        Frame7->Layout({7});
    } else {
        if (tab == TabSheet1 && browser())
            browser()->ClearSelection();
        Frame7->Layout({0, 1, 2, 3, 4, 5, 6});
        Frame7->SpeedButton2->setText(tab == TabSheet2 ? QStringLiteral("字段符") : QStringLiteral("标记"));
        if (tab == TabSheet2 && PreviousTab == TabSheet1)
            SyncSelection();
    }
    PlaceToolbar();
    PreviousTab = tab;
}

// Page marking, derivation and test runs ------------------------------------

WebEngineBrowser* TFrame5::browser() const
{
    return m_wizard ? m_wizard->Browser() : nullptr;
}

void TFrame5::addLine(std::string_view text)
{
    QString line = FromGbk(text);
    line.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    QTextCursor end(Memo1->document());
    end.movePosition(QTextCursor::End);
    end.insertText(line + QLatin1Char('\n'));
}

void TFrame5::RunTest(int kind)
{
    Memo1->clear();
    TestInput input;
    input.kind = kind;
    input.name = ToGbk(Edit1->text());
    input.guide = ToGbk(Edit2->text());
    input.page = ToGbk(Edit3->text());
    input.element = ToGbk(Edit4->text());
    input.timeout = ToGbk(Edit5->text());
    input.grabBox = BoxText(RichEdit1->toPlainText());
    input.clearTags = CheckBox1->isChecked();
    input.verify = BuildVerifyFormula();

    TestCallbacks callbacks;
    callbacks.add = [this](std::string_view text) { addLine(text); };
    callbacks.repair = [this](std::string_view message) { MessageBox::Information(this, FromGbk(message)); };
    callbacks.pseudoCode = [this, &input, kind](uint32_t timeoutMs) {
        if (kind == 0 || PseudoCode.empty()) {
            // The wizard loads the page and sets the pseudo-code when it reads the source.
            SetTabShown(TabSheet2, false);
            SetTabShown(TabSheet1, false);
            PseudoCode.clear();
            if (m_wizard) {
                m_wizard->SetBrowserMode();
                m_wizard->PrepareWizard(StripSpace(input.guide), StripSpace(input.page), timeoutMs,
                                        StripSpace(input.element));
                m_wizard->exec();
            }
        } else if (WebEngineBrowser* b = browser()) {
            // The page already in the browser, without the marks.
            PseudoCode = PlainPseudoCode(b->PageSource());
        }
        if (!PseudoCode.empty() && !TabShown(TabSheet2)) {
            SetTabShown(TabSheet2, true);
            PageControl1->setCurrentWidget(TabSheet2);
            ShowPseudoCode(PseudoCode);
        }
        return PseudoCode;
    };
    const TestEnd end = vexory::RunTest(input, callbacks);
    if (end == TestEnd::PageShown && TabShown(TabSheet1))
        PageControl1->setCurrentWidget(TabSheet1);
    Memo1->moveCursor(QTextCursor::End);
    Memo1->ensureCursorVisible();
    if (kind != 0)
        PageControl1->setCurrentWidget(TabSheet3);
}

void TFrame5::ShowPseudoCode(const std::string& pseudoCode)
{
    RichEdit2->setPlainText(FromBoxText(pseudoCode));
    ColourMarkers(RichEdit2, false);
}

void TFrame5::MarkClick()
{
    if (PageControl1->currentWidget() == TabSheet2) {
        insertMarkerAt(RichEdit2, QStringLiteral("{>") + QString::fromStdString(NextFieldName()) + QStringLiteral("<}"),
                       false);
        return;
    }
    WebEngineBrowser* b = browser();
    if (!b || b->SelectionLength() == 0) {
        MessageBox::Information(this, texts::kSelectFirst);
        return;
    }
    b->MarkSelection();
    b->ClearSelection();
    PseudoCode = MakePseudoCode(b->PageSource());
    ShowPseudoCode(PseudoCode);
    // The caret goes behind the newest marker.
    const QString marker = QStringLiteral("{>") + QString::fromStdString(CurrentFieldName()) + QStringLiteral("<}");
    const qsizetype at = RichEdit2->toPlainText().indexOf(marker);
    if (at >= 0) {
        QTextCursor cursor = RichEdit2->textCursor();
        cursor.setPosition(static_cast<int>(at + marker.size()));
        RichEdit2->setTextCursor(cursor);
        CentreCaretLine();
    }
}

void TFrame5::ClearMarksClick()
{
    WebEngineBrowser* b = browser();
    if (!b)
        return;
    b->RemoveMarks(kMarkColour);
    PseudoCode = MakePseudoCode(b->PageSource());
    ShowPseudoCode(PseudoCode);
}

void TFrame5::DeriveClick()
{
    std::string formula;
    switch (DeriveGrabFormula(BoxText(RichEdit2->toPlainText()), formula)) {
    case DeriveResult::NoFieldMarker:
        if (PageControl1->currentWidget() == TabSheet2)
            MessageBox::Information(this, texts::kAddFieldFirst);
        else if (PageControl1->currentWidget() == TabSheet1)
            MessageBox::Information(this, texts::kMarkFirst);
        return;
    case DeriveResult::Failed:
        MessageBox::Information(this, texts::kDeriveFailed);
        return;
    case DeriveResult::Done:
        break;
    }
    const QString text = FromGbk(formula);
    if (RichEdit1->toPlainText().trimmed().isEmpty()) {
        RichEdit1->setPlainText(text);
        RefreshFieldLists(formula); // the condition rows offer the new fields at once
        return;
    }
    switch (MessageBox::Question(this, texts::kDeriveReplace.arg(text),
                                 QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel)) {
    case QMessageBox::Yes:
        RichEdit1->setPlainText(text);
        break;
    case QMessageBox::No: {
        QTextCursor end(RichEdit1->document());
        end.movePosition(QTextCursor::End);
        end.insertText(QStringLiteral("\n") + text);
        break;
    }
    default:
        return;
    }
    RefreshFieldLists(BoxText(RichEdit1->toPlainText()));
}

qsizetype TFrame5::FindWrapped(const QString& text, const QString& needle, qsizetype selectionStart,
                               qsizetype selectionEnd, bool forward)
{
    if (needle.isEmpty())
        return -1;
    if (forward) {
        const qsizetype at = text.indexOf(needle, selectionEnd, Qt::CaseInsensitive);
        return at >= 0 ? at : text.indexOf(needle, 0, Qt::CaseInsensitive);
    }
    // The last match that begins before the selection, else the last one of all.
    const qsizetype at = selectionStart > 0 ? text.lastIndexOf(needle, selectionStart - 1, Qt::CaseInsensitive) : -1;
    return at >= 0 ? at : text.lastIndexOf(needle, -1, Qt::CaseInsensitive);
}

void TFrame5::FindClick(bool forward)
{
    const QString needle = Frame7->FindString();
    if (needle.isEmpty())
        return;
    if (PageControl1->currentWidget() == TabSheet2) {
        RichEdit2->setFocus();
        QTextCursor cursor = RichEdit2->textCursor();
        const qsizetype at =
            FindWrapped(RichEdit2->toPlainText(), needle, cursor.selectionStart(), cursor.selectionEnd(), forward);
        if (at < 0)
            return;
        cursor.setPosition(static_cast<int>(at));
        cursor.setPosition(static_cast<int>(at + needle.size()), QTextCursor::KeepAnchor);
        RichEdit2->setTextCursor(cursor);
        RichEdit2->ensureCursorVisible();
        CentreCaretLine();
        return;
    }
    if (WebEngineBrowser* b = browser()) {
        if (b->View())
            b->View()->setFocus();
        b->FindText(ToGbk(needle), forward);
    }
}

void TFrame5::CentreCaretLine()
{
    // Measured now, from the box as laid out: a height taken before the box was
    // first shown would put the caret line just out of sight.
    QWidget* viewport = RichEdit2->viewport();
    const int lineHeight = std::max(1, QFontMetrics(RichEdit2->font()).lineSpacing());
    VisibleLines = std::max(1, viewport->height() / lineHeight);
    const QRect caret = RichEdit2->cursorRect();
    const int margin = std::min(3 * lineHeight, viewport->height() / 4);
    if (caret.top() >= margin && caret.bottom() <= viewport->height() - margin)
        return;
    QScrollBar* bar = RichEdit2->verticalScrollBar();
    bar->setValue(bar->value() + caret.center().y() - viewport->height() / 2);
}

void TFrame5::SyncSelection()
{
    WebEngineBrowser* b = browser();
    if (!b)
        return;
    const std::pair<int, int> bookmark = b->SelectionBookmark();
    if (bookmark.first < 0)
        return;
    const int length = b->SelectionLength();
    const std::string temporary = "background-color:" + std::string(kTemporaryColour);
    b->MarkSelection(temporary);
    const std::string source = b->PageSource();
    b->RemoveMarks(std::string(kTemporaryColour));
    b->RestoreSelection(bookmark);

    QString text = FromBoxText(SelectionPseudoCode(source));
    const QString placeholder = QString::fromLatin1(kSelectionPlaceholder.data(), kSelectionPlaceholder.size());
    const qsizetype start = text.indexOf(placeholder);
    if (start < 0)
        return;
    text.remove(placeholder);
    RichEdit2->setPlainText(text);
    // The shortest stretch whose visible text is as long as the browser's selection:
    // tags, line breaks and the indentation after them do not count, blank runs count once.
    qsizetype end = start;
    int counted = 0;
    bool inTag = false, lineStart = false;
    QChar previous;
    while (end < text.size() && counted < length) {
        const QChar c = text[end++];
        if (inTag) {
            inTag = c != QLatin1Char('>');
            continue;
        }
        if (c == QLatin1Char('<')) {
            inTag = true;
            continue;
        }
        if (c == QLatin1Char('\n')) {
            lineStart = true;
            continue;
        }
        if (c == QLatin1Char(' ') && (lineStart || previous == QLatin1Char(' ')))
            continue;
        lineStart = false;
        previous = c;
        ++counted;
    }
    QTextCursor cursor = RichEdit2->textCursor();
    cursor.setPosition(static_cast<int>(start));
    cursor.setPosition(static_cast<int>(end), QTextCursor::KeepAnchor);
    RichEdit2->setTextCursor(cursor);
    if (text.contains(QStringLiteral("{>")))
        ColourMarkers(RichEdit2, false);
    CentreCaretLine();
}

void TFrame5::PlaceToolbar()
{
    // From 190 pixels right of the page control's left edge, or right up against
    // the tabs when the toolbar already stands there and there is room.
    const QPoint origin = PageControl1->mapTo(this, QPoint(0, 0));
    const int first = origin.x() + 190;
    const QTabBar* bar = PageControl1->tabBar();
    int tabsLeft = bar->width();
    for (int i = 0; i < bar->count(); ++i)
        if (bar->isTabVisible(i))
            tabsLeft = std::min(tabsLeft, bar->tabRect(i).left());
    tabsLeft = bar->mapTo(this, QPoint(tabsLeft, 0)).x();
    int left = first;
    if (Frame7->x() >= first)
        left = std::max(first, tabsLeft - Frame7->width() - 10);
    Frame7->move(left, origin.y() + std::max(0, (bar->height() - TFrame7::kHeight) / 2));
    Frame7->raise();
}

void TFrame5::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    PlaceToolbar();
    const QFontMetrics metrics(RichEdit2->font());
    VisibleLines = std::max(1, RichEdit2->viewport()->height() / std::max(1, metrics.lineSpacing()));
}

bool TFrame5::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == PageControl1 &&
        (event->type() == QEvent::Resize || event->type() == QEvent::Move || event->type() == QEvent::LayoutRequest)) {
        PlaceToolbar();
    } else if (watched == ScrollBox1->viewport()) {
        if (event->type() == QEvent::MouseButtonPress) {
            ScrollBox1->setFocus();
        } else if (event->type() == QEvent::Wheel) {
            // One line per turn of the wheel.
            const auto* wheel = static_cast<QWheelEvent*>(event);
            QScrollBar* bar = ScrollBox1->verticalScrollBar();
            bar->setValue(bar->value() + (wheel->angleDelta().y() > 0 ? -bar->singleStep() : bar->singleStep()));
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}

} // namespace vexory
