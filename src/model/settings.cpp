#include "model/settings.h"

#include "base/string_list2.h"
#include "base/text_helpers.h"
#include "model/ini_file.h"

#include <charconv>

namespace vexory {

void ReadSettings(const std::string& iniPath, const std::vector<std::string>& args, TAccountRecord& account,
                  TProcessValues& values)
{
    if (values.SettingsRead)
        return;
    values.AutoRun = !args.empty() && args.front() == "autorun";

    const IniFile ini = IniFile::Load(iniPath);
    values.AutoLogin = ini.ReadBool(kSettingsSection, "autologin", true);
    values.Debugging = ini.ReadBool(kSettingsSection, "debugging", false);
    values.DirectRead = ini.ReadBool(kSettingsSection, "directread", true);
    values.MainFields = ini.ReadString(kSettingsSection, "mainfields", "");
    values.Server = ini.ReadString(kSettingsSection, "server", kDefaultServer);
    if (values.Server.empty())
        values.Server = kDefaultServer;

    ApplyMainFields(values.MainFields, account.Tasks);
    values.SettingsRead = true;
}

std::vector<std::pair<int32_t, uint8_t>> ParseMainFields(std::string_view text, size_t taskCount)
{
    std::vector<std::pair<int32_t, uint8_t>> pairs;
    if (text.empty())
        return pairs;
    TStringList2 pieces;
    pieces.SetSeparator(";");
    pieces.Split(text);
    for (size_t n = 0; n < pieces.Count(); ++n) {
        TStringList2 parts;
        parts.SetSeparator(",");
        parts.Split(pieces[n]);
        if (parts.Count() != 2 || !IsInteger(parts[0]) || !IsInteger(parts[1]))
            continue;
        int32_t index = StrToInt(parts[0]);
        int32_t field = StrToInt(parts[1]);
        if (index < 1 || static_cast<size_t>(index) > taskCount)
            continue;
        pairs.emplace_back(index, static_cast<uint8_t>(field & 0xFF));
    }
    return pairs;
}

void ApplyMainFields(std::string_view text, std::vector<TTaskRecord>& tasks)
{
    for (auto [index, field] : ParseMainFields(text, tasks.size()))
        tasks[static_cast<size_t>(index - 1)].MainField = field;
}

bool SplitServer(std::string_view server, std::string& host, uint16_t& port)
{
    size_t colon = server.rfind(':');
    std::string_view hostPart = server;
    port = 80;
    if (colon != std::string_view::npos) {
        hostPart = server.substr(0, colon);
        std::string_view portPart = server.substr(colon + 1);
        unsigned value = 0;
        auto [end, ec] = std::from_chars(portPart.data(), portPart.data() + portPart.size(), value);
        if (ec != std::errc() || end != portPart.data() + portPart.size() || value == 0 || value > 65535)
            return false;
        port = static_cast<uint16_t>(value);
    }
    if (hostPart.empty() || hostPart.find_first_of(" /\t") != std::string_view::npos)
        return false;
    host = std::string(hostPart);
    return true;
}

} // namespace vexory
