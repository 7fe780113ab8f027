#include "service/service_client.h"

#include "base/ascii_fold.h"
#include "base/encoding.h"
#include "base/text_helpers.h"
#include "platform/codepage.h"
#include "service/http_client.h"

namespace vexory {

namespace {

std::string encodeValue(std::string_view gbk)
{
    return Base64UrlEncode(GbkToUtf8(gbk));
}

} // namespace

std::string ServiceUrl(std::string_view server, std::string_view script, uint32_t number, int level)
{
    std::string url = "http://";
    url += server;
    url += script;
    url += "?value=" + std::to_string(number);
    url += "&code=" + RequestCode(number);
    url += "&level=" + std::to_string(level);
    return url;
}

int Login(TAccountRecord& account, std::string_view server, bool automatic, int32_t& version)
{
    if (account.Nickname.empty() || account.PasswordDigest.empty())
        return LoginNotTried;
    const std::string body = FormField("username", encodeValue(account.Nickname)) + "&" +
                             FormField("password", account.PasswordDigest) + "&" +
                             FormField("version", std::to_string(version));
    std::string url = ServiceUrl(server, kLoginScript, RequestNumber(), version);
    if (automatic)
        url += "&action=auto";
    std::string reply = HttpPost(url, body, kServiceTimeoutMs);
    if (reply.empty())
        return LoginNoAnswer;

    const size_t suffix = std::min<size_t>(3, reply.size());
    const std::string_view last = std::string_view(reply).substr(reply.size() - suffix);
    version = IsInteger(last) ? StrToInt(last) : kProtocolVersion;
    reply.resize(reply.size() - suffix);

    if (reply == "noregister")
        return LoginNotRegistered;
    if (reply == "error")
        return LoginWrongPassword;
    const std::string decoded = DecodeLoginRecord(reply);
    if (decoded.empty())
        return LoginServerError;
    const LoginRecord record = ReadLoginRecord(decoded);
    account.LoggedIn = 1;
    if (record.userNumberValid)
        account.UserNumber = record.userNumber;
    account.PluginRight = record.pluginRight;
    account.MultiTaskRight = record.multiTaskRight;
    account.ChainRight = record.chainRight;
    account.FastRefreshRight = record.fastRefreshRight;
    return LoginDone;
}

void ApplyRightsToTasks(TAccountRecord& account)
{
    for (auto& task : account.Tasks) {
        if (!account.FastRefreshRight && task.RefreshInterval < kSlowestRefreshMs)
            task.RefreshInterval = kSlowestRefreshMs;
        if (!account.PluginRight)
            task.PushToPlugin = 0;
    }
}

std::string PushPayload(TTaskRecord& task, const TAccountRecord& account, std::string_view result)
{
    std::string url = task.PageUrl();
    if (url.empty())
        url = task.GuideUrl;
    if (url.empty())
        url = "Unknown";
    std::string formula = " ";
    if (!task.FormulaSent) {
        formula = task.GrabFormula;
        task.FormulaSent = 1;
    }
    std::string payload = account.Nickname;
    payload += "\r\n" + std::to_string(account.UserNumber);
    payload += "\r\n" + task.TaskName;
    payload += "\r\n" + url;
    payload += "\r\n" + formula;
    payload += "\r\n";
    payload += result;
    return payload;
}

std::string PushResult(TTaskRecord& task, const TAccountRecord& account, std::string_view server,
                       std::string_view result, std::string* refusal)
{
    const std::string url = ServiceUrl(server, kPushScript, RequestNumber(), kProtocolVersion);
    const std::string payload = AddPushFiller(PushPayload(task, account, result));
    return HttpPost(url, EncodePushBody(GbkToUtf8(payload)), kServiceTimeoutMs, refusal);
}

std::string SharePageKey(std::string_view pageUrl, std::string_view guideUrl)
{
    std::string key = StripSpace(pageUrl);
    if (key.empty())
        key = StripSpace(guideUrl);
    if (key.empty())
        return {};
    key = LowerAscii(key);
    if (const size_t q = key.find('?'); q != std::string::npos)
        key.resize(q);
    if (key.rfind("http", 0) != 0)
        key = "http://" + key;
    return key;
}

std::string ShareUploadBody(std::string_view nickname, std::string_view key, std::string_view formula,
                            std::string_view note)
{
    return FormField("username", encodeValue(nickname)) + "&" + FormField("key", encodeValue(key)) + "&" +
           FormField("value", encodeValue(formula)) + "&" + FormField("note", encodeValue(note));
}

std::string ShareLookupBody(std::string_view nickname, std::string_view key)
{
    return FormField("username", encodeValue(nickname)) + "&" + FormField("key", encodeValue(key));
}

std::string DecodeShareReply(std::string_view reply)
{
    return Utf8ToGbk(Base64UrlDecode(reply));
}

ShareUpload UploadSharedFormula(std::string_view server, std::string_view nickname, std::string_view key,
                                std::string_view formula, std::string_view note, std::string* refusal)
{
    const std::string url = ServiceUrl(server, kShareScript, RequestNumber(), kProtocolVersion);
    const std::string reply = HttpPost(url, ShareUploadBody(nickname, key, formula, note), kServiceTimeoutMs, refusal);
    if (reply == "success")
        return ShareUpload::Uploaded;
    if (reply == "exist")
        return ShareUpload::AlreadyShared;
    if (refusal && !reply.empty())
        *refusal = "the service answered \"" + reply.substr(0, 100) + "\"";
    return ShareUpload::Failed;
}

ShareLookup LookUpSharedFormulas(std::string_view server, std::string_view nickname, std::string_view key)
{
    const std::string url = ServiceUrl(server, kShareScript, RequestNumber(), kProtocolVersion);
    const std::string reply = HttpPost(url, ShareLookupBody(nickname, key), kServiceTimeoutMs);
    ShareLookup found;
    if (reply == "error")
        found.answer = ShareLookup::RemoteError;
    else if (reply == "null")
        found.answer = ShareLookup::NoneShared;
    else if (reply.empty())
        found.answer = ShareLookup::NoConnection;
    else
        found = {ShareLookup::Found, DecodeShareReply(reply)};
    return found;
}

} // namespace vexory
