#include "platform/plugin_window.h"

#include "platform/codepage.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <thread>
#include <unistd.h>

using namespace vexory;
using vexory::test::TempDir;

namespace {

// Every test gets its own runtime folder, so plug-ins of other tests never answer.
class PluginWindowTest : public ::testing::Test
{
protected:
    void SetUp() override { ::setenv("XDG_RUNTIME_DIR", m_runtime.path().c_str(), 1); }

    std::string title(std::string_view host = "127.0.0.1") { return GbkToUtf8(PluginTitlePrefix(host)); }

    TempDir m_runtime;
};

struct Received
{
    uint32_t number = 0;
    std::string text;
    int calls = 0;
};

// Serves one hand-over on a thread, answering `answer`.
std::thread serveOne(PluginWindowHost& host, Received& got, uint8_t answer)
{
    return std::thread([&host, &got, answer] {
        host.ServeOne(
            [&got, answer](uint32_t number, const std::string& text) {
                got.number = number;
                got.text = text;
                ++got.calls;
                return answer;
            },
            5000);
    });
}

} // namespace

TEST_F(PluginWindowTest, NoPluginMeansFalseAndNothingSent)
{
    EXPECT_FALSE(SendToPluginWindow(1, "text", "127.0.0.1"));
    EXPECT_FALSE(FindWindowByTitle(PluginTitlePrefix("127.0.0.1"), nullptr).has_value());
}

TEST_F(PluginWindowTest, AcceptedHandOverCarriesNumberAndGbkText)
{
    PluginWindowHost host;
    ASSERT_TRUE(host.Open(title()));
    Received got;
    std::thread server = serveOne(host, got, 1);
    const std::string text = "\xCA\xFD\xBE\xDD\x07line"; // GBK with a field separator
    EXPECT_TRUE(SendToPluginWindow(3, text, "127.0.0.1"));
    server.join();
    EXPECT_EQ(got.number, 3u);
    EXPECT_EQ(got.text, text);

    struct stat st;
    ASSERT_EQ(::stat((m_runtime.path() + "/vexory").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);
}

TEST_F(PluginWindowTest, ARefusingPluginPassesTheTextToTheNextOne)
{
    PluginWindowHost first, second;
    ASSERT_TRUE(first.Open(title() + " (1)"));
    ASSERT_TRUE(second.Open(title() + " (2)"));
    Received a, b;
    std::thread s1 = serveOne(first, a, 0);
    std::thread s2 = serveOne(second, b, 1);
    EXPECT_TRUE(SendToPluginWindow(1, "x", "127.0.0.1"));
    s1.join();
    s2.join();
    EXPECT_EQ(a.calls, 1);
    EXPECT_EQ(b.calls, 1);
}

TEST_F(PluginWindowTest, OnlyPluginsOfTheServiceHostAreOffered)
{
    PluginWindowHost other;
    ASSERT_TRUE(other.Open(title("other.host")));
    EXPECT_FALSE(SendToPluginWindow(1, "x", "127.0.0.1"));
}

TEST_F(PluginWindowTest, AllRefusingStillCountsAsFound)
{
    PluginWindowHost host;
    ASSERT_TRUE(host.Open(title()));
    Received got;
    std::thread server = serveOne(host, got, 0);
    EXPECT_TRUE(SendToPluginWindow(1, "x", "127.0.0.1"));
    server.join();
    EXPECT_EQ(got.calls, 1);
}

TEST_F(PluginWindowTest, SocketLeftByAnEndedPluginIsNotAWindow)
{
    std::string path;
    {
        int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
        const std::string folder = PluginFolder();
        path = folder + "/" + PluginSocketName(title());
        sockaddr_un addr{};
        addr.sun_family = AF_UNIX;
        std::strncpy(addr.sun_path, path.c_str(), sizeof addr.sun_path - 1);
        ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
        ::close(fd); // bound, never listening: what a crashed plug-in leaves
    }
    EXPECT_FALSE(SendToPluginWindow(1, "x", "127.0.0.1"));
    EXPECT_FALSE(std::filesystem::exists(path));

    // And a new plug-in can take the title over.
    PluginWindowHost host;
    EXPECT_TRUE(host.Open(title()));
}

TEST_F(PluginWindowTest, ASilentPluginCountsAsRefusingAfterTheTimeLimit)
{
    // Listens but never reads or answers.
    PluginWindowHost silent;
    ASSERT_TRUE(silent.Open(title()));
    const auto start = std::chrono::steady_clock::now();
    std::optional<PluginWindow> window = FindWindowByTitle(PluginTitlePrefix("127.0.0.1"), nullptr);
    ASSERT_TRUE(window.has_value());
    EXPECT_EQ(SendCopyData(*window, 1, "x"), 0);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
}

TEST_F(PluginWindowTest, TitlesAreUniqueAndMayHoldSlashes)
{
    PluginWindowHost a, b;
    ASSERT_TRUE(a.Open(title() + " 100%/x"));
    std::string error;
    EXPECT_FALSE(b.Open(title() + " 100%/x", &error));
    EXPECT_FALSE(error.empty());
    std::optional<PluginWindow> w = FindWindowByTitle(PluginTitlePrefix("127.0.0.1"), nullptr);
    ASSERT_TRUE(w.has_value());
    EXPECT_EQ(w->title, title() + " 100%/x");
    EXPECT_FALSE(FindWindowByTitle(PluginTitlePrefix("127.0.0.1"), &*w).has_value());
    EXPECT_FALSE(b.Open(std::string(200, 'x'), &error)); // too long for a socket name
}
