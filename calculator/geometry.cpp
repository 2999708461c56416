#include "geometry.h"

#include <emmintrin.h>  // SSE2, the baseline of every x86-64 processor

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>

#include "for_diags.h"
#include "plane_walk.h"

namespace calculator {

float CELL[6];
int COND[7];
int HMAX, KMAX, LMAX;
float DMIN, DMAX, LAMBDA;

float SINA[3], COSA[3];
float ASTAR, BSTAR, CSTAR;
float ALSTAR, BESTAR, GASTAR;

int IH[MAX_PLANES], IK[MAX_PLANES], IL[MAX_PLANES];
float D[MAX_PLANES], THETA[MAX_PLANES];
int NPLANES;

namespace {

// Product of two indices as the 32-bit integer it is in the calculation:
// the multiplication wraps around modulo 2^32 (done unsigned, so it is
// defined), and the result is read back as a signed value and converted to
// single precision.
inline float index_product(int a, int b) {
    const std::uint32_t p = static_cast<std::uint32_t>(a) * static_cast<std::uint32_t>(b);
    return static_cast<float>(static_cast<std::int32_t>(p));
}

// Parity of a sum of indices, wrapping like the 32-bit sum.
inline bool is_even(std::uint32_t sum) { return (sum & 1u) == 0; }

// The seven condition codes, in order; a plane is rejected at the first
// code it fails.  Codes other than 0 and 2..7 (negative ones included) act
// as code 1.
bool passes_codes(int h, int k, int l) {
    const std::uint32_t uh = static_cast<std::uint32_t>(h);
    const std::uint32_t uk = static_cast<std::uint32_t>(k);
    const std::uint32_t ul = static_cast<std::uint32_t>(l);
    for (int i = 0; i < 7; ++i) {
        switch (COND[i]) {
        case 0:
            break;
        case 2:
            // l is never below -INT_MAX here, so its magnitude fits.
            if (!(k >= (l < 0 ? -l : l))) return false;
            break;
        case 3:
            if (!(h >= k)) return false;
            break;
        case 4:
            if (!is_even(uk + ul)) return false;
            break;
        case 5:
            if (!is_even(uh + ul)) return false;
            break;
        case 6:
            if (!is_even(uh + uk)) return false;
            break;
        case 7:
            if (!is_even(uh + uk + ul)) return false;
            break;
        default:
            if (!(l >= 0)) return false;
            break;
        }
    }
    return true;
}

// Bragg angle in degrees for the spacing d, or a quiet NaN when 2d is
// shorter than the wavelength and no angle exists.
float bragg_angle(float d) {
    const float two_d = 2.0f * d;
    if (two_d >= LAMBDA) {
        const float x = LAMBDA / two_d;
        return std::atan(x / checked_sqrt(1.0f - x * x)) * 180.0f / PI_APPROX;
    }
    return std::numeric_limits<float>::quiet_NaN();
}

// Appends a plane to the table; true when the table is now full.
inline bool store_plane(int (&ih)[MAX_PLANES], int (&ik)[MAX_PLANES], int (&il)[MAX_PLANES],
                        float (&dd)[MAX_PLANES], float (&theta)[MAX_PLANES], int& nplanes, int h,
                        int k, int l, float d, float th) {
    ih[nplanes] = h;
    ik[nplanes] = k;
    il[nplanes] = l;
    dd[nplanes] = d;
    theta[nplanes] = th;
    ++nplanes;
    return nplanes == MAX_PLANES;
}

}  // namespace

float checked_sqrt(float x) {
    if (x < 0.0f) forrtl::for_report_math_error(6201, "sqrt: DOMAIN error", 15);
    return std::sqrt(x);
}

void RECIPROCAL_CELL() {
    const float a = CELL[0], b = CELL[1], c = CELL[2];
    for (int i = 0; i < 3; ++i) {
        SINA[i] = std::sin(CELL[3 + i]);
        COSA[i] = std::cos(CELL[3 + i]);
    }
    const float ab = a * b;
    const float abc = c * ab;
    const float v = abc * checked_sqrt(2.0f * COSA[0] * COSA[1] * COSA[2] +
                                       (((1.0f - COSA[0] * COSA[0]) - COSA[1] * COSA[1]) -
                                        COSA[2] * COSA[2]));
    ASTAR = ((c * b) * SINA[0]) / v;
    BSTAR = ((c * a) * SINA[1]) / v;
    CSTAR = (SINA[2] * ab) / v;
    const float x1 = (COSA[2] * COSA[1] - COSA[0]) / (SINA[2] * SINA[1]);
    ALSTAR = ARC_COS(x1);
    const float x2 = (COSA[2] * COSA[0] - COSA[1]) / (SINA[0] * SINA[2]);
    BESTAR = ARC_COS(x2);
    const float x3 = (COSA[1] * COSA[0] - COSA[2]) / (SINA[0] * SINA[1]);
    GASTAR = ARC_COS(x3);
}

float ARC_COS(const float& x) {
    if (x == 0.0f) return HALF_PI_APPROX;
    if (x >= 1.0f && x < ARC_COS_LIMIT) return 0.0f;
    if (x > -ARC_COS_LIMIT && x <= -1.0f) return PI_ARC_COS_NEG;
    const float t = checked_sqrt(1.0f - x * x) / x;
    if (t < 0.0f) return PI_APPROX - std::atan(-t);
    return std::atan(t);
}

void PLANE_SPACING(float& d, const int& h, const int& k, const int& l, float& theta) {
    const float h2 = index_product(h, h), k2 = index_product(k, k), l2 = index_product(l, l);
    const float s = (ASTAR * h2) * ASTAR + (BSTAR * k2) * BSTAR + (CSTAR * l2) * CSTAR;
    const float g = std::cos(GASTAR) * index_product(h, k);
    const float bt = std::cos(BESTAR) * index_product(h, l);
    const float al = std::cos(ALSTAR) * index_product(k, l);
    const float q =
        s + 2.0f * (((BSTAR * ASTAR) * g + (CSTAR * ASTAR) * bt) + (CSTAR * BSTAR) * al);
    d = checked_sqrt(1.0f / q);
    theta = bragg_angle(d);
}

// The walk: h from 0 to HMAX, k from 0 to KMAX, l from 0 to LMAX (from 1
// for h = k = 0), and for h != 0, l != 0 the plane (h, k, -l) right after
// (h, k, l).  The first value of each index is visited whatever the bound.
// Each index stops when it has reached its bound, rather than stepping past
// it and comparing: a bound of 2147483647 must end the walk, not wrap.
void ENUMERATE_PLANES_REFERENCE(int (&ih)[MAX_PLANES], int (&ik)[MAX_PLANES],
                                int (&il)[MAX_PLANES], float (&dd)[MAX_PLANES],
                                float (&theta)[MAX_PLANES], int& nplanes) {
    if (nplanes < 0 || nplanes >= MAX_PLANES) return;
    int h = 0, k = 0, l = 1;
    bool negated = false;
    for (;;) {
        if (passes_codes(h, k, l)) {
            float d, th;
            PLANE_SPACING(d, h, k, l, th);
            if (DMIN <= d && d <= DMAX) {
                if (store_plane(ih, ik, il, dd, theta, nplanes, h, k, l, d, th)) return;
            }
        }
        if (l != 0 && h != 0) {
            l = -l;
            if (!negated) {
                negated = true;
                continue;
            }
        }
        negated = false;
        if (l < LMAX) {
            ++l;
            continue;
        }
        l = 0;
        if (k < KMAX) {
            ++k;
            continue;
        }
        k = 0;
        if (h < HMAX) {
            ++h;
            continue;
        }
        return;
    }
}

// ---------------------------------------------------------------------------
// The fast walk.
//
// Every plane's Q is computed with the same single-precision operations in
// the same order as PLANE_SPACING, with the terms that do not change along
// a row hoisted out of it:
//   per case  cos of the reciprocal angles, BSTAR*ASTAR, CSTAR*ASTAR,
//             CSTAR*BSTAR, and the l term (CSTAR*l^2)*CSTAR of every l;
//   per h     (ASTAR*h^2)*ASTAR and (CSTAR*ASTAR)*(cos(BESTAR)*hl) of every l;
//   per h, k  the sum of the h and k terms and (BSTAR*ASTAR)*(cos(GASTAR)*hk).
// Several l go together in vector registers (plane_walk.h).  The twin
// (h, k, -l) shares l^2, and its hl and kl are the negated products, so its
// two terms are the exact negations of those of (h, k, l) (kl = 0 stays
// +0).  Indices are limited to walk::FAST_BOUND, so no product wraps around
// and negation is exact.  2x is computed as x + x, which is the same value.
//
// No spacing or angle is computed in the row.  The spacing sqrt(1/Q) does
// not increase with Q, so the window DMIN <= d <= DMAX is an interval of Q
// found once per case by bisection over the ordered bit patterns.  A group
// of lanes holding a Q in it, or a Q that is not positive (the square root
// may fail there), goes through the plain per-plane step, which takes the
// root, tests the window exactly and computes the angle of stored planes
// only.  A long row whose Q is proven, by bounds taken in the walk's own
// arithmetic, to lie outside that interval everywhere (and to be positive)
// is not walked at all (plane_walk.h, row_outside_window).
//
// The condition codes become row facts: codes 3 and 6 drop whole rows, code
// 2 shortens the row to |l| <= k, codes 4, 5 and 7 fix the parity of l, and
// code 1 (or an unknown code) drops the twins.  Rejected planes have no
// effect, so they need not be visited one by one.
//
// The vector width is chosen at run time: AVX2 where the processor has it,
// otherwise SSE2, which every x86-64 processor has.  Both give the same
// bits: only correctly rounded additions, multiplications and conversions
// are used, in the same order, without fused multiply-add.
// ---------------------------------------------------------------------------
namespace walk {

alignas(64) float l_term[TABLE_SIZE];
alignas(64) float hl_term[TABLE_SIZE];
SkippedRowObserver g_skipped_row_observer = nullptr;

bool visit_plane(Table& t, int h, int k, int l, float q) {
    const float d = checked_sqrt(1.0f / q);
    if (DMIN <= d && d <= DMAX)
        return store_plane(t.ih, t.ik, t.il, t.d, t.theta, t.nplanes, h, k, l, d, bragg_angle(d));
    return false;
}

namespace {

struct Sse2 {
    static constexpr int W = 4;
    using F = __m128;
    using I = __m128i;
    static F set1(float x) { return _mm_set1_ps(x); }
    static F load(const float* p) { return _mm_load_ps(p); }
    static F add(F a, F b) { return _mm_add_ps(a, b); }
    static F sub(F a, F b) { return _mm_sub_ps(a, b); }
    static F mul(F a, F b) { return _mm_mul_ps(a, b); }
    static F sign_mask(bool on) { return _mm_castsi128_ps(_mm_set1_epi32(on ? INT32_MIN : 0)); }
    static F flip(F a, F mask) { return _mm_xor_ps(a, mask); }
    static F to_float(I a) { return _mm_cvtepi32_ps(a); }
    static I iset1(int x) { return _mm_set1_epi32(x); }
    static I iseq(int base, int step) {
        return _mm_setr_epi32(base, base + step, base + 2 * step, base + 3 * step);
    }
    static I iadd(I a, I b) { return _mm_add_epi32(a, b); }
    static void store(float* p, F a) { _mm_store_ps(p, a); }
    static unsigned hits(F q, F lo, F hi, F zero) {
        const F in = _mm_or_ps(_mm_and_ps(_mm_cmpge_ps(q, lo), _mm_cmple_ps(q, hi)),
                               _mm_cmple_ps(q, zero));
        return static_cast<unsigned>(_mm_movemask_ps(in));
    }
};

}  // namespace

void walk_sse2(const Case& c, Table& t) { walk_planes<Sse2>(c, t); }

}  // namespace walk

namespace {

bool g_baseline_walk = false;

inline float float_of_bits(std::uint32_t bits) {
    float f;
    std::memcpy(&f, &bits, sizeof f);
    return f;
}

// The spacing of a non-negative Q (its root never fails).
inline float spacing_of(float q) { return std::sqrt(1.0f / q); }

// Interval [q_lo, q_hi] of non-negative Q whose spacing lies in the window;
// empty when q_lo > q_hi.
void window_interval(float& q_lo, float& q_hi) {
    const std::uint32_t top = 0x7F800001u;  // one past +infinity
    // First bit pattern whose spacing is at most DMAX (true from there on).
    std::uint32_t lo = 0, hi = top;
    while (lo < hi) {
        const std::uint32_t mid = lo + (hi - lo) / 2;
        if (spacing_of(float_of_bits(mid)) <= DMAX) hi = mid; else lo = mid + 1;
    }
    const std::uint32_t first_in = lo;
    // First bit pattern whose spacing is below DMIN (false before it).
    lo = 0;
    hi = top;
    while (lo < hi) {
        const std::uint32_t mid = lo + (hi - lo) / 2;
        if (!(DMIN <= spacing_of(float_of_bits(mid)))) hi = mid; else lo = mid + 1;
    }
    const std::uint32_t first_out = lo;
    if (first_in >= first_out || first_in >= top) {
        q_lo = 1.0f;
        q_hi = 0.0f;
    } else {
        q_lo = float_of_bits(first_in);
        q_hi = float_of_bits(first_out - 1);
    }
}

}  // namespace

void use_baseline_walk(bool on) { g_baseline_walk = on; }

void observe_skipped_rows(SkippedRowObserver observer) { walk::g_skipped_row_observer = observer; }

void ENUMERATE_PLANES(int (&ih)[MAX_PLANES], int (&ik)[MAX_PLANES], int (&il)[MAX_PLANES],
                      float (&dd)[MAX_PLANES], float (&theta)[MAX_PLANES], int& nplanes) {
    if (nplanes < 0 || nplanes >= MAX_PLANES) return;
    walk::Case c{};
    c.h_end = HMAX > 0 ? HMAX : 0;
    c.k_end = KMAX > 0 ? KMAX : 0;
    c.lmax = LMAX;
    const int l_end = LMAX > 1 ? LMAX : 1;
    // Out of the fast walk's range: huge bounds, and a negative wavelength,
    // for which the angle of a plane outside the window may fail its root.
    if (c.h_end > walk::FAST_BOUND || c.k_end > walk::FAST_BOUND || l_end > walk::FAST_BOUND ||
        LAMBDA < 0.0f) {
        ENUMERATE_PLANES_REFERENCE(ih, ik, il, dd, theta, nplanes);
        return;
    }
    for (int i = 0; i < 7; ++i) {
        switch (COND[i]) {
        case 0: break;
        case 2: c.c2 = true; break;
        case 3: c.c3 = true; break;
        case 4: c.c4 = true; break;
        case 5: c.c5 = true; break;
        case 6: c.c6 = true; break;
        case 7: c.c7 = true; break;
        default: c.l_nonneg = true; break;
        }
    }
    c.cos_ga = std::cos(GASTAR), c.cos_be = std::cos(BESTAR), c.cos_al = std::cos(ALSTAR);
    c.ba = BSTAR * ASTAR, c.ca = CSTAR * ASTAR, c.cb = CSTAR * BSTAR;
    c.table_end = (l_end | 15) + 1;  // whole vectors of any width
    for (int l = 0; l < c.table_end; ++l) walk::l_term[l] = (CSTAR * index_product(l, l)) * CSTAR;
    window_interval(c.q_lo, c.q_hi);

    walk::Table t{ih, ik, il, dd, theta, nplanes};
    static const bool has_avx2 = __builtin_cpu_supports("avx2");
    if (has_avx2 && !g_baseline_walk)
        walk::walk_avx2(c, t);
    else
        walk::walk_sse2(c, t);
}

void SORT_PLANES_REFERENCE() {
    const int n = NPLANES < MAX_PLANES ? NPLANES : MAX_PLANES;
    for (int i = 0; i < n - 1; ++i) {
        for (int j = i + 1; j < n; ++j) {
            if (D[j] > D[i]) {
                const int h = IH[i], k = IK[i], l = IL[i];
                const float d = D[i], t = THETA[i];
                IH[i] = IH[j], IK[i] = IK[j], IL[i] = IL[j], D[i] = D[j], THETA[i] = THETA[j];
                IH[j] = h, IK[j] = k, IL[j] = l, D[j] = d, THETA[j] = t;
            }
        }
    }
}

// ---------------------------------------------------------------------------
// The exchange sort's permutation in about O(n log n).
//
// For each i in turn and each j > i, the exchange sort exchanges entries i
// and j when D(j) > D(i).  The result is in decreasing order; the order of
// equal spacings is not their original order (1.0, 1.0, 2.0 as a, b, c
// gives c, b, a) and follows from two facts:
//   - The entries whose spacing is at least v end in the relative order the
//     exchange sort would give them on their own: pass i moves the entries
//     that are larger than every entry before them (from position i on) one
//     such place on, the last to position i, and an entry below v among
//     them never changes which entries >= v move.
//   - Among the entries >= v, those equal to v are the smallest, so a pass
//     moves at most one of them: the first remaining entry when it equals v,
//     to the place of the first larger entry after it.
// So, scanning the entries >= v in their original order, the entries equal
// to v form a queue: each joins it at the back, and each larger entry met
// while the queue is not empty moves the queue's front to its back.  The
// final queue is their order in the result.
//
// The numbers of larger entries between two equal ones are counted in a
// bit set of the positions of the larger entries.  The queue is followed as
// a list with a head index (joining at the back is inserting just before
// the head); only the indices of the insertions are computed, and the final
// place of each entry is found afterwards by taking the insertions in
// reverse, each the free place of its index, from a Fenwick tree of free
// places.
// ---------------------------------------------------------------------------
namespace {

// Free places 0..n-1, taken one by one.
struct Fenwick {
    int n;
    int t[MAX_PLANES + 1];

    // Every position counted once.
    void fill(int size) {
        n = size;
        for (int i = 1; i <= n; ++i) t[i] = i & -i;
    }
    void add(int position, int delta) {
        for (int i = position + 1; i <= n; i += i & -i) t[i] += delta;
    }
    // The position holding the counted element of index `index` (from 0).
    int find(int index) const {
        int position = 0;
        int step = 1;
        while (step * 2 <= n) step *= 2;
        for (; step > 0; step /= 2) {
            if (position + step <= n && t[position + step] <= index) {
                position += step;
                index -= t[position];
            }
        }
        return position;
    }
};

Fenwick g_free;

// The order of the first n entries by decreasing spacing, equal spacings
// (+0 and -0 among them) by position, with each entry's sort key in that
// order.  The key falls as the spacing rises; the entries are counted into
// about 2n buckets of equal spans of the keys' range, in order of position,
// and each bucket is then put in order by insertion, which keeps equal
// keys in their order: a stable sort.  No spacing is NaN.
void order_by_decreasing_spacing(int n, int* order, std::uint32_t* sorted_key) {
    std::uint32_t key_of[MAX_PLANES];
    std::uint32_t lowest = ~0u, highest = 0;
    for (int i = 0; i < n; ++i) {
        std::uint32_t bits;
        std::memcpy(&bits, &D[i], sizeof bits);
        if ((bits << 1) == 0) bits = 0;  // -0 sorts as +0
        // Ascending order of the unsigned key is ascending spacing; its
        // complement falls as the spacing rises.
        const std::uint32_t up = (bits >> 31) ? ~bits : bits | 0x80000000u;
        const std::uint32_t key = ~up;
        key_of[i] = key;
        lowest = key < lowest ? key : lowest;
        highest = key > highest ? key : highest;
    }
    constexpr int kMaxBucketBits = 11;  // 2048 buckets for 600 entries
    int bucket_bits = 1;
    while ((1 << bucket_bits) < 2 * n && bucket_bits < kMaxBucketBits) ++bucket_bits;
    const std::uint32_t range = highest - lowest;
    const int range_bits = range ? 32 - __builtin_clz(range) : 0;
    const int shift = range_bits > bucket_bits ? range_bits - bucket_bits : 0;
    int start[(1 << kMaxBucketBits) + 1];
    const int buckets = int(range >> shift) + 1;
    std::memset(start, 0, sizeof(int) * std::size_t(buckets + 1));
    for (int i = 0; i < n; ++i) ++start[((key_of[i] - lowest) >> shift) + 1];
    for (int b = 0; b < buckets; ++b) start[b + 1] += start[b];
    for (int i = 0; i < n; ++i) {
        const int at = start[(key_of[i] - lowest) >> shift]++;
        order[at] = i;
        sorted_key[at] = key_of[i];
    }
    // Within a bucket: few keys, most in order already.
    for (int i = 1; i < n; ++i) {
        const std::uint32_t k = sorted_key[i];
        if (sorted_key[i - 1] <= k) continue;
        const int entry = order[i];
        int j = i;
        do {
            sorted_key[j] = sorted_key[j - 1];
            order[j] = order[j - 1];
            --j;
        } while (j > 0 && sorted_key[j - 1] > k);
        sorted_key[j] = k;
        order[j] = entry;
    }
}

// Positions 0..n-1 of the entries already placed (the larger ones), with
// counts of them between two positions.
struct PositionSet {
    std::uint64_t word[(MAX_PLANES + 63) / 64];

    void clear(int n) { std::memset(word, 0, sizeof(std::uint64_t) * std::size_t((n + 63) / 64)); }
    void add(int position) { word[position / 64] |= std::uint64_t(1) << (position % 64); }
    // How many positions p with from <= p < to are in the set.
    int count(int from, int to) const {
        if (from >= to) return 0;
        int a = from / 64, b = (to - 1) / 64;
        const std::uint64_t low = ~std::uint64_t(0) << (from % 64);
        const std::uint64_t high = ~std::uint64_t(0) >> (63 - (to - 1) % 64);
        if (a == b) return __builtin_popcountll(word[a] & low & high);
        int sum = __builtin_popcountll(word[a] & low) + __builtin_popcountll(word[b] & high);
        for (++a; a < b; ++a) sum += __builtin_popcountll(word[a]);
        return sum;
    }
};

PositionSet g_larger;

}  // namespace

void SORT_PLANES() {
    const int n = NPLANES < MAX_PLANES ? NPLANES : MAX_PLANES;
    if (n < 2) return;
    // A spacing that compares with nothing has no place in the order.
    for (int i = 0; i < n; ++i)
        if (D[i] != D[i]) return SORT_PLANES_REFERENCE();

    // By decreasing spacing, equal spacings by position.
    int order[MAX_PLANES];
    std::uint32_t key[MAX_PLANES];
    order_by_decreasing_spacing(n, order, key);

    int result[MAX_PLANES];
    int insert_at[MAX_PLANES];
    int slot[MAX_PLANES];
    g_larger.clear(n);
    for (int first = 0; first < n;) {
        int end = first + 1;
        while (end < n && key[end] == key[first]) ++end;
        const int* at = order + first;  // the equal entries, by position
        const int count = end - first;
        if (count == 1) {
            result[first] = at[0];
        } else {
            // The queue, followed by size and head index.
            auto larger_after = [&](int j) { return g_larger.count(at[j] + 1, j + 1 < count ? at[j + 1] : n); };
            int size = 1, head = 0;
            insert_at[0] = 0;
            for (int j = 0;;) {
                head = (head + larger_after(j)) % size;
                if (++j == count) break;
                insert_at[j] = head;
                ++size;
                ++head;
            }
            g_free.fill(count);
            for (int j = count - 1; j >= 0; --j) {
                const int place = g_free.find(insert_at[j]);
                g_free.add(place, -1);
                slot[place] = at[j];
            }
            for (int i = 0; i < count; ++i) result[first + i] = slot[(head + i) % count];
        }
        for (int i = first; i < end; ++i) g_larger.add(order[i]);
        first = end;
    }

    int ih[MAX_PLANES], ik[MAX_PLANES], il[MAX_PLANES];
    float d[MAX_PLANES], theta[MAX_PLANES];
    for (int i = 0; i < n; ++i) {
        const int from = result[i];
        ih[i] = IH[from], ik[i] = IK[from], il[i] = IL[from], d[i] = D[from], theta[i] = THETA[from];
    }
    std::memcpy(IH, ih, sizeof(int) * static_cast<std::size_t>(n));
    std::memcpy(IK, ik, sizeof(int) * static_cast<std::size_t>(n));
    std::memcpy(IL, il, sizeof(int) * static_cast<std::size_t>(n));
    std::memcpy(D, d, sizeof(float) * static_cast<std::size_t>(n));
    std::memcpy(THETA, theta, sizeof(float) * static_cast<std::size_t>(n));
}

std::int64_t visited_plane_count() {
    const std::int64_t h_end = HMAX > 0 ? HMAX : 0;
    const std::int64_t k_end = KMAX > 0 ? KMAX : 0;
    const std::int64_t l_end = LMAX > 0 ? LMAX : 0;
    const std::int64_t first_row = LMAX > 1 ? LMAX : 1;  // h = k = 0: l from 1
    return first_row + k_end * (l_end + 1) + h_end * (k_end + 1) * (1 + 2 * l_end);
}

}  // namespace calculator
