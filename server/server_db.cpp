#include "server_db.h"

#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/rand.h>
#include <sqlite3.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <iterator>
#include <random>
#include <sstream>

namespace vexory::server {

namespace {

// Each step brings the schema from its index to the next version; a database made
// before versions were kept (user_version 0) already has the first step's tables.
const char* const kMigrations[] = {
    R"sql(
CREATE TABLE IF NOT EXISTS users(
    nick TEXT PRIMARY KEY,
    salt BLOB NOT NULL,
    hash BLOB NOT NULL,
    iterations INTEGER NOT NULL,
    rights INTEGER NOT NULL DEFAULT 0,
    webhook TEXT NOT NULL DEFAULT '',
    user_number INTEGER NOT NULL DEFAULT 0,
    shutoff INTEGER NOT NULL DEFAULT 0,
    inbox_token TEXT NOT NULL,
    created TEXT NOT NULL);
CREATE TABLE IF NOT EXISTS results(
    id INTEGER PRIMARY KEY,
    nick TEXT NOT NULL,
    task TEXT NOT NULL,
    url TEXT NOT NULL,
    formula TEXT NOT NULL,
    records TEXT NOT NULL,
    forwarded INTEGER NOT NULL DEFAULT 0,
    received TEXT NOT NULL);
CREATE INDEX IF NOT EXISTS results_nick ON results(nick, id);
CREATE TABLE IF NOT EXISTS formulas(
    id INTEGER PRIMARY KEY,
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
    result_id INTEGER PRIMARY KEY,
    nick TEXT NOT NULL,
    created INTEGER NOT NULL,
    due INTEGER NOT NULL,
    attempts INTEGER NOT NULL DEFAULT 0,
    last_error TEXT NOT NULL DEFAULT '');
CREATE INDEX outbox_due ON outbox(due);
CREATE INDEX outbox_nick ON outbox(nick);
CREATE INDEX formulas_nick ON formulas(nick);
)sql",
};
static_assert(std::size(kMigrations) == ServerDb::kSchemaVersion);

std::string now()
{
    const std::time_t t = std::time(nullptr);
    std::tm tm{};
    localtime_r(&t, &tm);
    char buffer[32];
    std::strftime(buffer, sizeof buffer, "%Y-%m-%d %H:%M:%S", &tm);
    return buffer;
}

std::string randomBytes(size_t n)
{
    std::string out(n, '\0');
    if (RAND_bytes(reinterpret_cast<unsigned char*>(out.data()), static_cast<int>(n)) != 1) {
        std::random_device rd;
        for (char& c : out)
            c = static_cast<char>(rd());
    }
    return out;
}

std::string hex(const std::string& bytes)
{
    static const char digits[] = "0123456789abcdef";
    std::string out;
    for (unsigned char c : bytes) {
        out += digits[c >> 4];
        out += digits[c & 15];
    }
    return out;
}

// A prepared statement, finalised on every path.
class Statement
{
public:
    Statement(sqlite3* db, const char* sql) { sqlite3_prepare_v2(db, sql, -1, &m_stmt, nullptr); }
    ~Statement() { sqlite3_finalize(m_stmt); }
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;

    bool ok() const { return m_stmt != nullptr; }
    Statement& bind(int i, const std::string& v)
    {
        sqlite3_bind_text(m_stmt, i, v.data(), static_cast<int>(v.size()), SQLITE_TRANSIENT);
        return *this;
    }
    Statement& blob(int i, const std::string& v)
    {
        sqlite3_bind_blob(m_stmt, i, v.data(), static_cast<int>(v.size()), SQLITE_TRANSIENT);
        return *this;
    }
    Statement& bind(int i, int64_t v)
    {
        sqlite3_bind_int64(m_stmt, i, v);
        return *this;
    }
    bool row() { return m_stmt && sqlite3_step(m_stmt) == SQLITE_ROW; }
    bool done() { return m_stmt && sqlite3_step(m_stmt) == SQLITE_DONE; }
    std::string text(int col)
    {
        const unsigned char* t = sqlite3_column_text(m_stmt, col);
        return t ? std::string(reinterpret_cast<const char*>(t), static_cast<size_t>(sqlite3_column_bytes(m_stmt, col)))
                 : std::string();
    }
    std::string bytes(int col)
    {
        const void* b = sqlite3_column_blob(m_stmt, col);
        return b ? std::string(static_cast<const char*>(b), static_cast<size_t>(sqlite3_column_bytes(m_stmt, col)))
                 : std::string();
    }
    int64_t integer(int col) { return sqlite3_column_int64(m_stmt, col); }
    sqlite3_stmt* raw() { return m_stmt; }

private:
    sqlite3_stmt* m_stmt = nullptr;
};

constexpr const char* kUserColumns = "nick, rights, webhook, user_number, shutoff, inbox_token, created, login_address";
constexpr const char* kResultColumns =
    "r.id, r.nick, r.task, r.url, r.formula, r.records, r.forwarded, r.received, r.forward_state, "
    "COALESCE(o.attempts, 0), COALESCE(o.last_error, '')";

User readUser(Statement& s)
{
    User u;
    u.nick = s.text(0);
    u.rights = static_cast<int>(s.integer(1));
    u.webhook = s.text(2);
    u.userNumber = s.integer(3);
    u.shutoff = s.integer(4) != 0;
    u.inboxToken = s.text(5);
    u.created = s.text(6);
    u.loginAddress = s.text(7);
    return u;
}

StoredResult readResult(Statement& s)
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

// BEGIN IMMEDIATE ... COMMIT, rolled back unless committed.
class Transaction
{
public:
    explicit Transaction(sqlite3* db) : m_db(db)
    {
        m_open = sqlite3_exec(db, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr) == SQLITE_OK;
    }
    ~Transaction()
    {
        if (m_open)
            sqlite3_exec(m_db, "ROLLBACK", nullptr, nullptr, nullptr);
    }
    bool ok() const { return m_open; }
    bool commit()
    {
        const bool done = m_open && sqlite3_exec(m_db, "COMMIT", nullptr, nullptr, nullptr) == SQLITE_OK;
        if (done)
            m_open = false;
        return done;
    }

private:
    sqlite3* m_db;
    bool m_open = false;
};

} // namespace

bool ParseRights(const std::string& text, int& rights)
{
    rights = 0;
    std::stringstream in(text);
    std::string name;
    while (std::getline(in, name, ',')) {
        if (name == "plugin")
            rights |= RightPlugin;
        else if (name == "multitask")
            rights |= RightMultiTask;
        else if (name == "chain")
            rights |= RightChain;
        else if (name == "fastrefresh")
            rights |= RightFastRefresh;
        else if (!name.empty() && name != "none")
            return false;
    }
    return true;
}

std::string FormatRights(int rights)
{
    std::string out;
    auto add = [&](int bit, const char* name) {
        if (rights & bit)
            out += (out.empty() ? "" : ",") + std::string(name);
    };
    add(RightPlugin, "plugin");
    add(RightMultiTask, "multitask");
    add(RightChain, "chain");
    add(RightFastRefresh, "fastrefresh");
    return out.empty() ? "none" : out;
}

std::string HashPassword(const std::string& passwordDigest, const std::string& salt, int iterations)
{
    unsigned char out[32];
    PKCS5_PBKDF2_HMAC(passwordDigest.data(), static_cast<int>(passwordDigest.size()),
                      reinterpret_cast<const unsigned char*>(salt.data()), static_cast<int>(salt.size()), iterations,
                      EVP_sha256(), sizeof out, out);
    return std::string(reinterpret_cast<char*>(out), sizeof out);
}

ServerDb::~ServerDb()
{
    if (m_db)
        sqlite3_close(m_db);
}

bool ServerDb::exec(const char* sql)
{
    return sqlite3_exec(m_db, sql, nullptr, nullptr, nullptr) == SQLITE_OK;
}

bool ServerDb::Open(const std::string& dataFolder, std::string* error, bool readOnly)
{
    auto fail = [&](const std::string& why) {
        if (error)
            *error = why;
        if (m_db)
            sqlite3_close(m_db);
        m_db = nullptr;
        return false;
    };
    const std::string path = dataFolder + "/vexory.sqlite3";
    if (readOnly) {
        if (!std::filesystem::exists(path))
            return fail("no database in " + dataFolder);
        // A folder nobody may write has no room for the shared-memory index of the
        // write-ahead log; the database is then read as a file that cannot change.
        std::string file;
        for (char c : path) {
            if (c == '%' || c == '?' || c == '#') {
                char escaped[4];
                std::snprintf(escaped, sizeof escaped, "%%%02X", static_cast<unsigned char>(c));
                file += escaped;
            } else {
                file += c;
            }
        }
        for (const std::string& uri : {"file:" + file + "?mode=ro", "file:" + file + "?immutable=1"}) {
            if (m_db)
                sqlite3_close(m_db);
            m_db = nullptr;
            if (sqlite3_open_v2(uri.c_str(), &m_db, SQLITE_OPEN_READONLY | SQLITE_OPEN_URI | SQLITE_OPEN_FULLMUTEX,
                                nullptr) != SQLITE_OK)
                continue;
            Statement version(m_db, "PRAGMA user_version");
            if (!version.row())
                continue;
            if (version.integer(0) < kSchemaVersion)
                return fail("the database in " + dataFolder +
                            " is from an older vexory-server; start `vexory-server serve` on it once to upgrade it");
            sqlite3_busy_timeout(m_db, 10000);
            return true;
        }
        return fail("cannot read " + path + (m_db ? std::string(": ") + sqlite3_errmsg(m_db) : std::string()));
    }
    std::error_code ec;
    std::filesystem::create_directories(dataFolder, ec);
    if (sqlite3_open_v2(path.c_str(), &m_db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_FULLMUTEX,
                        nullptr) != SQLITE_OK)
        return fail("cannot open " + path + ": " + (m_db ? sqlite3_errmsg(m_db) : "out of memory"));
    sqlite3_busy_timeout(m_db, 10000);
    if (!exec("PRAGMA journal_mode=WAL; PRAGMA synchronous=NORMAL;") || !migrate(error)) {
        if (error && error->empty())
            *error = std::string("cannot set up the database: ") + sqlite3_errmsg(m_db);
        return fail(error ? *error : std::string());
    }
    return true;
}

bool ServerDb::migrate(std::string* error)
{
    Transaction t(m_db);
    if (!t.ok())
        return false;
    Statement version(m_db, "PRAGMA user_version");
    const int64_t from = version.row() ? version.integer(0) : 0;
    if (from > kSchemaVersion) {
        if (error)
            *error = "the database is from a newer vexory-server (schema " + std::to_string(from) + ")";
        return false;
    }
    for (int64_t v = from; v < kSchemaVersion; ++v)
        if (!exec(kMigrations[v]))
            return false;
    const std::string set = "PRAGMA user_version = " + std::to_string(kSchemaVersion);
    return exec(set.c_str()) && t.commit();
}

bool ServerDb::AddUser(const std::string& nick, const std::string& passwordDigest, int rights,
                       const std::string& webhook, std::string* error)
{
    const std::string salt = randomBytes(16);
    const int iterations = m_iterations;
    const std::string hash = HashPassword(passwordDigest, salt, iterations);
    std::lock_guard lock(m_mutex);
    Statement s(m_db, "INSERT INTO users(nick, salt, hash, iterations, rights, webhook, inbox_token, created) "
                      "VALUES(?, ?, ?, ?, ?, ?, ?, ?)");
    s.bind(1, nick).blob(2, salt).blob(3, hash).bind(4, int64_t{iterations}).bind(5, int64_t{rights});
    s.bind(6, webhook).bind(7, hex(randomBytes(16))).bind(8, now());
    if (!s.done()) {
        if (error)
            *error = sqlite3_errcode(m_db) == SQLITE_CONSTRAINT ? "the nickname is taken: " + nick
                                                                : std::string(sqlite3_errmsg(m_db));
        return false;
    }
    return true;
}

std::optional<User> ServerDb::FindUser(const std::string& nick)
{
    std::lock_guard lock(m_mutex);
    Statement s(m_db, (std::string("SELECT ") + kUserColumns + " FROM users WHERE nick = ?").c_str());
    s.bind(1, nick);
    if (!s.row())
        return std::nullopt;
    return readUser(s);
}

std::optional<User> ServerDb::FindUserByInbox(const std::string& token)
{
    std::lock_guard lock(m_mutex);
    Statement s(m_db, (std::string("SELECT ") + kUserColumns + " FROM users WHERE inbox_token = ?").c_str());
    s.bind(1, token);
    if (!s.row())
        return std::nullopt;
    return readUser(s);
}

std::vector<User> ServerDb::Users()
{
    std::lock_guard lock(m_mutex);
    Statement s(m_db, (std::string("SELECT ") + kUserColumns + " FROM users ORDER BY nick").c_str());
    std::vector<User> out;
    while (s.row())
        out.push_back(readUser(s));
    return out;
}

bool ServerDb::DeleteUser(const std::string& nick)
{
    std::lock_guard lock(m_mutex);
    Transaction t(m_db);
    if (!t.ok())
        return false;
    // The inbox token goes with the users row; whoever takes the nickname later
    // starts with nothing of the old owner's.
    for (const char* sql : {"DELETE FROM outbox WHERE nick = ?", "DELETE FROM results WHERE nick = ?",
                            "DELETE FROM formulas WHERE nick = ?"}) {
        Statement s(m_db, sql);
        s.bind(1, nick);
        if (!s.done())
            return false;
    }
    Statement s(m_db, "DELETE FROM users WHERE nick = ?");
    s.bind(1, nick);
    return s.done() && sqlite3_changes(m_db) == 1 && t.commit();
}

bool ServerDb::SetRights(const std::string& nick, int rights)
{
    std::lock_guard lock(m_mutex);
    Statement s(m_db, "UPDATE users SET rights = ? WHERE nick = ?");
    s.bind(1, int64_t{rights}).bind(2, nick);
    return s.done() && sqlite3_changes(m_db) == 1;
}

bool ServerDb::SetWebhook(const std::string& nick, const std::string& url)
{
    std::lock_guard lock(m_mutex);
    Statement s(m_db, "UPDATE users SET webhook = ? WHERE nick = ?");
    s.bind(1, url).bind(2, nick);
    return s.done() && sqlite3_changes(m_db) == 1;
}

bool ServerDb::SetShutoff(const std::string& nick, bool on)
{
    std::lock_guard lock(m_mutex);
    Statement s(m_db, "UPDATE users SET shutoff = ? WHERE nick = ?");
    s.bind(1, int64_t{on ? 1 : 0}).bind(2, nick);
    return s.done() && sqlite3_changes(m_db) == 1;
}

bool ServerDb::TakeShutoff(const std::string& nick)
{
    std::lock_guard lock(m_mutex);
    Statement s(m_db, "UPDATE users SET shutoff = 0 WHERE nick = ? AND shutoff = 1");
    s.bind(1, nick);
    return s.done() && sqlite3_changes(m_db) == 1;
}

bool ServerDb::CheckPassword(const std::string& nick, const std::string& passwordDigest)
{
    std::string salt, hash;
    int iterations = 0;
    {
        std::lock_guard lock(m_mutex);
        Statement s(m_db, "SELECT salt, hash, iterations FROM users WHERE nick = ?");
        s.bind(1, nick);
        if (!s.row())
            return false;
        salt = s.bytes(0);
        hash = s.bytes(1);
        iterations = static_cast<int>(s.integer(2));
    }
    // The slow hash runs outside the lock, so that logins do not hold up pushes.
    const std::string computed = HashPassword(passwordDigest, salt, iterations);
    if (computed.size() != hash.size() || CRYPTO_memcmp(computed.data(), hash.data(), hash.size()) != 0)
        return false;
    if (iterations < m_iterations) {
        const std::string newSalt = randomBytes(16);
        const std::string newHash = HashPassword(passwordDigest, newSalt, m_iterations);
        std::lock_guard lock(m_mutex);
        // Only the hash that was checked is replaced (a password change in between wins).
        Statement s(m_db, "UPDATE users SET salt = ?, hash = ?, iterations = ? WHERE nick = ? AND hash = ?");
        s.blob(1, newSalt).blob(2, newHash).bind(3, int64_t{m_iterations}).bind(4, nick).blob(5, hash);
        s.done();
    }
    return true;
}

int ServerDb::PasswordIterations(const std::string& nick)
{
    std::lock_guard lock(m_mutex);
    Statement s(m_db, "SELECT iterations FROM users WHERE nick = ?");
    s.bind(1, nick);
    return s.row() ? static_cast<int>(s.integer(0)) : 0;
}

int64_t ServerDb::NewLogin(const std::string& nick, const std::string& address)
{
    std::lock_guard lock(m_mutex);
    int64_t old = 0;
    {
        Statement s(m_db, "SELECT user_number FROM users WHERE nick = ?");
        s.bind(1, nick);
        if (s.row())
            old = s.integer(0);
    }
    // 31 random bits from the system's generator: one number tells nothing of the next.
    int64_t number;
    do {
        const std::string bytes = randomBytes(4);
        uint32_t v = 0;
        std::memcpy(&v, bytes.data(), 4);
        number = v & 0x7fffffff;
    } while (number == 0 || number == 2147483647 || number == old);
    Statement s(m_db, "UPDATE users SET user_number = ?, login_address = ? WHERE nick = ?");
    s.bind(1, number).bind(2, address).bind(3, nick);
    s.done();
    return number;
}

ServerDb::Stored ServerDb::StorePush(const StoredResult& r, int keep)
{
    std::lock_guard lock(m_mutex);
    Stored out;
    Transaction t(m_db);
    if (!t.ok())
        return out;
    bool shutoff = false;
    {
        Statement s(m_db, "UPDATE users SET shutoff = 0 WHERE nick = ? AND shutoff = 1");
        s.bind(1, r.nick);
        if (!s.done())
            return out;
        shutoff = sqlite3_changes(m_db) == 1;
    }
    std::string webhook;
    {
        Statement s(m_db, "SELECT webhook FROM users WHERE nick = ?");
        s.bind(1, r.nick);
        if (s.row())
            webhook = s.text(0);
    }
    // A result that ends the run is not forwarded.
    const bool forward = !shutoff && !webhook.empty();
    {
        Statement s(m_db, "INSERT INTO results(nick, task, url, formula, records, forwarded, received, forward_state) "
                          "VALUES(?, ?, ?, ?, ?, 0, ?, ?)");
        s.bind(1, r.nick).bind(2, r.task).bind(3, r.url).bind(4, r.formula).bind(5, r.records);
        s.bind(6, now()).bind(7, std::string(forward ? "pending" : ""));
        if (!s.done())
            return out;
    }
    const int64_t id = sqlite3_last_insert_rowid(m_db);
    if (forward) {
        const int64_t ms = NowMs();
        Statement s(m_db, "INSERT INTO outbox(result_id, nick, created, due) VALUES(?, ?, ?, ?)");
        s.bind(1, id).bind(2, r.nick).bind(3, ms).bind(4, ms);
        if (!s.done())
            return out;
    }
    // Finding the cut costs a walk over `keep` index entries: done once every
    // keep/100 pushes of the user, so that an account holds at most 1% more for a while.
    if (keep > 0 && ++m_sinceTrim[r.nick] >= std::max(1, keep / 100)) {
        m_sinceTrim.erase(r.nick);
        // Older results than the newest `keep` of this user, found through (nick, id).
        Statement cut(m_db, "SELECT id FROM results WHERE nick = ? ORDER BY id DESC LIMIT 1 OFFSET ?");
        cut.bind(1, r.nick).bind(2, int64_t{keep});
        if (cut.row()) {
            const int64_t oldest = cut.integer(0);
            for (const char* sql : {"DELETE FROM outbox WHERE nick = ? AND result_id <= ?",
                                    "DELETE FROM results WHERE nick = ? AND id <= ?"}) {
                Statement d(m_db, sql);
                d.bind(1, r.nick).bind(2, oldest);
                if (!d.done())
                    return out;
            }
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
    std::lock_guard lock(m_mutex);
    Statement s(m_db, (std::string("SELECT ") + kResultColumns +
                       " FROM results r LEFT JOIN outbox o ON o.result_id = r.id WHERE r.nick = ? "
                       "ORDER BY r.id DESC LIMIT ? OFFSET ?")
                          .c_str());
    s.bind(1, nick).bind(2, int64_t{limit > 0 ? limit : -1}).bind(3, int64_t{std::max(0, offset)});
    std::vector<StoredResult> out;
    while (s.row())
        out.push_back(readResult(s));
    return out;
}

std::optional<StoredResult> ServerDb::Result(const std::string& nick, int64_t id)
{
    std::lock_guard lock(m_mutex);
    Statement s(m_db, (std::string("SELECT ") + kResultColumns +
                       " FROM results r LEFT JOIN outbox o ON o.result_id = r.id WHERE r.nick = ? AND r.id = ?")
                          .c_str());
    s.bind(1, nick).bind(2, id);
    if (!s.row())
        return std::nullopt;
    return readResult(s);
}

int64_t ServerDb::ResultCount(const std::string& nick)
{
    std::lock_guard lock(m_mutex);
    Statement s(m_db, nick.empty() ? "SELECT COUNT(*) FROM results" : "SELECT COUNT(*) FROM results WHERE nick = ?");
    if (!nick.empty())
        s.bind(1, nick);
    return s.row() ? s.integer(0) : 0;
}

std::optional<OutboxItem> ServerDb::ClaimForward(int64_t nowMs, int64_t leaseMs)
{
    std::lock_guard lock(m_mutex);
    Transaction t(m_db);
    if (!t.ok())
        return std::nullopt;
    Statement s(m_db, "SELECT o.result_id, o.nick, o.attempts, o.created, u.webhook, r.task, r.url, r.records "
                      "FROM outbox o JOIN results r ON r.id = o.result_id LEFT JOIN users u ON u.nick = o.nick "
                      "WHERE o.due <= ? ORDER BY o.due LIMIT 1");
    s.bind(1, nowMs);
    if (!s.row())
        return std::nullopt;
    OutboxItem item;
    item.resultId = s.integer(0);
    item.nick = s.text(1);
    item.attempts = static_cast<int>(s.integer(2));
    item.createdMs = s.integer(3);
    item.webhook = s.text(4);
    item.result.id = item.resultId;
    item.result.nick = item.nick;
    item.result.task = s.text(5);
    item.result.url = s.text(6);
    item.result.records = s.text(7);
    Statement lease(m_db, "UPDATE outbox SET due = ? WHERE result_id = ?");
    lease.bind(1, nowMs + leaseMs).bind(2, item.resultId);
    if (!lease.done() || !t.commit())
        return std::nullopt;
    return item;
}

void ServerDb::ForwardSent(int64_t resultId)
{
    std::lock_guard lock(m_mutex);
    Transaction t(m_db);
    Statement d(m_db, "DELETE FROM outbox WHERE result_id = ?");
    d.bind(1, resultId);
    Statement u(m_db, "UPDATE results SET forwarded = 1, forward_state = 'sent' WHERE id = ?");
    u.bind(1, resultId);
    if (d.done() && u.done())
        t.commit();
}

void ServerDb::ForwardFailed(int64_t resultId, const std::string& error, int64_t retryAtMs)
{
    std::lock_guard lock(m_mutex);
    Transaction t(m_db);
    if (retryAtMs > 0) {
        Statement s(m_db, "UPDATE outbox SET due = ?, attempts = attempts + 1, last_error = ? WHERE result_id = ?");
        s.bind(1, retryAtMs).bind(2, error).bind(3, resultId);
        if (s.done())
            t.commit();
        return;
    }
    Statement d(m_db, "DELETE FROM outbox WHERE result_id = ?");
    d.bind(1, resultId);
    Statement u(m_db, "UPDATE results SET forward_state = 'failed' WHERE id = ?");
    u.bind(1, resultId);
    if (d.done() && u.done())
        t.commit();
}

int64_t ServerDb::NextForwardInMs(int64_t nowMs)
{
    std::lock_guard lock(m_mutex);
    Statement s(m_db, "SELECT MIN(due) FROM outbox");
    if (!s.row() || sqlite3_column_type(s.raw(), 0) == SQLITE_NULL)
        return -1;
    return std::max<int64_t>(0, s.integer(0) - nowMs);
}

bool ServerDb::AddFormula(const std::string& nick, const std::string& pageKey, const std::string& formula,
                          const std::string& note)
{
    std::lock_guard lock(m_mutex);
    // A rejected copy may be offered again; a waiting or approved one exists already.
    Statement s(m_db, "INSERT INTO formulas(nick, page_key, formula, note, status, created) VALUES(?, ?, ?, ?, "
                      "'pending', ?) ON CONFLICT(page_key, formula) DO UPDATE SET status = 'pending', nick = "
                      "excluded.nick, note = excluded.note WHERE status = 'rejected'");
    s.bind(1, nick).bind(2, pageKey).bind(3, formula).bind(4, note).bind(5, now());
    return s.done() && sqlite3_changes(m_db) == 1;
}

std::vector<std::string> ServerDb::ApprovedFormulas(const std::string& pageKey)
{
    std::lock_guard lock(m_mutex);
    Statement s(m_db, "SELECT formula FROM formulas WHERE page_key = ? AND status = 'approved' ORDER BY id");
    s.bind(1, pageKey);
    std::vector<std::string> out;
    while (s.row())
        out.push_back(s.text(0));
    return out;
}

std::vector<SharedFormula> ServerDb::Formulas()
{
    std::lock_guard lock(m_mutex);
    Statement s(m_db, "SELECT id, nick, page_key, formula, note, status, created FROM formulas ORDER BY id");
    std::vector<SharedFormula> out;
    while (s.row()) {
        SharedFormula f;
        f.id = s.integer(0);
        f.nick = s.text(1);
        f.pageKey = s.text(2);
        f.formula = s.text(3);
        f.note = s.text(4);
        f.status = s.text(5);
        f.created = s.text(6);
        out.push_back(std::move(f));
    }
    return out;
}

bool ServerDb::SetFormulaStatus(int64_t id, const std::string& status)
{
    std::lock_guard lock(m_mutex);
    Statement s(m_db, "UPDATE formulas SET status = ? WHERE id = ?");
    s.bind(1, status).bind(2, id);
    return s.done() && sqlite3_changes(m_db) == 1;
}

int64_t NowMs()
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::system_clock::now().time_since_epoch())
        .count();
}

} // namespace vexory::server
