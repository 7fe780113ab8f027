#include "app/log_file.h"

#include "app/gbk_texts.h"

#include <cstdio>

namespace vexory {

bool AppendLog(const std::string& path, std::string_view text, bool debugging)
{
    if (!debugging)
        return true;
    std::FILE* file = std::fopen(path.c_str(), "ab");
    if (!file)
        return false;
    bool ok = std::fwrite(text.data(), 1, text.size(), file) == text.size() && std::fwrite("\r\n", 1, 2, file) == 2;
    ok = std::fclose(file) == 0 && ok;
    return ok;
}

std::string FormatDateTime(const std::tm& when)
{
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%d/%d/%d %d:%02d:%02d", when.tm_year + 1900, when.tm_mon + 1, when.tm_mday,
                  when.tm_hour, when.tm_min, when.tm_sec);
    return buffer;
}

std::string NowDateTime()
{
    const std::time_t t = std::time(nullptr);
    std::tm tm{};
    localtime_r(&t, &tm);
    return FormatDateTime(tm);
}

std::string StatusLineText(std::string_view message, const std::string& dateTime)
{
    std::string line = "  " + dateTime + " - ";
    line += message;
    return line;
}

std::string ProgramEndEntry()
{
    return std::string(texts::kProgramEnd) + "\r\n";
}

} // namespace vexory
