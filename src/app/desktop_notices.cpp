#include "app/desktop_notices.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QStringList>
#include <QVariantMap>

namespace vexory {

namespace {

const QString kService = QStringLiteral("org.freedesktop.Notifications");
const QString kPath = QStringLiteral("/org/freedesktop/Notifications");
const QString kInterface = QStringLiteral("org.freedesktop.Notifications");
const QString kDefaultAction = QStringLiteral("default");
constexpr int kBodyChars = 400;

} // namespace

DesktopNotices::DesktopNotices(QObject* parent) : QObject(parent) {}

QString DesktopNotices::Summary(const QString& task, int records)
{
    return QStringLiteral("%1：%2 条新记录").arg(task).arg(records);
}

QString DesktopNotices::Body(const QString& records, int lines)
{
    // A record's fields on one line; records one a line.
    QStringList shown;
    const QStringList all = records.split(QStringLiteral("\r\n\r\n"), Qt::SkipEmptyParts);
    for (const QString& record : all) {
        if (shown.size() == lines)
            break;
        shown.append(QString(record).replace(QStringLiteral("\r\n"), QStringLiteral("  ")));
    }
    if (all.size() > shown.size())
        shown.append(QStringLiteral("……"));
    QString body = shown.join(QLatin1Char('\n'));
    if (body.size() > kBodyChars)
        body = body.left(kBodyChars) + QStringLiteral("……");
    // The service may read the body as markup.
    return body.toHtmlEscaped();
}

void DesktopNotices::Show(const QString& group, const QString& summary, const QString& body)
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected())
        return;
    if (!m_listening) {
        m_listening = true;
        bus.connect(kService, kPath, kInterface, QStringLiteral("ActionInvoked"), this,
                    SLOT(actionInvoked(uint, QString)));
        bus.connect(kService, kPath, kInterface, QStringLiteral("NotificationClosed"), this, SLOT(closed(uint, uint)));
    }
    QDBusMessage call = QDBusMessage::createMethodCall(kService, kPath, kInterface, QStringLiteral("Notify"));
    QVariantMap hints;
    hints.insert(QStringLiteral("desktop-entry"), QStringLiteral("net.vexory.Vexory"));
    call << QStringLiteral("Vexory") << m_ids.value(group, 0u) << QStringLiteral("net.vexory.Vexory") << summary << body
         << QStringList{kDefaultAction, QStringLiteral("显示")} << hints << int(-1);
    auto* watcher = new QDBusPendingCallWatcher(bus.asyncCall(call, 5000), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this,
            [this, group](QDBusPendingCallWatcher* w) { taken(w, group); });
}

void DesktopNotices::taken(QDBusPendingCallWatcher* call, const QString& group)
{
    const QDBusPendingReply<uint> reply = *call;
    call->deleteLater();
    ++m_answered;
    if (reply.isError())
        return; // no service: nothing shows
    m_ids.insert(group, reply.value());
    ++m_shown;
}

void DesktopNotices::actionInvoked(uint id, const QString& action)
{
    if (action != kDefaultAction)
        return;
    for (auto it = m_ids.cbegin(); it != m_ids.cend(); ++it)
        if (it.value() == id) {
            emit Clicked(it.key());
            return;
        }
}

void DesktopNotices::closed(uint id, uint)
{
    for (auto it = m_ids.begin(); it != m_ids.end(); ++it)
        if (it.value() == id) {
            m_ids.erase(it);
            return;
        }
}

} // namespace vexory
