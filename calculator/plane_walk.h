// The row kernel of the fast plane walk, shared by the instruction-set
// variants (SSE2 in geometry.cpp, AVX2 in geometry_avx2.cpp).
//
// Each variant includes this header once with its own vector operations.
// Everything defined here lives in an unnamed namespace, so every variant
// has its own copy compiled for its own instruction set, and no inline
// function of one variant can be picked by the linker for another.  The
// kernel uses no library templates for the same reason.
#pragma once

#include <cstdint>

#include "geometry.h"

namespace calculator::walk {

// Largest index bound of the fast walk: products of two indices stay far
// from wrapping around, and the per-l tables stay small.
inline constexpr int FAST_BOUND = 8191;
inline constexpr int TABLE_SIZE = FAST_BOUND + 17;

// Per-case values of the walk, computed once (see ENUMERATE_PLANES).
struct Case {
    int h_end, k_end, lmax;
    bool l_nonneg, c2, c3, c4, c5, c6, c7;
    float cos_ga, cos_be, cos_al;  // cos of the reciprocal angles
    float ba, ca, cb;              // BSTAR*ASTAR, CSTAR*ASTAR, CSTAR*BSTAR
    float q_lo, q_hi;              // window on Q (empty when q_lo > q_hi)
    int table_end;                 // l_term and hl_term hold entries 0..table_end-1
};

// The table being filled.
struct Table {
    int (&ih)[MAX_PLANES];
    int (&ik)[MAX_PLANES];
    int (&il)[MAX_PLANES];
    float (&d)[MAX_PLANES];
    float (&theta)[MAX_PLANES];
    int& nplanes;
};

// (CSTAR*l^2)*CSTAR of every l, and (CSTAR*ASTAR)*(cos(BESTAR)*hl) of the
// current h; 64-byte aligned.
extern float l_term[TABLE_SIZE];
extern float hl_term[TABLE_SIZE];

// The plain step of a plane that passes the codes, given its Q: the root,
// the exact window test, the angle and the store.  True when the table is
// full.
bool visit_plane(Table& t, int h, int k, int l, float q);

// The observer of skipped rows, for tests (null: none).
extern SkippedRowObserver g_skipped_row_observer;

void walk_sse2(const Case& c, Table& t);
void walk_avx2(const Case& c, Table& t);

namespace {

inline float index_product_of(int a, int b) {
    const std::uint32_t p = static_cast<std::uint32_t>(a) * static_cast<std::uint32_t>(b);
    return static_cast<float>(static_cast<std::int32_t>(p));
}

inline bool finite(float x) { return x - x == 0.0f; }

// Whether no plane of the row (h, k, l_first..l_last, and the twins (h, k,
// -l) when `twins`) can be a hit of the walk: every Q of the row positive
// and outside the window [q_lo, q_hi].  `hk` and `g` are the row's h, k
// and cos(GASTAR) terms.
//
// The bound is exact in the walk's own arithmetic, with no tolerance.
// Along the row, each of the three l terms (CSTAR*l^2)*CSTAR,
// (CSTAR*ASTAR)*(cos(BESTAR)*hl) and (CSTAR*BSTAR)*(cos(ALSTAR)*kl) is a
// chain of correctly rounded multiplications of l^2, hl or kl (which do
// not decrease with l >= 0) by constants, so it is monotonic in l and
// takes its least and greatest values at the row's ends.  Correctly rounded
// addition and subtraction are monotonic in each operand, so the walk's
// sums taken over the least (greatest) terms are bounds of every Q it
// computes for the row, as long as no NaN arises: every term at both ends
// must be finite (the terms in between then are too), and a lower bound
// that is positive rules out the one NaN left (infinities of both signs in
// the last sum).
inline bool row_outside_window(const Case& c, int k, int l_first, int l_last, bool twins, float hk, float g) {
    const float lt0 = l_term[l_first], lt1 = l_term[l_last];
    const float bt0 = hl_term[l_first], bt1 = hl_term[l_last];
    const float al0 = c.cb * (c.cos_al * index_product_of(k, l_first));
    const float al1 = c.cb * (c.cos_al * index_product_of(k, l_last));
    if (!(finite(lt0) && finite(lt1) && finite(bt0) && finite(bt1) && finite(al0) && finite(al1) &&
          finite(hk) && finite(g)))
        return false;
    const float lt_lo = lt0 < lt1 ? lt0 : lt1, lt_hi = lt0 < lt1 ? lt1 : lt0;
    const float bt_lo = bt0 < bt1 ? bt0 : bt1, bt_hi = bt0 < bt1 ? bt1 : bt0;
    const float al_lo = al0 < al1 ? al0 : al1, al_hi = al0 < al1 ? al1 : al0;
    const float s_lo = hk + lt_lo, s_hi = hk + lt_hi;
    auto outside = [&](float ip_lo, float ip_hi) {
        const float q_lo = s_lo + (ip_lo + ip_lo), q_hi = s_hi + (ip_hi + ip_hi);
        return q_lo > 0.0f && (q_lo > c.q_hi || q_hi < c.q_lo);
    };
    if (!outside((g + bt_lo) + al_lo, (g + bt_hi) + al_hi)) return false;
    if (!twins) return true;
    // The twin's terms: g - bt (falling as bt rises) and the negated kl term.
    const float nal_lo = k != 0 ? -al_hi : al_lo, nal_hi = k != 0 ? -al_lo : al_hi;
    return outside((g - bt_hi) + nal_lo, (g - bt_lo) + nal_hi);
}

// Rows shorter than this many vectors are walked without the bound: the
// bound costs about as much as walking them.
inline constexpr int SKIP_TEST_VECTORS = 3;

// Vector operations V: width W, float vector F, int vector I, and
//   set1, load, add, sub, mul, flip (xor with a sign mask), to_float,
//   iset1, iseq (base + step*lane), iadd, store, and
//   hits(q, lo, hi, zero): lane bits of (lo <= q <= hi) or (q <= 0).
template <class V>
void walk_planes(const Case& c, Table& t) {
    using F = typename V::F;
    using I = typename V::I;
    constexpr int W = V::W;
    const F v_lo = V::set1(c.q_lo), v_hi = V::set1(c.q_hi), v_zero = V::set1(0.0f);
    const F v_cos_al = V::set1(c.cos_al), v_cb = V::set1(c.cb);
    alignas(64) float q_pos[W], q_neg[W];

    for (int h = 0; h <= c.h_end; ++h) {
        const float h_term = (ASTAR * index_product_of(h, h)) * ASTAR;
        for (int l = 0; l < c.table_end; ++l)
            hl_term[l] = c.ca * (c.cos_be * index_product_of(h, l));
        const bool twins = h != 0 && !c.l_nonneg;
        for (int k = 0; k <= c.k_end; ++k) {
            if (c.c3 && !(h >= k)) continue;
            if (c.c6 && ((h + k) & 1)) continue;
            // Parity of l required by codes 4, 5 and 7: -1 none, 0 even, 1 odd.
            int parity = -1;
            bool contradiction = false;
            const int wanted[3] = {c.c4 ? (k & 1) : -1, c.c5 ? (h & 1) : -1,
                                   c.c7 ? ((h + k) & 1) : -1};
            for (int w : wanted) {
                if (w < 0) continue;
                if (parity >= 0 && parity != w) contradiction = true;
                parity = w;
            }
            if (contradiction) continue;
            const int l_first = (h == 0 && k == 0) ? 1 : 0;
            int l_last = c.lmax > l_first ? c.lmax : l_first;
            if (c.c2 && l_last > k) l_last = k;
            if (l_last < l_first) continue;
            // Lanes of the right parity (vectors start at a multiple of W).
            unsigned parity_lanes = (1u << W) - 1;
            if (parity >= 0) parity_lanes &= parity == 0 ? 0x55555555u : 0xAAAAAAAAu;

            const float hk = h_term + (BSTAR * index_product_of(k, k)) * BSTAR;
            const float g = c.ba * (c.cos_ga * index_product_of(h, k));
            if (l_last - l_first >= SKIP_TEST_VECTORS * W && row_outside_window(c, k, l_first, l_last, twins, hk, g)) {
                if (g_skipped_row_observer) g_skipped_row_observer(h, k, l_first, l_last, twins);
                continue;
            }
            const F v_hk = V::set1(hk);
            const F v_g = V::set1(g);
            // kl = 0 is +0 for the twin as well: its term keeps its sign.
            const F v_kl_sign = V::sign_mask(k != 0);
            const int l_begin = l_first & ~(W - 1);
            I v_kl = V::iseq(k * l_begin, k);
            const I v_kl_step = V::iset1(W * k);

            for (int l0 = l_begin; l0 <= l_last; l0 += W) {
                const F s = V::add(v_hk, V::load(l_term + l0));
                const F bt = V::load(hl_term + l0);
                const F al = V::mul(v_cb, V::mul(v_cos_al, V::to_float(v_kl)));
                v_kl = V::iadd(v_kl, v_kl_step);
                const F ip = V::add(V::add(v_g, bt), al);
                const F qp = V::add(s, V::add(ip, ip));
                F qn = v_zero;
                unsigned hit = V::hits(qp, v_lo, v_hi, v_zero);
                if (twins) {
                    const F in = V::add(V::sub(v_g, bt), V::flip(al, v_kl_sign));
                    qn = V::add(s, V::add(in, in));
                    hit |= V::hits(qn, v_lo, v_hi, v_zero);
                }
                if ((hit & parity_lanes) == 0) continue;
                // A plane of this group may be stored or may fail its root:
                // take every plane of the group that passes the codes
                // through the plain step, in visiting order.
                V::store(q_pos, qp);
                V::store(q_neg, qn);
                for (int i = 0; i < W; ++i) {
                    const int l = l0 + i;
                    if (l < l_first || l > l_last || !((parity_lanes >> i) & 1u)) continue;
                    if (visit_plane(t, h, k, l, q_pos[i])) return;
                    if (twins && l != 0 && visit_plane(t, h, k, -l, q_neg[i])) return;
                }
            }
        }
    }
}

}  // namespace
}  // namespace calculator::walk
