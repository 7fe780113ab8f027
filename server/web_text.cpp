#include "web_text.h"

#include "platform/codepage.h"

#include <microhttpd.h>

#include <algorithm>
#include <cstdint>

namespace vexory::server {

std::string FormField(const std::string& form, const std::string& key)
{
    size_t at = 0;
    while (at <= form.size()) {
        size_t end = form.find('&', at);
        if (end == std::string::npos)
            end = form.size();
        const std::string pair = form.substr(at, end - at);
        const size_t eq = pair.find('=');
        if (pair.substr(0, eq) == key) {
            std::string v = eq == std::string::npos ? std::string() : pair.substr(eq + 1);
            std::replace(v.begin(), v.end(), '+', ' ');
            v.resize(MHD_http_unescape(v.data()));
            return v;
        }
        at = end + 1;
    }
    return {};
}

std::string Utf8Prefix(const std::string& text, size_t limit)
{
    if (text.size() <= limit)
        return text;
    size_t n = limit;
    while (n > 0 && (static_cast<unsigned char>(text[n]) & 0xC0) == 0x80)
        --n;
    return text.substr(0, n);
}

bool ValidUtf8(std::string_view text)
{
    size_t i = 0;
    while (i < text.size()) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        if (c < 0x80) {
            ++i;
            continue;
        }
        size_t n = 0;
        uint32_t code = 0, least = 0;
        if (c >= 0xC2 && c <= 0xDF)
            n = 1, code = c & 0x1F, least = 0x80;
        else if (c >= 0xE0 && c <= 0xEF)
            n = 2, code = c & 0x0F, least = 0x800;
        else if (c >= 0xF0 && c <= 0xF4)
            n = 3, code = c & 0x07, least = 0x10000;
        else
            return false;
        for (size_t k = 1; k <= n; ++k) {
            if (i + k >= text.size())
                return false;
            const unsigned char t = static_cast<unsigned char>(text[i + k]);
            if ((t & 0xC0) != 0x80)
                return false;
            code = (code << 6) | (t & 0x3F);
        }
        if (code < least || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF))
            return false;
        i += n + 1;
    }
    return true;
}

std::optional<std::string> ClientText(const std::string& bytes)
{
    if (ValidUtf8(bytes))
        return bytes;
    // Bytes that are not GBK come out as '?': more of them than went in.
    std::string converted = GbkToUtf8(bytes);
    if (std::count(converted.begin(), converted.end(), '?') != std::count(bytes.begin(), bytes.end(), '?'))
        return std::nullopt;
    return converted;
}

} // namespace vexory::server
