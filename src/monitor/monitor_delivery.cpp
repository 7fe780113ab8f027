// A cycle's result delivered: to the task that asked for it, to the service (and
// what its reply means for the run), or to the panel.

#include "monitor/monitor_core.h"

#include "model/settings.h"
#include "platform/plugin_window.h"
#include "service/service_client.h"

namespace vexory {

// The pending result: to the task that asked for it (chained tasks), to the
// service when logged in, or shown here. The outcome of the cycle after it.
int MonitorCore::deliver(int outcome)
{
    TTaskRecord& t = task();
    const bool chain = !m_chainTask.empty();
    if (t.Requester >= 0) {
        if (chain)
            resolveChains();
    } else if (m_account.LoggedIn) {
        if (chain && m_account.ChainRight)
            resolveChains();
        if (!t.PendingResult().empty()) {
            outcome = deliverPush();
            t.SetPendingResult({});
        }
    } else {
        if (chain)
            resolveChains();
        if (!t.PendingResult().empty()) {
            outcome = OutcomeDelivered;
            if (m_events.result)
                m_events.result(Delivery::Verified, t.PendingResult());
            t.SetPendingResult({});
        }
    }
    return outcome;
}

// Pushes the pending result and acts on the service's reply.
int MonitorCore::deliverPush()
{
    TTaskRecord& t = task();
    const std::string result = t.PendingResult();
    const PushReply reply = ReadPushReply(PushResult(t, m_account, m_server, result));
    auto raise = [&](Delivery delivery, const std::string& text = {}) {
        if (m_events.result)
            m_events.result(delivery, text);
    };
    if (!reply.valid || !reply.readOn)
        return OutcomeNotConfirmed;
    if (reply.nicknameInvalid) {
        raise(Delivery::NicknameUnknown);
        return OutcomeNotConfirmed;
    }
    if (reply.loggedInElsewhere) {
        raise(Delivery::LoggedInElsewhere);
        return OutcomeNotConfirmed;
    }
    if (reply.shutoff) {
        raise(Delivery::RemoteEnd);
        return OutcomeDelivered;
    }
    if (!reply.taken)
        return OutcomeNotConfirmed;
    bool sent = false;
    if (reply.forwarded) {
        raise(Delivery::Sent, result);
        sent = true;
    }
    if (reply.pluginAllowed && t.PushToPlugin) {
        std::string host;
        uint16_t port = 0;
        if (!SplitServer(m_server, host, port))
            host = m_server;
        if (SendToPluginWindow(static_cast<uint32_t>(m_taskIndex + 1), result, host) && !sent) {
            raise(Delivery::Sent, result);
            sent = true;
        }
    }
    if (!sent)
        raise(Delivery::NotSent, result);
    return OutcomeDelivered;
}

} // namespace vexory
