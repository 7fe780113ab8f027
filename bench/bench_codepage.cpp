// Code page 936 conversions, the table-driven ones against iconv call by call:
// MB/s of input for an 8 MB listing page (mostly ASCII markup, as a browser hands
// it over) and for 8 MB of Chinese text, in each direction the program uses.
//
//   build/bench/bench_codepage

#include "page_generator.h"

#include "platform/codepage.h"

#include <benchmark/benchmark.h>

using namespace vexory;
using namespace vexory::bench;

namespace {

constexpr size_t kBytes = 8 << 20;

const std::string& listingGbk()
{
    static const std::string page = ListingPage(kBytes);
    return page;
}

const std::string& chineseGbk()
{
    static const std::string text = [] {
        std::string s;
        for (uint32_t i = 0; s.size() < kBytes; ++i) {
            // Common characters, a full stop now and then.
            s += static_cast<char>(0xB0 + i % 0x28);
            s += static_cast<char>(0xA1 + i * 7 % 0x5E);
            if (i % 40 == 39)
                s += "\xA1\xA3";
        }
        return s;
    }();
    return text;
}

const std::string& utf8(bool chinese)
{
    static const std::string listing = GbkToUtf8(listingGbk()), text = GbkToUtf8(chineseGbk());
    return chinese ? text : listing;
}

const std::u16string& utf16(bool chinese)
{
    static const std::u16string listing = GbkToUtf16(listingGbk()), text = GbkToUtf16(chineseGbk());
    return chinese ? text : listing;
}

template <typename Convert> void run(benchmark::State& state, size_t bytes, Convert convert)
{
    for (auto _ : state)
        benchmark::DoNotOptimize(convert());
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * bytes));
}

void Utf8ToGbkFast(benchmark::State& s)
{
    const std::string& in = utf8(s.range(0));
    run(s, in.size(), [&] { return Utf8ToGbk(in); });
}
void Utf8ToGbkIconv(benchmark::State& s)
{
    const std::string& in = utf8(s.range(0));
    run(s, in.size(), [&] { return iconv_reference::Utf8ToGbk(in); });
}
void Utf16ToGbkFast(benchmark::State& s)
{
    const std::u16string& in = utf16(s.range(0));
    run(s, in.size() * 2, [&] { return Utf16ToGbk(in); });
}
void Utf16ToGbkIconv(benchmark::State& s)
{
    const std::u16string& in = utf16(s.range(0));
    run(s, in.size() * 2, [&] { return iconv_reference::Utf16ToGbk(in); });
}
void GbkToUtf8Fast(benchmark::State& s)
{
    const std::string& in = s.range(0) ? chineseGbk() : listingGbk();
    run(s, in.size(), [&] { return GbkToUtf8(in); });
}
void GbkToUtf8Iconv(benchmark::State& s)
{
    const std::string& in = s.range(0) ? chineseGbk() : listingGbk();
    run(s, in.size(), [&] { return iconv_reference::GbkToUtf8(in); });
}

} // namespace

// Argument 0: the listing page; 1: Chinese text.
BENCHMARK(Utf8ToGbkFast)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);
BENCHMARK(Utf8ToGbkIconv)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);
BENCHMARK(Utf16ToGbkFast)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);
BENCHMARK(Utf16ToGbkIconv)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);
BENCHMARK(GbkToUtf8Fast)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);
BENCHMARK(GbkToUtf8Iconv)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
