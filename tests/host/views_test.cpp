// The keyboard shortcuts against the items' enabling, Size To Fit, the
// full-screen view, the "&Window" popup's window list, and Cascade, Tile
// and Arrange Icons.
#include <gtest/gtest.h>

#include <QAbstractScrollArea>
#include <QClipboard>
#include <QMainWindow>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMenu>
#include <QMenuBar>
#include <QScreen>
#include <QScrollBar>

#include <algorithm>

#include "commands.h"
#include "frame.h"
#include "host_state.h"
#include "host_test_support.h"
#include "selection.h"
#include "text_view.h"
#include "views.h"

namespace {

using namespace hosttest;
using host::Selection;
using host::WindowPtr;

// Shown text windows, closed at the end.
struct Windows {
    explicit Windows(std::initializer_list<const char*> titles) {
        for (const char* title : titles) {
            const int n = on_calc([title] {
                const int w = ops().open_window(title);
                write(w, std::string(title) + "\r\n");
                return w;
            });
            EXPECT_TRUE(pump_until([n] { return host::window_shown(n); }));
            numbers.push_back(n);
            records.push_back(host::window_for(n));
        }
        if (!records.empty()) host::ui_activate_window(records.front());
    }
    ~Windows() {
        host::leave_full_screen();
        for (const WindowPtr& r : records) {
            host::end_selection(r);
            if (r->fitted) host::fit_command(r);
        }
        host::clear_paste_command();
        while (host::run_state() == host::RunState::Paused) host::resume_program();
        on_calc([this] {
            for (int n : numbers) ops().close_window(n, 0);
            return 0;
        });
    }
    std::vector<int> numbers;
    std::vector<WindowPtr> records;
};

QWidget* full_screen_view() {
    for (QWidget* w : QApplication::topLevelWidgets()) {
        if (w->isVisible() && w->isFullScreen()) return w;
    }
    return nullptr;
}

QMenu* popup(const QString& title) {
    auto* frame = qobject_cast<QMainWindow*>(host::ui_frame_widget());
    for (QAction* a : frame->menuBar()->actions()) {
        if (a->menu() && a->text() == title) return a->menu();
    }
    return nullptr;
}

TEST(Shortcuts, EachOnlyWhileItsItemIsEnabled) {
    Windows ws({"Keys"});
    const WindowPtr& w = ws.records[0];
    enum State { Plain, Marking, Marked, PastePending, EmptyClipboard, Fitted };
    struct Row {
        const char* label;
        State state;
        Qt::Key key;
        Qt::KeyboardModifiers modifiers;
        bool repeat;
        int command;
    };
    const Qt::KeyboardModifiers ctrl = Qt::ControlModifier, shift = Qt::ShiftModifier, alt = Qt::AltModifier;
    const Row rows[] = {
        {"Ctrl+Ins with Copy grayed", Plain, Qt::Key_Insert, ctrl, false, 0},
        {"Ctrl+Ins with an area marked", Marked, Qt::Key_Insert, ctrl, false, 1004},
        {"Ctrl+Ins repeated", Marked, Qt::Key_Insert, ctrl, true, 0},
        {"Shift+Ins with text on the clipboard", Plain, Qt::Key_Insert, shift, false, 1021},
        {"Shift+Ins repeated", Plain, Qt::Key_Insert, shift, true, 0},
        {"Shift+Ins while marking", Marking, Qt::Key_Insert, shift, false, 0},
        {"Shift+Ins while a paste is pending", PastePending, Qt::Key_Insert, shift, false, 0},
        {"Shift+Ins with no text on the clipboard", EmptyClipboard, Qt::Key_Insert, shift, false, 0},
        {"Shift+Ins in a fitted window", Fitted, Qt::Key_Insert, shift, false, 0},
        {"Alt+Enter", Plain, Qt::Key_Return, alt, false, 1007},
        {"Alt+Enter while marking", Marking, Qt::Key_Return, alt, false, 0},
        {"Escape while running: Resume, which does nothing then", Plain, Qt::Key_Escape, Qt::NoModifier, false,
         host::kResume},
        {"Escape while marking", Marking, Qt::Key_Escape, Qt::NoModifier, false, host::kResume},
        {"Ctrl+C", Plain, Qt::Key_C, ctrl, false, 1000},
        {"Ctrl+C while marking", Marking, Qt::Key_C, ctrl, false, 1000},
        {"Ctrl+S", Plain, Qt::Key_S, ctrl, false, host::kPause},
        {"Ctrl+Q", Plain, Qt::Key_Q, ctrl, false, host::kResume},
    };
    for (const Row& r : rows) {
        QGuiApplication::clipboard()->setText("x");
        switch (r.state) {
        case Plain: break;
        case Marking: host::select_command(w, Selection::Text); break;
        case Marked:
            host::select_all_command(w);
            break;
        case PastePending: host::paste_command(w); break;
        case EmptyClipboard: QGuiApplication::clipboard()->clear(); break;
        case Fitted: host::fit_command(w); break;
        }
        EXPECT_EQ(host::shortcut_command(r.key, r.modifiers, r.repeat), r.command) << r.label;
        host::end_selection(w);
        host::resume_program();
        host::clear_paste_command();
        if (w->fitted) host::fit_command(w);
    }
    // A grayed item's key does nothing: Shift+Ins while marking pastes
    // nothing, Ctrl+Ins leaves the selection.
    QGuiApplication::clipboard()->setText("x");
    host::select_command(w, Selection::Text);
    key(ws.numbers[0], Qt::Key_Insert, shift);
    key(ws.numbers[0], Qt::Key_Insert, ctrl);
    EXPECT_FALSE(host::paste_pending());
    EXPECT_TRUE(w->selection.active());
    EXPECT_EQ(QGuiApplication::clipboard()->text(), "x");
}

TEST(SizeToFit, WholeVirtualScreenWithoutScrollBars) {
    Windows ws({"Fit"});
    const WindowPtr& w = ws.records[0];
    const int rows = host::facts().screen_height / host::facts().cell_height;
    on_calc([&] {
        for (int i = 1; i < rows; ++i) write(ws.numbers[0], "\r\n");
        return write(ws.numbers[0], "BOTTOM ROW");
    });
    auto* view = qobject_cast<QAbstractScrollArea*>(host::window_view(ws.numbers[0]));
    view->verticalScrollBar()->setValue(0);
    // The bottom strip of the client area: black until the window is fitted.
    auto bottom_lit = [&] {
        const QImage image = view->viewport()->grab().toImage();
        const int strip = std::max(2, image.height() / rows);
        for (int y = image.height() - strip; y < image.height(); ++y) {
            for (int x = 0; x < image.width() / 4; ++x) {
                if (image.pixelColor(x, y).lightness() > 60) return true;
            }
        }
        return false;
    };
    pump_for(50);
    ASSERT_GT(view->verticalScrollBar()->maximum(), 0);
    EXPECT_FALSE(bottom_lit());
    host::run_window_command(1006, w);
    EXPECT_TRUE(w->fitted);
    EXPECT_TRUE(host::find_command(1006)->checked());
    EXPECT_EQ(view->verticalScrollBar()->maximum(), 0);
    EXPECT_EQ(view->horizontalScrollBar()->maximum(), 0);
    EXPECT_EQ(view->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOff);
    EXPECT_TRUE(bottom_lit());
    host::run_window_command(1006, w);
    EXPECT_FALSE(host::find_command(1006)->checked());
    EXPECT_GT(view->verticalScrollBar()->maximum(), 0);

    // Leaving Size To Fit, the view stands where it stood before.
    view->verticalScrollBar()->setValue(view->verticalScrollBar()->maximum() / 2);
    view->horizontalScrollBar()->setValue(view->horizontalScrollBar()->maximum() / 3);
    const QPoint before(view->horizontalScrollBar()->value(), view->verticalScrollBar()->value());
    ASSERT_GT(before.y(), 0);
    host::run_window_command(1006, w);
    host::run_window_command(1006, w);
    EXPECT_EQ(QPoint(view->horizontalScrollBar()->value(), view->verticalScrollBar()->value()), before);
}

TEST(FullScreen, TypedCharactersGoToTheWindowWithoutTheCtrlShortcuts) {
    Windows ws({"Full"});
    const int n = ws.numbers[0];
    std::string line;
    CalcThread reader([&] {
        char buffer[64];
        const int count = ops().read_line(buffer, 64, n);
        line.assign(buffer, static_cast<std::size_t>(std::max(count, 0)));
    });
    ASSERT_TRUE(pump_until([&] { return host::read_pending(n); }));
    host::run_window_command(1007, ws.records[0]);
    QWidget* full = full_screen_view();
    ASSERT_NE(full, nullptr);
    EXPECT_EQ(full->geometry(), full->screen()->geometry());
    QTest::keyClicks(full, "ab");
    QTest::keyClick(full, Qt::Key_S, Qt::ControlModifier);  // the character 19, not Pause
    QTest::keyClick(full, Qt::Key_Return);
    EXPECT_TRUE(reader.join());
    EXPECT_EQ(line, "ab\x13");
    EXPECT_EQ(host::state_word(), "Running");
    // The view shows the window's virtual screen: the echo "ab" on the
    // second row lights its first cells.
    const QImage picture = full->grab().toImage();
    const int cell_w = full->width() * host::facts().cell_width / host::facts().screen_width;
    const int cell_h = full->height() * host::facts().cell_height / host::facts().screen_height;
    bool lit = false;
    for (int y = cell_h; y < 2 * cell_h; ++y) {
        for (int x = 0; x < 2 * cell_w; ++x) lit = lit || picture.pixelColor(x, y).lightness() > 60;
    }
    EXPECT_TRUE(lit);
    host::leave_full_screen();
}

TEST(FullScreen, ClosedByAltEnterEscapeOrAClick) {
    Windows ws({"Full"});
    struct Row {
        const char* label;
        std::function<void(QWidget*)> close;
    };
    const Row rows[] = {
        {"Alt+Enter", [](QWidget* v) { QTest::keyClick(v, Qt::Key_Return, Qt::AltModifier); }},
        {"Escape", [](QWidget* v) { QTest::keyClick(v, Qt::Key_Escape); }},
        {"left click", [](QWidget* v) { QTest::mouseClick(v, Qt::LeftButton); }},
        {"right click", [](QWidget* v) { QTest::mouseClick(v, Qt::RightButton); }},
    };
    for (const Row& r : rows) {
        key(ws.numbers[0], Qt::Key_Return, Qt::AltModifier);
        QWidget* full = full_screen_view();
        ASSERT_NE(full, nullptr) << r.label;
        EXPECT_TRUE(host::full_screen_shown()) << r.label;
        r.close(full);
        pump_for(10);
        EXPECT_FALSE(host::full_screen_shown()) << r.label;
        EXPECT_EQ(full_screen_view(), nullptr) << r.label;
        EXPECT_EQ(host::ui_active_window(), ws.records[0]) << r.label;
    }
    EXPECT_EQ(host::state_word(), "Running");  // the application is still there
}

TEST(WindowPopup, ListsTheTextWindowsAndActivatesTheChosenOne) {
    Windows ws({"Alpha", "Beta", "R&D"});
    host::ui_activate_window(ws.records[1]);
    QMenu* menu = popup("&Window");
    ASSERT_NE(menu, nullptr);
    auto listed = [&] {
        menu->popup(QPoint(0, 0));
        std::vector<std::string> items;
        bool after_separator = false;
        for (QAction* a : menu->actions()) {
            if (a->text() == "&Status Bar") after_separator = true;
            if (!after_separator || a->text() == "&Status Bar") continue;
            items.push_back(a->isSeparator() ? "-" : a->text().toStdString() + (a->isChecked() ? " *" : ""));
        }
        return items;
    };
    EXPECT_EQ(listed(), (std::vector<std::string>{"-", "&1 Alpha", "&2 Beta *", "&3 R&&D"}));
    // Chosen from the list: that window becomes active.
    for (QAction* a : menu->actions()) {
        if (a->text() == "&3 R&&D") a->trigger();
    }
    menu->hide();
    EXPECT_EQ(host::ui_active_window(), ws.records[2]);
    // A closed window leaves the list; beyond nine, the rest through a list.
    on_calc([&] { return ops().close_window(ws.numbers[0], 0); });
    pump_for(20);
    Windows more({"W4", "W5", "W6", "W7", "W8", "W9", "W10", "W11"});
    const std::vector<std::string> items = listed();
    menu->hide();
    ASSERT_EQ(items.size(), 11u);
    EXPECT_EQ(items[1], "&1 Beta");
    EXPECT_EQ(items[9], "&9 W10");
    EXPECT_EQ(items[10], "&More Windows...");
}

TEST(Arrange, CascadeTileAndIcons) {
    Windows ws({"One", "Two", "Three"});
    QMdiArea* mdi = host::frame_mdi_area();
    auto subs = [&] {
        std::vector<QMdiSubWindow*> out;
        for (const WindowPtr& r : ws.records) out.push_back(r->sub);
        return out;
    };
    host::run_window_command(1011, ws.records[0]);  // Tile
    pump_for(10);
    for (QMdiSubWindow* a : subs()) {
        for (QMdiSubWindow* b : subs()) {
            if (a != b) {
                EXPECT_FALSE(a->geometry().intersects(b->geometry()));
            }
        }
    }
    host::run_window_command(1010, ws.records[0]);  // Cascade
    pump_for(10);
    // Each window a step down and right of the one before.
    std::vector<QPoint> corners;
    for (QMdiSubWindow* s : subs()) corners.push_back(s->pos());
    std::sort(corners.begin(), corners.end(), [](QPoint a, QPoint b) { return a.x() < b.x(); });
    for (std::size_t i = 1; i < corners.size(); ++i) {
        EXPECT_GT(corners[i].x(), corners[i - 1].x());
        EXPECT_GT(corners[i].y(), corners[i - 1].y());
    }
    // Arrange Icons: the minimised windows in a row along the bottom.
    ws.records[0]->sub->showMinimized();
    ws.records[2]->sub->showMinimized();
    ws.records[0]->sub->move(200, 10);
    ws.records[2]->sub->move(10, 80);
    host::run_window_command(1012, ws.records[1]);
    const QRect first = ws.records[0]->sub->geometry();
    const QRect second = ws.records[2]->sub->geometry();
    EXPECT_EQ(first.bottom() + 1, mdi->viewport()->height());
    EXPECT_EQ(first.left(), 0);
    EXPECT_EQ(second.bottom() + 1, mdi->viewport()->height());
    EXPECT_EQ(second.left(), first.right() + 1);
    ws.records[0]->sub->showNormal();
    ws.records[2]->sub->showNormal();
}

}  // namespace
