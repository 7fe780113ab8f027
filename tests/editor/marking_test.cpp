// Pointing at the data in the real browser engine: the wizard's steps, marking two
// cells of a listing, deriving the formula, the three test runs, and a run of the
// task so made. Offscreen, against pages served on 127.0.0.1.

#include "browser/webengine_browser.h"
#include "editor/Unit2.h"
#include "editor/Unit3.h"
#include "editor/field_name_row.h"
#include "editor/myFrame5.h"
#include "editor/myFrame6.h"
#include "editor/myFrame7.h"
#include "monitor/myFrame4.h"
#include "browser/ready_wait.h"
#include "support/gui_main.h"
#include "support/message_boxes.h"
#include "support/test_http_server.h"
#include "widgets/hint_edit.h"
#include "widgets/message_box.h"
#include "widgets/qt_text.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QInputMethodEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTabBar>
#include <QTabWidget>
#include <QTest>
#include <QTextEdit>
#include <QTimer>
#include <QToolButton>

#include <atomic>
#include <mutex>
#include <thread>

using namespace vexory;
using vexory::test::TestHttpServer;

namespace {

vexory::test::MessageBoxes g_messages; // every box shown, and the answer to questions

class Site
{
public:
    Site()
    {
        m_http.routes().Get("/list", [this](const httplib::Request&, httplib::Response& res) {
            std::lock_guard lock(m_mutex);
            std::string rows;
            for (const auto& [name, price] : m_rows)
                rows += "<tr><td>" + name + "</td><td>" + price + "</td></tr>";
            res.set_content("<html><head><title>Fruit list</title></head><body><h1>Fruit</h1><table>" + rows +
                                "</table></body></html>",
                            "text/html; charset=utf-8");
        });
        // A header row of its own, as many listings have: the first row, of header cells.
        m_http.routes().Get("/headed", [](const httplib::Request&, httplib::Response& res) {
            res.set_content("<html><body><table><tr><th>商品名</th><th>价格 (元)</th></tr>"
                            "<tr><td>Apple</td><td>5</td></tr><tr><td>Pear</td><td>12</td></tr></table></body></html>",
                            "text/html; charset=utf-8");
        });
        m_http.routes().Get("/slow", [this](const httplib::Request& req, httplib::Response& res) {
            if (req.has_param("counted"))
                ++m_slowRequests;
            std::this_thread::sleep_for(std::chrono::seconds(3));
            res.set_content("<html><body><p>late</p></body></html>", "text/html; charset=utf-8");
        });
        m_http.routes().Get("/form", [](const httplib::Request&, httplib::Response& res) {
            res.set_content("<html><body><p>above</p><textarea id=\"t\">Pear 12</textarea></body></html>",
                            "text/html; charset=utf-8");
        });
        m_http.routes().Get("/guide", [](const httplib::Request&, httplib::Response& res) {
            res.set_content("<html><head><title>Guide</title></head><body><p>welcome</p></body></html>",
                            "text/html; charset=utf-8");
        });
        m_http.routes().Get("/button", [](const httplib::Request&, httplib::Response& res) {
            res.set_content(R"(<html><body><button id="more" onclick="document.getElementById('t').innerHTML=
                '<tr><td>Clicked</td><td>1</td></tr>'">more</button><table id="t"></table></body></html>)",
                            "text/html; charset=utf-8");
        });
        m_http.routes().Get("/data.txt", [](const httplib::Request&, httplib::Response& res) {
            res.set_header("Content-Disposition", "attachment; filename=\"data.txt\"");
            res.set_content("<table><tr><td>Downloaded</td><td>3</td></tr></table>", "application/octet-stream");
        });
        m_http.start();
    }
    void add(std::string name, std::string price)
    {
        std::lock_guard lock(m_mutex);
        m_rows.emplace_back(std::move(name), std::move(price));
    }
    std::string url(const std::string& path) const { return m_http.url(path); }
    std::atomic<int> m_slowRequests{0};

private:
    TestHttpServer m_http;
    std::mutex m_mutex;
    std::vector<std::pair<std::string, std::string>> m_rows{
        {"Apple", "5"}, {"Pear", "12"}, {"Plum", "8"}, {"Melon", "30"}};
};

// Selects the text of one table cell, as a user's drag over it would.
void selectCell(WebEngineBrowser& browser, int cell)
{
    const QString script =
        QStringLiteral(
            "(function () { var td = document.getElementsByTagName('td')[%1]; var r = document.createRange();"
            " r.selectNodeContents(td); var s = window.getSelection(); s.removeAllRanges(); s.addRange(r);"
            " return s.toString(); })()")
            .arg(cell);
    QVERIFY(!browser.RunScript(script).toString().isEmpty());
}

QString memo(TFrame5* p)
{
    return p->Memo1->toPlainText();
}

// The editor window with its wizard, shown, as the main window sets them up.
struct EditorWithWizard
{
    TAccountRecord account;
    TProcessValues values;
    TForm3 wizard;
    TaskList tasks{account};
    TForm2 editor{tasks, values};
    EditorWithWizard()
    {
        editor.SetWizard(&wizard);
        editor.show();
    }
};

} // namespace

class MarkingTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        g_messages.install();
        // The wizard's steps keep the program's quiet of two seconds: a download that
        // the browser announces later than a shorter quiet is missed by the reading step.
        ReadyWait::SetQuietMs(ReadyWait::kQuietMs);
    }
    void init() { g_messages.reset(); }

    void findWraps();
    void wizardSteps();
    void wizardSaysWhyAPageDidNotLoad();
    void toolbarLeavesTheTabLabelsFree();
    void markDeriveTestAndRun();
    void markingSaysWhatItCouldNotDo();
    void markedFieldsAreNamed();

private:
    Site m_site;
};

void MarkingTest::findWraps()
{
    const QString text = QStringLiteral("abc ABC abc");
    QCOMPARE(TFrame5::FindWrapped(text, QStringLiteral("abc"), 0, 0, true), 0);
    QCOMPARE(TFrame5::FindWrapped(text, QStringLiteral("abc"), 0, 3, true), 4);  // case ignored
    QCOMPARE(TFrame5::FindWrapped(text, QStringLiteral("abc"), 8, 11, true), 0); // past the last: wraps
    QCOMPARE(TFrame5::FindWrapped(text, QStringLiteral("abc"), 8, 11, false), 4);
    QCOMPARE(TFrame5::FindWrapped(text, QStringLiteral("abc"), 0, 3, false), 8); // before the first: wraps
    QCOMPARE(TFrame5::FindWrapped(text, QStringLiteral("xyz"), 0, 0, true), -1);
}

void MarkingTest::wizardSteps()
{
    EditorWithWizard shown;
    TForm3& wizard = shown.wizard;
    TFrame5* p = shown.editor.Panel();
    QCOMPARE(wizard.CurrentMode(), TForm3::Mode::Browser);

    // Guide and page URL: guide, then page, then the source on the third click.
    wizard.PrepareWizard(m_site.url("/guide"), m_site.url("/list"), 15000, "");
    QCOMPARE(wizard.windowTitle(), QStringLiteral("Loading"));
    QStringList statuses;
    bool screenshot = false;
    QTimer::singleShot(0, &wizard, [&] {
        QTRY_COMPARE_WITH_TIMEOUT(wizard.StatusLabel()->text(), QStringLiteral("引导URL已载入！请点击下一步.."), 20000);
        statuses << wizard.StatusLabel()->text();
        QTRY_COMPARE_WITH_TIMEOUT(wizard.windowTitle(), QStringLiteral("Guide"), 10000); // follows the page
        QCOMPARE(wizard.Step(), 2);
        QTest::mouseClick(wizard.NextButton(), Qt::LeftButton);
        QTRY_COMPARE_WITH_TIMEOUT(wizard.StatusLabel()->text(), QStringLiteral("网页URL已载入！请点击下一步.."), 20000);
        statuses << wizard.StatusLabel()->text();
        QCOMPARE(wizard.Step(), int(StepReadSource));
        QCOMPARE(wizard.LastUrl(), QString::fromStdString(m_site.url("/list")));
        vexory::test::SaveScreen(wizard, QStringLiteral("wizard"));
        screenshot = true;
        QTest::mouseClick(wizard.NextButton(), Qt::LeftButton);
    });
    wizard.exec();
    QVERIFY(screenshot);
    QCOMPARE(statuses.size(), 2);
    QCOMPARE(wizard.StatusLabel()->text(), QStringLiteral("获取源码成功！请关闭窗口或标记所需数据.."));
    QVERIFY(p->PseudoCode.find("fruit") != std::string::npos);
    // Closed with a pseudo-code: the browser now lives in the editor's tab "浏览器".
    QVERIFY(p->TabShown(p->TabSheet1));
    QCOMPARE(p->PageControl1->currentWidget(), p->TabSheet1);
    QVERIFY(p->BrowserPanel->isAncestorOf(wizard.Browser()->View()));

    // Page and element: the page, then the click, then the source.
    p->PseudoCode.clear();
    wizard.PrepareWizard("", m_site.url("/button"), 15000, "more");
    QTimer::singleShot(0, &wizard, [&] {
        QVERIFY(wizard.isAncestorOf(wizard.Browser()->View())); // back in the wizard
        QTRY_COMPARE_WITH_TIMEOUT(wizard.StatusLabel()->text(), QStringLiteral("网页URL已载入！请点击下一步.."), 20000);
        QCOMPARE(wizard.Step(), int(StepClick));
        QTest::mouseClick(wizard.NextButton(), Qt::LeftButton);
        QTRY_COMPARE_WITH_TIMEOUT(wizard.StatusLabel()->text(), QStringLiteral("页面元素已点击！请点击下一步.."),
                                  20000);
        QTest::mouseClick(wizard.NextButton(), Qt::LeftButton);
    });
    wizard.exec();
    QVERIFY(p->PseudoCode.find("clicked") != std::string::npos);

    // A page the browser would save: its text is shown in its place.
    p->PseudoCode.clear();
    wizard.PrepareWizard("", m_site.url("/data.txt"), 5000, "");
    QTimer::singleShot(0, &wizard, [&] {
        QTRY_COMPARE_WITH_TIMEOUT(wizard.Step(), int(StepReadSource), 20000);
        QTest::mouseClick(wizard.NextButton(), Qt::LeftButton);
    });
    wizard.exec();
    QVERIFY2(p->PseudoCode.find("downloaded") != std::string::npos, p->PseudoCode.c_str());

    // An element that is not there.
    wizard.PrepareWizard("", m_site.url("/button"), 15000, "missing");
    QTimer::singleShot(0, &wizard, [&] {
        QTRY_COMPARE_WITH_TIMEOUT(wizard.Step(), int(StepClick), 20000);
        QTest::mouseClick(wizard.NextButton(), Qt::LeftButton);
        QTRY_COMPARE_WITH_TIMEOUT(wizard.StatusLabel()->text(), QStringLiteral("获取页面元素失败！请稍后重试.."),
                                  20000);
        QCOMPARE(wizard.Step(), int(StepClick));
        wizard.close();
    });
    wizard.exec();
}

void MarkingTest::wizardSaysWhyAPageDidNotLoad()
{
    EditorWithWizard shown;
    TForm3& wizard = shown.wizard;
    TFrame5* p = shown.editor.Panel();
    const struct
    {
        std::string url;
        QString why;
    } failures[] = {{vexory::test::ClosedPortUrl("/list"), QStringLiteral("连接被拒绝")},
                    {m_site.url("/no/such/page"), QStringLiteral("HTTP 404")}};
    // Closed with X after a good load: the loaded page is taken, no access error.
    wizard.PrepareWizard("", m_site.url("/list"), 15000, "");
    QTimer::singleShot(0, &wizard, [&] {
        QTRY_COMPARE_WITH_TIMEOUT(wizard.StatusLabel()->text(), QStringLiteral("网页URL已载入！请点击下一步.."), 20000);
        wizard.close();
    });
    wizard.exec();
    QVERIFY(p->PseudoCode.find("fruit") != std::string::npos);
    // A new start shows nothing of that page, and neither does an error after it.
    for (const auto& f : failures) {
        p->PseudoCode.clear();
        wizard.PrepareWizard("", f.url, 10000, "");
        QVERIFY(wizard.Browser()->PageSource().empty());
        QTimer::singleShot(0, &wizard, [&] {
            QTRY_VERIFY_WITH_TIMEOUT(wizard.StatusLabel()->text().contains(f.why), 30000);
            QVERIFY(wizard.StatusLabel()->text().startsWith(QStringLiteral("网页载入失败")));
            QVERIFY(wizard.windowTitle() != QStringLiteral("Loading"));
            QCOMPARE(wizard.Step(), 2); // "下一步" tries again
            QVERIFY(wizard.Browser()->PageSource().find("fruit") == std::string::npos);
            wizard.close();
        });
        wizard.exec();
        QVERIFY(p->PseudoCode.empty());
    }
}

void MarkingTest::toolbarLeavesTheTabLabelsFree()
{
    TAccountRecord account;
    TProcessValues values;
    TaskList tasks(account);
    TForm2 editor(tasks, values);
    TFrame5* p = editor.Panel();
    for (QWidget* tab : {p->TabSheet1, p->TabSheet2})
        p->SetTabShown(tab, true);
    editor.show();
    for (QWidget* shown : {p->TabSheet1, p->TabSheet2})
        for (int width : {1024, 1400, 900}) {
            p->PageControl1->setCurrentWidget(shown);
            editor.resize(width, 700);
            QTest::qWait(50);
            const QTabBar* bar = p->PageControl1->tabBar();
            const QRect toolbar = p->Frame7->geometry();
            if (width == 900)
                vexory::test::SaveScreen(editor, QStringLiteral("editor_900"));
            for (int i = 0; i < bar->count(); ++i) {
                if (!bar->isTabVisible(i))
                    continue;
                const QRect tab(bar->mapTo(p, bar->tabRect(i).topLeft()), bar->tabRect(i).size());
                QVERIFY2(!toolbar.intersects(tab), qPrintable(QStringLiteral("%1 px: tab %2").arg(width).arg(i)));
            }
            if (width == 1024 && shown == p->TabSheet2)
                vexory::test::SaveScreen(editor, QStringLiteral("editor_1024"));
        }
}

void MarkingTest::markDeriveTestAndRun()
{
    TAccountRecord account;
    TProcessValues values;
    TForm3 wizard;
    TaskList tasks(account);
    TForm2 editor(tasks, values);
    editor.SetWizard(&wizard);
    TFrame5* p = editor.Panel();
    p->LoadTask(-1);
    editor.show();
    QVERIFY(QTest::qWaitForWindowExposed(&editor));
    p->Edit1->setText(QStringLiteral("fruit"));
    p->Edit3->setText(QString::fromStdString(m_site.url("/list")));
    p->Edit5->setText(QStringLiteral("15"));
    p->Edit6->setText(QStringLiteral("2"));
    p->ComboBox1->setCurrentIndex(0);

    // "测试1>>": the wizard loads the page; "下一步" reads it.
    QTimer::singleShot(0, &wizard, [&] {
        QTRY_COMPARE_WITH_TIMEOUT(wizard.StatusLabel()->text(), QStringLiteral("网页URL已载入！请点击下一步.."), 20000);
        QTest::mouseClick(wizard.NextButton(), Qt::LeftButton);
    });
    QTest::mouseClick(p->Button3, Qt::LeftButton);
    QVERIFY(memo(p).contains(QStringLiteral("网页源文件获取测试")));
    QVERIFY2(memo(p).contains(QStringLiteral("<td>\n          apple\n        </td>")), qPrintable(memo(p)));
    QVERIFY(memo(p).endsWith(QStringLiteral("<----------------测试终止---------------->\n")));
    QVERIFY(p->TabShown(p->TabSheet1) && p->TabShown(p->TabSheet2));
    QCOMPARE(p->PageControl1->currentWidget(), p->TabSheet1);
    QVERIFY(p->Frame7->SpeedButton4->isVisible());
    QCOMPARE(p->Frame7->SpeedButton2->text(), QStringLiteral("标记"));

    // Nothing selected: "标记" asks for a selection. Then two cells of the first row.
    WebEngineBrowser& browser = *wizard.Browser();
    QTest::mouseClick(p->Frame7->SpeedButton2, Qt::LeftButton);
    QCOMPARE(g_messages.shown.takeLast(), QStringLiteral("请先选择所需的数据！"));
    QTest::mouseClick(p->Frame7->SpeedButton4, Qt::LeftButton);
    QCOMPARE(g_messages.shown.takeLast(), QStringLiteral("请先在页面上标记出需要抓取的数据！"));
    selectCell(browser, 0);
    QTest::mouseClick(p->Frame7->SpeedButton2, Qt::LeftButton);
    selectCell(browser, 1);
    QTest::mouseClick(p->Frame7->SpeedButton2, Qt::LeftButton);
    QVERIFY(g_messages.shown.isEmpty());
    // The box is filled when its tab is seen (a large page takes seconds to lay out).
    QVERIFY(p->PseudoCode.find("{>ab<}") != std::string::npos);
    QVERIFY(!p->RichEdit2->toPlainText().contains(QStringLiteral("{>")));
    vexory::test::SaveScreen(editor, QStringLiteral("marking_browser"));

    // "提取公式": index markers with the row level negated (the engine adds a tbody).
    QTest::mouseClick(p->Frame7->SpeedButton4, Qt::LeftButton);
    const QString formula = p->RichEdit1->toPlainText();
    // The table has no header row: the fields are numbered.
    QCOMPARE(formula, QStringLiteral("[>2.1.-1.1.1<]{>字段1<}[>2.1.-1.2.1<]{>字段2<}"));
    // The condition rows offer the new fields at once, without "确定 ∨".
    QVERIFY(p->ComboBox21->findText(QStringLiteral("字段2")) >= 0);

    // The pseudo-code tab: the caret behind the newest marker, markers coloured,
    // "字段符" inserts one, find wraps.
    p->PageControl1->setCurrentWidget(p->TabSheet2);
    const QString pseudo = p->RichEdit2->toPlainText();
    QVERIFY2(pseudo.contains(QStringLiteral("{>aa<}")) && pseudo.contains(QStringLiteral("{>ab<}")),
             qPrintable(pseudo));
    QCOMPARE(p->RichEdit2->textCursor().position(), pseudo.indexOf(QStringLiteral("{>ab<}")) + 6);
    QCOMPARE(p->Frame7->SpeedButton2->text(), QStringLiteral("字段符"));
    editor.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&editor));
    QTest::mouseClick(p->Frame7->Edit1, Qt::LeftButton);
    QVERIFY(!p->Frame7->Edit1->ShowsHint());
    QTest::keyClicks(p->Frame7->Edit1, QStringLiteral("<td>"));
    QVERIFY(p->Frame7->UpDown1->isEnabled());
    QTextCursor start = p->RichEdit2->textCursor();
    start.setPosition(0);
    p->RichEdit2->setTextCursor(start);
    QTest::keyClick(p->Frame7->Edit1, Qt::Key_Return);
    const int firstTd = static_cast<int>(p->RichEdit2->toPlainText().indexOf(QStringLiteral("<td>")));
    QCOMPARE(p->RichEdit2->textCursor().selectionStart(), firstTd);
    QTest::mouseClick(p->Frame7->Left, Qt::LeftButton); // before the first: wraps to the last
    QCOMPARE(p->RichEdit2->textCursor().selectionStart(),
             static_cast<int>(p->RichEdit2->toPlainText().lastIndexOf(QStringLiteral("<td>"))));
    vexory::test::SaveScreen(editor, QStringLiteral("marking_pseudocode"));
    // Derivation asked again with a formula in the box: No appends it on a new line.
    g_messages.answer = QMessageBox::No;
    QTest::mouseClick(p->Frame7->SpeedButton4, Qt::LeftButton);
    QVERIFY(g_messages.shown.takeLast().startsWith(QStringLiteral("提取到公式 ：\"[>2.1.-1.1.1<]")));
    QCOMPARE(p->RichEdit1->toPlainText(), formula + QStringLiteral("\n") + formula);
    g_messages.answer = QMessageBox::Cancel;
    QTest::mouseClick(p->Frame7->SpeedButton4, Qt::LeftButton);
    QCOMPARE(p->RichEdit1->toPlainText(), formula + QStringLiteral("\n") + formula);
    p->RichEdit1->setPlainText(formula);

    // "测试2>>": every row of the page, numbered, both fields; the marks play no part.
    QTest::mouseClick(p->Button7, Qt::LeftButton);
    QCOMPARE(p->PageControl1->currentWidget(), p->TabSheet3);
    QVERIFY2(memo(p).contains(QStringLiteral("1\t: 字段1=apple\t| 字段2=5\n")), qPrintable(memo(p)));
    QVERIFY(memo(p).contains(QStringLiteral("2\t: 字段1=pear\t| 字段2=12\n")));
    QVERIFY(memo(p).contains(QStringLiteral("4\t: 字段1=melon\t| 字段2=30\n")));
    QVERIFY(!memo(p).contains(QStringLiteral("5\t:")));
    QVERIFY(!memo(p).contains(QStringLiteral("font")));

    // "测试3>>" with one condition: ab 大于 10.
    p->ConfirmFormula();
    p->ComboBox21->setCurrentIndex(2);
    p->ComboBox24->setCurrentIndex(2);
    p->Edit21->setText(QStringLiteral("10"));
    QTest::mouseClick(p->Button22, Qt::LeftButton);
    const QString out = memo(p);
    const qsizetype verified = out.indexOf(QStringLiteral("以下是通过验证的内容"));
    QVERIFY(verified > 0);
    QCOMPARE(out.mid(verified).count(QStringLiteral("\t: ")), 2);
    QVERIFY(out.indexOf(QStringLiteral("1\t: 字段1=pear\t| 字段2=12\n"), verified) > 0);
    QVERIFY(out.indexOf(QStringLiteral("2\t: 字段1=melon\t| 字段2=30\n"), verified) > 0);
    vexory::test::SaveScreen(editor, QStringLiteral("marking_testresult"));

    // A browser selection is carried over into the pseudo-code when the tab changes.
    p->PageControl1->setCurrentWidget(p->TabSheet1);
    selectCell(browser, 2); // "Pear"
    p->PageControl1->setCurrentWidget(p->TabSheet2);
    QCOMPARE(p->RichEdit2->textCursor().selectedText(), QStringLiteral("pear"));

    // "清除" removes the marks; marking again names from "aa"; "字段符" on the
    // pseudo-code tab places a marker at the caret.
    p->PageControl1->setCurrentWidget(p->TabSheet1);
    QTest::mouseClick(p->Frame7->SpeedButton3, Qt::LeftButton);
    QVERIFY(p->PseudoCode.find("{>") == std::string::npos);
    selectCell(browser, 3);
    QTest::mouseClick(p->Frame7->SpeedButton2, Qt::LeftButton);
    p->PageControl1->setCurrentWidget(p->TabSheet2);
    QVERIFY(p->RichEdit2->toPlainText().contains(QStringLiteral("{>aa<}")));
    QVERIFY(!p->RichEdit2->toPlainText().contains(QStringLiteral("{>ab<}")));
    QTest::mouseClick(p->Frame7->SpeedButton2, Qt::LeftButton);
    QVERIFY(p->RichEdit2->toPlainText().contains(QStringLiteral("{>ab<}")));

    // Save with the test output, then run the task: a row added later is reported.
    p->Frame7->CheckBox1->setChecked(true);
    QTest::mouseClick(p->submit, Qt::LeftButton);
    QCOMPARE(account.Tasks.size(), 1u);
    QCOMPARE(account.Tasks[0].GrabFormula, ToGbk(formula));
    QCOMPARE(account.Tasks[0].VerifyFormula, std::string("\x02>10"));
    QVERIFY(account.Tasks[0].SavedTestResult.find(ToGbk(QStringLiteral("\r\n1\t: 字段1=pear"))) != std::string::npos);
    editor.hide();

    account.Tasks[0].Requester = -1;
    account.Tasks[0].CycleDone = 1;
    TFrame4 runner(account, "127.0.0.1:1");
    runner.resize(900, 500);
    runner.show();
    runner.SetTask(0);
    runner.PrepareStart();
    runner.SetRunning(true);
    QTRY_VERIFY_WITH_TIMEOUT(runner.Memo1()->toPlainText().contains(QStringLiteral("字段1=apple")), 30000);
    m_site.add("Cherry", "99");
    QTRY_VERIFY_WITH_TIMEOUT(runner.Memo1()->toPlainText().contains(QStringLiteral("数据验证通过")), 30000);
    QVERIFY(runner.Memo1()->toPlainText().contains(QStringLiteral("字段1=Cherry\n字段2=99")));
    runner.SetRunning(false);
}

// Each marked field gets an edit with its name: the column's header text, kept to
// what a field's name may hold; a name typed stays with its field while marking
// goes on; the formula, the test run and the log use the names.
void MarkingTest::markedFieldsAreNamed()
{
    EditorWithWizard e;
    TFrame5* p = e.editor.Panel();
    p->LoadTask(-1);
    QVERIFY(QTest::qWaitForWindowExposed(&e.editor));
    p->Edit1->setText(QStringLiteral("goods"));
    p->Edit3->setText(QString::fromStdString(m_site.url("/headed")));
    p->Edit5->setText(QStringLiteral("15"));
    QTimer::singleShot(0, &e.wizard, [&] {
        QTRY_COMPARE_WITH_TIMEOUT(e.wizard.StatusLabel()->text(), QStringLiteral("网页URL已载入！请点击下一步.."),
                                  20000);
        QTest::mouseClick(e.wizard.NextButton(), Qt::LeftButton);
    });
    QTest::mouseClick(p->Button3, Qt::LeftButton);
    QVERIFY(!p->FieldNames1->isVisibleTo(p));

    WebEngineBrowser& browser = *e.wizard.Browser();
    selectCell(browser, 0); // "Apple"
    QTest::mouseClick(p->Frame7->SpeedButton2, Qt::LeftButton);
    QVERIFY(p->FieldNames1->isVisibleTo(p));
    QCOMPARE(p->FieldNames1->Count(), 1);
    QCOMPARE(p->FieldNames1->Edit(0)->text(), QStringLiteral("商品名"));
    // Typed as Chinese is: the input method commits the characters.
    p->FieldNames1->Edit(0)->setFocus();
    p->FieldNames1->Edit(0)->selectAll();
    QInputMethodEvent typed;
    typed.setCommitString(QStringLiteral("品名"));
    QApplication::sendEvent(p->FieldNames1->Edit(0), &typed);
    selectCell(browser, 1); // "5"
    QTest::mouseClick(p->Frame7->SpeedButton2, Qt::LeftButton);
    QCOMPARE(p->FieldNames1->Count(), 2);
    QCOMPARE(p->FieldNames1->Edit(0)->text(), QStringLiteral("品名"));
    QCOMPARE(p->FieldNames1->Edit(1)->text(), QStringLiteral("价格元"));
    vexory::test::SaveScreen(e.editor, QStringLiteral("marking_field_names"));

    QTest::mouseClick(p->Frame7->SpeedButton4, Qt::LeftButton);
    const QString formula = p->RichEdit1->toPlainText();
    QVERIFY2(formula.contains(QStringLiteral("{>品名<}")) && formula.contains(QStringLiteral("{>价格元<}")),
             qPrintable(formula));
    QTest::mouseClick(p->Button7, Qt::LeftButton);
    QVERIFY2(memo(p).contains(QStringLiteral("1\t: 品名=apple\t| 价格元=5\n")), qPrintable(memo(p)));
    QVERIFY(memo(p).contains(QStringLiteral("2\t: 品名=pear\t| 价格元=12\n")));

    // "清除" takes the names with the marks.
    p->PageControl1->setCurrentWidget(p->TabSheet1);
    QTest::mouseClick(p->Frame7->SpeedButton3, Qt::LeftButton);
    QCOMPARE(p->FieldNames1->Count(), 0);
    QVERIFY(!p->FieldNames1->isVisibleTo(p));
}

int main(int argc, char** argv)
{
    return vexory::test::RunGuiTest<MarkingTest>(argc, argv);
}

#include "marking_test.moc"

// A page that outlasts the time-out is not taken while nothing of it shows: the
// step says so and "下一步" waits on for the same load. A selection that cannot be
// marked (text in a form field) says so.
void MarkingTest::markingSaysWhatItCouldNotDo()
{
    EditorWithWizard shown;
    TForm3& wizard = shown.wizard;
    TFrame5* p = shown.editor.Panel();
    p->LoadTask(-1);
    wizard.PrepareWizard("", m_site.url("/slow"), 1000, "");
    QTimer::singleShot(0, &wizard, [&] {
        QTRY_COMPARE_WITH_TIMEOUT(wizard.StatusLabel()->text(),
                                  QStringLiteral("网页载入超时，页面尚未显示！请点击下一步继续等待.."), 20000);
        QCOMPARE(wizard.Step(), 2);
        wizard.close(); // nothing taken: the blank page is no page
    });
    wizard.exec();
    QVERIFY(p->PseudoCode.empty());

    m_site.m_slowRequests = 0;
    wizard.PrepareWizard("", m_site.url("/slow?counted=1"), 1000, "");
    QTimer::singleShot(0, &wizard, [&] {
        QTRY_COMPARE_WITH_TIMEOUT(wizard.Step(), 2, 20000);
        QTRY_COMPARE_WITH_TIMEOUT(wizard.StatusLabel()->text(),
                                  QStringLiteral("网页载入超时，页面尚未显示！请点击下一步继续等待.."), 20000);
        // Each "下一步" waits one more time-out for the same load.
        for (int i = 0; i < 20 && wizard.Step() == 2; ++i) {
            QTest::mouseClick(wizard.NextButton(), Qt::LeftButton);
            QTest::qWait(50); // the step runs within, on the step timer's shot
        }
        QCOMPARE(wizard.StatusLabel()->text(), QStringLiteral("网页URL已载入！请点击下一步.."));
        QTest::mouseClick(wizard.NextButton(), Qt::LeftButton);
    });
    wizard.exec();
    QVERIFY(p->PseudoCode.find("late") != std::string::npos);
    QCOMPARE(m_site.m_slowRequests.load(), 1);

    wizard.PrepareWizard("", m_site.url("/form"), 15000, "");
    QTimer::singleShot(0, &wizard, [&] {
        QTRY_COMPARE_WITH_TIMEOUT(wizard.StatusLabel()->text(), QStringLiteral("网页URL已载入！请点击下一步.."), 20000);
        QTest::mouseClick(wizard.NextButton(), Qt::LeftButton);
    });
    wizard.exec();
    QVERIFY(!wizard.Browser()
                 ->RunScript(QStringLiteral("var t = document.getElementById('t'); t.focus(); t.select();"
                                            " window.getSelection().toString()"))
                 .toString()
                 .isEmpty());
    QTest::mouseClick(p->Frame7->SpeedButton2, Qt::LeftButton);
    QCOMPARE(g_messages.shown,
             QStringList{QStringLiteral("标记失败：所选内容无法标记（如输入框中的文字），或网页没有及时响应！")});
    QVERIFY(p->PseudoCode.find("{>") == std::string::npos);
}
