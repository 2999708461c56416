// The output editing core: 10^6 4-byte reals edited with F10.5, E15.7 and
// G15.7E2 into a record buffer, beside std::to_chars doing the same digits
// (fixed with 5 places, scientific with 6 places after the point) on the same
// values.  Whole WRITE statements are measured elsewhere.
#include <charconv>
#include <cmath>
#include <cstring>
#include <random>
#include <vector>

#include <benchmark/benchmark.h>

#include "for_desc_item.h"
#include "for_wseq_fmt.h"

namespace {

constexpr int kValues = 1000000;

// Magnitudes from 10^-3 to 10^4, both signs: what a listing of measured
// quantities holds.
const std::vector<float>& values() {
    static const std::vector<float> v = [] {
        std::mt19937 rng(12345);
        std::uniform_real_distribution<double> exponent(-3.0, 4.0);
        std::vector<float> out(kValues);
        for (auto& x : out) {
            x = float(std::pow(10.0, exponent(rng)));
            if (rng() & 1) x = -x;
        }
        return out;
    }();
    return v;
}

forrtl::EditDescriptor descriptor(std::uint8_t category, int w, int d, int e) {
    forrtl::EditDescriptor desc{};
    desc.category = category;
    desc.w = w;
    desc.d = d;
    desc.e = e;
    return desc;
}

void run_edit(benchmark::State& state, const forrtl::EditDescriptor& desc) {
    const auto& v = values();
    char record[128];
    std::memset(record, ' ', sizeof record);
    for (auto _ : state) {
        int pos = 0;
        for (int i = 0; i < kValues; ++i) {
            forrtl::OutputItem item{forrtl::TYPE_REAL4, &v[std::size_t(i)], 4};
            forrtl::Status st = forrtl::edit_output_field(item, desc, record + pos);
            benchmark::DoNotOptimize(st);
            pos = pos + desc.w > 5 * desc.w - 1 ? 0 : pos + desc.w;
        }
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * kValues);
}

void run_to_chars(benchmark::State& state, std::chars_format format, int precision, int w) {
    const auto& v = values();
    char record[128];
    std::memset(record, ' ', sizeof record);
    for (auto _ : state) {
        int pos = 0;
        for (int i = 0; i < kValues; ++i) {
            auto r = std::to_chars(record + pos, record + pos + 32, v[std::size_t(i)], format, precision);
            benchmark::DoNotOptimize(r.ptr);
            pos = pos + w > 5 * w - 1 ? 0 : pos + w;
        }
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * kValues);
}

void BM_EditF10_5(benchmark::State& state) { run_edit(state, descriptor(forrtl::FC_F, 10, 5, 0)); }
void BM_ToCharsFixed5(benchmark::State& state) { run_to_chars(state, std::chars_format::fixed, 5, 10); }
void BM_EditE15_7(benchmark::State& state) { run_edit(state, descriptor(forrtl::FC_E, 15, 7, 0)); }
void BM_ToCharsScientific6(benchmark::State& state) {
    run_to_chars(state, std::chars_format::scientific, 6, 15);
}
void BM_EditG15_7E2(benchmark::State& state) { run_edit(state, descriptor(forrtl::FC_GE, 15, 7, 2)); }

BENCHMARK(BM_EditF10_5)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ToCharsFixed5)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_EditE15_7)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_EditG15_7E2)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ToCharsScientific6)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
