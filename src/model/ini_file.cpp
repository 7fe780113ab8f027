#include "model/ini_file.h"

#include <fstream>
#include <sstream>

namespace vexory {

namespace {

bool isBlank(char c)
{
    return static_cast<unsigned char>(c) <= 0x20;
}

std::string_view trim(std::string_view s)
{
    while (!s.empty() && isBlank(s.front()))
        s.remove_prefix(1);
    while (!s.empty() && isBlank(s.back()))
        s.remove_suffix(1);
    return s;
}

char lower(char c)
{
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c;
}

bool sameIgnoringCase(std::string_view a, std::string_view b)
{
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (lower(a[i]) != lower(b[i]))
            return false;
    return true;
}

int hexDigit(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    c = lower(c);
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

} // namespace

IniFile::IniFile(std::string_view text)
{
    std::string section;
    bool inSection = false;
    while (!text.empty()) {
        size_t eol = text.find('\n');
        std::string_view line = trim(text.substr(0, eol));
        text = eol == std::string_view::npos ? std::string_view() : text.substr(eol + 1);
        if (line.empty() || line.front() == ';')
            continue;
        if (line.front() == '[') {
            size_t close = line.find(']');
            section = std::string(trim(line.substr(1, close == std::string_view::npos ? line.size() : close - 1)));
            inSection = true;
            continue;
        }
        size_t eq = line.find('=');
        if (!inSection || eq == std::string_view::npos)
            continue;
        std::string_view value = trim(line.substr(eq + 1));
        if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') && value.back() == value.front())
            value = value.substr(1, value.size() - 2);
        m_entries.push_back({section, std::string(trim(line.substr(0, eq))), std::string(value)});
    }
}

IniFile IniFile::Load(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return IniFile();
    std::ostringstream text;
    text << in.rdbuf();
    return IniFile(text.str());
}

const IniFile::Entry* IniFile::find(std::string_view section, std::string_view key) const
{
    // The first section of that name is the one that counts.
    const std::string* first = nullptr;
    for (const auto& e : m_entries) {
        if (!sameIgnoringCase(e.section, section))
            continue;
        if (!first)
            first = &e.section;
        else if (e.section != *first)
            continue;
        if (sameIgnoringCase(e.key, key))
            return &e;
    }
    return nullptr;
}

std::string IniFile::ReadString(std::string_view section, std::string_view key, std::string_view fallback) const
{
    const Entry* e = find(section, key);
    return std::string(e ? std::string_view(e->value) : fallback);
}

int32_t IniFile::ReadInteger(std::string_view section, std::string_view key, int32_t fallback) const
{
    const Entry* e = find(section, key);
    int32_t value;
    if (!e || !ParseProfileInteger(e->value, value))
        return fallback;
    return value;
}

bool IniFile::ReadBool(std::string_view section, std::string_view key, bool fallback) const
{
    return ReadInteger(section, key, fallback ? 1 : 0) != 0;
}

bool ParseProfileInteger(std::string_view text, int32_t& value)
{
    while (!text.empty() && text.front() == ' ')
        text.remove_prefix(1);
    bool negative = false;
    if (!text.empty() && (text.front() == '+' || text.front() == '-')) {
        negative = text.front() == '-';
        text.remove_prefix(1);
    }
    bool hex = false;
    if (text.size() >= 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        hex = true;
        text.remove_prefix(2);
    } else if (!text.empty() && text.front() == '$') {
        hex = true;
        text.remove_prefix(1);
    }
    if (text.empty())
        return false;
    uint64_t magnitude = 0;
    for (char c : text) {
        int d = hex ? hexDigit(c) : (c >= '0' && c <= '9' ? c - '0' : -1);
        if (d < 0)
            return false;
        magnitude = magnitude * (hex ? 16 : 10) + static_cast<uint64_t>(d);
        if (magnitude > 0xFFFFFFFFull)
            return false;
    }
    if (hex) {
        // Hexadecimal fills the 32 bits: 0xFFFFFFFF is -1.
        uint32_t bits = static_cast<uint32_t>(magnitude);
        if (negative)
            bits = 0u - bits;
        value = static_cast<int32_t>(bits);
        return true;
    }
    if (magnitude > (negative ? 2147483648ull : 2147483647ull))
        return false;
    value = negative ? static_cast<int32_t>(-static_cast<int64_t>(magnitude)) : static_cast<int32_t>(magnitude);
    return true;
}

} // namespace vexory
