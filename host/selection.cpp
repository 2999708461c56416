#include "selection.h"

#include <QApplication>
#include <QKeyEvent>
#include <QMdiSubWindow>
#include <QMouseEvent>
#include <QPainter>
#include <QPointer>
#include <QScrollBar>
#include <QTimer>

#include <algorithm>
#include <utility>

#include "platform.h"
#include "text_render.h"
#include "text_view.h"
#include "views.h"

namespace host {

namespace {

// The virtual screen in the selection's units: cells or pixels.
QSize extent(Selection::Kind kind) {
    const HostFacts& f = facts();
    if (kind == Selection::Graphics) return QSize(f.screen_width, f.screen_height);
    return QSize(std::max(1, f.screen_width / f.cell_width), std::max(1, f.screen_height / f.cell_height));
}

QPoint clamp_point(Selection::Kind kind, int x, int y) {
    const QSize size = extent(kind);
    return QPoint(std::clamp(x, 0, size.width() - 1), std::clamp(y, 0, size.height() - 1));
}

// The size of one selection unit in pixels.
QSize unit(const TextView& view, Selection::Kind kind) {
    if (kind == Selection::Graphics) return QSize(1, 1);
    return QSize(view.cell_width(), view.cell_height());
}

void set_end(Selection& s, QPoint p) {
    s.end_x = p.x();
    s.end_y = p.y();
}

void set_anchor(Selection& s, QPoint p) {
    s.anchor_x = p.x();
    s.anchor_y = p.y();
}

void show_caption(const WindowPtr& window) {
    if (window->sub) window->sub->setWindowTitle(caption_of(window));
}

void repaint(const WindowPtr& window) {
    if (window->view) window->view->viewport()->update();
}

// Whether a selection may start in the window (the items' enabling rule,
// checked again for a command that comes another way).
bool may_select(const WindowPtr& window) {
    return window && window->view && !window->selection.active() && !window->fitted && !full_screen_shown();
}

// The cell (text) or pixel (graphics) under a point of the client area;
// a text column is rounded to the nearest cell edge on the click, truncated
// while dragging.
QPoint point_at(const TextView& view, QPoint pos, bool round_column) {
    const Selection::Kind kind = view.window()->selection.kind;
    const QSize u = unit(view, kind);
    const QPoint at = pos + view.offset();
    const int x = round_column ? (at.x() + u.width() / 2) / u.width() : at.x() / u.width();
    return clamp_point(kind, x, at.y() / u.height());
}

// The stream's first and last points: the end before the anchor when it
// lies on an earlier row, or left of it on the same row.
void ordered(const Selection& s, QPoint* first, QPoint* last) {
    *first = QPoint(s.anchor_x, s.anchor_y);
    *last = QPoint(s.end_x, s.end_y);
    if (last->y() < first->y()) std::swap(*first, *last);
    if (last->y() == first->y() && last->x() < first->x()) {
        const int x = first->x();
        first->setX(last->x());
        last->setX(x);
    }
}

// ---------------------------------------------------------------------------
// Dragging outside the client area scrolls the view a line at a time for
// as long as it moves.

struct DragScroll {
    QTimer* timer = nullptr;
    QPointer<TextView> view;
    QPoint pos;  // the pointer, in client coordinates
};
DragScroll g_drag;

void stop_drag_scroll() {
    if (g_drag.timer) g_drag.timer->stop();
    g_drag.view = nullptr;
}

// The end follows the pointer (clamped to the client area); with
// `scroll`, a pointer outside the area scrolls the view one line towards
// it first.  True when the view moved.
bool drag_to(TextView& view, QPoint pos, bool scroll) {
    const QSize client = view.viewport()->size();
    bool moved = false;
    if (scroll) {
        const QPoint before = view.offset();
        const int dx = pos.x() < 0 ? -1 : pos.x() >= client.width() ? 1 : 0;
        const int dy = pos.y() < 0 ? -1 : pos.y() >= client.height() ? 1 : 0;
        if (dx != 0 || dy != 0) view.scroll_by_cells(dx, dy);
        moved = view.offset() != before;
    }
    const QPoint inside(std::clamp(pos.x(), 0, std::max(0, client.width() - 1)),
                        std::clamp(pos.y(), 0, std::max(0, client.height() - 1)));
    Selection& s = view.window()->selection;
    const QPoint end = point_at(view, inside, false);
    if (moved || end != QPoint(s.end_x, s.end_y)) {
        set_end(s, end);
        view.viewport()->update();
    }
    return moved;
}

void drag_scroll_tick() {
    TextView* view = g_drag.view;
    if (!view || !view->window()->selection.dragging || !drag_to(*view, g_drag.pos, true)) stop_drag_scroll();
}

void follow_pointer(TextView& view, QPoint pos) {
    drag_to(view, pos, true);
    const QRect client(QPoint(0, 0), view.viewport()->size());
    if (client.contains(pos)) {
        stop_drag_scroll();
        return;
    }
    if (!g_drag.timer) {
        g_drag.timer = new QTimer(qApp);
        g_drag.timer->setInterval(40);
        QObject::connect(g_drag.timer, &QTimer::timeout, qApp, [] { drag_scroll_tick(); });
    }
    g_drag.view = &view;
    g_drag.pos = pos;
    if (!g_drag.timer->isActive()) g_drag.timer->start();
}

}  // namespace

// ---------------------------------------------------------------------------
// Commands.

QString caption_of(const WindowPtr& window) {
    QString title;
    {
        std::lock_guard lock(window->output_lock);
        title = QString::fromStdString(window->title);
    }
    const Selection& s = window->selection;
    if (s.kind == Selection::Text) return (s.started ? QStringLiteral("Select Text - ") : QStringLiteral("Mark Text - ")) + title;
    if (s.kind == Selection::Graphics) {
        return (s.started ? QStringLiteral("Select graphics in ") : QStringLiteral("Mark Graphics - ")) + title;
    }
    return title;
}

void select_command(const WindowPtr& window, Selection::Kind kind) {
    if (!may_select(window) || kind == Selection::None) return;
    pause_program();
    Selection& s = window->selection;
    s = Selection{};
    s.kind = kind;
    s.mark_mode = true;
    // Both points on the top-left cell (pixel) in view; the selection
    // caret stands there.
    const QSize u = unit(*window->view, kind);
    const QPoint offset = window->view->offset();
    const QPoint start = clamp_point(kind, offset.x() / u.width(), offset.y() / u.height());
    set_anchor(s, start);
    set_end(s, start);
    show_caption(window);
    repaint(window);
}

void select_all_command(const WindowPtr& window) {
    if (!may_select(window)) return;
    pause_program();
    Selection& s = window->selection;
    s = Selection{};
    s.kind = Selection::Text;
    s.select_all = true;
    s.started = true;
    s.marked = true;
    const QSize size = extent(Selection::Text);
    set_anchor(s, QPoint(0, 0));
    set_end(s, QPoint(size.width() - 1, size.height() - 1));
    show_caption(window);
    repaint(window);
}

void end_selection(const WindowPtr& window) {
    if (!window || !window->selection.active()) return;
    if (g_drag.view && g_drag.view->window() == window) stop_drag_scroll();
    window->selection = Selection{};
    show_caption(window);
    repaint(window);
}

void resume_command() {
    for (int slot = 0; slot < kWindowSlots; ++slot) end_selection(window_at_slot(slot));
    resume_program();
}

void copy_command(const WindowPtr& window) {
    if (!window || !window->selection.marked) return;
    const Selection& s = window->selection;
    if (s.kind == Selection::Text) {
        QPoint first, last;
        ordered(s, &first, &last);
        std::string text;
        {
            std::lock_guard lock(window->output_lock);
            text = copy_text(window->screen, first.x() + 1, first.y() + 1, last.x() + 1, last.y() + 1, "\n");
        }
        platform_set_clipboard_text(text);
    } else {
        // The rectangle between the two points, both included.
        const QRect area(QPoint(std::min(s.anchor_x, s.end_x), std::min(s.anchor_y, s.end_y)),
                         QPoint(std::max(s.anchor_x, s.end_x), std::max(s.anchor_y, s.end_y)));
        const CellFont font = window->view ? window->view->cell_font() : CellFont::make();
        QImage picture;
        {
            std::lock_guard lock(window->output_lock);
            picture = render_screen(*window, font).copy(area);
        }
        platform_set_clipboard_image(picture);
    }
    resume_command();
}

// ---------------------------------------------------------------------------
// Mouse and keys.

bool selection_mouse_press(TextView& view, QMouseEvent* event) {
    const WindowPtr& window = view.window();
    Selection& s = window->selection;
    if (s.select_all) return true;  // clicks are ignored while all is selected
    if (!s.mark_mode || window->fitted) return false;
    if (event->button() != Qt::LeftButton) return true;
    if (!s.started) {
        s.started = true;
        show_caption(window);
    }
    const QPoint p = point_at(view, event->position().toPoint(), true);
    set_anchor(s, p);
    set_end(s, p);
    s.dragging = true;
    s.marked = false;
    view.viewport()->update();
    return true;
}

bool selection_mouse_move(TextView& view, QMouseEvent* event) {
    const Selection& s = view.window()->selection;
    if (!s.dragging) return s.active();
    follow_pointer(view, event->position().toPoint());
    return true;
}

bool selection_mouse_release(TextView& view, QMouseEvent* event) {
    Selection& s = view.window()->selection;
    if (!s.dragging) return s.active();
    if (event->button() != Qt::LeftButton) return true;
    stop_drag_scroll();
    drag_to(view, event->position().toPoint(), false);
    s.dragging = false;
    s.marked = true;
    view.viewport()->update();
    return true;
}

bool selection_key(TextView& view, QKeyEvent* event) {
    const WindowPtr& window = view.window();
    Selection& s = window->selection;
    if (!s.mark_mode || s.dragging) return false;
    const bool ctrl = event->modifiers() & Qt::ControlModifier;
    const bool shift = event->modifiers() & Qt::ShiftModifier;
    const QSize u = unit(view, s.kind);
    const QSize client = view.viewport()->size();
    const int page_x = std::max(1, client.width() / u.width());
    const int page_y = std::max(1, client.height() / u.height());
    const QSize size = extent(s.kind);
    int x = s.end_x, y = s.end_y;
    switch (event->key()) {
    case Qt::Key_Left: --x; break;
    case Qt::Key_Right: ++x; break;
    case Qt::Key_Up: --y; break;
    case Qt::Key_Down: ++y; break;
    case Qt::Key_PageUp:
        if (ctrl) x -= page_x; else y -= page_y;
        break;
    case Qt::Key_PageDown:
        if (ctrl) x += page_x; else y += page_y;
        break;
    case Qt::Key_Home:
        x = 0;
        if (ctrl) y = 0;
        break;
    case Qt::Key_End:
        x = size.width() - 1;
        if (ctrl) y = size.height() - 1;
        break;
    default: return false;
    }
    const QPoint to = clamp_point(s.kind, x, y);
    if (shift) {
        // The first movement with Shift makes the point the anchor.
        if (!s.marked) {
            set_anchor(s, QPoint(s.end_x, s.end_y));
            s.marked = true;
            if (!s.started) {
                s.started = true;
                show_caption(window);
            }
        }
    } else {
        // Without Shift the point moves alone; a marked area is dropped.
        s.marked = false;
        set_anchor(s, to);
    }
    set_end(s, to);
    view.show_rect(QRect(QPoint(to.x() * u.width(), to.y() * u.height()), QSize(view.cell_width(), view.cell_height())));
    view.viewport()->update();
    return true;
}

// ---------------------------------------------------------------------------
// Drawing and copying.

QRect paint_selection(const TextView& view, QPainter& painter, bool caret_on) {
    const Selection& s = view.window()->selection;
    if (!s.active()) return QRect();
    const QPoint offset = view.offset();
    const int cw = view.cell_width();
    const int ch = view.cell_height();
    painter.save();
    painter.setCompositionMode(QPainter::RasterOp_SourceXorDestination);
    if (s.marked || s.dragging) {
        QPoint first, last;
        ordered(s, &first, &last);
        if (s.kind == Selection::Text) {
            // A stream of cells: the first row from the start, the middle
            // rows whole, the last row up to the end; only rows in view.
            const int columns = extent(Selection::Text).width();
            const int top = std::max(first.y(), offset.y() / ch);
            const int bottom = std::min(last.y(), (offset.y() + view.viewport()->height()) / ch);
            for (int row = top; row <= bottom; ++row) {
                const int from = row == first.y() ? first.x() : 0;
                const int to = row == last.y() ? last.x() : columns - 1;
                painter.fillRect(QRect(from * cw - offset.x(), row * ch - offset.y(), (to - from + 1) * cw, ch), Qt::white);
            }
        } else {
            // The outline of the rectangle, each pixel once.
            const QRect r = QRect(QPoint(std::min(s.anchor_x, s.end_x), std::min(s.anchor_y, s.end_y)),
                                  QPoint(std::max(s.anchor_x, s.end_x), std::max(s.anchor_y, s.end_y)))
                                .translated(-offset);
            painter.fillRect(QRect(r.left(), r.top(), r.width(), 1), Qt::white);
            if (r.height() > 1) painter.fillRect(QRect(r.left(), r.bottom(), r.width(), 1), Qt::white);
            if (r.height() > 2) {
                painter.fillRect(QRect(r.left(), r.top() + 1, 1, r.height() - 2), Qt::white);
                if (r.width() > 1) painter.fillRect(QRect(r.right(), r.top() + 1, 1, r.height() - 2), Qt::white);
            }
        }
    }
    QRect caret;
    if (s.mark_mode && !s.marked && !s.dragging) {
        const QSize u = unit(view, s.kind);
        caret = QRect(s.end_x * u.width() - offset.x(), s.end_y * u.height() - offset.y(), cw, ch);
        if (caret_on) painter.fillRect(caret, Qt::white);
    }
    painter.restore();
    return caret;
}

std::string copy_text(const TextScreen& screen, int first_column, int first_row, int last_column, int last_row,
                      const char* line_end) {
    std::string out;
    if (!screen.configured()) return out;
    last_row = std::min(last_row, screen.rows());
    for (int row = std::max(first_row, 1); row <= last_row; ++row) {
        const Piece& p = screen.piece(row);
        if (p.first == 0) continue;  // never written: left out
        const int from = row == first_row ? first_column : 1;
        const int to = row == last_row ? last_column + 1 : screen.columns() + 1;  // exclusive
        if (!p.blank_write) {
            if (p.first > from) out.append(static_cast<std::size_t>(std::min(p.first, to) - from), ' ');
            const Cell* cells = screen.row_cells(row);
            for (int c = std::max(from, p.first); c < std::min(p.end, to); ++c) append_utf8(out, cells[c - 1].ch);
        }
        if (row != last_row || (first_row == last_row && last_column >= p.end)) out += line_end;
    }
    return out;
}

}  // namespace host
