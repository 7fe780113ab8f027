#include "editor/Unit3.h"

#include "browser/webengine_browser.h"
#include "editor/pseudo_code.h"
#include "editor/ui_texts.h"
#include "widgets/qt_text.h"
#include "widgets/screen_fit.h"

#include <QDesktopServices>
#include <QFont>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QLinearGradient>
#include <QPainter>
#include <QPushButton>
#include <QScreen>
#include <QTabWidget>
#include <QVBoxLayout>

#include <qrencode.h>

namespace vexory {

TForm3::TForm3(QWidget* parent) : QDialog(parent)
{
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    m_picture = new QLabel(this);
    m_picture->setAlignment(Qt::AlignCenter);
    layout->addWidget(m_picture);
    m_link = new QLabel(this);
    m_link->setAlignment(Qt::AlignCenter);
    m_link->setTextFormat(Qt::RichText);
    m_link->setCursor(Qt::PointingHandCursor);
    m_link->hide();
    connect(m_link, &QLabel::linkActivated, this, [](const QString& url) { QDesktopServices::openUrl(QUrl(url)); });
    layout->addWidget(m_link);

    // Browser mode: a status line with "下一步" above the browser.
    m_top = new QWidget(this);
    m_top->setFixedHeight(36);
    auto* top = new QHBoxLayout(m_top);
    top->setContentsMargins(12, 4, 168 - 90, 4);
    m_status = new QLabel(m_top);
    m_next = new QPushButton(texts::kNextStep, m_top);
    m_next->setObjectName(texts::kNextStep);
    m_next->setFixedWidth(90);
    top->addWidget(m_status, 1);
    top->addWidget(m_next);
    layout->addWidget(m_top);
    m_browserHost = new QWidget(this);
    auto* host = new QVBoxLayout(m_browserHost);
    host->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(m_browserHost, 1);
    m_top->hide();
    m_browserHost->hide();

    m_stepTimer.setSingleShot(true);
    m_stepTimer.setInterval(1);
    connect(&m_stepTimer, &QTimer::timeout, this, &TForm3::RunStep);
    connect(m_next, &QPushButton::clicked, this, [this] { m_stepTimer.start(); });
}

TForm3::~TForm3()
{
    // While this window's children go, the browser's view may still report its
    // title or a navigation: nothing of this half-destroyed window may hear it.
    if (m_browser) {
        m_browser->disconnect(this);
        if (QWebEngineView* view = m_browser->View())
            view->disconnect(this);
    }
}

WebEngineBrowser* TForm3::Browser()
{
    if (!m_browser) {
        m_browser = new WebEngineBrowser(m_browserHost);
        m_browserHost->layout()->addWidget(m_browser->View());
        connect(m_browser->View(), &QWebEngineView::titleChanged, this, [this](const QString& title) {
            if (m_mode == Mode::Browser)
                setWindowTitle(title);
        });
        connect(m_browser, &WebEngineBrowser::BeforeNavigate, this, &TForm3::beforeNavigate);
        connect(m_browser, &WebEngineBrowser::DownloadRequested, this, &TForm3::downloadRequested);
    }
    return m_browser;
}

void TForm3::TakeBrowser()
{
    QWebEngineView* view = Browser()->View();
    if (view && view->parentWidget() != m_browserHost) {
        m_browserHost->layout()->addWidget(view);
        view->show();
    }
}

void TForm3::SetBrowserMode()
{
    m_mode = Mode::Browser;
    if (!isVisible())
        setWindowFlags(Qt::Tool | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowMaximizeButtonHint |
                       Qt::WindowCloseButtonHint);
    m_picture->hide();
    m_link->hide();
    if (m_panel)
        m_panel->hide();
    m_top->show();
    m_browserHost->show();
    Browser();
    setMinimumSize(0, 0);
    setMaximumSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
    if (QScreen* screen = QGuiApplication::primaryScreen())
        FitOnScreen(this,
                    QSize(std::max(400, screen->size().width() - 361), std::max(300, screen->size().height() - 120)));
}

void TForm3::PrepareWizard(const std::string& guideUrl, const std::string& pageUrl, uint32_t timeoutMs,
                           const std::string& elementId)
{
    m_guide = guideUrl;
    m_page = pageUrl;
    m_timeout = timeoutMs;
    m_readCode.clear();
    m_lastUrl.clear();
    m_stillLoading.clear();
    // A new start: nothing of the page before shows meanwhile, nor under an error
    // (a failed load leaves the page as it was).
    Browser()->Unload();
    m_steps = std::make_unique<WizardSteps>(*Browser(), static_cast<WizardStepHost&>(*this));
    m_steps->SetTarget({guideUrl, pageUrl, elementId});
    m_status->clear();
    centre();
    setWindowTitle(QStringLiteral("Loading"));
}

bool TForm3::Load(const std::string& url)
{
    m_status->setText(texts::kWizardLoading);
    WebEngineBrowser* browser = Browser();
    // A large page still on its way from the last try (or come since) is waited
    // for again, not loaded from the start (which would outlast the time-out once more).
    // (Not told by the page being busy: under load the engine may not even have
    // begun it when the time-out passed.) One that failed meanwhile is loaded again.
    if (m_stillLoading != url || !browser->LoadError().isEmpty())
        browser->Navigate(url);
    m_stillLoading.clear();
    const bool ready = WaitReady(*browser, *m_stop, m_timeout);
    // A page that did not come says why; the step stays, "下一步" tries again.
    if (!browser->LoadError().isEmpty()) {
        m_status->setText(texts::kWizardLoadFailed.arg(browser->LoadError()));
        setWindowTitle(browser->LoadError());
        return false;
    }
    // Past the time-out with nothing of the page yet: the blank page is no page.
    if (!ready && !browser->ShowsAPage() && !*m_stop) {
        m_stillLoading = url;
        m_status->setText(texts::kWizardNothingYet);
        return false;
    }
    return true;
}

void TForm3::WaitForPage()
{
    WaitReady(*Browser(), *m_stop, m_timeout);
}

void TForm3::Tell(News news)
{
    switch (news) {
    case News::GuideLoaded:
        m_status->setText(texts::kWizardGuideLoaded);
        break;
    case News::PageLoaded:
        m_status->setText(texts::kWizardPageLoaded);
        break;
    case News::Clicked:
        m_status->setText(texts::kWizardClicked);
        break;
    case News::ClickFailed:
        m_status->setText(texts::kWizardClickFailed);
        break;
    }
}

void TForm3::ReadPage()
{
    if (!Browser()->LoadError().isEmpty()) {
        m_status->setText(texts::kWizardLoadFailed.arg(Browser()->LoadError()));
        return;
    }
    // The blank page before a load arrived is not the page.
    const std::string source = Browser()->ShowsAPage() ? Browser()->PageSource() : std::string();
    m_readCode = source.empty() ? std::string() : MakePseudoCode(source);
    if (!m_readCode.empty()) {
        m_status->setText(texts::kWizardSourceDone);
        close();
    } else {
        m_status->setText(texts::kWizardSourceFailed);
    }
}

void TForm3::RunStep()
{
    m_stepTimer.stop();
    // Page waits pump events: "下一步" must not start a second step inside this one.
    if (m_stepRunning || !m_steps)
        return;
    m_stepRunning = true;
    m_next->setEnabled(false);
    m_steps->Run();
    m_next->setEnabled(true);
    m_stepRunning = false;
}

void TForm3::beforeNavigate(const QUrl& url)
{
    if (SameUrl(url, m_guide) || SameUrl(url, m_page))
        m_lastUrl = url.toString();
}

void TForm3::downloadRequested(const QUrl& url)
{
    // A page the browser would save instead of showing: its text is shown instead.
    if (!m_lastUrl.isEmpty())
        Browser()->ShowAsText(url);
}

void TForm3::takeLoadedPage()
{
    // Closed after the page loaded, before its text was taken: the page that is
    // there is what the user meant, so its text is taken now.
    if (m_mode != Mode::Browser || Step() != StepReadSource || !m_readCode.empty() || !m_browser ||
        !m_browser->LoadError().isEmpty() || m_stepRunning || !m_browser->ShowsAPage())
        return;
    const std::string source = m_browser->PageSource();
    if (!source.empty())
        m_readCode = MakePseudoCode(source);
}

void TForm3::closeEvent(QCloseEvent* event)
{
    takeLoadedPage();
    QDialog::closeEvent(event);
}

void TForm3::reject()
{
    takeLoadedPage();
    QDialog::reject();
}

void TForm3::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    // Splash, registration and options have no step to run.
    if (m_mode == Mode::Browser) {
        TakeBrowser();
        m_stepTimer.start();
    }
}

void TForm3::hideEvent(QHideEvent* event)
{
    QDialog::hideEvent(event);
    m_stepTimer.stop();
    if (m_mode == Mode::Browser && !m_readCode.empty() && m_browser && m_browser->View())
        emit PageRead(m_readCode, m_browser->View());
}

void TForm3::centre()
{
    FitOnScreen(this, size(), minimumSize() == maximumSize());
}

QImage TForm3::SplashPicture()
{
    QImage image(480, 270, QImage::Format_RGB32);
    QPainter p(&image);
    QLinearGradient g(0, 0, 0, 270);
    g.setColorAt(0, QColor(36, 84, 59));
    g.setColorAt(1, QColor(123, 236, 179));
    p.fillRect(image.rect(), g);
    p.setPen(Qt::white);
    QFont title(QStringLiteral("Noto Sans CJK SC"), 40, QFont::Bold);
    p.setFont(title);
    p.drawText(QRect(0, 60, 480, 80), Qt::AlignCenter, QStringLiteral("Vexory"));
    QFont subtitle(QStringLiteral("Noto Sans CJK SC"), 15);
    p.setFont(subtitle);
    p.drawText(QRect(0, 150, 480, 40), Qt::AlignCenter, texts::kSplashTagline);
    p.setFont(QFont(QStringLiteral("Noto Sans CJK SC"), 10));
    p.drawText(QRect(0, 225, 470, 30), Qt::AlignRight | Qt::AlignVCenter, texts::kSplashLoading);
    return image;
}

QImage TForm3::QrPicture(const QString& text, int scale)
{
    const QByteArray data = text.toUtf8();
    QRcode* code = QRcode_encodeString(data.constData(), 0, QR_ECLEVEL_M, QR_MODE_8, 1);
    if (!code)
        return {};
    const int border = 4;
    const int size = (code->width + 2 * border) * scale;
    QImage image(size, size, QImage::Format_RGB32);
    image.fill(Qt::white);
    QPainter p(&image);
    for (int y = 0; y < code->width; ++y)
        for (int x = 0; x < code->width; ++x)
            if (code->data[y * code->width + x] & 1)
                p.fillRect((x + border) * scale, (y + border) * scale, scale, scale, Qt::black);
    QRcode_free(code);
    return image;
}

void TForm3::ShowSplash()
{
    m_mode = Mode::Splash;
    m_top->hide();
    m_browserHost->hide();
    setWindowFlags(Qt::SplashScreen | Qt::FramelessWindowHint);
    m_link->hide();
    const QImage picture = SplashPicture();
    m_picture->setPixmap(QPixmap::fromImage(picture));
    m_picture->show();
    setFixedSize(picture.size());
    centre();
    show();
}

void TForm3::SetRegistration(const QString& registerUrl, const QString& accountUrl)
{
    QString under = QStringLiteral("<a href=\"%1\">%1</a>").arg(registerUrl.toHtmlEscaped());
    if (!accountUrl.isEmpty())
        under += QStringLiteral("<br>") + texts::kRegisterThenBind.toHtmlEscaped() +
                 QStringLiteral("<br><a href=\"%1\">%1</a>").arg(accountUrl.toHtmlEscaped());
    showCode(texts::kRegisterCaption, registerUrl, under);
}

void TForm3::SetAccountPage(const QString& accountUrl)
{
    showCode(texts::kAccountCaption, accountUrl,
             QStringLiteral("<a href=\"%1\">%1</a><br>").arg(accountUrl.toHtmlEscaped()) +
                 texts::kAccountNote.toHtmlEscaped());
}

void TForm3::showCode(const QString& caption, const QString& url, const QString& under)
{
    m_mode = Mode::Registration;
    m_top->hide();
    m_browserHost->hide();
    setWindowFlags(Qt::Tool);
    setWindowTitle(caption);
    if (m_panel)
        m_panel->hide();
    const QImage picture = QrPicture(url);
    m_picture->setPixmap(QPixmap::fromImage(picture));
    m_picture->setToolTip(url);
    m_picture->show();
    // A phone cannot open a loopback address: the address goes under the code too,
    // as a link to the desktop's browser.
    m_link->setText(under);
    m_link->show();
    setFixedSize(std::max(picture.width(), m_link->sizeHint().width() + 16),
                 picture.height() + m_link->sizeHint().height() + 8);
    centre();
}

void TForm3::SetOptions(QWidget* panel)
{
    m_mode = Mode::Options;
    m_top->hide();
    m_browserHost->hide();
    setWindowFlags(Qt::Tool);
    setWindowTitle(texts::kOptionsCaption);
    m_picture->hide();
    m_link->hide();
    if (m_panel != panel) {
        if (m_panel)
            m_panel->hide();
        m_panel = panel;
        layout()->addWidget(panel);
    }
    panel->show();
    setFixedSize(337, 298);
    centre();
}

} // namespace vexory
