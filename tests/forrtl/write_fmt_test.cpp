// Formatted WRITE statements through their entry points, on internal files
// and on files: pairing of items with the format, records, positions, the
// per-statement modes and the statement's errors.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "for_fmt_builder.h"
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
constexpr std::uint32_t kBranch = kCalculatorFlags | SF_ERROR_BRANCH;

constexpr auto kPlaneRow = format_program<"2(3I4,F10.5,TR3,F6.2,TR1,':')">();
constexpr auto kCountLine = format_program<"(TR1,'NUMBER OF CALCULATED PLANES =',I4,/)">();
constexpr auto kPrompt = format_program<"('  entry .dat file (no extension) ?" "?',$)">();

// A WRITE of run-time format text into an internal area.
int write_text(Area& area, const char* format, const Items& items, std::uint32_t flags = kFlags) {
    return internal_write_begin(area.data(), area.length, area.records, flags | SF_FORMAT_TEXT,
                                reinterpret_cast<const std::uint8_t*>(format),
                                static_cast<std::int32_t>(std::strlen(format)), items.l(), items.a());
}

std::string padded(const std::string& text, std::size_t width) { return text + std::string(width - text.size(), ' '); }

// One plane of the table: h, k, l, spacing, angle.
struct Plane {
    std::int32_t h, k, l;
    float d, t;
};

Items plane_items(const Plane* planes, int count) {
    Items items;
    for (int i = 0; i < count; ++i) {
        const Plane& p = planes[i / 5];
        switch (i % 5) {
        case 0: items.i4(&p.h); break;
        case 1: items.i4(&p.k); break;
        case 2: items.i4(&p.l); break;
        case 3: items.r4(&p.d); break;
        case 4: items.r4(&p.t); break;
        }
    }
    return items;
}

}  // namespace

// The plane table row: ten items fill one record, twenty revert to the group
// with its count, eleven end before the second I4 of the new record.
TEST(FormatWrite, PlaneRowsPairAndRevert) {
    const Plane planes[4] = {{1, -2, 3, 3.14159274f, 12.5f}, {0, 0, 10, 2.5f, 99.99f},
                             {1, -2, 3, 3.14159274f, 12.5f}, {0, 0, 10, 2.5f, 99.99f}};
    const std::string pair = "   1  -2   3   3.14159    12.50 :   0   0  10   2.50000    99.99 :";
    struct Row {
        int items;
        const char* records[3];
    } rows[] = {
        {10, {pair.c_str(), nullptr, nullptr}},
        {20, {pair.c_str(), pair.c_str(), nullptr}},
        {11, {pair.c_str(), "   1", nullptr}},
    };
    for (const Row& row : rows) {
        Area area(80, 3);
        Items items = plane_items(planes, row.items);
        items.end();
        ASSERT_EQ(internal_write_begin(area.data(), 80, 3, kFlags, kPlaneRow.data(), 0, items.l(), items.a()), 0)
            << row.items;
        for (int r = 0; r < 3; ++r) {
            std::string expect = row.records[r] ? padded(row.records[r], 80) : std::string(80, '#');
            EXPECT_EQ("[" + area.record(r) + "]", "[" + expect + "]") << row.items << " items, record " << r;
        }
    }
}

// Items may arrive one call at a time: the same records as one call.
TEST(FormatWrite, ItemsInSeparateCalls) {
    const Plane p = {7, 8, 9, 1.0f, 2.0f};
    Area area(40, 1);
    Items first;
    first.i4(&p.h).more();
    ASSERT_EQ(internal_write_begin(area.data(), 40, 1, kFlags, kPlaneRow.data(), 0, first.l(), first.a()), 0);
    Items second;
    second.i4(&p.k).more();
    ASSERT_EQ(format_write_item(second.l(), second.a()), 0);
    Items rest;
    rest.i4(&p.l).r4(&p.d).r4(&p.t).end();
    ASSERT_EQ(format_write_item(rest.l(), rest.a()), 0);
    EXPECT_EQ(area.record(0), padded("   7   8   9   1.00000     2.00 :", 40));
}

// Positions, literals, signs and scale: each row one statement of run-time
// format text into a fresh 40-character record.
TEST(FormatWrite, PositionsAndModes) {
    std::int32_t five = 5, minus = -7;
    float x = 1234.5f, half = 0.5f;
    struct Row {
        const char* format;
        Items items;
        const char* record;
    } rows[] = {
        {"('ABCDEF',TL3,'X')", Items(), "ABCXEF"},
        {"('AB',T5,'C')", Items(), "AB  C"},
        {"('AB',TR2,'C',T1,'Z')", Items(), "ZB  C"},
        {"(I3,TL10,'Q')", Items().i4(&five), "Q 5"},
        {"(2X,I2,3X,I3)", Items().i4(&five).i4(&minus), "   5    -7"},
        {"(SP,I3,SS,I3,SP,I3,S,I3)", Items().i4(&five).i4(&five).i4(&five).i4(&five), " +5  5 +5  5"},
        {"(1P,E12.4)", Items().r4(&x), "  1.2345E+03"},
        {"(E12.4,1P,F8.2,-1P,F8.2)", Items().r4(&x).r4(&half).r4(&half), "  0.1235E+04    5.00    0.05"},
        {"(I2,:,' after')", Items().i4(&five), " 5"},
        {"(I2,' after',:)", Items().i4(&five), " 5 after"},
        {"(1X, 2I3 )", Items().i4(&five).i4(&minus), "   5 -7"},
        {"('it''s')", Items(), "it's"},
    };
    for (Row& row : rows) {
        row.items.end();
        Area area(40, 1);
        ASSERT_EQ(write_text(area, row.format, row.items), 0) << row.format;
        EXPECT_EQ("[" + area.record(0) + "]", "[" + padded(row.record, 40) + "]") << row.format;
    }
}

// The statement's option bits reach editing: zero under G with the
// standard-rules option, logical truth by the lowest bit or by any bit.
TEST(FormatWrite, OptionBitsReachEditing) {
    float zero = 0.0f;
    std::int32_t two = 2;
    Area area(20, 1);
    ASSERT_EQ(write_text(area, "(G10.3)", Items().r4(&zero).end()), 0);
    EXPECT_EQ(area.record(0), padded("  0.00    ", 20));
    ASSERT_EQ(write_text(area, "(L3)", Items().l4(&two).end()), 0);
    EXPECT_EQ(area.record(0), padded("  F", 20));
    ASSERT_EQ(write_text(area, "(L3)", Items().l4(&two).end(), kFlags | SF_TRUE_NONZERO), 0);
    EXPECT_EQ(area.record(0), padded("  T", 20));
}

// Sign mode and scale factor start afresh with each statement.
TEST(FormatWrite, ModesResetEachStatement) {
    std::int32_t five = 5;
    float x = 1.5f;
    Area area(20, 1);
    ASSERT_EQ(write_text(area, "(SP,2P,I3,F6.1)", Items().i4(&five).r4(&x).end()), 0);
    EXPECT_EQ(area.record(0), padded(" +5+150.0", 20));
    ASSERT_EQ(write_text(area, "(I3,F6.1)", Items().i4(&five).r4(&x).end()), 0);
    EXPECT_EQ(area.record(0), padded("  5   1.5", 20));
}

// Arrays are written element by element; complex values part by part.
TEST(FormatWrite, ArraysAndComplexElements) {
    const std::int32_t values[5] = {1, 2, 3, 4, 5};
    Area area(10, 3);
    ASSERT_EQ(write_text(area, "(2I3)", Items().array(TYPE_INT4, values, sizeof values).end()), 0);
    EXPECT_EQ(area.record(0), padded("  1  2", 10));
    EXPECT_EQ(area.record(1), padded("  3  4", 10));
    EXPECT_EQ(area.record(2), padded("  5", 10));

    // Rows 1 and 2 of a 3 x 3 matrix stored by columns: storage order.
    const std::int32_t matrix[9] = {11, 21, 31, 12, 22, 32, 13, 23, 33};
    Area section(20, 1);
    ASSERT_EQ(write_text(section, "(6I3)", Items().section2(TYPE_INT4, matrix, 1, 2, 4, 1, 3, 12).end()), 0);
    EXPECT_EQ(section.record(0), padded(" 11 21 12 22 13 23", 20));

    const char names[2][3] = {{'a', 'b', 'c'}, {'d', 'e', 'f'}};
    Area chars(20, 1);
    ASSERT_EQ(write_text(chars, "(A,A4)", Items().char_array(&names[0][0], 6, 3).end()), 0);
    EXPECT_EQ(chars.record(0), padded("abc def", 20));

    const float pair[2] = {1.5f, -0.25f};
    Area c(20, 1);
    ASSERT_EQ(write_text(c, "('(',F5.2,',',F6.2,')')", Items().scalar(28, pair).end()), 0);
    EXPECT_EQ(c.record(0), padded("( 1.50, -0.25)", 20));
}

// Slashes end records; an empty record is blank.
TEST(FormatWrite, CountLineEndsWithEmptyRecord) {
    std::int32_t count = 42;
    Area area(40, 2);
    ASSERT_EQ(internal_write_begin(area.data(), 40, 2, kFlags, kCountLine.data(), 0, Items().i4(&count).end().l(),
                                   Items().i4(&count).a()),
              0);
    EXPECT_EQ(area.record(0), padded(" NUMBER OF CALCULATED PLANES =  42", 40));
    EXPECT_EQ(area.record(1), std::string(40, ' '));
}

// Errors end the statement through the common exit; with an error branch
// the statement returns the message number.
TEST(FormatWrite, StatementErrors) {
    std::int32_t five = 5;
    float x = 1.0f;
    struct Row {
        const char* format;
        Items items;
        int result;
    } rows[] = {
        {"('only text')", Items().i4(&five), MSG_INFINITE_FORMAT_LOOP},
        {"()", Items().i4(&five), MSG_INFINITE_FORMAT_LOOP},
        {"(326(3263((3263()3())))3()))", Items().i4(&five), MSG_INFINITE_FORMAT_LOOP},
        {"(I4)", Items().r4(&x), MSG_FORMAT_TYPE_MISMATCH},
        {"(F6)", Items().r4(&x), MSG_FORMAT_SYNTAX},
        {"(A)", Items().chars("longer than the record", 22), MSG_RECORD_OVERFLOW},
        {"(I2/I2/I2)", Items().i4(&five).i4(&five).i4(&five), MSG_RECORD_OVERFLOW},
    };
    for (Row& row : rows) {
        row.items.end();
        Area area(10, 2);
        testing::internal::CaptureStderr();
        EXPECT_EQ(write_text(area, row.format, row.items, kBranch), row.result) << row.format;
        std::string err = testing::internal::GetCapturedStderr();
        if (row.result != MSG_FORMAT_SYNTAX) {
            EXPECT_EQ(err, "") << row.format;
        }
    }
    // The statement that failed takes no further items.
    Area area(10, 1);
    EXPECT_EQ(write_text(area, "(I4)", Items().r4(&x).more(), kBranch), MSG_FORMAT_TYPE_MISMATCH);
    EXPECT_EQ(format_write_item(Items().i4(&five).end().l(), Items().i4(&five).a()), 0);
}

// Literals and moves repeated in groups: the record holds what every
// repetition carried out one by one writes, also when the walk crosses the
// repetitions that could change nothing (the last rows, found by fuzzing,
// have 10^11 and 21 million repetitions of their innermost groups).
TEST(FormatWrite, RepeatedLiteralsWriteWhatEveryRepetitionWrites) {
    struct Row {
        const char* format;
        const char* record;
    } rows[] = {
        {"(5('ab',TL2),'c')", "cb"},
        {"(4(T3,'x',2X,'y'))", "  x  y"},
        {"(3(2('ab'),TL3))", "aaabab"},
        {"(32(326(3263((3263(,'L',T8'TH.')3())))3()))", "L      TH.L"},
        {"(32(326(32(63(3263()(TL7,'Q'),TL0,'Q')))(3263(()3())))3()))", "QQ"},
    };
    for (const Row& row : rows) {
        Area area(20, 1);
        EXPECT_EQ(write_text(area, row.format, Items().end(), kBranch), 0) << row.format;
        EXPECT_EQ(area.record(0), padded(row.record, 20)) << row.format;
    }
}

// An empty format with only zero-length items ends the statement.
TEST(FormatWrite, EmptyFormatWithEmptyArray) {
    const std::int32_t none[1] = {0};
    Area area(10, 1);
    EXPECT_EQ(write_text(area, "()", Items().array(TYPE_INT4, none, 0).end(), kBranch), 0);
    EXPECT_EQ(area.record(0), std::string(10, ' '));
}

// A field too narrow gets asterisks; the statement completes, the record is
// in place, and 63 is reported after it.
TEST(FormatWrite, OverflowReportedAfterTheRecord) {
    float big = 1000.0f, small = 1.5f;
    Area area(20, 1);
    EXPECT_EQ(write_text(area, "(F6.2,F6.2)", Items().r4(&big).r4(&small).end(), kBranch), MSG_OUTPUT_CONVERSION);
    EXPECT_EQ(area.record(0), padded("******  1.50", 20));

    testing::internal::CaptureStderr();
    EXPECT_EQ(write_text(area, "(F6.2)", Items().r4(&big).end(), kFlags), 0);  // reported, not returned
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_NE(err.find("forrtl: error (63): output conversion error, unit -5"), std::string::npos) << err;
    EXPECT_EQ(area.record(0), padded("******", 20));
}

class FormatWriteFile : public stmt_test::FileTest {};

// Records on a file end with CR LF; trailing skips add nothing; the dollar
// descriptor leaves the statement's last record without a terminator (a
// slash after it moves the mark to the last record), and the line it left
// open gets a line feed before the next record.
TEST_F(FormatWriteFile, RecordsOnAFile) {
    std::string path = connect(31, "out.txt");
    std::int32_t count = 42;
    ASSERT_EQ(format_write_begin(31, kFlags, kCountLine.data(), 0, Items().i4(&count).end().l(),
                                 Items().i4(&count).a()),
              0);
    const char* trailing = "('AB',5X)";
    ASSERT_EQ(format_write_begin(31, kFlags | SF_FORMAT_TEXT, reinterpret_cast<const std::uint8_t*>(trailing),
                                 9, Items().end().l(), nullptr),
              0);
    const char* moved = "('a',$,/,'b')";
    ASSERT_EQ(format_write_begin(31, kFlags | SF_FORMAT_TEXT, reinterpret_cast<const std::uint8_t*>(moved), 13,
                                 Items().end().l(), nullptr),
              0);
    ASSERT_EQ(format_write_begin(31, kFlags, kPrompt.data(), 0, Items().end().l(), nullptr), 0);
    close_unit(31);
    EXPECT_EQ(bytes(path),
              " NUMBER OF CALCULATED PLANES =  42\r\n\r\nAB\r\na\r\nb\n  entry .dat file (no extension) ??");
}

// The overflow report comes after the record is on the file.
TEST_F(FormatWriteFile, OverflowRecordWrittenFirst) {
    std::string path = connect(32, "over.txt");
    float big = 1000.0f;
    const char* format = "(F6.2)";
    EXPECT_EQ(format_write_begin(32, kBranch | SF_FORMAT_TEXT, reinterpret_cast<const std::uint8_t*>(format), 6,
                                 Items().r4(&big).end().l(), Items().r4(&big).a()),
              MSG_OUTPUT_CONVERSION);
    EXPECT_EQ(bytes(path), "******\r\n");
}

// A unit number outside the table fails before any unit is held; so does
// the internal unit through a file statement's entry.
TEST_F(FormatWriteFile, InvalidUnit) {
    const char* format = "(I3)";
    std::int32_t five = 5;
    EXPECT_EQ(format_write_begin(-7, kBranch | SF_FORMAT_TEXT, reinterpret_cast<const std::uint8_t*>(format), 4,
                                 Items().i4(&five).end().l(), Items().i4(&five).a()),
              MSG_INVALID_UNIT);
    EXPECT_EQ(list_read_begin(-9, kBranch, Items().i4(&five).end().l(), Items().i4(&five).a()), MSG_INVALID_UNIT);
    // The internal unit has entry points of its own that name its area.
    EXPECT_EQ(list_write_begin(kInternalUnit, kBranch, Items().i4(&five).end().l(), Items().i4(&five).a()),
              MSG_INVALID_ARGUMENT);
}

// A non-advancing WRITE leaves its record open for the next WRITE; a wrong
// ADVANCE= value is error 48.
TEST_F(FormatWriteFile, NonAdvancingWrite) {
    std::string path = connect(33, "adv.txt");
    const char* format = "(A)";
    auto fmt = reinterpret_cast<const std::uint8_t*>(format);
    ASSERT_EQ(format_write_begin_adv(33, kFlags | SF_FORMAT_TEXT, fmt, 3, "no ", 3, Items().chars("abc", 3).end().l(),
                                     Items().chars("abc", 3).a()),
              0);
    ASSERT_EQ(format_write_begin_adv(33, kFlags | SF_FORMAT_TEXT, fmt, 3, "YES", 3, Items().chars("def", 3).end().l(),
                                     Items().chars("def", 3).a()),
              0);
    EXPECT_EQ(format_write_begin_adv(33, kBranch | SF_FORMAT_TEXT, fmt, 3, "MAYBE", 5,
                                     Items().chars("x", 1).end().l(), Items().chars("x", 1).a()),
              MSG_INVALID_ARGUMENT);
    close_unit(33);
    EXPECT_EQ(bytes(path), "abcdef\r\n");
}

// The connection decides whether a formatted sequential statement may run:
// 257 on an unformatted connection, 259 on a direct-access one, 47 for a
// WRITE on a read-only one.
TEST_F(FormatWriteFile, ConnectionChecks) {
    using unit_test::Keywords;
    using unit_test::open_unit;
    std::int32_t five = 5;
    const char* format = "(I3)";
    auto fmt = reinterpret_cast<const std::uint8_t*>(format);
    Items items;
    items.i4(&five).end();

    ASSERT_EQ(open_unit(34, Keywords().text(KW_FILE, dir + "/u.bin").text(KW_FORM, "UNFORMATTED")), 0);
    used.push_back(34);
    EXPECT_EQ(format_write_begin(34, kBranch | SF_FORMAT_TEXT, fmt, 4, items.l(), items.a()),
              MSG_FORMATTED_TO_UNFORMATTED);
    EXPECT_EQ(format_read_begin(34, kBranch | SF_FORMAT_TEXT, fmt, 4, items.l(), items.a()),
              MSG_FORMATTED_TO_UNFORMATTED);
    EXPECT_EQ(list_write_begin(34, kBranch, items.l(), items.a()), MSG_FORMATTED_TO_UNFORMATTED);

    ASSERT_EQ(open_unit(35, Keywords().text(KW_FILE, dir + "/d.txt").text(KW_ACCESS, "DIRECT").inline_int(KW_RECL, 20)
                                .text(KW_FORM, "FORMATTED")),
              0);
    used.push_back(35);
    EXPECT_EQ(format_write_begin(35, kBranch | SF_FORMAT_TEXT, fmt, 4, items.l(), items.a()),
              MSG_SEQUENTIAL_TO_DIRECT);

    put(dir + "/r.txt", "old\n");
    ASSERT_EQ(open_unit(36, Keywords().text(KW_FILE, dir + "/r.txt").text(KW_ACTION, "READ")), 0);
    used.push_back(36);
    EXPECT_EQ(format_write_begin(36, kBranch | SF_FORMAT_TEXT, fmt, 4, items.l(), items.a()), MSG_WRITE_READONLY);
    // The unit is released after each failure: the next statement runs.
    char text[3];
    EXPECT_EQ(format_read_begin(36, kBranch | SF_FORMAT_TEXT, reinterpret_cast<const std::uint8_t*>("(A3)"), 4,
                                Items().chars(text, 3).end().l(), Items().chars(text, 3).a()),
              0);
    EXPECT_EQ(std::string(text, 3), "old");
}
