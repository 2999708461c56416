// Diagnostics: forming and showing numbered run-time messages, and the
// common exit of failed I/O statements.
#pragma once

#include "for_status.h"

namespace forrtl {

struct Lub;

// Formats and shows the catalogue message of `code` with `nargs` printf
// arguments.  For severity 3 the exit handler runs and the program ends
// with the status code as exit code (through the fatal hook when one is
// installed).
void for_report(Status code, int nargs, ...);

// Reports message 540 + index with its 6000-range alternate number.
void for_report_alternate(int index, int nargs, ...);

// The math-error form (facility texts by index); ends the program with
// exit code 3.
void for_report_math_error(int number, const char* text, int facility);

// "%s: %s" with the system's text for errno value `err`.
void for_report_system_error(const char* prefix, int err);

// Actions of for_handle_io_error.
enum IoErrorAction { IOERR_KEEP = 0, IOERR_RELEASE = 1, IOERR_CLEAR_RELEASE = 2, IOERR_CLOSE = 3 };

// The common exit of a failed statement: returns the statement's result
// (message number, -1 end of file, -2 end of record) or reports.
int for_handle_io_error(int action, Status code, Lub* lub);

// What the unit layer plugs into the common I/O exit.  Any entry may stay
// null: its step is then skipped.
struct IoErrorHooks {
    // Clears the pending-record flags of the unit's shared device node.
    void (*clear_pending)(Lub* lub);
    // Called for units 6, -2, 0 and -1 in that order before a report: when
    // the unit is connected, its device node says the console line is open
    // and its handle is where diagnostics go, writes one LF to it and marks
    // the line closed, so that the message starts on a new line.
    void (*console_line_feed)(int unit);
    // Actions 1 to 3 (index by IoErrorAction; entry 0 stays null).
    Status (*action[4])(Lub* lub);
};
extern IoErrorHooks g_io_error_hooks;

// The fatal path.  Tests install a hook that observes the end of the
// program instead of ending the test process; the hook must not return
// (it may throw or longjmp out in a test).
using FatalHook = void (*)(int exit_code);
void for_set_fatal_hook(FatalHook hook);
[[noreturn]] void for_terminate(int exit_code);

}  // namespace forrtl
