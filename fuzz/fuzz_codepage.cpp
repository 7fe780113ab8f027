// Code page 936 conversions on any bytes: the table-driven ones must give exactly
// what iconv gives, read as UTF-8, as GBK and as UTF-16, strictness included; a
// download's text in the character set its server names becomes code page 936.

#include "platform/codepage.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <string>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    bool exact = true;
    if (vexory::Utf8ToGbk(bytes) != vexory::iconv_reference::Utf8ToGbk(bytes, &exact))
        std::abort();
    if (vexory::Utf8ToGbkStrict(bytes).has_value() != exact)
        std::abort();
    if (vexory::GbkToUtf8(bytes) != vexory::iconv_reference::GbkToUtf8(bytes))
        std::abort();
    if (vexory::GbkToUtf16(bytes) != vexory::iconv_reference::GbkToUtf16(bytes))
        std::abort();
    std::u16string units(size / 2, u'\0');
    if (!units.empty())
        std::memcpy(units.data(), data, units.size() * 2);
    if (vexory::Utf16ToGbk(units) != vexory::iconv_reference::Utf16ToGbk(units))
        std::abort();
    // The first byte picks the server's character set, the rest is the body.
    static constexpr const char* kCharsets[] = {"", "gbk", "utf-8", "big5", "iso-8859-1", "utf-16le",
                                                "shift_jis", "gb18030", "no-such-charset"};
    if (size > 0) {
        const std::string_view body = std::string_view(bytes).substr(1);
        const char* charset = kCharsets[data[0] % std::size(kCharsets)];
        const std::string text = vexory::CharsetToGbk(body, charset);
        if ((std::strcmp(charset, "gbk") == 0 && text != body) ||
            (std::strcmp(charset, "utf-8") == 0 && text != vexory::Utf8ToGbk(body)))
            std::abort();
    }
    return 0;
}
