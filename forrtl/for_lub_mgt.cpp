// The unit table: 105 direct slots for units -4 to 99 and 521 hash buckets
// with chains sorted by unit number for units 100 and above; the internal
// unit -5 lives on a per-thread stack outside the table.  Every statement
// looks its unit up here and holds the block until it releases it.
#include <sched.h>
#include <signal.h>

#include <climits>
#include <cstdlib>
#include <cstring>
#include <mutex>

#include "for_diags.h"
#include "for_exit_handler.h"
#include "for_io.h"
#include "for_lub.h"
#include "for_reentrancy.h"

namespace forrtl {

// Until the main program sets its own level: the safe one for any number
// of threads.
int g_threading_level = 2;

namespace {

constexpr int kInternalAreaSize = 84;

struct UnitSlot {
    LockHeader lock;
    Lub* head;  // direct slots: the block itself; buckets: the sorted chain
};

UnitSlot g_slots[kUnitSlots];
std::atomic<std::int32_t> g_init_word{0};
std::atomic<bool> g_table_ready{false};

// Internal-unit stacks: one per thread at threading level 2 and above, one
// for the process below.
thread_local Lub* t_internal_stack = nullptr;
Lub* g_internal_stack = nullptr;
Lub*& internal_stack() { return g_threading_level >= 2 ? t_internal_stack : g_internal_stack; }

std::atomic<long> g_next_thread_id{1};

// Interrupt and abort are held off while a thread holds a unit lock at
// threading level 1 and above.
thread_local int t_signal_depth = 0;
thread_local struct sigaction t_saved_int, t_saved_abrt;

void hold_signals() {
    if (g_threading_level < 1) return;
    if (t_signal_depth++ > 0) return;
    struct sigaction ignore {};
    ignore.sa_handler = SIG_IGN;
    sigemptyset(&ignore.sa_mask);
    sigaction(SIGINT, &ignore, &t_saved_int);
    sigaction(SIGABRT, &ignore, &t_saved_abrt);
}

void restore_signals() {
    if (g_threading_level < 1 || t_signal_depth == 0) return;
    if (--t_signal_depth > 0) return;
    sigaction(SIGINT, &t_saved_int, nullptr);
    sigaction(SIGABRT, &t_saved_abrt, nullptr);
}

void init_header(LockHeader& h) {
    h.lock.store(0);
    h.owner.store(-1);
    h.busy.store(false);
    h.mutex = g_threading_level >= 2 ? new (std::nothrow) std::mutex : nullptr;
}

void free_header(LockHeader& h) {
    delete static_cast<std::mutex*>(h.mutex);
    h.mutex = nullptr;
}

void init_table() {
    if (g_table_ready.load(std::memory_order_acquire)) return;
    if (for_runtime_lock(g_init_word) != 0) return;  // another thread is initialising; it wins
    if (!g_table_ready.load()) {
        for (UnitSlot& s : g_slots) {
            init_header(s.lock);
            s.head = nullptr;
        }
        g_close_all_units = for_close_all_units;
        g_io_error_hooks.clear_pending = for_clear_pending;
        g_io_error_hooks.console_line_feed = for_console_line_feed;
        g_io_error_hooks.action[IOERR_RELEASE] = for_io_error_release;
        g_io_error_hooks.action[IOERR_CLEAR_RELEASE] = for_io_error_clear_release;
        g_io_error_hooks.action[IOERR_CLOSE] = for_io_error_close;
        g_table_ready.store(true, std::memory_order_release);
    }
    for_runtime_unlock(g_init_word);
}

// The thread ending the run takes over the lock of a thread that is parked
// or waiting for input: that thread never touches the unit again.  Its
// mutex stays with it.
bool take_over(LockHeader& h) {
    if (!h.busy.load() || !for_is_run_ender() || !for_thread_stopped(h.owner.load())) return false;
    h.owner.store(for_thread_id());
    h.taken_over = true;
    for_statement_lock_taken();
    return true;
}

// The lock word of a free header taken, or false when it is held.  The
// exchange is sequentially consistent: it comes before the claim of the
// end of the run is looked at (see for_units_held_by_running_threads).
// The owner and busy flag are only compared with the calling thread's own
// identifier: the lock word orders them, no fence of their own is needed.
bool take_free_lock(LockHeader& h, long me) {
    if (h.lock.exchange(1) != 0) return false;
    h.owner.store(me, std::memory_order_relaxed);
    h.busy.store(true, std::memory_order_relaxed);
    return true;
}

void give_back_lock(LockHeader& h) {
    h.busy.store(false, std::memory_order_relaxed);
    h.owner.store(-1, std::memory_order_relaxed);
    for_runtime_unlock(h.lock);
}

Status lock_header(LockHeader& h) {
    long me = for_thread_id();
    if (h.busy.load() && h.owner.load() == me) return status_of(MSG_RECURSIVE_IO);
    if (for_is_run_ender()) {
        // Ending the run: the holder may be a stopped thread, whose mutex
        // and lock word are never released.
        for (int attempt = 0;; ++attempt) {
            if (take_over(h)) return 0;
            if (!h.mutex || static_cast<std::mutex*>(h.mutex)->try_lock()) {
                std::int32_t expected = 0;
                if (h.lock.compare_exchange_strong(expected, 1)) break;
                if (h.mutex) static_cast<std::mutex*>(h.mutex)->unlock();
            }
            if (attempt >= kLockAttempts) return status_of(MSG_LOCK_CONTENTION);
            if (attempt % 100 == 99) sched_yield();
        }
    } else {
        if (h.mutex) static_cast<std::mutex*>(h.mutex)->lock();
        for (int attempt = 0;; ++attempt) {
            if (take_free_lock(h, me)) break;
            // The unit is being closed by the thread that ends the run: this
            // statement never runs.
            const bool ending = for_run_ending_elsewhere();
            if (ending || attempt >= kLockAttempts) {
                if (h.mutex) static_cast<std::mutex*>(h.mutex)->unlock();
                if (ending && !for_in_host_query()) for_park_thread();
                return status_of(MSG_LOCK_CONTENTION);
            }
            if (attempt % 100 == 99) sched_yield();
        }
    }
    h.owner.store(me, std::memory_order_relaxed);
    h.busy.store(true, std::memory_order_relaxed);
    hold_signals();
    for_statement_lock_taken();
    return 0;
}

void unlock_header(LockHeader& h) {
    const bool taken_over = h.taken_over;
    h.taken_over = false;
    give_back_lock(h);
    if (!taken_over) {
        if (h.mutex) static_cast<std::mutex*>(h.mutex)->unlock();
        restore_signals();
    }
    for_statement_lock_released();
}

// One attempt at a block's lock (used under a bucket lock, which must not
// be held while waiting).
bool try_lock_header(LockHeader& h) {
    std::int32_t expected = 0;
    if (!h.lock.compare_exchange_strong(expected, 1)) return take_over(h);
    if (h.mutex) static_cast<std::mutex*>(h.mutex)->lock();
    h.owner.store(for_thread_id(), std::memory_order_relaxed);
    h.busy.store(true, std::memory_order_relaxed);
    hold_signals();
    for_statement_lock_taken();
    return true;
}

// A statement that starts while another thread ends the run does not run:
// the lock just taken is given back and the thread parks (a host query
// fails instead).  The lock is taken first, the claim looked at after, so
// that the ending thread either sees this statement running or this thread
// sees the claim.
Status statement_gate(LockHeader& h) {
    if (!for_run_ending_elsewhere()) return 0;
    unlock_header(h);  // parks, unless in a host query
    return status_of(MSG_LOCK_CONTENTION);
}

Lub* new_block(std::int32_t unit) {
    Lub* b = new (std::nothrow) Lub{};
    if (!b) return nullptr;
    init_header(b->lock);
    b->unit = unit;
    b->handle = -1;
    b->device_code = -1;
    b->rec.end_mark = -1;
    return b;
}

bool is_direct(std::int32_t unit) { return unit + 5 < kDirectSlots; }
int bucket_of(std::int32_t unit) { return kDirectSlots + (unit + 5) % kHashBuckets; }

void pop_internal(Lub* b) {
    for (Lub** link = &internal_stack(); *link; link = &(*link)->next) {
        if (*link == b) {
            *link = b->next;
            return;
        }
    }
}

void free_block(Lub* b) {
    for_clear_connection(b);
    std::free(b->internal_area);
    free_header(b->lock);
    delete b;
}

}  // namespace

constinit thread_local long t_for_thread_id = 0;

long for_new_thread_id() { return g_next_thread_id.fetch_add(1); }

Status for_runtime_lock(std::atomic<std::int32_t>& word) {
    for (int attempt = 0; attempt < kLockAttempts; ++attempt) {
        if (word.exchange(1, std::memory_order_acquire) == 0) return 0;
        if (attempt % 100 == 99) sched_yield();
    }
    return status_of(MSG_LOCK_CONTENTION);
}

void for_runtime_unlock(std::atomic<std::int32_t>& word) { word.store(0, std::memory_order_release); }

Status for_lookup_unit(std::int32_t unit, int kind, Lub** out) {
    *out = nullptr;
    init_table();
    if (unit < kInternalUnit || unit > INT_MAX - 5) return status_of(MSG_INVALID_UNIT);

    if (unit == kInternalUnit) {
        Lub* b = new_block(unit);
        if (!b) return status_of(MSG_NO_MEMORY);
        b->internal_area = static_cast<char*>(std::calloc(1, kInternalAreaSize));
        if (!b->internal_area) {
            free_block(b);
            return status_of(MSG_NO_MEMORY);
        }
        b->next = internal_stack();
        internal_stack() = b;
        *out = b;
        return 0;
    }

    Lub* b = nullptr;
    bool existed = true;
    if (is_direct(unit)) {
        UnitSlot& slot = g_slots[unit + 5];
        Status s = lock_header(slot.lock);
        if (s != 0) return s;
        if ((s = statement_gate(slot.lock)) != 0) return s;
        if (!slot.head) {
            slot.head = new_block(unit);
            if (!slot.head) {
                unlock_header(slot.lock);
                return status_of(MSG_NO_MEMORY);
            }
            existed = false;
        }
        b = slot.head;
    } else {
        UnitSlot& bucket = g_slots[bucket_of(unit)];
        long me = for_thread_id();
        for (int attempt = 0;; ++attempt) {
            Status s = for_runtime_lock(bucket.lock.lock);
            if (s != 0) return s;
            Lub** link = &bucket.head;
            while (*link && (*link)->unit < unit) link = &(*link)->next;
            b = *link;
            if (!b || b->unit != unit) {
                b = new_block(unit);
                if (!b) {
                    for_runtime_unlock(bucket.lock.lock);
                    return status_of(MSG_NO_MEMORY);
                }
                b->next = *link;
                *link = b;
                existed = false;
            }
            if (b->lock.busy.load() && b->lock.owner.load() == me) {
                for_runtime_unlock(bucket.lock.lock);
                return status_of(MSG_RECURSIVE_IO);
            }
            bool locked = try_lock_header(b->lock);
            for_runtime_unlock(bucket.lock.lock);
            if (locked) {
                // A reserved block made here stays for a later statement.
                if (Status s = statement_gate(b->lock)) return s;
                break;
            }
            // Another statement holds the block: wait outside the bucket so
            // that it can unlink the block when it frees it.  The thread
            // ending the run may hold it to close it: then no wait.
            if (for_run_ending_elsewhere() && !for_in_host_query()) for_park_thread();
            if (attempt >= kLockAttempts || for_run_ending_elsewhere()) return status_of(MSG_LOCK_CONTENTION);
            if (attempt % 100 == 99) sched_yield();
        }
    }
    if (existed) {
        Status s = for_flush_pending(b, kind);
        if (s != 0) {
            *out = b;
            return s;
        }
    }
    *out = b;
    return 0;
}

Lub* for_lookup_connected_unit(std::int32_t unit) {
    if (unit < -4 || unit + 5 >= kDirectSlots || g_threading_level >= 1) return nullptr;
    if (!g_table_ready.load(std::memory_order_acquire) || for_run_ending_elsewhere()) return nullptr;
    UnitSlot& slot = g_slots[unit + 5];
    LockHeader& h = slot.lock;
    const long me = for_thread_id();
    if (h.mutex || (h.busy.load(std::memory_order_relaxed) && h.owner.load(std::memory_order_relaxed) == me) ||
        !take_free_lock(h, me))
        return nullptr;
    Lub* b = slot.head;
    if (for_run_ending_elsewhere() || !b || !b->connected || (b->device && b->device->record_pending)) {
        give_back_lock(h);
        return nullptr;
    }
    for_statement_lock_taken();
    return b;
}

bool for_units_held_by_running_threads() {
    const long me = for_thread_id();
    // An owner of -1 is a lock being taken or given back: running.
    auto running = [me](const LockHeader& h) {
        if (h.lock.load() == 0) return false;
        const long owner = h.owner.load();
        return owner != me && !for_thread_stopped(owner);
    };
    for (int i = 0; i < kDirectSlots; ++i)
        if (running(g_slots[i].lock)) return true;
    for (int i = kDirectSlots; i < kUnitSlots; ++i) {
        UnitSlot& bucket = g_slots[i];
        // A bucket held is a lookup under way: running.
        if (!for_try_lock(bucket.lock.lock)) return true;
        bool any = false;
        for (Lub* b = bucket.head; b && !any; b = b->next) any = running(b->lock);
        for_runtime_unlock(bucket.lock.lock);
        if (any) return true;
    }
    return false;
}

Status for_release_unit(Lub* b) {
    if (!b) return 0;
    if (b->unit == kInternalUnit || !b->connected) return for_release_and_free(b);
    b->error_branch = b->end_branch = b->eor_branch = false;
    if (is_direct(b->unit))
        unlock_header(g_slots[b->unit + 5].lock);
    else
        unlock_header(b->lock);
    return 0;
}

Status for_release_and_free(Lub* b) {
    if (!b) return 0;
    if (b->unit == kInternalUnit) {
        pop_internal(b);
        free_block(b);
        return 0;
    }
    if (is_direct(b->unit)) {
        UnitSlot& slot = g_slots[b->unit + 5];
        if (slot.head == b) slot.head = nullptr;
        free_block(b);
        unlock_header(slot.lock);
        return 0;
    }
    UnitSlot& bucket = g_slots[bucket_of(b->unit)];
    Status s = for_runtime_lock(bucket.lock.lock);
    if (s != 0) return s;
    for (Lub** link = &bucket.head; *link; link = &(*link)->next) {
        if (*link == b) {
            *link = b->next;
            break;
        }
    }
    for_runtime_unlock(bucket.lock.lock);
    // Unlinked: no statement can reach the block any more.
    unlock_header(b->lock);
    free_block(b);
    return 0;
}

Lub* for_peek_unit(std::int32_t unit) {
    if (!g_table_ready.load(std::memory_order_acquire) || unit < -4 || !is_direct(unit)) return nullptr;
    return g_slots[unit + 5].head;
}

Lub* for_next_unit(UnitCursor& cursor) {
    init_table();
    long me = for_thread_id();
    if (cursor.slot < 1) cursor.slot = 1;  // index 0 stays empty
    for (; cursor.slot < kUnitSlots; ++cursor.slot, cursor.last_unit = 0) {
        UnitSlot& slot = g_slots[cursor.slot];
        if (cursor.slot < kDirectSlots) {
            bool mine = slot.lock.busy.load() && slot.lock.owner.load() == me;
            if (!mine && lock_header(slot.lock) != 0) continue;
            if (!mine && statement_gate(slot.lock) != 0) return nullptr;
            if (slot.head) {
                cursor.held_by_caller = mine;
                ++cursor.slot;
                cursor.last_unit = 0;
                return slot.head;
            }
            if (!mine) unlock_header(slot.lock);
            continue;
        }
        for (int attempt = 0; attempt < kLockAttempts; ++attempt) {
            if (for_runtime_lock(slot.lock.lock) != 0) break;
            Lub* b = slot.head;
            while (b && b->unit <= cursor.last_unit) b = b->next;
            if (!b) {
                for_runtime_unlock(slot.lock.lock);
                break;
            }
            bool mine = b->lock.busy.load() && b->lock.owner.load() == me;
            bool locked = mine || try_lock_header(b->lock);
            for_runtime_unlock(slot.lock.lock);
            if (locked && !mine && statement_gate(b->lock) != 0) return nullptr;
            if (locked) {
                cursor.held_by_caller = mine;
                cursor.last_unit = b->unit;
                return b;
            }
            if (attempt % 100 == 99) sched_yield();
        }
    }
    return nullptr;
}

}  // namespace forrtl
