// The text window's model: control characters, wrap, scrolling and the
// text store (Copy's view of it), on a small screen.
#include <gtest/gtest.h>

#include <string>

#include "text_screen.h"

namespace {

using host::Encoding;
using host::TextScreen;

struct Written {
    std::string text;    // the store, rows joined by "|"
    int column, row;     // cursor, 1-based within the region
};

Written write_all(TextScreen& s, std::initializer_list<std::string> writes, Encoding e = Encoding::SingleByte) {
    for (const std::string& w : writes) s.write(w.data(), static_cast<int>(w.size()), e);
    return {s.text(1, s.rows(), "|"), s.cursor_column(), s.cursor_row()};
}

TEST(TextScreen, ControlCharactersWrapAndLineEnds) {
    struct Row {
        const char* label;
        int columns, rows;
        bool wrap;
        std::initializer_list<std::string> writes;
        const char* text;
        int column, row;
    };
    const Row rows[] = {
        {"A CR B overwrites", 10, 3, true, {"A\rB"}, "B", 2, 1},
        {"A LF B: two rows, B in column 1", 10, 3, true, {"A\nB"}, "A|B", 2, 2},
        {"CR LF is one new row", 10, 3, true, {"A\r\nB"}, "A|B", 2, 2},
        {"LF CR is one new row", 10, 3, true, {"A\n\rB"}, "A|B", 2, 2},
        {"LF LF gives an empty row, kept as an empty line", 10, 3, true, {"A\n\nB"}, "A||B", 2, 3},
        // A record exactly as wide as the region followed by its line end
        // takes one row, whatever the line end.
        {"wrap then nothing", 4, 3, true, {"ABCD"}, "ABCD", 1, 2},
        {"wrap then CR LF", 4, 3, true, {"ABCD\r\nE"}, "ABCD|E", 2, 2},
        {"wrap then LF", 4, 3, true, {"ABCD\nE"}, "ABCD|E", 2, 2},
        {"wrap then LF CR", 4, 3, true, {"ABCD\n\rE"}, "ABCD|E", 2, 2},
        {"wrap then CR", 4, 3, true, {"ABCD\rE"}, "ABCD|E", 2, 2},
        {"wrap in the middle", 4, 3, true, {"ABCDEF"}, "ABCD|EF", 3, 2},
        // Only a line end in the same write is taken with the wrap.
        {"line end in a later write", 4, 3, true, {"ABCD", "\r\n", "E"}, "ABCD||E", 2, 3},
        {"wrap off: past the right column not stored, cursor counts", 4, 3, false, {"ABCDEF"}, "ABCD", 7, 1},
        {"wrap off then CR LF", 4, 3, false, {"ABCDEF\r\nG"}, "ABCD|G", 2, 2},
        {"a NUL ends the text", 10, 3, true, {std::string("AB\0CD", 5)}, "AB", 3, 1},
        {"backspace, tab and bell are glyphs", 10, 3, true, {"\b\t\a"}, "\b\t\a", 4, 1},
        {"an empty write is a blank write", 10, 3, true, {"", "\r\n", "B"}, "|B", 2, 2},
        {"a later write clears the blank-write mark", 10, 3, true, {"", "X"}, " X", 3, 1},
    };
    for (const Row& r : rows) {
        TextScreen s;
        s.reset(r.columns, r.rows);
        s.set_wrap(r.wrap);
        const Written w = write_all(s, r.writes);
        EXPECT_EQ(w.text, r.text) << r.label;
        EXPECT_EQ(w.column, r.column) << r.label;
        EXPECT_EQ(w.row, r.row) << r.label;
    }
}

// Long runs take the 16-characters-at-a-time way; its stops must match the
// character-by-character rules.
TEST(TextScreen, LongRunsWrapAndStopAsSingleCharacters) {
    struct Row {
        const char* label;
        int columns;
        std::string text;
        Encoding encoding;
        const char* store;
        int column, row;
    };
    const std::string a100(100, 'A');
    const Row rows[] = {
        {"100 characters on 40 columns", 40, a100, Encoding::SingleByte,
         "AAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAA|AAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAA|AAAAAAAAAAAAAAAAAAAA", 21, 3},
        {"a multibyte character inside a block", 20, "abcdefghij\xC3\xA9klmnopqrstuvwxyz0123", Encoding::Utf8,
         "abcdefghij\xC3\xA9klmnopqrs|tuvwxyz0123", 12, 2},
        {"CR LF inside a block", 40, "0123456789ABCDEFGHIJ\r\nXYZ", Encoding::SingleByte, "0123456789ABCDEFGHIJ|XYZ", 4, 2},
        {"a high byte as one cell, single-byte", 40, "0123456789\xE9" "0123456789ABCDEF", Encoding::SingleByte,
         "0123456789\xC3\xA9" "0123456789ABCDEF", 28, 1},
    };
    for (const Row& r : rows) {
        TextScreen s;
        s.reset(r.columns, 4);
        const Written w = write_all(s, {r.text}, r.encoding);
        EXPECT_EQ(w.text, r.store) << r.label;
        EXPECT_EQ(w.column, r.column) << r.label;
        EXPECT_EQ(w.row, r.row) << r.label;
    }
}

TEST(TextScreen, LineFeedOnTheLastRowScrollsTheTopRowAway) {
    TextScreen s;
    s.reset(6, 3);
    write_all(s, {"one\r\ntwo\r\nthree\r\n"});
    EXPECT_EQ(s.text(1, 3, "|"), "two|three");
    EXPECT_EQ(s.cursor_row(), 3);
    EXPECT_EQ(s.row_cells(1)[0].ch, U't');
    EXPECT_EQ(s.row_cells(3)[0].ch, U' ');
    // Many scrolls: only indices move; the store and cells stay consistent.
    for (int i = 0; i < 1000; ++i) write_all(s, {std::to_string(i) + "\r\n"});
    EXPECT_EQ(s.text(1, 3, "|"), "998|999");
    // Rows 2-3 only, full width: row 1 stays.
    s.set_region({2, 1, 3, 6});
    write_all(s, {"\n", "x\r\ny\r\n"});
    EXPECT_EQ(s.text(1, 3, "|"), "998|y");
}

TEST(TextScreen, NarrowRegionScrollsOnlyItsColumns) {
    TextScreen s;
    s.reset(8, 3);
    s.set_wrap(false);
    write_all(s, {"abcdefgh\r\nijklmnop\r\nqrstuvwx"});
    s.set_region({1, 3, 3, 5});  // rows 1-3, columns 3-5
    write_all(s, {"\n\n\n"});    // three line feeds: the third, on the last row, scrolls
    EXPECT_EQ(s.text(1, 3, "|"), "abklmfgh|ijstunop|qr   vwx");
    // A row whose outside part is blank is trimmed; an empty one is removed.
    TextScreen t;
    t.reset(8, 2);
    write_all(t, {"   XY"});
    t.set_region({1, 4, 2, 5});
    write_all(t, {"\n\n"});
    EXPECT_EQ(t.text(1, 2, "|"), "");
    EXPECT_EQ(t.piece(1).first, 0);
}

TEST(TextScreen, EraseLeft) {
    TextScreen s;
    s.reset(4, 3);
    EXPECT_FALSE(s.erase_left());  // column 1 of row 1
    write_all(s, {"ABCDE"});       // E wraps to row 2
    ASSERT_TRUE(s.erase_left());   // E
    EXPECT_EQ(s.text(1, 3, "|"), "ABCD");
    ASSERT_TRUE(s.erase_left());   // from column 1: the last column of row 1
    EXPECT_EQ(s.cursor_column(), 4);
    EXPECT_EQ(s.cursor_row(), 1);
    EXPECT_EQ(s.text(1, 3, "|"), "ABC");
}

TEST(TextScreen, Utf8CharacterTakesOneCell) {
    TextScreen s;
    s.reset(10, 2);
    write_all(s, {"\xC3\xA9t\xC3\xA9"}, Encoding::Utf8);  // été
    EXPECT_EQ(s.cursor_column(), 4);
    EXPECT_EQ(s.text(1, 2, "|"), "\xC3\xA9t\xC3\xA9");
    // Single-byte: each byte its own cell (Latin-1).
    TextScreen b;
    b.reset(10, 2);
    write_all(b, {"\xE9t"});
    EXPECT_EQ(b.cursor_column(), 3);
    EXPECT_EQ(b.row_cells(1)[0].ch, U'\u00E9');
}

}  // namespace
