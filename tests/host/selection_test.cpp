// Selection and Copy in a text window: what Copy puts on the clipboard, the
// mouse and the keys while marking, Escape and Pause during a selection, and
// the highlight over the window.
#include <gtest/gtest.h>

#include <QAbstractScrollArea>
#include <QClipboard>
#include <QMdiSubWindow>
#include <QScrollBar>

#include "commands.h"
#include "host_state.h"
#include "host_test_support.h"
#include "selection.h"
#include "text_render.h"
#include "text_view.h"

namespace {

using namespace hosttest;
using host::Selection;
using host::WindowPtr;

QString clipboard_text() { return QGuiApplication::clipboard()->text(); }

// A shown text window with `lines` written into it, closed at the end.
class Window {
public:
    explicit Window(const std::vector<std::string>& writes = {}, const char* title = "Marked") {
        number = on_calc([title] { return ops().open_window(title); });
        record = host::window_for(number);
        host::configure_window(record);
        write_all(writes);
        EXPECT_TRUE(pump_until([this] { return host::window_shown(number); }));
        host::ui_activate_window(record);
    }
    ~Window() {
        host::end_selection(record);
        while (host::run_state() == host::RunState::Paused) host::resume_program();
        on_calc([this] { return ops().close_window(number, 0); });
    }
    void write_all(const std::vector<std::string>& writes) {
        on_calc([&] {
            for (const std::string& w : writes) write(number, w);
            return 0;
        });
    }
    QAbstractScrollArea* view() const { return record->view; }
    QWidget* viewport() const { return record->view->viewport(); }
    QString caption() const { return record->sub->windowTitle(); }
    const Selection& selection() const { return record->selection; }

    int number = -1;
    WindowPtr record;
};

int cw() { return host::facts().cell_width; }
int ch() { return host::facts().cell_height; }
int columns() { return host::facts().screen_width / cw(); }
int rows() { return host::facts().screen_height / ch(); }

// As a drag from `anchor` to `end` (cells) leaves a text selection.
void mark(const Window& w, QPoint anchor, QPoint end) {
    host::select_command(w.record, Selection::Text);
    Selection& s = w.record->selection;
    s.started = true;
    s.marked = true;
    s.anchor_x = anchor.x();
    s.anchor_y = anchor.y();
    s.end_x = end.x();
    s.end_y = end.y();
}

TEST(Copy, TextFromTheStore) {
    struct Row {
        const char* label;
        std::vector<std::string> writes;
        bool all;            // Select All, else the marked cells below
        QPoint anchor, end;  // 0-based cells
        const char* clipboard;
        int region_left = 1;  // the text region's first column
    };
    const Row rows[] = {
        {"rows never written are left out", {"one\r\ntwo\r\n"}, false, {0, 0}, {10, 5}, "one\ntwo\n"},
        // The run-time writes an empty record as CR LF alone: no character
        // lands on its row, yet the row was written and copies as empty.
        {"an empty record is an empty line", {"one\r\n\r\nthree\r\n"}, false, {0, 0}, {10, 2}, "one\n\nthree"},
        {"an empty write is an empty line", {"one\r\n", "", "\r\n", "three\r\n"}, false, {0, 0}, {10, 2}, "one\n\nthree"},
        {"an empty write alone on one row", {"", "\r\n"}, false, {0, 0}, {10, 0}, "\n"},
        {"written blanks are copied, cells never written are not", {"abc   \r\nx\r\n"}, false, {0, 0}, {20, 1},
         "abc   \nx"},
        {"one row ending inside its text: no line end", {"hello world\r\n"}, false, {0, 0}, {4, 0}, "hello"},
        {"one row ending on its last character: no line end", {"hello world\r\n"}, false, {6, 0}, {10, 0}, "world"},
        {"one row ending just after its text: a line end", {"hello world\r\n"}, false, {6, 0}, {11, 0}, "world\n"},
        {"one row reaching far past its text: a line end", {"hello world\r\n"}, false, {6, 0}, {20, 0}, "world\n"},
        {"one row never written: nothing", {"hello\r\n"}, false, {0, 3}, {10, 3}, ""},
        {"the end above the anchor: the points swap", {"abcdef\r\nghijkl\r\n"}, false, {4, 1}, {1, 0}, "bcdef\nghijk"},
        {"the end left of the anchor on one row: the columns swap", {"abcdef\r\n"}, false, {4, 0}, {1, 0}, "bcde"},
        {"blanks between the start and a piece further right", {"xyz\r\n"}, false, {0, 0}, {10, 0}, "    xyz\n", 5},
        {"Select All on a window never written: empty text", {}, true, {}, {}, ""},
        {"Select All: every written row with its line end", {"A\r\n B\r\n"}, true, {}, {}, "A\n B\n"},
    };
    for (const Row& r : rows) {
        Window w;
        if (r.region_left > 1) {
            std::lock_guard lock(w.record->output_lock);
            w.record->screen.set_region({1, r.region_left, host::facts().screen_height / ch(), columns()});
        }
        w.write_all(r.writes);
        QGuiApplication::clipboard()->setText("before");
        if (r.all) {
            host::select_all_command(w.record);
        } else {
            mark(w, r.anchor, r.end);
        }
        EXPECT_EQ(host::state_word(), "Paused") << r.label;
        host::copy_command(w.record);
        EXPECT_EQ(clipboard_text().toStdString(), r.clipboard) << r.label;
        // Copy ends the selection and resumes the program.
        EXPECT_FALSE(w.selection().active()) << r.label;
        EXPECT_EQ(w.caption(), "Marked") << r.label;
        EXPECT_EQ(host::state_word(), "Running") << r.label;
    }
}

TEST(Copy, GraphicsAsThePictureOfTheRectangle) {
    Window w({"HELLO\r\n", "world"});
    host::select_command(w.record, Selection::Graphics);
    EXPECT_EQ(w.caption(), "Mark Graphics - Marked");
    Selection& s = w.record->selection;
    s.marked = true;
    s.anchor_x = 3 * cw() - 1;  // both points included
    s.anchor_y = 2 * ch() - 1;
    s.end_x = 1;
    s.end_y = 2;
    host::copy_command(w.record);
    const QImage copied = QGuiApplication::clipboard()->image();
    const QRect area(QPoint(1, 2), QPoint(3 * cw() - 1, 2 * ch() - 1));
    ASSERT_EQ(copied.size(), area.size());
    QImage screen;
    {
        std::lock_guard lock(w.record->output_lock);
        screen = host::render_screen(*w.record, host::CellFont::make());
    }
    EXPECT_EQ(copied.convertToFormat(QImage::Format_RGB32), screen.copy(area));
    QImage black(area.size(), QImage::Format_RGB32);
    black.fill(Qt::black);
    EXPECT_NE(copied.convertToFormat(QImage::Format_RGB32), black);  // the letters are in it
    EXPECT_FALSE(w.selection().active());
}

TEST(Marking, MouseAnchorsOnTheNearestCellEdgeAndDragsToTheCellUnderThePointer) {
    Window w({"0123456789\r\nabcdefghij\r\nABCDEFGHIJ\r\n"});
    host::select_command(w.record, Selection::Text);
    EXPECT_EQ(w.caption(), "Mark Text - Marked");
    EXPECT_EQ(host::state_word(), "Paused");
    // A click in the right half of cell 2 anchors at column 3.
    QTest::mousePress(w.viewport(), Qt::LeftButton, {}, QPoint(2 * cw() + cw() / 2 + 1, ch() + 1));
    EXPECT_EQ(w.caption(), "Select Text - Marked");
    EXPECT_EQ(QPoint(w.selection().anchor_x, w.selection().anchor_y), QPoint(3, 1));
    // Dragging truncates: the right edge of cell 5 is still cell 5.
    QTest::mouseMove(w.viewport(), QPoint(6 * cw() - 1, 2 * ch() + 3));
    EXPECT_EQ(QPoint(w.selection().end_x, w.selection().end_y), QPoint(5, 2));
    EXPECT_FALSE(w.selection().marked);  // Copy waits for the button's release
    QTest::mouseRelease(w.viewport(), Qt::LeftButton, {}, QPoint(6 * cw() - 1, 2 * ch() + 3));
    EXPECT_TRUE(w.selection().marked);
    EXPECT_TRUE(host::command_enabled(1004));
    host::copy_command(w.record);
    EXPECT_EQ(clipboard_text(), "defghij\nABCDEF");
}

TEST(Marking, DraggingBelowTheWindowScrollsLineByLine) {
    Window w({"top\r\n"});
    w.view()->verticalScrollBar()->setValue(0);
    host::select_command(w.record, Selection::Text);
    QTest::mousePress(w.viewport(), Qt::LeftButton, {}, QPoint(1, 1));
    QTest::mouseMove(w.viewport(), QPoint(10, w.viewport()->height() + 20));
    const int first_step = w.view()->verticalScrollBar()->value();
    EXPECT_EQ(first_step, ch());
    // The scrolling goes on while the pointer stays outside.
    EXPECT_TRUE(pump_until([&] { return w.view()->verticalScrollBar()->value() >= 3 * ch(); }, 3000));
    QTest::mouseRelease(w.viewport(), Qt::LeftButton, {}, QPoint(10, w.viewport()->height() + 20));
    const int offset = w.view()->verticalScrollBar()->value();
    pump_for(150);
    EXPECT_EQ(w.view()->verticalScrollBar()->value(), offset);  // released: no more scrolling
    // The end is the last row in view (the pointer clamped to the window).
    EXPECT_EQ(w.selection().end_y, (offset + w.viewport()->height() - 1) / ch());
}

TEST(Marking, SelectAllIgnoresTheMouse) {
    Window w({"abc\r\n"});
    host::select_all_command(w.record);
    EXPECT_EQ(w.caption(), "Select Text - Marked");
    QTest::mousePress(w.viewport(), Qt::LeftButton, {}, QPoint(3 * cw(), 2 * ch()));
    QTest::mouseRelease(w.viewport(), Qt::LeftButton, {}, QPoint(3 * cw(), 2 * ch()));
    EXPECT_EQ(QPoint(w.selection().anchor_x, w.selection().anchor_y), QPoint(0, 0));
    EXPECT_EQ(QPoint(w.selection().end_x, w.selection().end_y), QPoint(columns() - 1, rows() - 1));
}

TEST(Marking, Keys) {
    Window w({"text\r\n"});
    w.view()->horizontalScrollBar()->setValue(0);
    w.view()->verticalScrollBar()->setValue(0);
    host::select_command(w.record, Selection::Text);
    const int page_rows = w.viewport()->height() / ch();
    const int page_columns = w.viewport()->width() / cw();
    const int last_column = columns() - 1;
    const int last_row = rows() - 1;
    struct Step {
        Qt::Key key;
        Qt::KeyboardModifiers modifiers;
        QPoint anchor, end;
        bool marked;
        const char* caption;
    };
    const Step steps[] = {
        {Qt::Key_Right, Qt::NoModifier, {1, 0}, {1, 0}, false, "Mark Text - Marked"},
        {Qt::Key_Down, Qt::NoModifier, {1, 1}, {1, 1}, false, "Mark Text - Marked"},
        {Qt::Key_Left, Qt::NoModifier, {0, 1}, {0, 1}, false, "Mark Text - Marked"},
        {Qt::Key_Left, Qt::NoModifier, {0, 1}, {0, 1}, false, "Mark Text - Marked"},  // clamped
        // Shift: the first movement makes the point the anchor.
        {Qt::Key_Right, Qt::ShiftModifier, {0, 1}, {1, 1}, true, "Select Text - Marked"},
        {Qt::Key_Down, Qt::ShiftModifier, {0, 1}, {1, 2}, true, "Select Text - Marked"},
        {Qt::Key_End, Qt::ShiftModifier, {0, 1}, {last_column, 2}, true, "Select Text - Marked"},
        // Without Shift the area goes and the point moves alone.
        {Qt::Key_Home, Qt::NoModifier, {0, 2}, {0, 2}, false, "Select Text - Marked"},
        {Qt::Key_End, Qt::ControlModifier, {last_column, last_row}, {last_column, last_row}, false, "Select Text - Marked"},
        {Qt::Key_PageUp, Qt::NoModifier, {last_column, last_row - page_rows}, {last_column, last_row - page_rows}, false,
         "Select Text - Marked"},
        {Qt::Key_Home, Qt::ControlModifier, {0, 0}, {0, 0}, false, "Select Text - Marked"},
        {Qt::Key_PageDown, Qt::ControlModifier, {page_columns, 0}, {page_columns, 0}, false, "Select Text - Marked"},
        {Qt::Key_PageDown, Qt::ShiftModifier, {page_columns, 0}, {page_columns, page_rows}, true, "Select Text - Marked"},
    };
    int n = 0;
    for (const Step& s : steps) {
        key(w.number, s.key, s.modifiers);
        EXPECT_EQ(QPoint(w.selection().anchor_x, w.selection().anchor_y), s.anchor) << "step " << n;
        EXPECT_EQ(QPoint(w.selection().end_x, w.selection().end_y), s.end) << "step " << n;
        EXPECT_EQ(w.selection().marked, s.marked) << "step " << n;
        EXPECT_EQ(host::command_enabled(1004), s.marked) << "step " << n;
        EXPECT_EQ(w.caption().toStdString(), s.caption) << "step " << n;
        ++n;
    }
    // The view follows the moving point.
    const int top = w.view()->verticalScrollBar()->value();
    EXPECT_GE(w.selection().end_y * ch(), top);
    EXPECT_LE((w.selection().end_y + 1) * ch(), top + w.viewport()->height());
    // In a graphics selection the keys move by pixels.
    host::end_selection(w.record);
    host::select_command(w.record, Selection::Graphics);
    key(w.number, Qt::Key_Right, Qt::ShiftModifier);
    key(w.number, Qt::Key_Down, Qt::ShiftModifier);
    EXPECT_EQ(QPoint(w.selection().end_x - w.selection().anchor_x, w.selection().end_y - w.selection().anchor_y),
              QPoint(1, 1));
    EXPECT_EQ(w.caption(), "Select graphics in Marked");
}

// Escape ends the selection and resumes; a second one is Resume again
// (nothing while running), never a character: no read takes it, no beep.
TEST(Marking, EscapeEndsTheSelectionAndIsNeverACharacter) {
    Window w({"text\r\n"});
    host::select_command(w.record, Selection::Text);
    ASSERT_EQ(host::state_word(), "Paused");
    const int beeps = host::beep_count();
    key(w.number, Qt::Key_Escape);
    EXPECT_FALSE(w.selection().active());
    EXPECT_EQ(w.caption(), "Marked");
    EXPECT_EQ(host::state_word(), "Running");
    key(w.number, Qt::Key_Escape);
    EXPECT_EQ(host::beep_count(), beeps);
    EXPECT_EQ(host::state_word(), "Running");
}

TEST(Marking, PauseDuringASelectionOutlastsIt) {
    Window w({"text\r\n"});
    host::select_command(w.record, Selection::Text);
    key(w.number, Qt::Key_S, Qt::ControlModifier);  // Pause: explicit now
    key(w.number, Qt::Key_Escape);
    EXPECT_FALSE(w.selection().active());
    EXPECT_EQ(host::state_word(), "Paused");
    key(w.number, Qt::Key_Q, Qt::ControlModifier);
    EXPECT_EQ(host::state_word(), "Running");
    // Selecting while paused explicitly: Copy ends it, the pause stays.
    key(w.number, Qt::Key_S, Qt::ControlModifier);
    host::select_all_command(w.record);
    key(w.number, Qt::Key_Insert, Qt::ControlModifier);
    EXPECT_FALSE(w.selection().active());
    EXPECT_EQ(clipboard_text(), "text\n");
    EXPECT_EQ(host::state_word(), "Paused");
}

TEST(Marking, HighlightInvertsTheMarkedCellsOnEveryRepaint) {
    Window w({"abc\r\n"});
    w.view()->horizontalScrollBar()->setValue(0);
    w.view()->verticalScrollBar()->setValue(0);
    auto pixel = [&](int x, int y) { return w.viewport()->grab().toImage().pixelColor(x, y); };
    // Text: the stream from (5, 0) to (2, 1): row 0 from column 5 on,
    // row 1 up to column 2.
    mark(w, {5, 0}, {2, 1});
    EXPECT_EQ(pixel(6 * cw() + 1, ch() / 2), QColor(Qt::white));       // row 0, column 6
    EXPECT_EQ(pixel(4 * cw() + 1, ch() / 2), QColor(Qt::black));       // row 0, column 4
    EXPECT_EQ(pixel(2 * cw() + 1, ch() + ch() / 2), QColor(Qt::white));  // row 1, column 2
    EXPECT_EQ(pixel(3 * cw() + 1, ch() + ch() / 2), QColor(Qt::black));  // row 1, column 3
    host::end_selection(w.record);
    EXPECT_EQ(pixel(6 * cw() + 1, ch() / 2), QColor(Qt::black));
    // Graphics: the outline of the rectangle, inside untouched.
    host::select_command(w.record, Selection::Graphics);
    Selection& s = w.record->selection;
    s.marked = true;
    s.anchor_x = 40;
    s.anchor_y = 40;
    s.end_x = 60;
    s.end_y = 50;
    EXPECT_EQ(pixel(40, 40), QColor(Qt::white));
    EXPECT_EQ(pixel(60, 45), QColor(Qt::white));
    EXPECT_EQ(pixel(50, 50), QColor(Qt::white));
    EXPECT_EQ(pixel(50, 45), QColor(Qt::black));
    EXPECT_EQ(pixel(61, 45), QColor(Qt::black));
}

}  // namespace
