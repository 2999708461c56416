// Temporary stand-ins for pieces other branches provide (threading level,
// the stop line's record); removed when those are merged.
#pragma once

#include <atomic>
#include <cstdint>

#include "for_status.h"

namespace forrtl {
extern int g_threading_level;
}  // namespace forrtl

namespace forrtl {
// Writes one formatted record on unit 0 or 6 (stand-in for the unit layer).
Status for_tmp_write_record(int unit, const char* text, int length);
}  // namespace forrtl
