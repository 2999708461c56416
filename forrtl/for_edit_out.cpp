// Output editing of one data item into one field.
//
// Every editor counts first (sign, digits, point, exponent), decides once
// whether the field overflows, and then writes the w characters in one pass.
#include <cstring>

#include "for_lub.h"
#include "for_wseq_fmt.h"

namespace forrtl {

namespace {

Status overflow(char* field, std::int32_t w) {
    if (w > 0) std::memset(field, '*', std::size_t(w));
    return status_of(MSG_OUTPUT_CONVERSION);
}

Status mismatch() { return status_of(MSG_FORMAT_TYPE_MISMATCH); }

bool is_integral(ItemFamily f) {
    return f == FAM_INTEGER || f == FAM_UNSIGNED || f == FAM_LOGICAL;
}

// The value of a 1-, 2-, 4- or 8-byte integer or logical item as a
// magnitude and a sign.  The most negative value keeps its bit pattern as
// its unsigned magnitude.
void load_integer(const void* address, EditType et, std::uint64_t& magnitude, bool& negative) {
    std::int64_t sv = 0;
    std::uint64_t uv = 0;
    switch (et.size) {
        case 1: { std::int8_t v; std::memcpy(&v, address, 1); sv = v; uv = std::uint8_t(v); break; }
        case 2: { std::int16_t v; std::memcpy(&v, address, 2); sv = v; uv = std::uint16_t(v); break; }
        case 4: { std::int32_t v; std::memcpy(&v, address, 4); sv = v; uv = std::uint32_t(v); break; }
        default: { std::int64_t v; std::memcpy(&v, address, 8); sv = v; uv = std::uint64_t(v); break; }
    }
    if (et.family == FAM_UNSIGNED || sv >= 0) {
        negative = false;
        magnitude = et.family == FAM_UNSIGNED ? uv : std::uint64_t(sv);
    } else {
        negative = true;
        magnitude = 0 - std::uint64_t(sv);
    }
}

int decimal_digits(std::uint64_t v) {
    int n = 0;
    while (v) {
        v /= 10;
        ++n;
    }
    return n;
}

// ---------------------------------------------------------------------------
// Integer, radix and logical fields.

Status edit_integer(const OutputItem& item, EditType et, std::int32_t w, std::int32_t m,
                    SignMode sign_mode, char* field) {
    if (et.family == FAM_INTEGER && et.size == 4) {
        std::int32_t v;
        std::memcpy(&v, item.address, 4);
        return integer_field_int32(v, w, m, sign_mode == SIGN_SP, field) ? status_of(MSG_OUTPUT_CONVERSION) : 0;
    }
    if (m < 0) return overflow(field, w);
    std::uint64_t magnitude;
    bool negative;
    load_integer(item.address, et, magnitude, negative);
    // Unsigned kinds have no sign to show, under SP neither.
    const bool plus = sign_mode == SIGN_SP && et.family != FAM_UNSIGNED;
    char sign = negative ? '-' : (plus ? '+' : 0);
    if (magnitude == 0 && m == 0) sign = 0;  // Iw.0 of zero: all blanks
    return put_integer_field(field, w, magnitude, m, sign) ? 0 : status_of(MSG_OUTPUT_CONVERSION);
}


Status edit_logical(const OutputItem& item, EditType et, std::int32_t w, std::uint32_t options,
                    char* field) {
    const auto* bytes = static_cast<const std::uint8_t*>(item.address);
    bool truth = false;
    if (options & SF_TRUE_NONZERO) {
        for (int i = 0; i < et.size; ++i) truth = truth || bytes[i] != 0;
    } else {
        truth = (bytes[0] & 1) != 0;
    }
    std::memset(field, ' ', std::size_t(w - 1));
    field[w - 1] = truth ? 'T' : 'F';
    return 0;
}

void edit_character(const void* address, std::int64_t length, std::int32_t w, char* field) {
    if (w > length) {
        std::memset(field, ' ', std::size_t(w - length));
        std::memcpy(field + (w - length), address, std::size_t(length));
    } else {
        std::memcpy(field, address, std::size_t(w));
    }
}

// ---------------------------------------------------------------------------
// Real fields.

Status put_special(char* field, std::int32_t w, const DecimalDigits& dd) {
    const char* text = dd.kind == DIGITS_NAN ? "NaN" : (dd.negative ? "-Infinity" : "Infinity");
    std::int32_t length = std::int32_t(std::strlen(text));
    if (w < length) return overflow(field, w);
    if (w == length) {
        std::memcpy(field, text, std::size_t(length));
        return 0;
    }
    std::memset(field, ' ', std::size_t(w));
    std::memcpy(field + 1, text, std::size_t(length));
    return 0;
}

char sign_char(const DecimalDigits& dd, bool plus) {
    if (dd.negative && dd.kind != DIGITS_ZERO) return '-';
    return plus ? '+' : 0;
}

// The digit of place 10^(t-1-i) for index i of the digit string; '0' outside.
inline char digit_at(const DecimalDigits& dd, std::int64_t i) {
    return (dd.kind == DIGITS_NORMAL && i >= 0 && i < dd.count) ? dd.digits[i] : '0';
}

// The part of a number field before its first digit: `body` characters
// (digits, point, exponent) go right-justified in w, after the sign; a
// zero stands before the point when nothing else does and the field has
// room for it (the optional zero is the first character dropped).  Returns
// where the body starts, or nullptr when the field is too narrow.
char* put_lead(char* field, std::int32_t w, std::int64_t body, char sign, bool no_integer_digits) {
    if (w < 0 || body + (sign ? 1 : 0) > w) return nullptr;
    bool lead_zero = false;
    if (no_integer_digits) {
        std::int64_t free = w - body;
        lead_zero = free >= 2 || (free == 1 && !sign);
    }
    std::int64_t start = w - body - (lead_zero ? 1 : 0) - (sign ? 1 : 0);
    if (start > 0) std::memset(field, ' ', std::size_t(start));
    char* p = field + start;
    if (sign) *p++ = sign;
    if (lead_zero) *p++ = '0';
    return p;
}

// Fixed form with `places` digits after the point.  The digit string holds
// the places from the first significant one down to 10^-places.
bool put_fixed(char* field, std::int32_t w, const DecimalDigits& dd, std::int32_t places,
               bool plus) {
    char sign = sign_char(dd, plus);
    std::int64_t t = dd.kind == DIGITS_NORMAL ? dd.exponent : 0;
    std::int64_t int_digits = t > 0 ? t : 0;
    std::int64_t body = int_digits + 1 + places;
    char* p = put_lead(field, w, body, sign, int_digits == 0);
    if (!p) return false;
    // Integer places 10^(int_digits-1) .. 10^0 have indices t-int_digits .. t-1.
    std::int64_t i = t - int_digits;
    if (dd.kind == DIGITS_NORMAL && i == 0 && int_digits <= dd.count) {
        std::memcpy(p, dd.digits, std::size_t(int_digits));
        p += int_digits;
        i += int_digits;
    } else {
        for (std::int64_t k = 0; k < int_digits; ++k) *p++ = digit_at(dd, i++);
    }
    *p++ = '.';
    // Fraction places: zeros before the first digit, the digits, zeros after.
    std::int64_t end = i + places;
    for (; i < end && (i < 0 || dd.kind != DIGITS_NORMAL); ++i) *p++ = '0';
    if (i < end && i < dd.count) {
        std::int64_t n = (end < dd.count ? end : dd.count) - i;
        std::memcpy(p, dd.digits + i, std::size_t(n));
        p += n;
        i += n;
    }
    for (; i < end; ++i) *p++ = '0';
    return true;
}

// Exponent form: sign, [0], `before` digits, point, `zeros` zeros, `after`
// digits, exponent.  The digit string supplies before + after digits (zeros
// for a zero result).
bool put_exponent_form(char* field, std::int32_t w, const DecimalDigits& dd, bool plus,
                       std::int32_t before, std::int32_t zeros, std::int32_t after,
                       std::int32_t x, std::int32_t e, char letter) {
    char sign = sign_char(dd, plus);
    std::int32_t ax = x < 0 ? -x : x;
    std::int32_t c;
    bool show_letter = true;
    if (e > 0) {
        if (decimal_digits(std::uint64_t(ax)) > e) return false;
        c = e;
    } else if (ax <= 99) {
        c = 2;
    } else if (ax <= 999) {
        c = 3;
        show_letter = false;
    } else {
        return false;
    }
    std::int64_t body = std::int64_t(before) + 1 + zeros + after + (show_letter ? 1 : 0) + 1 + c;
    char* p = put_lead(field, w, body, sign, before == 0);
    if (!p) return false;
    std::int64_t i = 0;
    for (std::int32_t k = 0; k < before; ++k) *p++ = digit_at(dd, i++);
    *p++ = '.';
    for (std::int32_t k = 0; k < zeros; ++k) *p++ = '0';
    for (std::int32_t k = 0; k < after; ++k) *p++ = digit_at(dd, i++);
    if (show_letter) *p++ = letter;
    *p++ = x < 0 ? '-' : '+';
    for (char* q = p + c; q > p;) {
        *--q = char('0' + ax % 10);
        ax /= 10;
    }
    return true;
}

struct RealValue {
    const void* address;
    int width;  // 4 or 8
};

bool is_denormal_or_special(const RealValue& v, bool& denormal, bool& special) {
    if (v.width == 4) {
        std::uint32_t bits;
        std::memcpy(&bits, v.address, 4);
        unsigned exp = (bits >> 23) & 0xFF;
        denormal = exp == 0 && (bits & 0x7FFFFFu) != 0;
        special = exp == 0xFF;
    } else {
        std::uint64_t bits;
        std::memcpy(&bits, v.address, 8);
        unsigned exp = unsigned(bits >> 52) & 0x7FF;
        denormal = exp == 0 && (bits & ((std::uint64_t(1) << 52) - 1)) != 0;
        special = exp == 0x7FF;
    }
    return denormal || special;
}

struct RealEdit {
    std::int32_t w, d, e, k;
    bool plus;
    char letter;
};

// Ew.d, Ew.dEe, Dw.d with scale factor k.
Status edit_e(const RealValue& v, const RealEdit& r, char* field) {
    DigitBuffer buffer;
    DecimalDigits dd;
    std::int32_t n = r.k > 0 ? r.d + 1 : r.d + r.k;
    if ((r.d == 0 && r.k <= 0) || n <= 0 || r.k > r.d + 1) {
        // Still show NaN and Infinity as text.
        if (generate_decimal_digits(v.address, v.width, DIGITS_SIGNIFICANT, 1, -1, buffer, dd) == 0 &&
            (dd.kind == DIGITS_NAN || dd.kind == DIGITS_INFINITY))
            return put_special(field, r.w, dd);
        return overflow(field, r.w);
    }
    if (generate_decimal_digits(v.address, v.width, DIGITS_SIGNIFICANT, n, -1, buffer, dd))
        return overflow(field, r.w);
    if (dd.kind == DIGITS_NAN || dd.kind == DIGITS_INFINITY) return put_special(field, r.w, dd);
    bool ok;
    if (dd.kind == DIGITS_ZERO) {
        ok = put_exponent_form(field, r.w, dd, r.plus, 0, 0, r.d, 0, r.e, r.letter);
    } else if (r.k > 0) {
        ok = put_exponent_form(field, r.w, dd, r.plus, r.k, 0, r.d - r.k + 1, dd.exponent - r.k,
                               r.e, r.letter);
    } else {
        ok = put_exponent_form(field, r.w, dd, r.plus, 0, -r.k, r.d + r.k, dd.exponent - r.k, r.e,
                               r.letter);
    }
    return ok ? 0 : overflow(field, r.w);
}

Status edit_f(const RealValue& v, const RealEdit& r, char* field) {
    if (v.width == 4 && r.k == 0) {
        const int shown = fixed_field_real4(v.address, r.w, r.d, r.plus, field);
        if (shown != kFixedLongWay) return shown ? status_of(MSG_OUTPUT_CONVERSION) : 0;
    }
    bool denormal, special;
    if (is_denormal_or_special(v, denormal, special) && denormal) {
        // A denormal takes the E form with the same w and d, so that it never
        // prints as zero.
        RealEdit as_e = r;
        as_e.e = 0;
        as_e.letter = 'E';
        return edit_e(v, as_e, field);
    }
    // The scale factor multiplies the value by ten |k| times, each product
    // rounded to the item's own precision.
    float f4;
    double f8;
    RealValue scaled = v;
    if (r.k != 0 && !special) {
        if (v.width == 4) {
            std::memcpy(&f4, v.address, 4);
            for (std::int32_t i = 0; i < (r.k > 0 ? r.k : -r.k); ++i) f4 = r.k > 0 ? f4 * 10.0f : f4 * 0.1f;
            scaled.address = &f4;
        } else {
            std::memcpy(&f8, v.address, 8);
            for (std::int32_t i = 0; i < (r.k > 0 ? r.k : -r.k); ++i) f8 = r.k > 0 ? f8 * 10.0 : f8 * 0.1;
            scaled.address = &f8;
        }
    }
    DigitBuffer buffer;
    DecimalDigits dd;
    if (generate_decimal_digits(scaled.address, scaled.width, DIGITS_FIXED, r.d, r.w,
                                            buffer, dd))
        return overflow(field, r.w);
    if (dd.kind == DIGITS_NAN || dd.kind == DIGITS_INFINITY) return put_special(field, r.w, dd);
    return put_fixed(field, r.w, dd, r.d, r.plus) ? 0 : overflow(field, r.w);
}

Status edit_en(const RealValue& v, const RealEdit& r, char* field) {
    DigitBuffer buffer;
    DecimalDigits dd;
    if (generate_decimal_digits(v.address, v.width, DIGITS_SIGNIFICANT, r.d + 3, -1,
                                            buffer, dd))
        return overflow(field, r.w);
    if (dd.kind == DIGITS_NAN || dd.kind == DIGITS_INFINITY) return put_special(field, r.w, dd);
    if (dd.kind == DIGITS_ZERO)
        return put_exponent_form(field, r.w, dd, r.plus, 1, 0, r.d, 0, r.e, r.letter)
                   ? 0
                   : overflow(field, r.w);
    auto before_point = [](std::int32_t t) { return ((t - 1) % 3 + 3) % 3 + 1; };
    std::int32_t b = before_point(dd.exponent);
    if (b < 3) {
        // Fewer digits before the point: fewer significant digits.  They are
        // rounded from the exact value, not from the longer digit string, so
        // that no value is rounded twice (1.23496 in EN10.2 is 1.23, not
        // 1.24).  A carry out of the first digit can move the value to the
        // next group of three (99.996 becomes 100.00).
        std::int32_t t = dd.exponent;
        if (generate_decimal_digits(v.address, v.width, DIGITS_SIGNIFICANT, r.d + b, -1,
                                                buffer, dd))
            return overflow(field, r.w);
        if (dd.exponent != t) {
            b = before_point(dd.exponent);
            char* digits = buffer.data;
            for (std::int32_t i = dd.count; i < r.d + b; ++i) digits[i] = '0';
            dd.count = r.d + b;
        }
    }
    return put_exponent_form(field, r.w, dd, r.plus, b, 0, r.d, dd.exponent - b, r.e, r.letter)
               ? 0
               : overflow(field, r.w);
}

Status edit_es(const RealValue& v, const RealEdit& r, char* field) {
    DigitBuffer buffer;
    DecimalDigits dd;
    if (generate_decimal_digits(v.address, v.width, DIGITS_SIGNIFICANT, r.d + 1, -1,
                                            buffer, dd))
        return overflow(field, r.w);
    if (dd.kind == DIGITS_NAN || dd.kind == DIGITS_INFINITY) return put_special(field, r.w, dd);
    std::int32_t x = dd.kind == DIGITS_ZERO ? 0 : dd.exponent - 1;
    return put_exponent_form(field, r.w, dd, r.plus, 1, 0, r.d, x, r.e, r.letter)
               ? 0
               : overflow(field, r.w);
}

// G editing of reals: F form for values whose magnitude, rounded to d
// significant digits, lies in [0.1, 10^d); E form otherwise.  The second
// rule (alternate layout option) takes the F form for [1, 10^7).
Status edit_g(const RealValue& v, const RealEdit& r, std::uint32_t options, bool list_directed,
              char* field) {
    std::int32_t trailing = r.e > 0 ? r.e + 2 : 4;
    DigitBuffer buffer;
    DecimalDigits dd;
    bool denormal, special;
    is_denormal_or_special(v, denormal, special);
    if (special) {
        generate_decimal_digits(v.address, v.width, DIGITS_SIGNIFICANT, 1, -1, buffer, dd);
        return put_special(field, r.w, dd);
    }
    if (denormal) return edit_e(v, r, field);
    if (generate_decimal_digits(v.address, v.width, DIGITS_SIGNIFICANT, r.d > 0 ? r.d : 1, -1,
                                            buffer, dd))
        return overflow(field, r.w);
    if (dd.kind == DIGITS_ZERO) {
        if (list_directed || !(options & SF_STANDARD_RULES)) {
            bool ok = put_exponent_form(field, r.w, dd, r.plus, 0, 0, r.d, 0, r.e, 'E');
            return ok ? 0 : overflow(field, r.w);
        }
        if (r.d == 0 || !put_fixed(field, r.w - trailing, dd, r.d - 1, r.plus))
            return overflow(field, r.w);
        std::memset(field + (r.w - trailing), ' ', std::size_t(trailing));
        return 0;
    }
    if (r.d == 0) return edit_e(v, r, field);
    std::int32_t t = dd.exponent;
    std::int32_t places = -1;
    if (options & SF_ALT_LIST_LAYOUT) {
        if (t >= 1 && t <= 7) {
            places = r.d - t;
            if (places < 0) {
                // More integer digits than significant digits: round at the point.
                places = 0;
                if (generate_decimal_digits(v.address, v.width, DIGITS_FIXED, 0,
                                                        r.w, buffer, dd))
                    return overflow(field, r.w);
            }
        }
    } else if (t >= 0 && t <= r.d) {
        places = r.d - t;
    }
    if (places >= 0) {
        if (!put_fixed(field, r.w - trailing, dd, places, r.plus)) return overflow(field, r.w);
        std::memset(field + (r.w - trailing), ' ', std::size_t(trailing));
        return 0;
    }
    if (r.k != 0) return edit_e(v, r, field);
    // With k = 0 the E form needs the same d significant digits.
    return put_exponent_form(field, r.w, dd, r.plus, 0, 0, r.d, t, r.e, 'E')
               ? 0
               : overflow(field, r.w);
}

bool is_real_category(std::uint8_t c) {
    switch (c) {
        case FC_F: case FC_E: case FC_EE: case FC_D: case FC_EN: case FC_ENE: case FC_ES:
        case FC_ESE:
            return true;
        default:
            return false;
    }
}

Status edit_real(const OutputItem& item, EditType et, const EditDescriptor& desc, char* field) {
    if (et.size != 4 && et.size != 8) return status_of(MSG_INVALID_ARGUMENT);
    RealValue v{item.address, int(et.size)};
    RealEdit r{desc.w, desc.d, desc.e, desc.scale, desc.sign == SIGN_SP, 'E'};
    if (r.d < 0 || r.e < 0) return overflow(field, r.w);
    switch (desc.category) {
        case FC_F: return edit_f(v, r, field);
        case FC_D: r.letter = 'D'; return edit_e(v, r, field);
        case FC_E: case FC_EE: return edit_e(v, r, field);
        case FC_EN: case FC_ENE: return edit_en(v, r, field);
        case FC_ES: case FC_ESE: return edit_es(v, r, field);
        default: return edit_g(v, r, desc.options, desc.list_directed, field);
    }
}

}  // namespace

bool put_integer_field(char* field, std::int32_t w, std::uint64_t magnitude, std::int32_t m,
                       char sign) {
    int digits = decimal_digits(magnitude);
    std::int32_t shown = digits > m ? digits : m;
    if (w < 0 || std::int64_t(shown) + (sign ? 1 : 0) > w) {
        overflow(field, w);
        return false;
    }
    char* p = field + w;
    for (int i = 0; i < digits; ++i) {
        *--p = char('0' + magnitude % 10);
        magnitude /= 10;
    }
    for (std::int32_t i = digits; i < shown; ++i) *--p = '0';
    if (sign) *--p = sign;
    std::memset(field, ' ', std::size_t(p - field));
    return true;
}

Status put_radix_field(const void* value, std::int64_t length, int bits, std::int32_t w,
                       std::int32_t m, char* field) {
    if (w < 0 || m < 0) return overflow(field, w);
    const auto* bytes = static_cast<const std::uint8_t*>(value);
    std::int64_t top = length - 1;
    while (top >= 0 && bytes[top] == 0) --top;
    std::int64_t bit_length = top < 0 ? 0 : top * 8 + (32 - __builtin_clz(bytes[top]));
    std::int64_t digits = (bit_length + bits - 1) / bits;
    std::int64_t shown = digits > m ? digits : m;
    if (shown > w) return overflow(field, w);
    std::int64_t blanks = w - shown;
    std::memset(field, ' ', std::size_t(blanks));
    char* p = field + w;
    for (std::int64_t i = 0; i < shown; ++i) {
        unsigned v = 0;
        if (i < digits) {
            for (int j = 0; j < bits; ++j) {
                std::int64_t bit = i * bits + j;
                if (bit < length * 8) v |= unsigned((bytes[bit >> 3] >> (bit & 7)) & 1) << j;
            }
        }
        *--p = "0123456789ABCDEF"[v];
    }
    return 0;
}

Status edit_output_field(const OutputItem& item, const EditDescriptor& in, char* field) {
    EditDescriptor desc = in;
    apply_default_width(desc, item);
    EditType et = edit_type_of(item.type);
    if (et.family == FAM_INVALID) return status_of(MSG_INVALID_ARGUMENT);
    std::int32_t w = desc.w;
    const std::uint8_t c = desc.category;

    // Which items the descriptor accepts.
    bool accepted;
    switch (c) {
        case FC_I: case FC_IM: case FC_L: accepted = is_integral(et.family); break;
        case FC_O: case FC_OM: case FC_Z: case FC_ZM: case FC_B: case FC_BM: case FC_A:
        case FC_G: case FC_GE:
            accepted = true;
            break;
        default:
            if (!is_real_category(c)) return status_of(MSG_INVALID_ARGUMENT);
            accepted = et.family == FAM_REAL;
            break;
    }
    if (!accepted) return mismatch();
    if (w < 0) return overflow(field, w);
    if (w == 0) return 0;

    std::int64_t length = et.family == FAM_CHARACTER ? item.length : et.size;
    switch (c) {
        case FC_I: return edit_integer(item, et, w, 1, desc.sign, field);
        case FC_IM: return edit_integer(item, et, w, desc.d, desc.sign, field);
        case FC_O: case FC_OM: case FC_Z: case FC_ZM: case FC_B: case FC_BM: {
            int bits = (c == FC_O || c == FC_OM) ? 3 : (c == FC_Z || c == FC_ZM) ? 4 : 1;
            std::int32_t m = (c == FC_O || c == FC_Z || c == FC_B) ? 1 : desc.d;
            return put_radix_field(item.address, length, bits, w, m, field);
        }
        case FC_L: return edit_logical(item, et, w, desc.options, field);
        case FC_A: edit_character(item.address, length, w, field); return 0;
        case FC_G: case FC_GE:
            if (et.family == FAM_CHARACTER) {
                edit_character(item.address, length, w, field);
                return 0;
            }
            if (et.family == FAM_LOGICAL) return edit_logical(item, et, w, desc.options, field);
            if (is_integral(et.family)) return edit_integer(item, et, w, 1, desc.sign, field);
            return edit_real(item, et, desc, field);
        default: return edit_real(item, et, desc, field);
    }
}

}  // namespace forrtl
