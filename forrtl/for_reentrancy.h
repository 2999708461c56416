// The run-time lock: a word taken by atomically exchanging 1 into it.  It
// guards the one-time initialisations, the FORT0 redirection of the
// diagnostics and the exit handler; unit slots use the same rule for their
// lock words.
#pragma once

#include <atomic>
#include <cstdint>

#include "for_lub.h"
#include "for_status.h"

namespace forrtl {

// Attempts to take `word` before giving up.
constexpr int kLockAttempts = 50000;

// Takes the lock word: up to kLockAttempts exchanges, yielding the processor
// before every hundredth retry.  Returns 0, or the status of "unresolved
// contention for KSM Fortran RTL global resource" (152) when the word stays
// held.
Status for_take_lock(std::atomic<std::int32_t>& word);

// One exchange only, no waiting: true when the word was taken.  Safe in a
// signal handler.
bool for_try_lock(std::atomic<std::int32_t>& word);

void for_release_lock(std::atomic<std::int32_t>& word);

// ---------------------------------------------------------------------------
// The end of the run and the statements of other threads.
//
// One thread ends the run (a STOP, a severe error, a console event or
// SIGTERM on the watcher thread, the host's frame destruction): it claims
// the end, waits until every other thread stands at a statement boundary,
// and only then reports and closes the units.  A thread is inside a
// statement while it holds a unit lock; the ending thread looks at the
// unit locks themselves (a lock is taken, and the claim looked at after,
// with sequentially consistent operations, so that either the ending
// thread sees the lock held or the statement sees the claim).  Once the
// end is claimed, another
// thread makes no further statement: at its next statement start or end,
// and when it comes out of a wait for console input, it parks for good.  A
// thread waiting for input (in poll, before the read that would store into
// the record buffer) counts as stopped, and the ending thread may take over
// the unit locks that a stopped thread holds.

// The thread that ends the run (for_thread_id), 0 while none does.
extern std::atomic<long> g_run_ender;

// The calling thread takes the end of the run: true when it is the first to
// claim it (or claimed it before), false when another thread is ending it.
bool for_claim_run_end();
// True when a thread other than the caller has claimed the end of the run.
inline bool for_run_ending_elsewhere() {
    const long ender = g_run_ender.load();
    return ender != 0 && ender != for_thread_id();
}
// True when the caller has claimed the end of the run.
inline bool for_is_run_ender() {
    const long ender = g_run_ender.load();
    return ender != 0 && ender == for_thread_id();
}
// Gives up the claim: only for a test's fatal hook, after which the test
// process goes on.
void for_release_run_end();

// The calling thread makes no further statement: it waits until the process
// ends.  The unit locks it holds may be taken over by the ending thread.
[[noreturn]] void for_park_thread();

// The ending thread waits until every other thread is out of its statements
// or stopped (parked, or waiting for input): at most `timeout_ms`, after
// which the units still held by a running statement are left alone.
void for_quiesce_statements(int timeout_ms);
// How long an ending thread waits for the others: a statement that blocks
// elsewhere than in a wait for input (a write to a full pipe, the host's
// line input) is not waited for longer.
constexpr int kQuiesceTimeoutMs = 2000;

// The unit table's bookkeeping: a unit lock taken or released by the
// calling thread (a count of its own).  Released to none, the thread parks
// when another thread ends the run.
constinit extern thread_local int t_for_locks_held;  // unit locks the thread holds
inline void for_statement_lock_taken() { ++t_for_locks_held; }
void for_last_statement_lock_released();
inline void for_statement_lock_released() {
    if (t_for_locks_held > 0 && --t_for_locks_held == 0 && g_run_ender.load() != 0)
        for_last_statement_lock_released();
}

// Around a wait for input that may last (poll on a terminal or pipe): the
// thread counts as stopped while it waits; when the run's end was claimed
// meanwhile, for_input_wait_end parks it.
void for_input_wait_begin();
void for_input_wait_end();

// True when the thread `owner` (as for_thread_id numbers it) is parked or
// waiting for input, so that the ending thread may take over its locks.
bool for_thread_stopped(long owner);

// Starts a detached thread of the run-time running `body` with every signal
// blocked, so that signals land on the program's threads; false when it
// could not be started.
bool for_start_signal_free_thread(void* (*body)(void*));

// The host's queries (unit to window, window to unit) run on the host's
// interface thread, which must keep running to show the end of the run:
// within such a scope the thread never parks, and once another thread ends
// the run its unit lookups fail instead.
struct HostQueryScope {
    HostQueryScope();
    ~HostQueryScope();
    HostQueryScope(const HostQueryScope&) = delete;
    HostQueryScope& operator=(const HostQueryScope&) = delete;
};
bool for_in_host_query();

}  // namespace forrtl
