#pragma once

// The two database engines vexory-server runs on, behind one small interface:
// SQLite (one file, the default) and PostgreSQL (libpqxx, for several instances).
// Statements are written once, with $1, $2 ... parameters, which both engines
// read; the few places where the dialects differ ask the connection.

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace vexory::server {

// A statement parameter: text, a whole number, a real number or raw bytes.
struct SqlParam
{
    enum Kind
    {
        Text,
        Integer,
        Real,
        Bytes
    };
    Kind kind = Text;
    std::string text; // Text and Bytes
    int64_t number = 0;
    double real = 0;

    SqlParam(std::string s) : text(std::move(s)) {}
    SqlParam(const char* s) : text(s) {}
    SqlParam(int64_t n) : kind(Integer), number(n) {}
    SqlParam(int n) : kind(Integer), number(n) {}
    SqlParam(double d) : kind(Real), real(d) {}
    static SqlParam Blob(std::string bytes)
    {
        SqlParam p(std::move(bytes));
        p.kind = Bytes;
        return p;
    }
};

// One row of an answer; bytes columns come back raw from both engines.
struct SqlRow
{
    std::vector<std::string> values;
    std::vector<bool> nulls;

    const std::string& text(size_t i) const { return values[i]; }
    int64_t integer(size_t i) const;
    double real(size_t i) const;
    bool isNull(size_t i) const { return nulls[i]; }
};

struct SqlResult
{
    enum Fault
    {
        None,
        Duplicate, // a unique key was already taken
        Lost,      // the connection broke; it is made again on the next use
        Other
    };
    Fault fault = Other;
    std::string error;
    int64_t changes = 0; // rows written
    std::vector<SqlRow> rows;

    bool ok() const { return fault == None; }
    // The first row, when there is one.
    const SqlRow* first() const { return ok() && !rows.empty() ? &rows.front() : nullptr; }
};

class SqlConnection
{
public:
    virtual ~SqlConnection() = default;

    // One statement with $1, $2 ... parameters.
    virtual SqlResult Run(const std::string& sql, const std::vector<SqlParam>& params = {}) = 0;
    // Several statements without parameters (schema steps).
    virtual bool Script(const std::string& sql, std::string* error) = 0;
    // A transaction that will write: on SQLite writers take turns from its start
    // (BEGIN IMMEDIATE); on PostgreSQL rows are locked as they are read FOR UPDATE.
    virtual bool Begin() = 0;
    virtual bool Commit() = 0;
    virtual void Rollback() = 0;

    virtual bool Postgres() const = 0;
    // " FOR UPDATE" where the engine locks rows, "" where a transaction locks the file.
    const char* ForUpdate() const { return Postgres() ? " FOR UPDATE" : ""; }
    // Rows other writers hold are passed over rather than waited for.
    const char* ForUpdateSkipLocked() const { return Postgres() ? " FOR UPDATE SKIP LOCKED" : ""; }
};

// Begin ... Commit, rolled back unless committed.
class SqlTransaction
{
public:
    explicit SqlTransaction(SqlConnection& c) : m_c(c), m_open(c.Begin()) {}
    ~SqlTransaction()
    {
        if (m_open)
            m_c.Rollback();
    }
    SqlTransaction(const SqlTransaction&) = delete;
    SqlTransaction& operator=(const SqlTransaction&) = delete;

    bool ok() const { return m_open; }
    bool commit()
    {
        const bool done = m_open && m_c.Commit();
        m_open = false;
        return done;
    }

private:
    SqlConnection& m_c;
    bool m_open;
};

// A fixed number of connections handed out one at a time.
class SqlPool
{
public:
    explicit SqlPool(std::vector<std::unique_ptr<SqlConnection>> connections);

    class Lease
    {
    public:
        Lease(SqlPool& pool, SqlConnection* c) : m_pool(&pool), m_c(c) {}
        Lease(Lease&& other) noexcept : m_pool(other.m_pool), m_c(other.m_c) { other.m_c = nullptr; }
        Lease(const Lease&) = delete;
        Lease& operator=(const Lease&) = delete;
        Lease& operator=(Lease&&) = delete;
        ~Lease()
        {
            if (m_c)
                m_pool->giveBack(m_c);
        }
        SqlConnection* operator->() const { return m_c; }
        SqlConnection& operator*() const { return *m_c; }

    private:
        SqlPool* m_pool;
        SqlConnection* m_c;
    };

    // Waits for a free connection.
    Lease Take();

private:
    void giveBack(SqlConnection* c);

    std::vector<std::unique_ptr<SqlConnection>> m_all;
    std::vector<SqlConnection*> m_free;
    std::mutex m_mutex;
    std::condition_variable m_returned;
};

// A SQLite file (created when `create`); read-only opens never write to it.
std::unique_ptr<SqlConnection> OpenSqlite(const std::string& path, bool readOnly, std::string* error);
// Copies the SQLite database FROM to TO (made or replaced) with SQLite's online
// backup: one consistent moment of FROM, while a service may go on writing it.
bool CopySqlite(const std::string& from, const std::string& to, std::string* error);
// A PostgreSQL database by libpq URL; a connection that breaks is made again at
// its next use.
std::unique_ptr<SqlConnection> OpenPostgres(const std::string& url, std::string* error);

} // namespace vexory::server
