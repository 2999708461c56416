// Exact decimal digits of IEEE reals.
//
// A finite value is m x 2^q with an integer m.  The digits asked for are the
// integer R = |value| x 10^p rounded half away from zero, where p is the
// number of places (fixed mode) or n - t (significant mode).  Two ways to get
// R, both exact:
//   - a 128-bit path, taken when m x 2^q x 10^p fits as a fraction of two
//     128-bit integers (every common field width of both real widths);
//   - a big-integer path that expands the value completely in decimal, as the
//     base-10^9 integer m x 2^q (q >= 0) or m x 5^-q scaled by 10^q (q < 0),
//     and rounds on the digits (the remainder is at least one half exactly
//     when the first dropped digit is 5 or more).
#include <cstring>

#include "for_wseq_fmt.h"

namespace forrtl {

namespace {

using u128 = unsigned __int128;

struct Unpacked {
    std::uint64_t m;
    int q;
    bool negative;
    bool denormal;
    DigitKind kind;
};

Unpacked unpack(const void* value, int width) {
    Unpacked u{0, 0, false, false, DIGITS_NORMAL};
    std::uint64_t frac;
    int exp, exp_max, bias, frac_bits;
    if (width == 4) {
        std::uint32_t bits;
        std::memcpy(&bits, value, 4);
        u.negative = (bits >> 31) != 0;
        exp = int((bits >> 23) & 0xFF);
        frac = bits & 0x7FFFFFu;
        exp_max = 0xFF;
        bias = 127;
        frac_bits = 23;
    } else {
        std::uint64_t bits;
        std::memcpy(&bits, value, 8);
        u.negative = (bits >> 63) != 0;
        exp = int((bits >> 52) & 0x7FF);
        frac = bits & ((std::uint64_t(1) << 52) - 1);
        exp_max = 0x7FF;
        bias = 1023;
        frac_bits = 52;
    }
    if (exp == exp_max) {
        u.kind = frac ? DIGITS_NAN : DIGITS_INFINITY;
        return u;
    }
    if (exp == 0) {
        if (frac == 0) {
            u.kind = DIGITS_ZERO;
            return u;
        }
        u.denormal = true;
        u.m = frac;
        u.q = 1 - bias - frac_bits;
    } else {
        u.m = frac | (std::uint64_t(1) << frac_bits);
        u.q = exp - bias - frac_bits;
    }
    // Trailing zero bits only lengthen the arithmetic.
    int tz = __builtin_ctzll(u.m);
    u.m >>= tz;
    u.q += tz;
    return u;
}

constexpr int kMaxPow10 = 38;

struct Pow10Table {
    u128 v[kMaxPow10 + 1];
    int bits[kMaxPow10 + 1];
};

constexpr Pow10Table make_pow10() {
    Pow10Table t{};
    u128 p = 1;
    for (int i = 0; i <= kMaxPow10; ++i) {
        t.v[i] = p;
        int b = 0;
        for (u128 x = p; x; x >>= 1) ++b;
        t.bits[i] = b;
        p *= 10;
    }
    return t;
}

constexpr Pow10Table kPow10 = make_pow10();

const char kDigitPairs[] =
    "00010203040506070809101112131415161718192021222324252627282930313233343536373839"
    "40414243444546474849505152535455565758596061626364656667686970717273747576777879"
    "8081828384858687888990919293949596979899";

constexpr std::uint64_t kPow10u64[20] = {
    1ull, 10ull, 100ull, 1000ull, 10000ull, 100000ull, 1000000ull, 10000000ull, 100000000ull,
    1000000000ull, 10000000000ull, 100000000000ull, 1000000000000ull, 10000000000000ull,
    100000000000000ull, 1000000000000000ull, 10000000000000000ull, 100000000000000000ull,
    1000000000000000000ull, 10000000000000000000ull};

// Decimal digits of v (1 for 0): from the bit length, log10(2) ~ 1233 / 4096.
int u64_digit_count(std::uint64_t v) {
    int bits = 64 - __builtin_clzll(v | 1);
    int t = (bits * 1233) >> 12;
    return t + (v >= kPow10u64[t] ? 1 : 0);
}

// Writes exactly n digits of v (v < 10^n), zero-filled on the left.
void put_u64_digits(std::uint64_t v, int n, char* out) {
    char* p = out + n;
    while (v >= 100) {
        unsigned r = unsigned(v % 100);
        v /= 100;
        p -= 2;
        std::memcpy(p, kDigitPairs + 2 * r, 2);
    }
    if (v >= 10) {
        p -= 2;
        std::memcpy(p, kDigitPairs + 2 * v, 2);
    } else {
        *--p = char('0' + v);
    }
    while (p > out) *--p = '0';
}

// Digits of v > 0 without leading zeros; returns the count (at most 39).
int put_u128_digits(u128 v, char* out) {
    constexpr std::uint64_t k19 = 10000000000000000000ull;
    if ((v >> 64) == 0) {
        std::uint64_t x = std::uint64_t(v);
        int n = u64_digit_count(x);
        put_u64_digits(x, n, out);
        return n;
    }
    u128 high = v / k19;
    std::uint64_t low = std::uint64_t(v % k19);
    int n = put_u128_digits(high, out);
    put_u64_digits(low, 19, out + n);
    return n + 19;
}

// floor(|value| x 10^p) and how the remainder compares, on 128-bit integers.
struct Scaled {
    u128 floor;
    bool round_up;   // remainder >= one half
    bool ge_tenth;   // |value| x 10^(p+1) >= 1
};

// Returns false when the numbers do not fit in 128 bits.
bool scale_128(std::uint64_t m, int q, int p, Scaled& out) {
    int m_bits = 64 - __builtin_clzll(m);
    // numerator m x 2^max(q,0) x 10^max(p,0), denominator 2^max(-q,0) x 10^max(-p,0)
    int up2 = q > 0 ? q : 0, down2 = q < 0 ? -q : 0;
    int up10 = p > 0 ? p : 0, down10 = p < 0 ? -p : 0;
    if (up10 > kMaxPow10 || down10 > kMaxPow10) return false;
    int num_bits = m_bits + up2 + kPow10.bits[up10];
    if (num_bits > 123) return false;
    if (num_bits <= 59 && down10 == 0 && down2 > 0 && down2 <= 60) {
        // The common case of short fields: everything fits in 64 bits.
        std::uint64_t num64 = (m << up2) * std::uint64_t(kPow10.v[up10]);
        std::uint64_t mask = (std::uint64_t(1) << down2) - 1;
        std::uint64_t rem = num64 & mask;
        out.floor = num64 >> down2;
        out.round_up = (rem << 1) > mask;
        out.ge_tenth = out.floor != 0 || num64 * 10 > mask;
        return true;
    }
    u128 num = (u128(m) << up2) * kPow10.v[up10];
    if (down10 == 0) {
        if (down2 == 0) {
            out = {num, false, true};
            return true;
        }
        if (down2 >= 124) {
            // far below one: 10 x num < 2^127 <= denominator
            if (num_bits + 4 > down2 - 1) return false;
            out = {0, false, false};
            return true;
        }
        u128 mask = (u128(1) << down2) - 1;
        u128 rem = num & mask;
        out.floor = num >> down2;
        out.round_up = (rem << 1) > mask;  // 2 rem >= 2^down2
        out.ge_tenth = out.floor != 0 || num * 10 > mask;
        return true;
    }
    if (down2 + kPow10.bits[down10] > 123) return false;
    u128 den = kPow10.v[down10] << down2;
    out.floor = num / den;
    u128 rem = num - out.floor * den;
    out.round_up = (rem << 1) >= den;
    out.ge_tenth = out.floor != 0 || num * 10 >= den;
    return true;
}

// floor(log10(2^e2)) for |e2| < 2000.
int floor_log10_pow2(int e2) { return int((std::int64_t(e2) * 1292913986) >> 32); }

// ---------------------------------------------------------------------------
// Big-integer path: the complete decimal expansion.

constexpr int kBigLimbs = 100;  // 86 suffice for the smallest double denormal
constexpr std::uint32_t kBase = 1000000000u;

struct BigDecimal {
    std::uint32_t limb[kBigLimbs];  // base 10^9, least significant first
    int n;
};

void big_mul(BigDecimal& b, std::uint32_t f) {
    std::uint64_t carry = 0;
    for (int i = 0; i < b.n; ++i) {
        std::uint64_t x = std::uint64_t(b.limb[i]) * f + carry;
        b.limb[i] = std::uint32_t(x % kBase);
        carry = x / kBase;
    }
    while (carry) {
        b.limb[b.n++] = std::uint32_t(carry % kBase);
        carry /= kBase;
    }
}

// The expansion of m x 2^q: its digits and the decimal exponent t of the value.
struct Expansion {
    BigDecimal big;
    int digits;  // digits of the integer
    int t;
};

void expand(std::uint64_t m, int q, Expansion& x) {
    BigDecimal& b = x.big;
    b.n = 0;
    while (m) {
        b.limb[b.n++] = std::uint32_t(m % kBase);
        m /= kBase;
    }
    if (q > 0) {
        int k = q;
        for (; k >= 29; k -= 29) big_mul(b, 1u << 29);
        if (k) big_mul(b, 1u << k);
    } else if (q < 0) {
        int k = -q;
        for (; k >= 13; k -= 13) big_mul(b, 1220703125u);  // 5^13
        std::uint32_t f = 1;
        while (k--) f *= 5;
        if (f != 1) big_mul(b, f);
    }
    std::uint32_t top = b.limb[b.n - 1];
    int top_digits = u64_digit_count(top);
    x.digits = (b.n - 1) * 9 + top_digits;
    x.t = x.digits + (q < 0 ? q : 0);
}

// Digit i (0 = most significant) of the expansion; 0 beyond its end.
int expansion_digit(const Expansion& x, int i) {
    if (i >= x.digits) return 0;
    int pos = x.digits - 1 - i;  // from the least significant digit
    std::uint32_t v = x.big.limb[pos / 9];
    return int(v / std::uint32_t(kPow10.v[pos % 9]) % 10);
}

// Writes the first n digits (zero-padded beyond the expansion).
void expansion_digits(const Expansion& x, int n, char* out) {
    int written = 0;
    int li = x.big.n - 1;
    std::uint32_t top = x.big.limb[li];
    int td = u64_digit_count(top);
    char tmp[9];
    put_u64_digits(top, td, tmp);
    for (int i = 0; i < td && written < n; ++i) out[written++] = tmp[i];
    for (--li; li >= 0 && written < n; --li) {
        if (n - written >= 9) {
            put_u64_digits(x.big.limb[li], 9, out + written);
            written += 9;
        } else {
            put_u64_digits(x.big.limb[li], 9, tmp);
            for (int i = 0; written < n; ++i) out[written++] = tmp[i];
        }
    }
    while (written < n) out[written++] = '0';
}

// Adds one unit of the last of n digits; true when the carry ran out of the
// first digit (the digits are then "1000...").
bool round_up_digits(char* d, int n) {
    for (int i = n - 1; i >= 0; --i) {
        if (d[i] != '9') {
            ++d[i];
            return false;
        }
        d[i] = '0';
    }
    if (n > 0) d[0] = '1';
    return true;
}

Status slow_path(const Unpacked& u, DigitMode mode, std::int32_t n, std::int32_t cap,
                 DigitBuffer& buffer, DecimalDigits& out) {
    Expansion x;
    expand(u.m, u.q, x);
    int t = x.t;
    std::int64_t count;
    if (mode == DIGITS_FIXED) {
        count = std::int64_t(t) + n;
        if (count < 0) {
            out.kind = DIGITS_ZERO;
            out.count = 0;
            out.exponent = 0;
            return 0;
        }
        if (cap >= 0 && count > cap) count = cap;
    } else {
        count = n;
    }
    if (!buffer.reserve(std::int32_t(count) + 2)) return status_of(MSG_OUTPUT_CONVERSION);
    char* d = buffer.data;
    if (count == 0) {
        // Nothing before the rounding place: one unit of it, or nothing.
        if (expansion_digit(x, 0) >= 5) {
            d[0] = '1';
            out.count = 1;
            out.exponent = t + 1;
        } else {
            out.count = 0;
            out.exponent = t;
        }
        out.digits = d;
        return 0;
    }
    int c = int(count);
    expansion_digits(x, c, d);
    if (expansion_digit(x, c) >= 5 && round_up_digits(d, c)) {
        ++t;
        if (mode == DIGITS_FIXED && (cap < 0 || c < cap)) d[c++] = '0';
    }
    out.digits = d;
    out.count = c;
    out.exponent = t;
    return 0;
}

}  // namespace

bool DigitBuffer::reserve(std::int32_t n) {
    if (n <= capacity) return true;
    std::int32_t size = n < 2 * capacity ? 2 * capacity : n;
    char* p = static_cast<char*>(std::malloc(std::size_t(size)));
    if (!p) return false;
    if (data != local) std::free(data);
    data = p;
    capacity = size;
    return true;
}

Status generate_decimal_digits(const void* value, int width, DigitMode mode, std::int32_t n,
                               std::int32_t cap, DigitBuffer& buffer, DecimalDigits& out) {
    Unpacked u = unpack(value, width);
    out.digits = buffer.data;
    out.count = 0;
    out.exponent = 0;
    out.negative = u.negative;
    out.denormal = u.denormal;
    out.kind = u.kind;
    if (u.kind != DIGITS_NORMAL) return 0;
    if (mode == DIGITS_SIGNIFICANT && n < 1) {
        // No significant digit asked for: nothing to round to.
        out.exponent = 0;
        return 0;
    }

    Scaled s;
    if (mode == DIGITS_FIXED) {
        if (n >= 0 && scale_128(u.m, u.q, n, s)) {
            u128 r = s.floor + (s.round_up ? 1 : 0);
            if (r == 0) {
                if (!s.ge_tenth) out.kind = DIGITS_ZERO;
                out.exponent = s.ge_tenth ? -n : 0;
                return 0;
            }
            int c = put_u128_digits(r, buffer.data);
            out.count = c;
            out.exponent = c - n;
            if (c <= cap || cap < 0) return 0;
            // Wider than the field can show: fall through to the capped
            // expansion so that the digit count honours the cap.
        }
    } else if (n <= kMaxPow10 - 2) {
        int e2 = 63 - __builtin_clzll(u.m) + u.q;  // 2^e2 <= |value| < 2^(e2+1)
        int t = floor_log10_pow2(e2) + 1;          // 10^(t-1) <= |value| up to one off
        for (int attempt = 0; attempt < 3; ++attempt) {
            if (!scale_128(u.m, u.q, n - t, s)) break;
            if (s.floor >= kPow10.v[n]) {
                ++t;
                continue;
            }
            if (s.floor < kPow10.v[n - 1]) {
                --t;
                continue;
            }
            u128 r = s.floor + (s.round_up ? 1 : 0);
            if (r == kPow10.v[n]) {
                r = kPow10.v[n - 1];
                ++t;
            }
            out.count = put_u128_digits(r, buffer.data);
            out.exponent = t;
            return 0;
        }
    }
    Status st = slow_path(u, mode, n, cap, buffer, out);
    if (out.kind == DIGITS_NORMAL && out.count == 0 && mode == DIGITS_FIXED) out.exponent = -n;
    return st;
}

}  // namespace forrtl
