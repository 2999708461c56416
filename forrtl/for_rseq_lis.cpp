// List-directed input: finding values in free-form records and storing
// them by item type.
//
// Values are separated by blanks, tabs, commas, slashes and record ends.
// A value is a number, a logical, a quoted or undelimited string or a
// parenthesised complex constant, optionally preceded by a repeat count
// "r*"; "r*" alone, ",," and a comma after "r*" are null values that leave
// their items unchanged; "/" ends the statement.
#include "for_rseq_lis.h"

#include <cmath>
#include <cstring>
#include <initializer_list>

namespace forrtl {

namespace {

// Character classes of the scanner.
enum ScanClass : std::uint8_t {
    SC_OTHER = 0,
    SC_BLANK,     // blank, tab, line feed
    SC_DIGIT,
    SC_SIGN,
    SC_POINT,
    SC_EXPONENT,  // D, E, Q in either case
    SC_STAR,
    SC_END,       // ",", "/", ")": end a token like a blank
};

struct ScanTable {
    ScanClass cls[256];
    constexpr ScanTable() : cls{} {
        cls[unsigned(' ')] = cls[unsigned('\t')] = cls[unsigned('\n')] = SC_BLANK;
        for (char c = '0'; c <= '9'; ++c) cls[unsigned(c)] = SC_DIGIT;
        cls[unsigned('+')] = cls[unsigned('-')] = SC_SIGN;
        cls[unsigned('.')] = SC_POINT;
        for (char c : {'D', 'E', 'Q', 'd', 'e', 'q'}) cls[unsigned(c)] = SC_EXPONENT;
        cls[unsigned('*')] = SC_STAR;
        cls[unsigned(',')] = cls[unsigned('/')] = cls[unsigned(')')] = SC_END;
    }
};
constexpr ScanTable kScan;

inline ScanClass class_of(char c) { return kScan.cls[static_cast<unsigned char>(c)]; }
inline bool is_blank(char c) { return class_of(c) == SC_BLANK; }

Status syntax_error() { return status_of(MSG_LIST_SYNTAX); }
Status conversion_error() { return status_of(MSG_INPUT_CONVERSION); }

bool is_logical_letter(char c) { return c == 'T' || c == 'F' || c == 't' || c == 'f'; }

// Reads the next record, noting what the finished one looked like for the
// comma rules.
Status next_record(ListReadState& st) {
    std::int32_t last = st.length - 1;
    while (last >= 0 && is_blank(st.record[last])) --last;
    st.previous_nonblank = last >= 0;
    st.previous_comma = last >= 0 && st.record[last] == ',';
    const char* data = nullptr;
    std::int32_t length = 0;
    if (Status s = st.source.next_record(st.source.context, &data, &length)) return s;
    st.record = data;
    st.length = length;
    st.pos = 0;
    st.new_record = true;
    ++st.records;
    return 0;
}

// Skips blanks, reading records as needed; on return a character stands at
// the position.
Status skip_blanks(ListReadState& st) {
    for (;;) {
        while (st.pos < st.length && is_blank(st.record[st.pos])) ++st.pos;
        if (st.pos < st.length) return 0;
        if (Status s = next_record(st)) return s;
    }
}

inline bool is_digit(char c) { return static_cast<unsigned char>(c - '0') < 10; }

// The characters of a number from the position: digits, signs, one ".",
// one exponent letter (not first).  A "*" ends the scan with `star` set
// when `star_allowed`; otherwise it is a syntax error.  A plain number is
// collected on the way, so that a real item needs no second pass.
Status scan_number(ListReadState& st, bool star_allowed, bool& star) {
    const char* rec = st.record;
    const std::int32_t start = st.pos;
    const std::int32_t length = st.length;
    std::int32_t i = start;
    bool point = false, exponent = false;
    star = false;

    // The plain form: [sign] digits [. digits] [letter [sign] digits].
    bool plain = true, negative = false;
    std::uint64_t mantissa = 0;
    std::int32_t fraction = 0;
    std::int32_t exp10 = 0;
    if (i < length && (rec[i] == '+' || rec[i] == '-')) negative = rec[i++] == '-';
    // Leading zeros are counted too: a number of more than 19 digits takes
    // the general conversion.
    std::int32_t digits_start = i;
    for (; i < length && is_digit(rec[i]); ++i) mantissa = mantissa * 10 + std::uint64_t(rec[i] - '0');
    std::int32_t digits = i - digits_start;
    if (i < length && rec[i] == '.') {
        point = true;
        digits_start = ++i;
        for (; i < length && is_digit(rec[i]); ++i) mantissa = mantissa * 10 + std::uint64_t(rec[i] - '0');
        fraction = i - digits_start;
        digits += fraction;
    }
    const bool any_digit = digits > 0;
    if (i < length && class_of(rec[i]) == SC_EXPONENT) {
        if (i == start) return syntax_error();
        exponent = true;
        bool exp_negative = false, exp_digit = false;
        ++i;
        if (i < length && (rec[i] == '+' || rec[i] == '-')) exp_negative = rec[i++] == '-';
        for (; i < length && is_digit(rec[i]); ++i) {
            exp_digit = true;
            if (exp10 < 100000) exp10 = exp10 * 10 + (rec[i] - '0');
        }
        if (exp_negative) exp10 = -exp10;
        plain = exp_digit;
    }
    plain = plain && any_digit && digits <= 19;

    // Whatever follows: more number characters (not a plain number), a
    // repeat count's "*", the end of the token, or a bad character.
    for (; i < length; ++i) {
        switch (class_of(rec[i])) {
        case SC_DIGIT:
        case SC_SIGN:
            plain = false;
            continue;
        case SC_POINT:
            if (point) return syntax_error();
            point = true;
            plain = false;
            continue;
        case SC_EXPONENT:
            if (i == start || exponent) return syntax_error();
            exponent = true;
            plain = false;
            continue;
        case SC_STAR:
            if (i == start || !star_allowed) return syntax_error();
            star = true;
            break;
        case SC_BLANK:
        case SC_END:
            break;
        case SC_OTHER:
            return syntax_error();
        }
        break;
    }
    st.token = rec + start;
    st.token_length = i - start;
    st.has_point = point;
    st.has_exponent = exponent;
    st.plain = plain;
    st.plain_negative = negative;
    st.plain_mantissa = mantissa;
    st.plain_exp10 = exp10 - fraction;
    st.pos = i;
    return 0;
}

Status scan_logical(ListReadState& st) {
    if (st.record[st.pos] == '.') ++st.pos;
    const char c = st.record[st.pos];
    st.logical_value = c == 'T' || c == 't';
    // The rest of the word (".TRUE.", "True") is skipped.
    while (st.pos < st.length && class_of(st.record[st.pos]) != SC_BLANK &&
           class_of(st.record[st.pos]) != SC_END)
        ++st.pos;
    st.kind = LV_LOGICAL;
    return 0;
}

Status scan_quoted(ListReadState& st) {
    const char quote = st.record[st.pos++];
    std::int32_t n = 0;
    for (;;) {
        if (st.pos >= st.length) {
            // The string goes on with the first character of the next record.
            if (Status s = next_record(st)) return s;
            continue;
        }
        char c = st.record[st.pos++];
        if (c == quote) {
            if (st.pos < st.length && st.record[st.pos] == quote) ++st.pos;
            else break;
        }
        if (n >= kListStringMax) return syntax_error();
        st.string_buffer[n++] = c;
    }
    st.token = st.string_buffer;
    st.token_length = n;
    st.kind = LV_STRING;
    return 0;
}

Status scan_undelimited(ListReadState& st) {
    const std::int32_t start = st.pos;
    std::int32_t i = start;
    while (i < st.length) {
        const char c = st.record[i];
        if (is_blank(c) || c == ',' || c == '/') break;
        ++i;
    }
    if (i - start > kListStringMax) return syntax_error();
    st.token = st.record + start;
    st.token_length = i - start;
    st.pos = i;
    st.kind = LV_STRING;
    return 0;
}

// One part of a complex constant, kept in the string buffer at `at` in the
// compact form of its value: a part of any length fits, and it outlives the
// record when the constant goes on over records.
Status scan_complex_part(ListReadState& st, std::int32_t at, std::int32_t& length, bool& point,
                         bool& exponent) {
    if (Status s = skip_blanks(st)) return s;
    const char c = st.record[st.pos];
    if (c == '(' || class_of(c) == SC_END) return syntax_error();
    bool star;
    if (Status s = scan_number(st, false, star)) return s;
    const InputField part{st.token, st.token_length, st.token_length};
    length = compact_real_text(part, BLANK_BN, st.string_buffer + at);
    point = st.has_point;
    exponent = st.has_exponent;
    return 0;
}

Status expect_char(ListReadState& st, char expected) {
    if (Status s = skip_blanks(st)) return s;
    if (st.record[st.pos] != expected) return syntax_error();
    ++st.pos;
    return 0;
}

static_assert(2 * kCompactRealText <= kListStringBuffer, "both parts of a complex value fit");

Status scan_complex(ListReadState& st) {
    ++st.pos;  // "("
    std::int32_t length1, length2;
    bool point1, exponent1;
    if (Status s = scan_complex_part(st, 0, length1, point1, exponent1)) return s;
    if (Status s = expect_char(st, ',')) return s;
    if (Status s = scan_complex_part(st, kCompactRealText, length2, st.part2_point, st.part2_exponent)) return s;
    if (Status s = expect_char(st, ')')) return s;
    st.token = st.string_buffer;
    st.token_length = length1;
    st.has_point = point1;
    st.has_exponent = exponent1;
    st.part2_offset = kCompactRealText;
    st.part2_length = length2;
    st.kind = LV_COMPLEX;
    return 0;
}

Status scan_at(ListReadState& st, TypeClass tc, bool after_repeat);

// "r*" has been found: [st.token, st.token_length) is r and the position is
// at the "*".
Status take_repeat(ListReadState& st, TypeClass tc) {
    bool negative;
    std::uint64_t count;
    const InputField field{st.token, st.token_length, st.token_length};
    if (!text_to_integer(field, BLANK_BN, negative, count) || negative || count == 0 ||
        count > 0x7FFFFFFF)
        return conversion_error();
    ++st.pos;  // "*"
    if (st.pos >= st.length || is_blank(st.record[st.pos])) {
        st.kind = LV_NULL;
    } else if (Status s = scan_at(st, tc, true)) {
        return s;
    }
    st.repeat = std::int32_t(count) - 1;
    return 0;
}

// Step 2 of finding a value: a non-blank character stands at the position.
Status scan_at(ListReadState& st, TypeClass tc, bool after_repeat) {
    const char c = st.record[st.pos];
    const bool undelimited = tc.family == TF_CHARACTER && st.standard_rules;
    st.comma_seen = false;
    if (c == ',') {  // only reached directly after "r*": a null value
        ++st.pos;
        st.kind = LV_NULL;
        st.comma_seen = true;
        return 0;
    }
    if (c == '/') {
        ++st.pos;
        st.kind = LV_SLASH;
        return 0;
    }
    if (c == '\'' || c == '"') return scan_quoted(st);
    if (c == ')') return syntax_error();
    if (undelimited) {
        // Digits followed by "*" are a repeat count; anything else is text.
        if (!after_repeat) {
            std::int32_t i = st.pos;
            while (i < st.length && class_of(st.record[i]) == SC_DIGIT) ++i;
            if (i > st.pos && i < st.length && st.record[i] == '*') {
                st.token = st.record + st.pos;
                st.token_length = i - st.pos;
                st.pos = i;
                return take_repeat(st, tc);
            }
        }
        return scan_undelimited(st);
    }
    if (c == '(') return scan_complex(st);
    if (is_logical_letter(c) ||
        (c == '.' && st.pos + 1 < st.length && is_logical_letter(st.record[st.pos + 1])))
        return scan_logical(st);
    bool star;
    if (Status s = scan_number(st, !after_repeat, star)) return s;
    if (star) return take_repeat(st, tc);
    st.kind = LV_NUMBER;
    return 0;
}

// Finds the next value for an item of class `tc`.
Status scan_list_value(ListReadState& st, TypeClass tc) {
    for (;;) {
        if (Status s = skip_blanks(st)) return s;
        const char* rec = st.record;
        if (rec[st.pos] == ',') {
            if (st.new_record && st.previous_nonblank && !st.previous_comma) {
                // The separator of the value that ended the previous record.
                ++st.pos;
                st.comma_seen = true;
                st.new_record = false;
                continue;
            }
            if (!st.comma_seen && !(st.pos > 0 && rec[st.pos - 1] == '*')) {
                std::int32_t j = st.pos - 1;
                while (j >= 0 && is_blank(rec[j])) --j;
                if (j < 0 || rec[j] != ',') {
                    ++st.pos;
                    st.comma_seen = true;
                    st.new_record = false;
                    continue;
                }
            }
            ++st.pos;
            st.kind = LV_NULL;
            st.comma_seen = true;
            st.new_record = false;
            return 0;
        }
        st.new_record = false;
        const Status s = scan_at(st, tc, false);
        st.new_record = false;  // a string or complex value may have read records
        return s;
    }
}

// ---------------------------------------------------------------------
// Conversion by item type.

Status store_truncated(double x, const InputItem& item, TypeClass tc) {
    if (!(std::fabs(x) < 18446744073709551616.0)) return conversion_error();  // NaN too
    const double t = std::trunc(x);
    const bool negative = t < 0;
    const std::uint64_t magnitude = std::uint64_t(negative ? -t : t);
    const TypeFamily family = tc.family == TF_LOGICAL ? TF_INTEGER : tc.family;
    if (!store_integer(item.address, tc.size, family, negative && magnitude != 0, magnitude))
        return conversion_error();
    return 0;
}

Status convert_number(const ListReadState& st, const InputItem& item, TypeClass tc) {
    const InputField field{st.token, st.token_length, st.token_length};
    switch (tc.family) {
    case TF_INTEGER:
    case TF_UNSIGNED:
        if (!st.has_point && !st.has_exponent) {
            bool negative;
            std::uint64_t magnitude;
            if (!text_to_integer(field, BLANK_BN, negative, magnitude) ||
                !store_integer(item.address, tc.size, tc.family, negative, magnitude))
                return conversion_error();
            return 0;
        }
        [[fallthrough]];
    case TF_LOGICAL: {
        double x;
        if (!text_to_real(field, BLANK_BN, 0, 0, 8, &x)) return conversion_error();
        return store_truncated(x, item, tc);
    }
    case TF_REAL:
        if (st.plain ? !decimal_to_real(st.plain_negative, st.plain_mantissa, st.plain_exp10, tc.size,
                                         item.address)
                     : !text_to_real(field, BLANK_BN, 0, 0, tc.size, item.address))
            return conversion_error();
        return 0;
    case TF_COMPLEX:
    case TF_CHARACTER:
        return syntax_error();
    default:
        return conversion_error();
    }
}

Status convert_value(const ListReadState& st, const InputItem& item) {
    const TypeClass tc = classify_item_type(item.type);
    switch (st.kind) {
    case LV_NULL:
    case LV_SLASH:
        return 0;
    case LV_NUMBER:
        return convert_number(st, item, tc);
    case LV_LOGICAL:
        switch (tc.family) {
        case TF_INTEGER:
        case TF_UNSIGNED:
        case TF_LOGICAL:
            store_integer(item.address, tc.size, TF_INTEGER, st.logical_value, st.logical_value ? 1 : 0);
            return 0;
        case TF_REAL:
            if (tc.size == 4) {
                const float x = st.logical_value ? -1.0f : 0.0f;
                std::memcpy(item.address, &x, 4);
            } else {
                const double x = st.logical_value ? -1.0 : 0.0;
                std::memcpy(item.address, &x, 8);
            }
            return 0;
        case TF_CHARACTER:
            return syntax_error();
        default:
            return conversion_error();
        }
    case LV_STRING:
        if (tc.family != TF_CHARACTER) return conversion_error();
        {
            auto* out = static_cast<char*>(item.address);
            const std::int32_t n = st.token_length < item.length ? st.token_length : item.length;
            std::memcpy(out, st.token, std::size_t(n));
            if (n < item.length) std::memset(out + n, ' ', std::size_t(item.length - n));
        }
        return 0;
    case LV_COMPLEX:
        if (tc.family == TF_CHARACTER) return syntax_error();
        if (tc.family != TF_COMPLEX) return conversion_error();
        {
            // Both parts are converted before either is stored.
            unsigned char parts[16];
            const InputField re{st.token, st.token_length, st.token_length};
            const InputField im{st.string_buffer + st.part2_offset, st.part2_length, st.part2_length};
            if (!text_to_real(re, BLANK_BN, 0, 0, tc.size, parts) ||
                !text_to_real(im, BLANK_BN, 0, 0, tc.size, parts + tc.size))
                return conversion_error();
            std::memcpy(item.address, parts, std::size_t(tc.size) * 2);
        }
        return 0;
    }
    return conversion_error();
}

Status fail(ListReadState& st, Status s) {
    st.error = s;
    return s;
}

}  // namespace

Status list_scan_begin(ListReadState& st, std::uint32_t flags, const ListRecordSource& source) {
    st.source = source;
    st.standard_rules = (flags & (1u << 18)) != 0;
    st.record = nullptr;
    st.length = 0;
    st.pos = 0;
    st.records = 0;
    st.comma_seen = true;  // the statement start stands for a separator
    st.new_record = true;
    st.previous_nonblank = false;
    st.previous_comma = false;
    st.kind = LV_NULL;
    st.logical_value = false;
    st.has_point = st.has_exponent = false;
    st.plain = st.plain_negative = false;
    st.plain_mantissa = 0;
    st.plain_exp10 = 0;
    st.token = nullptr;
    st.token_length = 0;
    st.part2_offset = st.part2_length = 0;
    st.part2_point = st.part2_exponent = false;
    st.repeat = 0;
    st.ended = false;
    st.error = 0;
    if (Status s = next_record(st)) return fail(st, s);
    st.previous_nonblank = false;  // nothing before the first record
    st.previous_comma = false;
    return 0;
}

Status list_scan_item(ListReadState& st, const InputItem& item) {
    if (st.error) return st.error;
    if (st.ended) return 0;
    if (st.repeat > 0) {
        --st.repeat;
    } else {
        if (Status s = scan_list_value(st, classify_item_type(item.type))) return fail(st, s);
        if (st.kind == LV_SLASH) {
            st.ended = true;
            return 0;
        }
    }
    if (Status s = convert_value(st, item)) return fail(st, s);
    return 0;
}

Status list_scan_end(ListReadState& st) { return st.error; }

}  // namespace forrtl
