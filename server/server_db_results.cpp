// The results pushed and the formulas shared: stored, listed, approved.

#include "server_db.h"

#include "db_util.h"

#include <algorithm>
#include <mutex>

namespace vexory::server {

namespace {

constexpr const char* kResultColumns =
    "r.id, r.nick, r.task, r.url, r.formula, r.records, r.forwarded, r.received, r.forward_state, "
    "COALESCE((SELECT MAX(d.attempts) FROM deliveries d WHERE d.result_id = r.id), 0), "
    "COALESCE((SELECT MAX(d.last_error) FROM deliveries d WHERE d.result_id = r.id AND d.state <> 'sent'), '')";
// "No limit" that both engines read.
constexpr int64_t kAll = INT64_MAX;

StoredResult readResult(const SqlRow& s)
{
    StoredResult r;
    r.id = s.integer(0);
    r.nick = s.text(1);
    r.task = s.text(2);
    r.url = s.text(3);
    r.formula = s.text(4);
    r.records = s.text(5);
    r.forwarded = s.integer(6) != 0;
    r.received = s.text(7);
    r.forwardState = s.text(8);
    r.attempts = static_cast<int>(s.integer(9));
    r.lastError = s.text(10);
    return r;
}

} // namespace

ServerDb::Stored ServerDb::StorePush(const StoredResult& r, int keep, int64_t dueInMs)
{
    Stored out;
    SqlPool::Lease c = m_pool->Take();
    SqlTransaction t(*c);
    if (!t.ok())
        return out;
    // The account's row is locked first, as a deletion locks it first: a push that
    // checked its user number before the account was deleted stores nothing after.
    if (r.userNumber != 0) {
        const SqlResult owner = c->Run(
            "UPDATE users SET user_number = user_number WHERE nick = $1 AND user_number = $2", {r.nick, r.userNumber});
        if (!owner.ok())
            return out;
        if (owner.changes != 1) {
            out.ownerGone = true;
            return out;
        }
    }
    const SqlResult taken = c->Run("UPDATE users SET shutoff = 0 WHERE nick = $1 AND shutoff = 1", {r.nick});
    if (!taken.ok())
        return out;
    const bool shutoff = taken.changes == 1;
    const SqlResult channels = c->Run("SELECT id FROM channels WHERE nick = $1 AND confirmed = 1", {r.nick});
    if (!channels.ok())
        return out;
    // A result that ends the run is not forwarded.
    const bool forward = !shutoff && !channels.rows.empty();
    const SqlResult inserted =
        c->Run("INSERT INTO results(nick, task, url, formula, records, forwarded, received, forward_state) "
               "VALUES($1, $2, $3, $4, $5, 0, $6, $7) RETURNING id",
               {r.nick, r.task, r.url, r.formula, r.records, db::NowText(), forward ? "pending" : ""});
    if (!inserted.first())
        return out;
    const int64_t id = inserted.first()->integer(0);
    if (forward) {
        const int64_t ms = NowMs();
        for (const SqlRow& channel : channels.rows)
            if (!c->Run("INSERT INTO deliveries(result_id, channel_id, nick, state, created, due) VALUES($1, $2, $3, "
                        "'pending', $4, $5)",
                        {id, channel.integer(0), r.nick, ms, ms + dueInMs})
                     .ok())
                return out;
    }
    // Finding the cut costs a walk over `keep` index entries: done once every
    // keep/100 pushes of the user (on each instance), so that an account holds at
    // most 1% more for a while.
    bool trim = false;
    if (keep > 0) {
        std::lock_guard lock(m_mutex);
        trim = ++m_sinceTrim[r.nick] >= std::max(1, keep / 100);
        if (trim)
            m_sinceTrim.erase(r.nick);
    }
    if (trim) {
        // Older results than the newest `keep` of this user, found through (nick, id).
        const SqlResult cut =
            c->Run("SELECT id FROM results WHERE nick = $1 ORDER BY id DESC LIMIT 1 OFFSET $2", {r.nick, keep});
        if (cut.first()) {
            const int64_t oldest = cut.first()->integer(0);
            for (const char* sql : {"DELETE FROM deliveries WHERE nick = $1 AND result_id <= $2",
                                    "DELETE FROM results WHERE nick = $1 AND id <= $2"})
                if (!c->Run(sql, {r.nick, oldest}).ok())
                    return out;
        }
    }
    if (!t.commit())
        return out;
    out.id = id;
    out.shutoff = shutoff;
    return out;
}

std::vector<StoredResult> ServerDb::Results(const std::string& nick, int limit, int offset)
{
    const SqlResult r = m_pool->Take()->Run(std::string("SELECT ") + kResultColumns +
                                                " FROM results r WHERE "
                                                "r.nick = $1 ORDER BY r.id DESC LIMIT $2 OFFSET $3",
                                            {nick, limit > 0 ? int64_t{limit} : kAll, std::max(0, offset)});
    std::vector<StoredResult> out;
    for (const SqlRow& row : r.rows)
        out.push_back(readResult(row));
    return out;
}

std::optional<StoredResult> ServerDb::Result(const std::string& nick, int64_t id)
{
    const SqlResult r = m_pool->Take()->Run(std::string("SELECT ") + kResultColumns +
                                                " FROM results r WHERE "
                                                "r.nick = $1 AND r.id = $2",
                                            {nick, id});
    if (!r.first())
        return std::nullopt;
    return readResult(*r.first());
}

int64_t ServerDb::ResultCount(const std::string& nick)
{
    SqlPool::Lease c = m_pool->Take();
    const SqlResult r = nick.empty() ? c->Run("SELECT COUNT(*) FROM results")
                                     : c->Run("SELECT COUNT(*) FROM results WHERE nick = $1", {nick});
    return r.first() ? r.first()->integer(0) : 0;
}

bool ServerDb::AddFormula(const std::string& nick, const std::string& pageKey, const std::string& formula,
                          const std::string& note)
{
    // A rejected copy may be offered again; a waiting or approved one exists already.
    return db::ChangedOne(m_pool->Take()->Run(
        "INSERT INTO formulas(nick, page_key, formula, note, status, created) VALUES($1, $2, $3, $4, 'pending', $5) "
        "ON CONFLICT(page_key, formula) DO UPDATE SET status = 'pending', nick = excluded.nick, note = excluded.note "
        "WHERE formulas.status = 'rejected'",
        {nick, pageKey, formula, note, db::NowText()}));
}

std::pair<int64_t, int64_t> ServerDb::FormulaUsage(const std::string& nick)
{
    const SqlResult r = m_pool->Take()->Run("SELECT COUNT(*), COALESCE(SUM(LENGTH(formula) + LENGTH(note)), 0) "
                                            "FROM formulas WHERE nick = $1 AND status <> 'rejected'",
                                            {nick});
    if (!r.first())
        return {-1, -1};
    return {r.first()->integer(0), r.first()->integer(1)};
}

std::vector<std::string> ServerDb::ApprovedFormulas(const std::string& pageKey)
{
    const SqlResult r = m_pool->Take()->Run(
        "SELECT formula FROM formulas WHERE page_key = $1 AND status = 'approved' ORDER BY id", {pageKey});
    std::vector<std::string> out;
    for (const SqlRow& row : r.rows)
        out.push_back(row.text(0));
    return out;
}

std::vector<SharedFormula> ServerDb::Formulas()
{
    const SqlResult r =
        m_pool->Take()->Run("SELECT id, nick, page_key, formula, note, status, created FROM formulas ORDER BY id");
    std::vector<SharedFormula> out;
    for (const SqlRow& row : r.rows) {
        SharedFormula f;
        f.id = row.integer(0);
        f.nick = row.text(1);
        f.pageKey = row.text(2);
        f.formula = row.text(3);
        f.note = row.text(4);
        f.status = row.text(5);
        f.created = row.text(6);
        out.push_back(std::move(f));
    }
    return out;
}

bool ServerDb::SetFormulaStatus(int64_t id, const std::string& status)
{
    return db::ChangedOne(m_pool->Take()->Run("UPDATE formulas SET status = $1 WHERE id = $2", {status, id}));
}

} // namespace vexory::server
