// The host operations: the services of a windowed console host that the
// run-time calls on the calculation thread.  A host registers the table at
// start-up; without one (g_host == nullptr) console units are the process's
// standard input, output and error.  Every operation reports failure as -1
// (or 0 for the yes/no ones) and never throws.
#pragma once

namespace forrtl {

// Message box styles (the subset the run-time asks for).
enum : unsigned {
    MB_OK_BUTTON = 0x0000,
    MB_YESNO_BUTTONS = 0x0004,
    MB_ICON_ERROR = 0x0010,
    MB_ICON_EXCLAMATION = 0x0030,
    MB_DEFAULT_BUTTON2 = 0x0100,
    MB_TASK_MODAL = 0x2000,
};
enum : int { MB_ANSWER_YES = 6, MB_ANSWER_NO = 7 };

struct HostOps {
    int (*write_text)(const char* text, int length, int window, int mode);
    int (*read_line)(char* buffer, int capacity, int window);
    int (*open_window)(const char* title);  // title may be nullptr
    int (*select_window)(int window);        // -1: the default window
    int (*activate_window)(int window);
    int (*current_window)();
    int (*keep_window_current)(int window);
    int (*close_window)(int window, int keep);
    int (*message_box)(const char* text, const char* title, unsigned style);
    int (*choose_file)(char* buffer, int capacity, const char* title);
    int (*program_exit)(int exit_code);
    int (*set_code_page)(int code_page);
    // Optional (may be nullptr): called before each record is transferred
    // to or from a file or device that is not a window, so that a paused
    // program stops there as it does at the window operations.
    void (*transfer_gate)();
    // Optional (may be nullptr): a console event or SIGTERM reached a
    // windowed program.  The host closes the application as its Exit
    // command does (no box, no question; the program stops at its next
    // step and the exit handler closes every unit), and the process ends
    // with `exit_code`, unless the program has already ended with a code of
    // its own.  Returns at once; called on the run-time's watcher thread.
    void (*close_application)(int exit_code);
};

// The registered host, or nullptr when the run-time runs on its own.
extern const HostOps* g_host;

void for_register_host(const HostOps* ops);

// The queries the host asks of the run-time (the window a unit writes to,
// the unit connected to a window).  The run-time's initialisation registers
// them here whether or not a host is present; a host reads them when it
// needs them.  nullptr until the initialisation.
extern int (*g_host_unit_to_window)(const int* unit);
extern int (*g_host_window_to_unit)(int window);

}  // namespace forrtl
