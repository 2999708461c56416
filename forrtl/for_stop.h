// The STOP statement.
#pragma once

#include <cstdint>

namespace forrtl {

// Code kinds of for_stop.
enum : int { STOP_NO_CODE = 0, STOP_NUMERIC_CODE = 1 };

// STOP with an optional text (nullptr or length 0: none) and an optional
// numeric code (code_kind STOP_NUMERIC_CODE).  Never returns.
//
// Under compatibility numbering (flag bit 27) the line goes to unit 6:
// "Return code " and the code's digits for a numeric code, else the text or
// "Stop - Program terminated.".  Otherwise the text goes to unit 0 as it
// stands (a numeric code without text shows as its digits); a bare STOP
// writes nothing.  Then the exit handler runs, the host is told, and the
// process ends with the code (0 without one).
[[noreturn]] void for_stop(const char* text, int length, std::uint32_t flags, std::int32_t code,
                           int code_kind);

}  // namespace forrtl
