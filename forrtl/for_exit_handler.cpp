// The exit handler: the end of every run (STOP, end of the main program,
// severe errors, console events, the host's frame destruction).
#include "for_exit_handler.h"

#include <cstdint>

#include "for_diags.h"
#include "for_reentrancy.h"
#include "for_startup.h"

namespace forrtl {

void (*g_close_all_units)() = nullptr;
std::atomic<bool> g_units_opened{false};
FpTrapCounts g_fp_trap_counts{};

namespace {

// Taken by the first call and never released.
std::atomic<std::int32_t> g_exit_lock{0};

void report_trap_counts() {
    struct Row {
        std::uint32_t option;
        std::atomic<int>* count;
        unsigned message;
    };
    const Row rows[] = {
        {FPO_COUNT_UNDERFLOW, &g_fp_trap_counts.underflow, 300},
        {FPO_COUNT_OVERFLOW, &g_fp_trap_counts.overflow, 298},
        {FPO_COUNT_DIVIDE, &g_fp_trap_counts.divide, 299},
        {FPO_COUNT_INVALID, &g_fp_trap_counts.invalid, 297},
    };
    for (const Row& row : rows) {
        int count = row.count->load();
        if ((g_fp_option_word & row.option) && count != 0) for_report(status_of(row.message), 1, count);
    }
}

}  // namespace

bool for_exit_handler_running() { return g_exit_lock.load(std::memory_order_acquire) != 0; }

void for_exit_handler() {
    // The exit lock first, so that a second call (the host's frame
    // destruction after a STOP, a severe error inside the handler) neither
    // reports the counts again nor closes anything.
    if (!for_try_lock(g_exit_lock)) return;
    report_trap_counts();
    if (!g_units_opened.exchange(false)) return;
    if (g_close_all_units) g_close_all_units();
}

}  // namespace forrtl
