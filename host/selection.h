// Selecting part of a text window and copying it to the clipboard: the
// selection commands, the mouse and keys while marking, the highlight, and
// Copy as text (from the text store) or as a picture (from the rendered
// virtual screen).  Interface thread only; the selection lives in the
// window record (host_state.h).
#pragma once

#include <QRect>

#include <string>

#include "host_state.h"

class QKeyEvent;
class QMouseEvent;
class QPainter;

namespace host {

class TextView;

// Select Text (1001) and Select Graphics (1002): pause, then mark mode.
void select_command(const WindowPtr& window, Selection::Kind kind);
// Select All (1003): pause, then the whole virtual screen is selected.
void select_all_command(const WindowPtr& window);
// Copy (1004): the marked area to the clipboard, then Resume.
void copy_command(const WindowPtr& window);
// Resume (1009): every selection ends, then the program resumes unless it
// had been paused explicitly.
void resume_command();
// Ends the window's selection: highlight and selection caret gone, caption
// back to the title.
void end_selection(const WindowPtr& window);

// The window's caption: the selection's prefix, if any, and the title.
QString caption_of(const WindowPtr& window);

// The text window's mouse and keys while a selection is in progress; true
// when the event was taken.
bool selection_mouse_press(TextView& view, QMouseEvent* event);
bool selection_mouse_move(TextView& view, QMouseEvent* event);
bool selection_mouse_release(TextView& view, QMouseEvent* event);
bool selection_key(TextView& view, QKeyEvent* event);

// Draws the highlight over the painted cells (inverting them), and the
// selection caret when `caret_on`.  Returns the selection caret's
// rectangle in the view, empty when there is none.
QRect paint_selection(const TextView& view, QPainter& painter, bool caret_on);

// The text Copy takes from the text store: rows first_row..last_row
// (1-based), from first_column on the first row to last_column (inclusive)
// on the last.  Rows never written are left out; a piece from an empty
// write gives no characters; blanks stand between the range's start and a
// piece that begins further right; a line end follows every row but the
// last, and the last row of a one-row selection when the selection reaches
// past its text.  UTF-8.
std::string copy_text(const TextScreen& screen, int first_column, int first_row, int last_column, int last_row,
                      const char* line_end);

}  // namespace host
