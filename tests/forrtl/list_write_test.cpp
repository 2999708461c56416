// List-directed WRITE statements through their entry points: the layout of
// each type, records ended when the next value does not fit, character
// values with their leading blank, separators and splitting, complex pairs.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "for_lub.h"
#include "for_stmt.h"
#include "forrtl/stmt_files.h"
#include "forrtl/stmt_items.h"
#include "forrtl/unit_fixture.h"
#include "for_open_params.h"

using namespace forrtl;
using stmt_test::Area;
using stmt_test::Items;

namespace {

constexpr std::uint32_t kFlags = kCalculatorFlags;

int write_list(Area& area, const Items& items, std::uint32_t flags = kFlags) {
    return internal_list_write_begin(area.data(), area.length, area.records, flags, items.l(), items.a());
}

std::string padded(const std::string& text, std::size_t width) { return text + std::string(width - text.size(), ' '); }

}  // namespace

// One value per statement: the field of its type at the start of the record.
TEST(ListWrite, FieldOfEachType) {
    const float one = 1.0f, half = 0.5f, r = 123.456f, neg = -1.5f, small = 0.05f, big = 1.0e7f, zero = 0.0f,
                tiny = 1.0e-5f;
    const double dbl = 0.1;
    const std::int32_t five = 5, yes = 1;
    const std::int8_t byte = -12;
    struct Row {
        const char* label;
        Items items;
        const char* field;
    } rows[] = {
        {"1.0", Items().r4(&one), "   1.000000    "},
        {"0.5", Items().r4(&half), "  0.5000000    "},
        {"123.456", Items().r4(&r), "   123.4560    "},
        {"-1.5", Items().r4(&neg), "  -1.500000    "},
        {"0.05", Items().r4(&small), "  5.0000001E-02"},
        {"1.0E7", Items().r4(&big), "  1.0000000E+07"},
        {"0.0", Items().r4(&zero), "  0.0000000E+00"},
        {"1.0E-5", Items().r4(&tiny), "  9.9999997E-06"},
        {"0.1d0", Items().r8(&dbl), "  0.100000000000000     "},
        {"int 5", Items().i4(&five), "           5"},
        {"int1 -12", Items().scalar(5, &byte), "  -12"},
        {"logical", Items().l4(&yes), " T"},
    };
    for (Row& row : rows) {
        row.items.end();
        Area area(80, 1);
        ASSERT_EQ(write_list(area, row.items), 0) << row.label;
        EXPECT_EQ("[" + area.record(0) + "]", "[" + padded(row.field, 80) + "]") << row.label;
    }
}

// Six 4-byte integers fill 72 of 80 positions; the seventh begins a record.
// Five reals fit; the sixth begins a record.
TEST(ListWrite, RecordsEndWhenTheNextValueDoesNotFit) {
    const std::int32_t ints[7] = {1, 2, 3, 4, 5, 6, 7};
    Area area(80, 2);
    ASSERT_EQ(write_list(area, Items().array(TYPE_INT4, ints, sizeof ints).end()), 0);
    std::string six;
    for (int i = 1; i <= 6; ++i) six += "           " + std::to_string(i);
    EXPECT_EQ(area.record(0), padded(six, 80));
    EXPECT_EQ(area.record(1), padded("           7", 80));

    const float reals[6] = {1, 1, 1, 1, 1, 1};
    Area r(80, 2);
    ASSERT_EQ(write_list(r, Items().array(TYPE_REAL4, reals, sizeof reals).end()), 0);
    std::string five;
    for (int i = 0; i < 5; ++i) five += "   1.000000    ";
    EXPECT_EQ(r.record(0), padded(five, 80));
    EXPECT_EQ(r.record(1), padded("   1.000000    ", 80));
}

// The calculator's warning: a blank, the 40 characters of the literal, then
// the 24 characters of the name with its trailing blanks: 65 characters.
TEST(ListWrite, WarningRecord) {
    const char* text = "warning, this old file will be deleted :";
    const std::string name = padded("quartz.imp.dat", 24);
    Area area(80, 1);
    ASSERT_EQ(write_list(area, Items().chars(text, 40).chars(name.data(), 24).end()), 0);
    EXPECT_EQ(area.record(0), padded(" " + std::string(text) + name, 80));
}

// A long character value begins a new record when the current one holds
// anything and is split into records of a blank and W - 1 characters.
TEST(ListWrite, LongCharacterValueSplits) {
    std::string value;
    for (int i = 0; i < 100; ++i) value += static_cast<char>('a' + i % 26);
    const std::int32_t one = 1;
    Area area(80, 3);
    ASSERT_EQ(write_list(area, Items().i4(&one).chars(value.data(), 100).end()), 0);
    EXPECT_EQ(area.record(0), padded("           1", 80));
    EXPECT_EQ(area.record(1), " " + value.substr(0, 79));
    EXPECT_EQ(area.record(2), padded(" " + value.substr(79), 80));
}

// A number followed by a character value: one blank under the standard-rules
// option alone; none with compact spacing too, or without the option.  Two
// character values are written with nothing between them.
TEST(ListWrite, NumberCharacterSpacing) {
    const std::int32_t five = 5;
    struct Row {
        const char* label;
        std::uint32_t flags;
        const char* record;
    } rows[] = {
        {"standard rules", SF_STANDARD_RULES, "           5 AB"},
        {"standard and compact", SF_STANDARD_RULES | SF_COMPACT_LIST, "           5AB"},
        {"calculator", kCalculatorFlags, "           5AB"},
        {"no options", 0, "           5AB"},
    };
    for (const Row& row : rows) {
        Area area(40, 1);
        ASSERT_EQ(write_list(area, Items().i4(&five).chars("AB", 2).end(), row.flags), 0) << row.label;
        EXPECT_EQ(area.record(0), padded(row.record, 40)) << row.label;
    }
    Area area(40, 1);
    ASSERT_EQ(write_list(area, Items().chars("AB", 2).chars("CD", 2).i4(&five).end()), 0);
    EXPECT_EQ(area.record(0), padded(" ABCD           5", 40));
}

// Complex values as (re,im) in the shortest form of each part; the part
// after the comma moves to a new record when it does not fit.
TEST(ListWrite, ComplexPairs) {
    const float pair[2] = {1.5f, -2.0f};
    Area area(80, 1);
    ASSERT_EQ(write_list(area, Items().scalar(28, pair).end()), 0);
    EXPECT_EQ(area.record(0), padded(" (1.500000,-2.000000)", 80));

    const std::int32_t ints[5] = {1, 2, 3, 4, 5};
    Area split(71, 2);
    ASSERT_EQ(write_list(split, Items().array(TYPE_INT4, ints, sizeof ints).scalar(28, pair).end()), 0);
    std::string head;
    for (int i = 1; i <= 5; ++i) head += "           " + std::to_string(i);
    EXPECT_EQ(split.record(0), padded(head + " (1.500000,", 71));
    EXPECT_EQ(split.record(1), padded(" -2.000000)", 71));
}

// Values may arrive one call at a time; a statement without items writes an
// empty record.
TEST(ListWrite, SeparateCallsAndEmptyStatement) {
    const std::int32_t five = 5;
    Area area(40, 1);
    ASSERT_EQ(internal_list_write_begin(area.data(), 40, 1, kFlags, Items().i4(&five).more().l(),
                                        Items().i4(&five).a()),
              0);
    ASSERT_EQ(list_write_item(Items().chars("xy", 2).end().l(), Items().chars("xy", 2).a()), 0);
    EXPECT_EQ(area.record(0), padded("           5xy", 40));

    Area empty(10, 1);
    ASSERT_EQ(write_list(empty, Items().end()), 0);
    EXPECT_EQ(empty.record(0), std::string(10, ' '));
}

class ListWriteFile : public stmt_test::FileTest {};

// On a file the record width is 80: the warning record is one record of 65
// characters; seven integers take two records; a statement without items
// writes an empty record (one blank in the alternate layout).
TEST_F(ListWriteFile, RecordsOnAFile) {
    std::string path = connect(41, "list.txt");
    const char* text = "warning, this old file will be deleted :";
    const std::string name = padded("quartz.imp.dat", 24);
    ASSERT_EQ(list_write_begin(41, kFlags, Items().chars(text, 40).chars(name.data(), 24).end().l(),
                               Items().chars(text, 40).chars(name.data(), 24).a()),
              0);
    const std::int32_t ints[7] = {1, 2, 3, 4, 5, 6, 7};
    Items items;
    items.array(TYPE_INT4, ints, sizeof ints).end();
    ASSERT_EQ(list_write_begin(41, kFlags, items.l(), items.a()), 0);
    ASSERT_EQ(list_write_begin(41, kFlags, Items().end().l(), nullptr), 0);
    ASSERT_EQ(list_write_begin(41, kFlags | SF_ALT_LIST_LAYOUT, Items().end().l(), nullptr), 0);
    close_unit(41);
    std::string six;
    for (int i = 1; i <= 6; ++i) six += "           " + std::to_string(i);
    std::string expect = " " + std::string(text) + name + "\r\n" + six + "\r\n" + "           7\r\n" + "\r\n" + " \r\n";
    EXPECT_EQ(bytes(path), expect);
}

// DELIM= on the connection: under the standard-rules option the value stands
// between delimiters, those inside doubled, with a blank before it after a
// value.  RECL= sets the record width.
TEST_F(ListWriteFile, DelimitersAndRecordLength) {
    using unit_test::Keywords;
    using unit_test::open_unit;
    std::string path = dir + "/delim.txt";
    ASSERT_EQ(open_unit(42, Keywords().text(KW_FILE, path).text(KW_DELIM, "QUOTE")), 0);
    used.push_back(42);
    const std::int32_t five = 5;
    Items items;
    items.chars("it\"s", 4).i4(&five).chars("ab", 2).end();
    ASSERT_EQ(list_write_begin(42, kFlags, items.l(), items.a()), 0);
    ASSERT_EQ(list_write_begin(42, 0, items.l(), items.a()), 0);
    close_unit(42);
    EXPECT_EQ(bytes(path), " \"it\"\"s\"           5 \"ab\"\r\n it\"s           5ab\r\n");

    std::string narrow = dir + "/recl.txt";
    ASSERT_EQ(open_unit(43, Keywords().text(KW_FILE, narrow).inline_int(KW_RECL, 30)), 0);
    used.push_back(43);
    const std::int32_t ints[3] = {1, 2, 3};
    Items three;
    three.array(TYPE_INT4, ints, sizeof ints).end();
    ASSERT_EQ(list_write_begin(43, kFlags, three.l(), three.a()), 0);
    close_unit(43);
    EXPECT_EQ(bytes(narrow), "           1           2\r\n           3\r\n");
}

// The alternate layout: every integer of up to 4 bytes in I12, a long
// character value filling the room left before it goes on, and an empty
// statement writing a record of one blank.
TEST(ListWrite, AlternateLayout) {
    const std::uint32_t alt = kFlags | SF_ALT_LIST_LAYOUT;
    const std::int8_t byte = 7;
    std::string value(30, 'x');
    Area area(30, 2);
    ASSERT_EQ(write_list(area, Items().scalar(5, &byte).chars(value.data(), 30).end(), alt), 0);
    EXPECT_EQ(area.record(0), "           7" + std::string(18, 'x'));
    EXPECT_EQ(area.record(1), padded(" " + std::string(12, 'x'), 30));

    Area empty(10, 1);
    ASSERT_EQ(write_list(empty, Items().end(), alt), 0);
    EXPECT_EQ(empty.record(0), std::string(10, ' '));
}
