// Writes the generated listing pages as a browser would hand them over (UTF-8),
// with the grab formula that cuts their records, for comparisons with other tools.
//
//   build/bench/write_pages DIR     -> DIR/listing-<bytes>.html for 16 KB to 8 MB, DIR/formula.txt

#include "page_generator.h"

#include "platform/codepage.h"

#include <cstdio>
#include <fstream>
#include <string>

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: write_pages DIR\n");
        return 2;
    }
    const std::string dir = argv[1];
    for (size_t bytes : {size_t{16} << 10, size_t{100} << 10, size_t{1} << 20, size_t{8} << 20}) {
        std::ofstream out(dir + "/listing-" + std::to_string(bytes) + ".html", std::ios::binary);
        out << vexory::GbkToUtf8(vexory::bench::ListingPage(bytes));
        if (!out)
            return 1;
    }
    std::ofstream formula(dir + "/formula.txt", std::ios::binary);
    formula << vexory::bench::kListingFormula;
    return formula ? 0 : 1;
}
