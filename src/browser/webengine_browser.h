#pragma once

// The embedded browser on Qt WebEngine: navigation, busy and ready state, the
// document operations the monitor and the editor need, and the fixed setup every
// browser of the program has (first document about:blank, page sounds off, script
// errors and page dialogs answered without showing anything, downloads claimed,
// new windows refused). Everything here runs on the GUI thread; the monitor thread
// reads only State().

#include "browser/browser_state.h"
#include "browser/page_fetch.h"
#include "browser/page_steps.h"

#include <QObject>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <QUrl>
#include <QVariant>
#include <QWebEngineView>

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <utility>

class QWebEngineProfile;
class QWidget;

namespace vexory {

class BrowserPage;

class WebEngineBrowser : public QObject, public PageBrowser
{
    Q_OBJECT
public:
    explicit WebEngineBrowser(QWidget* parent);
    ~WebEngineBrowser() override;

    QWebEngineView* View() const { return m_view; }
    BrowserState& State() { return m_state; }

    void Navigate(const std::string& url) override;
    void Refresh() override;
    void Stop() override;
    bool Busy() const { return m_state.busy; }
    int ReadyState() const { return m_state.readyState; }
    bool HasWindow() const override { return m_state.hasWindow; }

    // The page text: links and images made absolute, then the markup of the top
    // document, in code page 936; "" without a document.
    std::string PageSource() override;
    // Clicks the element a task's ElementId names (id, name^index, class^index).
    bool ClickElement(const std::string& spec) override;
    // Length of the selected text after compaction (UTF-16 characters), 0 when none.
    int SelectionLength();
    // Finds and selects the next (or previous) occurrence of a text.
    bool FindText(const std::string& text, bool forward);
    // Gives the selected text the mark colour; false when nothing was selected or
    // the page did not do it in time.
    bool MarkSelection(const std::string& style = {});
    // Unwraps every mark of a colour ("rgb(123,236,179)").
    bool RemoveMarks(const std::string& colour);
    // The header text of each mark's table column, in the marks' order ("" where
    // there is none).
    QStringList MarkHeaders(const std::string& colour);
    // Takes the selection away.
    void ClearSelection();
    // Where the selection lies (text offsets from the start of the body), to select
    // the same stretch again after the document changed; (-1, -1) without one.
    std::pair<int, int> SelectionBookmark();
    bool RestoreSelection(std::pair<int, int> bookmark);
    // Replaces the document by the given markup (a download's text in an empty
    // body, whose line breaks are kept on screen): a page load, busy until the
    // page's script has written it (not waited for here).
    void WriteDocument(const std::string& html);
    // Shows a page the browser would save instead of showing (a download) as its
    // text: fetched at the address as the browser had it (encoded, never decoded
    // first), with the profile's cookies and user agent, on a thread of its own. The
    // page is loading until the text is written; a fetch that brings nothing ends
    // as a failed load (LoadFailed says why). While one fetch is under way, another
    // is not begun: the page shows what it brings.
    void ShowAsText(const QUrl& download);
    void ShowAsText(const std::string& encodedUrl) override;
    // The page let go and its view hidden until the next Navigate, Refresh (which
    // loads the address the page had) or ShowContent; script calls answer nothing
    // meanwhile.
    void Unload() override;
    // False while a load has not yet replaced the blank page (nothing of it arrived).
    bool ShowsAPage() const;
    // The bytes shown as the page at their address (at most kMaxShownContentBytes).
    void ShowContent(const PageContent& content) override;

    // Runs one call of the page scripts and waits for its value (an invalid
    // QVariant when the page went away or did not answer in time).
    QVariant RunScript(const QString& call, int limitMs = 15000);

    // Why the last page load failed, in the user's words ("" when it did not):
    // no such host, refused, an HTTP status, a time-out, ...
    const QString& LoadError() const { return m_loadError; }

signals:
    // A page load failed; `why` as LoadError() says it.
    void LoadFailed(const QString& why);
    // The URL of every navigation, frames included, before it starts.
    void BeforeNavigate(const QUrl& url);
    // A download the page asked for, claimed: nothing was shown or saved.
    void DownloadRequested(const QUrl& url);
    // The renderer process that held the page ended (crashed or killed, perhaps
    // with other pages it held): the page is blank until it is loaded again, and
    // script calls answer at once with nothing meanwhile.
    void RendererGone();

private:
    friend class BrowserPage;
    void loadStarted();
    void loadFinished();
    void markLoading();
    void wake();
    void makePage();
    void fetched(const std::string& text, const FetchedPage& how);
    void endFetch();

    QWebEngineProfile* m_profile = nullptr;
    QPointer<QWebEngineView> m_view; // its parent may be another window's panel
    BrowserPage* m_page = nullptr;   // none while the page is let go
    QUrl m_unloadedUrl;
    BrowserState m_state;
    bool m_rendererGone = false;
    QString m_loadError;
    std::thread m_fetch; // a download's text being fetched
    std::shared_ptr<std::atomic<bool>> m_fetchCancel;
    bool m_fetching = false;
    bool m_written = false; // the page shows a document written into it (a download's text)
};

// Chromium's process settings, made before the application object exists: at most
// kRendererProcesses renderer processes (or one a core, when more), which the pages
// then share, instead of one per page (some 20 MB each). A limit the user gives in
// QTWEBENGINE_CHROMIUM_FLAGS (--renderer-process-limit=N) is left as it is.
void ConfigureBrowserProcesses();
inline constexpr unsigned kRendererProcesses = 4;

// Every browser of the program uses one profile: cookies, local storage and the
// HTTP cache are shared, so a login made in one browser holds in all of them.
// Given a folder (before the first browser is made), the profile is kept there
// across runs with a size-capped disk cache; without one it lives in memory.
void UseBrowserProfileFolder(const QString& folder);
QWebEngineProfile* BrowserProfile();
// The disk cache folder of the profile ("" when it keeps its cache in memory).
QString BrowserCacheFolder();
void ClearBrowserCache();
// The profile's cookies and user agent as reads without a browser send them (each
// host only its own cookies), published for every thread: a snapshot, made again
// only after the cookies changed.
BrowserIdentity BrowserIdentityNow();

inline constexpr const char* kBrowserFolderName = "browser"; // in the program folder
inline constexpr int kBrowserCacheBytes = 64 * 1024 * 1024;

// Waits until the page was seen busy, then stayed idle for two seconds, and is
// complete; false on the stop flag, the time-out (0: none) or a closing program.
// Pumps the GUI thread's events while it waits.
bool WaitReady(WebEngineBrowser& browser, const std::atomic<uint8_t>& stopFlag, uint32_t timeoutMs);

// The same rule watched from the window's event loop without a wait of its own,
// from a load just begun: `done(true)` once the page is ready, `done(false)` on
// the stop flag, the time-out or a closing program. Nothing is called when the
// browser goes first.
void WhenReady(WebEngineBrowser& browser, const std::atomic<uint8_t>& stopFlag, uint32_t timeoutMs,
               std::function<void(bool)> done);

// True when the browser's URL is the one a task names, as the browser would load
// it: a missing scheme or path, percent-encoding and letter case make no difference.
bool SameUrl(const QUrl& reported, const std::string& taskUrl);

// "name^2" -> ("name", 2); anything without a non-negative integer after the first "^" -> (spec, -1).
std::pair<std::string, int> SplitIndexedName(const std::string& spec);

// The mark colour and the style of a mark.
inline constexpr const char* kMarkColour = "rgb(123,236,179)";

} // namespace vexory
