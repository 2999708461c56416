// The run-time lock: a word taken by atomically exchanging 1 into it.  It
// guards the one-time initialisations, the FORT0 redirection of the
// diagnostics and the exit handler; unit slots use the same rule for their
// lock words.
#pragma once

#include <atomic>
#include <cstdint>

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

}  // namespace forrtl
