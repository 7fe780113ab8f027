#pragma once

// vexory-server's database: users, received results and shared formulas, in one
// SQLite file (WAL, prepared statements only). Safe to use from several threads;
// the admin command line may open the same file while the server runs.

#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

struct sqlite3;

namespace vexory::server {

enum Rights : int {
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
};

struct StoredResult
{
    int64_t id = 0;
    std::string nick, task, url, formula, records, received;
    bool forwarded = false;
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

    // Opens (creating when needed) DATA/vexory.sqlite3.
    bool Open(const std::string& dataFolder, std::string* error);

    // Users. The password comes as the client sends it: the SHA-1 hex digest.
    bool AddUser(const std::string& nick, const std::string& passwordDigest, int rights, const std::string& webhook,
                 std::string* error);
    std::optional<User> FindUser(const std::string& nick);
    std::optional<User> FindUserByInbox(const std::string& token);
    std::vector<User> Users();
    bool DeleteUser(const std::string& nick);
    bool SetRights(const std::string& nick, int rights);
    bool SetWebhook(const std::string& nick, const std::string& url);
    bool SetShutoff(const std::string& nick, bool on);
    // Consumes a pending remote end: true once after SetShutoff.
    bool TakeShutoff(const std::string& nick);
    bool CheckPassword(const std::string& nick, const std::string& passwordDigest);
    // A fresh user number for a login (never the previous one).
    int64_t NewLogin(const std::string& nick);

    // Results.
    int64_t StoreResult(const StoredResult& result);
    void MarkForwarded(int64_t id);
    std::vector<StoredResult> Results(const std::string& nick, int limit = 0);
    int64_t ResultCount();

    // Shared formulas: false when the same formula waits or was approved for the key.
    bool AddFormula(const std::string& nick, const std::string& pageKey, const std::string& formula,
                    const std::string& note);
    std::vector<std::string> ApprovedFormulas(const std::string& pageKey);
    std::vector<SharedFormula> Formulas();
    bool SetFormulaStatus(int64_t id, const std::string& status);

private:
    bool exec(const char* sql);

    sqlite3* m_db = nullptr;
    std::mutex m_mutex;
};

// The salted, slow hash kept for a password digest.
std::string HashPassword(const std::string& passwordDigest, const std::string& salt, int iterations);

} // namespace vexory::server
