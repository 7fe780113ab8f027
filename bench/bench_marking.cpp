// Marking in the editor on large pages, offscreen in the real browser engine: the
// wizard's read of the page, two marks on the browser tab, the pseudo-code tab
// first seen after them, and the derivation (ms each, one run per size). A mark
// should take about a second however large the page; the pseudo-code box's
// layout is paid once, when its tab is opened.
//
//   build/bench/bench_marking [--look S] [MB ...]        (default: 1 8)
//
// --look: seconds between the read and the first mark, as a user looks at the
// page before selecting (the engine lays it out meanwhile); default 0.

#include "page_generator.h"

#include "browser/webengine_browser.h"
#include "editor/Unit2.h"
#include "editor/Unit3.h"
#include "editor/myFrame5.h"
#include "editor/myFrame7.h"
#include "support/gui_main.h"
#include "support/message_boxes.h"
#include "support/test_http_server.h"

#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QTextEdit>
#include <QTimer>
#include <QToolButton>

#include <cstdio>
#include <string_view>
#include <vector>

using namespace vexory;

namespace {

std::vector<int> g_sizes{1, 8};
int g_lookMs = 0;
vexory::test::MessageBoxes g_messages;

void selectFirst(WebEngineBrowser& browser, const char* cls)
{
    browser.RunScript(QStringLiteral("(function () { var r = document.createRange();"
                                     " r.selectNodeContents(document.querySelector('.%1'));"
                                     " var s = window.getSelection(); s.removeAllRanges(); s.addRange(r); })()")
                          .arg(QLatin1String(cls)));
}

} // namespace

class MarkingBench : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { g_messages.install(); }

    void largePages()
    {
        std::printf("%6s %10s %10s %10s %14s %10s\n", "MB", "read ms", "mark1 ms", "mark2 ms", "pseudo tab ms",
                    "derive ms");
        for (int mb : g_sizes) {
            const std::string page = bench::ListingPage(static_cast<size_t>(mb) * 1024 * 1024);
            vexory::test::TestHttpServer http;
            http.routes().Get("/list", [&page](const httplib::Request&, httplib::Response& res) {
                res.set_content(page, "text/html; charset=gbk");
            });
            http.start();

            TAccountRecord account;
            TProcessValues values;
            TForm3 wizard;
            TaskList tasks(account);
            TForm2 editor(tasks, values);
            editor.SetWizard(&wizard);
            editor.show();
            TFrame5* p = editor.Panel();
            p->LoadTask(-1);
            p->Edit3->setText(QString::fromStdString(http.url("/list")));
            p->Edit5->setText(QStringLiteral("120")); // time-out, s
            QElapsedTimer clock;
            clock.start();
            QTimer::singleShot(0, &wizard, [&] {
                QTRY_COMPARE_WITH_TIMEOUT(wizard.StatusLabel()->text(), QStringLiteral("网页URL已载入！请点击下一步.."),
                                          120000);
                QTest::mouseClick(wizard.NextButton(), Qt::LeftButton);
            });
            QTest::mouseClick(p->Button3, Qt::LeftButton); // "测试1>>"
            const qint64 read = clock.restart();
            QCOMPARE(p->PageControl1->currentWidget(), p->TabSheet1);

            WebEngineBrowser& browser = *wizard.Browser();
            QTest::qWait(g_lookMs);
            qint64 marks[2];
            const char* classes[] = {"title", "price"};
            for (int i = 0; i < 2; ++i) {
                selectFirst(browser, classes[i]);
                clock.restart();
                QTest::mouseClick(p->Frame7->SpeedButton2, Qt::LeftButton);
                marks[i] = clock.restart();
            }
            QVERIFY2(g_messages.shown.isEmpty(), qPrintable(g_messages.shown.join(QLatin1Char('\n'))));
            p->PageControl1->setCurrentWidget(p->TabSheet2);
            const qint64 shown = clock.restart();
            QVERIFY(p->RichEdit2->toPlainText().contains(QStringLiteral("{>ab<}")));
            QTest::mouseClick(p->Frame7->SpeedButton4, Qt::LeftButton); // "提取公式"
            const qint64 derived = clock.restart();
            QVERIFY(p->RichEdit1->toPlainText().contains(QStringLiteral("{>ab<}")));
            std::printf("%6d %10lld %10lld %10lld %14lld %10lld\n", mb, static_cast<long long>(read),
                        static_cast<long long>(marks[0]), static_cast<long long>(marks[1]),
                        static_cast<long long>(shown), static_cast<long long>(derived));
            std::fflush(stdout);
        }
    }
};

int main(int argc, char** argv)
{
    std::vector<int> sizes;
    for (int i = 1; i < argc; ++i) {
        if (std::string_view(argv[i]) == "--look" && i + 1 < argc)
            g_lookMs = std::atoi(argv[++i]) * 1000;
        else
            sizes.push_back(std::atoi(argv[i]));
    }
    if (!sizes.empty())
        g_sizes = sizes;
    char* qtArgs[] = {argv[0], nullptr};
    return vexory::test::RunGuiTest<MarkingBench>(1, qtArgs);
}

#include "bench_marking.moc"
