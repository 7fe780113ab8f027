#include "support/hostile_bodies.h"

#include <zlib.h>

namespace vexory::test {

std::string GzipBomb(size_t size)
{
    z_stream z{};
    deflateInit2(&z, Z_BEST_COMPRESSION, Z_DEFLATED, 15 + 16, 9, Z_DEFAULT_STRATEGY);
    const std::string zeros(1 << 20, '\0');
    std::string out;
    char buffer[1 << 16];
    for (size_t done = 0; done < size; done += zeros.size()) {
        z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(zeros.data()));
        z.avail_in = static_cast<uInt>(zeros.size());
        const int flush = done + zeros.size() >= size ? Z_FINISH : Z_NO_FLUSH;
        do {
            z.next_out = reinterpret_cast<Bytef*>(buffer);
            z.avail_out = sizeof buffer;
            deflate(&z, flush);
            out.append(buffer, sizeof buffer - z.avail_out);
        } while (z.avail_out == 0);
    }
    deflateEnd(&z);
    return out;
}

std::string RepeatedPage(const std::string& piece, size_t repeat)
{
    std::string page = "<meta charset=utf-8>";
    page.reserve(page.size() + piece.size() * repeat);
    for (size_t i = 0; i < repeat; ++i)
        page += piece;
    return page;
}

std::string ManyAttributesPage(size_t count)
{
    std::string page = "<meta charset=utf-8><p";
    for (size_t i = 0; i < count; ++i)
        page += " a" + std::to_string(i) + "=1";
    return page + ">x</p>";
}

} // namespace vexory::test
