// A page read without the browser: its encoding decided, parsed, serialized, and
// its links resolved, on any bytes under any declared type and address. Also the
// link resolution alone: an address it made whole resolves to itself again.
// Input: the first byte chooses the Content-Type, the second the page's address,
// the rest is the page.

#include "browser/direct_page.h"
#include "browser/page_encoding.h"
#include "browser/url_resolve.h"

#include <cstdlib>
#include <iterator>
#include <string>

namespace {

constexpr const char* kTypes[] = {"text/html", "text/html; charset=utf-8", "text/html; charset=gbk",
                                  "text/html; charset=big5", "text/html;charset=windows-1252",
                                  "text/html; charset=utf-16le", "text/plain", "TEXT/HTML; Charset=\"UTF-8\""};
constexpr const char* kUrls[] = {"http://h.example/d/p.html?q=1#f", "https://H.EXAMPLE:443/", "http://127.0.0.1:8080",
                                 "http://h.example/a/b/../c/"};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 2)
        return 0;
    const char* type = kTypes[data[0] % std::size(kTypes)];
    const std::string url = kUrls[data[1] % std::size(kUrls)];
    const std::string_view bytes(reinterpret_cast<const char*>(data + 2), size - 2);

    vexory::DirectRefusal why = vexory::DirectRefusal::None;
    const std::optional<std::string> text = vexory::DirectPageText(bytes, type, url, &why);
    if (text.has_value() != (why == vexory::DirectRefusal::None))
        std::abort(); // a refusal always says why, and only a refusal
    vexory::InnerHtmlOfDocument(bytes);

    // The bytes as a link on that page.
    const std::optional<std::string> whole = vexory::ResolveUrl(bytes.substr(0, 512), url, vexory::PageEncoding::Utf8);
    if (whole) {
        const std::optional<std::string> again = vexory::ResolveUrl(*whole, url, vexory::PageEncoding::Utf8);
        if (!again || *again != *whole)
            std::abort();
    }
    return 0;
}
