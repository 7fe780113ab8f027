// Asks iconv once for every character of code page 936 and writes the tables the
// program converts with (run at build time; the output is a C++ source file).
//
//   cp936_table_gen OUTPUT.cpp

#include <cstdint>
#include <cstdio>
#include <iconv.h>
#include <string>

namespace {

constexpr uint16_t kNone = 0xFFFF;

// Converts `n` bytes as one character; the bytes written, or -1.
int ask(iconv_t cd, const void* in, size_t n, unsigned char* out, size_t room)
{
    char* inPtr = const_cast<char*>(static_cast<const char*>(in));
    size_t inLeft = n;
    char* outPtr = reinterpret_cast<char*>(out);
    size_t outLeft = room;
    iconv(cd, nullptr, nullptr, nullptr, nullptr);
    if (iconv(cd, &inPtr, &inLeft, &outPtr, &outLeft) == static_cast<size_t>(-1) || inLeft != 0)
        return -1;
    return static_cast<int>(room - outLeft);
}

void writeTable(FILE* f, const char* name, const uint16_t* values, size_t n)
{
    std::fprintf(f, "extern const uint16_t %s[%zu] = {", name, n);
    for (size_t i = 0; i < n; ++i)
        std::fprintf(f, "%s%u,", i % 16 ? "" : "\n", values[i]);
    std::fprintf(f, "\n};\n");
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: cp936_table_gen OUTPUT.cpp\n");
        return 2;
    }
    iconv_t toGbk = iconv_open("CP936", "UTF-16LE");
    iconv_t fromGbk = iconv_open("UTF-16LE", "CP936");
    if (toGbk == reinterpret_cast<iconv_t>(-1) || fromGbk == reinterpret_cast<iconv_t>(-1)) {
        std::fprintf(stderr, "cp936_table_gen: iconv has no CP936\n");
        return 1;
    }
    static uint16_t gbk[0x10000], single[256], pair[126 * 256];
    for (uint32_t cp = 0; cp < 0x10000; ++cp) {
        gbk[cp] = kNone;
        if (cp >= 0xD800 && cp <= 0xDFFF)
            continue;
        const char16_t unit = static_cast<char16_t>(cp);
        unsigned char out[8];
        const int n = ask(toGbk, &unit, 2, out, sizeof out);
        if (n == 1)
            gbk[cp] = out[0];
        else if (n == 2 && out[0] >= 0x81)
            gbk[cp] = static_cast<uint16_t>(out[0] << 8 | out[1]);
    }
    auto decode = [&](const unsigned char* bytes, size_t n) -> uint16_t {
        unsigned char out[8];
        if (ask(fromGbk, bytes, n, out, sizeof out) != 2)
            return kNone;
        const uint16_t u = static_cast<uint16_t>(out[0] | out[1] << 8);
        return u >= 0xD800 && u <= 0xDFFF ? kNone : u;
    };
    for (unsigned b = 0; b < 256; ++b) {
        const unsigned char byte = static_cast<unsigned char>(b);
        single[b] = b >= 0x81 && b <= 0xFE ? kNone : decode(&byte, 1);
    }
    for (unsigned lead = 0x81; lead <= 0xFE; ++lead)
        for (unsigned trail = 0; trail < 256; ++trail) {
            const unsigned char bytes[2] = {static_cast<unsigned char>(lead), static_cast<unsigned char>(trail)};
            pair[(lead - 0x81) * 256 + trail] = decode(bytes, 2);
        }
    iconv_close(toGbk);
    iconv_close(fromGbk);

    FILE* f = std::fopen(argv[1], "w");
    if (!f)
        return 1;
    std::fprintf(f, "// Made by cp936_table_gen from this machine's iconv; do not edit.\n"
                    "#include \"platform/cp936_tables.h\"\n\nnamespace vexory::cp936 {\n\n");
    writeTable(f, "kToGbk", gbk, 0x10000);
    writeTable(f, "kSingle", single, 256);
    writeTable(f, "kPair", pair, 126 * 256);
    std::fprintf(f, "\n} // namespace vexory::cp936\n");
    return std::fclose(f) == 0 ? 0 : 1;
}
