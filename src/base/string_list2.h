#pragma once

// A string list that splits and joins at any separator text.

#include <string>
#include <string_view>
#include <vector>

namespace vexory {

class TStringList2
{
public:
    // Sets the separator; an empty text stands for the list's delimiter character,
    // and a one-byte text becomes the delimiter too.
    void SetSeparator(std::string_view text);
    const std::string& Separator() const { return m_separator; }
    char Delimiter() const { return m_delimiter; }

    // Off (the default): items are trimmed and empty ones dropped. On: kept exactly.
    bool KeepEmpty = false;

    // Replaces the items by the pieces of `text` cut at every separator. Before any
    // separator was set the text is read as comma text (quotes, blanks as breaks).
    void Split(std::string_view text);
    // The items with the separator between them.
    std::string Join();

    size_t Count() const { return m_items.size(); }
    const std::string& operator[](size_t i) const { return m_items[i]; }
    std::string& operator[](size_t i) { return m_items[i]; }
    void Add(std::string item) { m_items.push_back(std::move(item)); }
    void Clear() { m_items.clear(); }
    const std::vector<std::string>& Items() const { return m_items; }

private:
    void splitCommaText(std::string_view text);

    std::vector<std::string> m_items;
    std::string m_separator;
    char m_delimiter = ',';
};

} // namespace vexory
