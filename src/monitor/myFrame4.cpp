#include "monitor/myFrame4.h"

#include "base/gbk_texts.h"
#include "base/progress_format.h"
#include "base/text_helpers.h"
#include "browser/webengine_browser.h"
#include "monitor/gbk_texts.h"
#include "monitor/memo_log.h"
#include "monitor/ui_texts.h"
#include "widgets/qt_text.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QSoundEffect>
#include <QTime>
#include <QVBoxLayout>
#include <QWebEngineView>

#include <utility>

namespace vexory {

namespace {

// "[ task ] what", the form of every notice a runner gives the main window.
QString taskNotice(const QString& task, const QString& what)
{
    return QStringLiteral("[ ") + task + QStringLiteral(" ] ") + what;
}

constexpr int kMemoLimit = 400;
constexpr int kMemoDrop = 200;

// What a task names for its page steps.
PageTarget pageTarget(const TTaskRecord& t)
{
    return {t.GuideUrl, t.PageUrl(), t.ElementId};
}

QLabel* statusLabel(const QString& text, int width, QWidget* parent)
{
    auto* label = new QLabel(text, parent);
    label->setAlignment(Qt::AlignCenter);
    label->setFrameShape(QFrame::StyledPanel);
    label->setFrameShadow(QFrame::Sunken);
    if (width > 0)
        label->setFixedWidth(width);
    return label;
}

} // namespace

TFrame4::TFrame4(TAccountRecord& account, std::string server, TMonitorThread::AcceptHandler accept, QWidget* parent)
    : QWidget(parent), m_account(account), m_server(std::move(server))
{
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);

    // The log takes two fifths of the panel beside the page (353 px at least), and
    // the whole of it while no page is shown (read directly, or let go between cycles).
    auto* panel1 = new QWidget(this);
    panel1->setMinimumWidth(353);
    panel1->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
    auto* left = new QVBoxLayout(panel1);
    left->setContentsMargins(0, 0, 0, 0);
    left->setSpacing(1);
    m_urlBar = statusLabel(QStringLiteral("about:blank"), 0, panel1);
    m_urlBar->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    m_urlBar->setContextMenuPolicy(Qt::CustomContextMenu);
    left->addWidget(m_urlBar);
    auto* bar1 = new QHBoxLayout;
    bar1->setSpacing(1);
    m_status[0] = statusLabel(texts::kLoading, 80, panel1);
    m_status[1] = statusLabel(texts::kProgressStart, 150, panel1);
    m_status[2] = statusLabel(QString(), 50, panel1);
    for (QLabel* l : m_status)
        bar1->addWidget(l);
    m_reading = statusLabel(texts::kReadBrowser, 70, panel1);
    bar1->addWidget(m_reading);
    bar1->addStretch();
    left->addLayout(bar1);
    m_button = new QPushButton(texts::kStart, panel1);
    m_button->hide();
    left->addWidget(m_button);
    m_memo = new QPlainTextEdit(panel1);
    m_memo->setReadOnly(true);
    m_memo->setLineWrapMode(QPlainTextEdit::NoWrap);
    m_memo->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    m_memo->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    left->addWidget(m_memo, 1);
    m_log = new MemoLog(m_memo);
    layout->addWidget(panel1, 2);

    m_browser = new WebEngineBrowser(this);
    layout->addWidget(m_browser->View(), 3);
    m_steps = std::make_unique<PageSteps>(*m_browser, static_cast<PageStepHost&>(*this));

    m_popup = new QMenu(this);
    QAction* go = m_popup->addAction(texts::kGoTo);
    QAction* reload = m_popup->addAction(texts::kReload);
    QAction* mark = m_popup->addAction(texts::kMark);
    connect(go, &QAction::triggered, this, [this] { m_browser->Navigate(ToGbk(m_currentUrl)); });
    connect(reload, &QAction::triggered, this, [this] { m_browser->Refresh(); });
    connect(mark, &QAction::triggered, this, [this] { m_browser->MarkSelection(); });
    connect(m_urlBar, &QWidget::customContextMenuRequested, this,
            [this](const QPoint& at) { m_popup->popup(m_urlBar->mapToGlobal(at)); });

    m_errorSound = new QSoundEffect(this);
    m_errorSound->setSource(QUrl(QStringLiteral("qrc:/monitor/error.wav")));
    m_successSound = new QSoundEffect(this);
    m_successSound->setSource(QUrl(QStringLiteral("qrc:/monitor/success.wav")));

    m_timer.setSingleShot(true);
    connect(&m_timer, &QTimer::timeout, this, &TFrame4::runStep);
    connect(m_button, &QPushButton::clicked, this, &TFrame4::Start);
    connect(m_browser, &WebEngineBrowser::BeforeNavigate, this, &TFrame4::onBeforeNavigate);
    connect(m_browser, &WebEngineBrowser::DownloadRequested, this, &TFrame4::onDownload);
    // A page that did not load says why, in the memo and the program's log.
    connect(m_browser, &WebEngineBrowser::LoadFailed, this, [this](const QString& why) {
        const QString line = texts::kLoadFailed.arg(why);
        LogLine(line);
        if (TTaskRecord* t = task())
            notice(taskNotice(FromGbk(t->TaskName), line), false);
    });
    // Renderers are shared by several pages; when one ends, each of its pages is
    // loaded again from its URL at the next refresh, instead of reloading a blank page.
    connect(m_browser, &WebEngineBrowser::RendererGone, this, [this] { m_steps->ReloadAtNextRefresh(); });

    // The thread waits, created but not started, until the task starts.
    m_thread = std::make_unique<TMonitorThread>(m_account, &m_browser->State(), m_server, std::move(accept));
    connectThread();
}

TFrame4::~TFrame4()
{
    if (m_thread) {
        m_thread->RequestStop();
        m_thread->wait();
        m_thread.reset();
    }
    if (TTaskRecord* t = task())
        t->RunState = RunIdle;
}

QPlainTextEdit* TFrame4::Memo1() const
{
    m_log->Sync();
    return m_memo;
}

TTaskRecord* TFrame4::task()
{
    if (m_taskIndex < 0 || static_cast<size_t>(m_taskIndex) >= m_account.Tasks.size())
        return nullptr;
    return &m_account.Tasks[static_cast<size_t>(m_taskIndex)];
}

void TFrame4::connectThread()
{
    TMonitorThread* thread = m_thread.get();
    connect(thread, &TMonitorThread::Countdown, this, &TFrame4::onCountdown);
    connect(thread, &TMonitorThread::RefreshRequest, this, [this] {
        ++m_refreshCount;
        enableTimer();
    });
    connect(thread, &TMonitorThread::RenderContent, this,
            [this](const QByteArray& bytes, const QString& mimeType, const QString& baseUrl) {
                m_steps->ShowAtNextRefresh({bytes.toStdString(), mimeType.toStdString(), baseUrl.toStdString()});
            });
    connect(thread, &TMonitorThread::SourceRequest, this, &TFrame4::onSourceRequest);
    connect(thread, &TMonitorThread::Messages, this, [this](const QByteArrayList& gbk) {
        // The lines the log would drop at once (a cycle logs every record it cut,
        // the log keeps a few hundred) are not converted: as many line breaks
        // stand in for each. A warning is always itself.
        std::vector<int> counts;
        counts.reserve(static_cast<size_t>(gbk.size()));
        for (const QByteArray& line : gbk)
            counts.push_back(1 + static_cast<int>(line.count('\n'))); // never a GBK trail byte
        int gone = m_log->LinesDroppedAtOnce(counts, kMemoLimit, kMemoDrop);
        QStringList lines;
        lines.reserve(gbk.size());
        for (qsizetype i = 0; i < gbk.size(); ++i) {
            const int n = counts[static_cast<size_t>(i)];
            if (gone >= n &&
                std::string_view(gbk[i].constData(), static_cast<size_t>(gbk[i].size())) != texts::kNoData) {
                gone -= n;
                lines.append(QString(n - 1, QLatin1Char('\n')));
                continue;
            }
            gone = 0;
            lines.append(FromGbk(gbk[i].toStdString()));
        }
        LogLines(lines);
    });
    connect(thread, &TMonitorThread::Result, this, &TFrame4::onResult);
    connect(thread, &TMonitorThread::NoSource, this, &TFrame4::noTextHandling);
    connect(thread, &TMonitorThread::ChainRequest, this, [this](int target) { emit ChainRequest(this, target); });
    connect(thread, &TMonitorThread::ChainDone, this, [this] { emit ChainDone(this); });
    connect(thread, &TMonitorThread::ReadingMode, this, &TFrame4::onReadingMode);
    connect(thread, &QThread::finished, this, &TFrame4::onFinished);
}

void TFrame4::SetTask(int index)
{
    if (index == m_taskIndex)
        return;
    if (index < 0 || static_cast<size_t>(index) >= m_account.Tasks.size()) {
        Q_ASSERT_X(false, "TFrame4::SetTask", "task index outside the task list");
        m_steps->SetStep(-1);
        return;
    }
    const TTaskRecord& t = m_account.Tasks[static_cast<size_t>(index)];
    const int first = FirstPageStep(pageTarget(t));
    if (first < 0) {
        LogLine(FromGbk(texts::kNoUrl));
        notice(taskNotice(FromGbk(t.TaskName), texts::kWarning), true);
        return;
    }
    m_taskIndex = index;
    if (m_thread) {
        m_thread->SetTask(index);
        m_thread->setObjectName(QStringLiteral("monitor ") + FromGbk(t.TaskName));
    }
    m_steps->SetStep(first);
}

void TFrame4::SetRunning(bool running)
{
    if (!running || !m_thread || m_steps->Running() || !task())
        return;
    m_status[0]->setText(texts::kRefreshing);
    setTimeText(texts::kZeroTime);
    task()->RunState = RunBusy;
    m_thread->start();
    m_steps->SetRunning(true);
}

void TFrame4::PrepareStart()
{
    if (TTaskRecord* t = task())
        m_steps->Prepare(pageTarget(*t));
}

void TFrame4::BeginPrepare()
{
    TTaskRecord* t = task();
    m_prepared = true;
    if (!t)
        return;
    m_waitLater = true;
    m_loadBegun = false;
    m_steps->Prepare(pageTarget(*t)); // a navigation, which pumps no events
    m_waitLater = false;
    if (!m_loadBegun)
        return;
    m_prepared = false;
    QPointer<TFrame4> self(this);
    WhenReady(*m_browser, m_account.StopAll, t->ConnectTimeout, [self](bool) {
        if (!self)
            return;
        self->m_prepared = true;
        if (auto then = std::exchange(self->m_whenPrepared, nullptr))
            then();
    });
}

void TFrame4::WhenPrepared(std::function<void()> then)
{
    if (m_prepared)
        then();
    else
        m_whenPrepared = std::move(then);
}

// The step timer's tick. Page waits and script calls pump events, so the timer
// can fire again inside a step: such a step is held back and runs right after the
// one under way.
void TFrame4::runStep()
{
    m_timer.stop();
    if (m_inStep) {
        m_stepPending = true;
        return;
    }
    QPointer<TFrame4> self(this);
    m_inStep = true;
    runOneStep();
    if (!self)
        return; // the panel was closed during the step
    m_inStep = false;
    if (m_stepPending) {
        m_stepPending = false;
        enableTimer();
    }
}

void TFrame4::runOneStep()
{
    TTaskRecord* t = task();
    if (!t)
        return;
    t->RunState = RunBusy;
    if (!m_steps->Run(pageTarget(*t)))
        return;
    if (m_thread)
        m_thread->Core().SetPageLetGo(m_steps->PageLetGo());
    m_timer.stop();
    if ((t = task()))
        t->RunState = RunBetweenCycles;
}

void TFrame4::WaitForPage()
{
    if (m_waitLater) {
        m_loadBegun = true;
        return;
    }
    if (TTaskRecord* t = task())
        WaitReady(*m_browser, m_account.StopAll, t->ConnectTimeout);
}

void TFrame4::HideStartButton()
{
    m_button->hide();
}

void TFrame4::Start()
{
    m_status[0]->setText(texts::kRefreshing);
    setTimeText(texts::kZeroTime);
    enableTimer();
}

void TFrame4::AfterTrim()
{
    m_steps->AfterTrim();
}

bool TFrame4::NoTaskBusy(const TAccountRecord& account)
{
    for (const auto& t : account.Tasks)
        if (t.RunState == RunBusy)
            return false;
    return true;
}

void TFrame4::HandOver(std::string text)
{
    if (!m_thread)
        return;
    m_thread->SetPageText(std::move(text));
}

void TFrame4::AllowDirectReading(bool allowed)
{
    if (m_thread)
        m_thread->Core().AllowDirectReading(allowed);
}

void TFrame4::KeepScreenIn(const std::string& path)
{
    if (m_thread && !Running())
        m_thread->Core().KeepScreenIn(path);
}

bool TFrame4::StartDirectly()
{
    if (!m_thread || Running() || !m_thread->Core().StartDirect())
        return false;
    onReadingMode(true);
    return true;
}

void TFrame4::onReadingMode(bool direct)
{
    m_steps->SetDirect(direct);
    if (m_thread)
        m_thread->Core().SetPageLetGo(m_steps->PageLetGo());
    m_reading->setText(direct ? texts::kReadDirect : texts::kReadBrowser);
    emit ReadingModeChanged(direct);
}

void TFrame4::onCountdown(int remainingMs)
{
    // A panel out of sight (another tab, the window in the tray) shows its
    // countdown when it is shown: hundreds of hidden panels laid out anew every
    // second for their labels kept the window's thread busy for nobody.
    m_countdownMs = remainingMs;
    m_countdownDue = !isVisible();
    if (!m_countdownDue)
        showCountdown();
    emit StatusChanged(this);
}

void TFrame4::showCountdown()
{
    if (m_countdownMs <= 0)
        m_status[1]->setText(texts::kZeroTime);
    else
        m_status[1]->setText(QString::fromStdString(FormatElapsed(CountdownSeconds(m_countdownMs), 2)));
    m_status[2]->setText(QStringLiteral("[ %1 ]").arg(m_refreshCount));
}

void TFrame4::setTimeText(const QString& text)
{
    m_countdownDue = false;
    m_status[1]->setText(text);
}

void TFrame4::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    if (std::exchange(m_countdownDue, false))
        showCountdown();
}

void TFrame4::onSourceRequest()
{
    if (m_steps->SourceRequested())
        enableTimer();
}

void TFrame4::LogLine(const QString& text)
{
    LogLines({text});
}

void TFrame4::LogLines(const QStringList& texts)
{
    static const QString noData = FromGbk(texts::kNoData);
    const QString time = QLatin1Char('\t') + QTime::currentTime().toString(QStringLiteral("H:mm:ss"));
    QStringList stamped;
    stamped.reserve(texts.size());
    for (const QString& text : texts) {
        stamped.append(text + time);
        if (text != noData) {
            m_warningCount = 0;
            continue;
        }
        // The warning after its line, before the lines that follow it.
        m_log->AppendCapped(std::exchange(stamped, {}), kMemoLimit, kMemoDrop);
        ++m_warningCount;
        if (m_warningCount <= 5) {
            if (TTaskRecord* t = task())
                notice(taskNotice(FromGbk(t->TaskName), texts::kWarning), true);
        } else {
            m_warningCount = 0;
            noTextHandling();
        }
    }
    m_log->AppendCapped(stamped, kMemoLimit, kMemoDrop);
}

void TFrame4::notice(const QString& text, bool sound)
{
    emit Notice(text);
    if (sound)
        playError();
}

void TFrame4::playError()
{
    m_errorSound->play();
}

void TFrame4::playSuccess()
{
    m_successSound->play();
}

bool TFrame4::PageOnScreen() const
{
    return m_browser->View() && m_browser->View()->isVisible();
}

void TFrame4::ElementMissing()
{
    LogLine(FromGbk(texts::kNoElement));
    if (TTaskRecord* t = task())
        notice(taskNotice(FromGbk(t->TaskName), texts::kWarning), true);
}

void TFrame4::noTextHandling()
{
    if (TTaskRecord* t = task())
        notice(taskNotice(FromGbk(t->TaskName), texts::kWarning), true);
    m_steps->ReloadAtNextRefresh();
}

void TFrame4::onResult(Delivery delivery, const QByteArray& gbk)
{
    switch (delivery) {
    case Delivery::RemoteEnd:
        emit Remote(RemoteCommand::EndRun);
        return;
    case Delivery::NicknameUnknown:
        m_log->Append(texts::kNicknameError);
        m_account.LoggedIn = 0;
        emit Remote(RemoteCommand::NicknameLogout);
        playError();
        return;
    case Delivery::LoggedInElsewhere:
        m_log->Append(texts::kLoggedInElsewhere);
        m_account.LoggedIn = 0;
        emit Remote(RemoteCommand::ElsewhereLogout);
        playError();
        return;
    case Delivery::Verified:
    case Delivery::Sent:
    case Delivery::NotSent:
        break;
    }
    if (gbk.isEmpty())
        return;
    // A result nobody got is shown trimmed, as it always was.
    const std::string all = gbk.toStdString();
    const std::string r = delivery == Delivery::NotSent ? std::string(Trim(all)) : all;
    const QString& heading = delivery == Delivery::Verified ? texts::kVerified
                             : delivery == Delivery::Sent   ? texts::kSent
                                                            : texts::kNotSent;
    m_log->Append(QStringLiteral("\r\n") + heading + QStringLiteral("：\r\n") + FromGbk(r) + QStringLiteral("\r\n"));
    TTaskRecord* t = task();
    if (!m_account.StopAll) {
        emit Notice(taskNotice(t ? FromGbk(t->TaskName) : QString(), heading));
        emit NewRecords(this, t ? FromGbk(t->TaskName) : QString(), FromGbk(r));
    }
    if (delivery == Delivery::NotSent)
        playError();
    else
        playSuccess();
}

void TFrame4::ShowLaunchProgress(int percent)
{
    // A mark, then eight cells.
    setTimeText(FromGbk(std::string(texts::kBlockFull) + ProgressBlocks(percent)));
}

void TFrame4::Stop()
{
    if (m_thread)
        m_thread->RequestStop();
}

bool TFrame4::IsStopped() const
{
    return !m_thread || !m_thread->isRunning();
}

void TFrame4::onFinished()
{
    m_steps->SetRunning(false);
    if (TTaskRecord* t = task()) {
        t->RunState = RunStopped;
        t->Requester = -1;
    }
    if (m_thread) {
        m_thread->disconnect(this);
        m_thread.release()->deleteLater();
    }
}

void TFrame4::onBeforeNavigate(const QUrl& url)
{
    TTaskRecord* t = task();
    if (!t)
        return;
    if (SameUrl(url, t->GuideUrl) || SameUrl(url, t->PageUrl())) {
        const QString text = url.toString();
        m_currentUrl = text;
        m_urlBar->setText(text);
    }
}

void TFrame4::onDownload(const QUrl& url)
{
    // A page served as a download is monitored as its text: fetched now, and
    // again at every refresh, at the address as the browser had it (encoded).
    m_steps->DownloadClaimed(url.toEncoded().toStdString());
}

} // namespace vexory
