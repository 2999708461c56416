// The decimal digit generator against an exact reference: the complete
// decimal expansion of each value, computed here with a plain binary big
// integer (integer part by repeated division by 10^9, fraction by repeated
// multiplication by 10), then rounded half away from zero on the text.
#include <cmath>
#include <cstdint>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "for_desc_item.h"
#include "for_format.h"
#include "for_wseq_fmt.h"

namespace {

using forrtl::DecimalDigits;
using forrtl::DigitBuffer;

// Exact expansion: |value| = int_part . fraction (both decimal digit strings).
struct Expansion {
    std::string int_part;  // no leading zeros; empty for values below 1
    std::string fraction;  // all fraction digits, the last one non-zero
    bool negative = false;
};

using Limbs = std::vector<std::uint32_t>;  // base 2^32, least significant first

bool is_zero(const Limbs& a) {
    for (auto x : a)
        if (x) return false;
    return true;
}

Expansion expand_exactly(std::uint64_t m, int q, bool negative) {
    Expansion x;
    x.negative = negative;
    int shift = q > 0 ? q : 0;
    int frac_bits = q < 0 ? -q : 0;
    Limbs n((shift + 64 + frac_bits) / 32 + 2, 0);
    // n = m << shift
    for (int b = 0; b < 64; ++b)
        if ((m >> b) & 1) n[(b + shift) / 32] |= 1u << ((b + shift) % 32);
    // Split at frac_bits.
    Limbs integer(n.size(), 0), fraction(n.size() + 2, 0);
    for (std::size_t bit = 0; bit < n.size() * 32; ++bit) {
        bool v = (n[bit / 32] >> (bit % 32)) & 1;
        if (!v) continue;
        if (int(bit) < frac_bits)
            fraction[bit / 32] |= 1u << (bit % 32);
        else
            integer[(bit - frac_bits) / 32] |= 1u << ((bit - frac_bits) % 32);
    }
    // Integer part: repeated division by 10^9.
    std::vector<std::uint32_t> groups;
    while (!is_zero(integer)) {
        std::uint64_t rem = 0;
        for (std::size_t i = integer.size(); i-- > 0;) {
            std::uint64_t cur = (rem << 32) | integer[i];
            integer[i] = std::uint32_t(cur / 1000000000u);
            rem = cur % 1000000000u;
        }
        groups.push_back(std::uint32_t(rem));
    }
    for (std::size_t i = groups.size(); i-- > 0;) {
        char buf[16];
        std::snprintf(buf, sizeof buf, i + 1 == groups.size() ? "%u" : "%09u", groups[i]);
        x.int_part += buf;
    }
    // Fraction: multiply by 10, the bits above frac_bits are the next digit.
    while (!is_zero(fraction)) {
        std::uint64_t carry = 0;
        for (auto& limb : fraction) {
            std::uint64_t cur = std::uint64_t(limb) * 10 + carry;
            limb = std::uint32_t(cur);
            carry = cur >> 32;
        }
        // digit = fraction >> frac_bits; then clear those bits
        unsigned digit = 0;
        for (int b = 0; b < 4; ++b) {
            std::size_t bit = std::size_t(frac_bits + b);
            if ((fraction[bit / 32] >> (bit % 32)) & 1) digit |= 1u << b;
        }
        for (std::size_t bit = std::size_t(frac_bits); bit < std::size_t(frac_bits + 4); ++bit)
            fraction[bit / 32] &= ~(1u << (bit % 32));
        x.fraction += char('0' + digit);
    }
    return x;
}

Expansion expand_value(const void* value, int width) {
    std::uint64_t m;
    int q;
    bool negative;
    if (width == 4) {
        std::uint32_t bits;
        std::memcpy(&bits, value, 4);
        negative = bits >> 31;
        int exp = (bits >> 23) & 0xFF;
        m = bits & 0x7FFFFF;
        if (exp) m |= 1u << 23;
        q = (exp ? exp : 1) - 150;
    } else {
        std::uint64_t bits;
        std::memcpy(&bits, value, 8);
        negative = bits >> 63;
        int exp = int((bits >> 52) & 0x7FF);
        m = bits & ((std::uint64_t(1) << 52) - 1);
        if (exp) m |= std::uint64_t(1) << 52;
        q = (exp ? exp : 1) - 1075;
    }
    return expand_exactly(m, q, negative);
}

// Adds one to a digit string; returns true on a carry out of the front.
bool increment(std::string& s) {
    for (std::size_t i = s.size(); i-- > 0;) {
        if (s[i] != '9') {
            ++s[i];
            return false;
        }
        s[i] = '0';
    }
    return true;
}

struct Expected {
    std::string digits;
    int exponent;
    bool zero;  // kind zero
};

// Fixed mode: digits down to the d-th place, rounded.
Expected expect_fixed(const Expansion& x, int d) {
    std::string all = x.int_part + x.fraction;
    std::size_t point = x.int_part.size();
    std::size_t keep = point + std::size_t(d);
    std::string kept = all.substr(0, std::min(keep, all.size()));
    kept.resize(keep, '0');
    bool up = keep < all.size() && all[keep] >= '5';
    if (up && increment(kept)) kept.insert(kept.begin(), '1');
    std::size_t first = kept.find_first_not_of('0');
    Expected e;
    e.digits = first == std::string::npos ? "" : kept.substr(first);
    e.exponent = int(e.digits.size()) - d;
    e.zero = false;
    if (e.digits.empty()) {
        // Kind zero below one unit of the (d+1)-th place.
        std::size_t nz = all.find_first_not_of('0');
        bool at_least = nz != std::string::npos && nz <= point + std::size_t(d);
        e.zero = !at_least;
    }
    return e;
}

// Significant mode: n digits, rounded.
Expected expect_significant(const Expansion& x, int n) {
    std::string all = x.int_part + x.fraction;
    std::size_t first = all.find_first_not_of('0');
    int t = int(x.int_part.size()) - int(first);
    std::string digits = all.substr(first);
    std::string kept = digits.substr(0, std::min<std::size_t>(n, digits.size()));
    kept.resize(std::size_t(n), '0');
    bool up = std::size_t(n) < digits.size() && digits[std::size_t(n)] >= '5';
    if (up && increment(kept)) {
        kept.insert(kept.begin(), '1');
        kept.pop_back();
        ++t;
    }
    return {kept, t, false};
}

std::string got_digits(const DecimalDigits& dd) { return std::string(dd.digits, std::size_t(dd.count)); }

template <typename Real>
void check_value(Real v, std::mt19937_64& rng, int& checks) {
    constexpr int width = sizeof(Real);
    if (!std::isfinite(v) || v == 0) return;
    Expansion x = expand_value(&v, width);
    DigitBuffer buffer;
    DecimalDigits dd;
    char label[96];
    std::uint64_t bits = 0;
    std::memcpy(&bits, &v, width);
    for (int k = 0; k < 6; ++k) {
        int d = k < 3 ? int(rng() % 12) : int(rng() % 60);
        std::snprintf(label, sizeof label, "bits %#llx F d=%d", (unsigned long long)bits, d);
        ASSERT_EQ(forrtl::generate_decimal_digits(&v, width, forrtl::DIGITS_FIXED, d, -1, buffer, dd), 0u)
            << label;
        Expected e = expect_fixed(x, d);
        EXPECT_EQ(dd.kind, e.zero ? forrtl::DIGITS_ZERO : forrtl::DIGITS_NORMAL) << label;
        EXPECT_EQ(dd.negative, x.negative) << label;
        EXPECT_EQ(got_digits(dd), e.digits) << label;
        if (!e.zero) {
            EXPECT_EQ(dd.exponent, e.exponent) << label;
        }
        int n = k < 3 ? 1 + int(rng() % 17) : 1 + int(rng() % 60);
        std::snprintf(label, sizeof label, "bits %#llx E n=%d", (unsigned long long)bits, n);
        ASSERT_EQ(forrtl::generate_decimal_digits(&v, width, forrtl::DIGITS_SIGNIFICANT, n, -1, buffer, dd),
                  0u)
            << label;
        Expected s = expect_significant(x, n);
        EXPECT_EQ(dd.kind, forrtl::DIGITS_NORMAL) << label;
        EXPECT_EQ(got_digits(dd), s.digits) << label;
        EXPECT_EQ(dd.exponent, s.exponent) << label;
        checks += 2;
    }
}

// Random bit patterns (every magnitude, denormals included), and values with
// short binary fractions, which land exactly on rounding ties.
template <typename Real, typename Bits>
void run_random(int count) {
    std::mt19937_64 rng(sizeof(Real) * 7919);
    int checks = 0;
    for (int i = 0; i < count; ++i) {
        Real v;
        switch (i % 4) {
            case 0:
            case 1: {
                Bits b = Bits(rng());
                std::memcpy(&v, &b, sizeof v);
                break;
            }
            case 2: {  // k / 2^j: exact ties for d = j - 1
                int j = int(rng() % 12);
                v = Real(std::ldexp(double(std::int64_t(rng() % 2000001) - 1000000), -j));
                break;
            }
            default: {  // near powers of ten and small-d boundaries
                int p = int(rng() % 30) - 15;
                v = Real(std::pow(10.0, p) * (1.0 - std::ldexp(double(rng() % 64), -20)));
                if (rng() & 1) v = -v;
                break;
            }
        }
        check_value(v, rng, checks);
        if (::testing::Test::HasFailure()) return;
    }
    EXPECT_GT(checks, count);
}

TEST(DecimalDigits, Real4MatchesExactExpansion) { run_random<float, std::uint32_t>(20000); }
TEST(DecimalDigits, Real8MatchesExactExpansion) { run_random<double, std::uint64_t>(20000); }

TEST(DecimalDigits, ExtremeValues) {
    std::mt19937_64 rng(1);
    int checks = 0;
    const std::uint32_t f_bits[] = {0x00000001, 0x007FFFFF, 0x00800000, 0x7F7FFFFF, 0x3E000000,
                                    0x3F7FFFFF, 0x4B7FFFFF, 0x5F000000};
    for (auto b : f_bits) {
        float v;
        std::memcpy(&v, &b, 4);
        check_value(v, rng, checks);
    }
    const std::uint64_t d_bits[] = {0x0000000000000001ull, 0x000FFFFFFFFFFFFFull,
                                    0x0010000000000000ull, 0x7FEFFFFFFFFFFFFFull,
                                    0x3FEFFFFFFFFFFFFFull, 0x4340000000000000ull};
    for (auto b : d_bits) {
        double v;
        std::memcpy(&v, &b, 8);
        check_value(v, rng, checks);
    }
}

struct TieRow {
    const char* label;
    double value;
    bool single;
    int d;
    const char* digits;
    int exponent;
    forrtl::DigitKind kind;
};

// Exact ties round away from zero; values that round to nothing keep their
// sign only when they are at least one unit of the (d+1)-th place.
TEST(DecimalDigits, TiesAndRoundingToZero) {
    const TieRow rows[] = {
        {"0.125f d=2", 0.125, true, 2, "13", 0, forrtl::DIGITS_NORMAL},
        {"-0.125f d=2", -0.125, true, 2, "13", 0, forrtl::DIGITS_NORMAL},
        {"2.5 d=0", 2.5, false, 0, "3", 1, forrtl::DIGITS_NORMAL},
        {"0.5 d=0", 0.5, false, 0, "1", 1, forrtl::DIGITS_NORMAL},
        {"9.5 d=0", 9.5, false, 0, "10", 2, forrtl::DIGITS_NORMAL},
        {"0.375 d=2", 0.375, false, 2, "38", 0, forrtl::DIGITS_NORMAL},
        {"1.005 (just below the tie in binary) d=2", 1.005, false, 2, "100", 1, forrtl::DIGITS_NORMAL},
        {"99.995 (just above, carry) d=2", 99.995, false, 2, "10000", 3, forrtl::DIGITS_NORMAL},
        {"-0.004 d=2", -0.004, false, 2, "", -2, forrtl::DIGITS_NORMAL},
        {"-0.006 d=2", -0.006, false, 2, "1", -1, forrtl::DIGITS_NORMAL},
        {"-0.0004 d=2", -0.0004, false, 2, "", 0, forrtl::DIGITS_ZERO},
        {"-0.0 d=2", -0.0, false, 2, "", 0, forrtl::DIGITS_ZERO},
    };
    for (const auto& row : rows) {
        DigitBuffer buffer;
        DecimalDigits dd;
        float f = float(row.value);
        const void* p = row.single ? static_cast<const void*>(&f) : &row.value;
        ASSERT_EQ(forrtl::generate_decimal_digits(p, row.single ? 4 : 8, forrtl::DIGITS_FIXED, row.d, -1,
                                                  buffer, dd),
                  0u);
        EXPECT_EQ(got_digits(dd), row.digits) << row.label;
        EXPECT_EQ(dd.kind, row.kind) << row.label;
        if (row.kind == forrtl::DIGITS_NORMAL) {
            EXPECT_EQ(dd.exponent, row.exponent) << row.label;
        }
        EXPECT_EQ(dd.negative, std::signbit(row.value)) << row.label;
    }
}

TEST(DecimalDigits, SignificantCarryRaisesExponent) {
    DigitBuffer buffer;
    DecimalDigits dd;
    double v = 99999.6;
    ASSERT_EQ(forrtl::generate_decimal_digits(&v, 8, forrtl::DIGITS_SIGNIFICANT, 5, -1, buffer, dd), 0u);
    EXPECT_EQ(got_digits(dd), "10000");
    EXPECT_EQ(dd.exponent, 6);
}

TEST(DecimalDigits, WideFixedFieldsUseHeapStorageAndHonourTheCap) {
    DigitBuffer buffer;
    DecimalDigits dd;
    double v = 1.0 / 3.0;
    ASSERT_EQ(forrtl::generate_decimal_digits(&v, 8, forrtl::DIGITS_FIXED, 300, -1, buffer, dd), 0u);
    ASSERT_EQ(dd.count, 300);
    EXPECT_EQ(std::string(dd.digits, 17), "33333333333333331");
    EXPECT_EQ(dd.exponent, 0);
    double big = 1e300;
    ASSERT_EQ(forrtl::generate_decimal_digits(&big, 8, forrtl::DIGITS_FIXED, 5, 20, buffer, dd), 0u);
    EXPECT_EQ(dd.count, 20);
    EXPECT_EQ(dd.exponent, 301);
}

TEST(DecimalDigits, SpecialValuesAreClassified) {
    DigitBuffer buffer;
    DecimalDigits dd;
    float inf = -INFINITY, nan = NAN;
    ASSERT_EQ(forrtl::generate_decimal_digits(&inf, 4, forrtl::DIGITS_FIXED, 2, -1, buffer, dd), 0u);
    EXPECT_EQ(dd.kind, forrtl::DIGITS_INFINITY);
    EXPECT_TRUE(dd.negative);
    ASSERT_EQ(forrtl::generate_decimal_digits(&nan, 4, forrtl::DIGITS_SIGNIFICANT, 7, -1, buffer, dd), 0u);
    EXPECT_EQ(dd.kind, forrtl::DIGITS_NAN);
    std::uint32_t denormal_bits = 1;
    float denormal;
    std::memcpy(&denormal, &denormal_bits, 4);
    ASSERT_EQ(forrtl::generate_decimal_digits(&denormal, 4, forrtl::DIGITS_SIGNIFICANT, 3, -1, buffer, dd),
              0u);
    EXPECT_TRUE(dd.denormal);
    EXPECT_EQ(got_digits(dd), "140");
    EXPECT_EQ(dd.exponent, -44);
}

// Whole Fw.d and Ew.d fields over many widths, against fields assembled as
// text from the exact expansion: sign, integer digits (or a leading zero when
// there is room), point, fraction, exponent; asterisks when too wide.
std::string place(std::string body, bool negative, std::size_t w) {
    if (negative) body = "-" + body;
    if (body.size() > w) return std::string(w, '*');
    return std::string(w - body.size(), ' ') + body;
}

std::string reference_f(const Expansion& x, int w, int d) {
    Expected e = expect_fixed(x, d);
    std::string digits = e.digits;
    int t = e.exponent;
    std::string int_part = t > 0 ? digits.substr(0, std::size_t(t)) : "";
    std::string frac = t < 0 ? std::string(std::size_t(-t), '0') + digits : digits.substr(int_part.size());
    if (e.digits.empty()) frac = std::string(std::size_t(d), '0');
    bool negative = x.negative && !e.zero;
    std::string body = int_part + "." + frac;
    int sign = negative ? 1 : 0;
    if (int_part.empty()) {
        int free = w - int(body.size());
        if (free >= 2 || (free == 1 && !sign)) body = "0" + body;
    }
    return place(body, negative, std::size_t(w));
}

std::string reference_e(const Expansion& x, int w, int d) {
    Expected e = expect_significant(x, d);
    int ax = std::abs(e.exponent);
    char exp[16];
    if (ax <= 99)
        std::snprintf(exp, sizeof exp, "E%c%02d", e.exponent < 0 ? '-' : '+', ax);
    else
        std::snprintf(exp, sizeof exp, "%c%03d", e.exponent < 0 ? '-' : '+', ax);
    std::string body = "." + e.digits + exp;
    int free = w - int(body.size());
    if (free >= 2 || (free == 1 && !x.negative)) body = "0" + body;
    return place(body, x.negative, std::size_t(w));
}

template <typename Real, typename Bits>
void run_fields(int count) {
    std::mt19937_64 rng(sizeof(Real) * 31);
    char field[64];
    for (int i = 0; i < count; ++i) {
        Real v;
        if (i % 2) {
            Bits b = Bits(rng());
            std::memcpy(&v, &b, sizeof v);
        } else {
            v = Real(std::ldexp(double(std::int64_t(rng() % 2000001) - 1000000), -int(rng() % 24)));
        }
        if (!std::isfinite(v) || v == 0) continue;
        bool denormal = std::fpclassify(v) == FP_SUBNORMAL;
        Expansion x = expand_value(&v, sizeof(Real));
        forrtl::OutputItem item{sizeof(Real) == 4 ? forrtl::TYPE_REAL4 : forrtl::TYPE_REAL8, &v,
                                std::int64_t(sizeof(Real))};
        int d = int(rng() % 12);
        int w = 1 + int(rng() % 30);
        forrtl::EditDescriptor f{};
        f.category = forrtl::FC_F;
        f.w = w;
        f.d = d;
        forrtl::edit_output_field(item, f, field);
        if (!denormal) {
            ASSERT_EQ(std::string(field, std::size_t(w)), reference_f(x, w, d))
                << "F" << w << "." << d << " of " << v;
        }
        forrtl::EditDescriptor e = f;
        e.category = forrtl::FC_E;
        e.d = 1 + d;
        e.w = w + 6;
        forrtl::edit_output_field(item, e, field);
        ASSERT_EQ(std::string(field, std::size_t(e.w)), reference_e(x, e.w, e.d))
            << "E" << e.w << "." << e.d << " of " << v;
    }
}

TEST(DecimalDigits, Real4FieldsMatchExactExpansion) { run_fields<float, std::uint32_t>(20000); }
TEST(DecimalDigits, Real8FieldsMatchExactExpansion) { run_fields<double, std::uint64_t>(20000); }

}  // namespace
