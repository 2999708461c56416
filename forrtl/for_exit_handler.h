// Termination: the exit handler closes every connected unit once.
#pragma once

#include <atomic>

#include "for_status.h"

namespace forrtl {

// Runs its work once per process (later calls return at once): claims the
// end of the run (a call from another thread while one thread ends it
// returns), waits until the other threads stand at a statement boundary,
// reports the floating-point trap counts the option word asks for, takes
// the exit lock for good and, when a file was ever connected, closes every
// connected unit with the dispositions that stand.
void for_exit_handler();

// True once the exit handler has started (the exit lock is held): CLOSE
// then keeps window units' windows.
bool for_exit_handler_running();

// Set by the unit table when it is first used: closes every connected unit
// in table order, reporting failures and going on.
extern void (*g_close_all_units)();

// The first error the closing of the units reported (a block that could not
// be written out, a failed close), 0 when none.  A run that ends with a STOP
// or a console event after such a failure exits with this status code
// instead of its own, so that lost records never end with status 0.
Status for_exit_failure();
void for_note_exit_failure(Status code);
// The exit code of a run ending with `code`: the closing's failure when
// there was one.
inline int for_exit_code(int code) {
    const Status failure = for_exit_failure();
    return failure ? static_cast<int>(failure) : code;
}

// The units-opened flag: the unit layer sets it when it connects a file;
// the exit handler has work only when it is set, and clears it.
extern std::atomic<bool> g_units_opened;
inline void for_note_unit_connected() { g_units_opened.store(true, std::memory_order_release); }

// Floating-point traps counted by the exception handling when the option
// word asks for it (bits 8-11); reported as information at exit.
struct FpTrapCounts {
    std::atomic<int> invalid;
    std::atomic<int> overflow;
    std::atomic<int> divide;
    std::atomic<int> underflow;
};
extern FpTrapCounts g_fp_trap_counts;

}  // namespace forrtl
