// Writes an entry data file of generated cases for the end-to-end benchmark
// (bench/run_e2e.sh).
//
//   e2e_gen FILE [CASES] [SEED]
//
// Each case is a cubic, hexagonal, monoclinic or triclinic cell with edges
// of 3 to 15 and realistic angles, condition codes that suit its lattice,
// index bounds of 6 to 12 (now and then 0, read as 8), the wavelength of
// Cu K-alpha1 (1.5406) or Mo K-alpha1 (0.7093), and a spacing window chosen
// so that the case stores about 100 planes.  The window is found with the
// calculator's own walk on the values exactly as the program will read
// them back from the text, so the count is the program's count.  DMIN stays
// above LAMBDA/2, so every stored plane has a Bragg angle.
//
// The continuation flags are 1 ... 1 0.  On standard output the generator
// prints a summary: the mix of cells, the planes per case and the number of
// records the program must write to the results file and the console.
#include <cinttypes>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "geometry.h"

using namespace calculator;

namespace {

// splitmix64: the same sequence on every machine and library.
struct Rng {
    std::uint64_t s;
    std::uint64_t next() {
        std::uint64_t z = (s += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return z ^ (z >> 31);
    }
    double uniform(double lo, double hi) {
        return lo + (hi - lo) * static_cast<double>(next() >> 11) * 0x1.0p-53;
    }
    int pick(int n) { return static_cast<int>(next() % static_cast<std::uint64_t>(n)); }
};

constexpr int kWanted = 100;
constexpr float kDegree = 0.017453294f;

enum System { CUBIC, HEXAGONAL, MONOCLINIC, TRICLINIC, SYSTEM_COUNT };
const char* const kSystemName[SYSTEM_COUNT] = {"cubic", "hexagonal", "monoclinic", "triclinic"};

// Condition codes that a crystallographer would give each lattice.
struct Codes {
    int code[7];
    const char* note;
};
const Codes kCubicCodes[] = {{{0, 0, 0, 0, 0, 0, 0}, "P, all planes"},
                             {{1, 2, 3, 0, 0, 0, 0}, "P"},
                             {{1, 2, 3, 4, 5, 6, 0}, "F"},
                             {{1, 2, 3, 7, 0, 0, 0}, "I"}};
const Codes kHexagonalCodes[] = {{{1, 3, 0, 0, 0, 0, 0}, "P"},
                                 {{1, 0, 0, 0, 0, 0, 0}, "P"},
                                 {{0, 0, 0, 0, 0, 0, 0}, "P, all planes"}};
const Codes kMonoclinicCodes[] = {{{1, 0, 0, 0, 0, 0, 0}, "P"},
                                  {{6, 0, 0, 0, 0, 0, 0}, "C"},
                                  {{7, 0, 0, 0, 0, 0, 0}, "I"},
                                  {{0, 0, 0, 0, 0, 0, 0}, "P, all planes"}};
const Codes kTriclinicCodes[] = {{{0, 0, 0, 0, 0, 0, 0}, "P"},
                                 {{1, 0, 0, 0, 0, 0, 0}, "P"},
                                 {{6, 0, 0, 0, 0, 0, 0}, "C"}};

template <std::size_t N>
const Codes& pick_codes(Rng& rng, const Codes (&table)[N]) {
    return table[rng.pick(static_cast<int>(N))];
}

// A value as the program will hold it after reading the text `format`
// makes of it.
float as_read(const char* format, double value, char (&text)[32]) {
    std::snprintf(text, sizeof text, format, value);
    return std::strtof(text, nullptr);
}

struct Case {
    System system;
    const Codes* codes;
    char edge[3][32], angle[3][32], dmin[32], dmax[32];
    int bound[3];  // as written (0 means 8)
    bool copper;
    int planes;
};

// Planes the program stores for the current case values with DMIN = dmin.
int stored_planes(float dmin) {
    DMIN = dmin;
    NPLANES = 0;
    ENUMERATE_PLANES(IH, IK, IL, D, THETA, NPLANES);
    return NPLANES;
}

void draw_cell(Rng& rng, Case& c, double (&edge)[3], double (&angle)[3]) {
    angle[0] = angle[1] = angle[2] = 90.0;
    switch (c.system) {
    case CUBIC:
        edge[0] = edge[1] = edge[2] = rng.uniform(3.0, 15.0);
        c.codes = &pick_codes(rng, kCubicCodes);
        break;
    case HEXAGONAL:
        edge[0] = edge[1] = rng.uniform(3.0, 12.0);
        edge[2] = rng.uniform(3.0, 15.0);
        angle[2] = 120.0;
        c.codes = &pick_codes(rng, kHexagonalCodes);
        break;
    case MONOCLINIC:
        for (double& e : edge) e = rng.uniform(3.0, 15.0);
        angle[1] = rng.uniform(91.0, 125.0);
        c.codes = &pick_codes(rng, kMonoclinicCodes);
        break;
    case TRICLINIC:
        for (;;) {
            for (double& e : edge) e = rng.uniform(3.0, 15.0);
            for (double& a : angle) a = rng.uniform(75.0, 118.0);
            // Keep cells whose volume factor is well away from zero.
            const double ca = std::cos(angle[0] * M_PI / 180), cb = std::cos(angle[1] * M_PI / 180),
                         cg = std::cos(angle[2] * M_PI / 180);
            if (1 - ca * ca - cb * cb - cg * cg + 2 * ca * cb * cg > 0.3) break;
        }
        c.codes = &pick_codes(rng, kTriclinicCodes);
        break;
    default:
        break;
    }
}

// Draws one case whose window stores about kWanted planes.  A cell that
// cannot hold that many planes within its bounds is drawn again in the same
// crystal system, so the mix of systems stays even.
void draw_case(Rng& rng, Case& c) {
    c.system = static_cast<System>(rng.pick(SYSTEM_COUNT));
    for (int attempt = 0;; ++attempt) {
        double edge[3] = {}, angle[3] = {};
        draw_cell(rng, c, edge, angle);
        for (int i = 0; i < 3; ++i) {
            CELL[i] = as_read("%.4f", edge[i], c.edge[i]);
            CELL[3 + i] = as_read("%.3f", angle[i], c.angle[i]) * kDegree;
        }
        for (int i = 0; i < 7; ++i) COND[i] = c.codes->code[i];
        for (int i = 0; i < 3; ++i) c.bound[i] = rng.pick(8) == 0 ? 0 : 6 + rng.pick(7);
        HMAX = c.bound[0] ? c.bound[0] : 8;
        KMAX = c.bound[1] ? c.bound[1] : 8;
        LMAX = c.bound[2] ? c.bound[2] : 8;
        c.copper = rng.pick(2) == 0;
        LAMBDA = c.copper ? 1.5406f : 0.7093f;
        const double longest = std::fmax(edge[0], std::fmax(edge[1], edge[2]));
        DMAX = as_read("%.4f", longest * rng.uniform(0.5, 1.1), c.dmax);
        RECIPROCAL_CELL();

        // Spacing window [t/10000, DMAX]; the count does not grow with t.
        const double half_lambda = LAMBDA / 2.0;
        std::int64_t lo = static_cast<std::int64_t>(std::floor(half_lambda * 10000)) + 1;
        std::int64_t hi = static_cast<std::int64_t>(std::floor(static_cast<double>(DMAX) * 10000));
        auto count_at = [](std::int64_t t) {
            char text[32];
            return stored_planes(as_read("%.4f", static_cast<double>(t) / 10000, text));
        };
        if (lo > hi || count_at(lo) < kWanted) {
            if (attempt < 100) continue;
            hi = lo;  // give up on this one: take what the widest window holds
        }
        // Largest t that still stores kWanted planes or more.
        while (lo < hi) {
            const std::int64_t mid = lo + (hi - lo + 1) / 2;
            if (count_at(mid) >= kWanted)
                lo = mid;
            else
                hi = mid - 1;
        }
        // Of t and t + 1 take the count closer to kWanted (ties in spacing
        // make a step of several planes).
        const int at = count_at(lo), above = count_at(lo + 1);
        const std::int64_t t = (std::abs(above - kWanted) < std::abs(at - kWanted)) ? lo + 1 : lo;
        as_read("%.4f", static_cast<double>(t) / 10000, c.dmin);
        c.planes = t == lo ? at : above;
        return;
    }
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2 || argc > 4) {
        std::fprintf(stderr, "usage: %s FILE [CASES] [SEED]\n", argv[0]);
        return 2;
    }
    const long cases = argc > 2 ? std::strtol(argv[2], nullptr, 10) : 10000;
    Rng rng{argc > 3 ? std::strtoull(argv[3], nullptr, 10) : 20261209u};
    if (cases < 1) {
        std::fprintf(stderr, "%s: CASES must be at least 1\n", argv[0]);
        return 2;
    }
    std::FILE* out = std::fopen(argv[1], "w");
    if (!out) {
        std::perror(argv[1]);
        return 1;
    }

    long per_system[SYSTEM_COUNT] = {};
    long planes_total = 0, copper = 0;
    int planes_min = MAX_PLANES, planes_max = 0;
    long file_records = 0, console_records = 0;
    Case c{};
    for (long i = 1; i <= cases; ++i) {
        draw_case(rng, c);
        std::fprintf(out, "bench case %06ld, %s %s, %s\n", i, kSystemName[c.system], c.codes->note,
                     c.copper ? "Cu K-alpha1" : "Mo K-alpha1");
        std::fprintf(out, "%s %s %s %s %s %s\n", c.edge[0], c.edge[1], c.edge[2], c.angle[0], c.angle[1],
                     c.angle[2]);
        for (int code : c.codes->code) std::fprintf(out, "%d ", code);
        std::fprintf(out, " %s %s  %d %d %d  %s\n", c.dmin, c.dmax, c.bound[0], c.bound[1], c.bound[2],
                     c.copper ? "1.5406" : "0.7093");
        std::fprintf(out, "%d\n", i < cases ? 1 : 0);

        ++per_system[c.system];
        copper += c.copper;
        planes_total += c.planes;
        if (c.planes < planes_min) planes_min = c.planes;
        if (c.planes > planes_max) planes_max = c.planes;
        // Results file: header 2, title, cell 3, parameters 4, count 2,
        // table, end 2, separator; console: header 2, table, end 2.
        const long table = c.planes >= 2 ? 1 + (c.planes + 1) / 2 : 0;
        file_records += 14 + table + (i < cases ? 1 : 0);
        console_records += 4 + table;
    }
    if (std::fclose(out) != 0) {
        std::perror(argv[1]);
        return 1;
    }
    std::printf("cases %ld (cubic %ld, hexagonal %ld, monoclinic %ld, triclinic %ld; Cu %ld, Mo %ld)\n", cases,
                per_system[CUBIC], per_system[HEXAGONAL], per_system[MONOCLINIC], per_system[TRICLINIC], copper,
                cases - copper);
    std::printf("planes per case: min %d, mean %.1f, max %d; total %ld\n", planes_min,
                static_cast<double>(planes_total) / static_cast<double>(cases), planes_max, planes_total);
    std::printf("expected records: results file %ld, console %ld\n", file_records, console_records + 2);
    return 0;
}
