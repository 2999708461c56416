// Diagnostics: forming and showing numbered run-time messages, the common
// exit of failed I/O statements, the environment switches and the
// translation of processor exceptions (POSIX signals) into messages.
//
// A diagnostic line reads "%s (%i): %s": the severity prefix, the message
// number as a signed 16-bit value and the catalogue text with its arguments
// filled in.  Without a host it goes to standard error (or to the file named
// by FORT0, appended to); under a host it is shown in a message box titled
// "Velstra run-time error ".
#pragma once

#include <cstdint>

#include "for_status.h"

namespace forrtl {

struct Lub;

// Formats and shows the catalogue message of `code`.  With `nargs` > 0 the
// text is the printf format of the arguments that follow, in the order of
// its conversions (%d/%i int, %s const char*, %.*s int then const char*,
// %c int, %lx/%ld long).  For severity 3 the exit handler runs and the
// program ends with the status code as exit code (through the fatal hook
// when one is installed).
void for_report(Status code, int nargs, ...);

// Forms and shows the message as for_report does, but returns whatever the
// severity: the exit handler reports a failed close and goes on closing.
void for_report_and_continue(Status code, int nargs, ...);

// Forms the message as for_report does and writes it to standard error (or
// the FORT0 file), never to the host's box, and returns.  Nothing else is
// touched (no block is written out): for a report made on a thread other
// than the calculation's while that thread still runs.
void for_report_on_stderr(Status code, int nargs, ...);

// Reports message 540 + index with its 6000-range alternate number instead
// of its own; an index outside 0..219 reports message 8.
void for_report_alternate(int index, int nargs, ...);

// The alternate number of messages 540..759 (6000 + table value), or -1 for
// any other message.
int for_alternate_number(unsigned message);

// The math-error form: "\r\n" "run-time error " "M<number>" facility text
// message "\r\n" (facility index 0..17, above 17 the plain "\r\n- ").  Ends
// the program as a severe error does, with exit code 3.
void for_report_math_error(int number, const char* text, int facility);

// "%s: %s" with the system's text for errno value `err`, ending with CR LF.
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

// The thread's last-error record: status code, kept system error, 0, unit
// number, 0.  Overwritten by every failed I/O statement of the thread.
struct LastError {
    std::int32_t words[5];
};
const LastError& for_last_error();

// A boolean environment switch: on when the variable is set, not empty, and
// its value begins with T, t, Y or y, or consists only of decimal digits
// whose value is not 0.
bool for_env_switch(const char* name);

// Processor exceptions.  Installs the run-time's handler for SIGSEGV
// (157), SIGILL (168), SIGFPE (by its code) and SIGBUS (158) on the calling
// thread's process, unless FOR_IGNORE_EXCEPTIONS is on.  A signal for which
// the program already installed its own handler keeps it.  The handler
// writes the diagnostic line with async-signal-safe calls and ends the run
// with the status code as exit code; floating inexact (140) is reported and
// execution continues with the inexact trap masked.
void for_install_exception_handlers();

// The message number for a signal and its si_code (0 when the run-time does
// not handle the signal).
unsigned for_signal_message(int signo, int si_code);

// The run-time's own trap, by its parameter: -1 integer overflow (70), -2
// integer divide by zero (71), -3 to -7 the floating traps (72, 73, 74, 65,
// 140), -8 to -11 decimal and reserved-operand traps (141 to 144), -12 to
// -17 checks (145 to 150), -18 array index out of bounds (154), -19 to -25
// the same for index 1 to 7 (155), any other value "GENTRAP code" (156).
// Reports and ends the run with the status code, whatever the severity.
void for_report_trap(int parameter);

// Floating-point traps counted during the run, reported at exit when the
// start-up option word asks for them (bit 9 underflow, 8 overflow, 10
// divide by zero, 11 invalid): each non-zero count as information.
struct TrapCounts {
    int underflow, overflow, divide_by_zero, invalid;
};
void for_report_trap_counts(std::uint32_t option_word, const TrapCounts& counts);

// The fatal path.  Tests install a hook that observes the end of the
// program instead of ending the test process; the hook must not return
// (it may throw or longjmp out in a test).
using FatalHook = void (*)(int exit_code);
void for_set_fatal_hook(FatalHook hook);
[[noreturn]] void for_terminate(int exit_code);

}  // namespace forrtl
