// The editor's page work on generated listings: rendering a page with two marks as
// pseudo-code, deriving the grab formula from it, and a grab test run over the
// pseudo-code (MB/s of page). Each should stay linear in the page size.
//
//   build/bench/bench_editor

#include "page_generator.h"

#include "editor/pseudo_code.h"
#include "editor/test_run.h"

#include <benchmark/benchmark.h>

#include <map>

using namespace vexory;
using namespace vexory::bench;

namespace {

// A listing whose first record has its title and price marked, as the browser
// marks a selection.
const std::string& markedPage(size_t bytes)
{
    static std::map<size_t, std::string> cache;
    std::string& page = cache[bytes];
    if (!page.empty())
        return page;
    page = ListingPage(bytes);
    const std::string open = "<font style=\"background-color:rgb(123,236,179)\">";
    const size_t body = page.find("<body");
    for (const char* cls : {"price", "title"}) { // the later one first: positions stay valid
        const size_t start = page.find('>', page.find(cls, body)) + 1;
        const size_t end = page.find('<', start);
        page.insert(end, "</font>");
        page.insert(start, open);
    }
    return page;
}

const std::string& pseudoCode(size_t bytes)
{
    static std::map<size_t, std::string> cache;
    std::string& p = cache[bytes];
    if (p.empty())
        p = MakePseudoCode(markedPage(bytes));
    return p;
}

void BM_MakePseudoCode(benchmark::State& state)
{
    const std::string& page = markedPage(static_cast<size_t>(state.range(0)));
    for (auto _ : state)
        benchmark::DoNotOptimize(MakePseudoCode(page));
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * state.range(0));
}

void BM_DeriveGrabFormula(benchmark::State& state)
{
    const std::string& pseudo = pseudoCode(static_cast<size_t>(state.range(0)));
    std::string formula;
    for (auto _ : state) {
        if (DeriveGrabFormula(pseudo, formula) != DeriveResult::Done)
            state.SkipWithError("no formula derived");
        benchmark::DoNotOptimize(formula);
    }
    state.counters["formula_bytes"] = static_cast<double>(formula.size());
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * state.range(0));
}

void BM_GrabTestRun(benchmark::State& state)
{
    const std::string& pseudo = pseudoCode(static_cast<size_t>(state.range(0)));
    std::string formula;
    DeriveGrabFormula(pseudo, formula);
    TestInput input;
    input.kind = 1;
    input.page = "http://example.com/list";
    input.timeout = "10";
    input.grabBox = formula;
    size_t lines = 0;
    for (auto _ : state) {
        lines = 0;
        TestCallbacks cb;
        cb.add = [&lines](std::string_view) { ++lines; };
        cb.pseudoCode = [&pseudo](uint32_t) { return pseudo; };
        RunTest(input, cb);
    }
    state.counters["lines"] = static_cast<double>(lines);
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * state.range(0));
}

void sizes(benchmark::internal::Benchmark* b)
{
    b->Arg(1 << 20)->Arg(8 << 20)->Unit(benchmark::kMillisecond);
}

} // namespace

BENCHMARK(BM_MakePseudoCode)->Apply(sizes);
BENCHMARK(BM_DeriveGrabFormula)->Apply(sizes);
BENCHMARK(BM_GrabTestRun)->Apply(sizes);

BENCHMARK_MAIN();
