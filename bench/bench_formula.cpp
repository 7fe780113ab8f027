// The formula engine on generated pages: MB/s for page preparation (as the monitor
// does it, and once as the command line does), cutting with
// a two-field formula and with an index-marker formula, parsing the whole tree,
// and records/s for checking a three-condition verification formula.
//
//   build/bench/bench_formula                      all of them
//   build/bench/bench_formula --benchmark_filter=Nested

#include "page_generator.h"

#include "formula/grab_formula.h"
#include "formula/html_text_list.h"
#include "formula/page_prep.h"
#include "formula/verify_formula.h"

#include <benchmark/benchmark.h>

#include <map>

using namespace vexory;
using namespace vexory::bench;

namespace {

enum Kind { Listing, Unclosed, Nested };

const std::string& page(Kind kind, size_t bytes)
{
    static std::map<std::pair<int, size_t>, std::string> cache;
    auto& p = cache[{kind, bytes}];
    if (p.empty())
        p = kind == Listing ? ListingPage(bytes) : kind == Unclosed ? UnclosedTagsPage(bytes) : NestedPage(bytes);
    return p;
}

const std::string& prepared(Kind kind, size_t bytes)
{
    static std::map<std::pair<int, size_t>, std::string> cache;
    auto& p = cache[{kind, bytes}];
    if (p.empty())
        p = PreparePage(page(kind, bytes)).lower;
    return p;
}

// As the monitor prepares its page every cycle: in buffers kept from one page to the next.
void BM_Prepare(benchmark::State& state, Kind kind)
{
    const std::string& p = page(kind, static_cast<size_t>(state.range(0)));
    PagePreparer preparer;
    for (auto _ : state)
        benchmark::DoNotOptimize(preparer.Prepare(p));
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * p.size()));
}

// Once, as vexory-cli does: new buffers, which the system may have to map and clear.
void BM_PrepareOnce(benchmark::State& state, Kind kind)
{
    const std::string& p = page(kind, static_cast<size_t>(state.range(0)));
    for (auto _ : state)
        benchmark::DoNotOptimize(PreparePage(p));
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * p.size()));
}

void BM_PrepareAndCut(benchmark::State& state, Kind kind)
{
    const std::string& p = page(kind, static_cast<size_t>(state.range(0)));
    TStringCutOuter cutter;
    cutter.SetFormula(kListingFormula);
    PagePreparer preparer;
    for (auto _ : state) {
        cutter.CutOut(preparer.Prepare(p).lower);
        state.counters["rows"] = cutter.RowCount();
        cutter.ClearValues();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * p.size()));
}

void BM_Cut(benchmark::State& state, Kind kind, const char* formula)
{
    const std::string& p = prepared(kind, static_cast<size_t>(state.range(0)));
    TStringCutOuter cutter;
    cutter.SetFormula(formula);
    for (auto _ : state) {
        cutter.CutOut(p);
        state.counters["rows"] = cutter.RowCount();
        cutter.ClearValues();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * p.size()));
}

void BM_ParseTree(benchmark::State& state, Kind kind)
{
    const std::string& p = prepared(kind, static_cast<size_t>(state.range(0)));
    for (auto _ : state) {
        THtmlTextList tree;
        tree.Parse(p);
        benchmark::DoNotOptimize(tree.Count());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * p.size()));
}

void BM_CheckRecords(benchmark::State& state)
{
    TStringCutOuter cutter;
    cutter.SetFormula(kListingIndexFormula);
    cutter.CutOut(prepared(Listing, static_cast<size_t>(state.range(0))));
    std::vector<std::vector<std::string>> records;
    for (int r = 1; r <= cutter.RowCount(); ++r)
        records.push_back(cutter.Row(r));
    TFormulaChecker checker;
    // price > 100 and the title holds "商品", or the date is before 2024-06-01
    checker.Parse("\x02>100&\x01^\xC9\xCC\xC6\xB7|\x04<2024-06-01");
    size_t passed = 0;
    for (auto _ : state)
        for (const auto& values : records)
            passed += checker.Check(values);
    benchmark::DoNotOptimize(passed);
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * records.size()));
}

constexpr int64_t kSizes[] = {100 << 10, 1 << 20, 8 << 20};

void sizes(benchmark::internal::Benchmark* b)
{
    for (int64_t s : kSizes)
        b->Arg(s);
    b->Unit(benchmark::kMillisecond);
}

void bigSizes(benchmark::internal::Benchmark* b)
{
    b->Arg(1 << 20)->Arg(8 << 20)->Unit(benchmark::kMillisecond);
}

} // namespace

BENCHMARK_CAPTURE(BM_Prepare, Listing, Listing)->Apply(sizes);
BENCHMARK_CAPTURE(BM_PrepareOnce, Listing, Listing)->Apply(sizes);
BENCHMARK_CAPTURE(BM_PrepareAndCut, Listing, Listing)->Apply(sizes);
BENCHMARK_CAPTURE(BM_Cut, ListingTwoFields, Listing, kListingFormula)->Apply(sizes);
BENCHMARK_CAPTURE(BM_Cut, ListingIndexMarkers, Listing, kListingIndexFormula)->Apply(sizes);
BENCHMARK_CAPTURE(BM_ParseTree, Listing, Listing)->Apply(sizes);
BENCHMARK(BM_CheckRecords)->Apply(sizes);

BENCHMARK_CAPTURE(BM_Prepare, Unclosed, Unclosed)->Apply(bigSizes);
BENCHMARK_CAPTURE(BM_Cut, UnclosedIndexMarkers, Unclosed, "[>1.-1.0<]<li>{>a<}")->Apply(bigSizes);
BENCHMARK_CAPTURE(BM_ParseTree, Unclosed, Unclosed)->Apply(bigSizes);
BENCHMARK_CAPTURE(BM_Prepare, Nested, Nested)->Apply(bigSizes);
BENCHMARK_CAPTURE(BM_Cut, NestedIndexMarkers, Nested, "[>1.2.2.2<]<p>{>a<}</p>")->Apply(bigSizes);
BENCHMARK_CAPTURE(BM_ParseTree, Nested, Nested)->Apply(bigSizes);

BENCHMARK_MAIN();
