#include "monitor/monitor_thread.h"

#include "widgets/qt_text.h"

namespace vexory {

TMonitorThread::TMonitorThread(TAccountRecord& account, const BrowserState* browser, std::string server,
                               AcceptHandler accept, QObject* parent)
    : QThread(parent)
{
    MonitorEvents events;
    // The core counts down in tenths of a second; the panel shows whole seconds and
    // the refresh count. Only a change of those is worth waking the GUI thread for.
    events.countdown = [this](int ms) {
        const long seconds = CountdownSeconds(ms);
        if (seconds == m_shownSeconds && !m_refreshed)
            return;
        m_shownSeconds = seconds;
        m_refreshed = false;
        emit Countdown(ms);
    };
    events.sourceRequest = [this] { emit SourceRequest(); };
    events.refresh = [this] {
        m_refreshed = true;
        emit RefreshRequest();
    };
    events.message = [this](const std::string& m) { emit Message(QByteArray::fromStdString(m)); };
    events.result = [this](Delivery delivery, const std::string& r) {
        emit Result(delivery, QByteArray::fromStdString(r));
    };
    events.noSource = [this] { emit NoSource(); };
    events.chainRequest = [this](int target) { emit ChainRequest(target); };
    events.chainDone = [this] { emit ChainDone(); };
    events.readingMode = [this](bool direct) { emit ReadingMode(direct); };
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
}

} // namespace vexory
