#include "forwarder.h"

#include <curl/curl.h>

#include <algorithm>
#include <cstdio>

namespace vexory::server {

namespace {

// Where a call goes: "host:port" of its address ("" when it has none).
std::string destinationOf(const std::string& url)
{
    CURLU* u = curl_url();
    std::string out;
    char* host = nullptr;
    char* port = nullptr;
    if (curl_url_set(u, CURLUPART_URL, url.c_str(), 0) == CURLUE_OK &&
        curl_url_get(u, CURLUPART_HOST, &host, 0) == CURLUE_OK &&
        curl_url_get(u, CURLUPART_PORT, &port, CURLU_DEFAULT_PORT) == CURLUE_OK)
        out = std::string(host) + ":" + port;
    curl_free(host);
    curl_free(port);
    curl_url_cleanup(u);
    return out;
}

} // namespace

Forwarder::Forwarder(ServerDb& db, const OutboundPolicy& policy, const SmtpSettings& smtp, ForwardOptions options)
    : m_db(db), m_policy(policy), m_smtp(smtp), m_options(std::move(options))
{}

Forwarder::~Forwarder()
{
    Stop();
}

void Forwarder::Start()
{
    std::lock_guard lock(m_mutex);
    m_stop = false;
    for (unsigned i = 0; i < std::max(1u, m_options.threads); ++i) {
        ++m_running;
        m_threads.emplace_back([this] {
            loop();
            std::lock_guard ended(m_mutex);
            --m_running;
            m_ended.notify_all();
        });
    }
}

bool Forwarder::Stop(std::chrono::milliseconds wait)
{
    bool ended;
    {
        std::unique_lock lock(m_mutex);
        m_stop = true;
        m_wake.notify_all();
        // A database that does not answer holds a forwarder in its call.
        const auto done = [this] { return m_running == 0; };
        ended = wait == std::chrono::milliseconds::max() ? (m_ended.wait(lock, done), true)
                                                         : m_ended.wait_for(lock, wait, done);
    }
    for (std::thread& t : m_threads)
        ended ? t.join() : t.detach();
    m_threads.clear();
    return ended;
}

void Forwarder::Wake()
{
    std::lock_guard lock(m_mutex);
    m_wake.notify_one();
}

std::string Forwarder::Send(const Channel& channel, const std::vector<ResultText>& results, const std::string& inboxUrl)
{
    const ChannelType* type = FindChannelType(channel.kind);
    if (!type)
        return "unknown channel kind " + channel.kind;
    const ChannelConfig config = ConfigFromJson(channel.config);
    const ChannelMessage message = ChannelMessageFor(*type, results, inboxUrl);
    std::string error;
    if (channel.kind == "email") {
        const auto found = config.find("address");
        return SendMail(m_smtp, found == config.end() ? std::string() : found->second, message.title,
                        message.text + "\n\n—— Vexory", &error, &m_stop)
                   ? std::string()
                   : error;
    }
    const auto base = m_options.apiBase.find(channel.kind);
    OutboundRequest request = BuildChannelRequest(
        *type, config, message, results, base == m_options.apiBase.end() ? std::string() : base->second, NowMs());
    request.timeoutMs = m_options.timeoutMs;
    const std::string destination = destinationOf(request.url);
    if (const int64_t wait = silentForMs(destination); wait > 0)
        return "对方一直没有回答，" + std::to_string((wait + 999) / 1000) + " 秒后再试";
    const OutboundAnswer answer = CallOut(m_policy, request, &m_stop);
    // Silence is no answer at all: not a refusal by this service, not a stop.
    noteAnswer(destination, answer.done || m_stop || answer.error.rfind("拒绝连接", 0) == 0);
    return ChannelAccepted(*type, answer, &error) ? std::string() : error;
}

int64_t Forwarder::silentForMs(const std::string& destination)
{
    std::lock_guard lock(m_silenceMutex);
    const auto found = m_silent.find(destination);
    return found == m_silent.end() ? 0 : std::max<int64_t>(0, found->second.untilMs - NowMs());
}

void Forwarder::noteAnswer(const std::string& destination, bool answered)
{
    std::lock_guard lock(m_silenceMutex);
    if (answered) {
        m_silent.erase(destination);
        return;
    }
    Silence& s = m_silent[destination];
    const int64_t first = std::max<int64_t>(m_options.retryMs, m_options.timeoutMs);
    s.untilMs = NowMs() + std::min<int64_t>(first << std::min(s.times, 20), kSilenceCapMs);
    ++s.times;
    // Destinations long quiet are forgotten, so that strangers' addresses do not pile up.
    if (m_silent.size() > 10000)
        for (auto it = m_silent.begin(); it != m_silent.end();)
            it = it->second.untilMs < NowMs() - kSilenceCapMs ? m_silent.erase(it) : std::next(it);
}

std::string Forwarder::SendTest(const Channel& channel, const std::string& inboxUrl)
{
    ResultText r;
    r.nick = channel.nick;
    r.task = "测试消息";
    r.url = m_options.publicUrl.empty() ? std::string() : m_options.publicUrl + "/account";
    r.records = "说明=这是 Vexory 账户页发出的测试消息，收到它说明推送渠道已经接通。\r\n";
    return Send(channel, {r}, inboxUrl);
}

void Forwarder::watchDatabase()
{
    // One forwarder looks every five seconds, and the journal gets a line when
    // the database goes away and one when it is back.
    const int64_t now = NowMs();
    int64_t last = m_databaseCheckedMs;
    if (now - last < 5000 || !m_databaseCheckedMs.compare_exchange_strong(last, now))
        return;
    const bool reachable = m_db.PendingDeliveries() >= 0;
    if (reachable != m_databaseReachable.exchange(reachable))
        std::fprintf(stderr, reachable ? "vexory-server: the database answers again\n"
                                       : "vexory-server: the database cannot be reached; trying again\n");
}

void Forwarder::loop()
{
    // A claimed channel stays hidden from the other forwarders while its calls run.
    const int64_t lease = int64_t{m_options.timeoutMs} * static_cast<int64_t>(m_options.maxMerged) + 30000;
    while (!m_stop) {
        std::optional<ChannelBatch> batch = m_db.ClaimChannel(NowMs(), lease, m_options.maxMerged);
        if (!batch) {
            watchDatabase();
            const int64_t next = m_db.NextDeliveryInMs(NowMs());
            std::unique_lock lock(m_mutex);
            if (!m_stop)
                m_wake.wait_for(lock, std::chrono::milliseconds(next < 0 ? 1000 : std::min<int64_t>(next, 1000)));
            continue;
        }
        sendBatch(*batch);
    }
}

void Forwarder::sendBatch(const ChannelBatch& batch)
{
    const ChannelType* type = FindChannelType(batch.channel.kind);
    std::string inboxUrl;
    if (!m_options.publicUrl.empty())
        if (const std::optional<User> user = m_db.FindUser(batch.channel.nick))
            inboxUrl = m_options.publicUrl + "/inbox/" + user->inboxToken;
    std::vector<ResultText> texts;
    for (const StoredResult& r : batch.results)
        texts.push_back({r.id, r.nick, r.task, r.url, r.records});
    // Messengers get the results as one message; a webhook one call a result.
    std::vector<std::vector<ResultText>> messages;
    if (type && type->merges)
        messages.push_back(texts);
    else
        for (const ResultText& t : texts)
            messages.push_back({t});
    std::vector<int64_t> sent;
    std::vector<int64_t> unsent;
    std::string error = type ? std::string() : "unknown channel kind " + batch.channel.kind;
    for (const std::vector<ResultText>& message : messages) {
        if (error.empty() && !m_stop)
            error = Send(batch.channel, message, inboxUrl);
        else if (error.empty())
            error = "the service stopped";
        for (const ResultText& t : message)
            (error.empty() ? sent : unsent).push_back(t.id);
    }
    const int64_t now = NowMs();
    const int64_t next = now + (type ? static_cast<int64_t>(60000.0 / type->perMinute) : 0);
    if (!sent.empty())
        m_db.DeliveriesDone(batch.channel.id, sent, true, {}, 0, next);
    if (unsent.empty())
        return;
    const int attempts = batch.attempts + 1;
    const int64_t backoff = std::min<int64_t>(int64_t{m_options.retryMs} << std::min(attempts - 1, 20), 3600 * 1000);
    const int64_t retryAt = now + backoff;
    const bool givenUp = retryAt - batch.oldestCreatedMs > m_options.giveUpMs;
    m_failed += unsent.size();
    if (givenUp) {
        m_abandoned += unsent.size();
        std::fprintf(stderr, "vexory-server: gave up forwarding %zu result(s) of %s to its %s channel: %s\n",
                     unsent.size(), batch.channel.nick.c_str(), batch.channel.kind.c_str(), error.c_str());
    }
    m_db.DeliveriesDone(batch.channel.id, unsent, false, error, givenUp ? 0 : retryAt, sent.empty() ? now : next);
}

} // namespace vexory::server
