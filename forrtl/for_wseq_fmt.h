// Output editing: one data item into one field of exactly w characters, and
// the exact decimal digit generator beneath the real descriptors.
//
// These are pure functions on plain data: they know nothing of units, records
// or format programs.  The statement drivers resolve the descriptor (category,
// w, d, e from the format state, the statement's scale factor, sign mode and
// option bits), make room for w characters at the current position and call
// edit_output_field there.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "for_format.h"
#include "for_status.h"

namespace forrtl {

// ---------------------------------------------------------------------------
// Item types as editing sees them.

enum ItemFamily : std::uint8_t {
    FAM_INVALID = 0,
    FAM_INTEGER,    // two's complement
    FAM_UNSIGNED,   // edited without a sign
    FAM_LOGICAL,    // true when the lowest bit is 1
    FAM_REAL,       // IEEE single or double; complex parts arrive one at a time
    FAM_CHARACTER,  // declared length from the item
};

struct EditType {
    ItemFamily family;
    std::int32_t size;  // bytes of one value (one part for complex); 0 for character
};

// The family and size of an item type code.  Integer and logical codes 5..17:
// odd codes 5, 7, 9, 11 and 13 are signed integers of 1, 2, 4, 8 and 4 bytes,
// even codes 6, 8, 10, 12 their unsigned counterparts, 14..17 logicals of 1,
// 2, 4 and 8 bytes.  Real codes 25, 26 are 4-byte, 27, 45, 46, 48 8-byte and
// 50 16-byte reals; complex codes 28, 29, 31 have 4-byte parts and 40, 42, 43,
// 44 8-byte parts.  56 is character.
constexpr EditType edit_type_of(std::uint8_t type) {
    switch (type) {
        case 5: return {FAM_INTEGER, 1};
        case 6: return {FAM_UNSIGNED, 1};
        case 7: return {FAM_INTEGER, 2};
        case 8: return {FAM_UNSIGNED, 2};
        case 9: case 13: return {FAM_INTEGER, 4};
        case 10: return {FAM_UNSIGNED, 4};
        case 11: return {FAM_INTEGER, 8};
        case 12: return {FAM_UNSIGNED, 8};
        case 14: return {FAM_LOGICAL, 1};
        case 15: return {FAM_LOGICAL, 2};
        case 16: return {FAM_LOGICAL, 4};
        case 17: return {FAM_LOGICAL, 8};
        case 25: case 26: case 28: case 29: case 31: return {FAM_REAL, 4};
        case 27: case 40: case 42: case 43: case 44: case 45: case 46: case 48: return {FAM_REAL, 8};
        case 50: return {FAM_REAL, 16};
        case 56: return {FAM_CHARACTER, 0};
        default: return {FAM_INVALID, 0};
    }
}

// ---------------------------------------------------------------------------
// Exact decimal digits of a real.

enum DigitMode : std::uint8_t {
    DIGITS_FIXED = 0,        // digits down to the n-th place after the point
    DIGITS_SIGNIFICANT = 1,  // n significant digits
};

enum DigitKind : std::uint8_t {
    DIGITS_NORMAL = 0,
    DIGITS_ZERO,      // the value is zero, or in fixed mode below one unit of
                      // the (n+1)-th place: always printed as non-negative
    DIGITS_NAN,
    DIGITS_INFINITY,
};

// Working storage of the digit generator: 64 characters on the stack, a heap
// block only for unusually wide fields.
struct DigitBuffer {
    char* data = local;
    std::int32_t capacity = kLocalSize;
    static constexpr std::int32_t kLocalSize = 64;
    char local[kLocalSize];

    DigitBuffer() = default;
    DigitBuffer(const DigitBuffer&) = delete;
    DigitBuffer& operator=(const DigitBuffer&) = delete;
    ~DigitBuffer() {
        if (data != local) std::free(data);
    }
    // Makes room for n characters; false when the storage cannot be had.
    bool reserve(std::int32_t n);
};

struct DecimalDigits {
    const char* digits;     // '0'..'9', not terminated
    std::int32_t count;     // digits in `digits`
    std::int32_t exponent;  // t: |value| rounded = 0.d1d2d3... x 10^t
    bool negative;          // sign bit of the value (also for zero and NaN)
    bool denormal;
    DigitKind kind;
};

// Produces the decimal digits of the 4- or 8-byte IEEE real at `value`
// (width 4 or 8), rounded half away from zero on the exact binary value.
//   DIGITS_FIXED, n = d: the digits of |value| rounded to d places after the
//   point, from the first non-zero digit (count = t + d).  A count above `cap`
//   is cut at `cap` digits (the field is too narrow anyway).  A value that
//   rounds to nothing but is at least one unit of the (d+1)-th place gives
//   count 0 with kind normal, so that its sign is kept; a smaller one gives
//   kind zero.
//   DIGITS_SIGNIFICANT, n >= 1: exactly n digits, d1 non-zero.
// Returns 0, or 63 (output conversion error) when a wide field needs storage
// that cannot be had.
Status generate_decimal_digits(const void* value, int width, DigitMode mode, std::int32_t n,
                               std::int32_t cap, DigitBuffer& buffer, DecimalDigits& out);

// ---------------------------------------------------------------------------
// Output editing of one field.

struct OutputItem {
    std::uint8_t type;    // item type code
    const void* address;  // the value (one element; one part of a complex)
    std::int64_t length;  // bytes (a character item's declared length)
};

struct EditDescriptor {
    std::uint8_t category;   // FmtCategory of a data edit descriptor
    std::int32_t w;
    std::int32_t d;          // digits after the point, or m for I, O, Z, B
    std::int32_t e;          // exponent digits of the Ee forms, 0 when not given
    std::int32_t scale;      // kP
    SignMode sign;
    std::uint32_t options;   // statement flag word: SF_STANDARD_RULES (G of zero),
                             // SF_ALT_LIST_LAYOUT (second G rule), SF_TRUE_NONZERO (L)
    bool list_directed;      // G prints zero in E form whatever the options
};

namespace edit_detail {

constexpr bool has_no_width(std::uint8_t c) {
    return (c >= FC_A0 && c <= FC_Z0) || c == FC_B0 || c == FC_EN0 || c == FC_ES0;
}

constexpr std::int32_t integer_default_width(std::int32_t size) {
    return size <= 2 ? 7 : (size <= 4 ? 12 : 23);
}

}  // namespace edit_detail

// Fills w, d and e of a descriptor written without width from the default
// widths for the item, and moves its category to the form with width (A to
// Aw, I to Iw.m, E to Ew.dEe, ...).  Descriptors with width are unchanged.
constexpr void apply_default_width(EditDescriptor& desc, const OutputItem& item) {
    if (!edit_detail::has_no_width(desc.category)) return;
    EditType et = edit_type_of(item.type);
    std::int32_t size = et.family == FAM_CHARACTER ? std::int32_t(item.length) : et.size;
    bool real = et.family == FAM_REAL;
    std::int32_t real_w = size == 4 ? 15 : (size == 8 ? 25 : 43);
    std::int32_t real_d = size == 4 ? 7 : (size == 8 ? 16 : 33);
    std::int32_t real_e = size == 16 ? 4 : 2;
    auto set = [&](std::uint8_t category, std::int32_t w, std::int32_t d, std::int32_t e) {
        desc.category = category;
        desc.w = w;
        desc.d = d;
        desc.e = e;
    };
    switch (desc.category) {
        case FC_A0: set(FC_A, std::int32_t(item.length), 0, 0); break;
        case FC_I0: set(FC_IM, edit_detail::integer_default_width(size), 1, 0); break;
        case FC_O0: set(FC_OM, edit_detail::integer_default_width(size), 1, 0); break;
        case FC_Z0: set(FC_ZM, edit_detail::integer_default_width(size), 1, 0); break;
        case FC_B0: set(FC_BM, 8 * size + 1, 1, 0); break;
        case FC_L0: set(FC_L, 2, 0, 0); break;
        case FC_G0:
            if (et.family == FAM_CHARACTER) set(FC_GE, size, 0, 0);
            else if (!real) set(FC_GE, edit_detail::integer_default_width(size), 1, 0);
            else set(FC_GE, real_w, real_d, real_e);
            break;
        default: {
            std::uint8_t category = desc.category == FC_F0    ? FC_F
                                    : desc.category == FC_E0  ? FC_EE
                                    : desc.category == FC_D0  ? FC_D
                                    : desc.category == FC_EN0 ? FC_ENE
                                                              : FC_ESE;
            if (real) set(category, real_w, real_d, category == FC_F ? 0 : real_e);
            else set(category, edit_detail::integer_default_width(size), 0, 0);
            break;
        }
    }
}

// Writes exactly desc.w characters at `field` (after apply_default_width for
// descriptors without width).  Returns 0; 63 (output conversion error) when
// the value does not fit and the field has been filled with asterisks; 61
// (format/variable-type mismatch) when the descriptor does not accept the
// item, the field being left as it was; 48 for a category that is not a data
// edit descriptor or an item type editing does not know.
Status edit_output_field(const OutputItem& item, const EditDescriptor& desc, char* field);

// Text conversion primitive shared with list-directed output: the digits of
// an unsigned magnitude in radix 10, right-aligned at the end of
// [field, field + w), zero-filled to at least m digits, with `sign` ('-',
// '+' or 0) before them and blanks before that.  Returns false (field filled
// with asterisks) when they do not fit.
bool put_integer_field(char* field, std::int32_t w, std::uint64_t magnitude, std::int32_t m,
                       char sign);

// The same for radix 2^bits (bits 1, 3 or 4: B, O, Z): the digits of the
// `length` bytes at `value`, read as one little-endian unsigned number, upper
// case A-F, at least m of them.  Returns 0, or 63 with the field filled with
// asterisks when they do not fit.
Status put_radix_field(const void* value, std::int64_t length, int bits, std::int32_t w,
                       std::int32_t m, char* field);

// ---------------------------------------------------------------------------
// Short ways for the most common fields.  They give exactly what
// edit_output_field gives for the same item and descriptor.

namespace edit_detail {

inline constexpr char kDigitPairs[] =
    "00010203040506070809101112131415161718192021222324252627282930313233343536373839"
    "40414243444546474849505152535455565758596061626364656667686970717273747576777879"
    "8081828384858687888990919293949596979899";

inline constexpr std::uint64_t kPow10[20] = {
    1ull, 10ull, 100ull, 1000ull, 10000ull, 100000ull, 1000000ull, 10000000ull, 100000000ull,
    1000000000ull, 10000000000ull, 100000000000ull, 1000000000000ull, 10000000000000ull,
    100000000000000ull, 1000000000000000ull, 10000000000000000ull, 100000000000000000ull,
    1000000000000000000ull, 10000000000000000000ull};

// v / 10^D for v < 2^62, by multiplying with the rounded-up reciprocal
// m = ceil(2^(62+l) / 10^D), l = ceil(log2 10^D): then 2^(62+l) <= m 10^D <
// 2^(62+l) + 2^l, which makes the quotient exact for every v below 2^62
// (Granlund and Montgomery).  A compiler turns a division by a constant
// into the same multiplication, but not always (a shared tail of two
// fields divides by a register).
template <int D>
inline std::uint64_t divide_by_pow10(std::uint64_t v) {
    static_assert(D >= 0 && D <= 18);
    if constexpr (D == 0) {
        return v;
    } else {
        constexpr int l = [] {
            int bits = 0;
            while ((std::uint64_t(1) << bits) < kPow10[D]) ++bits;
            return bits;
        }();
        constexpr unsigned __int128 top = static_cast<unsigned __int128>(1) << (62 + l);
        constexpr unsigned __int128 m = (top + kPow10[D] - 1) / kPow10[D];
        return static_cast<std::uint64_t>((static_cast<unsigned __int128>(v) * m) >> (62 + l));
    }
}

// Writes the decimal digits of 0 < v < 2^62 so that they end just before
// `end`; returns where they start.
inline char* put_all_digits_back(char* end, std::uint64_t v) {
    while (v >= 100) {
        const std::uint64_t q = divide_by_pow10<2>(v);
        end -= 2;
        std::memcpy(end, kDigitPairs + 2 * (v - 100 * q), 2);
        v = q;
    }
    if (v >= 10) {
        end -= 2;
        std::memcpy(end, kDigitPairs + 2 * v, 2);
    } else {
        *--end = static_cast<char>('0' + v);
    }
    return end;
}

// Whether v has at most n decimal digits (none for 0).
inline bool fits_digits(std::uint64_t v, std::int32_t n) { return n >= 20 || (n >= 0 && v < kPow10[n]); }

// Writes the n lowest decimal digits of v (zero-filled) so that they end
// just before `end`; returns where they start.
inline char* put_digits_back(char* end, std::uint64_t v, int n) {
    for (; n >= 2; n -= 2) {
        end -= 2;
        std::memcpy(end, kDigitPairs + 2 * (v % 100), 2);
        v /= 100;
    }
    if (n) *--end = static_cast<char>('0' + v % 10);
    return end;
}

}  // namespace edit_detail

// Iw.m of a 4-byte integer (`plus`: the SP sign mode).  Returns 0, or 1
// when the field is too narrow and has been filled with asterisks (the
// output conversion error).
[[gnu::always_inline]] inline int integer_field_int32(std::int32_t value, std::int32_t w, std::int32_t m, bool plus,
                                                     char* field) {
    using namespace edit_detail;
    const bool negative = value < 0;
    const std::uint64_t magnitude = negative ? 0 - std::uint64_t(std::int64_t(value)) : std::uint64_t(value);
    char sign = negative ? '-' : (plus ? '+' : 0);
    if (magnitude == 0 && m == 0) sign = 0;  // Iw.0 of zero: all blanks
    // The field takes the digits (at least m of them) and the sign when the
    // value has no more digits than the room beside the sign: with constant
    // w and m the count is one comparison.
    const std::int32_t room = w - (sign ? 1 : 0);
    if (m < 0 || w < 0 || m > room || !fits_digits(magnitude, room)) {
        if (w > 0) std::memset(field, '*', std::size_t(w));
        return 1;
    }
    // Blanks first, then the digits from the right: with a constant width
    // the blanks are a few fixed stores.
    std::memset(field, ' ', std::size_t(w));
    char* p = magnitude ? put_all_digits_back(field + w, magnitude) : field + w;
    while (field + w - p < m) *--p = '0';
    if (sign) *--p = sign;
    return 0;
}

// Fw.d of a 4-byte real without scale factor, the short way: a finite value
// below 2^32 in magnitude (denormals excepted) with at most 9 places.
// |value| x 10^d is then below 2^62, and the exact value m x 2^q x 10^d is
// rounded half away from zero in 64-bit integers.  Returns 0 (field
// written), 1 (field too narrow: asterisks), or kFixedLongWay when the value
// needs the exact digit generator (nothing written).
// The places D are a template parameter so that the divisions by 10^D are
// by a constant wherever the field is edited (a shared tail of two F fields
// would otherwise divide by a register).
constexpr int kFixedLongWay = -1;

template <int D>
[[gnu::always_inline]] inline int fixed_field_real4(const void* value, std::int32_t w, bool plus, char* field) {
    static_assert(D >= 0 && D <= 9);
    using namespace edit_detail;
    constexpr std::int32_t d = D;
    std::uint32_t bits;
    std::memcpy(&bits, value, 4);
    if (w <= 0) return kFixedLongWay;
    const std::uint32_t exp = (bits >> 23) & 0xFFu;
    // r = |value| x 10^d rounded; `shown_zero`: the value is below one unit
    // of the (d+1)-th place, so that it shows as zero without a sign.
    std::uint64_t r = 0;
    bool shown_zero = true;
    if (exp != 0) {
        if (exp > 158) return kFixedLongWay;  // 2^32 and above, infinity, NaN
        const std::uint64_t n = std::uint64_t((bits & 0x7FFFFFu) | 0x800000u) * kPow10[d];
        if (exp >= 150) {
            r = n << (exp - 150);
            shown_zero = false;
        } else if (exp >= 90) {
            // n x 2^-s with 1 <= s <= 60; below that 10 n < 2^58 < 2^s.
            const int s = 150 - static_cast<int>(exp);
            const std::uint64_t half = std::uint64_t(1) << (s - 1);
            const std::uint64_t whole = n >> s;
            r = whole + ((n & (2 * half - 1)) >= half ? 1 : 0);
            shown_zero = whole == 0 && n * 10 < 2 * half;
        }
    } else if (bits & 0x7FFFFFu) {
        return kFixedLongWay;  // denormal: shown in E form
    }
    const char sign = ((bits >> 31) && !shown_zero) ? '-' : (plus ? '+' : 0);
    const std::uint64_t integer = divide_by_pow10<D>(r);
    // Room for the integer digits beside the point, the places and the sign.
    const std::int32_t room = w - 1 - d - (sign ? 1 : 0);
    if (room < 0 || !fits_digits(integer, room)) {
        std::memset(field, '*', std::size_t(w));
        return 1;
    }
    std::memset(field, ' ', std::size_t(w));
    char* p = put_digits_back(field + w, r - integer * kPow10[d], d);
    *--p = '.';
    if (integer)
        p = put_all_digits_back(p, integer);
    else if (room >= 1)
        *--p = '0';  // the optional zero, when there is room for it
    if (sign) *--p = sign;
    return 0;
}

// The same with the places known at run time.
inline int fixed_field_real4(const void* value, std::int32_t w, std::int32_t d, bool plus, char* field) {
    switch (d) {
    case 0: return fixed_field_real4<0>(value, w, plus, field);
    case 1: return fixed_field_real4<1>(value, w, plus, field);
    case 2: return fixed_field_real4<2>(value, w, plus, field);
    case 3: return fixed_field_real4<3>(value, w, plus, field);
    case 4: return fixed_field_real4<4>(value, w, plus, field);
    case 5: return fixed_field_real4<5>(value, w, plus, field);
    case 6: return fixed_field_real4<6>(value, w, plus, field);
    case 7: return fixed_field_real4<7>(value, w, plus, field);
    case 8: return fixed_field_real4<8>(value, w, plus, field);
    case 9: return fixed_field_real4<9>(value, w, plus, field);
    default: return kFixedLongWay;
    }
}

}  // namespace forrtl
