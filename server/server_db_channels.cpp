// The database's part for forwarding: the channels of each account, the outbox
// of deliveries (one per result and channel), and the account page's sessions.

#include "db_util.h"
#include "server_db.h"

#include <algorithm>

namespace vexory::server {

namespace {

constexpr const char* kChannelColumns = "id, nick, kind, config, label, created, last_error, confirm_token, confirmed";

Channel readChannel(const SqlRow& row)
{
    Channel c;
    c.id = row.integer(0);
    c.nick = row.text(1);
    c.kind = row.text(2);
    c.config = row.text(3);
    c.label = row.text(4);
    c.created = row.text(5);
    c.lastError = row.text(6);
    c.confirmToken = row.text(7);
    c.confirmed = row.integer(8) != 0;
    return c;
}

} // namespace

int64_t ServerDb::AddChannel(const Channel& channel)
{
    const SqlResult r = m_pool->Take()->Run(
        "INSERT INTO channels(nick, kind, config, label, confirmed, confirm_token, created) VALUES($1, $2, $3, $4, $5, "
        "$6, $7) RETURNING id",
        {channel.nick, channel.kind, channel.config, channel.label, channel.confirmed ? 1 : 0, channel.confirmToken,
         db::NowText()});
    return r.first() ? r.first()->integer(0) : 0;
}

std::vector<Channel> ServerDb::Channels(const std::string& nick)
{
    const SqlResult r = m_pool->Take()->Run(
        std::string("SELECT ") + kChannelColumns + " FROM channels WHERE nick = $1 ORDER BY id", {nick});
    std::vector<Channel> out;
    for (const SqlRow& row : r.rows)
        out.push_back(readChannel(row));
    return out;
}

std::optional<Channel> ServerDb::FindChannel(const std::string& nick, int64_t id)
{
    const SqlResult r = m_pool->Take()->Run(
        std::string("SELECT ") + kChannelColumns + " FROM channels WHERE nick = $1 AND id = $2", {nick, id});
    if (!r.first())
        return std::nullopt;
    return readChannel(*r.first());
}

bool ServerDb::DeleteChannel(const std::string& nick, int64_t id)
{
    SqlPool::Lease c = m_pool->Take();
    SqlTransaction t(*c);
    if (!t.ok() ||
        !c->Run("DELETE FROM deliveries WHERE channel_id = $1 AND nick = $2 AND state = 'pending'", {id, nick}).ok())
        return false;
    return db::ChangedOne(c->Run("DELETE FROM channels WHERE id = $1 AND nick = $2", {id, nick})) && t.commit();
}

std::optional<Channel> ServerDb::ConfirmChannel(const std::string& token)
{
    if (token.empty())
        return std::nullopt;
    const SqlResult r = m_pool->Take()->Run(
        std::string("UPDATE channels SET confirmed = 1, confirm_token = '' WHERE confirm_token = $1 AND confirmed = 0 "
                    "RETURNING ") +
            kChannelColumns,
        {token});
    if (!r.first())
        return std::nullopt;
    return readChannel(*r.first());
}

void ServerDb::SetChannelError(int64_t id, const std::string& error)
{
    m_pool->Take()->Run("UPDATE channels SET last_error = $1 WHERE id = $2", {error, id});
}

std::optional<ChannelBatch> ServerDb::ClaimChannel(int64_t nowMs, int64_t leaseMs, size_t maxResults)
{
    SqlPool::Lease c = m_pool->Take();
    // One statement takes the channel whose delivery is due first, passing over
    // channels that must wait for their rate and accounts with a call under way;
    // on PostgreSQL a channel another instance is taking is passed over, not waited for.
    const SqlResult claimed = c->Run(
        std::string("UPDATE channels SET lease_until = $1 WHERE id = (SELECT c.id FROM deliveries d JOIN channels c ON "
                    "c.id = d.channel_id WHERE d.state = 'pending' AND d.due <= $2 AND c.lease_until <= $2 AND "
                    "c.next_ms <= $2 AND NOT EXISTS (SELECT 1 FROM channels b WHERE b.nick = c.nick AND "
                    "b.lease_until > $2) ORDER BY d.due LIMIT 1") +
            (c->Postgres() ? " FOR UPDATE OF c SKIP LOCKED" : "") + ") AND lease_until <= $2 RETURNING " +
            kChannelColumns,
        {nowMs + leaseMs, nowMs});
    if (!claimed.first())
        return std::nullopt;
    ChannelBatch batch;
    batch.channel = readChannel(*claimed.first());
    // Once the channel is called, everything waiting for it goes along, also what
    // came in after the first result and what waits to be tried again.
    const SqlResult due = c->Run(
        "SELECT d.result_id, d.attempts, d.created, r.task, r.url, r.records, r.nick FROM deliveries d JOIN results r "
        "ON r.id = d.result_id WHERE d.channel_id = $1 AND d.state = 'pending' ORDER BY d.result_id LIMIT $2",
        {batch.channel.id, static_cast<int64_t>(maxResults)});
    for (const SqlRow& row : due.rows) {
        StoredResult r;
        r.id = row.integer(0);
        batch.attempts = std::max(batch.attempts, static_cast<int>(row.integer(1)));
        const int64_t created = row.integer(2);
        batch.oldestCreatedMs = batch.results.empty() ? created : std::min(batch.oldestCreatedMs, created);
        r.task = row.text(3);
        r.url = row.text(4);
        r.records = row.text(5);
        r.nick = row.text(6);
        batch.results.push_back(std::move(r));
    }
    if (batch.results.empty()) {
        c->Run("UPDATE channels SET lease_until = 0 WHERE id = $1", {batch.channel.id});
        return std::nullopt;
    }
    return batch;
}

void ServerDb::DeliveriesDone(int64_t channelId, const std::vector<int64_t>& resultIds, bool sent,
                              const std::string& error, int64_t retryAtMs, int64_t nextMs)
{
    SqlPool::Lease c = m_pool->Take();
    SqlTransaction t(*c);
    if (!t.ok())
        return;
    for (const int64_t id : resultIds) {
        const SqlResult w =
            sent ? c->Run("UPDATE deliveries SET state = 'sent', attempts = attempts + 1, last_error = '' WHERE "
                          "result_id = $1 AND channel_id = $2",
                          {id, channelId})
            : retryAtMs > 0
                ? c->Run(
                      "UPDATE deliveries SET due = $1, attempts = attempts + 1, last_error = $2 WHERE result_id = $3 "
                      "AND channel_id = $4",
                      {retryAtMs, error, id, channelId})
                : c->Run("UPDATE deliveries SET state = 'failed', attempts = attempts + 1, last_error = $1 WHERE "
                         "result_id = $2 AND channel_id = $3",
                         {error, id, channelId});
        // A result reached its owner when one channel took it.
        const SqlResult state = c->Run(
            "UPDATE results SET forward_state = CASE WHEN EXISTS(SELECT 1 FROM deliveries d WHERE d.result_id = $1 AND "
            "d.state = 'sent') THEN 'sent' WHEN EXISTS(SELECT 1 FROM deliveries d WHERE d.result_id = $1 AND d.state = "
            "'pending') THEN 'pending' ELSE 'failed' END, forwarded = CASE WHEN EXISTS(SELECT 1 FROM deliveries d "
            "WHERE "
            "d.result_id = $1 AND d.state = 'sent') THEN 1 ELSE 0 END WHERE id = $1",
            {id});
        if (!w.ok() || !state.ok())
            return;
    }
    if (c->Run("UPDATE channels SET lease_until = 0, next_ms = $1, last_error = $2 WHERE id = $3",
               {nextMs, sent ? std::string() : error, channelId})
            .ok())
        t.commit();
}

int64_t ServerDb::NextDeliveryInMs(int64_t nowMs)
{
    const SqlResult r = m_pool->Take()->Run("SELECT MIN(due) FROM deliveries WHERE state = 'pending'");
    if (!r.first() || r.first()->isNull(0))
        return -1;
    return std::max<int64_t>(0, r.first()->integer(0) - nowMs);
}

int64_t ServerDb::PendingDeliveries()
{
    const SqlResult r = m_pool->Take()->Run("SELECT COUNT(*) FROM deliveries WHERE state = 'pending'");
    return r.first() ? r.first()->integer(0) : -1;
}

std::vector<Delivery> ServerDb::Deliveries(const std::string& nick, int64_t fromResultId)
{
    const SqlResult r = m_pool->Take()->Run(
        "SELECT result_id, channel_id, state, attempts, last_error FROM deliveries WHERE nick = $1 AND result_id >= $2 "
        "ORDER BY result_id, channel_id",
        {nick, fromResultId});
    std::vector<Delivery> out;
    for (const SqlRow& row : r.rows)
        out.push_back({row.integer(0), row.integer(1), row.text(2), static_cast<int>(row.integer(3)), row.text(4)});
    return out;
}

bool ServerDb::AddSession(const std::string& tokenDigest, const AccountSession& session)
{
    SqlPool::Lease c = m_pool->Take();
    // Sessions idle for a month are forgotten on the way.
    c->Run("DELETE FROM sessions WHERE seen_ms < $1", {int64_t{session.createdMs - int64_t{30} * 24 * 3600 * 1000}});
    return c
        ->Run("INSERT INTO sessions(token, nick, csrf, created_ms, seen_ms) VALUES($1, $2, $3, $4, $4)",
              {tokenDigest, session.nick, session.csrf, session.createdMs})
        .ok();
}

std::optional<AccountSession> ServerDb::FindSession(const std::string& tokenDigest, int64_t notBeforeMs)
{
    SqlPool::Lease c = m_pool->Take();
    const SqlResult r = c->Run(
        "SELECT s.nick, s.csrf, s.created_ms FROM sessions s JOIN users u ON u.nick = s.nick WHERE s.token = $1 AND "
        "s.seen_ms >= $2",
        {tokenDigest, notBeforeMs});
    if (!r.first())
        return std::nullopt;
    // Seen again: written at most once a minute, not at every page.
    const int64_t now = NowMs();
    c->Run("UPDATE sessions SET seen_ms = $1 WHERE token = $2 AND seen_ms < $3", {now, tokenDigest, now - 60000});
    return AccountSession{r.first()->text(0), r.first()->text(1), r.first()->integer(2)};
}

void ServerDb::DeleteSession(const std::string& tokenDigest)
{
    m_pool->Take()->Run("DELETE FROM sessions WHERE token = $1", {tokenDigest});
}

bool ServerDb::SetPassword(const std::string& nick, const std::string& passwordDigest)
{
    const std::string salt = db::RandomBytes(16);
    const std::string hash = HashPassword(passwordDigest, salt, m_iterations);
    SqlPool::Lease c = m_pool->Take();
    SqlTransaction t(*c);
    // Every browser logged in with the old password is logged out.
    return t.ok() &&
           db::ChangedOne(c->Run("UPDATE users SET salt = $1, hash = $2, iterations = $3 WHERE nick = $4",
                                 {SqlParam::Blob(salt), SqlParam::Blob(hash), m_iterations, nick})) &&
           c->Run("DELETE FROM sessions WHERE nick = $1", {nick}).ok() && t.commit();
}

} // namespace vexory::server
