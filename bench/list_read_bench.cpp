// List-directed READ of 10^6 4-byte reals from in-memory records (5 values
// per record), beside std::from_chars over the same text.
//
// Two kinds of text: values as a data file holds them (up to 7 significant
// digits, e.g. 4.9134 or -1234.567), and the shortest round-trip text of
// random floats (up to 9 digits, some with exponents).
#include <benchmark/benchmark.h>

#include <charconv>
#include <cmath>
#include <cstdio>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "for_rseq_lis.h"

namespace {

constexpr int kValues = 1000000;
constexpr int kPerRecord = 5;

struct Text {
    std::string all;                      // records separated by line feeds
    std::vector<std::string_view> records;
};

Text make_text(bool shortest) {
    std::mt19937 rng(4242);
    std::uniform_real_distribution<float> magnitude(-4.0f, 4.0f);
    std::uniform_int_distribution<int> decimals(1, 4);
    Text t;
    t.all.reserve(std::size_t(kValues) * 14);
    char buf[64];
    for (int i = 0; i < kValues; ++i) {
        const float x = (rng() & 1 ? -1.0f : 1.0f) * std::pow(10.0f, magnitude(rng)) *
                        std::uniform_real_distribution<float>(1.0f, 9.99f)(rng);
        int n;
        if (shortest) {
            n = int(std::to_chars(buf, buf + sizeof buf, x).ptr - buf);
        } else {
            n = std::snprintf(buf, sizeof buf, "%.*f", decimals(rng), double(x));
        }
        t.all.append(buf, std::size_t(n));
        t.all += (i + 1) % kPerRecord == 0 ? '\n' : ' ';
    }
    std::size_t start = 0;
    for (std::size_t i = 0; i < t.all.size(); ++i) {
        if (t.all[i] == '\n') {
            t.records.emplace_back(t.all.data() + start, i - start);
            start = i + 1;
        }
    }
    return t;
}

const Text& text_of(bool shortest) {
    static const Text data_file = make_text(false);
    static const Text round_trip = make_text(true);
    return shortest ? round_trip : data_file;
}

struct Records {
    const std::vector<std::string_view>* records;
    std::size_t next;
};

forrtl::Status next_record(void* context, const char** data, std::int32_t* length) {
    auto* r = static_cast<Records*>(context);
    if (r->next >= r->records->size()) return forrtl::status_of(forrtl::MSG_END_OF_FILE);
    const std::string_view rec = (*r->records)[r->next++];
    *data = rec.data();
    *length = std::int32_t(rec.size());
    return 0;
}

void BM_ListRead(benchmark::State& state) {
    const Text& text = text_of(state.range(0) != 0);
    std::vector<float> out(kValues);
    forrtl::ListReadState list;
    for (auto _ : state) {
        Records records{&text.records, 0};
        if (forrtl::list_scan_begin(list, 0x784ff00, forrtl::ListRecordSource{next_record, &records}))
            state.SkipWithError("begin failed");
        for (float& x : out) {
            if (forrtl::list_scan_item(list, forrtl::InputItem{26, &x, 4})) {
                state.SkipWithError("item failed");
                break;
            }
        }
        forrtl::list_scan_end(list);
        benchmark::DoNotOptimize(out.data());
    }
    state.SetItemsProcessed(state.iterations() * kValues);
    state.SetLabel(state.range(0) ? "shortest round-trip text" : "data-file text");
}

void BM_FromChars(benchmark::State& state) {
    const Text& text = text_of(state.range(0) != 0);
    std::vector<float> out(kValues);
    for (auto _ : state) {
        const char* p = text.all.data();
        const char* end = p + text.all.size();
        for (float& x : out) {
            while (p < end && (*p == ' ' || *p == '\n')) ++p;
            p = std::from_chars(p, end, x).ptr;
        }
        benchmark::DoNotOptimize(out.data());
    }
    state.SetItemsProcessed(state.iterations() * kValues);
    state.SetLabel(state.range(0) ? "shortest round-trip text" : "data-file text");
}

}  // namespace

BENCHMARK(BM_ListRead)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FromChars)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
