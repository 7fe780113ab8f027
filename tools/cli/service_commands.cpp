// vexory-cli login / push: the service protocol from a shell.

#include "commands.h"

#include "base/encoding.h"
#include "base/text_helpers.h"
#include "model/settings.h"
#include "platform/codepage.h"
#include "service/http_client.h"
#include "service/service_client.h"

#include <iostream>

namespace vexory::cli {

namespace {

std::string serverOf(Args& args)
{
    std::optional<std::string> server = TakeOption(args, "--server");
    if (!server)
        throw UsageError("--server HOST:PORT is required");
    std::string host;
    uint16_t port = 0;
    if (!SplitServer(*server, host, port))
        throw UsageError("--server takes HOST[:PORT], not \"" + *server + "\"");
    return *server;
}

// After a request that got no answer: whether libcurl was missing.
void sayWhyNoHttp()
{
    if (const std::string why = HttpUnavailable(); !why.empty())
        std::cerr << "vexory-cli: HTTP is unavailable: " << why << "\n";
}

} // namespace

int Login(Args args, const Options&)
{
    const std::string server = serverOf(args);
    const bool automatic = TakeFlag(args, "--auto");
    ExpectOperands(args, 2, 2, "vexory-cli login --server HOST:PORT [--auto] NICK PASSWORD");
    TAccountRecord account;
    account.Nickname = Utf8ToGbk(args[0]);
    account.PasswordDigest = Sha1Hex(Utf8ToGbk(args[1])); // as the login panel makes it
    int32_t version = kProtocolVersion;
    const int code = vexory::Login(account, server, automatic, version);
    nlohmann::ordered_json j;
    j["code"] = code;
    j["version"] = version;
    j["user_number"] = account.UserNumber;
    j["plugin"] = account.PluginRight != 0;
    j["multitask"] = account.MultiTaskRight != 0;
    j["chain"] = account.ChainRight != 0;
    j["fastrefresh"] = account.FastRefreshRight != 0;
    WriteJson(j);
    sayWhyNoHttp();
    return code == LoginDone ? 0 : kExitFailed;
}

int Push(Args args, const Options& options)
{
    const std::string server = serverOf(args);
    const std::optional<std::string> nick = TakeOption(args, "--nick");
    const std::optional<std::string> number = TakeOption(args, "--user-number");
    const std::optional<std::string> task = TakeOption(args, "--task");
    const std::optional<std::string> url = TakeOption(args, "--url");
    const std::optional<std::string> formula = TakeOption(args, "--formula");
    const char* usage = "vexory-cli push --server HOST:PORT --nick N --user-number U --task T --url U "
                        "[--formula F] RESULT_FILE";
    ExpectOperands(args, 1, 1, usage);
    if (!nick || !number || !task || !url)
        throw UsageError(std::string("usage: ") + usage);
    if (!IsInteger(*number))
        throw UsageError("--user-number takes an integer");
    TAccountRecord account;
    account.Nickname = Utf8ToGbk(*nick);
    account.UserNumber = StrToInt(*number);
    TTaskRecord t;
    t.TaskName = Utf8ToGbk(*task);
    t.SetPageUrl(Utf8ToGbk(*url));
    t.GrabFormula = Utf8ToGbk(formula.value_or(""));
    t.FormulaSent = formula ? 0 : 1; // a formula given goes with the push
    std::string refusal;
    const std::string reply = PushResult(t, account, server, ReadTextFile(args[0], options), &refusal);
    std::cout << reply << '\n';
    if (reply.empty())
        std::cerr << "vexory-cli: the push was not taken: " << refusal << "\n";
    sayWhyNoHttp();
    return reply.empty() ? kExitFailed : 0;
}

int Share(Args args, const Options& options)
{
    const std::string server = serverOf(args);
    const std::optional<std::string> nick = TakeOption(args, "--nick");
    const std::optional<std::string> url = TakeOption(args, "--url");
    const std::optional<std::string> guide = TakeOption(args, "--guide");
    const std::optional<std::string> note = TakeOption(args, "--note");
    const char* usage = "vexory-cli share --server HOST:PORT --nick N --url U [--guide G] [--note TEXT] FORMULA_FILE";
    ExpectOperands(args, 1, 1, usage);
    if (!nick || (!url && !guide))
        throw UsageError(std::string("usage: ") + usage);
    const std::string key = SharePageKey(Utf8ToGbk(url.value_or("")), Utf8ToGbk(guide.value_or("")));
    if (key.empty())
        throw UsageError("--url or --guide must name the page");
    const std::string formula = StripSpace(ReadTextFile(args[0], options));
    if (formula.empty())
        throw UsageError("the formula file is empty");
    std::string refusal;
    switch (UploadSharedFormula(server, Utf8ToGbk(*nick), key, formula, Utf8ToGbk(note.value_or("")), &refusal)) {
    case ShareUpload::Uploaded:
        std::cout << "success: shared, waiting for approval\n";
        return 0;
    case ShareUpload::AlreadyShared:
        std::cout << "exist: this formula is already shared for the page\n";
        return 0;
    case ShareUpload::Failed:
        break;
    }
    std::cerr << "vexory-cli: the formula was not taken: " << refusal << "\n";
    sayWhyNoHttp();
    return kExitFailed;
}

} // namespace vexory::cli
