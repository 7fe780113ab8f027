// vexory-plugin-echo: an example plug-in. It registers under a plug-in title,
// prints every result Vexory hands over (task number, a tab, the text in UTF-8,
// one line per hand-over) and accepts it. Plug-in authors start from this file.

#include "base/version.h"
#include "platform/codepage.h"
#include "platform/plugin_window.h"
#include "platform/gbk_texts.h"

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

volatile std::sig_atomic_t g_stop = 0;

void onSignal(int)
{
    g_stop = 1;
}

constexpr const char* kUsage = R"(usage: vexory-plugin-echo [--host HOST] [--title TITLE] [--refuse] [--count N]
       vexory-plugin-echo --help | --version

Registers as a Vexory plug-in and prints each hand-over as "NUMBER<TAB>TEXT".
  --host HOST    service host the title names (default 127.0.0.1)
  --title TITLE  the whole title instead ("Vexory外挂 - " + host by default)
  --refuse       answer 0: refuse every hand-over (Vexory then tries the next plug-in)
  --count N      end after N hand-overs
)";

} // namespace

int main(int argc, char** argv)
{
    std::string host = "127.0.0.1";
    std::string title;
    bool refuse = false;
    long count = -1;
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        bool hasValue = i + 1 < argc;
        if (a == "--host" && hasValue)
            host = argv[++i];
        else if (a == "--title" && hasValue)
            title = argv[++i];
        else if (a == "--refuse")
            refuse = true;
        else if (a == "--count" && hasValue)
            count = std::strtol(argv[++i], nullptr, 10);
        else if (a == "--version") {
            std::printf("vexory-plugin-echo %s\n", vexory::kVersion);
            return 0;
        } else {
            std::fputs(kUsage, a == "--help" ? stdout : stderr);
            return a == "--help" ? 0 : 2;
        }
    }
    if (title.empty())
        title = vexory::GbkToUtf8(vexory::texts::kPluginTitle) + host;

    vexory::PluginWindowHost window;
    std::string error;
    if (!window.Open(title, &error)) {
        std::fprintf(stderr, "vexory-plugin-echo: %s\n", error.c_str());
        return 1;
    }
    struct sigaction sa;
    std::memset(&sa, 0, sizeof sa);
    sa.sa_handler = onSignal;
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGTERM, &sa, nullptr);

    std::fprintf(stderr, "vexory-plugin-echo: listening as \"%s\" at %s\n", title.c_str(), window.SocketPath().c_str());
    auto handler = [&](uint32_t number, const std::string& text) -> uint8_t {
        std::printf("%u\t%s\n", number, vexory::GbkToUtf8(text).c_str());
        std::fflush(stdout);
        return refuse ? 0 : 1;
    };
    while (!g_stop && count != 0) {
        if (window.ServeOne(handler, 200) && count > 0)
            --count;
    }
    return 0;
}
