// The virtual screen of a text window as a model: a grid of character cells
// (character, text colour, background colour) over a table of row indices,
// so that scrolling the text region by one row moves indices rather than
// cells, and beside each row its text-store piece (first column, end column,
// blank-write flag).  Output changes only this model; pictures (the window's
// repaint, and later Save, Print and graphics Copy) are rendered from it.
//
// No locks and no Qt here: the caller holds the window's output lock.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace host {

// How the bytes written to a window are decoded into characters: one byte a
// character (the single-byte code pages), or UTF-8 (code page 65001), where
// a multibyte character takes one cell.
enum class Encoding { SingleByte, Utf8 };

struct Cell {
    char32_t ch;
    std::uint8_t fg;  // palette index of the text colour
    std::uint8_t bg;  // palette index of the background colour
    std::uint16_t unused;  // always 0
};
static_assert(sizeof(Cell) == 8, "a cell is stored as one 64-bit word");

// A row's piece of the text store: columns first .. end - 1 (1-based,
// absolute) hold what was written; first == 0 when the row was never
// written.  The characters are the row's cells.  Cells outside the piece
// are always blanks.
struct Piece {
    std::int32_t first = 0;
    std::int32_t end = 0;
    bool blank_write = false;  // the piece came from an empty write
};

// The text region: 1-based, inclusive, absolute rows and columns.
struct Region {
    int top, left, bottom, right;
};

class TextScreen {
public:
    static constexpr std::uint8_t kDefaultText = 15;      // white
    static constexpr std::uint8_t kDefaultBackground = 0; // black

    // Configures an empty screen of `columns` x `rows` cells: cursor at 1, 1,
    // the region the whole screen, wrap on, white on black, empty store.
    void reset(int columns, int rows);

    int columns() const { return columns_; }
    int rows() const { return rows_; }
    bool configured() const { return columns_ > 0; }

    // Draws `count` bytes at the cursor: runs of characters, LF a new line
    // (scrolling the region on its last row), CR back to column 1, wrap at
    // the region's right column.  A NUL ends the text.  An empty write draws
    // one blank and marks its piece as a blank write; a line end on a row
    // without characters (an empty record) marks the row as written.
    void write(const char* bytes, int count, Encoding encoding);

    // The line editor's Backspace: moves the cursor one cell left (to the
    // region's last column of the previous row from column 1), draws and
    // stores a blank there and trims the piece's trailing blanks.  False,
    // and nothing changed, at column 1 of the region's first row.
    bool erase_left();

    // Cursor, 1-based and relative to the text region.
    int cursor_column() const { return cursor_column_; }
    int cursor_row() const { return cursor_row_; }
    // The cursor's absolute cell, 1-based (the column may lie beyond the
    // region's right column when wrap is off).
    int cursor_abs_column() const { return region_.left + cursor_column_ - 1; }
    int cursor_abs_row() const { return region_.top + cursor_row_ - 1; }

    void set_region(const Region& region);
    const Region& region() const { return region_; }
    void set_wrap(bool on) { wrap_ = on; }
    void set_colours(std::uint8_t text, std::uint8_t background) {
        fg_ = text;
        bg_ = background;
    }

    // Row `row` (1-based, absolute): its cells and its piece.
    const Cell* row_cells(int row) const { return &cells_[static_cast<std::size_t>(phys(row)) * columns_]; }
    const Piece& piece(int row) const { return pieces_[static_cast<std::size_t>(phys(row))]; }

    // The text store of rows first_row..last_row as lines, by the rules of
    // Copy: rows never written are left out, a blank write is an empty line,
    // blanks stand before a piece that begins right of column 1.  Lines are
    // UTF-8 and joined by `line_end`; no line end after the last.
    std::string text(int first_row, int last_row, const char* line_end) const;

private:
    int phys(int row) const { return row_map_[static_cast<std::size_t>(ring_start_ + row - 1)]; }
    Cell* cells_of(int row) { return &cells_[static_cast<std::size_t>(phys(row)) * columns_]; }
    Piece& piece_of(int row) { return pieces_[static_cast<std::size_t>(phys(row))]; }

    void store_run(int abs_row, int first_column, int end_column, bool blank_write);
    void line_feed();
    void scroll_region_up();
    void clear_row_part(int abs_row, int first_column, int last_column);
    void note_extent(int abs_row, int column) {
        int& extent = extents_[static_cast<std::size_t>(phys(abs_row))];
        if (column > extent) extent = column;
    }
    void trim_piece(int abs_row);

    int columns_ = 0;
    int rows_ = 0;
    std::vector<Cell> cells_;     // physical rows of columns_ cells
    std::vector<Piece> pieces_;   // one per physical row
    // Screen row r is physical row row_map_[ring_start_ + r - 1].  The map
    // has room for twice the rows, so that scrolling the whole screen moves
    // the start by one (and copies the map down once every `rows` scrolls).
    std::vector<int> row_map_;
    int ring_start_ = 0;
    // Per physical row: the cells after this many columns are blanks on
    // black, so that clearing a row touches only what was written.
    std::vector<int> extents_;
    Region region_{1, 1, 0, 0};
    int cursor_column_ = 1;
    int cursor_row_ = 1;
    bool wrap_ = true;
    std::uint8_t fg_ = kDefaultText;
    std::uint8_t bg_ = kDefaultBackground;
};

// Appends the UTF-8 form of `ch` to `out`.
void append_utf8(std::string& out, char32_t ch);

// Length in bytes of the UTF-8 sequence that begins with `lead` (1 for a
// byte that does not begin a valid sequence).
int utf8_sequence_length(unsigned char lead);

}  // namespace host
