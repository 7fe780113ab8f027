#include "app/autostart.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>

namespace vexory {

std::string AutostartEntryPath()
{
    std::string config;
    if (const char* xdg = std::getenv("XDG_CONFIG_HOME"); xdg && *xdg)
        config = xdg;
    else if (const char* home = std::getenv("HOME"); home && *home)
        config = std::string(home) + "/.config";
    else
        config = ".config";
    while (config.size() > 1 && config.back() == '/')
        config.pop_back();
    return config + "/autostart/Vexory\xE5\xBC\x80\xE6\x9C\xBA\xE5\x90\xAF\xE5\x8A\xA8.desktop"; // "开机启动"
}

bool AutostartEnabled()
{
    std::error_code ec;
    return std::filesystem::exists(AutostartEntryPath(), ec);
}

bool CreateAutostartEntry(const std::string& path, const std::string& program, const std::string& folder,
                          std::string* error)
{
    std::string ext = std::filesystem::path(path).extension().string();
    std::transform(ext.begin(), ext.end(), ext.begin(), [](unsigned char c) { return std::toupper(c); });
    if (ext != ".DESKTOP") {
        if (error)
            *error = "\xE5\xBF\xAB\xE6\x8D\xB7\xE6\x96\xB9\xE5\xBC\x8F\xE7\x9A\x84\xE6\x89\xA9\xE5\xB1\x95\xE5\x90\x8D"
                     "\xE5\xBF\x85\xE9\xA1\xBB\xE6\x98\xAF \xE2\x80\xB2\xE2\x80\xB2" "DESKTOP\xE2\x80\xB2\xE2\x80\xB2!";
        return false;
    }
    std::error_code ec;
    std::filesystem::create_directories(std::filesystem::path(path).parent_path(), ec);
    std::ofstream out(path, std::ios::trunc);
    if (!out) {
        if (error)
            *error = "cannot write " + path;
        return false;
    }
    // An argument of the Exec key: quoted, with the reserved characters escaped
    // and "%" doubled (a lone one starts a field code).
    auto quoted = [](const std::string& s) {
        std::string q = "\"";
        for (char c : s) {
            if (c == '"' || c == '\\' || c == '`' || c == '$')
                q += '\\';
            if (c == '%')
                q += '%';
            q += c;
        }
        return q + "\"";
    };
    // The program folder goes along: without it the program would look for its
    // tasks beside the executable.
    out << "[Desktop Entry]\n"
           "Type=Application\n"
           "Name=Vexory\n"
           "Exec=env " << quoted("VEXORY_HOME=" + folder) << " " << quoted(program) << " autorun\n"
           "Path=" << folder << "\n"
           "Terminal=false\n"
           "X-GNOME-Autostart-enabled=true\n";
    return static_cast<bool>(out);
}

bool RemoveAutostartEntry(const std::string& path)
{
    std::error_code ec;
    return std::filesystem::remove(path, ec);
}

} // namespace vexory
