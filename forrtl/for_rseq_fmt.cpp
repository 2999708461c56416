// Input editing: fields of input records converted into items.
//
// Numbers are read in two steps: the field is parsed into a sign, at most
// 27 significant decimal digits and a power of ten (implied point, exponent
// and scale factor applied), then that decimal value is turned into the
// binary value of the item's precision, correctly rounded.  Short values
// that are exact in the target precision take one exact multiply or divide;
// all others go through std::from_chars on the normalised digit string.
#include "for_rseq_fmt.h"

#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>

namespace forrtl {

namespace {

constexpr int kMaxSignificantDigits = 27;  // three groups of 9
constexpr std::int32_t kExponentClamp = 100000;

// ---------------------------------------------------------------------
// Type codes.

struct TypeRow {
    std::uint8_t code;
    TypeFamily family;
    std::uint8_t size;
};

// Codes 5 to 17 are the integer and logical types, 25 to 51 the real and
// complex ones (complex: the size of one part), 56 character, 60 to 63
// special items.
constexpr TypeRow kTypeRows[] = {
    {5, TF_INTEGER, 1},   {6, TF_UNSIGNED, 1},  {7, TF_INTEGER, 2},   {8, TF_UNSIGNED, 2},
    {9, TF_INTEGER, 4},   {10, TF_UNSIGNED, 4}, {11, TF_INTEGER, 8},  {12, TF_UNSIGNED, 8},
    {13, TF_INTEGER, 4},  {14, TF_LOGICAL, 1},  {15, TF_LOGICAL, 2},  {16, TF_LOGICAL, 4},
    {17, TF_LOGICAL, 8},  {25, TF_REAL, 4},     {26, TF_REAL, 4},     {27, TF_REAL, 8},
    {28, TF_COMPLEX, 4},  {29, TF_COMPLEX, 4},  {31, TF_COMPLEX, 4},  {40, TF_COMPLEX, 8},
    {42, TF_COMPLEX, 8},  {43, TF_COMPLEX, 8},  {44, TF_COMPLEX, 8},  {45, TF_REAL, 8},
    {46, TF_REAL, 8},     {48, TF_REAL, 8},     {50, TF_UNSUPPORTED, 16},
    {56, TF_CHARACTER, 0}, {60, TF_UNSUPPORTED, 0}, {61, TF_UNSUPPORTED, 0},
    {62, TF_UNSUPPORTED, 0}, {63, TF_UNSUPPORTED, 0},
};

struct TypeTable {
    TypeClass entry[256];
    constexpr TypeTable() : entry{} {
        for (const TypeRow& row : kTypeRows) entry[row.code] = TypeClass{row.family, row.size};
    }
};
constexpr TypeTable kTypeTable;

// ---------------------------------------------------------------------
// Field characters.  Positions from `length` to `width` are blanks.

inline char field_char(const InputField& f, std::int32_t i) { return i < f.length ? f.text[i] : ' '; }

inline bool is_digit(char c) { return c >= '0' && c <= '9'; }

inline char upper(char c) { return (c >= 'a' && c <= 'z') ? char(c - 'a' + 'A') : c; }

// Whether f[i..] up to trailing blanks spells `word` (upper case), ignoring
// letter case.
bool rest_is_word(const InputField& f, std::int32_t i, const char* word) {
    for (; *word; ++word, ++i)
        if (i >= f.width || upper(field_char(f, i)) != *word) return false;
    for (; i < f.width; ++i)
        if (field_char(f, i) != ' ') return false;
    return true;
}

// ---------------------------------------------------------------------
// Decimal values.

enum DecimalKind : std::uint8_t { DEC_FINITE, DEC_INFINITY, DEC_NAN };

// value = digits (as an integer) * 10^exp10; no digits means zero.
struct DecimalValue {
    DecimalKind kind;
    bool negative;
    int ndigits;
    std::uint64_t mantissa;  // the digits as an integer when ndigits <= 19
    std::int32_t exp10;
    char digits[kMaxSignificantDigits];
};

std::int32_t clamp_exponent(std::int64_t e) {
    if (e > kExponentClamp) return kExponentClamp;
    if (e < -kExponentClamp) return -kExponentClamp;
    return std::int32_t(e);
}

bool parse_decimal(const InputField& f, BlankMode blank, std::int32_t d, std::int32_t scale,
                   DecimalValue& v) {
    const bool bz = blank == BLANK_BZ;
    v.kind = DEC_FINITE;
    v.negative = false;
    v.ndigits = 0;
    v.mantissa = 0;
    v.exp10 = 0;

    std::int32_t i = 0;
    const std::int32_t w = f.width;
    while (i < w && (field_char(f, i) == ' ' || field_char(f, i) == '\t')) ++i;
    if (i == w) return true;  // all blanks: zero
    if (field_char(f, i) == '+' || field_char(f, i) == '-') {
        v.negative = field_char(f, i) == '-';
        ++i;
    }
    {
        char c = upper(field_char(f, i));
        if (c == 'I' || c == 'N') {
            if (rest_is_word(f, i, "INFINITY")) {
                v.kind = DEC_INFINITY;
                return true;
            }
            if (rest_is_word(f, i, "NAN")) {
                v.kind = DEC_NAN;
                return true;
            }
            return false;
        }
    }

    bool any_digit = false, seen_point = false, has_exponent = false;
    std::int64_t fraction_digits = 0, dropped = 0;
    for (; i < w; ++i) {
        char c = field_char(f, i);
        if (c == ' ') {
            if (!bz) continue;
            c = '0';
        }
        if (is_digit(c)) {
            any_digit = true;
            if (seen_point) ++fraction_digits;
            if (v.ndigits == 0 && c == '0') continue;  // leading zero
            if (v.ndigits < kMaxSignificantDigits) {
                v.digits[v.ndigits++] = c;
                if (v.ndigits <= 19) v.mantissa = v.mantissa * 10 + std::uint64_t(c - '0');
            } else {
                ++dropped;
            }
            continue;
        }
        if (c == '.') {
            if (seen_point) return false;
            seen_point = true;
            continue;
        }
        char u = upper(c);
        if (u == 'E' || u == 'D' || u == 'Q') {
            has_exponent = true;
            ++i;
            break;
        }
        if (c == '+' || c == '-') {  // a sign directly after the digits
            if (!any_digit) return false;
            has_exponent = true;
            break;
        }
        return false;
    }

    std::int64_t exponent = 0;
    if (has_exponent) {
        if (!any_digit) return false;
        bool exp_negative = false;
        while (i < w && field_char(f, i) == ' ' && !bz) ++i;
        if (i < w && (field_char(f, i) == '+' || field_char(f, i) == '-')) {
            exp_negative = field_char(f, i) == '-';
            ++i;
        }
        for (; i < w; ++i) {
            char c = field_char(f, i);
            if (c == ' ') {
                if (!bz) continue;
                c = '0';
            }
            if (!is_digit(c)) return false;
            if (exponent < kExponentClamp) exponent = exponent * 10 + (c - '0');
        }
        if (exp_negative) exponent = -exponent;
    } else if (seen_point && !any_digit) {
        return false;  // a lone "."
    }

    if (v.ndigits == 0) return true;  // zero of the value's sign
    std::int64_t e10 = exponent + dropped;
    e10 -= seen_point ? fraction_digits : d;
    if (!has_exponent) e10 -= scale;
    v.exp10 = clamp_exponent(e10);
    return true;
}

constexpr float kPow10f[] = {1e0f, 1e1f, 1e2f, 1e3f, 1e4f, 1e5f, 1e6f, 1e7f, 1e8f, 1e9f, 1e10f};
constexpr double kPow10[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,  1e8,  1e9,  1e10, 1e11,
                             1e12, 1e13, 1e14, 1e15, 1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};

// The digits with their exponent in the form std::from_chars reads.
std::size_t normalised_text(const DecimalValue& v, char* out) {
    std::memcpy(out, v.digits, std::size_t(v.ndigits));
    char* p = out + v.ndigits;
    *p++ = 'e';
    p = std::to_chars(p, p + 16, v.exp10).ptr;
    return std::size_t(p - out);
}

// The magnitude mantissa * 10^exp10 (mantissa below 10^19) when it can be
// had exactly from one correctly rounded operation; false otherwise.
template <typename T>
inline bool fast_decimal_to_binary(int ndigits, std::uint64_t mantissa, std::int32_t exp10, T& result) {
    bool done = false;
    if constexpr (sizeof(T) == 4) {
        if (ndigits <= 19 && mantissa <= (1u << 24) && exp10 >= -10 && exp10 <= 10) {
            // Both operands exact in single precision: one correctly
            // rounded operation.
            float x = float(mantissa);
            result = exp10 < 0 ? x / kPow10f[-exp10] : x * kPow10f[exp10];
            done = true;
        } else if (ndigits <= 19 && mantissa <= (std::uint64_t(1) << 53) && exp10 >= -22 &&
                   exp10 <= 22) {
            // The double result is correctly rounded; rounding it once more
            // to single precision is correct unless it lies exactly halfway
            // between two floats (the true value may lie on either side).
            double x = double(mantissa);
            x = exp10 < 0 ? x / kPow10[-exp10] : x * kPow10[exp10];
            std::uint64_t bits;
            std::memcpy(&bits, &x, 8);
            if ((bits & 0x1FFFFFFFu) != 0x10000000u) {
                result = float(x);
                done = true;
            }
        }
    } else {
        if (ndigits <= 19 && mantissa <= (std::uint64_t(1) << 53) && exp10 >= -22 &&
            exp10 <= 22) {
            double x = double(mantissa);
            result = exp10 < 0 ? x / kPow10[-exp10] : x * kPow10[exp10];
            done = true;
        }
    }
    return done;
}

template <typename T>
bool decimal_to_binary(const DecimalValue& v, T& out) {
    using Limits = std::numeric_limits<T>;
    if (v.kind == DEC_NAN) {
        out = v.negative ? -Limits::quiet_NaN() : Limits::quiet_NaN();
        return true;
    }
    if (v.kind == DEC_INFINITY) {
        out = v.negative ? -Limits::infinity() : Limits::infinity();
        return true;
    }
    const T zero = v.negative ? T(-0.0) : T(0.0);
    if (v.ndigits == 0) {
        out = zero;
        return true;
    }
    // The value lies in [10^(m-1), 10^m).
    const std::int32_t m = v.ndigits + v.exp10;
    if (m - 1 > Limits::max_exponent10) return false;
    if (m < Limits::min_exponent10 - Limits::digits10 - 4) {
        out = zero;
        return true;
    }

    T result;
    bool done = fast_decimal_to_binary(v.ndigits, v.mantissa, v.exp10, result);
    if (!done) {
        char text[kMaxSignificantDigits + 20];
        std::size_t n = normalised_text(v, text);
        auto r = std::from_chars(text, text + n, result, std::chars_format::scientific);
        if (r.ec == std::errc::result_out_of_range) {
            if (m > 0) return false;
            out = zero;
            return true;
        }
        if (r.ec != std::errc()) return false;
    }
    if (std::isinf(result)) return false;
    out = v.negative ? -result : result;
    return true;
}

// ---------------------------------------------------------------------
// Radix fields (O, Z, B).

int radix_digit(char c, int bits) {
    int value;
    if (c >= '0' && c <= '9') value = c - '0';
    else if (c >= 'A' && c <= 'F') value = c - 'A' + 10;
    else if (c >= 'a' && c <= 'f') value = c - 'a' + 10;
    else return -1;
    return value < (1 << bits) ? value : -1;
}

int bit_length(unsigned v) {
    int n = 0;
    while (v) {
        ++n;
        v >>= 1;
    }
    return n;
}

// Stores the digits of the field into the item's bytes (little-endian bit
// pattern).  The whole field is checked before anything is stored.
bool radix_to_bits(const InputField& f, BlankMode blank, int bits, void* address, std::int32_t size) {
    const bool bz = blank == BLANK_BZ;
    std::int32_t i = 0;
    while (i < f.width && field_char(f, i) == ' ') ++i;
    std::int64_t needed = 0;  // significant bits so far
    for (std::int32_t j = i; j < f.width; ++j) {
        char c = field_char(f, j);
        if (c == ' ') {
            if (!bz) continue;
            c = '0';
        }
        int digit = radix_digit(c, bits);
        if (digit < 0) return false;
        if (needed == 0) needed = bit_length(unsigned(digit));
        else needed += bits;
    }
    if (needed > std::int64_t(size) * 8) return false;

    auto* out = static_cast<unsigned char*>(address);
    std::memset(out, 0, std::size_t(size));
    std::uint32_t acc = 0;
    int acc_bits = 0;
    std::int32_t byte = 0;
    for (std::int32_t j = f.width - 1; j >= i && byte < size; --j) {
        char c = field_char(f, j);
        if (c == ' ') {
            if (!bz) continue;
            c = '0';
        }
        acc |= std::uint32_t(radix_digit(c, bits)) << acc_bits;
        acc_bits += bits;
        while (acc_bits >= 8 && byte < size) {
            out[byte++] = static_cast<unsigned char>(acc & 0xFF);
            acc >>= 8;
            acc_bits -= 8;
        }
    }
    if (acc_bits > 0 && byte < size) out[byte] = static_cast<unsigned char>(acc & 0xFF);
    return true;
}

// ---------------------------------------------------------------------
// Descriptor operations.

enum InputOp : std::uint8_t { OP_NONE, OP_I, OP_O, OP_Z, OP_B, OP_REAL, OP_G, OP_L, OP_A };

InputOp op_of(std::uint8_t category) {
    switch (category) {
    case FC_I0: case FC_I: case FC_IM: return OP_I;
    case FC_O0: case FC_O: case FC_OM: return OP_O;
    case FC_Z0: case FC_Z: case FC_ZM: return OP_Z;
    case FC_B0: case FC_B: case FC_BM: return OP_B;
    case FC_D0: case FC_E0: case FC_F0: case FC_EN0: case FC_ES0:
    case FC_D: case FC_E: case FC_EE: case FC_F: case FC_EN: case FC_ENE: case FC_ES: case FC_ESE:
        return OP_REAL;
    case FC_G0: case FC_G: case FC_GE: return OP_G;
    case FC_L0: case FC_L: return OP_L;
    case FC_A0: case FC_A: return OP_A;
    default: return OP_NONE;
    }
}

bool is_integer_family(TypeFamily f) { return f == TF_INTEGER || f == TF_UNSIGNED || f == TF_LOGICAL; }

std::int32_t integer_default_width(int size) { return size <= 2 ? 7 : size <= 4 ? 12 : 23; }

Status input_conversion_error() { return status_of(MSG_INPUT_CONVERSION); }

Status edit_integer(const InputField& field, BlankMode blank, const InputItem& item, TypeClass tc) {
    bool negative;
    std::uint64_t magnitude;
    if (!text_to_integer(field, blank, negative, magnitude)) return input_conversion_error();
    if (!store_integer(item.address, tc.size, tc.family, negative, magnitude))
        return input_conversion_error();
    return 0;
}

Status edit_logical(const InputField& field, const InputItem& item, TypeClass tc) {
    bool value;
    if (!text_to_logical(field, value)) return input_conversion_error();
    store_integer(item.address, tc.size, TF_INTEGER, value, value ? 1 : 0);
    return 0;
}

void edit_character(const InputField& field, const InputItem& item) {
    // The rightmost characters of a wide field; a narrow one is followed by
    // blanks.
    auto* out = static_cast<char*>(item.address);
    const std::int32_t len = item.length;
    const std::int32_t w = field.width;
    const std::int32_t first = w > len ? w - len : 0;
    const std::int32_t n = w - first;
    // Characters of the record, then the blanks of padding, then the blanks
    // that fill a longer item.
    std::int32_t taken = field.length - first;
    if (taken < 0) taken = 0;
    if (taken > n) taken = n;
    if (taken > 0) std::memcpy(out, field.text + first, std::size_t(taken));
    if (taken < len) std::memset(out + taken, ' ', std::size_t(len - taken));
}

Status edit_real(const InputEdit& edit, const InputField& field, const InputItem& item, TypeClass tc) {
    if (!text_to_real(field, edit.blank, edit.d, edit.scale, tc.size, item.address))
        return input_conversion_error();
    return 0;
}

}  // namespace

TypeClass classify_item_type(std::uint8_t type) { return kTypeTable.entry[type]; }

bool store_integer(void* address, int size, TypeFamily family, bool negative, std::uint64_t magnitude) {
    if (size != 1 && size != 2 && size != 4 && size != 8) return false;
    std::uint64_t bits;
    if (family == TF_UNSIGNED) {
        if (negative && magnitude != 0) return false;
        if (size < 8 && magnitude >> (size * 8)) return false;
        bits = magnitude;
    } else {
        const std::uint64_t limit = std::uint64_t(1) << (size * 8 - 1);  // |min|
        if (negative ? magnitude > limit : magnitude >= limit) return false;
        bits = negative ? ~magnitude + 1 : magnitude;  // two's complement without overflow
    }
    switch (size) {
    case 1: { auto v = static_cast<std::uint8_t>(bits); std::memcpy(address, &v, 1); break; }
    case 2: { auto v = static_cast<std::uint16_t>(bits); std::memcpy(address, &v, 2); break; }
    case 4: { auto v = static_cast<std::uint32_t>(bits); std::memcpy(address, &v, 4); break; }
    default: std::memcpy(address, &bits, 8); break;
    }
    return true;
}

bool text_to_integer(const InputField& f, BlankMode blank, bool& negative, std::uint64_t& magnitude) {
    const bool bz = blank == BLANK_BZ;
    negative = false;
    magnitude = 0;
    std::int32_t i = 0;
    while (i < f.width && field_char(f, i) == ' ') ++i;
    if (i < f.width && (field_char(f, i) == '+' || field_char(f, i) == '-')) {
        negative = field_char(f, i) == '-';
        ++i;
    }
    for (; i < f.width; ++i) {
        char c = field_char(f, i);
        if (c == ' ') {
            if (!bz) continue;
            c = '0';
        }
        if (!is_digit(c)) return false;
        if (__builtin_mul_overflow(magnitude, std::uint64_t(10), &magnitude) ||
            __builtin_add_overflow(magnitude, std::uint64_t(c - '0'), &magnitude))
            return false;
    }
    return true;
}

bool text_to_real(const InputField& field, BlankMode blank, std::int32_t d, std::int32_t scale, int size,
                  void* out) {
    DecimalValue v;
    if (!parse_decimal(field, blank, d, scale, v)) return false;
    if (size == 4) {
        float x;
        if (!decimal_to_binary(v, x)) return false;
        std::memcpy(out, &x, 4);
    } else {
        double x;
        if (!decimal_to_binary(v, x)) return false;
        std::memcpy(out, &x, 8);
    }
    return true;
}

std::int32_t compact_real_text(const InputField& field, BlankMode blank, char* out) {
    DecimalValue v;
    if (!parse_decimal(field, blank, 0, 0, v)) {
        out[0] = '.';  // a lone point: refused as the field was
        return 1;
    }
    std::int32_t n = 0;
    if (v.negative) out[n++] = '-';
    if (v.kind != DEC_FINITE) {
        const char* word = v.kind == DEC_NAN ? "NAN" : "INFINITY";
        const std::size_t length = std::strlen(word);
        std::memcpy(out + n, word, length);
        return n + std::int32_t(length);
    }
    if (v.ndigits == 0) {
        out[n++] = '0';
        return n;
    }
    // The digits kept, as an integer, and the exponent that places them.
    std::memcpy(out + n, v.digits, std::size_t(v.ndigits));
    n += v.ndigits;
    out[n++] = 'E';
    n += std::int32_t(std::to_chars(out + n, out + kCompactRealText, v.exp10).ptr - (out + n));
    return n;
}

namespace {
template <typename T>
bool small_decimal_to_binary(bool negative, std::uint64_t mantissa, std::int32_t exp10, void* out) {
    T x;
    if (mantissa == 0) {
        x = negative ? T(-0.0) : T(0.0);
    } else if (fast_decimal_to_binary(19, mantissa, exp10, x)) {
        if (negative) x = -x;
    } else {
        DecimalValue v;
        v.kind = DEC_FINITE;
        v.negative = negative;
        v.mantissa = mantissa;
        v.exp10 = exp10;
        v.ndigits = int(std::to_chars(v.digits, v.digits + kMaxSignificantDigits, mantissa).ptr - v.digits);
        if (!decimal_to_binary(v, x)) return false;
    }
    std::memcpy(out, &x, sizeof x);
    return true;
}
}  // namespace

bool decimal_to_real(bool negative, std::uint64_t mantissa, std::int32_t exp10, int size, void* out) {
    return size == 4 ? small_decimal_to_binary<float>(negative, mantissa, exp10, out)
                     : small_decimal_to_binary<double>(negative, mantissa, exp10, out);
}

bool text_to_logical(const InputField& f, bool& value) {
    std::int32_t i = 0;
    while (i < f.width && field_char(f, i) == ' ') ++i;
    value = false;
    if (i == f.width) return true;
    if (field_char(f, i) == '.') ++i;
    char c = upper(field_char(f, i));
    if (c == 'T') value = true;
    else if (c != 'F') return false;
    return true;
}

InputEdit resolve_input_edit(const InputEdit& edit, const InputItem& item) {
    InputEdit r = edit;
    const TypeClass tc = classify_item_type(item.type);
    const int size = tc.family == TF_CHARACTER ? item.length : tc.size;
    const bool real8 = (tc.family == TF_REAL || tc.family == TF_COMPLEX) && tc.size == 8;
    switch (edit.category) {
    case FC_A0: r.category = FC_A; r.w = item.length; break;
    case FC_I0: r.category = FC_I; r.w = integer_default_width(size); r.d = 1; break;
    case FC_O0: r.category = FC_O; r.w = integer_default_width(size); r.d = 1; break;
    case FC_Z0: r.category = FC_Z; r.w = integer_default_width(size); r.d = 1; break;
    case FC_B0: r.category = FC_B; r.w = size * 8 + 1; r.d = 1; break;
    case FC_L0: r.category = FC_L; r.w = 2; break;
    case FC_D0: case FC_E0: case FC_F0: case FC_G0: case FC_EN0: case FC_ES0:
        r.category = edit.category == FC_D0 ? FC_D : edit.category == FC_E0 ? FC_E
                   : edit.category == FC_F0 ? FC_F : edit.category == FC_G0 ? FC_G
                   : edit.category == FC_EN0 ? FC_EN : FC_ES;
        if (edit.category == FC_G0 && is_integer_family(tc.family)) {
            // Integers and logicals alike take the I width of their size.
            r.w = integer_default_width(size);
            r.d = 1;
        } else if (edit.category == FC_G0 && tc.family == TF_CHARACTER) {
            r.w = item.length;
        } else {
            r.w = real8 ? 25 : 15;
            r.d = real8 ? 16 : 7;
        }
        break;
    default: break;
    }
    return r;
}

Status take_input_field(InputRecord& record, const InputEdit& edit, const InputItem& item,
                        const InputOptions& options, InputField& field) {
    const std::int32_t w = edit.w > 0 ? edit.w : 0;
    const std::int32_t avail = record.pos < record.length ? record.length - record.pos : 0;
    const char* start = record.data + (record.pos < record.length ? record.pos : record.length);
    const std::int32_t n = w < avail ? w : avail;

    const InputOp op = op_of(edit.category);
    const bool as_a = op == OP_A || (op == OP_G && classify_item_type(item.type).family == TF_CHARACTER);
    if (!as_a) {
        if (const void* comma = std::memchr(start, ',', std::size_t(n))) {
            const std::int32_t j = std::int32_t(static_cast<const char*>(comma) - start);
            field = InputField{start, j, j};
            record.pos += j + 1;
            return 0;
        }
    }
    if (avail >= w) {
        field = InputField{start, w, w};
        record.pos += w;
    } else if (options.pad) {
        field = InputField{start, avail, w};
        record.pos = advanced_position(record.pos, w);
    } else if (options.standard_rules) {
        return status_of(MSG_TOO_MUCH_DATA);
    } else {
        field = InputField{start, avail, avail};
        record.pos += avail;
    }
    return 0;
}

Status edit_input_field(const InputEdit& edit, const InputField& field, const InputItem& item) {
    const TypeClass tc = classify_item_type(item.type);
    // The catalogue lookup is made only when a field fails.
    auto mismatch = [] { return status_of(MSG_FORMAT_TYPE_MISMATCH); };
    const bool is_real = tc.family == TF_REAL || tc.family == TF_COMPLEX;
    switch (op_of(edit.category)) {
    case OP_I:
        if (!is_integer_family(tc.family)) return mismatch();
        return edit_integer(field, edit.blank, item, tc);
    case OP_O:
    case OP_Z:
    case OP_B: {
        std::int32_t size;
        if (tc.family == TF_CHARACTER) size = item.length;
        else if (is_integer_family(tc.family) || is_real) size = tc.size;
        else return mismatch();
        const int bits = op_of(edit.category) == OP_O ? 3 : op_of(edit.category) == OP_Z ? 4 : 1;
        if (!radix_to_bits(field, edit.blank, bits, item.address, size)) return input_conversion_error();
        return 0;
    }
    case OP_REAL:
        if (!is_real) return mismatch();
        return edit_real(edit, field, item, tc);
    case OP_G:
        if (is_real) return edit_real(edit, field, item, tc);
        if (tc.family == TF_LOGICAL) return edit_logical(field, item, tc);
        if (tc.family == TF_INTEGER || tc.family == TF_UNSIGNED) return edit_integer(field, edit.blank, item, tc);
        if (tc.family == TF_CHARACTER) {
            edit_character(field, item);
            return 0;
        }
        return mismatch();
    case OP_L:
        if (!is_integer_family(tc.family)) return mismatch();
        return edit_logical(field, item, tc);
    case OP_A:
        if (tc.family == TF_INVALID) return mismatch();
        {
            // Any item takes the characters as raw bytes.
            InputItem bytes = item;
            if (tc.family != TF_CHARACTER) bytes.length = tc.size ? tc.size : item.length;
            edit_character(field, bytes);
        }
        return 0;
    case OP_NONE: break;
    }
    return status_of(MSG_INVALID_ARGUMENT);
}

Status read_input_field(InputRecord& record, const InputEdit& edit, const InputItem& item,
                        const InputOptions& options) {
    const InputEdit resolved = resolve_input_edit(edit, item);
    InputField field;
    if (Status s = take_input_field(record, resolved, item, options, field)) return s;
    return edit_input_field(resolved, field, item);
}

Status edit_input_q(const InputRecord& record, const InputItem& item) {
    const TypeClass tc = classify_item_type(item.type);
    if (!is_integer_family(tc.family)) return status_of(MSG_FORMAT_TYPE_MISMATCH);
    const std::int32_t left = record.pos < record.length ? record.length - record.pos : 0;
    if (!store_integer(item.address, tc.size, tc.family, false, std::uint64_t(left)))
        return input_conversion_error();
    return 0;
}

}  // namespace forrtl
