#pragma once

// A read-only INI file with the Windows profile-string rules: section and key
// names compare without regard to letter case, the first matching section and
// key win, values are trimmed and lose one pair of enclosing quotes.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace vexory {

class IniFile
{
public:
    IniFile() = default;
    // Parses INI text (bytes kept as they are).
    explicit IniFile(std::string_view text);
    // Reads the file; a missing or unreadable file reads as empty.
    static IniFile Load(const std::string& path);

    std::string ReadString(std::string_view section, std::string_view key, std::string_view fallback) const;
    // An integer in decimal or "0x" / "$" hexadecimal; anything else gives `fallback`.
    int32_t ReadInteger(std::string_view section, std::string_view key, int32_t fallback) const;
    // A boolean held as an integer: 0 is false, any other integer true.
    bool ReadBool(std::string_view section, std::string_view key, bool fallback) const;

private:
    struct Entry
    {
        std::string section;
        std::string key;
        std::string value;
    };
    const Entry* find(std::string_view section, std::string_view key) const;

    std::vector<Entry> m_entries;
};

// The integer reading of a profile value: leading blanks, one sign, decimal digits
// or "0x"/"$" with hexadecimal digits, within 32 bits, nothing after. False otherwise.
bool ParseProfileInteger(std::string_view text, int32_t& value);

} // namespace vexory
