// Statements begun inside another statement's item list, as a function
// referenced in the list runs them between two item calls: the outer
// statement keeps its own state, takes the rest of its items and releases
// its unit; a READ on the outer statement's own unit is recursive I/O (40).
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
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

const std::uint8_t* text(const char* format) { return reinterpret_cast<const std::uint8_t*>(format); }
std::int32_t length(const char* format) { return static_cast<std::int32_t>(std::strlen(format)); }

// A statement of three integer items passed in three calls, with `between`
// run after the first and after the second call.
using Begin = std::function<int(const Items&)>;
using ItemCall = int (*)(const std::uint8_t*, const ArgWord*);

void three_calls(const Begin& begin, ItemCall item, std::int32_t* v, const std::function<void()>& between) {
    Items first, second, last;
    first.i4(&v[0]).more();
    second.i4(&v[1]).more();
    last.i4(&v[2]).end();
    EXPECT_EQ(begin(first), 0);
    between();
    EXPECT_EQ(item(second.l(), second.a()), 0);
    between();
    EXPECT_EQ(item(last.l(), last.a()), 0);
}

// Complete statements on internal files, each checking its own result: what
// a function in an item list might do.
struct Inner {
    const char* label;
    std::function<void()> run;
};

std::vector<Inner> inner_statements() {
    return {
        {"internal formatted WRITE",
         [] {
             std::int32_t n = 42;
             float x = 2.5f;
             char area[12];
             Items items;
             items.i4(&n).r4(&x).end();
             EXPECT_EQ(internal_write_begin(area, 12, 1, kFlags | SF_FORMAT_TEXT, text("(I3,F6.2)"),
                                            length("(I3,F6.2)"), items.l(), items.a()),
                       0);
             EXPECT_EQ(std::string(area, 12), " 42  2.50   ");
         }},
        {"internal formatted READ",
         [] {
             std::int32_t a = 0, b = 0;
             Items items;
             items.i4(&a).i4(&b).end();
             EXPECT_EQ(internal_read_begin("1234", 4, 1, kFlags | SF_FORMAT_TEXT, text("(2I2)"), length("(2I2)"),
                                           items.l(), items.a()),
                       0);
             EXPECT_EQ(a * 100 + b, 1234);
         }},
        {"internal list WRITE",
         [] {
             std::int32_t n = 7;
             char area[20];
             Items items;
             items.i4(&n).end();
             EXPECT_EQ(internal_list_write_begin(area, 20, 1, kFlags, items.l(), items.a()), 0);
             EXPECT_NE(std::string(area, 20).find('7'), std::string::npos);
         }},
        {"internal list READ",
         [] {
             std::int32_t v[2] = {0, 0};
             Items items;
             items.array(TYPE_INT4, v, sizeof v).end();
             EXPECT_EQ(internal_list_read_begin("8,9", 3, 1, kFlags, items.l(), items.a()), 0);
             EXPECT_EQ(v[0] * 10 + v[1], 89);
         }},
    };
}

}  // namespace

class NestedStatement : public stmt_test::FileTest {};

// READ statements on a file with statements on internal files nested in
// their item lists: every item of the outer READ is read, and the unit is
// free for the next READ, which takes the next record.
TEST_F(NestedStatement, ReadOnAFileKeepsItsState) {
    struct Outer {
        const char* label;
        Begin begin;
        ItemCall item;
    } outers[] = {
        {"formatted READ",
         [](const Items& i) { return format_read_begin(81, kFlags | SF_FORMAT_TEXT, text("(3I4)"), length("(3I4)"), i.l(), i.a()); },
         format_read_item},
        {"list READ", [](const Items& i) { return list_read_begin(81, kFlags, i.l(), i.a()); }, list_read_item},
    };
    std::string path = connect(81, "in.dat");
    for (const Outer& outer : outers) {
        for (const Inner& inner : inner_statements()) {
            SCOPED_TRACE(std::string(outer.label) + " with " + inner.label);
            put(path, "   1   2   3\n   4   5   6\n");
            std::int32_t v[3] = {0, 0, 0};
            three_calls(outer.begin, outer.item, v, inner.run);
            EXPECT_EQ(v[0] * 100 + v[1] * 10 + v[2], 123);
            std::int32_t next[3] = {0, 0, 0};
            Items items;
            items.array(TYPE_INT4, next, sizeof next).end();
            EXPECT_EQ(list_read_begin(81, kBranch, items.l(), items.a()), 0);
            EXPECT_EQ(next[0] * 100 + next[1] * 10 + next[2], 456);
            close_unit(81);
        }
    }
}

// WRITE statements, on a file and on an internal file, with statements on
// internal files nested in their item lists write the same record as
// without them.
TEST_F(NestedStatement, WriteKeepsItsRecord) {
    struct Outer {
        const char* label;
        Begin begin;
        ItemCall item;
    } outers[] = {
        {"formatted WRITE",
         [](const Items& i) { return format_write_begin(82, kFlags | SF_FORMAT_TEXT, text("(3I4)"), length("(3I4)"), i.l(), i.a()); },
         format_write_item},
        {"list WRITE", [](const Items& i) { return list_write_begin(82, kFlags, i.l(), i.a()); }, list_write_item},
    };
    std::string path = connect(82, "out.dat");
    for (const Outer& outer : outers) {
        std::int32_t v[3] = {1, 2, 3};
        three_calls(outer.begin, outer.item, v, [] {});
        close_unit(82);
        const std::string alone = bytes(path);
        for (const Inner& inner : inner_statements()) {
            SCOPED_TRACE(std::string(outer.label) + " with " + inner.label);
            three_calls(outer.begin, outer.item, v, inner.run);
            close_unit(82);
            EXPECT_EQ(bytes(path), alone);
        }
    }
    for (const Inner& inner : inner_statements()) {
        SCOPED_TRACE(std::string("internal WRITE with ") + inner.label);
        char area[16];
        std::int32_t v[3] = {1, 2, 3};
        three_calls(
            [&](const Items& i) {
                return internal_write_begin(area, 16, 1, kFlags | SF_FORMAT_TEXT, text("(3I4)"), length("(3I4)"),
                                            i.l(), i.a());
            },
            format_write_item, v, inner.run);
        EXPECT_EQ(std::string(area, 16), "   1   2   3    ");
    }
}

// A READ on the outer statement's own unit is recursive I/O; the outer READ
// goes on with its items and releases the unit at its end.
TEST_F(NestedStatement, ReadOnTheSameUnitIsRecursive) {
    std::string path = connect(83, "in.dat");
    put(path, "   1   2   3\n   4   5   6\n");
    std::int32_t v[3] = {0, 0, 0};
    std::int32_t stray = -1;
    three_calls(
        [](const Items& i) { return list_read_begin(83, kFlags, i.l(), i.a()); }, list_read_item, v, [&] {
            Items items;
            items.i4(&stray).end();
            EXPECT_EQ(list_read_begin(83, kBranch, items.l(), items.a()), MSG_RECURSIVE_IO);
        });
    EXPECT_EQ(v[0] * 100 + v[1] * 10 + v[2], 123);
    EXPECT_EQ(stray, -1);
    Items items;
    items.i4(&stray).end();
    EXPECT_EQ(list_read_begin(83, kBranch, items.l(), items.a()), 0);
    EXPECT_EQ(stray, 4);
}
