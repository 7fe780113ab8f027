#pragma once

// The client side of the service protocol: login, result push and the requests
// of formula sharing. The service host is the `server` setting ("host[:port]").

#include "model/task_record.h"
#include "service/protocol_codec.h"

#include <string>
#include <string_view>

namespace vexory {

// Login result codes.
enum LoginResult : int
{
    LoginNotTried = 0, // no stored nickname or password digest
    LoginNoAnswer = 1, // no reply
    LoginNotRegistered = 3,
    LoginWrongPassword = 4,
    LoginServerError = 5, // a reply that is neither a known word nor a login record
    LoginDone = 6,
};

// "http://" + server + script + "?value=" + number + "&code=" + code + "&level=" + level.
std::string ServiceUrl(std::string_view server, std::string_view script, uint32_t number, int level);

// Logs `account` in with its stored nickname and password digest. `version` goes out
// as the client version and comes back as the newest published one (6 when the
// reply carries none). On success sets LoggedIn, UserNumber and the four rights.
int Login(TAccountRecord& account, std::string_view server, bool automatic, int32_t& version);

// After a login: without the fast-refresh right every refresh interval is at least
// 150 s, and without the plug-in right no task pushes to the plug-in.
void ApplyRightsToTasks(TAccountRecord& account);
inline constexpr uint32_t kSlowestRefreshMs = 150000;

// The push payload of a task's result (code page 936, without filler). Sets the
// task's FormulaSent when the grab formula goes with it.
std::string PushPayload(TTaskRecord& task, const TAccountRecord& account, std::string_view result);

// Pushes a result; the reply bytes ("" when there was none; then `refusal`, when
// given, says why).
std::string PushResult(TTaskRecord& task, const TAccountRecord& account, std::string_view server,
                       std::string_view result, std::string* refusal = nullptr);

// Formula sharing: the page key of a task's URLs ("" when both are blank), and the
// two request bodies (every value UTF-8, then URL-safe Base64).
std::string SharePageKey(std::string_view pageUrl, std::string_view guideUrl);
std::string ShareUploadBody(std::string_view nickname, std::string_view key, std::string_view formula,
                            std::string_view note);
std::string ShareLookupBody(std::string_view nickname, std::string_view key);
// The formulas of a lookup reply, in code page 936.
std::string DecodeShareReply(std::string_view reply);

// Offers a grab formula (and its note) for the page `key` to the other users.
enum class ShareUpload
{
    Uploaded,
    AlreadyShared,
    Failed, // refused, or no answer
};
// `refusal`, when given, gets the service's words when it refused.
ShareUpload UploadSharedFormula(std::string_view server, std::string_view nickname, std::string_view key,
                                std::string_view formula, std::string_view note, std::string* refusal = nullptr);

// The formulas shared for the page `key`.
struct ShareLookup
{
    enum Answer
    {
        Found, // `formulas` holds them, in code page 936
        NoneShared,
        RemoteError,
        NoConnection,
    } answer = NoConnection;
    std::string formulas;
};
ShareLookup LookUpSharedFormulas(std::string_view server, std::string_view nickname, std::string_view key);

} // namespace vexory
