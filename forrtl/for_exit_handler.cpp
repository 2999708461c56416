// The exit handler: the end of every run (STOP, end of the main program,
// severe errors, console events, the host's frame destruction).
#include "for_exit_handler.h"

#include <cstdint>

#include "for_diags.h"
#include "for_reentrancy.h"
#include "for_startup.h"
#include "for_wbuf.h"

namespace forrtl {

void (*g_close_all_units)() = nullptr;
std::atomic<bool> g_units_opened{false};
FpTrapCounts g_fp_trap_counts{};

namespace {

// Taken by the first call and never released.
std::atomic<std::int32_t> g_exit_lock{0};

std::atomic<Status> g_exit_failure{0};

void report_trap_counts() {
    const TrapCounts counts{g_fp_trap_counts.underflow.load(), g_fp_trap_counts.overflow.load(),
                            g_fp_trap_counts.divide.load(), g_fp_trap_counts.invalid.load()};
    for_report_trap_counts(g_fp_option_word, counts);
}

}  // namespace

Status for_exit_failure() { return g_exit_failure.load(); }

void for_note_exit_failure(Status code) {
    Status none = 0;
    g_exit_failure.compare_exchange_strong(none, code);
}

bool for_exit_handler_running() { return g_exit_lock.load(std::memory_order_acquire) != 0; }

void for_exit_handler() {
    // The thread that ends the run closes the units, once every other
    // thread stands at a statement boundary; a call from another thread
    // meanwhile returns at once.
    if (!for_claim_run_end()) return;
    for_quiesce_statements(kQuiesceTimeoutMs);
    // The exit lock first, so that a second call (the host's frame
    // destruction after a STOP, a severe error inside the handler) neither
    // reports the counts again nor closes anything.
    if (!for_try_lock(g_exit_lock)) return;
    report_trap_counts();
    // Standard output's block too, when no unit was ever opened.
    for_wbuf_flush_all();
    if (!g_units_opened.exchange(false)) return;
    if (g_close_all_units) g_close_all_units();
}

}  // namespace forrtl
