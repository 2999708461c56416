// The text window's view on the interface thread: paints the part of the
// virtual screen that is visible from the window's TextScreen, scrolls over
// it with scroll bars and keys, shows the caret, and hands typed keys to
// the shortcuts and the line editor.
#pragma once

#include <QAbstractScrollArea>
#include <QTimer>

#include <memory>
#include <vector>

#include "host_state.h"
#include "text_render.h"

namespace host {

class StretchedPicture;

class TextView : public QAbstractScrollArea {
public:
    explicit TextView(WindowPtr window);
    ~TextView() override;

    const WindowPtr& window() const { return window_; }
    // Scroll ranges, steps and bars for the current client size.
    void update_scroll_ranges();
    // The largest client size: the virtual screen's.
    QSize virtual_size() const;
    void scroll_by_cells(int columns, int rows);
    int cell_width() const { return cell_width_; }
    int cell_height() const { return cell_height_; }
    const CellFont& cell_font() const { return font_; }
    // The scroll offsets in pixels.
    QPoint offset() const;
    // Scrolls the least that shows `rect` (pixels of the virtual screen).
    void show_rect(const QRect& rect);
    // Size To Fit: the whole virtual screen stretched to the client area,
    // no scroll bars.
    void set_fitted(bool fitted);
    // A key typed in a text window (or in its full-screen view) as the line
    // editor takes it: Enter, Backspace, Tab, control characters and text.
    // False for a key that types nothing.
    static bool type_key(const WindowPtr& window, QKeyEvent* event);

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void scrollContentsBy(int dx, int dy) override;
    void keyPressEvent(QKeyEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;
    bool focusNextPrevChild(bool next) override;
    void inputMethodEvent(QInputMethodEvent* event) override;
    QVariant inputMethodQuery(Qt::InputMethodQuery query) const override;

private:
    bool shortcut(QKeyEvent* event);
    bool scroll_key(QKeyEvent* event);
    static void type_text(const WindowPtr& window, const QString& text);
    QRect caret_rect() const;

    WindowPtr window_;
    CellFont font_;
    int cell_width_ = 8;
    int cell_height_ = 16;
    QTimer caret_timer_;
    bool caret_visible_ = true;
    std::vector<Cell> cells_;    // the visible cells, copied under the output lock
    QRect last_caret_;
    std::unique_ptr<StretchedPicture> stretched_;  // while fitted
    QPoint unfitted_offset_;                        // the scroll offsets before Size To Fit
};

}  // namespace host
