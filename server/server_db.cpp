#include "server_db.h"

#include "db_util.h"

#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/rand.h>

#include <nlohmann/json.hpp>

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

constexpr const char* kUserColumns = "nick, rights, webhook, user_number, shutoff, inbox_token, created, login_address";
User readUser(const SqlRow& s)
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

ServerDb::~ServerDb() = default;

namespace {

// The URL with its password hidden, for messages.
std::string withoutPassword(const std::string& url)
{
    const size_t scheme = url.find("://");
    const size_t at = url.find('@');
    if (scheme == std::string::npos || at == std::string::npos)
        return url;
    const size_t colon = url.find(':', scheme + 3);
    if (colon == std::string::npos || colon > at)
        return url;
    return url.substr(0, colon + 1) + "***" + url.substr(at);
}

} // namespace

bool ServerDb::Open(const std::string& dataFolder, std::string* error, bool readOnly)
{
    if (readOnly && !std::filesystem::exists(dataFolder + "/vexory.sqlite3")) {
        if (error)
            *error = "no database in " + dataFolder;
        return false;
    }
    std::error_code ec;
    if (!readOnly)
        std::filesystem::create_directories(dataFolder, ec);
    return OpenUrl(FolderUrl(dataFolder), error, readOnly);
}

bool ServerDb::OpenUrl(const std::string& url, std::string* error, bool readOnly, unsigned connections)
{
    auto fail = [&](const std::string& why) {
        if (error)
            *error = why;
        m_pool.reset();
        return false;
    };
    std::vector<std::unique_ptr<SqlConnection>> all;
    std::string why;
    m_localFolder.clear();
    if (url.rfind("sqlite:", 0) == 0) {
        // One connection: SQLite lets one writer in at a time anyway.
        std::unique_ptr<SqlConnection> c = OpenSqlite(url.substr(7), readOnly, &why);
        if (!c)
            return fail(why);
        all.push_back(std::move(c));
        m_localFolder = std::filesystem::path(url.substr(7)).parent_path().string();
        if (m_localFolder.empty())
            m_localFolder = ".";
    } else if (url.rfind("postgresql://", 0) == 0 || url.rfind("postgres://", 0) == 0) {
        for (unsigned i = 0; i < (readOnly ? 1u : std::max(1u, connections)); ++i) {
            std::unique_ptr<SqlConnection> c = OpenPostgres(url, &why);
            if (!c)
                return fail("cannot connect to " + withoutPassword(url) + ": " + why);
            all.push_back(std::move(c));
        }
    } else {
        return fail("--database takes sqlite:PATH or postgresql://..., not \"" + withoutPassword(url) + "\"");
    }
    SqlConnection& first = *all.front();
    if (readOnly) {
        if (schemaVersion(first) < kSchemaVersion)
            return fail("the database " + withoutPassword(url) +
                        " is from an older vexory-server; start `vexory-server serve` on it once to upgrade it");
    } else if (!migrate(first, &why)) {
        return fail("cannot set up the database" + (why.empty() ? std::string() : ": " + why));
    }
    m_pool = std::make_unique<SqlPool>(std::move(all));
    return true;
}

bool ServerDb::AddUser(const std::string& nick, const std::string& passwordDigest, int rights,
                       const std::string& webhook, std::string* error, const std::string& from)
{
    const std::string salt = db::RandomBytes(16);
    const int iterations = m_iterations;
    const std::string hash = HashPassword(passwordDigest, salt, iterations);
    const SqlResult r = m_pool->Take()->Run(
        "INSERT INTO users(nick, salt, hash, iterations, rights, webhook, inbox_token, created, created_from) "
        "VALUES($1, $2, $3, $4, $5, $6, $7, $8, $9)",
        {nick, SqlParam::Blob(salt), SqlParam::Blob(hash), iterations, rights, webhook, db::Hex(db::RandomBytes(16)),
         db::NowText(), from});
    if (!r.ok() && error)
        *error = r.fault == SqlResult::Duplicate ? "the nickname is taken: " + nick : r.error;
    return r.ok() && (webhook.empty() || SetWebhook(nick, webhook));
}

int64_t ServerDb::AccountsFrom(const std::string& address)
{
    const SqlResult r = m_pool->Take()->Run("SELECT COUNT(*) FROM users WHERE created_from = $1", {address});
    return r.first() ? r.first()->integer(0) : -1;
}

std::string ServerDb::LocalFolder() const
{
    return m_localFolder;
}

std::optional<User> ServerDb::FindUser(const std::string& nick, bool* failed)
{
    const SqlResult r =
        m_pool->Take()->Run(std::string("SELECT ") + kUserColumns + " FROM users WHERE nick = $1", {nick});
    if (failed)
        *failed = !r.ok();
    if (!r.first())
        return std::nullopt;
    return readUser(*r.first());
}

std::optional<User> ServerDb::FindUserByInbox(const std::string& token, bool* failed)
{
    const SqlResult r =
        m_pool->Take()->Run(std::string("SELECT ") + kUserColumns + " FROM users WHERE inbox_token = $1", {token});
    if (failed)
        *failed = !r.ok();
    if (!r.first())
        return std::nullopt;
    return readUser(*r.first());
}

std::vector<User> ServerDb::Users()
{
    const SqlResult r = m_pool->Take()->Run(std::string("SELECT ") + kUserColumns + " FROM users ORDER BY nick");
    std::vector<User> out;
    for (const SqlRow& row : r.rows)
        out.push_back(readUser(row));
    return out;
}

bool ServerDb::DeleteUser(const std::string& nick)
{
    SqlPool::Lease c = m_pool->Take();
    SqlTransaction t(*c);
    if (!t.ok())
        return false;
    // The users row goes first: it locks out the pushes under way (they lock it
    // before they store), and the statements after see what they stored. The inbox
    // token goes with it; whoever takes the nickname later starts with nothing of
    // the old owner's, not even the failures and quotas counted against the name.
    const SqlResult r = c->Run("DELETE FROM users WHERE nick = $1", {nick});
    if (!r.ok() || r.changes != 1)
        return false;
    for (const char* sql : {"DELETE FROM deliveries WHERE nick = $1", "DELETE FROM channels WHERE nick = $1",
                            "DELETE FROM sessions WHERE nick = $1", "DELETE FROM results WHERE nick = $1",
                            "DELETE FROM formulas WHERE nick = $1"})
        if (!c->Run(sql, {nick}).ok())
            return false;
    if (!c->Run("DELETE FROM failures WHERE name = $1", {"nick:" + nick}).ok() ||
        !c->Run("DELETE FROM quotas WHERE name = $1", {"push:" + nick}).ok())
        return false;
    return t.commit();
}

bool ServerDb::SetRights(const std::string& nick, int rights)
{
    return db::ChangedOne(m_pool->Take()->Run("UPDATE users SET rights = $1 WHERE nick = $2", {rights, nick}));
}

bool ServerDb::SetWebhook(const std::string& nick, const std::string& url)
{
    SqlPool::Lease c = m_pool->Take();
    SqlTransaction t(*c);
    if (!t.ok() || !db::ChangedOne(c->Run("UPDATE users SET webhook = $1 WHERE nick = $2", {url, nick})))
        return false;
    const SqlResult old = c->Run(
        "SELECT id FROM channels WHERE nick = $1 AND kind = 'webhook' AND label = '管理员设置' ORDER BY id", {nick});
    if (!old.ok())
        return false;
    // A new address takes over what waits for the old one.
    for (size_t i = url.empty() ? 0 : 1; i < old.rows.size(); ++i)
        if (!c->Run("DELETE FROM deliveries WHERE channel_id = $1 AND state = 'pending'", {old.rows[i].integer(0)})
                 .ok() ||
            !c->Run("DELETE FROM channels WHERE id = $1", {old.rows[i].integer(0)}).ok())
            return false;
    const std::string config = nlohmann::json({{"url", url}}).dump();
    if (!url.empty() &&
        !(old.rows.empty() ? c->Run("INSERT INTO channels(nick, kind, config, label, created) VALUES($1, 'webhook', "
                                    "$2, '管理员设置', $3)",
                                    {nick, config, db::NowText()})
                           : c->Run("UPDATE channels SET config = $1 WHERE id = $2", {config, old.rows[0].integer(0)}))
             .ok())
        return false;
    return t.commit();
}

bool ServerDb::SetShutoff(const std::string& nick, bool on)
{
    return db::ChangedOne(m_pool->Take()->Run("UPDATE users SET shutoff = $1 WHERE nick = $2", {on ? 1 : 0, nick}));
}

bool ServerDb::CheckPassword(const std::string& nick, const std::string& passwordDigest, bool* failed)
{
    std::string salt, hash;
    int iterations = 0;
    {
        const SqlResult r = m_pool->Take()->Run("SELECT salt, hash, iterations FROM users WHERE nick = $1", {nick});
        if (failed)
            *failed = !r.ok();
        if (!r.first())
            return false;
        salt = r.first()->text(0);
        hash = r.first()->text(1);
        iterations = static_cast<int>(r.first()->integer(2));
    }
    // The slow hash runs without a connection, so that logins do not hold up pushes.
    const std::string computed = HashPassword(passwordDigest, salt, iterations);
    if (computed.size() != hash.size() || CRYPTO_memcmp(computed.data(), hash.data(), hash.size()) != 0)
        return false;
    if (iterations < m_iterations) {
        const std::string newSalt = db::RandomBytes(16);
        const std::string newHash = HashPassword(passwordDigest, newSalt, m_iterations);
        // Only the hash that was checked is replaced (a password change in between wins).
        m_pool->Take()->Run(
            "UPDATE users SET salt = $1, hash = $2, iterations = $3 WHERE nick = $4 AND hash = $5",
            {SqlParam::Blob(newSalt), SqlParam::Blob(newHash), m_iterations, nick, SqlParam::Blob(hash)});
    }
    return true;
}

int ServerDb::PasswordIterations(const std::string& nick)
{
    const SqlResult r = m_pool->Take()->Run("SELECT iterations FROM users WHERE nick = $1", {nick});
    return r.first() ? static_cast<int>(r.first()->integer(0)) : 0;
}

int64_t ServerDb::NewLogin(const std::string& nick, const std::string& address)
{
    SqlPool::Lease c = m_pool->Take();
    const SqlResult r = c->Run("SELECT user_number FROM users WHERE nick = $1", {nick});
    if (!r.first())
        return 0;
    const int64_t old = r.first()->integer(0);
    // 31 random bits from the system's generator: one number tells nothing of the next.
    int64_t number;
    do {
        const std::string bytes = db::RandomBytes(4);
        uint32_t v = 0;
        std::memcpy(&v, bytes.data(), 4);
        number = v & 0x7fffffff;
    } while (number == 0 || number == 2147483647 || number == old);
    return db::ChangedOne(
               c->Run("UPDATE users SET user_number = $1, login_address = $2 WHERE nick = $3", {number, address, nick}))
               ? number
               : 0;
}

std::optional<ServerDb::Failures> ServerDb::ReadFailures(const std::string& key)
{
    const SqlResult r = m_pool->Take()->Run("SELECT count, last_ms, next_turn_ms FROM failures WHERE name = $1", {key});
    if (!r.first())
        return std::nullopt;
    return Failures{static_cast<int>(r.first()->integer(0)), r.first()->integer(1), r.first()->integer(2)};
}

bool ServerDb::ChangeFailures(const std::string& key, const std::function<bool(Failures&)>& change)
{
    SqlPool::Lease c = m_pool->Take();
    SqlTransaction t(*c);
    // The row exists before it is locked, so that two instances never both make it.
    if (!t.ok() ||
        !c->Run("INSERT INTO failures(name, count, last_ms, next_turn_ms) VALUES($1, 0, 0, 0) ON CONFLICT(name) DO "
                "NOTHING",
                {key})
             .ok())
        return false;
    const SqlResult r = c->Run(
        std::string("SELECT count, last_ms, next_turn_ms FROM failures WHERE name = $1") + c->ForUpdate(), {key});
    if (!r.first())
        return false;
    Failures f{static_cast<int>(r.first()->integer(0)), r.first()->integer(1), r.first()->integer(2)};
    if (change(f)) {
        const SqlResult w = f.count > 0 ? c->Run("UPDATE failures SET count = $1, last_ms = $2, next_turn_ms = $3 "
                                                 "WHERE name = $4",
                                                 {f.count, f.lastMs, f.nextTurnMs, key})
                                        : c->Run("DELETE FROM failures WHERE name = $1", {key});
        if (!w.ok())
            return false;
    }
    return t.commit();
}

bool ServerDb::TakeToken(const std::string& key, double burst, double perMs, int64_t nowMs)
{
    // The bucket refilled since its last use, at most full; a token goes when one is there.
    constexpr const char* kFilled =
        "(CASE WHEN quotas.tokens + (excluded.last_ms - quotas.last_ms) * CAST($3 AS DOUBLE "
        "PRECISION) > CAST($2 AS DOUBLE PRECISION) THEN CAST($2 AS DOUBLE PRECISION) ELSE "
        "quotas.tokens + (excluded.last_ms - quotas.last_ms) * CAST($3 AS DOUBLE PRECISION) "
        "END)";
    const SqlResult r = m_pool->Take()->Run(
        std::string("INSERT INTO quotas(name, tokens, last_ms) VALUES($1, CAST($2 AS DOUBLE PRECISION) - 1, $4) ON "
                    "CONFLICT(name) DO UPDATE SET tokens = ") +
            kFilled + " - 1, last_ms = excluded.last_ms WHERE " + kFilled + " >= 1",
        {key, burst, perMs, nowMs});
    return r.ok() && r.changes == 1;
}

void ServerDb::ForgetFailures(const std::string& kind, int64_t beforeMs)
{
    m_pool->Take()->Run("DELETE FROM failures WHERE name LIKE $1 AND last_ms < $2", {kind + ":%", beforeMs});
}

void ServerDb::ForgetQuotas(const std::string& kind, int64_t beforeMs)
{
    m_pool->Take()->Run("DELETE FROM quotas WHERE name LIKE $1 AND last_ms < $2", {kind + ":%", beforeMs});
}

int64_t NowMs()
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::system_clock::now().time_since_epoch())
        .count();
}

namespace db {

std::string NowText()
{
    // UTC, saying so: the same on every instance, whatever each machine's zone.
    const std::time_t t = std::time(nullptr);
    std::tm tm{};
    gmtime_r(&t, &tm);
    char buffer[32];
    std::strftime(buffer, sizeof buffer, "%Y-%m-%dT%H:%M:%SZ", &tm);
    return buffer;
}

std::string LocalTimeText(const std::string& stored)
{
    // Times stored before they carried their zone were local already.
    std::tm tm{};
    if (stored.size() != 20 || stored.back() != 'Z' || !strptime(stored.c_str(), "%Y-%m-%dT%H:%M:%SZ", &tm))
        return stored;
    const std::time_t t = timegm(&tm);
    std::tm local{};
    localtime_r(&t, &local);
    char buffer[32];
    std::strftime(buffer, sizeof buffer, "%Y-%m-%d %H:%M:%S", &local);
    return buffer;
}

std::string RandomBytes(size_t n)
{
    std::string out(n, '\0');
    if (RAND_bytes(reinterpret_cast<unsigned char*>(out.data()), static_cast<int>(n)) != 1) {
        std::random_device rd;
        for (char& c : out)
            c = static_cast<char>(rd());
    }
    return out;
}

std::string Hex(const std::string& bytes)
{
    static const char digits[] = "0123456789abcdef";
    std::string out;
    for (unsigned char c : bytes) {
        out += digits[c >> 4];
        out += digits[c & 15];
    }
    return out;
}

} // namespace db

} // namespace vexory::server
