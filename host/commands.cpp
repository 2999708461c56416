#include "commands.h"

#include "entry_file.h"
#include "frame.h"
#include "help.h"
#include "host_state.h"
#include "platform.h"
#include "save_print.h"
#include "selection.h"
#include "views.h"

namespace host {

namespace {

// The enabling rules look at the active text window.
bool selecting() {
    const WindowPtr window = ui_active_window();
    return window && window->selection.active();
}
bool fitted_or_full_screen() {
    const WindowPtr window = ui_active_window();
    return (window && window->fitted) || full_screen_shown();
}
bool select_enabled() { return !selecting() && !fitted_or_full_screen(); }
bool copy_enabled() {
    const WindowPtr window = ui_active_window();
    return window && window->selection.marked;
}
bool paste_enabled() {
    return !paste_pending() && platform_clipboard_has_text() && !selecting() && !fitted_or_full_screen();
}
bool view_enabled() { return !selecting(); }
bool fitted() {
    const WindowPtr window = ui_active_window();
    return window && window->fitted;
}
bool clear_paste_enabled() { return paste_pending(); }
bool input_enabled() { return pending_input_window() != nullptr; }

void exit_action(const WindowPtr&) { frame_exit(); }
void select_text_action(const WindowPtr& window) { select_command(window, Selection::Text); }
void select_graphics_action(const WindowPtr& window) { select_command(window, Selection::Graphics); }
void select_all_action(const WindowPtr& window) { select_all_command(window); }
void copy_action(const WindowPtr& window) { copy_command(window); }
void fit_action(const WindowPtr& window) { fit_command(window); }
void full_screen_action(const WindowPtr& window) { full_screen_command(window); }
void pause_action(const WindowPtr&) { pause_program(); }
void resume_action(const WindowPtr&) { resume_command(); }
void cascade_action(const WindowPtr&) { cascade_command(); }
void tile_action(const WindowPtr&) { tile_command(); }
void arrange_icons_action(const WindowPtr&) { arrange_icons_command(); }
void status_bar_action(const WindowPtr&) { frame_toggle_status_bar(); }
void about_action(const WindowPtr&) { frame_about(); }
void paste_action(const WindowPtr& window) { paste_command(window); }
void clear_paste_action(const WindowPtr&) { clear_paste_command(); }
void print_action(const WindowPtr& window) { print_window(window); }
void save_action(const WindowPtr& window) { save_window(window); }
void contents_action(const WindowPtr&) { show_help_contents(); }
void help_on_help_action(const WindowPtr&) { show_help_on_help(); }
void input_action(const WindowPtr&) {
    if (const WindowPtr window = pending_input_window()) ui_activate_window(window);
}

}  // namespace

const Command kCommands[] = {
    {1019, Popup::File, "&Print...", nullptr, nullptr, print_action},
    {1020, Popup::File, "&Save...", nullptr, nullptr, save_action},
    {1000, Popup::File, "E&xit\tCtrl+C", nullptr, nullptr, exit_action},
    {1001, Popup::Edit, "Select &Text", select_enabled, nullptr, select_text_action},
    {1002, Popup::Edit, "Select &Graphics", select_enabled, nullptr, select_graphics_action},
    {1003, Popup::Edit, "Select &All", select_enabled, nullptr, select_all_action},
    {1004, Popup::Edit, "&Copy\tCtrl+Ins", copy_enabled, nullptr, copy_action},
    {1021, Popup::Edit, "&Paste", paste_enabled, nullptr, paste_action},
    {1006, Popup::View, "&Size To Fit", view_enabled, fitted, fit_action},
    {1007, Popup::View, "&Full Screen\tAlt+Enter", view_enabled, nullptr, full_screen_action},
    {kPause, Popup::State, "&Pause\tCtrl+S", nullptr, nullptr, pause_action},
    {1010, Popup::Window, "&Cascade", nullptr, nullptr, cascade_action},
    {1011, Popup::Window, "&Tile", nullptr, nullptr, tile_action},
    {1012, Popup::Window, "&Arrange Icons", nullptr, nullptr, arrange_icons_action},
    {1023, Popup::Window, "&Input", input_enabled, nullptr, input_action},
    {1022, Popup::Window, "C&lear Paste", clear_paste_enabled, nullptr, clear_paste_action},
    {1015, Popup::Window, "&Status Bar", nullptr, frame_status_bar_visible, status_bar_action},
    {1016, Popup::Help, "&Contents", nullptr, nullptr, contents_action},
    {1017, Popup::Help, "Using &Help", nullptr, nullptr, help_on_help_action},
    {1018, Popup::Help, "&About", nullptr, nullptr, about_action},
    // The "&State" item while paused: "&Resume\tCtrl+Q" sends 1009.
    {kResume, Popup::State, "&Resume\tCtrl+Q", nullptr, nullptr, resume_action},
};
const int kCommandCount = sizeof kCommands / sizeof kCommands[0];

const Command* find_command(int id) {
    for (const Command& c : kCommands) {
        if (c.id == id) return &c;
    }
    return nullptr;
}

bool command_enabled(int id) {
    if (id == kOpenEntryFile) return entry_file_enabled();
    const Command* c = find_command(id);
    return c && c->action && (!c->enabled || c->enabled());
}

void run_command(int id) {
    if (help_mode_intercepts(id)) return;  // help mode: the command's topic instead
    // Exit needs no text window: the application closes whatever window is
    // active, or none (the last one closed by the user).
    if (id == kMinimalExit || id == 1000) {
        frame_exit();
        return;
    }
    if (id == kOpenEntryFile) {
        open_entry_file_command();
        return;
    }
    run_window_command(id, ui_active_window());
}

void run_window_command(int id, const WindowPtr& window) {
    if (!window) return;
    const Command* c = find_command(id);
    if (c && c->action) c->action(window);
}

int shortcut_command(int key, Qt::KeyboardModifiers modifiers, bool auto_repeat) {
    struct Shortcut {
        int key;
        Qt::KeyboardModifiers modifiers;
        int command;
        bool when_enabled;  // only while the item is enabled
        bool first_press;   // not on auto-repeat
    };
    static const Shortcut kShortcuts[] = {
        {Qt::Key_C, Qt::ControlModifier, 1000, false, false},
        {Qt::Key_S, Qt::ControlModifier, kPause, false, false},
        {Qt::Key_Q, Qt::ControlModifier, kResume, false, false},
        {Qt::Key_Insert, Qt::ControlModifier, 1004, true, true},
        {Qt::Key_Insert, Qt::ShiftModifier, 1021, true, true},
        {Qt::Key_Return, Qt::AltModifier, 1007, true, false},
        {Qt::Key_Enter, Qt::AltModifier | Qt::KeypadModifier, 1007, true, false},
    };
    if (!frame_full_menu_built()) return 0;
    const Qt::KeyboardModifiers mods = modifiers & (Qt::ControlModifier | Qt::ShiftModifier | Qt::AltModifier | Qt::MetaModifier | Qt::KeypadModifier);
    for (const Shortcut& s : kShortcuts) {
        if (s.key != key || s.modifiers != mods) continue;
        if (s.first_press && auto_repeat) return 0;
        if (s.when_enabled && !command_enabled(s.command)) return 0;
        return s.command;
    }
    // Escape sends Resume, which resumes a paused program and ends a
    // selection, and does nothing while the program runs.  It is never
    // typed into a line.
    if (key == Qt::Key_Escape && (mods & ~Qt::KeypadModifier) == Qt::NoModifier) return kResume;
    return 0;
}

}  // namespace host
