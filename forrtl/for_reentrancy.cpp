#include "for_reentrancy.h"

#include <sched.h>

namespace forrtl {

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

}  // namespace forrtl
