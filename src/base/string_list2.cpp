#include "base/string_list2.h"

#include "base/text_helpers.h"

namespace vexory {

void TStringList2::SetSeparator(std::string_view text)
{
    if (text == m_separator)
        return;
    if (text.empty()) {
        m_separator.assign(1, m_delimiter);
        return;
    }
    m_separator = std::string(text);
    if (text.size() == 1)
        m_delimiter = text.front();
}

void TStringList2::Split(std::string_view text)
{
    if (m_separator.empty()) {
        splitCommaText(text);
        return;
    }
    m_items.clear();
    size_t start = 0;
    for (;;) {
        size_t hit = text.find(m_separator, start);
        std::string_view piece =
            text.substr(start, hit == std::string_view::npos ? std::string_view::npos : hit - start);
        if (KeepEmpty)
            m_items.emplace_back(piece);
        else if (std::string_view trimmed = Trim(piece); !trimmed.empty())
            m_items.emplace_back(trimmed);
        if (hit == std::string_view::npos)
            break;
        start = hit + m_separator.size();
    }
}

std::string TStringList2::Join()
{
    if (m_separator.empty())
        m_separator.assign(1, m_delimiter);
    std::string out;
    for (const auto& item : m_items) {
        if (item.empty() && !KeepEmpty)
            continue;
        out += item;
        out += m_separator;
    }
    if (!out.empty())
        out.resize(out.size() - m_separator.size());
    return out;
}

// The list's standard comma text: items end at the delimiter or at any blank or
// control byte; an item may be quoted with '"' (a doubled quote stands for one);
// a delimiter at the very end adds an empty item. A zero byte ends the text.
void TStringList2::splitCommaText(std::string_view text)
{
    m_items.clear();
    if (size_t zero = text.find('\0'); zero != std::string_view::npos)
        text = text.substr(0, zero);
    auto blank = [](char c) { return static_cast<unsigned char>(c) <= 0x20; };
    size_t p = 0;
    const size_t n = text.size();
    while (p < n && blank(text[p]))
        ++p;
    while (p < n) {
        std::string item;
        if (text[p] == '"') {
            ++p;
            while (p < n) {
                if (text[p] == '"') {
                    if (p + 1 < n && text[p + 1] == '"') {
                        item += '"';
                        p += 2;
                        continue;
                    }
                    ++p;
                    break;
                }
                item += text[p++];
            }
        } else {
            size_t start = p;
            while (p < n && !blank(text[p]) && text[p] != m_delimiter)
                ++p;
            item.assign(text.substr(start, p - start));
        }
        m_items.push_back(std::move(item));
        while (p < n && blank(text[p]))
            ++p;
        if (p < n && text[p] == m_delimiter) {
            if (p + 1 == n)
                m_items.emplace_back();
            do
                ++p;
            while (p < n && blank(text[p]));
        }
    }
}

} // namespace vexory
