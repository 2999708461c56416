#include "geometry.h"

#include <emmintrin.h>  // SSE2, the baseline of every x86-64 processor

#include <cmath>
#include <cstring>
#include <limits>

#include "for_diags.h"

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
// Four l go together in SSE2 registers.  The twin (h, k, -l) shares l^2,
// and its hl and kl are the negated products, so its two terms are the
// exact negations of those of (h, k, l) (kl = 0 stays +0).  Indices are
// limited to FAST_BOUND, so no product wraps around and negation is exact.
//
// No spacing or angle is computed in the row.  The spacing sqrt(1/Q) does
// not increase with Q, so the window DMIN <= d <= DMAX is an interval of Q
// found once per case by bisection over the ordered bit patterns.  A lane
// whose Q lies in it, or whose Q is not positive (the square root may fail
// there), is handed to the plain per-plane step with its Q, which takes the
// root, tests the window exactly and computes the angle of stored planes
// only.
//
// The condition codes become row facts: codes 3 and 6 drop whole rows, code
// 2 shortens the row to |l| <= k, codes 4, 5 and 7 fix the parity of l, and
// code 1 (or an unknown code) drops the twins.  Rejected planes have no
// effect, so they need not be visited one by one.
// ---------------------------------------------------------------------------
namespace {

constexpr int FAST_BOUND = 8191;
constexpr int TABLE_SIZE = FAST_BOUND + 8;

alignas(64) float l_term[TABLE_SIZE];   // (CSTAR*l^2)*CSTAR
alignas(64) float hl_term[TABLE_SIZE];  // (CSTAR*ASTAR)*(cos(BESTAR)*hl), current h

inline float float_of_bits(std::uint32_t bits) {
    float f;
    std::memcpy(&f, &bits, sizeof f);
    return f;
}

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

struct Walk {
    int (&ih)[MAX_PLANES];
    int (&ik)[MAX_PLANES];
    int (&il)[MAX_PLANES];
    float (&dd)[MAX_PLANES];
    float (&theta)[MAX_PLANES];
    int& nplanes;

    // The per-plane step for a plane that passes the codes, given its Q.
    // True when the table is full.
    bool visit(int h, int k, int l, float q) {
        const float d = checked_sqrt(1.0f / q);
        if (DMIN <= d && d <= DMAX)
            return store_plane(ih, ik, il, dd, theta, nplanes, h, k, l, d, bragg_angle(d));
        return false;
    }
};

}  // namespace

void ENUMERATE_PLANES(int (&ih)[MAX_PLANES], int (&ik)[MAX_PLANES], int (&il)[MAX_PLANES],
                      float (&dd)[MAX_PLANES], float (&theta)[MAX_PLANES], int& nplanes) {
    if (nplanes < 0 || nplanes >= MAX_PLANES) return;
    const int h_end = HMAX > 0 ? HMAX : 0;
    const int k_end = KMAX > 0 ? KMAX : 0;
    const int l_end = LMAX > 1 ? LMAX : 1;
    // Out of the fast walk's range: huge bounds, and a negative wavelength,
    // for which the angle of a plane outside the window may fail its root.
    if (h_end > FAST_BOUND || k_end > FAST_BOUND || l_end > FAST_BOUND || LAMBDA < 0.0f) {
        ENUMERATE_PLANES_REFERENCE(ih, ik, il, dd, theta, nplanes);
        return;
    }

    bool l_nonneg = false, c2 = false, c3 = false, c4 = false, c5 = false, c6 = false,
         c7 = false;
    for (int i = 0; i < 7; ++i) {
        switch (COND[i]) {
        case 0: break;
        case 2: c2 = true; break;
        case 3: c3 = true; break;
        case 4: c4 = true; break;
        case 5: c5 = true; break;
        case 6: c6 = true; break;
        case 7: c7 = true; break;
        default: l_nonneg = true; break;
        }
    }

    const float cos_ga = std::cos(GASTAR), cos_be = std::cos(BESTAR), cos_al = std::cos(ALSTAR);
    const float ba = BSTAR * ASTAR, ca = CSTAR * ASTAR, cb = CSTAR * BSTAR;
    const int table_end = (l_end | 3) + 1;  // whole groups of four
    for (int l = 0; l < table_end; ++l) l_term[l] = (CSTAR * index_product(l, l)) * CSTAR;

    float q_lo, q_hi;
    window_interval(q_lo, q_hi);
    const __m128 v_lo = _mm_set1_ps(q_lo), v_hi = _mm_set1_ps(q_hi);
    const __m128 v_zero = _mm_setzero_ps(), v_two = _mm_set1_ps(2.0f);
    const __m128 v_cos_al = _mm_set1_ps(cos_al), v_cb = _mm_set1_ps(cb);

    Walk walk{ih, ik, il, dd, theta, nplanes};
    alignas(16) float q_pos[4], q_neg[4];

    for (int h = 0; h <= h_end; ++h) {
        const float h_term = (ASTAR * index_product(h, h)) * ASTAR;
        for (int l = 0; l < table_end; ++l) hl_term[l] = ca * (cos_be * index_product(h, l));
        const bool twins = h != 0 && !l_nonneg;
        for (int k = 0; k <= k_end; ++k) {
            if (c3 && !(h >= k)) continue;
            if (c6 && ((h + k) & 1)) continue;
            // Parity of l required by codes 4, 5, 7: -1 none, 0 even, 1 odd.
            int parity = -1;
            bool empty = false;
            const int wanted[3] = {c4 ? (k & 1) : -1, c5 ? (h & 1) : -1, c7 ? ((h + k) & 1) : -1};
            for (int w : wanted) {
                if (w < 0) continue;
                if (parity >= 0 && parity != w) empty = true;
                parity = w;
            }
            if (empty) continue;
            const int l_first = (h == 0 && k == 0) ? 1 : 0;
            int l_last = LMAX > l_first ? LMAX : l_first;
            if (c2 && l_last > k) l_last = k;
            if (l_last < l_first) continue;
            const unsigned parity_lanes = parity < 0 ? 0xFu : parity == 0 ? 0x5u : 0xAu;

            const float hk_sum = h_term + (BSTAR * index_product(k, k)) * BSTAR;
            const float g_term = ba * (cos_ga * index_product(h, k));
            const __m128 v_hk = _mm_set1_ps(hk_sum), v_g = _mm_set1_ps(g_term);
            // kl = 0 is +0 for the twin as well: its term is not negated.
            const __m128 v_kl_sign = _mm_castsi128_ps(_mm_set1_epi32(k == 0 ? 0 : INT32_MIN));

            const int l_begin = l_first & ~3;
            __m128i v_kl = _mm_setr_epi32(k * l_begin, k * (l_begin + 1), k * (l_begin + 2),
                                          k * (l_begin + 3));
            const __m128i v_kl_step = _mm_set1_epi32(4 * k);
            for (int l0 = l_begin; l0 <= l_last; l0 += 4) {
                const __m128 s = _mm_add_ps(v_hk, _mm_load_ps(l_term + l0));
                const __m128 bt = _mm_load_ps(hl_term + l0);
                const __m128 al = _mm_mul_ps(v_cb, _mm_mul_ps(v_cos_al, _mm_cvtepi32_ps(v_kl)));
                v_kl = _mm_add_epi32(v_kl, v_kl_step);
                const __m128 qp = _mm_add_ps(
                    s, _mm_mul_ps(v_two, _mm_add_ps(_mm_add_ps(v_g, bt), al)));
                unsigned lanes = parity_lanes;
                if (l0 < l_first) lanes &= 0xFu << (l_first - l0);
                if (l0 + 3 > l_last) lanes &= 0xFu >> (l0 + 3 - l_last);
                const __m128 in_p = _mm_or_ps(
                    _mm_and_ps(_mm_cmpge_ps(qp, v_lo), _mm_cmple_ps(qp, v_hi)),
                    _mm_cmple_ps(qp, v_zero));
                const unsigned hit_p = static_cast<unsigned>(_mm_movemask_ps(in_p)) & lanes;
                unsigned hit_n = 0;
                __m128 qn = v_zero;
                if (twins) {
                    qn = _mm_add_ps(s, _mm_mul_ps(v_two, _mm_add_ps(_mm_sub_ps(v_g, bt),
                                                                    _mm_xor_ps(al, v_kl_sign))));
                    const __m128 in_n = _mm_or_ps(
                        _mm_and_ps(_mm_cmpge_ps(qn, v_lo), _mm_cmple_ps(qn, v_hi)),
                        _mm_cmple_ps(qn, v_zero));
                    const unsigned no_zero = l0 == 0 ? 0xEu : 0xFu;  // no twin of l = 0
                    hit_n = static_cast<unsigned>(_mm_movemask_ps(in_n)) & lanes & no_zero;
                }
                if ((hit_p | hit_n) == 0) continue;
                _mm_store_ps(q_pos, qp);
                _mm_store_ps(q_neg, qn);
                for (int i = 0; i < 4; ++i) {
                    if (((hit_p >> i) & 1u) && walk.visit(h, k, l0 + i, q_pos[i])) return;
                    if (((hit_n >> i) & 1u) && walk.visit(h, k, -(l0 + i), q_neg[i])) return;
                }
            }
        }
    }
}

void SORT_PLANES() {
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

std::int64_t visited_plane_count() {
    const std::int64_t h_end = HMAX > 0 ? HMAX : 0;
    const std::int64_t k_end = KMAX > 0 ? KMAX : 0;
    const std::int64_t l_end = LMAX > 0 ? LMAX : 0;
    const std::int64_t first_row = LMAX > 1 ? LMAX : 1;  // h = k = 0: l from 1
    return first_row + k_end * (l_end + 1) + h_end * (k_end + 1) * (1 + 2 * l_end);
}

}  // namespace calculator
