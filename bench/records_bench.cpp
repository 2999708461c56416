// Record transfer throughput: formatted records put to a disk file and got
// back, through the unit table as a statement would.
#include <benchmark/benchmark.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstring>
#include <string>

#include "for_io.h"
#include "for_units.h"

namespace {

using namespace forrtl;

std::string temp_name(const char* stem) {
    const char* dir = std::getenv("TMPDIR");
    return std::string(dir && *dir ? dir : "/tmp") + "/" + stem + std::to_string(getpid());
}

int open_file(std::int32_t unit, const std::string& name) {
    std::uint8_t list[] = {56, 4, 13, 0, 1, 0, 0, 0};
    ArgWord args[] = {name.size(), reinterpret_cast<ArgWord>(name.data())};
    std::int32_t control = 0;
    return for_open(&control, unit, SF_ERROR_BRANCH, list, args);
}

void close_file(std::int32_t unit) {
    std::uint8_t list[] = {1, 0, 0, 0};
    std::int32_t control = 0;
    for_close(&control, unit, SF_ERROR_BRANCH, list, nullptr);
}

// One 80-character record per statement, as the plane table writes them.
void BM_PutRecord(benchmark::State& state) {
    std::string name = temp_name("loxnar_put_");
    if (open_file(70, name) != 0) {
        state.SkipWithError("open failed");
        return;
    }
    const std::string text(80, 'x');
    for (auto _ : state) {
        Lub* lub = nullptr;
        for_lookup_unit(70, SK_WRITE, &lub);
        for_begin_output_record(lub);
        std::memcpy(lub->rec.buffer + lub->rec.pos, text.data(), text.size());
        lub->rec.pos += static_cast<std::int32_t>(text.size());
        benchmark::DoNotOptimize(for_put_record(lub));
        for_release_unit(lub);
    }
    close_file(70);
    unlink(name.c_str());
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_PutRecord);

// Records of 80 characters read back with LF line ends.
void BM_GetRecord(benchmark::State& state) {
    std::string name = temp_name("loxnar_get_");
    {
        FILE* f = std::fopen(name.c_str(), "wb");
        std::string line(80, 'y');
        for (int i = 0; i < 100000; ++i) std::fprintf(f, "%s\r\n", line.c_str());
        std::fclose(f);
    }
    if (open_file(71, name) != 0) {
        state.SkipWithError("open failed");
        return;
    }
    for (auto _ : state) {
        Lub* lub = nullptr;
        for_lookup_unit(71, SK_READ, &lub);
        if (for_get_record(lub) != 0) {
            lseek(lub->handle, 0, SEEK_SET);
            lub->rec.ahead_count = 0;
        }
        benchmark::DoNotOptimize(lub->rec.end);
        for_release_unit(lub);
    }
    close_file(71);
    unlink(name.c_str());
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_GetRecord);

}  // namespace

BENCHMARK_MAIN();
