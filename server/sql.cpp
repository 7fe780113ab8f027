#include "sql.h"

#include <pqxx/pqxx>
#include <sqlite3.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <thread>
#include <unordered_map>

namespace vexory::server {

int64_t SqlRow::integer(size_t i) const
{
    return nulls[i] ? 0 : std::strtoll(values[i].c_str(), nullptr, 10);
}

double SqlRow::real(size_t i) const
{
    return nulls[i] ? 0 : std::strtod(values[i].c_str(), nullptr);
}

SqlPool::SqlPool(std::vector<std::unique_ptr<SqlConnection>> connections) : m_all(std::move(connections))
{
    for (const auto& c : m_all)
        m_free.push_back(c.get());
}

SqlPool::Lease SqlPool::Take()
{
    std::unique_lock lock(m_mutex);
    m_returned.wait(lock, [this] { return !m_free.empty(); });
    SqlConnection* c = m_free.back();
    m_free.pop_back();
    return Lease(*this, c);
}

void SqlPool::giveBack(SqlConnection* c)
{
    {
        std::lock_guard lock(m_mutex);
        m_free.push_back(c);
    }
    m_returned.notify_one();
}

namespace {

// ---------------------------------------------------------------- SQLite

class SqliteConnection final : public SqlConnection
{
public:
    explicit SqliteConnection(sqlite3* db) : m_db(db) {}
    ~SqliteConnection() override
    {
        for (auto& [sql, stmt] : m_statements)
            sqlite3_finalize(stmt);
        sqlite3_close(m_db);
    }

    SqlResult Run(const std::string& sql, const std::vector<SqlParam>& params) override
    {
        SqlResult out;
        sqlite3_stmt* stmt = prepared(sql);
        if (!stmt) {
            out.error = sqlite3_errmsg(m_db);
            return out;
        }
        // Bound by name: "$2" may come before "$1" in the text.
        for (size_t i = 0; i < params.size(); ++i) {
            const int at = sqlite3_bind_parameter_index(stmt, ("$" + std::to_string(i + 1)).c_str());
            if (at == 0)
                continue;
            const SqlParam& p = params[i];
            switch (p.kind) {
            case SqlParam::Text:
                sqlite3_bind_text(stmt, at, p.text.data(), static_cast<int>(p.text.size()), SQLITE_TRANSIENT);
                break;
            case SqlParam::Bytes:
                sqlite3_bind_blob(stmt, at, p.text.data(), static_cast<int>(p.text.size()), SQLITE_TRANSIENT);
                break;
            case SqlParam::Integer:
                sqlite3_bind_int64(stmt, at, p.number);
                break;
            case SqlParam::Real:
                sqlite3_bind_double(stmt, at, p.real);
                break;
            }
        }
        int rc = sqlite3_step(stmt);
        // A statement outside a transaction that read before another connection
        // wrote cannot become a writer (WAL): it starts again on the newer data.
        for (int again = 0; (rc & 0xff) == SQLITE_BUSY && sqlite3_get_autocommit(m_db) && again < 1000; ++again) {
            sqlite3_reset(stmt);
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
            rc = sqlite3_step(stmt);
        }
        for (; rc == SQLITE_ROW; rc = sqlite3_step(stmt)) {
            SqlRow row;
            const int n = sqlite3_column_count(stmt);
            for (int c = 0; c < n; ++c) {
                const int type = sqlite3_column_type(stmt, c);
                row.nulls.push_back(type == SQLITE_NULL);
                const void* data = type == SQLITE_BLOB ? sqlite3_column_blob(stmt, c)
                                                       : static_cast<const void*>(sqlite3_column_text(stmt, c));
                row.values.emplace_back(data ? static_cast<const char*>(data) : "",
                                        data ? static_cast<size_t>(sqlite3_column_bytes(stmt, c)) : 0);
            }
            out.rows.push_back(std::move(row));
        }
        if (rc == SQLITE_DONE) {
            out.fault = SqlResult::None;
            out.changes = sqlite3_changes(m_db);
        } else {
            out.fault = (rc & 0xff) == SQLITE_CONSTRAINT ? SqlResult::Duplicate : SqlResult::Other;
            out.error = sqlite3_errmsg(m_db);
            out.rows.clear();
        }
        sqlite3_reset(stmt);
        sqlite3_clear_bindings(stmt);
        return out;
    }

    bool Script(const std::string& sql, std::string* error) override
    {
        if (sqlite3_exec(m_db, sql.c_str(), nullptr, nullptr, nullptr) == SQLITE_OK)
            return true;
        if (error)
            *error = sqlite3_errmsg(m_db);
        return false;
    }
    bool Begin() override { return Script("BEGIN IMMEDIATE", nullptr); }
    bool Commit() override { return Script("COMMIT", nullptr); }
    void Rollback() override { Script("ROLLBACK", nullptr); }
    bool Postgres() const override { return false; }

private:
    // Statements are prepared once and kept: the server runs a few dozen, again and again.
    sqlite3_stmt* prepared(const std::string& sql)
    {
        auto it = m_statements.find(sql);
        if (it != m_statements.end())
            return it->second;
        sqlite3_stmt* stmt = nullptr;
        if (sqlite3_prepare_v3(m_db, sql.c_str(), -1, SQLITE_PREPARE_PERSISTENT, &stmt, nullptr) != SQLITE_OK)
            return nullptr;
        m_statements.emplace(sql, stmt);
        return stmt;
    }

    sqlite3* m_db;
    std::unordered_map<std::string, sqlite3_stmt*> m_statements;
};

// ---------------------------------------------------------------- PostgreSQL

constexpr unsigned kByteaType = 17;

std::string byteaText(const std::string& bytes)
{
    static const char digits[] = "0123456789abcdef";
    std::string out = "\\x";
    for (unsigned char c : bytes) {
        out += digits[c >> 4];
        out += digits[c & 15];
    }
    return out;
}

std::string byteaValue(const char* text, size_t size)
{
    // The hex output form: \x followed by two digits a byte.
    if (size < 2 || text[0] != '\\' || text[1] != 'x')
        return std::string(text, size);
    auto nibble = [](char c) { return c <= '9' ? c - '0' : (c | 0x20) - 'a' + 10; };
    std::string out;
    for (size_t i = 2; i + 1 < size; i += 2)
        out += static_cast<char>(nibble(text[i]) << 4 | nibble(text[i + 1]));
    return out;
}

class PostgresConnection final : public SqlConnection
{
public:
    explicit PostgresConnection(std::string url) : m_url(std::move(url)) {}

    bool Connect(std::string* error)
    {
        m_tx.reset();
        m_conn.reset();
        m_statements.clear();
        try {
            m_conn = std::make_unique<pqxx::connection>(m_url);
            pqxx::nontransaction quiet(*m_conn);
            quiet.exec("SET client_min_messages = warning");
            return true;
        } catch (const std::exception& e) {
            dropConnection();
            if (error)
                *error = e.what();
            return false;
        }
    }

    SqlResult Run(const std::string& sql, const std::vector<SqlParam>& params) override
    {
        SqlResult out;
        // Outside a transaction a statement on a connection the server closed
        // (a restart) never ran: it is sent again once on a new connection.
        const int attempts = m_tx ? 1 : 2;
        for (int attempt = 0; attempt < attempts; ++attempt) {
            if (!m_conn && !Connect(&out.error)) {
                out.fault = SqlResult::Lost;
                return out;
            }
            try {
                std::vector<std::string> values;
                values.reserve(params.size());
                for (const SqlParam& p : params)
                    values.push_back(textOf(p));
                const std::string& name = prepared(sql);
                const pqxx::result r =
                    m_tx
                        ? m_tx->exec_prepared(name, pqxx::prepare::make_dynamic_params(values))
                        : pqxx::nontransaction(*m_conn).exec_prepared(name, pqxx::prepare::make_dynamic_params(values));
                for (const pqxx::row& row : r) {
                    SqlRow converted;
                    for (pqxx::row::size_type c = 0; c < row.size(); ++c) {
                        const pqxx::field f = row[c];
                        converted.nulls.push_back(f.is_null());
                        converted.values.push_back(r.column_type(c) == kByteaType ? byteaValue(f.c_str(), f.size())
                                                                                  : std::string(f.c_str(), f.size()));
                    }
                    out.rows.push_back(std::move(converted));
                }
                out.changes = static_cast<int64_t>(r.affected_rows());
                out.fault = SqlResult::None;
                out.error.clear();
                return out;
            } catch (const pqxx::broken_connection& e) {
                lost(out, e.what());
            } catch (const pqxx::in_doubt_error& e) {
                lost(out, e.what());
                return out;
            } catch (const pqxx::unique_violation& e) {
                out.fault = SqlResult::Duplicate;
                out.error = e.what();
                return out;
            } catch (const std::exception& e) {
                out.fault = SqlResult::Other;
                out.error = e.what();
                return out;
            }
        }
        return out;
    }

    bool Script(const std::string& sql, std::string* error) override
    {
        if (!m_conn && !Connect(error))
            return false;
        try {
            if (m_tx)
                m_tx->exec(sql);
            else
                pqxx::nontransaction(*m_conn).exec(sql);
            return true;
        } catch (const std::exception& e) {
            if (error)
                *error = e.what();
            if (dynamic_cast<const pqxx::broken_connection*>(&e))
                dropConnection();
            return false;
        }
    }

    bool Begin() override
    {
        for (int attempt = 0; attempt < 2; ++attempt) {
            if (!m_conn && !Connect(nullptr))
                return false;
            try {
                m_tx = std::make_unique<pqxx::work>(*m_conn);
                return true;
            } catch (const pqxx::broken_connection&) {
                m_tx.reset();
                dropConnection();
            } catch (const std::exception&) {
                m_tx.reset();
                return false;
            }
        }
        return false;
    }

    bool Commit() override
    {
        if (!m_tx)
            return false;
        try {
            m_tx->commit();
            m_tx.reset();
            return true;
        } catch (const std::exception& e) {
            m_tx.reset();
            if (dynamic_cast<const pqxx::broken_connection*>(&e) || dynamic_cast<const pqxx::in_doubt_error*>(&e))
                dropConnection();
            return false;
        }
    }

    void Rollback() override
    {
        if (!m_tx)
            return;
        try {
            m_tx->abort();
        } catch (const std::exception&) {
            dropConnection();
        }
        m_tx.reset();
    }

    bool Postgres() const override { return true; }

private:
    static std::string textOf(const SqlParam& p)
    {
        switch (p.kind) {
        case SqlParam::Integer:
            return std::to_string(p.number);
        case SqlParam::Real: {
            char buffer[32];
            std::snprintf(buffer, sizeof buffer, "%.17g", p.real);
            return buffer;
        }
        case SqlParam::Bytes:
            return byteaText(p.text);
        case SqlParam::Text:
            break;
        }
        return p.text;
    }

    // Statements are prepared once a connection: the server runs a few dozen, again and again.
    const std::string& prepared(const std::string& sql)
    {
        auto it = m_statements.find(sql);
        if (it == m_statements.end()) {
            const std::string name = "s" + std::to_string(m_statements.size());
            m_conn->prepare(name, sql);
            it = m_statements.emplace(sql, name).first;
        }
        return it->second;
    }

    void lost(SqlResult& out, const char* what)
    {
        out.fault = SqlResult::Lost;
        out.error = what;
        out.rows.clear();
        m_tx.reset();
        dropConnection();
    }

    void dropConnection()
    {
        m_conn.reset();
        m_statements.clear();
    }

    std::string m_url;
    std::unique_ptr<pqxx::connection> m_conn;
    std::unique_ptr<pqxx::work> m_tx;
    std::unordered_map<std::string, std::string> m_statements; // text -> name, on m_conn
};

std::string escapeUriPath(const std::string& path)
{
    std::string out;
    for (char c : path) {
        if (c == '%' || c == '?' || c == '#') {
            char escaped[4];
            std::snprintf(escaped, sizeof escaped, "%%%02X", static_cast<unsigned char>(c));
            out += escaped;
        } else {
            out += c;
        }
    }
    return out;
}

} // namespace

std::unique_ptr<SqlConnection> OpenSqlite(const std::string& path, bool readOnly, std::string* error)
{
    auto fail = [&](sqlite3* db, const std::string& why) -> std::unique_ptr<SqlConnection> {
        if (error)
            *error = why + (db ? std::string(": ") + sqlite3_errmsg(db) : std::string());
        sqlite3_close(db);
        return nullptr;
    };
    sqlite3* db = nullptr;
    if (readOnly) {
        if (!std::filesystem::exists(path)) {
            if (error)
                *error = "no database at " + path;
            return nullptr;
        }
        // A folder nobody may write has no room for the shared-memory index of the
        // write-ahead log; the database is then read as a file that cannot change.
        const std::string file = escapeUriPath(path);
        for (const std::string& uri : {"file:" + file + "?mode=ro", "file:" + file + "?immutable=1"}) {
            sqlite3_close(db);
            db = nullptr;
            if (sqlite3_open_v2(uri.c_str(), &db, SQLITE_OPEN_READONLY | SQLITE_OPEN_URI | SQLITE_OPEN_NOMUTEX,
                                nullptr) != SQLITE_OK)
                continue;
            if (sqlite3_exec(db, "PRAGMA user_version", nullptr, nullptr, nullptr) != SQLITE_OK)
                continue;
            sqlite3_busy_timeout(db, 10000);
            return std::make_unique<SqliteConnection>(db);
        }
        return fail(db, "cannot read " + path);
    }
    if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX, nullptr) !=
        SQLITE_OK)
        return fail(db, "cannot open " + path);
    sqlite3_busy_timeout(db, 10000);
    if (sqlite3_exec(db, "PRAGMA journal_mode=WAL; PRAGMA synchronous=FULL;", nullptr, nullptr, nullptr) != SQLITE_OK)
        return fail(db, "cannot set up " + path);
    return std::make_unique<SqliteConnection>(db);
}

bool CopySqlite(const std::string& from, const std::string& to, std::string* error)
{
    auto fail = [error](const std::string& why) {
        if (error)
            *error = why;
        return false;
    };
    if (!std::filesystem::exists(from))
        return fail("no database at " + from);
    sqlite3* source = nullptr;
    sqlite3* target = nullptr;
    auto close = [&] {
        sqlite3_close(source);
        sqlite3_close(target);
    };
    if (sqlite3_open_v2(from.c_str(), &source, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK ||
        sqlite3_open_v2(to.c_str(), &target, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr) != SQLITE_OK) {
        const std::string why = std::string("cannot open ") + (target ? to : from) + ": " +
                                sqlite3_errmsg(target ? target : source);
        close();
        return fail(why);
    }
    sqlite3_busy_timeout(source, 10000);
    sqlite3_busy_timeout(target, 10000);
    sqlite3_backup* backup = sqlite3_backup_init(target, "main", source, "main");
    if (!backup) {
        const std::string why = std::string("cannot copy to ") + to + ": " + sqlite3_errmsg(target);
        close();
        return fail(why);
    }
    int rc;
    // All pages in one step: a single read of the source, so one moment of it.
    while ((rc = sqlite3_backup_step(backup, -1)) == SQLITE_BUSY || rc == SQLITE_LOCKED)
        sqlite3_sleep(50);
    sqlite3_backup_finish(backup);
    const std::string why = sqlite3_errmsg(target);
    close();
    return rc == SQLITE_DONE || fail("cannot copy " + from + " to " + to + ": " + why);
}

std::unique_ptr<SqlConnection> OpenPostgres(const std::string& url, std::string* error)
{
    // A server that does not answer is given up after a few seconds, not minutes;
    // a connection whose server went away is noticed by TCP keepalives; a statement
    // stuck behind a lock ends. Settings in the URL win.
    std::string full = url;
    auto setting = [&full](const char* name, const char* value) {
        if (full.find(std::string(name) + "=") == std::string::npos)
            full += (full.find('?') == std::string::npos ? "?" : "&") + std::string(name) + "=" + value;
    };
    setting("connect_timeout", "5");
    setting("keepalives", "1");
    setting("keepalives_idle", "10");
    setting("keepalives_interval", "3");
    setting("keepalives_count", "3");
    if (full.find("statement_timeout") == std::string::npos && full.find("options=") == std::string::npos)
        setting("options", "-c%20statement_timeout%3D30000");
    auto c = std::make_unique<PostgresConnection>(full);
    if (!c->Connect(error))
        return nullptr;
    return c;
}

} // namespace vexory::server
