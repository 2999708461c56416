// Write-behind buffering of output records.  Records are gathered in a
// 1 MiB block per open file and written with one write(2) when the block
// is full and before anything else touches the file (reading, seeking,
// truncating, closing), before a diagnostic or anything else goes to
// standard error, before the program reads from the console or waits for
// input, before a child process is started, and at the end of the run.
// A background thread writes out every block whose oldest record is close
// to half a second old, so that a record stays in memory at most 0.5 s
// (kill -9 loses no more than the last half second of records).
//
// Units on regular disk files are buffered, and so is standard output when
// it is not a terminal (a pipe, /dev/null, a socket).  Terminals, other
// pipes and devices, host windows and standard error are written record by
// record.
//
// The blocks live in a fixed table so that the processor-exception handler
// and the handler of fatal signals can write them out with
// async-signal-safe calls before the process ends.
#pragma once

#include <cstdint>

#include "for_status.h"

namespace forrtl {

struct Lub;

constexpr int kWriteBehindSize = 1024 * 1024;  // bytes of one block
constexpr int kWriteBehindSlots = 32;        // open files buffered at one time

// How old the oldest record of a block may grow before the background
// thread writes the block out; with the thread's own lateness a record is
// handed to the system within half a second.
constexpr std::int64_t kWriteBehindAgeNs = 400 * 1000 * 1000;

// Buffering is given to connections made while it is on (the default).
// Turning it off leaves buffered connections as they are.
void for_wbuf_set_enabled(bool on);
bool for_wbuf_enabled();

// At connection: gives the unit a block when its handle is a regular file
// it may write, or standard output that is not a terminal, sharing the
// block of another unit on the same descriptor.  A file connected a second
// time through another descriptor is written through unbuffered on both
// connections from then on.
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

// Writes out every block: before diagnostics, console reads, waits and
// child processes, and at the end of the run.  A failure is kept and
// reported by the next write on that block's unit.
void for_wbuf_flush_all();

// The calling thread ends the run on an event while the program's own
// threads may be stuck in a write: its flushes wait a bounded time for a
// block another thread holds, and leave that block as it is.
void for_wbuf_bound_waits_of_this_thread();

// The same as for_wbuf_flush_all with async-signal-safe calls only, for
// the exception handler and the fatal-signal handler: no allocation, and
// a bounded wait for a block another thread is writing.  The process ends
// afterwards: the blocks are left locked so that no thread adds to them.
void for_wbuf_flush_in_signal();

}  // namespace forrtl
