#include "server_db.h"

#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/rand.h>
#include <sqlite3.h>

#include <chrono>
#include <ctime>
#include <filesystem>
#include <random>
#include <sstream>

namespace vexory::server {

namespace {

constexpr int kIterations = 20000;

const char* const kSchema = R"sql(
PRAGMA journal_mode=WAL;
PRAGMA synchronous=NORMAL;
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
)sql";

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

private:
    sqlite3_stmt* m_stmt = nullptr;
};

constexpr const char* kUserColumns = "nick, rights, webhook, user_number, shutoff, inbox_token, created";

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
    return u;
}

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

bool ServerDb::Open(const std::string& dataFolder, std::string* error)
{
    std::error_code ec;
    std::filesystem::create_directories(dataFolder, ec);
    const std::string path = dataFolder + "/vexory.sqlite3";
    if (sqlite3_open_v2(path.c_str(), &m_db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_FULLMUTEX,
                        nullptr) != SQLITE_OK) {
        if (error)
            *error = "cannot open " + path + ": " + (m_db ? sqlite3_errmsg(m_db) : "out of memory");
        return false;
    }
    sqlite3_busy_timeout(m_db, 10000);
    if (!exec(kSchema)) {
        if (error)
            *error = std::string("cannot set up the database: ") + sqlite3_errmsg(m_db);
        return false;
    }
    return true;
}

bool ServerDb::AddUser(const std::string& nick, const std::string& passwordDigest, int rights,
                       const std::string& webhook, std::string* error)
{
    const std::string salt = randomBytes(16);
    const std::string hash = HashPassword(passwordDigest, salt, kIterations);
    std::lock_guard lock(m_mutex);
    Statement s(m_db, "INSERT INTO users(nick, salt, hash, iterations, rights, webhook, inbox_token, created) "
                      "VALUES(?, ?, ?, ?, ?, ?, ?, ?)");
    s.bind(1, nick).blob(2, salt).blob(3, hash).bind(4, int64_t{kIterations}).bind(5, int64_t{rights});
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
    Statement s(m_db, "DELETE FROM users WHERE nick = ?");
    s.bind(1, nick);
    return s.done() && sqlite3_changes(m_db) == 1;
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
    return computed.size() == hash.size() && CRYPTO_memcmp(computed.data(), hash.data(), hash.size()) == 0;
}

int64_t ServerDb::NewLogin(const std::string& nick)
{
    static thread_local std::mt19937 g{std::random_device{}()};
    std::lock_guard lock(m_mutex);
    int64_t old = 0;
    {
        Statement s(m_db, "SELECT user_number FROM users WHERE nick = ?");
        s.bind(1, nick);
        if (s.row())
            old = s.integer(0);
    }
    int64_t number;
    do
        number = std::uniform_int_distribution<int64_t>(1, 2147483646)(g);
    while (number == old);
    Statement s(m_db, "UPDATE users SET user_number = ? WHERE nick = ?");
    s.bind(1, number).bind(2, nick);
    s.done();
    return number;
}

int64_t ServerDb::StoreResult(const StoredResult& r)
{
    std::lock_guard lock(m_mutex);
    Statement s(m_db, "INSERT INTO results(nick, task, url, formula, records, forwarded, received) "
                      "VALUES(?, ?, ?, ?, ?, ?, ?)");
    s.bind(1, r.nick).bind(2, r.task).bind(3, r.url).bind(4, r.formula).bind(5, r.records);
    s.bind(6, int64_t{r.forwarded ? 1 : 0}).bind(7, now());
    if (!s.done())
        return 0;
    return sqlite3_last_insert_rowid(m_db);
}

void ServerDb::MarkForwarded(int64_t id)
{
    std::lock_guard lock(m_mutex);
    Statement s(m_db, "UPDATE results SET forwarded = 1 WHERE id = ?");
    s.bind(1, id);
    s.done();
}

std::vector<StoredResult> ServerDb::Results(const std::string& nick, int limit)
{
    std::lock_guard lock(m_mutex);
    Statement s(m_db, "SELECT id, nick, task, url, formula, records, forwarded, received FROM results "
                      "WHERE nick = ? ORDER BY id DESC LIMIT ?");
    s.bind(1, nick).bind(2, int64_t{limit > 0 ? limit : -1});
    std::vector<StoredResult> out;
    while (s.row()) {
        StoredResult r;
        r.id = s.integer(0);
        r.nick = s.text(1);
        r.task = s.text(2);
        r.url = s.text(3);
        r.formula = s.text(4);
        r.records = s.text(5);
        r.forwarded = s.integer(6) != 0;
        r.received = s.text(7);
        out.push_back(std::move(r));
    }
    return out;
}

int64_t ServerDb::ResultCount()
{
    std::lock_guard lock(m_mutex);
    Statement s(m_db, "SELECT COUNT(*) FROM results");
    return s.row() ? s.integer(0) : 0;
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

} // namespace vexory::server
