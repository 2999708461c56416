// Input editing: fields of input records into items.
#include <gtest/gtest.h>

#include <bit>
#include <charconv>
#include <cmath>
#include <cstring>
#include <random>
#include <string>

#include "for_rseq_fmt.h"

using namespace forrtl;

namespace {

constexpr InputOptions kPad{true, true};
constexpr InputOptions kNoPadStandard{false, true};
constexpr InputOptions kNoPadLax{false, false};

unsigned number_of(Status s) { return status_number(s); }

// Reads one field of `text` with the descriptor into an item.
Status read_one(const std::string& text, InputEdit edit, std::uint8_t type, void* address,
                std::int32_t length = 0, InputOptions options = kPad) {
    InputRecord record{text.data(), std::int32_t(text.size()), 0};
    return read_input_field(record, edit, InputItem{type, address, length}, options);
}

InputEdit desc(std::uint8_t category, std::int32_t w, std::int32_t d = 0, std::int32_t scale = 0,
               BlankMode blank = BLANK_BN) {
    return InputEdit{category, w, d, scale, blank};
}

}  // namespace

// Integer fields: blanks by mode, signs, ranges of every width.
TEST(InputEditing, IntegerFields) {
    struct Row {
        const char* label;
        InputEdit edit;
        const char* field;
        std::uint8_t type;
        long long expected;  // when status is 0
        unsigned status;
    };
    const Row rows[] = {
        {"I3 BN [1 2]", desc(FC_I, 3), "1 2", 9, 12, 0},
        {"I3 BZ [1 2]", desc(FC_I, 3, 1, 0, BLANK_BZ), "1 2", 9, 102, 0},
        {"I4 [   0]", desc(FC_I, 4), "   0", 9, 0, 0},
        {"I4 blanks", desc(FC_I, 4), "    ", 9, 0, 0},
        {"I4 [ -17]", desc(FC_I, 4), " -17", 9, -17, 0},
        {"I4 [+ 17] BN", desc(FC_I, 4), "+ 17", 9, 17, 0},
        {"I3 BZ [-5 ]", desc(FC_I, 3, 1, 0, BLANK_BZ), "-5 ", 9, -50, 0},
        {"I11 int4 max", desc(FC_I, 11), " 2147483647", 9, 2147483647, 0},
        {"I11 int4 min", desc(FC_I, 11), "-2147483648", 9, -2147483648LL, 0},
        {"I11 int4 over", desc(FC_I, 11), " 2147483648", 9, 0, 64},
        {"I4 int1 -128", desc(FC_I, 4), "-128", 5, -128, 0},
        {"I4 int1 128", desc(FC_I, 4), " 128", 5, 0, 64},
        {"I6 int2 -32768", desc(FC_I, 6), "-32768", 7, -32768, 0},
        {"I6 int2 32768", desc(FC_I, 6), " 32768", 7, 0, 64},
        {"I20 int8 min", desc(FC_I, 20), "-9223372036854775808", 11, INT64_MIN, 0},
        {"I20 int8 over", desc(FC_I, 20), " 9223372036854775808", 11, 0, 64},
        {"I21 beyond 64 bits", desc(FC_I, 21), "999999999999999999999", 11, 0, 64},
        {"I4 uint1 255", desc(FC_I, 4), " 255", 6, 255, 0},
        {"I4 uint1 -1", desc(FC_I, 4), "  -1", 6, 0, 64},
        {"I3 letter", desc(FC_I, 3), "1a2", 9, 0, 64},
        {"I3 tab", desc(FC_I, 3), "\t12", 9, 0, 64},
        {"I3 point", desc(FC_I, 3), "1.2", 9, 0, 64},
        {"I0 defaults to 12", desc(FC_I0, 0), "         123", 9, 123, 0},
        {"G5 integer", desc(FC_G, 5, 2), "  -42", 9, -42, 0},
        {"I3 into logical4", desc(FC_I, 3), "  1", 16, 1, 0},
    };
    for (const Row& row : rows) {
        unsigned char bytes[8];
        std::memset(bytes, 0x5A, sizeof bytes);
        Status s = read_one(row.field, row.edit, row.type, bytes);
        EXPECT_EQ(number_of(s), row.status) << row.label << " [" << row.field << "]";
        if (row.status != 0 || s != 0) {
            EXPECT_EQ(bytes[0], 0x5A) << row.label << ": the item changed on failure";
            continue;
        }
        const int size = classify_item_type(row.type).size;
        long long value = 0;
        switch (size) {
        case 1: value = row.type == 6 ? (long long)bytes[0] : (long long)(std::int8_t)bytes[0]; break;
        case 2: { std::int16_t v; std::memcpy(&v, bytes, 2); value = v; break; }
        case 4: { std::int32_t v; std::memcpy(&v, bytes, 4); value = v; break; }
        default: { std::int64_t v; std::memcpy(&v, bytes, 8); value = v; break; }
        }
        EXPECT_EQ(value, row.expected) << row.label << " [" << row.field << "]";
        if (size < 8) {
            EXPECT_EQ(bytes[size], 0x5A) << row.label << ": stored beyond the item";
        }
    }
}

// Real fields: implied point, scale factor, exponent forms, special words,
// ranges.  Expected values by bit pattern where rounding matters.
TEST(InputEditing, RealFields) {
    struct Row {
        const char* label;
        InputEdit edit;
        const char* field;
        int size;
        double expected;        // compared after conversion to the item's precision
        std::uint64_t bits;     // when non-zero: the exact bit pattern instead
        unsigned status;
    };
    const double nan = std::nan("");
    const Row rows[] = {
        {"F5.0 [1.5]", desc(FC_F, 5, 0), "1.5", 4, 1.5, 0, 0},
        {"F5.1 [15]", desc(FC_F, 5, 1), "15", 4, 1.5, 0, 0},
        {"F5.1 BZ [15   ]", desc(FC_F, 5, 1, 0, BLANK_BZ), "15   ", 4, 1500.0, 0, 0},
        {"2P F5.0 [1.5E1]", desc(FC_F, 5, 0, 2), "1.5E1", 4, 15.0, 0, 0},
        {"2P F5.0 [1.5]", desc(FC_F, 5, 0, 2), "1.5", 4, 0.015, 0, 0},
        {"-2P F5.0 [1.5]", desc(FC_F, 5, 0, -2), "1.5", 4, 150.0, 0, 0},
        {"F8.3 [  -1.25]", desc(FC_F, 8, 3), "  -1.25 ", 8, -1.25, 0, 0},
        {"E10.3 [1.5D2]", desc(FC_E, 10, 3), "1.5D2", 8, 150.0, 0, 0},
        {"E10.3 [1.5q2]", desc(FC_E, 10, 3), "1.5q2", 8, 150.0, 0, 0},
        {"E10.3 [1.5+2]", desc(FC_E, 10, 3), "1.5+2", 8, 150.0, 0, 0},
        {"E10.3 [1.5-2]", desc(FC_E, 10, 3), "1.5-2", 8, 0.015, 0, 0},
        {"E10.3 [-1.5e-02]", desc(FC_E, 10, 3), "-1.5e-02", 8, -0.015, 0, 0},
        {"E10.3 [1.5 E 2] BN", desc(FC_E, 10, 3), "1.5 E 2", 8, 150.0, 0, 0},
        {"F6.2 [12345] implied", desc(FC_F, 6, 2), "12345", 8, 123.45, 0, 0},
        {"F6.2 [123E1] implied", desc(FC_F, 6, 2), "123E1", 8, 12.3, 0, 0},
        {"ES9.2 [.5]", desc(FC_ES, 9, 2), ".5", 8, 0.5, 0, 0},
        {"EN9.2 [5.]", desc(FC_EN, 9, 2), "5.", 8, 5.0, 0, 0},
        {"G9.2 real", desc(FC_G, 9, 2), "2.5", 4, 2.5, 0, 0},
        {"D9.2 [  -0.0]", desc(FC_D, 9, 2), "  -0.0", 8, 0, 0x8000000000000000ull, 0},
        {"F5.0 blanks", desc(FC_F, 5, 0), "     ", 4, 0.0, 0, 0},
        {"F5.0 [    -]", desc(FC_F, 5, 0), "    -", 4, 0, 0x80000000u, 0},
        {"F8.0 Infinity", desc(FC_F, 8, 0), "Infinity", 4, INFINITY, 0, 0},
        {"F12.0 -infinity", desc(FC_F, 12, 0), "  -infinity", 8, -INFINITY, 0, 0},
        {"F8.0 [  -inf] is no word", desc(FC_F, 8, 0), "  -inf", 8, 0, 0, 64},
        {"F8.0 nan", desc(FC_F, 8, 0), " nAn", 8, nan, 0, 0},
        {"F8.0 Infinityx", desc(FC_F, 9, 0), "Infinityx", 8, 0, 0, 64},
        {"F5.0 [e5]", desc(FC_F, 5, 0), "e5", 8, 0, 0, 64},
        {"F5.0 [1.2.3]", desc(FC_F, 5, 0), "1.2.3", 8, 0, 0, 64},
        {"F5.0 [1.5x]", desc(FC_F, 5, 0), "1.5x", 8, 0, 0, 64},
        {"F5.0 [.]", desc(FC_F, 5, 0), ".", 8, 0, 0, 64},
        {"F5.0 [1.5 \\t]", desc(FC_F, 5, 0), "1.5\t", 8, 0, 0, 64},
        {"F5.0 [\\t1.5]", desc(FC_F, 5, 0), "\t1.5", 8, 1.5, 0, 0},
        {"F8.0 real4 max", desc(FC_F, 20, 0), "3.4028235e38", 4, 0, 0x7F7FFFFFu, 0},
        {"F8.0 real4 over", desc(FC_F, 20, 0), "3.5e38", 4, 0, 0, 64},
        {"F8.0 real4 1e39", desc(FC_F, 20, 0), "1e39", 4, 0, 0, 64},
        {"F8.0 real4 1e-40 denormal", desc(FC_F, 20, 0), "1e-40", 4, 0, 0x000116C2u, 0},
        {"F8.0 real4 1e-45 smallest", desc(FC_F, 20, 0), "1e-45", 4, 0, 0x00000001u, 0},
        {"F8.0 real4 8e-46 rounds up", desc(FC_F, 20, 0), "8e-46", 4, 0, 0x00000001u, 0},
        {"F8.0 real4 6e-46 rounds to zero", desc(FC_F, 20, 0), "-6e-46", 4, 0, 0x80000000u, 0},
        {"F8.0 real4 -1e-50 zero", desc(FC_F, 20, 0), "-1e-50", 4, 0, 0x80000000u, 0},
        {"F8.0 real8 over", desc(FC_F, 20, 0), "1.8e308", 8, 0, 0, 64},
        {"F8.0 real8 1e-400", desc(FC_F, 20, 0), "1e-400", 8, 0.0, 0, 0},
        {"F8.0 real8 denormal", desc(FC_F, 20, 0), "4.9e-324", 8, 0, 1, 0},
        {"F8.0 huge exponent", desc(FC_F, 30, 0), "1e99999999999999", 8, 0, 0, 64},
        {"F8.0 tiny exponent", desc(FC_F, 30, 0), "1e-99999999999999", 8, 0.0, 0, 0},
        // Digits beyond the 27th are dropped: the tie 1 + 2^-24 stays a tie.
        {"F40 27 digits", desc(FC_F, 40, 0), "1.00000005960464477539062500001", 4, 0, 0x3F800000u, 0},
        // Rounded once to single precision, not through double (which would
        // land on the tie 1 + 2^-24 and round to even).
        {"F40 no double rounding", desc(FC_F, 40, 0), "1.0000000596046447763", 4, 0, 0x3F800001u, 0},
        // 17 digits whose double is the tie 1 + 2^-24: decided exactly.
        {"F40 tie in double, above", desc(FC_F, 40, 0), "1.0000000596046448", 4, 0, 0x3F800001u, 0},
        {"F40 tie in double, below", desc(FC_F, 40, 0), "1.0000000596046447", 4, 0, 0x3F800000u, 0},
        {"F40 leading zeros", desc(FC_F, 40, 0), "0000000000000000000000000000000012.5", 8, 12.5, 0, 0},
        {"F40 many fraction zeros", desc(FC_F, 40, 0), "0.000000000000000000000000000000125", 8, 1.25e-31, 0, 0},
        {"F0 real8 defaults 25.16", desc(FC_F0, 0), "1234567890123456789", 8, 123.4567890123456789, 0, 0},
    };
    for (const Row& row : rows) {
        unsigned char bytes[8];
        std::memset(bytes, 0x5A, sizeof bytes);
        Status s = read_one(row.field, row.edit, row.size == 4 ? 26 : 27, bytes);
        EXPECT_EQ(number_of(s), row.status) << row.label << " [" << row.field << "]";
        if (row.status != 0 || s != 0) {
            EXPECT_EQ(bytes[0], 0x5A) << row.label << ": the item changed on failure";
            continue;
        }
        if (row.size == 4) {
            float v;
            std::memcpy(&v, bytes, 4);
            if (row.bits) EXPECT_EQ(std::bit_cast<std::uint32_t>(v), row.bits) << row.label;
            else if (std::isnan(row.expected)) EXPECT_TRUE(std::isnan(v)) << row.label;
            else EXPECT_EQ(v, float(row.expected)) << row.label;
            EXPECT_EQ(bytes[4], 0x5A) << row.label << ": stored beyond the item";
        } else {
            double v;
            std::memcpy(&v, bytes, 8);
            if (row.bits) EXPECT_EQ(std::bit_cast<std::uint64_t>(v), row.bits) << row.label;
            else if (std::isnan(row.expected)) EXPECT_TRUE(std::isnan(v)) << row.label;
            else EXPECT_EQ(v, row.expected) << row.label;
        }
    }
}

// Every conversion is correctly rounded: random digit strings of 1 to 27
// digits with random exponents, for both precisions, against
// std::from_chars on the same text.
TEST(InputEditing, RealConversionIsCorrectlyRounded) {
    std::mt19937_64 rng(20261209);
    for (int trial = 0; trial < 200000; ++trial) {
        const int ndigits = 1 + int(rng() % 27);
        std::string digits;
        for (int i = 0; i < ndigits; ++i) digits += char('0' + rng() % 10);
        const bool wide = trial % 2;
        const int span = wide ? 330 : 50;
        const int exponent = int(rng() % (2 * span)) - span;
        const std::string text = digits + "e" + std::to_string(exponent);
        const InputField field{text.data(), std::int32_t(text.size()), std::int32_t(text.size())};
        if (wide) {
            double expected = 0, got = -1;
            auto r = std::from_chars(text.data(), text.data() + text.size(), expected);
            bool ok = text_to_real(field, BLANK_BN, 0, 0, 8, &got);
            if (r.ec != std::errc()) continue;  // out of range: covered by the table
            ASSERT_TRUE(ok) << text;
            ASSERT_EQ(std::bit_cast<std::uint64_t>(got), std::bit_cast<std::uint64_t>(expected)) << text;
        } else {
            float expected = 0, got = -1;
            auto r = std::from_chars(text.data(), text.data() + text.size(), expected);
            bool ok = text_to_real(field, BLANK_BN, 0, 0, 4, &got);
            if (r.ec != std::errc()) continue;
            ASSERT_TRUE(ok) << text;
            ASSERT_EQ(std::bit_cast<std::uint32_t>(got), std::bit_cast<std::uint32_t>(expected)) << text;
        }
    }
    // Every float printed with the shortest round-trip text reads back.
    for (int trial = 0; trial < 200000; ++trial) {
        const float x = std::bit_cast<float>(std::uint32_t(rng()) & 0x7F7FFFFFu);
        char text[64];
        char* end = std::to_chars(text, text + sizeof text, x).ptr;
        const InputField field{text, std::int32_t(end - text), std::int32_t(end - text)};
        float got = -1;
        ASSERT_TRUE(text_to_real(field, BLANK_BN, 0, 0, 4, &got)) << std::string(text, end);
        ASSERT_EQ(std::bit_cast<std::uint32_t>(got), std::bit_cast<std::uint32_t>(x)) << std::string(text, end);
    }
}

// L fields.
TEST(InputEditing, LogicalFields) {
    struct Row {
        const char* label;
        const char* field;
        std::uint8_t type;
        long long expected;
        unsigned status;
    };
    const Row rows[] = {
        {"[.TRUE.]", ".TRUE.", 16, -1, 0},  {"[  t]", "  t", 16, -1, 0},
        {"[Fxyz]", "Fxyz", 16, 0, 0},       {"blanks", "     ", 16, 0, 0},
        {"[  .f]", "  .f", 14, 0, 0},       {"[x]", "x", 16, 0, 64},
        {"[.]", ".", 16, 0, 64},            {"logical8 true", "T", 17, -1, 0},
        {"into int4", "T", 9, -1, 0},
    };
    for (const Row& row : rows) {
        std::int64_t value = 0x5A5A5A5A5A5A5A5A;
        Status s = read_one(row.field, desc(FC_L, 6), row.type, &value);
        EXPECT_EQ(number_of(s), row.status) << row.label;
        if (row.status) continue;
        const int size = classify_item_type(row.type).size;
        std::int64_t stored = 0;
        if (size == 1) stored = std::int8_t(value & 0xFF);
        else if (size == 4) stored = std::int32_t(value & 0xFFFFFFFF);
        else stored = value;
        EXPECT_EQ(stored, row.expected) << row.label;
    }
    // G on a logical item reads as L.
    std::int32_t flag = 0;
    ASSERT_EQ(read_one("  .T", desc(FC_G, 4, 1), 16, &flag), 0u);
    EXPECT_EQ(flag, -1);
}

// A fields: rightmost characters of a wide field, blanks after a narrow
// one, raw bytes into items of other types; commas are data.
TEST(InputEditing, CharacterFields) {
    struct Row {
        const char* label;
        const char* record;
        InputEdit edit;
        std::int32_t length;
        const char* expected;
    };
    const Row rows[] = {
        {"A4 into 2", "ABCD", desc(FC_A, 4), 2, "CD"},
        {"A2 into 4", "AB", desc(FC_A, 2), 4, "AB  "},
        {"A4 into 4", "A,CD", desc(FC_A, 4), 4, "A,CD"},
        {"A without w", "XYZW", desc(FC_A0, 0), 3, "XYZ"},
        {"A20 short record padded", "quartz", desc(FC_A, 20), 20, "quartz              "},
        {"G4 character", "ab,d", desc(FC_G, 4, 1), 4, "ab,d"},
    };
    for (const Row& row : rows) {
        char out[32];
        std::memset(out, '#', sizeof out);
        std::string record = row.record;
        ASSERT_EQ(read_one(record, row.edit, 56, out, row.length), 0u) << row.label;
        EXPECT_EQ(std::string(out, std::size_t(row.length)), row.expected) << row.label;
        EXPECT_EQ(out[row.length], '#') << row.label << ": stored beyond the item";
    }
    // The title read with 18A4 into 4-byte reals comes back byte for byte.
    const std::string title = "QUARTZ alpha SiO2 P3221";
    float words[6];
    InputRecord record{title.data(), std::int32_t(title.size()), 0};
    for (float& word : words)
        ASSERT_EQ(read_input_field(record, desc(FC_A, 4), InputItem{26, &word, 4}, kPad), 0u);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(words), 24), title + " ");
}

// O, Z and B fields into bit patterns.
TEST(InputEditing, RadixFields) {
    struct Row {
        const char* label;
        InputEdit edit;
        const char* field;
        std::uint8_t type;
        std::uint64_t expected;  // the stored bytes, little-endian
        unsigned status;
    };
    const Row rows[] = {
        {"Z4 int2", desc(FC_Z, 4), "7fFf", 7, 0x7FFF, 0},
        {"Z4 int2 all ones", desc(FC_Z, 4), "FFFF", 7, 0xFFFF, 0},
        {"Z3 int1 over", desc(FC_Z, 3), "1FF", 5, 0, 64},
        {"Z3 int1 leading zero", desc(FC_Z, 3), "0FF", 5, 0xFF, 0},
        {"B8 int1", desc(FC_B, 8), "11111111", 5, 0xFF, 0},
        {"B9 int1 over", desc(FC_B, 9), "100000000", 5, 0, 64},
        {"O3 int2", desc(FC_O, 3), "777", 7, 0x1FF, 0},
        {"O3 int1 over", desc(FC_O, 3), "777", 5, 0, 64},
        {"O3 int1 377", desc(FC_O, 3), "377", 5, 0xFF, 0},
        {"O22 int8 all ones", desc(FC_O, 22), "1777777777777777777777", 11, ~0ull, 0},
        {"Z8 real4 1.0", desc(FC_Z, 8), "3F800000", 26, 0x3F800000, 0},
        {"Z4 BN [1 2 ]", desc(FC_Z, 4), "1 2 ", 9, 0x12, 0},
        {"Z4 BZ [1 2 ]", desc(FC_Z, 4, 1, 0, BLANK_BZ), "1 2 ", 9, 0x1020, 0},
        {"Z2 bad digit", desc(FC_Z, 2), "1G", 9, 0, 64},
        {"O2 bad digit", desc(FC_O, 2), "18", 9, 0, 64},
        {"Z2 sign", desc(FC_Z, 2), "-1", 9, 0, 64},
        {"Z4 blanks", desc(FC_Z, 4), "    ", 9, 0, 0},
        {"Z4 character*2", desc(FC_Z, 4), "4142", 56, 0x4142, 0},
    };
    for (const Row& row : rows) {
        unsigned char bytes[8];
        std::memset(bytes, 0x5A, sizeof bytes);
        const TypeClass tc = classify_item_type(row.type);
        const int size = tc.family == TF_CHARACTER ? 2 : tc.size;
        Status s = read_one(row.field, row.edit, row.type, bytes, size);
        EXPECT_EQ(number_of(s), row.status) << row.label;
        if (row.status) {
            EXPECT_EQ(bytes[0], 0x5A) << row.label << ": the item changed on failure";
            continue;
        }
        std::uint64_t stored = 0;
        std::memcpy(&stored, bytes, std::size_t(size));
        EXPECT_EQ(stored, row.expected) << row.label;
    }
}

// Descriptors that do not take the item's type, and unknown categories.
TEST(InputEditing, TypeMismatch) {
    struct Row {
        const char* label;
        InputEdit edit;
        std::uint8_t type;
        unsigned status;
    };
    const Row rows[] = {
        {"I into real4", desc(FC_I, 3), 26, 61},     {"F into int4", desc(FC_F, 3, 0), 9, 61},
        {"E into character", desc(FC_E, 3, 0), 56, 61}, {"L into real8", desc(FC_L, 3), 27, 61},
        {"I into character", desc(FC_I, 3), 56, 61}, {"literal category", desc(FC_LITERAL, 3), 9, 48},
        {"F into real16", desc(FC_F, 3, 0), 50, 61},
    };
    for (const Row& row : rows) {
        char bytes[16] = {};
        EXPECT_EQ(number_of(read_one("  1", row.edit, row.type, bytes, 4)), row.status) << row.label;
    }
}

// Taking fields from the record: commas end fields, short records are
// padded, shortened or refused.
TEST(InputEditing, TakingFields) {
    std::int32_t a = -1, b = -1;
    const std::string text = "3,4";
    InputRecord record{text.data(), 3, 0};
    ASSERT_EQ(read_input_field(record, desc(FC_I, 5), InputItem{9, &a, 4}, kPad), 0u);
    ASSERT_EQ(read_input_field(record, desc(FC_I, 5), InputItem{9, &b, 4}, kPad), 0u);
    EXPECT_EQ(a, 3);
    EXPECT_EQ(b, 4);
    EXPECT_EQ(record.pos, 2 + 5);

    struct Row {
        const char* label;
        const char* record;
        InputOptions options;
        BlankMode blank;
        unsigned status;
        std::int32_t value;
        std::int32_t pos;  // after the field
    };
    const Row rows[] = {
        {"padded", "12", kPad, BLANK_BN, 0, 12, 5},
        {"padded, blanks are zeros", "12", kPad, BLANK_BZ, 0, 12000, 5},
        {"no pad, standard rules", "12", kNoPadStandard, BLANK_BN, 67, -1, 0},
        {"no pad, shortened", "12", kNoPadLax, BLANK_BZ, 0, 12, 2},
        {"no pad, comma before the end", "1,2", kNoPadStandard, BLANK_BN, 0, 1, 2},
        {"full field", "12345", kNoPadStandard, BLANK_BN, 0, 12345, 5},
    };
    for (const Row& row : rows) {
        std::int32_t value = -1;
        const std::string line = row.record;
        InputRecord r{line.data(), std::int32_t(line.size()), 0};
        Status s = read_input_field(r, desc(FC_I, 5, 1, 0, row.blank), InputItem{9, &value, 4}, row.options);
        EXPECT_EQ(number_of(s), row.status) << row.label;
        EXPECT_EQ(value, row.value) << row.label;
        if (!row.status) {
            EXPECT_EQ(r.pos, row.pos) << row.label;
        }
    }

    // Past the end of the record, a padded field is blank.
    std::int32_t c = 7;
    InputRecord past{text.data(), 3, 9};
    ASSERT_EQ(read_input_field(past, desc(FC_I, 3), InputItem{9, &c, 4}, kPad), 0u);
    EXPECT_EQ(c, 0);
}

// Q gives the characters left in the record.
TEST(InputEditing, CharactersLeft) {
    const std::string text = "abcdef";
    std::int32_t left = -1;
    std::int16_t left2 = -1;
    EXPECT_EQ(edit_input_q(InputRecord{text.data(), 6, 2}, InputItem{9, &left, 4}), 0u);
    EXPECT_EQ(left, 4);
    EXPECT_EQ(edit_input_q(InputRecord{text.data(), 6, 9}, InputItem{7, &left2, 2}), 0u);
    EXPECT_EQ(left2, 0);
    float f = 0;
    EXPECT_EQ(status_number(edit_input_q(InputRecord{text.data(), 6, 0}, InputItem{26, &f, 4})), 61u);
}

// Descriptors without a width take the defaults of the item's type.
TEST(InputEditing, DefaultWidths) {
    struct Row {
        const char* label;
        std::uint8_t category;
        std::uint8_t type;
        std::int32_t length;
        std::int32_t w, d;
    };
    const Row rows[] = {
        {"I int2", FC_I0, 7, 2, 7, 1},       {"I int4", FC_I0, 9, 4, 12, 1},
        {"Z int8", FC_Z0, 11, 8, 23, 1},     {"L", FC_L0, 16, 4, 2, 0},
        {"F real4", FC_F0, 26, 4, 15, 7},    {"E real8", FC_E0, 27, 8, 25, 16},
        {"G int4", FC_G0, 9, 4, 12, 1},      {"A char*20", FC_A0, 56, 20, 20, 0},
        {"G logical4 as I", FC_G0, 16, 4, 12, 1}, {"G logical2 as I", FC_G0, 15, 2, 7, 1},
        {"ES complex8", FC_ES0, 40, 8, 25, 16},
    };
    for (const Row& row : rows) {
        InputEdit r = resolve_input_edit(desc(row.category, 0), InputItem{row.type, nullptr, row.length});
        EXPECT_EQ(r.w, row.w) << row.label;
        EXPECT_EQ(r.d, row.d) << row.label;
        EXPECT_NE(r.category, row.category) << row.label;
    }
}
