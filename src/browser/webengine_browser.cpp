#include "browser/webengine_browser.h"

#include "browser/ready_wait.h"
#include "browser/ui_texts.h"

#include "base/text_helpers.h"
#include "base/tick_clock.h"
#include "widgets/qt_text.h"

#include <QCoreApplication>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QNetworkCookie>
#include <QNetworkCookieJar>
#include <QPointer>
#include <QSaveFile>
#include <QThread>
#include <QTimer>
#include <QWebEngineCookieStore>
#include <QWebEngineDownloadRequest>
#include <QWebEngineLoadingInfo>
#include <QWebEnginePage>
#include <QWebEngineProfile>
#include <QWebEngineScript>
#include <QWebEngineSettings>
#include <QWebEngineView>

#include <algorithm>
#include <chrono>
#include <thread>
#include <utility>

namespace vexory {

// The page: dialogs answered without showing, console quiet, new windows refused,
// and every navigation reported before it starts.
class BrowserPage : public QWebEnginePage
{
public:
    BrowserPage(QWebEngineProfile* profile, WebEngineBrowser* owner) : QWebEnginePage(profile, owner), m_owner(owner) {}

protected:
    void javaScriptAlert(const QUrl&, const QString&) override {}
    bool javaScriptConfirm(const QUrl&, const QString&) override { return true; }
    bool javaScriptPrompt(const QUrl&, const QString&, const QString& defaultValue, QString* result) override
    {
        *result = defaultValue;
        return true;
    }
    void javaScriptConsoleMessage(JavaScriptConsoleMessageLevel, const QString&, int, const QString&) override {}
    QWebEnginePage* createWindow(WebWindowType) override { return nullptr; }
    bool acceptNavigationRequest(const QUrl& url, NavigationType, bool) override
    {
        emit m_owner->BeforeNavigate(url);
        return true;
    }

private:
    WebEngineBrowser* m_owner;
};

namespace {

class CookieMirror;

constexpr const char* kCookieMirror = "/cookies.txt"; // in the profile's folder

QString g_profileFolder;
QPointer<QWebEngineProfile> g_profile;
QPointer<CookieMirror> g_cookies;

// What the profile's cookie store holds, to read it synchronously. The engine
// tells of the cookies it sets and removes, but not of those it restores from
// its folder at start: the mirror keeps its own copy there (kCookieMirror),
// written a moment after each change and at the end.
class CookieMirror : public QNetworkCookieJar
{
public:
    explicit CookieMirror(QObject* parent) : QNetworkCookieJar(parent)
    {
        m_save.setSingleShot(true);
        m_save.setInterval(1000);
        QObject::connect(&m_save, &QTimer::timeout, this, [this] { Save(); });
        // A page's load sets its cookies one by one: they are published together.
        m_publish.setSingleShot(true);
        m_publish.setInterval(0);
        QObject::connect(&m_publish, &QTimer::timeout, this, [this] { Publish(); });
    }
    ~CookieMirror() override { Save(); }

    void Load(const QString& path)
    {
        m_path = path;
        QFile file(path);
        if (!file.open(QIODevice::ReadOnly))
            return;
        while (!file.atEnd())
            for (const QNetworkCookie& c : QNetworkCookie::parseCookies(file.readLine().trimmed()))
                insertCookie(c);
        m_list.reset();
    }
    void Changed()
    {
        m_list.reset();
        m_save.start();
        m_publish.start();
    }
    // For reads without a browser, with the profile's user agent.
    void Publish()
    {
        m_publish.stop();
        PublishBrowserIdentity({List(), g_profile ? g_profile->httpUserAgent().toStdString() : std::string()});
    }
    // The cookies as reads without a browser take them; made again after a change.
    std::shared_ptr<const CookieList> List()
    {
        if (m_list)
            return m_list;
        auto list = std::make_shared<CookieList>();
        for (const QNetworkCookie& c : allCookies()) {
            BrowserCookie cookie;
            cookie.domain = c.domain().toStdString();
            cookie.path = c.path().isEmpty() ? std::string("/") : c.path().toStdString();
            cookie.name = c.name().toStdString();
            cookie.value = c.value().toStdString();
            cookie.expires = c.isSessionCookie() ? 0 : std::max<qint64>(c.expirationDate().toSecsSinceEpoch(), 1);
            cookie.secure = c.isSecure();
            cookie.httpOnly = c.isHttpOnly();
            list->push_back(std::move(cookie));
        }
        m_list = std::move(list);
        return m_list;
    }
    void Save()
    {
        if (m_path.isEmpty())
            return;
        m_save.stop();
        QSaveFile file(m_path);
        if (!file.open(QIODevice::WriteOnly))
            return;
        file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner);
        for (const QNetworkCookie& c : allCookies())
            file.write(c.toRawForm() + '\n');
        file.commit();
    }

private:
    QString m_path;
    QTimer m_save;
    QTimer m_publish;
    std::shared_ptr<const CookieList> m_list;
};

} // namespace

void ConfigureBrowserProcesses()
{
    QByteArray flags = qgetenv("QTWEBENGINE_CHROMIUM_FLAGS");
    if (flags.contains("--renderer-process-limit") || flags.contains("--single-process"))
        return;
    const unsigned limit = std::max(kRendererProcesses, std::thread::hardware_concurrency());
    if (!flags.isEmpty())
        flags += ' ';
    flags += "--renderer-process-limit=" + QByteArray::number(limit);
    qputenv("QTWEBENGINE_CHROMIUM_FLAGS", flags);
}

void UseBrowserProfileFolder(const QString& folder)
{
    g_profileFolder = folder;
}

QWebEngineProfile* BrowserProfile()
{
    if (g_profile)
        return g_profile;
    // Owned by the application, so that it outlives every page and is closed
    // properly (cookies written) when the program ends.
    QObject* owner = QCoreApplication::instance();
    if (g_profileFolder.isEmpty()) {
        g_profile = new QWebEngineProfile(owner);
        g_profile->setHttpCacheType(QWebEngineProfile::MemoryHttpCache);
    } else {
        QDir().mkpath(g_profileFolder);
        g_profile = new QWebEngineProfile(QStringLiteral("vexory"), owner);
        g_profile->setPersistentStoragePath(g_profileFolder);
        g_profile->setCachePath(g_profileFolder + QStringLiteral("/cache"));
        g_profile->setHttpCacheType(QWebEngineProfile::DiskHttpCache);
        g_profile->setHttpCacheMaximumSize(kBrowserCacheBytes);
        // Logins last: session cookies are kept across runs as well.
        g_profile->setPersistentCookiesPolicy(QWebEngineProfile::ForcePersistentCookies);
    }
    g_cookies = new CookieMirror(g_profile);
    if (!g_profileFolder.isEmpty())
        g_cookies->Load(g_profileFolder + QLatin1String(kCookieMirror));
    QObject::connect(QCoreApplication::instance(), &QCoreApplication::aboutToQuit, g_cookies,
                     [] { g_cookies->Save(); });
    QWebEngineCookieStore* store = g_profile->cookieStore();
    QObject::connect(store, &QWebEngineCookieStore::cookieAdded, g_cookies, [](const QNetworkCookie& c) {
        g_cookies->insertCookie(c);
        g_cookies->Changed();
    });
    QObject::connect(store, &QWebEngineCookieStore::cookieRemoved, g_cookies, [](const QNetworkCookie& c) {
        g_cookies->deleteCookie(c);
        g_cookies->Changed();
    });
    store->loadAllCookies();
    g_cookies->Publish();
    return g_profile;
}

QString BrowserCacheFolder()
{
    QWebEngineProfile* profile = BrowserProfile();
    return profile->httpCacheType() == QWebEngineProfile::DiskHttpCache ? profile->cachePath() : QString();
}

void ClearBrowserCache()
{
    BrowserProfile()->clearHttpCache();
}

BrowserIdentity BrowserIdentityNow()
{
    BrowserProfile();
    g_cookies->Publish();
    return CurrentBrowserIdentity();
}

namespace {

const QString& pageScripts()
{
    static const QString source = [] {
        QFile file(QStringLiteral(":/browser/page_scripts.js"));
        file.open(QIODevice::ReadOnly);
        return QString::fromUtf8(file.readAll());
    }();
    return source;
}

QString jsString(const QString& s)
{
    // A JSON string is a JavaScript string literal.
    return QString::fromUtf8(QJsonDocument(QJsonArray{s}).toJson(QJsonDocument::Compact)).mid(1).chopped(1);
}

// A failed load in the user's words (Chromium's network error numbers).
QString loadErrorText(const QWebEngineLoadingInfo& info)
{
    if (info.errorDomain() == QWebEngineLoadingInfo::HttpStatusCodeDomain)
        return texts::kHttpStatus.arg(info.errorCode());
    switch (info.errorCode()) {
    case -105: // name not resolved
    case -137: // name resolution failed
        return texts::kNoSuchHost;
    case -102: // connection refused
        return texts::kRefused;
    case -7:   // timed out
    case -118: // connection timed out
        return texts::kTimedOut;
    case -106: // internet disconnected
    case -109: // address unreachable
        return texts::kUnreachable;
    case -300: // invalid URL
    case -301: // disallowed URL scheme
    case -312: // a port browsers never call
        return texts::kBadUrl;
    case -324: // empty response
    case -100: // connection closed
    case -101: // connection reset
        return texts::kNoAnswer;
    default:
        return info.errorString().isEmpty() ? texts::kNoAnswer : info.errorString();
    }
}

} // namespace

WebEngineBrowser::WebEngineBrowser(QWidget* parent) : QObject(parent)
{
    m_profile = BrowserProfile();
    m_view = new QWebEngineView(parent);
    m_view->setContextMenuPolicy(Qt::NoContextMenu);
    connect(m_view, &QObject::destroyed, this, [this] { m_state.hasWindow = false; });
    connect(m_profile, &QWebEngineProfile::downloadRequested, this, [this](QWebEngineDownloadRequest* download) {
        // The profile is everybody's: take only this page's downloads.
        if (!m_page || download->page() != m_page)
            return;
        // Claimed: nothing is saved, the owner decides what to show instead.
        const QUrl url = download->url();
        download->cancel();
        emit DownloadRequested(url);
    });
    makePage();
    Navigate("about:blank");
}

// The page of the view, set up as every page of the program is.
void WebEngineBrowser::makePage()
{
    m_page = new BrowserPage(m_profile, this);
    m_page->setAudioMuted(true);
    m_page->settings()->setAttribute(QWebEngineSettings::JavascriptCanOpenWindows, false);
    m_page->settings()->setAttribute(QWebEngineSettings::ErrorPageEnabled, false);
    if (m_view)
        m_view->setPage(m_page);
    m_rendererGone = false;

    connect(m_page, &QWebEnginePage::loadStarted, this, &WebEngineBrowser::loadStarted);
    connect(m_page, &QWebEnginePage::loadFinished, this, &WebEngineBrowser::loadFinished);
    connect(m_page, &QWebEnginePage::loadingChanged, this, [this](const QWebEngineLoadingInfo& info) {
        if (info.status() == QWebEngineLoadingInfo::LoadStartedStatus) {
            m_loadError.clear();
            return;
        }
        const bool httpError =
            info.errorDomain() == QWebEngineLoadingInfo::HttpStatusCodeDomain && info.errorCode() >= 400;
        // A load stopped for the next one (or by Stop) did not fail.
        if ((info.status() == QWebEngineLoadingInfo::LoadFailedStatus && info.errorCode() != -3) || httpError) {
            m_loadError = loadErrorText(info);
            emit LoadFailed(m_loadError);
        }
    });
    connect(m_page, &QWebEnginePage::renderProcessTerminated, this, [this] {
        m_rendererGone = true;
        m_state.busy = false;
        emit RendererGone();
    });
}

WebEngineBrowser::~WebEngineBrowser()
{
    endFetch();
    m_state.hasWindow = false;
    if (m_view) {
        m_view->setPage(nullptr);
        delete m_view.data();
    }
    delete m_page;
}

void WebEngineBrowser::loadStarted()
{
    m_rendererGone = false;
    markLoading();
}

// What a waiter sees of a load that began: counted, busy, not complete.
void WebEngineBrowser::markLoading()
{
    m_state.loadsStarted++;
    m_state.busy = true;
    m_state.readyState = 1;
}

void WebEngineBrowser::loadFinished()
{
    m_state.busy = false;
    m_state.readyState = 4;
}

void WebEngineBrowser::Navigate(const std::string& url)
{
    wake();
    m_written = false;
    m_page->load(QUrl::fromUserInput(FromGbk(url)));
}

void WebEngineBrowser::Refresh()
{
    // A page let go comes back from its address: the new page has nothing to reload.
    if (!m_page) {
        wake();
        m_page->load(m_unloadedUrl);
        return;
    }
    wake();
    m_page->triggerAction(QWebEnginePage::Reload);
}

void WebEngineBrowser::Unload()
{
    if (!m_page || !m_view)
        return;
    // Only a page nobody sees can go. A page kept discarded still holds some 0.7 MB
    // in this process; the view keeps nothing of it, and wake() makes a new one.
    m_unloadedUrl = m_page->url();
    m_page->triggerAction(QWebEnginePage::Stop);
    m_view->hide();
    m_view->setPage(nullptr);
    m_page->disconnect(this);
    delete m_page;
    m_page = nullptr;
    m_written = false;
    m_state.busy = false;
}

bool WebEngineBrowser::ShowsAPage() const
{
    if (!m_page)
        return false;
    const QUrl url = m_page->url();
    return m_written || (!url.isEmpty() && url != QUrl(QStringLiteral("about:blank")));
}

void WebEngineBrowser::wake()
{
    if (m_page)
        return;
    makePage();
    if (m_view)
        m_view->show();
}

void WebEngineBrowser::ShowContent(const PageContent& content)
{
    wake();
    m_page->setContent(QByteArray::fromStdString(content.bytes), QString::fromStdString(content.mimeType),
                       QUrl::fromEncoded(QByteArray::fromStdString(content.baseUrl)));
}

void WebEngineBrowser::Stop()
{
    if (m_page)
        m_page->triggerAction(QWebEnginePage::Stop);
}

QVariant WebEngineBrowser::RunScript(const QString& call, int limitMs)
{
    // A page without its renderer never answers; a page let go has no document.
    if (m_rendererGone || !m_page)
        return {};
    QPointer<WebEngineBrowser> self(this);
    // The answer may come after the limit; it must find its loop and slot alive then.
    struct Answer
    {
        bool done = false;
        QVariant value;
        QEventLoop loop;
    };
    auto answer = std::make_shared<Answer>();
    const QString script = pageScripts() + QStringLiteral("\nvexory.deadline = Date.now() + %1;\n").arg(limitMs) + call;
    m_page->runJavaScript(script, QWebEngineScript::ApplicationWorld, [answer](const QVariant& value) {
        answer->done = true;
        answer->value = value;
        answer->loop.quit();
    });
    if (!answer->done) {
        QTimer::singleShot(limitMs, &answer->loop, &QEventLoop::quit);
        connect(this, &WebEngineBrowser::RendererGone, &answer->loop, &QEventLoop::quit);
        answer->loop.exec();
    }
    if (!self)
        return {};
    return answer->value;
}

std::string WebEngineBrowser::PageSource()
{
    const QVariant html = RunScript(QStringLiteral("vexory.pageSource()"));
    return html.isValid() ? ToGbk(html.toString()) : std::string();
}

bool WebEngineBrowser::ClickElement(const std::string& spec)
{
    const auto [name, index] = SplitIndexedName(spec);
    return RunScript(QStringLiteral("vexory.click(%1, %2, %3)")
                         .arg(jsString(FromGbk(spec)), jsString(FromGbk(name)), QString::number(index)))
        .toBool();
}

int WebEngineBrowser::SelectionLength()
{
    const QString text = RunScript(QStringLiteral("vexory.selectionText()")).toString();
    if (text.isEmpty()) {
        RunScript(QStringLiteral("vexory.clearSelection()"));
        return 0;
    }
    return static_cast<int>(FromGbk(CompactHtml(ToGbk(text))).size());
}

bool WebEngineBrowser::FindText(const std::string& text, bool forward)
{
    return RunScript(QStringLiteral("vexory.find(%1, %2)")
                         .arg(jsString(FromGbk(text)), forward ? QStringLiteral("true") : QStringLiteral("false")))
        .toBool();
}

bool WebEngineBrowser::MarkSelection(const std::string& style)
{
    return SelectionLength() > 0 &&
           RunScript(
               QStringLiteral("vexory.mark(%1)").arg(style.empty() ? QStringLiteral("null") : jsString(FromGbk(style))))
               .toBool();
}

bool WebEngineBrowser::RemoveMarks(const std::string& colour)
{
    return RunScript(QStringLiteral("vexory.unmark(%1)").arg(jsString(FromGbk(colour)))).toBool();
}

QStringList WebEngineBrowser::MarkHeaders(const std::string& colour)
{
    return RunScript(QStringLiteral("vexory.markHeaders(%1)").arg(jsString(FromGbk(colour)))).toStringList();
}

void WebEngineBrowser::ClearSelection()
{
    RunScript(QStringLiteral("vexory.clearSelection()"));
}

std::pair<int, int> WebEngineBrowser::SelectionBookmark()
{
    const QVariantList at = RunScript(QStringLiteral("vexory.bookmark()")).toList();
    if (at.size() != 2)
        return {-1, -1};
    return {at[0].toInt(), at[1].toInt()};
}

bool WebEngineBrowser::RestoreSelection(std::pair<int, int> bookmark)
{
    if (bookmark.first < 0)
        return false;
    return RunScript(QStringLiteral("vexory.restore(%1, %2)").arg(bookmark.first).arg(bookmark.second)).toBool();
}

void WebEngineBrowser::ShowAsText(const QUrl& download)
{
    // A page load from here on: busy until the text is written or the fetch failed.
    m_loadError.clear();
    markLoading();
    if (m_fetching)
        return;
    endFetch();
    m_fetching = true;
    m_fetchCancel = std::make_shared<std::atomic<bool>>(false);
    QPointer<WebEngineBrowser> self(this);
    // A slow server must not hold the window: the fetch runs on a thread of its own
    // and hands its text to the window's thread.
    m_fetch = std::thread(
        [self, cancel = m_fetchCancel, url = download.toEncoded().toStdString(), identity = BrowserIdentityNow()] {
            FetchedPage how;
            std::string text = HttpGet(url, identity.cookies, identity.userAgent, &how, cancel.get());
            QMetaObject::invokeMethod(
                QCoreApplication::instance(),
                [self, cancel, text = std::move(text), how = std::move(how)] {
                    if (self && !*cancel)
                        self->fetched(text, how);
                },
                Qt::QueuedConnection);
        });
}

void WebEngineBrowser::ShowAsText(const std::string& encodedUrl)
{
    ShowAsText(QUrl::fromEncoded(QByteArray::fromStdString(encodedUrl)));
}

// Ends the fetch under way, if any (within a second), and lets its thread go.
void WebEngineBrowser::endFetch()
{
    if (m_fetchCancel)
        *m_fetchCancel = true;
    if (m_fetch.joinable())
        m_fetch.join();
    m_fetching = false;
}

void WebEngineBrowser::fetched(const std::string& text, const FetchedPage& how)
{
    endFetch(); // its thread has handed over: the join is at once
    if (!text.empty()) {
        WriteDocument("<html><head></head><body>" + text + "</body></html>");
        return;
    }
    switch (how.failure) {
    case FetchFailure::NoSuchHost:
        m_loadError = texts::kNoSuchHost;
        break;
    case FetchFailure::Refused:
        m_loadError = texts::kRefused;
        break;
    case FetchFailure::TimedOut:
        m_loadError = texts::kTimedOut;
        break;
    case FetchFailure::TooLarge:
        m_loadError = texts::kTextTooLarge;
        break;
    case FetchFailure::None:
        m_loadError = how.status == 200 || how.status == 302 ? texts::kEmptyText : texts::kHttpStatus.arg(how.status);
        break;
    default:
        m_loadError = texts::kNoAnswer;
        break;
    }
    m_state.busy = false;
    m_state.readyState = 4;
    emit LoadFailed(m_loadError);
}

void WebEngineBrowser::WriteDocument(const std::string& html)
{
    // A written document is a page load: the page is busy until its script has
    // written it, and the wait for the page sees it begin and end. (A navigation
    // that became a download never reports its end, and a page fetched directly
    // never starts one.) The script is not waited for here: called while the
    // engine is still busy with the navigation it replaces, its answer would come
    // only after such a wait gave up.
    wake();
    markLoading();
    QPointer<WebEngineBrowser> self(this);
    const QString script = pageScripts() + QStringLiteral("\nvexory.write(%1)").arg(jsString(FromGbk(html)));
    m_page->runJavaScript(script, QWebEngineScript::ApplicationWorld, [self](const QVariant&) {
        if (!self)
            return;
        self->m_state.busy = false;
        self->m_state.readyState = 4;
        self->m_written = true;
    });
}

bool WaitReady(WebEngineBrowser& browser, const std::atomic<uint8_t>& stopFlag, uint32_t timeoutMs)
{
    QPointer<WebEngineBrowser> guard(&browser);
    auto failed = [&] { return !guard || !browser.HasWindow() || QCoreApplication::closingDown() || stopFlag; };
    for (ReadyWait wait(browser.State(), timeoutMs);;) {
        if (failed())
            return false;
        QCoreApplication::processEvents();
        QThread::msleep(ReadyWait::kRoundPauseMs);
        for (wait.NewRound(); wait.Look();) {
            if (failed())
                return false;
            QCoreApplication::processEvents();
            QThread::msleep(ReadyWait::kLookMs);
            if (wait.TimedOut())
                return false;
        }
        if (wait.TimedOut())
            return false;
        if (wait.Complete())
            return true;
    }
}

namespace {

// WaitReady's rounds, each look and pause a timer's shot instead of a sleep.
class ReadyWatch : public QObject
{
public:
    ReadyWatch(WebEngineBrowser& browser, const std::atomic<uint8_t>& stopFlag, uint32_t timeoutMs,
               std::function<void(bool)> done)
        : QObject(&browser), m_browser(browser), m_stop(stopFlag), m_wait(browser.State(), timeoutMs),
          m_done(std::move(done))
    {
        m_timer.setSingleShot(true);
        connect(&m_timer, &QTimer::timeout, this, &ReadyWatch::look);
        m_timer.start(ReadyWait::kRoundPauseMs);
    }

private:
    void look()
    {
        if (!m_browser.HasWindow() || QCoreApplication::closingDown() || m_stop)
            return finish(false);
        if (!m_inRound) {
            m_inRound = true;
            m_wait.NewRound();
        }
        if (m_wait.Look()) {
            if (m_wait.TimedOut())
                return finish(false);
            m_timer.start(ReadyWait::kLookMs);
            return;
        }
        m_inRound = false;
        if (m_wait.TimedOut())
            return finish(false);
        if (m_wait.Complete())
            return finish(true);
        m_timer.start(ReadyWait::kRoundPauseMs);
    }

    void finish(bool ready)
    {
        deleteLater();
        if (auto done = std::exchange(m_done, nullptr))
            done(ready);
    }

    WebEngineBrowser& m_browser;
    const std::atomic<uint8_t>& m_stop;
    ReadyWait m_wait;
    std::function<void(bool)> m_done;
    QTimer m_timer;
    bool m_inRound = false;
};

} // namespace

void WhenReady(WebEngineBrowser& browser, const std::atomic<uint8_t>& stopFlag, uint32_t timeoutMs,
               std::function<void(bool)> done)
{
    new ReadyWatch(browser, stopFlag, timeoutMs, std::move(done));
}

namespace {

QString normalisedUrl(QUrl url)
{
    if (url.path().isEmpty() && !url.host().isEmpty())
        url.setPath(QStringLiteral("/"));
    return url.toString(QUrl::FullyEncoded | QUrl::NormalizePathSegments).toLower();
}

} // namespace

bool SameUrl(const QUrl& reported, const std::string& taskUrl)
{
    if (taskUrl.empty())
        return false;
    return normalisedUrl(reported) == normalisedUrl(QUrl::fromUserInput(FromGbk(taskUrl)));
}

std::pair<std::string, int> SplitIndexedName(const std::string& spec)
{
    const size_t caret = spec.find('^');
    if (caret != std::string::npos) {
        const std::string after = spec.substr(caret + 1);
        if (IsInteger(after) && StrToInt(after) >= 0)
            return {spec.substr(0, caret), StrToInt(after)};
    }
    return {spec, -1};
}

} // namespace vexory
