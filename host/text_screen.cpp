#include "text_screen.h"

#include <algorithm>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace host {

namespace {

constexpr char32_t kReplacement = 0xFFFD;

// Decodes one character at bytes[i] and advances i past it.
char32_t decode(const char* bytes, int count, int& i, Encoding encoding) {
    const auto lead = static_cast<unsigned char>(bytes[i]);
    if (lead < 0x80 || encoding == Encoding::SingleByte) {
        ++i;
        return lead;
    }
    const int length = utf8_sequence_length(lead);
    if (length == 1 || i + length > count) {
        ++i;
        return kReplacement;
    }
    char32_t ch = lead & (0xFF >> (length + 1));
    for (int k = 1; k < length; ++k) {
        const auto b = static_cast<unsigned char>(bytes[i + k]);
        if ((b & 0xC0) != 0x80) {
            ++i;
            return kReplacement;
        }
        ch = (ch << 6) | (b & 0x3F);
    }
    i += length;
    return ch;
}

bool blank(const Cell& c) { return c.ch == U' '; }

// A cell as the 64-bit word it is stored as.
std::uint64_t cell_word(char32_t ch, std::uint8_t fg, std::uint8_t bg) {
    return ch | (std::uint64_t{fg} << 32) | (std::uint64_t{bg} << 40);
}

// Stores the leading plain ASCII characters of bytes[0..max) (anything below
// 0x80 but NUL, LF and CR) into cells, each with `attributes` (the colours of
// cell_word); returns how many.  Output of records is mostly such runs.
int store_ascii(const char* bytes, int max, Cell* cells, std::uint64_t attributes) {
    int n = 0;
#if defined(__SSE2__)
    const __m128i zero = _mm_setzero_si128();
    const __m128i lf = _mm_set1_epi8('\n');
    const __m128i cr = _mm_set1_epi8('\r');
    const __m128i attr = _mm_set1_epi64x(static_cast<long long>(attributes));
    while (n + 16 <= max) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes + n));
        const __m128i stop = _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(v, zero), _mm_cmpeq_epi8(v, lf)), _mm_cmpeq_epi8(v, cr));
        if ((_mm_movemask_epi8(stop) | _mm_movemask_epi8(v)) != 0) break;
        // 16 bytes widened to 16 words of 64 bits.
        const __m128i halves[2] = {_mm_unpacklo_epi8(v, zero), _mm_unpackhi_epi8(v, zero)};
        auto* out = reinterpret_cast<__m128i*>(cells + n);
        for (const __m128i& h : halves) {
            const __m128i quarters[2] = {_mm_unpacklo_epi16(h, zero), _mm_unpackhi_epi16(h, zero)};
            for (const __m128i& q : quarters) {
                _mm_storeu_si128(out++, _mm_or_si128(_mm_unpacklo_epi32(q, zero), attr));
                _mm_storeu_si128(out++, _mm_or_si128(_mm_unpackhi_epi32(q, zero), attr));
            }
        }
        n += 16;
    }
#endif
    for (; n < max; ++n) {
        const auto b = static_cast<unsigned char>(bytes[n]);
        if (b == '\0' || b == '\n' || b == '\r' || b >= 0x80) break;
        const std::uint64_t word = b | attributes;
        std::memcpy(&cells[n], &word, sizeof word);
    }
    return n;
}

// Sets `count` cells to the cell word `word`.
void fill_cells(Cell* cells, int count, std::uint64_t word) {
    int k = 0;
#if defined(__SSE2__)
    const __m128i pair = _mm_set1_epi64x(static_cast<long long>(word));
    for (; k + 2 <= count; k += 2) _mm_storeu_si128(reinterpret_cast<__m128i*>(cells + k), pair);
#endif
    for (; k < count; ++k) std::memcpy(&cells[k], &word, sizeof word);
}

}  // namespace

int utf8_sequence_length(unsigned char lead) {
    if (lead >= 0xC2 && lead <= 0xDF) return 2;
    if (lead >= 0xE0 && lead <= 0xEF) return 3;
    if (lead >= 0xF0 && lead <= 0xF4) return 4;
    return 1;
}

void append_utf8(std::string& out, char32_t ch) {
    if (ch < 0x80) {
        out += static_cast<char>(ch);
    } else if (ch < 0x800) {
        out += static_cast<char>(0xC0 | (ch >> 6));
        out += static_cast<char>(0x80 | (ch & 0x3F));
    } else if (ch < 0x10000) {
        out += static_cast<char>(0xE0 | (ch >> 12));
        out += static_cast<char>(0x80 | ((ch >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (ch & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (ch >> 18));
        out += static_cast<char>(0x80 | ((ch >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((ch >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (ch & 0x3F));
    }
}

void TextScreen::reset(int columns, int rows) {
    columns_ = columns;
    rows_ = rows;
    cells_.assign(static_cast<std::size_t>(columns) * rows, Cell{U' ', kDefaultText, kDefaultBackground, 0});
    pieces_.assign(static_cast<std::size_t>(rows), Piece{});
    extents_.assign(static_cast<std::size_t>(rows), 0);
    row_map_.assign(static_cast<std::size_t>(rows) * 2, 0);
    for (int r = 0; r < rows; ++r) row_map_[static_cast<std::size_t>(r)] = r;
    ring_start_ = 0;
    region_ = Region{1, 1, rows, columns};
    cursor_column_ = 1;
    cursor_row_ = 1;
    wrap_ = true;
    fg_ = kDefaultText;
    bg_ = kDefaultBackground;
}

void TextScreen::set_region(const Region& region) {
    Region r = region;
    r.top = std::clamp(r.top, 1, rows_);
    r.bottom = std::clamp(r.bottom, r.top, rows_);
    r.left = std::clamp(r.left, 1, columns_);
    r.right = std::clamp(r.right, r.left, columns_);
    region_ = r;
    cursor_column_ = 1;
    cursor_row_ = 1;
}

void TextScreen::write(const char* bytes, int count, Encoding encoding) {
    if (!configured()) return;
    static const char kBlank = ' ';
    bool blank_write = false;
    if (count <= 0) {
        bytes = &kBlank;
        count = 1;
        blank_write = true;
    }
    const int right = region_.right;
    const bool wrap = wrap_;
    const std::uint8_t fg = fg_;
    const std::uint8_t bg = bg_;
    int i = 0;
    for (;;) {
        // One run: up to a NUL, LF or CR, or (wrap on) through the character
        // that lands in the region's right column.
        const int row = cursor_abs_row();
        const int start = cursor_abs_column();
        Cell* cells = cells_of(row);
        int column = start;
        bool wrapped = false;
        const std::uint64_t attributes = cell_word(0, fg, bg);
        while (i < count) {
            if (column <= right) {
                const int room = right - column + 1;
                const int k = store_ascii(bytes + i, std::min(count - i, room), cells + (column - 1), attributes);
                i += k;
                column += k;
                if (wrap && column > right) {
                    wrapped = true;
                    break;
                }
                if (i >= count) break;
            }
            // A line end, a NUL, a multibyte character, or past the right
            // column with wrap off.
            const auto b = static_cast<unsigned char>(bytes[i]);
            if (b == '\0' || b == '\n' || b == '\r') break;
            char32_t ch = b;
            if (b < 0x80) {
                ++i;
            } else {
                ch = decode(bytes, count, i, encoding);
            }
            if (column <= right) cells[column - 1] = Cell{ch, fg, bg, 0};
            ++column;
            if (wrap && column > right) {
                wrapped = true;
                break;
            }
        }
        if (column > start) note_extent(row, std::min(column, right + 1) - 1);
        const int stored_end = std::min(column, right + 1);
        // A run without characters that a line end closes (an empty record,
        // written as CR LF alone) still marks its row as written, so that
        // Copy gives it as an empty line; the row the cursor merely moved to
        // after the last line end stays unwritten.
        const bool closed_by_line_end = i < count && (bytes[i] == '\r' || bytes[i] == '\n');
        if (stored_end > start || (stored_end == start && closed_by_line_end))
            store_run(row, start, stored_end, blank_write);
        cursor_column_ += column - start;

        if (wrapped) {
            // The character in the last column moves the cursor to column 1
            // of the next row at once; a line end that follows directly
            // (CR, LF, CR LF or LF CR) gives no second new row.
            line_feed();
            cursor_column_ = 1;
            if (i < count && bytes[i] == '\r') {
                ++i;
                if (i < count && bytes[i] == '\n') ++i;
            } else if (i < count && bytes[i] == '\n') {
                ++i;
            }
            continue;
        }
        if (i >= count || bytes[i] == '\0') return;
        // The run ended at CR (back to column 1) or LF (new line).
        if (bytes[i] != '\r') line_feed();
        cursor_column_ = 1;
        ++i;
    }
}

void TextScreen::store_run(int row, int first, int end, bool blank_write) {
    Piece& p = piece_of(row);
    if (p.first == 0) {
        p = Piece{first, end, blank_write};
        return;
    }
    if (end == first) return;  // no characters: the piece stays as it is
    p.first = std::min(p.first, first);
    p.end = std::max(p.end, end);
    p.blank_write = p.blank_write && blank_write;
}

void TextScreen::line_feed() {
    if (cursor_row_ >= region_.bottom - region_.top + 1) {
        scroll_region_up();
    } else {
        ++cursor_row_;
    }
}

void TextScreen::clear_row_part(int row, int first, int last) {
    if (last < first) return;
    // Cells past the row's extent are blank on black already.
    int& extent = extents_[static_cast<std::size_t>(phys(row))];
    const int end = bg_ == kDefaultBackground ? std::min(last, extent) : last;
    if (end >= first) fill_cells(cells_of(row) + (first - 1), end - first + 1, cell_word(U' ', fg_, bg_));
    if (bg_ != kDefaultBackground) {
        extent = std::max(extent, last);
    } else if (last >= extent) {
        extent = std::min(extent, first - 1);
    }
}

void TextScreen::scroll_region_up() {
    const Region& g = region_;
    if (g.left == 1 && g.right == columns_) {
        // The whole width: the rows' indices move, the cells stay where they
        // are; the top row's physical row becomes the new, empty bottom row.
        if (g.top == 1 && g.bottom == rows_) {
            auto map = row_map_.begin();
            map[ring_start_ + rows_] = map[ring_start_];
            if (++ring_start_ == rows_) {
                std::copy(map + rows_, map + 2 * rows_, map);
                ring_start_ = 0;
            }
        } else {
            auto first = row_map_.begin() + (ring_start_ + g.top - 1);
            auto last = row_map_.begin() + (ring_start_ + g.bottom);
            std::rotate(first, first + 1, last);
        }
        clear_row_part(g.bottom, 1, columns_);
        piece_of(g.bottom) = Piece{};
        return;
    }
    // A narrower region: only the cells inside its columns move; the parts
    // of the pieces outside the region stay on their rows.
    const int width = g.right - g.left + 1;
    for (int row = g.top; row <= g.bottom; ++row) {
        const Piece own = piece(row);
        Piece merged{};
        auto add = [&merged](int first, int end, bool blank_write) {
            if (end <= first) return;
            if (merged.first == 0) {
                merged = Piece{first, end, blank_write};
            } else {
                merged.first = std::min(merged.first, first);
                merged.end = std::max(merged.end, end);
                merged.blank_write = merged.blank_write && blank_write;
            }
        };
        if (own.first != 0) {
            add(own.first, std::min(own.end, g.left), own.blank_write);
            add(std::max(own.first, g.right + 1), own.end, own.blank_write);
        }
        if (row < g.bottom) {
            std::memcpy(cells_of(row) + (g.left - 1), row_cells(row + 1) + (g.left - 1),
                        static_cast<std::size_t>(width) * sizeof(Cell));
            note_extent(row, std::min(g.right, extents_[static_cast<std::size_t>(phys(row + 1))]));
            const Piece below = piece(row + 1);
            if (below.first != 0) add(std::max(below.first, g.left), std::min(below.end, g.right + 1), below.blank_write);
        } else {
            clear_row_part(row, g.left, g.right);
        }
        piece_of(row) = merged;
        trim_piece(row);
    }
}

void TextScreen::trim_piece(int row) {
    Piece& p = piece_of(row);
    if (p.first == 0) return;
    const Cell* cells = row_cells(row);
    while (p.end > p.first && blank(cells[p.end - 2])) --p.end;
    if (p.end <= p.first) p = Piece{};
}

bool TextScreen::erase_left() {
    if (!configured()) return false;
    if (cursor_column_ <= 1) {
        if (cursor_row_ <= 1) return false;
        --cursor_row_;
        cursor_column_ = region_.right - region_.left + 1;
    } else {
        --cursor_column_;
    }
    const int row = cursor_abs_row();
    const int column = cursor_abs_column();
    if (column > region_.right) return true;
    cells_of(row)[column - 1] = Cell{U' ', fg_, bg_, 0};
    if (bg_ != kDefaultBackground) note_extent(row, column);
    store_run(row, column, column + 1, false);
    trim_piece(row);
    return true;
}

std::string TextScreen::text(int first_row, int last_row, const char* line_end) const {
    std::string out;
    if (!configured()) return out;
    first_row = std::max(first_row, 1);
    last_row = std::min(last_row, rows_);
    bool first_line = true;
    for (int row = first_row; row <= last_row; ++row) {
        const Piece& p = piece(row);
        if (p.first == 0) continue;
        if (!first_line) out += line_end;
        first_line = false;
        if (p.blank_write) continue;
        out.append(static_cast<std::size_t>(p.first - 1), ' ');
        const Cell* cells = row_cells(row);
        for (int c = p.first; c < p.end; ++c) append_utf8(out, cells[c - 1].ch);
    }
    return out;
}

}  // namespace host
