#pragma once

// New records on the desktop: notifications by the desktop's notification service
// (org.freedesktop.Notifications on the session bus), one per group (a task) at a
// time, each new one replacing the group's last. Clicking one says which group it
// was. Without a session bus or a notification service nothing shows, and nothing
// else changes. Every call is asynchronous: a slow or absent service never holds
// the window.

#include <QHash>
#include <QObject>
#include <QString>

class QDBusPendingCallWatcher;

namespace vexory {

class DesktopNotices : public QObject
{
    Q_OBJECT

public:
    explicit DesktopNotices(QObject* parent = nullptr);

    // Shows the notice of `group` (replacing the one it shows, if any).
    void Show(const QString& group, const QString& summary, const QString& body);
    // Notices shown so far that the service took.
    int Shown() const { return m_shown; }
    // Calls the bus has answered so far, taken or refused.
    int Answered() const { return m_answered; }

    // The text of a notice of new records: "任务：N 条新记录", and the first records,
    // a line each, at most `lines` lines.
    static QString Summary(const QString& task, int records);
    static QString Body(const QString& records, int lines = 6);

signals:
    void Clicked(const QString& group);

private slots:
    void actionInvoked(uint id, const QString& action);
    void closed(uint id, uint reason);

private:
    void taken(QDBusPendingCallWatcher* call, const QString& group);

    QHash<QString, uint> m_ids; // the notice each group shows
    int m_shown = 0;
    int m_answered = 0;
    bool m_listening = false;
};

} // namespace vexory
