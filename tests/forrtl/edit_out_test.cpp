// Output editing: tables of (descriptor, value, expected field), the field
// written between brackets so that blanks count.
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "for_desc_item.h"
#include "for_lub.h"
#include "for_wseq_fmt.h"

namespace {

using namespace forrtl;

// A value to edit: its type code and bytes.
struct Val {
    std::uint8_t type;
    unsigned char bytes[16];
    std::int64_t length;
    std::string shown;
};

Val r4(float v) {
    Val x{TYPE_REAL4, {}, 4, std::to_string(v) + "f"};
    std::memcpy(x.bytes, &v, 4);
    return x;
}
Val r4bits(std::uint32_t bits) {
    Val x{TYPE_REAL4, {}, 4, "r4 bits " + std::to_string(bits)};
    std::memcpy(x.bytes, &bits, 4);
    return x;
}
Val r8(double v) {
    char buf[40];
    std::snprintf(buf, sizeof buf, "%.17g", v);
    Val x{TYPE_REAL8, {}, 8, buf};
    std::memcpy(x.bytes, &v, 8);
    return x;
}
Val r8bits(std::uint64_t bits) {
    Val x{TYPE_REAL8, {}, 8, "r8 bits " + std::to_string(bits)};
    std::memcpy(x.bytes, &bits, 8);
    return x;
}
Val int_of(std::uint8_t type, std::int64_t v, int size) {
    Val x{type, {}, size, "int " + std::to_string(v)};
    std::memcpy(x.bytes, &v, std::size_t(size));  // little-endian: the low bytes
    return x;
}
Val i4(std::int32_t v) { return int_of(TYPE_INT4, v, 4); }
Val l4(std::int32_t v) { return int_of(TYPE_LOGICAL4, v, 4); }
Val ch(const char* s) {
    Val x{TYPE_CHARACTER, {}, std::int64_t(std::strlen(s)), std::string("char '") + s + "'"};
    std::memcpy(x.bytes, s, std::strlen(s));
    return x;
}

// Descriptor text as a format would write it: "F6.2", "E10.3E3", "I4.0",
// "A", "G15.7E2" ...
EditDescriptor parse(const char* text) {
    EditDescriptor d{};
    std::string s = text;
    std::string letters;
    std::size_t i = 0;
    while (i < s.size() && std::isalpha(static_cast<unsigned char>(s[i])) &&
           (letters.empty() || (letters == "E" && (s[i] == 'N' || s[i] == 'S'))))
        letters += s[i++];
    auto number = [&](std::int32_t& out) {
        std::size_t start = i;
        while (i < s.size() && std::isdigit(static_cast<unsigned char>(s[i]))) ++i;
        out = std::int32_t(std::stol(s.substr(start, i - start)));
    };
    bool has_w = i < s.size(), has_d = false, has_e = false;
    if (has_w) number(d.w);
    if (i < s.size() && s[i] == '.') {
        ++i;
        number(d.d);
        has_d = true;
    }
    if (i < s.size() && s[i] == 'E') {
        ++i;
        number(d.e);
        has_e = true;
    }
    struct Map {
        const char* letters;
        std::uint8_t none, w, wd, we;
    };
    static const Map kMap[] = {
        {"A", FC_A0, FC_A, FC_A, FC_A},       {"I", FC_I0, FC_I, FC_IM, FC_IM},
        {"O", FC_O0, FC_O, FC_OM, FC_OM},     {"Z", FC_Z0, FC_Z, FC_ZM, FC_ZM},
        {"B", FC_B0, FC_B, FC_BM, FC_BM},     {"L", FC_L0, FC_L, FC_L, FC_L},
        {"F", FC_F0, FC_F, FC_F, FC_F},       {"E", FC_E0, FC_E, FC_E, FC_EE},
        {"D", FC_D0, FC_D, FC_D, FC_D},       {"G", FC_G0, FC_G, FC_G, FC_GE},
        {"EN", FC_EN0, FC_EN, FC_EN, FC_ENE}, {"ES", FC_ES0, FC_ES, FC_ES, FC_ESE},
    };
    for (const auto& m : kMap) {
        if (letters != m.letters) continue;
        d.category = !has_w ? m.none : has_e ? m.we : has_d ? m.wd : m.w;
    }
    if (d.category == FC_I || d.category == FC_O || d.category == FC_Z || d.category == FC_B) d.d = 1;
    return d;
}

struct Row {
    const char* desc;
    Val value;
    const char* expected;  // "[...]"
    int scale = 0;
    SignMode sign = SIGN_NONE;
    std::uint32_t options = 0;
    bool list_directed = false;
};

std::string label_of(const Row& row) {
    std::string l = std::string(row.desc) + " of " + row.value.shown;
    if (row.scale) l += " with " + std::to_string(row.scale) + "P";
    if (row.sign == SIGN_SP) l += " under SP";
    if (row.options & SF_STANDARD_RULES) l += " (standard rules)";
    if (row.options & SF_ALT_LIST_LAYOUT) l += " (second G rule)";
    if (row.options & SF_TRUE_NONZERO) l += " (true when non-zero)";
    if (row.list_directed) l += " (list-directed)";
    return l;
}

// Edits one row into a guarded buffer; checks that exactly w characters are
// written and that asterisks come with the output conversion status.
void check_rows(const Row* rows, std::size_t count) {
    for (std::size_t r = 0; r < count; ++r) {
        const Row& row = rows[r];
        std::string label = label_of(row);
        EditDescriptor desc = parse(row.desc);
        desc.scale = row.scale;
        desc.sign = row.sign;
        desc.options = row.options;
        desc.list_directed = row.list_directed;
        OutputItem item{row.value.type, row.value.bytes, row.value.length};
        EditDescriptor resolved = desc;
        apply_default_width(resolved, item);
        std::string expected = std::string(row.expected).substr(1, std::strlen(row.expected) - 2);
        ASSERT_EQ(std::size_t(resolved.w), expected.size()) << label;
        char buffer[128];
        std::memset(buffer, '#', sizeof buffer);
        Status st = edit_output_field(item, desc, buffer);
        std::string got(buffer, std::size_t(resolved.w));
        EXPECT_EQ("[" + got + "]", row.expected) << label;
        EXPECT_EQ(buffer[resolved.w], '#') << label << ": wrote past the field";
        bool stars = !expected.empty() && expected.find_first_not_of('*') == std::string::npos;
        EXPECT_EQ(st, stars ? status_of(MSG_OUTPUT_CONVERSION) : 0u) << label;
    }
}

TEST(EditOutput, FixedEditing) {
    const Row rows[] = {
        {"F6.2", r8(0.5), "[  0.50]"},
        {"F6.2", r8(0.125), "[  0.13]"},
        {"F6.2", r8(-0.0004), "[  0.00]"},
        {"F6.2", r8(-0.004), "[ -0.00]"},
        {"F6.2", r8(-0.006), "[ -0.01]"},
        {"F6.2", r8(1234.5), "[******]"},
        {"F6.2", r8(-0.0), "[  0.00]"},
        {"F4.2", r8(0.5), "[0.50]"},
        {"F4.2", r8(-0.5), "[-.50]"},
        {"F3.2", r8(0.5), "[.50]"},
        {"F3.2", r8(-0.5), "[***]"},
        {"F5.2", r4bits(0x3E000000), "[ 0.13]"},   // 0.125f: a tie, away from zero
        {"F5.2", r4bits(0xBE000000), "[-0.13]"},   // -0.125f
        {"F3.0", r8(2.5), "[ 3.]"},
        {"F3.0", r8(-2.5), "[-3.]"},
        {"F2.0", r8(0.4), "[0.]"},
        {"F2.0", r8(0.5), "[1.]"},
        {"F8.4", r4(2.5f), "[  2.5000]"},
        {"F10.5", r4bits(0x40490FDB), "[   3.14159]"},  // 3.14159274f
        {"F6.2", r8(99.995), "[100.00]"},               // carry into a new digit
        {"F5.2", r8(99.995), "[*****]"},
        {"F6.2", r8(1.5), "[ +1.50]", 0, SIGN_SP},
        {"F6.2", r8(-0.0004), "[ +0.00]", 0, SIGN_SP},  // a zero result still gets its +
        {"F4.2", r8(0.5), "[+.50]", 0, SIGN_SP},
        {"F8.2", r8(1.5), "[  150.00]", 2},
        {"F6.2", r8(1.5), "[  0.15]", -1},
        {"F8.2", r4(1.5f), "[ 1500.00]", 3},
        {"F30.20", r8(0.1), "[        0.10000000000000000555]"},
        {"F45.1", r8(1e40), "[  10000000000000000303786028427003666890752.0]"},
        {"F12.4", r4bits(0x00000001), "[  0.1401E-44]"},  // a denormal goes to E editing
        {"F7.3", r4bits(0x00000001), "[*******]"},
    };
    check_rows(rows, std::size(rows));
}

TEST(EditOutput, ExponentEditing) {
    const Row rows[] = {
        {"E12.4", r8(0.0), "[  0.0000E+00]"},
        {"E12.4", r8(-0.0), "[  0.0000E+00]"},
        {"E12.4", r8(1.0e-101), "[  0.1000-100]"},  // three exponent digits, no letter
        {"E10.3E3", r8(1.0e-100), "[0.100E-099]"},
        {"E10.3E2", r8(1.0e-101), "[**********]"},
        {"E12.4", r8(1234.5), "[  0.1235E+04]"},
        {"E10.4", r8(1234.5), "[0.1235E+04]"},
        {"E10.4", r8(-1234.5), "[-.1235E+04]"},
        {"E9.4", r8(-1234.5), "[*********]"},
        {"E12.4", r8(1234.5), "[  1.2345E+03]", 1},
        {"E12.4", r8(1234.5), "[  12345.E-01]", 5},
        {"E12.4", r8(1234.5), "[************]", 6},
        {"E12.4", r8(1234.5), "[  0.0012E+06]", -2},
        {"E12.4", r8(1234.5), "[************]", -4},
        {"E12.0", r8(1234.5), "[************]"},
        {"E12.0", r8(1234.5), "[      1.E+03]", 1},
        {"E12.4", r8(0.99996), "[  0.1000E+01]"},
        {"E12.4", r8(1234.5), "[ +0.1235E+04]", 0, SIGN_SP},
        {"D12.4", r8(1234.5), "[  0.1235D+04]"},
        {"E12.4", r8bits(1), "[  0.4941-323]"},  // smallest double denormal
        {"E12.4", r4bits(0x00000001), "[  0.1401E-44]"},
        {"EN10.2", r8(99.996), "[100.00E+00]"},
        {"EN12.3", r8(1234.5), "[   1.235E+03]"},
        {"EN12.3", r8(0.012345), "[  12.345E-03]"},
        {"EN12.3", r8(123456.0), "[ 123.456E+03]"},
        {"EN12.3", r8(0.0), "[   0.000E+00]"},
        {"EN10.2", r8(1.23496), "[  1.23E+00]"},  // rounded once, on the exact value
        {"EN10.2", r8(9.996), "[ 10.00E+00]"},
        {"EN14.3E3", r8(-4.5e-7), "[ -450.000E-009]"},
        {"ES12.3", r8(1234.5), "[   1.235E+03]"},
        {"ES12.3", r8(0.0), "[   0.000E+00]"},
        {"ES12.3", r8(9.9996), "[   1.000E+01]"},
        {"ES12.3E1", r8(0.5), "[    5.000E-1]"},
    };
    check_rows(rows, std::size(rows));
}

TEST(EditOutput, GeneralEditingOfReals) {
    constexpr std::uint32_t kStd = SF_STANDARD_RULES;
    const Row rows[] = {
        {"G12.5", r8(0.09999), "[ 0.99990E-01]"},
        {"G12.5", r8(0.1), "[ 0.10000    ]"},
        {"G12.5", r8(99999.4), "[  99999.    ]"},
        {"G12.5", r8(99999.6), "[ 0.10000E+06]"},
        {"G12.5", r8(0.099999999), "[ 0.10000    ]"},  // rounds up into the F range
        {"G12.5", r8(1.5), "[  1.5000    ]"},
        {"G12.5", r8(-1.5), "[ -1.5000    ]"},
        {"G12.5", r8(1234.5), "[  1234.5    ]"},
        {"G12.5", r8(123456.0), "[ 1.23456E+05]", 1},  // E form keeps the scale factor
        {"G12.5", r8(1.5), "[  1.5000    ]", 2},        // F form ignores it
        {"G10.3", r8(0.0), "[  0.00    ]", 0, SIGN_NONE, kStd},
        {"G10.3", r8(-0.0), "[  0.00    ]", 0, SIGN_NONE, kStd},
        {"G10.0", r8(0.0), "[**********]", 0, SIGN_NONE, kStd},
        {"G10.3", r8(0.0), "[ 0.000E+00]"},
        {"G11.3E3", r8(5.0), "[  5.00     ]"},  // n = e + 2 trailing blanks
        {"G6.3", r8(5.0), "[******]"},
        {"G12.4", r4bits(0x00000001), "[  0.1401E-44]"},
        {"G15.7E2", r4(1.0f), "[   1.000000    ]", 1, SIGN_NONE, 0, true},
        {"G15.7E2", r4(0.5f), "[  0.5000000    ]", 1, SIGN_NONE, 0, true},
        {"G15.7E2", r4(123.456f), "[   123.4560    ]", 1, SIGN_NONE, 0, true},
        {"G15.7E2", r4(-1.5f), "[  -1.500000    ]", 1, SIGN_NONE, 0, true},
        {"G15.7E2", r4(0.05f), "[  5.0000001E-02]", 1, SIGN_NONE, 0, true},
        {"G15.7E2", r4(1.0e7f), "[  1.0000000E+07]", 1, SIGN_NONE, 0, true},
        {"G15.7E2", r4(0.0f), "[  0.0000000E+00]", 1, SIGN_NONE, kStd, true},
        {"G15.7E2", r4(1.0e-5f), "[  9.9999997E-06]", 1, SIGN_NONE, 0, true},
        {"G15.7", r8(1234567.0), "[   1234567.    ]", 0, SIGN_NONE, SF_ALT_LIST_LAYOUT},
        {"G15.7", r8(0.5), "[  0.5000000E+00]", 0, SIGN_NONE, SF_ALT_LIST_LAYOUT},
        {"G15.7", r8(12345678.0), "[  0.1234568E+08]", 0, SIGN_NONE, SF_ALT_LIST_LAYOUT},
        {"G15.3", r8(12345.678), "[     12346.    ]", 0, SIGN_NONE, SF_ALT_LIST_LAYOUT},
    };
    check_rows(rows, std::size(rows));
}

TEST(EditOutput, SpecialValues) {
    const double inf = std::numeric_limits<double>::infinity();
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const Row rows[] = {
        {"F8.2", r8(nan), "[ NaN    ]"},
        {"F6.2", r8(nan), "[ NaN  ]"},
        {"F3.2", r8(nan), "[NaN]"},
        {"F2.1", r8(nan), "[**]"},
        {"F10.2", r8(-inf), "[ -Infinity]"},
        {"F9.2", r8(-inf), "[-Infinity]"},
        {"F8.2", r8(inf), "[Infinity]"},
        {"F6.2", r8(inf), "[******]"},
        {"F10.2", r8(inf), "[ Infinity ]"},
        {"F10.2", r8(inf), "[ Infinity ]", 0, SIGN_SP},
        {"E12.4", r4(float(nan)), "[ NaN        ]"},
        {"E12.0", r8(nan), "[ NaN        ]"},
        {"EN12.3", r8(-inf), "[ -Infinity  ]"},
        {"ES12.3", r8(inf), "[ Infinity   ]"},
        {"D12.4", r8(inf), "[ Infinity   ]"},
        {"G15.7E2", r4(float(-inf)), "[ -Infinity     ]", 1, SIGN_NONE, 0, true},
        {"F10.2", r8(1e308), "[ Infinity ]", 10},  // the scale factor overflows the value
    };
    check_rows(rows, std::size(rows));
}

TEST(EditOutput, IntegerAndRadixEditing) {
    const Row rows[] = {
        {"I4", i4(0), "[   0]"},
        {"I4.0", i4(0), "[    ]"},
        {"I4.0", i4(0), "[    ]", 0, SIGN_SP},
        {"I4.3", i4(-5), "[-005]"},
        {"I3", i4(-100), "[***]"},
        {"I4", i4(5), "[  +5]", 0, SIGN_SP},
        {"I3.3", i4(5), "[005]"},
        {"I3.3", i4(5), "[***]", 0, SIGN_SP},
        {"I11", i4(INT32_MIN), "[-2147483648]"},
        {"I20", int_of(11, INT64_MIN, 8), "[-9223372036854775808]"},
        {"I4", int_of(5, -128, 1), "[-128]"},
        {"I6", int_of(7, -32768, 2), "[-32768]"},
        {"I10", int_of(10, -1, 4), "[4294967295]"},  // unsigned: no sign
        {"I12", int_of(10, 5, 4), "[           5]", 0, SIGN_SP},  // not even under SP
        {"I3.2", int_of(6, 7, 1), "[ 07]", 0, SIGN_SP},
        {"I20", int_of(12, -1, 8), "[18446744073709551615]", 0, SIGN_SP},
        {"I4", l4(1), "[   1]"},
        {"I12", int_of(16, -1, 4), "[          -1]"},
        {"Z8", i4(255), "[      FF]"},
        {"Z4.3", i4(10), "[ 00A]"},
        {"Z8", i4(-1), "[FFFFFFFF]"},
        {"Z4", i4(0x12345), "[****]"},
        {"Z4.0", i4(0), "[    ]"},
        {"Z8", r4(1.0f), "[3F800000]"},
        {"Z6", ch("AB"), "[  4241]"},
        {"Z16", r8(-2.0), "[C000000000000000]"},
        {"O6", i4(8), "[    10]"},
        {"O12", i4(-1), "[ 37777777777]"},
        {"O22", int_of(11, -1, 8), "[1777777777777777777777]"},
        {"B8", i4(5), "[     101]"},
        {"B8.8", i4(5), "[00000101]"},
        {"B8", int_of(5, -1, 1), "[11111111]"},
        {"B7", int_of(5, -1, 1), "[*******]"},
    };
    check_rows(rows, std::size(rows));
}

TEST(EditOutput, LogicalCharacterAndGeneralOfOtherTypes) {
    const Row rows[] = {
        {"L3", l4(2), "[  F]"},
        {"L3", l4(2), "[  T]", 0, SIGN_NONE, SF_TRUE_NONZERO},
        {"L3", l4(-1), "[  T]"},
        {"L1", l4(1), "[T]"},
        {"L2", i4(3), "[ T]"},
        {"A4", ch("AB"), "[  AB]"},
        {"A1", ch("AB"), "[A]"},
        {"A2", ch("AB"), "[AB]"},
        {"A4", r4bits(0x54584554), "[TEXT]"},  // text held in a 4-byte real
        {"A6", r4bits(0x54584554), "[  TEXT]"},
        {"G5.2", i4(42), "[   42]"},
        {"G5.2", i4(-42), "[  -42]"},
        {"G3.1", l4(1), "[  T]"},
        {"G4.1", ch("AB"), "[  AB]"},
    };
    check_rows(rows, std::size(rows));
}

TEST(EditOutput, DefaultWidths) {
    const Row rows[] = {
        {"I", i4(-7), "[          -7]"},
        {"I", int_of(7, 7, 2), "[      7]"},
        {"I", int_of(11, 7, 8), "[                      7]"},
        {"Z", i4(255), "[          FF]"},
        {"B", int_of(5, 5, 1), "[      101]"},
        {"L", l4(1), "[ T]"},
        {"A", ch("ABC"), "[ABC]"},
        {"F", r4(1.5f), "[      1.5000000]"},
        {"E", r4(1.5f), "[  0.1500000E+01]"},
        {"D", r8(1.5), "[   0.1500000000000000D+01]"},
        {"G", r4(1.5f), "[   1.500000    ]"},
        {"G", i4(42), "[          42]"},
        {"G", l4(0), "[           F]"},
        {"ES", r8(-1.5), "[  -1.5000000000000000E+00]"},
        {"EN", r4(1500.0f), "[  1.5000000E+03]"},
    };
    check_rows(rows, std::size(rows));
}

TEST(EditOutput, TypeMismatchAndInvalidArguments) {
    struct Case {
        const char* desc;
        Val value;
        Status status;
    };
    const Case cases[] = {
        {"I4", r4(1.0f), status_of(MSG_FORMAT_TYPE_MISMATCH)},
        {"I4", ch("AB"), status_of(MSG_FORMAT_TYPE_MISMATCH)},
        {"F6.2", i4(1), status_of(MSG_FORMAT_TYPE_MISMATCH)},
        {"E12.4", l4(1), status_of(MSG_FORMAT_TYPE_MISMATCH)},
        {"ES12.4", ch("AB"), status_of(MSG_FORMAT_TYPE_MISMATCH)},
        {"L2", r8(1.0), status_of(MSG_FORMAT_TYPE_MISMATCH)},
        {"L2", ch("T"), status_of(MSG_FORMAT_TYPE_MISMATCH)},
        {"I4", Val{3, {}, 4, "type code 3"}, status_of(MSG_INVALID_ARGUMENT)},
        {"F6.2", Val{50, {}, 16, "16-byte real"}, status_of(MSG_INVALID_ARGUMENT)},
    };
    for (const auto& c : cases) {
        EditDescriptor desc = parse(c.desc);
        OutputItem item{c.value.type, c.value.bytes, c.value.length};
        char buffer[32];
        std::memset(buffer, '#', sizeof buffer);
        EXPECT_EQ(edit_output_field(item, desc, buffer), c.status) << c.desc << " of " << c.value.shown;
        if (c.status == status_of(MSG_FORMAT_TYPE_MISMATCH)) {
            EXPECT_EQ(std::string(buffer, 4), "####") << c.desc << " of " << c.value.shown
                                                      << ": a mismatch leaves the field alone";
        }
    }
    EditDescriptor literal{};
    literal.category = FC_LITERAL;
    literal.w = 3;
    Val v = i4(1);
    char buffer[8];
    EXPECT_EQ(edit_output_field({v.type, v.bytes, v.length}, literal, buffer), status_of(MSG_INVALID_ARGUMENT));
}

TEST(EditOutput, ZeroAndNegativeWidths) {
    Val v = i4(5);
    OutputItem item{v.type, v.bytes, v.length};
    char buffer[8] = "#######";
    EditDescriptor d = parse("I4");
    d.w = 0;
    EXPECT_EQ(edit_output_field(item, d, buffer), 0u);
    EXPECT_EQ(buffer[0], '#');
    d.w = -1;
    EXPECT_EQ(edit_output_field(item, d, buffer), status_of(MSG_OUTPUT_CONVERSION));
    EXPECT_EQ(buffer[0], '#');
    d = parse("I4.1");
    d.d = -1;
    EXPECT_EQ(edit_output_field(item, d, buffer), status_of(MSG_OUTPUT_CONVERSION));
    EXPECT_EQ(std::string(buffer, 4), "****");
}

// The short way of Fw.d for 4-byte reals against the exact digit generator:
// the same value as an 8-byte real (exact, so the same digits) goes the
// long way.  Random bit patterns from 2^-40 to 2^34 (across the short way's
// limit of 2^32), values whose tail is exactly a half at the rounding
// place, values just beside such halves and beside powers of ten; all
// widths from 1 to 16, places from 0 to 11, with and without SP.
TEST(EditOutput, ShortFixedWayMatchesExactDigits) {
    std::mt19937 rng(42);
    std::vector<float> values = {0.0f, -0.0f, 1.0f, 0.5f, 2.5f, 9.5f, 99.5f, 0.05f, 999.995f, 4294967295.0f,
                                 4294967296.0f, std::numeric_limits<float>::infinity(),
                                 std::numeric_limits<float>::quiet_NaN(), 1e-30f, 3.4e38f};
    for (int i = 0; i < 600; ++i) {
        const std::uint32_t exponent = 87 + rng() % 74;  // 2^-40 .. 2^33
        std::uint32_t bits = (exponent << 23) | (rng() & 0x7FFFFFu);
        float f;
        std::memcpy(&f, &bits, 4);
        values.push_back(f);
        // An exact half at place d: an odd number of units of 2^-k.
        const int k = 1 + static_cast<int>(rng() % 12);
        values.push_back(std::ldexp(static_cast<float>(2 * (rng() % 4096) + 1), -k));
        // Beside a decimal boundary.
        const float boundary = static_cast<float>(rng() % 100000) / std::pow(10.0f, static_cast<float>(rng() % 6));
        values.push_back(std::nextafter(boundary, 0.0f));
        values.push_back(std::nextafter(boundary, 1e9f));
    }
    int checked = 0;
    for (float f : values) {
        for (float v : {f, -f}) {
            const double wide = v;
            for (std::int32_t d = 0; d <= 11; ++d) {
                for (std::int32_t w = 1; w <= 16; ++w) {
                    for (SignMode sign : {SIGN_NONE, SIGN_SP}) {
                        EditDescriptor desc{};
                        desc.category = FC_F;
                        desc.w = w;
                        desc.d = d;
                        desc.sign = sign;
                        char got[16], want[16];
                        const Status s4 = edit_output_field(OutputItem{TYPE_REAL4, &v, 4}, desc, got);
                        const Status s8 = edit_output_field(OutputItem{TYPE_REAL8, &wide, 8}, desc, want);
                        ASSERT_EQ(std::string(got, std::size_t(w)), std::string(want, std::size_t(w)))
                            << "F" << w << "." << d << (sign == SIGN_SP ? " under SP" : "") << " of "
                            << r4(v).shown;
                        ASSERT_EQ(s4, s8);
                        ++checked;
                    }
                }
            }
        }
    }
    EXPECT_GT(checked, 1000000);
}

// The short way of Iw.m for 4-byte integers against the 8-byte integer path.
TEST(EditOutput, ShortIntegerWayMatchesWideIntegers) {
    std::mt19937 rng(43);
    std::vector<std::int32_t> values = {0, 1, -1, 9, 10, -10, 99999, INT32_MAX, INT32_MIN};
    for (int i = 0; i < 2000; ++i) values.push_back(static_cast<std::int32_t>(rng()) >> (rng() % 32));
    for (std::int32_t v : values) {
        const std::int64_t wide = v;
        for (std::int32_t w = 1; w <= 13; ++w) {
            for (std::int32_t m = -1; m <= 13; ++m) {
                for (SignMode sign : {SIGN_NONE, SIGN_SP}) {
                    EditDescriptor desc{};
                    desc.category = m < 0 ? FC_I : FC_IM;
                    desc.w = w;
                    desc.d = m < 0 ? 1 : m;
                    desc.sign = sign;
                    char got[13], want[13];
                    const Status s4 = edit_output_field(OutputItem{TYPE_INT4, &v, 4}, desc, got);
                    const Status s8 = edit_output_field(OutputItem{11, &wide, 8}, desc, want);
                    ASSERT_EQ(std::string(got, std::size_t(w)), std::string(want, std::size_t(w)))
                        << "I" << w << "." << desc.d << " of " << v;
                    ASSERT_EQ(s4, s8);
                }
            }
        }
    }
}

TEST(EditOutput, WideRealFieldsAreExact) {
    // More digits than the 64-character working buffer holds.
    Val v = r8(1.0 / 3.0);
    OutputItem item{v.type, v.bytes, v.length};
    EditDescriptor d = parse("F100.90");
    char buffer[100];
    ASSERT_EQ(edit_output_field(item, d, buffer), 0u);
    std::string got(buffer, 100);
    EXPECT_EQ(got.substr(0, 10), "        0.");
    EXPECT_EQ(got.substr(10, 60), "333333333333333314829616256247390992939472198486328125000000");
    EXPECT_EQ(got.substr(70), std::string(30, '0'));
    d = parse("E80.70");
    ASSERT_EQ(edit_output_field(item, d, buffer), 0u);
    const std::string exact = "333333333333333314829616256247390992939472198486328125";
    EXPECT_EQ(std::string(buffer, 80), "    0." + exact + std::string(70 - exact.size(), '0') + "E+00");
}

}  // namespace

// The multiplication that divides by 10^D, for every D the F fields use:
// the powers of ten and their neighbours, the top of the range and random
// values below 2^62.
template <int D>
void check_divide_by_pow10(std::mt19937_64& random) {
    const std::uint64_t p = forrtl::edit_detail::kPow10[D];
    std::vector<std::uint64_t> values = {0, 1, p - 1, p, p + 1, 2 * p - 1, (std::uint64_t(1) << 62) - 1,
                                         (std::uint64_t(1) << 62) - p, (std::uint64_t(1) << 62) / p * p};
    for (int i = 0; i < 20000; ++i) values.push_back(random() >> 2);
    for (std::uint64_t v : values) {
        ASSERT_EQ(forrtl::edit_detail::divide_by_pow10<D>(v), v / p) << "D " << D << ", v " << v;
    }
}

TEST(EditOutput, DivisionByPowersOfTen) {
    std::mt19937_64 random(62);
    [&]<int... D>(std::integer_sequence<int, D...>) {
        (check_divide_by_pow10<D>(random), ...);
    }(std::make_integer_sequence<int, 10>{});
}
