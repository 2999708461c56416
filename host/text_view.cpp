#include "text_view.h"

#include <QApplication>
#include <QFontMetrics>
#include <QInputMethod>
#include <QInputMethodEvent>
#include <QKeyEvent>
#include <QPainter>
#include <QScrollBar>

#include <algorithm>

#include "commands.h"
#include "platform.h"
#include "selection.h"
#include "views.h"

namespace host {

namespace {

void (*g_first_paint_hook)() = nullptr;
bool g_first_paint_done = false;

}  // namespace

void set_first_paint_hook(void (*hook)()) { g_first_paint_hook = hook; }

TextView::TextView(WindowPtr window) : window_(std::move(window)), font_(CellFont::make()) {
    cell_width_ = font_.cell_width;
    cell_height_ = font_.cell_height;
    viewport()->setAttribute(Qt::WA_OpaquePaintEvent);
    viewport()->setAttribute(Qt::WA_NoSystemBackground);
    viewport()->setAutoFillBackground(false);
    setFrameShape(QFrame::NoFrame);
    setFocusPolicy(Qt::StrongFocus);
    setAttribute(Qt::WA_InputMethodEnabled);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    caret_timer_.setInterval(std::max(100, QApplication::cursorFlashTime() / 2));
    connect(&caret_timer_, &QTimer::timeout, this, [this] {
        caret_visible_ = !caret_visible_;
        viewport()->update(caret_rect());
    });
}

TextView::~TextView() = default;

QSize TextView::virtual_size() const { return QSize(facts().screen_width, facts().screen_height); }

void TextView::update_scroll_ranges() {
    const QSize v = virtual_size();
    const QSize client = viewport()->size();
    // A difference of 2 pixels or less counts as none and removes the bar;
    // a fitted window has none.
    int h_max = v.width() - client.width();
    int v_max = v.height() - client.height();
    if (h_max <= 2 || window_->fitted) h_max = 0;
    if (v_max <= 2 || window_->fitted) v_max = 0;
    horizontalScrollBar()->setRange(0, h_max);
    horizontalScrollBar()->setSingleStep(cell_width_);
    horizontalScrollBar()->setPageStep(std::max(1, client.width()));
    verticalScrollBar()->setRange(0, v_max);
    verticalScrollBar()->setSingleStep(cell_height_);
    verticalScrollBar()->setPageStep(std::max(1, client.height()));
}

void TextView::scroll_by_cells(int columns, int rows) {
    horizontalScrollBar()->setValue(horizontalScrollBar()->value() + columns * cell_width_);
    verticalScrollBar()->setValue(verticalScrollBar()->value() + rows * cell_height_);
}

QPoint TextView::offset() const { return QPoint(horizontalScrollBar()->value(), verticalScrollBar()->value()); }

void TextView::show_rect(const QRect& rect) {
    const QSize client = viewport()->size();
    QScrollBar* h = horizontalScrollBar();
    QScrollBar* v = verticalScrollBar();
    if (rect.left() < h->value()) h->setValue(rect.left());
    else if (rect.right() >= h->value() + client.width()) h->setValue(rect.right() + 1 - client.width());
    if (rect.top() < v->value()) v->setValue(rect.top());
    else if (rect.bottom() >= v->value() + client.height()) v->setValue(rect.bottom() + 1 - client.height());
}

void TextView::set_fitted(bool fitted) {
    // The view comes back to where it stood when the window was fitted.
    if (fitted) unfitted_offset_ = offset();
    const Qt::ScrollBarPolicy policy = fitted ? Qt::ScrollBarAlwaysOff : Qt::ScrollBarAsNeeded;
    setHorizontalScrollBarPolicy(policy);
    setVerticalScrollBarPolicy(policy);
    if (!fitted) stretched_.reset();
    update_scroll_ranges();
    if (!fitted) {
        horizontalScrollBar()->setValue(unfitted_offset_.x());
        verticalScrollBar()->setValue(unfitted_offset_.y());
    }
    viewport()->update();
}

QRect TextView::caret_rect() const { return last_caret_; }

void TextView::paintEvent(QPaintEvent* event) {
    QPainter painter(viewport());
    if (window_->fitted) {
        // The whole virtual screen in the client area, the caret scaled.
        if (!stretched_) stretched_ = std::make_unique<StretchedPicture>();
        last_caret_ = stretched_->paint(painter, viewport()->rect(), *window_, font_, hasFocus() && caret_visible_);
        return;
    }
    const QRect dirty = event->rect();
    painter.fillRect(dirty, Qt::black);
    const int h_offset = horizontalScrollBar()->value();
    const int v_offset = verticalScrollBar()->value();

    // Copy the visible cells under the output lock; draw without it.
    int first_column = 0, last_column = -1, first_row = 0, last_row = -1;
    int cursor_column = 0, cursor_row = 0, shape_first = 0, shape_last = 7;
    {
        std::lock_guard lock(window_->output_lock);
        const TextScreen& screen = window_->screen;
        if (window_->configured) {
            first_column = std::max(1, (dirty.left() + h_offset) / cell_width_ + 1);
            last_column = std::min(screen.columns(), (dirty.right() + h_offset) / cell_width_ + 1);
            first_row = std::max(1, (dirty.top() + v_offset) / cell_height_ + 1);
            last_row = std::min(screen.rows(), (dirty.bottom() + v_offset) / cell_height_ + 1);
            const int width = last_column - first_column + 1;
            if (width > 0 && last_row >= first_row) {
                cells_.resize(static_cast<std::size_t>(width) * (last_row - first_row + 1));
                Cell* out = cells_.data();
                for (int row = first_row; row <= last_row; ++row, out += width) {
                    std::copy_n(screen.row_cells(row) + (first_column - 1), width, out);
                }
            }
            cursor_column = screen.cursor_abs_column();
            cursor_row = screen.cursor_abs_row();
            shape_first = window_->cursor_shape_first;
            shape_last = window_->cursor_shape_last;
        }
    }
    const int width = last_column - first_column + 1;
    if (width > 0 && last_row >= first_row) {
        paint_cells(painter, font_, cells_.data(), width, last_row - first_row + 1,
                    QPoint((first_column - 1) * cell_width_ - h_offset, (first_row - 1) * cell_height_ - v_offset));
    }
    // The caret: the cursor's cell, scan lines first..last of 8, inverted;
    // while marking, the selection caret stands in for it.
    const QRect previous_caret = last_caret_;
    last_caret_ = QRect();
    const bool marking = window_->selection.mark_mode;
    if (cursor_row > 0 && shape_last >= shape_first && !marking) {
        const int top = shape_first * cell_height_ / 8;
        const int bottom = (shape_last + 1) * cell_height_ / 8;
        last_caret_ = QRect((cursor_column - 1) * cell_width_ - h_offset, (cursor_row - 1) * cell_height_ - v_offset + top,
                            cell_width_, bottom - top);
        if (hasFocus() && caret_visible_) {
            painter.setCompositionMode(QPainter::RasterOp_SourceXorDestination);
            painter.fillRect(last_caret_, Qt::white);
        }
    }
    const QRect selection_caret = paint_selection(*this, painter, hasFocus() && caret_visible_);
    if (marking) last_caret_ = selection_caret;
    // The input method's composition window follows the cursor.
    if (last_caret_ != previous_caret && hasFocus()) QGuiApplication::inputMethod()->update(Qt::ImCursorRectangle);
    if (!g_first_paint_done && width > 0) {
        g_first_paint_done = true;
        if (g_first_paint_hook) g_first_paint_hook();
    }
}

void TextView::resizeEvent(QResizeEvent* event) {
    QAbstractScrollArea::resizeEvent(event);
    update_scroll_ranges();
}

void TextView::scrollContentsBy(int, int) { viewport()->update(); }

void TextView::focusInEvent(QFocusEvent* event) {
    QAbstractScrollArea::focusInEvent(event);
    caret_visible_ = true;
    caret_timer_.start();
    viewport()->update();
}

void TextView::focusOutEvent(QFocusEvent* event) {
    QAbstractScrollArea::focusOutEvent(event);
    caret_timer_.stop();
    viewport()->update();
}

bool TextView::focusNextPrevChild(bool) { return false; }  // Tab is typed, not a focus move

bool TextView::shortcut(QKeyEvent* event) {
    const int command = shortcut_command(event->key(), event->modifiers(), event->isAutoRepeat());
    if (command == 0) return false;
    run_window_command(command, window_);
    return true;
}

bool TextView::scroll_key(QKeyEvent* event) {
    const bool ctrl = event->modifiers() & Qt::ControlModifier;
    QScrollBar* h = horizontalScrollBar();
    QScrollBar* v = verticalScrollBar();
    switch (event->key()) {
    case Qt::Key_Left: h->setValue(h->value() - cell_width_); return true;
    case Qt::Key_Right: h->setValue(h->value() + cell_width_); return true;
    case Qt::Key_Up: v->setValue(v->value() - cell_height_); return true;
    case Qt::Key_Down: v->setValue(v->value() + cell_height_); return true;
    case Qt::Key_PageUp:
        if (ctrl) h->setValue(h->value() - h->pageStep()); else v->setValue(v->value() - v->pageStep());
        return true;
    case Qt::Key_PageDown:
        if (ctrl) h->setValue(h->value() + h->pageStep()); else v->setValue(v->value() + v->pageStep());
        return true;
    case Qt::Key_Home:
        h->setValue(0);
        if (ctrl) v->setValue(0);
        return true;
    case Qt::Key_End:
        h->setValue(h->maximum());
        if (ctrl) v->setValue(v->maximum());
        return true;
    default: return false;
    }
}

void TextView::type_text(const WindowPtr& window, const QString& text) {
    const bool utf8 = current_encoding() == Encoding::Utf8;
    for (const char32_t ch : text.toUcs4()) {
        std::string key;
        if (utf8) {
            append_utf8(key, ch);
        } else {
            key += ch <= 0xFF ? static_cast<char>(ch) : '?';
        }
        route_key(window, key);
    }
}

bool TextView::type_key(const WindowPtr& window, QKeyEvent* event) {
    const int key = event->key();
    const bool ctrl = event->modifiers() & Qt::ControlModifier;
    if ((key == Qt::Key_Return || key == Qt::Key_Enter) && (event->modifiers() & Qt::AltModifier)) {
        return true;  // Alt+Enter is a command key (Full Screen), never a line end
    } else if (key == Qt::Key_Return || key == Qt::Key_Enter) {
        route_key(window, "\r");
    } else if (key == Qt::Key_Backspace) {
        route_key(window, "\b");
    } else if (key == Qt::Key_Tab) {
        route_key(window, "\t");
    } else if (ctrl && key >= Qt::Key_A && key <= Qt::Key_Z) {
        // Control characters are typed as they are (Ctrl+J ends the line).
        route_key(window, std::string(1, static_cast<char>(key - Qt::Key_A + 1)));
    } else if (key == Qt::Key_Escape) {
        return true;  // a command key (Resume), never typed
    } else if (!event->text().isEmpty()) {
        type_text(window, event->text());
    } else {
        return false;
    }
    return true;
}

void TextView::keyPressEvent(QKeyEvent* event) {
    if (shortcut(event) || selection_key(*this, event) || scroll_key(event)) return;
    if (event->key() == Qt::Key_F4 && (event->modifiers() & Qt::ControlModifier)) {
        // The MDI child's Close: refused while the window's unit is open.
        if (QWidget* sub = parentWidget()) sub->close();
        return;
    }
    if (!type_key(window_, event)) {
        QAbstractScrollArea::keyPressEvent(event);
        return;
    }
    caret_visible_ = true;
}

void TextView::mousePressEvent(QMouseEvent* event) {
    if (!selection_mouse_press(*this, event)) QAbstractScrollArea::mousePressEvent(event);
}

void TextView::mouseMoveEvent(QMouseEvent* event) {
    if (!selection_mouse_move(*this, event)) QAbstractScrollArea::mouseMoveEvent(event);
}

void TextView::mouseReleaseEvent(QMouseEvent* event) {
    if (!selection_mouse_release(*this, event)) QAbstractScrollArea::mouseReleaseEvent(event);
}

void TextView::inputMethodEvent(QInputMethodEvent* event) {
    if (!event->commitString().isEmpty()) type_text(window_, event->commitString());
    event->accept();
}

QVariant TextView::inputMethodQuery(Qt::InputMethodQuery query) const {
    if (query == Qt::ImCursorRectangle) return last_caret_;
    return QAbstractScrollArea::inputMethodQuery(query);
}

}  // namespace host
