// Temporary stand-ins for pieces other branches provide (run-time lock,
// environment switch, threading level); removed when those are merged.
#pragma once

#include <atomic>
#include <cstdint>

#include "for_status.h"

namespace forrtl {
Status for_take_lock(std::atomic<std::int32_t>& word);
bool for_try_lock(std::atomic<std::int32_t>& word);
void for_release_lock(std::atomic<std::int32_t>& word);
bool for_env_switch(const char* name);
extern int g_threading_level;
}  // namespace forrtl

namespace forrtl {
// Writes one formatted record on unit 0 or 6 (stand-in for the unit layer).
Status for_tmp_write_record(int unit, const char* text, int length);
}  // namespace forrtl
