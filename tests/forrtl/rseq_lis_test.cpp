// List-directed input: the scanner on in-memory records.
#include <gtest/gtest.h>

#include <bit>
#include <charconv>
#include <cmath>
#include <random>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "for_desc_item.h"
#include "for_lub.h"
#include "for_rseq_lis.h"

using namespace forrtl;

namespace {

// Records from a table of lines; end of file after the last one.  Each
// record is handed over in storage of exactly its length, released at the
// next call, so that the sanitizer build sees any read outside it.
struct Lines {
    std::vector<std::string> lines;
    std::size_t next = 0;
    std::unique_ptr<char[]> current{};
};

Status next_line(void* context, const char** data, std::int32_t* length) {
    auto* lines = static_cast<Lines*>(context);
    lines->current.reset();
    if (lines->next >= lines->lines.size()) return status_of(MSG_END_OF_FILE);
    const std::string& line = lines->lines[lines->next++];
    lines->current.reset(new char[line.size()]);
    std::memcpy(lines->current.get(), line.data(), line.size());
    *data = lines->current.get();
    *length = std::int32_t(line.size());
    return 0;
}

// One element of the item list of a test statement.
struct Value {
    std::uint8_t type;
    std::int32_t length;  // character length
    unsigned char bytes[32];

    static Value of(std::uint8_t type, std::int32_t length = 0) {
        Value v{type, length, {}};
        std::memset(v.bytes, 0x5A, sizeof v.bytes);  // "unchanged" marker
        return v;
    }
    bool unchanged() const {
        const TypeClass tc = classify_item_type(type);
        const int n = tc.family == TF_CHARACTER ? length : tc.family == TF_COMPLEX ? 2 * tc.size : tc.size;
        for (int i = 0; i < n; ++i)
            if (bytes[i] != 0x5A) return false;
        return true;
    }
    float f() const { float x; std::memcpy(&x, bytes, 4); return x; }
    double d() const { double x; std::memcpy(&x, bytes, 8); return x; }
    std::int32_t i() const { std::int32_t x; std::memcpy(&x, bytes, 4); return x; }
    std::string s() const { return std::string(reinterpret_cast<const char*>(bytes), std::size_t(length)); }
};

// Runs one statement; returns the number of the first failure (0 none).
unsigned run(Lines& lines, std::vector<Value>& values, std::uint32_t flags = kCalculatorFlags) {
    ListReadState state;
    Status s = list_scan_begin(state, flags, ListRecordSource{next_line, &lines});
    for (Value& v : values) {
        if (s) break;
        s = list_scan_item(state, InputItem{v.type, v.bytes, v.length});
    }
    Status end = list_scan_end(state);
    EXPECT_EQ(end, s);
    return status_number(s);
}

std::vector<Value> reals(int n) { return std::vector<Value>(std::size_t(n), Value::of(TYPE_REAL4)); }

constexpr std::uint32_t kNoStandardRules = kCalculatorFlags & ~SF_STANDARD_RULES;

}  // namespace

// Separators, null values, repeat counts and the slash, on three 4-byte
// reals.  NAN in `expected` means the item keeps its value.
TEST(ListInput, SeparatorsNullsRepeats) {
    const float keep = NAN;
    struct Row {
        const char* label;
        std::vector<std::string> lines;
        float expected[3];
        unsigned status;
    };
    const Row rows[] = {
        {"blanks", {"5.43 5.43 5.43"}, {5.43f, 5.43f, 5.43f}, 0},
        {",, is null", {"5.43,,5.43"}, {5.43f, keep, 5.43f}, 0},
        {"3*90", {"3*90"}, {90, 90, 90}, 0},
        {"3* nulls", {"3*"}, {keep, keep, keep}, 0},
        {"3* then blank", {"3* "}, {keep, keep, keep}, 0},
        {"slash", {"1,2/"}, {1, 2, keep}, 0},
        {"slash after blanks", {"1 /  3"}, {1, keep, keep}, 0},
        {"2*/", {"2*/ 9"}, {keep, keep, keep}, 0},
        {"over records", {"1 2", "3"}, {1, 2, 3}, 0},
        {"[1,] then [,2]", {"1,", ",2"}, {1, keep, 2}, 0},
        {"[1] then [,2]", {"1", ",2 /"}, {1, 2, keep}, 0},
        {"[1 ,] then [2]", {"1 ,", "2 3"}, {1, 2, 3}, 0},
        {"leading comma", {",1,2"}, {keep, 1, 2}, 0},
        {"leading comma after blanks", {"   , 1 2"}, {keep, 1, 2}, 0},
        {"blank lines", {"1", "", "   ", "\t", "2 3"}, {1, 2, 3}, 0},
        {"[, ,] is null", {"1 , , 3"}, {1, keep, 3}, 0},
        {"comma after r* is null", {"2*,3"}, {keep, keep, 3}, 0},
        {"r* then comma separator", {"2* ,3"}, {keep, keep, 3}, 0},
        {"r*c then comma", {"2*7,8"}, {7, 7, 8}, 0},
        {"tabs and line feeds", {"1\t2\n3"}, {1, 2, 3}, 0},
        {"three commas", {"1,,,2"}, {1, keep, keep}, 0},
        {"[1,,] then [,2]", {"1,,", ",2"}, {1, keep, keep}, 0},
        {"repeat over records", {"2*4", "5"}, {4, 4, 5}, 0},
        {"logicals", {"T .false. .TRUE."}, {-1, 0, -1}, 0},
        {"exponents", {"1.5d2 .5 -2E-1"}, {150, 0.5f, -0.2f}, 0},
        {"bare-sign exponent", {"1.5+2 12 -0"}, {150, 12, -0.0f}, 0},
        {"end of file", {"1 2"}, {1, 2, keep}, 24},
        {"end of file after r*", {"2*1"}, {1, 1, keep}, 24},
        {"bad character", {"1 5.43x 3"}, {1, keep, keep}, 59},
        {"letters", {"abc"}, {keep, keep, keep}, 59},
        {"Infinity is not a number", {"1 Infinity"}, {1, keep, keep}, 59},
        {"NaN is not a number", {"NaN"}, {keep, keep, keep}, 59},
        {"two points", {"1..2"}, {keep, keep, keep}, 59},
        {"two exponents", {"1e2e3"}, {keep, keep, keep}, 59},
        {"exponent first", {"e5"}, {keep, keep, keep}, 59},
        {"star first", {"*3"}, {keep, keep, keep}, 59},
        {"two repeat counts", {"2*3*4"}, {keep, keep, keep}, 59},
        {"closing parenthesis", {"1 )"}, {1, keep, keep}, 59},
        {"repeat count not an integer", {"1.5*3"}, {keep, keep, keep}, 64},
        {"repeat count zero", {"0*3"}, {keep, keep, keep}, 64},
        {"out of range", {"1 1e39"}, {1, keep, keep}, 64},
        {"quoted string into a real", {"'abc'"}, {keep, keep, keep}, 64},
        {"complex into a real", {"(1,2)"}, {keep, keep, keep}, 64},
        {"lone point", {"."}, {keep, keep, keep}, 64},
    };
    for (const Row& row : rows) {
        Lines lines{row.lines};
        std::vector<Value> values = reals(3);
        EXPECT_EQ(run(lines, values), row.status) << row.label;
        for (int i = 0; i < 3; ++i) {
            if (std::isnan(row.expected[i])) {
                EXPECT_TRUE(values[i].unchanged()) << row.label << " item " << i;
            } else {
                EXPECT_EQ(values[i].f(), row.expected[i]) << row.label << " item " << i;
                EXPECT_EQ(std::signbit(values[i].f()), std::signbit(row.expected[i])) << row.label;
            }
        }
    }
}

// A failed statement leaves later items alone, and every later call returns
// the same failure.
TEST(ListInput, FailureStopsTheStatement) {
    Lines lines{{"1 x 3"}};
    ListReadState state;
    ASSERT_EQ(list_scan_begin(state, kCalculatorFlags, ListRecordSource{next_line, &lines}), 0u);
    float a = -9, b = -9, c = -9;
    EXPECT_EQ(list_scan_item(state, InputItem{TYPE_REAL4, &a, 4}), 0u);
    EXPECT_EQ(status_number(list_scan_item(state, InputItem{TYPE_REAL4, &b, 4})), 59u);
    EXPECT_EQ(status_number(list_scan_item(state, InputItem{TYPE_REAL4, &c, 4})), 59u);
    EXPECT_EQ(status_number(list_scan_end(state)), 59u);
    EXPECT_EQ(a, 1);
    EXPECT_EQ(b, -9);
    EXPECT_EQ(c, -9);

    Lines empty{{}};
    std::vector<Value> values = reals(1);
    EXPECT_EQ(run(empty, values), 24u);
    EXPECT_TRUE(values[0].unchanged());
}

// Integer and logical items: integer forms, real forms truncated toward
// zero, logical values, ranges.
TEST(ListInput, IntegerAndLogicalItems) {
    struct Row {
        const char* label;
        const char* line;
        std::uint8_t type;
        long long expected;
        unsigned status;
    };
    const Row rows[] = {
        {"7.9", "7.9", TYPE_INT4, 7, 0},
        {"-7.9", "-7.9", TYPE_INT4, -7, 0},
        {"1e2", "1e2", TYPE_INT4, 100, 0},
        {"-2147483648", "-2147483648", TYPE_INT4, -2147483648LL, 0},
        {"2147483648", "2147483648", TYPE_INT4, 0, 64},
        {"real form out of range", "3.0e10", TYPE_INT4, 0, 64},
        {"+12", "+12", TYPE_INT4, 12, 0},
        {"1+5 is no integer", "1+5", TYPE_INT4, 0, 64},
        {"T", "T", TYPE_INT4, -1, 0},
        {"F", "f", TYPE_INT4, 0, 0},
        {"int2 -32768", "-32768", 7, -32768, 0},
        {"int2 40000", "40000", 7, 0, 64},
        {"int8 large", "9223372036854775807", 11, INT64_MAX, 0},
        {"int1 real form", "-128.9", 5, -128, 0},
        {"logical T", ".true.", TYPE_LOGICAL4, -1, 0},
        {"logical F", "F", TYPE_LOGICAL4, 0, 0},
        {"logical from number", "2.7", TYPE_LOGICAL4, 2, 0},
        {"logical8 T", "t", 17, -1, 0},
        {"string into integer", "'12'", TYPE_INT4, 0, 64},
    };
    for (const Row& row : rows) {
        Lines lines{{row.line}};
        std::vector<Value> values{Value::of(row.type)};
        EXPECT_EQ(run(lines, values), row.status) << row.label;
        if (row.status) {
            EXPECT_TRUE(values[0].unchanged()) << row.label;
            continue;
        }
        const int size = classify_item_type(row.type).size;
        long long got = 0;
        switch (size) {
        case 1: got = std::int8_t(values[0].bytes[0]); break;
        case 2: { std::int16_t v; std::memcpy(&v, values[0].bytes, 2); got = v; break; }
        case 4: got = values[0].i(); break;
        default: { std::int64_t v; std::memcpy(&v, values[0].bytes, 8); got = v; break; }
        }
        EXPECT_EQ(got, row.expected) << row.label;
        if (size < 8) {
            EXPECT_EQ(values[0].bytes[size], 0x5A) << row.label << ": stored beyond the item";
        }
    }
}

// Character items: quoted strings (doubled quotes, over records), and
// undelimited strings under the standard-rules option.
TEST(ListInput, CharacterItems) {
    struct Row {
        const char* label;
        std::vector<std::string> lines;
        std::uint32_t flags;
        std::vector<std::string> expected;  // one per item of length 5; "?" unchanged
        unsigned status;
    };
    const std::string u = "?";
    const Row rows[] = {
        {"doubled apostrophe", {"'it''s'"}, kCalculatorFlags, {"it's "}, 0},
        {"quotation marks", {"\"abc\""}, kCalculatorFlags, {"abc  "}, 0},
        {"other quote inside", {"'a\"b' \"c'd\""}, kCalculatorFlags, {"a\"b  ", "c'd  "}, 0},
        {"undelimited with comma", {"abc,def"}, kCalculatorFlags, {"abc  ", "def  "}, 0},
        {"quoted over records", {"'ab", "cd' 'x'"}, kCalculatorFlags, {"abcd ", "x    "}, 0},
        {"longer value cut", {"'abcdefgh'"}, kCalculatorFlags, {"abcde"}, 0},
        {"empty string", {"'' x"}, kCalculatorFlags, {"     ", "x    "}, 0},
        {"repeat of undelimited", {"2*xy z"}, kCalculatorFlags, {"xy   ", "xy   ", "z    "}, 0},
        {"repeat of quoted", {"2*'q'"}, kCalculatorFlags, {"q    ", "q    "}, 0},
        {"number and logical as text", {"12 .true. (1,2)"}, kCalculatorFlags,
         {"12   ", ".true", "(1   ", "2)   "}, 0},
        {"digits then text", {"12ab"}, kCalculatorFlags, {"12ab "}, 0},
        {"null and slash", {"'a',,'c'/"}, kCalculatorFlags, {"a    ", u, "c    ", u}, 0},
        {"end of file in a string", {"'abc"}, kCalculatorFlags, {u}, 24},
        {"number without the option", {"12"}, kNoStandardRules, {u}, 59},
        {"logical without the option", {"T"}, kNoStandardRules, {u}, 59},
        {"text without the option", {"abc"}, kNoStandardRules, {u}, 59},
        {"quoted without the option", {"'abc'"}, kNoStandardRules, {"abc  "}, 0},
    };
    for (const Row& row : rows) {
        Lines lines{row.lines};
        std::vector<Value> values(row.expected.size(), Value::of(TYPE_CHARACTER, 5));
        EXPECT_EQ(run(lines, values, row.flags), row.status) << row.label;
        for (std::size_t i = 0; i < values.size(); ++i) {
            if (row.expected[i] == u) EXPECT_TRUE(values[i].unchanged()) << row.label << " item " << i;
            else EXPECT_EQ("[" + values[i].s() + "]", "[" + row.expected[i] + "]") << row.label << " item " << i;
        }
    }

    // The string buffer holds 2049 characters; one more is a syntax error.
    for (int n : {2049, 2050}) {
        Lines lines{{"'" + std::string(std::size_t(n), 'x') + "'"}};
        std::vector<Value> values{Value::of(TYPE_CHARACTER, 5)};
        EXPECT_EQ(run(lines, values), n == 2049 ? 0u : 59u) << n;
        Lines undelimited{{std::string(std::size_t(n), 'y')}};
        values = {Value::of(TYPE_CHARACTER, 5)};
        EXPECT_EQ(run(undelimited, values), n == 2049 ? 0u : 59u) << "undelimited " << n;
    }
}

// Complex items: parenthesised pairs, over records, and their syntax errors.
// Parts are numbers of any length, as a real item's value is: only
// character values are limited.
TEST(ListInput, ComplexItems) {
    struct Row {
        const char* label;
        std::vector<std::string> lines;
        float re, im;
        unsigned status;
    };
    const std::string third = "0." + std::string(1100, '3');
    const std::string tenth = "0.1" + std::string(3000, '0') + "E0";
    const Row rows[] = {
        {"long parts", {"(" + third + "," + third + ")"}, 1.0f / 3, 1.0f / 3, 0},
        {"long parts over records", {"(" + tenth + ",", "-" + third, ")"}, 0.1f, -1.0f / 3, 0},
        {"long parts, repeat", {"2*(-" + third + "," + tenth + ")"}, -1.0f / 3, 0.1f, 0},
        {"long zero and a bad part", {"(0" + std::string(3000, '0') + ",+-1)"}, 0, 0, 64},
        {"pair", {"(1.5, -2)"}, 1.5f, -2, 0},
        {"over records", {"(1.5,", "", "  2.5 )"}, 1.5f, 2.5f, 0},
        {"repeat", {"2*(3,4)"}, 3, 4, 0},
        {"no comma", {"(1.5 2.5)"}, 0, 0, 59},
        {"nested", {"((1,2)"}, 0, 0, 59},
        {"no parenthesis", {"1.5"}, 0, 0, 59},
        {"empty part", {"(,2)"}, 0, 0, 59},
        {"not closed", {"(1,2 3"}, 0, 0, 59},
        {"end of file inside", {"(1,"}, 0, 0, 24},
        {"logical", {"T"}, 0, 0, 64},
    };
    for (const Row& row : rows) {
        Lines lines{row.lines};
        std::vector<Value> values{Value::of(28), Value::of(28)};
        if (row.status == 0 && std::string(row.label).find("repeat") == std::string::npos) values.pop_back();
        EXPECT_EQ(run(lines, values), row.status) << row.label;
        if (row.status) {
            EXPECT_TRUE(values[0].unchanged()) << row.label;
            continue;
        }
        for (const Value& v : values) {
            float parts[2];
            std::memcpy(parts, v.bytes, 8);
            EXPECT_EQ(parts[0], row.re) << row.label;
            EXPECT_EQ(parts[1], row.im) << row.label;
        }
    }
    // 8-byte parts, short and long.
    Lines lines{{"(0.1,1e300)", "(" + third + ",-" + tenth + ")"}};
    std::vector<Value> values{Value::of(40), Value::of(40)};
    ASSERT_EQ(run(lines, values), 0u);
    double parts[4];
    std::memcpy(parts, values[0].bytes, 16);
    std::memcpy(parts + 2, values[1].bytes, 16);
    EXPECT_EQ(parts[0], 0.1);
    EXPECT_EQ(parts[1], 1e300);
    EXPECT_EQ(parts[2], 1.0 / 3);
    EXPECT_EQ(parts[3], -0.1);
}

// Each statement starts on a new record; what is left on the previous one
// is not read.
TEST(ListInput, EachStatementStartsOnANewRecord) {
    Lines lines{{"1 2 3", "4"}};
    std::vector<Value> first = reals(1), second = reals(1);
    EXPECT_EQ(run(lines, first), 0u);
    EXPECT_EQ(run(lines, second), 0u);
    EXPECT_EQ(first[0].f(), 1);
    EXPECT_EQ(second[0].f(), 4);
}

// The entry data file of the calculator: one case as it reads it, a
// statement per line, each statement on its own record.
TEST(ListInput, CalculatorEntryFile) {
    Lines lines{{
        "4.9134 4.9134 5.4052 90 90 120",
        "0 0 0 0 0 0 0",
        "1.0,3.0 0 0 0, 1.5406",
        "0",
    }};
    std::vector<Value> cell = reals(6);
    ASSERT_EQ(run(lines, cell), 0u);
    const float expected_cell[] = {4.9134f, 4.9134f, 5.4052f, 90, 90, 120};
    for (int i = 0; i < 6; ++i) EXPECT_EQ(cell[std::size_t(i)].f(), expected_cell[i]) << i;

    std::vector<Value> codes(7, Value::of(TYPE_INT4));
    ASSERT_EQ(run(lines, codes), 0u);
    for (const Value& v : codes) EXPECT_EQ(v.i(), 0);

    std::vector<Value> params{Value::of(TYPE_REAL4), Value::of(TYPE_REAL4), Value::of(TYPE_INT4),
                              Value::of(TYPE_INT4),  Value::of(TYPE_INT4),  Value::of(TYPE_REAL4)};
    ASSERT_EQ(run(lines, params), 0u);
    EXPECT_EQ(params[0].f(), 1.0f);
    EXPECT_EQ(params[1].f(), 3.0f);
    EXPECT_EQ(params[2].i(), 0);
    EXPECT_EQ(params[3].i(), 0);
    EXPECT_EQ(params[4].i(), 0);
    EXPECT_EQ(params[5].f(), 1.5406f);

    std::vector<Value> more{Value::of(TYPE_INT4)};
    ASSERT_EQ(run(lines, more), 0u);
    EXPECT_EQ(more[0].i(), 0);

    // A further case is not there: end of file.
    std::vector<Value> next = reals(6);
    EXPECT_EQ(run(lines, next), 24u);

    // The cell split over two lines, and a short last line.
    Lines split{{"4.9134 4.9134", "5.4052 90 90"}};
    cell = reals(6);
    EXPECT_EQ(run(split, cell), 24u);
    EXPECT_EQ(cell[4].f(), 90);
    EXPECT_TRUE(cell[5].unchanged());

    // Text where a number belongs.
    Lines text{{"4.9134 abc 5.4052"}};
    cell = reals(3);
    EXPECT_EQ(run(text, cell), 59u);
    EXPECT_EQ(cell[0].f(), 4.9134f);
    EXPECT_TRUE(cell[1].unchanged());
}

// Reals of both precisions are rounded once, to the item's own precision.
TEST(ListInput, RealPrecision) {
    Lines lines{{"0.1 0.1 1.0000000596046447763 3.4028235e38 1e-45 123456789012345678901234567890"}};
    std::vector<Value> values{Value::of(TYPE_REAL4), Value::of(TYPE_REAL8), Value::of(TYPE_REAL4),
                              Value::of(TYPE_REAL4), Value::of(TYPE_REAL4), Value::of(TYPE_REAL4)};
    ASSERT_EQ(run(lines, values), 0u);
    EXPECT_EQ(values[0].f(), 0.1f);
    EXPECT_EQ(values[1].d(), 0.1);
    EXPECT_EQ(values[2].f(), std::nextafter(1.0f, 2.0f));
    EXPECT_EQ(values[3].f(), 3.4028235e38f);
    EXPECT_EQ(values[4].f(), std::nextafter(0.0f, 1.0f));
    EXPECT_EQ(values[5].f(), 1.2345679e29f);
}

// Numbers of every shape read exactly as std::from_chars reads them, for
// both precisions: plain short numbers take the scanner's own path, long
// ones the general conversion.
TEST(ListInput, RealsAreCorrectlyRounded) {
    std::mt19937_64 rng(7);
    std::vector<std::string> tokens;
    for (int i = 0; i < 40000; ++i) {
        std::string t = rng() % 2 ? "-" : "";
        const int before = int(rng() % 12), after = int(rng() % 14);
        for (int k = 0; k < before; ++k) t += char('0' + rng() % 10);
        t += '.';
        for (int k = 0; k < after; ++k) t += char('0' + rng() % 10);
        if (before + after == 0) t += '7';
        if (rng() % 3 == 0) t += "e" + std::to_string(int(rng() % 50) - 25);
        tokens.push_back(t);
    }
    Lines lines;
    for (std::size_t i = 0; i < tokens.size(); i += 5) {
        std::string line;
        for (std::size_t k = i; k < i + 5 && k < tokens.size(); ++k) line += tokens[k] + (k % 2 ? "," : "  ");
        lines.lines.push_back(line);
    }
    std::vector<Value> values;
    for (std::size_t i = 0; i < tokens.size(); ++i) values.push_back(Value::of(i % 2 ? TYPE_REAL8 : TYPE_REAL4));
    ASSERT_EQ(run(lines, values), 0u);
    for (std::size_t i = 0; i < tokens.size(); ++i) {
        const std::string& t = tokens[i];
        // from_chars takes no "+" and no leading "." without a digit before it.
        if (i % 2) {
            double expected;
            std::from_chars(t.data(), t.data() + t.size(), expected);
            ASSERT_EQ(std::bit_cast<std::uint64_t>(values[i].d()), std::bit_cast<std::uint64_t>(expected)) << t;
        } else {
            float expected;
            std::from_chars(t.data(), t.data() + t.size(), expected);
            ASSERT_EQ(std::bit_cast<std::uint32_t>(values[i].f()), std::bit_cast<std::uint32_t>(expected)) << t;
        }
    }
}

// Random text of the characters that matter never makes the scanner read
// outside its records or report anything but the statement's own errors;
// items are only ever written within their length.
TEST(ListInput, RandomTextGivesOnlyStatementErrors) {
    std::mt19937_64 rng(99);
    const std::string alphabet = "0123456789+-.eEdDqQ*,/ \t'\"()TFtfx\n";
    const std::uint8_t types[] = {TYPE_REAL4, TYPE_REAL8, TYPE_INT4, 5, 12, TYPE_LOGICAL4, 28, 40, TYPE_CHARACTER};
    for (int trial = 0; trial < 20000; ++trial) {
        Lines lines;
        const int nlines = int(rng() % 4);
        for (int l = 0; l < nlines; ++l) {
            std::string line(rng() % 12, ' ');
            for (char& c : line) c = alphabet[rng() % alphabet.size()];
            lines.lines.push_back(line);
        }
        std::vector<Value> values;
        for (int k = int(rng() % 5); k >= 0; --k) values.push_back(Value::of(types[rng() % 9], 3));
        const std::uint32_t flags = rng() % 2 ? kCalculatorFlags : kNoStandardRules;
        const unsigned status = run(lines, values, flags);
        EXPECT_TRUE(status == 0 || status == 24 || status == 59 || status == 64) << status;
        for (const Value& v : values) {
            const TypeClass tc = classify_item_type(v.type);
            const int n = tc.family == TF_CHARACTER ? v.length : tc.family == TF_COMPLEX ? 2 * tc.size : tc.size;
            for (int i = n; i < int(sizeof v.bytes); ++i) ASSERT_EQ(v.bytes[i], 0x5A) << "type " << int(v.type);
        }
    }
}
