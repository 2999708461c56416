// Write-behind buffering of output records for units connected to regular
// disk files.  Records are gathered in a 64 KiB block per open file and
// written with one write(2) when the block is full and before anything
// else touches the file (reading, seeking, truncating, closing), before a
// diagnostic is shown, and at the end of the run.  Terminals, pipes,
// character devices, host windows and standard error are never buffered.
//
// The blocks live in a fixed table so that the processor-exception handler
// can write them out with async-signal-safe calls before the run ends.
#pragma once

#include <cstdint>

#include "for_status.h"

namespace forrtl {

struct Lub;

constexpr int kWriteBehindSize = 64 * 1024;  // bytes of one block
constexpr int kWriteBehindSlots = 32;        // open files buffered at one time

// Buffering is given to connections made while it is on (the default).
// Turning it off leaves buffered connections as they are.
void for_wbuf_set_enabled(bool on);
bool for_wbuf_enabled();

// At connection: gives the unit a block when its handle is a regular file
// it may write (standard output included unless it is the same file as
// standard error), sharing the block of another unit on the same
// descriptor.  A file connected a second time through another descriptor
// is written through unbuffered on both connections from then on.
void for_wbuf_attach(Lub* lub);

// Appends `count` bytes to the unit's block, writing the block out first
// when they do not fit; a record larger than the block goes straight to
// the file.  Returns `count`, or -1 with the errno in lub->system_error
// (also when an earlier write of the block failed out of the unit's own
// statements).
int for_wbuf_write(Lub* lub, const char* bytes, int count);

// True when the unit's output is held back in a block (not written through).
bool for_wbuf_buffered(const Lub* lub);

// Writes out the unit's block (0 when the unit has none).  38 with the
// system error kept on failure; the block is emptied either way.
Status for_wbuf_flush(Lub* lub);

// Writes out and gives up the unit's block (before its handle is closed).
Status for_wbuf_detach(Lub* lub);

// Writes out every block, for diagnostics and the end of the run.  A
// failure is kept and reported by the next write on that block's unit.
void for_wbuf_flush_all();

// The same with async-signal-safe calls only, for the exception handler:
// no locks, no allocation.
void for_wbuf_flush_in_signal();

}  // namespace forrtl
