// vexory-server: the reference Vexory service and its admin command line.

#include "server_app.h"
#include "server_db.h"

#include "formula/text_helpers.h"
#include "platform/codepage.h"

#include <httplib.h>
#include <nlohmann/json.hpp>

#include <csignal>
#include <sys/socket.h>
#include <cstring>
#include <iostream>
#include <optional>
#include <string>
#include <vector>

using namespace vexory::server;

namespace {

constexpr const char* kUsage = R"(usage: vexory-server COMMAND --data DIR ...

  serve --data DIR [--listen HOST:PORT] [--client-version N] [--register-rights RIGHTS]
                                      run the service (default 127.0.0.1:8086; port 0 picks a free
                                      one and the first line printed says which)
  user add --data DIR NICK PASSWORD [--rights RIGHTS] [--webhook URL]
  user list --data DIR
  user delete --data DIR NICK
  user rights --data DIR NICK RIGHTS
  user webhook --data DIR NICK URL    results of NICK are posted to URL as JSON ("" for none)
  user shutoff --data DIR NICK        the next push of NICK ends its run remotely
  formula list --data DIR             shared formulas, one JSON object a line
  formula approve --data DIR ID
  formula reject --data DIR ID
  results --data DIR NICK             received results of NICK, newest first, one JSON object a line

RIGHTS: a comma-separated list of plugin, multitask, chain, fastrefresh (or none).
)";

struct UsageError : std::runtime_error
{
    using std::runtime_error::runtime_error;
};

std::optional<std::string> takeOption(std::vector<std::string>& args, const std::string& name)
{
    for (size_t i = 0; i < args.size(); ++i) {
        if (args[i] != name)
            continue;
        if (i + 1 >= args.size())
            throw UsageError(name + " needs a value");
        std::string v = args[i + 1];
        args.erase(args.begin() + static_cast<long>(i), args.begin() + static_cast<long>(i) + 2);
        return v;
    }
    return std::nullopt;
}

void expect(const std::vector<std::string>& args, size_t n)
{
    for (const auto& a : args)
        if (a.rfind("--", 0) == 0)
            throw UsageError("unknown option " + a);
    if (args.size() != n)
        throw UsageError("wrong number of arguments (see vexory-server --help)");
}

int rightsOf(const std::string& text)
{
    int rights = 0;
    if (!ParseRights(text, rights))
        throw UsageError("unknown right in \"" + text + "\" (plugin, multitask, chain, fastrefresh, none)");
    return rights;
}

httplib::Server* g_server = nullptr;

void stopServer(int)
{
    if (g_server)
        g_server->stop();
}

int serve(ServerDb& db, std::vector<std::string> args)
{
    ServerOptions options;
    std::string listen = takeOption(args, "--listen").value_or("127.0.0.1:8086");
    if (auto v = takeOption(args, "--client-version"))
        options.clientVersion = std::stoi(*v);
    if (auto r = takeOption(args, "--register-rights"))
        options.registerRights = rightsOf(*r);
    expect(args, 0);
    const size_t colon = listen.rfind(':');
    if (colon == std::string::npos)
        throw UsageError("--listen takes HOST:PORT");
    const std::string host = listen.substr(0, colon);
    const int port = std::stoi(listen.substr(colon + 1));

    httplib::Server server;
    server.new_task_queue = [] { return new httplib::ThreadPool(16); };
    ServiceApp app(db, options);
    app.Install(server);
    // The library listens with a backlog of 5, which drops connections when many
    // clients push at once; widen it on the listening socket once it is bound.
    int listenFd = -1;
    server.set_socket_options([&listenFd](socket_t sock) {
        httplib::default_socket_options(sock);
        listenFd = sock;
    });
    int bound = port;
    if (port == 0)
        bound = server.bind_to_any_port(host);
    else if (!server.bind_to_port(host, port))
        bound = -1;
    if (bound > 0 && listenFd >= 0)
        ::listen(listenFd, 512);
    if (bound <= 0) {
        std::cerr << "vexory-server: cannot listen on " << listen << "\n";
        return 1;
    }
    std::cout << "listening " << host << ":" << bound << std::endl;
    g_server = &server;
    struct sigaction sa;
    std::memset(&sa, 0, sizeof sa);
    sa.sa_handler = stopServer;
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGTERM, &sa, nullptr);
    server.listen_after_bind();
    g_server = nullptr;
    return 0;
}

int run(std::vector<std::string> args)
{
    if (args.empty() || args[0] == "--help" || args[0] == "-h") {
        (args.empty() ? std::cerr : std::cout) << kUsage;
        return args.empty() ? 2 : 0;
    }
    const std::string command = args[0];
    args.erase(args.begin());
    std::string sub;
    if (command == "user" || command == "formula") {
        if (args.empty())
            throw UsageError(command + " needs a subcommand (see vexory-server --help)");
        sub = args[0];
        args.erase(args.begin());
    }
    const std::optional<std::string> data = takeOption(args, "--data");
    if (!data)
        throw UsageError("--data DIR is required");
    ServerDb db;
    std::string error;
    if (!db.Open(*data, &error)) {
        std::cerr << "vexory-server: " << error << "\n";
        return 1;
    }
    auto fail = [](const std::string& what) {
        std::cerr << "vexory-server: " << what << "\n";
        return 1;
    };

    if (command == "serve")
        return serve(db, args);
    if (command == "user" && sub == "add") {
        const int rights = rightsOf(takeOption(args, "--rights").value_or("none"));
        const std::string webhook = takeOption(args, "--webhook").value_or("");
        expect(args, 2);
        // The client sends the SHA-1 of the password as its GBK bytes.
        const std::optional<std::string> gbk = vexory::Utf8ToGbkStrict(args[1]);
        if (!gbk || !vexory::Utf8ToGbkStrict(args[0]))
            return fail("the nickname and the password must be text that GBK can hold");
        if (!db.AddUser(args[0], vexory::Sha1Hex(*gbk), rights, webhook, &error))
            return fail(error);
        std::cout << "inbox /inbox/" << db.FindUser(args[0])->inboxToken << "\n";
        return 0;
    }
    if (command == "user" && sub == "list") {
        expect(args, 0);
        for (const User& u : db.Users()) {
            nlohmann::json j = {{"nick", u.nick},       {"rights", FormatRights(u.rights)}, {"webhook", u.webhook},
                                {"inbox", "/inbox/" + u.inboxToken}, {"shutoff", u.shutoff}, {"created", u.created}};
            std::cout << j.dump() << "\n";
        }
        return 0;
    }
    if (command == "user" && sub == "delete") {
        expect(args, 1);
        return db.DeleteUser(args[0]) ? 0 : fail("no such user: " + args[0]);
    }
    if (command == "user" && sub == "rights") {
        expect(args, 2);
        return db.SetRights(args[0], rightsOf(args[1])) ? 0 : fail("no such user: " + args[0]);
    }
    if (command == "user" && sub == "webhook") {
        expect(args, 2);
        return db.SetWebhook(args[0], args[1]) ? 0 : fail("no such user: " + args[0]);
    }
    if (command == "user" && sub == "shutoff") {
        expect(args, 1);
        return db.SetShutoff(args[0], true) ? 0 : fail("no such user: " + args[0]);
    }
    if (command == "formula" && sub == "list") {
        expect(args, 0);
        for (const SharedFormula& f : db.Formulas()) {
            nlohmann::json j = {{"id", f.id},           {"nick", f.nick},     {"key", f.pageKey}, {"formula", f.formula},
                                {"note", f.note},       {"status", f.status}, {"created", f.created}};
            std::cout << j.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace) << "\n";
        }
        return 0;
    }
    if (command == "formula" && (sub == "approve" || sub == "reject")) {
        expect(args, 1);
        return db.SetFormulaStatus(std::stoll(args[0]), sub == "approve" ? "approved" : "rejected")
                   ? 0
                   : fail("no such formula: " + args[0]);
    }
    if (command == "results") {
        expect(args, 1);
        for (const StoredResult& r : db.Results(args[0])) {
            nlohmann::json j = {{"id", r.id},           {"task", r.task},           {"url", r.url},
                                {"formula", r.formula}, {"records", r.records},     {"forwarded", r.forwarded},
                                {"received", r.received}};
            std::cout << j.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace) << "\n";
        }
        return 0;
    }
    throw UsageError("unknown command: " + command + (sub.empty() ? "" : " " + sub) + " (see vexory-server --help)");
}

} // namespace

int main(int argc, char** argv)
{
    try {
        return run(std::vector<std::string>(argv + 1, argv + argc));
    } catch (const UsageError& e) {
        std::cerr << "vexory-server: " << e.what() << "\n";
        return 2;
    } catch (const std::exception& e) {
        std::cerr << "vexory-server: " << e.what() << "\n";
        return 2;
    }
}
