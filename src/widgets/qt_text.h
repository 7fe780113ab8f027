#pragma once

// The one pair of conversions between widget text (QString) and the program's
// code page 936 strings. For Qt targets only.

#include "platform/codepage.h"

#include <QString>
#include <string>
#include <string_view>

namespace vexory {

inline QString FromGbk(std::string_view gbk)
{
    const std::u16string u = GbkToUtf16(gbk);
    return QString::fromUtf16(u.data(), static_cast<qsizetype>(u.size()));
}

inline std::string ToGbk(const QString& text)
{
    return Utf16ToGbk(std::u16string_view(reinterpret_cast<const char16_t*>(text.utf16()),
                                          static_cast<size_t>(text.size())));
}

} // namespace vexory
