// Start-up of the run-time: the initialisation that runs before the main
// program's first statement, the two checks the main program makes on entry
// (division check, threading level), console control events, the host's
// unit/window queries and the command-line arguments.
#pragma once

#include <cstdint>

#include "for_status.h"

namespace forrtl {

// Floating-point option word bits (compiled into the program).
enum : std::uint32_t {
    FPO_TRAP_UNDERFLOW = 1u << 0,
    FPO_TRAP_OVERFLOW = 1u << 1,
    FPO_TRAP_DIVIDE = 1u << 2,
    FPO_TRAP_INVALID = 1u << 3,
    FPO_COUNT_OVERFLOW = 1u << 8,
    FPO_COUNT_UNDERFLOW = 1u << 9,
    FPO_COUNT_DIVIDE = 1u << 10,
    FPO_COUNT_INVALID = 1u << 11,
    FPO_UNDERFLOW_TO_ZERO = 1u << 16,
};

// The option word given to the initialisation (0 until then).
extern std::uint32_t g_fp_option_word;

// Run-time initialisation, once per process: unit table, init-done lock,
// console control handling, host queries, floating-point reset and control
// from `fp_options`, code page report to the host, and the command-line
// arguments handed to the unit layer for missing file names.
// Returns 0, or the status of the contended init-done lock (152) when the
// initialisation has already run.
Status for_rtl_init(int argc, char** argv, std::uint32_t fp_options);

// A standard descriptor (0, 1, 2) that the process was started without
// gets /dev/null opened the wrong way round, so that no descriptor opened
// later lands there and the console unit on it finds it unusable.  The
// initialisation does it; a program that opens descriptors of its own
// before (a windowed host's display connection) calls it first thing.
void for_occupy_standard_descriptors();

// In a child process the run-time starts (print and submit dispositions),
// before its exec: the signals the run-time ignores for itself (a file size
// limit, a broken pipe) get their default disposition back.  Only
// async-signal-safe calls.
void for_default_signals_for_child();

// The answer to the program's first read from the console, given before
// the program starts (on its command line): the first record read from
// console input (standard input, or the console window under a host) is
// `text`, as if the user had typed it, and the console is not read for it.
// It is shown where typing shows it: in the window after the prompt, on
// the console as a terminal echoes a typed line (the text and a line end,
// on the line the prompt left open).  At most 128 bytes are kept; nullptr
// takes a preset answer back.
void for_preset_console_answer(const char* text, int length);

// Floating-point control from an option word: bits 0-3 unmask underflow,
// overflow, divide-by-zero and invalid; inexact stays masked.  Bit 16 with
// bit 9 clear sets flush-to-zero.  Pending exceptions are cleared first.
void for_set_fp_control(std::uint32_t option_word);

// The code page reported to the host for a codeset name (nl_langinfo):
// 65001 for UTF-8, 932/936/949/950 for the East Asian double-byte sets,
// otherwise 1252.
int for_code_page_for_codeset(const char* codeset);

// The division check: 4195835.0 / 3145727.0, back-multiplied and subtracted.
// for_division_residue gives the residue of the check for any operands so
// that a flawed divider can be simulated; 0 means correct.
double for_division_residue(double dividend, double divisor);
// Reports 201 (severe: the program ends) when `residue` is not 0 and
// FOR_RUN_FLAWED_PENTIUM is not on.
void for_check_division_result(double residue);
// The processor check of the main program's first statement.
void for_check_processor();

// Threading level: 0 single thread, 1 signals masked under locks, 2 and
// above also mutexes.  Initial value 2.  Returns the previous level; a
// program value of 3 keeps the current level.
int for_set_threading_level(const int* level);
int for_threading_level();

// Console control events.  POSIX signals stand for the console events:
// SIGINT control-C (event 0), SIGQUIT control-BREAK (event 1), SIGHUP close
// (event 2); SIGTERM is handled the same way.  Installed by the
// initialisation; a signal whose disposition is not the default at
// installation (the program's own handler, or ignored) is left alone, and a
// handler the program installs later replaces ours.  Under a host that
// closes the application on request (HostOps::close_application) the event
// writes its message to standard error and leaves the rest to the host.
void for_install_console_handler();
// What the event does: claims the end of the run (and returns at once when
// a STOP or an error is already ending it), waits until the other threads
// stand at a statement boundary, reports 200 with the event text, runs the
// exit handler, tells the host and ends the process with the event number
// (the status of a failed close instead, see for_exit_code).
void for_console_event(int event);
// SIGTERM: the same, with "process killed (SIGTERM)" (78, error severity)
// and the exit status 143 (128 + SIGTERM, as a shell shows a job ended by
// the signal).
void for_termination_request();
constexpr int kTerminationExitCode = 128 + 15;

// The host's queries, registered at initialisation.  Without an active host
// both report 655 with its alternate number (severe).
int for_unit_to_window(const int* unit);
int for_window_to_unit(int window);

}  // namespace forrtl
