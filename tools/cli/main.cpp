// vexory-cli: the task store, the settings and (as they come) the formula engine
// and the service protocol on the command line.

#include "cli_common.h"
#include "commands.h"

#include "base/version.h"

#include <malloc.h>

#include <cstring>
#include <iostream>

namespace {

constexpr const char* kUsage = R"(usage: vexory-cli [--gbk] COMMAND ...
       vexory-cli --help | --version

commands:
  store show FILE              the task store as JSON
  store write JSON_FILE FILE   a task store from JSON (as store show prints it)
  settings [ARGS...]           program folder, file paths and settings as JSON;
                               ARGS stand for the program's command line
  prepare [--lower] PAGE       the page as the monitor prepares it
  cut [--raw] FORMULA PAGE     the records a grab formula cuts from a page, as JSON
                               (--raw: cut the page as given, not prepared)
  clean FORMULA                the repaired formula, its chain markers, notes and repairs
  check VERIFY [VALUE...]      "pass" or "fail": a record checked by a verification formula;
                               \xNN stands for one byte (the field codes), \\ for "\"
  tree PAGE                    the element tree of a page, one chunk a line
  paths PAGE PATH...           the texts index paths (such as 2.-1.3) select, as JSON
  login --server HOST:PORT [--auto] NICK PASSWORD
                               log in to a Vexory service: result code, version, user number, rights
  push --server HOST:PORT --nick N --user-number U --task T --url U [--formula F] RESULT_FILE
                               push a result as the monitor does; prints the service's reply
  share --server HOST:PORT --nick N --url U [--guide G] [--note TEXT] FORMULA_FILE
                               offer a grab formula for a page to other users, as the editor
                               does; prints the service's answer, or why it refused

--gbk  read text files as GBK bytes and write plain text as GBK bytes
       (JSON output and command-line arguments are always UTF-8)
)";

struct Command
{
    const char* words[2];
    int (*run)(vexory::cli::Args, const vexory::cli::Options&);
};

const Command kCommands[] = {
    {{"store", "show"}, vexory::cli::StoreShow},    {{"store", "write"}, vexory::cli::StoreWrite},
    {{"settings", nullptr}, vexory::cli::Settings}, {{"prepare", nullptr}, vexory::cli::Prepare},
    {{"cut", nullptr}, vexory::cli::Cut},           {{"clean", nullptr}, vexory::cli::Clean},
    {{"check", nullptr}, vexory::cli::Check},       {{"tree", nullptr}, vexory::cli::Tree},
    {{"paths", nullptr}, vexory::cli::Paths},       {{"login", nullptr}, vexory::cli::Login},
    {{"push", nullptr}, vexory::cli::Push},         {{"share", nullptr}, vexory::cli::Share},
};

} // namespace

int main(int argc, char** argv)
{
    using namespace vexory::cli;
    // A page passes through several buffers of its own size. Taken from the heap and
    // kept there, they are reused within the run instead of being mapped afresh (and
    // every page of them faulted in) each time: a quarter of an 8 MB cut went there.
    mallopt(M_MMAP_THRESHOLD, 32 << 20);
    mallopt(M_TRIM_THRESHOLD, 256 << 20);
    Args args(argv + 1, argv + argc);
    Options options;
    if (!args.empty() && args.front() == "--gbk") {
        options.gbk = true;
        args.erase(args.begin());
    }
    if (!args.empty() && args.front() == "--version") {
        std::cout << "vexory-cli " << vexory::kVersion << "\n";
        return 0;
    }
    if (args.empty() || args.front() == "--help" || args.front() == "-h") {
        (args.empty() ? std::cerr : std::cout) << kUsage;
        return args.empty() ? kExitUsage : 0;
    }
    try {
        for (const Command& c : kCommands) {
            if (args[0] != c.words[0])
                continue;
            size_t used = 1;
            if (c.words[1]) {
                if (args.size() < 2 || args[1] != c.words[1])
                    continue;
                used = 2;
            }
            return c.run(Args(args.begin() + static_cast<long>(used), args.end()), options);
        }
        throw UsageError("unknown command: " + args[0] + " (see vexory-cli --help)");
    } catch (const UsageError& e) {
        std::cerr << "vexory-cli: " << e.what() << '\n';
        return kExitUsage;
    } catch (const std::exception& e) {
        std::cerr << "vexory-cli: " << e.what() << '\n';
        return kExitFailed;
    }
}
