#include "base/progress_format.h"

#include "base/gbk_texts.h"
#include <algorithm>
#include <cmath>
#include <cstdio>

namespace vexory {

std::string FormatElapsed(int64_t seconds, int kind)
{
    char buffer[64];
    if (kind == 2) {
        std::snprintf(buffer, sizeof buffer, "[ %.2lld:%.2lld ]", static_cast<long long>(seconds / 60),
                      static_cast<long long>(seconds % 60));
        return buffer;
    }
    if (kind == 3) {
        std::snprintf(buffer, sizeof buffer, "[ %.2lld:%.2lld:%.2lld ]", static_cast<long long>(seconds / 3600),
                      static_cast<long long>(seconds % 3600 / 60), static_cast<long long>(seconds % 60));
        return buffer;
    }
    return {};
}

std::string ProgressBlocks(int percent)
{
    const long n = std::lround(percent / 12.5);
    std::string out;
    for (long i = 0; i < n; ++i)
        out += texts::kBlockFull;
    for (long i = std::max(0L, n); i < 8; ++i)
        out += texts::kBlockEmpty;
    return out;
}

} // namespace vexory
