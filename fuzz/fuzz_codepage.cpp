// Code page 936 conversions on any bytes: the table-driven ones must give exactly
// what iconv gives, read as UTF-8, as GBK and as UTF-16, strictness included.

#include "platform/codepage.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

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
    return 0;
}
