// Writing and reading a large task store.

#include "model/task_store.h"

#include <benchmark/benchmark.h>

using namespace vexory;

namespace {

TAccountRecord account(int tasks)
{
    TAccountRecord a;
    a.Nickname = "nick";
    for (int i = 0; i < tasks; ++i) {
        a.Tasks.emplace_back();
        auto& t = a.Tasks.back();
        t.TaskName = "task " + std::to_string(i);
        t.SetPageUrl("http://127.0.0.1/list?page=" + std::to_string(i));
        t.GrabFormula = std::string(400, 'g');
        t.SavedTestResult = std::string(4000, 's');
    }
    return a;
}

void BM_EncodeStore(benchmark::State& state)
{
    const TAccountRecord a = account(static_cast<int>(state.range(0)));
    size_t bytes = 0;
    for (auto _ : state) {
        std::string s = EncodeStore(a);
        bytes += s.size();
        benchmark::DoNotOptimize(s);
    }
    state.SetBytesProcessed(static_cast<int64_t>(bytes));
}

void BM_DecodeStore(benchmark::State& state)
{
    const std::string s = EncodeStore(account(static_cast<int>(state.range(0))));
    for (auto _ : state) {
        TAccountRecord a;
        benchmark::DoNotOptimize(DecodeStore(s, a));
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * s.size()));
}

} // namespace

BENCHMARK(BM_EncodeStore)->Arg(10)->Arg(1000);
BENCHMARK(BM_DecodeStore)->Arg(10)->Arg(1000);
BENCHMARK_MAIN();
