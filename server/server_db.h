#pragma once

// vexory-server's database: users, received results, shared formulas, the
// outbox and the counters against guessing and flooding. One SQLite file (WAL) by
// default, or a PostgreSQL database that several instances share: every piece of
// state a request needs is here, none in an instance. Safe to use from several
// threads; the admin command line may open the database while servers run.

#include "sql.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

namespace vexory::server {

enum Rights : int
{
    RightPlugin = 1,
    RightMultiTask = 2,
    RightChain = 4,
    RightFastRefresh = 8,
};
// "plugin,multitask,chain,fastrefresh" <-> bits; false for an unknown name.
bool ParseRights(const std::string& text, int& rights);
std::string FormatRights(int rights);

struct User
{
    std::string nick;
    int rights = 0;
    std::string webhook;
    int64_t userNumber = 0;
    bool shutoff = false;
    std::string inboxToken;
    std::string created;
    std::string loginAddress; // where the current user number was handed out
};

struct StoredResult
{
    int64_t id = 0;
    std::string nick, task, url, formula, records, received;
    bool forwarded = false;
    // "" (no channel), "pending" (in the outbox), "sent" (on at least one
    // channel), "failed" (every channel gave up)
    std::string forwardState;
    int attempts = 0;
    std::string lastError;
    // Storing: when not 0, the result is stored only while its account still holds
    // this user number (an account deleted, or logged in again, meanwhile takes none).
    int64_t userNumber = 0;
};

// A place the results of an account go: a kind of ChannelTypes() and its
// settings (JSON). An e-mail address is used only once its owner confirmed it.
struct Channel
{
    int64_t id = 0;
    std::string nick, kind, config, label, created, lastError, confirmToken;
    bool confirmed = true;
};

// The state of one result on one channel.
struct Delivery
{
    int64_t resultId = 0, channelId = 0;
    std::string state; // "pending", "sent", "failed" (given up)
    int attempts = 0;
    std::string lastError;
};

// Results due on one channel, claimed together: they go out as one message.
struct ChannelBatch
{
    Channel channel;
    std::vector<StoredResult> results;
    int attempts = 0; // the most any of them had
    int64_t oldestCreatedMs = 0;
};

// A browser logged in on the account page.
struct AccountSession
{
    std::string nick, csrf;
    int64_t createdMs = 0;
};

struct SharedFormula
{
    int64_t id = 0;
    std::string nick, pageKey, formula, note, status, created;
};

class ServerDb
{
public:
    ServerDb() = default;
    ~ServerDb();
    ServerDb(const ServerDb&) = delete;
    ServerDb& operator=(const ServerDb&) = delete;

    static constexpr int kPasswordIterations = 600000;
    static constexpr int kSchemaVersion = 5;

    // "sqlite:PATH" or "postgresql://..." (a libpq URL); anything else is refused.
    // Opens, creating or upgrading the schema when needed; read-only opens change
    // nothing, so they work on a SQLite folder the caller cannot write and never
    // upgrade a database under running servers. `connections`: PostgreSQL only.
    bool OpenUrl(const std::string& url, std::string* error, bool readOnly = false, unsigned connections = 8);
    // The schema version of a SQLite file, read without changing it; -1 with *error
    // when it cannot be read.
    static int64_t SqliteSchemaVersion(const std::string& path, std::string* error);
    // DATA/vexory.sqlite3.
    bool Open(const std::string& dataFolder, std::string* error, bool readOnly = false);
    static std::string FolderUrl(const std::string& dataFolder) { return "sqlite:" + dataFolder + "/vexory.sqlite3"; }
    // Rounds for hashes made from now on (tests make old-style hashes with fewer).
    void SetPasswordIterations(int iterations) { m_iterations = iterations; }

    // Users. The password comes as the client sends it: the SHA-1 hex digest.
    // FROM: the address the account was made from ("" for the administrator's).
    bool AddUser(const std::string& nick, const std::string& passwordDigest, int rights, const std::string& webhook,
                 std::string* error, const std::string& from = {});
    // Accounts made from ADDRESS through registration; -1 when the database cannot be asked.
    int64_t AccountsFrom(const std::string& address);
    // The folder of a SQLite database ("" for PostgreSQL, whose disk is elsewhere).
    std::string LocalFolder() const;
    // Copies every account, result, formula, channel, delivery, session and counter
    // into TARGET (a new database, of either engine), ids kept, and checks the
    // counts; PROGRESS hears "TABLE: ROWS" as each table is done.
    bool CopyInto(ServerDb& target, const std::function<void(const std::string&)>& progress, std::string* error);
    // Nothing, with *failed set, when the database cannot be asked (told apart from
    // an unknown user, which the client would be told to forget).
    std::optional<User> FindUser(const std::string& nick, bool* failed = nullptr);
    std::optional<User> FindUserByInbox(const std::string& token, bool* failed = nullptr);
    std::vector<User> Users();
    // The user with every result, shared formula and queued forward, in one transaction.
    bool DeleteUser(const std::string& nick);
    bool SetRights(const std::string& nick, int rights);
    // The administrator's webhook: replaces the account's webhook channels ("" removes them).
    bool SetWebhook(const std::string& nick, const std::string& url);
    bool SetShutoff(const std::string& nick, bool on);
    // A hash made with fewer rounds than today's is made again on a good password.
    bool CheckPassword(const std::string& nick, const std::string& passwordDigest, bool* failed = nullptr);
    // A fresh, unpredictable user number for a login (never the previous one); 0
    // when it could not be stored.
    int64_t NewLogin(const std::string& nick, const std::string& address = {});
    int PasswordIterations(const std::string& nick);

    // Results. A push is stored in one transaction with taking a pending remote end
    // (nothing is taken when the insert fails) and, for a user with a webhook, its
    // deliveries, due `dueInMs` from now (results close together then go out as
    // one message); the user's results beyond the newest `keep` go (0: all kept),
    // looked for every keep/100 pushes of the user.
    struct Stored
    {
        int64_t id = 0; // 0: not stored
        bool shutoff = false;
        bool ownerGone = false; // not stored: the account no longer holds the user number
    };
    Stored StorePush(const StoredResult& result, int keep = 0, int64_t dueInMs = 0);
    std::vector<StoredResult> Results(const std::string& nick, int limit = 0, int offset = 0);
    std::optional<StoredResult> Result(const std::string& nick, int64_t id);
    int64_t ResultCount(const std::string& nick = {});

    // Channels of an account (server_db_channels.cpp).
    int64_t AddChannel(const Channel& channel); // its id, 0 when not stored
    std::vector<Channel> Channels(const std::string& nick);
    std::optional<Channel> FindChannel(const std::string& nick, int64_t id);
    // The channel goes with what waits for it; what it sent stays in the history.
    bool DeleteChannel(const std::string& nick, int64_t id);
    // The e-mail channel whose confirmation link this is, now confirmed.
    std::optional<Channel> ConfirmChannel(const std::string& token);
    void SetChannelError(int64_t id, const std::string& error);

    // The outbox: a delivery for each result on each confirmed channel. Claim takes
    // the channel with the delivery due first, unless the channel may not be called
    // yet or its account has a call under way, hides it for `leaseMs` and returns
    // the results waiting for it (at most `maxResults`, the oldest first).
    std::optional<ChannelBatch> ClaimChannel(int64_t nowMs, int64_t leaseMs, size_t maxResults);
    // The results of a claimed batch went out (or failed: due again at `retryAtMs`,
    // given up when that is 0); the channel is free again and may be called from
    // `nextMs` on.
    void DeliveriesDone(int64_t channelId, const std::vector<int64_t>& resultIds, bool sent, const std::string& error,
                        int64_t retryAtMs, int64_t nextMs);
    // Milliseconds until the next delivery is due (-1: the outbox is empty).
    int64_t NextDeliveryInMs(int64_t nowMs);
    // Deliveries waiting to go out (the outbox's depth); -1 when the database cannot be asked.
    int64_t PendingDeliveries();
    // Delivery states of the account's results from `fromResultId` on.
    std::vector<Delivery> Deliveries(const std::string& nick, int64_t fromResultId);

    // Sessions of the account page, by the digest of their cookie.
    bool AddSession(const std::string& tokenDigest, const AccountSession& session);
    std::optional<AccountSession> FindSession(const std::string& tokenDigest, int64_t notBeforeMs);
    void DeleteSession(const std::string& tokenDigest);
    bool SetPassword(const std::string& nick, const std::string& passwordDigest);

    // Shared formulas: false when the same formula waits or was approved for the key.
    bool AddFormula(const std::string& nick, const std::string& pageKey, const std::string& formula,
                    const std::string& note);
    std::vector<std::string> ApprovedFormulas(const std::string& pageKey);
    // What an account's shared formulas (waiting or approved) take: how many, and
    // their characters with their notes; {-1, -1} when the database cannot answer.
    std::pair<int64_t, int64_t> FormulaUsage(const std::string& nick);
    std::vector<SharedFormula> Formulas();
    bool SetFormulaStatus(int64_t id, const std::string& status);

    // Failed attempts of a key (a nickname or an address, see FailureLimiter).
    struct Failures
    {
        int count = 0;
        int64_t lastMs = 0, nextTurnMs = 0;
    };
    std::optional<Failures> ReadFailures(const std::string& key);
    // Reads the key's entry (a fresh one: count 0) with a lock other instances wait
    // for, lets `change` edit it and stores it when `change` says so (count 0
    // removes it). `change` returns whether to store; the result is its verdict.
    bool ChangeFailures(const std::string& key, const std::function<bool(Failures&)>& change);
    // A token bucket per key (see RateLimiter), in one statement: true when a token
    // was taken (a fresh bucket holds `burst`, and gains `perMs` a millisecond).
    bool TakeToken(const std::string& key, double burst, double perMs, int64_t nowMs);
    // Entries of a kind ("KIND:...") not touched since `beforeMs` go.
    void ForgetFailures(const std::string& kind, int64_t beforeMs);
    void ForgetQuotas(const std::string& kind, int64_t beforeMs);

private:
    bool migrate(SqlConnection& c, std::string* error);
    static int64_t schemaVersion(SqlConnection& c);

    std::unique_ptr<SqlPool> m_pool;
    std::string m_localFolder;
    std::mutex m_mutex;
    int m_iterations = kPasswordIterations;
    std::unordered_map<std::string, int> m_sinceTrim; // pushes since the user's results were cut
};

// Milliseconds since the epoch.
int64_t NowMs();

// The salted, slow hash kept for a password digest.
std::string HashPassword(const std::string& passwordDigest, const std::string& salt, int iterations);

} // namespace vexory::server
