// Formatted READ statements through their entry points, on internal files
// and on files: fields taken at the position, short records, record ends,
// reversion, non-advancing READ and the statement's errors.
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
using stmt_test::Items;

namespace {

constexpr std::uint32_t kFlags = kCalculatorFlags;
constexpr std::uint32_t kBranch = kCalculatorFlags | SF_ERROR_BRANCH | SF_END_BRANCH;

constexpr auto kName = format_program<"(A20)">();
constexpr auto kTitle = format_program<"(18A4)">();

// A READ of run-time format text from internal records of equal length.
int read_text(const std::string& area, std::int32_t record_length, const char* format, const Items& items,
              std::uint32_t flags = kFlags) {
    std::int32_t records = static_cast<std::int32_t>(area.size()) / record_length;
    return internal_read_begin(area.data(), record_length, records, flags | SF_FORMAT_TEXT,
                               reinterpret_cast<const std::uint8_t*>(format),
                               static_cast<std::int32_t>(std::strlen(format)), items.l(), items.a());
}

}  // namespace

// A20 of a short record: the name completed with blanks.
TEST(FormatRead, NameOfAShortRecord) {
    const std::string record = "quartz";
    char name[20];
    std::memset(name, '#', sizeof name);
    Items items;
    items.chars(name, 20).end();
    ASSERT_EQ(internal_read_begin(record.data(), 6, 1, kFlags, kName.data(), 0, items.l(), items.a()), 0);
    EXPECT_EQ(std::string(name, 20), "quartz              ");
}

// 18A4 into eighteen 4-byte reals: the title's characters as raw bytes, the
// rest of a short record as blanks.
TEST(FormatRead, TitleIntoRealsFromAShortRecord) {
    const std::string record = "HEXAGONAL TEST";
    float title[18];
    std::memset(title, 0, sizeof title);
    Items items;
    items.array(TYPE_REAL4, title, sizeof title).end();
    ASSERT_EQ(internal_read_begin(record.data(), 14, 1, kFlags, kTitle.data(), 0, items.l(), items.a()), 0);
    std::string bytes(reinterpret_cast<const char*>(title), sizeof title);
    EXPECT_EQ(bytes, "HEXAGONAL TEST" + std::string(72 - 14, ' '));
}

// Fields by descriptor: blanks, commas, implied points, positions.
TEST(FormatRead, FieldsAtThePosition) {
    struct Row {
        const char* record;
        const char* format;
        std::int32_t a, b;
    } rows[] = {
        {"1 2", "(I3)", 12, -1},
        {"1 2", "(BZ,I3)", 102, -1},
        {"3,4", "(I5,I5)", 3, 4},
        {"1234", "(T3,I2,TL4,I2)", 34, 12},
        {"ab12", "('xx',I2)", 12, -1},
        {"12345", "(I2,1X,I2)", 12, 45},
        {"7", "(I2,I2)", 7, 0},
    };
    for (const Row& row : rows) {
        std::int32_t a = -1, b = -1;
        Items items;
        items.i4(&a);
        if (row.b != -1) items.i4(&b);
        items.end();
        std::string area = row.record;
        ASSERT_EQ(read_text(area, static_cast<std::int32_t>(area.size()), row.format, items), 0) << row.format;
        EXPECT_EQ(a, row.a) << row.record << " " << row.format;
        EXPECT_EQ(b, row.b) << row.record << " " << row.format;
    }
    float x = 0, y = 0;
    std::string area = "1.5  15 1.5E1";
    ASSERT_EQ(read_text(area, 13, "(F3.0,F4.1,2P,F6.0)", Items().r4(&x).r4(&y).r4(&x).end()), 0);
    EXPECT_EQ(y, 1.5f);
    EXPECT_EQ(x, 15.0f);
}

// A literal met by a READ takes the characters under it into the program, so
// that a WRITE with the same (writable) program shows them.
TEST(FormatRead, LiteralTakesTheRecordsCharacters) {
    static auto program = format_program<"('xx',I2,'yyy')">();
    const std::string record = "ab12c";
    std::int32_t v = 0;
    Items items;
    items.i4(&v).end();
    ASSERT_EQ(internal_read_begin(record.data(), 5, 1, kFlags, program.data(), 0, items.l(), items.a()), 0);
    EXPECT_EQ(v, 12);
    char out[9];
    ASSERT_EQ(internal_write_begin(out, 9, 1, kFlags, program.data(), 0, items.l(), items.a()), 0);
    EXPECT_EQ(std::string(out, 9), "ab12c    ");
}

// Literals repeated in groups take the characters of each repetition in
// turn and keep those of the last, as a WRITE with the program then shows,
// also when the walk stands for repetitions by one move.  The last row,
// found by fuzzing, repeats its innermost group 10^11 times.
TEST(FormatRead, RepeatedLiteralsKeepWhatTheLastRepetitionReads) {
    const std::string record = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghij";
    struct Row {
        const char* format;
        const char* shown;
    } rows[] = {
        {"(3('ab',1X))", "GH GH GH"},
        {"(5(2('xy'),TL3))", "GGGGGHGH"},
        {"(8(3(TL1),'pq',5X))", "cd  cd  cd  cd  cd  cd  cd  cd"},
    };
    for (const Row& row : rows) {
        std::uint8_t* program = nullptr;
        ASSERT_EQ(compile_format(row.format, static_cast<std::int32_t>(std::strlen(row.format)), &program), 0u);
        const Items none = Items().end();
        EXPECT_EQ(internal_read_begin(record.data(), 36, 1, kBranch, program, 0, none.l(), none.a()), 0) << row.format;
        char out[40];
        EXPECT_EQ(internal_write_begin(out, 40, 1, kBranch, program, 0, none.l(), none.a()), 0) << row.format;
        EXPECT_EQ(std::string(out, 40), row.shown + std::string(40 - std::strlen(row.shown), ' ')) << row.format;
        release_format(program);
    }
    EXPECT_EQ(read_text(record, 36, "((326(3263((3263(,'LT8T'',H.')3())))3()))", Items().end(), kBranch), 0);
}

// "/" and reversion read the next record; Q counts what is left.
TEST(FormatRead, RecordEndsAndReversion) {
    const std::string area = "1   2   3   ";  // three records of four characters
    std::int32_t v[3] = {0, 0, 0};
    ASSERT_EQ(read_text(area, 4, "(I1/I1)", Items().i4(&v[0]).i4(&v[1]).end()), 0);
    EXPECT_EQ(v[0], 1);
    EXPECT_EQ(v[1], 2);
    ASSERT_EQ(read_text(area, 4, "(I2)", Items().array(TYPE_INT4, v, sizeof v).end()), 0);
    EXPECT_EQ(v[0], 1);
    EXPECT_EQ(v[1], 2);
    EXPECT_EQ(v[2], 3);
    std::int32_t left = -1;
    ASSERT_EQ(read_text(area, 4, "(1X,Q)", Items().i4(&left).end()), 0);
    EXPECT_EQ(left, 3);
    // Q in a repeated group takes an item on each repetition.
    ASSERT_EQ(read_text(area, 4, "(3(Q,2()))", Items().array(TYPE_INT4, v, sizeof v).end()), 0);
    EXPECT_EQ(v[0], 4);
    EXPECT_EQ(v[1], 4);
    EXPECT_EQ(v[2], 4);
}

// Errors end the statement; the items read before keep their values.
TEST(FormatRead, StatementErrors) {
    std::int32_t a = -1, b = -1;
    EXPECT_EQ(read_text("12ab", 4, "(I2,I2)", Items().i4(&a).i4(&b).end(), kBranch), MSG_INPUT_CONVERSION);
    EXPECT_EQ(a, 12);
    EXPECT_EQ(b, -1);
    EXPECT_EQ(read_text("1 2 ", 2, "(I2)", Items().i4(&a).i4(&b).i4(&b).end(), kBranch), -1);  // end of file
    EXPECT_EQ(read_text("12", 2, "('x')", Items().i4(&a).end(), kBranch), MSG_INFINITE_FORMAT_LOOP);
    float x = 0;
    EXPECT_EQ(read_text("12", 2, "(L2)", Items().r4(&x).end(), kBranch), MSG_FORMAT_TYPE_MISMATCH);
}

// Literals and fields of repeated groups move the position far beyond the
// record (about 3 * 10^9 characters in all): it stays capped as positioning
// moves are, so nothing is read outside the record.  Each row gives the
// statement's result and the last item's value afterwards.
TEST(FormatRead, PositionBeyondTheRecordStaysCapped) {
    const std::string literals = "(3(32767('" + std::string(30000, 'x') + "')),A1)";
    static char chars[3 * 32767 + 1];
    struct Row {
        const char* label;
        std::string format;
        std::int64_t count;  // one-character items
        int result;
        char last;
    } rows[] = {
        // The literals pass over the record; A1 then reads a blank beyond it.
        {"literals", literals, 1, 0, ' '},
        // 98301 fields of 32767 characters; one more item reverts to the
        // next record: end of file.
        {"fields", "(3(32767A32767))", 3 * 32767, 0, ' '},
        {"fields, then reversion", "(3(32767A32767))", 3 * 32767 + 1, -1, '#'},
    };
    for (const Row& row : rows) {
        std::memset(chars, '#', sizeof chars);
        EXPECT_EQ(read_text("12", 2, row.format.c_str(), Items().char_array(chars, row.count, 1).end(), kBranch),
                  row.result)
            << row.label;
        EXPECT_EQ(chars[row.count - 1], row.last) << row.label;
    }
}

class FormatReadFile : public stmt_test::FileTest {};

// Each READ starts on the next record; LF and CR LF line ends read alike;
// the end of the file is 24 (-1 with an end branch).
TEST_F(FormatReadFile, RecordsOfAFile) {
    std::string path = connect(51, "in.txt");
    put(path, "quartz\r\nHEXAGONAL\n");
    char name[20];
    Items first;
    first.chars(name, 20).end();
    ASSERT_EQ(format_read_begin(51, kFlags, kName.data(), 0, first.l(), first.a()), 0);
    EXPECT_EQ(std::string(name, 20), "quartz              ");
    ASSERT_EQ(format_read_begin(51, kFlags, kName.data(), 0, first.l(), first.a()), 0);
    EXPECT_EQ(std::string(name, 20), "HEXAGONAL           ");
    EXPECT_EQ(format_read_begin(51, kBranch, kName.data(), 0, first.l(), first.a()), -1);
}

// A non-advancing READ keeps its position for the next READ and counts the
// characters it took; running past the record's end is end of record.
TEST_F(FormatReadFile, NonAdvancingRead) {
    std::string path = connect(52, "adv.txt");
    put(path, "abcdef\nnext\n");
    const char* format = "(A3)";
    auto fmt = reinterpret_cast<const std::uint8_t*>(format);
    char part[3];
    std::int32_t size = -1;
    Items items;
    items.chars(part, 3).end();
    ASSERT_EQ(format_read_begin_adv(52, kFlags | SF_FORMAT_TEXT, fmt, 4, "NO", 2, &size, 4, items.l(), items.a()), 0);
    EXPECT_EQ(std::string(part, 3), "abc");
    EXPECT_EQ(size, 3);
    ASSERT_EQ(format_read_begin_adv(52, kFlags | SF_FORMAT_TEXT, fmt, 4, "no", 2, &size, 4, items.l(), items.a()), 0);
    EXPECT_EQ(std::string(part, 3), "def");
    EXPECT_EQ(format_read_begin_adv(52, kFlags | SF_FORMAT_TEXT | SF_EOR_BRANCH, fmt, 4, "NO", 2, &size, 4,
                                    items.l(), items.a()),
              -2);
    EXPECT_EQ(std::string(part, 3), "   ");
    EXPECT_EQ(size, 0);
    ASSERT_EQ(format_read_begin(52, kFlags | SF_FORMAT_TEXT, fmt, 4, items.l(), items.a()), 0);
    EXPECT_EQ(std::string(part, 3), "nex");
}

// A comma ends a numeric field early: a non-advancing READ whose field width
// would pass the record's end has not met the end of the record when the
// comma ended the field first.
TEST_F(FormatReadFile, NonAdvancingReadStopsAtAComma) {
    std::string path = connect(54, "comma.txt");
    put(path, "3,45\n");
    const char* format = "(I5)";
    auto fmt = reinterpret_cast<const std::uint8_t*>(format);
    std::int32_t v = 0, size = -1;
    Items items;
    items.i4(&v).end();
    const std::uint32_t flags = kFlags | SF_FORMAT_TEXT | SF_EOR_BRANCH;
    ASSERT_EQ(format_read_begin_adv(54, flags, fmt, 4, "NO", 2, &size, 4, items.l(), items.a()), 0);
    EXPECT_EQ(v, 3);
    EXPECT_EQ(format_read_begin_adv(54, flags, fmt, 4, "NO", 2, &size, 4, items.l(), items.a()), -2);
    EXPECT_EQ(v, 45);
}

// BLANK= of the connection sets the blank mode each statement starts with;
// PAD='NO' makes a short record error 67 under the standard-rules option and
// shortens the field otherwise.
TEST_F(FormatReadFile, BlankAndPadOfTheConnection) {
    using unit_test::Keywords;
    using unit_test::open_unit;
    put(dir + "/b.txt", "1 2\n1 2\n");
    ASSERT_EQ(open_unit(53, Keywords().text(KW_FILE, dir + "/b.txt").text(KW_BLANK, "ZERO")), 0);
    used.push_back(53);
    std::int32_t v = 0;
    auto fmt = reinterpret_cast<const std::uint8_t*>("(I3)");
    ASSERT_EQ(format_read_begin(53, kFlags | SF_FORMAT_TEXT, fmt, 4, Items().i4(&v).end().l(), Items().i4(&v).a()), 0);
    EXPECT_EQ(v, 102);
    auto bn = reinterpret_cast<const std::uint8_t*>("(BN,I3)");
    ASSERT_EQ(format_read_begin(53, kFlags | SF_FORMAT_TEXT, bn, 7, Items().i4(&v).end().l(), Items().i4(&v).a()), 0);
    EXPECT_EQ(v, 12);

    put(dir + "/p.txt", "12\n12\n");
    ASSERT_EQ(open_unit(54, Keywords().text(KW_FILE, dir + "/p.txt").text(KW_PAD, "NO")), 0);
    used.push_back(54);
    auto i5 = reinterpret_cast<const std::uint8_t*>("(I5)");
    v = -1;
    EXPECT_EQ(format_read_begin(54, kBranch | SF_FORMAT_TEXT, i5, 4, Items().i4(&v).end().l(), Items().i4(&v).a()),
              MSG_TOO_MUCH_DATA);
    EXPECT_EQ(v, -1);
    EXPECT_EQ(format_read_begin(54, SF_ERROR_BRANCH | SF_FORMAT_TEXT, i5, 4, Items().i4(&v).end().l(),
                                Items().i4(&v).a()),
              0);
    EXPECT_EQ(v, 12);
}
