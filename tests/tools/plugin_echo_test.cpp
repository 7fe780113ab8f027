// The example plug-in receives and prints what the program hands over.

#include "platform/codepage.h"
#include "platform/plugin_window.h"
#include "support/build_paths.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <thread>

using namespace vexory;
using namespace vexory::test;

TEST(PluginEcho, PrintsEachHandOverInUtf8AndAcceptsIt)
{
    TempDir runtime;
    ::setenv("XDG_RUNTIME_DIR", runtime.path().c_str(), 1);
    const std::string echo = VEXORY_PLUGIN_ECHO_PATH;

    std::string out;
    std::thread plugin([&] {
        RunCommand("XDG_RUNTIME_DIR=" + ShellQuote(runtime.path()) + " timeout 120 " + ShellQuote(echo) +
                       " --host 127.0.0.1 --count 2",
                   &out);
    });
    // Wait for the plug-in to register.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (!FindWindowByTitle(PluginTitlePrefix("127.0.0.1"), nullptr) &&
           std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));

    EXPECT_TRUE(SendToPluginWindow(2, Utf8ToGbk("数据验证通过"), "127.0.0.1"));
    EXPECT_TRUE(SendToPluginWindow(7, "second", "127.0.0.1"));
    plugin.join();
    EXPECT_EQ(out, "2\t数据验证通过\n7\tsecond\n");
}
