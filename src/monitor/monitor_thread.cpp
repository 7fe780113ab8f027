#include "monitor/monitor_thread.h"

#include "widgets/qt_text.h"

#include <utility>

namespace vexory {

TMonitorThread::TMonitorThread(TAccountRecord& account, const BrowserState* browser, std::string server,
                               AcceptHandler accept, QObject* parent)
    : QThread(parent)
{
    MonitorEvents events;
    // The core counts down in tenths of a second; the panel shows whole seconds and
    // the refresh count. Only a change of those is worth waking the GUI thread for.
    events.countdown = [this](int ms) {
        sendLines();
        const long seconds = CountdownSeconds(ms);
        if (seconds == m_shownSeconds && !m_refreshed)
            return;
        m_shownSeconds = seconds;
        m_refreshed = false;
        emit Countdown(ms);
    };
    events.sourceRequest = [this] {
        sendLines();
        emit SourceRequest();
    };
    events.refresh = [this] {
        sendLines();
        m_refreshed = true;
        emit RefreshRequest();
    };
    events.renderContent = [this](PageContent content) {
        emit RenderContent(QByteArray::fromStdString(content.bytes), QString::fromStdString(content.mimeType),
                           QString::fromStdString(content.baseUrl));
    };
    events.message = [this](const std::string& m) { m_lines.append(QByteArray::fromStdString(m)); };
    events.result = [this](Delivery delivery, const std::string& r) {
        sendLines();
        emit Result(delivery, QByteArray::fromStdString(r));
    };
    events.noSource = [this] {
        sendLines();
        emit NoSource();
    };
    events.chainRequest = [this](int target) {
        sendLines();
        emit ChainRequest(target);
    };
    events.chainDone = [this] {
        sendLines();
        emit ChainDone();
    };
    events.readingMode = [this](bool direct) {
        sendLines();
        emit ReadingMode(direct);
    };
    events.accept = std::move(accept);
    m_core = std::make_unique<MonitorCore>(account, browser, std::move(server), std::move(events));
}

TMonitorThread::~TMonitorThread()
{
    m_core->RequestStop();
    wait();
}

void TMonitorThread::SetTask(int index)
{
    m_core->SetTask(index);
}

void TMonitorThread::run()
{
    m_core->Execute();
    sendLines();
}

// The lines wait at most for the core's next look (a tenth of a second), as it
// counts down at every look.
void TMonitorThread::sendLines()
{
    if (!m_lines.isEmpty())
        emit Messages(std::exchange(m_lines, {}));
}

} // namespace vexory
