#include "text_render.h"

#include <QFontMetrics>
#include <QPainter>

#include "host_state.h"
#include "platform.h"

namespace host {

namespace {

constexpr QRgb kPalette[16] = {
    qRgb(0, 0, 0),       qRgb(0, 0, 128),   qRgb(0, 128, 0),   qRgb(0, 128, 128),
    qRgb(128, 0, 0),     qRgb(128, 0, 128), qRgb(128, 128, 0), qRgb(192, 192, 192),
    qRgb(128, 128, 128), qRgb(0, 0, 255),   qRgb(0, 255, 0),   qRgb(0, 255, 255),
    qRgb(255, 0, 0),     qRgb(255, 0, 255), qRgb(255, 255, 0), qRgb(255, 255, 255),
};

}  // namespace

QColor palette_colour(int index) {
    if (index >= 0 && index < 16) return QColor(kPalette[index]);
    return QColor(64, 64, 64);
}

CellFont CellFont::make() {
    const HostFacts& f = facts();
    CellFont c;
    c.font = platform_cell_font(f.font_pixel_size);
    c.cell_width = f.cell_width;
    c.cell_height = f.cell_height;
    const QFontMetrics metrics(c.font);
    c.ascent = metrics.ascent();
    c.exact_advance = metrics.horizontalAdvance(QLatin1Char('M')) == c.cell_width &&
                      metrics.horizontalAdvance(QLatin1Char('i')) == c.cell_width;
    return c;
}

void paint_cells(QPainter& painter, const CellFont& font, const Cell* cells, int width, int rows, QPoint origin) {
    if (width <= 0 || rows <= 0) return;
    painter.setFont(font.font);
    QString run;
    run.reserve(width);
    const Cell* row_cells = cells;
    for (int r = 0; r < rows; ++r, row_cells += width) {
        const int y = origin.y() + r * font.cell_height;
        // Backgrounds other than black, run by run.
        for (int k = 0; k < width;) {
            const std::uint8_t bg = row_cells[k].bg;
            int end = k + 1;
            while (end < width && row_cells[end].bg == bg) ++end;
            if (bg != 0) {
                painter.fillRect(origin.x() + k * font.cell_width, y, (end - k) * font.cell_width, font.cell_height,
                                 palette_colour(bg));
            }
            k = end;
        }
        // Text, one run per colour, each character in its cell.
        for (int k = 0; k < width;) {
            const std::uint8_t fg = row_cells[k].fg;
            int end = k + 1;
            while (end < width && row_cells[end].fg == fg) ++end;
            run.clear();
            bool blank_run = true;
            for (int j = k; j < end; ++j) {
                const char32_t ch = row_cells[j].ch;
                if (ch != U' ') blank_run = false;
                run.append(QChar::fromUcs4(ch));
            }
            if (!blank_run) {
                painter.setPen(palette_colour(fg));
                if (font.exact_advance && run.size() == end - k) {
                    painter.drawText(origin.x() + k * font.cell_width, y + font.ascent, run);
                } else {
                    for (int j = k; j < end; ++j) {
                        if (row_cells[j].ch == U' ') continue;
                        painter.drawText(origin.x() + j * font.cell_width, y + font.ascent,
                                         QString::fromUcs4(&row_cells[j].ch, 1));
                    }
                }
            }
            k = end;
        }
    }
}

QImage render_screen(const WindowRecord& window, const CellFont& font) {
    const HostFacts& f = facts();
    QImage image(f.screen_width, f.screen_height, QImage::Format_RGB32);
    image.fill(Qt::black);
    const TextScreen& screen = window.screen;
    if (!window.configured) return image;
    QPainter painter(&image);
    for (int row = 1; row <= screen.rows(); ++row) {
        paint_cells(painter, font, screen.row_cells(row), screen.columns(), 1, QPoint(0, (row - 1) * font.cell_height));
    }
    return image;
}

}  // namespace host
