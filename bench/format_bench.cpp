// Walking a prepared format program: the plane-table row written with its
// ten items per record, and run-time compilation of a short format text.
#include <benchmark/benchmark.h>

#include "for_fmt_builder.h"
#include "for_format.h"

namespace {

constexpr auto kPlaneRow = forrtl::format_program<"2(3I4,F10.5,TR3,F6.2,TR1,':')">();

void count_move(void* context, std::uint8_t, std::int32_t n) { *static_cast<std::int64_t*>(context) += n; }

// One statement: begin, ten items paired the way the WRITE driver pairs
// them, then on to the format end.
void BM_WalkPlaneRow(benchmark::State& bench) {
    std::int64_t moved = 0;
    const forrtl::FormatPositioner positioner{&count_move, &moved, nullptr};
    forrtl::FormatState state;
    std::int64_t handed = 0;
    for (auto _ : bench) {
        forrtl::format_state_begin(state, kPlaneRow.data());
        bool current = false;
        for (int item = 0; item < 10; ++item) {
            state.item_waiting = true;
            if (current && state.repeat >= 2) {
                --state.repeat;
                ++handed;
                continue;
            }
            for (;;) {
                const forrtl::FormatStep step = forrtl::next_descriptor(state, &positioner);
                ++handed;
                if (step.status || step.category > forrtl::FC_SLASH) {
                    current = step.category != forrtl::FC_LITERAL;
                    if (current) break;
                }
            }
        }
        state.item_waiting = false;
        while (forrtl::next_descriptor(state, &positioner).category != forrtl::FC_FORMAT_END) ++handed;
    }
    benchmark::DoNotOptimize(handed);
    benchmark::DoNotOptimize(moved);
    bench.SetItemsProcessed(bench.iterations() * 10);
}
BENCHMARK(BM_WalkPlaneRow);

void BM_CompileFormat(benchmark::State& bench) {
    static const char text[] = "(1X,2I3,F10.5,'NUMBER OF PLANES =',I4,/)";
    for (auto _ : bench) {
        std::uint8_t* program = nullptr;
        forrtl::compile_format(text, sizeof text - 1, &program);
        benchmark::DoNotOptimize(program);
        forrtl::release_format(program);
    }
}
BENCHMARK(BM_CompileFormat);

}  // namespace

BENCHMARK_MAIN();
