// The menu bar's items as a user finds them when a popup opens, from the
// start (no text window yet) to the end of the program, in a child process
// of its own (the program finishes on the way).
#include <gtest/gtest.h>

#include <QAction>
#include <QClipboard>
#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>

#include "commands.h"
#include "frame.h"
#include <QMdiArea>
#include "host_state.h"
#include "host_test_support.h"

namespace {

using namespace hosttest;

QMenuBar* menu_bar() { return qobject_cast<QMainWindow*>(host::ui_frame_widget())->menuBar(); }

// Opens and closes every popup of the bar, as a user looking at them.
void open_popups() {
    for (QAction* a : menu_bar()->actions()) {
        if (!a->menu()) continue;
        a->menu()->popup(QPoint(0, 0));
        QCoreApplication::processEvents();
        a->menu()->hide();
    }
}

QAction* item(const QString& text) {
    for (QAction* a : menu_bar()->actions()) {
        if (!a->menu()) continue;
        for (QAction* i : a->menu()->actions()) {
            if (i->text() == text) return i;
        }
    }
    return nullptr;
}

// Chooses an item as a click does (nothing when it is grayed).
void choose(const QString& text) {
    open_popups();
    if (QAction* a = item(text)) a->trigger();
    pump_for(20);
}

std::string flag(const QString& text) {
    const QAction* a = item(text);
    if (!a) return "?";
    std::string f = a->isEnabled() ? "1" : "0";
    if (a->isCheckable() && a->isChecked()) f += "v";
    return f;
}

// What the bar shows: the popups' titles, then the items whose state
// changes (1 enabled, 0 grayed, v checked), the State item's text, and
// whether every item that is always enabled is.
std::string observed() {
    open_popups();
    std::string bar;
    for (QAction* a : menu_bar()->actions()) bar += (bar.empty() ? "" : " ") + a->text().toStdString();
    if (menu_bar()->actions().size() == 1) {
        std::string items;
        for (QAction* i : menu_bar()->actions().front()->menu()->actions()) items += i->text().toStdString();
        return bar + ": " + items;
    }
    std::string state;
    bool fixed = true;
    for (QAction* a : menu_bar()->actions()) {
        for (QAction* i : a->menu()->actions()) {
            const int id = i->data().toInt();
            if (id == host::kPause || id == host::kResume) state = i->text().toStdString();
            if (id == 1000 || id == 1008 || id == 1009 || id == 1010 || id == 1011 || id == 1012 || id == 1015 || id == 1018)
                fixed = fixed && i->isEnabled();
        }
    }
    return "select " + flag("Select &Text") + flag("Select &Graphics") + flag("Select &All") + " copy " +
           flag("&Copy\tCtrl+Ins") + " paste " + flag("&Paste") + " fit " + flag("&Size To Fit") + " full " +
           flag("&Full Screen\tAlt+Enter") + " input " + flag("&Input") + " clear " + flag("C&lear Paste") + " state " +
           one_line(state) + (fixed ? "" : " (an always enabled item grayed)");
}

QWidget* view() { return host::window_view(1024); }

// The program's stand-in: a line into window 1024, then a read there.
void write_then_read() {
    ops().write_text("hello\r\n", 7, 1024, 0);
    char line[16];
    ops().read_line(line, 16, 1024);
}

int menus_child() {
    ChildArgs& args = child_args("menus");
    QApplication app(args.argc, args.argv);
    host::set_dialog_provider(&kRecordingDialogs);
    if (host::initialise() != 0) return 100;
    QGuiApplication::clipboard()->setText("x");

    report("ROW no window|" + observed());

    CalcThread reader(write_then_read);
    pump_until([] { return host::read_pending(1024) && host::window_shown(1024); });
    report("ROW running, a read pending|" + observed());

    QTest::keyClick(view(), Qt::Key_Return);
    reader.join();
    QTest::keyClick(view(), Qt::Key_S, Qt::ControlModifier);
    report("ROW paused|" + observed());

    QTest::keyClick(view(), Qt::Key_Q, Qt::ControlModifier);
    choose("Select &Text");
    report("ROW selecting|" + observed());

    QTest::keyClick(view(), Qt::Key_Right, Qt::ShiftModifier);
    report("ROW marked|" + observed());

    QTest::keyClick(view(), Qt::Key_Escape);
    choose("&Size To Fit");
    report("ROW fitted|" + observed());

    choose("&Size To Fit");
    choose("&Full Screen\tAlt+Enter");
    report("ROW full screen|" + observed());

    for (QWidget* w : QApplication::topLevelWidgets()) {
        if (w->isVisible() && w->isFullScreen()) QTest::keyClick(w, Qt::Key_Escape);
    }
    choose("&Paste");
    report("ROW paste pending|" + observed());

    choose("C&lear Paste");
    QTest::keyClick(view(), Qt::Key_S, Qt::ControlModifier);
    open_popups();  // the State item shows Resume
    host::set_finished();
    QTest::keyClick(view(), Qt::Key_Q, Qt::ControlModifier);
    report("ROW finished after a pause|" + observed() + " (" + host::state_word() + ")");

    // The run-time closes the unit and keeps its window ("-Closed"); the
    // user closes that, the last text window, while the frame is not the
    // active window (as without a window manager, where keys reach it all
    // the same): the minimal bar is back, and Ctrl+C still closes the
    // application.
    on_calc([] { return ops().close_window(1024, 1); });
    pump_until([] { return host::window_title(1024) == "Graphic1-Closed"; });
    QWidget elsewhere;
    elsewhere.show();
    elsewhere.activateWindow();
    pump_until([&] { return QApplication::activeWindow() == &elsewhere; });
    QTest::keyClick(view(), Qt::Key_F4, Qt::ControlModifier);
    pump_for(50);
    report("ROW no text window|" + observed());
    QTest::keyClick(host::ui_frame_widget()->windowHandle(), Qt::Key_C, Qt::ControlModifier);
    pump_for(20);
    report(std::string("CLOSING ") + (host::shutting_down() ? "yes" : "no"));
    return 0;
}

TEST(Menus, ItemsPerState) {
    struct Row {
        const char* state;
        const char* items;
    };
    // select: Select Text, Graphics, All; fit: enabled, then v when checked.
    const Row rows[] = {
        {"no window", "&File: E&xit"},
        {"running, a read pending", "select 111 copy 0 paste 1 fit 1 full 1 input 1 clear 0 state &Pause\tCtrl+S"},
        {"paused", "select 111 copy 0 paste 1 fit 1 full 1 input 0 clear 0 state &Resume\tCtrl+Q"},
        {"selecting", "select 000 copy 0 paste 0 fit 0 full 0 input 0 clear 0 state &Resume\tCtrl+Q"},
        {"marked", "select 000 copy 1 paste 0 fit 0 full 0 input 0 clear 0 state &Resume\tCtrl+Q"},
        {"fitted", "select 000 copy 0 paste 0 fit 1v full 1 input 0 clear 0 state &Pause\tCtrl+S"},
        {"full screen", "select 000 copy 0 paste 0 fit 1 full 1 input 0 clear 0 state &Pause\tCtrl+S"},
        {"paste pending", "select 111 copy 0 paste 0 fit 1 full 1 input 0 clear 1 state &Pause\tCtrl+S"},
        // Once Finished, the State item no longer changes.
        {"finished after a pause",
         "select 111 copy 0 paste 1 fit 1 full 1 input 0 clear 0 state &Resume\tCtrl+Q (Finished)"},
        {"no text window", "&File: E&xit"},
    };
    const ChildRun run = run_child(menus_child);
    ASSERT_FALSE(run.timed_out) << run.report;
    ASSERT_EQ(run.exit_status, 0) << run.report;
    const std::vector<std::string> shown = tagged(run.report, "ROW ");
    ASSERT_EQ(shown.size(), std::size(rows)) << run.report;
    for (std::size_t i = 0; i < std::size(rows); ++i) {
        const std::string expected = std::string(rows[i].state) + "|" + one_line(rows[i].items);
        EXPECT_EQ(shown[i], one_line(expected));
    }
    EXPECT_EQ(tagged(run.report, "CLOSING "), std::vector<std::string>{"yes"});
    std::printf("%s", run.report.c_str());
}

// A key that reaches the bar while no title is selected (the bar kept the
// focus after a popup opened with the mouse was closed with Escape) is the
// text window's: Ctrl+S and Ctrl+Q still pause and resume; Escape only
// gives the focus back and does not resume.
int bar_keys_child() {
    ChildArgs& args = child_args("menus");
    QApplication app(args.argc, args.argv);
    host::set_dialog_provider(&kRecordingDialogs);
    if (host::initialise() != 0) return 100;
    CalcThread reader(write_then_read);
    pump_until([] { return host::read_pending(1024) && host::window_shown(1024); });
    const std::pair<Qt::Key, Qt::KeyboardModifiers> keys[] = {
        {Qt::Key_S, Qt::ControlModifier}, {Qt::Key_Escape, Qt::NoModifier}, {Qt::Key_Q, Qt::ControlModifier}};
    for (const auto& [k, m] : keys) {
        menu_bar()->setFocus();
        QTest::keyClick(menu_bar(), k, m);
        pump_for(10);
        report("STATE " + host::state_word() + (QApplication::focusWidget() == view() ? " view" : " elsewhere"));
    }
    QTest::keyClick(view(), Qt::Key_Return);
    reader.join();
    return 0;
}

TEST(Menus, KeysOnTheBarWithNoTitleSelectedGoToTheTextWindow) {
    const ChildRun run = run_child(bar_keys_child);
    ASSERT_FALSE(run.timed_out) << run.report;
    ASSERT_EQ(run.exit_status, 0) << run.report;
    EXPECT_EQ(tagged(run.report, "STATE "),
              (std::vector<std::string>{"Paused view", "Paused view", "Running view"}));
}

}  // namespace
