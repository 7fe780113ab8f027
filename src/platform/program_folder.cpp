#include "platform/program_folder.h"

#include <cstdlib>
#include <filesystem>
#include <system_error>

namespace vexory {

std::string ExecutablePath()
{
    std::error_code ec;
    auto path = std::filesystem::read_symlink("/proc/self/exe", ec);
    return ec ? std::string() : path.string();
}

std::string ProgramFolder()
{
    std::string folder;
    if (const char* home = std::getenv("VEXORY_HOME"); home && *home)
        folder = home;
    else if (const char* data = std::getenv("XDG_DATA_HOME"); data && *data == '/')
        folder = std::string(data) + "/vexory";
    else if (const char* user = std::getenv("HOME"); user && *user)
        folder = std::string(user) + "/.local/share/vexory";
    else
        folder = std::filesystem::path(ExecutablePath()).parent_path().string();
    if (folder.empty())
        folder = ".";
    while (folder.size() > 1 && folder.back() == '/')
        folder.pop_back();
    return folder;
}

std::string ProgramFile(std::string_view fileName)
{
    std::string folder = ProgramFolder();
    if (folder.back() != '/')
        folder += '/';
    folder += fileName;
    return folder;
}

} // namespace vexory
