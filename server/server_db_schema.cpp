#include "server_db.h"

#include <cstring>
#include <iterator>
#include <string>
#include <utility>

namespace vexory::server {

namespace {

// Each step brings the schema from its index to the next version; a SQLite
// database made before versions were kept (user_version 0) already has the first
// step's tables. The steps are the same for both engines; only the names of a few
// types differ: {ID} a generated row number, {BIG} a 64-bit integer, {BLOB} raw
// bytes, {REAL} a floating-point number.
const char* const kMigrations[] = {
    R"sql(
CREATE TABLE IF NOT EXISTS users(
    nick TEXT PRIMARY KEY,
    salt {BLOB} NOT NULL,
    hash {BLOB} NOT NULL,
    iterations INTEGER NOT NULL,
    rights INTEGER NOT NULL DEFAULT 0,
    webhook TEXT NOT NULL DEFAULT '',
    user_number {BIG} NOT NULL DEFAULT 0,
    shutoff INTEGER NOT NULL DEFAULT 0,
    inbox_token TEXT NOT NULL,
    created TEXT NOT NULL);
CREATE TABLE IF NOT EXISTS results(
    id {ID},
    nick TEXT NOT NULL,
    task TEXT NOT NULL,
    url TEXT NOT NULL,
    formula TEXT NOT NULL,
    records TEXT NOT NULL,
    forwarded INTEGER NOT NULL DEFAULT 0,
    received TEXT NOT NULL);
CREATE INDEX IF NOT EXISTS results_nick ON results(nick, id);
CREATE TABLE IF NOT EXISTS formulas(
    id {ID},
    nick TEXT NOT NULL,
    page_key TEXT NOT NULL,
    formula TEXT NOT NULL,
    note TEXT NOT NULL,
    status TEXT NOT NULL DEFAULT 'pending',
    created TEXT NOT NULL,
    UNIQUE(page_key, formula));
)sql",
    R"sql(
ALTER TABLE users ADD COLUMN login_address TEXT NOT NULL DEFAULT '';
ALTER TABLE results ADD COLUMN forward_state TEXT NOT NULL DEFAULT '';
UPDATE results SET forward_state = 'sent' WHERE forwarded = 1;
CREATE TABLE outbox(
    result_id {BIG} PRIMARY KEY,
    nick TEXT NOT NULL,
    created {BIG} NOT NULL,
    due {BIG} NOT NULL,
    attempts INTEGER NOT NULL DEFAULT 0,
    last_error TEXT NOT NULL DEFAULT '');
CREATE INDEX outbox_due ON outbox(due);
CREATE INDEX outbox_nick ON outbox(nick);
CREATE INDEX formulas_nick ON formulas(nick);
)sql",
    R"sql(
CREATE TABLE failures(
    name TEXT PRIMARY KEY,
    count INTEGER NOT NULL,
    last_ms {BIG} NOT NULL,
    next_turn_ms {BIG} NOT NULL);
CREATE INDEX failures_last ON failures(last_ms);
CREATE TABLE quotas(
    name TEXT PRIMARY KEY,
    tokens {REAL} NOT NULL,
    last_ms {BIG} NOT NULL);
CREATE INDEX quotas_last ON quotas(last_ms);
)sql",
    R"sql(
CREATE TABLE channels(
    id {ID},
    nick TEXT NOT NULL,
    kind TEXT NOT NULL,
    config TEXT NOT NULL,
    label TEXT NOT NULL DEFAULT '',
    confirmed INTEGER NOT NULL DEFAULT 1,
    confirm_token TEXT NOT NULL DEFAULT '',
    created TEXT NOT NULL,
    lease_until {BIG} NOT NULL DEFAULT 0,
    next_ms {BIG} NOT NULL DEFAULT 0,
    last_error TEXT NOT NULL DEFAULT '');
CREATE INDEX channels_nick ON channels(nick);
CREATE INDEX channels_confirm ON channels(confirm_token);
CREATE TABLE deliveries(
    result_id {BIG} NOT NULL,
    channel_id {BIG} NOT NULL,
    nick TEXT NOT NULL,
    state TEXT NOT NULL,
    created {BIG} NOT NULL,
    due {BIG} NOT NULL,
    attempts INTEGER NOT NULL DEFAULT 0,
    last_error TEXT NOT NULL DEFAULT '',
    PRIMARY KEY(result_id, channel_id));
CREATE INDEX deliveries_due ON deliveries(state, due);
CREATE INDEX deliveries_channel ON deliveries(channel_id, state, due);
CREATE INDEX deliveries_nick ON deliveries(nick, result_id);
CREATE TABLE sessions(
    token TEXT PRIMARY KEY,
    nick TEXT NOT NULL,
    csrf TEXT NOT NULL,
    created_ms {BIG} NOT NULL,
    seen_ms {BIG} NOT NULL);
CREATE INDEX sessions_nick ON sessions(nick);
INSERT INTO channels(nick, kind, config, label, created)
    SELECT nick, 'webhook', '{"url":"' || REPLACE(REPLACE(webhook, '\', '\\'), '"', '\"') || '"}', '管理员设置', created
    FROM users WHERE webhook <> '';
INSERT INTO deliveries(result_id, channel_id, nick, state, created, due, attempts, last_error)
    SELECT o.result_id, c.id, o.nick, 'pending', o.created, o.due, o.attempts, o.last_error
    FROM outbox o JOIN channels c ON c.nick = o.nick AND c.kind = 'webhook';
DROP TABLE outbox;
)sql",
    R"sql(
ALTER TABLE users ADD COLUMN created_from TEXT NOT NULL DEFAULT '';
CREATE INDEX users_created_from ON users(created_from);
)sql",
};
static_assert(std::size(kMigrations) == ServerDb::kSchemaVersion);

std::string dialect(const char* step, bool postgres)
{
    static const std::pair<const char*, const char*> kTypes[] = {
        {"{ID}", "INTEGER PRIMARY KEY"}, {"{BIG}", "INTEGER"}, {"{BLOB}", "BLOB"}, {"{REAL}", "REAL"}};
    static const std::pair<const char*, const char*> kPostgresTypes[] = {
        {"{ID}", "BIGSERIAL PRIMARY KEY"}, {"{BIG}", "BIGINT"}, {"{BLOB}", "BYTEA"}, {"{REAL}", "DOUBLE PRECISION"}};
    std::string sql = step;
    for (const auto& [name, type] : postgres ? kPostgresTypes : kTypes)
        for (size_t at = sql.find(name); at != std::string::npos; at = sql.find(name, at))
            sql.replace(at, std::strlen(name), type);
    return sql;
}

} // namespace

int64_t ServerDb::SqliteSchemaVersion(const std::string& path, std::string* error)
{
    const std::unique_ptr<SqlConnection> c = OpenSqlite(path, true, error);
    return c ? schemaVersion(*c) : -1;
}

int64_t ServerDb::schemaVersion(SqlConnection& c)
{
    const SqlResult r = c.Run(c.Postgres() ? "SELECT MAX(version) FROM schema_version" : "PRAGMA user_version");
    return r.first() ? r.first()->integer(0) : 0;
}

bool ServerDb::migrate(SqlConnection& c, std::string* error)
{
    SqlTransaction t(c);
    if (!t.ok())
        return false;
    // Instances started together take turns here; the first brings the schema up.
    if (c.Postgres() && (!c.Run("SELECT pg_advisory_xact_lock(7476011)").ok() ||
                         !c.Script("CREATE TABLE IF NOT EXISTS schema_version(version INTEGER NOT NULL)", error)))
        return false;
    const int64_t from = schemaVersion(c);
    if (from > kSchemaVersion) {
        if (error)
            *error = "the database is from a newer vexory-server (schema " + std::to_string(from) + ")";
        return false;
    }
    for (int64_t v = from; v < kSchemaVersion; ++v)
        if (!c.Script(dialect(kMigrations[v], c.Postgres()), error))
            return false;
    const std::string version = std::to_string(kSchemaVersion);
    const bool set =
        c.Postgres() ? c.Script("DELETE FROM schema_version; INSERT INTO schema_version VALUES(" + version + ")", error)
                     : c.Script("PRAGMA user_version = " + version, error);
    return set && t.commit();
}

} // namespace vexory::server
