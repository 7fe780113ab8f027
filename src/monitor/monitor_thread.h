#pragma once

// TMonitorThread: one task's monitor thread. It runs MonitorCore on a QThread
// named after the task and turns the core's events into signals, which reach the
// runner panel on the GUI thread in the order they were raised (queued). Accept is
// answered at once through a thread-safe handler instead. The log lines of a cycle
// (a line for every record cut) travel together, ahead of the next other event.

#include "monitor/monitor_core.h"

#include <QByteArray>
#include <QByteArrayList>
#include <QThread>

#include <functional>
#include <memory>

namespace vexory {

class TMonitorThread : public QThread
{
    Q_OBJECT
public:
    using AcceptHandler = std::function<bool(int taskIndex, const std::string& digest)>;

    TMonitorThread(TAccountRecord& account, const BrowserState* browser, std::string server,
                   AcceptHandler accept = {}, QObject* parent = nullptr);
    // Tells the loop to end and waits for it.
    ~TMonitorThread() override;

    void SetTask(int index);
    int TaskIndex() const { return m_core->TaskIndex(); }
    // The panel's answer to a page-text request: a page text or "wait".
    void SetPageText(std::string text) { m_core->SetPageText(std::move(text)); }
    // Ends the loop at its next look (the program is closing).
    void RequestStop() { m_core->RequestStop(); }
    MonitorCore& Core() { return *m_core; }

signals:
    // When the whole seconds shown change, and at the first look after a refresh.
    void Countdown(int remainingMs);
    void SourceRequest();
    void RefreshRequest();
    // Before a refresh: the browser shows these bytes instead of loading its page.
    void RenderContent(const QByteArray& bytes, const QString& mimeType, const QString& baseUrl);
    // Log lines, oldest first.
    void Messages(const QByteArrayList& gbk);
    void Result(vexory::Delivery delivery, const QByteArray& gbk);
    void NoSource();
    void ChainRequest(int target);
    void ChainDone();
    // The page is now read directly (true), or by the browser again.
    void ReadingMode(bool direct);

protected:
    void run() override;

private:
    void sendLines();

    std::unique_ptr<MonitorCore> m_core;
    QByteArrayList m_lines; // log lines not yet sent (used on the thread only)
    // The countdown last passed on (used on the thread only).
    long m_shownSeconds = -1;
    bool m_refreshed = false;
};

} // namespace vexory

Q_DECLARE_METATYPE(vexory::Delivery)
