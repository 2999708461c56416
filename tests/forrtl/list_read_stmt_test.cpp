// List-directed READ statements through their entry points: values over
// records of an internal file or a file, conversion into the items, and the
// errors that end the statement.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "for_lub.h"
#include "for_stmt.h"
#include "forrtl/stmt_files.h"
#include "forrtl/stmt_items.h"

using namespace forrtl;
using stmt_test::Items;

namespace {

constexpr std::uint32_t kFlags = kCalculatorFlags;
constexpr std::uint32_t kBranch = kCalculatorFlags | SF_ERROR_BRANCH;

int read_list(const std::string& area, std::int32_t record_length, const Items& items,
              std::uint32_t flags = kFlags) {
    std::int32_t records = static_cast<std::int32_t>(area.size()) / record_length;
    return internal_list_read_begin(area.data(), record_length, records, flags, items.l(), items.a());
}

}  // namespace

// The calculator's cell line and the spread of values over records.
TEST(ListReadStatement, ValuesOverRecords) {
    struct Row {
        const char* label;
        std::string area;
        std::int32_t record_length;
        float expect[3];
    } rows[] = {
        {"blanks", "5.43 5.43 5.43", 14, {5.43f, 5.43f, 5.43f}},
        {"null", "5.43,,5.43", 10, {5.43f, -1.0f, 5.43f}},
        {"repeat", "3*90", 4, {90.0f, 90.0f, 90.0f}},
        {"repeat null", "3*  ", 4, {-1.0f, -1.0f, -1.0f}},
        {"slash", "1,2/", 4, {1.0f, 2.0f, -1.0f}},
        {"two records", "1 2 3   ", 4, {1.0f, 2.0f, 3.0f}},
        {"blank record between", "1   " "    " "2 3 ", 4, {1.0f, 2.0f, 3.0f}},
        {"comma at record end", "1,  " ",2  ", 4, {1.0f, -1.0f, 2.0f}},
        {"comma at record start", "1   " ",2 3", 4, {1.0f, 2.0f, 3.0f}},
    };
    for (const Row& row : rows) {
        float v[3] = {-1.0f, -1.0f, -1.0f};
        ASSERT_EQ(read_list(row.area, row.record_length, Items().array(TYPE_REAL4, v, sizeof v).end()), 0)
            << row.label;
        for (int i = 0; i < 3; ++i) EXPECT_EQ(v[i], row.expect[i]) << row.label << " item " << i;
    }
}

// Conversion by item type, one statement per value.
TEST(ListReadStatement, ConversionByItemType) {
    std::int32_t i = 0, flag = 0;
    double d = 0;
    char text[6];
    EXPECT_EQ(read_list("7.9", 3, Items().i4(&i).end()), 0);
    EXPECT_EQ(i, 7);
    EXPECT_EQ(read_list("1.5d2", 5, Items().r8(&d).end()), 0);
    EXPECT_EQ(d, 150.0);
    EXPECT_EQ(read_list(".TRUE.", 6, Items().l4(&flag).end()), 0);
    EXPECT_EQ(flag, -1);
    EXPECT_EQ(read_list("'it''s'", 7, Items().chars(text, 6).end()), 0);
    EXPECT_EQ(std::string(text, 6), "it's  ");
    float pair[2] = {0, 0};
    EXPECT_EQ(read_list(" (1.5, 2.5) ", 12, Items().scalar(28, pair).end()), 0);
    EXPECT_EQ(pair[0], 1.5f);
    EXPECT_EQ(pair[1], 2.5f);
    char names[2][3];
    EXPECT_EQ(read_list("'ab' cd", 7, Items().char_array(&names[0][0], 6, 3).end()), 0);
    EXPECT_EQ(std::string(&names[0][0], 6), "ab cd ");
}

// The first error ends the statement: 59 for a bad value, 64 for one out of
// range, 24 at the end of the data; the items before keep their values.
TEST(ListReadStatement, ErrorsEndTheStatement) {
    float x = -1.0f, y = -1.0f;
    EXPECT_EQ(read_list("1.5 5.43x", 9, Items().r4(&x).r4(&y).end(), kBranch), MSG_LIST_SYNTAX);
    EXPECT_EQ(x, 1.5f);
    EXPECT_EQ(y, -1.0f);
    std::int32_t i = -1;
    EXPECT_EQ(read_list("2147483648", 10, Items().i4(&i).end(), kBranch), MSG_INPUT_CONVERSION);
    EXPECT_EQ(i, -1);
    x = y = -1.0f;
    EXPECT_EQ(read_list("2.5 ", 4, Items().r4(&x).r4(&y).end(), kBranch), -1);
    EXPECT_EQ(x, 2.5f);
    EXPECT_EQ(y, -1.0f);
}

// Items may arrive one call at a time.
TEST(ListReadStatement, SeparateCalls) {
    std::int32_t a = 0, b = 0;
    const std::string area = "4 5";
    ASSERT_EQ(internal_list_read_begin(area.data(), 3, 1, kFlags, Items().i4(&a).more().l(), Items().i4(&a).a()), 0);
    ASSERT_EQ(list_read_item(Items().i4(&b).end().l(), Items().i4(&b).a()), 0);
    EXPECT_EQ(a, 4);
    EXPECT_EQ(b, 5);
}

class ListReadFile : public stmt_test::FileTest {};

// An entry data file: each READ starts on a new record, values left on a
// record stay unread, and the end of the file ends the statement.
TEST_F(ListReadFile, EntryDataFile) {
    std::string path = connect(61, "quartz.dat");
    put(path, "4.913 4.913 5.405 90 90 120 extra\r\n1 0 0\n\n  2\n");
    float cell[6];
    ASSERT_EQ(list_read_begin(61, kFlags, Items().array(TYPE_REAL4, cell, sizeof cell).end().l(),
                              Items().array(TYPE_REAL4, cell, sizeof cell).a()),
              0);
    EXPECT_EQ(cell[0], 4.913f);
    EXPECT_EQ(cell[5], 120.0f);
    std::int32_t codes[4] = {-1, -1, -1, -1};
    ASSERT_EQ(list_read_begin(61, kFlags, Items().array(TYPE_INT4, codes, sizeof codes).end().l(),
                              Items().array(TYPE_INT4, codes, sizeof codes).a()),
              0);
    EXPECT_EQ(codes[0], 1);
    EXPECT_EQ(codes[3], 2);
    std::int32_t more = -1;
    EXPECT_EQ(list_read_begin(61, kFlags | SF_END_BRANCH, Items().i4(&more).end().l(), Items().i4(&more).a()), -1);
    EXPECT_EQ(more, -1);
}
