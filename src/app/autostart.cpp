#include "app/autostart.h"

#include "app/gbk_texts.h"
#include "platform/system_error.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>

namespace vexory {

std::string ConfigFolder()
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
    return config;
}

std::string AutostartEntryPath()
{
    return ConfigFolder() + "/autostart/" + std::string(texts::kAutostartFile);
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
            *error = texts::kAutostartNotDesktop;
        return false;
    }
    std::error_code ec;
    std::filesystem::create_directories(std::filesystem::path(path).parent_path(), ec);
    std::ofstream out(path, std::ios::trunc);
    if (!out) {
        if (error)
            *error = "无法写入 " + path + "：" + SystemErrorText(errno);
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
    // A relative program folder would mean another folder to the session that starts it.
    std::string where = std::filesystem::absolute(folder, ec).lexically_normal().string();
    if (where.empty())
        where = folder;
    out << "[Desktop Entry]\n"
           "Type=Application\n"
           "Name=Vexory\n"
           "Exec=env "
        << quoted("VEXORY_HOME=" + where) << " " << quoted(program)
        << " autorun\n"
           "Path="
        << where
        << "\n"
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
