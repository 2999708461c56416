// Whole statements against their peers, on the same 10^6 4-byte reals:
//
//   (1) one formatted WRITE of all values to a file with (5F10.5), (5E15.7)
//       and (5G15.7E2): 200 000 records of five fields;
//   (2) one list-directed READ of all values from a file of five values a
//       line.
//
// Beside each, the same work done by gfortran's run-time (the peer program
// bench/peers/stmt_peer.f90, when CMake found gfortran; it times its own
// statement, OPEN and CLOSE included) and by std::to_chars / std::from_chars
// with plain POSIX file I/O.  After the runs a summary prints the
// throughputs and the ratios.
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <random>
#include <string>
#include <vector>

#include <fcntl.h>
#include <unistd.h>

#include <benchmark/benchmark.h>

#include "for_fmt_builder.h"
#include "for_lub.h"
#include "for_stmt.h"
#include "for_units.h"

namespace {

using namespace forrtl;

constexpr int kValues = 1000000;
constexpr int kWriteUnit = 70;
constexpr int kReadUnit = 71;
constexpr std::uint32_t kFlags = kCalculatorFlags | SF_ERROR_BRANCH;

constexpr auto kF = format_program<"(5F10.5)">();
constexpr auto kE = format_program<"(5E15.7)">();
constexpr auto kG = format_program<"(5G15.7E2)">();

struct Setup {
    std::string dir;
    std::vector<float> values;
    std::string values_bin;  // raw values for the peer
    std::string input;       // list-directed input file
    std::string output;      // WRITE target
};

// Magnitudes from 10^-3 to 10^3, both signs, so that every value fits F10.5.
const Setup& setup() {
    static const Setup s = [] {
        Setup out;
        char pattern[] = "/tmp/loxnar_stmt_bench_XXXXXX";
        if (!::mkdtemp(pattern)) std::abort();
        out.dir = pattern;
        std::mt19937 rng(2024);
        std::uniform_real_distribution<double> exponent(-3.0, 3.0);
        out.values.resize(kValues);
        for (auto& x : out.values) {
            x = static_cast<float>(std::pow(10.0, exponent(rng)));
            if (rng() & 1) x = -x;
        }
        out.values_bin = out.dir + "/values.bin";
        out.input = out.dir + "/input.txt";
        out.output = out.dir + "/output.txt";
        FILE* f = std::fopen(out.values_bin.c_str(), "wb");
        std::fwrite(out.values.data(), sizeof(float), out.values.size(), f);
        std::fclose(f);
        // Shortest round-trip text, five values a line.
        f = std::fopen(out.input.c_str(), "wb");
        char text[32];
        for (int i = 0; i < kValues; ++i) {
            auto r = std::to_chars(text, text + sizeof text, out.values[std::size_t(i)]);
            *r.ptr = '\0';
            std::fprintf(f, "%s%s", text, (i % 5 == 4) ? "\n" : " ");
        }
        std::fclose(f);
        ::setenv(("FORT" + std::to_string(kWriteUnit)).c_str(), out.output.c_str(), 1);
        ::setenv(("FORT" + std::to_string(kReadUnit)).c_str(), out.input.c_str(), 1);
        return out;
    }();
    return s;
}

void close_unit(int unit) {
    std::int32_t control = 0;
    const std::uint8_t keywords[4] = {ITEM_END_OF_LIST, 0, 0, 0};
    for_close(&control, unit, kFlags, keywords, nullptr);
}

// Seconds per iteration of each benchmark, for the summary.
std::map<std::string, double>& timings() {
    static std::map<std::string, double> t;
    return t;
}

void record(benchmark::State& state, const std::string& name, double seconds) {
    state.SetItemsProcessed(state.iterations() * kValues);
    double per = seconds / double(state.iterations());
    auto it = timings().find(name);
    if (it == timings().end() || per < it->second) timings()[name] = per;
}

double now() {
    timespec ts;
    ::clock_gettime(CLOCK_MONOTONIC, &ts);
    return double(ts.tv_sec) + double(ts.tv_nsec) * 1e-9;
}

long file_size(const std::string& path) {
    FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) return -1;
    std::fseek(f, 0, SEEK_END);
    long n = std::ftell(f);
    std::fclose(f);
    return n;
}

// ---- (1) formatted WRITE --------------------------------------------------

const std::uint8_t* program_of(char form) { return form == 'F' ? kF.data() : form == 'E' ? kE.data() : kG.data(); }

void forrtl_write(benchmark::State& state, char form) {
    const Setup& s = setup();
    const std::uint8_t items[4] = {TYPE_REAL4, 5, ITEM_END_OF_LIST, 0};
    const ArgWord args[2] = {ArgWord(sizeof(float) * kValues), reinterpret_cast<ArgWord>(s.values.data())};
    double total = 0;
    for (auto _ : state) {
        double t0 = now();
        int r = format_write_begin(kWriteUnit, kFlags, program_of(form), 0, items, args);
        close_unit(kWriteUnit);
        total += now() - t0;
        if (r != 0) state.SkipWithError("WRITE failed");
    }
    // 200 000 records of five fields and CR LF.
    const long expect = long(kValues / 5) * ((form == 'F' ? 50 : 75) + 2);
    if (file_size(s.output) != expect) state.SkipWithError("output file has the wrong size");
    record(state, std::string("forrtl write ") + form, total);
}

// The same records with std::to_chars: fixed with 5 places for F10.5,
// scientific with 7 significant digits for E15.7, general with 7 for
// G15.7E2, right-justified in the field, CR LF after every fifth field,
// written in 64 KiB blocks.
void to_chars_write(benchmark::State& state, char form) {
    const Setup& s = setup();
    const int w = form == 'F' ? 10 : 15;
    static char block[1 << 16];
    double total = 0;
    for (auto _ : state) {
        double t0 = now();
        int fd = ::open(s.output.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        std::size_t used = 0;
        for (int i = 0; i < kValues; ++i) {
            char text[48];
            std::to_chars_result r;
            float v = s.values[std::size_t(i)];
            if (form == 'F')
                r = std::to_chars(text, text + sizeof text, v, std::chars_format::fixed, 5);
            else if (form == 'E')
                r = std::to_chars(text, text + sizeof text, v, std::chars_format::scientific, 6);
            else
                r = std::to_chars(text, text + sizeof text, v, std::chars_format::general, 7);
            int n = int(r.ptr - text);
            char* field = block + used;
            if (n > w) {
                std::memset(field, '*', std::size_t(w));
            } else {
                std::memset(field, ' ', std::size_t(w - n));
                std::memcpy(field + (w - n), text, std::size_t(n));
            }
            used += std::size_t(w);
            if (i % 5 == 4) {
                block[used++] = '\r';
                block[used++] = '\n';
                if (used > sizeof block - 128) {
                    if (::write(fd, block, used) < 0) state.SkipWithError("write failed");
                    used = 0;
                }
            }
        }
        if (used && ::write(fd, block, used) < 0) state.SkipWithError("write failed");
        ::close(fd);
        total += now() - t0;
    }
    record(state, std::string("to_chars write ") + form, total);
}

// ---- (2) list-directed READ -------------------------------------------------

void forrtl_read(benchmark::State& state) {
    setup();
    static std::vector<float> v(kValues);
    const std::uint8_t items[4] = {TYPE_REAL4, 5, ITEM_END_OF_LIST, 0};
    const ArgWord args[2] = {ArgWord(sizeof(float) * kValues), reinterpret_cast<ArgWord>(v.data())};
    double total = 0;
    for (auto _ : state) {
        double t0 = now();
        int r = list_read_begin(kReadUnit, kFlags, items, args);
        close_unit(kReadUnit);
        total += now() - t0;
        if (r != 0) state.SkipWithError("READ failed");
    }
    if (v != setup().values) state.SkipWithError("values differ");
    record(state, "forrtl read", total);
}

// The same values with std::from_chars: the file read in 64 KiB blocks,
// values separated by blanks, commas and line ends.
void from_chars_read(benchmark::State& state) {
    const Setup& s = setup();
    static std::vector<float> v(kValues);
    static char block[(1 << 16) + 64];
    double total = 0;
    for (auto _ : state) {
        double t0 = now();
        int fd = ::open(s.input.c_str(), O_RDONLY);
        std::size_t kept = 0;
        int count = 0;
        bool eof = false;
        while (count < kValues && !eof) {
            ssize_t n = ::read(fd, block + kept, (1 << 16) - kept);
            if (n <= 0) eof = true;
            std::size_t have = kept + (n > 0 ? std::size_t(n) : 0);
            std::size_t pos = 0;
            for (;;) {
                while (pos < have && (block[pos] == ' ' || block[pos] == '\n' || block[pos] == '\r' ||
                                      block[pos] == ','))
                    ++pos;
                std::size_t end = pos;
                while (end < have && block[end] != ' ' && block[end] != '\n' && block[end] != '\r' &&
                       block[end] != ',')
                    ++end;
                if (end == have && !eof) break;  // the value may go on in the next block
                if (pos == have || count == kValues) break;
                std::from_chars(block + pos, block + end, v[std::size_t(count++)]);
                pos = end;
            }
            kept = have - pos;
            std::memmove(block, block + pos, kept);
        }
        ::close(fd);
        total += now() - t0;
        if (count != kValues) state.SkipWithError("short read");
    }
    if (v != s.values) state.SkipWithError("values differ");
    record(state, "from_chars read", total);
}

// ---- gfortran's run-time ------------------------------------------------------

#ifdef LOXNAR_STMT_PEER
// Runs the peer once; it prints the seconds of its timed statement.
double run_peer(const std::string& arguments) {
    std::string command = std::string("'") + LOXNAR_STMT_PEER + "' " + arguments;
    FILE* p = ::popen(command.c_str(), "r");
    if (!p) return -1;
    double seconds = -1;
    if (std::fscanf(p, "%lf", &seconds) != 1) seconds = -1;
    if (::pclose(p) != 0) seconds = -1;
    return seconds;
}

void gfortran_write(benchmark::State& state, char form) {
    const Setup& s = setup();
    std::string args = std::string("write ") + form + " '" + s.values_bin + "' '" + s.output + "' " +
                       std::to_string(kValues);
    double total = 0;
    for (auto _ : state) {
        double seconds = run_peer(args);
        if (seconds < 0) {
            state.SkipWithError("peer failed");
            break;
        }
        state.SetIterationTime(seconds);
        total += seconds;
    }
    record(state, std::string("gfortran write ") + form, total);
}

void gfortran_read(benchmark::State& state) {
    const Setup& s = setup();
    std::string args = "read '" + s.input + "' " + std::to_string(kValues);
    double total = 0;
    for (auto _ : state) {
        double seconds = run_peer(args);
        if (seconds < 0) {
            state.SkipWithError("peer failed");
            break;
        }
        state.SetIterationTime(seconds);
        total += seconds;
    }
    record(state, "gfortran read", total);
}
#endif

void summary() {
    auto& t = timings();
    auto rate = [&](const std::string& name) {
        auto it = t.find(name);
        return it == t.end() || it->second <= 0 ? 0.0 : double(kValues) / it->second / 1e6;
    };
    std::printf("\nThroughput in million values per second (best iteration) and ratios:\n");
    std::printf("%-22s %10s %10s %10s %12s %12s\n", "statement", "forrtl", "gfortran", "std::", "vs gfortran",
                "vs std::");
    auto line = [&](const char* label, const std::string& ours, const std::string& peer, const std::string& std_) {
        double a = rate(ours), b = rate(peer), c = rate(std_);
        std::printf("%-22s %10.2f %10.2f %10.2f %11.2fx %11.2fx\n", label, a, b, c, b > 0 ? a / b : 0.0,
                    c > 0 ? a / c : 0.0);
    };
    line("WRITE (5F10.5)", "forrtl write F", "gfortran write F", "to_chars write F");
    line("WRITE (5E15.7)", "forrtl write E", "gfortran write E", "to_chars write E");
    line("WRITE (5G15.7E2)", "forrtl write G", "gfortran write G", "to_chars write G");
    line("READ list-directed", "forrtl read", "gfortran read", "from_chars read");
#ifndef LOXNAR_STMT_PEER
    std::printf("(gfortran was not found when the benchmarks were configured)\n");
#endif
}

}  // namespace

int main(int argc, char** argv) {
    constexpr int kIterations = 5;
    for (char form : {'F', 'E', 'G'}) {
        std::string f(1, form);
        benchmark::RegisterBenchmark(("Write/forrtl/" + f).c_str(), forrtl_write, form)
            ->Iterations(kIterations)
            ->Unit(benchmark::kMillisecond);
#ifdef LOXNAR_STMT_PEER
        benchmark::RegisterBenchmark(("Write/gfortran/" + f).c_str(), gfortran_write, form)
            ->Iterations(kIterations)
            ->UseManualTime()
            ->Unit(benchmark::kMillisecond);
#endif
        benchmark::RegisterBenchmark(("Write/to_chars/" + f).c_str(), to_chars_write, form)
            ->Iterations(kIterations)
            ->Unit(benchmark::kMillisecond);
    }
    benchmark::RegisterBenchmark("ListRead/forrtl", forrtl_read)->Iterations(kIterations)->Unit(benchmark::kMillisecond);
#ifdef LOXNAR_STMT_PEER
    benchmark::RegisterBenchmark("ListRead/gfortran", gfortran_read)
        ->Iterations(kIterations)
        ->UseManualTime()
        ->Unit(benchmark::kMillisecond);
#endif
    benchmark::RegisterBenchmark("ListRead/from_chars", from_chars_read)
        ->Iterations(kIterations)
        ->Unit(benchmark::kMillisecond);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    summary();
    std::string cmd = "rm -rf '" + setup().dir + "'";
    (void)std::system(cmd.c_str());
    return 0;
}
