// The other ways of viewing text windows: Size To Fit (the whole virtual
// screen stretched to the window's client area), Full Screen (a borderless
// view of the active window's virtual screen over the whole display), and
// the arrangement of the windows in the frame (Cascade, Tile, Arrange
// Icons, the window list of the "&Window" popup).  Interface thread only.
#pragma once

#include <QImage>
#include <QRect>

#include <vector>

#include "host_state.h"
#include "text_render.h"

class QMenu;
class QPainter;

namespace host {

// The whole virtual screen as one picture, painted stretched; rendered
// again only when the cells changed since the last paint.
class StretchedPicture {
public:
    // Paints the window's virtual screen stretched over `target`, and the
    // caret scaled with it when `caret_on`.  Returns the caret's rectangle
    // (empty when the window has no caret).
    QRect paint(QPainter& painter, const QRect& target, WindowRecord& window, const CellFont& font, bool caret_on);

private:
    std::vector<Cell> cells_;
    QImage image_;
};

// Size To Fit (1006) on or off for the window.
void fit_command(const WindowPtr& window);

// Full Screen (1007): opens the view of the window, or closes the open one.
void full_screen_command(const WindowPtr& window);
bool full_screen_shown();
// Closes the full-screen view and gives the focus back to its window.
void leave_full_screen();
// The window is closing or closed: its full-screen view closes first.
void full_screen_window_closing(const WindowPtr& window);
// The window's contents changed: its full-screen view repaints.
void full_screen_repaint(const WindowPtr& window);

// Cascade (1010), Tile (1011), Arrange Icons (1012).
void cascade_command();
void tile_command();
void arrange_icons_command();
// Lists the shown text windows at the end of the "&Window" popup (the
// active one checked), replacing the previous list.
void fill_window_list(QMenu* popup);

}  // namespace host
