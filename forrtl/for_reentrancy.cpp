#include "for_reentrancy.h"

#include <pthread.h>
#include <sched.h>
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include "for_lub.h"

namespace forrtl {

std::atomic<long> g_run_ender{0};
constinit thread_local int t_for_locks_held = 0;

Status for_take_lock(std::atomic<std::int32_t>& word) {
    for (int attempt = 0; attempt < kLockAttempts; ++attempt) {
        if (attempt > 0 && attempt % 100 == 0) sched_yield();
        if (word.exchange(1, std::memory_order_acquire) == 0) return 0;
    }
    return status_of(MSG_LOCK_CONTENTION);
}

bool for_try_lock(std::atomic<std::int32_t>& word) {
    return word.exchange(1, std::memory_order_acquire) == 0;
}

void for_release_lock(std::atomic<std::int32_t>& word) { word.store(0, std::memory_order_release); }

// ---------------------------------------------------------------------------
// The end of the run.

namespace {


// Threads that are parked or waiting for input; a slot holds a thread's
// number, 0 when free.  A thread that finds no free slot is not listed:
// its locks are then never taken over.
constexpr int kStoppedSlots = 32;
std::atomic<long> g_stopped[kStoppedSlots];

thread_local int t_stopped_slot = -1;
thread_local int t_host_query = 0;   // nested HostQueryScopes

void list_stopped() {
    const long me = for_thread_id();
    for (int i = 0; i < kStoppedSlots; ++i) {
        long free_slot = 0;
        if (g_stopped[i].compare_exchange_strong(free_slot, me)) {
            t_stopped_slot = i;
            return;
        }
    }
}

void unlist_stopped() {
    if (t_stopped_slot >= 0) g_stopped[t_stopped_slot].store(0);
    t_stopped_slot = -1;
}

}  // namespace

bool for_claim_run_end() {
    const long me = for_thread_id();
    long none = 0;
    return g_run_ender.compare_exchange_strong(none, me) || none == me;
}


void for_release_run_end() {
    long me = for_thread_id();
    g_run_ender.compare_exchange_strong(me, 0);
}

HostQueryScope::HostQueryScope() { ++t_host_query; }
HostQueryScope::~HostQueryScope() { --t_host_query; }
bool for_in_host_query() { return t_host_query > 0; }

void for_park_thread() {
    list_stopped();
    // The process ends on the ending thread; until then this thread sleeps.
    // Signals still run their handlers (a console event goes to the pipe).
    for (;;) pause();
}

void for_quiesce_statements(int timeout_ms) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
    while (for_units_held_by_running_threads() && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::microseconds(200));
}

void for_last_statement_lock_released() {
    // The statement is over: no further one once the run is ending.
    if (t_host_query == 0 && for_run_ending_elsewhere()) for_park_thread();
}

void for_input_wait_begin() { list_stopped(); }

void for_input_wait_end() {
    unlist_stopped();
    // Nothing of the statement is touched again once the run is ending: the
    // ending thread may have closed its unit meanwhile.
    if (t_host_query == 0 && for_run_ending_elsewhere()) for_park_thread();
}

bool for_start_signal_free_thread(void* (*body)(void*)) {
    sigset_t all, previous;
    sigfillset(&all);
    pthread_sigmask(SIG_SETMASK, &all, &previous);
    pthread_attr_t attr;
    pthread_attr_init(&attr);
    pthread_attr_setdetachstate(&attr, PTHREAD_CREATE_DETACHED);
    pthread_t thread;
    const bool started = pthread_create(&thread, &attr, body, nullptr) == 0;
    pthread_attr_destroy(&attr);
    pthread_sigmask(SIG_SETMASK, &previous, nullptr);
    return started;
}

bool for_thread_stopped(long owner) {
    if (owner <= 0) return false;
    for (const std::atomic<long>& slot : g_stopped)
        if (slot.load() == owner) return true;
    return false;
}

}  // namespace forrtl
