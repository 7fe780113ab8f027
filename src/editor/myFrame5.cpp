#include "editor/myFrame5.h"

#include "browser/webengine_browser.h"
#include "editor/Unit3.h"
#include "editor/field_name_row.h"
#include "editor/marker_highlighter.h"
#include "editor/myFrame6.h"
#include "editor/myFrame7.h"
#include "editor/pseudo_code.h"
#include "editor/test_run.h"
#include "editor/ui_texts.h"
#include "editor/verify_rows.h"
#include "formula/grab_formula.h"
#include "formula/markers.h"
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

TFrame5::TFrame5(TaskList& tasks, TProcessValues& values, QWidget* parent)
    : QWidget(parent), m_tasks(tasks), m_account(tasks.Account()), m_values(values)
{
    buildFields();
    buildPages();
    buildPopupMenu();
    connectControls();
    // Enter belongs to the box it is typed in (the find box searches with it); no
    // button of the editor is pressed by it.
    for (QPushButton* b : findChildren<QPushButton*>())
        b->setAutoDefault(false);
}

// Left half: a scroll box whose content is laid out by position, so that the
// controls below the verification group can move with its rows.
void TFrame5::buildFields()
{
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
    caption(texts::kTaskNameCaption, c, 12, y);
    Edit1 = edit(c, 96, y, 420, QStringLiteral("Edit1"));
    redStar(c, 522, y);
    y += 32;
    caption(texts::kGuideUrlCaption, c, 12, y);
    Edit2 = edit(c, 96, y, 420, QStringLiteral("Edit2"));
    redStar(c, 522, y + 16);
    auto* arrow = new QLabel(QStringLiteral("<"), c);
    arrow->setStyleSheet(QStringLiteral("color: red; font-size: 9px;"));
    arrow->setGeometry(530, y + 18, 10, 16);
    y += 32;
    caption(texts::kPageUrlCaption, c, 12, y);
    Edit3 = edit(c, 96, y, 420, QStringLiteral("Edit3"));
    y += 32;
    caption(texts::kElementCaption, c, 12, y);
    Edit4 = edit(c, 96, y, 420, QStringLiteral("Edit4"));
    y += 32;
    caption(texts::kRefreshCaption, c, 12, y);
    Edit6 = edit(c, 96, y, 70, QStringLiteral("Edit6"));
    caption(texts::kSecondsUnit, c, 170, y, 20);
    redStar(c, 188, y);
    caption(texts::kTimeoutCaption, c, 216, y, 60);
    Edit5 = edit(c, 280, y, 70, QStringLiteral("Edit5"));
    caption(texts::kSecondsUnit, c, 354, y, 20);
    redStar(c, 372, y);
    Button3 = button(texts::kTestSource, c, 441, y - 1);
    y += 36;

    GroupBox1 = new QGroupBox(texts::kGrabGroup, c);
    GroupBox1->setGeometry(8, y, kGroupWidth, 262);
    RichEdit1 = new QTextEdit(GroupBox1);
    RichEdit1->setObjectName(QStringLiteral("RichEdit1"));
    RichEdit1->setAcceptRichText(false);
    RichEdit1->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    RichEdit1->setGeometry(8, 22, kGroupWidth - 16, 196);
    RichEdit1->setContextMenuPolicy(Qt::CustomContextMenu);
    Button5 = button(texts::kFieldMarkerButton, GroupBox1, 8, 226, 92);
    Button6 = button(texts::kWildcardButton, GroupBox1, 104, 226, 84);
    Button1 = button(texts::kShareButton, GroupBox1, 192, 226, 60);
    Button7 = button(texts::kTestGrab, GroupBox1, 340, 226, 75);
    Button8 = button(texts::kConfirmFormula, GroupBox1, 424, 226, 92);
    y += 262 + 10;

    CheckBox1 = new QCheckBox(texts::kClearTags, c);
    CheckBox1->setGeometry(16, y, 130, 24);
    caption(texts::kUpdateCheckCaption, c, 216, y, 90);
    ComboBox1 = dropDown(c, 310, y, 206);
    ComboBox1->addItems({texts::kCompareAll, texts::kCompareLastScreen});
    ComboBox1->setCurrentIndex(1);
    y += 36;

    GroupBox2 = new QGroupBox(texts::kVerifyGroup, c);
    GroupBox2->setGeometry(8, y, kGroupWidth, kGroup2Height);
    // In line with the fields of the added rows, which stand 8 pixels in.
    ComboBox21 = dropDown(GroupBox2, 16, 22, 84);
    ComboBox22 = dropDown(GroupBox2, 104, 22, 52);
    TFrame6::FillArithmetic(ComboBox22);
    ComboBox23 = dropDown(GroupBox2, 160, 22, 84);
    ComboBox24 = dropDown(GroupBox2, 248, 22, 76);
    TFrame6::FillComparison(ComboBox24);
    Edit21 = edit(GroupBox2, 328, 22, 100, QStringLiteral("Edit21"));
    Button21 = button(texts::kAddRow, GroupBox2, 432, 21);
    Button22 = button(texts::kTestVerify, GroupBox2, 432, 58);
    for (QComboBox* box : {ComboBox21, ComboBox23})
        box->addItem(QString());
    y += kGroup2Height + 10;

    Label22 = caption(texts::kNotifyInterval, c, 16, y, 300);
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
    CheckBox2 = new QCheckBox(texts::kPushToPlugin, c);
    CheckBox2->setGeometry(16, y + 20, 130, 24);
    submit = button(texts::kSaveAndClose, c, 416, y + 18, 100);
    m_content->resize(kScrollBoxWidth - 20, submit->geometry().bottom() + 16);

    Edit6->setText(QStringLiteral("150"));
    Edit5->setText(QStringLiteral("10"));
}

// Right half: the browser, pseudo-code and test result pages, the toolbar on their tab row.
void TFrame5::buildPages()
{
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
    m_formulaColours = new MarkerHighlighter(RichEdit1->document(), true);
    m_pseudoColours = new MarkerHighlighter(RichEdit2->document(), false);
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
    PageControl1->addTab(TabSheet3, texts::kTestResultsTab);
    PageControl1->addTab(TabSheet2, texts::kPseudoCodeTab);
    PageControl1->addTab(TabSheet1, texts::kBrowserTab);
    SetTabShown(TabSheet1, false);
    SetTabShown(TabSheet2, false);
    PageControl1->setCurrentWidget(TabSheet3);
    PreviousTab = TabSheet3;

    Splitter1 = new QSplitter(Qt::Horizontal, this);
    Splitter1->addWidget(ScrollBox1);
    // Above the pages, a row for the toolbar when the tab row has no room for it.
    auto* column = new QWidget;
    auto* columnLayout = new QVBoxLayout(column);
    columnLayout->setContentsMargins(0, 0, 0, 0);
    columnLayout->setSpacing(0);
    m_toolbarRow = new QWidget(column);
    m_toolbarRow->setFixedHeight(TFrame7::kHeight + 4);
    m_toolbarRow->hide();
    columnLayout->addWidget(m_toolbarRow);
    columnLayout->addWidget(PageControl1, 1);
    // Below the pages, the marked fields' names: seen from every tab.
    FieldNames1 = new FieldNameRow(column);
    columnLayout->addWidget(FieldNames1);
    Splitter1->addWidget(column);
    Splitter1->setChildrenCollapsible(false);
    Splitter1->setStretchFactor(1, 1);
    Splitter1->setSizes({kScrollBoxWidth, 610});
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(Splitter1);

    Frame7 = new TFrame7(this);
    Frame7->raise();
}

// The shared context menu of the formula box, the pseudo-code box and the memo.
void TFrame5::buildPopupMenu()
{
    PopupMenu1 = new QMenu(this);
    m_cut = PopupMenu1->addAction(texts::kMenuCut);
    m_cut->setShortcut(QKeySequence::Cut);
    m_copy = PopupMenu1->addAction(texts::kMenuCopy);
    m_copy->setShortcut(QKeySequence::Copy);
    m_paste = PopupMenu1->addAction(texts::kMenuPaste);
    m_paste->setShortcut(QKeySequence::Paste);
    m_delete = PopupMenu1->addAction(texts::kDelete);
    m_delete->setShortcut(QKeySequence::Delete);
    m_selectAll = PopupMenu1->addAction(texts::kMenuSelectAll);
    m_selectAll->setShortcut(QKeySequence::SelectAll);
    m_send = PopupMenu1->addAction(texts::kMenuSend);
    m_refresh = PopupMenu1->addAction(texts::kMenuRecolour);
    m_field = PopupMenu1->addAction(texts::kMenuFieldMarker);
    m_wildcard = PopupMenu1->addAction(texts::kMenuWildcard);
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
    });
    connect(m_refresh, &QAction::triggered, this,
            [this, cursorOf] { cursorOf([this](QTextEdit* rich) { highlighterOf(rich)->rehighlight(); }); });
    connect(m_field, &QAction::triggered, this, [this, cursorOf] {
        cursorOf([this](QTextEdit* rich) { insertMarkerAt(rich, FieldMarker(NextFieldName())); });
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
}

void TFrame5::connectControls()
{
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
}

void TFrame5::SetTabShown(QWidget* tab, bool shown)
{
    PageControl1->setTabVisible(PageControl1->indexOf(tab), shown);
}

bool TFrame5::TabShown(QWidget* tab) const
{
    return PageControl1->isTabVisible(PageControl1->indexOf(tab));
}

void TFrame5::TakeWizardPage(const std::string& pseudoCode, QWidget* browserView)
{
    PseudoCode = pseudoCode;
    updateFieldNames();
    SetTabShown(TabSheet1, true);
    PageControl1->setCurrentWidget(TabSheet1);
    BrowserPanel->layout()->addWidget(browserView);
    browserView->show();
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
        Frame7->SpeedButton2->setText(tab == TabSheet2 ? texts::kMenuFieldMarker : texts::kMarkButton);
        if (tab == TabSheet2 && PreviousTab == TabSheet1)
            SyncSelection();
        if (tab == TabSheet2 && m_pseudoCodeUnseen)
            ShowPseudoCodeWhenSeen();
    }
    PlaceToolbar();
    PreviousTab = tab;
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
    // On a narrow window the toolbar does not fit beside the tabs: it gets a row of
    // its own above them rather than covering their labels.
    const bool ownRow = first + Frame7->width() + 10 > tabsLeft;
    if (m_toolbarRow->isVisibleTo(this) != ownRow)
        m_toolbarRow->setVisible(ownRow);
    const QPoint row = m_toolbarRow->mapTo(this, QPoint(0, 0));
    Frame7->move(ownRow ? row.x() + 4 : left,
                 ownRow ? row.y() + 2 : origin.y() + std::max(0, (bar->height() - TFrame7::kHeight) / 2));
    Frame7->raise();
}

void TFrame5::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    PlaceToolbar();
    RichEdit1->viewport()->update();
    RichEdit2->viewport()->update();
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
