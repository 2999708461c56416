// The host's command table: one row per menu command (number, popup, item
// text with its shortcut after the tab, enabling rule, check mark, action).
// The frame builds the full menu bar from it and the text window's key
// handling finds its shortcuts in it, so menus and keys act alike.
#pragma once

#include <Qt>

#include "host_state.h"

namespace host {

enum class Popup { File, Edit, View, State, Window, Help };

struct Command {
    int id;
    Popup popup;
    const char* text;
    bool (*enabled)();  // nullptr: always enabled
    bool (*checked)();  // nullptr: no check mark
    // Acts on the text window the command was sent to (the active one for
    // a menu item, the one that took the key for a shortcut); nullptr: the
    // command is not available in this build.
    void (*action)(const WindowPtr& window);
};

// The full menu in the order its items are built.
extern const Command kCommands[];
extern const int kCommandCount;

// The minimal menu bar's only command ("E&xit").
constexpr int kMinimalExit = 10;
// Pause and Resume share the "&State" item.
constexpr int kPause = 1008;
constexpr int kResume = 1009;

const Command* find_command(int id);
// Whether the command's item is available and enabled now.
bool command_enabled(int id);
// The frame's command handling: the minimal Exit closes the application;
// every other command goes to the active text window and does nothing
// without one.
void run_command(int id);
// A command sent by a text window's key handling to that window.
void run_window_command(int id, const WindowPtr& window);
// The command a key sends from a text window, or 0.  A shortcut acts only
// when its item exists (the full menu is built) and, for those that say
// so, when the item is enabled.
int shortcut_command(int key, Qt::KeyboardModifiers modifiers, bool auto_repeat);

}  // namespace host
