#pragma once

// Hand-over of results to the user's plug-in program.
//
// A plug-in "window" is a Unix-domain stream socket in the plug-in folder
// ($XDG_RUNTIME_DIR/vexory, or /tmp/vexory-<uid> without a runtime folder; mode
// 0700, owned by the user). The socket's file name is the plug-in's title in UTF-8,
// with "%" written "%25" and "/" written "%2F".
//
// One hand-over is one connection. The sender writes
//     u32 little-endian  number  (the task's 1-based number)
//     u32 little-endian  length  (bytes that follow: the text's length + 1)
//     length bytes               (the text as code page 936 bytes, then one 0 byte)
// and the plug-in answers with one byte: non-zero accepts the text, 0 refuses it.
// A plug-in that does not answer within kPluginAnswerMs counts as refusing.

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace vexory {

inline constexpr int kPluginAnswerMs = 3000;
inline constexpr uint32_t kPluginMaxFrame = 64u << 20;

// A plug-in window found by FindWindowByTitle.
struct PluginWindow
{
    std::string title;      // UTF-8
    std::string socketPath; // full path of its socket
};

// The plug-in folder, created (0700) when missing; "" when it cannot be made safe
// (not ours, open to others, or not a folder).
std::string PluginFolder();

// The first plug-in window after `after` (from the first when none) whose title,
// read up to 255 bytes, contains `text` (code page 936). Windows are taken in
// the order of their titles.
std::optional<PluginWindow> FindWindowByTitle(std::string_view text, const PluginWindow* after);

// Hands `text` to the window with `number`; the receiver's answer byte (0 when it
// refused, did not answer in time, or could not be reached).
uint8_t SendCopyData(const PluginWindow& window, uint32_t number, std::string_view text);

// The title every plug-in carries: "Vexory外挂 - " + host (code page 936).
std::string PluginTitlePrefix(std::string_view host);

// Offers `text` to every plug-in window for the service host until one accepts.
// True when one accepted or at least one plug-in window was found; false when
// none runs (nothing sent). A socket left behind by a plug-in that ended is not
// a window: it is removed and not counted.
bool SendToPluginWindow(uint32_t number, std::string_view text, std::string_view host);

// The receiving end, for plug-in programs: registers a title and serves hand-overs.
class PluginWindowHost
{
public:
    using Handler = std::function<uint8_t(uint32_t number, const std::string& text)>;

    PluginWindowHost() = default;
    ~PluginWindowHost();
    PluginWindowHost(const PluginWindowHost&) = delete;
    PluginWindowHost& operator=(const PluginWindowHost&) = delete;

    // Registers `titleUtf8`. Fails when the title is taken by a running plug-in,
    // too long for a socket name, or the plug-in folder is not safe.
    bool Open(std::string_view titleUtf8, std::string* error = nullptr);
    // Waits up to `timeoutMs` (-1: no limit) for one hand-over and answers it with
    // the handler's byte. True when a whole hand-over was served.
    bool ServeOne(const Handler& handler, int timeoutMs);
    void Close();

    const std::string& SocketPath() const { return m_path; }

private:
    int m_fd = -1;
    std::string m_path;
};

// File name of a title's socket, and the title of a file name.
std::string PluginSocketName(std::string_view titleUtf8);
std::string PluginTitleOfSocketName(std::string_view name);

} // namespace vexory
