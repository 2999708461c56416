// The AVX2 variant of the fast plane walk (eight l per vector).  Only
// ENUMERATE_PLANES calls it, after checking that the processor has AVX2;
// the rest of the program never runs code of this file.  No fused
// multiply-add is enabled: the results are those of the SSE2 variant.
#include <immintrin.h>

#include <cstdint>

#include "geometry.h"

// Everything from here on is compiled for AVX2: GCC takes its target
// pragma, clang an attribute applied to every function declared up to the
// end of the file (it ignores the GCC pragma).
#if defined(__clang__)
#pragma clang attribute push(__attribute__((target("avx2"))), apply_to = function)
#else
#pragma GCC target("avx2")
#endif

#include "plane_walk.h"

namespace calculator::walk {
namespace {

struct Avx2 {
    static constexpr int W = 8;
    using F = __m256;
    using I = __m256i;
    static F set1(float x) { return _mm256_set1_ps(x); }
    static F load(const float* p) { return _mm256_load_ps(p); }
    static F add(F a, F b) { return _mm256_add_ps(a, b); }
    static F sub(F a, F b) { return _mm256_sub_ps(a, b); }
    static F mul(F a, F b) { return _mm256_mul_ps(a, b); }
    static F sign_mask(bool on) {
        return _mm256_castsi256_ps(_mm256_set1_epi32(on ? INT32_MIN : 0));
    }
    static F flip(F a, F mask) { return _mm256_xor_ps(a, mask); }
    static F to_float(I a) { return _mm256_cvtepi32_ps(a); }
    static I iset1(int x) { return _mm256_set1_epi32(x); }
    static I iseq(int base, int step) {
        return _mm256_setr_epi32(base, base + step, base + 2 * step, base + 3 * step,
                                 base + 4 * step, base + 5 * step, base + 6 * step,
                                 base + 7 * step);
    }
    static I iadd(I a, I b) { return _mm256_add_epi32(a, b); }
    static void store(float* p, F a) { _mm256_store_ps(p, a); }
    static unsigned hits(F q, F lo, F hi, F zero) {
        const F in = _mm256_or_ps(
            _mm256_and_ps(_mm256_cmp_ps(q, lo, _CMP_GE_OQ), _mm256_cmp_ps(q, hi, _CMP_LE_OQ)),
            _mm256_cmp_ps(q, zero, _CMP_LE_OQ));
        return static_cast<unsigned>(_mm256_movemask_ps(in));
    }
};

}  // namespace

void walk_avx2(const Case& c, Table& t) { walk_planes<Avx2>(c, t); }

}  // namespace calculator::walk

#if defined(__clang__)
#pragma clang attribute pop
#endif
