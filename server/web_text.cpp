#include "web_text.h"

#include <microhttpd.h>

#include <algorithm>

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

} // namespace vexory::server
