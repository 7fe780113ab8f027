// One Process call of the monitor on the generated 1 MB and 8 MB listings; the
// same from the browser's text (UTF-16, turned to code page 936 in one step, as
// the runner hands it over); and the per-cycle cost of a 1000-cycle run in "all records" mode while the set of seen
// records grows. Then a page read without the browser, as the soak's sites serve
// it (UTF-8, a new row every cycle): the text a browser would give, and the whole
// cycle from the fetched bytes.

#include "page_generator.h"

#include "browser/direct_page.h"
#include "monitor/monitor_core.h"
#include "platform/codepage.h"

#include <benchmark/benchmark.h>

#include <chrono>

using namespace vexory;

namespace {

TAccountRecord listingAccount(const char* formula)
{
    TAccountRecord account;
    account.Tasks.resize(1);
    account.Tasks[0].TaskName = "bench";
    account.Tasks[0].GrabFormula = formula;
    account.Tasks[0].Requester = -1;
    return account;
}

void BM_Process(benchmark::State& state)
{
    const std::string page = bench::ListingPage(static_cast<size_t>(state.range(0)));
    TAccountRecord account = listingAccount(bench::kListingFormula);
    MonitorCore core(account, nullptr, "127.0.0.1:1", {});
    core.SetTask(0);
    for (auto _ : state) {
        core.SetPageText(page);
        benchmark::DoNotOptimize(core.Process());
    }
    state.counters["seen"] = static_cast<double>(core.SeenCount());
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * page.size()));
}

// A cycle as the runner drives it: the page's text as the browser gives it (UTF-16),
// converted, then processed.
void BM_CycleFromBrowserText(benchmark::State& state)
{
    const std::u16string text = GbkToUtf16(bench::ListingPage(static_cast<size_t>(state.range(0))));
    TAccountRecord account = listingAccount(bench::kListingFormula);
    MonitorCore core(account, nullptr, "127.0.0.1:1", {});
    core.SetTask(0);
    for (auto _ : state) {
        core.SetPageText(Utf16ToGbk(text));
        benchmark::DoNotOptimize(core.Process());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size() * 2));
}

// A page of 50 rows of which 10 are new at every cycle.
std::string shiftingPage(int cycle)
{
    std::string rows;
    for (int i = 0; i < 50; ++i) {
        const int id = cycle * 10 + i;
        rows +=
            "<tr><td class=\"name\">item " + std::to_string(id) + "</td><td>" + std::to_string(id % 97) + "</td></tr>";
    }
    return "<html><body><table>" + rows + "</table></body></html>";
}

void BM_LongRunAllRecords(benchmark::State& state)
{
    for (auto _ : state) {
        TAccountRecord account = listingAccount("<td class=\"name\">{>name<}</td><td>{>price<}</td>");
        int results = 0;
        MonitorEvents events;
        events.result = [&](Delivery, const std::string&) { ++results; };
        MonitorCore core(account, nullptr, "127.0.0.1:1", events);
        core.SetTask(0);
        double first = 0, last = 0;
        for (int cycle = 0; cycle < 1000; ++cycle) {
            const std::string page = shiftingPage(cycle);
            const auto begin = std::chrono::steady_clock::now();
            core.SetPageText(page);
            core.Process();
            const double us =
                std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - begin).count();
            if (cycle < 100)
                first += us;
            if (cycle >= 900)
                last += us;
        }
        state.counters["first100_us_per_cycle"] = first / 100;
        state.counters["last100_us_per_cycle"] = last / 100;
        state.counters["seen"] = static_cast<double>(core.SeenCount());
        state.counters["results"] = results;
    }
}

} // namespace

// The soak's listing page of `rows` rows, newest `first`.
std::string soakPage(int rows, int first)
{
    std::string html = "<!DOCTYPE html><html><head><meta charset=\"utf-8\"><title>\u6e05\u5355 1</title></head>"
                       "<body><h1>\u6e05\u5355 1</h1><table>\n";
    for (int n = first; n > first - rows; --n)
        html += "<tr><td class=\"name\">\u5546\u54c1 1-" + std::to_string(n) + "</td><td>" +
                std::to_string(n * 37 % 1000) + "." + std::to_string(10 + n % 90) + "</td></tr>\n";
    return html + "</table></body></html>";
}

constexpr const char* kSoakFormula = "<tr><td class=\"name\">{>\xC3\xFB\xB3\xC6<}</td><td>{>\xBC\xDB\xB8\xF1<}</td></tr>";

void BM_DirectPageText(benchmark::State& state)
{
    const std::string page = soakPage(static_cast<int>(state.range(0)), 5000);
    for (auto _ : state)
        benchmark::DoNotOptimize(DirectPageText(page, "text/html; charset=utf-8", "http://127.0.0.1:8000/list/1"));
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * page.size()));
}

void BM_DirectCycle(benchmark::State& state)
{
    TAccountRecord account = listingAccount(kSoakFormula);
    MonitorCore core(account, nullptr, "127.0.0.1:1", {});
    core.SetTask(0);
    int first = 5000;
    for (auto _ : state) {
        state.PauseTiming();
        const std::string page = soakPage(static_cast<int>(state.range(0)), ++first);
        state.ResumeTiming();
        core.SetPageText(DirectPageText(page, "text/html; charset=utf-8", "http://127.0.0.1:8000/list/1").value());
        benchmark::DoNotOptimize(core.Process());
    }
}

BENCHMARK(BM_Process)->Arg(1 << 20)->Arg(8 << 20)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CycleFromBrowserText)->Arg(8 << 20)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LongRunAllRecords)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DirectPageText)->Arg(400)->Arg(1700)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DirectCycle)->Arg(400)->Arg(1700)->Unit(benchmark::kMillisecond);
BENCHMARK_MAIN();
