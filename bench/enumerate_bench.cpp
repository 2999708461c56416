// Cost of the plane walk per visited plane: a hexagonal cell (quartz) with
// bounds 300 300 300 (about 5.4e7 planes) and a window that keeps one plane,
// so the figure is the cost of visiting and rejecting.  "fast" uses the
// widest vectors of the processor (AVX2 where present), "fast_sse2" the
// x86-64 baseline.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>

#include "geometry.h"

using namespace calculator;

namespace {

void set_quartz_case() {
    const float deg = 0.017453294f;
    CELL[0] = CELL[1] = 4.9134f;
    CELL[2] = 5.4052f;
    CELL[3] = 90.0f * deg, CELL[4] = 90.0f * deg, CELL[5] = 120.0f * deg;
    for (int& c : COND) c = 0;
    HMAX = KMAX = LMAX = 300;
    DMIN = 5.0f, DMAX = 6.0f;  // only 001 (d = c)
    LAMBDA = 1.5406f;
    RECIPROCAL_CELL();
}

template <void (*Walk)(int (&)[MAX_PLANES], int (&)[MAX_PLANES], int (&)[MAX_PLANES],
                       float (&)[MAX_PLANES], float (&)[MAX_PLANES], int&)>
void BM_Enumerate(benchmark::State& state) {
    set_quartz_case();
    const double visited = static_cast<double>(visited_plane_count());
    for (auto _ : state) {
        NPLANES = 0;
        Walk(IH, IK, IL, D, THETA, NPLANES);
        benchmark::DoNotOptimize(NPLANES);
        benchmark::ClobberMemory();
    }
    if (NPLANES != 1) {
        std::fprintf(stderr, "expected one plane, got %d\n", NPLANES);
        std::abort();
    }
    state.counters["per_plane"] =
        benchmark::Counter(visited * static_cast<double>(state.iterations()),
                           benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
    state.counters["planes"] = visited;
}

void enumerate_sse2(int (&ih)[MAX_PLANES], int (&ik)[MAX_PLANES], int (&il)[MAX_PLANES],
                    float (&d)[MAX_PLANES], float (&theta)[MAX_PLANES], int& n) {
    use_baseline_walk(true);
    ENUMERATE_PLANES(ih, ik, il, d, theta, n);
    use_baseline_walk(false);
}

}  // namespace

BENCHMARK_TEMPLATE(BM_Enumerate, ENUMERATE_PLANES_REFERENCE)
    ->Name("plain")
    ->Unit(benchmark::kMillisecond);
BENCHMARK_TEMPLATE(BM_Enumerate, enumerate_sse2)->Name("fast_sse2")->Unit(benchmark::kMillisecond);
BENCHMARK_TEMPLATE(BM_Enumerate, ENUMERATE_PLANES)->Name("fast")->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
