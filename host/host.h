// The windowed console host: an MDI frame whose text windows show the
// run-time's console units, with the program running on a calculation
// thread of its own.  The host registers its operations with the run-time
// (forrtl's HostOps); the run-time stays free of Qt.
#pragma once

#include <string>

class QWidget;

namespace host {

// The program the calculation thread runs: the run-time's initialisation
// and the main program, given the command line.
using Program = void (*)(int argc, char** argv);

// Runs the application: QApplication, frame, first text window, the
// calculation thread running `program`, and the interface thread's event
// loop until the application closes.  Returns the exit code the process
// should end with (the program's own code once it has ended, else 0); the
// caller ends the process with it without running static destructors
// (std::_Exit), since the calculation thread may still be parked.
int run_windowed(int argc, char** argv, Program program);

// Whether the display named by WAYLAND_DISPLAY or DISPLAY answers (a local
// X server's socket, a Wayland socket; a display on another host is taken
// as given).  Needs no QApplication.
bool display_answers();

// The entry data file the user can open from the window, while the program
// waits for a line: the program item `item_text` (command 1101, first in
// the "&File" popup; grayed otherwise and while the program is paused or
// has ended) opens a file dialog, and a file dropped on the window does
// the same.  `accept` runs on the interface thread with the file's path:
// it gets the program ready for that file (its working folder) and gives
// the line to type as the answer, or returns false with the reason, which
// a box shows.  The host then types the line and Enter for the user, in
// place of what was typed so far.  Set before run_windowed (or
// initialise); nullptr (the default) adds no item and takes no drops.
struct EntryFileRule {
    const char* item_text;
    const char* dialog_title;
    const char* filters;  // as Qt writes them: "Name (*.ext);;All Files (*)"
    bool (*accept)(const char* path, std::string* line, std::string* error);
};
void set_entry_file_rule(const EntryFileRule* rule);

// ---------------------------------------------------------------------------
// The steps of run_windowed, for tests that drive the host in-process.

// Host initialisation on the interface thread (a QApplication must exist):
// frame, menus, status bar, first text window (1024), host operations
// registered with the run-time.  0, or -1 (a second call shows the warning
// box for code 6 and returns -1).
int initialise();
// Starts the calculation thread (below normal priority) running `program`.
void start_calculation(Program program, int argc, char** argv);
// The exit code once the application has closed (see run_windowed).
int exit_code();

// ---------------------------------------------------------------------------
// Replaceable parts, for tests.

// The boxes and the file dialog that the host shows on the interface
// thread.  message_box returns the button pressed (1 OK, 6 Yes, 7 No);
// choose_file fills the buffer and returns 1, or 0 when cancelled.
struct DialogProvider {
    int (*message_box)(const char* text, const char* title, unsigned style);
    int (*choose_file)(char* buffer, int capacity, const char* title);
    // The file dialog of the entry file item: `filters` as Qt writes them
    // ("Name (*.ext);;All Files (*)").  nullptr: the standard dialog.
    int (*open_file)(char* buffer, int capacity, const char* title, const char* filters) = nullptr;
};
// nullptr restores the standard dialogs.
void set_dialog_provider(const DialogProvider* provider);

// How the fatal path ends the process (default: flush stdio, _Exit).  A
// test hook may record the code and return; the fatal path then returns.
using ProcessEnd = void (*)(int exit_code);
void set_process_end(ProcessEnd end);

// Exit hooks, run in registration order by the fatal path; at most 32.
// Returns 1, or 0 when the list is full.
int register_exit_hook(void (*hook)());

// The fatal path: the fatal box for `code` (none for 0), the minimal menu
// back, the exit hooks, then the process ends with -1.
void fatal(int code, const char* module, int line);

// Makes an exit() that does not come from the host itself (Qt's display
// connection calls it when the display goes away) close every unit with
// the run-time's exit handler, boxes going to standard error, and end the
// process at once with the program's exit code, or 1 when the program had
// not ended.  run_windowed calls it once the application object exists.
void guard_unexpected_exit();

// The exit behaviour: 1 prompt, 2 close at once, 3 keep the windows
// without asking.  Returns 0, or -1 for another value.
int set_exit_behaviour(int behaviour);

// ---------------------------------------------------------------------------
// Observations, for tests and benchmarks (any thread).

// The text store of a window as lines joined by "\n" (rows never written
// left out, a blank write as an empty line).
std::string window_text(int window);
std::string window_title(int window);
// The cursor of a window, 1-based and relative to its text region.
bool window_cursor(int window, int* column, int* row);
// Whether the window is shown (configured and visible).
bool window_shown(int window);
std::string state_word();
std::string status_message();
// The widget that shows the window and takes its keys (interface thread).
QWidget* window_view(int window);
// Number of beeps given so far.
int beep_count();
// True while a line read waits for input in `window`.
bool read_pending(int window);
// Called once, on the interface thread, after the first paint of a text
// window (for the start-up benchmark).
void set_first_paint_hook(void (*hook)());

}  // namespace host
