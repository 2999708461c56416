#include "commands.h"

#include "frame.h"
#include "help.h"
#include "host_state.h"
#include "platform.h"
#include "save_print.h"

namespace host {

namespace {

bool paste_enabled() { return !paste_pending() && platform_clipboard_has_text(); }
bool clear_paste_enabled() { return paste_pending(); }
bool input_enabled() { return pending_input_window() != nullptr; }

void exit_action(const WindowPtr&) { frame_exit(); }
void pause_action(const WindowPtr&) { pause_program(); }
void resume_action(const WindowPtr&) { resume_program(); }
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
    {1001, Popup::Edit, "Select &Text", nullptr, nullptr, nullptr},
    {1002, Popup::Edit, "Select &Graphics", nullptr, nullptr, nullptr},
    {1003, Popup::Edit, "Select &All", nullptr, nullptr, nullptr},
    {1004, Popup::Edit, "&Copy\tCtrl+Ins", nullptr, nullptr, nullptr},
    {1021, Popup::Edit, "&Paste", paste_enabled, nullptr, paste_action},
    {1006, Popup::View, "&Size To Fit", nullptr, nullptr, nullptr},
    {1007, Popup::View, "&Full Screen\tAlt+Enter", nullptr, nullptr, nullptr},
    {kPause, Popup::State, "&Pause\tCtrl+S", nullptr, nullptr, pause_action},
    {1010, Popup::Window, "&Cascade", nullptr, nullptr, nullptr},
    {1011, Popup::Window, "&Tile", nullptr, nullptr, nullptr},
    {1012, Popup::Window, "&Arrange Icons", nullptr, nullptr, nullptr},
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
    const Command* c = find_command(id);
    return c && c->action && (!c->enabled || c->enabled());
}

void run_command(int id) {
    if (id == kMinimalExit) {
        frame_exit();
        return;
    }
    run_window_command(id, ui_active_window());
}

void run_window_command(int id, const WindowPtr& window) {
    if (!window) return;
    if (help_mode_intercepts(id)) return;  // help mode: the command's topic instead
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
    // Escape resumes a paused program (and ends a selection); otherwise it
    // is typed like any other character.
    if (key == Qt::Key_Escape && (mods & ~Qt::KeypadModifier) == Qt::NoModifier && run_state() == RunState::Paused)
        return kResume;
    return 0;
}

}  // namespace host
