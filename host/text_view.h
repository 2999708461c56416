// The text window's view on the interface thread: paints the part of the
// virtual screen that is visible from the window's TextScreen, scrolls over
// it with scroll bars and keys, shows the caret, and hands typed keys to
// the shortcuts and the line editor.
#pragma once

#include <QAbstractScrollArea>
#include <QTimer>

#include <vector>

#include "host_state.h"
#include "text_render.h"

namespace host {

class TextView : public QAbstractScrollArea {
public:
    explicit TextView(WindowPtr window);

    const WindowPtr& window() const { return window_; }
    // Scroll ranges, steps and bars for the current client size.
    void update_scroll_ranges();
    // The largest client size: the virtual screen's.
    QSize virtual_size() const;
    void scroll_by_cells(int columns, int rows);

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void scrollContentsBy(int dx, int dy) override;
    void keyPressEvent(QKeyEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;
    bool focusNextPrevChild(bool next) override;
    void inputMethodEvent(QInputMethodEvent* event) override;
    QVariant inputMethodQuery(Qt::InputMethodQuery query) const override;

private:
    bool shortcut(QKeyEvent* event);
    bool scroll_key(QKeyEvent* event);
    void type_text(const QString& text);
    QRect caret_rect() const;

    WindowPtr window_;
    CellFont font_;
    int cell_width_ = 8;
    int cell_height_ = 16;
    QTimer caret_timer_;
    bool caret_visible_ = true;
    std::vector<Cell> cells_;    // the visible cells, copied under the output lock
    QRect last_caret_;
};

}  // namespace host
