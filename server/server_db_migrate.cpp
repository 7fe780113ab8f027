// Moving a service's database to another engine (SQLite to PostgreSQL, or back):
// every table row for row, ids kept, in one transaction on the target.

#include "server_db.h"
#include "sql.h"
#include "web_text.h"

#include "platform/codepage.h"

namespace vexory::server {

namespace {

// A column and what its values are.
struct Column
{
    const char* name;
    SqlParam::Kind kind;
};

struct Table
{
    const char* name;
    std::vector<Column> columns;
    bool hasId; // an id the target engine generates: its counter is set past the copied ones
};

constexpr SqlParam::Kind T = SqlParam::Text, I = SqlParam::Integer, R = SqlParam::Real, B = SqlParam::Bytes;

const std::vector<Table>& tables()
{
    static const std::vector<Table> all = {
        {"users",
         {{"nick", T},
          {"salt", B},
          {"hash", B},
          {"iterations", I},
          {"rights", I},
          {"webhook", T},
          {"user_number", I},
          {"shutoff", I},
          {"inbox_token", T},
          {"created", T},
          {"login_address", T},
          {"created_from", T}},
         false},
        {"results",
         {{"id", I},
          {"nick", T},
          {"task", T},
          {"url", T},
          {"formula", T},
          {"records", T},
          {"forwarded", I},
          {"received", T},
          {"forward_state", T}},
         true},
        {"formulas",
         {{"id", I}, {"nick", T}, {"page_key", T}, {"formula", T}, {"note", T}, {"status", T}, {"created", T}},
         true},
        {"failures", {{"name", T}, {"count", I}, {"last_ms", I}, {"next_turn_ms", I}}, false},
        {"quotas", {{"name", T}, {"tokens", R}, {"last_ms", I}}, false},
        {"channels",
         {{"id", I},
          {"nick", T},
          {"kind", T},
          {"config", T},
          {"label", T},
          {"confirmed", I},
          {"confirm_token", T},
          {"created", T},
          {"lease_until", I},
          {"next_ms", I},
          {"last_error", T}},
         true},
        {"deliveries",
         {{"result_id", I},
          {"channel_id", I},
          {"nick", T},
          {"state", T},
          {"created", I},
          {"due", I},
          {"attempts", I},
          {"last_error", T}},
         false},
        {"sessions", {{"token", T}, {"nick", T}, {"csrf", T}, {"created_ms", I}, {"seen_ms", I}}, false},
    };
    return all;
}

} // namespace

bool ServerDb::CopyInto(ServerDb& target, const std::function<void(const std::string&)>& progress,
                        std::string* error)
{
    auto fail = [error](const std::string& why) {
        if (error)
            *error = why;
        return false;
    };
    SqlPool::Lease from = m_pool->Take();
    SqlPool::Lease to = target.m_pool->Take();
    const SqlResult existing = to->Run("SELECT COUNT(*) FROM users");
    if (!existing.first())
        return fail("cannot read the target database: " + existing.error);
    if (existing.first()->integer(0) > 0)
        return fail("the target database already has accounts: it must be new");
    SqlTransaction copy(*to);
    if (!copy.ok())
        return fail("cannot write the target database");
    for (const Table& table : tables()) {
        std::string names, marks;
        for (size_t i = 0; i < table.columns.size(); ++i) {
            names += (i ? ", " : "") + std::string(table.columns[i].name);
            marks += (i ? ", $" : "$") + std::to_string(i + 1);
        }
        const SqlResult rows = from->Run("SELECT " + names + " FROM " + table.name);
        if (!rows.ok())
            return fail(std::string("cannot read ") + table.name + ": " + rows.error);
        // Target rows from an earlier schema step (a moved webhook) go: the source's are the truth.
        if (!to->Run(std::string("DELETE FROM ") + table.name).ok())
            return fail(std::string("cannot empty ") + table.name + " in the target");
        const std::string insert = std::string("INSERT INTO ") + table.name + "(" + names + ") VALUES(" + marks + ")";
        for (const SqlRow& row : rows.rows) {
            std::vector<SqlParam> params;
            for (size_t i = 0; i < table.columns.size(); ++i) {
                switch (table.columns[i].kind) {
                case SqlParam::Integer:
                    params.emplace_back(row.integer(i));
                    break;
                case SqlParam::Real:
                    params.emplace_back(row.real(i));
                    break;
                case SqlParam::Bytes:
                    params.push_back(SqlParam::Blob(row.text(i)));
                    break;
                case SqlParam::Text:
                    // What an older service kept as GBK bytes becomes text.
                    params.emplace_back(ClientText(row.text(i)).value_or(GbkToUtf8(row.text(i))));
                    break;
                }
            }
            const SqlResult written = to->Run(insert, params);
            if (!written.ok())
                return fail(std::string("cannot write a row of ") + table.name + ": " + written.error);
        }
        if (table.hasId && to->Postgres()) {
            const std::string name = table.name;
            if (!to->Run("SELECT setval(pg_get_serial_sequence('" + name + "', 'id'), COALESCE(MAX(id), 0) + 1, false) "
                         "FROM " +
                         name)
                     .ok())
                return fail("cannot set the ids of " + name);
        }
        if (progress)
            progress(std::string(table.name) + ": " + std::to_string(rows.rows.size()));
    }
    if (!copy.commit())
        return fail("cannot commit the copy");
    // Counted again on both sides.
    for (const Table& table : tables()) {
        const std::string count = std::string("SELECT COUNT(*) FROM ") + table.name;
        const SqlResult a = from->Run(count), b = to->Run(count);
        if (!a.first() || !b.first() || a.first()->integer(0) != b.first()->integer(0))
            return fail(std::string("the counts of ") + table.name + " differ after the copy");
    }
    return true;
}

} // namespace vexory::server
