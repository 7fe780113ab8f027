// `vexory-cli cut` in-process, repeated: what the command costs without starting a
// process, for comparisons with libraries timed inside their own process
// (bench/compare_lxml.py). The JSON goes to stdout as the command writes it; the
// median time of the runs, in seconds, to stderr.
//
//     cut_repeat RUNS FORMULA_FILE PAGE > /dev/null

#include "cli/cli_common.h"
#include "cli/commands.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

int main(int argc, char** argv)
{
    if (argc != 4) {
        std::fprintf(stderr, "usage: cut_repeat RUNS FORMULA_FILE PAGE\n");
        return 2;
    }
    const int runs = std::max(1, std::atoi(argv[1]));
    std::vector<double> seconds;
    for (int i = 0; i < runs; ++i) {
        const auto begin = std::chrono::steady_clock::now();
        vexory::cli::Cut({argv[2], argv[3]}, {});
        seconds.push_back(std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count());
    }
    std::sort(seconds.begin(), seconds.end());
    std::fprintf(stderr, "%.9f\n", seconds[seconds.size() / 2]);
    return 0;
}
