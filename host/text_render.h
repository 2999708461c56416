// Rendering the virtual screen's cells: the one routine that turns cells
// into pixels, for the window's repaint and for a picture of the whole
// virtual screen (what Save, Print and a graphics Copy take).
#pragma once

#include <QColor>
#include <QFont>
#include <QImage>

#include "text_screen.h"

class QPainter;

namespace host {

struct WindowRecord;

// The 16 standard colours of the palette; entries 16 and above are grey.
QColor palette_colour(int index);

// The cell font and its metrics (interface thread).
struct CellFont {
    QFont font;
    int cell_width = 8;
    int cell_height = 16;
    int ascent = 12;
    bool exact_advance = true;  // the font's advance is the cell width
    static CellFont make();
};

// Paints `rows` rows of `width` cells (row-major) whose first cell's top
// left corner lands at `origin`.  The background is black already.
void paint_cells(QPainter& painter, const CellFont& font, const Cell* cells, int width, int rows, QPoint origin);

// A picture of the window's whole virtual screen (its pixel size, black
// where no cell reaches).  The caller holds the window's output lock.
QImage render_screen(const WindowRecord& window, const CellFont& font);

}  // namespace host
